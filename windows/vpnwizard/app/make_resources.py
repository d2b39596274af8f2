#!/usr/bin/env python3
"""Writes the small pictures the program carries among its resources into OUT_DIR:
the two location pictures of the location page (bitmaps 348 and 349), the program icon (104) and the
hand cursor (113). Plain drawings, the same bytes on every run.

    make_resources.py OUT_DIR
"""

import os
import struct
import sys

W, H = 280, 171  # the location pictures


def bmp24(width, height, pixel):
    row = (width * 3 + 3) & ~3
    body = bytearray()
    for y in range(height - 1, -1, -1):
        line = bytearray()
        for x in range(width):
            r, g, b = pixel(x, y)
            line += bytes((b, g, r))
        line += b"\0" * (row - len(line))
        body += line
    header = struct.pack("<2sIHHI", b"BM", 54 + len(body), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(body), 2835, 2835, 0, 0)
    return header + info + bytes(body)


def box(x, y, x0, y0, x1, y1):
    return x0 <= x < x1 and y0 <= y < y1


def location_picture(local):
    # Two routers joined by a tunnel; the PC sits beside Router 1 (local) or out on the Internet.
    def pixel(x, y):
        if box(x, y, 30, 70, 90, 100) or box(x, y, 190, 70, 250, 100):
            return (41, 113, 185)
        if box(x, y, 90, 82, 190, 88):
            return (240, 160, 48)
        pc = (40, 110, 70, 135) if local else (125, 20, 155, 45)
        if box(x, y, *pc):
            return (40, 52, 71)
        return (249, 248, 249) if local else (244, 244, 244)

    return bmp24(W, H, pixel)


def icon_image(size, pixel, and_mask=None):
    # One 32-bit icon/cursor image: the information header with double height, pixels, AND mask.
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


def icon_file(kind, size, pixel, hotspot=(0, 0)):
    image = icon_image(size, pixel)
    header = struct.pack("<HHH", 0, kind, 1)
    planes_or_x, bits_or_y = (1, 32) if kind == 1 else hotspot
    entry = struct.pack("<BBBBHHII", size, size, 0, 0, planes_or_x, bits_or_y, len(image), 6 + 16)
    return header + entry + image


def program_icon(x, y):
    if box(x, y, 4, 10, 28, 22):
        return (41, 113, 185, 255)
    if box(x, y, 8, 14, 24, 18):
        return (240, 160, 48, 255)
    return (0, 0, 0, 0)


def hand_cursor(x, y):
    # A pointing finger over a palm.
    if box(x, y, 6, 0, 10, 12) or box(x, y, 2, 12, 18, 26):
        edge = x in (6, 9) and y < 12 or x in (2, 17) or y in (25,)
        return (0, 0, 0, 255) if edge else (255, 255, 255, 255)
    return (0, 0, 0, 0)


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    files = {
        "bitmap348.bmp": location_picture(True),
        "bitmap349.bmp": location_picture(False),
        "icon104.ico": icon_file(1, 32, program_icon),
        "cursor113.cur": icon_file(2, 32, hand_cursor, hotspot=(8, 0)),
    }
    for name, data in files.items():
        with open(os.path.join(out, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
