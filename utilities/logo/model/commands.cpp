// The printer commands of logos: GS ( L and GS 8 L for the NV graphics family, FS q / FS p and
// GS v 0 for the bit-image family, and the few commands around them.
#include "logo/picture.h"

namespace logo::commands {
namespace {

std::string bytes(std::initializer_list<unsigned> values) {
  std::string out;
  for (unsigned v : values) out.push_back(static_cast<char>(v));
  return out;
}

void put16(std::string& out, std::size_t value) {
  out.push_back(static_cast<char>(value & 0xFF));
  out.push_back(static_cast<char>((value >> 8) & 0xFF));
}

void put32(std::string& out, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

// The two characters of a key; a shorter key is padded with blanks so the command keeps its length.
void put_key(std::string& out, std::string_view key) {
  out.push_back(key.size() > 0 ? key[0] : ' ');
  out.push_back(key.size() > 1 ? key[1] : ' ');
}

std::size_t plane_bytes(const raster& plane) { return plane.row_bytes() * static_cast<std::size_t>(plane.height); }

void append_rows(std::string& out, const raster& plane) {
  out.append(reinterpret_cast<const char*>(plane.bytes.data()), plane_bytes(plane));
}

}  // namespace

std::string key_list() { return bytes({0x1D, 0x28, 0x4C, 0x04, 0x00, 0x30, 0x40, 0x4B, 0x43}); }
std::string total_memory() { return bytes({0x1D, 0x28, 0x4C, 0x02, 0x00, 0x30, 0x00}); }
std::string free_memory() { return bytes({0x1D, 0x28, 0x4C, 0x02, 0x00, 0x30, 0x03}); }

std::string delete_logo(std::string_view key) {
  std::string out = bytes({0x1D, 0x28, 0x4C, 0x04, 0x00, 0x30, 0x42});
  put_key(out, key);
  return out;
}

std::string delete_all() { return bytes({0x1D, 0x28, 0x4C, 0x05, 0x00, 0x30, 0x41, 0x43, 0x4C, 0x52}); }

std::string print_stored(std::string_view key) {
  std::string out = bytes({0x1D, 0x28, 0x4C, 0x06, 0x00, 0x30, 0x45});
  put_key(out, key);
  out += bytes({0x01, 0x01});
  return out;
}

std::string print_buffer() { return bytes({0x1D, 0x28, 0x4C, 0x02, 0x00, 0x30, 0x32}); }
std::string processing_echo() { return bytes({0x1D, 0x49, 0x01}); }
std::string printer_type() { return bytes({0x1D, 0x49, 0x02}); }
std::string default_print_mode() { return bytes({0x1B, 0x21, 0x00}); }
std::string feed_and_cut() { return bytes({0x1D, 0x56, 0x42, 0x0F}); }

std::uint32_t define_parameter_count(int planes, std::size_t k) {
  return static_cast<std::uint32_t>(static_cast<std::size_t>(planes) * (k + 1) + 10);
}

std::uint32_t define_colour_parameter_count(std::size_t k) { return static_cast<std::uint32_t>(3 * (k + 1) + 11); }

std::string define_header(std::string_view key, int planes, int width, int height) {
  const std::size_t k = (static_cast<std::size_t>(width) + 7) / 8 * static_cast<std::size_t>(height);
  std::string out = bytes({0x1D, 0x38, 0x4C});
  put32(out, define_parameter_count(planes, k));
  out += bytes({0x30, 0x43, 0x30});
  put_key(out, key);
  out.push_back(static_cast<char>(planes));
  put16(out, static_cast<std::size_t>(width));
  put16(out, static_cast<std::size_t>(height));
  return out;
}

std::string define_colour_header(std::string_view key, int width, int height) {
  const std::size_t k = (static_cast<std::size_t>(width) + 7) / 8 * static_cast<std::size_t>(height);
  std::string out = bytes({0x1D, 0x38, 0x4C});
  put32(out, define_colour_parameter_count(k));
  out += bytes({0x30, 0xFF, 0x30});
  put_key(out, key);
  out.push_back(0x06);
  put16(out, static_cast<std::size_t>(width));
  put16(out, static_cast<std::size_t>(height));
  out.push_back(0x00);
  return out;
}

std::string colour_block(int index, const raster& plane) {
  std::string out(1, static_cast<char>('1' + index));
  append_rows(out, plane);
  return out;
}

std::string define_logo(std::string_view key, std::span<const raster> planes, bool colour_variant) {
  if (planes.empty()) return {};
  const raster& first = planes.front();
  std::string out = colour_variant ? define_colour_header(key, first.width, first.height)
                                   : define_header(key, static_cast<int>(planes.size()), first.width, first.height);
  for (std::size_t i = 0; i < planes.size(); ++i) out += colour_block(static_cast<int>(i), planes[i]);
  return out;
}

std::string print_buffer_picture(char c, const raster& plane) {
  std::string out = bytes({0x1D, 0x38, 0x4C});
  put32(out, static_cast<std::uint32_t>(plane_bytes(plane) + 10));
  out += bytes({0x30, 0x70, 0x30, 0x01, 0x01});
  out.push_back(c);
  put16(out, static_cast<std::size_t>(plane.width));
  put16(out, static_cast<std::size_t>(plane.height));
  append_rows(out, plane);
  return out;
}

std::string bit_images_start(int count) { return bytes({0x1C, 0x71, static_cast<unsigned>(count) & 0xFF}); }

std::string bit_image_size(const raster& plane) {
  std::string out;
  put16(out, (static_cast<std::size_t>(plane.width) + 7) / 8);
  put16(out, (static_cast<std::size_t>(plane.height) + 7) / 8);
  return out;
}

std::string bit_image_columns(const raster& plane) {
  const int columns = static_cast<int>((static_cast<std::size_t>(plane.width) + 7) / 8 * 8);
  const int column_bytes = static_cast<int>((static_cast<std::size_t>(plane.height) + 7) / 8);
  std::string out;
  out.reserve(static_cast<std::size_t>(columns) * static_cast<std::size_t>(column_bytes));
  for (int x = 0; x < columns; ++x) {
    for (int band = 0; band < column_bytes; ++band) {
      unsigned byte = 0;
      for (int bit = 0; bit < 8; ++bit) {
        const int y = band * 8 + bit;
        if (x < plane.width && y < plane.height && plane.dot(x, y)) byte |= 0x80u >> bit;
      }
      out.push_back(static_cast<char>(byte));
    }
  }
  return out;
}

std::string define_bit_images(std::span<const raster> planes) {
  std::string out = bit_images_start(static_cast<int>(planes.size()));
  for (const raster& plane : planes) {
    out += bit_image_size(plane);
    out += bit_image_columns(plane);
  }
  return out;
}

std::string clear_bit_images() { return bytes({0x1C, 0x71, 0x01, 0x00, 0x00, 0x00, 0x00}); }

std::string print_bit_image(int n) { return bytes({0x1C, 0x70, static_cast<unsigned>(n) & 0xFF, 0x00}); }

std::string print_raster(const raster& plane) {
  std::string out = bytes({0x1D, 0x76, 0x30, 0x00});
  put16(out, plane.row_bytes());
  put16(out, static_cast<std::size_t>(plane.height));
  append_rows(out, plane);
  return out;
}

}  // namespace logo::commands
