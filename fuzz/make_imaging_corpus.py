#!/usr/bin/env python3
"""Writes the seed corpora of imaging_bmp_fuzz (small BMP files of every depth, valid and
malformed) and imaging_jpeg_fuzz (small JPEG files made with ImageMagick's convert: baseline,
progressive, grey, CMYK, with densities, truncated). Run from anywhere:
python3 fuzz/make_imaging_corpus.py"""
import pathlib
import shutil
import struct
import subprocess
import tempfile

from make_corpus import bmp

HERE = pathlib.Path(__file__).resolve().parent
BMP_OUT = HERE / "corpus" / "imaging_bmp"
JPEG_OUT = HERE / "corpus" / "imaging_jpeg"


def rows(width, height, bits, seed):
    stride = (width * bits + 31) // 32 * 4
    return [[(r * 31 + c * seed) & 0xFF for c in range(stride)] for r in range(abs(height))]


def grey_table(n):
    return tuple(bytes([i * 255 // max(n - 1, 1)] * 3 + [0]) for i in range(n))


def bmp_files():
    files = {}
    for bits, colours in ((1, 2), (4, 16), (8, 256), (16, 0), (24, 0), (32, 0)):
        pal = grey_table(colours) if colours else ()
        files[f"bmp_7x5_{bits}bit.bmp"] = bmp(7, 5, rows(7, 5, bits, 7), palette=pal, bit_count=bits)
        files[f"bmp_5x3_{bits}bit_top_down.bmp"] = bmp(5, -3, rows(5, -3, bits, 3), palette=pal, bit_count=bits)
    files["bmp_8bit_few_colours.bmp"] = bmp(6, 2, rows(6, 2, 8, 1), palette=grey_table(4), bit_count=8)
    files["bmp_8bit_no_count.bmp"] = bmp(4, 2, rows(4, 2, 8, 5), palette=grey_table(256), bit_count=8, clr_used=0)
    files["bmp_v4_header.bmp"] = bmp(4, 2, rows(4, 2, 24, 9), palette=(), bit_count=24, info_size=108)
    files["bmp_bitfields.bmp"] = bmp(4, 2, rows(4, 2, 16, 9), palette=(), bit_count=16, compression=3)
    files["bmp_truncated_pixels.bmp"] = bmp(16, 16, rows(16, 16, 24, 3), palette=(), bit_count=24)[:300]
    files["bmp_size_image_huge.bmp"] = bytearray(bmp(4, 2, rows(4, 2, 24, 9), palette=(), bit_count=24))
    files["bmp_size_image_huge.bmp"][34:38] = struct.pack("<I", 0xFFFFFF00)
    files["bmp_size_image_huge.bmp"] = bytes(files["bmp_size_image_huge.bmp"])
    files["bmp_text.bmp"] = b"BMthis is not a bitmap at all"
    return files


def jpeg_files(tmp):
    convert = shutil.which("convert")
    if convert is None:
        raise SystemExit("ImageMagick's convert is needed for the JPEG seeds")
    recipes = {
        "baseline_24x16.jpg": ["-size", "24x16", "gradient:red-blue", "-quality", "80"],
        "progressive_17x9.jpg": ["-size", "17x9", "plasma:fractal", "-interlace", "Plane", "-quality", "60"],
        "grey_8x8.jpg": ["-size", "8x8", "gradient:", "-colorspace", "Gray"],
        "cmyk_8x8.jpg": ["-size", "8x8", "xc:orange", "-colorspace", "CMYK"],
        "density_300dpi.jpg": ["-size", "12x12", "xc:green", "-density", "300", "-units", "PixelsPerInch"],
        "density_per_cm.jpg": ["-size", "12x6", "xc:navy", "-density", "40x20", "-units", "PixelsPerCentimeter"],
        "subsampled_420_33x21.jpg": ["-size", "33x21", "plasma:", "-sampling-factor", "2x2", "-quality", "50"],
    }
    files = {}
    for name, args in recipes.items():
        out = pathlib.Path(tmp) / name
        subprocess.run([convert, *args, "-strip" if "density" not in name else "+comment", str(out)], check=True)
        files[name] = out.read_bytes()
    files["truncated_baseline.jpg"] = files["baseline_24x16.jpg"][: len(files["baseline_24x16.jpg"]) * 2 // 3]
    files["header_only.jpg"] = files["grey_8x8.jpg"][: files["grey_8x8.jpg"].find(b"\xff\xda")]
    return files


def main():
    for out, files in ((BMP_OUT, bmp_files()),):
        out.mkdir(parents=True, exist_ok=True)
        for name, content in files.items():
            (out / name).write_bytes(content)
    with tempfile.TemporaryDirectory() as tmp:
        JPEG_OUT.mkdir(parents=True, exist_ok=True)
        for name, content in jpeg_files(tmp).items():
            (JPEG_OUT / name).write_bytes(content)


if __name__ == "__main__":
    main()
