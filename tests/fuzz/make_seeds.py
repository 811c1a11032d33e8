#!/usr/bin/env python3
"""Writes the tiny BMP files that seed fuzz_bmp (corpus/fuzz_bmp/): one of each depth,
compression and header kind. Run it from anywhere; it rewrites the folder's files."""
import os
import struct

HERE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus", "fuzz_bmp")


def bmp(width, height, bits, pixels, compression=0, colours=(), header=40, masks=(), core=False):
    if core:
        info = struct.pack("<IHHHH", 12, width, height, 1, bits)
        table = b"".join(struct.pack("<BBB", b, g, r) for (r, g, b) in colours)
    else:
        info = struct.pack("<IiiHHIIiiII", header, width, height, 1, bits, compression,
                           len(pixels), 2835, 2835, len(colours), 0)
        table = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in colours)
        if header > 40:
            extra = b"".join(struct.pack("<I", m) for m in masks)
            info += (extra + bytes(header - 40))[: header - 40]
        elif compression == 3:
            info += b"".join(struct.pack("<I", m) for m in masks)
    offset = 14 + len(info) + len(table)
    head = struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset)
    return head + info + table + bytes(pixels)


def rows(width, height, bits, value, top_down=False):
    stride = (width * bits + 31) // 32 * 4
    out = bytearray()
    for y in (range(height) if top_down else reversed(range(height))):
        row = bytearray(stride)
        for x in range(width):
            v = value(x, y)
            if bits == 1:
                row[x // 8] |= (v & 1) << (7 - x % 8)
            elif bits == 4:
                row[x // 2] |= (v & 15) << (0 if x & 1 else 4)
            else:
                row[x * bits // 8: (x + 1) * bits // 8] = (v & ((1 << bits) - 1)).to_bytes(bits // 8, "little")
        out += row
    return out


def ramp(n):
    return [(i * 255 // max(n - 1, 1), 255 - i * 255 // max(n - 1, 1), (i * 97) & 255) for i in range(n)]


SEEDS = {
    "1bit.bmp": bmp(9, 2, 1, rows(9, 2, 1, lambda x, y: x + y), colours=ramp(2)),
    "4bit.bmp": bmp(5, 3, 4, rows(5, 3, 4, lambda x, y: x * 3 + y), colours=ramp(16)),
    "8bit.bmp": bmp(4, 4, 8, rows(4, 4, 8, lambda x, y: x * 50 + y), colours=ramp(256)),
    "8bit-core.bmp": bmp(3, 2, 8, rows(3, 2, 8, lambda x, y: x + 2 * y), colours=ramp(8), core=True),
    "rle8.bmp": bmp(6, 3, 8, [3, 1, 0, 3, 2, 3, 4, 0, 0, 0, 2, 5, 0, 2, 2, 1, 2, 6, 0, 1], 1, ramp(8)),
    "rle4.bmp": bmp(5, 2, 4, [5, 0x12, 0, 0, 0, 3, 0x34, 0x50, 2, 0x0F, 0, 1], 2, ramp(16)),
    "16bit-565.bmp": bmp(3, 2, 16, rows(3, 2, 16, lambda x, y: x * 4321 + y * 765), 3, masks=(0xF800, 0x07E0, 0x001F)),
    "24bit-topdown.bmp": bmp(3, -3, 24, rows(3, 3, 24, lambda x, y: x * 0x3F1E07 + y * 0x10F0A3, True)),
    "32bit-v5-alpha.bmp": bmp(2, 2, 32, rows(2, 2, 32, lambda x, y: 0x80000000 | x * 0x123456 + y), 3, header=124,
                              masks=(0xFF0000, 0xFF00, 0xFF, 0xFF000000)),
}

if __name__ == "__main__":
    os.makedirs(HERE, exist_ok=True)
    for name, data in SEEDS.items():
        with open(os.path.join(HERE, name), "wb") as f:
            f.write(data)
