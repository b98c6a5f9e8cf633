#!/usr/bin/env python3
"""Writes the seed corpus of color_bitmap_fuzz: small BMP files of 1, 4, 8, 16 and 24 bits, a
black-and-red palette, a top-down picture, a run-length one, a cut one, and a packed bitmap."""
import os
import struct

here = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus", "color_bitmap")


def info(width, height, bits, colours, compression=0):
    return struct.pack("<IiiHHIIiiII", 40, width, height, 1, bits, compression, 0, 0, 0, colours, 0)


def bmp(width, height, bits, palette, compression=0):
    stride = (width * bits + 31) // 32 * 4
    pixels = bytes((i * 37) & 0xFF for i in range(stride * abs(height)))
    pal = b"".join(bytes([b, g, r, 0]) for (r, g, b) in palette)
    offset = 14 + 40 + len(pal)
    head = b"BM" + struct.pack("<IHHI", offset + len(pixels), 0, 0, offset)
    return head + info(width, height, bits, len(palette), compression) + pal + pixels


seeds = {
    "black_red_1bit.bmp": bmp(9, 3, 1, [(0, 0, 0), (255, 0, 0)]),
    "white_black_red_4bit.bmp": bmp(7, 5, 4, [(255, 255, 255), (0, 0, 0), (255, 0, 0)]),
    "grey_8bit.bmp": bmp(5, 4, 8, [(i, i, i) for i in range(0, 256, 16)]),
    "rgb_24bit_top_down.bmp": bmp(6, -3, 24, []),
    "rgb_16bit.bmp": bmp(4, 2, 16, []),
    "rle8.bmp": bmp(4, 4, 8, [(0, 0, 0)], compression=1),
    "cut_short.bmp": bmp(8, 8, 24, [])[:90],
}
packed_pixels = bytes(range(24))
seeds["packed_24bit.dib"] = info(2, 4, 24, 0) + packed_pixels

os.makedirs(here, exist_ok=True)
for name, data in seeds.items():
    with open(os.path.join(here, name), "wb") as f:
        f.write(data)
