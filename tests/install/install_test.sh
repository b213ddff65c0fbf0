#!/bin/sh
# Installs the build into a scratch prefix and builds and runs the consumer against it twice:
# through pkg-config and through find_package.
#   install_test.sh <build dir> <this folder> <scratch dir>
set -eu
build=$1 here=$2 scratch=$3
rm -rf "$scratch"
mkdir -p "$scratch/run"
prefix=$scratch/prefix

cmake --install "$build" --prefix "$prefix" >/dev/null
libdir=$(dirname "$(find "$prefix" -name tarnwick-kelvane.pc)")/..
test -L "$libdir/libtarnwick-kelvane.so" && test -L "$libdir/libtarnwick-kelvane.so.1"
test -f "$prefix/include/kelvane.h"

echo "== pkg-config"
flags=$(PKG_CONFIG_PATH=$libdir/pkgconfig pkg-config --cflags --libs tarnwick-kelvane)
cc -o "$scratch/consumer-pc" "$here/consumer.c" $flags
LD_LIBRARY_PATH=$libdir "$scratch/consumer-pc" "$scratch/run"

echo "== find_package"
cmake -S "$here/find_package" -B "$scratch/consumer-build" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$scratch/consumer-build" >/dev/null
"$scratch/consumer-build/consumer" "$scratch/run"
