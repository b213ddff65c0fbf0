"""Job lists and what every front end adds to the library's messages: the Python reading of a
list against `kelvane batch` itself (the program named by KELVANE_CLI), line by line, and the
hints and warnings of failed jobs against the batch's.

    KELVANE_CLI=<build>/examples/kelvane PYTHONPATH=<build>/python python3 -m unittest test_jobs
"""
import os
import subprocess
import sys
import tempfile
import unittest

import kelvane

# Lines that are no job, lines that are one, and bad lines of every kind the batch tells apart.
LINES = [
    "# a comment", "", "   \t", "solid in.pgm 'a b.png' 1 2 3 4  # after a job",
    'rounded "in.pgm" c\\ d.png +7', "shadow in.pgm e.png -1 -2 ' 3' 0 0 0\r",
    "sides in.pgm f.bmp 0 0 0 0 255 255 255",
    "frame in.pgm x.png", "solid in.pgm x.png 1 2 3", "rounded in.pgm 'x.png 1",
    'rounded in.pgm "x.png 1', "rounded - x.png 1", "rounded in.pgm - 1",
    "rounded in.pgm x.png 1x", "rounded in.pgm x.png 1_000", "rounded in.pgm x.png 2147483648",
    "rounded in.pgm x.png -2147483649", "solid in.pgm x.png -1 0 0 0", "padding in.pgm x.png -2 0 0 0",
    "sides in.pgm x.png 1 -2 3 4 0 0 0", "rounded in.pgm x.png -3", "shadow in.pgm x.png 5 5 -1 0 0 0",
    "solid " + "w " * 16, "solid in.pgm x.png 1 2 3 ٣",
]


def batch(program, folder, text, *options):
    with open(os.path.join(folder, "list"), "w", newline="") as file:
        file.write(text)
    done = subprocess.run([program, "batch", *options, "list"], cwd=folder, capture_output=True)
    return done.returncode, done.stderr.decode().splitlines()


@unittest.skipUnless(os.environ.get("KELVANE_CLI"), "KELVANE_CLI names no kelvane program")
class OneGrammarTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.addCleanup(self.dir.cleanup)
        self.program = os.environ["KELVANE_CLI"]
        with open(os.path.join(self.dir.name, "in.pgm"), "wb") as file:
            file.write(b"P5 4 3 255\n" + bytes(range(0, 240, 20)))

    def test_python_reads_a_list_as_the_batch_does(self):
        text = "\n".join(LINES) + "\n"
        status, said = batch(self.program, self.dir.name, text)
        self.assertEqual(status, 2)
        with self.assertRaises(kelvane.JobListError) as refused:
            kelvane.parse_jobs(text)
        self.assertIsInstance(refused.exception, ValueError)
        self.assertEqual(refused.exception.problems, said)
        self.assertEqual(len(said), len(LINES) - 7)
        # The good lines alone run, and read alike as text, as lines and as sequences.
        good = "\r\n".join(line.rstrip("\r") for line in LINES[:7])
        jobs = kelvane.parse_jobs(good)
        self.assertEqual(jobs, kelvane.parse_jobs(good.split("\r\n")))
        self.assertEqual([(j.line, j.operation, j.out_path, j.numbers) for j in jobs],
                         [(4, "solid", "a b.png", (1, 2, 3, 4)), (5, "rounded", "c d.png", (7,)),
                          (6, "shadow", "e.png", (-1, -2, 3, 0, 0, 0)),
                          (7, "sides", "f.bmp", (0, 0, 0, 0, 255, 255, 255))])
        as_tuples = [("solid", "in.pgm", "a b.png", 1, "2", 3, " 4")]
        self.assertEqual(kelvane.parse_jobs(as_tuples)[0].numbers, (1, 2, 3, 4))
        with self.assertRaisesRegex(kelvane.JobListError, r"^line 1: True is not a whole"):
            kelvane.parse_jobs([("rounded", "in.pgm", "x.png", True)])
        self.assertEqual(batch(self.program, self.dir.name, good)[0], 0)

    def mount(self, name, options):
        """A tmpfs at `name` in the scratch folder, unmounted at the end; False where this
        process may not mount one (not root), and the test then leaves those cases out."""
        folder = os.path.join(self.dir.name, name)
        os.mkdir(folder)
        if os.geteuid() != 0:
            return False
        done = subprocess.run(["mount", "-t", "tmpfs", "-o", options, "tmpfs", folder],
                              capture_output=True, text=True)
        self.assertEqual(done.returncode, 0, done.stderr)
        self.addCleanup(subprocess.run, ["umount", folder])
        return True

    def test_failed_jobs_say_what_the_batch_says(self):
        os.mkdir(os.path.join(self.dir.name, "folder"))
        lines = ["solid missing.pgm a.png 1 0 0 0", "solid folder a.png 1 0 0 0",
                 "solid in.pgm no/a.png 1 0 0 0", "solid in.pgm folder 1 0 0 0",
                 "solid in.pgm in.pgm/a.png 1 0 0 0", "rounded in.pgm b.webp 1"]
        if self.mount("ro", "ro,size=64k") and self.mount("full", "size=64k"):
            filler = os.open(os.path.join(self.dir.name, "full", "filler"),
                             os.O_WRONLY | os.O_CREAT)
            try:
                while os.write(filler, b"\0" * 4096) > 0:
                    pass
            except OSError:  # full
                pass
            os.close(filler)
            lines += ["solid in.pgm ro/a.png 1 0 0 0", "solid in.pgm full/a.png 1 0 0 0"]
        status, said = batch(self.program, self.dir.name, "\n".join(lines), "-j1", "--keep-going")
        self.assertEqual(status, 1)
        here = os.getcwd()
        os.chdir(self.dir.name)
        try:
            results = [kelvane.run_job(job) for job in kelvane.parse_jobs(lines)]
        finally:
            os.chdir(here)
        for result in results:
            with self.subTest(line=result.line):
                mine = [f"line {result.line}: warning: {text}" for text in result.warnings]
                if not result.ok:
                    mine += [f"line {result.line}: {part}" for part in result.message.split("; ")]
                theirs = [line for line in said if line.startswith(f"line {result.line}: ")]
                self.assertEqual(sorted(mine), sorted(theirs))
                self.assertTrue(mine)
        hints = [result.message.split("; ")[-1] for result in results[6:]]
        self.assertEqual(hints, ["'ro' is on a read-only file system",
                                 "no space left on the disk that holds 'full'"][:len(hints)])

    def test_a_process_without_the_library_fails_its_jobs_alone(self):
        script = ("import kelvane; kelvane._candidates = lambda path: iter(['none.so']);"
                  "r = kelvane.run_job(kelvane.parse_jobs(['rounded in.pgm a.png 1'])[0]);"
                  "print(r.ok, r.message)")
        done = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True,
                              cwd=self.dir.name)
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertTrue(done.stdout.startswith("False the library cannot be loaded here"))


if __name__ == "__main__":
    unittest.main()
