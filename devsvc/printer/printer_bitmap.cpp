// CPrinterBitmap: loading with every size checked against the file, the printer image, column
// form, and the stored image files.
#include "printer/printer_bitmap.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <new>
#include <stdexcept>
#include <utility>
#include <vector>

#include "platform/case_path.h"
#include "platform/replace_file.h"

namespace devsvc {
namespace {

constexpr std::uint64_t kFileHeaderSize = 14;
constexpr std::uint64_t kInfoHeaderSize = 40;
constexpr std::uint64_t kPaletteEntrySize = 4;  // blue, green, red, reserved
constexpr std::uint8_t kStoredMark = 0x4D;      // "M", the first byte of a stored image file

// A read-only descriptor closed when it goes out of scope. Opened without blocking: opening a
// FIFO for reading would otherwise wait for a writer for ever (regular files read as usual).
class read_fd {
 public:
  explicit read_fd(const std::filesystem::path& path)
      : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY)) {}
  ~read_fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  read_fd(const read_fd&) = delete;
  read_fd& operator=(const read_fd&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

// Reads a whole regular file: kBitmapOk, kBitmapOpenFailed (missing, unreadable or not a regular
// file, so that a device or a pipe can never make us read without end) or kBitmapReadFailed.
// Largest file read: the largest pixel data with room for any header and palette.
constexpr std::uint64_t kMaxFileBytes = 16u << 20;

int read_whole_file(const std::filesystem::path& path, std::vector<std::uint8_t>& out) {
  const read_fd fd(path);
  if (fd.get() < 0) return kBitmapOpenFailed;
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0) return kBitmapReadFailed;
  if (!S_ISREG(info.st_mode)) return kBitmapOpenFailed;
  // No bitmap the printer takes comes near this size: a larger file is refused unread.
  if (static_cast<std::uint64_t>(info.st_size) > kMaxFileBytes) return kBitmapTooLarge;
  try {
    out.resize(static_cast<std::size_t>(info.st_size));
  } catch (const std::bad_alloc&) {
    return kBitmapReadFailed;
  } catch (const std::length_error&) {
    return kBitmapReadFailed;
  }
  std::size_t done = 0;
  while (done < out.size()) {
    const ssize_t n = ::read(fd.get(), out.data() + done, out.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return kBitmapReadFailed;  // an error, or the file shrank while it was read
    done += static_cast<std::size_t>(n);
  }
  return kBitmapOk;
}

std::uint16_t le16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }

std::uint32_t le32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

void append_le16(std::string& out, std::uint16_t value) {
  out += static_cast<char>(value & 0xFF);
  out += static_cast<char>(value >> 8);
}

void append_le32(std::string& out, std::uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) out += static_cast<char>((value >> shift) & 0xFF);
}

// The 40-byte information header at `p` (the caller has checked that 40 bytes are there).
bitmap_info_header parse_info_header(const std::uint8_t* p) {
  bitmap_info_header h;
  h.size = le32(p);
  h.width = static_cast<std::int32_t>(le32(p + 4));
  h.height = static_cast<std::int32_t>(le32(p + 8));
  h.planes = le16(p + 12);
  h.bit_count = le16(p + 14);
  h.compression = le32(p + 16);
  h.size_image = le32(p + 20);
  h.x_pels_per_meter = static_cast<std::int32_t>(le32(p + 24));
  h.y_pels_per_meter = static_cast<std::int32_t>(le32(p + 28));
  h.clr_used = le32(p + 32);
  h.clr_important = le32(p + 36);
  return h;
}

void append_info_header(std::string& out, const bitmap_info_header& h) {
  append_le32(out, h.size);
  append_le32(out, static_cast<std::uint32_t>(h.width));
  append_le32(out, static_cast<std::uint32_t>(h.height));
  append_le16(out, h.planes);
  append_le16(out, h.bit_count);
  append_le32(out, h.compression);
  append_le32(out, h.size_image);
  append_le32(out, static_cast<std::uint32_t>(h.x_pels_per_meter));
  append_le32(out, static_cast<std::uint32_t>(h.y_pels_per_meter));
  append_le32(out, h.clr_used);
  append_le32(out, h.clr_important);
}

// Row bytes of a printer image `width_dots` wide.
std::uint64_t row_bytes_of(std::int64_t width_dots) { return static_cast<std::uint64_t>(width_dots + 7) / 8; }

}  // namespace

int read_bitmap_file(const std::filesystem::path& file, std::vector<std::uint8_t>& out) {
  return read_whole_file(platform::resolve_case_insensitive(file), out);
}

bitmap_info_header parse_bitmap_info_header(const std::uint8_t* p) { return parse_info_header(p); }

void append_bitmap_info_header(std::string& out, const bitmap_info_header& header) {
  append_info_header(out, header);
}

int CPrinterBitmap::load(const std::filesystem::path& file) {
  *this = CPrinterBitmap();
  std::vector<std::uint8_t> bytes;
  const int read = read_whole_file(platform::resolve_case_insensitive(file), bytes);
  if (read != kBitmapOk) return read;
  return load(std::span<const std::uint8_t>(bytes));
}

int CPrinterBitmap::load(std::span<const std::uint8_t> file) {
  *this = CPrinterBitmap();
  // All arithmetic below is in 64 bits on values of at most 32 bits, so nothing overflows, and
  // every extent is compared with the real size before a byte of it is touched.
  const std::uint64_t file_size = file.size();
  if (file_size < kFileHeaderSize + kInfoHeaderSize) return kBitmapBadFormat;
  const std::uint8_t* const base = file.data();
  if (base[0] != 'B' || base[1] != 'M') return kBitmapBadFormat;
  const std::uint64_t pixel_offset = le32(base + 10);
  bitmap_info_header info = parse_info_header(base + kFileHeaderSize);

  // Larger headers (V4, V5) begin with the same 40 bytes; the palette follows the whole header.
  if (info.size < kInfoHeaderSize || kFileHeaderSize + info.size > file_size) return kBitmapBadFormat;
  if (info.compression != 0 || info.bit_count != 1) return kBitmapBadFormat;
  if (info.width <= 0 || info.height == 0) return kBitmapBadFormat;

  const std::int64_t width = info.width;
  const std::int64_t height = info.height < 0 ? -static_cast<std::int64_t>(info.height) : info.height;
  const std::uint64_t stride = (static_cast<std::uint64_t>(width) * info.bit_count + 31) / 32 * 4;
  const std::uint64_t pixel_bytes = static_cast<std::uint64_t>(height) * stride;
  if (pixel_bytes > kBitmapMaxPixelBytes) return kBitmapTooLarge;

  const std::uint64_t palette_offset = kFileHeaderSize + info.size;
  const std::uint64_t palette_entries = info.clr_used != 0 ? info.clr_used : 1ULL << info.bit_count;
  if (palette_entries * kPaletteEntrySize > file_size - palette_offset) return kBitmapBadFormat;
  if (pixel_offset < palette_offset || pixel_offset > file_size || pixel_bytes > file_size - pixel_offset) {
    return kBitmapBadFormat;
  }

  // A black first palette colour means set bits are black: invert so that a set bit is a dot.
  // Any other first colour keeps the bits as they are.
  const std::uint8_t* const first_colour = base + palette_offset;
  const bool invert = first_colour[0] == 0 && first_colour[1] == 0 && first_colour[2] == 0;

  const std::uint64_t x = row_bytes_of(width);
  // The last byte of a row keeps its top width - 8 (x - 1) bits, the dots inside the width.
  const auto spare_bits = static_cast<int>(8 * x - static_cast<std::uint64_t>(width));  // 0 to 7
  const auto last_mask = static_cast<std::uint8_t>(0xFF << spare_bits);
  std::string image(static_cast<std::size_t>(x * static_cast<std::uint64_t>(height)), '\0');
  const std::uint8_t* const pixels = base + pixel_offset;
  for (std::int64_t row = 0; row < height; ++row) {
    // A positive height stores the bottom row first.
    const std::int64_t source_row = info.height > 0 ? height - 1 - row : row;
    const std::uint8_t* const from = pixels + static_cast<std::uint64_t>(source_row) * stride;
    char* const to = image.data() + static_cast<std::uint64_t>(row) * x;
    for (std::uint64_t i = 0; i < x; ++i) {
      std::uint8_t byte = invert ? static_cast<std::uint8_t>(~from[i]) : from[i];
      if (i + 1 == x) byte &= last_mask;
      to[i] = static_cast<char>(byte);
    }
  }

  // Only the first 40 bytes of the information header are kept, and its size says so.
  info.size = kInfoHeaderSize;
  header_ = info;
  height_ = static_cast<std::int32_t>(height);
  row_bytes_ = static_cast<std::int32_t>(x);
  image_ = std::move(image);
  return kBitmapOk;
}

std::string CPrinterBitmap::column_form() const {
  const auto x = static_cast<std::size_t>(row_bytes_);
  const auto h = static_cast<std::size_t>(height_);
  const auto y = static_cast<std::size_t>(stored_rows());
  std::string out(x * y * 8, '\0');
  auto* const bytes = reinterpret_cast<const std::uint8_t*>(image_.data());
  // Dot column 8c + 7 - b is bit b of byte column c; its dots go down the rows, 8 to a byte.
  std::size_t at = 0;
  for (std::size_t c = 0; c < x; ++c) {
    for (int b = 7; b >= 0; --b) {
      for (std::size_t group = 0; group < y; ++group, ++at) {
        std::uint8_t packed = 0;
        for (std::size_t k = 0; k < 8 && group * 8 + k < h; ++k) {
          if ((bytes[(group * 8 + k) * x + c] >> b) & 1) packed |= static_cast<std::uint8_t>(0x80 >> k);
        }
        out[at] = static_cast<char>(packed);
      }
    }
  }
  return out;
}

bool CPrinterBitmap::save_stored(const std::filesystem::path& file, std::error_code& error) const {
  if (image_.empty()) {
    error = std::make_error_code(std::errc::invalid_argument);  // nothing loaded
    return false;
  }
  const std::string columns = column_form();
  bitmap_info_header info = header_;
  info.size_image = static_cast<std::uint32_t>(columns.size());  // at most 848000 x 8 bytes
  std::string content;
  content.reserve(1 + kInfoHeaderSize + columns.size());
  content += static_cast<char>(kStoredMark);
  append_info_header(content, info);
  content += columns;
  return platform::replace_file(file, content, error);
}

int load_stored_image(const std::filesystem::path& file, stored_image& out) {
  out = stored_image();
  std::vector<std::uint8_t> bytes;
  const int read = read_whole_file(file, bytes);
  if (read != kBitmapOk) return read;
  return load_stored_image(std::span<const std::uint8_t>(bytes), out);
}

int load_stored_image(std::span<const std::uint8_t> file, stored_image& out) {
  out = stored_image();
  const std::uint64_t file_size = file.size();
  if (file_size < 1 + kInfoHeaderSize || file[0] != kStoredMark) return kBitmapBadFormat;
  const bitmap_info_header info = parse_info_header(file.data() + 1);
  if (info.width <= 0 || info.height == 0) return kBitmapBadFormat;
  const std::int64_t height = info.height < 0 ? -static_cast<std::int64_t>(info.height) : info.height;
  const std::uint64_t x = row_bytes_of(info.width);
  const std::uint64_t y = static_cast<std::uint64_t>(height + 7) / 8;
  // The data must be exactly the column form the header describes: no less, nothing after it.
  if (info.size_image != x * y * 8 || file_size - (1 + kInfoHeaderSize) != info.size_image) {
    return kBitmapBadFormat;
  }
  out.row_bytes = static_cast<std::int32_t>(x);
  out.stored_rows = static_cast<std::int32_t>(y);
  out.data.assign(reinterpret_cast<const char*>(file.data() + 1 + kInfoHeaderSize), info.size_image);
  return kBitmapOk;
}

}  // namespace devsvc
