#!/usr/bin/env python3
"""Draws the example monochrome bitmaps of the demo receipt as 1-bit BMP files.

  cafe-logo.bmp    the cafe's cup, stored in the printer and printed by the top logo
  stamp-card.bmp   a loyalty card with 3 of 10 stamps, printed with PrintBitmap

Run it from anywhere; it writes next to itself. Needs only the Python standard library.
"""
import math
import os
import struct


def write_bmp(path, width, height, black):
    """Writes a bottom-up 1-bit BMP whose first palette colour is black."""
    stride = (width + 31) // 32 * 4
    rows = []
    for y in range(height - 1, -1, -1):
        row = bytearray(stride)
        for x in range(width):
            if not black(x, y):  # bit set: the second colour, white
                row[x // 8] |= 0x80 >> (x % 8)
        rows.append(bytes(row))
    pixels = b"".join(rows)
    offset = 14 + 40 + 8
    header = b"BM" + struct.pack("<IHHI", offset + len(pixels), 0, 0, offset)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 1, 0, len(pixels), 7874, 7874, 2, 2)
    palette = bytes([0, 0, 0, 0, 255, 255, 255, 0])
    with open(path, "wb") as f:
        f.write(header + info + palette + pixels)


def cup(x, y):
    """A cup on a saucer with three wisps of steam, 240 x 160 dots."""
    # Steam: three sine wisps above the cup.
    for cx in (90, 120, 150):
        if 8 <= y <= 62 and abs(x - (cx + 7 * math.sin((y + cx) / 8.0))) <= 2.5:
            return True
    # Cup body: a bowl, flat on top, round below, drawn as a thick outline with a band.
    if 70 <= y <= 130:
        half = 62 - max(0, y - 100) ** 2 / 30.0
        inside = abs(x - 120) <= half
        if inside and (abs(x - 120) >= half - 5 or y <= 75 or 92 <= y <= 100):
            return True
    # Handle: a ring on the right.
    d = math.hypot(x - 186, y - 95)
    if 14 <= d <= 21 and x >= 180:
        return True
    # Saucer: a flat ellipse under the cup.
    if ((x - 120) / 100.0) ** 2 + ((y - 140) / 10.0) ** 2 <= 1.0 and y >= 134:
        return True
    return False


def stamp_card(x, y):
    """Ten stamp circles in a frame, the first three filled, 480 x 96 dots."""
    if x < 3 or x >= 477 or y < 3 or y >= 93:
        return True
    for i in range(10):
        d = math.hypot(x - (36 + i * 45.3), y - 48)
        if i < 3 and d <= 17:
            return True
        if 15 <= d <= 18:
            return True
    return False


if __name__ == "__main__":
    here = os.path.dirname(os.path.abspath(__file__))
    write_bmp(os.path.join(here, "cafe-logo.bmp"), 240, 160, cup)
    write_bmp(os.path.join(here, "stamp-card.bmp"), 480, 96, stamp_card)
