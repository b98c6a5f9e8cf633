// Fuzz target of the logo utility's bitmap loader (utilities/logo/model/dib.cpp): arbitrary bytes
// as a BMP file, then the loaded picture read pixel by pixel, stretched, and turned into the
// printer's planes and commands. Besides crashes and sanitizer reports it stops on a broken
// promise of the loader.
#include <cstddef>
#include <cstdint>
#include <span>

#include "logo/picture.h"
#include "require.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const logo::load_result loaded = logo::load_bitmap_bytes(std::span<const std::uint8_t>(data, size), "f.bmp");
  if (!loaded.picture) {
    require(!loaded.message.empty());
    return 0;
  }
  require(loaded.message.empty());
  const logo::dib& picture = *loaded.picture;
  // The picture holds no more than the file did, and every row its header describes.
  require(picture.width() > 0 && picture.height() > 0 && picture.palette_entries() <= 256);
  require(picture.packed().size() <= size);
  require(picture.info_size() + picture.stride() * static_cast<std::size_t>(picture.height()) <= picture.packed().size());
  // Only small pictures are walked in full, so each input stays quick.
  if (static_cast<std::uint64_t>(picture.width()) * static_cast<std::uint64_t>(picture.height()) > (1u << 16)) return 0;
  std::uint64_t sum = 0;
  for (int y = 0; y < picture.height(); ++y) {
    for (int x = 0; x < picture.width(); ++x) sum += picture.pixel(x, y).r;
  }
  require(sum <= 255u * static_cast<std::uint64_t>(picture.width()) * static_cast<std::uint64_t>(picture.height()));
  const logo::dib small = logo::stretch_halftone(picture, 13, 7);
  require(small.width() == 13 && small.height() == 7 && small.bit_count() == 24);

  const logo::raster plane = logo::black_dots(picture);
  require(plane.bytes.size() == plane.row_bytes() * static_cast<std::size_t>(picture.height()));
  const std::string columns = logo::commands::bit_image_columns(plane);
  require(columns.size() == plane.row_bytes() * 8 * ((static_cast<std::size_t>(picture.height()) + 7) / 8));
  const logo::colour_table table({{"Black", {0, 0, 0}, "1", {1, 0, 0}}, {"Red", {255, 0, 0}, "2", {0, 1, 0}}});
  const std::vector<logo::raster> planes = logo::logo_planes(picture, table, logo::kModeTwoColors);
  require(planes.size() == 2);
  for (std::size_t i = 0; i < plane.bytes.size(); ++i) require((planes[0].bytes[i] & planes[1].bytes[i]) == 0);
  return 0;
}
