#!/usr/bin/env python3
"""Writes the seed corpus of printer_bitmap_fuzz: small valid and malformed BMP files and stored
image files. Run from anywhere: python3 fuzz/make_corpus.py"""
import pathlib
import struct

OUT = pathlib.Path(__file__).resolve().parent / "corpus" / "printer_bitmap"
BLACK, WHITE = b"\x00\x00\x00\x00", b"\xff\xff\xff\x00"


def bmp(width, height, rows, palette=(BLACK, WHITE), info_size=40, bit_count=1, compression=0,
        clr_used=None, offset=None):
    """A BMP file; `rows` top first, each padded to the stride with 0xA5."""
    stride = (width * bit_count + 31) // 32 * 4
    pixels = b""
    order = rows if height < 0 else list(reversed(rows))
    for row in order:
        pixels += bytes(row[:stride]) + b"\xa5" * (stride - len(row[:stride]))
    pal = b"".join(palette)
    if offset is None:
        offset = 14 + info_size + len(pal)
    info = struct.pack("<IiiHHIIiiII", info_size, width, height, 1, bit_count, compression,
                       len(pixels), 2835, 2835, len(palette) if clr_used is None else clr_used, 0)
    info += b"\x00" * (info_size - 40)
    body = info + pal + pixels
    return b"BM" + struct.pack("<IHHI", 14 + len(body), 0, 0, offset) + body


def column_form(width, height, image):
    """The stored column form of a printer image given as rows of bytes, top first."""
    x, y = (width + 7) // 8, (abs(height) + 7) // 8
    out = bytearray()
    for c in range(x):
        for b in range(7, -1, -1):
            for group in range(y):
                packed = 0
                for k in range(8):
                    r = group * 8 + k
                    if r < abs(height) and image[r][c] >> b & 1:
                        packed |= 0x80 >> k
                out.append(packed)
    return bytes(out)


def stored(width, height, image, size_image=None):
    data = column_form(width, height, image)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 1, 0,
                       len(data) if size_image is None else size_image, 0, 0, 2, 0)
    return b"M" + info + data


def main():
    OUT.mkdir(parents=True, exist_ok=True)
    nine = [[0xFF, 0xFF]] + [[0x80, 0x7F]] * 8 + [[0x80, 0xFF]]
    nine_image = [[0xFF, 0x80]] + [[0x80, 0x00]] * 8 + [[0x80, 0x80]]
    forty = [[(r * 37 + c * 11) & 0xFF for c in range(5)] for r in range(20)]
    files = {
        "bmp_9x10_white_first.bmp": bmp(9, 10, nine, palette=(WHITE, BLACK)),
        "bmp_40x20_black_first.bmp": bmp(40, 20, forty),
        "bmp_16x8_top_down.bmp": bmp(16, -8, [[0x40, 0x00]] + [[0, 0]] * 6 + [[0x00, 0x01]]),
        "bmp_12x3_v5_header.bmp": bmp(12, 3, [[0x0F, 0xFF]] * 3, info_size=124),
        "bmp_2x2_24bit.bmp": bmp(2, 2, [[0] * 6] * 2, palette=(), bit_count=24),
        "bmp_8x2_rle.bmp": bmp(8, 2, [[0x55], [0xAA]], compression=1),
        "bmp_9x10_truncated.bmp": bmp(9, 10, nine)[:90],
        "bmp_offset_beyond_end.bmp": bmp(8, 2, [[1], [2]], offset=0xFFFFFF00),
        "bmp_palette_count_huge.bmp": bmp(8, 2, [[1], [2]], clr_used=0xFFFFFFFF),
        "bmp_height_wraps_32bit.bmp": bmp(8, 1, [[3]])[:22] + struct.pack("<i", 65537)
        + bmp(8, 1, [[3]])[26:],
        "stored_9x10.dat": stored(9, 10, nine_image),
        "stored_9x10_bad_size.dat": stored(9, 10, nine_image, size_image=33),
    }
    # The wrapping case also needs a width whose stride is 65536 bytes.
    wrap = bytearray(files["bmp_height_wraps_32bit.bmp"])
    wrap[18:22] = struct.pack("<i", 524288)
    files["bmp_height_wraps_32bit.bmp"] = bytes(wrap)
    for name, content in files.items():
        (OUT / name).write_bytes(content)


if __name__ == "__main__":
    main()
