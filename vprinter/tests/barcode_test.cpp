// Bar code encoders: the pattern tables' own rules, data rules, and symbols decoded back by small
// decoders written from the symbologies' published structure.
#include "barcode.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <set>

#include "decoders.h"

namespace vprinter::detail {
namespace {

std::vector<int> as_ints(const barcode_symbol& s) { return std::vector<int>(s.widths.begin(), s.widths.end()); }

TEST(VprinterBarcodeTables, Code128PatternsFollowTheSymbologyRules) {
  std::set<std::string_view> seen;
  for (int v = 0; v < 106; ++v) {
    auto p = code128_pattern(v);
    ASSERT_EQ(p.size(), 6u) << "value " << v;
    int sum = 0, bars = 0;
    for (std::size_t k = 0; k < 6; ++k) {
      sum += p[k] - '0';
      if (k % 2 == 0) bars += p[k] - '0';
    }
    EXPECT_EQ(sum, 11) << "value " << v;
    EXPECT_EQ(bars % 2, 0) << "value " << v << ": bar modules must be even";
    EXPECT_TRUE(seen.insert(p).second) << "value " << v << " repeats a pattern";
  }
  EXPECT_EQ(code128_pattern(106), "2331112");
}

TEST(VprinterBarcodeTables, Code39PatternsHaveThreeWideElements) {
  std::set<std::string_view> seen;
  for (char c : std::string("0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ-. *$/+%")) {
    auto p = code39_pattern(c);
    ASSERT_EQ(p.size(), 9u) << c;
    EXPECT_EQ(std::count(p.begin(), p.end(), '1'), 3) << c;
    EXPECT_TRUE(seen.insert(p).second) << c;
  }
  EXPECT_TRUE(code39_pattern('a').empty());
}

TEST(VprinterBarcodeTables, EanLeftPatternsHaveOddParityAndMatchPublishedWidths) {
  for (int d = 0; d < 10; ++d) {
    auto p = ean_l_pattern(d);
    EXPECT_EQ(std::count(p.begin(), p.end(), '1') % 2, 1) << d;
    std::string widths;
    char cur = p[0];
    int n = 0;
    for (char c : p) {
      if (c == cur) {
        ++n;
      } else {
        widths += static_cast<char>('0' + n);
        cur = c;
        n = 1;
      }
    }
    widths += static_cast<char>('0' + n);
    EXPECT_EQ(widths, kEanWidths[static_cast<std::size_t>(d)]) << d;
  }
}

struct ean_case {
  const char* name;
  symbology sym;
  const char* data;
  const char* decoded;  // EAN-13 digits read back
};

TEST(VprinterBarcodeEncode, EanFamilyDecodesBack) {
  const ean_case cases[] = {
      {"EAN-13 with check digit computed", symbology::ean13, "400638133393", "4006381333931"},
      {"EAN-13 with its check digit given", symbology::ean13, "4006381333931", "4006381333931"},
      {"UPC-A is EAN-13 with a leading zero", symbology::upc_a, "03600029145", "0036000291452"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto s = encode_barcode(c.sym, c.data);
    ASSERT_TRUE(s.ok) << s.error;
    EXPECT_EQ(std::accumulate(s.widths.begin(), s.widths.end(), 0), 95);
    EXPECT_EQ(decode_ean13(as_ints(s)), c.decoded);
  }
}

TEST(VprinterBarcodeEncode, WrongGivenCheckDigitIsPrintedAndNoted) {
  auto s = encode_barcode(symbology::ean13, "4006381333932");
  ASSERT_TRUE(s.ok);
  EXPECT_NE(s.note.find("check digit"), std::string::npos);
  EXPECT_EQ(s.text, "4006381333932");
}

TEST(VprinterBarcodeEncode, Ean8AndUpcEHaveTheirModuleCounts) {
  auto e8 = encode_barcode(symbology::ean8, "9638507");
  ASSERT_TRUE(e8.ok);
  EXPECT_EQ(e8.text, "96385074");
  EXPECT_EQ(std::accumulate(e8.widths.begin(), e8.widths.end(), 0), 67);
  // Manufacturer 12000, product 00345: the product's last three digits and the manufacturer's
  // third digit remain.
  auto e = encode_barcode(symbology::upc_e, "01200000345");
  ASSERT_TRUE(e.ok) << e.error;
  EXPECT_EQ(e.text.substr(1, 6), "123450");
  EXPECT_EQ(std::accumulate(e.widths.begin(), e.widths.end(), 0), 51);
  auto six = encode_barcode(symbology::upc_e, "123450");
  ASSERT_TRUE(six.ok);
  EXPECT_EQ(six.text, e.text);  // the same number given both ways
}

TEST(VprinterBarcodeTables, CodabarAndCode93PatternsAreDistinct) {
  std::set<std::string_view> seen;
  for (char c : std::string("0123456789-$:/.+ABCD")) {
    auto p = codabar_pattern(c);
    ASSERT_EQ(p.size(), 7u) << c;
    EXPECT_TRUE(seen.insert(p).second) << c;
  }
  EXPECT_TRUE(codabar_pattern('E').empty());
  seen.clear();
  for (int v = -1; v <= 46; ++v) {
    auto p = code93_pattern(v);
    ASSERT_EQ(p.size(), 6u) << v;
    int modules = 0;
    for (char w : p) modules += w - '0';
    EXPECT_EQ(modules, 9) << v;
    EXPECT_TRUE(seen.insert(p).second) << v;
  }
  EXPECT_TRUE(code93_pattern(47).empty());
}

TEST(VprinterBarcodeEncode, OtherSymbologiesDecodeBack) {
  struct other_case {
    const char* name;
    symbology sym;
    std::string data;
    std::string decoded;  // as the symbology's decoder reads it
  };
  const other_case cases[] = {
      {"EAN-8 with check digit computed", symbology::ean8, "9638507", "96385074"},
      {"UPC-E from eleven UPC-A digits", symbology::upc_e, "01200000345", "01234505"},
      {"UPC-E in number system 1", symbology::upc_e, "1123456", "11234562"},
      {"ITF pairs of digits", symbology::itf, "1234567890", "1234567890"},
      {"CODABAR with its start and stop", symbology::codabar, "A40156B", "A40156B"},
      {"CODABAR with lower-case start and stop", symbology::codabar, "c12-3/4d", "C12-3/4D"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto s = encode_barcode(c.sym, c.data);
    ASSERT_TRUE(s.ok) << s.error;
    const auto w = as_ints(s);
    std::string got;
    switch (c.sym) {
      case symbology::ean8: got = decode_ean8(w); break;
      case symbology::upc_e: got = decode_upce(w); break;
      case symbology::itf: got = decode_itf(w); break;
      default: got = decode_codabar(w); break;
    }
    EXPECT_EQ(got, c.decoded);
  }
}

TEST(VprinterBarcodeEncode, Code93TakesFullAsciiWithTwoCheckCharacters) {
  struct c93_case {
    const char* name;
    std::string data;
    std::vector<int> values;  // data values as the decoder reads them, shifts included
  };
  const c93_case cases[] = {
      {"upper case, digits and symbols", "CODE 93-$", {12, 24, 13, 14, 38, 9, 3, 36, 39}},
      {"lower case through the (+) shift", "Ab", {10, 46, 11}},
      {"control and punctuation through shifts", std::string("\x01!\x00", 3), {43, 10, 45, 10, 44, 30}},
      {"twenty-one values: the C weights start again", std::string(21, '1'), std::vector<int>(21, 1)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto s = encode_barcode(symbology::code93, c.data);
    ASSERT_TRUE(s.ok) << s.error;
    EXPECT_EQ(decode_code93(as_ints(s)), c.values);
  }
  EXPECT_FALSE(encode_barcode(symbology::code93, "\x80").ok);
}

TEST(VprinterBarcodeEncode, Code39DecodesBackWithStartAndStop) {
  auto s = encode_barcode(symbology::code39, "HELLO-39");
  ASSERT_TRUE(s.ok);
  EXPECT_TRUE(s.two_width);
  EXPECT_EQ(decode_code39(as_ints(s)), "*HELLO-39*");
  auto given = encode_barcode(symbology::code39, "*AB*");
  ASSERT_TRUE(given.ok);
  EXPECT_EQ(decode_code39(as_ints(given)), "*AB*");
}

TEST(VprinterBarcodeEncode, Code128ValuesAndCheckCharacter) {
  struct c128_case {
    const char* name;
    std::string data;
    std::vector<int> values;  // start, data values, without check and stop
    const char* text;
  };
  const c128_case cases[] = {
      {"code set B letters and digits", "{BAB12", {104, 33, 34, 17, 18}, "AB12"},
      {"code set C takes one byte per value", std::string("{C\x0c\x22", 4), {105, 12, 34}, "1234"},
      {"change from B to C", std::string("{Bx{C\x05", 6), {104, 88, 99, 5}, "x05"},
      {"FNC1 and a literal brace", "{B{1a{{", {104, 102, 65, 91}, "a{"},
      {"code set A control character", std::string("{A\x01" "A", 4), {103, 65, 33}, " A"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto s = encode_barcode(symbology::code128, c.data);
    ASSERT_TRUE(s.ok) << s.error;
    EXPECT_EQ(decode_code128(as_ints(s)), c.values);
    EXPECT_EQ(s.text, c.text);
  }
}

TEST(VprinterBarcodeEncode, DataRulesRefuseBadData) {
  struct bad_case {
    const char* name;
    symbology sym;
    std::string data;
  };
  const bad_case cases[] = {
      {"UPC-A with ten digits", symbology::upc_a, "0123456789"},
      {"UPC-A with a letter", symbology::upc_a, "01234567890A"},
      {"EAN-13 with fourteen digits", symbology::ean13, "12345678901234"},
      {"UPC-E that cannot be zero-suppressed", symbology::upc_e, "01234567890"},
      {"UPC-E with number system 2", symbology::upc_e, "21200000345"},
      {"Code 39 lower case", symbology::code39, "abc"},
      {"Code 39 star inside", symbology::code39, "A*B"},
      {"Code 128 without code set", symbology::code128, "AB12"},
      {"Code 128 byte beyond 127", symbology::code128, "{B\xC9"},
      {"Code 128 set C value above 99", symbology::code128, std::string("{C\x64", 3)},
      {"ITF with a letter", symbology::itf, "12A4"},
      {"CODABAR without start character", symbology::codabar, "1234A"},
      {"CODABAR with a start character inside", symbology::codabar, "A12B34A"},
      {"CODABAR with a letter", symbology::codabar, "A12E4A"},
      {"Code 93 without data", symbology::code93, ""},
  };
  for (const auto& c : cases) {
    auto s = encode_barcode(c.sym, c.data);
    EXPECT_FALSE(s.ok) << c.name;
    EXPECT_FALSE(s.error.empty()) << c.name;
  }
}

TEST(VprinterBarcodeEncode, ItfDropsAnOddLastDigitAndWidensBars) {
  auto s = encode_barcode(symbology::itf, "12345");
  ASSERT_TRUE(s.ok);
  EXPECT_EQ(s.text, "1234");
  EXPECT_FALSE(s.note.empty());
  // Start (4 narrow), two pairs of ten elements, stop (wide, narrow, narrow).
  EXPECT_EQ(s.widths.size(), 4u + 20u + 3u);
  auto dots = barcode_widths_in_dots(s, 2);
  EXPECT_EQ(*std::max_element(dots.begin(), dots.end()), 5);
  EXPECT_EQ(*std::min_element(dots.begin(), dots.end()), 2);
}

TEST(VprinterBarcodeEncode, GsKSelectsSymbologyByBothNumberings) {
  const std::pair<int, symbology> cases[] = {
      {0, symbology::upc_a},  {65, symbology::upc_a}, {2, symbology::ean13}, {67, symbology::ean13},
      {4, symbology::code39}, {69, symbology::code39}, {73, symbology::code128}, {72, symbology::code93},
  };
  for (auto [m, want] : cases) {
    symbology got{};
    ASSERT_TRUE(symbology_from_gs_k(m, got)) << m;
    EXPECT_EQ(got, want) << m;
  }
  symbology none{};
  EXPECT_FALSE(symbology_from_gs_k(7, none));
  EXPECT_FALSE(symbology_from_gs_k(74, none));
}

}  // namespace
}  // namespace vprinter::detail
