"""Runs the command-line tool as a user would: help and version, a job, refusals with their
hints, standard input and output (and what they leave behind), usage errors, many inputs into a
folder, and batches (failures, malformed lines, dry runs, JSON, quiet and verbose reports, a
killed worker, interrupts, the progress line on a terminal).

    python3 cli_test.py <path to the kelvane program>
"""
import os
import json
import pty
import re
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
import unittest

PROGRAM = None


def run(*arguments, stdin=None, cwd=None):
    return subprocess.run([PROGRAM, *arguments], input=stdin, capture_output=True, cwd=cwd)


def pgm(path, width, height):
    with open(path, "wb") as file:
        file.write(b"P5 %d %d 255\n" % (width, height) + bytes(i % 251 for i in range(width * height)))


class CommandLineTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.addCleanup(self.dir.cleanup)
        self.input = self.path("in.pgm")
        pgm(self.input, 4, 3)
        self.out = self.path("out.png")

    def path(self, name):
        return os.path.join(self.dir.name, name)

    def read(self, name):
        with open(self.path(name), "rb") as file:
            return file.read()

    def test_help_and_version(self):
        for words in (["--help"], ["-h"]):
            result = run(*words)
            self.assertEqual(result.returncode, 0)
            for text in (b"usage: kelvane", b"batch", b"--out-dir", b"--json", b"examples:"):
                self.assertIn(text, result.stdout)
        # The manual page describes every operation --help lists, with its numbers.
        with open(os.path.join(os.path.dirname(__file__), "..", "tools", "kelvane", "kelvane.1")) as f:
            manual = f.read().replace("\\-", "-").replace("\\fB", "").replace("\\fR", "").replace("\\fI", "")
        for name, numbers in re.findall(rb"^  (\w+) +IN OUT ([A-Z ]+?)  ", run("--help").stdout, re.M):
            self.assertIn(f"{name.decode()} IN OUT {numbers.decode().strip()}", manual)
        result = run("--version")
        self.assertEqual((result.returncode, result.stderr), (0, b""))
        self.assertRegex(result.stdout.decode(), r"^kelvane \d+\.\d+\.\d+ \(tarnwick-kelvane, MIT")

    def test_a_job_writes_its_file_silently(self):
        result = run("shadow", self.input, self.out, "3", "-3", "2", "0", "0", "0")
        self.assertEqual((result.returncode, result.stdout, result.stderr), (0, b"", b""))
        self.assertEqual(self.read("out.png")[:4], b"\x89PNG")

    def test_refusals_exit_1_with_the_message_and_what_explains_it(self):
        pgm(self.path("file"), 2, 2)
        os.mkdir(self.path("folder"))
        os.mkdir(self.path("folder.png"))
        cases = [
            (["rounded", self.path("none.png"), self.out, "3"],
             "cannot decode", f"kelvane: '{self.path('none.png')}' does not exist\n"),
            (["rounded", self.path("folder"), self.out, "3"],
             "cannot decode", f"kelvane: '{self.path('folder')}' is a folder\n"),
            (["rounded", self.input, self.path("folder.png"), "3"],
             "failed to write", f"kelvane: '{self.path('folder.png')}' is a folder\n"),
            (["solid", self.input, self.path("nodir/x.png"), "1", "0", "0", "0"],
             "failed to write", f"the folder '{self.path('nodir')}' does not exist"),
            (["solid", self.input, self.path("file/x.png"), "1", "0", "0", "0"],
             "failed to write", f"'{self.path('file')}' is not a folder"),
        ]
        for words, message, hint in cases:
            with self.subTest(words=words):
                result = run(*words)
                self.assertEqual(result.returncode, 1)
                self.assertTrue(result.stderr.decode().startswith("kelvane: " + message))
                self.assertIn(hint, result.stderr.decode())
        self.assertFalse(os.path.exists(self.out))

    def test_a_name_of_no_known_format_gets_png_with_a_warning(self):
        result = run("solid", self.input, self.path("out.webp"), "1", "0", "0", "0")
        self.assertEqual(result.returncode, 0)
        self.assertIn(b"warning: '" + self.path("out.webp").encode() + b"' gets PNG data",
                      result.stderr)
        self.assertEqual(self.read("out.webp")[:4], b"\x89PNG")

    def test_a_photo_stored_rotated_gets_a_warning_and_keeps_its_pixels(self):
        # A 2 x 1 JPEG whose Exif block says orientation 6, in big- and little-endian TIFF.
        for tiff in (b"MM\0\x2a\0\0\0\x08\0\x01\x01\x12\0\x03\0\0\0\x01\0\x06\0\0\0\0\0\0",
                     b"II\x2a\0\x08\0\0\0\x01\0\x12\x01\x03\0\x01\0\0\0\x06\0\0\0\0\0\0\0"):
            with self.subTest(order=tiff[:2]):
                self.assertEqual(run("solid", self.input, self.path("plain.jpg"), "0", "0", "0",
                                     "0").returncode, 0)
                plain = self.read("plain.jpg")
                segment = b"Exif\0\0" + tiff
                with open(self.path("rotated.jpg"), "wb") as file:
                    file.write(plain[:2] + b"\xff\xe1" + (len(segment) + 2).to_bytes(2, "big") +
                               segment + plain[2:])
                result = run("solid", self.path("rotated.jpg"), self.out, "1", "0", "0", "0")
                self.assertEqual(result.returncode, 0)
                self.assertEqual(result.stderr.decode(),
                                 f"kelvane: warning: {self.path('rotated.jpg')} is stored rotated "
                                 "(EXIF orientation 6); the output keeps the stored orientation\n")
                run("solid", self.path("plain.jpg"), self.path("ref.png"), "1", "0", "0", "0")
                self.assertEqual(self.read("out.png"), self.read("ref.png"))

    def test_standard_input_and_output(self):
        with open(self.input, "rb") as file:
            picture = file.read()
        for format in ("png", "jpg", "bmp"):
            with self.subTest(format=format):
                self.assertEqual(run("solid", self.input, self.path("ref." + format),
                                     "2", "9", "8", "7").returncode, 0)
                result = run("--format=" + format, "solid", "-", "-", "2", "9", "8", "7",
                             stdin=picture)
                self.assertEqual((result.returncode, result.stderr), (0, b""))
                self.assertEqual(result.stdout, self.read("ref." + format))
        # PNG by default; the numbers by name; an option after the operation.
        result = run("solid", "--border", "2", "--color", "9,8,7", "-", "-", stdin=picture)
        self.assertEqual((result.returncode, result.stdout), (0, self.read("ref.png")))
        failed = run("solid", "-", self.out, "2", "0", "0", "0", stdin=b"")
        self.assertEqual(failed.returncode, 1)
        self.assertEqual(failed.stderr, b"kelvane: cannot decode '-': unknown image type\n")

    def test_standard_streams_leave_nothing_behind(self):
        # The output stands in the tool's private folder until it goes out: a reader that leaves
        # early (SIGPIPE), a caught signal or a failure leave nothing; after a SIGKILL one file
        # stays, which the next run removes.
        pgm(self.path("big.pgm"), 1500, 1200)
        with open(self.path("big.pgm"), "rb") as file:
            big = file.read()
        scratch = self.path("tmp")
        os.mkdir(scratch)
        env = dict(os.environ, TMPDIR=scratch)
        private = os.path.join(scratch, f"kelvane-{os.geteuid()}")
        piped = subprocess.run(f"'{PROGRAM}' rounded - - 50 < big.pgm | head -c 100 | wc -c",
                               shell=True, cwd=self.dir.name, env=env, capture_output=True)
        self.assertEqual(piped.stdout.strip(), b"100")
        self.assertEqual(os.listdir(private), [])
        for number in (signal.SIGHUP, signal.SIGINT, signal.SIGTERM, signal.SIGKILL):
            with self.subTest(signal=number):
                job = subprocess.Popen([PROGRAM, "shadow", "-", "-", "1", "1", "200", "0", "0", "0"],
                                       stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                       stderr=subprocess.DEVNULL, env=env)
                job.stdin.write(big)
                job.stdin.close()
                reader = threading.Thread(target=job.stdout.read)
                reader.start()
                while not os.listdir(private) and job.poll() is None:
                    time.sleep(0.001)  # until the library has written the output's file
                job.send_signal(number)
                reader.join()
                self.assertIn(job.wait(), (-number, 128 + number, 0))
                left = os.listdir(private)
                self.assertEqual(len(left), 1 if number == signal.SIGKILL and left else 0, left)
        self.assertEqual(subprocess.run([PROGRAM, "--version"], env=env,
                                        stdout=subprocess.DEVNULL).returncode, 0)
        self.assertEqual(os.listdir(private), [])

    def test_usage_errors_exit_2(self):
        cases = [
            ([], ""),
            (["solid", self.input, self.out, "1", "2", "3"], "solid takes IN OUT BORDER R G B"),
            (["solid", self.input, self.out, "1", "2", "3", "x"], "'x' is not a whole number"),
            (["solid", self.input, self.out, "1", "2", "3", "99999999999"],
             "'99999999999' is out of range: numbers go from -2147483648 to 2147483647"),
            (["frame", self.input, self.out], "unknown operation 'frame'"),
            (["solid", "--frame", self.input, self.out], "unknown option '--frame'"),
            (["--border", "2", "solid", self.input, self.out], "unknown option '--border'"),
            (["solid", "-j", "2", self.input, self.out, "1", "0", "0", "0"], "is for a batch"),
            (["solid", "--border", "1", self.input, self.out, "2"], "at once"),
            (["solid", "--color", "1,2", self.input, self.out], "--color takes 3 numbers"),
            (["solid", "-q", "-v", self.input, self.out, "1", "0", "0", "0"], "the opposite"),
            (["solid", "--out-dir", self.dir.name, "--border", "1"], "needs at least one IN"),
            (["rounded", "--out-dir", self.dir.name, self.input], "rounded needs --radius"),
            (["rounded", self.input, self.out, "-3"], "radius must be >= 0 (got -3)"),
            (["sides", self.input, self.out, "1", "2", "3", "-4", "0", "0", "0"],
             "side widths must all be >= 0 (got 1,2,3,-4)"),
            (["--format", "gif", "solid", self.input, "-", "1", "2", "3", "4"],
             "--format takes png, jpg, jpeg, bmp, not 'gif'"),
            (["--format", "png", "solid", self.input, self.out, "1", "2", "3", "4"], "is for '-'"),
            (["batch"], "batch needs a LIST"),
            (["batch", "--format", "png", "list"], "is not an option of batch"),
            (["batch", "--dry-run", "list", "more"], "batch takes one LIST"),
            (["batch", "-j", "0", "list"], "-j takes a number of processes, 1 to 4096, not '0'"),
            (["batch", "-jx", "list"], "-j takes"),
            (["batch", "-j2147483647", "list"], "-j takes"),
            (["batch", os.path.join(self.dir.name, "no-list")],
             "cannot read the list '" + os.path.join(self.dir.name, "no-list") +
             "': No such file or directory"),
            (["batch", self.dir.name],
             "cannot read the list '" + self.dir.name + "': Is a directory"),
        ]
        for words, message in cases:
            with self.subTest(words=words):
                result = run(*words)
                self.assertEqual(result.returncode, 2)
                self.assertIn(message, result.stderr.decode())
                if "cannot read the list" not in message:
                    self.assertIn("usage: kelvane ", result.stderr.decode())
                self.assertFalse(os.path.exists(self.out))
        # `--` ends the options: a file whose name starts with a dash.
        os.rename(self.input, self.path("--format"))
        self.assertEqual(run("rounded", "--", "--format", "-x.png", "1", cwd=self.dir.name)
                         .returncode, 0)
        self.assertEqual(self.read("-x.png")[:4], b"\x89PNG")


class BatchTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.addCleanup(self.dir.cleanup)
        pgm(os.path.join(self.dir.name, "in.pgm"), 6, 5)

    def batch(self, lines, *options, stderr=None):
        with open(os.path.join(self.dir.name, "list"), "w") as file:
            file.write("\n".join(lines) + "\n")
        return run("batch", *options, "list", cwd=self.dir.name)

    def listing(self):
        return sorted(os.listdir(self.dir.name))

    def path(self, name):
        return os.path.join(self.dir.name, name)

    def read(self, name):
        with open(self.path(name), "rb") as file:
            return file.read()

    def test_jobs_write_what_single_runs_write_and_failures_are_listed(self):
        lines = ["# frames", "", "solid in.pgm a.png 2 1 2 3",
                 "rounded in.pgm 'with space.jpg' 2   # a comment",
                 "shadow in.pgm b.bmp -1 2 3 0 0 0", "sides in.pgm no/c.png 1 2 3 4 0 0 0",
                 "padding missing.pgm d.png 1 0 0 0", "rounded in.pgm e.webp 1"]
        result = self.batch(lines, "-j2", "--keep-going")
        self.assertEqual(result.returncode, 1)
        errors = result.stderr.decode()
        self.assertIn("line 6: failed to write 'no/c.png'", errors)
        self.assertIn("line 6: the folder 'no' does not exist\n", errors)
        self.assertIn("line 7: cannot decode 'missing.pgm': can't fopen\n"
                      "line 7: 'missing.pgm' does not exist\n", errors)
        self.assertIn("line 8: warning: 'e.webp' gets PNG data", errors)
        self.assertRegex(errors, r"kelvane: 6 jobs in [0-9.]+ s: 4 written, 2 failed\n$")
        self.assertNotIn("\r", errors)  # no progress line off a terminal
        for words in (["solid", "in.pgm", "1.png", "2", "1", "2", "3"],
                      ["rounded", "in.pgm", "2.jpg", "2"],
                      ["shadow", "in.pgm", "3.bmp", "-1", "2", "3", "0", "0", "0"]):
            self.assertEqual(run(*words, cwd=self.dir.name).returncode, 0)
        for batched, single in (("a.png", "1.png"), ("with space.jpg", "2.jpg"), ("b.bmp", "3.bmp")):
            with open(os.path.join(self.dir.name, batched), "rb") as a, \
                    open(os.path.join(self.dir.name, single), "rb") as b:
                self.assertEqual(a.read(), b.read(), batched)
        # Without --keep-going, no job starts after the first failure.
        result = self.batch(["rounded none.pgm x.png 1"] + ["solid in.pgm y.png 1 0 0 0"] * 3,
                            "-j", "1")
        self.assertEqual(result.returncode, 1)
        self.assertIn(b"3 not run", result.stderr)
        self.assertNotIn("y.png", self.listing())

    def test_dry_runs_json_and_how_much_is_said(self):
        lines = ["solid in.pgm a.png 1 0 0 0", "rounded missing.pgm b.png 1",
                 "rounded in.pgm c.webp 2"]
        failure = ["line 2: cannot decode 'missing.pgm': can't fopen",
                   "line 2: 'missing.pgm' does not exist"]
        dry = self.batch(lines, "--dry-run", "-k")
        self.assertEqual(dry.returncode, 1)
        self.assertIn("\n".join(failure) + "\n", dry.stderr.decode())  # jobs end in any order
        self.assertRegex(dry.stderr.decode(), r"kelvane: 3 jobs checked in [0-9.]+ s: 2 fine, 1 failed\n$")
        self.assertEqual(self.listing(), ["in.pgm", "list"])  # nothing written
        said = self.batch(lines, "--json", "-k")
        objects = sorted((json.loads(line) for line in said.stdout.splitlines()),
                         key=lambda o: o["line"])
        self.assertEqual([set(o) for o in objects], [{"line", "input", "output", "ok", "kept",
                                                      "message", "hint", "warning", "seconds"}] * 3)
        self.assertEqual([(o["ok"], o["hint"]) for o in objects],
                         [(True, None), (False, "'missing.pgm' does not exist"), (True, None)])
        self.assertIn("gets PNG data", objects[2]["warning"])
        self.assertEqual(self.batch(lines, "-q", "-k").stderr.decode().splitlines(), failure)
        verbose = self.batch(lines[:1], "-v").stderr.decode()
        self.assertRegex(verbose, r"^line 1: wrote 'a.png' in [0-9.]+ s\nkelvane: 1 job in ")
        self.assertIn("s: 0 written, 0 failed, 1 kept (--no-clobber)",
                      self.batch(lines[:1], "--no-clobber").stderr.decode())

    def test_many_inputs_into_a_folder(self):
        os.mkdir(self.path("sub"))
        pgm(self.path("b.pgm"), 7, 3)
        run("rounded", "in.pgm", "sub/c.PNG", "1", cwd=self.dir.name)
        inputs = ["in.pgm", "b.pgm", "sub/c.PNG"]
        done = run("solid", "--out-dir", "out", "-j2", "--border", "2", "--", *inputs,
                   cwd=self.dir.name)
        self.assertEqual((done.returncode, sorted(os.listdir(self.path("out")))),
                         (0, ["b.png", "c.PNG", "in.png"]))
        for source, name in zip(inputs, ["in.png", "b.png", "c.PNG"]):
            run("solid", source, "single.png", "2", "255", "255", "255", cwd=self.dir.name)
            self.assertEqual(self.read(f"out/{name}"), self.read("single.png"), name)
        self.assertEqual(run("solid", "--out-dir", "out", "--format", "jpg", "--border", "1",
                             "in.pgm", cwd=self.dir.name).returncode, 0)
        self.assertTrue(os.path.exists(self.path("out/in.jpg")))
        before = self.read("out/b.png")
        kept = run("solid", "--out-dir", "out", "--no-clobber", "--border", "9", "b.pgm",
                   cwd=self.dir.name)
        self.assertEqual((kept.returncode, self.read("out/b.png")), (0, before))
        for words, said in ((["sub/c.PNG", "in.pgm", "c.pgm"], None),
                            (["--", "b.pgm", "out/b.png"], "'b.pgm' and 'out/b.png' would both")):
            shutil.copy(self.path("in.pgm"), self.path("c.pgm"))
            refused = run("rounded", "--out-dir", "sub" if said is None else "out", "--radius", "1",
                          *words, cwd=self.dir.name)
            self.assertEqual(refused.returncode, 2)
            self.assertIn(said or "the output of 'sub/c.PNG' would replace the input 'sub/c.PNG'",
                          refused.stderr.decode())

    def test_a_malformed_line_stops_everything_before_it_runs(self):
        result = self.batch(["solid in.pgm a.png 1 0 0 0", "solid in.pgm b.png 1 0 0",
                             "frame in.pgm c.png", "rounded in.pgm 'd.png 1",
                             "rounded - e.png 1", "rounded in.pgm f.png 1x",
                             "shadow in.pgm g.png 1 1 -2 0 0 0"])
        self.assertEqual(result.returncode, 2)
        errors = result.stderr.decode().splitlines()
        self.assertEqual([e.split(":")[0] for e in errors],
                         ["line 2", "line 3", "line 4", "line 5", "line 6", "line 7"])
        self.assertEqual(errors[-1], "line 7: blur must be >= 0 (got -2)")
        self.assertNotIn("a.png", self.listing())

    def test_a_worker_that_dies_fails_its_job_alone(self):
        pgm(os.path.join(self.dir.name, "big.pgm"), 1500, 1200)
        with open(os.path.join(self.dir.name, "list"), "w") as file:
            file.write("shadow big.pgm slow.png 0 0 300 0 0 0\nsolid in.pgm after.png 1 0 0 0\n")
        batch = subprocess.Popen([PROGRAM, "batch", "-j", "1", "--keep-going", "list"],
                                 cwd=self.dir.name, stderr=subprocess.PIPE)
        children = f"/proc/{batch.pid}/task/{batch.pid}/children"
        worker = ""
        for _ in range(500):
            with open(children) as file:
                worker = file.read().split()
            if worker:
                break
            time.sleep(0.01)
        self.assertTrue(worker, "no worker process showed up")
        os.kill(int(worker[0]), signal.SIGKILL)
        errors = batch.communicate(timeout=60)[1].decode()
        self.assertEqual(batch.returncode, 1)
        self.assertIn("line 1: the worker died (signal 9", errors)
        self.assertIn("2 jobs", errors)
        self.assertIn("after.png", self.listing())
        self.assertNotIn("slow.png", self.listing())

    def test_interrupts_let_running_jobs_finish_or_end_them_at_the_second(self):
        # Each job reads a FIFO, so it is under way, waiting for its input, when the signals come;
        # the input follows when the job is to finish. (the command, how many signals, which,
        # the exit status, the files expected after)
        fifo = self.path("fifo.pgm")
        os.mkfifo(fifo)
        with open(self.path("list"), "w") as file:
            file.write("shadow fifo.pgm first.png 2 2 3 0 0 0\nsolid in.pgm second.png 1 0 0 0\n")
        single = ["shadow", "fifo.pgm", "single.png", "2", "2", "3", "0", "0", "0"]
        to_stdout = ["--format", "png", "shadow", "fifo.pgm", "-", "2", "2", "3", "0", "0", "0"]
        cases = [
            (["batch", "-j", "1", "list"], 1, signal.SIGINT, 130, ["first.png"]),
            (["batch", "-j", "1", "list"], 1, signal.SIGTERM, 143, ["first.png"]),
            (["batch", "-j", "1", "list"], 2, signal.SIGINT, 130, []),
            (single, 1, signal.SIGINT, 130, ["single.png"]),
            (single, 2, signal.SIGINT, -signal.SIGINT, []),
            (to_stdout, 2, signal.SIGTERM, -signal.SIGTERM, []),
        ]
        scratch = self.path("scratch")
        os.mkdir(scratch)
        picture = b"P5 40 30 255\n" + bytes(range(120)) * 10
        for words, count, number, status, written in cases:
            with self.subTest(words=words, signals=count, signal=number):
                job = subprocess.Popen([PROGRAM, *words], cwd=self.dir.name,
                                       stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                                       env=dict(os.environ, TMPDIR=scratch))
                feed = None
                for _ in range(1000):  # until the job has the FIFO open
                    try:
                        feed = os.open(fifo, os.O_WRONLY | os.O_NONBLOCK)
                        break
                    except OSError:
                        time.sleep(0.01)
                self.assertIsNotNone(feed, "the job never opened its input")
                for _ in range(count):
                    job.send_signal(number)
                    time.sleep(0.1)
                if count == 1:
                    os.set_blocking(feed, True)
                    os.write(feed, picture)
                os.close(feed)
                errors = job.communicate(timeout=60)[1].decode()
                self.assertEqual(job.returncode, status, errors)
                made = [name for name in self.listing()
                        if name not in ("in.pgm", "fifo.pgm", "list", "scratch")]
                self.assertEqual(sorted(made), written)  # nothing else: no temporary file
                self.assertEqual([name for _, _, names in os.walk(scratch) for name in names], [])
                for name in written:
                    self.assertEqual(self.read(name)[:4], b"\x89PNG")
                    os.remove(self.path(name))
                if words[0] == "batch":
                    self.assertIn("2 jobs", errors)
                    self.assertIn("not run (interrupted)", errors)

    def test_progress_shows_on_a_terminal(self):
        with open(os.path.join(self.dir.name, "list"), "w") as file:
            file.write("solid in.pgm a.png 1 0 0 0\nrounded in.pgm b.png 1\n")
        controller, terminal = pty.openpty()
        batch = subprocess.Popen([PROGRAM, "batch", "list"], cwd=self.dir.name, stderr=terminal)
        # The terminal stays open here until the summary line has been read: once its last
        # writer closes, some kernels answer EIO while text is still on its way.
        shown, deadline = b"", time.monotonic() + 30
        while not (b" failed" in shown and shown.endswith(b"\n")) and time.monotonic() < deadline:
            if select.select([controller], [], [], 1)[0]:
                shown += os.read(controller, 4096)
        os.close(terminal)
        os.close(controller)
        self.assertEqual(batch.wait(), 0)
        self.assertIn(b"\r\x1b[Kkelvane: 2 of 2 jobs", shown)
        self.assertIn(b"2 written, 0 failed", shown)


if __name__ == "__main__":
    PROGRAM = os.path.abspath(sys.argv.pop(1))
    unittest.main()
