// Tests of the NUL placeholder and of the text handed back to applications for printer bytes.
#include "core/printer_text.h"

#include <gtest/gtest.h>

#include <string>

#include "core/binary_conversion.h"
#include "core/tests/hex.h"

namespace devsvc {
namespace {

using testing::hex;

TEST(TextToBytes, PlaceholderBecomesNul) {
  struct row {
    const char* name;
    std::string text;
    std::string bytes;
  };
  const row rows[] = {
      {"between letters", "A<NID>B", std::string("A\0B", 3)},
      {"twice in a row", "<NID><NID>", std::string(2, '\0')},
      {"nested in angle brackets", "<<NID>>", std::string("<\0>", 3)},
      {"cut-off placeholder stays", "<NID", "<NID"},
      {"case matters", "<nid>", "<nid>"},
      {"empty", "", ""},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    EXPECT_EQ(hex(text_to_bytes(r.text)), hex(r.bytes));
  }
}

TEST(AppendBytesAsText, NulBecomesPlaceholderAndRoundTrips) {
  std::string out = "x";
  append_bytes_as_text(out, std::string("\0A\0", 3));
  EXPECT_EQ(out, "x<NID>A<NID>");
  EXPECT_EQ(hex(text_to_bytes(out)), hex(std::string("x\0A\0", 4)));
}

TEST(TextForApplication, PlaceholderThenEncodingThenCodePage) {
  const std::string read("\x41\x00\x82", 3);  // "A", NUL, e-acute in code page 850
  EXPECT_EQ(text_for_application(read, kBinaryConversionNone, 850), "A<NID>\xC3\xA9");
  // Nibble and decimal forms encode the raw printer byte 0x82, not its UTF-8 form.
  EXPECT_EQ(text_for_application(read, kBinaryConversionNibble, 850), "413<4>49443>82");
  EXPECT_EQ(text_for_application(read, kBinaryConversionDecimal, 850), "065060078073068062130");
  EXPECT_EQ(text_for_application(std::string("\x80", 1), kBinaryConversionNone, 1252), "\xE2\x82\xAC");
}

}  // namespace
}  // namespace devsvc
