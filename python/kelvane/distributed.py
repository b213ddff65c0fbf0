"""Runs many kelvane jobs on a Dask cluster (dask.distributed: Debian's python3-distributed, which
`pip install --no-build-isolation './python[distributed]'` then takes as it is):

    from dask.distributed import Client, LocalCluster
    import kelvane.distributed

    if __name__ == "__main__":  # the cluster's worker processes import this script again
        with LocalCluster(n_workers=4, threads_per_worker=1) as cluster, Client(cluster) as client:
            with open("jobs.txt") as jobs:
                results = kelvane.distributed.run(client, jobs.read())
        for result in results:
            if not result.ok:
                print(f"line {result.line}: {result.message}")

The jobs are a list as `kelvane batch` reads it (a text of lines, or its lines: the command
line's words, '#' comments, blank lines) or sequences (operation, in_path, out_path, numbers...),
read by the host layer: every bad line raises one JobListError naming each, before any job runs.
The jobs run as tasks on the cluster's workers; their paths are the workers' own, so every worker
needs the library (installed with the package, or KELVANE_LIBRARY) and the same files (shared
storage). Results come back in the jobs' order, one for each job, and run() never raises for one
job: a job that fails, on a worker that cannot load the library too, says why in its result and
stops nothing else. A job whose worker dies (killed, or out of memory under its nanny's limit) is
tried again by the scheduler on other workers, as often as it allows
(distributed.scheduler.allowed-failures, 3 by default); when it gives up, or the cluster cannot
run the job, the job runs once more, alone, and if that fails too its result says so, while every
other job keeps its own.
"""
from __future__ import annotations

from typing import Any, List, Optional

from ._jobs import Job, JobListError, JobSource, parse_jobs
from ._runner import Result, run_job

__all__ = ["run", "run_job", "parse_jobs", "Result", "Job", "JobListError"]


def _outcome(future: Any, job: Job, last: bool) -> Optional[Result]:
    """The future's result; where its task could not give one, None, or on the last try a
    Result that says why."""
    try:
        result: Result = future.result()
        return result
    except Exception as error:  # KilledWorker, a lost worker, a task the cluster could not run
        if not last:
            return None
        what = "the worker died running the job" if type(error).__name__ == "KilledWorker" \
            else "the job could not run on the cluster"
        return Result(False, f"{what}, twice ({type(error).__name__}: {error})", job.line)


def _first_outcomes(client: Any, jobs: List[Job]) -> List[Optional[Result]]:
    """Each job's outcome from the cluster, taken as soon as its task ends and then let go, so
    that a worker that dies later takes no finished result with it (to be run again)."""
    from distributed import as_completed

    futures = client.map(run_job, jobs, pure=False)
    index = {future.key: i for i, future in enumerate(futures)}
    outcomes: List[Optional[Result]] = [None] * len(jobs)
    for future in as_completed(futures):
        i = index[future.key]
        outcomes[i] = _outcome(future, jobs[i], False)
        future.release()
    return outcomes


def run(client: Any, jobs: JobSource) -> List[Result]:
    """Runs the jobs on the client's cluster and returns their Results in order. A warning about
    an input (a photo stored rotated) is kept with the first job that reads it."""
    parsed = parse_jobs(jobs)
    outcomes = _first_outcomes(client, parsed)
    for i, job in enumerate(parsed):
        if outcomes[i] is None:  # once more, alone: a job queued beside a killer is not one
            outcomes[i] = _outcome(client.submit(run_job, job, pure=False), job, True)
    results, seen = [], set()
    for result in outcomes:
        assert result is not None
        kept = tuple(text for text in result.warnings if text not in seen)
        seen.update(kept)
        results.append(result._replace(warnings=kept))
    return results
