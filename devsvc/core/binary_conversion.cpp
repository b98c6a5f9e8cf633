// Binary conversion: nibble and decimal forms of printer bytes in application text.
#include "core/binary_conversion.h"

namespace devsvc {
namespace {

// The character's distance from "0", as the conversion's arithmetic takes it (any character).
int digit_value(char c) { return static_cast<int>(static_cast<unsigned char>(c)) - 0x30; }

char byte_of(int value) { return static_cast<char>(static_cast<unsigned char>(value & 0xFF)); }

}  // namespace

bool is_binary_conversion(std::int32_t mode) {
  return mode == kBinaryConversionNone || mode == kBinaryConversionNibble ||
         mode == kBinaryConversionDecimal;
}

std::optional<std::string> binary_decode(std::string_view text, std::int32_t mode) {
  std::string out;
  if (mode == kBinaryConversionNibble) {
    if (text.size() % 2 != 0) return std::nullopt;
    out.reserve(text.size() / 2);
    for (std::size_t i = 0; i < text.size(); i += 2) {
      out += byte_of(digit_value(text[i]) * 16 + digit_value(text[i + 1]));
    }
    return out;
  }
  if (mode == kBinaryConversionDecimal) {
    if (text.size() % 3 != 0) return std::nullopt;
    out.reserve(text.size() / 3);
    for (std::size_t i = 0; i < text.size(); i += 3) {
      out += byte_of(digit_value(text[i]) * 100 + digit_value(text[i + 1]) * 10 +
                     digit_value(text[i + 2]));
    }
    return out;
  }
  return std::string(text);
}

std::string binary_encode(std::string_view bytes, std::int32_t mode) {
  std::string out;
  if (mode == kBinaryConversionNibble) {
    out.reserve(bytes.size() * 2);
    for (char c : bytes) {
      const auto b = static_cast<unsigned char>(c);
      out += static_cast<char>(0x30 + (b >> 4));
      out += static_cast<char>(0x30 + (b & 0x0F));
    }
    return out;
  }
  if (mode == kBinaryConversionDecimal) {
    out.reserve(bytes.size() * 3);
    for (char c : bytes) {
      const auto b = static_cast<unsigned char>(c);
      out += static_cast<char>('0' + b / 100);
      out += static_cast<char>('0' + b / 10 % 10);
      out += static_cast<char>('0' + b % 10);
    }
    return out;
  }
  return std::string(bytes);
}

}  // namespace devsvc
