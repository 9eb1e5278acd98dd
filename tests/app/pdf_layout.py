#!/usr/bin/env python3
"""Writes the one-page picture PDF layout from a JPEG file, independently of
the program: pdf_layout.py JPEG PIXEL_W PIXEL_H PT_W PT_H OUT"""
import sys

jpeg_path, pw, ph, ptw, pth, out = sys.argv[1:7]
jpeg = open(jpeg_path, "rb").read()
objects = [
    b"<<\n/Type /Catalog\n/Pages 2 0 R\n/OpenAction [3 0 R /XYZ -32768 -32768 1 ]\n>>\n",
    b"<<\n/Type /Pages\n/Kids [ 3 0 R ]\n/Count 1\n>>\n",
    ("<<\n/Type /Page\n/Parent 2 0 R\n/Resources\n<<\n/XObject << /Im0 4 0 R >>\n"
     "/ProcSet [ /PDF /ImageC ]\n>>\n/MediaBox [ 0 0 %s %s ]\n/Contents 5 0 R\n>>\n" % (ptw, pth)).encode(),
    ("<<\n/Type /XObject\n/Subtype /Image\n/Name /Im0\n/Width %s\n/Height %s\n/BitsPerComponent 8\n"
     "/Filter [/DCTDecode]\n/ColorSpace /DeviceRGB\n/Length %d >>\nstream\n" % (pw, ph, len(jpeg))).encode()
    + jpeg + b"endstream\n",
]
content = ("q\n%s 0 0 %s 0 0 cm\n/Im0 Do\nQ\n" % (ptw, pth)).encode()
objects.append(b"<< /Length %d >>\nstream\n" % len(content) + content + b"endstream\n")

data = bytearray(b"%PDF-1.2\n")
offsets = []
for number, body in enumerate(objects, 1):
    offsets.append(len(data))
    data += b"%d 0 obj\n" % number + body + b"endobj\n"
xref = len(data)
data += b"xref\n0 6\n0000000000 65535 f \n"
for offset in offsets:
    data += b"%010d 00000 n \n" % offset
data += b"trailer\n<<\n/Size 6\n/Root 1 0 R\n>>\nstartxref\n%d\n%%%%EOF" % xref
open(out, "wb").write(bytes(data))
