// The logo file: reading with lengths checked against the file, atomic writing.
#include "printer/logo_file.h"

#include <array>
#include <cstdint>
#include <fstream>
#include <limits>

#include "platform/case_path.h"
#include "platform/replace_file.h"

namespace devsvc {
namespace {

constexpr std::size_t kHeaderSize = 8;

std::uint32_t read_le32(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

void append_le32(std::string& out, std::uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) out += static_cast<char>((value >> shift) & 0xFF);
}

bool read_exactly(std::ifstream& in, std::string& out, std::size_t size) {
  out.resize(size);
  if (size == 0) return true;
  in.read(out.data(), static_cast<std::streamsize>(size));
  return static_cast<std::size_t>(in.gcount()) == size;
}

}  // namespace

logo_load_result CLogoFile::load(const std::filesystem::path& path, std::error_code* save_error) {
  // Keep what was set for the previous file before switching to another one.
  const std::filesystem::path found = platform::resolve_case_insensitive(path);
  if (!path_.empty() && found != path_ && (!top_.empty() || !bottom_.empty())) {
    std::error_code error;
    if (!save(error) && save_error != nullptr) *save_error = error;
  }
  top_.clear();
  bottom_.clear();
  path_ = found;

  std::error_code error;
  if (!std::filesystem::exists(path_, error)) return logo_load_result::missing;
  const std::uintmax_t size = std::filesystem::file_size(path_, error);
  if (error) return logo_load_result::unreadable;
  std::ifstream in(path_, std::ios::binary);
  if (!in.is_open()) return logo_load_result::unreadable;
  if (size < kHeaderSize) return logo_load_result::corrupt;

  std::array<unsigned char, kHeaderSize> header{};
  in.read(reinterpret_cast<char*>(header.data()), kHeaderSize);
  if (static_cast<std::size_t>(in.gcount()) != kHeaderSize) return logo_load_result::unreadable;
  const std::uintmax_t top_size = read_le32(header.data());
  const std::uintmax_t bottom_size = read_le32(header.data() + 4);
  const std::uintmax_t room = size - kHeaderSize;
  if (top_size > room || bottom_size > room - top_size) return logo_load_result::corrupt;

  std::string top;
  std::string bottom;
  if (!read_exactly(in, top, static_cast<std::size_t>(top_size)) ||
      !read_exactly(in, bottom, static_cast<std::size_t>(bottom_size))) {
    return logo_load_result::unreadable;  // the file shrank while it was read
  }
  top_ = std::move(top);
  bottom_ = std::move(bottom);
  return logo_load_result::loaded;
}

bool CLogoFile::save(std::error_code& error) const {
  if (path_.empty()) {
    error = std::make_error_code(std::errc::invalid_argument);
    return false;
  }
  constexpr std::size_t kMaxLogo = std::numeric_limits<std::uint32_t>::max();
  if (top_.size() > kMaxLogo || bottom_.size() > kMaxLogo) {
    error = std::make_error_code(std::errc::file_too_large);
    return false;
  }
  std::string content;
  content.reserve(kHeaderSize + top_.size() + bottom_.size());
  append_le32(content, static_cast<std::uint32_t>(top_.size()));
  append_le32(content, static_cast<std::uint32_t>(bottom_.size()));
  content += top_;
  content += bottom_;
  return platform::replace_file(path_, content, error);
}

bool CLogoFile::set_top(std::string_view data, std::error_code& error) {
  top_ = data;
  return save(error);
}

bool CLogoFile::set_bottom(std::string_view data, std::error_code& error) {
  bottom_ = data;
  return save(error);
}

}  // namespace devsvc
