#!/usr/bin/env bash
# Sets up what is missing, then builds and runs everything that checks the library:
#   1. the layout of every C and C++ source (scripts/format.sh --check, clang-format 14);
#   2. the test suite in a Release build with warnings as errors, including the tests that need
#      gigabytes (KELVANE_LARGE_TESTS=1: about 9 GiB and a minute);
#   3. the same suite built by clang (Release, warnings as errors);
#   4. the same suite with the fast PNG compressor (-DKELVANE_FAST_PNG=ON);
#   5. the suite in a Debug build under AddressSanitizer, LeakSanitizer and
#      UndefinedBehaviorSanitizer;
#   6. the Release suite again under valgrind's memcheck (scripts/valgrind.sh);
#   7. the Windows cross-build, its suites under Wine (names in several scripts included) and its
#      output files compared byte for byte with the Release build's (scripts/windows-cross.sh);
#   8. the aarch64 cross-build, its suites under qemu-aarch64 and its output files compared byte
#      for byte with the Release build's (scripts/aarch64-cross.sh);
#   9. each fuzz target for 30 seconds (fuzz/run.sh; clang, libFuzzer, ASan, UBSan).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup-deps.sh libdeflate-dev python3 python3-pil python3-distributed valgrind clang \
    libclang-rt-14-dev clang-format-14 imagemagick-6.q16 g++-mingw-w64-x86-64 acl
jobs=$(nproc 2>/dev/null || echo 2)

run_suite() {  # name, cmake arguments...
    local dir=build/$1
    shift
    echo "== build: $dir"
    cmake -S . -B "$dir" -G Ninja -DKELVANE_WERROR=ON -DKELVANE_BUILD_TESTS=ON "$@" >/dev/null
    cmake --build "$dir" -j "$jobs"
    echo "== test: $dir"
    ctest --test-dir "$dir" -j "$jobs" --output-on-failure
}

scripts/format.sh --check
KELVANE_LARGE_TESTS=1 run_suite release -DCMAKE_BUILD_TYPE=Release
run_suite clang -DCMAKE_BUILD_TYPE=Release -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
run_suite fastpng -DCMAKE_BUILD_TYPE=Release -DKELVANE_FAST_PNG=ON
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
    run_suite asan -DCMAKE_BUILD_TYPE=Debug -DKELVANE_SANITIZE=address,undefined \
    "-DCMAKE_CXX_FLAGS_DEBUG=-g -O1" "-DCMAKE_C_FLAGS_DEBUG=-g -O1"
scripts/valgrind.sh build/release
scripts/windows-cross.sh build/release
scripts/aarch64-cross.sh build/release
fuzz/run.sh 30
echo "== all tests passed"
