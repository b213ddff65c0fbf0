#!/usr/bin/env bash
# Whole jobs, file to file, timed side by side in one interleaved run:
#   library      the kelvane command-line host (default build: stb's bytes)
#   fast PNG     the same host built with -DKELVANE_FAST_PNG=ON (libdeflate)
#   stb floor    decode with stb + encode a canvas of the output's size with stb (bench/stb_floor.c,
#                stb compiled plainly at -O3: no flags of the library's)
#   ImageMagick  convert-im6.q16
#   libvips      its C API (bench/peer_vips.c)
#   Pillow       Debian's python3-pil (bench/peer_pillow.py)
# Prints a markdown table of medians (seconds), the ratios library/floor and library/libvips,
# and peak resident memory (MiB).
#
#   bench/jobs.sh [repetitions]      (default 5)
set -euo pipefail
cd "$(dirname "$0")/.."

reps=${1:-5}
scripts/setup-deps.sh bench >&2
build() {  # directory, cmake options...
    local dir=$1
    shift
    cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKELVANE_BUILD_TESTS=OFF "$@" >&2
    cmake --build "$dir" >&2
}
build build/bench -DKELVANE_BUILD_BENCH=ON
build build/bench-fastpng -DKELVANE_FAST_PNG=ON

work=build/bench-jobs
mkdir -p "$work"
[ -f "$work/photo.jpg" ] && [ -f "$work/noisy.jpg" ] && [ -f "$work/cutout.png" ] ||
    build/bench/bench/make_inputs "$work" >&2

lib=build/bench/examples/kelvane
fast=build/bench-fastpng/examples/kelvane
floor=build/bench/bench/stb_floor
vips=build/bench/bench/peer_vips
im=convert-im6.q16
pillow="/usr/bin/python3 bench/peer_pillow.py"
cutout=$work/cutout.png # 1920x1080, with transparency

# One command line per job and tool; "" where a tool has no way to do the job. The photo jobs
# run on the smooth photo (photo.jpg) and, named "-noisy", on the same with a camera's sensor
# noise (noisy.jpg), which gives the PNG compressor short matches and many candidates.
# job: name|description
jobs=(
    "border-png|border 10, smooth photo JPEG -> PNG (4000x3000)"
    "border-png-noisy|border 10, noisy photo JPEG -> PNG (4000x3000)"
    "border-jpg|border 10, smooth photo JPEG -> JPEG"
    "border-jpg-noisy|border 10, noisy photo JPEG -> JPEG"
    "border-bmp|border 10, smooth photo JPEG -> BMP"
    "rounded-png|rounded corners 40, PNG -> PNG (1920x1080, alpha)"
    "shadow-png|shadow 10,10 blur 20, PNG -> PNG (1920x1080, alpha)"
    "shadow-jpg|shadow 10,10 blur 20, smooth photo JPEG -> PNG (4000x3000)"
    "shadow-jpg-noisy|shadow 10,10 blur 20, noisy photo JPEG -> PNG (4000x3000)"
)
tools=(library "fast PNG" "stb floor" ImageMagick libvips Pillow)

command_for() {  # job, tool
    local o=$work/out photo=$work/photo.jpg
    case "$1" in *-noisy) photo=$work/noisy.jpg ;; esac
    # (the commands go through eval: \( reaches ImageMagick as a plain parenthesis)
    local im_round="\( +clone -alpha extract -draw 'fill black polygon 0,0 0,40 40,0 fill white circle 40,40 40,0' \( +clone -flip \) -compose Multiply -composite \( +clone -flop \) -compose Multiply -composite \) -alpha off -compose CopyOpacity -composite"
    local im_shadow="\( +clone -background black -shadow 100x14.14+10+10 \) +swap -background none -layers merge +repage"
    case "${1%-noisy}/$2" in
        border-png/library) echo "$lib solid $photo $o.png 10 255 255 255" ;;
        border-png/fast\ PNG) echo "$fast solid $photo $o.png 10 255 255 255" ;;
        border-png/stb\ floor) echo "$floor $photo $o.png 4020 3020 10 10" ;;
        border-png/ImageMagick) echo "$im $photo -bordercolor white -border 10 $o.png" ;;
        border-png/libvips) echo "$vips border $photo $o.png 10" ;;
        border-png/Pillow) echo "$pillow border $photo $o.png 10" ;;
        border-jpg/library) echo "$lib solid $photo $o.jpg 10 255 255 255" ;;
        border-jpg/stb\ floor) echo "$floor $photo $o.jpg 4020 3020 10 10" ;;
        border-jpg/ImageMagick) echo "$im $photo -bordercolor white -border 10 -quality 90 $o.jpg" ;;
        border-jpg/libvips) echo "$vips border $photo $o.jpg 10" ;;
        border-jpg/Pillow) echo "$pillow border $photo $o.jpg 10" ;;
        border-bmp/library) echo "$lib solid $photo $o.bmp 10 255 255 255" ;;
        border-bmp/stb\ floor) echo "$floor $photo $o.bmp 4020 3020 10 10" ;;
        border-bmp/ImageMagick) echo "$im $photo -bordercolor white -border 10 $o.bmp" ;;
        border-bmp/Pillow) echo "$pillow border $photo $o.bmp 10" ;;
        rounded-png/library) echo "$lib rounded $cutout $o.png 40" ;;
        rounded-png/fast\ PNG) echo "$fast rounded $cutout $o.png 40" ;;
        rounded-png/stb\ floor) echo "$floor $cutout $o.png" ;;
        rounded-png/ImageMagick) echo "$im $cutout $im_round $o.png" ;;
        rounded-png/libvips) echo "$vips rounded $cutout $o.png 40" ;;
        rounded-png/Pillow) echo "$pillow rounded $cutout $o.png 40" ;;
        shadow-png/library) echo "$lib shadow $cutout $o.png 10 10 20 0 0 0" ;;
        shadow-png/fast\ PNG) echo "$fast shadow $cutout $o.png 10 10 20 0 0 0" ;;
        shadow-png/stb\ floor) echo "$floor $cutout $o.png 1970 1130 20 20" ;;
        shadow-png/ImageMagick) echo "$im $cutout $im_shadow $o.png" ;;
        shadow-png/libvips) echo "$vips shadow $cutout $o.png 10 10 20" ;;
        shadow-png/Pillow) echo "$pillow shadow $cutout $o.png 10 10 20" ;;
        shadow-jpg/library) echo "$lib shadow $photo $o.png 10 10 20 0 0 0" ;;
        shadow-jpg/fast\ PNG) echo "$fast shadow $photo $o.png 10 10 20 0 0 0" ;;
        shadow-jpg/stb\ floor) echo "$floor $photo $o.png 4050 3050 20 20" ;;
        shadow-jpg/ImageMagick) echo "$im $photo $im_shadow $o.png" ;;
        shadow-jpg/libvips) echo "$vips shadow $photo $o.png 10 10 20" ;;
        shadow-jpg/Pillow) echo "$pillow shadow $photo $o.png 10 10 20" ;;
        *) echo "" ;;
    esac
}

results=$work/results.tsv
: >"$results"
for ((rep = 1; rep <= reps; ++rep)); do
    echo "== repetition $rep of $reps" >&2
    for job in "${jobs[@]}"; do
        name=${job%%|*}
        for tool in "${tools[@]}"; do
            cmd=$(command_for "$name" "$tool")
            [ -n "$cmd" ] || continue
            rm -f "$work"/out.*
            start=$(date +%s%N)
            if ! eval "/usr/bin/time -f %M -o $work/rss $cmd" >/dev/null 2>"$work/err"; then
                echo "$name / $tool failed: $(cat "$work/err")" >&2
                continue
            fi
            end=$(date +%s%N)
            printf '%s\t%s\t%s\t%s\n' "$name" "$tool" "$(((end - start) / 1000000))" \
                "$(tail -n 1 "$work/rss")" >>"$results"
        done
    done
done

machine="$(lscpu | sed -n 's/^Model name: *//p' | head -n 1), $(nproc) cores, $(awk '/MemTotal/ {printf "%.0f GiB", $2 / 1048576}' /proc/meminfo)"
python3 - "$results" "$machine" "$reps" "${jobs[@]}" <<'EOF'
import statistics, sys, datetime
path, machine, reps, jobs = sys.argv[1], sys.argv[2], sys.argv[3], sys.argv[4:]
runs = {}
for line in open(path):
    job, tool, ms, kb = line.rstrip("\n").split("\t")
    runs.setdefault((job, tool), []).append((int(ms) / 1000, int(kb) / 1024))
def median(job, tool, i):
    got = runs.get((job, tool))
    return statistics.median(r[i] for r in got) if got else None
fmt = lambda v, f="{:.2f}": "n/a" if v is None else f.format(v)
print(f"Whole jobs, medians of {reps} interleaved runs, {datetime.date.today()}, {machine}.\n")
tools = ("library", "stb floor", "ImageMagick", "libvips", "Pillow")
print("| job | library s | stb floor s | library / floor | ImageMagick s | libvips s | Pillow s "
      "| library / libvips | fast PNG s | peak MiB: library / floor / IM / vips / Pillow |")
print("|---|---|---|---|---|---|---|---|---|---|")
for job in jobs:
    name, desc = job.split("|", 1)
    t = {tool: median(name, tool, 0) for tool in tools + ("fast PNG",)}
    m = {tool: median(name, tool, 1) for tool in tools}
    ratio_floor = t["library"] / t["stb floor"] if t["library"] and t["stb floor"] else None
    ratio_vips = t["library"] / t["libvips"] if t["library"] and t["libvips"] else None
    mem = " / ".join(fmt(m[k], "{:.0f}") for k in tools)
    print(f"| {desc} | {fmt(t['library'])} | {fmt(t['stb floor'])} | {fmt(ratio_floor, '{:.3f}')} "
          f"| {fmt(t['ImageMagick'])} | {fmt(t['libvips'])} | {fmt(t['Pillow'])} "
          f"| {fmt(ratio_vips)} | {fmt(t['fast PNG'])} | {mem} |")
EOF
