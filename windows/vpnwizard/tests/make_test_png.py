#!/usr/bin/env python3
"""Writes the small PNG picture the skinned-window test shows from its resources: a red square with a
transparent border, so the test can tell the picture from the background it was drawn over."""
import struct
import sys
import zlib

WIDTH, HEIGHT, BORDER = 24, 16, 4


def chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)


rows = b""
for y in range(HEIGHT):
    rows += b"\x00"
    for x in range(WIDTH):
        inside = BORDER <= x < WIDTH - BORDER and BORDER <= y < HEIGHT - BORDER
        rows += bytes((200, 30, 30, 255)) if inside else bytes((0, 0, 0, 0))

png = b"\x89PNG\r\n\x1a\n"
png += chunk(b"IHDR", struct.pack(">IIBBBBB", WIDTH, HEIGHT, 8, 6, 0, 0, 0))
png += chunk(b"IDAT", zlib.compress(rows, 9))
png += chunk(b"IEND", b"")
with open(sys.argv[1], "wb") as out:
    out.write(png)
