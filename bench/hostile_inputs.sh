#!/usr/bin/env bash
# Time and peak memory of decoding hostile inputs: the small files that claim far more than they
# hold (each must be refused at once), and the largest files that pass every check (what remains
# as the worst cost per input byte). Each input is decoded by the command-line host and refused
# right after decoding (a per-side border beyond the canvas limit), so the numbers are the
# decoder's alone. Takes about two minutes and 3 GiB.
#
#   bench/hostile_inputs.sh [work folder]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup-deps.sh bench
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/release --target kelvane_cli >/dev/null
kelvane=$PWD/build/release/tools/kelvane/kelvane
work=${1:-$(mktemp -d)}
mkdir -p "$work"
python3 bench/hostile_inputs.py "$work"
# A baseline JPEG of one colour at the largest input size, through cjpeg's standard tables.
{ head -c 19 "$work/flat-baseline.pgm"; head -c $((32768 * 16383)) /dev/zero | tr '\0' '\140'; } |
    cjpeg -grayscale >"$work/flat-baseline.jpg"
rm "$work/flat-baseline.pgm"

printf '%-30s %10s %8s %9s %11s %11s  %s\n' input bytes seconds "peak MiB" "us/byte" \
    "bytes/byte" result
cd "$work"
for input in bomb-* flat* refinement-*; do
    size=$(stat -c %s "$input")
    output=$({ /usr/bin/time -f '%e %M' "$kelvane" sides "$input" out.png 0 0 0 70000 0 0 0; } \
        2>&1 || true)
    result=$(echo "$output" | head -1 | sed 's/^kelvane: //')
    read -r seconds kib <<<"$(echo "$output" | tail -1)"
    case $result in resulting*) result="decoded" ;; esac
    awk -v n="$input" -v b="$size" -v s="$seconds" -v k="$kib" -v r="$result" 'BEGIN {
        if (r == "decoded")
            printf "%-30s %10d %8.2f %9.0f %11.3f %11.1f  %s\n", n, b, s, k / 1024,
                   s * 1e6 / b, k * 1024 / b, r
        else
            printf "%-30s %10d %8.2f %9.0f %11s %11s  %s\n", n, b, s, k / 1024, "-", "-", r }'
done
