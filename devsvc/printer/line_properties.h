// The receipt line properties (RecLineSpacing, RecLineHeight, RecLineChars, CharacterSet) as
// pure computations: each returns the printer command to send and the values to store once the
// printer has accepted it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "printer/metrics_file.h"

namespace devsvc {

// Rotation state in which lines run along the paper, turned right (PTR_RP_RIGHT90); the line
// values then come from the sideways list and the font's width.
inline constexpr std::int32_t kRotationRight90 = 257;

// The printer's line values, in dots, with the character scale codes (0 to 7; magnification is
// code + 1).
struct line_values {
  std::int32_t rec_line_chars = 0;
  std::int32_t rec_line_height = 0;
  std::int32_t rec_line_spacing = 0;
  std::int32_t spacing_above = 0;  // RecLineSpacing - RecLineHeight
  std::int32_t rec_sideways_max_chars = 0;
  std::int32_t h_scale = 0;
  std::int32_t v_scale = 0;
};

// A command and the line values to store when submitting it succeeds (a failed submission
// leaves the previous values unchanged).
struct line_change {
  std::string command;
  line_values values;
  // Set by RecLineHeight: the RecLineSpacing to set next (sending ESC 3), the previous spacing
  // above the characters plus the new height.
  std::optional<std::int32_t> then_set_spacing;
};

// RecLineSpacing = `dots`: ESC 3 n with n = truncate(dots x dotSize / VMotionUnit) held to 0..255
// (0 when VMotionUnit is not a positive number); stores RecLineSpacing = dots and the spacing
// above = dots - RecLineHeight.
line_change compute_rec_line_spacing(std::int32_t dots, const line_values& current, double dot_size,
                                     double v_motion_unit);

// RecLineHeight = `dots`: the smallest vertical index i with (i + 1) x FontH >= min(dots, 8 x FontH)
// and horizontal index j likewise with FontW; turned right k = j in units of FontW, else k = i in
// units of FontH. Sends GS ! (h x 16 + k); stores v = k, RecLineHeight = (k + 1) x unit, the
// sideways chars from item 7 - k of Sidewayslist and RecLineChars from item 7 - k of Sidewayslist
// when turned right, else of sizeList; then_set_spacing holds the spacing to set next.
line_change compute_rec_line_height(std::int32_t dots, const line_values& current,
                                    const font_settings& font, std::int32_t rotation);

// RecLineChars = `chars`; std::nullopt for 0 (nothing changes). `chars` is held to MAXchars and
// the first sizeList item at least as large is taken (index i); held further to
// MAXSidewaysChars, the first Sidewayslist item at least as large (index j). k = 7 - i, or
// 7 - j in units of FontW when turned right. Sends GS ! (k x 16 + k); stores h = v = k,
// RecLineHeight = (k + 1) x unit, RecLineSpacing = spacing above + RecLineHeight (without ESC 3),
// the sideways chars found and RecLineChars = the chars found (sideways when turned right).
// When no item is large enough (a metrics file whose MAXchars exceeds its list) the smallest
// characters, index 7, are taken, so that the command stays a valid magnification.
std::optional<line_change> compute_rec_line_chars(std::int32_t chars, const line_values& current,
                                                  const font_settings& font, std::int32_t rotation);

// n of ESC t for a code page (437 0, 850 2, 852 18, 858 19, 860 3, 863 4, 865 5, 866 17,
// 1252 16); std::nullopt for any other.
std::optional<std::uint8_t> code_page_selector(std::int32_t codepage);

// Outcome of setting CharacterSet.
struct character_set_change {
  std::int32_t result = 0;  // 0, or OPOS_E_ILLEGAL (106): nothing is to be sent
  std::string command;      // ESC t n, to be written directly (not queued)
};

// CharacterSet = `codepage`: the decimal text of the code page must occur in
// `character_set_list` (a text search) and the code page must be one the printer selects by
// ESC t; otherwise 106.
character_set_change compute_character_set(std::int32_t codepage, std::string_view character_set_list);

}  // namespace devsvc
