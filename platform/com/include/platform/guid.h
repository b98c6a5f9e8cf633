// Globally unique identifiers of classes and interfaces, written and read in the registry's
// "{EA5F1872-773C-4B23-A3A6-3485E22CEADC}" form.
#pragma once

#include <array>
#include <compare>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace platform {

// A 128-bit identifier with the usual field split (32-16-16-8×8 bits).
struct guid {
  std::uint32_t data1 = 0;
  std::uint16_t data2 = 0;
  std::uint16_t data3 = 0;
  std::array<std::uint8_t, 8> data4{};

  // Reads "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" (braces required, hex digits in either case);
  // false, leaving `out` alone, for anything else.
  static constexpr bool parse(std::string_view text, guid& out);
  // The identifier of a literal that is known to be well formed; a bad one fails to compile.
  static consteval guid literal(std::string_view text) {
    guid g;
    if (!parse(text, g)) throw std::invalid_argument("malformed guid literal");
    return g;
  }

  // The braced, upper-case form.
  std::string to_string() const;
  constexpr bool is_null() const { return *this == guid{}; }

  friend constexpr bool operator==(const guid&, const guid&) = default;
  friend constexpr auto operator<=>(const guid&, const guid&) = default;
};

constexpr bool guid::parse(std::string_view text, guid& out) {
  // Positions of the dashes inside the braces; everything else is a hex digit.
  if (text.size() != 38 || text.front() != '{' || text.back() != '}') return false;
  std::uint8_t bytes[16] = {};
  int count = 0;
  for (std::size_t i = 1; i < 37;) {
    if (i == 9 || i == 14 || i == 19 || i == 24) {
      if (text[i] != '-') return false;
      ++i;
      continue;
    }
    int pair = 0;
    for (int k = 0; k < 2; ++k, ++i) {
      const char c = text[i];
      int digit = -1;
      if (c >= '0' && c <= '9') digit = c - '0';
      if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
      if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
      if (digit < 0) return false;
      pair = pair * 16 + digit;
    }
    bytes[count++] = static_cast<std::uint8_t>(pair);
  }
  guid g;
  g.data1 = static_cast<std::uint32_t>(bytes[0]) << 24 | static_cast<std::uint32_t>(bytes[1]) << 16 |
            static_cast<std::uint32_t>(bytes[2]) << 8 | bytes[3];
  g.data2 = static_cast<std::uint16_t>(bytes[4] << 8 | bytes[5]);
  g.data3 = static_cast<std::uint16_t>(bytes[6] << 8 | bytes[7]);
  for (int k = 0; k < 8; ++k) g.data4[k] = bytes[8 + k];
  out = g;
  return true;
}

}  // namespace platform
