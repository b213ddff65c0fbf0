#!/usr/bin/env bash
# Whole jobs, file to file, timed side by side in one interleaved run: each repetition runs
# every job with every tool, in this order:
#   library      the kelvane command-line host (default build: stb's bytes)
#   fast PNG     the same host built with -DKELVANE_FAST_PNG=ON (libdeflate)
#   stb floor    decode with stb + encode a canvas of the output's size with stb (bench/stb_floor.c,
#                stb compiled plainly at -O3: no flags of the library's)
#   ImageMagick  convert-im6.q16
#   libvips      its C API (bench/peer_vips.c); for the batch, Debian's vips tool
#   library after libvips   the library again, right after libvips: what a job pays for the
#                memory the one before it left (docs/performance.md)
#   Pillow       Debian's python3-pil (bench/peer_pillow.py)
# The batch row frames 50 noisy 1600x1200 photos as PNG: kelvane batch -j 2 against the vips
# tool over xargs -P 2 (one process a photo).
# Prints a markdown table of medians (seconds), the ratios library/floor and library/libvips in
# both places of the order, and peak resident memory (MiB); draws each job's time per tool into
# docs/performance-jobs.png.
#
#   bench/jobs.sh [repetitions [job...]]      (default 7, every job)
set -euo pipefail
cd "$(dirname "$0")/.."
. bench/cli_path.sh

reps=${1:-7}
shift $(($# > 0 ? 1 : 0))
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
# The batch: 50 copies of the noisy photo at 1600x1200 (JPEG, quality 90), and each tool's list.
batch=$work/batch
if [ ! -f "$batch/in/photo-49.jpg" ]; then
    mkdir -p "$batch/in"
    convert-im6.q16 "$work/noisy.jpg" -resize 1600x1200 -quality 90 "$batch/in/photo-00.jpg"
    for i in $(seq -w 1 49); do cp "$batch/in/photo-00.jpg" "$batch/in/photo-$i.jpg"; done
fi
for f in "$batch"/in/*.jpg; do
    echo "solid $f $work/out-batch/$(basename "$f" .jpg).png 10 255 255 255"
done >"$batch/list"
for f in "$batch"/in/*.jpg; do
    echo "$f $work/out-batch/$(basename "$f" .jpg).png"
done >"$batch/pairs"

lib=build/bench/$kelvane_cli_path
fast=build/bench-fastpng/$kelvane_cli_path
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
    "batch-png-noisy|batch of 50: border 10, noisy photo JPEG -> PNG (1600x1200), 2 processes"
)
if [ $# -gt 0 ]; then  # the jobs named on the command line alone
    wanted=" $* " picked=()
    for job in "${jobs[@]}"; do [[ $wanted == *" ${job%%|*} "* ]] && picked+=("$job"); done
    jobs=("${picked[@]}")
fi
tools=(library "fast PNG" "stb floor" ImageMagick libvips "library after libvips" Pillow)

command_for() {  # job, tool
    local o=$work/out photo=$work/photo.jpg
    case "$1" in *-noisy) photo=$work/noisy.jpg ;; esac
    # (the commands go through eval: \( reaches ImageMagick as a plain parenthesis)
    local im_round="\( +clone -alpha extract -draw 'fill black polygon 0,0 0,40 40,0 fill white circle 40,40 40,0' \( +clone -flip \) -compose Multiply -composite \( +clone -flop \) -compose Multiply -composite \) -alpha off -compose CopyOpacity -composite"
    local im_shadow="\( +clone -background black -shadow 100x14.14+10+10 \) +swap -background none -layers merge +repage"
    local vips_embed='vips embed "$0" "$1" 10 10 1620 1220 --extend background --background "255 255 255"'
    case "${1%-noisy}/${2% after libvips}" in
        batch-png/library) echo "$lib batch -j 2 $batch/list" ;;
        batch-png/libvips) echo "xargs -P 2 -n 2 sh -c '$vips_embed' <$batch/pairs" ;;
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
load_before=$(cut -d' ' -f1-3 /proc/loadavg)
for ((rep = 1; rep <= reps; ++rep)); do
    echo "== repetition $rep of $reps" >&2
    for job in "${jobs[@]}"; do
        name=${job%%|*}
        for tool in "${tools[@]}"; do
            cmd=$(command_for "$name" "$tool")
            [ -n "$cmd" ] || continue
            # (the second run of the library is there for its place after libvips)
            [ "$tool" != "library after libvips" ] || [ -n "$(command_for "$name" libvips)" ] ||
                continue
            rm -rf "$work"/out.* "$work"/out-batch && mkdir "$work"/out-batch
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
/usr/bin/python3 - "$results" "$machine" "$reps" "$load_before" "$(cut -d' ' -f1-3 /proc/loadavg)" \
    docs/performance-jobs.png "${jobs[@]}" <<'EOF'
import statistics, sys, datetime
path, machine, reps, load_before, load_after, chart, jobs = (*sys.argv[1:7], sys.argv[7:])
runs = {}
for line in open(path):
    job, tool, ms, kb = line.rstrip("\n").split("\t")
    runs.setdefault((job, tool), []).append((int(ms) / 1000, int(kb) / 1024))
def median(job, tool, i):
    got = runs.get((job, tool))
    return statistics.median(r[i] for r in got) if got else None
def ratio(a, b):
    return a / b if a and b else None
fmt = lambda v, f="{:.2f}": "n/a" if v is None else f.format(v)
print(f"Whole jobs, medians of {reps} interleaved runs, {datetime.date.today()}, {machine}; "
      f"load average {load_before} before the run, {load_after} after it.\n")
tools = ("library", "stb floor", "ImageMagick", "libvips", "Pillow")
after = "library after libvips"
print("| job | library s | library after libvips s | stb floor s | library / floor "
      "| ImageMagick s | libvips s | Pillow s | library / libvips: before, after it "
      "| fast PNG s | peak MiB: library / floor / IM / vips / Pillow |")
print("|---|---|---|---|---|---|---|---|---|---|---|")
for job in jobs:
    name, desc = job.split("|", 1)
    t = {tool: median(name, tool, 0) for tool in tools + ("fast PNG", after)}
    m = {tool: median(name, tool, 1) for tool in tools}
    mem = " / ".join(fmt(m[k], "{:.0f}") for k in tools)
    print(f"| {desc} | {fmt(t['library'])} | {fmt(t[after])} | {fmt(t['stb floor'])} "
          f"| {fmt(ratio(t['library'], t['stb floor']), '{:.3f}')} | {fmt(t['ImageMagick'])} "
          f"| {fmt(t['libvips'])} | {fmt(t['Pillow'])} "
          f"| {fmt(ratio(t['library'], t['libvips']))}, {fmt(ratio(t[after], t['libvips']))} "
          f"| {fmt(t['fast PNG'])} | {mem} |")

# The chart: per job, one bar per tool (median seconds, log scale: the jobs span two decades).
import matplotlib
import matplotlib.ticker
matplotlib.use("Agg")
import matplotlib.pyplot as plt
order = ("library", after, "fast PNG", "stb floor", "ImageMagick", "libvips", "Pillow")
names = [job.split("|", 1) for job in jobs]
fig, ax = plt.subplots(figsize=(12, 0.75 * len(names) + 1.5))
height = 0.8 / len(order)
for k, tool in enumerate(order):
    ys = [len(names) - 1 - j + 0.4 - (k + 0.5) * height for j in range(len(names))]
    xs = [median(name, tool, 0) or 0 for name, _ in names]
    ax.barh(ys, xs, height, label=tool)
ax.set_yticks(range(len(names)), [desc for _, desc in reversed(names)], fontsize=8)
ax.set_xscale("log")
ax.set_xlabel(f"seconds, median of {reps} interleaved runs (log scale; missing bar: the tool has no way to do the job)")
ax.set_title(f"Whole jobs per tool, {datetime.date.today()}, {machine}; load average "
             f"{load_before} before, {load_after} after", fontsize=9)
times = [v[0] for got in runs.values() for v in got if v[0] > 0]
if times:
    low, high = min(times) / 1.5, max(times) * 1.5
    ax.set_xlim(low, high)
    ax.set_xticks([t for t in (0.05, 0.1, 0.2, 0.5, 1, 2, 5, 10, 20, 50, 100) if low <= t <= high])
ax.xaxis.set_major_formatter(matplotlib.ticker.FormatStrFormatter("%g"))
ax.xaxis.set_minor_formatter(matplotlib.ticker.NullFormatter())
ax.legend(fontsize=8, loc="upper left", bbox_to_anchor=(1.01, 1))
ax.grid(axis="x", which="both", alpha=0.3)
fig.tight_layout()
fig.savefig(chart, dpi=110)
EOF
