// Line spacing, line height, characters per line and code page selection.
#include "printer/line_properties.h"

#include <algorithm>
#include <array>

#include "printer/esc_engineer.h"
#include "printer/units.h"

namespace devsvc {
namespace {

constexpr std::int32_t kIllegal = 106;

// Code pages the printer selects with ESC t n.
struct code_page_row {
  std::int32_t codepage;
  std::uint8_t n;
};
constexpr std::array<code_page_row, 9> kCodePages = {{
    {437, 0}, {850, 2}, {852, 18}, {858, 19}, {860, 3}, {863, 4}, {865, 5}, {866, 17}, {1252, 16},
}};

// Smallest index 0..7 whose magnification (index + 1) x cell reaches min(dots, 8 x cell).
std::int32_t scale_index(std::int32_t dots, std::int32_t cell) {
  const std::int64_t target = std::min<std::int64_t>(dots, std::int64_t{8} * cell);
  for (std::int32_t i = 0; i < 8; ++i) {
    if (std::int64_t{i + 1} * cell >= target) return i;
  }
  return 7;  // only reached with a negative cell size
}

// Index of the first list item at least `chars`; 7 (the smallest characters) when none is.
std::size_t first_at_least(const std::array<std::int32_t, 8>& list, std::int32_t chars) {
  for (std::size_t i = 0; i < list.size(); ++i) {
    if (list[i] >= chars) return i;
  }
  return 7;
}

std::int32_t times(std::int32_t k, std::int32_t unit) {
  return truncate_to_int32(static_cast<double>(k + 1) * unit);
}

std::string character_size(std::int32_t byte) {
  return ESCEngineer::command_with(ESCEngineer::kCharacterSize, static_cast<std::uint8_t>(byte & 0xFF));
}

}  // namespace

line_change compute_rec_line_spacing(std::int32_t dots, const line_values& current, double dot_size,
                                     double v_motion_unit) {
  const std::int32_t n = std::clamp(dots_to_motion_units(dots, dot_size, v_motion_unit), 0, 255);
  line_change change{ESCEngineer::line_spacing(static_cast<std::uint8_t>(n)), current, std::nullopt};
  change.values.rec_line_spacing = dots;
  change.values.spacing_above = truncate_to_int32(static_cast<double>(dots) - current.rec_line_height);
  return change;
}

line_change compute_rec_line_height(std::int32_t dots, const line_values& current,
                                    const font_settings& font, std::int32_t rotation) {
  const std::int32_t i = scale_index(dots, font.height);
  const std::int32_t j = scale_index(dots, font.width);
  const bool right = rotation == kRotationRight90;
  const std::int32_t k = right ? j : i;
  const std::int32_t unit = right ? font.width : font.height;

  line_change change{character_size(current.h_scale * 16 + k), current, std::nullopt};
  line_values& v = change.values;
  v.v_scale = k;
  v.rec_line_height = times(k, unit);
  const auto item = static_cast<std::size_t>(7 - k);
  v.rec_sideways_max_chars = font.sideways[item];
  v.rec_line_chars = right ? font.sideways[item] : font.sizes[item];
  change.then_set_spacing = truncate_to_int32(static_cast<double>(current.spacing_above) + v.rec_line_height);
  return change;
}

std::optional<line_change> compute_rec_line_chars(std::int32_t chars, const line_values& current,
                                                  const font_settings& font, std::int32_t rotation) {
  if (chars == 0) return std::nullopt;
  chars = std::min(chars, font.max_chars);
  const std::size_t i = first_at_least(font.sizes, chars);
  const std::int32_t normal_chars = font.sizes[i];
  chars = std::min(chars, font.max_sideways_chars);
  const std::size_t j = first_at_least(font.sideways, chars);
  const std::int32_t sideways_chars = font.sideways[j];

  const bool right = rotation == kRotationRight90;
  const auto k = static_cast<std::int32_t>(7 - (right ? j : i));
  const std::int32_t unit = right ? font.width : font.height;

  line_change change{character_size(k * 16 + k), current, std::nullopt};
  line_values& v = change.values;
  v.rec_line_height = times(k, unit);
  v.h_scale = k;
  v.v_scale = k;
  v.rec_line_spacing = truncate_to_int32(static_cast<double>(current.spacing_above) + v.rec_line_height);
  v.rec_sideways_max_chars = sideways_chars;
  v.rec_line_chars = right ? sideways_chars : normal_chars;
  return change;
}

std::optional<std::uint8_t> code_page_selector(std::int32_t codepage) {
  for (const code_page_row& row : kCodePages) {
    if (row.codepage == codepage) return row.n;
  }
  return std::nullopt;
}

character_set_change compute_character_set(std::int32_t codepage, std::string_view character_set_list) {
  const std::optional<std::uint8_t> n = code_page_selector(codepage);
  if (character_set_list.find(std::to_string(codepage)) == std::string_view::npos || !n) {
    return {kIllegal, {}};
  }
  return {0, ESCEngineer::command_with(ESCEngineer::kCodePage, *n)};
}

}  // namespace devsvc
