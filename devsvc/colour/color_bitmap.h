// CColorBitmap: an uncompressed BMP file of any depth read for the two-colour printer: its
// colour mode, its pixels, and the black and red raster planes the printer takes.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "printer/printer_bitmap.h"

namespace devsvc {

// Colour modes of a picture on the two-colour printer.
inline constexpr int kColourModeOther = 1;     // two palette entries, not black and red
inline constexpr int kColourModeBlackRed = 2;  // two palette entries: black and pure red
inline constexpr int kColourModeMany = 3;      // any other palette, or none (24 bits)

// The inks of the two-colour printer, as the raster planes name them.
enum class ink { black, red };

// One colour as the file stores it.
struct rgb {
  std::uint8_t red = 0;
  std::uint8_t green = 0;
  std::uint8_t blue = 0;
  bool operator==(const rgb&) const = default;
};

inline constexpr rgb kBlack{0, 0, 0};
inline constexpr rgb kWhite{255, 255, 255};
inline constexpr rgb kPureRed{255, 0, 0};

class CColorBitmap {
 public:
  // Reads a BMP file (shared read, found case-insensitively when the exact name is missing):
  // "BM", compression 0, any bit depth, pixel data (rows x stride) within kBitmapMaxPixelBytes.
  // Every size is checked against the file before use. kBitmapOk or a failure of
  // printer_bitmap.h; on failure the object is empty.
  int load(const std::filesystem::path& file);
  int load(std::span<const std::uint8_t> file);
  // Reads a packed device-independent bitmap (information header, palette, bits) as the
  // image-conversion library hands it back; its header replaces the loaded one.
  int load_packed(std::span<const std::uint8_t> dib);

  const bitmap_info_header& header() const { return header_; }
  std::int32_t width() const { return header_.width; }  // dots
  std::int32_t height() const { return height_; }      // dots, always positive
  std::int32_t row_bytes() const { return (header_.width + 7) / 8; }
  const std::vector<rgb>& palette() const { return palette_; }

  // 3 when the palette does not have exactly two entries; 2 when they are black and pure red
  // (either order); else 1.
  int colour_mode() const;
  // The colour of the pixel at column `x`, row `y` from the top. Pixels of 1, 4, 8 and 24 bits
  // come from the palette or the data; an index past the palette and other depths read black.
  rgb pixel(std::int32_t x, std::int32_t y) const;
  // True when every pixel is black, white or pure red: the printer takes it as it is.
  bool printable_as_is() const;
  // The raster rows [first_row, first_row + rows) of one ink: row_bytes() bytes a row, the
  // leftmost dot in the high bit, a set bit for each pixel that is exactly that ink.
  std::string plane(ink which, std::int32_t first_row, std::int32_t rows) const;

  // The information header (its size field 40) followed by the palette, as a library takes it.
  std::string packed_info() const;
  // The pixel data as stored in the file (rows bottom first for a positive height).
  const std::string& bits() const { return bits_; }

 private:
  int parse(std::span<const std::uint8_t> bytes, std::uint64_t header_at, std::uint64_t pixel_offset,
            bool packed);

  bitmap_info_header header_;
  std::int32_t height_ = 0;
  std::uint64_t stride_ = 0;
  std::vector<rgb> palette_;
  std::string bits_;
};

}  // namespace devsvc
