// Bar code symbologies of the GS k command: data rules, check digits and bar patterns.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vprinter::detail {

enum class symbology { upc_a, upc_e, ean13, ean8, code39, itf, codabar, code93, code128 };

// The symbology selected by GS k's m byte (0-6 or 65-73); false when m selects none.
bool symbology_from_gs_k(int m, symbology& out);
// Short name for logs ("EAN-13").
std::string_view symbology_name(symbology s);

// An encoded symbol: bar and space widths, bar first.
struct barcode_symbol {
  bool ok = false;
  std::string error;               // why the data was refused when !ok
  std::string note;                // remark on accepted data (a wrong check digit)
  bool two_width = false;          // widths are 1 narrow / 2 wide rather than modules
  std::vector<std::uint8_t> widths;  // alternating bar, space, bar, ... (never empty when ok)
  std::string text;                // human-readable interpretation
};

// Encodes `data` as the printer would for GS k; refuses data that breaks the symbology's rules.
barcode_symbol encode_barcode(symbology s, std::string_view data);

// Bar and space widths in dots for module width `module_dots` (GS w), bar first.
std::vector<int> barcode_widths_in_dots(const barcode_symbol& symbol, int module_dots);

// The Code 128 element widths of symbol value 0-106 (106 is the stop pattern, 7 elements).
std::string_view code128_pattern(int value);
// The Code 39 pattern of `c` as 9 digits 0 narrow / 1 wide, or empty for other characters.
std::string_view code39_pattern(char c);
// The CODABAR pattern of `c` (upper case) as 7 digits 0 narrow / 1 wide, or empty.
std::string_view codabar_pattern(char c);
// The Code 93 element widths of value 0-46, or of the start / stop character for -1.
std::string_view code93_pattern(int value);
// The EAN / UPC left-hand odd-parity pattern of digit `d` as 7 modules ('1' bar).
std::string_view ean_l_pattern(int d);

}  // namespace vprinter::detail
