// Window records and screen composition of the line display: text placement, viewport
// rendering, scrolling and marquee frames.
#include "display/display_window.h"

#include <algorithm>

namespace devsvc {
namespace {

// Copies `segment` into `row` from column `at`, cut at the row's end.
void Overlay(std::string& row, std::int32_t at, std::string_view segment) {
  if (at < 0 || static_cast<std::size_t>(at) >= row.size()) return;
  const std::size_t n = std::min(segment.size(), row.size() - static_cast<std::size_t>(at));
  row.replace(static_cast<std::size_t>(at), n, segment.substr(0, n));
}

// Copies `count` bytes of `line` from `from` into `segment` at `at`, as far as both allow.
void CopyInto(std::string& segment, const std::string& line, std::int32_t from, std::int32_t count, std::int32_t at) {
  if (from < 0 || at < 0) return;
  const auto line_size = static_cast<std::int32_t>(line.size());
  const auto segment_size = static_cast<std::int32_t>(segment.size());
  count = std::min({count, line_size - from, segment_size - at});
  if (count <= 0) return;
  segment.replace(static_cast<std::size_t>(at), static_cast<std::size_t>(count), line,
                  static_cast<std::size_t>(from), static_cast<std::size_t>(count));
}

// The rows 0 to `last` of `screen`, one after another.
std::string RowsUpTo(const screen_rows& screen, std::int32_t last) {
  std::string out;
  for (std::int32_t r = 0; r <= last; ++r) out += screen[static_cast<std::size_t>(r)];
  return out;
}

// The viewport line `i` of the window with the given offsets, ViewportWidth bytes.
std::string ViewportLine(const LineDisplayWindow& w, std::int32_t i, std::int32_t row_offset,
                         std::int32_t column_offset) {
  std::string segment(static_cast<std::size_t>(std::max(w.ViewportWidth, 0)), ' ');
  const std::int32_t s = i - row_offset;
  if (s < 0 || s >= w.Rows) return segment;
  const std::string& line = w.text[static_cast<std::size_t>(s)];
  if (column_offset >= 0) {
    CopyInto(segment, line, column_offset, std::min(w.ViewportWidth, w.Columns - column_offset), 0);
  } else {
    CopyInto(segment, line, 0, std::min(w.ViewportWidth + column_offset, w.Columns), -column_offset);
  }
  return segment;
}

// Lays the viewport lines that `line_of` gives over `screen` and returns the bytes that show the
// result from home; `lines` viewport lines at most.
template <class LineOf>
std::string LayViewport(screen_rows& screen, const LineDisplayWindow& w, std::int32_t lines, LineOf line_of) {
  std::int32_t last = -1;
  for (std::int32_t i = 0; i < lines; ++i) {
    const std::int32_t r = w.ViewportRow + i;
    if (r < 0 || r >= static_cast<std::int32_t>(screen.size())) break;
    Overlay(screen[static_cast<std::size_t>(r)], w.ViewportColumn, line_of(i));
    last = r;
  }
  return RowsUpTo(screen, last);
}

}  // namespace

LineDisplayWindow MakeWindow(std::int32_t viewport_row, std::int32_t viewport_column,
                             std::int32_t viewport_height, std::int32_t viewport_width, std::int32_t rows,
                             std::int32_t columns) {
  LineDisplayWindow w;
  w.Rows = std::max(rows, 0);
  w.Columns = std::max(columns, 0);
  w.text = BlankScreen(w.Rows, w.Columns);
  w.ViewportRow = viewport_row;
  w.ViewportColumn = viewport_column;
  w.ViewportHeight = viewport_height;
  w.ViewportWidth = viewport_width;
  return w;
}

screen_rows BlankScreen(std::int32_t rows, std::int32_t columns) {
  return screen_rows(static_cast<std::size_t>(std::max(rows, 0)),
                     std::string(static_cast<std::size_t>(std::max(columns, 0)), ' '));
}

void PutText(LineDisplayWindow& w, std::string_view bytes, std::int32_t row, std::int32_t column, bool move_cursor) {
  std::int32_t r = row;
  std::int32_t c = column;
  for (const char b : bytes) {
    // CR and LF move the position as they move the display's cursor: CR to the row's start, LF
    // to the same column of the next row (past the last row the rest is dropped).
    if (b == '\r') {
      c = 0;
      continue;
    }
    if (b == '\n') {
      if (r + 1 >= w.Rows) break;
      ++r;
      continue;
    }
    std::int32_t next_row = r;
    std::int32_t next_column = c;
    if (next_column >= w.Columns) {
      next_column = 0;
      ++next_row;
    }
    if (next_row < 0 || next_row >= w.Rows || next_column < 0) break;  // no room left: the rest is dropped
    w.text[static_cast<std::size_t>(next_row)][static_cast<std::size_t>(next_column)] = b;
    r = next_row;
    c = next_column + 1;
  }
  if (move_cursor) {
    w.CursorRow = r;
    w.CursorColumn = c;
  }
}

std::string ComposeWindow(screen_rows& screen, const LineDisplayWindow& w) {
  return LayViewport(screen, w, w.ViewportHeight,
                     [&](std::int32_t i) { return ViewportLine(w, i, w.row_offset, w.column_offset); });
}

std::int32_t HorizontalMarqueeFrames(const LineDisplayWindow& w) {
  if (w.Columns < 1 || w.ViewportWidth < 1) return 0;
  return w.Columns + w.ViewportWidth - 1;
}

std::string HorizontalMarqueeFrame(const screen_rows& screen, const LineDisplayWindow& w, std::int32_t direction,
                                   std::int32_t k) {
  const std::int32_t C = w.Columns;
  const std::int32_t VW = w.ViewportWidth;
  const std::int32_t n = std::min(k + 1, C);
  const bool walk = w.MarqueeFormat != DISP_MF_PLACE;
  const auto line_of = [&](std::int32_t l) {
    std::string segment(static_cast<std::size_t>(std::max(VW, 0)), ' ');
    const std::string& line = w.text[static_cast<std::size_t>(l)];
    if (direction == DISP_ST_LEFT) {
      if (k < VW) {
        CopyInto(segment, line, 0, n, walk ? VW - n : 0);
      } else {
        const std::int32_t s = k - VW + 1;
        CopyInto(segment, line, s, std::min(VW, C - s), 0);
      }
    } else if (k < VW) {
      CopyInto(segment, line, C - n, n, walk ? 0 : VW - n);
    } else if (const std::int32_t s = C - k - 1; s >= 0) {
      CopyInto(segment, line, s, std::min(VW, C - s), 0);
    } else {
      const std::int32_t d = k - C + 1;
      CopyInto(segment, line, 0, VW - d, d);
    }
    return segment;
  };
  // Only the lines inside the viewport are shown: a window taller than its viewport would
  // otherwise draw over the rows below it.
  screen_rows copy = screen;
  return LayViewport(copy, w, std::min(w.Rows, w.ViewportHeight), line_of);
}

std::vector<std::int32_t> VerticalMarqueeOffsets(const LineDisplayWindow& w, std::int32_t direction) {
  std::vector<std::int32_t> offsets;
  if (w.Rows < 1 || w.ViewportHeight < 1) return offsets;
  const std::int32_t low = -(w.Rows - 1);
  const std::int32_t high = w.ViewportHeight - 1;
  if (direction == DISP_ST_UP) {
    offsets.push_back(0);
    // The text enters at the viewport's last line; a window taller than its viewport starts
    // there too rather than at an offset that shows nothing.
    for (std::int32_t off = std::min(w.Rows - 1, high); off >= low; --off) offsets.push_back(off);
  } else if (direction == DISP_ST_DOWN) {
    for (std::int32_t off = low; off <= high; ++off) offsets.push_back(off);
  }
  return offsets;
}

bool OffsetsInBounds(const LineDisplayWindow& w, std::int32_t row_offset, std::int32_t column_offset) {
  return column_offset >= -(w.ViewportWidth - 1) && column_offset <= w.Columns - 1 &&
         row_offset >= -(w.Rows - 1) && row_offset <= w.ViewportHeight - 1;
}

void ShiftText(LineDisplayWindow& w, std::int32_t direction, std::int32_t units) {
  const std::string blank_line(static_cast<std::size_t>(w.Columns), ' ');
  if (direction == DISP_ST_UP || direction == DISP_ST_DOWN) {
    const std::int32_t n = std::min(units, w.Rows - 1);
    if (n <= 0) return;
    auto& t = w.text;
    if (direction == DISP_ST_UP) {
      t.erase(t.begin(), t.begin() + n);
      t.insert(t.end(), static_cast<std::size_t>(n), blank_line);
    } else {
      t.erase(t.end() - n, t.end());
      t.insert(t.begin(), static_cast<std::size_t>(n), blank_line);
    }
    return;
  }
  if (direction != DISP_ST_LEFT && direction != DISP_ST_RIGHT) return;
  const std::int32_t n = std::min(units, w.Columns - 1);
  if (n <= 0) return;
  const auto shift = static_cast<std::size_t>(n);
  for (std::string& line : w.text) {
    if (direction == DISP_ST_LEFT) {
      line = line.substr(shift) + std::string(shift, ' ');
    } else {
      line = std::string(shift, ' ') + line.substr(0, line.size() - shift);
    }
  }
}

}  // namespace devsvc
