// The customer display's screen: characters at the cursor, wrapping as the display's mode says.
#include "display_model.h"

#include <algorithm>
#include <string>

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

}  // namespace vprinter::detail
