// Display bytes from application text and direct-I/O strings.
#include "display/display_text.h"

#include <gtest/gtest.h>

#include "core/binary_conversion.h"

namespace devsvc {
namespace {

TEST(DisplayBytes, EncodesTextInTheCharacterSet) {
  struct Case {
    const char* name;
    std::string text;
    std::int32_t conversion;
    std::int32_t character_set;
    std::optional<std::string> bytes;
  };
  const Case cases[] = {
      {"ANSI is code page 1252", "Caf\xC3\xA9 \xE2\x82\xAC" "5", kBinaryConversionNone, DISP_CS_ANSI,
       std::string("Caf\xE9 \x80" "5")},
      {"ANSI marks what 1252 lacks", "\xE2\x98\x83", kBinaryConversionNone, DISP_CS_ANSI, std::string("?")},
      {"ASCII marks every character beyond 0x7F", "Caf\xC3\xA9 \xE2\x82\xAC", kBinaryConversionNone,
       DISP_CS_ASCII, std::string("Caf? ?")},
      {"ASCII marks stray bytes", std::string("a\xFF" "b"), kBinaryConversionNone, DISP_CS_ASCII,
       std::string("a?b")},
      {"nibble bytes are taken as they are", "3?>9", kBinaryConversionNibble, DISP_CS_ASCII,
       std::string("\x3F\xE9")},
      {"decimal bytes are taken as they are", "233065", kBinaryConversionDecimal, DISP_CS_ANSI,
       std::string("\xE9" "A")},
      {"nibble needs an even length", "3", kBinaryConversionNibble, DISP_CS_ANSI, std::nullopt},
      {"decimal needs groups of three", "2330", kBinaryConversionDecimal, DISP_CS_ANSI, std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DisplayBytes(c.text, c.conversion, c.character_set), c.bytes) << c.name;
  }
}

TEST(DirectIOBytes, TurnsThePlaceholderIntoNul) {
  EXPECT_EQ(DirectIOBytes("1B<NID>", kBinaryConversionNone), std::string("1B\0", 3));
  EXPECT_EQ(DirectIOBytes("<NID><NID>x", kBinaryConversionNone), std::string("\0\0x", 3));
  // Nibble text decodes first; the placeholder may come out of it too.
  EXPECT_EQ(DirectIOBytes("1;3=", kBinaryConversionNibble), std::string("\x1B\x3D"));
  EXPECT_EQ(DirectIOBytes("\xC3\xA9", kBinaryConversionNone), std::string("\xE9"));
  EXPECT_EQ(DirectIOBytes("12", kBinaryConversionDecimal), std::nullopt);
}

}  // namespace
}  // namespace devsvc
