#!/usr/bin/env python3
"""Draws the document's own cursors as 32 x 32 PNG files.

Each cursor is black ink with a one-pixel white halo, so that it shows on
any page colour. The hot spots live in the cursor table of
src/platform/qt/Cursors.cpp; keep them in step with the drawings here.

    tools/make-cursors.py resources/cursors
"""
import math
import struct
import sys
import zlib
from pathlib import Path

SIZE = 32


class Ink:
    def __init__(self):
        self.px = set()

    def dot(self, x, y):
        if 0 <= x < SIZE and 0 <= y < SIZE:
            self.px.add((x, y))

    def line(self, x0, y0, x1, y1):
        dx, dy = abs(x1 - x0), -abs(y1 - y0)
        sx, sy = (1 if x0 < x1 else -1), (1 if y0 < y1 else -1)
        err = dx + dy
        while True:
            self.dot(x0, y0)
            if x0 == x1 and y0 == y1:
                return
            e2 = 2 * err
            if e2 >= dy:
                err += dy
                x0 += sx
            if e2 <= dx:
                err += dx
                y0 += sy

    def rect(self, l, t, r, b):
        self.line(l, t, r, t)
        self.line(r, t, r, b)
        self.line(r, b, l, b)
        self.line(l, b, l, t)

    def fill(self, l, t, r, b):
        for y in range(t, b + 1):
            for x in range(l, r + 1):
                self.dot(x, y)

    def arc(self, cx, cy, rx, ry, a0, a1):
        steps = 400
        for i in range(steps + 1):
            a = math.radians(a0 + (a1 - a0) * i / steps)
            self.dot(round(cx + rx * math.cos(a)), round(cy - ry * math.sin(a)))

    def triangle(self, pts):
        ys = [p[1] for p in pts]
        for y in range(min(ys), max(ys) + 1):
            for x in range(SIZE):
                if inside(pts, x, y):
                    self.dot(x, y)

    def cross(self, cx, cy, arm):
        self.line(cx - arm, cy, cx - 2, cy)
        self.line(cx + 2, cy, cx + arm, cy)
        self.line(cx, cy - arm, cx, cy - 2)
        self.line(cx, cy + 2, cx, cy + arm)
        self.dot(cx, cy)


def inside(pts, x, y):
    def side(a, b):
        return (b[0] - a[0]) * (y - a[1]) - (b[1] - a[1]) * (x - a[0])
    s = [side(pts[i], pts[(i + 1) % 3]) for i in range(3)]
    return all(v >= 0 for v in s) or all(v <= 0 for v in s)


def png(ink):
    halo = set()
    for (x, y) in ink.px:
        for dx in (-1, 0, 1):
            for dy in (-1, 0, 1):
                q = (x + dx, y + dy)
                if 0 <= q[0] < SIZE and 0 <= q[1] < SIZE and q not in ink.px:
                    halo.add(q)
    raw = bytearray()
    for y in range(SIZE):
        raw.append(0)
        for x in range(SIZE):
            if (x, y) in ink.px:
                raw += b"\x00\x00\x00\xff"
            elif (x, y) in halo:
                raw += b"\xff\xff\xff\xff"
            else:
                raw += b"\x00\x00\x00\x00"

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    return (b"\x89PNG\r\n\x1a\n"
            + chunk(b"IHDR", struct.pack(">IIBBBBB", SIZE, SIZE, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(bytes(raw), 9))
            + chunk(b"IEND", b""))


def rotation():
    i = Ink()
    for r in (9, 10):
        i.arc(16, 16, r, r, 100, 360)
    i.triangle([(11, 2), (11, 13), (17, 7)])
    return i


def sizecopy():
    i = Ink()
    i.line(12, 4, 12, 20)
    i.line(4, 12, 20, 12)
    i.triangle([(12, 1), (9, 5), (15, 5)])
    i.triangle([(12, 23), (9, 19), (15, 19)])
    i.triangle([(1, 12), (5, 9), (5, 15)])
    i.triangle([(23, 12), (19, 9), (19, 15)])
    i.rect(20, 20, 29, 29)
    i.line(22, 24, 27, 24)
    i.line(22, 25, 27, 25)
    i.line(24, 22, 24, 27)
    i.line(25, 22, 25, 27)
    return i


def crossed(extra=None):
    i = Ink()
    i.cross(8, 8, 7)
    if extra:
        extra(i)
    return i


def text_glyph(i):
    # A capital T with serifs.
    i.line(19, 18, 29, 18)
    i.line(19, 19, 19, 20)
    i.line(29, 19, 29, 20)
    i.line(24, 18, 24, 29)
    i.line(23, 18, 23, 29)
    i.line(21, 29, 26, 29)


def image_glyph(i):
    i.rect(17, 18, 30, 29)
    i.triangle([(18, 28), (22, 22), (26, 28)])
    i.triangle([(23, 28), (26, 24), (29, 28)])
    i.fill(26, 20, 27, 21)


CURSORS = {
    "ROTATION": rotation,
    "SIZECOPY": sizecopy,
    "CRDTPCROSS": lambda: crossed(),
    "CRDTPCROSSLINE": lambda: crossed(lambda i: i.line(18, 29, 29, 18)),
    "CRDTPCROSSARROW": lambda: crossed(lambda i: (
        i.line(18, 29, 29, 18), i.triangle([(29, 18), (23, 19), (28, 24)]))),
    "CRDTPCROSSRECTANGLE": lambda: crossed(lambda i: i.rect(17, 19, 30, 28)),
    "CRDTPCROSSELLIPSE": lambda: crossed(lambda i: i.arc(23.5, 23.5, 6.5, 5, 0, 360)),
    "CRDTPCROSSTEXT": lambda: crossed(text_glyph),
    "CRDTPCROSSIMAGE": lambda: crossed(image_glyph),
}


def main():
    out = Path(sys.argv[1] if len(sys.argv) > 1 else "resources/cursors")
    out.mkdir(parents=True, exist_ok=True)
    for name, draw in CURSORS.items():
        (out / (name.lower() + ".png")).write_bytes(png(draw()))


if __name__ == "__main__":
    main()
