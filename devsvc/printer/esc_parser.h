// CEscParser: the OPOS escape-sequence translator. It finds sequences "ESC|" digits suffix in
// application text, matches them against its EscTemplate list and either strips them (validate)
// or replaces them with printer bytes (translate), in one pass over the text.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "printer/units.h"

namespace devsvc {

// Translator modes.
enum class translate_mode : std::int32_t {
  validate = 1,   // check every sequence and remove it
  translate = 2,  // replace every sequence with its printer bytes
};

// Translator results (Prepare maps them to OPOS codes).
inline constexpr std::int32_t kTranslateOk = 0;
inline constexpr std::int32_t kTranslateBadSequence = -1;  // no template matches, or a bad number
inline constexpr std::int32_t kTranslateBadMode = -2;      // a mode other than 1 or 2
inline constexpr std::int32_t kTranslateEmpty = -3;        // empty text: nothing to translate
inline constexpr std::int32_t kTranslateBeyondReach = -5;  // a feed longer than the printer can make

// One escape sequence the translator knows: its text ("%dfP": "%d" stands for the optional
// number), its identifier (1-based, registration order) and whether the printer supports it
// (an unsupported sequence is removed without output).
struct EscTemplate {
  std::string text;
  std::int32_t id = 0;
  bool supported = false;
  // The text without its leading "%d": what must follow the digits.
  std::string_view suffix() const { return std::string_view(text).substr(text.starts_with("%d") ? 2 : 0); }
  // Index into the printer's template table, or -1 for a text the printer does not know.
  int row = -1;
};

// The printer state the translated bytes depend on, read by the caller before translating.
struct translate_context {
  std::int32_t h_scale = 0;                 // current horizontal scale code, 0 to 7
  std::int32_t v_scale = 0;                 // current vertical scale code, 0 to 7
  std::int32_t font = 1;                    // font of the device key (CurrentFont), 1-based
  std::int32_t rec_lines_to_paper_cut = 1;  // RecLinesToPaperCut
  std::int32_t rec_line_spacing = 0;        // RecLineSpacing in dots
  std::int32_t map_mode = kMapModeDots;     // MapMode, for ESC|nuF
  unit_metrics units;                       // dotSize, dotPl, TwipsPerDots, VMotionUnit
  std::string_view top_logo;                // logo file data for ESC|tL (printer text)
  std::string_view bottom_logo;             // logo file data for ESC|bL (printer text)
  // Bytes of the per-user registry value PrePrintBitmap n; std::nullopt when it is absent. Called
  // only for ESC|nB; may be empty. On the two-colour printer: ESC a with the stored alignment of
  // image n, std::nullopt when no image n is recorded.
  std::function<std::optional<std::string>(std::int32_t n)> pre_print_bitmap;
  // BMPMode, the scale code of stored graphics printed by ESC|nB on the two-colour printer.
  std::int32_t bmp_mode = 0;
};

// Result of Translate: the code and the text handed out.
struct translate_result {
  std::int32_t result = kTranslateOk;
  std::string text;
};

class CEscParser {
 public:
  // A parser with the prefix ESC (one byte 1B) and no templates.
  CEscParser() = default;

  // The printer's parser: prefix ESC| (1B 7C) and the printer's 23 templates in order.
  static CEscParser for_printer();
  // The two-colour printer's parser: the same templates, with ESC|rC (red) supported, ESC|N
  // back to black, and ESC|nB for stored graphics 1 to 20.
  static CEscParser for_two_colour_printer();

  // Sets the prefix that starts a sequence; false (and unchanged) for an empty prefix.
  bool set_prefix(std::string_view prefix);
  const std::string& prefix() const { return prefix_; }

  // Appends a template; returns its identifier, or 0 when its suffix is empty.
  std::int32_t add_template(std::string_view text, bool supported);
  const std::vector<EscTemplate>& templates() const { return templates_; }

  // Translates `text` in one left-to-right pass. A sequence is the prefix, the decimal digits
  // that follow (its number; 0 when there are none) and the suffix of the first template that
  // matches; no match gives kTranslateBadSequence. A supported sequence's number is checked
  // (ESC|nB 1 to 2, or 1 to 20 on the two-colour printer, ESC|nC 0 to 4, ESC|nlF and ESC|nuF 0 or more, ESC|nfT and ESC|nuC 0 to 2); a
  // failed check gives kTranslateBadSequence. Validate: the text with every sequence removed.
  // Translate: every supported sequence replaced by its printer bytes (0x00 written as "<NID>"),
  // unsupported ones removed, and the application's own text between sequences converted from
  // UTF-8 to `text_codepage` (0 copies it as it is, for text that already holds printer bytes).
  // Printer bytes are copied as they are and never searched again for sequences.
  translate_result Translate(std::string_view text, translate_mode mode, const translate_context& context,
                             int text_codepage = 0) const;

 private:
  // The character scale codes the text has set so far: a horizontal scale keeps the vertical
  // one and the other way round, as both travel in one GS ! byte.
  struct scale_codes {
    std::int32_t h = 0;
    std::int32_t v = 0;
  };
  void append_bytes(std::string& out, const EscTemplate& match, std::int32_t number,
                    const translate_context& context, scale_codes& scale) const;

  std::string prefix_ = "\x1B";
  std::vector<EscTemplate> templates_;
  bool two_colour_ = false;
};

}  // namespace devsvc
