// Fuzz target of the bitmap loader: arbitrary bytes as a BMP file (then its column form) and as
// a stored image file. Besides crashes and sanitizer reports, it stops on a broken invariant.
#include <cstddef>
#include <cstdint>
#include <span>

#include "printer/printer_bitmap.h"
#include "require.h"

namespace {

void check_bitmap(std::span<const std::uint8_t> bytes) {
  devsvc::CPrinterBitmap bitmap;
  const int result = bitmap.load(bytes);
  if (result != devsvc::kBitmapOk) {
    require(result == devsvc::kBitmapBadFormat || result == devsvc::kBitmapTooLarge);
    require(bitmap.image().empty() && bitmap.width() == 0 && bitmap.height() == 0);
    return;
  }
  const auto x = static_cast<std::size_t>(bitmap.row_bytes());
  const auto h = static_cast<std::size_t>(bitmap.height());
  require(bitmap.width() > 0 && h > 0 && x == (static_cast<std::size_t>(bitmap.width()) + 7) / 8);
  require(bitmap.image().size() == x * h && bitmap.image().size() <= devsvc::kBitmapMaxPixelBytes);
  // No dot beyond the width survives in the last byte of a row.
  const unsigned spare = static_cast<unsigned>(8 * x - static_cast<std::size_t>(bitmap.width()));
  const unsigned spare_mask = (1u << spare) - 1;
  for (std::size_t row = 0; row < h; ++row) {
    require((static_cast<std::uint8_t>(bitmap.image()[row * x + x - 1]) & spare_mask) == 0);
  }
  const std::string columns = bitmap.column_form();
  require(columns.size() == x * static_cast<std::size_t>(bitmap.stored_rows()) * 8);
}

void check_stored(std::span<const std::uint8_t> bytes) {
  devsvc::stored_image image;
  const int result = devsvc::load_stored_image(bytes, image);
  if (result != devsvc::kBitmapOk) {
    require(result == devsvc::kBitmapBadFormat && image.data.empty());
    return;
  }
  require(image.row_bytes > 0 && image.stored_rows > 0);
  require(image.data.size() == static_cast<std::size_t>(image.row_bytes) *
                                   static_cast<std::size_t>(image.stored_rows) * 8);
  require(image.data.size() + 41 == bytes.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> bytes(data, size);
  check_bitmap(bytes);
  check_stored(bytes);
  return 0;
}
