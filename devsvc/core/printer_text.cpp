// The NUL placeholder and the text handed back to applications for printer bytes.
#include "core/printer_text.h"

#include "core/binary_conversion.h"
#include "platform/codepage.h"

namespace devsvc {

std::string text_to_bytes(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  std::size_t pos = 0;
  for (;;) {
    const std::size_t hit = text.find(kNulPlaceholder, pos);
    if (hit == std::string_view::npos) break;
    out.append(text, pos, hit - pos);
    out += '\0';
    pos = hit + kNulPlaceholder.size();
  }
  out.append(text, pos);
  return out;
}

void append_bytes_as_text(std::string& out, std::string_view bytes) {
  std::size_t pos = 0;
  for (;;) {
    const std::size_t hit = bytes.find('\0', pos);
    if (hit == std::string_view::npos) break;
    out.append(bytes, pos, hit - pos);
    out += kNulPlaceholder;
    pos = hit + 1;
  }
  out.append(bytes, pos);
}

std::string text_for_application(std::string_view bytes, std::int32_t binary_conversion,
                                 int codepage) {
  std::string text;
  text.reserve(bytes.size());
  append_bytes_as_text(text, bytes);
  if (binary_conversion == kBinaryConversionNibble || binary_conversion == kBinaryConversionDecimal) {
    return binary_encode(text, binary_conversion);
  }
  return platform::codepage_to_utf8(text, codepage);
}

}  // namespace devsvc
