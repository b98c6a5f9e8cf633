// Pictures for the image document tests: bitmaps of 1, 8 and 24 bits per pixel written byte by
// byte, and JPEG pictures through libjpeg.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "encoders.h"

namespace testbench_test {

// Grey level (0 black .. 255 white) of pixel (x, y), y from the top.
using grey_fn = std::function<int(int x, int y)>;

inline void put_le(std::string& out, std::uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
}

// A bottom-up bitmap: 1 bit (black is colour 0, below 128 is black), 8 bits (a grey colour
// table) or 24 bits (grey pixels); `compression` goes into the header as it is.
inline void write_bmp(const std::filesystem::path& path, int width, int height, int bits, const grey_fn& grey,
                      std::uint32_t compression = 0) {
  const int colours = bits == 1 ? 2 : bits == 8 ? 256 : 0;
  const int stride = ((width * bits + 31) & ~31) / 8;
  const std::uint32_t offset = 14 + 40 + 4 * static_cast<std::uint32_t>(colours);
  std::string out = "BM";
  put_le(out, offset + static_cast<std::uint32_t>(stride * height), 4);
  put_le(out, 0, 4);
  put_le(out, offset, 4);
  put_le(out, 40, 4);
  put_le(out, static_cast<std::uint32_t>(width), 4);
  put_le(out, static_cast<std::uint32_t>(height), 4);
  put_le(out, 1, 2);
  put_le(out, static_cast<std::uint32_t>(bits), 2);
  put_le(out, compression, 4);
  put_le(out, static_cast<std::uint32_t>(stride * height), 4);
  put_le(out, 3780, 4);
  put_le(out, 3780, 4);
  put_le(out, static_cast<std::uint32_t>(colours), 4);
  put_le(out, 0, 4);
  for (int i = 0; i < colours; ++i) {
    const auto level = static_cast<char>(bits == 1 ? i * 255 : i);
    out += std::string{level, level, level, 0};
  }
  for (int row = 0; row < height; ++row) {
    const int y = height - 1 - row;
    std::string line(static_cast<std::size_t>(stride), '\0');
    for (int x = 0; x < width; ++x) {
      const int g = grey(x, y);
      const auto ux = static_cast<std::size_t>(x);
      if (bits == 1) {
        if (g >= 128) line[ux / 8] = static_cast<char>(line[ux / 8] | (0x80 >> (ux % 8)));
      } else if (bits == 8) {
        line[ux] = static_cast<char>(g);
      } else {
        for (int c = 0; c < 3; ++c) line[3 * ux + static_cast<std::size_t>(c)] = static_cast<char>(g);
      }
    }
    out += line;
  }
  std::ofstream(path, std::ios::binary) << out;
}

// A JPEG of grey levels.
inline bool write_jpeg(const std::filesystem::path& path, int width, int height, const grey_fn& grey) {
  return imaging::test::write_jpeg(path.string(), width, height, [&](int x, int y, std::uint8_t* rgb) {
    rgb[0] = rgb[1] = rgb[2] = static_cast<std::uint8_t>(grey(x, y));
  });
}

// A horizontal ramp from black at the left to white at the right.
inline grey_fn ramp(int width) {
  return [width](int x, int) { return width > 1 ? x * 255 / (width - 1) : 255; };
}

}  // namespace testbench_test
