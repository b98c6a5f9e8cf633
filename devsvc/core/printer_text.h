// Printer bytes inside service-object text: the NUL placeholder "<NID>", and bytes read from a
// printer turned into the text an application receives.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace devsvc {

// Stands for one 0x00 byte in text that travels inside the service objects.
inline constexpr std::string_view kNulPlaceholder = "<NID>";

// The bytes to send for `text`: every "<NID>" becomes one 0x00 byte, everything else is copied
// (so an application that prints the text "<NID>" sends a NUL).
std::string text_to_bytes(std::string_view text);

// Appends `bytes` to `out` with every 0x00 byte written as "<NID>".
void append_bytes_as_text(std::string& out, std::string_view bytes);

// The text handed back for bytes read from the printer (direct-I/O reads): every 0x00 byte becomes
// "<NID>", the result is encoded per `binary_conversion`, and, when that is none, converted from
// `codepage` to UTF-8. Nibble and decimal forms encode the raw printer bytes, so they are pure
// ASCII and need no code-page conversion.
std::string text_for_application(std::string_view bytes, std::int32_t binary_conversion,
                                 int codepage);

}  // namespace devsvc
