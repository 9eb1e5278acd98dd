"""An independent model of the ".hck" coders, written from the format's
description. Reads raw bytes from argv[1], writes the packed page body
(u32 raw size, u32 packed size, packed bytes) to argv[2]; with "--rle" or
"--rank" only that coder's output."""
import struct
import sys


def rle_encode(s):
    n = len(s)
    out = bytearray()

    def literals(a, b):
        while True:
            c = min(127, b - a)
            out.append(c)
            out.extend(s[a:a + c])
            a += c
            if a >= b:
                break

    if n <= 2:
        literals(0, n)
        return bytes(out)
    i = pending = 0
    while i < n:
        if i + 2 < n and s[i] == s[i + 1] == s[i + 2]:
            if pending < i:
                literals(pending, i)
            j = i + 3
            while j < n and s[j] == s[i]:
                j += 1
            left = j - i
            while left > 0:
                b = min(127, left)
                if left - b == 1:
                    b -= 1
                out.append((1 - b) & 0xFF)
                out.append(s[i])
                left -= b
            i = pending = j
        else:
            i += 1
    if pending < n:
        literals(pending, n)
    return bytes(out)


def rank_encode(s):
    freq = [0] * 256
    for b in s:
        freq[b] += 1
    order = list(range(256))
    for i in range(255):
        for j in range(255, i, -1):
            if freq[order[i]] < freq[order[j]]:
                order[i], order[j] = order[j], order[i]
    rank = [0] * 256
    for r, v in enumerate(order):
        rank[v] = r
    g = 255
    for r in range(19, 256):
        if freq[order[r]] == 0:
            g = r
            break
    classes = bytearray(len(s) // 4 + 1)
    lits, nibs, bits = bytearray(), [], []
    for i, b in enumerate(s):
        r = rank[b]
        c = 0 if r == 0 else 1 if r < 3 else 2 if r < 19 else 3
        classes[i // 4] |= c << (2 * (i % 4))
        if c == 1:
            bits.append(r - 1)
        elif c == 2:
            nibs.append(r - 3)
        elif c == 3:
            lits.append(r - 19)
    nib = bytearray(len(nibs) // 2 + 1)
    for k, v in enumerate(nibs):
        nib[k // 2] |= v << (4 * (k % 2))
    bit = bytearray(len(bits) // 8 + 1)
    for k, v in enumerate(bits):
        bit[k // 8] |= v << (k % 8)
    table = bytes(order[:g + 1])
    nib_at = 13 + len(table) + len(classes) + len(lits)
    bit_at = nib_at + len(nib)
    return (struct.pack("<III", len(s), bit_at, nib_at) + bytes([g]) + table + bytes(classes) +
            bytes(lits) + bytes(nib) + bytes(bit))


def delta(s):
    prev, out = 0, bytearray()
    for b in s:
        out.append((b - prev) & 0xFF)
        prev = b
    return bytes(out)


def main():
    raw = open(sys.argv[1], "rb").read()
    mode = sys.argv[3] if len(sys.argv) > 3 else ""
    if mode == "--rle":
        out = rle_encode(raw)
    elif mode == "--rank":
        out = rank_encode(raw)
    else:
        packed = rank_encode(rle_encode(rank_encode(delta(raw))))
        out = struct.pack("<II", len(raw), len(packed)) + packed
    open(sys.argv[2], "wb").write(out)


main()
