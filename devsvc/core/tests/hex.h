// Test helper: byte strings as readable hex, so that a mismatch of golden bytes shows both sides.
#pragma once

#include <string>
#include <string_view>

namespace devsvc::testing {

// "1B 47 01" for the bytes 1B 47 01; empty for none.
inline std::string hex(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    if (!out.empty()) out += ' ';
    out += kDigits[b >> 4];
    out += kDigits[b & 0x0F];
  }
  return out;
}

}  // namespace devsvc::testing
