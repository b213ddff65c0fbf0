#!/bin/sh
# The Python package as a user installs it, offline: a wheel built from ./python with the system's
# setuptools (CMake builds the library and its host layer into it), installed into a fresh virtual environment, then
# an operation on bytes from another folder with no variable set. The source tree gets no debris.
#   python_wheel_test.sh <source tree> <scratch folder> <python>
set -eu
source=$1 scratch=$2 python=$3
rm -rf "$scratch"
mkdir -p "$scratch"
"$python" -m pip wheel --no-build-isolation --no-deps --quiet -w "$scratch/dist" "$source/python"
# Tagged for what it holds: any Python 3 of this platform (ctypes loads the libraries).
case $(ls "$scratch"/dist) in
    *-py3-none-*.whl) ;;
    *) echo "the wheel is tagged $(ls "$scratch"/dist), not py3-none-<platform>" >&2; exit 1 ;;
esac
"$python" -m venv --without-pip "$scratch/venv"
"$python" -m pip --python "$scratch/venv/bin/python" install --quiet --no-index \
    "$scratch"/dist/*.whl
cd "$scratch"
env -u KELVANE_LIBRARY -u PYTHONPATH "$scratch/venv/bin/python" - <<'PY'
import os
import kelvane

png = kelvane.solid(b"P5 2 2 255\n\x00\x40\x80\xff", border=1)
assert png[:8] == b"\x89PNG\r\n\x1a\n", png[:8]
library = kelvane.load()._name
here = os.path.dirname(kelvane.__file__)
assert os.path.dirname(library) == here, library
for name in ("py.typed", "_operations.pyi", "libtarnwick-kelvane-host.so.1"):
    assert os.path.exists(os.path.join(here, name)), name
print("the wheel's library:", library, "with", sorted(kelvane.OPERATIONS))
PY
# The docs' install lines as written, in a fresh virtual environment that sees the system's
# setuptools, wheel and (for the extra) distributed.
"$python" -m venv --system-site-packages "$scratch/docs-venv"
(cd "$source" && "$scratch/docs-venv/bin/pip" install --quiet --no-build-isolation './python[distributed]')
env -u PYTHONPATH "$scratch/docs-venv/bin/python" -c "import kelvane.distributed, kelvane; kelvane.load()"
for debris in "$source/python/build" "$source/python/tarnwick_kelvane.egg-info"; do
    if [ -e "$debris" ]; then echo "the build left $debris" >&2; exit 1; fi
done
