"""Borders, rounded corners and drop shadows for pictures: the Python binding of tarnwick-kelvane.

Each operation takes a picture and keyword arguments, and writes the result:

    import kelvane
    kelvane.solid("photo.jpg", "framed.png", border=10, color=(255, 255, 255))
    png = kelvane.shadow(open("logo.png", "rb"), dx=8, dy=8, blur=12)    # bytes of a PNG
    jpeg = kelvane.rounded(data, radius=20, format="jpg")                # bytes in, bytes out
    image = kelvane.solid(pillow_image, border=4)                        # a Pillow Image back

The picture (`in_path`) may be a path, bytes (bytes, bytearray, memoryview), a binary file
object, or a Pillow Image; any format stb_image reads (JPEG, PNG, BMP, GIF, PSD, PIC, PNM, TGA,
HDR), at most 32768 pixels a side. The result (`out_path`) goes to a path, whose name sets the
format (JPEG quality 90 for .jpg and .jpeg, 24-bit BMP for .bmp, both flattened onto white; RGBA
PNG for any other name, with a warning unless it ends in .png), or to a binary file object in
`format`; with no `out_path` the function returns it: bytes in `format` ("png", "jpg", "jpeg" or
"bmp"; PNG by default), or a Pillow Image when the picture was one. Pictures in memory reach the
library as files no other process can open: an anonymous memory file on Linux, a private
temporary folder elsewhere. Pillow is needed only to pass or get Pillow Images.

Errors (all KelvaneError, with the library's one-line message, then the likely cause when the
binding can tell it):
    KelvaneFileError      also an OSError: a file could not be read or decoded, or written;
                          `errno` and `filename` name the cause when it is known.
    KelvaneArgumentError  also a ValueError: an argument the library refuses (a negative width,
                          a canvas too large).
Before the library is called: TypeError for an argument of the wrong type (a float, a bool, a
colour that is not three ints), OverflowError for an int outside -2**31 .. 2**31 - 1, ValueError
for a path with a NUL byte or a format the library does not write. OSError from load() when the
shared library cannot be found.

Warnings (KelvaneWarning, through the warnings module): an output name without a format's
extension, and a JPEG stored rotated (an EXIF orientation other than 1), whose pixels the
library keeps as stored.

The shared library is found, in order, at the `path` given to load(); at the environment
variable KELVANE_LIBRARY; inside this package (where pip install puts it); where the build or
the installation that holds this module put it; in the lib folders of the prefixes above this
module; through the system's search. Calls are serialised: the library keeps one message text
for the whole process.
"""
from __future__ import annotations

import ctypes
import ctypes.util
import functools
import io
import operator
import os
import sys
import tempfile
import threading
import warnings
from typing import IO, Any, Callable, Dict, List, Optional, Sequence, Tuple, Union

from ._jobs import OPERATIONS as _GRAMMAR
from ._jobs import Job, JobListError, count_of, parse_jobs
from ._notices import Hint, extension_warning, hint, orientation_warning
from ._version import __version__

__all__ = ["KelvaneError", "KelvaneFileError", "KelvaneArgumentError", "KelvaneWarning",
           "JobListError", "Job", "Hint", "load", "solid", "padding", "sides", "rounded",
           "shadow", "run", "run_job", "Result", "parse_jobs", "hint", "OPERATIONS",
           "__version__"]

Color = Tuple[int, int, int]
PathLike = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]
# A path, the bytes of a picture file, a binary file object or a Pillow Image.
Source = Union[str, "os.PathLike[str]", bytes, bytearray, memoryview, IO[bytes], Any]
Target = Union[str, "os.PathLike[str]", IO[bytes], None]


class KelvaneError(Exception):
    """The library refused a job. str(error) is its message, then the likely cause when the
    binding can tell it; `message` is the library's text alone, `hint` the cause or None."""

    def __init__(self, message: str, found: Optional[Hint] = None):
        super().__init__(message if found is None else f"{message}; {found.text}")
        self.message = message
        self.hint = None if found is None else found.text


class KelvaneFileError(KelvaneError, OSError):
    """A file could not be read, decoded or written; also an OSError, with `errno` and `filename`
    when the cause is known."""

    def __init__(self, message: str, found: Optional[Hint] = None):
        KelvaneError.__init__(self, message, found)
        self.errno = None if found is None else found.errno
        self.filename = None if found is None else found.filename

    def __str__(self) -> str:  # OSError's own would add the errno
        return KelvaneError.__str__(self)


class KelvaneArgumentError(KelvaneError, ValueError):
    """An argument the library refuses: a negative width, a canvas too large."""


class KelvaneWarning(UserWarning):
    """A job that will not do what its names suggest: PNG data under another extension, a photo
    stored rotated."""


def _error_for(message: str, in_path: Optional[str], out_path: Optional[str]) -> KelvaneError:
    """The exception for the library's message: its kind, and the hint the paths give."""
    if message.startswith(("cannot decode", "failed to write", "image too large")):
        return KelvaneFileError(message, hint(message, in_path, out_path))
    if message.startswith("out of memory") or message.startswith("NULL"):
        return KelvaneError(message)
    return KelvaneArgumentError(message)


# ---- the shared library ------------------------------------------------------------------------

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
_library: Optional[ctypes.CDLL] = None
_HERE = os.path.dirname(os.path.abspath(__file__))


def _recorded_folders() -> List[str]:
    """The folders the build or the installation recorded beside this module, if any."""
    try:
        from . import _where  # type: ignore[attr-defined]
    except ImportError:
        return []
    return [os.path.normpath(os.path.join(_HERE, folder)) for folder in _where.LIBRARY_DIRS]


def _prefix_folders() -> List[str]:
    """lib, lib64 and lib/<multiarch> of each folder above this module: an installed prefix."""
    folder, found = _HERE, []
    multiarch = getattr(sys.implementation, "_multiarch", None)
    for _ in range(6):
        folder = os.path.dirname(folder)
        found += [os.path.join(folder, "lib"), os.path.join(folder, "lib64")]
        if multiarch:
            found.append(os.path.join(folder, "lib", multiarch))
    return found


def _candidates(path: Optional[str]):
    if path:
        yield path
        return
    if os.environ.get("KELVANE_LIBRARY"):
        yield os.environ["KELVANE_LIBRARY"]
    for folder in [_HERE] + _recorded_folders() + _prefix_folders():
        for name in _FILE_NAMES:
            if os.path.exists(os.path.join(folder, name)):
                yield os.path.join(folder, name)
    found = ctypes.util.find_library("tarnwick-kelvane")
    if found:
        yield found
    yield from _FILE_NAMES


def load(path: Optional[str] = None) -> ctypes.CDLL:
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


# ---- arguments ---------------------------------------------------------------------------------

_INT_MIN, _INT_MAX = -2**31, 2**31 - 1
_WRITTEN_FORMATS = ("png", "jpg", "jpeg", "bmp")


def _path(what: str, path: Any) -> bytes:
    """The path as the bytes the library takes; ValueError for a NUL, which would cut it."""
    if sys.platform == "win32":
        encoded = os.fspath(path)
        encoded = encoded.encode("utf-8") if isinstance(encoded, str) else encoded
    else:
        encoded = os.fsencode(path)
    if b"\0" in encoded:
        raise ValueError(f"{what} {path!r} contains a NUL byte")
    return encoded


def _int(what: str, value: Any) -> int:
    """The value as a C int: TypeError for what is not an integer (floats and bools included),
    OverflowError outside -2**31 .. 2**31 - 1."""
    if isinstance(value, bool):
        raise TypeError(f"{what} must be an integer, not bool")
    try:
        number = operator.index(value)
    except TypeError:
        raise TypeError(f"{what} must be an integer, not {type(value).__name__}") from None
    if not _INT_MIN <= number <= _INT_MAX:
        raise OverflowError(f"{what}={number} is outside the C int range "
                            f"{_INT_MIN}..{_INT_MAX}")
    return number


def _color(color: Any) -> List[int]:
    """The (r, g, b) triple as three C ints; only their low 8 bits count."""
    if isinstance(color, (str, bytes, dict, set)) or not hasattr(color, "__len__") or \
            len(color) != 3:
        raise TypeError(f"color must be three integers (r, g, b), not {color!r}")
    return [_int(what, value) for what, value in zip(("red", "green", "blue"), color)]


# ---- pictures in memory --------------------------------------------------------------------------

def _is_pillow_image(value: Any) -> bool:
    module = sys.modules.get("PIL.Image")
    return module is not None and isinstance(value, module.Image)


def _is_path(value: Any) -> bool:
    return isinstance(value, (str, os.PathLike))


def _bytes_of(source: Any) -> bytes:
    """The picture file's bytes from bytes, a binary file object or a Pillow Image (as PNG)."""
    if isinstance(source, (bytes, bytearray, memoryview)):
        return bytes(source)
    if _is_pillow_image(source):
        image = source if source.mode in ("1", "L", "LA", "RGB", "RGBA", "P", "I;16") \
            else source.convert("RGBA")
        buffer = io.BytesIO()
        image.save(buffer, format="PNG", compress_level=1)
        return buffer.getvalue()
    if hasattr(source, "read"):
        data = source.read()
        if not isinstance(data, (bytes, bytearray)):
            raise TypeError("a file object given as the picture must be opened in binary mode")
        return bytes(data)
    raise TypeError("the picture must be a path, bytes, a binary file object or a Pillow Image, "
                    f"not {type(source).__name__}")


class _Scratch:
    """The private files a job in memory goes through, removed when it ends."""

    def __init__(self) -> None:
        self._folder: Optional[tempfile.TemporaryDirectory] = None
        self._fds: List[int] = []

    def folder(self) -> str:
        if self._folder is None:
            self._folder = tempfile.TemporaryDirectory(prefix="kelvane-")
        return self._folder.name

    def input_file(self, data: bytes) -> str:
        """A path that reads as `data`: an anonymous memory file where the system has them."""
        if hasattr(os, "memfd_create") and os.path.isdir("/proc/self/fd"):
            fd = os.memfd_create("kelvane-input", os.MFD_CLOEXEC)
            self._fds.append(fd)
            with os.fdopen(os.dup(fd), "wb") as file:
                file.write(data)
            return f"/proc/self/fd/{fd}"
        path = os.path.join(self.folder(), "input")
        with open(path, "wb") as file:
            file.write(data)
        return path

    def close(self) -> None:
        for fd in self._fds:
            os.close(fd)
        if self._folder is not None:
            self._folder.cleanup()


def _warn(text: Optional[str]) -> None:
    if text:
        warnings.warn(text, KelvaneWarning, stacklevel=4)


def _check_orientation(name: str, source: Union[str, bytes]) -> Optional[str]:
    if isinstance(source, bytes):
        return orientation_warning(name, io.BytesIO(source))
    if not os.path.isfile(source):
        return None  # a pipe's bytes are the job's alone
    try:
        with open(source, "rb") as stream:
            return orientation_warning(name, stream)
    except OSError:
        return None  # the library says why it cannot read it


def _format_of(format: Optional[str]) -> str:
    chosen = "png" if format is None else str(format).lower()
    if chosen not in _WRITTEN_FORMATS:
        raise ValueError(f"format must be one of {', '.join(_WRITTEN_FORMATS)}, not {format!r}")
    return chosen


def _job(name: str, in_path: Source, out_path: Target, numbers: Sequence[Tuple[str, Any]],
         color: Any, format: Optional[str]) -> Any:
    """Checks the arguments, runs the operation on files (its own private ones for pictures in
    memory) and hands the result over as `out_path` asks."""
    arguments = [_int(what, value) for what, value in numbers]
    if color is not None:
        arguments += _color(color)
    to_memory = out_path is None or hasattr(out_path, "write")
    if not to_memory and format is not None:
        raise ValueError("format is for output in memory: a file's format follows its name")
    if not to_memory and not _is_path(out_path):
        raise TypeError("out_path must be a path, a binary file object or None, not "
                        f"{type(out_path).__name__}")
    chosen = _format_of(format) if to_memory else None
    scratch = _Scratch()
    try:
        if _is_path(in_path):
            source: Union[str, bytes] = os.fspath(in_path)
            in_file, in_name = _path("in_path", source), source
        else:
            source = _bytes_of(in_path)
            in_file, in_name = os.fsencode(scratch.input_file(source)), None
        out_name = os.fspath(out_path) if not to_memory else None
        out_file = _path("out_path", out_name) if out_name is not None else \
            os.fsencode(os.path.join(scratch.folder(), "output." + chosen))
        if out_name is not None:
            _warn(extension_warning(out_name))
        _warn(_check_orientation(in_name or "the picture", source))
        with _lock:
            library = _library or load()
            if getattr(library, "kelvane_" + name)(in_file, out_file, *arguments) != 1:
                message = library.kelvane_last_error().decode("utf-8", "replace")
                raise _error_for(message, in_name, out_name)
        if not to_memory:
            return None
        with open(out_file, "rb") as file:
            result = file.read()
    finally:
        scratch.close()
    if out_path is not None:
        out_path.write(result)
        return None
    if _is_pillow_image(in_path):
        from PIL import Image
        image = Image.open(io.BytesIO(result))
        image.load()
        return image
    return result


# ---- the operations --------------------------------------------------------------------------

def solid(in_path: Source, out_path: Target = None, *, border: int,
          color: Color = (255, 255, 255), format: Optional[str] = None) -> Any:
    """Adds a band `border` (>= 0) pixels wide on every side, in the opaque colour (r, g, b).

    Returns None when written to `out_path`; without it, the result's bytes in `format`, or a
    Pillow Image when `in_path` is one."""
    return _job("solid", in_path, out_path, [("border", border)], color, format)


def padding(in_path: Source, out_path: Target = None, *, padding: int,
            color: Color = (255, 255, 255), format: Optional[str] = None) -> Any:
    """The same picture as solid(); a negative width is reported as padding."""
    return _job("padding", in_path, out_path, [("padding", padding)], color, format)


def sides(in_path: Source, out_path: Target = None, *, top: int = 0, right: int = 0,
          bottom: int = 0, left: int = 0, color: Color = (255, 255, 255),
          format: Optional[str] = None) -> Any:
    """Adds a band of the opaque colour with its own width (>= 0) on each side; the canvas may
    be at most 65536 pixels each way. Returns as solid() does."""
    return _job("sides", in_path, out_path,
                [("top", top), ("right", right), ("bottom", bottom), ("left", left)], color,
                format)


def rounded(in_path: Source, out_path: Target = None, *, radius: int,
            format: Optional[str] = None) -> Any:
    """Cuts the corners away along anti-aliased quarter circles of `radius` (>= 0) pixels,
    reduced to half the shorter side; outside the arcs the picture becomes transparent (white
    in JPEG and BMP output). Returns as solid() does."""
    return _job("rounded", in_path, out_path, [("radius", radius)], None, format)


def shadow(in_path: Source, out_path: Target = None, *, dx: int = 0, dy: int = 0, blur: int = 0,
           color: Color = (0, 0, 0), format: Optional[str] = None) -> Any:
    """Puts the picture over its silhouette in `color`, shifted by (dx, dy) and blurred by
    `blur` (>= 0); the canvas grows by |dx| + 2 * blur and |dy| + 2 * blur, at most 32768
    pixels each way. Transparent pixels of the picture hide the shadow beneath them. Returns as
    solid() does."""
    return _job("shadow", in_path, out_path, [("dx", dx), ("dy", dy), ("blur", blur)], color,
                format)


def _call(name: str, in_path: Source, out_path: Target, numbers: Sequence[int]) -> Any:
    n = list(numbers)
    if name == "solid":
        return solid(in_path, out_path, border=n[0], color=n[1:4])
    if name == "padding":
        return padding(in_path, out_path, padding=n[0], color=n[1:4])
    if name == "sides":
        return sides(in_path, out_path, top=n[0], right=n[1], bottom=n[2], left=n[3],
                     color=n[4:7])
    if name == "rounded":
        return rounded(in_path, out_path, radius=n[0])
    return shadow(in_path, out_path, dx=n[0], dy=n[1], blur=n[2], color=n[3:6])


# The operations by name: how many numbers each takes, in the order the command line takes them,
# and the function that runs it with them.
OPERATIONS: Dict[str, Tuple[int, Callable[..., Any]]] = {
    name: (count_of(operation), functools.partial(_call, name))
    for name, operation in _GRAMMAR.items()
}


def run(operation: str, in_path: Source, out_path: Target, *numbers: int) -> Any:
    """One job as the command line takes it: run("solid", "in.jpg", "out.png", 10, 255, 255,
    255). ValueError for an unknown operation or the wrong count of numbers."""
    if operation not in OPERATIONS:
        raise ValueError(f"unknown operation {operation!r} (one of {', '.join(OPERATIONS)})")
    count, function = OPERATIONS[operation]
    if len(numbers) != count:
        raise ValueError(f"{operation} takes {count} numbers, not {len(numbers)}")
    return function(in_path, out_path, list(numbers))


from ._runner import Result, run_job  # noqa: E402  (needs the operations above)
