"""Runs many kelvane jobs on a Dask cluster (dask.distributed):

    from dask.distributed import Client
    import kelvane.distributed

    client = Client("scheduler-host:8786")
    results = kelvane.distributed.run(client, [
        "solid photos/a.jpg framed/a.png 10 255 255 255",
        ("shadow", "logos/b.png", "framed/b.png", 8, 8, 12, 0, 0, 0),
    ])
    for result in results:
        print(result.ok, result.message)

Each job is a line as `kelvane batch` takes it (the command line's arguments, shell-quoted) or a
tuple (operation, in_path, out_path, numbers...). The jobs run as tasks on the cluster's
workers, each worker process loading the library once; their paths are the workers' own, so
every worker needs the library (KELVANE_LIBRARY, or an installation) and the same files
(shared storage). Results come back in the jobs' order.
"""
import collections
import shlex

import kelvane

Result = collections.namedtuple("Result", "ok message")
Result.__doc__ = "A job's outcome: ok, or not with the library's (or the job's) message."


def parse(job):
    """A job as (operation, in_path, out_path, numbers...); ValueError when it is malformed."""
    words = shlex.split(job) if isinstance(job, str) else list(job)
    if len(words) < 3:
        raise ValueError(f"{job!r}: an operation, an input and an output, then numbers")
    operation, in_path, out_path, *numbers = words
    if operation not in kelvane.OPERATIONS:
        raise ValueError(f"{job!r}: unknown operation {operation!r}")
    try:
        numbers = [int(n) for n in numbers]
    except ValueError:
        raise ValueError(f"{job!r}: the numbers must be whole numbers") from None
    if len(numbers) != kelvane.OPERATIONS[operation][0]:
        raise ValueError(f"{job!r}: {operation} takes {kelvane.OPERATIONS[operation][0]} numbers")
    return (operation, in_path, out_path, *numbers)


def run_job(job):
    """Runs one parsed job in this process (a worker's task): its Result."""
    try:
        kelvane.run(*job)
    except (kelvane.KelvaneError, TypeError, ValueError, OverflowError) as error:
        return Result(False, str(error))
    return Result(True, "")


def run(client, jobs):
    """Runs the jobs on the client's cluster and returns their Results in order. Every job is
    parsed first: a malformed one raises ValueError before any runs."""
    parsed = [parse(job) for job in jobs]
    futures = client.map(run_job, parsed, pure=False)
    return client.gather(futures)
