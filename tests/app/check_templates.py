#!/usr/bin/env python3
"""Checks the seven template files against a table written by hand from the
template definitions, reading them with the independent archive reader and
xml.etree only.

  check_templates.py FOLDER DEFAULT_JPG   prints "ok" or the violations;
                                          exits 1 on any violation.
"""
import math
import os
import sys
import xml.etree.ElementTree as ET

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "foundation"))
import storage_reader  # noqa: E402

PT = 25.4 / 72
# style: font, points, bold, vertical alignment (memo only)
STYLES = {
    "A": ("Tahoma", 36, True, 0),
    "B": ("Tahoma", 24, True, 0),
    "C": ("Tahoma", 18, False, 0),
    "D": ("Tahoma", 18, False, 1),
    "E": ("Tahoma", 14, False, 1),
    "F": ("Verdana", 14, False, 0),
}
T = "_TMP_"


def frame(l, t, w, h, a=0):
    return (l, t, w, h, a)


def cut(*p):
    return (1, p)


def fold(*p):
    return (2, p)


def box(w, h):
    return [cut(0, 0, w, 0), cut(w, 0, w, h), cut(w, h, 0, h), cut(0, h, 0, 0)]


M = (6, 6, 4, 4)
TEMPLATES = [
    ("CD Front", 131, 130, M, "CD", False, frame(0, 0, 121, 120),
     [("text", "A", T, frame(10.5, 15, 100, 20)), ("text", "B", T, frame(10.5, 35, 100, 16)),
      ("text", "C", "", frame(10.5, 50, 100, 12)), ("text", "C", "", frame(10.5, 58, 100, 12)),
      ("memo", "F", "", frame(10.5, 70, 100, 30))],
     box(121, 120)),
    ("CD Front Double", 252, 130, M, "CD", False, frame(121, 0, 121, 120),
     [("text", "A", T, frame(131.5, 15, 100, 20)), ("text", "B", T, frame(131.5, 35, 100, 16)),
      ("text", "B", T, frame(10.5, 10, 100, 16)), ("text", "C", "", frame(10.5, 21, 100, 12)),
      ("memo", "F", T, frame(10.5, 30, 100, 70))],
     box(242, 120) + [fold(121, 0, 121, 120)]),
    ("CD Back", 161, 130, M, "CD", False, frame(6.5, 0, 138, 120),
     [("text", "B", T, frame(25.5, 10, 100, 16)), ("text", "C", T, frame(25.5, 25, 100, 12)),
      ("memo", "E", T, frame(-58, 56.75, 121, 7, 90)), ("memo", "E", T, frame(88, 56.75, 121, 7, 270)),
      ("memo", "F", T, frame(25.5, 36, 100, 70))],
     box(151, 120) + [fold(6.5, 0, 6.5, 120), fold(144.5, 0, 144.5, 120)]),
    ("DVD", 284, 194, M, "DVD", False, frame(0, 0, 274, 184),
     [("text", "A", T, frame(159, 15, 100, 20)), ("text", "B", T, frame(159, 35, 100, 16)),
      ("text", "B", T, frame(15, 10, 100, 16)), ("memo", "D", T, frame(45, 85, 184, 12, 90)),
      ("memo", "F", T, frame(15, 30, 100, 120))],
     box(274, 184) + [fold(130, 0, 130, 184), fold(144, 0, 144, 184)]),
    ("Slim DVD", 278, 194, M, "DVD", False, frame(0, 0, 268, 184),
     [("text", "A", T, frame(153, 15, 100, 20)), ("text", "B", T, frame(153, 35, 100, 16)),
      ("text", "B", T, frame(15, 10, 100, 16)), ("memo", "D", T, frame(41, 88, 184, 9, 90)),
      ("memo", "F", T, frame(15, 30, 100, 70))],
     box(268, 184) + [fold(130, 0, 130, 184), fold(138, 0, 138, 184)]),
    ("Paper Sleeve", 164, 284, M, "Paper Case", False, frame(15, 30, 124, 124),
     [("text", "A", T, frame(26, 50, 100, 20)), ("text", "B", T, frame(26, 70, 100, 16)),
      ("text", "B", T, frame(26, 10, 100, 16, 180)), ("text", "C", T, frame(26, 2, 100, 12, 180)),
      ("memo", "F", T, frame(26, 160, 100, 70, 180))],
     [fold(15, 30, 139, 30), fold(139, 30, 139, 154), fold(139, 154, 15, 154), fold(15, 154, 15, 30),
      cut(15, 154, 0, 146.5), cut(0, 146.5, 0, 37.5), cut(0, 37.5, 15, 30), cut(139, 30, 154, 37.5),
      cut(154, 37.5, 154, 146.5), cut(154, 146.5, 139, 154), cut(15, 30, 20, 0), cut(20, 0, 134, 0),
      cut(134, 0, 139, 30), cut(138, 154, 138, 274), cut(138, 274, 16, 274), cut(16, 274, 16, 154)]),
    ("Origami CD Case", 174, 254, (0, 0, 0, 0), "Paper Case", True, frame(25, 90, 124, 124),
     [("text", "A", T, frame(36, 105, 100, 20)), ("text", "B", T, frame(36, 125, 100, 16)),
      ("text", "B", T, frame(36, 65, 100, 16, 180)), ("text", "C", T, frame(36, 57, 100, 12, 180)),
      ("memo", "F", T, frame(36, 220, 100, 30, 180))],
     [fold(0, 90, 174, 90), fold(174, 214, 0, 214), fold(149, 254, 149, 0), fold(25, 254, 25, 0),
      fold(30, 0, 25, 25), fold(144, 0, 149, 25)]),
]
COUNTS = [11, 12, 13, 13, 13, 23, 13]

errors = []


def check(cond, what):
    if not cond:
        errors.append(what)


def parse(body):
    if body.startswith(b"\xef\xbb\xbf"):
        body = body[3:]
    return ET.fromstring(body)


def text(node, name, default=None):
    child = node.find(name)
    return default if child is None else (child.text or "")


def num(node, name, default=0.0):
    value = text(node, name)
    return default if value is None else float(value)


def flag(node, name, default):
    value = text(node, name)
    return default if value is None else {"True": True, "False": False}[value]


def near(a, b):
    return abs(a - b) < 1e-3


def turned(l, t, w, h, a):
    """Where a frame turned about its centre by a degrees keeps its corner."""
    cx, cy = l + w / 2, t + h / 2
    r = math.radians(a)
    c, s = math.cos(r), math.sin(r)
    return cx - (w / 2 * c + h / 2 * s), cy - (-w / 2 * s + h / 2 * c)


def main(folder, default_jpg):
    picture = open(default_jpg, "rb").read()
    for kind, (name, pw, ph, margins, category, centre, image, texts, lines) in enumerate(TEMPLATES):
        where = name + ": "
        members = {n: body for n, _, body in storage_reader.members(os.path.join(folder, name + ".ovx"))}
        others = sorted(set(members) - {"Index.xml", "Page0001.xml"})
        check(len(members) == 3 and len(others) == 1, where + "members %r" % sorted(members))
        page = parse(members["Page0001.xml"])
        ml, mt, mr, mb = margins
        check(flag(page, "IsDefaultPage", True) is False, where + "default page")
        for key, want in (("PageWidth", pw), ("PageHeight", ph), ("MarginLeft", ml), ("MarginTop", mt),
                          ("MarginRight", mr), ("MarginBottom", mb)):
            check(near(num(page, key), want), where + "%s %s" % (key, text(page, key)))
        shapes = sorted(page.findall("Shape"), key=lambda s: int(s.get("Index")))
        check(len(shapes) == COUNTS[kind] == 7 + len(lines), where + "%d shapes" % len(shapes))

        def at(i, cls, tag, select):
            s = shapes[i]
            w = where + "shape %d " % i
            check(text(s, "ClassName") == cls, w + "class " + str(text(s, "ClassName")))
            check(int(num(s, "Tag")) == tag, w + "tag")
            check(flag(s, "AllowSelect", True) is select, w + "AllowSelect")
            check(flag(s, "AllowDelete", True) is False, w + "AllowDelete")
            return s, w

        def placed(s, w, rect):
            l, t, fw, fh, a = rect
            x, y = turned(ml + l, mt + t, fw, fh, a)
            for key, want in (("DocLeft", x), ("DocTop", y), ("DocWidth", fw), ("DocHeight", fh),
                              ("DocAngle", a)):
                check(near(num(s, key), want), w + "%s %s, want %s" % (key, text(s, key), want))

        s, w = at(0, "TDtpProjectInfoShape", 8, False)
        check(flag(s, "Visible", True) is False, w + "visible")
        check(int(num(s, "Version")) == 102, w + "version")
        check(flag(s, "PrintCutLines", False) and flag(s, "PrintFoldLines", False), w + "line flags")
        check(text(s, "CenterPrinting") == ("True" if centre else None), w + "CenterPrinting")
        check(text(s, "Name") == name and len(s.findall("Name")) == 1, w + "name")
        check(text(s, "Category") == category, w + "category")

        s, w = at(1, "TdtpCropBitmapShape", 0, True)
        placed(s, w, image)
        check(flag(s, "Pinned", False), w + "pinned")
        check(near(num(s, "PinnedLeft"), ml + image[0]) and near(num(s, "PinnedWidth"), image[2]), w + "pin")
        node = s.find("Image")
        check(node is not None and text(node, "Storage") == "Archive", w + "storage")
        if node is not None and text(node, "ArchiveName") in members:
            check(members[text(node, "ArchiveName")] == picture, w + "image bytes")
        else:
            check(False, w + "image member")

        for i, (shape_kind, style, initial, rect) in enumerate(texts):
            memo = shape_kind == "memo"
            s, w = at(2 + i, "TdtpMemoShape" if memo else "TdtpTextShape", 0, True)
            font, points, bold, valign = STYLES[style]
            placed(s, w, rect)
            check(flag(s, "AllowEdit", True) is False, w + "AllowEdit")
            check(flag(s, "AutoSize", False) is False, w + "AutoSize")
            check(text(s, "Text", "") == initial, w + "text %r" % text(s, "Text"))
            check(near(num(s, "FontHeight"), points * PT), w + "font height")
            check(int(num(s, "Alignment")) == 2, w + "centred")
            check(int(num(s, "VertAlign")) == (valign if memo else 0), w + "vertical alignment")
            f = s.find("Font")
            check(f is not None and text(f, "Name") == font, w + "font")
            check(f is not None and flag(f, "Bold", False) is bold, w + "bold")

        for i, (kind_tag, (x1, y1, x2, y2)) in enumerate(lines):
            s, w = at(7 + i, "TDtpExLineShape", kind_tag, False)
            check(near(num(s, "LineWidth"), 1.0), w + "width")
            check(s.find("PenStyle") is None, w + "PenStyle written")
            points = s.findall("Points/Point")
            got = [(num(p, "X"), num(p, "Y")) for p in points]
            want = [(ml + x1, mt + y1), (ml + x2, mt + y2)]
            check(len(got) == 2 and all(near(a[0], b[0]) and near(a[1], b[1]) for a, b in zip(got, want)),
                  w + "points %r, want %r" % (got, want))
    if errors:
        for e in errors:
            print("violation: " + e)
        sys.exit(1)
    print("ok")


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
