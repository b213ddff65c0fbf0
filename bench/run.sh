#!/usr/bin/env bash
# The whole benchmark in one command: sets up what is missing (Google Benchmark, libdeflate,
# ImageMagick, libvips, Pillow), builds, then runs
#   1. the whole-job comparison (bench/jobs.sh): library, stb floor, ImageMagick, libvips, Pillow,
#      interleaved, the library both before and after libvips, a batch of 50 photos, and the
#      chart docs/performance-jobs.png;
#   2. the build steps alone (effects_bench), the plain reference blur beside the shadow, and
#      the PNG compressor beside stb's own built plainly;
#   3. what the decoder's guards cost stb alone (bench/stb_flags.sh);
#   4. hostile inputs: time and memory per input byte (bench/hostile_inputs.sh).
# Takes about fifteen minutes on two cores and 3 GiB; keep the machine otherwise idle.
#
#   bench/run.sh [repetitions]      (default 7, for the whole jobs)
set -euo pipefail
cd "$(dirname "$0")/.."

bench/jobs.sh "${1:-7}"
echo
echo "Build steps and the PNG compressor alone (no file I/O):"
build/bench/bench/effects_bench
echo
bench/stb_flags.sh
echo
bench/hostile_inputs.sh
