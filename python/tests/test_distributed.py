"""kelvane.distributed on a local Dask cluster of two worker processes (one thread each): twenty
jobs, their results and files against the same jobs run here, one by one.

    PYTHONPATH=<build>/python python3 -m unittest test_distributed
"""
import os
import tempfile
import unittest

from dask.distributed import Client, LocalCluster

import kelvane
import kelvane.distributed


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

    def test_malformed_jobs_stop_everything_before_any_runs(self):
        with self.assertRaises(kelvane.JobListError) as refused:
            kelvane.distributed.run(None, "# jobs\nframe a.png b.png\r\n\nrounded a.png b.png -1\n")
        self.assertEqual(refused.exception.problems, ["line 2: unknown operation 'frame'",
                                                      "line 4: radius must be >= 0 (got -1)"])
        with self.assertRaisesRegex(ValueError, "line 1: solid takes IN OUT BORDER R G B"):
            kelvane.distributed.run(None, [("solid", "a.png", "b.png", 1)])


if __name__ == "__main__":
    unittest.main()
