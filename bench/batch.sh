#!/usr/bin/env bash
# A folder of 50 photos (1600x1200 JPEG), each framed with a white border of 10 and written as
# JPEG, four ways, timed side by side (medians of 3 interleaved runs):
#   kelvane batch -j 2 (one list, two worker processes), a shell loop of kelvane commands,
#   a Pillow loop in one Python process, and ImageMagick's mogrify.
#
#   bench/batch.sh [runs]      (default 3)
set -euo pipefail
cd "$(dirname "$0")/.."
. bench/cli_path.sh
runs=${1:-3}
scripts/setup-deps.sh bench >&2
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/release --target kelvane_cli >/dev/null
kelvane=$PWD/build/release/$kelvane_cli_path
work=build/bench-batch
rm -rf "$work" && mkdir -p "$work/in"
cc -O2 -w -I/usr/include/stb bench/make_inputs.c -o "$work/make_inputs" -lm
"$work/make_inputs" "$work" >/dev/null
convert-im6.q16 "$work/photo.jpg" -resize 1600x1200 -quality 90 "$work/in/photo-00.jpg"
for i in $(seq -w 1 49); do cp "$work/in/photo-00.jpg" "$work/in/photo-$i.jpg"; done
for f in "$work"/in/*.jpg; do
    echo "solid $f $work/out-batch/$(basename "$f") 10 255 255 255"
done >"$work/list"

batch() { mkdir -p "$work/out-batch" && "$kelvane" batch -j 2 "$work/list" 2>/dev/null; }
loop() {
    mkdir -p "$work/out-loop"
    for f in "$work"/in/*.jpg; do
        "$kelvane" solid "$f" "$work/out-loop/$(basename "$f")" 10 255 255 255
    done
}
pillow() {
    mkdir -p "$work/out-pillow"
    /usr/bin/python3 - "$work" <<'PY'
import glob, os, sys
from PIL import Image, ImageOps
work = sys.argv[1]
for path in sorted(glob.glob(os.path.join(work, "in", "*.jpg"))):
    with Image.open(path) as picture:
        framed = ImageOps.expand(picture, border=10, fill=(255, 255, 255))
        framed.save(os.path.join(work, "out-pillow", os.path.basename(path)), quality=90)
PY
}
mogrify() {
    mkdir -p "$work/out-mogrify"
    mogrify-im6.q16 -path "$work/out-mogrify" -bordercolor white -border 10 -quality 90 \
        "$work"/in/*.jpg
}
declare -A times
for ((r = 1; r <= runs; ++r)); do
    for way in batch loop pillow mogrify; do
        rm -rf "$work/out-$way"
        start=$(date +%s%N)
        $way
        times[$way]+="$(( ($(date +%s%N) - start) / 1000000 )) "
    done
done
cmp -s "$work/out-batch/photo-07.jpg" "$work/out-loop/photo-07.jpg" ||
    { echo "batch and loop outputs differ" >&2; exit 1; }
echo "50 photos 1600x1200, JPEG -> JPEG, border 10; medians of $runs runs, $(date +%F):"
for way in batch loop pillow mogrify; do
    median=$(echo "${times[$way]}" | tr ' ' '\n' | grep . | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}')
    printf '  %-8s %6.2f s\n' "$way" "$(echo "$median / 1000" | bc -l)"
done
