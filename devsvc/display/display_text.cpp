// Display text encoding and direct-I/O bytes of the line display.
#include "display/display_text.h"

#include "core/binary_conversion.h"
#include "core/printer_text.h"
#include "platform/codepage.h"

namespace devsvc {
namespace {

// UTF-8 text as ASCII: each character beyond 0x7F (and each stray byte) becomes '?'.
std::string ToAscii(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  std::size_t pos = 0;
  while (pos < text.size()) {
    char32_t cp = 0;
    if (platform::decode_utf8_char(text, pos, cp) && cp < 0x80) {
      out += static_cast<char>(cp);
    } else {
      out += '?';
    }
  }
  return out;
}

}  // namespace

std::optional<std::string> DisplayBytes(std::string_view text, std::int32_t binary_conversion,
                                        std::int32_t character_set) {
  std::optional<std::string> decoded = binary_decode(text, binary_conversion);
  if (!decoded) return std::nullopt;
  if (binary_conversion == kBinaryConversionNibble || binary_conversion == kBinaryConversionDecimal) {
    return decoded;  // already display bytes
  }
  if (character_set == DISP_CS_ASCII) return ToAscii(*decoded);
  return platform::utf8_to_codepage(*decoded, kDisplayAnsiCodePage);
}

std::optional<std::string> DirectIOBytes(std::string_view text, std::int32_t binary_conversion) {
  std::optional<std::string> decoded = binary_decode(text, binary_conversion);
  if (!decoded) return std::nullopt;
  if (binary_conversion != kBinaryConversionNibble && binary_conversion != kBinaryConversionDecimal) {
    decoded = platform::utf8_to_codepage(*decoded, kDisplayAnsiCodePage);
  }
  return text_to_bytes(*decoded);
}

}  // namespace devsvc
