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
        jobs.append(("rounded", self.input, out("bad.png"), -1))  # refused by the library
        jobs.append(("solid", os.path.join(self.dir.name, "missing.png"), out("x.png"), 1, 0, 0, 0))
        return jobs

    def test_a_cluster_gives_what_a_serial_run_gives(self):
        serial = [kelvane.distributed.run_job(kelvane.distributed.parse(job))
                  for job in self.jobs("serial")]
        with LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                          dashboard_address=None) as cluster, Client(cluster) as client:
            spread = kelvane.distributed.run(client, self.jobs("cluster"))
            workers = client.run(lambda: os.getpid())
        self.assertEqual(len(workers), 2)
        self.assertEqual([r.ok for r in spread], [r.ok for r in serial])
        self.assertEqual(sum(r.ok for r in spread), 18)
        self.assertEqual(spread[18].message, "radius must be >= 0 (got -1)")
        self.assertIn("can't fopen", spread[19].message)
        for name in sorted(os.listdir(os.path.join(self.dir.name, "serial"))):
            with self.subTest(output=name):
                with open(os.path.join(self.dir.name, "serial", name), "rb") as a, \
                        open(os.path.join(self.dir.name, "cluster", name), "rb") as b:
                    self.assertEqual(a.read(), b.read())

    def test_a_malformed_job_stops_everything_before_it_runs(self):
        with self.assertRaisesRegex(ValueError, "unknown operation"):
            kelvane.distributed.run(None, ["frame a.png b.png"])
        with self.assertRaisesRegex(ValueError, "takes 4 numbers"):
            kelvane.distributed.parse(("solid", "a.png", "b.png", 1))


if __name__ == "__main__":
    unittest.main()
