#!/usr/bin/env bash
# What the decoder's two guards (-fwrapv, -ftrivial-auto-var-init=zero) and the two together
# cost stb, measured on stb alone: bench/stb_floor.c compiled four ways, each decoding the
# whole-job inputs into a BMP (decoding dominates) and re-encoding the PNG input (the encoder's
# share, which the library no longer guards). Instructions counted by callgrind (repeatable),
# then wall-clock times from hyperfine, side by side.
#
#   bench/stb_flags.sh [runs]      (default 10)
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-10}
scripts/setup-deps.sh bench >&2
work=build/stb-flags
mkdir -p "$work"
cc=${CC:-cc}
stb="-I/usr/include/stb"
$cc -O3 -w $stb bench/make_inputs.c -o "$work/make_inputs" -lm
[ -f "$work/photo.jpg" ] || "$work/make_inputs" "$work" >&2
declare -A variants=([plain]="" [wrapv]="-fwrapv" [zero]="-ftrivial-auto-var-init=zero"
                     [both]="-fwrapv -ftrivial-auto-var-init=zero")
for name in plain wrapv zero both; do
    # shellcheck disable=SC2086
    $cc -O3 -w $stb ${variants[$name]} bench/stb_floor.c -o "$work/floor-$name" -lm
done
echo "== instructions (millions): plain / -fwrapv / zeroed locals / both"
for job in "photo.jpg out.bmp" "cutout.png out.bmp" "cutout.png out.png"; do
    read -r input output <<<"$job"
    counts=()
    for name in plain wrapv zero both; do
        counts+=("$(valgrind --tool=callgrind --callgrind-out-file=/dev/null \
            "$work/floor-$name" "$work/$input" "$work/$output" 2>&1 |
            awk '/I *refs/ { gsub(",", "", $NF); printf "%.0f", $NF / 1e6 }')")
    done
    echo "$input -> ${output#out.}: ${counts[*]}"
done
for job in "photo.jpg out.bmp" "cutout.png out.bmp" "cutout.png out.png"; do
    read -r input output <<<"$job"
    commands=()
    for name in plain wrapv zero both; do
        commands+=(-n "$name" "$work/floor-$name $work/$input $work/$output")
    done
    echo "== $input -> ${output#out.}"
    hyperfine -N -w 1 -r "$runs" --style basic "${commands[@]}" 2>&1 | grep -E '^Benchmark|Time \(' || true
done
