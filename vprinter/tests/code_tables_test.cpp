// ESC t code tables: the same character printed from two tables gives the same dots, so each
// table maps its bytes to the right characters; Katakana's line graphics draw receipt rules.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "test_util.h"
#include "vprinter/virtual_printer.h"

namespace vprinter {
namespace {

bitmap printed(int table, int byte) {
  test::manual_clock clock;
  virtual_printer printer(test::test_config(clock));
  std::string bytes = "\x1bt";
  bytes += static_cast<char>(table);
  bytes += static_cast<char>(byte);
  bytes += '\n';
  test::talk(printer, bytes);
  return printer.paper();
}

bool same_dots(const bitmap& a, const bitmap& b) {
  return a.width() == b.width() && a.height() == b.height() && a.dots() == b.dots();
}

TEST(VprinterCodeTables, SameCharacterFromTwoTablesPrintsTheSame) {
  struct pair_case {
    const char* character;
    int table, byte;              // the table under test
    int known_table, known_byte;  // the same character in a table checked elsewhere
  };
  const pair_case cases[] = {
      {"Katakana horizontal line", 1, 0x95, 0, 0xC4},
      {"Katakana vertical line", 1, 0x96, 0, 0xB3},
      {"Katakana corner down right", 1, 0x98, 0, 0xDA},
      {"Katakana cross", 1, 0x8F, 0, 0xC5},
      {"Katakana full block", 1, 0x87, 0, 0xDB},
      {"Katakana double horizontal line", 1, 0xE0, 0, 0xCD},
      {"WPC1250 S caron", 45, 0x8A, 18, 0xE6},
      {"ISO 8859-2 S caron", 39, 0xA9, 18, 0xE6},
      {"WPC1251 Cyrillic A", 46, 0xC0, 17, 0x80},
      {"ISO 8859-15 euro", 40, 0xA4, 16, 0x80},
      {"PC857 s cedilla", 13, 0x9F, 39, 0xBA},
      {"PC737 Greek alpha", 14, 0x98, 15, 0xE1},
  };
  const bitmap unknown = printed(0, '?');
  for (const auto& c : cases) {
    const bitmap got = printed(c.table, c.byte);
    const bitmap want = printed(c.known_table, c.known_byte);
    EXPECT_GT(want.count(), 0) << c.character;
    EXPECT_FALSE(same_dots(want, unknown)) << c.character << ": the font lacks it, the case proves nothing";
    EXPECT_TRUE(same_dots(got, want)) << c.character;
  }
}

TEST(VprinterCodeTables, KatakanaRuleIsOneUnbrokenLineAcrossTheCells) {
  test::manual_clock clock;
  virtual_printer printer(test::test_config(clock));
  test::talk(printer, "\x1bt\x01" + std::string(48, '\x95') + "\n");
  const bitmap paper = printer.paper();
  int longest = 0;
  for (int y = 0; y < paper.height(); ++y) longest = std::max(longest, paper.count(0, y, paper.width(), y + 1));
  EXPECT_EQ(longest, paper.width()) << "a rule across the whole paper";
  EXPECT_FALSE(same_dots(printed(1, 0x95), printed(0, 0x95))) << "table 1 is not PC437";
}

TEST(VprinterCodeTables, TableNotFittedIsNotedAndPrintsAsPc437) {
  test::manual_clock clock;
  virtual_printer printer(test::test_config(clock));
  test::talk(printer, "\x1bt\x63\x95\n");
  const auto log = printer.log();
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.back().text, "ESC t 99: code table not fitted, PC437 used");
  EXPECT_TRUE(same_dots(printer.paper(), printed(0, 0x95)));
  EXPECT_EQ(printer.state().code_page_table, 99);
}

}  // namespace
}  // namespace vprinter
