"""Job lists, read by the rules `kelvane batch` reads them with: one job a line, its words as a
shell splits them (blanks separate, '...' and "..." quote, a backslash escapes " and \\ within
double quotes and any character outside quotes), a word starting with '#' begins a comment, blank
lines and line ends of either kind are fine. Every bad line is reported, with its number, before
anything runs; the texts are the command line's own.
"""
from __future__ import annotations

import re
from typing import Iterable, List, NamedTuple, Sequence, Tuple, Union

_INT_MIN, _INT_MAX = -2**31, 2**31 - 1
_MAX_WORDS = 16
# A whole number as the C library's strtoll takes it: leading blanks, a sign, ASCII digits.
_WHOLE = re.compile(r"[ \t\n\v\f\r]*[+-]?[0-9]+")


class Operation(NamedTuple):
    name: str
    numbers: str  # the names of its numbers, in the order the command line takes them
    widths: Tuple[int, ...]  # the positions of the numbers that must be >= 0


OPERATIONS = {op.name: op for op in (
    Operation("solid", "BORDER R G B", (0,)),
    Operation("padding", "PADDING R G B", (0,)),
    Operation("sides", "TOP RIGHT BOTTOM LEFT R G B", (0, 1, 2, 3)),
    Operation("rounded", "RADIUS", (0,)),
    Operation("shadow", "DX DY BLUR R G B", (2,)),
)}


def count_of(operation: Operation) -> int:
    return len(operation.numbers.split())


def negative_width(name: str, numbers: Sequence[int]) -> str:
    """The library's own text for a negative width among the numbers, or ""."""
    n, widths = numbers, OPERATIONS[name].widths
    if all(n[k] >= 0 for k in widths):
        return ""
    if name == "sides":
        return f"side widths must all be >= 0 (got {n[0]},{n[1]},{n[2]},{n[3]})"
    what = {"solid": "border width", "padding": "padding", "rounded": "radius", "shadow": "blur"}
    return f"{what[name]} must be >= 0 (got {n[widths[0]]})"


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


def split_words(text: str) -> List[str]:
    """The line's words; ValueError with the reason for an open quote or too many words."""
    words, i, n = [], 0, len(text)
    while True:
        while i < n and text[i] in " \t":
            i += 1
        if i == n or text[i] == "#":
            return words
        if len(words) == _MAX_WORDS:
            raise ValueError(f"more than {_MAX_WORDS} words")
        word = []
        while i < n and text[i] not in " \t":
            if text[i] in "'\"":
                quote, i = text[i], i + 1
                while i == n or text[i] != quote:
                    if i == n:
                        raise ValueError(f"a {quote} quote is not closed")
                    if quote == '"' and text[i] == "\\" and i + 1 < n and text[i + 1] in '"\\':
                        i += 1
                    word.append(text[i])
                    i += 1
                i += 1
            else:
                if text[i] == "\\" and i + 1 < n:
                    i += 1
                word.append(text[i])
                i += 1
        words.append("".join(word))


def _number(text: Union[str, int], operation: Operation) -> int:
    if isinstance(text, bool) or not isinstance(text, (str, int)):
        raise ValueError(f"{text!r} is not a whole number ({operation.name} takes IN OUT "
                         f"{operation.numbers})")
    if isinstance(text, str):
        if not _WHOLE.fullmatch(text):
            raise ValueError(f"'{text}' is not a whole number ({operation.name} takes IN OUT "
                             f"{operation.numbers})")
        value = int(text)
    else:
        value = text
    if not _INT_MIN <= value <= _INT_MAX:
        raise ValueError(f"'{text}' is out of range: numbers go from {_INT_MIN} to {_INT_MAX}")
    return value


def parse_words(words: Sequence, line: int) -> Job:
    """The job the words make; ValueError with the command line's text when they make none."""
    if not words:
        raise ValueError("an empty job: an operation, IN, OUT and its numbers")
    name = words[0]
    operation = OPERATIONS.get(name) if isinstance(name, str) else None
    if operation is None:
        raise ValueError(f"unknown operation '{name}'")
    if len(words) != 3 + count_of(operation):
        raise ValueError(f"{name} takes IN OUT {operation.numbers}")
    in_path, out_path = words[1], words[2]
    if in_path == "-" or out_path == "-":
        raise ValueError("'-' (standard input or output) has no place in a batch")
    numbers = tuple(_number(text, operation) for text in words[3:])
    refused = negative_width(name, numbers)
    if refused:
        raise ValueError(refused)
    return Job(line, name, in_path, out_path, numbers)


JobSource = Union[str, Iterable[Union[str, Sequence]]]


def _lines(jobs: JobSource) -> Iterable:
    if isinstance(jobs, str):
        jobs = jobs.split("\n")
    for entry in jobs:
        if isinstance(entry, str):
            entry = entry[:-1] if entry.endswith("\n") else entry
            entry = entry[:-1] if entry.endswith("\r") else entry
        yield entry


def parse_jobs(jobs: JobSource) -> List[Job]:
    """Every job of the list: a text of lines, lines, or sequences (operation, in_path, out_path,
    numbers...) whose numbers may be ints or text. Raises JobListError naming every bad line."""
    parsed, problems = [], []
    for line, entry in enumerate(_lines(jobs), start=1):
        try:
            if isinstance(entry, str):
                words = split_words(entry)
                if words:  # not a blank or comment line
                    parsed.append(parse_words(words, line))
            else:
                parsed.append(parse_words(list(entry), line))
        except ValueError as why:
            problems.append(f"line {line}: {why}")
    if problems:
        raise JobListError(problems)
    return parsed
