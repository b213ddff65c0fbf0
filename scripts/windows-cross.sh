#!/usr/bin/env bash
# Cross-builds the library and the C hosts for 64-bit Windows with MinGW-w64 and checks that
# tarnwick-kelvane.dll exports exactly the eight functions.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup-deps.sh g++-mingw-w64-x86-64
echo "== build: build/mingw (x86_64-w64-mingw32)"
cmake -S . -B build/mingw -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
    -DCMAKE_BUILD_TYPE=Release -DKELVANE_BUILD_TESTS=OFF -DKELVANE_WERROR=ON >/dev/null
cmake --build build/mingw

dll=build/mingw/tarnwick-kelvane.dll
exported=$(x86_64-w64-mingw32-objdump -p "$dll" |
    awk '/\[Ordinal\/Name Pointer\] Table/ { table = 1; next } table && /^\t\[/ { print $NF }
         table && !/^\t\[/ { table = 0 }' | sort)
expected=$(grep -E '^kelvane_[a-z_]+$' src/exports.txt | sort)
if [ "$exported" != "$expected" ]; then
    echo "$dll exports:"
    echo "$exported"
    echo "expected:"
    echo "$expected"
    exit 1
fi
echo "== $dll exports exactly: $(echo $exported)"
x86_64-w64-mingw32-objdump -p "$dll" | grep 'DLL Name' | sed 's/^\s*/== needs /'
