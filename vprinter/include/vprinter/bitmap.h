// A 1-bit image, eight dots per byte, as the virtual printer's paper is kept: in blocks of rows,
// so that a long paper grows and loses its oldest rows without moving the rest.
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
  bool get(int x, int y) const {
    if (x < 0 || y < 0 || x >= width_ || y >= height_) return false;
    return (row(y)[x / 8] & (0x80 >> (x % 8))) != 0;
  }
  void set(int x, int y, bool black = true) {
    if (x < 0 || y < 0 || x >= width_ || y >= height_) return;
    std::uint8_t& byte = row_at(y)[x / 8];
    const auto bit = static_cast<std::uint8_t>(0x80 >> (x % 8));
    byte = static_cast<std::uint8_t>(black ? byte | bit : byte & ~bit);
  }
  // Adds the black dots of `src` with its top left corner at (x, y); dots falling outside this
  // image are left out. Whole bytes at a time where `src` lies within the width.
  void draw(const bitmap& src, int x, int y);
  // Adds white rows at the bottom until the image is `height` rows tall.
  void grow_to(int height);
  // Black dots in the rectangle [x0, x1) x [y0, y1), clipped to the image.
  int count(int x0, int y0, int x1, int y1) const;
  int count() const { return count(0, 0, width_, height_); }
  // Removes the top `rows` rows; the rows below move up. Cheap: whole blocks of rows are freed,
  // nothing is moved.
  void drop_top(int rows);
  // Bytes of one row: the leftmost dot in bit 7 of the first byte, a set bit black; the bits past
  // the width are clear.
  int row_bytes() const { return (width_ + 7) / 8; }
  // Row `y` (0 <= y < height), row_bytes() bytes.
  const std::uint8_t* row(int y) const {
    const int r = y + skip_;
    return blocks_[static_cast<std::size_t>(r / kBlockRows)].data() +
           static_cast<std::size_t>(r % kBlockRows) * static_cast<std::size_t>(row_bytes());
  }
  // A copy of the dots, row_bytes() per row, rows top first.
  std::vector<std::uint8_t> dots() const;

 private:
  // Rows per block of storage (18 KiB for a 576-dot paper); an image no taller takes one block
  // of just its size.
  static constexpr int kBlockRows = 256;
  int width_ = 0;
  int height_ = 0;
  int skip_ = 0;  // rows dropped from the top of the first block
  std::vector<std::vector<std::uint8_t>> blocks_;

  std::uint8_t* row_at(int y) { return const_cast<std::uint8_t*>(row(y)); }
};

// Writes `image` as a 1-bit greyscale PNG, atomically (temporary file, then rename).
// Returns false and says why in `error` on failure.
bool write_png(const bitmap& image, const std::filesystem::path& path, std::string* error = nullptr);
// Writes the paper of a two-colour printer as a PNG in white, black and red: `red` holds the
// red dots, row for row with `black` (it may be shorter). Atomic, as above.
bool write_png(const bitmap& black, const bitmap& red, const std::filesystem::path& path, std::string* error = nullptr);

}  // namespace vprinter
