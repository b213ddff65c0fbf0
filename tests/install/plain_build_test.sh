#!/bin/sh
# The README's plain build and install, on a machine without GoogleTest (CMake is told not to
# find it): configuring, building and installing must all succeed, and the tests stay off.
#   plain_build_test.sh <source dir> <scratch dir>
set -eu
source=$1 scratch=$2
rm -rf "$scratch"
export CMAKE_BUILD_PARALLEL_LEVEL=2
cmake -S "$source" -B "$scratch/build" -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON \
    -DCMAKE_INSTALL_PREFIX="$scratch/prefix" >"$scratch.log"
grep -q '^KELVANE_BUILD_TESTS:BOOL=OFF$' "$scratch/build/CMakeCache.txt"
cmake --build "$scratch/build" >>"$scratch.log"
cmake --install "$scratch/build" >>"$scratch.log"
test -f "$scratch/prefix/include/kelvane.h"
test -x "$scratch/prefix/bin/kelvane"
"$scratch/prefix/bin/kelvane" --version
rm -rf "$scratch" "$scratch.log"
