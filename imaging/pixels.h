// Pixel access shared inside the image library: row geometry, raw pixel values at any bit
// count, and colours through the colour table.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "imaging/image.h"

namespace imaging {

// Rows of pixel data: |biHeight|.
inline int dib_rows(const BITMAPINFOHEADER& h) { return h.biHeight < 0 ? -h.biHeight : h.biHeight; }

// Bytes per row: ((bit count x width + 31) & ~31) / 8.
inline std::size_t dib_stride(const BITMAPINFOHEADER& h) {
  const std::uint64_t bits = static_cast<std::uint64_t>(h.biBitCount) * static_cast<std::uint64_t>(h.biWidth > 0 ? h.biWidth : 0);
  return static_cast<std::size_t>(((bits + 31) & ~std::uint64_t{31}) / 8);
}

inline void put_u32(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
  p[2] = static_cast<std::uint8_t>(v >> 16);
  p[3] = static_cast<std::uint8_t>(v >> 24);
}

// Writes the 14-byte file header ("BM", the file's real size, the offset of the bits) and `info`
// with its colour table of biClrUsed entries: false when writing fails.
bool write_bitmap_header(int fd, const BITMAPINFOHEADER& info);

struct rgb {
  std::uint8_t red, green, blue;
};

// A 5-bit field scaled to 0..255 (31 becomes 255).
inline std::uint8_t scale5(unsigned v) { return static_cast<std::uint8_t>((v << 3) | (v >> 2)); }

// A 16-bit pixel's three 5-bit fields (red high, blue low) scaled to 0..255.
inline rgb rgb555(std::uint16_t v) { return {scale5((v >> 10) & 31u), scale5((v >> 5) & 31u), scale5(v & 31u)}; }

// The raw value of pixel x of `row` at `bits` per pixel: an index below 8 bits, the packed
// colour otherwise (bytes little-endian).
inline std::uint32_t raw_pixel(const std::uint8_t* row, int x, int bits) {
  const std::size_t ux = static_cast<std::size_t>(x);
  switch (bits) {
    case 1:
      return (row[ux / 8] >> (7 - ux % 8)) & 1u;
    case 4:
      return (ux % 2 == 0) ? (row[ux / 2] >> 4) : (row[ux / 2] & 0x0Fu);
    case 8:
      return row[ux];
    case 16:
      return row[2 * ux] | (static_cast<std::uint32_t>(row[2 * ux + 1]) << 8);
    case 24:
      return row[3 * ux] | (static_cast<std::uint32_t>(row[3 * ux + 1]) << 8) |
             (static_cast<std::uint32_t>(row[3 * ux + 2]) << 16);
    default:
      return row[4 * ux] | (static_cast<std::uint32_t>(row[4 * ux + 1]) << 8) |
             (static_cast<std::uint32_t>(row[4 * ux + 2]) << 16) | (static_cast<std::uint32_t>(row[4 * ux + 3]) << 24);
  }
}

// Stores `v` as pixel x of `row` (a zeroed row for bit counts below 8).
inline void set_raw_pixel(std::uint8_t* row, int x, int bits, std::uint32_t v) {
  const std::size_t ux = static_cast<std::size_t>(x);
  switch (bits) {
    case 1:
      if (v & 1u) row[ux / 8] = static_cast<std::uint8_t>(row[ux / 8] | (0x80u >> (ux % 8)));
      break;
    case 4:
      row[ux / 2] = static_cast<std::uint8_t>(row[ux / 2] | ((ux % 2 == 0) ? (v & 0xFu) << 4 : (v & 0xFu)));
      break;
    case 8:
      row[ux] = static_cast<std::uint8_t>(v);
      break;
    case 16:
      row[2 * ux] = static_cast<std::uint8_t>(v);
      row[2 * ux + 1] = static_cast<std::uint8_t>(v >> 8);
      break;
    case 24:
      row[3 * ux] = static_cast<std::uint8_t>(v);
      row[3 * ux + 1] = static_cast<std::uint8_t>(v >> 8);
      row[3 * ux + 2] = static_cast<std::uint8_t>(v >> 16);
      break;
    default:
      put_u32(row + 4 * ux, v);
      break;
  }
}

// The colour of pixel x of `row` as shown: indexes through the colour table (black past its
// end), 16 bits as 5-5-5, 24 and 32 bits as blue, green, red (and an unused byte).
inline rgb pixel_rgb(const BITMAPINFOHEADER& h, const RGBQUAD* table, std::uint32_t colours, const std::uint8_t* row,
                     int x) {
  const int bits = h.biBitCount;
  const std::uint32_t v = raw_pixel(row, x, bits);
  if (bits <= 8) {
    if (v >= colours) return {0, 0, 0};
    return {table[v].rgbRed, table[v].rgbGreen, table[v].rgbBlue};
  }
  if (bits == 16) return rgb555(static_cast<std::uint16_t>(v));
  return {static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v)};
}

}  // namespace imaging
