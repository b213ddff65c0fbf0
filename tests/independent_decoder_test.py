"""Opens every output of corpus_test with Pillow, a decoder independent of stb: each must open
with the recorded size and format, and each PNG must decode to the same RGBA bytes as stb
decoded. Exits 77 (skipped) when corpus_test wrote nothing.

    python3 independent_decoder_test.py <manifest.tsv>
"""
import sys

from PIL import Image


def main(manifest):
    checked = compared = 0
    with open(manifest) as lines:
        for line in lines:
            path, width, height, ext, rgba = line.rstrip("\n").split("\t")
            with Image.open(path) as picture:
                picture.load()
                want_format = {"png": "PNG", "jpg": "JPEG", "bmp": "BMP"}[ext]
                if picture.format != want_format or picture.size != (int(width), int(height)):
                    sys.exit(f"{path}: {picture.format} {picture.size}, "
                             f"want {want_format} {width}x{height}")
                if rgba != "-":
                    with open(rgba, "rb") as stb_pixels:
                        if picture.convert("RGBA").tobytes() != stb_pixels.read():
                            sys.exit(f"{path}: Pillow and stb decode different pixels")
                    compared += 1
            checked += 1
    if checked == 0:
        print("no outputs to check (no test corpus)")
        sys.exit(77)
    print(f"Pillow opened {checked} outputs; {compared} PNGs decode to stb's pixels")


if __name__ == "__main__":
    main(sys.argv[1])
