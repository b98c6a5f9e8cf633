// What the print mechanism does with the commands: print modes, the line buffer, standard and
// page mode, and the paper they produce as a 1-bit image.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "barcode.h"
#include "font.h"
#include "two_d_codes.h"
#include "vprinter/bitmap.h"
#include "vprinter/virtual_printer.h"

namespace vprinter::detail {

// Print modes set by commands and reset by ESC @.
struct print_modes {
  int font = 0;              // 0 font A, 1 font B
  bool bold = false;         // ESC E / ESC G
  int underline = 0;         // dots, 0 to 2
  bool reverse = false;      // GS B
  bool upside_down = false;  // ESC {
  bool rotate90 = false;     // ESC V
  int width_scale = 1;       // GS ! / ESC !
  int height_scale = 1;
  int alignment = 0;         // ESC a: 0 left, 1 centre, 2 right
  int line_spacing = 0;      // dots
  int char_spacing = 0;      // right-side spacing, dots
  int left_margin = 0;       // dots
  int area_width = 0;        // dots
  int code_table = 0;        // ESC t n
  int international = 0;     // ESC R n
  int motion_x = 0;          // GS P: 1/motion_x inch, 0 = one dot
  int motion_y = 0;
  std::vector<int> tabs;     // ESC D, in character columns
  int direction = 0;         // ESC T, page mode
  int area_x = 0, area_y = 0, area_w = 0, area_h = 0;  // ESC W, dots
  int barcode_height = 162;  // GS h
  int barcode_module = 3;    // GS w
  int hri_position = 0;      // GS H: 0 none, 1 above, 2 below, 3 both
  int hri_font = 0;          // GS f
  bool red = false;          // GS ( N: characters in colour 2 (two-colour printers)
  two_d_settings two_d;      // GS ( k
};

class print_model {
 public:
  explicit print_model(const config& cfg);

  print_modes modes;
  // The code table ESC @ returns to (the one chosen in the printer's setup).
  int default_code_table = 0;

  // ESC @: modes back to their defaults, buffered data and page mode dropped.
  void initialise();
  // Printable bytes in the current code table.
  void text(std::string_view bytes);
  // HT: to the next tab position.
  void tab();
  // LF: print the line and feed one line.
  void line_feed();
  // ESC J: print the line and feed `dots`.
  void print_and_feed(int dots);
  // ESC d: print the line and feed `lines` lines.
  void print_and_feed_lines(int lines);
  // GS V: print the line, feed `feed_dots`, cut.
  void cut(bool partial, int feed_dots);
  // ESC $ / ESC \: horizontal position in dots from the start of the line.
  void set_x(int dots);
  void move_x(int dots);
  // Prints an image block (raster, stored or downloaded image) scaled by whole factors.
  void image(const bitmap& img, int scale_x, int scale_y);
  // Prints a two-colour image block: `black` and `red` planes of one picture, one over the other.
  void image_planes(const bitmap& black, const bitmap& red, int scale_x, int scale_y);
  // ESC *: a bit image that sits in the line with the characters.
  void line_image(const bitmap& img);
  // GS k: a bar code with the current height, module width and HRI settings.
  void barcode(const barcode_symbol& symbol);
  // A block of text lines printed in the current font and then fed, for test prints.
  void text_block(const std::vector<std::string>& lines);

  // Page mode.
  bool page_mode() const { return page_mode_; }
  void enter_page_mode();         // ESC L
  void print_page(bool leave);    // FF (leave) or ESC FF (stay)
  void leave_page_mode();         // ESC S: back to standard mode, page data dropped
  void cancel_page();             // CAN: page data of the print area dropped
  void set_print_area(int x, int y, int w, int h);  // ESC W, dots
  void set_direction(int d);      // ESC T
  void set_page_y(int dots);      // GS $
  void move_page_y(int dots);     // GS \ .

  // Horizontal and vertical motion units converted to dots.
  int hdots(int units) const;
  int vdots(int units) const;
  // Motion units along a line (character spacing, ESC $, ESC \) and across lines (feeds, line
  // spacing, GS $, GS \) converted to dots: in page mode with the lines running up or down the
  // paper (ESC T 1, 3) the horizontal and vertical units swap roles.
  int along_dots(int units) const;
  int across_dots(int units) const;
  // True when the line buffer holds something not printed yet.
  bool line_pending() const { return !items_.empty(); }
  // True when the page buffer holds data that has not been printed.
  bool page_has_data() const { return page_dirty_; }

  const bitmap& paper() const { return paper_; }
  // The red dots of the paper, row for row with paper(); no taller than its last red row.
  bitmap red_paper_image() const;
  // Rows of paper dropped from the top to keep the paper within its limit.
  long long dropped_dots() const { return dropped_dots_; }
  // The paper down to the current feed position.
  bitmap paper_image() const;
  // The feed position in rows of paper(): the rows above it are printed for good.
  int feed_position() const { return y_; }
  int cuts() const { return cuts_; }
  int lines_printed() const { return lines_; }
  // Notes about things printed in a reduced way (e.g. bar codes too wide); the caller logs them.
  std::vector<std::string> take_notes();

  // The font of the current mode, or of `font` when given.
  const cell_font& font(int font) const;

 private:
  struct item {
    int x = 0;
    bitmap img;
    bool red = false;  // printed in colour 2
  };
  const config cfg_;
  std::shared_ptr<const cell_font> font_a_;
  std::shared_ptr<const cell_font> font_b_;
  std::array<char32_t, 256> code_points_{};
  int code_points_table_ = -1;
  bitmap paper_;
  bitmap red_paper_;             // the red dots, same rows as paper_ (shorter while the rest is black)
  int y_ = 0;                    // feed position on the paper
  long long dropped_dots_ = 0;   // rows dropped from the top (paper limit)
  std::vector<item> items_;      // the line buffer
  int x_ = 0;                    // next position in the line, dots
  int cuts_ = 0;
  int lines_ = 0;
  std::vector<std::string> notes_;
  // Page mode.
  bool page_mode_ = false;
  bool page_dirty_ = false;
  bitmap page_;                  // physical page: paper width x (area y + area h)
  std::optional<int> base_;      // logical baseline of the current line
  bool base_set_ = false;        // base_ was placed by GS $ / GS \ rather than by a feed
  std::optional<int> last_base_;  // baseline of the last line put on the page
  bool line_upside_down_ = false;  // ESC { as it stood when the line buffer's first item came

  void load_code_table();
  void drop_page();              // back to standard mode without the page, line at its start
  std::unordered_map<std::uint64_t, bitmap> cells_;  // character cells drawn, by char and modes
  bitmap char_cell(std::uint8_t byte);
  bitmap draw_cell(std::uint8_t byte);
  int line_width() const;        // room for the line: area width, or the page's logical width
  void add_item(bitmap img);
  int flush_line();              // prints the line buffer; returns its height
  void feed(int dots);
  // Keeps the paper within its limit before something is printed down to row `bottom`.
  void make_room(int bottom);
  // Composes the line buffer `width` dots wide: every item, or only the red or only the black ones.
  enum class ink_filter { all, black, red };
  bitmap compose_line(int width, ink_filter filter = ink_filter::all) const;
  // Prints the red items of the line buffer onto the red plane at the current line.
  void blit_red_line(int offset, int height);
  void blit_standard(const bitmap& line, int height);
  // Puts a composed line on the page in the current direction; returns the dots that fell
  // outside the print area.
  int draw_on_page(const bitmap& line, int top);
  bool sideways() const;         // page mode with lines running up or down the paper
  int logical_width() const;
  int logical_height() const;
};

}  // namespace vprinter::detail
