// Tests of the binary conversion of application text: decoding, encoding and their lengths.
#include "core/binary_conversion.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "core/tests/hex.h"

namespace devsvc {
namespace {

using testing::hex;

struct decode_case {
  const char* name;
  std::int32_t mode;
  std::string text;
  std::optional<std::string> bytes;
};

TEST(BinaryDecode, TableOfCases) {
  const decode_case cases[] = {
      {"none keeps the text", kBinaryConversionNone, "4142", std::string("4142")},
      {"nibble pairs", kBinaryConversionNibble, "4142", std::string("AB")},
      {"nibble odd length fails", kBinaryConversionNibble, "414", std::nullopt},
      {"nibble empty", kBinaryConversionNibble, "", std::string()},
      {"nibble digits above 9 are ':' to '?'", kBinaryConversionNibble, "1;7<??", std::string("\x1B\x7C\xFF")},
      {"nibble takes letters arithmetically, not as hex", kBinaryConversionNibble, "3A", std::string("\x41")},
      {"nibble zero byte", kBinaryConversionNibble, "00", std::string(1, '\0')},
      {"decimal triples", kBinaryConversionDecimal, "065066", std::string("AB")},
      {"decimal modulo 256", kBinaryConversionDecimal, "255256300", std::string("\xFF\x00\x2C", 3)},
      {"decimal length not a multiple of 3 fails", kBinaryConversionDecimal, "06506", std::nullopt},
      {"unknown mode keeps the text", 7, "414", std::string("414")},
  };
  for (const decode_case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::optional<std::string> got = binary_decode(c.text, c.mode);
    ASSERT_EQ(got.has_value(), c.bytes.has_value());
    if (got) {
      EXPECT_EQ(hex(*got), hex(*c.bytes));
    }
  }
}

TEST(BinaryEncode, NibbleAndDecimalForms) {
  const std::string bytes("\x41\xFF\x00\x0A", 4);
  EXPECT_EQ(binary_encode(bytes, kBinaryConversionNone), bytes);
  EXPECT_EQ(binary_encode(bytes, kBinaryConversionNibble), "41??000:");
  EXPECT_EQ(binary_encode(bytes, kBinaryConversionDecimal), "065255000010");
}

TEST(BinaryConversion, EveryByteSurvivesARoundTrip) {
  std::string all;
  for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
  for (std::int32_t mode : {kBinaryConversionNibble, kBinaryConversionDecimal}) {
    SCOPED_TRACE(mode);
    const std::optional<std::string> back = binary_decode(binary_encode(all, mode), mode);
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(hex(*back), hex(all));
  }
}

TEST(BinaryConversion, AcceptsOnlyThePropertyValues) {
  EXPECT_TRUE(is_binary_conversion(0));
  EXPECT_TRUE(is_binary_conversion(2));
  EXPECT_FALSE(is_binary_conversion(3));
  EXPECT_FALSE(is_binary_conversion(-1));
}

}  // namespace
}  // namespace devsvc
