#!/usr/bin/env bash
# Sets up what is missing, then builds and runs the whole test suite three times: a Release build
# with warnings as errors, the same with the fast PNG compressor (-DKELVANE_FAST_PNG=ON), and a
# Debug build under AddressSanitizer and UndefinedBehaviorSanitizer (leaks and out-of-bounds
# accesses fail the run).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup-deps.sh libdeflate-dev
jobs=$(nproc 2>/dev/null || echo 2)

run_suite() {  # name, cmake arguments...
    local dir=build/$1
    shift
    echo "== build: $dir"
    cmake -S . -B "$dir" -G Ninja -DKELVANE_WERROR=ON "$@" >/dev/null
    cmake --build "$dir" -j "$jobs"
    echo "== test: $dir"
    ctest --test-dir "$dir" -j "$jobs" --output-on-failure
}

run_suite release -DCMAKE_BUILD_TYPE=Release
run_suite fastpng -DCMAKE_BUILD_TYPE=Release -DKELVANE_FAST_PNG=ON
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
    run_suite asan -DCMAKE_BUILD_TYPE=Debug -DKELVANE_SANITIZE=address,undefined \
    "-DCMAKE_CXX_FLAGS_DEBUG=-g -O1" "-DCMAKE_C_FLAGS_DEBUG=-g -O1"
echo "== all tests passed"
