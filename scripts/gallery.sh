#!/usr/bin/env bash
# Regenerates the README's gallery in docs/: the demo's sample picture and what each operation
# makes of it, all as PNG (the BMP result, flattened onto white, is shown re-encoded as PNG).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup-deps.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/release --target kelvane_demo kelvane_cli
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
build/release/examples/demo "$work" >/dev/null
kelvane=build/release/tools/kelvane/kelvane
mkdir -p docs
# Re-encoding with a border of 0 writes each picture as it is, as a PNG.
$kelvane solid "$work/sample.tga" docs/sample.png 0 0 0 0
$kelvane solid "$work/logo.tga" docs/logo.png 0 0 0 0
for picture in solid padding sides rounded shadow shadow-left logo-shadow; do
    cp "$work/$picture.png" "docs/$picture.png"
done
$kelvane solid "$work/solid.bmp" docs/solid-bmp.png 0 0 0 0
ls -l docs
