// The escape-sequence translator: the printer's template table, the number checks and the
// printer bytes of each template.
//
// Sequences are translated in a single left-to-right pass, so the cost is linear in the text.
// Replacing one sequence at a time by whole-text substitution and searching again from the start
// gives the same output for ordinary text, including repeated sequences (each occurrence is
// checked and translated alike, and the bytes depend only on the context, not on the position),
// with one deliberate exception: a horizontal or vertical scale keeps the other scale the text set
// before it (both travel in one GS ! byte), which substitution of equal bytes cannot do. Beyond
// that it differs only where the restart would re-read what was already handled:
//  1. a removed sequence whose neighbours join into a new one ("ESC" ESC|iC "|bC" leaves the
//     literal bytes 1B 7C 62 43 here, where the restart would make it bold);
//  2. printer bytes that contain the prefix ESC| (logo data, a scale or feed byte 1B followed
//     by "|" in the text), which are never parsed as sequences here.
// In both cases the text is not read twice: what the translator produced stays as produced.
#include "printer/esc_parser.h"

#include <algorithm>
#include <array>
#include <limits>

#include "core/printer_text.h"
#include "platform/codepage.h"
#include "printer/esc_engineer.h"

namespace devsvc {
namespace {

enum class template_kind {
  bitmap, char_size, paper_cut, normal, feed_cut, feed_cut_stamp, stamp, top_logo, bottom_logo,
  feed_lines, feed_units, reverse_feed, typeface, bold, underline, italic, alt_colour, strike,
  h_scale, v_scale, centre, right, reverse_video,
};

constexpr std::int32_t kNoLimit = std::numeric_limits<std::int32_t>::max();

// One template of the printer: text, supported flag, accepted numbers, what it prints.
struct template_row {
  std::string_view text;
  bool supported;
  std::int32_t min_number;
  std::int32_t max_number;
  template_kind kind;
};

constexpr std::array<template_row, 23> kPrinterTemplates = {{
    {"%dB", true, 1, 2, template_kind::bitmap},
    {"%dC", true, 0, 4, template_kind::char_size},
    {"%dP", true, 0, kNoLimit, template_kind::paper_cut},
    {"N", true, 0, kNoLimit, template_kind::normal},
    {"%dfP", true, 0, kNoLimit, template_kind::feed_cut},
    {"%dsP", false, 0, kNoLimit, template_kind::feed_cut_stamp},
    {"sL", false, 0, kNoLimit, template_kind::stamp},
    {"tL", true, 0, kNoLimit, template_kind::top_logo},
    {"bL", true, 0, kNoLimit, template_kind::bottom_logo},
    {"%dlF", true, 0, kNoLimit, template_kind::feed_lines},
    {"%duF", true, 0, kNoLimit, template_kind::feed_units},
    {"%drF", true, 0, kNoLimit, template_kind::reverse_feed},
    {"%dfT", true, 0, 2, template_kind::typeface},
    {"bC", true, 0, kNoLimit, template_kind::bold},
    {"%duC", true, 0, 2, template_kind::underline},
    {"iC", false, 0, kNoLimit, template_kind::italic},
    {"rC", false, 0, kNoLimit, template_kind::alt_colour},
    {"%dsC", false, 0, kNoLimit, template_kind::strike},
    {"%dhC", true, 0, kNoLimit, template_kind::h_scale},
    {"%dvC", true, 0, kNoLimit, template_kind::v_scale},
    {"cA", true, 0, kNoLimit, template_kind::centre},
    {"rA", true, 0, kNoLimit, template_kind::right},
    {"rvC", true, 0, kNoLimit, template_kind::reverse_video},
}};

// The longest feed one sequence may ask for, in millimetres: no receipt needs more, and a larger
// count would make one call send megabytes of feed commands.
constexpr double kMaxFeedMm = 1000.0;
// Without a usable dot size the feed is held to what that length is at 8 dots a millimetre.
constexpr double kFallbackDotsPerMm = 8.0;

// False when the sequence would feed more paper than the printer can reach in one go.
bool feed_within_reach(template_kind kind, std::int32_t n, const translate_context& c) {
  std::int64_t dots = 0;
  if (kind == template_kind::feed_lines) {
    dots = std::int64_t{n} * std::max(c.rec_line_spacing, 0);
  } else if (kind == template_kind::feed_units) {
    dots = map_units_to_dots(n, c.map_mode, c.units);
  } else {
    return true;
  }
  const double mm = c.units.dot_size > 0 ? static_cast<double>(dots) * c.units.dot_size
                                         : static_cast<double>(dots) / kFallbackDotsPerMm;
  return mm <= kMaxFeedMm;
}

int row_of(std::string_view text) {
  for (std::size_t i = 0; i < kPrinterTemplates.size(); ++i) {
    if (kPrinterTemplates[i].text == text) return static_cast<int>(i);
  }
  return -1;
}

char byte(std::int64_t value) { return static_cast<char>(static_cast<std::uint8_t>(value & 0xFF)); }

std::int32_t saturate(std::int64_t value) {
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(value, std::numeric_limits<std::int32_t>::min(),
                                                            std::numeric_limits<std::int32_t>::max()));
}

}  // namespace

// Stored graphics the two-colour printer keeps under key codes, printed by ESC|nB.
constexpr std::int32_t kTwoColourStoredImages = 20;

CEscParser CEscParser::for_printer() {
  CEscParser parser;
  parser.set_prefix("\x1B|");
  for (const template_row& row : kPrinterTemplates) parser.add_template(row.text, row.supported);
  return parser;
}

CEscParser CEscParser::for_two_colour_printer() {
  CEscParser parser;
  parser.set_prefix("\x1B|");
  parser.two_colour_ = true;
  for (const template_row& row : kPrinterTemplates) {
    parser.add_template(row.text, row.supported || row.kind == template_kind::alt_colour);
  }
  return parser;
}

bool CEscParser::set_prefix(std::string_view prefix) {
  if (prefix.empty()) return false;
  prefix_ = prefix;
  return true;
}

std::int32_t CEscParser::add_template(std::string_view text, bool supported) {
  EscTemplate entry{std::string(text), static_cast<std::int32_t>(templates_.size() + 1), supported, row_of(text)};
  if (entry.suffix().empty()) return 0;
  templates_.push_back(std::move(entry));
  return templates_.back().id;
}

translate_result CEscParser::Translate(std::string_view text, translate_mode mode,
                                       const translate_context& context, int text_codepage) const {
  if (mode != translate_mode::validate && mode != translate_mode::translate) return {kTranslateBadMode, {}};
  if (text.empty()) return {kTranslateEmpty, {}};
  const bool translating = mode == translate_mode::translate;
  const bool encoding = translating && platform::is_supported_codepage(text_codepage);

  std::string out;
  out.reserve(text.size() + text.size() / 8);
  auto append_literal = [&](std::string_view literal) {
    if (literal.empty()) return;
    if (encoding) {
      out += platform::utf8_to_codepage(literal, text_codepage);
    } else {
      out += literal;
    }
  };

  // The text starts at the scale the printer's line properties set.
  scale_codes scale{context.h_scale, context.v_scale};
  std::size_t pos = 0;
  for (;;) {
    const std::size_t start = text.find(prefix_, pos);
    if (start == std::string_view::npos) {
      append_literal(text.substr(pos));
      break;
    }
    append_literal(text.substr(pos, start - pos));

    // The number: the digits after the prefix, held to the 32-bit range.
    std::size_t at = start + prefix_.size();
    std::int64_t number = 0;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
      number = std::min<std::int64_t>(number * 10 + (text[at] - '0'), kNoLimit);
    }

    const std::string_view rest = text.substr(at);
    const auto match = std::find_if(templates_.begin(), templates_.end(), [rest](const EscTemplate& t) {
      const std::string_view suffix = t.suffix();  // never empty
      return !rest.empty() && rest[0] == suffix[0] && rest.starts_with(suffix);
    });
    if (match == templates_.end()) return {kTranslateBadSequence, {}};
    pos = at + match->suffix().size();
    if (!match->supported) continue;

    if (match->row >= 0) {
      const template_row& row = kPrinterTemplates[static_cast<std::size_t>(match->row)];
      const std::int32_t max_number =
          two_colour_ && row.kind == template_kind::bitmap ? kTwoColourStoredImages : row.max_number;
      if (number < row.min_number || number > max_number) return {kTranslateBadSequence, {}};
      if (!feed_within_reach(row.kind, static_cast<std::int32_t>(number), context)) return {kTranslateBeyondReach, {}};
    }
    if (translating) append_bytes(out, *match, static_cast<std::int32_t>(number), context, scale);
  }
  return {kTranslateOk, std::move(out)};
}

void CEscParser::append_bytes(std::string& out, const EscTemplate& match, std::int32_t n,
                              const translate_context& c, scale_codes& scale) const {
  if (match.row < 0) return;
  using E = ESCEngineer;
  // Commands go straight into the output, a 0x00 byte as "<NID>".
  auto emit = [&out](std::string_view bytes) { append_bytes_as_text(out, bytes); };
  auto emit_byte = [&emit](std::int64_t value) {
    const char b = byte(value);
    emit(std::string_view(&b, 1));
  };
  // GS ! with both scale codes in one byte (horizontal in the high nibble).
  auto emit_scale = [&] {
    emit(E::command(E::kCharacterSize));
    emit_byte(std::int64_t{scale.h} * 16 + scale.v);
  };
  switch (kPrinterTemplates[static_cast<std::size_t>(match.row)].kind) {
    case template_kind::bitmap: {
      if (!c.pre_print_bitmap) return;
      const std::optional<std::string> pre = c.pre_print_bitmap(n);
      if (!pre) return;
      std::string head = pre->substr(0, 3);
      head.resize(3, '\0');
      emit(head);
      if (two_colour_) {
        // Stored graphics with key codes n + 0x1F, 0x20 at the scale of BMPMode. The command's
        // length counts the scale bytes, so a BMPMode outside 0 to 3 prints at normal size
        // rather than leave the printer to take the next two bytes of text as the scale.
        static constexpr std::array<std::array<std::uint8_t, 2>, 4> kScales = {{{1, 1}, {2, 1}, {1, 2}, {2, 2}}};
        const std::array<std::uint8_t, 2> scale =
            c.bmp_mode >= 0 && c.bmp_mode <= 3 ? kScales[static_cast<std::size_t>(c.bmp_mode)] : kScales[0];
        emit(E::command(E::kPrintStoredGraphics));
        emit_byte(n + 0x1F);
        emit_byte(0x20);
        emit_byte(scale[0]);
        emit_byte(scale[1]);
        return;
      }
      emit(E::command(E::kPrintStoredImage));
      emit_byte(n);
      emit_byte(0);
      return;
    }
    case template_kind::char_size: {
      static constexpr std::array<std::uint8_t, 5> kSizes = {0x00, 0x00, 0x10, 0x01, 0x11};
      const std::uint8_t size = kSizes[static_cast<std::size_t>(n)];
      scale = {size >> 4, size & 0x0F};
      emit_scale();
      return;
    }
    case template_kind::paper_cut:
      emit(E::command(E::kFeedAndCut));
      return;
    case template_kind::normal:
      scale = {c.h_scale, c.v_scale};
      emit(E::command(E::kAlignLeft));
      emit(E::command(E::kBoldOff));
      if (two_colour_) emit(E::command(E::kColourBlack));
      emit(E::command(E::kReverseOff));
      emit_scale();
      emit_byte(0);
      // The other character attributes a sequence can switch on: underline and typeface (back
      // to the device's font).
      emit(E::command(E::kUnderlineOff));
      emit(E::command(c.font == 2 ? E::kFontB : E::kFontA));
      return;
    case template_kind::feed_cut: {
      const double cut = c.units.v_motion_unit > 0
                             ? static_cast<double>(c.rec_lines_to_paper_cut) * c.rec_line_spacing *
                                   c.units.dot_size / c.units.v_motion_unit
                             : 0.0;
      emit(E::command(E::kFeedCutPrefix));
      emit_byte(0x42);
      emit_byte(truncate_to_int32(cut));
      return;
    }
    case template_kind::top_logo:
      out += c.top_logo;  // already printer text
      return;
    case template_kind::bottom_logo:
      out += c.bottom_logo;
      return;
    case template_kind::feed_lines:
      emit(E::line_feed(saturate(std::int64_t{n} * c.rec_line_spacing), c.rec_line_spacing, c.units.dot_size,
                        c.units.v_motion_unit));
      return;
    case template_kind::feed_units:
      emit(E::line_feed(map_units_to_dots(n, c.map_mode, c.units), c.rec_line_spacing, c.units.dot_size,
                        c.units.v_motion_unit));
      return;
    case template_kind::typeface:
      emit(E::command(n == 2 ? E::kFontB : E::kFontA));
      return;
    case template_kind::bold:
      emit(E::command(E::kBoldOn));
      return;
    case template_kind::underline:
      emit(E::command(E::kUnderlineOff + n));
      return;
    case template_kind::h_scale:
      scale.h = n - 1;
      emit_scale();
      return;
    case template_kind::v_scale:
      scale.v = n - 1;
      emit_scale();
      return;
    case template_kind::centre:
      emit(E::command(E::kAlignCentre));
      return;
    case template_kind::right:
      emit(E::command(E::kAlignRight));
      return;
    case template_kind::reverse_video:
      emit(E::command(E::kReverseOn));
      return;
    case template_kind::alt_colour:
      if (two_colour_) emit(E::command(E::kColourRed));
      return;
    case template_kind::reverse_feed:
    case template_kind::feed_cut_stamp:
    case template_kind::stamp:
    case template_kind::italic:
    case template_kind::strike:
      return;  // prints nothing
  }
}

}  // namespace devsvc
