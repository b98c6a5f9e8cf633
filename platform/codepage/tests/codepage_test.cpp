// Tests of the UTF-8 <-> code page converters: known characters of each code page, round trips,
// unmappable characters and malformed UTF-8.
#include "platform/codepage.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <string_view>

namespace platform {
namespace {

constexpr int kSupported[] = {437, 850, 852, 858, 860, 863, 865, 866, 1252};

// Byte strings shown in hex, so that a mismatch names the bytes.
std::string hex(std::string_view bytes) {
  std::string out;
  for (const char c : bytes) {
    char buf[4];
    std::snprintf(buf, sizeof buf, "%02X ", static_cast<unsigned char>(c));
    out += buf;
  }
  return out;
}

TEST(CodepageTest, KnowsExactlyThePrinterCodePages) {
  for (const int cp : kSupported) EXPECT_TRUE(is_supported_codepage(cp)) << cp;
  for (const int cp : {0, -1, 1, 20, 437437, 855, 1250, 1251, 932, 65001}) {
    EXPECT_FALSE(is_supported_codepage(cp)) << cp;
  }
}

TEST(CodepageTest, UnsupportedCodePagePassesTextThrough) {
  const std::string text = "caf\xC3\xA9 \x80\xFF";
  EXPECT_EQ(utf8_to_codepage(text, 1250), text);
  EXPECT_EQ(codepage_to_utf8(text, 65001), text);
}

// Characters whose bytes the published code page charts give; each row is checked both ways.
struct known_char {
  int codepage;
  unsigned char byte;
  const char* utf8;
  const char* what;
};

constexpr known_char kKnownChars[] = {
    {437, 0x81, "ü", "437 u umlaut"},
    {437, 0xE1, "ß", "437 sharp s shares the byte with beta"},
    {437, 0xC4, "\u2500", "437 box drawing horizontal"},
    {437, 0xFF, "\u00A0", "437 no-break space"},
    {850, 0xD5, "\u0131", "850 dotless i"},
    {858, 0xD5, "€", "858 euro sign replaces the dotless i"},
    {852, 0xA5, "ą", "852 a ogonek"},
    {852, 0xFD, "ř", "852 r caron"},
    {860, 0x84, "ã", "860 a tilde"},
    {863, 0x84, "Â", "863 A circumflex"},
    {863, 0x8D, "\u2017", "863 double low line"},
    {865, 0x9B, "ø", "865 o stroke"},
    {866, 0x80, "А", "866 Cyrillic capital A"},
    {866, 0xFF, "\u00A0", "866 no-break space"},
    {1252, 0x80, "€", "1252 euro sign"},
    {1252, 0x9F, "Ÿ", "1252 Y diaeresis"},
    {1252, 0xE9, "é", "1252 e acute"},
    {1252, 0x81, "\u0081", "1252 undefined byte keeps its value as a C1 control"},
    {1252, 0x9D, "\u009D", "1252 undefined byte keeps its value as a C1 control"},
};

TEST(CodepageTest, KnownCharactersMapBothWays) {
  for (const known_char& row : kKnownChars) {
    SCOPED_TRACE(row.what);
    const std::string byte(1, static_cast<char>(row.byte));
    EXPECT_EQ(hex(codepage_to_utf8(byte, row.codepage)), hex(row.utf8));
    EXPECT_EQ(hex(utf8_to_codepage(row.utf8, row.codepage)), hex(byte));
  }
}

TEST(CodepageTest, EveryHighByteSurvivesARoundTrip) {
  for (const int cp : kSupported) {
    for (int b = 0x80; b <= 0xFF; ++b) {
      const std::string byte(1, static_cast<char>(b));
      const std::string utf8 = codepage_to_utf8(byte, cp);

      // One well-formed character per byte, and never the replacement for "no mapping".
      std::size_t pos = 0;
      char32_t ch = 0;
      ASSERT_TRUE(decode_utf8_char(utf8, pos, ch)) << cp << " byte " << hex(byte);
      EXPECT_EQ(pos, utf8.size()) << cp << " byte " << hex(byte);
      EXPECT_GE(ch, U'\x80') << cp << " byte " << hex(byte);

      EXPECT_EQ(hex(utf8_to_codepage(utf8, cp)), hex(byte)) << cp << " via " << hex(utf8);
    }
  }
}

TEST(CodepageTest, AsciiIncludingNulIsIdentity) {
  std::string ascii;
  for (int b = 0; b < 0x80; ++b) ascii.push_back(static_cast<char>(b));
  ascii += ascii;  // long enough to cross several eight-byte words
  for (const int cp : kSupported) {
    EXPECT_EQ(utf8_to_codepage(ascii, cp), ascii) << cp;
    EXPECT_EQ(codepage_to_utf8(ascii, cp), ascii) << cp;
  }
  EXPECT_EQ(utf8_to_codepage(std::string_view("A\0B", 3), 1252), std::string("A\0B", 3));
  EXPECT_EQ(utf8_to_codepage("", 437), "");
  EXPECT_EQ(codepage_to_utf8("", 437), "");
}

TEST(CodepageTest, WholeTextsConvert) {
  EXPECT_EQ(hex(utf8_to_codepage("Привет", 866)), hex("\x8F\xE0\xA8\xA2\xA5\xE2"));
  EXPECT_EQ(codepage_to_utf8("\x8F\xE0\xA8\xA2\xA5\xE2", 866), "Привет");
  EXPECT_EQ(hex(utf8_to_codepage("Grüß Gott 12,50 €", 858)), hex("Gr\x81\xE1 Gott 12,50 \xD5"));
  EXPECT_EQ(codepage_to_utf8("Gr\x81\xE1 Gott 12,50 \xD5", 858), "Grüß Gott 12,50 €");
  EXPECT_EQ(hex(utf8_to_codepage("┌─┐ 100 €", 1252)), hex("??? 100 \x80"));
}

TEST(CodepageTest, CharacterWithoutMappingBecomesQuestionMark) {
  struct row {
    int codepage;
    const char* utf8;
    const char* expected;
    const char* what;
  };
  const row rows[] = {
      {437, "12 €", "12 ?", "euro sign has no byte in 437"},
      {850, "€", "?", "euro sign has no byte in 850"},
      {858, "\u0131", "?", "858 gave up the dotless i for the euro sign"},
      {1252, "Ж", "?", "Cyrillic in a Latin code page"},
      {866, "é", "?", "Latin accent in the Cyrillic code page"},
      {1252, "日本", "??", "one mark per character, not per byte"},
      {1252, "a\U0001F600b", "a?b", "four-byte character"},
      {437, "\u0080", "?", "C1 control outside 1252"},
      {1252, "\uFFFF", "?", "last BMP code point"},
      {1252, "\U0010FFFF", "?", "last code point"},
  };
  for (const row& r : rows) {
    EXPECT_EQ(hex(utf8_to_codepage(r.utf8, r.codepage)), hex(r.expected)) << r.what;
  }
}

TEST(CodepageTest, MalformedUtf8BytesPassThroughUnchanged) {
  struct row {
    std::string_view input;
    std::string_view expected;  // in code page 1252
    const char* what;
  };
  const row rows[] = {
      {"a\x80z", "a\x80z", "lone continuation byte"},
      {"a\xBF\xBFz", "a\xBF\xBFz", "run of continuation bytes"},
      {"ab\xC3", "ab\xC3", "two-byte lead at the end"},
      {"a\xC3z", "a\xC3z", "two-byte lead before ASCII"},
      {"a\xE2\x82z", "a\xE2\x82z", "three-byte sequence cut short"},
      {"a\xF0\x9F\x98", "a\xF0\x9F\x98", "four-byte sequence cut off at the end"},
      {"a\xC0\xAFz", "a\xC0\xAFz", "overlong two-byte slash"},
      {"a\xC1\xBFz", "a\xC1\xBFz", "overlong two-byte DEL"},
      {"a\xE0\x80\xAFz", "a\xE0\x80\xAFz", "overlong three-byte form"},
      {"a\xF0\x80\x80\xAFz", "a\xF0\x80\x80\xAFz", "overlong four-byte form"},
      {"a\xED\xA0\x80z", "a\xED\xA0\x80z", "high surrogate"},
      {"a\xED\xBF\xBFz", "a\xED\xBF\xBFz", "low surrogate"},
      {"a\xF4\x90\x80\x80z", "a\xF4\x90\x80\x80z", "beyond U+10FFFF"},
      {"a\xF5\x80\x80\x80z", "a\xF5\x80\x80\x80z", "F5 lead"},
      {"a\xFE\xFFz", "a\xFE\xFFz", "FE and FF"},
      {"\xE2\xE2\x82\xAC", "\xE2\x80", "valid character right after a bad lead byte"},
      {"\xC3\xE2\x82\xAC\xC3\xA9", "\xC3\x80\xE9", "bad lead between valid characters"},
      {"\xE9t\xE9", "\xE9t\xE9", "Latin-1 text that is not UTF-8 stays as it is"},
  };
  for (const row& r : rows) {
    EXPECT_EQ(hex(utf8_to_codepage(r.input, 1252)), hex(r.expected)) << r.what;
  }
}

// The ASCII fast path works on eight-byte words: a non-ASCII character or a stray byte at any
// offset of a word must still be seen.
TEST(CodepageTest, NonAsciiIsFoundAtEveryOffset) {
  for (std::size_t k = 0; k <= 20; ++k) {
    const std::string head(k, 'x');
    const std::string tail(20 - k, 'y');
    EXPECT_EQ(hex(utf8_to_codepage(head + "é" + tail, 1252)), hex(head + "\xE9" + tail)) << k;
    EXPECT_EQ(hex(utf8_to_codepage(head + "\x80" + tail, 1252)), hex(head + "\x80" + tail)) << k;
    EXPECT_EQ(hex(utf8_to_codepage(head + "\xE2\x82", 1252)), hex(head + "\xE2\x82")) << k;
  }
}

TEST(CodepageTest, DecodeUtf8CharStepsThroughText) {
  const std::string_view text = "A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\x80\xF4\x8F\xBF\xBF";
  struct step {
    bool ok;
    char32_t cp;
    std::size_t pos_after;
  };
  const step steps[] = {
      {true, U'A', 1},
      {true, U'\u00E9', 3},
      {true, U'\u20AC', 6},
      {true, U'\U0001F600', 10},
      {false, 0, 11},  // stray continuation byte
      {true, U'\U0010FFFF', 15},
  };
  std::size_t pos = 0;
  for (const step& s : steps) {
    char32_t cp = 0;
    EXPECT_EQ(decode_utf8_char(text, pos, cp), s.ok) << "at " << pos;
    if (s.ok) {
      EXPECT_EQ(cp, s.cp) << "at " << pos;
    }
    EXPECT_EQ(pos, s.pos_after);
  }

  // At the end there is nothing to decode and the position stays.
  char32_t cp = U'z';
  EXPECT_FALSE(decode_utf8_char(text, pos, cp));
  EXPECT_EQ(pos, text.size());
  EXPECT_EQ(cp, U'z');
}

}  // namespace
}  // namespace platform
