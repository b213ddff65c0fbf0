#!/usr/bin/env bash
# The WebAssembly build, its npm package and the playground page: builds js/kelvane.mjs
# (scripts/wasm-build.sh), runs the package's tests against the native command-line program of a
# build folder (every operation over the generated pictures and the corpus, byte for byte, and
# the refusals' messages; files in Node; the pool of worker threads), the table of output-file
# cases against the native library and the package alike (tests/writers), the conformance table
# with the package, runs the playground in Debian's Chromium through playwright-core with
# axe-core (fetched from npm into build/playwright), then checks that a package without its
# module refuses to be packed, packs the package, installs the tarball into a scratch project,
# offline, runs it there and compiles its types with tsc --strict, with and without the DOM.
#   scripts/wasm-check.sh [native build folder]      (default build/release)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
native=$(cd "${1:-build/release}" && pwd)/tools/kelvane/kelvane
python=$(command -v /usr/bin/python3 || command -v python3)  # the system's, which other users may run
[ -x "$native" ] || { echo "no native kelvane at $native: build it first" >&2; exit 1; }
scripts/wasm-build.sh
KELVANE_CLI=$native node --test js/test/
# What writing the output promises, one table against both writers, as root and as a user of
# the tests' own (made here and removed again).
users=$PWD/tests/support/test_users.sh
sh "$users" add
trap 'sh "$users" remove' EXIT
KELVANE_LIBRARY=$(cd "${1:-build/release}" && pwd)/libtarnwick-kelvane.so.1 \
    "$python" tests/writers/writers_test.py
# The conformance table with the JavaScript package beside the tool and Python.
KELVANE_CLI=$native PYTHONPATH=$(cd "${1:-build/release}" && pwd)/python \
    "$python" tests/conformance/conformance_test.py

playwright=build/playwright
[ -d "$playwright/node_modules/playwright-core" ] && [ -d "$playwright/node_modules/axe-core" ] ||
    npm install --prefix "$playwright" --no-audit --no-fund --silent playwright-core@1.65.2 \
        axe-core@4.11.0
KELVANE_CLI=$native PLAYWRIGHT=$(cd "$playwright" && pwd) node --test web/test/

scratch=$(mktemp -d)
trap 'cd /; rm -rf "$scratch"; sh "$users" remove' EXIT
# A package packed before the module is built refuses to be packed, and says why.
mkdir "$scratch/unbuilt"
(cd js && tar --exclude kelvane.mjs --exclude node_modules -cf - .) | tar -xf - -C "$scratch/unbuilt"
if (cd "$scratch/unbuilt" && npm pack --silent --pack-destination "$scratch" 2>"$scratch/why"); then
    echo "npm pack packed a package without its module" >&2
    exit 1
fi
grep -q "run scripts/wasm-build.sh first" "$scratch/why"
echo "== npm: without the module, npm pack says: $(grep -o 'kelvane.mjs.*' "$scratch/why" | head -1)"
tarball=$(cd js && npm pack --silent --pack-destination "$scratch")
echo "== npm: $tarball, $(stat -c %s "$scratch/$tarball") bytes packed"
mkdir "$scratch/app"
cd "$scratch/app"
echo '{"name": "app", "private": true, "type": "module"}' >package.json
npm install --offline --no-audit --no-fund --silent "$scratch/$tarball"
printf 'P5 2 2 255\n\0\100\200\377' >in.pgm
node --input-type=module -e '
import { rounded, solid } from "tarnwick-kelvane";
import { readFileSync } from "node:fs";
await rounded("in.pgm", "out.png", { radius: 1 });
const bytes = await solid(readFileSync("in.pgm"), { border: 1, format: "bmp" });
if (readFileSync("out.png").subarray(1, 4).toString() !== "PNG" || bytes[0] !== 0x42) process.exit(1);
console.log("== npm: the installed package wrote out.png and a BMP in memory");
'
# The type declarations under tsc --strict (Debian's), without and with the DOM library, in a
# project that has no types of Node's either.
cp "$root/js/test/types/sample.ts" .
echo '{"compilerOptions": {"strict": true, "noEmit": true, "target": "es2022", "module": "nodenext",
  "moduleResolution": "nodenext", "types": []}, "files": ["sample.ts"]}' >tsconfig.json
for lib in es2022 es2022,dom; do
    tsc -p tsconfig.json --lib "$lib"
    echo "== npm: index.d.ts compiles under tsc --strict --lib $lib"
done
