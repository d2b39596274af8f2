#!/usr/bin/env python3
"""Writes the program's hand cursor (cursor resource 113) into OUT_DIR as cursor113.cur: a plain
drawing, the same bytes on every run. The program's pictures and icon come from the art generator.

    make_resources.py OUT_DIR
"""

import os
import struct
import sys


def box(x, y, x0, y0, x1, y1):
    return x0 <= x < x1 and y0 <= y < y1


def icon_image(size, pixel):
    # One 32-bit cursor image: the information header with double height, pixels, AND mask.
    info = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = bytearray()
    for y in range(size - 1, -1, -1):
        for x in range(size):
            r, g, b, a = pixel(x, y)
            pixels += bytes((b, g, r, a))
    mask_row = ((size + 31) // 32) * 4
    mask = bytearray()
    for y in range(size - 1, -1, -1):
        row = bytearray(mask_row)
        for x in range(size):
            if pixel(x, y)[3] == 0:
                row[x // 8] |= 0x80 >> (x % 8)
        mask += row
    return info + bytes(pixels) + bytes(mask)


def cursor_file(size, pixel, hotspot):
    # A cursor file (type 2) with one image; its directory entry carries the hot spot.
    image = icon_image(size, pixel)
    header = struct.pack("<HHH", 0, 2, 1)
    entry = struct.pack("<BBBBHHII", size, size, 0, 0, hotspot[0], hotspot[1], len(image), 6 + 16)
    return header + entry + image


def hand_cursor(x, y):
    # A pointing finger over a palm.
    if box(x, y, 6, 0, 10, 12) or box(x, y, 2, 12, 18, 26):
        edge = x in (6, 9) and y < 12 or x in (2, 17) or y in (25,)
        return (0, 0, 0, 255) if edge else (255, 255, 255, 255)
    return (0, 0, 0, 0)


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    with open(os.path.join(out, "cursor113.cur"), "wb") as f:
        f.write(cursor_file(32, hand_cursor, hotspot=(8, 0)))


if __name__ == "__main__":
    main()
