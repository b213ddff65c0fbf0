"""Tests of the Python binding: every operation through the real library, and a refusal.

    KELVANE_LIBRARY=<built library> python3 -m unittest test_kelvane
"""
import os
import struct
import tempfile
import unittest

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

    def test_refusals_raise_with_the_library_message(self):
        with self.assertRaises(kelvane.KelvaneError) as refused:
            kelvane.solid(self.input, self.out(), border=-1)
        self.assertEqual(str(refused.exception), "border width must be >= 0 (got -1)")
        missing = os.path.join(self.dir.name, "missing.png")
        with self.assertRaisesRegex(kelvane.KelvaneError, "can't fopen"):
            kelvane.shadow(missing, self.out(), blur=2)
        self.assertFalse(os.path.exists(self.out()))

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
        ]
        for error, operation, paths, arguments in cases:
            with self.subTest(arguments=arguments, paths=paths):
                with self.assertRaises(error):
                    operation(*paths, **arguments)
                self.assertEqual(os.listdir(self.dir.name), ["in.pgm"])
        # The edge of the range reaches the library as it is, and is refused there.
        with self.assertRaisesRegex(kelvane.KelvaneError, "too large: 2147483647x3"):
            kelvane.shadow(self.input, self.out(), dx=2**31 - 1 - 4)

    def test_arguments_are_keywords(self):
        with self.assertRaises(TypeError):
            kelvane.solid(self.input, self.out(), 3)


if __name__ == "__main__":
    unittest.main()
