// Tests of the escape-sequence translator: golden bytes per template, number checks, stripping,
// code-page encoding of the application's text, and the single pass against the restart method.
#include "printer/esc_parser.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "core/printer_text.h"
#include "core/tests/hex.h"

namespace devsvc {
namespace {

using testing::hex;

// The printer of the example metrics file: 30-dot spacing, motion unit of one dot, scale codes
// 0, bitmap 1 stored centred, bitmap 2 absent.
translate_context vx40_context() {
  translate_context c;
  c.rec_line_spacing = 30;
  c.units = {0.125, 0.004926, 7, 0.125};
  c.top_logo = "TOP<NID>";
  c.bottom_logo = "\x1B\x61\x31" "BOTTOM";
  c.pre_print_bitmap = [](std::int32_t n) -> std::optional<std::string> {
    if (n == 1) return std::string("\x1B\x61\x01");
    return std::nullopt;
  };
  return c;
}

// Translates and turns the text into the bytes sent.
translate_result print(std::string_view text, const translate_context& context = vx40_context(), int codepage = 0) {
  translate_result r = CEscParser::for_printer().Translate(text, translate_mode::translate, context, codepage);
  r.text = text_to_bytes(r.text);
  return r;
}

struct golden {
  const char* name;
  std::string text;
  const char* bytes;
};

TEST(Translate, GoldenBytesOfEveryTemplate) {
  const golden rows[] = {
      {"bold, text, normal", "\x1B|bCHello \x1B|N",
       "1B 47 01 48 65 6C 6C 6F 20 1B 61 30 1B 47 00 1D 42 00 1D 21 00 00 1B 2D 30 1B 4D 30"},
      {"stored bitmap 1", "\x1B|1B", "1B 61 01 1C 70 01 00"},
      {"stored bitmap 2 absent prints nothing", "\x1B|2B", ""},
      {"size 0", "\x1B|C", "1D 21 00"},
      {"size 1", "\x1B|1C", "1D 21 00"},
      {"double wide", "\x1B|2C", "1D 21 10"},
      {"double high", "\x1B|3C", "1D 21 01"},
      {"double both", "\x1B|4C", "1D 21 11"},
      {"paper cut ignores its number", "\x1B|75P", "1D 56 42 0F"},
      {"feed and cut: one line of 30 units", "\x1B|fP", "13 1D 56 42 1E"},
      {"feed, cut and stamp unsupported", "\x1B|2sP", ""},
      {"stamp unsupported", "\x1B|sL", ""},
      {"top logo", "\x1B|tL", "54 4F 50 00"},
      {"bottom logo", "\x1B|bL", "1B 61 31 42 4F 54 54 4F 4D"},
      {"ten lines of 30 dots, two spacings less", "\x1B|10lF", "1B 4A F0"},
      {"twelve lines: 300 units after the correction", "\x1B|12lF", "1B 4A FF 1B 4A 2D"},
      {"feed of dots in map mode 1", "\x1B|360uF", "1B 4A FF 1B 4A 2D"},
      {"zero lines: print the line, no feed", "\x1B|lF", "1B 4A 00"},
      {"one line: the line's own spacing, so no further feed", "\x1B|1lF", "1B 4A 00"},
      {"reverse feed prints nothing", "\x1B|5rF", ""},
      {"typeface 2 is font B", "\x1B|2fT", "1B 4D 31"},
      {"typeface 1 is font A", "\x1B|1fT", "1B 4D 30"},
      {"typeface 0 is font A", "\x1B|fT", "1B 4D 30"},
      {"underline off", "\x1B|uC", "1B 2D 30"},
      {"underline one dot", "\x1B|1uC", "1B 2D 31"},
      {"underline two dots", "\x1B|2uC", "1B 2D 32"},
      {"italic removed", "A\x1B|iCB", "41 42"},
      {"alternate colour removed", "\x1B|rC", ""},
      {"strike-through removed", "\x1B|3sC", ""},
      {"horizontal scale 2", "\x1B|2hC", "1D 21 10"},
      {"horizontal scale 0 wraps", "\x1B|hC", "1D 21 F0"},
      {"vertical scale 3", "\x1B|3vC", "1D 21 02"},
      {"vertical scale 0 wraps", "\x1B|vC", "1D 21 FF"},
      {"centre", "\x1B|cA", "1B 61 31"},
      {"right", "\x1B|rA", "1B 61 32"},
      {"reverse video", "\x1B|rvC", "1D 42 01"},
      {"placeholder between letters", "A<NID>B", "41 00 42"},
      {"no sequence", "abc", "61 62 63"},
      {"a lone ESC is text", "\x1B" "A", "1B 41"},
      {"repeated sequences translate alike", "\x1B|2C" "a" "\x1B|2C", "1D 21 10 61 1D 21 10"},
  };
  for (const golden& g : rows) {
    SCOPED_TRACE(g.name);
    const translate_result r = print(g.text);
    EXPECT_EQ(r.result, kTranslateOk);
    EXPECT_EQ(hex(r.text), g.bytes);
  }
}

TEST(Translate, BytesFollowThePrinterState) {
  translate_context c = vx40_context();
  c.h_scale = 2;
  c.v_scale = 1;
  c.rec_lines_to_paper_cut = 3;
  c.rec_line_spacing = 100;
  EXPECT_EQ(hex(print("\x1B|N", c).text), "1B 61 30 1B 47 00 1D 42 00 1D 21 21 00 1B 2D 30 1B 4D 30");
  EXPECT_EQ(hex(print("\x1B|fP", c).text), "13 1D 56 42 2C");  // 300 modulo 256
  c.units.v_motion_unit = 0;
  EXPECT_EQ(hex(print("\x1B|fP", c).text), "13 1D 56 42 00");
  EXPECT_EQ(hex(print("\x1B|3lF", c).text), "1B 4A 00") << "no usable motion unit: a feed of 0";

  // A metre of paper is the longest feed: 266 lines of 30 dots are 997.5 mm.
  const translate_result metre = print("\x1B|266lF");
  EXPECT_EQ(metre.result, kTranslateOk);
  EXPECT_LE(metre.text.size(), 3u * 32);

  translate_context metric = vx40_context();
  metric.map_mode = kMapModeMetric;
  EXPECT_EQ(hex(print("\x1B|4500uF", metric).text), "1B 4A FF 1B 4A 2D");  // 45 mm = 360 dots
  metric.units.dot_size = 0;
  EXPECT_EQ(hex(print("\x1B|4500uF", metric).text), "1B 4A 00");

  translate_context bitmap = vx40_context();
  bitmap.pre_print_bitmap = [](std::int32_t) -> std::optional<std::string> { return std::string("\x1B"); };
  EXPECT_EQ(hex(print("\x1B|2B", bitmap).text), "1B 00 00 1C 70 02 00");
  bitmap.pre_print_bitmap = [](std::int32_t) -> std::optional<std::string> { return std::string("\x1B\x61\x02\x99"); };
  EXPECT_EQ(hex(print("\x1B|1B", bitmap).text), "1B 61 02 1C 70 01 00");
  bitmap.pre_print_bitmap = nullptr;
  EXPECT_EQ(hex(print("\x1B|1B", bitmap).text), "");
}

// Both scale codes travel in one GS ! byte: a horizontal scale keeps the vertical scale the text
// (or the line properties) set before it, and the other way round. ESC|N goes back to the line
// properties' scale, ESC|nC sets both.
TEST(Translate, ScaleSequencesKeepTheOtherScale) {
  struct row {
    const char* name;
    std::int32_t h_scale;  // line properties' scale codes
    std::int32_t v_scale;
    std::string text;
    const char* bytes;
  };
  const row rows[] = {
      {"horizontal then vertical", 0, 0, "\x1B|2hC\x1B|3vCz", "1D 21 10 1D 21 12 7A"},
      {"vertical then horizontal", 0, 0, "\x1B|3vC\x1B|2hCz", "1D 21 02 1D 21 12 7A"},
      {"horizontal after a size", 0, 0, "\x1B|4C\x1B|3hC", "1D 21 11 1D 21 21"},
      {"a size sets both", 0, 0, "\x1B|3vC\x1B|2C\x1B|2vC", "1D 21 02 1D 21 10 1D 21 11"},
      {"the line properties' scale is kept", 2, 2, "\x1B|1hCa", "1D 21 02 61"},
      {"normal goes back to the line properties' scale", 1, 0, "\x1B|3vC\x1B|N\x1B|2vC",
       "1D 21 12 1B 61 30 1B 47 00 1D 42 00 1D 21 10 00 1B 2D 30 1B 4D 30 1D 21 11"},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    translate_context c = vx40_context();
    c.h_scale = r.h_scale;
    c.v_scale = r.v_scale;
    const translate_result t = print(r.text, c);
    EXPECT_EQ(t.result, kTranslateOk);
    EXPECT_EQ(hex(t.text), r.bytes);
  }
}

// ESC|N sends its reset bytes (alignment, bold, reverse, scale, a NUL), then switches off
// underline and returns to the device's font, the other attributes a sequence can switch on.
TEST(Translate, NormalAlsoEndsUnderlineAndTypeface) {
  struct row {
    const char* name;
    std::int32_t font;  // CurrentFont of the device key
    const char* bytes;
  };
  const row rows[] = {
      {"font 1", 1, "1B 61 30 1B 47 00 1D 42 00 1D 21 00 00 1B 2D 30 1B 4D 30"},
      {"font 2", 2, "1B 61 30 1B 47 00 1D 42 00 1D 21 00 00 1B 2D 30 1B 4D 31"},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    translate_context c = vx40_context();
    c.font = r.font;
    EXPECT_EQ(hex(print("\x1B|N", c).text), r.bytes);
  }
}

TEST(Translate, RefusesUnknownSequencesAndBadNumbers) {
  const char* rows[] = {
      "\x1B|xY",          // no template
      "ok \x1B|xY",       // after good text
      "\x1B|bC\x1B|q",    // after a good sequence
      "\x1B|5B",          // bitmap number out of range
      "\x1B|B",           // bitmap 0
      "\x1B|5C",          // size out of range
      "\x1B|3uC",         // underline out of range
      "\x1B|3fT",         // typeface out of range
      "\x1B|4294967297B", // too many digits do not wrap into range
      "\x1B|12",          // digits up to the end
      "\x1B|",            // prefix at the end
      "\x1B|bc",          // suffixes are case-sensitive
  };
  for (const char* text : rows) {
    SCOPED_TRACE(hex(text));
    for (translate_mode mode : {translate_mode::validate, translate_mode::translate}) {
      const translate_result r = CEscParser::for_printer().Translate(text, mode, vx40_context());
      EXPECT_EQ(r.result, kTranslateBadSequence);
      EXPECT_TRUE(r.text.empty());
    }
  }
}

TEST(Translate, RefusesFeedsBeyondAMetreOfPaper) {
  const char* rows[] = {
      "\x1B|267lF",  // 267 lines of 30 dots: past a metre of paper
      "\x1B|2147483647lF",
      "text \x1B|8001uF",  // 8001 dots of 0.125 mm
      "\x1B|2147483647uF",
  };
  for (const char* text : rows) {
    SCOPED_TRACE(hex(text));
    for (translate_mode mode : {translate_mode::validate, translate_mode::translate}) {
      const translate_result r = CEscParser::for_printer().Translate(text, mode, vx40_context());
      EXPECT_EQ(r.result, kTranslateBeyondReach);
      EXPECT_TRUE(r.text.empty());
    }
  }
}

TEST(Translate, UnsupportedSequencesAreNotCheckedForNumbers) {
  EXPECT_EQ(print("\x1B|99sC").result, kTranslateOk);
}

TEST(Translate, ValidateModeStripsEverySequence) {
  const translate_result r = CEscParser::for_printer().Translate("A\x1B|bCB\x1B|iC\x1B|2BC", translate_mode::validate,
                                                                 vx40_context(), 1252);
  EXPECT_EQ(r.result, kTranslateOk);
  EXPECT_EQ(r.text, "ABC");
}

TEST(Translate, ModeAndEmptyText) {
  const CEscParser parser = CEscParser::for_printer();
  EXPECT_EQ(parser.Translate("x", static_cast<translate_mode>(3), vx40_context()).result, kTranslateBadMode);
  EXPECT_EQ(parser.Translate("", translate_mode::translate, vx40_context()).result, kTranslateEmpty);
}

TEST(Translate, ApplicationTextIsEncodedIntoTheCodePage) {
  struct row {
    const char* name;
    std::string text;
    int codepage;
    const char* bytes;
  };
  const row rows[] = {
      {"Cyrillic in 866", "Привет\x1B|bC", 866, "8F E0 A8 A2 A5 E2 1B 47 01"},
      {"euro in 858", "5\xE2\x82\xAC", 858, "35 D5"},
      {"euro in 1252", "5\xE2\x82\xAC", 1252, "35 80"},
      {"German in 850", "Grüße", 850, "47 72 81 E1 65"},
      {"a character the code page lacks", "日", 1252, "3F"},
      {"invalid UTF-8 passes unchanged", "\xFF\xC3", 1252, "FF C3"},
      {"code page 0 copies the text", "é", 0, "C3 A9"},
      {"placeholder in encoded text", "é<NID>", 850, "82 00"},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    const translate_result t = print(r.text, vx40_context(), r.codepage);
    EXPECT_EQ(t.result, kTranslateOk);
    EXPECT_EQ(hex(t.text), r.bytes);
  }
}

TEST(Translate, PrinterBytesAreNotEncoded) {
  translate_context c = vx40_context();
  c.top_logo = "\xC3\xA9\x80";  // raster bytes that happen to look like UTF-8
  c.pre_print_bitmap = [](std::int32_t) -> std::optional<std::string> { return std::string("\xC3\xA9"); };
  EXPECT_EQ(hex(print("\x1B|tL\x1B|1B", c, 850).text), "C3 A9 80 C3 A9 00 1C 70 01 00");
}

// The two cases where the single pass deliberately differs from restarting at the text's start.
TEST(Translate, TranslatedOutputIsNeverReadAgain) {
  // A removed sequence whose neighbours would form ESC|bC stays literal text.
  EXPECT_EQ(hex(print("\x1B" "\x1B|iC" "|bC").text), "1B 7C 62 43");
  // Printer bytes containing ESC| are copied, not translated: logo data...
  translate_context c = vx40_context();
  c.top_logo = "\x1B|bC";
  EXPECT_EQ(hex(print("\x1B|tL", c).text), "1B 7C 62 43");
  // ...and a scale byte 1B followed by "|xY", which the restart would refuse as a bad sequence.
  const translate_result r = print("\x1B|28vC|xY");
  EXPECT_EQ(r.result, kTranslateOk);
  EXPECT_EQ(hex(r.text), "1D 21 1B 7C 78 59");
}

TEST(CEscParser, PrefixAndTemplates) {
  CEscParser parser;
  EXPECT_EQ(parser.prefix(), "\x1B");
  EXPECT_FALSE(parser.set_prefix(""));
  EXPECT_EQ(parser.prefix(), "\x1B");
  EXPECT_EQ(parser.add_template("%d", true), 0);
  EXPECT_EQ(parser.add_template("%dC", true), 1);
  EXPECT_EQ(parser.add_template("N", true), 2);
  EXPECT_EQ(parser.templates()[0].suffix(), "C");
  EXPECT_EQ(parser.templates()[1].suffix(), "N");
  // The prefix is the single byte ESC: "ESC 2C" is double wide.
  EXPECT_EQ(hex(text_to_bytes(parser.Translate("\x1B" "2C", translate_mode::translate, vx40_context()).text)),
            "1D 21 10");

  const CEscParser printer = CEscParser::for_printer();
  EXPECT_EQ(printer.prefix(), "\x1B|");
  ASSERT_EQ(printer.templates().size(), 23u);
  EXPECT_EQ(printer.templates()[4].text, "%dfP");
  EXPECT_EQ(printer.templates()[4].id, 5);
  EXPECT_FALSE(printer.templates()[15].supported);  // iC
}

// The restart method as a reference: find the first prefix from the start, check the sequence,
// replace every occurrence of it by whole-text substitution, start again.
translate_result restart_method(std::string text, translate_mode mode, const translate_context& context) {
  const CEscParser parser = CEscParser::for_printer();
  for (;;) {
    const std::size_t p = text.find("\x1B|");
    if (p == std::string::npos) break;
    std::size_t at = p + 2;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9') ++at;
    const std::string_view rest = std::string_view(text).substr(at);
    const EscTemplate* match = nullptr;
    for (const EscTemplate& t : parser.templates()) {
      if (rest.starts_with(t.suffix())) {
        match = &t;
        break;
      }
    }
    if (match == nullptr) return {kTranslateBadSequence, {}};
    const std::string sequence = text.substr(p, at + match->suffix().size() - p);
    std::string bytes;
    if (match->supported) {
      // The bytes of the one sequence alone (the translator's byte table is tested above).
      translate_result one = parser.Translate(sequence, translate_mode::translate, context);
      if (one.result != kTranslateOk) return {one.result, {}};
      if (mode == translate_mode::translate) bytes = one.text;
    }
    std::string replaced;
    std::size_t from = 0;
    for (std::size_t hit; (hit = text.find(sequence, from)) != std::string::npos; from = hit + sequence.size()) {
      replaced.append(text, from, hit - from);
      replaced += bytes;
    }
    replaced.append(text, from);
    text = std::move(replaced);
  }
  return {kTranslateOk, text};
}

TEST(Translate, SinglePassMatchesTheRestartMethodOnOrdinaryText) {
  // Literal pieces hold neither ESC nor "|", so no prefix can form across a piece boundary.
  const std::vector<std::string> words = {"Total ", "12,50", "\n", "Grüße ", "<NID>", "x", "  ", "ÄÖÜ €"};
  // ESC|nhC and ESC|nvC are left out: each keeps the scale the text set before it, so their bytes
  // depend on their position, which whole-text substitution cannot express
  // (ScaleSequencesKeepTheOtherScale checks them).
  const std::vector<std::string> suffixes = {"B", "C", "P", "N", "fP", "sP", "sL", "tL", "bL", "lF", "uF",
                                             "rF", "fT", "bC", "uC", "iC", "rC", "sC", "cA", "rA",
                                             "rvC", "xY"};
  std::mt19937 random(20240611);
  int failures = 0;
  int translated = 0;  // texts that both methods translate, so the comparison has substance
  for (int round = 0; round < 400; ++round) {
    std::string text;
    const int pieces = 1 + static_cast<int>(random() % 40);
    for (int i = 0; i < pieces; ++i) {
      if (random() % 2 == 0) {
        text += words[random() % words.size()];
        continue;
      }
      text += "\x1B|";
      if (random() % 2 == 0) text += std::to_string(random() % (random() % 3 == 0 ? 300 : 5));
      // Unknown suffixes are rare, so most texts translate.
      std::size_t s = random() % suffixes.size();
      if (suffixes[s] == "xY" && random() % 4 != 0) s = random() % (suffixes.size() - 1);
      text += suffixes[s];
    }
    for (translate_mode mode : {translate_mode::validate, translate_mode::translate}) {
      const translate_result fast = CEscParser::for_printer().Translate(text, mode, vx40_context());
      const translate_result slow = restart_method(text, mode, vx40_context());
      EXPECT_EQ(fast.result, slow.result) << hex(text);
      if (fast.result == kTranslateOk) {
        EXPECT_EQ(hex(fast.text), hex(slow.text)) << hex(text);
      }
      if (fast.result != slow.result || fast.text != slow.text) ++failures;
      if (mode == translate_mode::translate && fast.result == kTranslateOk && slow.result == kTranslateOk) ++translated;
    }
    if (failures > 3) break;
  }
  EXPECT_GT(translated, 100);
}

}  // namespace
}  // namespace devsvc
