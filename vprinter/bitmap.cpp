// The 1-bit image of the paper and its PNG writer.
#include "vprinter/bitmap.h"

#include <png.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cstdio>
#include <system_error>

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

namespace {

// Owns the FILE of the temporary file; removes the file unless it was committed.
struct temp_file {
  std::filesystem::path path;
  FILE* file = nullptr;
  bool keep = false;
  ~temp_file() {
    if (file) std::fclose(file);
    if (!keep) {
      std::error_code ec;
      std::filesystem::remove(path, ec);
    }
  }
};

bool fail(std::string* error, std::string text) {
  if (error) *error = std::move(text);
  return false;
}

// Runs libpng over the image's rows. libpng reports errors by longjmp, so nothing here has a
// destructor and the row buffer comes from the caller.
bool encode_png(FILE* file, const bitmap& image, png_byte* row, std::size_t row_bytes) {
  const int width = image.width();
  const int height = image.height();
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  if (!png) return false;
  png_infop info = png_create_info_struct(png);
  if (!info) {
    png_destroy_write_struct(&png, nullptr);
    return false;
  }
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return false;
  }
  png_init_io(png, file);
  png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 1,
               PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (int y = 0; y < height; ++y) {
    // In the PNG a set bit is white; on the paper a set bit is a black dot.
    const std::uint8_t* line = image.row(y);
    for (std::size_t i = 0; i < row_bytes; ++i) row[i] = static_cast<png_byte>(~line[i]);
    png_write_row(png, row);
  }
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return true;
}

}  // namespace

bool write_png(const bitmap& image, const std::filesystem::path& path, std::string* error) {
  if (image.width() <= 0 || image.height() <= 0) return fail(error, "the image is empty");
  temp_file tmp;
  tmp.path = path;
  tmp.path += ".tmp" + std::to_string(::getpid());
  tmp.file = std::fopen(tmp.path.c_str(), "wb");
  if (!tmp.file) return fail(error, "cannot create " + tmp.path.string());
  std::vector<png_byte> row(static_cast<std::size_t>((image.width() + 7) / 8));
  if (!encode_png(tmp.file, image, row.data(), row.size()))
    return fail(error, "cannot write " + tmp.path.string());
  const bool flushed = std::fflush(tmp.file) == 0;
  const bool closed = std::fclose(tmp.file) == 0;
  tmp.file = nullptr;
  if (!flushed || !closed) return fail(error, "cannot write " + tmp.path.string());
  std::error_code ec;
  std::filesystem::rename(tmp.path, path, ec);
  if (ec) return fail(error, "cannot rename to " + path.string() + ": " + ec.message());
  tmp.keep = true;
  return true;
}

}  // namespace vprinter
