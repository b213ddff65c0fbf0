"""The exceptions and the warning of the binding."""
from __future__ import annotations

from typing import Optional

from ._host import ARGUMENT_FAILURE, FILE_FAILURE, Hint, failure_kind


class KelvaneError(Exception):
    """The library refused a job. str(error) is its message, then the likely cause when the
    host layer sees one; `message` is the library's text alone, `hint` the cause or None."""

    def __init__(self, message: str, found: Optional[Hint] = None):
        super().__init__(message if found is None else f"{message}; {found.text}")
        self.message = message
        self.hint = None if found is None else found.text


class KelvaneFileError(KelvaneError, OSError):
    """A file could not be read, decoded or written; also an OSError, with `errno` and `filename`
    when the cause is known."""

    def __init__(self, message: str, found: Optional[Hint] = None):
        KelvaneError.__init__(self, message, found)
        self.errno = None if found is None else found.errno  # type: ignore[assignment]
        self.filename = None if found is None else found.filename

    def __str__(self) -> str:  # OSError's own would add the errno
        return KelvaneError.__str__(self)


class KelvaneArgumentError(KelvaneError, ValueError):
    """An argument the library refuses: a negative width, a canvas too large."""


class KelvaneWarning(UserWarning):
    """A job that will not do what its names suggest: PNG data under another extension, a photo
    stored rotated."""


def error_for(message: str, found: Optional[Hint]) -> KelvaneError:
    """The exception for the library's message, of the kind the host layer gives it."""
    kind = failure_kind(message)
    if kind == FILE_FAILURE:
        return KelvaneFileError(message, found)
    if kind == ARGUMENT_FAILURE:
        return KelvaneArgumentError(message, found)
    return KelvaneError(message, found)
