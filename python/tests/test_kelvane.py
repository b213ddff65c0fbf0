"""Tests of the Python binding: every operation through the real library, refusals, the checks
of arguments, and how it finds the library.

    PYTHONPATH=<build>/python python3 -m unittest test_kelvane
"""
import errno
import importlib.util
import io
import os
import pathlib
import struct
import subprocess
import sys
import tempfile
import unittest
import unittest.mock

import kelvane


def png_size(path):
    with open(path, "rb") as file:
        header = file.read(24)
    assert header[:8] == b"\x89PNG\r\n\x1a\n", path
    return struct.unpack(">II", header[16:24])


class BindingTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.addCleanup(self.dir.cleanup)
        self.input = os.path.join(self.dir.name, "in.pgm")
        with open(self.input, "wb") as file:  # a 4 x 3 grey picture
            file.write(b"P5 4 3 255\n" + bytes(range(0, 240, 20)))

    def out(self, name="out.png"):
        return os.path.join(self.dir.name, name)

    def test_each_operation_writes_its_picture(self):
        cases = [
            (kelvane.solid, {"border": 2}, (8, 7)),
            (kelvane.padding, {"padding": 1, "color": (9, 8, 7)}, (6, 5)),
            (kelvane.sides, {"top": 1, "left": 3}, (7, 4)),
            (kelvane.rounded, {"radius": 1}, (4, 3)),
            (kelvane.shadow, {"dx": -2, "dy": 1, "blur": 3}, (12, 10)),
        ]
        for operation, arguments, size in cases:
            with self.subTest(operation=operation.__name__):
                operation(self.input, self.out(), **arguments)
                self.assertEqual(png_size(self.out()), size)

    def test_refusals_raise_with_the_library_message_and_the_likely_cause(self):
        missing = os.path.join(self.dir.name, "missing.png")
        nowhere = os.path.join(self.dir.name, "no", "out.png")
        cases = [  # the call, the exception's kinds, str(error), errno, filename
            (lambda: kelvane.solid(self.input, self.out(), border=-1), ValueError,
             "border width must be >= 0 (got -1)", None, None),
            (lambda: kelvane.shadow(missing, self.out(), blur=2), OSError,
             f"cannot decode '{missing}': can't fopen; '{missing}' does not exist",
             errno.ENOENT, missing),
            (lambda: kelvane.rounded(self.dir.name, self.out(), radius=2), OSError,
             f"cannot decode '{self.dir.name}': can't fopen; '{self.dir.name}' is a folder",
             errno.EISDIR, self.dir.name),
            (lambda: kelvane.rounded(self.input, nowhere, radius=2), OSError,
             f"failed to write '{nowhere}': cannot encode '{nowhere}' (check the extension); "
             f"the folder '{os.path.dirname(nowhere)}' does not exist",
             errno.ENOENT, os.path.dirname(nowhere)),
            (lambda: kelvane.rounded(b"not a picture", radius=2), OSError, None, None, None),
        ]
        for call, kind, text, number, filename in cases:
            with self.subTest(text=text):
                with self.assertRaises(kelvane.KelvaneError) as refused:
                    call()
                self.assertIsInstance(refused.exception, kind)
                if text is not None:
                    self.assertEqual(str(refused.exception), text)
                if kind is OSError:
                    self.assertEqual((refused.exception.errno, refused.exception.filename),
                                     (number, filename))
        self.assertFalse(os.path.exists(self.out()))

    def test_pictures_in_memory_give_the_bytes_the_files_give(self):
        kelvane.shadow(self.input, self.out("file.png"), dx=2, blur=1, color=(9, 8, 7))
        kelvane.shadow(self.input, self.out("file.jpg"), dx=2, blur=1, color=(9, 8, 7))
        with open(self.input, "rb") as file:
            data = file.read()
        with open(self.out("file.png"), "rb") as file:
            png = file.read()
        with open(self.out("file.jpg"), "rb") as file:
            jpeg = file.read()
        sources = [data, bytearray(data), memoryview(data), io.BytesIO(data),
                   pathlib.Path(self.input)]
        for source in sources:
            with self.subTest(source=type(source).__name__):
                if isinstance(source, io.BytesIO):
                    source.seek(0)
                self.assertEqual(kelvane.shadow(source, dx=2, blur=1, color=(9, 8, 7)), png)
                if isinstance(source, io.BytesIO):
                    source.seek(0)
                self.assertEqual(kelvane.shadow(source, dx=2, blur=1, color=(9, 8, 7),
                                                format="JPG"), jpeg)
        sink = io.BytesIO()
        self.assertIsNone(kelvane.shadow(data, sink, dx=2, blur=1, color=(9, 8, 7)))
        self.assertEqual(sink.getvalue(), png)
        with self.assertRaisesRegex(ValueError, "format must be one of"):
            kelvane.rounded(data, radius=1, format="gif")
        with self.assertRaisesRegex(ValueError, "follows its name"):
            kelvane.rounded(data, self.out(), radius=1, format="png")
        with self.assertRaises(TypeError):
            kelvane.rounded(io.StringIO("text"), radius=1)
        self.assertEqual(sorted(os.listdir(self.dir.name)), ["file.jpg", "file.png", "in.pgm"])

    @unittest.skipUnless(importlib.util.find_spec("PIL"), "Pillow is not installed")
    def test_pillow_images_in_and_out(self):
        from PIL import Image
        kelvane.rounded(self.input, self.out(), radius=1)
        with Image.open(self.input) as picture:
            result = kelvane.rounded(picture, radius=1)
        self.assertIsInstance(result, Image.Image)
        with Image.open(self.out()) as expected:
            self.assertEqual((result.mode, result.size), (expected.mode, expected.size))
            self.assertEqual(result.tobytes(), expected.tobytes())

    def test_warnings_about_names_and_rotated_photos(self):
        with self.assertWarnsRegex(kelvane.KelvaneWarning, "gets PNG data"):
            kelvane.solid(self.input, self.out("out.webp"), border=1)
        kelvane.solid(self.input, self.out("plain.jpg"), border=0)
        with open(self.out("plain.jpg"), "rb") as file:
            plain = file.read()
        tiff = b"MM\0\x2a\0\0\0\x08\0\x01\x01\x12\0\x03\0\0\0\x01\0\x08\0\0\0\0\0\0"
        segment = b"Exif\0\0" + tiff
        rotated = (plain[:2] + b"\xff\xe1" + (len(segment) + 2).to_bytes(2, "big") + segment +
                   plain[2:])
        with self.assertWarns(kelvane.KelvaneWarning) as said:
            result = kelvane.solid(rotated, border=1)
        self.assertEqual(str(said.warning), "<bytes> is stored rotated (EXIF orientation 8); "
                                            "the output keeps the stored orientation")
        self.assertEqual(result, kelvane.solid(plain, border=1))

    def test_arguments_are_checked_before_the_library_is_called(self):
        cases = [
            (ValueError, kelvane.solid, (self.input, self.out("out.png\0.jpg")), {"border": 1}),
            (ValueError, kelvane.rounded, (self.input + "\0", self.out()), {"radius": 1}),
            (OverflowError, kelvane.solid, (self.input, self.out()), {"border": 2**40}),
            (OverflowError, kelvane.shadow, (self.input, self.out()), {"dx": -2**31 - 1}),
            (OverflowError, kelvane.solid, (self.input, self.out()),
             {"border": 1, "color": (0, 2**32 + 7, 0)}),
            (TypeError, kelvane.solid, (self.input, self.out()), {"border": 4.5}),
            (TypeError, kelvane.padding, (self.input, self.out()), {"padding": 1, "color": (1, 2)}),
            (TypeError, kelvane.sides, (self.input, self.out()), {"top": 1, "color": 7}),
            (TypeError, kelvane.solid, (self.input, self.out()), {"border": True}),
            (TypeError, kelvane.solid, (self.input, self.out()),
             {"border": 1, "color": (True, 0, 0)}),
            (TypeError, kelvane.solid, (self.input, self.out()),
             {"border": 1, "color": {"r": 1, "g": 2, "b": 3}}),
        ]
        for error, operation, paths, arguments in cases:
            with self.subTest(arguments=arguments, paths=paths):
                with self.assertRaises(error):
                    operation(*paths, **arguments)
                self.assertEqual(os.listdir(self.dir.name), ["in.pgm"])
        # The edge of the range reaches the library as it is, and is refused there.
        with self.assertRaisesRegex(kelvane.KelvaneError, "too large: 2147483647x3"):
            kelvane.shadow(self.input, self.out(), dx=2**31 - 1 - 4)

    def test_paths_are_utf8_on_windows_and_the_file_system_encoding_elsewhere(self):
        for name in ["Ünïcödé café.png", "φωτογραφία.png", "写真.png", "🖼️📷.png"]:
            with self.subTest(name=name):
                kelvane.rounded(self.input, self.out(name), radius=1)
                self.assertEqual(png_size(self.out(name)), (4, 3))
        with unittest.mock.patch.object(kelvane._job.sys, "platform", "win32"):
            self.assertEqual(kelvane._path("in", "写真.png"), "写真.png".encode("utf-8"))
            self.assertEqual(kelvane._path("in", b"caf\xe9.png"), b"caf\xe9.png")  # as given
        with unittest.mock.patch.object(kelvane._job.sys, "platform", "linux"):
            self.assertEqual(kelvane._path("in", "写真.png"), os.fsencode("写真.png"))

    def test_it_finds_the_library_and_names_what_it_tried(self):
        self.assertNotIn("KELVANE_LIBRARY", os.environ)  # the build tree's copy finds its own
        self.assertEqual(kelvane.run("solid", self.input, self.out(), 1, 2, 3, 4), None)
        missing = os.path.join(self.dir.name, "nowhere", "libtarnwick-kelvane.so.1")
        with self.assertRaises(OSError) as failed:
            kelvane.load(missing)
        self.assertIn(missing, str(failed.exception))
        self.assertIn("KELVANE_LIBRARY", str(failed.exception))
        kelvane.load()  # as it was

    def test_version_and_exports_match_the_library(self):
        with open(os.environ["KELVANE_EXPORTS"]) as exports:
            names = {line.strip() for line in exports if line.startswith("kelvane_")}
        self.assertEqual(set(kelvane._SIGNATURES), names)
        self.assertRegex(kelvane.__version__, r"^\d+\.\d+\.\d+$")
        for function in (kelvane.solid, kelvane.sides, kelvane.rounded, kelvane.shadow):
            self.assertTrue(function.__doc__)
        self.assertIn("PNG", kelvane.__doc__)
        with self.assertRaisesRegex(ValueError, "unknown operation"):
            kelvane.run("frame", self.input, self.out())
        with self.assertRaisesRegex(ValueError, "takes 1 numbers"):
            kelvane.run("rounded", self.input, self.out())

    def test_arguments_are_keywords(self):
        with self.assertRaises(TypeError):
            kelvane.solid(self.input, self.out(), 3)
        with self.assertRaisesRegex(TypeError, "unexpected keyword argument 'topp'"):
            kelvane.sides(self.input, self.out(), topp=3)

    def test_a_process_without_the_library_fails_its_jobs_alone(self):
        script = ("import kelvane, kelvane._library as l; l._candidates = lambda path: "
                  "iter(['none.so']); r = kelvane.run_job(kelvane.Job(1, 'rounded', 'in.pgm', "
                  "'a.png', (1,))); print(r.ok, r.message)")
        done = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True,
                              cwd=self.dir.name)
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertTrue(done.stdout.startswith("False the library cannot be loaded here"))


if __name__ == "__main__":
    unittest.main()
