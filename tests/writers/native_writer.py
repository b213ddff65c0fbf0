"""Writes a picture as the native library does: solid IN OUT 3 10 20 30, COUNT times (0: until
killed), through the shared library that KELVANE_LIBRARY names. Prints the first failure's
message on standard error and exits 1, or exits 0 when every write succeeded.

    KELVANE_LIBRARY=<build>/libtarnwick-kelvane.so.1 python3 native_writer.py IN OUT COUNT
"""
import ctypes
import os
import sys

library = ctypes.CDLL(os.environ["KELVANE_LIBRARY"])
library.kelvane_last_error.restype = ctypes.c_char_p
source, target, count = os.fsencode(sys.argv[1]), os.fsencode(sys.argv[2]), int(sys.argv[3])
written = 0
while count == 0 or written < count:
    if library.kelvane_solid(source, target, 3, 10, 20, 30) != 1:
        print(library.kelvane_last_error().decode("utf-8", "replace"), file=sys.stderr)
        sys.exit(1)
    written += 1
