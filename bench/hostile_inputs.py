"""Writes the inputs of bench/hostile_inputs.sh into a folder:

- bombs: small files that claim far more than they hold (each must be refused at once);
- the largest files that pass every check: a picture of one colour, 32768 x 16383, in the
  formats that compress it best, and a progressive JPEG whose 1000 scans each visit every
  block, padded with just enough data to pass.

    python3 hostile_inputs.py <folder>
"""
import os
import struct
import sys
import zlib

WIDE, HIGH = 32768, 16383


def jpeg_bits(bits):
    """Packs a string of '0'/'1' into entropy-coded bytes (padded with 1s, 0xFF stuffed)."""
    bits += "1" * (-len(bits) % 8)
    out = bytearray()
    for i in range(0, len(bits), 8):
        byte = int(bits[i:i + 8], 2)
        out.append(byte)
        if byte == 0xFF:
            out.append(0)
    return bytes(out)


def segment(marker, payload):
    return bytes([0xFF, marker]) + struct.pack(">H", len(payload) + 2) + payload


def progressive_jpeg(width, height, scans, padding=0):
    """A grey progressive JPEG: a DC scan of 1 bit per block, then `scans` AC refinement scans
    that each visit every block through runs of empty blocks (EOB runs of 32767)."""
    blocks = ((width + 7) // 8) * ((height + 7) // 8)
    data = segment(0xDB, b"\x00" + b"\x01" * 64)
    data += segment(0xC2, struct.pack(">BHHB", 8, height, width, 1) + b"\x01\x11\x00")
    data += segment(0xC4, b"\x00" + b"\x01" + b"\x00" * 15 + b"\x00")  # DC: category 0 in 1 bit
    data += segment(0xC4, b"\x10" + b"\x01" + b"\x00" * 15 + b"\xE0")  # AC: EOB14 in 1 bit
    data += segment(0xDA, b"\x01\x01\x00\x00\x00\x00") + jpeg_bits("0" * blocks)
    data += b"\x00" * padding
    runs = -(-blocks // 32767)
    refinement = jpeg_bits(("0" + "1" * 14) * runs)
    for _ in range(scans):
        data += segment(0xDA, b"\x01\x01\x00\x01\x3F\x10") + refinement
    return b"\xFF\xD8" + data + b"\xFF\xD9"


def flat_png(width, height, bits=8, interlaced=False):
    """Grey of one colour; at 1 bit a pixel the rows are 32 times smaller than the picture
    they decode to (stb expands them to a byte a pixel, then to RGBA)."""
    passes = ([(0, 0, 8, 8), (4, 0, 8, 8), (0, 4, 4, 8), (2, 0, 4, 4), (0, 2, 2, 4), (1, 0, 2, 2),
               (0, 1, 1, 2)] if interlaced else [(0, 0, 1, 1)])
    compressor = zlib.compressobj(9)
    idat = b""
    for x0, y0, dx, dy in passes:
        pass_width, pass_height = -(-(width - x0) // dx), -(-(height - y0) // dy)
        row = b"\x00" * (1 + -(-pass_width * bits // 8))
        idat += b"".join(compressor.compress(row) for _ in range(max(pass_height, 0)))
    idat += compressor.flush()

    def chunk(kind, payload):
        return (struct.pack(">I", len(payload)) + kind + payload +
                struct.pack(">I", zlib.crc32(kind + payload)))
    header = struct.pack(">IIBBBBB", width, height, bits, 0, 0, 0, 1 if interlaced else 0)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", idat) + chunk(b"IEND", b"")


def flat_rle_tga(width, height):
    header = struct.pack("<BBBHHBHHHHBB", 0, 0, 11, 0, 0, 0, 0, 0, width, height, 8, 0)
    packets, rest = divmod(width * height, 128)
    return header + b"\xFF\x60" * packets + (bytes([0x80 + rest - 1, 0x60]) if rest else b"")


def flat_gif(width, height, reuse=False):
    """LZW at its densest: after a clear code and one pixel, each code names the next table
    entry, one pixel longer than the last string (the decoder's 'KwKwK' case). With `reuse`, a
    full table is not cleared at once: its longest entry is named again while the decoder still
    takes codes (it counts up to 8192 of them), about 3,800 pixels for 12 bits."""
    codes = bytearray()
    state = {"bits": 0, "held": 0, "size": 9}

    def put(code):
        state["bits"] |= code << state["held"]
        state["held"] += state["size"]
        while state["held"] >= 8:
            codes.append(state["bits"] & 255)
            state["bits"] >>= 8
            state["held"] -= 8

    total, done, avail, last, longest = width * height, 0, 4096, 0, 0
    while done < total:
        if (avail == 4096 and not (reuse and longest)) or avail >= 8000:  # start again
            put(256)
            state["size"], avail, longest = 9, 258, 0
            put(0)
            done, last = done + 1, 1
            continue
        if avail >= 4096:  # the full table's longest entry again; each code still takes a slot
            length = longest if longest <= total - done else 1
            put(4095 if length > 1 else 0)
            done, avail = done + length, avail + 1
            continue
        length = last + 1 if last + 1 <= total - done else 1
        put(avail if length > 1 else 0)
        done, last, avail = done + length, length, avail + 1
        if avail == 4096:
            longest = length
        if avail & ((1 << state["size"]) - 1) == 0 and avail <= 0xFFF:
            state["size"] += 1
    put(257)
    if state["held"]:
        codes.append(state["bits"] & 255)
    blocks = b"".join(bytes([len(codes[i:i + 255])]) + codes[i:i + 255]
                      for i in range(0, len(codes), 255))
    return (b"GIF89a" + struct.pack("<HHBBB", width, height, 0xF7, 0, 0) + bytes(768) +
            b"," + struct.pack("<HHHHB", 0, 0, width, height, 0) + b"\x08" + blocks + b"\x00;")


def main(folder):
    os.makedirs(folder, exist_ok=True)

    def write(name, data):
        with open(os.path.join(folder, name), "wb") as file:
            file.write(data)

    # The bombs.
    write("bomb-progressive-no-scan.jpg", b"\xFF\xD8" + segment(0xC2, struct.pack(
        ">BHHB", 8, 20000, 30000, 3) + b"\x01\x11\x00\x02\x11\x00\x03\x11\x00") + b"\xFF\xD9")
    write("bomb-rle-header.tga", struct.pack("<BBBHHBHHHHBB", 0, 0, 10, 0, 0, 0, 0, 0,
                                             WIDE, HIGH, 32, 8))
    write("bomb-raw-header.psd", b"8BPS" + struct.pack(">H6xHIIHH", 1, 3, 17000, 30000, 8, 3) +
          bytes(14))
    write("bomb-2850-scans.jpg", progressive_jpeg(4000, 3000, 2850))
    with open(os.path.join(folder, "bomb-sparse-gigabyte.png"), "wb") as file:
        file.write(b"\x89PNG\r\n\x1a\n")  # then a gigabyte of holes
        file.truncate(1 << 30)
    # The largest files that pass.
    write("flat-baseline.pgm", b"P5 %d %d 255\n" % (WIDE, HIGH))  # header only: cjpeg adds rows
    write("flat.png", flat_png(WIDE, HIGH))
    write("flat.tga", flat_rle_tga(WIDE, HIGH))
    write("flat.gif", flat_gif(WIDE, HIGH))
    write("flat-reused-table.gif", flat_gif(WIDE, HIGH, reuse=True))
    write("flat-1bit.png", flat_png(WIDE, HIGH, bits=1))
    write("flat-1bit-interlaced.png", flat_png(WIDE, HIGH, bits=1, interlaced=True))
    blocks = 512 * 512
    needed = (1000 * blocks) // 128  # the data the checks ask of 1000 passes over every block
    write("refinement-1000.jpg", progressive_jpeg(4096, 4096, 999, padding=needed))


if __name__ == "__main__":
    main(sys.argv[1])
