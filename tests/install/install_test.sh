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
test -f "$prefix/include/kelvane.h" && test -f "$prefix/include/kelvane_host.h"
test -L "$libdir/libtarnwick-kelvane-host.so.1"

test -f "$prefix/share/tarnwick-kelvane/LICENSE"
test -f "$prefix/share/man/man1/kelvane.1" || test ! -x "$prefix/bin/kelvane"
grep -q '^License: MIT$' "$libdir/pkgconfig/tarnwick-kelvane.pc"

echo "== Python, from the installed prefix, with no variable to find the library"
pgm=$scratch/run/in.pgm
printf 'P5 2 2 255\n\001\002\003\004' >"$pgm"
env -u KELVANE_LIBRARY PYTHONPATH="$prefix/share/tarnwick-kelvane/python" python3 -c "
import kelvane, sys
kelvane.solid(sys.argv[1], sys.argv[2], border=1)
name = kelvane.load()._name
assert name.startswith(sys.argv[3]), name
print('loaded', name)" "$pgm" "$scratch/run/out.png" "$prefix"
if [ -x "$prefix/bin/kelvane" ]; then
    echo "== the installed tool, which finds the library and its host layer"
    env -u LD_LIBRARY_PATH "$prefix/bin/kelvane" rounded "$pgm" "$scratch/run/tool.png" 1
fi

echo "== pkg-config"
flags=$(PKG_CONFIG_PATH=$libdir/pkgconfig pkg-config --cflags --libs tarnwick-kelvane)
cc -o "$scratch/consumer-pc" "$here/consumer.c" $flags
LD_LIBRARY_PATH=$libdir "$scratch/consumer-pc" "$scratch/run"

echo "== find_package"
cmake -S "$here/find_package" -B "$scratch/consumer-build" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$scratch/consumer-build" >/dev/null
"$scratch/consumer-build/consumer" "$scratch/run"
