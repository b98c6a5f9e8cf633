// Bitmap fonts for the printer's character cells: Linux console (PSF) fonts, with a small
// built-in font when none can be read, so that text always renders.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace vprinter::detail {

// One character image, one byte per dot (1 = black), rows top first.
struct glyph {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> dots;
  bool get(int x, int y) const {
    return x >= 0 && y >= 0 && x < width && y < height && dots[static_cast<std::size_t>(y) * width + x];
  }
};

// A font whose glyphs fill a fixed cell; glyphs are looked up by Unicode code point.
class cell_font {
 public:
  // Loads the best console font in `font_dir` for a cell of `cell_width` x `cell_height` dots,
  // else the built-in one. Never fails.
  static std::shared_ptr<const cell_font> for_cell(const std::filesystem::path& font_dir,
                                                   int cell_width, int cell_height);
  // Reads a PSF1 or PSF2 font (plain or gzip-compressed); null when the file is unusable.
  static std::shared_ptr<cell_font> load_psf(const std::filesystem::path& file);
  // The built-in 5x7 font scaled to fit the cell.
  static std::shared_ptr<cell_font> built_in(int cell_width, int cell_height);

  int cell_width() const { return cell_width_; }
  int cell_height() const { return cell_height_; }
  bool is_built_in() const { return built_in_; }
  const std::string& source() const { return source_; }
  // The glyph of `code_point` drawn in the cell, or the replacement glyph when the font lacks it.
  const glyph& find(char32_t code_point) const;

 private:
  int cell_width_ = 0;
  int cell_height_ = 0;
  bool built_in_ = false;
  std::string source_;
  std::vector<glyph> glyphs_;
  std::unordered_map<char32_t, std::size_t> index_;
  std::size_t replacement_ = 0;

  void place_in_cell(int cell_width, int cell_height);
};

}  // namespace vprinter::detail
