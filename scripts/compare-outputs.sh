#!/usr/bin/env bash
# Compares, byte for byte, the output files that two builds' corpus_test wrote (the corpus and
# the generated pictures through every operation, in PNG, JPEG and BMP): any file that differs,
# or that one build wrote and the other did not, fails.
# Usage: scripts/compare-outputs.sh REFERENCE-OUTPUTS OTHER-OUTPUTS
set -euo pipefail

reference=$1 other=$2
list() { (cd "$1" && find . -type f ! -name manifest.tsv | sort); }
for dir in "$reference" "$other"; do
    [ -s "$dir/manifest.tsv" ] || { echo "no outputs in $dir (run its corpus_test)" >&2; exit 1; }
done
if ! diff <(list "$reference") <(list "$other") >/dev/null; then
    echo "the builds wrote different sets of files:" >&2
    diff <(list "$reference") <(list "$other") | head -20 >&2
    exit 1
fi
different=0
while read -r name; do
    cmp -s "$reference/$name" "$other/$name" || { echo "differs: $name" >&2; different=$((different + 1)); }
done < <(list "$reference")
count=$(list "$reference" | wc -l)
if [ "$different" -ne 0 ]; then
    echo "== $different of $count files differ between $reference and $other" >&2
    exit 1
fi
echo "== $count files byte-identical: $reference and $other"
