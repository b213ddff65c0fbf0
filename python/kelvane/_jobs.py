"""Job lists, read by the host layer as `kelvane batch` reads them: one job a line, its words as a
shell splits them, '#' comments, blank lines and either kind of line end; or jobs as sequences
(operation, in_path, out_path, numbers...), whose numbers may be ints or text. Every bad line is
reported, with its number, before anything runs, in the host layer's words.
"""
from __future__ import annotations

import os
from typing import Any, Iterable, List, NamedTuple, Sequence, Tuple, Union

from . import _host


class Job(NamedTuple):
    """One job: its line in the list (1 for the first), the operation and its arguments."""
    line: int
    operation: str
    in_path: str
    out_path: str
    numbers: Tuple[int, ...]


class JobListError(ValueError):
    """Bad lines in a job list; `problems` holds one "line N: why" for each, str() all of them."""

    def __init__(self, problems: List[str]):
        super().__init__("\n".join(problems))
        self.problems = problems


JobSource = Union[str, bytes, Iterable[Union[str, bytes, Sequence[Any]]]]


def _word(value: Any) -> bytes:
    if isinstance(value, bytes):
        return value
    return os.fsencode(value if isinstance(value, str) else str(value))


def _entries(jobs: JobSource) -> List[Any]:
    """Each line as bytes, each job of words as a list of bytes."""
    if isinstance(jobs, str):
        jobs = os.fsencode(jobs)
    if isinstance(jobs, bytes):
        lines = jobs.split(b"\n")
        return lines[:-1] if lines and lines[-1] == b"" else lines
    entries: List[Any] = []
    for entry in jobs:
        if isinstance(entry, (str, bytes)):
            line = _word(entry)
            entries.append(line[:-1] if line.endswith(b"\n") else line)
        else:
            entries.append([_word(word) for word in entry])
    return entries


def parse_jobs(jobs: JobSource) -> List[Job]:
    """Every job of the list: a text of lines, lines, or sequences (operation, in_path, out_path,
    numbers...). Raises JobListError naming every bad line."""
    parsed, problems = _host.parse(_entries(jobs))
    if problems:
        raise JobListError(problems)
    return [Job(job.line, job.operation, os.fsdecode(job.in_path), os.fsdecode(job.out_path),
                job.numbers) for job in parsed]
