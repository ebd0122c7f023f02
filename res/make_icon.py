#!/usr/bin/env python3
"""Draws the program's icon, a teal "Q" on a round badge, and writes it as res/qelm.ico.

The icon is ours: it is drawn here pixel by pixel, 16x16 and 32x32, 32 bits with alpha.
Run it again after changing the drawing; the .ico it writes is committed beside it.
"""
import math
import struct
import sys
from pathlib import Path

TEAL = (0x1F, 0x8A, 0x8A)
WHITE = (0xFF, 0xFF, 0xFF)


def pixel(size, x, y):
    """Colour and alpha of one pixel, sampled at its centre."""
    c = (size - 1) / 2.0
    dx, dy = x - c, y - c
    r = math.hypot(dx, dy) / (size / 2.0)
    if r > 0.98:
        return (0, 0, 0, 0)
    # The letter: a ring and a tail running to the lower right.
    ring = 0.38 <= r <= 0.62
    tail = dx > 0 and dy > 0 and abs(dx - dy) < size * 0.09 and 0.35 <= r <= 0.9
    colour = WHITE if ring or tail else TEAL
    return (*colour, 0xFF)


def bitmap(size):
    """A BITMAPINFOHEADER, bottom-up BGRA rows and an all-zero AND mask."""
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    rows = bytearray()
    for y in reversed(range(size)):
        for x in range(size):
            r, g, b, a = pixel(size, x, y)
            rows += bytes((b, g, r, a))
    mask_row = ((size + 31) // 32) * 4
    return header + bytes(rows) + bytes(mask_row * size)


def icon(sizes):
    images = [bitmap(s) for s in sizes]
    out = struct.pack("<HHH", 0, 1, len(sizes))
    offset = 6 + 16 * len(sizes)
    for size, image in zip(sizes, images):
        out += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    return out + b"".join(images)


if __name__ == "__main__":
    target = Path(sys.argv[1]) if len(sys.argv) > 1 else Path(__file__).with_name("qelm.ico")
    target.write_bytes(icon([16, 32]))
