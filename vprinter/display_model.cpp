// The customer display's screen: characters at the cursor, wrapping as the display's mode says;
// the screen as text and as an image.
#include "display_model.h"

#include <algorithm>
#include <string>

#include "platform/codepage.h"

namespace vprinter::detail {

display_model::display_model(int columns, int rows)
    : columns_(std::max(columns, 1)), rows_(std::max(rows, 1)) {
  initialise();
}

void display_model::initialise() {
  const int self_tests = state.self_tests;
  state = display_state{};
  state.lines.assign(static_cast<std::size_t>(rows_), std::string(static_cast<std::size_t>(columns_), ' '));
  state.self_tests = self_tests;
}

void display_model::scroll_up() {
  state.lines.erase(state.lines.begin());
  state.lines.emplace_back(static_cast<std::size_t>(columns_), ' ');
}

void display_model::put(char c) {
  if (state.cursor_column >= columns_) {
    // The cursor stood past the end of a row: the character goes to the start of the next.
    state.cursor_column = 0;
    if (state.cursor_row + 1 < rows_) {
      ++state.cursor_row;
    } else if (state.mode == 2) {
      scroll_up();
    } else {
      state.cursor_row = 0;  // overwrite mode wraps to the top left
    }
  }
  if (state.mode == 3 && state.cursor_column == columns_ - 1 &&
      state.lines[static_cast<std::size_t>(state.cursor_row)][static_cast<std::size_t>(columns_ - 1)] != ' ') {
    // Horizontal scroll mode: the row moves left to make room at its end.
    auto& row = state.lines[static_cast<std::size_t>(state.cursor_row)];
    row.erase(row.begin());
    row.push_back(c);
    return;
  }
  state.lines[static_cast<std::size_t>(state.cursor_row)][static_cast<std::size_t>(state.cursor_column)] = c;
  if (state.mode == 3 && state.cursor_column == columns_ - 1) return;
  ++state.cursor_column;
}

void display_model::text(std::string_view bytes) {
  for (char c : bytes) put(c);
}

void display_model::clear() {
  for (auto& l : state.lines) l.assign(static_cast<std::size_t>(columns_), ' ');
  home();
}

void display_model::clear_line() {
  state.lines[static_cast<std::size_t>(state.cursor_row)].assign(static_cast<std::size_t>(columns_), ' ');
  state.cursor_column = 0;
}

void display_model::home() {
  state.cursor_row = 0;
  state.cursor_column = 0;
}

void display_model::carriage_return() { state.cursor_column = 0; }

void display_model::line_feed() {
  if (state.cursor_row + 1 < rows_)
    ++state.cursor_row;
  else if (state.mode == 2)
    scroll_up();
  else
    state.cursor_row = 0;
}

void display_model::back() {
  if (state.cursor_column > 0) {
    --state.cursor_column;
  } else if (state.cursor_row > 0) {
    --state.cursor_row;
    state.cursor_column = columns_ - 1;
  }
}

void display_model::forward() {
  if (state.cursor_column + 1 < columns_) {
    ++state.cursor_column;
  } else {
    state.cursor_column = 0;
    line_feed();
  }
}

void display_model::move_to(int column, int row) {
  if (column < 1 || column > columns_ || row < 1 || row > rows_) return;
  state.cursor_column = column - 1;
  state.cursor_row = row - 1;
}

void display_model::bottom() {
  state.cursor_row = rows_ - 1;
  state.cursor_column = 0;
}

// ---------------------------------------------------------------------------------------------
// The screen as text and as an image

namespace {

// Code table that holds the Windows ANSI characters; the others hold PC437's.
constexpr int kAnsiCodeTable = 1;
// Thickness of the frame drawn around the screen, in dots.
constexpr int kFrameDots = 2;

// The character a display byte shows: control bytes as a space, the rest in the code page.
char32_t shown_character(unsigned char byte, int codepage) {
  if (byte < 0x20 || byte == 0x7F) return U' ';
  if (byte < 0x80) return byte;
  const std::string utf8 = platform::codepage_to_utf8(std::string(1, static_cast<char>(byte)), codepage);
  std::size_t pos = 0;
  char32_t cp = U'?';
  platform::decode_utf8_char(utf8, pos, cp);
  return cp;
}

void append_utf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

}  // namespace

int display_codepage(int code_table) { return code_table == kAnsiCodeTable ? 1252 : 437; }

std::vector<std::string> display_text_lines(const display_state& state) {
  const int codepage = display_codepage(state.code_table);
  std::vector<std::string> lines;
  for (const std::string& row : state.lines) {
    std::string text;
    for (const char c : row) append_utf8(text, shown_character(static_cast<unsigned char>(c), codepage));
    lines.push_back(std::move(text));
  }
  return lines;
}

bitmap render_display(const display_state& state, const cell_font& font) {
  const int cw = font.cell_width();
  const int ch = font.cell_height();
  std::size_t columns = 0;
  for (const std::string& row : state.lines) columns = std::max(columns, row.size());
  const int margin = ch / 2 + kFrameDots;
  const int width = static_cast<int>(columns) * cw + 2 * margin;
  const int height = static_cast<int>(state.lines.size()) * ch + 2 * margin;
  bitmap image(width, height);
  for (int i = 0; i < kFrameDots; ++i) {
    for (int x = 0; x < width; ++x) {
      image.set(x, i);
      image.set(x, height - 1 - i);
    }
    for (int y = 0; y < height; ++y) {
      image.set(i, y);
      image.set(width - 1 - i, y);
    }
  }
  const int codepage = display_codepage(state.code_table);
  for (std::size_t r = 0; r < state.lines.size(); ++r) {
    const std::string& row = state.lines[r];
    for (std::size_t c = 0; c < row.size(); ++c) {
      const glyph& g = font.find(shown_character(static_cast<unsigned char>(row[c]), codepage));
      const int x0 = margin + static_cast<int>(c) * cw;
      const int y0 = margin + static_cast<int>(r) * ch;
      for (int y = 0; y < g.height; ++y) {
        for (int x = 0; x < g.width; ++x) {
          if (g.get(x, y)) image.set(x0 + x, y0 + y);
        }
      }
    }
  }
  return image;
}

}  // namespace vprinter::detail
