// The 1-bit image of the paper and its PNG writer.
#include "vprinter/bitmap.h"

#include <png.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cstdio>
#include <system_error>

namespace vprinter {

bitmap::bitmap(int width, int height)
    : width_(std::max(width, 0)),
      height_(std::max(height, 0)),
      dots_(static_cast<std::size_t>(row_bytes()) * static_cast<std::size_t>(height_), 0) {}

bool bitmap::get(int x, int y) const {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return false;
  return (dots_[offset(y) + static_cast<std::size_t>(x / 8)] & (0x80 >> (x % 8))) != 0;
}

void bitmap::set(int x, int y, bool black) {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return;
  std::uint8_t& byte = dots_[offset(y) + static_cast<std::size_t>(x / 8)];
  const auto bit = static_cast<std::uint8_t>(0x80 >> (x % 8));
  byte = static_cast<std::uint8_t>(black ? byte | bit : byte & ~bit);
}

void bitmap::grow_to(int height) {
  if (height <= height_) return;
  // The rows are added before the height changes, so a failed allocation leaves the image as it was.
  dots_.resize(offset(height), 0);
  height_ = height;
}

void bitmap::drop_top(int rows) {
  rows = std::clamp(rows, 0, height_);
  start_ = offset(rows);
  height_ -= rows;
  // Once the dropped bytes outnumber the kept ones they go, so each byte moves at most once on
  // average however often rows are dropped.
  if (start_ >= dots_.size() - start_) {
    dots_.erase(dots_.begin(), dots_.begin() + static_cast<std::ptrdiff_t>(start_));
    start_ = 0;
  }
}

std::vector<std::uint8_t> bitmap::dots() const {
  return std::vector<std::uint8_t>(dots_.begin() + static_cast<std::ptrdiff_t>(start_), dots_.end());
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
