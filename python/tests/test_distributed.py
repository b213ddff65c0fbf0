"""kelvane.distributed on a local Dask cluster of two worker processes (one thread each): twenty
jobs, their results and files against the same jobs run here, one by one; a worker killed again
and again during a job, which fails that job alone; and the README's example run as a script.

    PYTHONPATH=<build>/python python3 -m unittest test_distributed
"""
import os
import re
import signal
import subprocess
import sys
import tempfile
import threading
import time
import unittest

from dask.distributed import Client, LocalCluster

import kelvane
import kelvane.distributed


class NotingClient:
    """The client, noting the keys of the tasks that run a job reading `path`."""

    def __init__(self, client, path):
        self.client, self.path, self.keys = client, path, set()

    def map(self, function, jobs, **options):
        futures = self.client.map(function, jobs, **options)
        self.keys.update(f.key for f, job in zip(futures, jobs) if job.in_path == self.path)
        return futures

    def submit(self, function, job, **options):
        future = self.client.submit(function, job, **options)
        if job.in_path == self.path:
            self.keys.add(future.key)
        return future


class DistributedTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.addCleanup(self.dir.cleanup)
        self.input = os.path.join(self.dir.name, "in.pgm")
        with open(self.input, "wb") as file:
            file.write(b"P5 6 4 255\n" + bytes(range(0, 240, 10)))

    def jobs(self, folder):
        os.makedirs(os.path.join(self.dir.name, folder))
        out = lambda name: os.path.join(self.dir.name, folder, name)
        jobs = []
        for i in range(18):
            operation = ["solid", "sides", "rounded", "shadow", "padding"][i % 5]
            numbers = {"solid": (i, 9, 8, 7), "padding": (i, 1, 2, 3),
                       "sides": (i, 1, 2, 3, 4, 5, 6), "rounded": (i,),
                       "shadow": (i - 9, 2, i % 4, 255, 0, 0)}[operation]
            job = (operation, self.input, out(f"{i}.{['png', 'jpg', 'bmp'][i % 3]}"), *numbers)
            jobs.append(job if i % 2 else " ".join(f"'{w}'" if isinstance(w, str) else str(w)
                                                   for w in job))
        jobs.append(("rounded", self.input, out("no/bad.png"), "1"))  # refused by the library
        jobs.append(("solid", os.path.join(self.dir.name, "missing.png"), out("x.png"), 1, 0, 0, 0))
        return jobs

    def test_a_cluster_gives_what_a_serial_run_gives(self):
        serial = [kelvane.run_job(job) for job in kelvane.parse_jobs(self.jobs("serial"))]
        with LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                          dashboard_address=None) as cluster, Client(cluster) as client:
            spread = kelvane.distributed.run(client, self.jobs("cluster"))
            workers = client.run(lambda: os.getpid())
        self.assertEqual(len(workers), 2)
        self.assertEqual([r.ok for r in spread], [r.ok for r in serial])
        self.assertEqual(sum(r.ok for r in spread), 18)
        self.assertEqual([r.line for r in spread], list(range(1, 21)))
        nowhere = os.path.join(self.dir.name, "cluster", "no")
        self.assertEqual(spread[18].message,
                         f"failed to write '{nowhere}/bad.png': cannot encode '{nowhere}/bad.png' "
                         f"(check the extension); the folder '{nowhere}' does not exist")
        self.assertIn("can't fopen", spread[19].message)
        for name in sorted(os.listdir(os.path.join(self.dir.name, "serial"))):
            with self.subTest(output=name):
                with open(os.path.join(self.dir.name, "serial", name), "rb") as a, \
                        open(os.path.join(self.dir.name, "cluster", name), "rb") as b:
                    self.assertEqual(a.read(), b.read())

    def test_a_worker_that_dies_fails_its_job_alone(self):
        # The first job waits for a FIFO that no one writes; whichever worker runs it is killed,
        # again and again, until run() returns: the scheduler tries it again, gives up, it runs
        # once more alone and is killed again. Every other job keeps its result.
        fifo = os.path.join(self.dir.name, "never.pgm")
        os.mkfifo(fifo)
        out = lambda name: os.path.join(self.dir.name, name)
        jobs = [("rounded", fifo, out("never.png"), 1)] + \
            [("rounded", self.input, out(f"{i}.png"), i) for i in range(6)]
        done = threading.Event()
        with LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                          dashboard_address=None) as cluster, Client(cluster) as client:
            noting = NotingClient(client, fifo)

            def kill_the_fifo_jobs_workers():
                while not done.is_set():
                    busy = [address for address, keys in client.processing().items()
                            if noting.keys.intersection(keys)]
                    try:
                        pids = client.run(os.getpid, workers=busy) if busy else {}
                    except Exception:  # a worker that went meanwhile
                        pids = {}
                    for pid in pids.values():
                        try:
                            os.kill(pid, signal.SIGKILL)
                        except ProcessLookupError:
                            pass
                    time.sleep(0.3)
            killer = threading.Thread(target=kill_the_fifo_jobs_workers)
            killer.start()
            try:
                results = kelvane.distributed.run(noting, jobs)
            finally:
                done.set()
                killer.join()
        self.assertEqual([r.line for r in results], list(range(1, 8)))
        self.assertFalse(results[0].ok)
        self.assertTrue(results[0].message.startswith("the worker died running the job, twice"))
        self.assertEqual([r.ok for r in results[1:]], [True] * 6)
        self.assertFalse(os.path.exists(out("never.png")))

    def test_the_readmes_example_runs_as_a_script(self):
        with open(os.path.join(os.path.dirname(__file__), "..", "..", "README.md")) as file:
            readme = file.read()
        example = re.search(r"\n( +)(from dask\.distributed import .*?)\n(?=\S|\n\S)", readme,
                            re.S)
        script = "\n".join(line[len(example.group(1)):] for line in
                           (example.group(1) + example.group(2)).splitlines()) + "\n"
        self.assertIn('if __name__ == "__main__":', script)
        with open(os.path.join(self.dir.name, "jobs.txt"), "w") as file:
            file.write(f"rounded in.pgm a.png 1\nsolid missing.pgm b.png 1 0 0 0\n")
        with open(os.path.join(self.dir.name, "example.py"), "w") as file:
            file.write(script)
        done = subprocess.run([sys.executable, "example.py"], cwd=self.dir.name, timeout=180,
                              capture_output=True, text=True)
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertEqual(done.stdout, "line 2: cannot decode 'missing.pgm': can't fopen; "
                                      "'missing.pgm' does not exist\n")
        self.assertTrue(os.path.exists(os.path.join(self.dir.name, "a.png")))

    def test_malformed_jobs_stop_everything_before_any_runs(self):
        with self.assertRaises(kelvane.JobListError) as refused:
            kelvane.distributed.run(None, "# jobs\nframe a.png b.png\r\n\nrounded a.png b.png -1\n")
        self.assertEqual(refused.exception.problems, ["line 2: unknown operation 'frame'",
                                                      "line 4: radius must be >= 0 (got -1)"])
        with self.assertRaisesRegex(ValueError, "line 1: solid takes IN OUT BORDER R G B"):
            kelvane.distributed.run(None, [("solid", "a.png", "b.png", 1)])


if __name__ == "__main__":
    unittest.main()
