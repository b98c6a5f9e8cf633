// The customer display's command table: what the display does with the bytes the printer passes
// on while the display is selected (ESC = 2).
#include "machine.h"

namespace vprinter::detail {
namespace {

int u8(std::string_view b, std::size_t i) { return i < b.size() ? static_cast<unsigned char>(b[i]) : 0; }

display_state& st(machine& m) { return m.display.state; }

void on_text(machine& m, std::string_view b) { m.display.text(b); }
void on_nothing(machine&, std::string_view) {}  // handled by the printer, or without effect here
void on_init(machine& m, std::string_view) { m.display.initialise(); }
void on_clear(machine& m, std::string_view) { m.display.clear(); }
void on_home(machine& m, std::string_view) { m.display.home(); }
void on_cr(machine& m, std::string_view) { m.display.carriage_return(); }
void on_lf(machine& m, std::string_view) { m.display.line_feed(); }
void on_bs(machine& m, std::string_view) { m.display.back(); }
void on_ht(machine& m, std::string_view) { m.display.forward(); }
void on_can(machine& m, std::string_view) { m.display.clear_line(); }
void on_overwrite(machine& m, std::string_view) { st(m).mode = 1; }
void on_vertical(machine& m, std::string_view) { st(m).mode = 2; }
void on_horizontal(machine& m, std::string_view) { st(m).mode = 3; }
void on_move(machine& m, std::string_view b) { m.display.move_to(u8(b, 2), u8(b, 3)); }
void on_bottom(machine& m, std::string_view) { m.display.bottom(); }
void on_cursor(machine& m, std::string_view b) { st(m).cursor_visible = (u8(b, 2) & 1) != 0; }
void on_blink(machine& m, std::string_view b) { st(m).blink_interval = u8(b, 2); }
void on_brightness(machine& m, std::string_view b) {
  const int n = u8(b, 2);
  if (n >= 1 && n <= 4) st(m).brightness = n;
  else m.note(log_entry::kind::ignored, "display: US X " + std::to_string(n) + " out of range");
}
void on_self_test(machine& m, std::string_view) { ++st(m).self_tests; }
void on_code_table(machine& m, std::string_view b) { st(m).code_table = u8(b, 2); }
void on_international(machine& m, std::string_view b) { st(m).international = u8(b, 2); }
void on_ignored(machine& m, std::string_view b) {
  m.note(log_entry::kind::ignored, "display: command " + std::to_string(u8(b, 0)) + " " +
                                       std::to_string(u8(b, 1)) + " not supported");
}

#define ROW(prefix, name, len, run) command_row{std::string_view(prefix, sizeof(prefix) - 1), name, len, run}

constexpr command_row kDisplayRows[] = {
    ROW("\x08", "BS", fixed<1>, on_bs),
    ROW("\x09", "HT", fixed<1>, on_ht),
    ROW("\x0a", "LF", fixed<1>, on_lf),
    ROW("\x0b", "VT", fixed<1>, on_home),
    ROW("\x0c", "FF", fixed<1>, on_clear),
    ROW("\x0d", "CR", fixed<1>, on_cr),
    ROW("\x18", "CAN", fixed<1>, on_can),
    ROW("\x10\x04", "DLE EOT", fixed<3>, on_nothing),
    ROW("\x10\x05", "DLE ENQ", fixed<3>, on_nothing),
    ROW("\x10\x14", "DLE DC4", [](std::string_view b) {
          const std::size_t n = realtime_length(b);
          return n == std::string_view::npos ? b.size() : n;
        }, on_nothing),
    ROW("\x1b=", "ESC =", fixed<3>, on_nothing),
    ROW("\x1b@", "ESC @", fixed<2>, on_init),
    ROW("\x1b" "t", "ESC t", fixed<3>, on_code_table),
    ROW("\x1b" "R", "ESC R", fixed<3>, on_international),
    ROW("\x1b%", "ESC %", fixed<3>, on_ignored),
    ROW("\x1b?", "ESC ?", fixed<3>, on_ignored),
    ROW("\x1f\x01", "US SOH", fixed<2>, on_overwrite),
    ROW("\x1f\x02", "US STX", fixed<2>, on_vertical),
    ROW("\x1f\x03", "US ETX", fixed<2>, on_horizontal),
    ROW("\x1f$", "US $", fixed<4>, on_move),
    ROW("\x1f" "B", "US B", fixed<2>, on_bottom),
    ROW("\x1f" "C", "US C", fixed<3>, on_cursor),
    ROW("\x1f" "E", "US E", fixed<3>, on_blink),
    ROW("\x1f" "X", "US X", fixed<3>, on_brightness),
    ROW("\x1f@", "US @", fixed<2>, on_self_test),
    ROW("\x1f" "T", "US T", fixed<4>, on_ignored),
    ROW("\x1f" "U", "US U", fixed<2>, on_ignored),
    ROW("\x1f:", "US :", fixed<2>, on_ignored),
    ROW("\x1f^", "US ^", fixed<4>, on_ignored),
    ROW("\x1f" "r", "US r", fixed<3>, on_ignored),
};

#undef ROW

}  // namespace

const command_set kDisplayCommands{kDisplayRows, on_text, stray_policy::log_unknown, "display: "};

}  // namespace vprinter::detail
