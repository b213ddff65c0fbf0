"""The host layer's functions in Python terms: its table, a job run with its message, the hint and
the warnings that go with a job, and job lists. Paths are bytes, as the library takes them."""
from __future__ import annotations

import ctypes
import functools
import json
import os
from typing import Any, Dict, List, NamedTuple, Optional, Sequence, Tuple, cast

from ._library import host, lock

_SIZE = 1024  # KELVANE_HOST_TEXT_SIZE
_PATH_SIZE = 8192
OTHER_FAILURE, FILE_FAILURE, ARGUMENT_FAILURE = 0, 1, 2


def _text(raw: bytes) -> str:
    return raw.decode("utf-8", "replace")


@functools.lru_cache(maxsize=None)
def table() -> Dict[str, Any]:
    """The operations and their numbers, the formats of a result in memory, the name of bytes."""
    return cast(Dict[str, Any], json.loads(host().kelvane_host_table().decode("utf-8")))


def operations() -> List[Dict[str, Any]]:
    return cast(List[Dict[str, Any]], table()["operations"])


def operation_index(name: str) -> int:
    """The host layer's number of the operation called `name`; ValueError for none."""
    for index, entry in enumerate(operations()):
        if entry["name"] == name:
            return index
    raise ValueError(f"unknown operation {name!r} (one of "
                     f"{', '.join(entry['name'] for entry in operations())})")


def run(operation: int, in_path: bytes, out_path: bytes, numbers: Sequence[int],
        in_name: Optional[bytes], out_name: Optional[bytes]) -> Tuple[bool, str]:
    """Runs the job: (True, "") or (False, the library's message naming what was in memory)."""
    message = ctypes.create_string_buffer(_SIZE)
    array = (ctypes.c_int * max(1, len(numbers)))(*numbers)
    with lock:
        ok = host().kelvane_host_run(operation, in_path, out_path, array, in_name, out_name,
                                     message, _SIZE)
    return ok == 1, _text(message.value)


class Hint(NamedTuple):
    """The likely cause of a failure, the errno that names it (None for a cause without one) and
    the path it concerns."""
    text: str
    errno: Optional[int]
    filename: str


def failure_kind(message: str) -> int:
    return int(host().kelvane_host_failure_kind(message.encode("utf-8", "surrogateescape")))


def hint(message: str, in_path: Optional[bytes], out_path: Optional[bytes]) -> Optional[Hint]:
    """What the file system shows of the paths (None: in memory) that explains the failure."""
    text, path = ctypes.create_string_buffer(_SIZE), ctypes.create_string_buffer(_PATH_SIZE)
    number = host().kelvane_host_hint(message.encode("utf-8", "surrogateescape"), in_path,
                                      out_path, text, _SIZE, path, _PATH_SIZE)
    if number == 0:
        return None
    return Hint(_text(text.value), None if number < 0 else number, os.fsdecode(path.value))


def output_warning(out_path: bytes) -> Optional[str]:
    warning = ctypes.create_string_buffer(_SIZE + _PATH_SIZE)
    said = host().kelvane_host_output_warning(out_path, warning, len(warning))
    return _text(warning.value) if said else None


def input_warning(in_path: Optional[bytes], data: Optional[bytes],
                  name: Optional[bytes]) -> Optional[str]:
    warning = ctypes.create_string_buffer(_SIZE + _PATH_SIZE)
    said = host().kelvane_host_input_warning(in_path, data, len(data or b""), name, warning,
                                             len(warning))
    return _text(warning.value) if said else None


class ParsedJob(NamedTuple):
    line: int
    operation: str
    in_path: bytes
    out_path: bytes
    numbers: Tuple[int, ...]


class _Job(ctypes.Structure):
    _fields_ = [("operation", ctypes.c_int), ("in_path", ctypes.c_char_p),
                ("out_path", ctypes.c_char_p), ("numbers", ctypes.c_int * 7)]


def parse(entries: Sequence[Any]) -> Tuple[List[ParsedJob], List[str]]:
    """The jobs of a list whose entries are lines (bytes) or jobs as words (lists of bytes), each
    one line; and the problems of its bad lines."""
    library = host()
    with lock:  # the numbers are checked by the library itself
        return _parse(library, entries)


def _parse(library: ctypes.CDLL, entries: Sequence[Any]) -> Tuple[List[ParsedJob], List[str]]:
    jobs = library.kelvane_host_new_jobs()
    if not jobs:
        raise MemoryError("no memory for a job list")
    try:
        for entry in entries:
            if isinstance(entry, bytes):
                added = library.kelvane_host_add_line(jobs, entry, len(entry))
            else:
                words = (ctypes.c_char_p * max(1, len(entry)))(*entry)
                added = library.kelvane_host_add_words(jobs, words, len(entry))
            if not added:
                raise MemoryError("no memory for a job list")
        names = [entry["name"] for entry in operations()]
        parsed = []
        for i in range(library.kelvane_host_job_count(jobs)):
            line = ctypes.c_int()
            job = ctypes.cast(library.kelvane_host_job(jobs, i, ctypes.byref(line)),
                              ctypes.POINTER(_Job)).contents
            count = len(operations()[job.operation]["parameters"])
            parsed.append(ParsedJob(line.value, names[job.operation], job.in_path, job.out_path,
                                    tuple(job.numbers[:count])))
        problems = [_text(library.kelvane_host_problem(jobs, i))
                    for i in range(library.kelvane_host_problem_count(jobs))]
        return parsed, problems
    finally:
        library.kelvane_host_free_jobs(jobs)
