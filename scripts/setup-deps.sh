#!/usr/bin/env bash
# Installs, through apt-get, whichever Debian packages a task needs and the machine lacks. Every
# package the project uses is named here, once, in a group; the build's own group is always in.
# Usage: scripts/setup-deps.sh [group|package ...]
#   groups: checks (the test suites and the format check), valgrind, windows, aarch64, fuzz,
#           wasm (Emscripten, Node and Chromium), bench (every benchmark and its peers)
set -euo pipefail

packages=(cmake g++ ninja-build pkg-config libstb-dev libgtest-dev)
for want in "$@"; do
    case $want in
        checks) packages+=(libdeflate-dev python3 python3-pil python3-distributed python3-pip
                           python3-setuptools python3-wheel clang
                           libclang-rt-14-dev clang-format-14 imagemagick-6.q16 acl mypy) ;;
        valgrind) packages+=(valgrind) ;;
        wasm) packages+=(emscripten node-acorn nodejs node-typescript chromium) ;;
        windows) packages+=(g++-mingw-w64-x86-64 wine64 googletest) ;;
        aarch64) packages+=(g++-aarch64-linux-gnu qemu-user googletest) ;;
        fuzz) packages+=(clang libclang-rt-14-dev imagemagick-6.q16) ;;
        bench) packages+=(libbenchmark-dev libdeflate-dev libvips-dev libvips-tools
                          imagemagick-6.q16 python3 python3-pil python3-matplotlib time
                          libjpeg-turbo-progs hyperfine valgrind) ;;
        *) packages+=("$want") ;;
    esac
done
missing=()
for pkg in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" ||
        missing+=("$pkg")
done

if [ ${#missing[@]} -eq 0 ]; then
    echo "== dependencies: all present ($*)"
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
