"""Python binding for tarnwick-kelvane: borders, rounded corners and drop shadows for image files.

Only the standard library is used (ctypes). Each function takes the input and output paths and
keyword arguments, writes the output file and returns None, or raises KelvaneError with the
library's message when the library refuses the job:

    import kelvane
    kelvane.solid("photo.jpg", "framed.png", border=10, color=(255, 255, 255))
    kelvane.shadow("logo.png", "logo-shadow.png", dx=8, dy=8, blur=12)

The output's format follows its name: a JPEG (quality 90) for .jpg and .jpeg, a 24-bit BMP for
.bmp (both flattened onto white), an RGBA PNG for any other name. The input may be any picture
stb_image reads (JPEG, PNG, BMP, GIF, PSD, PIC, PNM, TGA, HDR), at most 32768 pixels a side.

Errors:
    KelvaneError   the library refused the job (a file it cannot read or write, a negative
                   width, a canvas too large, ...); str(error) is its one-line message.
    TypeError      an argument that is not an integer (a float, say), or a colour that is not
                   three integers, checked before the library is called.
    ValueError     a path with a NUL byte, which the library would read as shorter.
    OverflowError  an integer outside the C int range, -2**31 to 2**31 - 1.
    OSError        from load(): the shared library could not be found or loaded.

The shared library is found, in order, at the `path` given to load(); at the environment
variable KELVANE_LIBRARY; where the build or the installation that holds this module put it
(recorded beside the module); in the lib folders of the prefixes above this module; through
the system's own search (ctypes.util.find_library, then the loader's paths). Calls are
serialised: the library keeps one message text for the whole process.
"""
import ctypes
import ctypes.util
import operator
import os
import sys
import threading

from ._version import __version__

__all__ = ["KelvaneError", "load", "solid", "padding", "sides", "rounded", "shadow", "run",
           "OPERATIONS", "__version__"]


class KelvaneError(Exception):
    """The library refused a job; str(error) is its message."""


if sys.platform == "win32":
    _FILE_NAMES = ("tarnwick-kelvane.dll",)
elif sys.platform == "darwin":
    _FILE_NAMES = ("libtarnwick-kelvane.1.dylib", "libtarnwick-kelvane.dylib")
else:
    _FILE_NAMES = ("libtarnwick-kelvane.so.1", "libtarnwick-kelvane.so")
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


def _recorded_folders():
    """The folders the build or the installation recorded beside this module, if any."""
    try:
        from . import _where
    except ImportError:
        return []
    here = os.path.dirname(os.path.abspath(__file__))
    return [os.path.normpath(os.path.join(here, folder)) for folder in _where.LIBRARY_DIRS]


def _prefix_folders():
    """lib, lib64 and lib/<multiarch> of each folder above this module: an installed prefix."""
    folder, found = os.path.dirname(os.path.abspath(__file__)), []
    multiarch = getattr(sys.implementation, "_multiarch", None)
    for _ in range(6):
        folder = os.path.dirname(folder)
        found += [os.path.join(folder, "lib"), os.path.join(folder, "lib64")]
        if multiarch:
            found.append(os.path.join(folder, "lib", multiarch))
    return found


def _candidates(path):
    if path:
        yield path
        return
    if os.environ.get("KELVANE_LIBRARY"):
        yield os.environ["KELVANE_LIBRARY"]
    for folder in _recorded_folders() + _prefix_folders():
        for name in _FILE_NAMES:
            if os.path.exists(os.path.join(folder, name)):
                yield os.path.join(folder, name)
    found = ctypes.util.find_library("tarnwick-kelvane")
    if found:
        yield found
    yield from _FILE_NAMES


def load(path=None):
    """Loads the shared library (see the module's text for where it is looked for) and returns
    it; raises OSError naming every place tried when none works."""
    global _library
    tried = []
    for candidate in _candidates(path):
        try:
            library = ctypes.CDLL(candidate)
            break
        except OSError as error:
            tried.append(f"{candidate} ({error})")
    else:
        raise OSError("cannot load the tarnwick-kelvane library " +
                      f"({_FILE_NAMES[0]}); tried: " + "; ".join(tried) +
                      ". Set KELVANE_LIBRARY to the library's path.")
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
    if sys.platform == "win32":
        encoded = os.fspath(path)
        encoded = encoded.encode("utf-8") if isinstance(encoded, str) else encoded
    else:
        encoded = os.fsencode(path)
    if b"\0" in encoded:
        raise ValueError(f"{what} {path!r} contains a NUL byte")
    return encoded


def _int(what, value):
    """The value as a C int: TypeError for what is not an integer (floats included),
    OverflowError outside -2**31 .. 2**31 - 1."""
    try:
        number = operator.index(value)
    except TypeError:
        raise TypeError(f"{what} must be an integer, not {type(value).__name__}") from None
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
    """Adds a band `border` (>= 0) pixels wide on every side, in the opaque colour (r, g, b)."""
    _call("kelvane_solid", in_path, out_path, [("border", border)], color)


def padding(in_path, out_path, *, padding, color=(255, 255, 255)):
    """The same picture as solid(); a negative width is reported as padding."""
    _call("kelvane_padding", in_path, out_path, [("padding", padding)], color)


def sides(in_path, out_path, *, top=0, right=0, bottom=0, left=0, color=(255, 255, 255)):
    """Adds a band of the opaque colour with its own width (>= 0) on each side; the canvas may
    be at most 65536 pixels each way."""
    _call("kelvane_sides", in_path, out_path,
          [("top", top), ("right", right), ("bottom", bottom), ("left", left)], color)


def rounded(in_path, out_path, *, radius):
    """Cuts the corners away along anti-aliased quarter circles of `radius` (>= 0) pixels,
    reduced to half the shorter side; outside the arcs the picture becomes transparent (white
    in JPEG and BMP output)."""
    _call("kelvane_rounded", in_path, out_path, [("radius", radius)])


def shadow(in_path, out_path, *, dx=0, dy=0, blur=0, color=(0, 0, 0)):
    """Puts the picture over its silhouette in `color`, shifted by (dx, dy) and blurred by
    `blur` (>= 0); the canvas grows by |dx| + 2 * blur and |dy| + 2 * blur, at most 32768
    pixels each way. Transparent pixels of the picture hide the shadow beneath them."""
    _call("kelvane_shadow", in_path, out_path, [("dx", dx), ("dy", dy), ("blur", blur)], color)


# The operations by name, with their numbers in the order the command line takes them.
OPERATIONS = {
    "solid": (4, lambda i, o, n: solid(i, o, border=n[0], color=n[1:4])),
    "padding": (4, lambda i, o, n: padding(i, o, padding=n[0], color=n[1:4])),
    "sides": (7, lambda i, o, n: sides(i, o, top=n[0], right=n[1], bottom=n[2], left=n[3],
                                       color=n[4:7])),
    "rounded": (1, lambda i, o, n: rounded(i, o, radius=n[0])),
    "shadow": (6, lambda i, o, n: shadow(i, o, dx=n[0], dy=n[1], blur=n[2], color=n[3:6])),
}


def run(operation, in_path, out_path, *numbers):
    """One job as the command line takes it: run("solid", "in.jpg", "out.png", 10, 255, 255,
    255). ValueError for an unknown operation or the wrong count of numbers."""
    if operation not in OPERATIONS:
        raise ValueError(f"unknown operation {operation!r} (one of {', '.join(OPERATIONS)})")
    count, function = OPERATIONS[operation]
    if len(numbers) != count:
        raise ValueError(f"{operation} takes {count} numbers, not {len(numbers)}")
    function(in_path, out_path, list(numbers))
