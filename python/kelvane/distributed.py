"""Runs many kelvane jobs on a Dask cluster (dask.distributed; `pip install ./python[distributed]`
or Debian's python3-distributed):

    from dask.distributed import Client, LocalCluster
    import kelvane.distributed

    with LocalCluster(n_workers=4, threads_per_worker=1) as cluster, Client(cluster) as client:
        with open("jobs.txt") as jobs:
            results = kelvane.distributed.run(client, jobs.read())
    for result in results:
        if not result.ok:
            print(f"line {result.line}: {result.message}")

The jobs are a list as `kelvane batch` reads it (a text of lines, or its lines: the command
line's words, '#' comments, blank lines) or sequences (operation, in_path, out_path, numbers...),
parsed by the same rules: every bad line raises one JobListError naming each, before any job
runs. The jobs run as tasks on the cluster's workers; their paths are the workers' own, so every
worker needs the library (installed with the package, or KELVANE_LIBRARY) and the same files
(shared storage). Results come back in the jobs' order, one for each job: a job that fails,
on a worker that cannot load the library too, says why in its result and stops nothing else.
"""
from __future__ import annotations

from typing import Any, List

from ._jobs import Job, JobListError, JobSource, parse_jobs
from ._runner import Result, run_job

__all__ = ["run", "run_job", "parse_jobs", "Result", "Job", "JobListError"]


def run(client: Any, jobs: JobSource) -> List[Result]:
    """Runs the jobs on the client's cluster and returns their Results in order. A warning about
    an input (a photo stored rotated) is kept with the first job that reads it."""
    parsed = parse_jobs(jobs)
    futures = client.map(run_job, parsed, pure=False)
    results, seen = [], set()
    for result in client.gather(futures):
        kept = tuple(text for text in result.warnings if text not in seen)
        seen.update(kept)
        results.append(result._replace(warnings=kept))
    return results
