"""Writes shape strings with struct, independently of the reader under test.

Prints every case to standard output as: name, a newline, the length as a
4-byte little-endian integer, then the bytes.
"""
import struct
import sys

XML = (b'<?xml version="1.0" encoding="UTF-8"?>\n<shape><ClassName>TdtpTestMemberShape'
       b'</ClassName><DocWidth>12</DocWidth><ArchiveName>TMP0000001.png</ArchiveName></shape>')


def entry(name, data):
    return struct.pack('<i', len(name)) + name + struct.pack('<i', len(data)) + data


def string(entries, xml=XML, count=None):
    n = len(entries) if count is None else count
    return struct.pack('<i', n) + b''.join(entries) + struct.pack('<i', len(xml)) + xml


PNG = b'\x89PNG\r\n\x1a\nmember bytes'
CASES = {
    'valid': string([entry(b'TMP0000001.png', PNG)]),
    'negative_count': struct.pack('<i', -1),
    'huge_count': struct.pack('<i', 0x7FFFFFFF) + b'\0' * 64,
    'negative_name': struct.pack('<ii', 1, -5) + b'\0' * 64,
    'huge_name': struct.pack('<ii', 1, 0x7FFFFFF0) + b'\0' * 64,
    'data_past_end': struct.pack('<i', 1) + struct.pack('<i', 1) + b'a' + struct.pack('<i', 100) + b'xyz',
    'negative_data': struct.pack('<i', 1) + struct.pack('<i', 1) + b'a' + struct.pack('<i', -1),
    'negative_xml': struct.pack('<ii', 0, -8),
    'xml_past_end': struct.pack('<ii', 0, 4096) + XML,
    'not_xml': string([], b'\xff\xfe\x00garbage<'),
    'wrong_root': string([], b'<?xml version="1.0"?><page><ClassName>TdtpShape</ClassName></page>'),
    # Members named like the document's own parts, and an empty name.
    'structural': string([entry(b'Index.xml', b'not the index'), entry(b'index.XML', b'again'),
                          entry(b'Page0001.xml', b'<page/>'), entry(b'Thumb0001.bmp', b'BM'),
                          entry(b'Fonts.dat', b'fonts'), entry(b'', b'nameless'),
                          entry(b'TMP0000001.png', PNG)]),
    # A letter-case variant of a member the document holds.
    'case_variant': string([entry(b'tmp1234567.png', b'theirs')],
                           XML.replace(b'TMP0000001.png', b'tmp1234567.png')),
    # A member renamed on the way in, which the XML names in other letter case.
    'renamed_other_case': string([entry(b'TMP0000001.png', PNG)],
                                 XML.replace(b'TMP0000001.png', b'tmp0000001.PNG')),
}

for name, data in CASES.items():
    sys.stdout.buffer.write(name.encode() + b'\n' + struct.pack('<I', len(data)) + data)
