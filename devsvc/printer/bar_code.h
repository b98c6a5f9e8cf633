// Bar codes: the symbologies the printer serves with their data rules, and the one printer
// sequence that sets the text position, height and module width and prints the symbol, in
// standard mode, upside down, or turned in a page-mode area.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace devsvc {

// One symbology: the OPOS value, the printer's type byte m of GS k (function with an explicit
// length) or, for a two-dimensional symbol, its symbol type cn of GS ( k, the data length range
// and the largest module width.
struct bar_code_symbology {
  std::int32_t symbology = 0;
  std::uint8_t type = 0;
  std::size_t min_length = 0;
  std::size_t max_length = 0;
  std::int32_t max_width = 0;
  std::string_view characters;  // the allowed bytes; empty: any byte 0 to 127 (any byte in 2-D)
  bool two_dimensional = false;  // printed with GS ( k: store the data, then print the symbol
};

// The symbology of an OPOS value, or nullptr when the printer does not serve it.
const bar_code_symbology* find_bar_code_symbology(std::int32_t symbology);

// GS H byte of an OPOS text position (none 0x30, above 0x31, below 0x32); -1 for another value.
std::int32_t bar_code_text_position(std::int32_t text_position);

// True when `data` has an allowed length and only allowed bytes.
bool valid_bar_code_data(const bar_code_symbology& symbology, std::string_view data);

// True when a two-dimensional symbol of `data` with modules `width` dots wide fits a line of
// `line_width_dots` (QR Code: the smallest version holding the data at level M; PDF417: the
// columns that fit the line, at most 90 rows, with the correction codewords the driver adds).
bool two_d_symbol_fits(const bar_code_symbology& symbology, std::string_view data, std::int32_t width,
                       std::int32_t line_width_dots);

// What the sequence is built from.
struct bar_code_job {
  const bar_code_symbology* symbology = nullptr;
  std::string data;                   // validated bytes
  std::int32_t height_dots = 0;       // 1 to 255
  std::int32_t width = 0;             // module width in dots
  std::uint8_t text_position = 0x32;  // GS H byte
  std::int32_t rotate_special = 1;    // 1, 257 right, 258 left, 259 upside down
  std::int32_t rec_line_height = 0;   // dots, for the position inside a turned page
  double dot_pl = 0;                  // inches per dot
  std::int32_t line_width_dots = 576;  // two-dimensional symbols: the receipt line they must fit
};

// The printer sequence of a bar code. Turned right or left it is printed in page mode: ESC L,
// GS P 180 104, an ESC W area as wide as the paper (512 / 180 inch) and as long as the symbol's
// estimated length in whole inches, ESC T 3 or 1, GS \ to the base line, the symbol, FF, and
// GS P 0 0 to give the motion units back.
// Upside down it is framed by ESC { 1 and ESC { 0.
// A two-dimensional symbol takes the same frames; inside them its GS ( k settings (QR Code: model
// 2, module size `width`, level M; PDF417: the columns that fit the line, module width `width`,
// row height `height_dots` rounded to whole modules of 2 to 8, a correction level for the data), the stored data and the
// print function replace GS H / h / w / k.
std::string bar_code_sequence(const bar_code_job& job);

}  // namespace devsvc
