// Conversion between UTF-8 text and the single-byte code pages that printers and displays take
// (437, 850, 852, 858, 860, 863, 865, 866 and 1252).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace platform {

// True for the code pages the converters below know.
bool is_supported_codepage(int codepage);

// Converts UTF-8 text to bytes of `codepage`. Each character becomes its byte, a character the
// code page lacks becomes '?', and a byte that is not part of well-formed UTF-8 (stray
// continuation, overlong form, surrogate, beyond U+10FFFF, cut-off sequence) is copied unchanged.
// Bytes 0x00-0x7F are copied unchanged. An unsupported code page returns the input unchanged.
std::string utf8_to_codepage(std::string_view utf8, int codepage);

// Converts bytes of `codepage` to UTF-8 text, one character per byte. In 1252 the five bytes the
// code page leaves undefined become the C1 controls of the same value (0x81 -> U+0081). An
// unsupported code page returns the input unchanged.
std::string codepage_to_utf8(std::string_view bytes, int codepage);

// Decodes the UTF-8 character at byte `pos`. When it is well formed, stores it in `cp`, moves `pos`
// past it and returns true; otherwise moves `pos` one byte on (not past the end) and returns false,
// leaving `cp` unchanged.
bool decode_utf8_char(std::string_view text, std::size_t& pos, char32_t& cp);

}  // namespace platform
