// Tests of Prepare and of ValidateData's checks: binary conversion, translation, code pages and
// the mapping of translator results to OPOS codes.
#include "printer/print_data.h"

#include <gtest/gtest.h>

#include "core/binary_conversion.h"
#include "core/printer_text.h"
#include "core/tests/hex.h"

namespace devsvc {
namespace {

using testing::hex;

translate_context context() {
  translate_context c;
  c.rec_line_spacing = 30;
  c.units = {0.125, 0.004926, 7, 0.125};
  return c;
}

TEST(PrepareResultCode, MapsTranslatorResults) {
  EXPECT_EQ(prepare_result_code(kTranslateOk), 0);
  EXPECT_EQ(prepare_result_code(kTranslateBadSequence), 111);
  EXPECT_EQ(prepare_result_code(kTranslateBadMode), 106);
  EXPECT_EQ(prepare_result_code(kTranslateBeyondReach), 106);
  EXPECT_EQ(prepare_result_code(kTranslateEmpty), 0);
  EXPECT_EQ(prepare_result_code(-4), 111);
}

TEST(Prepare, TableOfCases) {
  struct row {
    const char* name;
    std::string data;
    std::int32_t binary_conversion;
    std::int32_t character_set;
    std::int32_t result;
    const char* bytes;
  };
  const row rows[] = {
      {"bold text normal", "\x1B|bCHello \x1B|N", kBinaryConversionNone, 1252, 0,
       "1B 47 01 48 65 6C 6C 6F 20 1B 61 30 1B 47 00 1D 42 00 1D 21 00 00 1B 2D 30 1B 4D 30"},
      {"placeholder", "A<NID>B", kBinaryConversionNone, 1252, 0, "41 00 42"},
      {"unknown sequence", "\x1B|xY", kBinaryConversionNone, 1252, 111, ""},
      {"bitmap number out of range", "\x1B|5B", kBinaryConversionNone, 1252, 111, ""},
      {"unsupported sequence only", "\x1B|iC", kBinaryConversionNone, 1252, 0, ""},
      {"empty", "", kBinaryConversionNone, 1252, 0, ""},
      {"text into 1252", "Grüße €", kBinaryConversionNone, 1252, 0, "47 72 FC DF 65 20 80"},
      {"text into 866", "Да", kBinaryConversionNone, 866, 0, "84 A0"},
      {"nibble", "4142", kBinaryConversionNibble, 1252, 0, "41 42"},
      {"nibble odd length", "414", kBinaryConversionNibble, 1252, 111, ""},
      {"nibble sequence is translated", "1;7<6243", kBinaryConversionNibble, 1252, 0, "1B 47 01"},
      // C3 A9 would be an e-acute in UTF-8; decoded bytes are printer bytes and stay as they are.
      {"nibble bytes are not re-encoded", "<3:9", kBinaryConversionNibble, 850, 0, "C3 A9"},
      {"decimal", "065066", kBinaryConversionDecimal, 1252, 0, "41 42"},
      {"decimal bytes are not re-encoded", "195169", kBinaryConversionDecimal, 850, 0, "C3 A9"},
      {"decimal bad length", "0650", kBinaryConversionDecimal, 1252, 111, ""},
      {"decimal decodes to nothing", "", kBinaryConversionDecimal, 1252, 0, ""},
  };
  const CEscParser parser = CEscParser::for_printer();
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    const prepared_text p = Prepare(r.data, r.binary_conversion, r.character_set, parser, context());
    EXPECT_EQ(p.result, r.result);
    EXPECT_EQ(hex(text_to_bytes(p.text)), r.bytes);
  }
}

TEST(Prepare, KeepsTheNulPlaceholderInItsText) {
  // Logos are stored as prepared text, so a NUL from a command stays "<NID>" until sending.
  const prepared_text p = Prepare("\x1B|N", kBinaryConversionNone, 1252, CEscParser::for_printer(), context());
  EXPECT_EQ(p.text, std::string("\x1B\x61\x30\x1B\x47<NID>\x1D\x42<NID>\x1D\x21<NID><NID>\x1B\x2D\x30\x1B\x4D\x30"));
}

TEST(ValidateData, ChecksWithoutTranslating) {
  struct row {
    const char* name;
    std::string data;
    std::int32_t binary_conversion;
    std::int32_t result;
    bool store;
  };
  const row rows[] = {
      {"good", "x\x1B|bC\x1B|iC", kBinaryConversionNone, 0, true},
      {"unknown sequence", "\x1B|xY", kBinaryConversionNone, 111, true},
      {"bitmap number out of range", "\x1B|3B", kBinaryConversionNone, 111, true},
      {"empty", "", kBinaryConversionNone, 0, true},
      {"binary conversion fails, not stored", "414", kBinaryConversionNibble, 111, false},
  };
  const CEscParser parser = CEscParser::for_printer();
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    const validation v = validate_data(r.data, r.binary_conversion, parser, context());
    EXPECT_EQ(v.result, r.result);
    EXPECT_EQ(v.store, r.store);
  }
}

}  // namespace
}  // namespace devsvc
