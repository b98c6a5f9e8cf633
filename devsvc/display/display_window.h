// The line display's windows and screen: window records, putting text into a window, composing
// a window's viewport onto the screen rows, scrolling, and the frames of a software marquee.
// Plain data and functions; nothing here talks to a device.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace devsvc {

// The rows of the display as the service object believes it shows them, each DeviceColumns
// bytes long.
using screen_rows = std::vector<std::string>;

// Directions of ScrollText and of a marquee (MarqueeType 1 to 4).
inline constexpr std::int32_t DISP_ST_UP = 1;
inline constexpr std::int32_t DISP_ST_DOWN = 2;
inline constexpr std::int32_t DISP_ST_LEFT = 3;
inline constexpr std::int32_t DISP_ST_RIGHT = 4;
// MarqueeType values besides the four directions.
inline constexpr std::int32_t DISP_MT_NONE = 0;
inline constexpr std::int32_t DISP_MT_INIT = 5;
// MarqueeFormat that keeps the text in place while it appears; any other value walks it in.
inline constexpr std::int32_t DISP_MF_PLACE = 1;

// One OPOS window: its text, where it shows on the display, its cursor and its marquee.
struct LineDisplayWindow {
  std::vector<std::string> text;  // Rows lines of Columns bytes
  std::int32_t Rows = 0;
  std::int32_t Columns = 0;
  std::int32_t ViewportRow = 0;
  std::int32_t ViewportColumn = 0;
  std::int32_t ViewportHeight = 0;
  std::int32_t ViewportWidth = 0;
  std::int32_t column_offset = 0;  // how far the text is shifted inside the viewport
  std::int32_t row_offset = 0;
  bool CursorUpdate = false;
  std::int32_t CursorRow = 0;
  std::int32_t CursorColumn = 0;
  std::int32_t MarqueeType = DISP_MT_NONE;
  std::int32_t MarqueeFormat = 0;
  std::int32_t MarqueeRepeatWait = 0;  // ms
  std::int32_t MarqueeUnitWait = 0;    // ms
};

// A window of `rows` x `columns` spaces shown in the given viewport, offsets 0, cursor at 0, 0.
LineDisplayWindow MakeWindow(std::int32_t viewport_row, std::int32_t viewport_column,
                             std::int32_t viewport_height, std::int32_t viewport_width, std::int32_t rows,
                             std::int32_t columns);

// `rows` rows of `columns` spaces.
screen_rows BlankScreen(std::int32_t rows, std::int32_t columns);

// Stores `bytes` into the window from (row, column) on, one byte per character: before a byte
// that would fall beyond the last column the position moves to the start of the next row, and
// when there is none the rest is dropped (a window never scrolls by itself). With `move_cursor`
// the cursor ends just after the last byte stored (its column may equal Columns). CR (0D) and LF
// (0A) are not stored: CR moves to column 0 of the row, LF to the same column of the next row.
void PutText(LineDisplayWindow& window, std::string_view bytes, std::int32_t row, std::int32_t column,
             bool move_cursor);

// Composes the window's viewport onto `screen` with its current offsets: viewport line i shows
// window line i - row_offset (spaces outside the window), from text column column_offset on
// (a negative offset moves the text right). Returns the bytes that show the result from the
// display's home position: the screen rows from row 0 down to the viewport's last row on the
// display. Parts of the viewport beyond the display are left out.
std::string ComposeWindow(screen_rows& screen, const LineDisplayWindow& window);

// Number of frames in one pass of a left or right marquee: Columns + ViewportWidth - 1.
std::int32_t HorizontalMarqueeFrames(const LineDisplayWindow& window);

// Frame `k` (0 to HorizontalMarqueeFrames - 1) of a left or right marquee of the window, laid
// over a copy of `screen`: the bytes that show it from the home position. Walking (any format
// but place) the text enters at one side and leaves at the other; placing, it appears in place
// and then leaves.
std::string HorizontalMarqueeFrame(const screen_rows& screen, const LineDisplayWindow& window,
                                   std::int32_t direction, std::int32_t k);

// The row offsets of one pass of an up or down marquee, in order. Up: 0, then from the
// viewport's last line (ViewportHeight - 1, at most Rows - 1) down to -(Rows - 1); down:
// -(Rows - 1) up to ViewportHeight - 1.
std::vector<std::int32_t> VerticalMarqueeOffsets(const LineDisplayWindow& window, std::int32_t direction);

// True when the offsets keep some text in the viewport: -(ViewportWidth - 1) <= column offset
// <= Columns - 1 and -(Rows - 1) <= row offset <= ViewportHeight - 1.
bool OffsetsInBounds(const LineDisplayWindow& window, std::int32_t row_offset, std::int32_t column_offset);

// Shifts the window's text itself by `units` rows (up, down) or columns (left, right), at most
// the size less one; freed rows and columns fill with spaces.
void ShiftText(LineDisplayWindow& window, std::int32_t direction, std::int32_t units);

}  // namespace devsvc
