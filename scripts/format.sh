#!/usr/bin/env bash
# Lays out the C and C++ sources with the repository's .clang-format, or with --check reports
# every file that differs and fails. The formatter is pinned (clang-format 14, Debian 12's):
# other versions lay some lines out differently.
# Usage: scripts/format.sh [--check]
set -euo pipefail
cd "$(dirname "$0")/.."

formatter=clang-format-14
command -v "$formatter" >/dev/null || { echo "$formatter not found (scripts/setup-deps.sh clang-format-14)" >&2; exit 1; }
mapfile -t files < <(git ls-files --cached --others --exclude-standard -- 'src/*' 'include/*' 'host/*' 'tools/*' \
    'tests/*' 'fuzz/*' 'bench/*' 'examples/*' |
    grep -E '\.(c|h|cpp|hpp)$')

if [ "${1:-}" = --check ]; then
    echo "== format check: ${#files[@]} files"
    "$formatter" --dry-run -Werror "${files[@]}"
else
    "$formatter" -i "${files[@]}"
fi
