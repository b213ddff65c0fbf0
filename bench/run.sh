#!/usr/bin/env bash
# The whole benchmark in one command: sets up what is missing (Google Benchmark, libdeflate,
# ImageMagick, libvips), builds, then runs
#   1. the whole-job comparison (bench/jobs.sh): library, stb floor, ImageMagick, libvips;
#   2. the build steps alone (effects_bench), the plain reference blur beside the shadow.
# Takes about ten minutes on two cores; keep the machine otherwise idle.
#
#   bench/run.sh [repetitions]      (default 5, for the whole jobs)
set -euo pipefail
cd "$(dirname "$0")/.."

bench/jobs.sh "${1:-5}"
echo
echo "Build steps alone (no file I/O):"
build/bench/bench/effects_bench
