// Writes BMP files of any depth for the two-colour printer's tests.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "colour/color_bitmap.h"

namespace devsvc::test {

inline void put_le(std::string& out, std::uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

// The bytes of a bottom-up BMP `width` x `height` with `bits` per pixel. Up to 8 bits the
// `palette` is written and `index(x, y)` (y from the top) picks each pixel's entry; at 24 bits
// `colour(x, y)` gives the pixel. `compression` goes into the header as it is.
inline std::string bmp_bytes(int width, int height, int bits, const std::vector<rgb>& palette,
                             const std::function<std::uint32_t(int, int)>& index,
                             const std::function<rgb(int, int)>& colour = {}, std::uint32_t compression = 0) {
  const int stride = (width * bits + 31) / 32 * 4;
  const auto offset = static_cast<std::uint32_t>(14 + 40 + 4 * palette.size());
  std::string out = "BM";
  put_le(out, offset + static_cast<std::uint32_t>(stride * height), 4);
  put_le(out, 0, 4);
  put_le(out, offset, 4);
  for (const std::uint32_t v : {40u, static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height)}) put_le(out, v, 4);
  put_le(out, 1, 2);
  put_le(out, static_cast<std::uint32_t>(bits), 2);
  for (const std::uint32_t v : {compression, static_cast<std::uint32_t>(stride * height), 0u, 0u,
                                static_cast<std::uint32_t>(palette.size()), 0u}) {
    put_le(out, v, 4);
  }
  for (const rgb& c : palette) out += std::string{static_cast<char>(c.blue), static_cast<char>(c.green), static_cast<char>(c.red), '\0'};
  for (int y = height - 1; y >= 0; --y) {
    std::string row(static_cast<std::size_t>(stride), '\0');
    for (int x = 0; x < width; ++x) {
      if (bits == 24) {
        const rgb c = colour(x, y);
        row[static_cast<std::size_t>(x * 3)] = static_cast<char>(c.blue);
        row[static_cast<std::size_t>(x * 3 + 1)] = static_cast<char>(c.green);
        row[static_cast<std::size_t>(x * 3 + 2)] = static_cast<char>(c.red);
        continue;
      }
      const std::uint32_t i = index ? index(x, y) : 0;
      const auto bit = static_cast<std::size_t>(x * bits);
      const int shift = 8 - bits - static_cast<int>(bit % 8);
      if (bits <= 8) row[bit / 8] = static_cast<char>(row[bit / 8] | (i << shift));
    }
    out += row;
  }
  return out;
}

inline void write_file(const std::filesystem::path& file, const std::string& bytes) {
  std::ofstream(file, std::ios::binary) << bytes;
}

// A 24-bit picture whose pixels `colour` gives.
inline void write_rgb_bmp(const std::filesystem::path& file, int width, int height,
                          const std::function<rgb(int, int)>& colour) {
  write_file(file, bmp_bytes(width, height, 24, {}, {}, colour));
}

}  // namespace devsvc::test
