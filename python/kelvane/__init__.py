"""Borders, rounded corners and drop shadows for pictures: the Python binding of tarnwick-kelvane.

Each operation of the library is a function of this package (kelvane.OPERATIONS names them),
which takes a picture, keyword arguments for its numbers, and writes the result:

    kelvane.<operation>("photo.jpg", "framed.png", <numbers by name>)    # files
    png = kelvane.<operation>(open("logo.png", "rb"), <numbers>)           # bytes of a PNG
    jpeg = kelvane.<operation>(data, <numbers>, format="jpg")              # bytes in, bytes out
    image = kelvane.<operation>(pillow_image, <numbers>)                   # a Pillow Image back

The picture (`in_path`) may be a path, bytes (bytes, bytearray, memoryview), a binary file
object, or a Pillow Image; any format stb_image reads (JPEG, PNG, BMP, GIF, PSD, PIC, PNM, TGA,
HDR), at most 32768 pixels a side. The result (`out_path`) goes to a path, whose name sets the
format (JPEG quality 90 for .jpg and .jpeg, 24-bit BMP for .bmp, both flattened onto white; RGBA
PNG for any other name, with a warning unless it ends in .png), or to a binary file object in
`format`; with no `out_path` the function returns it: bytes in `format` ("png", "jpg", "jpeg" or
"bmp"; PNG by default), or a Pillow Image when the picture was one. Pictures in memory reach the
library as files no other process can open: an anonymous memory file on Linux, a private
temporary folder elsewhere; messages name them as the caller gave them (a file object's name,
else <bytes>). Pillow is needed only to pass or get Pillow Images.

Errors (all KelvaneError, with the library's one-line message, then the likely cause when the
host layer sees one):
    KelvaneFileError      also an OSError: a file could not be read or decoded, or written;
                          `errno` and `filename` name the cause when it is known.
    KelvaneArgumentError  also a ValueError: an argument the library refuses (a negative width,
                          a canvas too large).
Before the library is called: TypeError for an argument of the wrong type (a float, a bool, a
colour that is not three ints, an unknown keyword), OverflowError for an int outside -2**31 ..
2**31 - 1, ValueError for a path with a NUL byte or a format the library does not write. OSError
when the shared library cannot be found.

Warnings (KelvaneWarning, through the warnings module): an output name without a format's
extension, and a JPEG stored rotated (an EXIF orientation other than 1), whose pixels the
library keeps as stored.

The operations, their numbers, the job lists, the hints and the warnings come from the library's
host layer (libtarnwick-kelvane-host), a shared library beside the library itself, the same for
every front end. They are found, in order, at the `path` given to load(); at the environment
variable KELVANE_LIBRARY; inside this package (where pip install puts them); where the build or
the installation that holds this module put them; in the lib folders of the prefixes above this
module; through the system's search. Calls are serialised: the library keeps one message text
for the whole process.
"""
from __future__ import annotations

import ctypes
import importlib
from typing import TYPE_CHECKING, Any, List, Optional

from ._errors import KelvaneArgumentError, KelvaneError, KelvaneFileError, KelvaneWarning
from ._host import Hint
from ._jobs import Job, JobListError, parse_jobs
from ._library import SIGNATURES as _SIGNATURES
from ._library import load as _load
from ._job import path_bytes as _path_bytes
from ._version import __version__

if TYPE_CHECKING:  # the operations, typed from the host layer's table (_operations.pyi)
    from ._operations import *  # noqa: F401,F403
    from ._operations import OPERATIONS

__all__ = ["KelvaneError", "KelvaneFileError", "KelvaneArgumentError", "KelvaneWarning",
           "JobListError", "Job", "Hint", "hint", "load", "run", "run_job", "Result", "parse_jobs",
           "OPERATIONS", "__version__"]


def load(path: Any = None) -> ctypes.CDLL:
    """Loads the shared library (see the package's text for where it is looked for) and its host
    layer beside it, and returns the library; OSError naming every place tried when either
    cannot be loaded."""
    return _load(path)[0]


def _path(what: str, path: Any) -> bytes:
    return _path_bytes(what, path)


def hint(message: str, in_path: Any, out_path: Any) -> Optional[Hint]:
    """The likely cause of the library's failure `message` for a job on these paths (None for a
    picture in memory), from what the file system shows of them; None when it shows nothing."""
    from . import _host
    return _host.hint(message, None if in_path is None else _path("in_path", in_path),
                      None if out_path is None else _path("out_path", out_path))


def run(operation: str, in_path: Any, out_path: Any, *numbers: int) -> Any:
    """One job as the command line takes it: the operation's name, the two paths and its numbers
    in the command line's order. ValueError for an unknown operation or the wrong count of
    numbers."""
    from . import _host, _job
    index = _host.operation_index(operation)
    count = len(_host.operations()[index]["parameters"])
    if len(numbers) != count:
        raise ValueError(f"{operation} takes {count} numbers, not {len(numbers)}")
    return _job.run_numbers(index, in_path, out_path,
                            [_job.check_int(f"number {i + 1}", n) for i, n in enumerate(numbers)],
                            None)


def _made() -> Any:
    return importlib.import_module(__name__ + "._operations")


def __getattr__(name: str) -> Any:
    """The operations, made from the host layer's table on first use (which loads the library)."""
    if not name.startswith("_") and (name == "OPERATIONS" or name in _made().__all__):
        return getattr(_made(), name)
    raise AttributeError(f"module {__name__!r} has no attribute {name!r}")


def __dir__() -> List[str]:
    return sorted(set(globals()) | set(_made().__all__) | {"OPERATIONS"})


from ._runner import Result, run_job  # noqa: E402  (needs the names above)
