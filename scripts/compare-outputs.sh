#!/usr/bin/env bash
# Compares, byte for byte, the output files that two builds' corpus_test wrote (the corpus and
# the generated pictures through every operation, in PNG, JPEG and BMP): any file that differs,
# or that one build wrote and the other did not, fails. The native build's corpus_test is built
# (when missing) and run first.
# Usage: scripts/compare-outputs.sh NATIVE-BUILD-DIR OTHER-BUILD-DIR
set -euo pipefail
cd "$(dirname "$0")/.."

native=$1 other=$2
if [ ! -x "$native/tests/corpus_test" ]; then
    cmake -S . -B "$native" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKELVANE_BUILD_TESTS=ON >/dev/null
    cmake --build "$native" --target corpus_test
fi
"$native/tests/corpus_test" >/dev/null

reference=$native/tests/corpus-out outputs=$other/tests/corpus-out
list() { (cd "$1" && find . -type f ! -name manifest.tsv | sort); }
for dir in "$reference" "$outputs"; do
    [ -s "$dir/manifest.tsv" ] || { echo "no outputs in $dir (run its corpus_test)" >&2; exit 1; }
done
if ! diff <(list "$reference") <(list "$outputs") >/dev/null; then
    echo "the builds wrote different sets of files:" >&2
    diff <(list "$reference") <(list "$outputs") | head -20 >&2
    exit 1
fi
different=0
while read -r name; do
    cmp -s "$reference/$name" "$outputs/$name" || {
        echo "differs: $name" >&2
        different=$((different + 1))
    }
done < <(list "$reference")
count=$(list "$reference" | wc -l)
if [ "$different" -ne 0 ]; then
    echo "== $different of $count files differ between $reference and $outputs" >&2
    exit 1
fi
echo "== $count files byte-identical: $reference and $outputs"
