// Dotted IPv4 text.
#include "platform/net.h"

#include <charconv>

namespace platform::net {

std::optional<std::uint32_t> parse_ipv4(std::string_view text) {
  std::uint32_t address = 0;
  int parts = 0;
  std::size_t pos = 0;
  while (parts < 4) {
    const std::size_t end = text.find('.', pos);
    const std::string_view part = text.substr(pos, end == std::string_view::npos ? std::string_view::npos : end - pos);
    if (part.empty() || part.size() > 3) return std::nullopt;
    unsigned value = 0;
    for (const char c : part) {
      if (c < '0' || c > '9') return std::nullopt;
      value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value > 255) return std::nullopt;
    address = (address << 8) | value;
    ++parts;
    if (end == std::string_view::npos) break;
    pos = end + 1;
    if (parts == 4) return std::nullopt;  // a fifth part follows
  }
  if (parts != 4) return std::nullopt;
  return address;
}

std::string format_ipv4(std::uint32_t address) {
  std::string text;
  for (int shift = 24; shift >= 0; shift -= 8) {
    if (!text.empty()) text += '.';
    text += std::to_string((address >> shift) & 0xFF);
  }
  return text;
}

}  // namespace platform::net
