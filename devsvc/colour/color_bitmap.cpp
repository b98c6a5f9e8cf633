// CColorBitmap: loading with every size checked against the file, pixels of any depth, colour
// mode and raster planes.
#include "colour/color_bitmap.h"

#include <algorithm>

namespace devsvc {
namespace {

constexpr std::uint64_t kFileHeaderSize = 14;
constexpr std::uint64_t kInfoHeaderSize = 40;
constexpr std::uint64_t kPaletteEntrySize = 4;  // blue, green, red, reserved
constexpr std::uint16_t kMaxBitCount = 32;

std::uint32_t le32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

}  // namespace

int CColorBitmap::load(const std::filesystem::path& file) {
  *this = CColorBitmap();
  std::vector<std::uint8_t> bytes;
  const int read = read_bitmap_file(file, bytes);
  if (read != kBitmapOk) return read;
  return load(std::span<const std::uint8_t>(bytes));
}

int CColorBitmap::load(std::span<const std::uint8_t> file) {
  *this = CColorBitmap();
  if (file.size() < kFileHeaderSize + kInfoHeaderSize) return kBitmapBadFormat;
  if (file[0] != 'B' || file[1] != 'M') return kBitmapBadFormat;
  return parse(file, kFileHeaderSize, le32(file.data() + 10), false);
}

int CColorBitmap::load_packed(std::span<const std::uint8_t> dib) {
  *this = CColorBitmap();
  if (dib.size() < kInfoHeaderSize) return kBitmapBadFormat;
  return parse(dib, 0, 0, true);
}

int CColorBitmap::parse(std::span<const std::uint8_t> bytes, std::uint64_t header_at, std::uint64_t pixel_offset,
                        bool packed) {
  // 64-bit arithmetic on values of at most 32 bits: nothing overflows, and every extent is
  // compared with the real size before a byte of it is read.
  const std::uint64_t size = bytes.size();
  bitmap_info_header info = parse_bitmap_info_header(bytes.data() + header_at);
  if (info.size < kInfoHeaderSize || header_at + info.size > size) return kBitmapBadFormat;
  if (info.compression != 0 || info.bit_count == 0 || info.bit_count > kMaxBitCount) return kBitmapBadFormat;
  if (info.width <= 0 || info.height == 0) return kBitmapBadFormat;

  const std::int64_t height = info.height < 0 ? -static_cast<std::int64_t>(info.height) : info.height;
  const std::uint64_t stride = (static_cast<std::uint64_t>(info.width) * info.bit_count + 31) / 32 * 4;
  const std::uint64_t pixel_bytes = static_cast<std::uint64_t>(height) * stride;
  if (pixel_bytes > kBitmapMaxPixelBytes) return kBitmapTooLarge;

  // Palettes belong to depths of 8 bits and less; deeper pictures carry their colours.
  const std::uint64_t palette_at = header_at + info.size;
  std::uint64_t entries = 0;
  if (info.bit_count <= 8) entries = info.clr_used != 0 ? info.clr_used : 1ULL << info.bit_count;
  if (entries > (size - palette_at) / kPaletteEntrySize) return kBitmapBadFormat;
  if (packed) pixel_offset = palette_at + entries * kPaletteEntrySize;
  if (pixel_offset < palette_at + entries * kPaletteEntrySize || pixel_offset > size ||
      pixel_bytes > size - pixel_offset) {
    return kBitmapBadFormat;
  }

  std::vector<rgb> palette(static_cast<std::size_t>(entries));
  for (std::uint64_t i = 0; i < entries; ++i) {
    const std::uint8_t* entry = bytes.data() + palette_at + i * kPaletteEntrySize;
    palette[static_cast<std::size_t>(i)] = rgb{entry[2], entry[1], entry[0]};
  }
  info.size = static_cast<std::uint32_t>(kInfoHeaderSize);
  header_ = info;
  height_ = static_cast<std::int32_t>(height);
  stride_ = stride;
  palette_ = std::move(palette);
  bits_.assign(reinterpret_cast<const char*>(bytes.data() + pixel_offset), static_cast<std::size_t>(pixel_bytes));
  return kBitmapOk;
}

int CColorBitmap::colour_mode() const {
  if (palette_.size() != 2) return kColourModeMany;
  const bool black_red = (palette_[0] == kBlack && palette_[1] == kPureRed) ||
                         (palette_[0] == kPureRed && palette_[1] == kBlack);
  return black_red ? kColourModeBlackRed : kColourModeOther;
}

rgb CColorBitmap::pixel(std::int32_t x, std::int32_t y) const {
  if (x < 0 || y < 0 || x >= header_.width || y >= height_) return kWhite;
  // A positive height stores the bottom row first.
  const std::uint64_t row = header_.height > 0 ? static_cast<std::uint64_t>(height_ - 1 - y) : static_cast<std::uint64_t>(y);
  const auto* const data = reinterpret_cast<const std::uint8_t*>(bits_.data()) + row * stride_;
  const auto ux = static_cast<std::uint64_t>(x);
  std::uint32_t index = 0;
  switch (header_.bit_count) {
    case 1:
      index = (data[ux / 8] >> (7 - ux % 8)) & 1;
      break;
    case 4:
      index = (data[ux / 2] >> (ux % 2 == 0 ? 4 : 0)) & 0x0F;
      break;
    case 8:
      index = data[ux];
      break;
    case 24: {
      const std::uint8_t* p = data + ux * 3;
      return rgb{p[2], p[1], p[0]};
    }
    default:
      return kBlack;
  }
  return index < palette_.size() ? palette_[index] : kBlack;
}

bool CColorBitmap::printable_as_is() const {
  for (std::int32_t y = 0; y < height_; ++y) {
    for (std::int32_t x = 0; x < header_.width; ++x) {
      const rgb c = pixel(x, y);
      if (c != kBlack && c != kWhite && c != kPureRed) return false;
    }
  }
  return true;
}

std::string CColorBitmap::plane(ink which, std::int32_t first_row, std::int32_t rows) const {
  const rgb wanted = which == ink::black ? kBlack : kPureRed;
  const auto x_bytes = static_cast<std::size_t>(row_bytes());
  first_row = std::clamp(first_row, 0, height_);
  rows = std::clamp(rows, 0, height_ - first_row);
  std::string out(x_bytes * static_cast<std::size_t>(rows), '\0');
  for (std::int32_t r = 0; r < rows; ++r) {
    char* const to = out.data() + static_cast<std::size_t>(r) * x_bytes;
    for (std::int32_t x = 0; x < header_.width; ++x) {
      if (pixel(x, first_row + r) == wanted) to[x / 8] = static_cast<char>(to[x / 8] | (0x80 >> (x % 8)));
    }
  }
  return out;
}

std::string CColorBitmap::packed_info() const {
  std::string out;
  append_bitmap_info_header(out, header_);
  for (const rgb& c : palette_) {
    out += static_cast<char>(c.blue);
    out += static_cast<char>(c.green);
    out += static_cast<char>(c.red);
    out += '\0';
  }
  return out;
}

}  // namespace devsvc
