// Bytes for the line display from what the application passes: text in the display's character
// set, and direct-I/O data with its NUL placeholder.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace devsvc {

// Character sets of the line display (CharacterSet property).
inline constexpr std::int32_t DISP_CS_ASCII = 998;
inline constexpr std::int32_t DISP_CS_ANSI = 999;
// The code page of the display's ANSI character set.
inline constexpr int kDisplayAnsiCodePage = 1252;

// The display bytes of application text: decoded per `binary_conversion` (std::nullopt when its
// length does not fit); with no binary conversion the text is UTF-8 and is encoded in the
// character set: ANSI as code page 1252, ASCII with '?' for every character beyond 0x7F. Bytes
// that are not well-formed UTF-8 are kept as they are in ANSI and become '?' in ASCII.
std::optional<std::string> DisplayBytes(std::string_view text, std::int32_t binary_conversion,
                                        std::int32_t character_set);

// The bytes of a direct-I/O string: decoded per `binary_conversion` (UTF-8 text becomes code page
// 1252), then every "<NID>" becomes one 0x00 byte. std::nullopt when the decoding fails.
std::optional<std::string> DirectIOBytes(std::string_view text, std::int32_t binary_conversion);

}  // namespace devsvc
