// Window records and screen composition: text placement, viewports and offsets, scrolling of
// the text itself, and marquee frames.
#include "display/display_window.h"

#include <gtest/gtest.h>

namespace devsvc {
namespace {

std::string spaces(std::size_t n) { return std::string(n, ' '); }

TEST(PutText, WrapsToTheNextRowMovesOnCrLfAndDropsWhatDoesNotFit) {
  struct Case {
    const char* name;
    std::string text;
    std::int32_t row, column;
    std::vector<std::string> lines;
    std::int32_t cursor_row, cursor_column;
  };
  const Case cases[] = {
      {"fits in the first row", "abc", 0, 0, {"abc  ", "     "}, 0, 3},
      {"cursor may stand past the last column", "abcde", 0, 0, {"abcde", "     "}, 0, 5},
      {"wraps before a character beyond the row", "abcdef", 0, 0, {"abcde", "f    "}, 1, 1},
      {"cut at the end of the last row", "0123456789XYZ", 0, 0, {"01234", "56789"}, 1, 5},
      {"starts at the position given", "xy", 1, 3, {"     ", "   xy"}, 1, 5},
      {"a start past the last column wraps at once", "q", 0, 5, {"     ", "q    "}, 1, 1},
      {"a start below the last row stores nothing", "q", 2, 0, {"     ", "     "}, 2, 0},
      {"CR goes back to the row's start", "abc\rX", 0, 0, {"Xbc  ", "     "}, 0, 1},
      {"LF goes down a row in the same column", "ab\ncd", 0, 0, {"ab   ", "  cd "}, 1, 4},
      {"CR LF starts the next row", "ab\r\ncd", 0, 0, {"ab   ", "cd   "}, 1, 2},
      {"LF on the last row drops the rest", "ab\ncd\nef", 0, 0, {"ab   ", "  cd "}, 1, 4},
      {"CR and LF are never stored", "\r\n", 0, 3, {"     ", "     "}, 1, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LineDisplayWindow w = MakeWindow(0, 0, 2, 5, 2, 5);
    PutText(w, c.text, c.row, c.column, true);
    EXPECT_EQ(w.text, c.lines);
    EXPECT_EQ(w.CursorRow, c.cursor_row);
    EXPECT_EQ(w.CursorColumn, c.cursor_column);
  }
  LineDisplayWindow w = MakeWindow(0, 0, 2, 5, 2, 5);
  PutText(w, "abcdef", 0, 0, false);
  EXPECT_EQ(w.CursorRow, 0);
  EXPECT_EQ(w.CursorColumn, 0) << "the cursor stays without move_cursor";
}

TEST(ComposeWindow, ShowsTheViewportWithItsOffsets) {
  struct Case {
    const char* name;
    std::int32_t vr, vc, vh, vw, rows, columns;
    std::int32_t row_offset, column_offset;
    std::string sent;  // both display rows afterwards
  };
  // A 2 x 10 display that shows "##########" on both rows before the window is composed; the
  // window's lines are "ABCDEFGHIJKL..." cut to its width and "abcdefghijkl..." likewise.
  const Case cases[] = {
      {"whole display", 0, 0, 2, 10, 2, 10, 0, 0, "ABCDEFGHIJabcdefghij"},
      {"column offset shows later text", 0, 0, 1, 10, 1, 15, 0, 3, "DEFGHIJKLM##########"},
      {"negative column offset moves text right", 0, 0, 1, 10, 1, 15, 0, -4, "    ABCDEF##########"},
      {"text ends before the viewport does", 0, 0, 1, 10, 1, 15, 0, 12, "MNO       ##########"},
      {"row offset shows the next line", 0, 0, 1, 10, 2, 10, -1, 0, "abcdefghij##########"},
      {"row offset below the text shows spaces", 0, 0, 2, 10, 2, 10, 1, 0, "          ABCDEFGHIJ"},
      {"viewport inside a row", 0, 3, 1, 4, 1, 4, 0, 0, "###ABCD#############"},
      {"viewport on the second row", 1, 2, 1, 5, 1, 5, 0, 0, "##########" "##ABCDE###"},
      {"viewport cut at the display's right edge", 0, 8, 1, 5, 1, 5, 0, 0, "########AB##########"},
      {"viewport cut at the display's bottom", 1, 0, 2, 10, 2, 10, 0, 0, "##########ABCDEFGHIJ"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    screen_rows screen(2, std::string(10, '#'));
    LineDisplayWindow w = MakeWindow(c.vr, c.vc, c.vh, c.vw, c.rows, c.columns);
    const std::string upper = "ABCDEFGHIJKLMNOPQRSTUVWXYZ";
    const std::string lower = "abcdefghijklmnopqrstuvwxyz";
    PutText(w, upper.substr(0, static_cast<std::size_t>(c.columns)), 0, 0, false);
    if (c.rows > 1) PutText(w, lower.substr(0, static_cast<std::size_t>(c.columns)), 1, 0, false);
    w.row_offset = c.row_offset;
    w.column_offset = c.column_offset;
    // Rows go out from home down to the viewport's last row on the display.
    const std::size_t rows_sent = c.vr + c.vh >= 2 ? 2 : 1;
    EXPECT_EQ(ComposeWindow(screen, w), c.sent.substr(0, rows_sent * 10));
    EXPECT_EQ(screen[0] + screen[1], c.sent) << "the screen keeps what was composed";
  }
}

TEST(ShiftText, MovesTheTextAndFillsWithSpaces) {
  struct Case {
    std::int32_t direction, units;
    std::vector<std::string> lines;
  };
  const Case cases[] = {
      {DISP_ST_UP, 1, {"def", "   "}},    {DISP_ST_UP, 5, {"def", "   "}},  // at most size - 1
      {DISP_ST_DOWN, 1, {"   ", "abc"}},  {DISP_ST_LEFT, 1, {"bc ", "ef "}},
      {DISP_ST_LEFT, 9, {"c  ", "f  "}},  {DISP_ST_RIGHT, 2, {"  a", "  d"}},
      {DISP_ST_UP, 0, {"abc", "def"}},    {7, 1, {"abc", "def"}},
  };
  for (const Case& c : cases) {
    LineDisplayWindow w = MakeWindow(0, 0, 2, 3, 2, 3);
    w.text = {"abc", "def"};
    ShiftText(w, c.direction, c.units);
    EXPECT_EQ(w.text, c.lines) << "direction " << c.direction << " units " << c.units;
  }
}

TEST(OffsetsInBounds, KeepsSomeTextInTheViewport) {
  const LineDisplayWindow w = MakeWindow(0, 0, 1, 10, 3, 15);
  EXPECT_TRUE(OffsetsInBounds(w, 0, 0));
  EXPECT_TRUE(OffsetsInBounds(w, -2, 14));
  EXPECT_TRUE(OffsetsInBounds(w, 0, -9));
  EXPECT_FALSE(OffsetsInBounds(w, -3, 0));
  EXPECT_FALSE(OffsetsInBounds(w, 1, 0)) << "below the one-line viewport";
  EXPECT_FALSE(OffsetsInBounds(w, 0, 15));
  EXPECT_FALSE(OffsetsInBounds(w, 0, -10));
}

TEST(VerticalMarqueeOffsets, RunFromOneEdgeToTheOther) {
  const LineDisplayWindow whole = MakeWindow(0, 0, 2, 20, 2, 20);
  EXPECT_EQ(VerticalMarqueeOffsets(whole, DISP_ST_UP), (std::vector<std::int32_t>{0, 1, 0, -1}));
  EXPECT_EQ(VerticalMarqueeOffsets(whole, DISP_ST_DOWN), (std::vector<std::int32_t>{-1, 0, 1}));
  // A window taller than its one-line viewport enters at the viewport's only line.
  const LineDisplayWindow tall = MakeWindow(0, 0, 1, 20, 3, 20);
  EXPECT_EQ(VerticalMarqueeOffsets(tall, DISP_ST_UP), (std::vector<std::int32_t>{0, 0, -1, -2}));
  EXPECT_EQ(VerticalMarqueeOffsets(tall, DISP_ST_DOWN), (std::vector<std::int32_t>{-2, -1, 0}));
  EXPECT_TRUE(VerticalMarqueeOffsets(tall, DISP_ST_LEFT).empty());
}

// A walking marquee is a window of ViewportWidth sliding over the text padded on both sides
// with ViewportWidth spaces: left moves the window rightwards over that strip, right leftwards.
std::string sliding_view(const std::string& line, std::int32_t vw, std::int32_t direction, std::int32_t k) {
  const std::string strip = spaces(static_cast<std::size_t>(vw)) + line + spaces(static_cast<std::size_t>(vw));
  const auto c = static_cast<std::int32_t>(line.size());
  const std::int32_t at = direction == DISP_ST_LEFT ? k + 1 : vw + c - 1 - k;
  return strip.substr(static_cast<std::size_t>(at), static_cast<std::size_t>(vw));
}

TEST(HorizontalMarqueeFrame, WalkingSlidesTheTextAcrossTheViewport) {
  struct Case {
    const char* name;
    std::int32_t direction;
    std::int32_t vc, vw, columns;
  };
  const Case cases[] = {
      {"left over the whole row", DISP_ST_LEFT, 0, 20, 20},
      {"right over the whole row", DISP_ST_RIGHT, 0, 20, 20},
      {"left, window wider than its viewport", DISP_ST_LEFT, 4, 8, 12},
      {"right, window wider than its viewport", DISP_ST_RIGHT, 4, 8, 12},
  };
  const std::string text = "ABCDEFGHIJKLMNOPQRSTUVWXYZ";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LineDisplayWindow w = MakeWindow(0, c.vc, 1, c.vw, 1, c.columns);
    const std::string line = text.substr(0, static_cast<std::size_t>(c.columns));
    PutText(w, line, 0, 0, false);
    const screen_rows screen = {std::string(20, '.'), std::string(20, '-')};
    ASSERT_EQ(HorizontalMarqueeFrames(w), c.columns + c.vw - 1);
    for (std::int32_t k = 0; k < HorizontalMarqueeFrames(w); ++k) {
      std::string want(20, '.');
      want.replace(static_cast<std::size_t>(c.vc), static_cast<std::size_t>(c.vw), sliding_view(line, c.vw, c.direction, k));
      EXPECT_EQ(HorizontalMarqueeFrame(screen, w, c.direction, k), want) << "frame " << k;
    }
  }
}

TEST(HorizontalMarqueeFrame, PlacingShowsTheTextWhereItWillStand) {
  LineDisplayWindow w = MakeWindow(0, 0, 1, 6, 1, 6);
  PutText(w, "ABCDEF", 0, 0, false);
  w.MarqueeFormat = DISP_MF_PLACE;
  const screen_rows screen = {spaces(6)};
  EXPECT_EQ(HorizontalMarqueeFrame(screen, w, DISP_ST_LEFT, 0), "A     ");
  EXPECT_EQ(HorizontalMarqueeFrame(screen, w, DISP_ST_LEFT, 2), "ABC   ");
  EXPECT_EQ(HorizontalMarqueeFrame(screen, w, DISP_ST_LEFT, 6), "BCDEF ") << "then it leaves to the left";
  EXPECT_EQ(HorizontalMarqueeFrame(screen, w, DISP_ST_RIGHT, 0), "     F");
  EXPECT_EQ(HorizontalMarqueeFrame(screen, w, DISP_ST_RIGHT, 2), "   DEF");
  EXPECT_EQ(HorizontalMarqueeFrame(screen, w, DISP_ST_RIGHT, 7), "  ABCD") << "then it leaves to the right";
}

TEST(HorizontalMarqueeFrame, ATallWindowDrawsOnlyInsideItsViewport) {
  LineDisplayWindow w = MakeWindow(0, 0, 1, 4, 2, 4);
  PutText(w, "abcdefgh", 0, 0, false);
  const screen_rows screen = {"....", "----"};
  EXPECT_EQ(HorizontalMarqueeFrame(screen, w, DISP_ST_LEFT, 3), "abcd");
  EXPECT_EQ(screen[1], "----");
}

TEST(Windows, DegenerateSizesComposeNothing) {
  LineDisplayWindow w = MakeWindow(0, 0, 0, 0, 0, 0);
  screen_rows screen;
  EXPECT_EQ(ComposeWindow(screen, w), "");
  EXPECT_EQ(HorizontalMarqueeFrames(w), 0);
  EXPECT_TRUE(VerticalMarqueeOffsets(w, DISP_ST_UP).empty());
  PutText(w, "abc", 0, 0, true);
  EXPECT_EQ(w.CursorColumn, 0);
}

}  // namespace
}  // namespace devsvc
