"""The operations' types, written from the host layer's table: mypy --strict (Debian's) finds
nothing to say of typing_sample.py, and an error on every call of typing_errors.py.

    PYTHONPATH=<build>/python python3 -m unittest test_types
"""
import os
import re
import shutil
import subprocess
import sys
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))


def mypy(name):
    path = os.environ.get("PYTHONPATH", "")
    done = subprocess.run([sys.executable, "-m", "mypy", "--strict", "--no-incremental",
                           "--cache-dir", os.devnull, os.path.join(HERE, name)],
                          capture_output=True, text=True, cwd=HERE, env=dict(os.environ, MYPYPATH=path))
    return done.returncode, done.stdout


@unittest.skipUnless(shutil.which("mypy"), "mypy is not installed (Debian's mypy)")
class TypesTest(unittest.TestCase):
    def test_the_sample_checks_clean(self):
        self.assertEqual(mypy("typing_sample.py"), (0, "Success: no issues found in 1 source "
                                                       "file\n"))

    def test_every_wrong_call_is_an_error(self):
        status, said = mypy("typing_errors.py")
        with open(os.path.join(HERE, "typing_errors.py")) as file:
            calls = {n for n, line in enumerate(file, start=1) if "kelvane." in line}
        self.assertEqual(status, 1, said)
        self.assertEqual({int(n) for n in re.findall(r"^typing_errors\.py:(\d+): error", said,
                                                       re.M)}, calls)


if __name__ == "__main__":
    unittest.main()
