// Packed bitmaps behind handles: the geometry of an information header, the 24-bit copy, and
// the conversions between 24-bit handles and pixel lists.
#include "dib24.h"

#include <climits>
#include <cstdlib>
#include <cstring>

namespace imgconv {
namespace {

constexpr std::uint32_t kInfoHeaderSize = 40;
// The largest picture the libraries take, in pixels: far beyond any receipt picture.
constexpr std::uint64_t kMaxPixels = 64u << 20;

std::uint32_t le32(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
std::uint16_t le16(const unsigned char* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }
void put32(unsigned char* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}
void put16(unsigned char* p, std::uint16_t v) {
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
}

// The geometry of a picture as its information header gives it.
struct geometry {
  std::int32_t width = 0;
  std::int32_t height = 0;  // rows, always positive
  bool bottom_up = true;
  std::uint16_t bit_count = 0;
  std::uint64_t stride = 0;
};

bool read_geometry(const unsigned char* info, geometry& g) {
  const std::uint32_t size = le32(info);
  const auto width = static_cast<std::int32_t>(le32(info + 4));
  const auto height = static_cast<std::int32_t>(le32(info + 8));
  g.bit_count = le16(info + 14);
  const std::uint32_t compression = le32(info + 16);
  if (size < kInfoHeaderSize || compression != 0 || width <= 0 || height == 0 || height == INT32_MIN) return false;
  g.width = width;
  g.height = height < 0 ? -height : height;
  g.bottom_up = height > 0;
  if (static_cast<std::uint64_t>(g.width) * static_cast<std::uint64_t>(g.height) > kMaxPixels) return false;
  g.stride = (static_cast<std::uint64_t>(g.width) * g.bit_count + 31) / 32 * 4;
  return g.bit_count == 1 || g.bit_count == 4 || g.bit_count == 8 || g.bit_count == 24 || g.bit_count == 32;
}

// A handle holding a zeroed 24-bit packed bitmap of `width` x `height`, or null when memory
// runs out.
imgconv_image* new_24bpp(std::int32_t width, std::int32_t height, std::uint64_t& stride) {
  stride = (static_cast<std::uint64_t>(width) * 24 + 31) / 32 * 4;
  const std::uint64_t size = kInfoHeaderSize + stride * static_cast<std::uint64_t>(height);
  auto* image = static_cast<imgconv_image*>(std::calloc(1, sizeof(imgconv_image) + size));
  if (image == nullptr) return nullptr;
  image->size = static_cast<std::uint32_t>(size);
  unsigned char* h = imgconv_dib(image);
  put32(h, kInfoHeaderSize);
  put32(h + 4, static_cast<std::uint32_t>(width));
  put32(h + 8, static_cast<std::uint32_t>(height));  // bottom row first
  put16(h + 12, 1);
  put16(h + 14, 24);
  put32(h + 20, static_cast<std::uint32_t>(stride * static_cast<std::uint64_t>(height)));
  return image;
}

}  // namespace

imgconv_image* convert_to_24bpp(const void* info_bytes, const void* bits_bytes) {
  if (info_bytes == nullptr || bits_bytes == nullptr) return nullptr;
  const auto* info = static_cast<const unsigned char*>(info_bytes);
  const auto* bits = static_cast<const unsigned char*>(bits_bytes);
  geometry g;
  if (!read_geometry(info, g)) return nullptr;
  const std::uint32_t used = le32(info + 32);
  const std::uint32_t entries = g.bit_count <= 8 ? (used != 0 ? used : 1u << g.bit_count) : 0;
  if (entries > 256) return nullptr;
  const unsigned char* palette = info + le32(info);

  std::uint64_t stride = 0;
  imgconv_image* image = new_24bpp(g.width, g.height, stride);
  if (image == nullptr) return nullptr;
  unsigned char* out = imgconv_dib(image) + kInfoHeaderSize;
  for (std::int32_t y = 0; y < g.height; ++y) {
    // Both pictures keep the file's row order: bottom row first.
    const std::int32_t row = g.bottom_up ? y : g.height - 1 - y;
    const unsigned char* from = bits + static_cast<std::uint64_t>(row) * g.stride;
    unsigned char* to = out + static_cast<std::uint64_t>(y) * stride;
    for (std::int32_t x = 0; x < g.width; ++x) {
      const auto ux = static_cast<std::uint64_t>(x);
      unsigned char* p = to + ux * 3;
      if (g.bit_count >= 24) {
        std::memcpy(p, from + ux * (g.bit_count / 8u), 3);
        continue;
      }
      std::uint32_t index = 0;
      if (g.bit_count == 1) index = (from[ux / 8] >> (7 - ux % 8)) & 1;
      if (g.bit_count == 4) index = (from[ux / 2] >> (ux % 2 == 0 ? 4 : 0)) & 0x0F;
      if (g.bit_count == 8) index = from[ux];
      // An index past the palette is black.
      if (index < entries) std::memcpy(p, palette + index * 4, 3);
    }
  }
  return image;
}

bool read_24bpp(const imgconv_image* image, std::vector<pixel>& pixels, int& width, int& height) {
  if (image == nullptr || image->size < kInfoHeaderSize) return false;
  geometry g;
  if (!read_geometry(imgconv_dib(image), g) || g.bit_count != 24 ||
      kInfoHeaderSize + g.stride * static_cast<std::uint64_t>(g.height) > image->size) {
    return false;
  }
  width = g.width;
  height = g.height;
  pixels.assign(static_cast<std::size_t>(g.width) * static_cast<std::size_t>(g.height), pixel{});
  const unsigned char* bits = imgconv_dib(image) + le32(imgconv_dib(image));
  if (le32(imgconv_dib(image)) + g.stride * static_cast<std::uint64_t>(g.height) > image->size) return false;
  for (std::int32_t y = 0; y < g.height; ++y) {
    const std::int32_t row = g.bottom_up ? g.height - 1 - y : y;
    const unsigned char* from = bits + static_cast<std::uint64_t>(row) * g.stride;
    for (std::int32_t x = 0; x < g.width; ++x) {
      const unsigned char* p = from + static_cast<std::uint64_t>(x) * 3;
      pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(g.width) + static_cast<std::size_t>(x)] = {p[2], p[1], p[0]};
    }
  }
  return true;
}

imgconv_image* write_24bpp(const std::vector<pixel>& pixels, int width, int height) {
  std::uint64_t stride = 0;
  imgconv_image* result = new_24bpp(width, height, stride);
  if (result == nullptr) return nullptr;
  unsigned char* to_bits = imgconv_dib(result) + kInfoHeaderSize;
  for (std::int32_t y = 0; y < height; ++y) {
    unsigned char* to = to_bits + static_cast<std::uint64_t>(height - 1 - y) * stride;
    for (std::int32_t x = 0; x < width; ++x) {
      const pixel& c = pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x)];
      unsigned char* p = to + static_cast<std::uint64_t>(x) * 3;
      p[0] = c.b;
      p[1] = c.g;
      p[2] = c.r;
    }
  }
  return result;
}

}  // namespace imgconv
