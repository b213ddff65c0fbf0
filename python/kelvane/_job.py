"""One job from Python: its arguments checked as Python types, pictures in memory handed to the
library as private files, the warnings and the likely cause of a failure from the host layer, and
the result handed back as the caller asked."""
from __future__ import annotations

import importlib
import io
import operator
import os
import sys
import tempfile
import warnings
from typing import IO, Any, List, Optional, Sequence, Union

from . import _host
from ._errors import KelvaneWarning, error_for

# A path, the bytes of a picture file, a binary file object or a Pillow Image.
Source = Any
Target = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]", IO[bytes], None]

INT_MIN, INT_MAX = -2**31, 2**31 - 1


def path_bytes(what: str, path: Any) -> bytes:
    """The path as the bytes the library takes (UTF-8 on Windows, the file-system encoding
    elsewhere); ValueError for a NUL, which would cut it."""
    given: Union[str, bytes] = os.fspath(path)
    if sys.platform == "win32":
        encoded = given.encode("utf-8") if isinstance(given, str) else given
    else:
        encoded = os.fsencode(given)
    if b"\0" in encoded:
        raise ValueError(f"{what} {path!r} contains a NUL byte")
    return encoded


def check_int(what: str, value: Any) -> int:
    """The value as a C int: TypeError for what is not an integer (floats and bools included),
    OverflowError outside -2**31 .. 2**31 - 1."""
    if isinstance(value, bool):
        raise TypeError(f"{what} must be an integer, not bool")
    try:
        number = operator.index(value)
    except TypeError:
        raise TypeError(f"{what} must be an integer, not {type(value).__name__}") from None
    if not INT_MIN <= number <= INT_MAX:
        raise OverflowError(f"{what}={number} is outside the C int range {INT_MIN}..{INT_MAX}")
    return number


def _is_pillow_image(value: Any) -> bool:
    module = sys.modules.get("PIL.Image")
    return module is not None and isinstance(value, module.Image)


def _is_path(value: Any) -> bool:
    """Whether the input is a path: bytes are a picture's bytes."""
    return isinstance(value, (str, os.PathLike))


def _is_out_path(value: Any) -> bool:
    return isinstance(value, (str, bytes, os.PathLike))


def _name_of(stream: Any) -> bytes:
    """What a message calls a picture given in memory: a file object's name, else the host
    layer's name for bytes."""
    name = getattr(stream, "name", None)
    return os.fsencode(name) if isinstance(name, (str, bytes)) and name else b""


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
        if isinstance(source, io.TextIOBase):
            raise TypeError("a file object given as the picture must be opened in binary mode")
        try:
            data = source.read()
        except UnicodeDecodeError:
            raise TypeError("a file object given as the picture must be opened in binary "
                            "mode") from None
        try:
            return memoryview(data).tobytes()  # bytes, bytearray, memoryview, any buffer
        except TypeError:
            raise TypeError("a file object given as the picture must be opened in binary mode, "
                            f"not give {type(data).__name__}") from None
    raise TypeError("the picture must be a path, bytes, a binary file object or a Pillow Image, "
                    f"not {type(source).__name__}")


class _Scratch:
    """The private files a job in memory goes through, removed when it ends."""

    def __init__(self) -> None:
        self._folder: Optional["tempfile.TemporaryDirectory[str]"] = None
        self._fds: List[int] = []

    def folder(self) -> str:
        if self._folder is None:
            self._folder = tempfile.TemporaryDirectory(prefix="kelvane-")
        return self._folder.name

    def input_file(self, data: bytes) -> bytes:
        """A path that reads as `data`: an anonymous memory file where the system has them."""
        if hasattr(os, "memfd_create") and os.path.isdir("/proc/self/fd"):
            fd = os.memfd_create("kelvane-input", os.MFD_CLOEXEC)
            self._fds.append(fd)
            with os.fdopen(os.dup(fd), "wb") as file:
                file.write(data)
            return os.fsencode(f"/proc/self/fd/{fd}")
        path = os.path.join(self.folder(), "input")
        with open(path, "wb") as file:
            file.write(data)
        return path_bytes("the picture's file", path)

    def close(self) -> None:
        for fd in self._fds:
            os.close(fd)
        if self._folder is not None:
            self._folder.cleanup()


def _warn(text: Optional[str]) -> None:
    if text:
        warnings.warn(text, KelvaneWarning, stacklevel=4)


def format_of(format: Optional[str]) -> str:
    formats = _host.table()["formats"]
    chosen = str(formats[0] if format is None else format).lower()
    if chosen not in formats:
        raise ValueError(f"format must be one of {', '.join(formats)}, not {format!r}")
    return chosen


def run_numbers(operation: int, in_path: Source, out_path: Target, numbers: Sequence[int],
                format: Optional[str]) -> Any:
    """Runs the operation on files (its own private ones for pictures in memory) and hands the
    result over as `out_path` asks."""
    to_memory = out_path is None or hasattr(out_path, "write")
    if not to_memory and format is not None:
        raise ValueError("format is for output in memory: a file's format follows its name")
    if not to_memory and not _is_out_path(out_path):
        raise TypeError("out_path must be a path, a binary file object or None, not "
                        f"{type(out_path).__name__}")
    chosen = format_of(format) if to_memory else None
    scratch = _Scratch()
    try:
        if _is_path(in_path):
            in_file, in_name, data = path_bytes("in_path", in_path), None, None
        else:
            data = _bytes_of(in_path)
            in_file, in_name = scratch.input_file(data), _name_of(in_path)
        if to_memory:
            out_file = path_bytes("the result's file", os.path.join(scratch.folder(),
                                                                    "output." + str(chosen)))
            out_name: Optional[bytes] = _name_of(out_path)
        else:
            out_file, out_name = path_bytes("out_path", out_path), None
            _warn(_host.output_warning(out_file))
        _warn(_host.input_warning(None if data is not None else in_file, data, in_name))
        ok, message = _host.run(operation, in_file, out_file, numbers, in_name, out_name)
        if not ok:
            raise error_for(message, _host.hint(message, None if in_name is not None else in_file,
                                                None if out_name is not None else out_file))
        if not to_memory:
            return None
        with open(out_file, "rb") as file:
            result = file.read()
    finally:
        scratch.close()
    if out_path is not None:
        out_path.write(result)  # type: ignore[union-attr]
        return None
    if _is_pillow_image(in_path):
        image = importlib.import_module("PIL.Image").open(io.BytesIO(result))
        image.load()
        return image
    return result
