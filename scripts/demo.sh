#!/usr/bin/env bash
# Sets up what is missing, builds the library (Release) and runs the demo host, which writes
# its pictures into demo-out/ (or the folder given as the first argument).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup-deps.sh
echo "== build: build/release"
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/release --target kelvane_demo kelvane_cli
echo "== demo"
build/release/examples/demo "${1:-demo-out}"
