"""One table of cases (cases.json) run through every front end alike: the command-line tool, the
Python binding and the JavaScript package in Node. Job lists must give the same jobs or the same
bad lines, and jobs the same results, hints and warnings.

    KELVANE_CLI=<build>/tools/kelvane/kelvane PYTHONPATH=<build>/python python3 conformance_test.py
(the JavaScript package takes part where js/kelvane.mjs has been built and node runs)
"""
import json
import os
import shutil
import subprocess
import sys
import tempfile
import threading
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
CASES = json.load(open(os.path.join(HERE, "cases.json"), encoding="utf-8"))
PROGRAM = os.environ.get("KELVANE_CLI")
NODE = shutil.which("node") if os.path.exists(os.path.join(ROOT, "js", "kelvane.mjs")) else None
AS_ROOT = os.geteuid() == 0


def tool(folder, text):
    """The tool's batch: its bad lines, or each job's result from its JSON report."""
    with open(os.path.join(folder, "list"), "wb") as file:
        file.write(text.encode("utf-8"))
    done = subprocess.run([PROGRAM, "batch", "-j1", "--keep-going", "--json", "list"],
                          cwd=folder, capture_output=True, timeout=120)
    if done.returncode == 2:
        return {"problems": done.stderr.decode("utf-8").splitlines()}
    results = {}
    for line in done.stdout.decode("utf-8").splitlines():
        job = json.loads(line)
        results[job["line"]] = {"ok": job["ok"], "message": job["message"], "hint": job["hint"],
                                "warnings": job["warning"].split("\n") if job["warning"] else []}
    return {"results": results}


def python(folder, text):
    import kelvane
    here = os.getcwd()
    os.chdir(folder)
    try:
        try:
            jobs = kelvane.parse_jobs(text)
        except kelvane.JobListError as error:
            return {"problems": error.problems}
        outcome = {"jobs": [[j.line, j.operation, j.in_path, j.out_path, list(j.numbers)]
                            for j in jobs], "results": {}}
        for job in jobs:
            result = kelvane.run_job(job)
            message = result.message
            if result.hint is not None:  # after the library's message, as the batch says it
                message = message[:-len(result.hint) - 2]
            outcome["results"][job.line] = {"ok": result.ok, "message": message,
                                            "hint": result.hint, "warnings": list(result.warnings)}
        return outcome
    finally:
        os.chdir(here)


def node(folder, text):
    done = subprocess.run([NODE, os.path.join(HERE, "node_runner.mjs")], cwd=folder,
                          input=text.encode("utf-8"), capture_output=True, timeout=120)
    if done.returncode != 0:
        raise AssertionError(done.stderr.decode())
    outcome = json.loads(done.stdout)
    if "results" in outcome:
        outcome["results"] = {int(k): v for k, v in outcome["results"].items()}
    return outcome


FRONT_ENDS = {"tool": tool if PROGRAM else None, "python": python, "node": node if NODE else None}


class Folder:
    """The scratch folder the jobs run in, with the inputs cases.json names."""

    def __init__(self):
        self.path = tempfile.mkdtemp(prefix="kelvane-conformance-")
        self.mounts = []
        put = self.file
        put("in.pgm", b"P5 4 3 255\n" + bytes(range(0, 240, 20)))
        put("text.txt", b"not a picture")
        put("file", b"a file")
        os.mkdir(self.at("folder"))
        os.symlink("missing-target.png", self.at("dangling.png"))
        os.mkfifo(self.at("fifo.pgm"))
        self.rotated()
        if AS_ROOT:
            for name, options in (("ro", "ro,size=64k"), ("full", "size=64k")):
                os.mkdir(self.at(name))
                subprocess.run(["mount", "-t", "tmpfs", "-o", options, "tmpfs", self.at(name)],
                               check=True)
                self.mounts.append(self.at(name))
            self.fill(self.at("full/filler"))

    def at(self, name):
        return os.path.join(self.path, name)

    def file(self, name, data):
        with open(self.at(name), "wb") as file:
            file.write(data)

    def fill(self, path):
        fd = os.open(path, os.O_WRONLY | os.O_CREAT)
        try:
            while os.write(fd, b"\0" * 4096) > 0:
                pass
        except OSError:  # full
            pass
        os.close(fd)

    def rotated(self):
        """A 4 x 3 JPEG whose Exif block says orientation 6."""
        import kelvane
        plain = kelvane.solid(self.at("in.pgm"), border=0, format="jpg")
        tiff = b"MM\0\x2a\0\0\0\x08\0\x01\x01\x12\0\x03\0\0\0\x01\0\x06\0\0\0\0\0\0"
        segment = b"Exif\0\0" + tiff
        self.file("rotated.jpg", plain[:2] + b"\xff\xe1" + (len(segment) + 2).to_bytes(2, "big") +
                  segment + plain[2:])

    def feed_fifo(self):
        """A writer for the FIFO that sends text once a job opens it."""
        def send():
            with open(self.at("fifo.pgm"), "wb") as fifo:
                fifo.write(b"not a picture")
        writer = threading.Thread(target=send, daemon=True)
        writer.start()
        return writer

    def remove(self):
        for mount in self.mounts:
            subprocess.run(["umount", mount], check=True)
        shutil.rmtree(self.path, ignore_errors=True)


class ConformanceTest(unittest.TestCase):
    def front_ends(self):
        return [(name, run) for name, run in FRONT_ENDS.items() if run]

    def test_job_lists_read_alike(self):
        for case in CASES["lists"]:
            for name, run in self.front_ends():
                with self.subTest(case=case["name"], front_end=name):
                    folder = tempfile.mkdtemp(prefix="kelvane-lists-")
                    try:
                        outcome = run(folder, case["text"]) if name != "tool" or \
                            "problems" in case else None
                    finally:
                        shutil.rmtree(folder, ignore_errors=True)
                    if outcome is None:
                        continue  # the tool runs good lists: their jobs are checked below
                    if "problems" in case:
                        self.assertEqual(outcome.get("problems"), case["problems"])
                    else:
                        self.assertEqual(outcome.get("jobs"), case["jobs"])

    def test_jobs_give_the_same_results_hints_and_warnings(self):
        cases = [case for case in CASES["jobs"] if AS_ROOT or not case.get("root")]
        text = "\n".join(case["line"] for case in cases) + "\n"
        for name, run in self.front_ends():
            folder = Folder()
            try:
                writer = folder.feed_fifo()
                results = run(folder.path, text)["results"]
                writer.join(timeout=10)
            finally:
                folder.remove()
            for number, case in enumerate(cases, start=1):
                with self.subTest(front_end=name, line=case["line"]):
                    expected = {"ok": case.get("ok", False), "message": case.get("message", ""),
                                "hint": case.get("hint"), "warnings": case.get("warnings", [])}
                    self.assertEqual(results.get(number), expected)


if __name__ == "__main__":
    unittest.main()
