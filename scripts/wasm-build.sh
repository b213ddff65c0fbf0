#!/usr/bin/env bash
# Builds the library and its host layer as WebAssembly with Debian's Emscripten and links them
# into the npm package's module, js/kelvane.mjs (then writes the package's operations.js and
# index.d.ts from the host layer's table): an ES module for Node, browsers and Web Workers, the .wasm embedded
# (Emscripten 3.1.6's loader cannot fetch a local file under Node 20), the heap growing up to
# 4 GiB, a 4 MiB stack. The sources are the library's own, with the JavaScript platform's file
# calls (src/*/*_js.cpp); SSE2 is x86's, so the portable loops are compiled (the same bytes).
#   scripts/wasm-build.sh [build folder]      (default build/wasm)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/wasm}
scripts/setup-deps.sh wasm
export NODE_PATH=/usr/share/nodejs  # node-acorn, which Emscripten's compiler needs
emcmake cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKELVANE_BUILD_TESTS=OFF \
    -DKELVANE_BUILD_EXAMPLES=OFF -DKELVANE_BUILD_TOOLS=OFF -DKELVANE_INSTALL=OFF \
    -DKELVANE_STB_INCLUDE_DIR=/usr/include/stb -DKELVANE_STB_WRITE_INCLUDE_DIR=/usr/include/stb \
    >/dev/null
cmake --build "$build"
exported=$(grep -h '^kelvane_' src/exports.txt host/exports.txt | sed 's/^/_/' | paste -sd, -)
# No file system of Emscripten's: the library's files are the package's (js/module/imports.js).
emcc -O3 "$build/libtarnwick-kelvane-host.a" "$build/libtarnwick-kelvane.a" -o js/kelvane.mjs \
    --js-library js/module/imports.js \
    -sMODULARIZE=1 -sEXPORT_ES6=1 -sEXPORT_NAME=createKelvane -sSINGLE_FILE=1 -sFILESYSTEM=0 \
    -sENVIRONMENT=web,worker -sALLOW_MEMORY_GROWTH=1 -sMAXIMUM_MEMORY=4GB -sTOTAL_STACK=4MB \
    -sEXPORTED_FUNCTIONS="$exported,_malloc,_free" -sEXPORTED_RUNTIME_METHODS=UTF8ToString
# The operations' functions and the type declarations, from the host layer's table.
node js/module/write-operations.mjs
echo "== wasm: js/kelvane.mjs, $(stat -c %s js/kelvane.mjs) bytes; js/operations.js, js/index.d.ts"
