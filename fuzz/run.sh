#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, AddressSanitizer, UndefinedBehaviorSanitizer),
# writes the seed corpus and runs each target for the given number of seconds (default 600).
# Findings land in build/fuzz-findings/; each one fixed is kept in fuzz/corpus/<target>/.
#   fuzz/run.sh [seconds-per-target]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-600}

scripts/setup-deps.sh fuzz
echo "== build: build/fuzz (clang)"
CC=clang CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DKELVANE_BUILD_TESTS=OFF -DKELVANE_BUILD_EXAMPLES=OFF -DKELVANE_BUILD_TOOLS=OFF -DKELVANE_BUILD_FUZZERS=ON \
    -DKELVANE_SANITIZE=address,undefined,fuzzer-no-link >/dev/null
cmake --build build/fuzz
seeds=build/fuzz-seeds
[ -d "$seeds/fuzz_ops" ] || fuzz/make_corpus.sh "$seeds"
mkdir -p build/fuzz-findings
status=0
for target in fuzz_ops fuzz_names; do
    work=build/fuzz-work/$target
    mkdir -p "$work"
    echo "== fuzz: $target for ${seconds}s"
    log=build/fuzz-findings/$target.log
    if ! UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 build/fuzz/fuzz/$target "$work" \
        "$seeds/$target" fuzz/corpus/$target -max_total_time="$seconds" -rss_limit_mb=2048 \
        -timeout=20 -max_len=1048576 -print_final_stats=1 \
        -artifact_prefix=build/fuzz-findings/$target- >"$log" 2>&1; then
        status=1
        tail -n 40 "$log"
    fi
    grep -E '^(#[0-9]+ *DONE|stat::number_of_executed_units|stat::peak_rss_mb)' "$log" || true
done
exit $status
