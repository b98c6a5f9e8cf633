// The printer's character code tables (ESC t n): which Unicode character each byte prints.
#pragma once

#include <array>

namespace vprinter::detail {

// The characters of bytes 0 to 255 in table `table`; bytes below 0x80 are ASCII in every table.
using code_table = std::array<char32_t, 256>;

// True when the printer has table `table`; a table it lacks prints as PC437.
bool code_table_fitted(int table);
// The characters of table `table` (PC437 for a table the printer lacks).
code_table code_table_points(int table);

}  // namespace vprinter::detail
