// The 1-bit image of the paper and its PNG writer.
#include "vprinter/bitmap.h"

#include <algorithm>
#include <bit>

#include "png_file.h"

namespace vprinter {

bitmap::bitmap(int width, int height) : width_(std::max(width, 0)) { grow_to(height); }

void bitmap::draw(const bitmap& src, int at_x, int at_y) {
  const int y0 = std::max(0, -at_y);
  const int y1 = std::min(src.height_, height_ - at_y);
  if (y0 >= y1 || src.width_ <= 0) return;
  if (at_x < 0 || at_x + src.width_ > width_) {
    // Cut off at a side: dot by dot.
    for (int y = y0; y < y1; ++y)
      for (int x = 0; x < src.width_; ++x)
        if (src.get(x, y)) set(at_x + x, at_y + y);
    return;
  }
  // The bits past a row's width are always clear, so a byte of `src` shifted into two bytes here
  // never sets a dot beyond where `src` ends.
  const int shift = at_x % 8;
  const std::size_t first = static_cast<std::size_t>(at_x / 8);
  const std::size_t bytes = static_cast<std::size_t>(src.row_bytes());
  for (int y = y0; y < y1; ++y) {
    const std::uint8_t* from = src.row(y);
    std::uint8_t* to = row_at(at_y + y) + first;
    if (shift == 0) {
      for (std::size_t i = 0; i < bytes; ++i) to[i] |= from[i];
      continue;
    }
    for (std::size_t i = 0; i < bytes; ++i) {
      to[i] |= static_cast<std::uint8_t>(from[i] >> shift);
      const auto spill = static_cast<std::uint8_t>(from[i] << (8 - shift));
      if (spill) to[i + 1] |= spill;
    }
  }
}

void bitmap::grow_to(int height) {
  if (height <= height_) return;
  // Rows go into the last block until it holds kBlockRows, then into new blocks. The storage is
  // made before the height changes, so a failed allocation leaves the image as it was.
  const std::size_t bytes = static_cast<std::size_t>(row_bytes());
  int rows = skip_ + height_;  // rows the blocks hold
  const int wanted = skip_ + height;
  std::vector<std::vector<std::uint8_t>> added;
  std::size_t last_size = blocks_.empty() ? 0 : blocks_.back().size();
  if (!blocks_.empty() && rows % kBlockRows != 0) {
    const int fill = std::min(wanted, (rows / kBlockRows + 1) * kBlockRows) - rows;
    last_size += static_cast<std::size_t>(fill) * bytes;
    rows += fill;
  }
  while (rows < wanted) {
    const int n = std::min(kBlockRows, wanted - rows);
    added.emplace_back(static_cast<std::size_t>(n) * bytes, 0);
    rows += n;
  }
  blocks_.reserve(blocks_.size() + added.size());
  if (!blocks_.empty()) blocks_.back().resize(last_size, 0);
  for (auto& b : added) blocks_.push_back(std::move(b));
  height_ = height;
}

void bitmap::drop_top(int rows) {
  rows = std::clamp(rows, 0, height_);
  height_ -= rows;
  skip_ += rows;
  // Whole blocks above the new top are freed.
  const auto gone = static_cast<std::size_t>(std::min<int>(skip_ / kBlockRows, static_cast<int>(blocks_.size())));
  blocks_.erase(blocks_.begin(), blocks_.begin() + static_cast<std::ptrdiff_t>(gone));
  skip_ -= static_cast<int>(gone) * kBlockRows;
  if (height_ == 0) {
    blocks_.clear();
    skip_ = 0;
  }
}

std::vector<std::uint8_t> bitmap::dots() const {
  std::vector<std::uint8_t> out;
  const std::size_t bytes = static_cast<std::size_t>(row_bytes());
  out.reserve(bytes * static_cast<std::size_t>(height_));
  for (int y = 0; y < height_; ++y) out.insert(out.end(), row(y), row(y) + bytes);
  return out;
}

int bitmap::count(int x0, int y0, int x1, int y1) const {
  x0 = std::max(x0, 0);
  y0 = std::max(y0, 0);
  x1 = std::min(x1, width_);
  y1 = std::min(y1, height_);
  int n = 0;
  for (int y = y0; y < y1; ++y) {
    const std::uint8_t* line = row(y);
    int x = x0;
    for (; x < x1 && x % 8 != 0; ++x) n += (line[x / 8] >> (7 - x % 8)) & 1;
    for (; x + 8 <= x1; x += 8) n += std::popcount(line[x / 8]);
    for (; x < x1; ++x) n += (line[x / 8] >> (7 - x % 8)) & 1;
  }
  return n;
}

bool write_png(const bitmap& image, const std::filesystem::path& path, std::string* error) {
  if (image.width() <= 0 || image.height() <= 0) return detail::fail(error, "the image is empty");
  const std::size_t row_bytes = static_cast<std::size_t>((image.width() + 7) / 8);
  std::string png;
  const auto fill_row = [&](int y, png_byte* row) {
    // In the PNG a set bit is white; on the paper a set bit is a black dot.
    const std::uint8_t* line = image.row(y);
    for (std::size_t i = 0; i < row_bytes; ++i) row[i] = static_cast<png_byte>(~line[i]);
  };
  if (!detail::encode_png(image.width(), image.height(), {}, fill_row, png))
    return detail::fail(error, "cannot encode " + path.string());
  return detail::write_atomically(path, png, error);
}

}  // namespace vprinter
