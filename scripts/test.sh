#!/usr/bin/env bash
# Sets up what is missing, then builds and runs the checks, stage by stage:
#   format   the layout of every C and C++ source (scripts/format.sh --check, clang-format 14)
#   release  the test suite in a Release build with warnings as errors; in the full run with the
#            tests that need gigabytes (KELVANE_LARGE_TESTS=1: about 9 GiB and a minute)
#   clang    the same suite built by clang (Release, warnings as errors)
#   fastpng  the same suite with the fast PNG compressor (-DKELVANE_FAST_PNG=ON)
#   asan     the suite in a Debug build under AddressSanitizer, LeakSanitizer and
#            UndefinedBehaviorSanitizer
#   stb230   the Release suite built against stb_image 2.30 (../shared/stb-2.30, where present)
#            instead of Debian's 2.27, its expectations taken from stock stb 2.30
#   valgrind the Release suite again under valgrind's memcheck (scripts/valgrind.sh)
#   windows  the Windows cross-build, its suites under Wine and its output files compared byte
#            for byte with the Release build's (scripts/windows-cross.sh)
#   aarch64  the aarch64 cross-build, its suites under qemu-aarch64 and the same comparison
#            (scripts/aarch64-cross.sh)
#   wasm     the WebAssembly build (Emscripten) and its npm package: every operation over the
#            generated pictures and the corpus against the Release build's program, byte for
#            byte, then the packed package installed offline and run (scripts/wasm-check.sh)
#   fuzz     each fuzz target for 30 seconds (fuzz/run.sh; clang, libFuzzer, ASan, UBSan)
#
#   scripts/test.sh            every stage (what CI runs; about 30 minutes here)
#   scripts/test.sh quick      format, release (without the large tests) and asan: the edit loop
#   scripts/test.sh STAGE...   the stages named, in the order above
#
# A stage that fails does not stop the rest; the run ends with which stages passed, failed and
# did not run, and fails when any failed. valgrind, windows, aarch64 and wasm use the release
# build.
set -uo pipefail
cd "$(dirname "$0")/.."

all_stages=(format release clang fastpng asan stb230 valgrind windows aarch64 wasm fuzz)
large_tests=1
case "${1:-}" in
    "") wanted=("${all_stages[@]}") ;;
    quick) wanted=(format release asan) large_tests=0 ;;
    *) wanted=("$@") ;;
esac
for stage in "${wanted[@]}"; do
    [[ " ${all_stages[*]} " == *" $stage "* ]] ||
        { echo "unknown stage '$stage' (stages: ${all_stages[*]}; or quick)" >&2; exit 2; }
done

groups=(checks)
for stage in "${wanted[@]}"; do
    case $stage in valgrind | windows | aarch64 | wasm | fuzz) groups+=("$stage") ;; esac
done
scripts/setup-deps.sh "${groups[@]}" || exit 1
jobs=$(nproc 2>/dev/null || echo 2)

run_suite() {  # name, cmake arguments...
    local dir=build/$1
    shift
    echo "== build: $dir"
    cmake -S . -B "$dir" -G Ninja -DKELVANE_WERROR=ON -DKELVANE_BUILD_TESTS=ON "$@" >/dev/null &&
        cmake --build "$dir" -j "$jobs" &&
        { echo "== test: $dir"; ctest --test-dir "$dir" -j "$jobs" --output-on-failure; }
}

stage_format() { scripts/format.sh --check; }
stage_release() {
    KELVANE_LARGE_TESTS=$large_tests run_suite release -DCMAKE_BUILD_TYPE=Release
}
stage_clang() {
    run_suite clang -DCMAKE_BUILD_TYPE=Release -DCMAKE_C_COMPILER=clang \
        -DCMAKE_CXX_COMPILER=clang++
}
stage_fastpng() { run_suite fastpng -DCMAKE_BUILD_TYPE=Release -DKELVANE_FAST_PNG=ON; }
stage_asan() {
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
        UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
        run_suite asan -DCMAKE_BUILD_TYPE=Debug -DKELVANE_SANITIZE=address,undefined \
        "-DCMAKE_CXX_FLAGS_DEBUG=-g -O1" "-DCMAKE_C_FLAGS_DEBUG=-g -O1"
}
stage_stb230() {
    local stb=../shared/stb-2.30
    [ -f "$stb/stb_image.h" ] || { echo "== stb230: no $stb"; return 3; }
    stb=$(cd "$stb" && pwd)
    run_suite stb230 -DCMAKE_BUILD_TYPE=Release -DKELVANE_STB_INCLUDE_DIR="$stb" \
        -DKELVANE_STB_WRITE_INCLUDE_DIR="$stb"
}
stage_valgrind() { scripts/valgrind.sh build/release; }
stage_windows() { scripts/windows-cross.sh build/release; }
stage_aarch64() { scripts/aarch64-cross.sh build/release; }
stage_wasm() { scripts/wasm-check.sh build/release; }
stage_fuzz() { fuzz/run.sh 30; }

passed=() failed=() not_run=()
for stage in "${all_stages[@]}"; do
    [[ " ${wanted[*]} " == *" $stage "* ]] || { not_run+=("$stage"); continue; }
    "stage_$stage"
    case $? in
        0) passed+=("$stage") ;;
        3) not_run+=("$stage") ;;  # what it needs is not here
        *) echo "== stage $stage FAILED"; failed+=("$stage") ;;
    esac
done

echo "== stages passed: ${passed[*]:-none}"
echo "== stages failed: ${failed[*]:-none}"
echo "== stages not run: ${not_run[*]:-none}"
[ ${#failed[@]} -eq 0 ] && [ ${#passed[@]} -gt 0 ] || exit 1
echo "== all tests passed"
