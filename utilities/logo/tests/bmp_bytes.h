// Bitmap files for the logo tests, built byte by byte so that each header field can be bent.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "logo/picture.h"

namespace logo_test {

// The fields of a bitmap file; the defaults describe a consistent file of the given rows.
struct bmp_fields {
  int width = 1;
  int height = 1;  // negative: top row first
  int bit_count = 24;
  std::vector<logo::rgb> palette;
  std::string rows;  // the pixel data as stored
  // Overrides (-1: computed).
  std::int64_t file_size = -1;
  std::int64_t bits_offset = -1;
  std::int64_t info_size = 40;
  std::int64_t planes = 1;
  std::int64_t compression = 0;
  std::int64_t size_image = 0;
  std::int64_t colours_used = -1;
  char signature[2] = {'B', 'M'};
};

// A consistent file of `rows` with the given size, depth and colour table.
inline bmp_fields fields(int width, int height, std::string rows, int bit_count = 24, std::vector<logo::rgb> palette = {}) {
  bmp_fields f;
  f.width = width;
  f.height = height;
  f.rows = std::move(rows);
  f.bit_count = bit_count;
  f.palette = std::move(palette);
  return f;
}

inline void put(std::string& out, std::uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

inline std::string bmp_file(const bmp_fields& f) {
  const std::size_t palette_bytes = f.palette.size() * 4;
  const std::uint64_t offset = f.bits_offset >= 0 ? static_cast<std::uint64_t>(f.bits_offset) : 54 + palette_bytes;
  const std::uint64_t total = 54 + palette_bytes + f.rows.size();
  std::string out{f.signature[0], f.signature[1]};
  put(out, f.file_size >= 0 ? static_cast<std::uint64_t>(f.file_size) : total, 4);
  put(out, 0, 4);
  put(out, offset, 4);
  put(out, static_cast<std::uint64_t>(f.info_size), 4);
  put(out, static_cast<std::uint32_t>(f.width), 4);
  put(out, static_cast<std::uint32_t>(f.height), 4);
  put(out, static_cast<std::uint64_t>(f.planes), 2);
  put(out, static_cast<std::uint64_t>(f.bit_count), 2);
  put(out, static_cast<std::uint64_t>(f.compression), 4);
  put(out, static_cast<std::uint64_t>(f.size_image), 4);
  put(out, 2835, 4);
  put(out, 2835, 4);
  put(out, f.colours_used >= 0 ? static_cast<std::uint64_t>(f.colours_used) : f.palette.size(), 4);
  put(out, 0, 4);
  for (const logo::rgb& c : f.palette) out += std::string{static_cast<char>(c.b), static_cast<char>(c.g), static_cast<char>(c.r), '\0'};
  out += f.rows;
  return out;
}

// The rows of a 24-bit picture given top row first, stored bottom row first.
inline std::string rows_24(const std::vector<logo::rgb>& pixels, int width, int height) {
  const std::size_t stride = (static_cast<std::size_t>(width) * 3 + 3) / 4 * 4;
  std::string out(stride * static_cast<std::size_t>(height), '\0');
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const logo::rgb& c = pixels[static_cast<std::size_t>(y * width + x)];
      const std::size_t at = static_cast<std::size_t>(height - 1 - y) * stride + static_cast<std::size_t>(x) * 3;
      out[at] = static_cast<char>(c.b);
      out[at + 1] = static_cast<char>(c.g);
      out[at + 2] = static_cast<char>(c.r);
    }
  }
  return out;
}

// A 24-bit picture of `pixels` (top row first) as a loaded bitmap.
inline logo::dib picture_of(const std::vector<logo::rgb>& pixels, int width, int height) {
  const std::string file = bmp_file(fields(width, height, rows_24(pixels, width, height)));
  const logo::load_result loaded = logo::load_bitmap_bytes(
      std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(file.data()), file.size()), "test.bmp");
  return *loaded.picture;
}

inline logo::load_result load(const std::string& file) {
  return logo::load_bitmap_bytes(
      std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(file.data()), file.size()), "pic.bmp");
}

}  // namespace logo_test
