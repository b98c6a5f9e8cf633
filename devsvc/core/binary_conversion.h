// Binary conversion of the text that the four service objects exchange with the application:
// decoding of data passed in and encoding of bytes handed back (BinaryConversion property).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace devsvc {

// Values of the BinaryConversion property.
inline constexpr std::int32_t kBinaryConversionNone = 0;     // text is taken as it is
inline constexpr std::int32_t kBinaryConversionNibble = 1;   // two characters per byte
inline constexpr std::int32_t kBinaryConversionDecimal = 2;  // three decimal digits per byte

// True for the values the property accepts (0, 1 and 2).
bool is_binary_conversion(std::int32_t mode);

// Decodes text from the application. None: unchanged. Nibble: an even length is needed and each
// pair c1 c2 gives ((c1 - 0x30) * 16 + (c2 - 0x30)) modulo 256. Decimal: a length that is a
// multiple of 3 is needed and each group gives (c1 - 0x30) * 100 + (c2 - 0x30) * 10 + (c3 - 0x30)
// modulo 256, its decimal value for digits. Lengths count bytes of the UTF-8 text. std::nullopt
// for a wrong length (the caller reports OPOS_E_FAILURE). Another mode leaves the text unchanged.
std::optional<std::string> binary_decode(std::string_view text, std::int32_t mode);

// Encodes bytes for the application. None: unchanged. Nibble: each byte as 0x30 + high nibble and
// 0x30 + low nibble ("0".."9", ":".."?"). Decimal: each byte as three decimal digits ("%03d").
// Another mode leaves the bytes unchanged.
std::string binary_encode(std::string_view bytes, std::int32_t mode);

}  // namespace devsvc
