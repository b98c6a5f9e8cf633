// The customer display behind ESC = 2: its command set, screen and modes, and the way back to the
// printer with ESC = 1.
#include "display_model.h"

#include <gtest/gtest.h>
#include <png.h>

#include "platform/testing/temp_dir.h"
#include "test_util.h"

namespace vprinter {
namespace {

using test::bytes;
using test::talk;

const std::string kSelect = bytes("1B 3D 02");
const std::string kBack = bytes("1B 3D 01");

TEST(VprinterDisplay, KitBurstsShowTextAndReturnToThePrinter) {
  virtual_printer p;
  // Claim: select, initialise, overwrite mode, international set; then a refresh from home.
  talk(p, kSelect + bytes("1B 40 1F 01 1B 52 06") + kBack);
  talk(p, kSelect + bytes("0B") + "Coffee          2.50" + "Total           2.50" + bytes("1F 45 0A") + kBack);
  const auto d = p.display();
  EXPECT_EQ(d.lines, (std::vector<std::string>{"Coffee          2.50", "Total           2.50"}));
  EXPECT_EQ(d.blink_interval, 10);
  EXPECT_EQ(d.international, 6);
  EXPECT_EQ(p.state().peripheral, 1);
  EXPECT_EQ(p.paper().count(), 0);  // nothing of it was printed
  EXPECT_EQ(p.unknown_count(), 0u);
  talk(p, "printed\n");
  EXPECT_GT(p.paper().count(), 0);
  EXPECT_EQ(p.display().lines[0], "Coffee          2.50");
}

TEST(VprinterDisplay, CommandsMoveTheCursorAndChangeModes) {
  struct display_case {
    const char* name;
    std::string data;
    std::vector<std::string> lines;
    int row, column;
  };
  const std::string blank(20, ' ');
  const display_case cases[] = {
      {"text wraps to the next row", std::string(25, 'a'), {std::string(20, 'a'), "aaaaa" + std::string(15, ' ')}, 1, 5},
      {"overwrite mode wraps to the top", std::string(41, 'b'), {"b" + std::string(19, 'b'), std::string(20, 'b')}, 0, 1},
      {"vertical scroll mode scrolls", bytes("1F 02") + std::string(40, 'c') + "d",
       {std::string(20, 'c'), "d" + std::string(19, ' ')}, 1, 1},
      {"clear and home", "xyz" + bytes("0C") + "A", {"A" + std::string(19, ' '), blank}, 0, 1},
      {"cursor position from one", bytes("1F 24 05 02") + "Z", {blank, "    Z" + std::string(15, ' ')}, 1, 5},
      {"bottom row", bytes("1F 42") + "B", {blank, "B" + std::string(19, ' ')}, 1, 1},
      {"carriage return and line feed", "ab" + bytes("0D 0A") + "c", {"ab" + std::string(18, ' '), "c" + std::string(19, ' ')}, 1, 1},
      {"backspace overwrites", "ab" + bytes("08") + "X", {"aX" + std::string(18, ' '), blank}, 0, 2},
      {"CAN clears the cursor row", "abc" + bytes("18"), {blank, blank}, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    virtual_printer p;
    talk(p, kSelect + bytes("1B 40") + c.data);
    const auto d = p.display();
    EXPECT_EQ(d.lines, c.lines);
    EXPECT_EQ(d.cursor_row, c.row);
    EXPECT_EQ(d.cursor_column, c.column);
  }
}

TEST(VprinterDisplay, BrightnessBlinkCodeTableAndSelfTest) {
  virtual_printer p;
  talk(p, kSelect + bytes("1F 58 02 1F 45 00 1B 74 01 1F 40 1F 43 01 1F 58 09") + kBack);
  const auto d = p.display();
  EXPECT_EQ(d.brightness, 2);  // 9 is out of range and ignored
  EXPECT_EQ(d.blink_interval, 0);
  EXPECT_EQ(d.code_table, 1);
  EXPECT_EQ(d.self_tests, 1);
  EXPECT_TRUE(d.cursor_visible);
}

TEST(VprinterDisplay, PrinterStillAnswersStatusWhileTheDisplayIsSelected) {
  virtual_printer p;
  EXPECT_TRUE(test::same_bytes(talk(p, kSelect + "hi" + bytes("10 04 01") + "!"), bytes("16")));
  EXPECT_EQ(p.display().lines[0].substr(0, 3), "hi!");
  // GS I is a printer command: the printer does not answer it while deselected.
  EXPECT_EQ(talk(p, bytes("1D 49 01")), "");
}

TEST(VprinterDisplay, UnknownDisplayCommandsAreLoggedAsTheDisplays) {
  virtual_printer p;
  talk(p, kSelect + bytes("1F 7E") + kBack);
  ASSERT_EQ(p.unknown_count(), 1u);
  EXPECT_EQ(p.log()[0].text, "display: unknown command 1F 7E");
}

TEST(VprinterDisplay, BothPeripheralsSelectedGetTheSameText) {
  virtual_printer p;
  talk(p, bytes("1B 3D 03") + "both\n" + kBack);
  EXPECT_EQ(p.display().lines[0].substr(0, 4), "both");
  EXPECT_EQ(p.display().cursor_row, 1);  // the line feed moved the display's cursor too
  EXPECT_GT(p.paper().count(), 0);
}

// --- the screen as text and as an image --------------------------------------------------------

TEST(VprinterDisplay, TextLinesAreDecodedInTheCodeTable) {
  struct Case {
    const char* name;
    std::string table;  // ESC t n, or nothing
    std::string first_row;
  };
  const Case cases[] = {
      {"table 1 is the ANSI table", bytes("1B 74 01"), "Caf\u00E9 \u20AC"},
      {"table 0 is PC437", bytes("1B 74 00"), "Caf\u0398 \u00C7"},
      {"another table reads as PC437", bytes("1B 74 05"), "Caf\u0398 \u00C7"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    virtual_printer p;
    talk(p, kSelect + bytes("1B 40") + c.table + "Caf" + bytes("E9 20 80") + kBack);
    const std::vector<std::string> text = p.display_text();
    ASSERT_EQ(text.size(), 2u);
    EXPECT_EQ(text[0], std::string(c.first_row) + std::string(14, ' '));
    EXPECT_EQ(text[1], std::string(20, ' '));
  }
}

TEST(VprinterDisplay, RenderDrawsEachCharacterInItsCellInsideAFrame) {
  const auto font = detail::cell_font::built_in(12, 24);
  display_state blank;
  blank.lines.assign(2, std::string(20, ' '));
  const bitmap empty = detail::render_display(blank, *font);
  const int margin = 12 + 2;
  EXPECT_EQ(empty.width(), 20 * 12 + 2 * margin);
  EXPECT_EQ(empty.height(), 2 * 24 + 2 * margin);
  EXPECT_EQ(empty.count(2, 2, empty.width() - 2, empty.height() - 2), 0) << "nothing inside the frame";
  EXPECT_EQ(empty.count(0, 0, empty.width(), 2), 2 * empty.width()) << "the frame's top";

  display_state shown = blank;
  shown.lines[1][5] = 'A';
  const bitmap image = detail::render_display(shown, *font);
  const int x0 = margin + 5 * 12;
  const int y0 = margin + 24;
  const int ink = image.count(x0, y0, x0 + 12, y0 + 24);
  EXPECT_GT(ink, 0);
  EXPECT_EQ(image.count(), empty.count() + ink) << "all ink of the A is in its cell";
}

TEST(VprinterDisplay, WritesTheScreenAsPng) {
  platform::testing::temp_dir dir;
  virtual_printer p;
  talk(p, kSelect + bytes("1B 40") + "Total 2.50" + kBack);
  std::string error;
  ASSERT_TRUE(p.write_display_png(dir.path() / "display.png", &error)) << error;
  png_image img{};
  img.version = PNG_IMAGE_VERSION;
  ASSERT_TRUE(png_image_begin_read_from_file(&img, (dir.path() / "display.png").c_str()));
  img.format = PNG_FORMAT_GRAY;
  std::vector<unsigned char> grey(PNG_IMAGE_SIZE(img));
  ASSERT_TRUE(png_image_finish_read(&img, nullptr, grey.data(), 0, nullptr));
  EXPECT_EQ(img.width, 20u * 12u + 2u * 14u);
  EXPECT_EQ(img.height, 2u * 24u + 2u * 14u);
  EXPECT_FALSE(p.write_display_png(dir.path() / "no" / "such" / "dir.png", &error));
  EXPECT_FALSE(error.empty());
}

}  // namespace
}  // namespace vprinter
