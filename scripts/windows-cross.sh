#!/usr/bin/env bash
# Cross-builds the library, the command-line host, the demo and the test suites for 64-bit
# Windows with MinGW-w64 (GoogleTest built from Debian's sources), runs the suites under Wine
# (the unit suites, the corpus through every operation, the C host, the export table, the
# programs with names in Latin, Greek, CJK and emoji characters), then compares every output
# file with the native build's, byte for byte.
# Usage: scripts/windows-cross.sh [native-build-dir]   (default build/release, built if absent)
set -euo pipefail
cd "$(dirname "$0")/.."

native=${1:-build/release}
scripts/setup-deps.sh windows
jobs=$(nproc 2>/dev/null || echo 2)

echo "== build: build/mingw (x86_64-w64-mingw32, run under Wine)"
cmake -S . -B build/mingw -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
    -DCMAKE_BUILD_TYPE=Release -DKELVANE_BUILD_TESTS=ON -DKELVANE_WERROR=ON \
    -DKELVANE_GOOGLETEST_SOURCE=/usr/src/googletest | grep -E 'vector paths|left out' || true
cmake --build build/mingw -j "$jobs"
x86_64-w64-mingw32-objdump -p build/mingw/tarnwick-kelvane.dll | grep 'DLL Name' |
    sed 's/^.*DLL Name: /== tarnwick-kelvane.dll needs /'

# A Wine prefix of the build's own, made once; names in UTF-8 on the Unix side.
export WINEPREFIX=$PWD/build/mingw/wine WINEDEBUG=-all LANG=C.UTF-8
[ -d "$WINEPREFIX" ] || /usr/lib/wine/wine64 wineboot --init >/dev/null 2>&1
echo "== test: build/mingw under Wine"
ctest --test-dir build/mingw -j "$jobs" --output-on-failure

scripts/compare-outputs.sh "$native" build/mingw
