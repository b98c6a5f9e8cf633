// The two-colour paper as a PNG: white, black and red, one palette index per dot.
#include "vprinter/bitmap.h"

#include <array>

#include "png_file.h"

namespace vprinter {

bool write_png(const bitmap& black, const bitmap& red, const std::filesystem::path& path, std::string* error) {
  if (black.width() <= 0 || black.height() <= 0) return detail::fail(error, "the image is empty");
  // Palette indexes of the dots, two bits each.
  constexpr png_byte kWhite = 0, kBlack = 1, kRed = 2;
  static constexpr std::array<png_color, 3> kPalette = {{{255, 255, 255}, {0, 0, 0}, {220, 0, 0}}};
  const auto fill_row = [&](int y, png_byte* row) {
    for (int x = 0; x < black.width(); ++x) {
      // Where both inks fall on a dot, the red one is on top.
      const png_byte dot = red.get(x, y) ? kRed : black.get(x, y) ? kBlack : kWhite;
      row[x / 4] = static_cast<png_byte>(row[x / 4] | dot << (6 - 2 * (x % 4)));
    }
  };
  std::string png;
  if (!detail::encode_png(black.width(), black.height(), {2, PNG_COLOR_TYPE_PALETTE, kPalette}, fill_row, png))
    return detail::fail(error, "cannot encode " + path.string());
  return detail::write_atomically(path, png, error);
}

}  // namespace vprinter
