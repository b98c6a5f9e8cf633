// Bitmaps in memory, the bitmap file loader and the halftone stretching of the conversion.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include "logo/picture.h"

namespace logo {
namespace {

constexpr std::size_t kFileHeaderSize = 14;
constexpr std::size_t kInfoHeaderSize = 40;
// The largest picture held, in pixels: far beyond any logo (the printer takes at most 65535 dots
// a side, and receipt paper is narrower than 600 dots).
constexpr std::uint64_t kMaxPixels = 64u << 20;
// The largest file read.
constexpr std::uint64_t kMaxFileBytes = 512u << 20;

std::uint32_t le32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
std::uint16_t le16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }
void put32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
void put16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}

bool supported_bit_count(int bits) { return bits == 1 || bits == 4 || bits == 8 || bits == 24 || bits == 32; }

std::uint64_t row_stride(std::uint64_t width, int bits) { return (width * static_cast<std::uint64_t>(bits) + 31) / 32 * 4; }

// Why a header cannot be taken.
enum class refusal { none, structure, format };

// The layout an information header describes.
struct layout {
  std::int32_t width = 0;
  std::int32_t height = 0;  // as stored (negative: top row first)
  int bit_count = 0;
  std::uint32_t entries = 0;  // colour-table entries kept (none above 8 bits)
  std::uint32_t stored_entries = 0;  // colour-table entries the file holds
  std::uint64_t stride = 0;
  std::uint64_t image_bytes = 0;
};

refusal read_layout(const std::uint8_t* info, layout& out) {
  if (le32(info) != kInfoHeaderSize) return refusal::structure;
  out.width = static_cast<std::int32_t>(le32(info + 4));
  out.height = static_cast<std::int32_t>(le32(info + 8));
  if (out.width <= 0 || out.height == 0 || out.height == INT32_MIN || le16(info + 12) != 1) return refusal::structure;
  out.bit_count = le16(info + 14);
  if (!supported_bit_count(out.bit_count) || le32(info + 16) != 0) return refusal::format;
  const std::uint32_t used = le32(info + 32);
  if (used > 256) return refusal::format;
  out.stored_entries = out.bit_count <= 8 ? (used != 0 ? used : 1u << out.bit_count) : used;
  out.entries = out.bit_count <= 8 ? out.stored_entries : 0;
  const std::uint64_t rows = static_cast<std::uint64_t>(out.height < 0 ? -static_cast<std::int64_t>(out.height) : out.height);
  if (static_cast<std::uint64_t>(out.width) * rows > kMaxPixels) return refusal::format;
  out.stride = row_stride(static_cast<std::uint64_t>(out.width), out.bit_count);
  out.image_bytes = out.stride * rows;
  return refusal::none;
}

std::string structure_text(std::string_view file) {
  return "Raise error while reading image structure information.\r\nBe sure the " + std::string(file) +
         " is a valid image file.";
}

std::string format_text(std::string_view file) {
  return "Raise error on create compatible bitmap for image file <" + std::string(file) + ">.";
}

std::string open_text(std::string_view file, std::string_view reason) {
  return "Raise error for open the file " + std::string(file) + ".\r\nExtended error description: " + std::string(reason);
}

// A packed bitmap of `l` with a normalised header: 40 bytes, no compression, the kept colour
// table, the image size filled in.
std::vector<std::uint8_t> packed_of(const std::uint8_t* info, const layout& l) {
  std::vector<std::uint8_t> packed(kInfoHeaderSize + l.entries * 4u + l.image_bytes);
  std::memcpy(packed.data(), info, kInfoHeaderSize);
  put32(packed.data() + 20, static_cast<std::uint32_t>(l.image_bytes));
  put32(packed.data() + 32, l.entries);
  put32(packed.data() + 36, 0);
  return packed;
}

}  // namespace

std::optional<dib> dib::from_packed(std::vector<std::uint8_t> packed) {
  if (packed.size() < kInfoHeaderSize) return std::nullopt;
  layout l;
  if (read_layout(packed.data(), l) != refusal::none) return std::nullopt;
  const std::uint64_t palette = l.bit_count <= 8 ? l.entries * 4u : l.stored_entries * 4u;
  if (kInfoHeaderSize + palette + l.image_bytes > packed.size()) return std::nullopt;
  dib out;
  out.packed_ = std::move(packed);
  out.width_ = l.width;
  out.height_ = l.height < 0 ? -l.height : l.height;
  out.bottom_up_ = l.height > 0;
  out.bit_count_ = l.bit_count;
  out.stride_ = static_cast<std::size_t>(l.stride);
  out.palette_entries_ = l.entries;
  out.bits_offset_ = static_cast<std::size_t>(kInfoHeaderSize + palette);
  return out;
}

dib dib::make_24bpp(int width, int height) {
  const std::uint64_t stride = row_stride(static_cast<std::uint64_t>(width), 24);
  const std::uint64_t image = stride * static_cast<std::uint64_t>(height);
  std::vector<std::uint8_t> packed(kInfoHeaderSize + image, 0xFF);
  std::fill_n(packed.begin(), kInfoHeaderSize, 0);
  put32(packed.data(), kInfoHeaderSize);
  put32(packed.data() + 4, static_cast<std::uint32_t>(width));
  put32(packed.data() + 8, static_cast<std::uint32_t>(height));
  put16(packed.data() + 12, 1);
  put16(packed.data() + 14, 24);
  put32(packed.data() + 20, static_cast<std::uint32_t>(image));
  return *from_packed(std::move(packed));
}

rgb dib::pixel(int x, int y) const {
  const int row_index = bottom_up_ ? height_ - 1 - y : y;
  const std::uint8_t* row = bits() + static_cast<std::size_t>(row_index) * stride_;
  const auto ux = static_cast<std::size_t>(x);
  if (bit_count_ >= 24) {
    const std::uint8_t* p = row + ux * static_cast<std::size_t>(bit_count_ / 8);
    return {p[2], p[1], p[0]};
  }
  std::size_t index = 0;
  if (bit_count_ == 1) index = (row[ux / 8] >> (7 - ux % 8)) & 1u;
  if (bit_count_ == 4) index = (row[ux / 2] >> (ux % 2 == 0 ? 4 : 0)) & 0x0Fu;
  if (bit_count_ == 8) index = row[ux];
  if (index >= palette_entries_) return {};
  const std::uint8_t* entry = info() + kInfoHeaderSize + index * 4;
  return {entry[2], entry[1], entry[0]};
}

void dib::set_pixel(int x, int y, rgb colour) {
  if (bit_count_ < 24) return;
  const int row_index = bottom_up_ ? height_ - 1 - y : y;
  std::uint8_t* p = bits() + static_cast<std::size_t>(row_index) * stride_ +
                    static_cast<std::size_t>(x) * static_cast<std::size_t>(bit_count_ / 8);
  p[0] = colour.b;
  p[1] = colour.g;
  p[2] = colour.r;
}

load_result load_bitmap_bytes(std::span<const std::uint8_t> bytes, std::string_view file) {
  load_result result;
  const std::uint64_t size = bytes.size();
  if (size < kFileHeaderSize + kInfoHeaderSize || bytes[0] != 'B' || bytes[1] != 'M') {
    result.message = structure_text(file);
    return result;
  }
  const std::uint8_t* info = bytes.data() + kFileHeaderSize;
  layout l;
  const refusal why = read_layout(info, l);
  if (why != refusal::none) {
    result.message = why == refusal::structure ? structure_text(file) : format_text(file);
    return result;
  }
  // The file header's size and offset, the colour table and the rows must all lie in the file.
  const std::uint64_t file_size_field = le32(bytes.data() + 2);
  const std::uint64_t bits_offset = le32(bytes.data() + 10);
  const std::uint64_t palette_end = kFileHeaderSize + kInfoHeaderSize + l.stored_entries * 4u;
  const std::uint64_t size_image = le32(info + 20);
  if (file_size_field > size || palette_end > size || bits_offset < palette_end || bits_offset > size ||
      l.image_bytes > size - bits_offset || (size_image != 0 && size_image < l.image_bytes) ||
      size_image > size - bits_offset) {
    result.message = structure_text(file);
    return result;
  }
  std::vector<std::uint8_t> packed = packed_of(info, l);
  std::memcpy(packed.data() + kInfoHeaderSize, info + kInfoHeaderSize, l.entries * 4u);
  std::memcpy(packed.data() + kInfoHeaderSize + l.entries * 4u, bytes.data() + bits_offset, l.image_bytes);
  result.picture = dib::from_packed(std::move(packed));
  if (!result.picture) result.message = format_text(file);
  return result;
}

load_result load_bitmap_file(const std::filesystem::path& file) {
  const std::string name = file.string();
  const int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return {std::nullopt, open_text(name, std::strerror(errno))};
  struct closer {
    int fd;
    ~closer() { ::close(fd); }
  } guard{fd};
  // The whole file, read up to its end: a file that grows past the limit is not taken.
  std::vector<std::uint8_t> bytes;
  std::uint8_t chunk[65536];
  for (;;) {
    const ssize_t got = ::read(fd, chunk, sizeof chunk);
    if (got < 0) {
      if (errno == EINTR) continue;
      return {std::nullopt, open_text(name, std::strerror(errno))};
    }
    if (got == 0) break;
    if (bytes.size() + static_cast<std::size_t>(got) > kMaxFileBytes) return {std::nullopt, format_text(name)};
    bytes.insert(bytes.end(), chunk, chunk + got);
  }
  return load_bitmap_bytes(bytes, name);
}

dib stretch_halftone(const dib& source, int width, int height) {
  dib out = dib::make_24bpp(width, height);
  const int sw = source.width();
  const int sh = source.height();
  // Target index i covers source span [i s / t, (i + 1) s / t). Scaled by t, every bound is an
  // integer, so each source index's share is an exact integer weight and the weights of one
  // target index sum to s: the averages round exactly.
  struct share {
    int index;
    std::uint64_t weight;
  };
  auto shares = [](int s, int t) {
    std::vector<std::vector<share>> all(static_cast<std::size_t>(t));
    for (int i = 0; i < t; ++i) {
      const std::int64_t from = static_cast<std::int64_t>(i) * s;
      const std::int64_t to = from + s;
      for (std::int64_t j = from / t; j < s && j * t < to; ++j) {
        const std::int64_t overlap = std::min(to, (j + 1) * t) - std::max(from, j * t);
        if (overlap > 0) all[static_cast<std::size_t>(i)].push_back({static_cast<int>(j), static_cast<std::uint64_t>(overlap)});
      }
    }
    return all;
  };
  const auto columns = shares(sw, width);
  const auto rows = shares(sh, height);
  // Horizontal pass into one row of weighted sums per source row, then the vertical pass.
  std::vector<std::uint64_t> across(static_cast<std::size_t>(sh) * static_cast<std::size_t>(width) * 3);
  for (int y = 0; y < sh; ++y) {
    for (int x = 0; x < width; ++x) {
      std::uint64_t* to = &across[(static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x)) * 3];
      for (const share& part : columns[static_cast<std::size_t>(x)]) {
        const rgb p = source.pixel(part.index, y);
        to[0] += p.r * part.weight;
        to[1] += p.g * part.weight;
        to[2] += p.b * part.weight;
      }
    }
  }
  const std::uint64_t total = static_cast<std::uint64_t>(sw) * static_cast<std::uint64_t>(sh);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      std::uint64_t c[3] = {0, 0, 0};
      for (const share& part : rows[static_cast<std::size_t>(y)]) {
        const std::uint64_t* from =
            &across[(static_cast<std::size_t>(part.index) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x)) * 3];
        for (int i = 0; i < 3; ++i) c[i] += from[i] * part.weight;
      }
      auto average = [total](std::uint64_t sum) { return static_cast<std::uint8_t>((sum + total / 2) / total); };
      out.set_pixel(x, y, {average(c[0]), average(c[1]), average(c[2])});
    }
  }
  return out;
}

}  // namespace logo
