#!/usr/bin/env python3
"""Draws the program's 48 x 48 icon: a disc half covered by a printed label
with two title lines. Writes src/app/pictures/icon48.png; run again only
when the drawing changes."""
import math
import pathlib
import struct
import zlib

SIZE = 48
SUB = 4  # sub-samples per axis


def colour_at(x, y):
    """The straight RGBA colour of one sample point, or None outside."""
    # The label card in front: a rounded rectangle on the lower right.
    if 20 <= x <= 46 and 22 <= y <= 46:
        if 24 <= x <= 42 and 27 <= y <= 30:
            return (40, 70, 140, 255)      # first title line
        if 24 <= x <= 38 and 33 <= y <= 35:
            return (90, 110, 160, 255)     # second title line
        if 24 <= x <= 42 and 39 <= y <= 40:
            return (150, 160, 180, 255)    # contents line
        edge = x < 21 or x > 45 or y < 23 or y > 45
        return (110, 110, 120, 255) if edge else (252, 252, 248, 255)
    # The disc behind: a ring from the hole to the rim, lighter to the top left.
    cx, cy = 22.0, 22.0
    r = math.hypot(x - cx, y - cy)
    if r > 20.5 or r < 3.5:
        return None
    if r > 19.5 or r < 4.5:
        return (100, 105, 115, 255)
    shade = 0.5 + 0.5 * math.cos(math.atan2(y - cy, x - cx) + 2.3)
    g = int(165 + 70 * shade)
    return (g - 10, g, min(255, g + 12), 255)


def render():
    rows = []
    for py in range(SIZE):
        row = bytearray([0])  # filter: none
        for px in range(SIZE):
            acc = [0, 0, 0, 0]
            for sy in range(SUB):
                for sx in range(SUB):
                    c = colour_at(px + (sx + 0.5) / SUB, py + (sy + 0.5) / SUB)
                    if c is None:
                        continue
                    for i in range(3):
                        acc[i] += c[i] * c[3]
                    acc[3] += c[3]
            n = SUB * SUB
            if acc[3] == 0:
                row += bytes(4)
            else:
                row += bytes([round(acc[0] / acc[3]), round(acc[1] / acc[3]),
                              round(acc[2] / acc[3]), round(acc[3] / n)])
        rows.append(bytes(row))
    return b"".join(rows)


def chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))


def main():
    png = b"\x89PNG\r\n\x1a\n"
    png += chunk(b"IHDR", struct.pack(">IIBBBBB", SIZE, SIZE, 8, 6, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(render(), 9))
    png += chunk(b"IEND", b"")
    out = pathlib.Path(__file__).resolve().parent.parent / "src/app/pictures/icon48.png"
    out.write_bytes(png)


if __name__ == "__main__":
    main()
