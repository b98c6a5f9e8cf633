// Reads QR Code and PDF417 symbols off printed paper with ZXing, a decoder independent of the
// encoder that drew them, so that a symbol counts as printed only when a scanner would read it.
#pragma once

#define ZX_USE_UTF8 1
#include <ZXing/ReadBarcode.h>

#include <string>
#include <vector>

#include "vprinter/bitmap.h"

namespace vprinter::test {

// One symbol found on the paper.
struct read_symbol {
  std::string format;  // "QRCode", "PDF417"
  std::string bytes;   // the data bytes as encoded
  int left = 0, top = 0, right = 0, bottom = 0;  // where it was found, in paper dots
};

// Every QR Code and PDF417 symbol in rows [y0, y1) of `paper` (all rows when y1 is 0). The rows
// get a white margin, since a symbol printed at the paper's edge has no quiet zone there.
inline std::vector<read_symbol> read_symbols(const bitmap& paper, int y0 = 0, int y1 = 0) {
  if (y1 <= 0 || y1 > paper.height()) y1 = paper.height();
  constexpr int kMargin = 32;
  const int w = paper.width() + 2 * kMargin, h = (y1 - y0) + 2 * kMargin;
  std::vector<std::uint8_t> grey(static_cast<std::size_t>(w) * static_cast<std::size_t>(h), 255);
  for (int y = y0; y < y1; ++y)
    for (int x = 0; x < paper.width(); ++x)
      if (paper.get(x, y)) grey[static_cast<std::size_t>(y - y0 + kMargin) * static_cast<std::size_t>(w) + static_cast<std::size_t>(x + kMargin)] = 0;
  ZXing::DecodeHints hints;
  hints.setFormats(ZXing::BarcodeFormat::QRCode | ZXing::BarcodeFormat::MicroQRCode | ZXing::BarcodeFormat::PDF417);
  hints.setTryHarder(true);
  hints.setTryRotate(true);  // symbols printed turned or upside down
  std::vector<read_symbol> out;
  for (const auto& r : ZXing::ReadBarcodes(ZXing::ImageView(grey.data(), w, h, ZXing::ImageFormat::Lum), hints)) {
    if (!r.isValid()) continue;
    read_symbol s;
    s.format = ZXing::ToString(r.format());
    s.bytes.assign(r.bytes().begin(), r.bytes().end());
    const auto pos = r.position();
    s.left = std::min({pos.topLeft().x, pos.bottomLeft().x}) - kMargin;
    s.right = std::max({pos.topRight().x, pos.bottomRight().x}) - kMargin;
    s.top = std::min({pos.topLeft().y, pos.topRight().y}) - kMargin + y0;
    s.bottom = std::max({pos.bottomLeft().y, pos.bottomRight().y}) - kMargin + y0;
    out.push_back(std::move(s));
  }
  return out;
}

}  // namespace vprinter::test
