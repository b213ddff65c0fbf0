"""What the front ends add to the library's own messages, by the rules the command line follows:
the likely cause of a failure (a hint), and warnings about a job that will not do what its
names suggest (an output name without a format's extension, a photo stored rotated).
"""
from __future__ import annotations

import errno
import os
import struct
from typing import BinaryIO, NamedTuple, Optional

_FORMATS = ("png", "jpg", "jpeg", "bmp")


class Hint(NamedTuple):
    """The likely cause of a failure, the errno that names it and the path it concerns."""
    text: str
    errno: int
    filename: str


def _folder_of(path: str) -> str:
    folder = os.path.dirname(path)
    return folder if folder else "."


def _output_hint(out_path: str) -> Optional[Hint]:
    folder = _folder_of(out_path)
    if not os.path.exists(folder):
        return Hint(f"the folder '{folder}' does not exist", errno.ENOENT, folder)
    if not os.path.isdir(folder):
        return Hint(f"'{folder}' is not a folder", errno.ENOTDIR, folder)
    if os.path.isdir(out_path):
        return Hint(f"'{out_path}' is a folder", errno.EISDIR, out_path)
    space = os.statvfs(folder) if hasattr(os, "statvfs") else None
    if space is not None and space.f_flag & os.ST_RDONLY:
        return Hint(f"'{folder}' is on a read-only file system", errno.EROFS, folder)
    if not os.access(folder, os.W_OK | os.X_OK):
        return Hint(f"no permission to write in the folder '{folder}'", errno.EACCES, folder)
    if os.path.exists(out_path) and not os.access(out_path, os.W_OK):
        return Hint(f"no permission to write '{out_path}'", errno.EACCES, out_path)
    if space is not None and space.f_bavail == 0:
        return Hint(f"no space left on the disk that holds '{folder}'", errno.ENOSPC, folder)
    return None


def _input_hint(in_path: str) -> Optional[Hint]:
    if not os.path.lexists(in_path):
        return Hint(f"'{in_path}' does not exist", errno.ENOENT, in_path)
    if os.path.isdir(in_path):
        return Hint(f"'{in_path}' is a folder", errno.EISDIR, in_path)
    if not os.access(in_path, os.R_OK):
        return Hint(f"no permission to read '{in_path}'", errno.EACCES, in_path)
    return None


def hint(message: str, in_path: Optional[str], out_path: Optional[str]) -> Optional[Hint]:
    """The likely cause of the library's failure `message` for a job on these paths (None for
    one held in memory), or None when the paths show none."""
    if message.startswith("failed to write") and out_path is not None:
        return _output_hint(out_path)
    if message.startswith("cannot decode") and in_path is not None:
        return _input_hint(in_path)
    return None


def extension_warning(out_path: str) -> Optional[str]:
    """A warning when the output's name does not end in a format's extension: it gets PNG."""
    ext = out_path.rpartition(".")[2] if "." in out_path else ""  # as the library reads it
    if ext.isascii() and ext.lower() in _FORMATS:
        return None
    return (f"'{out_path}' gets PNG data (the format follows the name: .png, .jpg, .jpeg or "
            ".bmp)")


def _tiff_orientation(tiff: bytes) -> Optional[int]:
    """The orientation tag of the first directory of an Exif block's TIFF structure."""
    if len(tiff) < 8 or tiff[:2] not in (b"II", b"MM"):
        return None
    order = "<" if tiff[:2] == b"II" else ">"
    first = struct.unpack(order + "I", tiff[4:8])[0]
    if first + 2 > len(tiff):
        return None
    count = struct.unpack(order + "H", tiff[first:first + 2])[0]
    for entry in range(first + 2, min(first + 2 + 12 * count, len(tiff) - 11), 12):
        tag, kind, number = struct.unpack(order + "HHI", tiff[entry:entry + 8])
        if tag == 0x0112 and kind == 3 and number == 1:
            return struct.unpack(order + "H", tiff[entry + 8:entry + 10])[0]
    return None


def exif_orientation(stream: BinaryIO) -> Optional[int]:
    """The EXIF orientation of a JPEG (1 to 8 as stored), or None: reads the markers' headers up
    to the picture and the body of the Exif APP1 segment alone."""
    if stream.read(2) != b"\xff\xd8":
        return None
    while True:
        head = stream.read(2)
        if len(head) < 2 or head[0] != 0xFF:
            return None
        code = head[1]
        while code == 0xFF:  # fill bytes
            byte = stream.read(1)
            if not byte:
                return None
            code = byte[0]
        if code == 0x01 or 0xD0 <= code <= 0xD8:  # markers without a segment
            continue
        if code in (0xD9, 0xDA):  # the end, or the picture itself: no Exif before it
            return None
        size = stream.read(2)
        if len(size) < 2 or struct.unpack(">H", size)[0] < 2:
            return None
        length = struct.unpack(">H", size)[0] - 2
        if code == 0xE1:
            body = stream.read(length)
            if body[:6] == b"Exif\0\0":
                found = _tiff_orientation(body[6:])
                return found if found is not None and 1 <= found <= 8 else None
        else:
            stream.seek(length, os.SEEK_CUR)


def orientation_warning(name: str, stream: BinaryIO) -> Optional[str]:
    """A warning when the JPEG in `stream` is stored rotated (an orientation other than 1)."""
    try:
        orientation = exif_orientation(stream)
    except (OSError, struct.error):
        return None
    if orientation in (None, 1):
        return None
    return (f"{name} is stored rotated (EXIF orientation {orientation}); the output keeps the "
            "stored orientation")
