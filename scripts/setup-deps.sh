#!/usr/bin/env bash
# Installs, through apt-get, whichever of the build's Debian packages are missing.
# Usage: scripts/setup-deps.sh [extra-package ...]
set -euo pipefail

packages=(cmake g++ ninja-build pkg-config libstb-dev libgtest-dev "$@")
missing=()
for pkg in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" ||
        missing+=("$pkg")
done

if [ ${#missing[@]} -eq 0 ]; then
    echo "== dependencies: all present (${packages[*]})"
    exit 0
fi

echo "== dependencies: installing ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then
    command -v sudo >/dev/null || { echo "need root (or sudo) to install ${missing[*]}" >&2; exit 1; }
    sudo=sudo
fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
echo "== dependencies: installed ${missing[*]}"
