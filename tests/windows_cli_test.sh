#!/usr/bin/env bash
# The Windows command-line host and demo run under Wine with names in Latin, Greek, CJK and emoji
# characters: for arguments, inputs, outputs, folders, batch lists and messages. The programs
# take their arguments from the UTF-16 command line, so a name reaches the library whatever the
# code page; each output holds the same bytes as the same job on ASCII names.
# Usage: windows_cli_test.sh WINE KELVANE.EXE DEMO.EXE SCRATCH-FOLDER   (under LANG=C.UTF-8)
set -euo pipefail

wine=$1 cli=$(realpath "$2") demo=$(realpath "$3") scratch=$4
rm -rf "$scratch"
mkdir -p "$scratch"
cd "$scratch"
fail() { echo "FAILED: $*" >&2; exit 1; }
kelvane() { "$wine" "$cli" "$@"; }

names=("Ünïcödé café" "φωτογραφία" "写真" "🖼️📷")

# The demo into a folder of each script; its sample picture is the input below.
for name in "${names[@]}"; do
    "$wine" "$demo" "démo $name" >/dev/null || fail "demo into 'démo $name'"
    [ -f "démo $name/shadow.png" ] || fail "no 'démo $name/shadow.png'"
    cmp -s "démo $name/shadow.png" "démo ${names[0]}/shadow.png" || fail "demo outputs differ"
done
cp "démo ${names[0]}/sample.tga" ascii.tga
kelvane shadow ascii.tga ascii.png 6 4 5 10 20 30 || fail "ASCII job"

for name in "${names[@]}"; do
    cp ascii.tga "$name.tga"
    kelvane shadow "$name.tga" "$name out.png" 6 4 5 10 20 30 || fail "job on '$name'"
    cmp -s "$name out.png" ascii.png || fail "'$name out.png' differs from ascii.png"
    # Messages carry the names as given, in UTF-8.
    if kelvane solid "$name missing.png" x.png 1 0 0 0 2>message.txt; then fail "missing input"; fi
    grep -qF "kelvane: cannot decode '$name missing.png': can't fopen" message.txt ||
        fail "message for '$name': $(cat message.txt)"
    # Standard input and output.
    kelvane --format png shadow - - 6 4 5 10 20 30 <"$name.tga" >"$name stdout.png" ||
        fail "standard streams for '$name'"
    cmp -s "$name stdout.png" ascii.png || fail "'$name stdout.png' differs"
done

# A batch whose list and jobs have such names.
list="${names[2]} list.txt"
for name in "${names[@]}"; do
    printf 'rounded "%s.tga" "%s batch.png" 12\n' "$name" "$name"
done >"$list"
kelvane batch "$list" 2>batch.txt || fail "batch: $(cat batch.txt)"
for name in "${names[@]}"; do
    cmp -s "$name batch.png" "${names[0]} batch.png" || fail "'$name batch.png'"
done
leftovers=$(find . -name '.kelvane-*' | wc -l)
[ "$leftovers" -eq 0 ] || fail "$leftovers temporary files left"
echo "the command-line host and the demo read and wrote names in ${#names[@]} scripts"
