// CVX40CPrinter: the service object of the two-colour (black and red) VX-40. It is the POS
// printer service object with the colour model's keys, identity, commands and properties, and
// prints and stores pictures in two colours under key codes in the printer's graphics memory.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "printer/vx40_printer.h"

namespace devsvc {

class CColorBitmap;

// HKEY_LOCAL_MACHINE: the two-colour printer's fixed key (time-outs, RootPath, ConvertImageDLL).
inline constexpr std::string_view kColorPrinterFixedKey =
    "SOFTWARE\\OleForRetail\\ServiceOPOS\\POSPrinter\\VX40CDevice";
// HKEY_CURRENT_USER: its per-user key (BitmapStored, BMPn, Alignmentn, BMPMode).
inline constexpr std::string_view kColorPrinterUserKey = "Software\\KorvaneOPOS\\VX40CDevice";
// Answer of the two-colour printer to GS I 1.
inline constexpr std::uint8_t kColorPrinterIdentity = 0x2E;

// The two-colour VX-40.
extern const printer_model kVX40CModel;

class CVX40CPrinter final : public CVX40Printer {
 public:
  CVX40CPrinter();

  // A picture in black and red as raster bands of at most kBandRows rows.
  std::int32_t PrintBitmap(std::int32_t station, const std::string& file_name, std::int32_t width,
                           std::int32_t alignment) override;
  // Stores picture `number` (1 to 20) in the printer's graphics memory under key codes
  // (number + 0x1F, 0x20), or removes it when `file_name` is empty.
  std::int32_t SetBitmap(std::int32_t number, std::int32_t station, const std::string& file_name,
                         std::int32_t width, std::int32_t alignment) override;

  // Rows of one band of a printed picture.
  static constexpr std::int32_t kBandRows = 235;

 protected:
  // BMPMode = RasterMode, also written to the per-user key.
  void OpenedModel() override;

 private:
  // Loads `file_name`, checks its width and, when it holds other colours than black, white and
  // pure red, converts it through the image-conversion library: OPOS result (114 with 207 for a
  // picture that cannot be used, 111 for other failures).
  std::int32_t LoadPicture(const std::string& file_name, CColorBitmap& bitmap);
  // Defines `bitmap` as stored graphics with key codes (k1, 0x20); OPOS result.
  std::int32_t DefineGraphics(std::uint8_t k1, const CColorBitmap& bitmap);
  // Deletes the stored graphics with key codes (k1, 0x20): asks the key list, checks the key is
  // there (106 when not), deletes and waits for the printer to finish; OPOS result.
  std::int32_t DeleteGraphics(std::uint8_t k1);
  // Reads DWORD `name` of the fixed key, `fallback` when it is missing.
  std::uint32_t FixedDword(std::string_view name, std::uint32_t fallback) const;
};

}  // namespace devsvc
