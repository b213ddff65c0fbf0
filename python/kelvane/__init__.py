"""Python binding for tarnwick-kelvane: borders, rounded corners and drop shadows for image files.

Only the standard library is used (ctypes). Each function takes the input and output paths and
keyword arguments, writes the output file, and raises KelvaneError with the library's message
when the library refuses the job:

    import kelvane
    kelvane.solid("photo.jpg", "framed.png", border=10, color=(255, 255, 255))
    kelvane.shadow("logo.png", "logo-shadow.png", dx=8, dy=8, blur=12)

The shared library is found through, in order: the `path` given to load(), the environment
variable KELVANE_LIBRARY, the system's library search (ctypes.util.find_library), and the
library's own file names in the folders the system loader searches. Calls are serialised: the
library keeps one message text for the whole process.
"""
import ctypes
import ctypes.util
import operator
import os
import sys
import threading

__all__ = ["KelvaneError", "load", "solid", "padding", "sides", "rounded", "shadow"]


class KelvaneError(Exception):
    """The library refused a job; str(error) is its message."""


_FILE_NAMES = ("tarnwick-kelvane.dll",) if sys.platform == "win32" else (
    "libtarnwick-kelvane.so.1", "libtarnwick-kelvane.dylib")
_SIGNATURES = {
    "kelvane_init": [],
    "kelvane_cleanup": [],
    "kelvane_last_error": [],
    "kelvane_solid": [ctypes.c_char_p] * 2 + [ctypes.c_int] * 4,
    "kelvane_padding": [ctypes.c_char_p] * 2 + [ctypes.c_int] * 4,
    "kelvane_sides": [ctypes.c_char_p] * 2 + [ctypes.c_int] * 7,
    "kelvane_rounded": [ctypes.c_char_p] * 2 + [ctypes.c_int],
    "kelvane_shadow": [ctypes.c_char_p] * 2 + [ctypes.c_int] * 6,
}
_lock = threading.Lock()
_library = None


def load(path=None):
    """Loads the shared library (see the module's text for where it is looked for)."""
    global _library
    candidates = [path, os.environ.get("KELVANE_LIBRARY"),
                  ctypes.util.find_library("tarnwick-kelvane"), *_FILE_NAMES]
    errors = []
    for candidate in filter(None, candidates):
        try:
            library = ctypes.CDLL(candidate)
            break
        except OSError as error:
            errors.append(f"{candidate}: {error}")
    else:
        raise KelvaneError("cannot load the tarnwick-kelvane library: " + "; ".join(errors))
    for name, argtypes in _SIGNATURES.items():
        function = getattr(library, name)
        function.argtypes = argtypes
        function.restype = {"kelvane_cleanup": None,
                            "kelvane_last_error": ctypes.c_char_p}.get(name, ctypes.c_int)
    _library = library
    return library


_INT_MIN, _INT_MAX = -2**31, 2**31 - 1


def _path(what, path):
    """The path as the bytes the library takes; ValueError for a NUL, which would cut it."""
    encoded = os.fsencode(path)
    if b"\0" in encoded:
        raise ValueError(f"{what} {path!r} contains a NUL byte")
    return encoded


def _int(what, value):
    """The value as a C int: TypeError for what is not an integer (floats included),
    OverflowError outside -2**31 .. 2**31 - 1."""
    number = operator.index(value)
    if not _INT_MIN <= number <= _INT_MAX:
        raise OverflowError(f"{what}={number} is outside the C int range "
                            f"{_INT_MIN}..{_INT_MAX}")
    return number


def _color(color):
    """The (r, g, b) triple as three C ints; only their low 8 bits count."""
    try:
        red, green, blue = color
    except (TypeError, ValueError):
        raise TypeError(f"color must be three integers (r, g, b), not {color!r}") from None
    return [_int(what, value) for what, value in zip(("red", "green", "blue"), (red, green, blue))]


def _call(name, in_path, out_path, numbers, color=()):
    arguments = [_path("in_path", in_path), _path("out_path", out_path)]
    arguments += [_int(what, value) for what, value in numbers] + (_color(color) if color else [])
    with _lock:
        library = _library or load()
        if getattr(library, name)(*arguments) != 1:
            raise KelvaneError(library.kelvane_last_error().decode("utf-8", "replace"))


def solid(in_path, out_path, *, border, color=(255, 255, 255)):
    """Adds a band `border` pixels wide on every side in the opaque colour (r, g, b)."""
    _call("kelvane_solid", in_path, out_path, [("border", border)], color)


def padding(in_path, out_path, *, padding, color=(255, 255, 255)):
    """The same picture as solid(), under the name padding."""
    _call("kelvane_padding", in_path, out_path, [("padding", padding)], color)


def sides(in_path, out_path, *, top=0, right=0, bottom=0, left=0, color=(255, 255, 255)):
    """Adds a band of the opaque colour with its own width on each side."""
    _call("kelvane_sides", in_path, out_path,
          [("top", top), ("right", right), ("bottom", bottom), ("left", left)], color)


def rounded(in_path, out_path, *, radius):
    """Cuts the corners away along anti-aliased quarter circles of `radius` pixels."""
    _call("kelvane_rounded", in_path, out_path, [("radius", radius)])


def shadow(in_path, out_path, *, dx=0, dy=0, blur=0, color=(0, 0, 0)):
    """Puts the picture over its silhouette in `color`, shifted by (dx, dy), blurred by `blur`."""
    _call("kelvane_shadow", in_path, out_path, [("dx", dx), ("dy", dy), ("blur", blur)], color)
