// PSF console font reader and the built-in fallback font.
#include "font.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <mutex>
#include <tuple>

namespace vprinter::detail {
namespace {

// Reads a whole file, decompressing gzip on the way (zlib passes plain files through).
bool read_file(const std::filesystem::path& file, std::string& out) {
  gzFile f = gzopen(file.c_str(), "rb");
  if (!f) return false;
  std::array<char, 16384> buf{};
  for (;;) {
    int n = gzread(f, buf.data(), static_cast<unsigned>(buf.size()));
    if (n < 0) {
      gzclose(f);
      return false;
    }
    if (n == 0) break;
    out.append(buf.data(), static_cast<std::size_t>(n));
    if (out.size() > (8u << 20)) break;  // no console font is this large
  }
  gzclose(f);
  return true;
}

std::uint32_t le32(const std::string& s, std::size_t at) {
  return static_cast<std::uint32_t>(static_cast<unsigned char>(s[at])) |
         static_cast<std::uint32_t>(static_cast<unsigned char>(s[at + 1])) << 8 |
         static_cast<std::uint32_t>(static_cast<unsigned char>(s[at + 2])) << 16 |
         static_cast<std::uint32_t>(static_cast<unsigned char>(s[at + 3])) << 24;
}

// Decodes one UTF-8 character of a PSF2 table entry; returns false at a malformed byte.
bool next_utf8(const std::string& s, std::size_t& pos, std::size_t end, char32_t& cp) {
  auto b = static_cast<unsigned char>(s[pos]);
  int extra = b < 0x80 ? 0 : (b & 0xE0) == 0xC0 ? 1 : (b & 0xF0) == 0xE0 ? 2 : (b & 0xF8) == 0xF0 ? 3 : -1;
  if (extra < 0 || pos + static_cast<std::size_t>(extra) >= end) {
    ++pos;
    return false;
  }
  cp = extra == 0 ? b : b & (0x3F >> extra);
  for (int i = 1; i <= extra; ++i) cp = (cp << 6) | (static_cast<unsigned char>(s[pos + i]) & 0x3F);
  pos += static_cast<std::size_t>(extra) + 1;
  return true;
}

// The classic 5x7 font for 0x20-0x7E: five column bytes per glyph, bit 0 the top dot.
constexpr std::uint8_t kBuiltIn5x7[95][5] = {
    {0x00, 0x00, 0x00, 0x00, 0x00}, {0x00, 0x00, 0x5F, 0x00, 0x00}, {0x00, 0x07, 0x00, 0x07, 0x00},
    {0x14, 0x7F, 0x14, 0x7F, 0x14}, {0x24, 0x2A, 0x7F, 0x2A, 0x12}, {0x23, 0x13, 0x08, 0x64, 0x62},
    {0x36, 0x49, 0x55, 0x22, 0x50}, {0x00, 0x05, 0x03, 0x00, 0x00}, {0x00, 0x1C, 0x22, 0x41, 0x00},
    {0x00, 0x41, 0x22, 0x1C, 0x00}, {0x14, 0x08, 0x3E, 0x08, 0x14}, {0x08, 0x08, 0x3E, 0x08, 0x08},
    {0x00, 0x50, 0x30, 0x00, 0x00}, {0x08, 0x08, 0x08, 0x08, 0x08}, {0x00, 0x60, 0x60, 0x00, 0x00},
    {0x20, 0x10, 0x08, 0x04, 0x02}, {0x3E, 0x51, 0x49, 0x45, 0x3E}, {0x00, 0x42, 0x7F, 0x40, 0x00},
    {0x42, 0x61, 0x51, 0x49, 0x46}, {0x21, 0x41, 0x45, 0x4B, 0x31}, {0x18, 0x14, 0x12, 0x7F, 0x10},
    {0x27, 0x45, 0x45, 0x45, 0x39}, {0x3C, 0x4A, 0x49, 0x49, 0x30}, {0x01, 0x71, 0x09, 0x05, 0x03},
    {0x36, 0x49, 0x49, 0x49, 0x36}, {0x06, 0x49, 0x49, 0x29, 0x1E}, {0x00, 0x36, 0x36, 0x00, 0x00},
    {0x00, 0x56, 0x36, 0x00, 0x00}, {0x08, 0x14, 0x22, 0x41, 0x00}, {0x14, 0x14, 0x14, 0x14, 0x14},
    {0x00, 0x41, 0x22, 0x14, 0x08}, {0x02, 0x01, 0x51, 0x09, 0x06}, {0x32, 0x49, 0x79, 0x41, 0x3E},
    {0x7E, 0x11, 0x11, 0x11, 0x7E}, {0x7F, 0x49, 0x49, 0x49, 0x36}, {0x3E, 0x41, 0x41, 0x41, 0x22},
    {0x7F, 0x41, 0x41, 0x22, 0x1C}, {0x7F, 0x49, 0x49, 0x49, 0x41}, {0x7F, 0x09, 0x09, 0x01, 0x01},
    {0x3E, 0x41, 0x41, 0x51, 0x32}, {0x7F, 0x08, 0x08, 0x08, 0x7F}, {0x00, 0x41, 0x7F, 0x41, 0x00},
    {0x20, 0x40, 0x41, 0x3F, 0x01}, {0x7F, 0x08, 0x14, 0x22, 0x41}, {0x7F, 0x40, 0x40, 0x40, 0x40},
    {0x7F, 0x02, 0x04, 0x02, 0x7F}, {0x7F, 0x04, 0x08, 0x10, 0x7F}, {0x3E, 0x41, 0x41, 0x41, 0x3E},
    {0x7F, 0x09, 0x09, 0x09, 0x06}, {0x3E, 0x41, 0x51, 0x21, 0x5E}, {0x7F, 0x09, 0x19, 0x29, 0x46},
    {0x46, 0x49, 0x49, 0x49, 0x31}, {0x01, 0x01, 0x7F, 0x01, 0x01}, {0x3F, 0x40, 0x40, 0x40, 0x3F},
    {0x1F, 0x20, 0x40, 0x20, 0x1F}, {0x7F, 0x20, 0x18, 0x20, 0x7F}, {0x63, 0x14, 0x08, 0x14, 0x63},
    {0x03, 0x04, 0x78, 0x04, 0x03}, {0x61, 0x51, 0x49, 0x45, 0x43}, {0x00, 0x7F, 0x41, 0x41, 0x00},
    {0x02, 0x04, 0x08, 0x10, 0x20}, {0x00, 0x41, 0x41, 0x7F, 0x00}, {0x04, 0x02, 0x01, 0x02, 0x04},
    {0x40, 0x40, 0x40, 0x40, 0x40}, {0x00, 0x01, 0x02, 0x04, 0x00}, {0x20, 0x54, 0x54, 0x54, 0x78},
    {0x7F, 0x48, 0x44, 0x44, 0x38}, {0x38, 0x44, 0x44, 0x44, 0x20}, {0x38, 0x44, 0x44, 0x48, 0x7F},
    {0x38, 0x54, 0x54, 0x54, 0x18}, {0x08, 0x7E, 0x09, 0x01, 0x02}, {0x08, 0x14, 0x54, 0x54, 0x3C},
    {0x7F, 0x08, 0x04, 0x04, 0x78}, {0x00, 0x44, 0x7D, 0x40, 0x00}, {0x20, 0x40, 0x44, 0x3D, 0x00},
    {0x00, 0x7F, 0x10, 0x28, 0x44}, {0x00, 0x41, 0x7F, 0x40, 0x00}, {0x7C, 0x04, 0x18, 0x04, 0x78},
    {0x7C, 0x08, 0x04, 0x04, 0x78}, {0x38, 0x44, 0x44, 0x44, 0x38}, {0x7C, 0x14, 0x14, 0x14, 0x08},
    {0x08, 0x14, 0x14, 0x18, 0x7C}, {0x7C, 0x08, 0x04, 0x04, 0x08}, {0x48, 0x54, 0x54, 0x54, 0x20},
    {0x04, 0x3F, 0x44, 0x40, 0x20}, {0x3C, 0x40, 0x40, 0x20, 0x7C}, {0x1C, 0x20, 0x40, 0x20, 0x1C},
    {0x3C, 0x40, 0x30, 0x40, 0x3C}, {0x44, 0x28, 0x10, 0x28, 0x44}, {0x0C, 0x50, 0x50, 0x50, 0x3C},
    {0x44, 0x64, 0x54, 0x4C, 0x44}, {0x00, 0x08, 0x36, 0x41, 0x00}, {0x00, 0x00, 0x7F, 0x00, 0x00},
    {0x00, 0x41, 0x36, 0x08, 0x00}, {0x02, 0x01, 0x02, 0x04, 0x02},
};

// Console fonts by size, largest first; the first that fits the cell is taken.
struct console_font_file {
  const char* name;
  int width;
  int height;
};
constexpr console_font_file kConsoleFonts[] = {
    {"Uni2-Terminus32x16.psf.gz", 16, 32}, {"Uni2-Terminus28x14.psf.gz", 14, 28},
    {"Uni2-Terminus24x12.psf.gz", 12, 24}, {"Uni2-Terminus22x11.psf.gz", 11, 22},
    {"Uni2-Terminus20x10.psf.gz", 10, 20}, {"Uni2-Terminus18x10.psf.gz", 10, 18},
    {"Uni2-Terminus16.psf.gz", 8, 16},     {"Uni2-Terminus14.psf.gz", 8, 14},
    {"Uni2-Terminus12x6.psf.gz", 6, 12},
};

}  // namespace

std::shared_ptr<cell_font> cell_font::load_psf(const std::filesystem::path& file) {
  std::string data;
  if (!read_file(file, data)) return nullptr;
  auto font = std::make_shared<cell_font>();
  font->source_ = file.string();
  std::size_t count = 0, glyph_bytes = 0, offset = 0;
  int width = 0, height = 0;
  bool has_table = false, psf2 = false;
  if (data.size() >= 4 && static_cast<unsigned char>(data[0]) == 0x36 &&
      static_cast<unsigned char>(data[1]) == 0x04) {
    auto mode = static_cast<unsigned char>(data[2]);
    height = static_cast<unsigned char>(data[3]);
    width = 8;
    count = (mode & 0x01) ? 512 : 256;
    has_table = (mode & 0x06) != 0;
    glyph_bytes = static_cast<std::size_t>(height);
    offset = 4;
  } else if (data.size() >= 32 && le32(data, 0) == 0x864AB572u) {
    psf2 = true;
    offset = le32(data, 8);
    has_table = (le32(data, 12) & 1u) != 0;
    count = le32(data, 16);
    glyph_bytes = le32(data, 20);
    height = static_cast<int>(le32(data, 24));
    width = static_cast<int>(le32(data, 28));
  } else {
    return nullptr;
  }
  const std::size_t row_bytes = static_cast<std::size_t>((width + 7) / 8);
  if (width <= 0 || height <= 0 || width > 64 || height > 64 || count == 0 || count > 65536 ||
      glyph_bytes < row_bytes * static_cast<std::size_t>(height) ||
      offset + count * glyph_bytes > data.size())
    return nullptr;

  for (std::size_t g = 0; g < count; ++g) {
    glyph gl{width, height, std::vector<std::uint8_t>(static_cast<std::size_t>(width * height), 0)};
    const std::size_t base = offset + g * glyph_bytes;
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) {
        auto byte = static_cast<unsigned char>(data[base + static_cast<std::size_t>(y) * row_bytes + static_cast<std::size_t>(x / 8)]);
        gl.dots[static_cast<std::size_t>(y * width + x)] = (byte >> (7 - x % 8)) & 1;
      }
    font->glyphs_.push_back(std::move(gl));
  }

  // The Unicode table maps code points to glyphs; without one the glyph number is the code point.
  std::size_t pos = offset + count * glyph_bytes;
  if (!has_table) {
    for (std::size_t g = 0; g < count; ++g) font->index_.emplace(static_cast<char32_t>(g), g);
  } else if (!psf2) {
    for (std::size_t g = 0; g < count && pos + 1 < data.size(); ++g) {
      bool in_sequence = false;
      while (pos + 1 < data.size()) {
        auto v = static_cast<char32_t>(static_cast<unsigned char>(data[pos]) |
                                       static_cast<unsigned char>(data[pos + 1]) << 8);
        pos += 2;
        if (v == 0xFFFF) break;
        if (v == 0xFFFE) in_sequence = true;
        if (!in_sequence) font->index_.emplace(v, g);
      }
    }
  } else {
    for (std::size_t g = 0; g < count && pos < data.size(); ++g) {
      std::size_t end = data.find('\xFF', pos);
      if (end == std::string::npos) end = data.size();
      std::size_t seq = data.find('\xFE', pos);
      std::size_t single_end = std::min(end, seq);
      while (pos < single_end) {
        char32_t cp = 0;
        if (next_utf8(data, pos, single_end, cp)) font->index_.emplace(cp, g);
      }
      pos = end + 1;
    }
  }
  auto q = font->index_.find(U'?');
  font->replacement_ = q != font->index_.end() ? q->second : 0;
  font->cell_width_ = width;
  font->cell_height_ = height;
  return font;
}

std::shared_ptr<cell_font> cell_font::built_in(int cell_width, int cell_height) {
  auto font = std::make_shared<cell_font>();
  font->built_in_ = true;
  font->source_ = "built-in 5x7";
  const int scale = std::max(1, std::min(cell_width / 6, cell_height / 8));
  for (int c = 0; c < 95; ++c) {
    glyph gl{5 * scale, 7 * scale, std::vector<std::uint8_t>(static_cast<std::size_t>(35 * scale * scale), 0)};
    for (int col = 0; col < 5; ++col)
      for (int row = 0; row < 7; ++row)
        if ((kBuiltIn5x7[c][col] >> row) & 1)
          for (int dy = 0; dy < scale; ++dy)
            for (int dx = 0; dx < scale; ++dx)
              gl.dots[static_cast<std::size_t>((row * scale + dy) * gl.width + col * scale + dx)] = 1;
    font->index_.emplace(static_cast<char32_t>(0x20 + c), font->glyphs_.size());
    font->glyphs_.push_back(std::move(gl));
  }
  font->replacement_ = static_cast<std::size_t>('?' - 0x20);
  font->cell_width_ = 5 * scale;
  font->cell_height_ = 7 * scale;
  font->place_in_cell(cell_width, cell_height);
  return font;
}

// Pads (or crops) every glyph to the cell: centred across, resting on the cell's bottom rows
// minus a descender margin, so that fonts smaller than the cell keep a printer-like baseline.
void cell_font::place_in_cell(int cell_width, int cell_height) {
  const int dx = std::max(0, (cell_width - cell_width_) / 2);
  const int dy = built_in_ ? std::max(0, (cell_height - cell_height_) / 2) : 0;
  for (auto& g : glyphs_) {
    glyph placed{cell_width, cell_height, std::vector<std::uint8_t>(static_cast<std::size_t>(cell_width * cell_height), 0)};
    for (int y = 0; y < g.height; ++y)
      for (int x = 0; x < g.width; ++x)
        if (g.get(x, y) && x + dx < cell_width && y + dy < cell_height)
          placed.dots[static_cast<std::size_t>((y + dy) * cell_width + x + dx)] = 1;
    g = std::move(placed);
  }
  cell_width_ = cell_width;
  cell_height_ = cell_height;
}

const glyph& cell_font::find(char32_t code_point) const {
  auto it = index_.find(code_point);
  return glyphs_[it != index_.end() ? it->second : replacement_];
}

std::shared_ptr<const cell_font> cell_font::for_cell(const std::filesystem::path& font_dir,
                                                     int cell_width, int cell_height) {
  // Fonts are read once per process and size; printers are created often in tests.
  static std::mutex mutex;
  static std::vector<std::tuple<std::string, int, int, std::shared_ptr<const cell_font>>> cache;
  std::lock_guard lock(mutex);
  for (auto& [dir, w, h, font] : cache)
    if (dir == font_dir.string() && w == cell_width && h == cell_height) return font;

  std::shared_ptr<cell_font> font;
  for (const auto& f : kConsoleFonts) {
    if (f.width > cell_width || f.height > cell_height) continue;
    font = load_psf(font_dir / f.name);
    if (font) break;
  }
  if (font)
    font->place_in_cell(cell_width, cell_height);
  else
    font = built_in(cell_width, cell_height);
  cache.emplace_back(font_dir.string(), cell_width, cell_height, font);
  return font;
}

}  // namespace vprinter::detail
