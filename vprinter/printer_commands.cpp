// The printer's command table, written from the printer's side: one row per command it knows,
// with the rule for its length and what receiving it does.
#include <algorithm>
#include <cstdio>
#include <string>

#include "barcode.h"
#include "colour_commands.h"
#include "code_tables.h"
#include "machine.h"
#include "two_d_codes.h"

namespace vprinter::detail {
namespace {

using kind = log_entry::kind;

int u8(std::string_view b, std::size_t i) { return i < b.size() ? static_cast<unsigned char>(b[i]) : 0; }
int u16(std::string_view b, std::size_t i) { return u8(b, i) | u8(b, i + 1) << 8; }
int s16(std::string_view b, std::size_t i) { return static_cast<std::int16_t>(static_cast<std::uint16_t>(u16(b, i))); }
std::size_t u32(std::string_view b, std::size_t i) {
  return static_cast<std::size_t>(u16(b, i)) | static_cast<std::size_t>(u16(b, i + 2)) << 16;
}
// Parameters given either as 0, 1, ... or as the digits '0', '1', ...
int digit_param(int n) { return n >= 48 && n <= 57 ? n - 48 : n; }

// Length rules of the variable-length commands.

std::size_t len_raster(std::string_view b) {  // GS v 0 m xL xH yL yH d...
  return b.size() < 8 ? 0 : 8 + static_cast<std::size_t>(u16(b, 4)) * static_cast<std::size_t>(u16(b, 6));
}

std::size_t len_barcode(std::string_view b) {  // GS k m d... NUL | GS k m n d1...dn
  if (b.size() < 3) return 0;
  const int m = u8(b, 2);
  if (m <= 6) {
    const std::size_t nul = b.find('\0', 3);
    if (nul != std::string_view::npos) return nul + 1;
    return b.size() >= 3 + 256 ? b.size() : 0;  // no NUL within 255 data bytes: stop there
  }
  if (m >= 65) return b.size() < 4 ? 0 : 4 + static_cast<std::size_t>(u8(b, 3));
  return 3;
}

std::size_t len_define_nv(std::string_view b) {  // FS q n [xL xH yL yH d...]n
  if (b.size() < 3) return 0;
  std::size_t pos = 3;
  for (int k = 0; k < u8(b, 2); ++k) {
    if (b.size() < pos + 4) return 0;
    pos += 4 + static_cast<std::size_t>(u16(b, pos)) * static_cast<std::size_t>(u16(b, pos + 2)) * 8;
  }
  return pos;
}

std::size_t len_bit_image(std::string_view b) {  // ESC * m nL nH d...
  if (b.size() < 5) return 0;
  const int m = u8(b, 2);
  const std::size_t n = static_cast<std::size_t>(u16(b, 3));
  return 5 + ((m == 32 || m == 33) ? 3 * n : n);
}

std::size_t len_paren(std::string_view b) {  // GS ( fn pL pH ...
  return b.size() < 5 ? 0 : 5 + static_cast<std::size_t>(u16(b, 3));
}

std::size_t len_graphics_large(std::string_view b) {  // GS 8 L p1 p2 p3 p4 ...
  return b.size() < 7 ? 0 : 7 + u32(b, 3);
}

std::size_t len_tabs(std::string_view b) {  // ESC D n1 ... NUL
  const std::size_t nul = b.find('\0', 2);
  if (nul != std::string_view::npos) return nul + 1;
  return b.size() >= 2 + 33 ? b.size() : 0;
}

std::size_t len_user_chars(std::string_view b) {  // ESC & y c1 c2 [x d1...d(y*x)]...
  if (b.size() < 5) return 0;
  const int y = u8(b, 2), c1 = u8(b, 3), c2 = u8(b, 4);
  std::size_t pos = 5;
  for (int c = c1; c <= c2; ++c) {
    if (b.size() < pos + 1) return 0;
    pos += 1 + static_cast<std::size_t>(y) * static_cast<std::size_t>(u8(b, pos));
  }
  return pos;
}

std::size_t len_download(std::string_view b) {  // GS * x y d...
  return b.size() < 4 ? 0 : 4 + static_cast<std::size_t>(u8(b, 2)) * static_cast<std::size_t>(u8(b, 3)) * 8;
}

std::size_t len_cut(std::string_view b) {  // GS V m [n]
  if (b.size() < 3) return 0;
  const int m = u8(b, 2);
  return (m == 65 || m == 66 || m == 97 || m == 98 || m == 103 || m == 104) ? 4 : 3;
}

std::size_t len_realtime(std::string_view b) {
  const std::size_t n = realtime_length(b);
  return n == std::string_view::npos ? b.size() : n;
}

std::size_t len_setup(std::string_view b) {  // ESC } SP a|m, or ESC } a|m ... NUL
  if (b.size() < 3) return 0;
  if (b[2] == ' ') return 4;
  const std::size_t nul = b.find('\0', 3);
  if (nul != std::string_view::npos) return nul + 1;
  return b.size() >= 4096 ? b.size() : 0;
}

// Images in column form (FS q, GS *): columns left to right, each `rows8` bytes top down, the top
// dot of a byte in its most significant bit.
bitmap columns_to_bitmap(std::string_view data, int columns, int rows8) {
  bitmap img(columns, rows8 * 8);
  for (int c = 0; c < columns; ++c)
    for (int k = 0; k < rows8; ++k) {
      const int byte = u8(data, static_cast<std::size_t>(c) * static_cast<std::size_t>(rows8) + static_cast<std::size_t>(k));
      for (int bit = 0; bit < 8; ++bit)
        if (byte & (0x80 >> bit)) img.set(c, k * 8 + bit);
    }
  return img;
}

// Images in raster form (GS v 0, GS ( L): rows top down, `row_bytes` per row, left dot in bit 7.
bitmap raster_to_bitmap(std::string_view data, int width, int height, int row_bytes) {
  bitmap img(width, height);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const int byte = u8(data, static_cast<std::size_t>(y) * static_cast<std::size_t>(row_bytes) + static_cast<std::size_t>(x / 8));
      if (byte & (0x80 >> (x % 8))) img.set(x, y);
    }
  return img;
}

void scale_of_mode(int mode, int& sx, int& sy) {
  mode = digit_param(mode);
  sx = (mode & 1) ? 2 : 1;
  sy = (mode & 2) ? 2 : 1;
}

void flush_notes(machine& m) {
  for (auto& n : m.print.take_notes()) m.note(kind::note, std::move(n));
}

// Handlers.

void on_text(machine& m, std::string_view b) {
  m.print.text(b);
  flush_notes(m);
}
void on_ignore(machine& m, std::string_view b) {
  (void)b;
  (void)m;
}
template <const char* Why>
void on_ignored(machine& m, std::string_view) {
  m.note(kind::ignored, Why);
}
void on_ht(machine& m, std::string_view) { m.print.tab(); }
void on_lf(machine& m, std::string_view) {
  m.print.line_feed();
  flush_notes(m);
}
void on_ff(machine& m, std::string_view) {
  if (m.print.page_mode()) m.print.print_page(true);
  else m.note(kind::ignored, "FF in standard mode");
  flush_notes(m);
}
void on_can(machine& m, std::string_view) {
  if (m.awaiting_setup_reply) m.setup_handshake(0x18);
  else if (m.print.page_mode()) m.print.cancel_page();
}
void on_ack_nak(machine& m, std::string_view b) {
  if (m.awaiting_setup_reply) m.setup_handshake(static_cast<std::uint8_t>(b[0]));
  else if (b[0] == 0x06 && m.key_list_acknowledged()) return;
  else m.note(kind::ignored, b[0] == 0x06 ? "ACK outside a setup exchange" : "NAK outside a setup exchange");
}
void on_nul(machine& m, std::string_view) { m.note(kind::ignored, "NUL"); }
void on_dc3(machine& m, std::string_view) { m.note(kind::ignored, "DC3"); }

void on_dle_eot(machine& m, std::string_view b) { m.realtime_status(u8(b, 2)); }
void on_dle_enq(machine& m, std::string_view b) { m.realtime_recover(u8(b, 2)); }
void on_dle_dc4(machine& m, std::string_view b) { m.realtime_request(b); }
void on_select_peripheral(machine& m, std::string_view b) { m.select_peripheral(u8(b, 2)); }

void on_esc_ff(machine& m, std::string_view) {
  if (m.print.page_mode()) m.print.print_page(false);
  else m.note(kind::ignored, "ESC FF in standard mode");
  flush_notes(m);
}
void on_char_spacing(machine& m, std::string_view b) { m.print.modes.char_spacing = m.print.along_dots(u8(b, 2)); }
void on_print_mode(machine& m, std::string_view b) {
  const int n = u8(b, 2);
  auto& md = m.print.modes;
  md.font = n & 0x01;
  md.bold = (n & 0x08) != 0;
  md.height_scale = (n & 0x10) ? 2 : 1;
  md.width_scale = (n & 0x20) ? 2 : 1;
  md.underline = (n & 0x80) ? 1 : 0;
}
void on_abs_x(machine& m, std::string_view b) { m.print.set_x(m.print.along_dots(u16(b, 2))); }
void on_rel_x(machine& m, std::string_view b) { m.print.move_x(m.print.along_dots(s16(b, 2))); }
void on_bit_image(machine& m, std::string_view b) {
  const int mode = u8(b, 2), n = u16(b, 3);
  const bool dots24 = mode == 32 || mode == 33;
  if (mode != 0 && mode != 1 && !dots24) {
    m.note(kind::ignored, "ESC * with unknown mode " + std::to_string(mode));
    return;
  }
  const int rows8 = dots24 ? 3 : 1;
  bitmap img = columns_to_bitmap(b.substr(5), n, rows8);
  // Single density doubles each column; 8-dot images are three times as tall per dot.
  const int sx = (mode == 0 || mode == 32) ? 2 : 1;
  const int sy = dots24 ? 1 : 3;
  bitmap out(img.width() * sx, img.height() * sy);
  for (int y = 0; y < out.height(); ++y)
    for (int x = 0; x < out.width(); ++x)
      if (img.get(x / sx, y / sy)) out.set(x, y);
  m.print.line_image(out);
  flush_notes(m);
}
void on_underline(machine& m, std::string_view b) {
  const int n = digit_param(u8(b, 2));
  if (n <= 2) m.print.modes.underline = n;
  else m.note(kind::ignored, "ESC - with n out of range");
}
void on_default_spacing(machine& m, std::string_view) { m.print.modes.line_spacing = m.cfg().line_spacing_dots; }
void on_line_spacing(machine& m, std::string_view b) { m.print.modes.line_spacing = m.print.across_dots(u8(b, 2)); }
void on_initialise(machine& m, std::string_view) {
  if (m.print.page_has_data() || m.print.line_pending())
    m.note(kind::note, "ESC @ discarded data that was not printed");
  m.print.initialise();
}
void on_tabs(machine& m, std::string_view b) {
  auto& tabs = m.print.modes.tabs;
  tabs.clear();
  for (std::size_t i = 2; i < b.size() && b[i] != '\0'; ++i) {
    const int t = u8(b, i);
    if (!tabs.empty() && t <= tabs.back()) break;
    tabs.push_back(t);
  }
}
void on_bold(machine& m, std::string_view b) { m.print.modes.bold = (u8(b, 2) & 1) != 0; }
void on_feed_units(machine& m, std::string_view b) {
  m.print.print_and_feed(m.print.across_dots(u8(b, 2)));
  flush_notes(m);
}
void on_page_mode(machine& m, std::string_view) { m.print.enter_page_mode(); }
void on_standard_mode(machine& m, std::string_view) {
  m.print.leave_page_mode();
  flush_notes(m);
}
void on_font(machine& m, std::string_view b) {
  const int n = digit_param(u8(b, 2));
  if (n == 0 || n == 1) m.print.modes.font = n;
  else m.note(kind::ignored, "ESC M selects font " + std::to_string(n) + ", which this printer lacks");
}
void on_international(machine& m, std::string_view b) { m.print.modes.international = u8(b, 2); }
void on_direction(machine& m, std::string_view b) {
  const int n = digit_param(u8(b, 2));
  if (n <= 3) m.print.set_direction(n);
  else m.note(kind::ignored, "ESC T with n out of range");
  flush_notes(m);
}
void on_rotate(machine& m, std::string_view b) {
  const int n = digit_param(u8(b, 2));
  if (n <= 2) m.print.modes.rotate90 = n != 0;
  else m.note(kind::ignored, "ESC V with n out of range");
}
void on_print_area(machine& m, std::string_view b) {
  auto& p = m.print;
  p.set_print_area(p.hdots(u16(b, 2)), p.vdots(u16(b, 4)), p.hdots(u16(b, 6)), p.vdots(u16(b, 8)));
  flush_notes(m);
}
void on_alignment(machine& m, std::string_view b) {
  const int n = digit_param(u8(b, 2));
  if (n <= 2) m.print.modes.alignment = n;
  else m.note(kind::ignored, "ESC a with n out of range");
}
void on_feed_lines(machine& m, std::string_view b) {
  m.print.print_and_feed_lines(u8(b, 2));
  flush_notes(m);
}
void on_old_cut(machine& m, std::string_view) { m.print.cut(true, 0); }
void on_pulse(machine& m, std::string_view b) {
  const int pin = digit_param(u8(b, 2)) == 1 ? 5 : 2;
  const int on = u8(b, 3) * 2;
  const int off = std::max(u8(b, 4), u8(b, 3)) * 2;  // the off time is never shorter than the on time
  m.kick(pin, on, off);
}
void on_code_table(machine& m, std::string_view b) {
  const int n = u8(b, 2);
  if (!code_table_fitted(n)) m.note(kind::note, "ESC t " + std::to_string(n) + ": code table not fitted, PC437 used");
  m.print.modes.code_table = n;
}
void on_peripheral_status(machine& m, std::string_view) {
  m.answer_byte(status_byte(status_kind::drawer_gs_r, m.current_condition()));
}
void on_paper_status_old(machine& m, std::string_view) {
  m.answer_byte(status_byte(status_kind::paper_gs_r, m.current_condition()));
}
// Upside-down printing turns whole lines, so in standard mode it can only change between lines.
void on_upside_down(machine& m, std::string_view b) {
  if (!m.print.page_mode() && m.print.line_pending()) {
    m.note(kind::ignored, "ESC { in the middle of a line");
    return;
  }
  m.print.modes.upside_down = (u8(b, 2) & 1) != 0;
}
void on_setup(machine& m, std::string_view b) {
  if (b[2] == ' ') {
    if (b[3] == 'a' || b[3] == 'm') m.send_setup_block(b[3]);
    else m.note(kind::ignored, "ESC } with an unknown setup kind");
  } else if (b[2] == 'a' || b[2] == 'm') {
    m.receive_setup(b);
  } else {
    m.note(kind::ignored, "ESC } with an unknown setup kind");
  }
}

void on_char_size(machine& m, std::string_view b) {
  const int n = u8(b, 2);
  m.print.modes.width_scale = ((n >> 4) & 7) + 1;
  m.print.modes.height_scale = (n & 7) + 1;
}
void on_abs_y(machine& m, std::string_view b) {
  m.print.set_page_y(m.print.across_dots(u16(b, 2)));
  flush_notes(m);
}
void on_rel_y(machine& m, std::string_view b) {
  m.print.move_page_y(m.print.across_dots(s16(b, 2)));
  flush_notes(m);
}

void on_test_print(machine& m, std::string_view b) {
  const int paper = digit_param(u8(b, 5)), pattern = digit_param(u8(b, 6));
  if (u16(b, 3) != 2 || paper > 2 || pattern < 1 || pattern > 3) {
    m.note(kind::ignored, "GS ( A with parameters out of range");
    return;
  }
  const auto& c = m.cfg();
  char id[8];
  std::snprintf(id, sizeof id, "0x%02X", c.model_id);
  std::vector<std::string> lines = {"*** TEST PRINT ***", c.maker_name + " " + c.model_name,
                                    "Firmware " + c.firmware_version + "  Boot " + c.boot_version,
                                    std::string("Model ID ") + id};
  if (pattern == 3) {
    // Rolling pattern: each line starts one character later.
    for (int l = 0; l < 6; ++l) {
      std::string s;
      for (int i = 0; i < 42; ++i) s += static_cast<char>(0x21 + (l + i) % 94);
      lines.push_back(s);
    }
  } else if (pattern == 1) {
    lines.push_back("Hexadecimal dump is not available");
  }
  m.print.text_block(lines);
  m.print.print_and_feed_lines(2);
  flush_notes(m);
}

void print_graphics(machine& m, const bitmap& img, int sx, int sy) {
  m.print.image(img, sx, sy);
  flush_notes(m);
}

void print_planes(machine& m, const bitmap& black, const bitmap& red, int sx, int sy) {
  m.print.image_planes(black, red, sx, sy);
  flush_notes(m);
}

// True when a raster image of w x h dots (scaled by sx), whose rows take `row` bytes, fits the
// paper and its `planes` planes of data are all in the `data` bytes the command carries. A header
// that claims more is logged and the command is skipped as data: nothing is allocated for it.
bool image_header_fits(machine& m, std::string_view what, int w, int h, int sx, std::size_t planes,
                       std::size_t data) {
  const std::size_t needed = static_cast<std::size_t>((w + 7) / 8) * static_cast<std::size_t>(h) * planes;
  if (w >= 1 && h >= 1 && w * sx <= m.cfg().paper_width_dots && needed <= data) return true;
  ++m.skipped;
  m.note(kind::ignored, std::string(what) + ": impossible image " + std::to_string(w) + " x " + std::to_string(h) +
                            " for " + std::to_string(data) + " data bytes on paper " +
                            std::to_string(m.cfg().paper_width_dots) + " dots wide; skipped");
  return false;
}

// Defines stored graphics from `p` (m, fn, a, kc1, kc2, b, xL, xH, yL, yH, ...): `planes` colour
// planes follow the `header` parameter bytes, each its colour byte and its rows. A two-colour
// printer keeps colour "2" as the red plane; every other plane, and every plane of a one-colour
// printer, prints black. Defining a key again replaces what it held.
void define_graphics(machine& m, std::string_view p, std::size_t header, int planes, const char* what) {
  const int w = u16(p, 6), h = u16(p, 8);
  const std::size_t row = static_cast<std::size_t>((w + 7) / 8);
  const std::size_t plane = row * static_cast<std::size_t>(h);
  if (planes < 1 || p.size() < header + static_cast<std::size_t>(planes) * (plane + 1)) {
    m.note(kind::ignored, std::string(what) + " not supported or malformed");
    return;
  }
  if (!image_header_fits(m, what, w, h, 1, static_cast<std::size_t>(planes),
                         p.size() - header - static_cast<std::size_t>(planes))) {
    return;
  }
  const std::string key(p.substr(3, 2));
  const auto held = [&](const std::map<std::string, bitmap>& planes_by_key) {
    const auto it = planes_by_key.find(key);
    return it == planes_by_key.end() ? 0L : static_cast<long>((it->second.width() + 7) / 8 * it->second.height());
  };
  if (m.nv_used_bytes() - held(m.graphics) - held(m.graphics_red) + static_cast<long>(plane) * planes >
      m.cfg().nv_memory_bytes) {
    m.note(kind::note, "GS ( L: graphics do not fit in the remaining memory");
    return;
  }
  bitmap img(w, h);
  bitmap red(w, h);
  for (int k = 0; k < planes; ++k) {
    const std::size_t at = header + static_cast<std::size_t>(k) * (plane + 1);
    const bool is_red = m.cfg().two_colour() && u8(p, at) == 0x32;
    merge_into(is_red ? red : img, raster_to_bitmap(p.substr(at + 1), w, h, static_cast<int>(row)));
  }
  m.graphics[key] = std::move(img);
  if (red.count() > 0) m.graphics_red[key] = std::move(red);
  else m.graphics_red.erase(key);
}

// GS ( L and GS 8 L: `p` holds the bytes after the length field (m, fn, parameters).
void graphics(machine& m, std::string_view p) {
  const int fn = u8(p, 1);
  auto number_answer = [&](char id, long value) {
    m.answer(std::string("\x37", 1) + id + std::to_string(value) + std::string(1, '\0'));
  };
  const long capacity = m.cfg().nv_memory_bytes;
  switch (fn) {
    case 0:
    case 48: number_answer('\x30', capacity); return;
    case 3:
    case 51: number_answer('\x33', std::max(0L, capacity - m.nv_used_bytes())); return;
    case 64:
      if (p.substr(2, 2) != "KC") break;
      m.send_key_list();
      return;
    case 65:
      if (p.substr(2, 3) != "CLR") break;
      m.graphics.clear();
      m.graphics_red.clear();
      return;
    case 66:
      if (p.size() < 4 || !m.graphics.erase(std::string(p.substr(2, 2))))
        m.note(kind::note, "GS ( L: no graphics to delete under that key");
      if (p.size() >= 4) m.graphics_red.erase(std::string(p.substr(2, 2)));
      return;
    case 67:
      // a kc1 kc2 b xL xH yL yH, then b colour planes (c, data)
      if (p.size() < 10 || u8(p, 2) != 48) break;
      define_graphics(m, p, 10, u8(p, 5), "GS ( L function 67");
      return;
    case 255:
      // The colour variant: a kc1 kc2 b xL xH yL yH 00, then three colour planes (c, data).
      if (p.size() < 11 || u8(p, 2) != 48) break;
      define_graphics(m, p, 11, 3, "GS 8 L colour graphics");
      return;
    case 69: {
      if (p.size() < 6) break;
      auto it = m.graphics.find(std::string(p.substr(2, 2)));
      if (it == m.graphics.end()) {
        m.note(kind::note, "GS ( L: no graphics stored under that key");
        return;
      }
      const int sx = std::clamp(u8(p, 4), 1, 2), sy = std::clamp(u8(p, 5), 1, 2);
      const auto red = m.graphics_red.find(it->first);
      if (red == m.graphics_red.end()) print_graphics(m, it->second, sx, sy);
      else print_planes(m, it->second, red->second, sx, sy);
      return;
    }
    case 112: {
      // a bx by c xL xH yL yH data
      if (p.size() < 10) break;
      const int w = u16(p, 6), h = u16(p, 8);
      const int sx = std::clamp(u8(p, 3), 1, 2), sy = std::clamp(u8(p, 4), 1, 2);
      if (!image_header_fits(m, "GS ( L function 112", w, h, sx, 1, p.size() - 10)) return;
      bitmap one = raster_to_bitmap(p.substr(10), w, h, (w + 7) / 8);
      bitmap scaled(w * sx, h * sy);
      for (int y = 0; y < scaled.height(); ++y)
        for (int x = 0; x < scaled.width(); ++x)
          if (one.get(x * w / scaled.width(), y * h / scaled.height())) scaled.set(x, y);
      // A two-colour printer keeps the plane of colour "2" apart, printed in red.
      if (m.cfg().two_colour() && u8(p, 5) == 0x32) {
        merge_into(m.graphics_buffer_red, scaled);
        return;
      }
      merge_into(m.graphics_buffer, scaled);
      return;
    }
    case 2:
    case 50:
      if (m.graphics_buffer_red.width() > 0) print_planes(m, m.graphics_buffer, m.graphics_buffer_red, 1, 1);
      else if (m.graphics_buffer.width() > 0) print_graphics(m, m.graphics_buffer, 1, 1);
      m.graphics_buffer = bitmap();
      m.graphics_buffer_red = bitmap();
      return;
    default:
      break;
  }
  m.note(kind::ignored, "GS ( L function " + std::to_string(fn) + " not supported or malformed");
}

void on_graphics(machine& m, std::string_view b) { graphics(m, b.substr(5)); }
void on_graphics_large(machine& m, std::string_view b) { graphics(m, b.substr(7)); }
void on_paren_other(machine& m, std::string_view b) {
  m.note(kind::ignored, std::string("GS ( ") + b[2] + " not supported");
}

void on_define_download(machine& m, std::string_view b) {
  const int x = u8(b, 2), y = u8(b, 3);
  if (x == 0 || y == 0) {
    m.downloaded_image = bitmap();
    return;
  }
  m.downloaded_image = columns_to_bitmap(b.substr(4), x * 8, y);
}
void on_print_download(machine& m, std::string_view b) {
  if (m.downloaded_image.width() == 0) {
    m.note(kind::note, "GS / without a downloaded image");
    return;
  }
  int sx = 1, sy = 1;
  scale_of_mode(u8(b, 2), sx, sy);
  print_graphics(m, m.downloaded_image, sx, sy);
}
void on_reverse(machine& m, std::string_view b) { m.print.modes.reverse = (u8(b, 2) & 1) != 0; }
void on_hri_position(machine& m, std::string_view b) { m.print.modes.hri_position = digit_param(u8(b, 2)) & 3; }

void on_identity(machine& m, std::string_view b) {
  const auto& c = m.cfg();
  const int n = u8(b, 2);
  auto text_answer = [&](const std::string& s) { m.answer("_" + s + std::string(1, '\0')); };
  switch (n) {
    case 1: case 49: m.answer_byte(c.model_id); return;
    case 2: case 50: m.answer_byte(c.type_id); return;
    case 3: case 51: m.answer_byte(c.rom_version_id); return;
    case 65: text_answer(c.firmware_version + "$" + c.boot_version + "$"); return;
    case 66: text_answer(c.maker_name); return;
    case 67: text_answer(c.model_name); return;
    case 68: text_answer(c.serial_number); return;
    default: m.note(kind::ignored, "GS I " + std::to_string(n) + ": no such information");
  }
}
void on_left_margin(machine& m, std::string_view b) {
  auto& md = m.print.modes;
  md.left_margin = std::min(m.print.hdots(u16(b, 2)), m.cfg().paper_width_dots - 1);
  md.area_width = std::min(md.area_width, m.cfg().paper_width_dots - md.left_margin);
}
void on_motion_units(machine& m, std::string_view b) {
  m.print.modes.motion_x = u8(b, 2);
  m.print.modes.motion_y = u8(b, 3);
}
void on_cut(machine& m, std::string_view b) {
  const int mode = u8(b, 2);
  const bool partial = mode == 1 || mode == 49 || mode == 66 || mode == 98 || mode == 104;
  const int feed = b.size() > 3 ? m.print.vdots(u8(b, 3)) : 0;
  if (mode != 0 && mode != 1 && mode != 48 && mode != 49 && b.size() < 4) {
    m.note(kind::ignored, "GS V with unknown mode " + std::to_string(mode));
    return;
  }
  m.print.cut(partial, feed);
  flush_notes(m);
}
void on_area_width(machine& m, std::string_view b) {
  auto& md = m.print.modes;
  md.area_width = std::clamp(m.print.hdots(u16(b, 2)), 1, m.cfg().paper_width_dots - md.left_margin);
}
void on_asb(machine& m, std::string_view b) { m.set_asb(u8(b, 2)); }
void on_hri_font(machine& m, std::string_view b) { m.print.modes.hri_font = digit_param(u8(b, 2)) == 1 ? 1 : 0; }
void on_barcode_height(machine& m, std::string_view b) {
  if (u8(b, 2) >= 1) m.print.modes.barcode_height = u8(b, 2);
}
void on_barcode_width(machine& m, std::string_view b) {
  const int n = u8(b, 2);
  if (n >= 1 && n <= 6) m.print.modes.barcode_module = n;
  else m.note(kind::ignored, "GS w " + std::to_string(n) + ": module width out of range");
}
void on_barcode(machine& m, std::string_view b) {
  const int mode = u8(b, 2);
  symbology sym{};
  if (!symbology_from_gs_k(mode, sym)) {
    m.note(kind::ignored, "GS k with unknown symbology " + std::to_string(mode));
    return;
  }
  std::string_view data = mode <= 6 ? b.substr(3, b.size() - 4) : b.substr(4);
  if (mode <= 6 && (b.empty() || b.back() != '\0')) data = b.substr(3);
  const barcode_symbol symbol = encode_barcode(sym, data);
  if (!symbol.ok) {
    m.note(kind::note, std::string(symbology_name(sym)) + " refused: " + symbol.error);
    return;
  }
  if (!symbol.note.empty()) m.note(kind::note, std::string(symbology_name(sym)) + ": " + symbol.note);
  m.print.barcode(symbol);
  flush_notes(m);
}
void on_status(machine& m, std::string_view b) {
  const int n = u8(b, 2);
  if (n == 1 || n == 49) m.answer_byte(status_byte(status_kind::paper_gs_r, m.current_condition()));
  else if (n == 2 || n == 50) m.answer_byte(status_byte(status_kind::drawer_gs_r, m.current_condition()));
  else m.note(kind::ignored, "GS r " + std::to_string(n) + ": no such status");
}
void on_raster(machine& m, std::string_view b) {
  const int x = u16(b, 4), y = u16(b, 6);
  int sx = 1, sy = 1;
  scale_of_mode(u8(b, 3), sx, sy);
  print_graphics(m, raster_to_bitmap(b.substr(8), x * 8, y, x), sx, sy);
}
void on_print_nv(machine& m, std::string_view b) {
  const int n = u8(b, 2);
  if (n < 1 || n > static_cast<int>(m.stored_images.size())) {
    m.note(kind::note, "FS p " + std::to_string(n) + ": no such stored image");
    return;
  }
  int sx = 1, sy = 1;
  scale_of_mode(u8(b, 3), sx, sy);
  print_graphics(m, m.stored_images[static_cast<std::size_t>(n - 1)], sx, sy);
}
void on_define_nv(machine& m, std::string_view b) {
  // Defining replaces every image held; images that do not fit are not stored at all.
  m.stored_images.clear();
  std::vector<bitmap> images;
  long bytes = 0;
  std::size_t pos = 3;
  for (int k = 0; k < u8(b, 2); ++k) {
    const int x = u16(b, pos), y = u16(b, pos + 2);
    const std::size_t size = static_cast<std::size_t>(x) * static_cast<std::size_t>(y) * 8;
    if (x == 0 || y == 0) {
      pos += 4 + size;
      continue;
    }
    images.push_back(columns_to_bitmap(b.substr(pos + 4, size), x * 8, y));
    bytes += static_cast<long>(size);
    pos += 4 + size;
  }
  if (bytes + m.nv_used_bytes() > m.cfg().nv_memory_bytes) {
    m.note(kind::note, "FS q: images exceed the image memory; none stored");
    return;
  }
  m.stored_images = std::move(images);
}

constexpr char kWhyUserChars[] = "user-defined characters not supported";
constexpr char kWhyReverseFeed[] = "reverse feed not supported";
constexpr char kWhyColour[] = "colour selection ignored (one-colour printer)";
constexpr char kWhyMacro[] = "macros not supported";
constexpr char kWhyKanji[] = "Kanji commands ignored";
constexpr char kWhySensors[] = "paper sensor and panel settings recorded only";
constexpr char kWhyLinePosition[] = "GS T ignored";

// ESC ? n: identification ("0" model, "2" version) on a printer of the second protocol kind,
// else the cancel of a user-defined character, which this printer does not keep.
void on_esc_question(machine& m, std::string_view b) {
  const auto& c = m.cfg();
  const char n = b[2];
  if (c.protocol_kind == 2 && (n == '0' || n == '2')) {
    // The version answer reads as GS I A's: a leading byte, firmware and boot versions each
    // ended by "$".
    const std::string text = n == '0' ? c.model_name : "_" + c.firmware_version + "$" + c.boot_version + "$";
    const std::string body = text.substr(0, 254) + std::string(1, '\0');
    std::string head = "\x3F";
    head += static_cast<char>(body.size());
    head += n;
    m.answer(head + body);
    return;
  }
  m.note(kind::ignored, kWhyUserChars);
}

#define ROW(prefix, name, len, run) command_row{std::string_view(prefix, sizeof(prefix) - 1), name, len, run}

constexpr command_row kPrinterRows[] = {
    ROW("\x00", "NUL", fixed<1>, on_nul),
    ROW("\x06", "ACK", fixed<1>, on_ack_nak),
    ROW("\x09", "HT", fixed<1>, on_ht),
    ROW("\x0a", "LF", fixed<1>, on_lf),
    ROW("\x0c", "FF", fixed<1>, on_ff),
    ROW("\x0d", "CR", fixed<1>, on_ignore),
    ROW("\x13", "DC3", fixed<1>, on_dc3),
    ROW("\x15", "NAK", fixed<1>, on_ack_nak),
    ROW("\x18", "CAN", fixed<1>, on_can),
    ROW("\x10\x04", "DLE EOT", fixed<3>, on_dle_eot),
    ROW("\x10\x05", "DLE ENQ", fixed<3>, on_dle_enq),
    ROW("\x10\x14", "DLE DC4", len_realtime, on_dle_dc4),
    ROW("\x1b\x0c", "ESC FF", fixed<2>, on_esc_ff),
    ROW("\x1b ", "ESC SP", fixed<3>, on_char_spacing),
    ROW("\x1b!", "ESC !", fixed<3>, on_print_mode),
    ROW("\x1b$", "ESC $", fixed<4>, on_abs_x),
    ROW("\x1b%", "ESC %", fixed<3>, on_ignored<kWhyUserChars>),
    ROW("\x1b&", "ESC &", len_user_chars, on_ignored<kWhyUserChars>),
    ROW("\x1b*", "ESC *", len_bit_image, on_bit_image),
    ROW("\x1b-", "ESC -", fixed<3>, on_underline),
    ROW("\x1b" "2", "ESC 2", fixed<2>, on_default_spacing),
    ROW("\x1b" "3", "ESC 3", fixed<3>, on_line_spacing),
    ROW("\x1b=", "ESC =", fixed<3>, on_select_peripheral),
    ROW("\x1b?", "ESC ?", fixed<3>, on_esc_question),
    ROW("\x1b@", "ESC @", fixed<2>, on_initialise),
    ROW("\x1b" "D", "ESC D", len_tabs, on_tabs),
    ROW("\x1b" "E", "ESC E", fixed<3>, on_bold),
    ROW("\x1b" "G", "ESC G", fixed<3>, on_bold),
    ROW("\x1b" "J", "ESC J", fixed<3>, on_feed_units),
    ROW("\x1b" "K", "ESC K", fixed<3>, on_ignored<kWhyReverseFeed>),
    ROW("\x1b" "L", "ESC L", fixed<2>, on_page_mode),
    ROW("\x1b" "M", "ESC M", fixed<3>, on_font),
    ROW("\x1b" "R", "ESC R", fixed<3>, on_international),
    ROW("\x1b" "S", "ESC S", fixed<2>, on_standard_mode),
    ROW("\x1b" "T", "ESC T", fixed<3>, on_direction),
    ROW("\x1b" "V", "ESC V", fixed<3>, on_rotate),
    ROW("\x1b" "W", "ESC W", fixed<10>, on_print_area),
    ROW("\x1b\\", "ESC \\", fixed<4>, on_rel_x),
    ROW("\x1b" "a", "ESC a", fixed<3>, on_alignment),
    ROW("\x1b" "c", "ESC c", fixed<4>, on_ignored<kWhySensors>),
    ROW("\x1b" "d", "ESC d", fixed<3>, on_feed_lines),
    ROW("\x1b" "e", "ESC e", fixed<3>, on_ignored<kWhyReverseFeed>),
    ROW("\x1b" "i", "ESC i", fixed<2>, on_old_cut),
    ROW("\x1b" "m", "ESC m", fixed<2>, on_old_cut),
    ROW("\x1b" "p", "ESC p", fixed<5>, on_pulse),
    ROW("\x1b" "r", "ESC r", fixed<3>, on_ignored<kWhyColour>),
    ROW("\x1b" "t", "ESC t", fixed<3>, on_code_table),
    ROW("\x1b" "u", "ESC u", fixed<3>, on_peripheral_status),
    ROW("\x1b" "v", "ESC v", fixed<2>, on_paper_status_old),
    ROW("\x1b{", "ESC {", fixed<3>, on_upside_down),
    ROW("\x1b}", "ESC }", len_setup, on_setup),
    ROW("\x1d!", "GS !", fixed<3>, on_char_size),
    ROW("\x1d$", "GS $", fixed<4>, on_abs_y),
    ROW("\x1d(", "GS (", len_paren, on_paren_other),
    ROW("\x1d(A", "GS ( A", len_paren, on_test_print),
    ROW("\x1d(L", "GS ( L", len_paren, on_graphics),
    ROW("\x1d(N", "GS ( N", len_paren, on_character_colour),
    ROW("\x1d(k", "GS ( k", len_paren, run_two_d_command),
    ROW("\x1d*", "GS *", len_download, on_define_download),
    ROW("\x1d/", "GS /", fixed<3>, on_print_download),
    ROW("\x1d" "8L", "GS 8 L", len_graphics_large, on_graphics_large),
    ROW("\x1d:", "GS :", fixed<2>, on_ignored<kWhyMacro>),
    ROW("\x1d" "B", "GS B", fixed<3>, on_reverse),
    ROW("\x1d" "H", "GS H", fixed<3>, on_hri_position),
    ROW("\x1d" "I", "GS I", fixed<3>, on_identity),
    ROW("\x1d" "L", "GS L", fixed<4>, on_left_margin),
    ROW("\x1d" "P", "GS P", fixed<4>, on_motion_units),
    ROW("\x1d" "T", "GS T", fixed<3>, on_ignored<kWhyLinePosition>),
    ROW("\x1d" "V", "GS V", len_cut, on_cut),
    ROW("\x1d" "W", "GS W", fixed<4>, on_area_width),
    ROW("\x1d\\", "GS \\", fixed<4>, on_rel_y),
    ROW("\x1d^", "GS ^", fixed<5>, on_ignored<kWhyMacro>),
    ROW("\x1d" "a", "GS a", fixed<3>, on_asb),
    ROW("\x1d" "b", "GS b", fixed<3>, on_ignore),
    ROW("\x1d" "f", "GS f", fixed<3>, on_hri_font),
    ROW("\x1d" "h", "GS h", fixed<3>, on_barcode_height),
    ROW("\x1d" "k", "GS k", len_barcode, on_barcode),
    ROW("\x1d" "r", "GS r", fixed<3>, on_status),
    ROW("\x1d" "v0", "GS v 0", len_raster, on_raster),
    ROW("\x1d" "w", "GS w", fixed<3>, on_barcode_width),
    ROW("\x1c" "p", "FS p", fixed<4>, on_print_nv),
    ROW("\x1c" "q", "FS q", len_define_nv, on_define_nv),
    ROW("\x1c(", "FS (", len_paren, on_ignored<kWhyKanji>),
    ROW("\x1c!", "FS !", fixed<3>, on_ignored<kWhyKanji>),
    ROW("\x1c&", "FS &", fixed<2>, on_ignored<kWhyKanji>),
    ROW("\x1c-", "FS -", fixed<3>, on_ignored<kWhyKanji>),
    ROW("\x1c.", "FS .", fixed<2>, on_ignored<kWhyKanji>),
    ROW("\x1c" "C", "FS C", fixed<3>, on_ignored<kWhyKanji>),
    ROW("\x1c" "S", "FS S", fixed<4>, on_ignored<kWhyKanji>),
    ROW("\x1c" "W", "FS W", fixed<3>, on_ignored<kWhyKanji>),
};

// While another peripheral is selected the printer only follows selection and real-time
// commands; everything else passes by.
constexpr command_row kDeselectedRows[] = {
    ROW("\x10\x04", "DLE EOT", fixed<3>, on_dle_eot),
    ROW("\x10\x05", "DLE ENQ", fixed<3>, on_dle_enq),
    ROW("\x10\x14", "DLE DC4", len_realtime, on_dle_dc4),
    ROW("\x1b=", "ESC =", fixed<3>, on_select_peripheral),
};

#undef ROW

}  // namespace

const command_set kPrinterCommands{kPrinterRows, on_text, stray_policy::log_unknown, ""};
const command_set kPrinterDeselected{kDeselectedRows, nullptr, stray_policy::drop, ""};

}  // namespace vprinter::detail
