// Test pictures in JPEG and PNG, written with libjpeg and libpng directly.
#pragma once

#include <png.h>

#include <cstdio>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <jpeglib.h>

namespace imaging::test {

// Colour (red, green, blue) of pixel (x, y), y from the top.
using colour_fn = std::function<void(int x, int y, std::uint8_t* rgb)>;

// A baseline JPEG of quality 95; `unit` 0 writes no density (aspect 1:1), 1 dots per inch, 2 per cm.
inline bool write_jpeg(const std::string& path, int width, int height, const colour_fn& colour, int unit = 0,
                       int x_density = 1, int y_density = 1) {
  std::FILE* out = std::fopen(path.c_str(), "wb");
  if (out == nullptr) return false;
  jpeg_compress_struct info;
  jpeg_error_mgr errors;
  info.err = jpeg_std_error(&errors);
  jpeg_create_compress(&info);
  jpeg_stdio_dest(&info, out);
  info.image_width = static_cast<JDIMENSION>(width);
  info.image_height = static_cast<JDIMENSION>(height);
  info.input_components = 3;
  info.in_color_space = JCS_RGB;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, 95, TRUE);
  info.density_unit = static_cast<UINT8>(unit);
  info.X_density = static_cast<UINT16>(x_density);
  info.Y_density = static_cast<UINT16>(y_density);
  jpeg_start_compress(&info, TRUE);
  std::vector<std::uint8_t> row(static_cast<std::size_t>(width) * 3);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) colour(x, y, &row[3 * static_cast<std::size_t>(x)]);
    JSAMPROW p = row.data();
    jpeg_write_scanlines(&info, &p, 1);
  }
  jpeg_finish_compress(&info);
  jpeg_destroy_compress(&info);
  return std::fclose(out) == 0;
}

// An 8-bit RGBA PNG (alpha from `alpha`, 255 when null).
inline bool write_png(const std::string& path, int width, int height, const colour_fn& colour,
                      const std::function<std::uint8_t(int, int)>& alpha = nullptr) {
  std::FILE* out = std::fopen(path.c_str(), "wb");
  if (out == nullptr) return false;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    std::fclose(out);
    return false;
  }
  png_init_io(png, out);
  png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8, PNG_COLOR_TYPE_RGBA,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  std::vector<std::uint8_t> row(static_cast<std::size_t>(width) * 4);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      std::uint8_t* p = &row[4 * static_cast<std::size_t>(x)];
      colour(x, y, p);
      p[3] = alpha ? alpha(x, y) : 255;
    }
    png_write_row(png, row.data());
  }
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return std::fclose(out) == 0;
}

}  // namespace imaging::test
