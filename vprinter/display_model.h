// The customer display behind the printer: a screen of text rows, its cursor and its modes.
#pragma once

#include <string_view>

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

}  // namespace vprinter::detail
