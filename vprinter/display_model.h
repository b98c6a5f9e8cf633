// The customer display behind the printer: a screen of text rows, its cursor and its modes, and
// the screen shown as text or drawn as an image.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "font.h"
#include "vprinter/bitmap.h"
#include "vprinter/virtual_printer.h"

namespace vprinter::detail {

class display_model {
 public:
  display_model(int columns, int rows);

  display_state state;

  void initialise();              // ESC @
  void text(std::string_view bytes);
  void clear();                   // FF: blank screen, cursor home
  void clear_line();              // CAN: blank the cursor row, cursor to its start
  void home();                    // VT
  void carriage_return();         // CR
  void line_feed();               // LF
  void back();                    // BS
  void forward();                 // HT
  void move_to(int column, int row);  // US $ x y, both from 1
  void bottom();                  // US B

 private:
  int columns_;
  int rows_;
  void put(char c);
  void scroll_up();
};

// The code page of the display's character code table (ESC t n): table 1 holds the Windows ANSI
// characters (1252), every other table the PC437 ones.
int display_codepage(int code_table);

// The display's rows as UTF-8 text, decoded in its current code table; control bytes show as
// spaces.
std::vector<std::string> display_text_lines(const display_state& state);

// The display drawn with `font`: every row in character cells, framed, with a margin of one
// character height.
bitmap render_display(const display_state& state, const cell_font& font);

}  // namespace vprinter::detail
