// CPrinterBitmap: a monochrome BMP file turned into the printer's raster image, its column form
// for the printer's stored-image memory, and the stored image files that keep that form.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <system_error>
#include <vector>

namespace devsvc {

// Results of loading a bitmap or a stored image file.
inline constexpr int kBitmapOk = 0;
inline constexpr int kBitmapOpenFailed = -1;   // the file cannot be opened
inline constexpr int kBitmapReadFailed = -2;   // reading failed unexpectedly, or out of memory
inline constexpr int kBitmapBadFormat = -3;    // not "BM", compressed, more than 1 bit per dot, malformed
inline constexpr int kBitmapTooLarge = -4;     // pixel data above kBitmapMaxPixelBytes

// Largest pixel data (rows x stride) a bitmap may have.
inline constexpr std::uint64_t kBitmapMaxPixelBytes = 848000;

// The 40-byte bitmap information header, little-endian on disk.
struct bitmap_info_header {
  std::uint32_t size = 40;
  std::int32_t width = 0;
  std::int32_t height = 0;  // positive: rows bottom first; negative: top first
  std::uint16_t planes = 1;
  std::uint16_t bit_count = 1;
  std::uint32_t compression = 0;
  std::uint32_t size_image = 0;
  std::int32_t x_pels_per_meter = 0;
  std::int32_t y_pels_per_meter = 0;
  std::uint32_t clr_used = 0;
  std::uint32_t clr_important = 0;
};

class CPrinterBitmap {
 public:
  // Reads a BMP file (shared read), found case-insensitively when the exact name is missing.
  // Every size, offset, palette count and stride is checked against the file's real size before
  // use. kBitmapOk, or one of the failures above; on failure the object is empty.
  int load(const std::filesystem::path& file);
  // The same from bytes in memory (the whole file).
  int load(std::span<const std::uint8_t> file);

  // The first 40 bytes of the file's information header (its size field then says 40).
  const bitmap_info_header& header() const { return header_; }
  std::int32_t width() const { return header_.width; }  // dots
  std::int32_t height() const { return height_; }      // dots, always positive
  std::int32_t row_bytes() const { return row_bytes_; }  // x = width / 8 rounded up
  // The printer image: `height()` rows top first, `row_bytes()` bytes each, a set bit a printed
  // dot, bits beyond the width cleared.
  const std::string& image() const { return image_; }

  // The image in column form: for each dot column from the left, the rows top to bottom packed
  // 8 dots per byte (top dot in the high bit), the last byte of a column padded with zeros:
  // row_bytes() x stored_rows() x 8 bytes.
  std::string column_form() const;
  // y: the rows of the column form, height / 8 rounded up.
  std::int32_t stored_rows() const { return (height_ + 7) / 8; }

  // Writes the stored image file: "M", the information header with its image-size field set to
  // the column form's size, then the column form. Atomic; false with the reason in `error`.
  bool save_stored(const std::filesystem::path& file, std::error_code& error) const;

 private:
  bitmap_info_header header_;
  std::int32_t height_ = 0;
  std::int32_t row_bytes_ = 0;
  std::string image_;
};

// Reads a whole regular file of at most 16 MiB, found case-insensitively: kBitmapOk,
// kBitmapOpenFailed (missing, unreadable, not a regular file), kBitmapTooLarge or kBitmapReadFailed.
int read_bitmap_file(const std::filesystem::path& file, std::vector<std::uint8_t>& out);
// The 40-byte information header at `p` (40 bytes must be there), and its bytes.
bitmap_info_header parse_bitmap_info_header(const std::uint8_t* p);
void append_bitmap_info_header(std::string& out, const bitmap_info_header& header);

// A stored image file read back: the sizes the printer is told and the column-form data.
struct stored_image {
  std::int32_t row_bytes = 0;   // x
  std::int32_t stored_rows = 0;  // y
  std::string data;              // x * y * 8 bytes
};

// Reads a stored image file written by save_stored, checking its sizes against the file's real
// size: kBitmapOk, kBitmapOpenFailed, or kBitmapBadFormat for anything malformed.
int load_stored_image(const std::filesystem::path& file, stored_image& out);
int load_stored_image(std::span<const std::uint8_t> file, stored_image& out);

}  // namespace devsvc
