#!/usr/bin/env bash
# Writes the fuzzers' seed corpus: small pictures in every format the decoder reads (made here
# with ImageMagick), each behind operation headers for fuzz_ops, the public test corpus beside
# the checkout when present, and a few output names for fuzz_names.
#   fuzz/make_corpus.sh <folder>      (creates <folder>/fuzz_ops and <folder>/fuzz_names)
set -euo pipefail
out=$1
here=$(cd "$(dirname "$0")" && pwd)
testdata=${KELVANE_TESTDATA:-$here/../../shared/testdata}
mkdir -p "$out/fuzz_ops" "$out/fuzz_names"
pictures=$(mktemp -d)
trap 'rm -rf "$pictures"' EXIT

im=convert-im6.q16
$im -size 9x7 xc:none -fill 'rgba(220,40,30,0.6)' -draw 'circle 4,3 4,0' \
    -fill 'rgba(20,200,90,1)' -draw 'rectangle 0,5 8,6' "$pictures/base.png"
for format in png jpg bmp gif tga ppm pgm psd hdr; do
    $im "$pictures/base.png" "$pictures/small.$format"
done
$im "$pictures/base.png" -depth 16 "$pictures/sixteen.pgm"
$im "$pictures/base.png" -depth 16 "$pictures/sixteen.ppm"
$im "$pictures/base.png" -depth 16 "$pictures/sixteen.png"
$im "$pictures/base.png" -compress RLE "$pictures/rle.psd"
$im "$pictures/base.png" -interlace PNG "$pictures/interlaced.png"
$im "$pictures/base.png" -interlace JPEG "$pictures/progressive.jpg"
$im -size 3x2 xc:'rgba(0,0,0,0.5)' "$pictures/clear.psd"

# Headers: operation, output format, then 7 ints as (kind, value) pairs (kind % 8: 0-4 small
# signed byte, 5 a boundary value, 6 value * 64, 7 signed byte * 256).
headers=(
    '\x00\x00\x00\x03\x00\x0a\x00\x14\x00\x1e\x00\x00\x00\x00\x00\x00'  # solid 3, png
    '\x01\x01\x00\x02\x00\xff\x00\x00\x00\x80\x00\x00\x00\x00\x00\x00'  # padding 2, jpg
    '\x02\x02\x00\x01\x00\x02\x00\x03\x00\x04\x00\x05\x00\x06\x00\x07'  # sides 1 2 3 4, bmp
    '\x03\x00\x00\x04\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00'  # rounded 4, png
    '\x04\x00\x00\xfd\x00\x02\x00\x03\x00\x09\x00\x08\x00\x07\x00\x00'  # shadow -3 2 blur 3
    '\x04\x01\x05\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00'  # shadow dx INT_MIN
)
seed() {  # file, name
    local i=0
    for header in "${headers[@]}"; do
        { printf "$header"; cat "$1"; } >"$out/fuzz_ops/$2-$i"
        i=$((i + 1))
    done
}
for picture in "$pictures"/*; do seed "$picture" "$(basename "$picture")"; done
if [ -d "$testdata" ]; then
    n=0
    while IFS= read -r -d '' file; do
        n=$((n + 1))
        { printf "${headers[$((n % ${#headers[@]}))]}"; cat "$file"; } >"$out/fuzz_ops/testdata-$n"
    done < <(find "$testdata" -type f -not -name '*.md' -not -name '*.tsv' -not -name '*.c' \
        -not -name '*.sh' -not -iname '*license*' -print0)
fi

i=0
for name in out.png photo.JPG scan.bmp a.b.jpeg noext out. .jpg x.Jpeg.png 'pics.jpg/out' \
    "$(printf 'n%.0s' {1..300}).jpg"; do
    printf '%s' "$name" >"$out/fuzz_names/name-$i"
    i=$((i + 1))
done
echo "seed corpus: $(ls "$out/fuzz_ops" | wc -l) inputs for fuzz_ops, $i names for fuzz_names"
