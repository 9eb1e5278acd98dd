#!/usr/bin/env python3
"""Independent reader of the archive format, written from the format table
with nothing but the standard library.

  storage_reader.py read FILE   checks a saved (packed) archive and prints one
                                line per member: name, offset, size and the
                                data in hex; exits 1 on any violation.
"""
import struct
import sys


def fail(msg):
    print("violation: " + msg, file=sys.stderr)
    sys.exit(1)


def members(path):
    """The members of a saved archive as (name, offset, bytes), in directory order;
    exits 1 on any violation of the layout."""
    data = open(path, "rb").read()
    if len(data) < 14 or data[0:4] != b"STOR":
        fail("signature")
    if data[4] != 1:
        fail("version %d" % data[4])
    (diroff,) = struct.unpack_from("<q", data, 6)
    if diroff != 69:
        fail("directory offset %d" % diroff)
    banner = data[14:69]
    if not banner.startswith(b"\r\nCreated with Folionix - Info: "):
        fail("banner text")
    head, _, tail = banner[2:].partition(b"\r\n")
    if tail.strip(b"\0") != b"" or b"\0" in head:
        fail("banner padding")
    (count,) = struct.unpack_from("<i", data, 69)
    pos = 73
    entries = []
    for _ in range(count):
        off, size, namelen = struct.unpack_from("<qqi", data, pos)
        pos += 20
        name = data[pos:pos + namelen]
        if len(name) != namelen:
            fail("name past end")
        pos += namelen
        entries.append((name, off, size))
    # Members are packed in directory order right after the directory.
    expect = pos
    for name, off, size in entries:
        if off != expect:
            fail("member %r at %d, expected %d" % (name, off, expect))
        expect += size
    if expect != len(data):
        fail("file size %d, expected %d" % (len(data), expect))
    return [(name.decode("utf-8"), off, data[off:off + size]) for name, off, size in entries]


def read(path):
    for name, off, body in members(path):
        print("%s\t%d\t%d\t%s" % (name, off, len(body), body.hex()))


if __name__ == "__main__":
    {"read": read}[sys.argv[1]](sys.argv[2])
