// Tests of identifier parsing and formatting.
#include "platform/guid.h"

#include <gtest/gtest.h>

namespace {

using platform::guid;

static_assert(guid::literal("{EA5F1872-773C-4B23-A3A6-3485E22CEADC}").data1 == 0xEA5F1872u);
static_assert(guid::literal("{EA5F1872-773C-4B23-A3A6-3485E22CEADC}").data4[7] == 0xDC);

TEST(GuidTest, ParsesAndFormatsInBracedUpperCaseForm) {
  struct row {
    const char* input;
    const char* formatted;
  };
  const row rows[] = {
      {"{EA5F1872-773C-4B23-A3A6-3485E22CEADC}", "{EA5F1872-773C-4B23-A3A6-3485E22CEADC}"},
      {"{ea5f1872-773c-4b23-a3a6-3485e22ceadc}", "{EA5F1872-773C-4B23-A3A6-3485E22CEADC}"},
      {"{00000000-0000-0000-C000-000000000046}", "{00000000-0000-0000-C000-000000000046}"},
      {"{FFFFFFFF-FFFF-FFFF-FFFF-FFFFFFFFFFFF}", "{FFFFFFFF-FFFF-FFFF-FFFF-FFFFFFFFFFFF}"},
  };
  for (const row& r : rows) {
    guid g;
    ASSERT_TRUE(guid::parse(r.input, g)) << r.input;
    EXPECT_EQ(g.to_string(), r.formatted);
    guid again;
    ASSERT_TRUE(guid::parse(g.to_string(), again));
    EXPECT_EQ(again, g) << r.input;
  }
}

TEST(GuidTest, FieldsTakeTheirBytesInTextOrder) {
  const guid g = guid::literal("{01234567-89AB-CDEF-0011-223344556677}");
  EXPECT_EQ(g.data1, 0x01234567u);
  EXPECT_EQ(g.data2, 0x89ABu);
  EXPECT_EQ(g.data3, 0xCDEFu);
  const std::array<std::uint8_t, 8> tail = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77};
  EXPECT_EQ(g.data4, tail);
}

TEST(GuidTest, RejectsMalformedTextAndLeavesTheOutputAlone) {
  const char* const bad[] = {
      "",
      "EA5F1872-773C-4B23-A3A6-3485E22CEADC",      // no braces
      "{EA5F1872-773C-4B23-A3A6-3485E22CEADC",     // no closing brace
      "{EA5F1872-773C-4B23-A3A6-3485E22CEAD}",     // one digit short
      "{EA5F1872-773C-4B23-A3A6-3485E22CEADC0}",   // one digit too many
      "{EA5F1872-773C-4B23-A3A6_3485E22CEADC}",    // wrong separator
      "{EA5F1872773C-4B23-A3A6-3485E22CEADC-}",    // dash misplaced
      "{EA5F1872-773C-4B23-A3A6-3485E22CEADG}",    // not a hex digit
      "{ EA5F1872-773C-4B23-A3A6-3485E22CEAD}",    // blank inside
      "(EA5F1872-773C-4B23-A3A6-3485E22CEADC)",
  };
  const guid original = guid::literal("{11111111-2222-3333-4444-555555555555}");
  for (const char* text : bad) {
    guid g = original;
    EXPECT_FALSE(guid::parse(text, g)) << text;
    EXPECT_EQ(g, original) << text;
  }
}

TEST(GuidTest, NullAndOrdering) {
  EXPECT_TRUE(guid{}.is_null());
  EXPECT_FALSE(guid::literal("{00000000-0000-0000-0000-000000000001}").is_null());
  EXPECT_LT(guid::literal("{00000000-0000-0000-0000-000000000001}"),
            guid::literal("{00000001-0000-0000-0000-000000000000}"));
}

}  // namespace
