"""Calls of every kind the binding's types describe, for mypy --strict: this file must check
clean, and typing_errors.py must not (test_types runs both)."""
import io
import pathlib
from typing import List

import kelvane


def every_kind_of_call() -> List[bytes]:
    kelvane.solid("in.pgm", "out.png", border=1)
    kelvane.shadow(pathlib.Path("in.pgm"), b"out.png", dx=1, dy=-2, blur=3, color=(1, 2, 3))
    png: bytes = kelvane.rounded(b"P5 1 1 255\n\0", radius=3)
    jpeg: bytes = kelvane.sides(io.BytesIO(png), top=1, format="jpg")
    written: None = kelvane.padding(bytearray(png), io.BytesIO(), padding=2, format="bmp")
    try:
        kelvane.run("solid", "in.pgm", "out.png", 1, 2, 3, 4)
    except kelvane.KelvaneFileError as error:
        print(error.errno, error.filename, error.hint, error.message, written)
    results: List[kelvane.Result] = [kelvane.run_job(job) for job in kelvane.parse_jobs("")]
    print([result.hint for result in results], sorted(kelvane.OPERATIONS))
    return [png, jpeg]
