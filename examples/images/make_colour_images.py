#!/usr/bin/env python3
"""Draws the example pictures of the two-colour demo receipt.

  cafe-logo-2c.bmp   the cafe's cup in black with red steam and band (white, black and red
                     palette, 4 bits per pixel): printed as it is
  coffee-bean.bmp    a coffee bean in shades of brown and orange (24 bits per pixel): the
                     image-conversion library turns it into black, white and red

Run it from anywhere; it writes next to itself. Needs only the Python standard library.
"""
import math
import os
import struct


def write_bmp_4bit(path, width, height, palette, index):
    """Writes a bottom-up 4-bit BMP with the palette colours (r, g, b) and index(x, y)."""
    stride = (width * 4 + 31) // 32 * 4
    rows = []
    for y in range(height - 1, -1, -1):
        row = bytearray(stride)
        for x in range(width):
            row[x // 2] |= index(x, y) << (4 if x % 2 == 0 else 0)
        rows.append(bytes(row))
    pixels = b"".join(rows)
    offset = 14 + 40 + 4 * len(palette)
    header = b"BM" + struct.pack("<IHHI", offset + len(pixels), 0, 0, offset)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 4, 0, len(pixels), 7874, 7874,
                       len(palette), len(palette))
    pal = b"".join(bytes([b, g, r, 0]) for (r, g, b) in palette)
    with open(path, "wb") as f:
        f.write(header + info + pal + pixels)


def write_bmp_24(path, width, height, colour):
    """Writes a bottom-up 24-bit BMP whose pixel (x, y) is colour(x, y) = (r, g, b)."""
    stride = (width * 3 + 3) // 4 * 4
    rows = []
    for y in range(height - 1, -1, -1):
        row = bytearray(stride)
        for x in range(width):
            r, g, b = colour(x, y)
            row[x * 3:x * 3 + 3] = bytes([b, g, r])
        rows.append(bytes(row))
    pixels = b"".join(rows)
    offset = 14 + 40
    header = b"BM" + struct.pack("<IHHI", offset + len(pixels), 0, 0, offset)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(pixels), 7874, 7874, 0, 0)
    with open(path, "wb") as f:
        f.write(header + info + pixels)


WHITE, BLACK, RED = 0, 1, 2


def cup_2c(x, y):
    """The cafe's cup, 240 x 160 dots: steam in red, cup and saucer in black, else white."""
    for cx in (90, 120, 150):
        if 8 <= y <= 62 and abs(x - (cx + 7 * math.sin((y + cx) / 8.0))) <= 3.5:
            return RED
    if 70 <= y <= 130:
        half = 62 - max(0, y - 100) ** 2 / 30.0
        inside = abs(x - 120) <= half
        if inside and 92 <= y <= 100:
            return RED  # a red band round the cup
        if inside and (abs(x - 120) >= half - 5 or y <= 75):
            return BLACK
    d = math.hypot(x - 186, y - 95)
    if 14 <= d <= 21 and x >= 180:
        return BLACK
    if ((x - 120) / 100.0) ** 2 + ((y - 140) / 10.0) ** 2 <= 1.0 and y >= 134:
        return BLACK
    return WHITE


def bean(x, y):
    """A coffee bean on a warm glow, 200 x 120 pixels, in brown, orange and cream."""
    dx, dy = (x - 100) / 80.0, (y - 60) / 45.0
    r = math.hypot(dx, dy)
    if r <= 1.0:
        # The bean: dark brown with a lighter rim and a crease down the middle.
        crease = abs(x - 100 - 10 * math.sin(y / 12.0)) <= 4
        if crease:
            return (230, 210, 170)
        shade = int(40 + 60 * r)
        return (shade + 40, shade, shade // 2)
    glow = max(0.0, 1.6 - r)
    return (255, int(255 - 170 * glow), int(255 - 230 * glow))


if __name__ == "__main__":
    here = os.path.dirname(os.path.abspath(__file__))
    write_bmp_4bit(os.path.join(here, "cafe-logo-2c.bmp"), 240, 160,
                   [(255, 255, 255), (0, 0, 0), (255, 0, 0)], cup_2c)
    write_bmp_24(os.path.join(here, "coffee-bean.bmp"), 200, 120, bean)
