#!/usr/bin/env python3
"""Independent reader and writer of document files, written from the
document's archive layout with nothing but the standard library (the
archive itself through the storage tests' reader).

  document_reader.py check FILE   prints what a saved document holds:
      "setting NAME VALUE" per element of Index.xml, in order;
      "page MEMBER INDEX SHAPES" per page member (its "Index" attribute and
      the names of its shapes, comma-separated);
      "missing NAME" per ArchiveName that names no member;
      "background W H RGBAHEX" for the default background when it is a PNG.
  document_reader.py write FILE   writes a two-page document.
"""
import os
import struct
import sys
import xml.etree.ElementTree as ET
import zlib

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "foundation"))
import storage_reader  # noqa: E402


def fail(msg):
    print("violation: " + msg, file=sys.stderr)
    sys.exit(1)


def parse(body):
    if body.startswith(b"\xef\xbb\xbf"):
        body = body[3:]
    return ET.fromstring(body)


def paeth(a, b, c):
    p = a + b - c
    pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
    if pa <= pb and pa <= pc:
        return a
    return b if pb <= pc else c


def decode_png(data):
    """8-bit RGB or RGBA, not interlaced: (width, height, RGBA bytes)."""
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        fail("png signature")
    pos, idat, head = 8, b"", None
    while pos < len(data):
        (length,) = struct.unpack_from(">I", data, pos)
        kind = data[pos + 4:pos + 8]
        chunk = data[pos + 8:pos + 8 + length]
        if zlib.crc32(kind + chunk) != struct.unpack_from(">I", data, pos + 8 + length)[0]:
            fail("png crc")
        if kind == b"IHDR":
            head = struct.unpack(">IIBBBBB", chunk)
        elif kind == b"IDAT":
            idat += chunk
        pos += 12 + length
    width, height, depth, ctype, _, _, interlace = head
    if depth != 8 or ctype not in (2, 6) or interlace:
        fail("png form %r" % (head,))
    bpp = 4 if ctype == 6 else 3
    raw = zlib.decompress(idat)
    stride = width * bpp
    prev = bytearray(stride)
    out = bytearray()
    for y in range(height):
        f = raw[y * (stride + 1)]
        line = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a = line[i - bpp] if i >= bpp else 0
            b = prev[i]
            c = prev[i - bpp] if i >= bpp else 0
            line[i] = (line[i] + [0, a, b, (a + b) // 2, paeth(a, b, c)][f]) & 255
        for x in range(width):
            px = line[x * bpp:(x + 1) * bpp]
            out += px if bpp == 4 else px + b"\xff"
        prev = line
    return width, height, bytes(out)


def check(path):
    members = {name: body for name, _, body in storage_reader.members(path)}
    index = parse(members["Index.xml"])
    if index.tag != "Document":
        fail("index root " + index.tag)
    for child in index:
        print("setting %s %s" % (child.tag, (child.text or "").strip()))
    names = []
    for element in index.iter("ArchiveName"):
        names.append(element.text)
    for member in sorted(members):
        if member.startswith("Page") and member.endswith(".xml"):
            root = parse(members[member])
            if root.tag != "Page":
                fail("page root " + root.tag)
            shapes = [s.findtext("Name") or "" for s in root.findall("Shape")]
            print("page %s %s %s" % (member, root.get("Index"), ",".join(shapes)))
            names += [e.text for e in root.iter("ArchiveName")]
    for name in names:
        if name not in members:
            print("missing " + name)
    image = index.find("DefaultBgrImage")
    if image is not None and image.findtext("ArchiveName"):
        w, h, rgba = decode_png(members[image.findtext("ArchiveName")])
        print("background %d %d %s" % (w, h, rgba.hex()))


def write_archive(path, members):
    names = [n.encode() for n, _ in members]
    directory = 4 + sum(20 + len(n) for n in names)
    banner = (b"\r\nWritten by a test\r\n").ljust(55, b"\0")
    offset = 69 + directory
    out = b"STOR" + bytes([1, 0]) + struct.pack("<q", 69) + banner + struct.pack("<i", len(members))
    for name, (_, body) in zip(names, members):
        out += struct.pack("<qqi", offset, len(body), len(name)) + name
        offset += len(body)
    for _, body in members:
        out += body
    open(path, "wb").write(out)


def shape(index, name, left, top, width, height):
    return ('<Shape Index="%d"><ClassName>TdtpShape</ClassName><DocLeft>%s</DocLeft>'
            "<DocTop>%s</DocTop><DocWidth>%s</DocWidth><DocHeight>%s</DocHeight>"
            "<Name>%s</Name></Shape>" % (index, left, top, width, height, name))


def write(path):
    index = ('<?xml version="1.0" encoding="UTF-8"?>\r\n<Document>\r\n'
             "  <DefaultPageWidth>120</DefaultPageWidth>\r\n"
             "  <ThumbnailWidth>40</ThumbnailWidth>\r\n</Document>\r\n")
    page1 = ('<?xml version="1.0" encoding="UTF-8"?><Page Index="1"><ClassName>TdtpPage</ClassName>'
             "<DocWidth>120</DocWidth><DocHeight>297</DocHeight>"
             + shape(1, "Caf\u00e9", 10, 20, 30, 40) + shape(2, "second", 1.5, 2.5, 3, 4) + "</Page>")
    page2 = ('<?xml version="1.0" encoding="UTF-8"?><Page Index="2"><ClassName>TdtpPage</ClassName>'
             "<IsDefaultPage>False</IsDefaultPage><PageWidth>100</PageWidth><PageHeight>50</PageHeight>"
             + shape(1, "only", 5, 5, 10, 10) + "</Page>")
    write_archive(path, [("Index.xml", index.encode()), ("Page0001.xml", page1.encode()),
                         ("Page0002.xml", page2.encode())])


if __name__ == "__main__":
    {"check": check, "write": write}[sys.argv[1]](sys.argv[2])
