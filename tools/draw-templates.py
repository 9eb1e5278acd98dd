#!/usr/bin/env python3
"""Draws the seven 100 x 100 pictures of the new-project dialog, one per label
template: the label's outline in solid cut lines, its dashed fold lines and
the shaded image area, scaled from the templates' millimetre geometry.
Writes resources/templates/*.png; run again only when a drawing changes."""
import pathlib
import struct
import zlib

SIZE = 100
BORDER = 6  # pixels kept free around the drawing
SUB = 4     # sub-samples per axis

BACKGROUND = (255, 255, 255)
IMAGE_AREA = (190, 208, 232)
CUT = (40, 40, 48)
FOLD = (40, 90, 200)
TITLE = (120, 130, 150)

# Per template: picture file, image rectangle (left, top, width, height), cut
# lines, fold lines and title bars, all in millimetres from the margin origin.
TEMPLATES = [
    ("cd-front", (0, 0, 121, 120),
     [((0, 0), (121, 0)), ((121, 0), (121, 120)), ((121, 120), (0, 120)), ((0, 120), (0, 0))],
     [], [(10.5, 15, 100, 20), (10.5, 35, 100, 16)]),
    ("cd-front-double", (121, 0, 121, 120),
     [((0, 0), (242, 0)), ((242, 0), (242, 120)), ((242, 120), (0, 120)), ((0, 120), (0, 0))],
     [((121, 0), (121, 120))], [(131.5, 15, 100, 20), (131.5, 35, 100, 16), (10.5, 10, 100, 16)]),
    ("cd-back", (6.5, 0, 138, 120),
     [((0, 0), (151, 0)), ((151, 0), (151, 120)), ((151, 120), (0, 120)), ((0, 120), (0, 0))],
     [((6.5, 0), (6.5, 120)), ((144.5, 0), (144.5, 120))],
     [(25.5, 10, 100, 16), (25.5, 25, 100, 12)]),
    ("dvd", (0, 0, 274, 184),
     [((0, 0), (274, 0)), ((274, 0), (274, 184)), ((274, 184), (0, 184)), ((0, 184), (0, 0))],
     [((130, 0), (130, 184)), ((144, 0), (144, 184))],
     [(159, 15, 100, 20), (159, 35, 100, 16), (15, 10, 100, 16)]),
    ("slim-dvd", (0, 0, 268, 184),
     [((0, 0), (268, 0)), ((268, 0), (268, 184)), ((268, 184), (0, 184)), ((0, 184), (0, 0))],
     [((130, 0), (130, 184)), ((138, 0), (138, 184))],
     [(153, 15, 100, 20), (153, 35, 100, 16), (15, 10, 100, 16)]),
    ("paper-sleeve", (15, 30, 124, 124),
     [((15, 154), (0, 146.5)), ((0, 146.5), (0, 37.5)), ((0, 37.5), (15, 30)),
      ((139, 30), (154, 37.5)), ((154, 37.5), (154, 146.5)), ((154, 146.5), (139, 154)),
      ((15, 30), (20, 0)), ((20, 0), (134, 0)), ((134, 0), (139, 30)),
      ((138, 154), (138, 274)), ((138, 274), (16, 274)), ((16, 274), (16, 154))],
     [((15, 30), (139, 30)), ((139, 30), (139, 154)), ((139, 154), (15, 154)),
      ((15, 154), (15, 30))],
     [(26, 50, 100, 20), (26, 70, 100, 16)]),
    # No cut lines of its own: the origami case is cut along the page edge.
    ("origami-cd-case", (25, 90, 124, 124),
     [((0, 0), (174, 0)), ((174, 0), (174, 254)), ((174, 254), (0, 254)), ((0, 254), (0, 0))],
     [((0, 90), (174, 90)), ((174, 214), (0, 214)), ((149, 254), (149, 0)),
      ((25, 254), (25, 0)), ((30, 0), (25, 25)), ((144, 0), (149, 25))],
     [(36, 105, 100, 20), (36, 125, 100, 16)]),
]


def segment_distance(p, a, b):
    """Distance of p from the segment ab and the position along it (0..1)."""
    ax, ay = a
    dx, dy = b[0] - ax, b[1] - ay
    length2 = dx * dx + dy * dy
    t = 0.0 if length2 == 0 else max(0.0, min(1.0, ((p[0] - ax) * dx + (p[1] - ay) * dy) / length2))
    qx, qy = ax + t * dx, ay + t * dy
    return ((p[0] - qx) ** 2 + (p[1] - qy) ** 2) ** 0.5, t * length2 ** 0.5


def draw(template):
    _, image, cuts, folds, titles = template
    points = [p for line in cuts + folds for p in line]
    left = min(x for x, _ in points)
    top = min(y for _, y in points)
    width = max(x for x, _ in points) - left
    height = max(y for _, y in points) - top
    scale = (SIZE - 2 * BORDER) / max(width, height)
    ox = (SIZE - width * scale) / 2 - left * scale
    oy = (SIZE - height * scale) / 2 - top * scale

    def to_px(p):
        return (ox + p[0] * scale, oy + p[1] * scale)

    def rect_px(r):
        x0, y0 = to_px((r[0], r[1]))
        x1, y1 = to_px((r[0] + r[2], r[1] + r[3]))
        return x0, y0, x1, y1

    cut_px = [(to_px(a), to_px(b)) for a, b in cuts]
    fold_px = [(to_px(a), to_px(b)) for a, b in folds]
    image_px = rect_px(image)
    # Titles as thin bars in the middle of their boxes, so they read as text.
    title_px = []
    for r in titles:
        x0, y0, x1, y1 = rect_px(r)
        mid, half = (y0 + y1) / 2, max(0.6, (y1 - y0) / 5)
        title_px.append((x0 + (x1 - x0) * 0.15, mid - half, x1 - (x1 - x0) * 0.15, mid + half))

    def colour_at(x, y):
        for a, b in cut_px:
            if segment_distance((x, y), a, b)[0] <= 0.6:
                return CUT
        for a, b in fold_px:
            d, along = segment_distance((x, y), a, b)
            if d <= 0.5 and int(along // 2.5) % 2 == 0:
                return FOLD
        for x0, y0, x1, y1 in title_px:
            if x0 <= x <= x1 and y0 <= y <= y1:
                return TITLE
        x0, y0, x1, y1 = image_px
        if x0 <= x <= x1 and y0 <= y <= y1:
            return IMAGE_AREA
        return BACKGROUND

    rows = []
    for py in range(SIZE):
        row = bytearray([0])  # filter: none
        for px in range(SIZE):
            acc = [0, 0, 0]
            for sy in range(SUB):
                for sx in range(SUB):
                    c = colour_at(px + (sx + 0.5) / SUB, py + (sy + 0.5) / SUB)
                    for i in range(3):
                        acc[i] += c[i]
            row += bytes(round(v / (SUB * SUB)) for v in acc)
        rows.append(bytes(row))
    return b"".join(rows)


def chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))


def main():
    folder = pathlib.Path(__file__).resolve().parent.parent / "resources/templates"
    folder.mkdir(parents=True, exist_ok=True)
    for template in TEMPLATES:
        png = b"\x89PNG\r\n\x1a\n"
        png += chunk(b"IHDR", struct.pack(">IIBBBBB", SIZE, SIZE, 8, 2, 0, 0, 0))
        png += chunk(b"IDAT", zlib.compress(draw(template), 9))
        png += chunk(b"IEND", b"")
        (folder / (template[0] + ".png")).write_bytes(png)


if __name__ == "__main__":
    main()
