#!/usr/bin/env python3
"""Draws the launcher's placeholder pictures: Image/Korvane.BMP (brand) and Image/VX40.BMP (printer).

Both are 8-bit palette BMP files with RLE8 compression, so they stay a few KB.
Run from anywhere: python3 make_pictures.py
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))

# 5x7 glyphs of the letters and digits the pictures use.
GLYPHS = {
    "K": ["X...X", "X..X.", "X.X..", "XX...", "X.X..", "X..X.", "X...X"],
    "O": [".XXX.", "X...X", "X...X", "X...X", "X...X", "X...X", ".XXX."],
    "R": ["XXXX.", "X...X", "X...X", "XXXX.", "X.X..", "X..X.", "X...X"],
    "V": ["X...X", "X...X", "X...X", "X...X", "X...X", ".X.X.", "..X.."],
    "A": [".XXX.", "X...X", "X...X", "XXXXX", "X...X", "X...X", "X...X"],
    "N": ["X...X", "XX..X", "X.X.X", "X..XX", "X...X", "X...X", "X...X"],
    "E": ["XXXXX", "X....", "X....", "XXXX.", "X....", "X....", "XXXXX"],
    "X": ["X...X", "X...X", ".X.X.", "..X..", ".X.X.", "X...X", "X...X"],
    "4": ["...X.", "..XX.", ".X.X.", "X..X.", "XXXXX", "...X.", "...X."],
    "0": [".XXX.", "X...X", "X..XX", "X.X.X", "XX..X", "X...X", ".XXX."],
}


class Canvas:
    def __init__(self, width, height, background):
        self.width, self.height = width, height
        self.pixels = [[background] * width for _ in range(height)]

    def rect(self, x, y, w, h, colour):
        for row in range(max(0, y), min(self.height, y + h)):
            for col in range(max(0, x), min(self.width, x + w)):
                self.pixels[row][col] = colour

    def text(self, x, y, text, scale, colour):
        for glyph in text:
            for row, line in enumerate(GLYPHS[glyph]):
                for col, cell in enumerate(line):
                    if cell == "X":
                        self.rect(x + col * scale, y + row * scale, scale, scale, colour)
            x += 6 * scale


def save_rle8(canvas, palette, path):
    data = bytearray()
    for row in reversed(canvas.pixels):  # BMP rows go bottom-up
        col = 0
        while col < len(row):
            run = 1
            while col + run < len(row) and run < 255 and row[col + run] == row[col]:
                run += 1
            data += bytes([run, row[col]])
            col += run
        data += b"\x00\x00"  # end of line
    data[-2:] = b"\x00\x01"  # end of bitmap replaces the last end of line
    colours = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in palette)
    offset = 14 + 40 + len(colours)
    header = struct.pack("<2sIHHI", b"BM", offset + len(data), 0, 0, offset)
    info = struct.pack("<IiiHHIIiiII", 40, canvas.width, canvas.height, 1, 8, 1, len(data),
                       2835, 2835, len(palette), 0)
    with open(path, "wb") as out:
        out.write(header + info + colours + bytes(data))


def brand():
    palette = [(255, 255, 255), (24, 48, 112), (200, 16, 46)]
    c = Canvas(200, 48, 0)
    c.text(12, 6, "KORVANE", 4, 1)
    c.rect(12, 38, 166, 4, 2)
    save_rle8(c, palette, os.path.join(HERE, "Image", "Korvane.BMP"))


def printer():
    white, paper, ink, body, dark, led, slot = range(7)
    palette = [(255, 255, 255), (250, 248, 235), (150, 150, 150), (86, 104, 130), (44, 52, 66),
               (80, 210, 90), (20, 20, 20)]
    c = Canvas(128, 150, white)
    c.rect(40, 10, 48, 58, paper)               # the receipt coming out of the printer
    for y in range(18, 60, 8):
        c.rect(46, y, 36 if y % 16 else 26, 2, ink)
    c.rect(14, 60, 100, 76, body)               # the printer
    c.rect(14, 60, 100, 4, dark)
    c.rect(34, 66, 60, 3, slot)                 # the paper exit
    c.rect(20, 126, 88, 10, dark)
    c.rect(96, 112, 8, 6, led)
    c.text(24, 84, "VX40", 3, white)
    save_rle8(c, palette, os.path.join(HERE, "Image", "VX40.BMP"))


if __name__ == "__main__":
    os.makedirs(os.path.join(HERE, "Image"), exist_ok=True)
    brand()
    printer()
