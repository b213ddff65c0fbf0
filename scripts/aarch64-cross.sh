#!/usr/bin/env bash
# Cross-builds the library, the command-line host and the test suites for 64-bit ARM Linux
# (Debian's g++-aarch64-linux-gnu; GoogleTest built from Debian's sources), runs the suites
# under qemu-aarch64, then compares every output file of the aarch64 corpus_test with the
# x86-64 build's, byte for byte.
# Usage: scripts/aarch64-cross.sh [native-build-dir]   (default build/release, built if absent)
set -euo pipefail
cd "$(dirname "$0")/.."

native=${1:-build/release}
scripts/setup-deps.sh aarch64
jobs=$(nproc 2>/dev/null || echo 2)

echo "== build: build/aarch64 (aarch64-linux-gnu, run under qemu-aarch64)"
cmake -S . -B build/aarch64 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake \
    -DCMAKE_BUILD_TYPE=Release -DKELVANE_BUILD_TESTS=ON -DKELVANE_WERROR=ON \
    -DKELVANE_GOOGLETEST_SOURCE=/usr/src/googletest | grep -E 'vector paths|left out' || true
cmake --build build/aarch64 -j "$jobs"
echo "== test: build/aarch64 under qemu-aarch64"
ctest --test-dir build/aarch64 -j "$jobs" --output-on-failure

scripts/compare-outputs.sh "$native" build/aarch64
