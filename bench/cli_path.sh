# The command-line tool's path inside a build folder, for the benchmark scripts that run it
# (bench/jobs.sh, bench/batch.sh): the one line to change if the tool moves.
kelvane_cli_path=tools/kelvane/kelvane
