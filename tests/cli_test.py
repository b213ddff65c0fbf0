"""Runs the command-line host as a user would: help, a job, a refusal, usage errors.

    python3 cli_test.py <path to the kelvane program>
"""
import os
import subprocess
import sys
import tempfile
import unittest

PROGRAM = None


def run(*arguments):
    return subprocess.run([PROGRAM, *arguments], capture_output=True, text=True)


class CommandLineTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.addCleanup(self.dir.cleanup)
        self.input = os.path.join(self.dir.name, "in.pgm")
        with open(self.input, "wb") as file:
            file.write(b"P5 2 2 255\n\x10\x20\x30\x40")
        self.out = os.path.join(self.dir.name, "out.png")

    def test_help_shows_usage_and_an_example(self):
        result = run("--help")
        self.assertEqual(result.returncode, 0)
        self.assertIn("usage: kelvane OPERATION IN OUT NUMBERS", result.stdout)
        for operation in ("solid", "padding", "sides", "rounded", "shadow", "example:"):
            self.assertIn(operation, result.stdout)

    def test_a_job_writes_its_file_silently(self):
        result = run("shadow", self.input, self.out, "3", "-3", "2", "0", "0", "0")
        self.assertEqual((result.returncode, result.stdout, result.stderr), (0, "", ""))
        with open(self.out, "rb") as file:
            self.assertEqual(file.read(4), b"\x89PNG")

    def test_a_refused_job_exits_1_with_the_library_message(self):
        result = run("rounded", self.input, self.out, "-3")
        self.assertEqual(result.returncode, 1)
        self.assertEqual(result.stderr, "kelvane: radius must be >= 0 (got -3)\n")
        self.assertFalse(os.path.exists(self.out))

    def test_usage_errors_exit_2(self):
        for arguments in ([], ["solid", self.input, self.out, "1", "2", "3"],
                          ["solid", self.input, self.out, "1", "2", "3", "x"],
                          ["solid", self.input, self.out, "1", "2", "3", "99999999999"],
                          ["frame", self.input, self.out]):
            with self.subTest(arguments=arguments):
                result = run(*arguments)
                self.assertEqual(result.returncode, 2)
                self.assertTrue(result.stderr)
                self.assertFalse(os.path.exists(self.out))


if __name__ == "__main__":
    PROGRAM = sys.argv.pop(1)
    unittest.main()
