// Receipts made by third-party ESC/POS generators, replayed from their captured bytes: every
// command is understood and the paper shows the bar code, the two-dimensional symbols, the rules,
// the picture and the centred title.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <sstream>

#include "decoders.h"
#include "symbol_reader.h"
#include "test_util.h"
#include "vprinter/virtual_printer.h"

namespace vprinter {
namespace {

std::string fixture(const std::string& name) {
  std::ifstream in(std::string(VPRINTER_FIXTURE_DIR) + "/third_party/" + name, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

// Left and right ends of the ink in rows [y0, y1); {-1, -1} when the rows are blank.
std::pair<int, int> ink_span(const bitmap& b, int y0, int y1) {
  int left = -1;
  int right = -1;
  for (int y = y0; y < y1; ++y)
    for (int x = 0; x < b.width(); ++x)
      if (b.get(x, y)) {
        left = left < 0 ? x : std::min(left, x);
        right = std::max(right, x);
      }
  return {left, right};
}

// Rows that hold ink, as [first, last] bands separated by blank rows.
std::vector<std::pair<int, int>> ink_bands(const bitmap& b) {
  std::vector<std::pair<int, int>> bands;
  for (int y = 0; y < b.height(); ++y) {
    if (b.count(0, y, b.width(), y + 1) == 0) continue;
    if (!bands.empty() && bands.back().second == y - 1) {
      bands.back().second = y;
    } else {
      bands.push_back({y, y});
    }
  }
  return bands;
}

struct receipt_case {
  const char* file;
  const char* ean13;   // the bar code's digits read back from the paper
  const char* qr;      // the QR Code's text
  const char* pdf417;  // the PDF417's text, or nullptr when the receipt has none
  int rules;           // unbroken rules drawn across the whole paper (line graphics)
};

class VprinterThirdParty : public ::testing::TestWithParam<receipt_case> {};

TEST_P(VprinterThirdParty, ReceiptPrintsWithEveryCommandUnderstood) {
  const std::string data = fixture(GetParam().file);
  ASSERT_FALSE(data.empty()) << GetParam().file;
  test::manual_clock clock;
  virtual_printer printer(test::test_config(clock));
  ASSERT_EQ(printer.accept(data).accepted, data.size());
  EXPECT_EQ(printer.unknown_count(), 0u);

  const bitmap paper = printer.paper();
  // A row through the bars: many runs, and the same runs 5 and 15 rows further down (text and
  // dithered pictures, whose patterns repeat every 2, 4 or 8 rows, have not).
  auto same_below = [&](int y) {
    const auto runs = test::runs_along_row(paper, y);
    return runs == test::runs_along_row(paper, y + 5) && runs == test::runs_along_row(paper, y + 15);
  };
  int bar_row = test::first_row_with_runs(paper, 0, 50);
  while (bar_row >= 0 && !same_below(bar_row)) bar_row = test::first_row_with_runs(paper, bar_row + 1, 50);
  ASSERT_GE(bar_row, 0) << "no bar code on the paper";
  const std::vector<int> runs = test::runs_along_row(paper, bar_row);
  const int module = *std::min_element(runs.begin(), runs.end());
  EXPECT_EQ(detail::decode_ean13(detail::to_modules(runs, module)), GetParam().ean13);

  // The picture comes first and is centred; the large title below it is centred too.
  const auto bands = ink_bands(paper);
  ASSERT_GE(bands.size(), 3u);
  for (int i : {0, 1}) {
    const auto [left, right] = ink_span(paper, bands[i].first, bands[i].second + 1);
    EXPECT_NEAR(left + right, paper.width() - 1, 40) << "band " << i << " is not centred";
  }
  EXPECT_GT(bands[1].second - bands[1].first, 24) << "the title is not printed large";

  // The two-dimensional symbols read back, below the bar code and centred.
  std::map<std::string, test::read_symbol> symbols;
  for (auto& found : test::read_symbols(paper)) symbols[found.format] = found;
  ASSERT_EQ(symbols.count("QRCode"), 1u);
  EXPECT_EQ(symbols["QRCode"].bytes, GetParam().qr);
  EXPECT_GT(symbols["QRCode"].top, bar_row);
  EXPECT_NEAR(symbols["QRCode"].left + symbols["QRCode"].right, paper.width() - 1, 16);
  if (GetParam().pdf417) {
    ASSERT_EQ(symbols.count("PDF417"), 1u);
    EXPECT_EQ(symbols["PDF417"].bytes, GetParam().pdf417);
  } else {
    EXPECT_EQ(symbols.count("PDF417"), 0u);
  }

  // Rules: bands of rows inked across the whole width (a cut mark is dashed).
  int rules = 0;
  for (int y = 0; y < paper.height(); ++y) {
    const bool full = paper.count(0, y, paper.width(), y + 1) == paper.width();
    const bool above = y > 0 && paper.count(0, y - 1, paper.width(), y) == paper.width();
    rules += full && !above;
  }
  EXPECT_EQ(rules, GetParam().rules);
}

INSTANTIATE_TEST_SUITE_P(Generators, VprinterThirdParty,
                         ::testing::Values(receipt_case{"node_thermal_printer_receipt.bin", "4006381333931",
                                                        "https://korvane.example/r/0001?total=5.90",
                                                        "KORVANE CAFE|0001|2026-12-10|5.90 EUR", 0},
                                           receipt_case{"receiptline_receipt.bin", "4006381333931",
                                                        "https://korvane.example/r/0002?total=9.40", nullptr, 2}),
                         [](const auto& info) {
                           std::string name = info.param.file;
                           return name.substr(0, name.find('_'));
                         });

}  // namespace
}  // namespace vprinter
