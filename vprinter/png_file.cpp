// Writing the paper's PNG files.
#include "png_file.h"

#include <unistd.h>

#include <cstdio>
#include <system_error>
#include <vector>

namespace vprinter::detail {

bool fail(std::string* error, std::string text) {
  if (error) *error = std::move(text);
  return false;
}

bool write_atomically(const std::filesystem::path& path, const std::string& content, std::string* error) {
  std::filesystem::path tmp = path;
  tmp += ".tmp" + std::to_string(::getpid());
  FILE* f = std::fopen(tmp.c_str(), "wb");
  if (!f) return fail(error, "cannot create " + tmp.string());
  const bool written = std::fwrite(content.data(), 1, content.size(), f) == content.size();
  const bool flushed = std::fflush(f) == 0;
  const bool closed = std::fclose(f) == 0;
  std::error_code ec;
  if (!written || !flushed || !closed) {
    std::filesystem::remove(tmp, ec);
    return fail(error, "cannot write " + tmp.string());
  }
  std::filesystem::rename(tmp, path, ec);
  if (ec) {
    std::filesystem::remove(tmp, ec);
    return fail(error, "cannot rename to " + path.string() + ": " + ec.message());
  }
  return true;
}

namespace {

// Runs libpng over the rows. libpng reports errors by longjmp, so nothing in this frame has a
// destructor: the row buffer and the output come from the caller.
bool run_libpng(int width, int height, const png_layout& layout, const std::function<void(int, png_byte*)>& fill_row,
                png_byte* row, std::size_t row_bytes, std::string& out) {
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
  png_set_write_fn(
      png, &out,
      [](png_structp p, png_bytep data, png_size_t length) {
        static_cast<std::string*>(png_get_io_ptr(p))->append(reinterpret_cast<const char*>(data), length);
      },
      nullptr);
  png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), layout.bit_depth,
               layout.colour_type, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (!layout.palette.empty())
    png_set_PLTE(png, info, layout.palette.data(), static_cast<int>(layout.palette.size()));
  png_write_info(png, info);
  for (int y = 0; y < height; ++y) {
    for (std::size_t i = 0; i < row_bytes; ++i) row[i] = 0;
    fill_row(y, row);
    png_write_row(png, row);
  }
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return true;
}

}  // namespace

bool encode_png(int width, int height, const png_layout& layout,
                const std::function<void(int, png_byte*)>& fill_row, std::string& out) {
  std::vector<png_byte> row((static_cast<std::size_t>(width) * static_cast<std::size_t>(layout.bit_depth) + 7) / 8);
  return run_libpng(width, height, layout, fill_row, row.data(), row.size(), out);
}

}  // namespace vprinter::detail
