// Test pictures: bitmap files built byte by byte, so that the library's reading is checked
// against files it did not write itself.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "imaging/image.h"

namespace imaging::test {

struct bmp_spec {
  int width = 1;
  int height = 1;  // negative: rows stored top first
  int bits = 24;
  std::vector<RGBQUAD> table;      // written as given (biClrUsed = its size when `clr_used` < 0)
  int clr_used = -1;
  std::uint32_t compression = 0;
  std::uint32_t info_size = 40;    // bytes of info header written (the size field says this)
  std::uint8_t padding = 0;        // value of every row's padding bytes
  // Raw pixel value of column x of stored row y (an index below 16 bits, else the packed
  // little-endian colour bytes).
  std::function<std::uint32_t(int x, int y)> pixel = [](int, int) { return 0u; };
};

inline void put_le(std::string& out, std::uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
}

inline int stride_of(int width, int bits) { return ((width * bits + 31) & ~31) / 8; }

inline std::string make_bmp(const bmp_spec& s) {
  const int rows = s.height < 0 ? -s.height : s.height;
  const int stride = stride_of(s.width, s.bits);
  const std::uint32_t used = s.clr_used < 0 ? static_cast<std::uint32_t>(s.table.size()) : static_cast<std::uint32_t>(s.clr_used);
  const std::uint32_t offset = 14 + s.info_size + 4 * static_cast<std::uint32_t>(s.table.size());
  std::string out = "BM";
  put_le(out, offset + static_cast<std::uint32_t>(stride * rows), 4);
  put_le(out, 0, 4);
  put_le(out, offset, 4);
  std::string info;
  put_le(info, s.info_size, 4);
  put_le(info, static_cast<std::uint32_t>(s.width), 4);
  put_le(info, static_cast<std::uint32_t>(s.height), 4);
  put_le(info, 1, 2);
  put_le(info, static_cast<std::uint32_t>(s.bits), 2);
  put_le(info, s.compression, 4);
  put_le(info, static_cast<std::uint32_t>(stride * rows), 4);
  put_le(info, 0, 4);
  put_le(info, 0, 4);
  put_le(info, used, 4);
  put_le(info, used, 4);
  info.resize(s.info_size, '\0');
  out += info;
  for (const RGBQUAD& q : s.table) out += std::string{static_cast<char>(q.rgbBlue), static_cast<char>(q.rgbGreen), static_cast<char>(q.rgbRed), 0};
  for (int y = 0; y < rows; ++y) {
    std::string row(static_cast<std::size_t>(stride), '\0');
    const int used_bytes = (s.width * s.bits + 7) / 8;
    for (int i = used_bytes; i < stride; ++i) row[static_cast<std::size_t>(i)] = static_cast<char>(s.padding);
    for (int x = 0; x < s.width; ++x) {
      const std::uint32_t v = s.pixel(x, y);
      const auto ux = static_cast<std::size_t>(x);
      switch (s.bits) {
        case 1:
          if (v & 1u) row[ux / 8] = static_cast<char>(row[ux / 8] | (0x80 >> (ux % 8)));
          break;
        case 4:
          row[ux / 2] = static_cast<char>(row[ux / 2] | ((ux % 2 == 0) ? (v & 15u) << 4 : (v & 15u)));
          break;
        default:
          for (int b = 0; b < s.bits / 8; ++b) row[ux * static_cast<std::size_t>(s.bits / 8) + static_cast<std::size_t>(b)] = static_cast<char>((v >> (8 * b)) & 0xFF);
      }
    }
    out += row;
  }
  return out;
}

inline void write_file(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

inline std::string read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// 24-bit raw value of a colour.
inline std::uint32_t bgr(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
  return b | (static_cast<std::uint32_t>(g) << 8) | (static_cast<std::uint32_t>(r) << 16);
}

inline const std::vector<RGBQUAD> kBlackWhite = {{0, 0, 0, 0}, {255, 255, 255, 0}};

}  // namespace imaging::test
