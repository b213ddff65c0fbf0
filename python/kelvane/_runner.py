"""Jobs of a list run one by one, each giving its result: what `kelvane.distributed` hands its
workers, and what a plain loop over `kelvane.parse_jobs` may call."""
from __future__ import annotations

import warnings
from typing import NamedTuple, Optional, Tuple

from ._jobs import Job


class Result(NamedTuple):
    """A job's outcome: ok, or not with the library's message and the likely cause after it, as
    the batch prints them; the job's line in its list, the warnings it gave, and the likely
    cause alone (None when the host layer sees none)."""
    ok: bool
    message: str
    line: int
    warnings: Tuple[str, ...] = ()
    hint: Optional[str] = None


def run_job(job: Job) -> Result:
    """Runs one parsed job in this process and returns its Result; it never raises for the job's
    own failure, a process that cannot load the library included."""
    import kelvane

    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always", kelvane.KelvaneWarning)
        hint = None
        try:
            kelvane.run(job.operation, job.in_path, job.out_path, *job.numbers)
            ok, message = True, ""
        except kelvane.KelvaneError as error:
            ok, message, hint = False, str(error), error.hint
        except (TypeError, ValueError, OverflowError) as error:
            ok, message = False, str(error)
        except OSError as error:  # the library itself could not be loaded here
            ok, message = False, f"the library cannot be loaded here: {error}"
    said = tuple(str(w.message) for w in caught if issubclass(w.category, kelvane.KelvaneWarning))
    return Result(ok, message, job.line, said, hint)
