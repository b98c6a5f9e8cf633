// Fuzz target of the two-colour printer's picture loader: arbitrary bytes as a BMP file and as a
// packed bitmap handed back by the image-conversion library, then its colour mode, pixels and
// planes. Besides crashes and sanitizer reports, it stops on a broken invariant.
#include <cstddef>
#include <cstdint>
#include <span>

#include "colour/color_bitmap.h"
#include "require.h"

namespace {

// Pictures up to this many pixels are walked whole; larger ones only at their corners.
constexpr std::int64_t kWalkedPixels = 1 << 16;

void check(const devsvc::CColorBitmap& bitmap, int result) {
  if (result != devsvc::kBitmapOk) {
    require(result == devsvc::kBitmapBadFormat || result == devsvc::kBitmapTooLarge);
    require(bitmap.width() == 0 && bitmap.height() == 0 && bitmap.bits().empty());
    return;
  }
  require(bitmap.width() > 0 && bitmap.height() > 0);
  const int mode = bitmap.colour_mode();
  require(mode >= devsvc::kColourModeOther && mode <= devsvc::kColourModeMany);
  const auto rows = static_cast<std::size_t>(bitmap.height());
  const auto x_bytes = static_cast<std::size_t>(bitmap.row_bytes());
  if (static_cast<std::int64_t>(bitmap.width()) * bitmap.height() <= kWalkedPixels) {
    const std::string black = bitmap.plane(devsvc::ink::black, 0, bitmap.height());
    const std::string red = bitmap.plane(devsvc::ink::red, 0, bitmap.height());
    require(black.size() == x_bytes * rows && red.size() == black.size());
    // A dot is black or red, never both; nothing beyond the width.
    for (std::size_t i = 0; i < black.size(); ++i) require((black[i] & red[i]) == 0);
    const unsigned spare = static_cast<unsigned>(8 * x_bytes - static_cast<std::size_t>(bitmap.width()));
    for (std::size_t row = 0; row < rows; ++row) {
      require((static_cast<std::uint8_t>(black[row * x_bytes + x_bytes - 1] | red[row * x_bytes + x_bytes - 1]) &
               ((1u << spare) - 1)) == 0);
    }
    bitmap.printable_as_is();
  } else {
    bitmap.pixel(0, 0);
    bitmap.pixel(bitmap.width() - 1, bitmap.height() - 1);
  }
  require(bitmap.plane(devsvc::ink::red, bitmap.height(), 5).empty());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> bytes(data, size);
  devsvc::CColorBitmap file;
  check(file, file.load(bytes));
  devsvc::CColorBitmap packed;
  check(packed, packed.load_packed(bytes));
  return 0;
}
