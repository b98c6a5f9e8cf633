// GS ( k: QR Code and PDF417 symbols printed on the paper and read back by an independent
// decoder, their settings, size answers and refusals.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "symbol_reader.h"
#include "test_util.h"
#include "vprinter/virtual_printer.h"

namespace vprinter {
namespace {

// GS ( k pL pH cn fn parameters.
std::string gs_k(int cn, int fn, std::string_view params) {
  const std::size_t n = params.size() + 2;
  std::string out = "\x1d(k";
  out += static_cast<char>(n & 0xFF);
  out += static_cast<char>(n >> 8);
  out += static_cast<char>(cn);
  out += static_cast<char>(fn);
  out += params;
  return out;
}
std::string qr(int fn, std::string_view params) { return gs_k(49, fn, params); }
std::string pdf(int fn, std::string_view params) { return gs_k(48, fn, params); }
std::string one(int n) { return std::string(1, static_cast<char>(n)); }
std::string store(int cn, std::string_view data) { return gs_k(cn, 80, "0" + std::string(data)); }

// 200 bytes of every value, as binary data in a PDF417 would be.
std::string binary_200() {
  std::string s;
  for (int i = 0; i < 200; ++i) s += static_cast<char>((i * 37 + 11) & 0xFF);
  return s;
}

std::pair<int, int> ink_columns(const bitmap& b) {
  int left = b.width(), right = -1;
  for (int y = 0; y < b.height(); ++y)
    for (int x = 0; x < b.width(); ++x)
      if (b.get(x, y)) {
        left = std::min(left, x);
        right = std::max(right, x);
      }
  return {left, right};
}

struct symbol_case {
  const char* name;
  std::string setup;  // settings sent before the data
  int cn;
  std::string data;
  const char* format;
  int module;         // expected dots per module across
};

void PrintTo(const symbol_case& c, std::ostream* os) { *os << c.name; }

class VprinterTwoDCodes : public ::testing::TestWithParam<symbol_case> {};

TEST_P(VprinterTwoDCodes, PrintedSymbolReadsBack) {
  const auto& c = GetParam();
  test::manual_clock clock;
  virtual_printer printer(test::test_config(clock));
  ASSERT_TRUE(printer.accept(c.setup + store(c.cn, c.data) + gs_k(c.cn, 81, "0") + "\n").accepted > 0);
  EXPECT_EQ(printer.unknown_count(), 0u);
  for (const auto& e : printer.log()) ADD_FAILURE() << e.text;

  const bitmap paper = printer.paper();
  const auto found = test::read_symbols(paper);
  ASSERT_EQ(found.size(), 1u) << c.name;
  EXPECT_EQ(found[0].format, c.format);
  EXPECT_TRUE(test::same_bytes(found[0].bytes, c.data));
  // Every run across a row of the symbol is a whole number of modules.
  const auto [left, right] = ink_columns(paper);
  EXPECT_EQ(left, 0) << "left aligned by default";
  EXPECT_EQ((right - left + 1) % c.module, 0);
}

const symbol_case kSymbols[] = {
    {"QrUrlWithNonAsciiText", qr(67, one(4)) + qr(69, "1"), 49,
     "https://example.com/caf\xc3\xa9?q=Gr\xc3\xb6\xc3\x9f" "e&t=\xe6\x9d\xb1\xe4\xba\xac", "QRCode", 4},
    {"QrDefaultsLevelLModule3", "", 49, "KORVANE-0001", "QRCode", 3},
    {"QrLevelHModule1", qr(67, one(1)) + qr(69, "3"), 49, "fiscal:2026-12-10;total=9.40", "QRCode", 1},
    {"QrModel1PrintsModel2", qr(65, "1\0") + qr(67, one(5)), 49, "payment link", "QRCode", 5},
    {"MicroQr", qr(65, "3\0") + qr(67, one(6)), 49, "12345", "MicroQRCode", 6},
    {"Pdf417Binary200Bytes", "", 48, binary_200(), "PDF417", 3},
    {"Pdf417ColumnsRowsLevel", pdf(65, one(4)) + pdf(66, one(20)) + pdf(67, one(2)) + pdf(68, one(4)) + pdf(69, "05"),
     48, "Receipt 0001 / 9.40 EUR", "PDF417", 2},
    {"Pdf417Truncated", pdf(70, one(1)) + pdf(69, one(49) + one(20)), 48, "truncated symbol", "PDF417", 3},
};

INSTANTIATE_TEST_SUITE_P(Symbols, VprinterTwoDCodes, ::testing::ValuesIn(kSymbols),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(VprinterTwoDCodesLayout, CentredSymbolAndSizeAnswerMatchThePrint) {
  test::manual_clock clock;
  virtual_printer printer(test::test_config(clock));
  const std::string size = test::talk(printer, qr(67, one(6)) + store(49, "centred") + qr(82, "0"));
  test::talk(printer, std::string("\x1b" "a\x01") + qr(81, "0") + "\n");
  const bitmap paper = printer.paper();
  const auto [left, right] = ink_columns(paper);
  EXPECT_NEAR(left + right, paper.width() - 1, 1) << "not centred";
  // "76" width US height US printable NUL.
  const std::string width = std::to_string(right - left + 1);
  EXPECT_TRUE(test::same_bytes(size, "76" + width + "\x1f" + width + "\x1f" "0" + std::string(1, '\0')));
  ASSERT_EQ(test::read_symbols(paper).size(), 1u);
}

TEST(VprinterTwoDCodesLayout, SymbolInPageModeTurnedReadsBack) {
  test::manual_clock clock;
  virtual_printer printer(test::test_config(clock));
  test::talk(printer, std::string("\x1bL\x1bT\x03") + qr(67, one(4)) + store(49, "turned") + qr(81, "0") + "\x0c");
  const bitmap paper = printer.paper();
  ASSERT_GT(paper.height(), 0);
  // A QR Code reads in any orientation; the turned symbol must still be whole.
  const auto found = test::read_symbols(paper);
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].bytes, "turned");
}

TEST(VprinterTwoDCodesErrors, RefusalsAreLoggedAndPrintNothing) {
  struct refusal {
    const char* name;
    std::string bytes;
    const char* logged;
  };
  const refusal cases[] = {
      {"print with nothing stored", qr(81, "0"), "QR Code not printed: no data stored"},
      {"module size 17", qr(67, one(17)), "QR module size 17 out of range"},
      {"error correction 52", qr(69, "4"), "QR error correction 52 out of range"},
      {"PDF417 columns 31", pdf(65, one(31)), "PDF417 columns 31 out of range"},
      {"PDF417 row height 9", pdf(68, one(9)), "PDF417 row height 9 out of range"},
      {"MaxiCode", gs_k(50, 80, "0data"), "symbol type 50 not supported"},
      {"wider than the paper", qr(67, one(16)) + store(49, std::string(300, 'A')) + qr(81, "0"), "wider than the paper"},
      {"too much data", store(48, std::string(3000, '\xff')) + pdf(81, "0"), "PDF417 not printed"},
  };
  for (const auto& c : cases) {
    test::manual_clock clock;
    virtual_printer printer(test::test_config(clock));
    printer.accept(c.bytes + "\n");
    EXPECT_EQ(printer.unknown_count(), 0u) << c.name;
    const auto log = printer.log();
    EXPECT_TRUE(std::any_of(log.begin(), log.end(), [&](const log_entry& e) { return e.text.find(c.logged) != std::string::npos; }))
        << c.name << ": nothing logged like \"" << c.logged << "\"";
    EXPECT_EQ(printer.paper().count(), 0) << c.name;
  }
}

TEST(VprinterTwoDCodesErrors, OutOfRangeSettingKeepsTheLastGoodOneAndInitialiseResets) {
  test::manual_clock clock;
  virtual_printer printer(test::test_config(clock));
  test::talk(printer, qr(67, one(5)) + qr(67, one(0)) + store(49, "kept") + qr(81, "0") + "\n");
  const auto [left, right] = ink_columns(printer.paper());
  EXPECT_EQ((right - left + 1) % 5, 0) << "module size 5 kept after a refused 0";
  // ESC @ empties the symbol storage.
  const int before = printer.paper().count();
  test::talk(printer, "\x1b@" + qr(81, "0") + "\n");
  EXPECT_EQ(printer.paper().count(), before);
}

}  // namespace
}  // namespace vprinter
