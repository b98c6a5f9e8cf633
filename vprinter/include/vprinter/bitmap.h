// A 1-bit image, eight dots per byte, as the virtual printer's paper is kept.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace vprinter {

// Width x height dots, rows top first; dots outside the image read as white.
class bitmap {
 public:
  bitmap() = default;
  bitmap(int width, int height);

  int width() const { return width_; }
  int height() const { return height_; }
  bool get(int x, int y) const;
  void set(int x, int y, bool black = true);
  // Adds white rows at the bottom until the image is `height` rows tall.
  void grow_to(int height);
  // Black dots in the rectangle [x0, x1) x [y0, y1), clipped to the image.
  int count(int x0, int y0, int x1, int y1) const;
  int count() const { return count(0, 0, width_, height_); }
  // Removes the top `rows` rows; the rows below move up. Cheap: the bytes are moved only now and
  // then, when the dropped rows outnumber the kept ones.
  void drop_top(int rows);
  // Bytes of one row: the leftmost dot in bit 7 of the first byte, a set bit black; the bits past
  // the width are clear.
  int row_bytes() const { return (width_ + 7) / 8; }
  // Row `y` (0 <= y < height), row_bytes() bytes.
  const std::uint8_t* row(int y) const { return dots_.data() + offset(y); }
  // A copy of the dots, row_bytes() per row, rows top first.
  std::vector<std::uint8_t> dots() const;

 private:
  int width_ = 0;
  int height_ = 0;
  std::size_t start_ = 0;  // byte where row 0 starts (rows above it were dropped)
  std::vector<std::uint8_t> dots_;

  std::size_t offset(int y) const {
    return start_ + static_cast<std::size_t>(y) * static_cast<std::size_t>(row_bytes());
  }
};

// Writes `image` as a 1-bit greyscale PNG, atomically (temporary file, then rename).
// Returns false and says why in `error` on failure.
bool write_png(const bitmap& image, const std::filesystem::path& path, std::string* error = nullptr);
// Writes the paper of a two-colour printer as a PNG in white, black and red: `red` holds the
// red dots, row for row with `black` (it may be shorter). Atomic, as above.
bool write_png(const bitmap& black, const bitmap& red, const std::filesystem::path& path, std::string* error = nullptr);

}  // namespace vprinter
