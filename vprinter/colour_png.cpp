// The two-colour paper as a PNG: white, black and red, one palette index per dot.
#include <png.h>
#include <unistd.h>

#include <cstdio>
#include <system_error>
#include <vector>

#include "vprinter/bitmap.h"

namespace vprinter {
namespace {

bool fail(std::string* error, std::string text) {
  if (error) *error = std::move(text);
  return false;
}

// Palette indexes of the dots, two bits each.
constexpr png_byte kWhite = 0, kBlack = 1, kRed = 2;

// Runs libpng over the rows. libpng reports errors by longjmp, so nothing here has a destructor
// and the row buffer comes from the caller.
bool encode(FILE* file, const bitmap& black, const bitmap& red, png_byte* row, std::size_t row_bytes) {
  const int width = black.width();
  const int height = black.height();
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
  png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 2,
               PNG_COLOR_TYPE_PALETTE, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_color palette[3] = {{255, 255, 255}, {0, 0, 0}, {220, 0, 0}};
  png_set_PLTE(png, info, palette, 3);
  png_write_info(png, info);
  for (int y = 0; y < height; ++y) {
    for (std::size_t i = 0; i < row_bytes; ++i) row[i] = 0;
    for (int x = 0; x < width; ++x) {
      // Where both inks fall on a dot, the red one is on top.
      const png_byte dot = red.get(x, y) ? kRed : black.get(x, y) ? kBlack : kWhite;
      row[x / 4] = static_cast<png_byte>(row[x / 4] | dot << (6 - 2 * (x % 4)));
    }
    png_write_row(png, row);
  }
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return true;
}

}  // namespace

bool write_png(const bitmap& black, const bitmap& red, const std::filesystem::path& path, std::string* error) {
  if (black.width() <= 0 || black.height() <= 0) return fail(error, "the image is empty");
  std::filesystem::path tmp = path;
  tmp += ".tmp" + std::to_string(::getpid());
  FILE* file = std::fopen(tmp.c_str(), "wb");
  if (!file) return fail(error, "cannot create " + tmp.string());
  std::vector<png_byte> row(static_cast<std::size_t>((black.width() + 3) / 4));
  const bool encoded = encode(file, black, red, row.data(), row.size());
  const bool flushed = std::fflush(file) == 0;
  const bool closed = std::fclose(file) == 0;
  std::error_code ec;
  if (!encoded || !flushed || !closed) {
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

}  // namespace vprinter
