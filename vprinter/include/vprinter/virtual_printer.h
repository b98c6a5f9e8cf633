// The virtual receipt printer: the printer's side of the ESC/POS command protocol as a duplex
// byte stream (the host writes bytes, the printer queues answers), with faults on request.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "vprinter/bitmap.h"

namespace vprinter {

// Conditions and link troubles that can be switched on and off while the printer runs.
enum class fault {
  cover_open,      // off line; DLE EOT 2 reports the cover
  paper_near_end,  // still on line; the near-end sensors report it
  paper_out,       // off line; both paper sensors report it
  offline,         // off line without another cause
  cutter_error,    // recoverable error: off line until DLE ENQ 1 or 2; `value` recovery
                   // requests fail first (a jammed blade that needs several attempts)
  mute,            // commands are executed but no answer byte is ever sent
  busy,            // receive buffer full: only pure real-time writes are taken
  slow,            // each accepted byte costs `value` microseconds (reported, never slept here)
  short_write,     // each write takes at most `value` bytes (at least 1)
  disconnect,      // every operation reports the link down until cleared
  unrecoverable_error,  // off line with an error DLE ENQ cannot recover (DLE EOT 3 bit 5)
  setup_checksum,       // the next `value` setup blocks (at least 1, resends included) carry a
                        // wrong checksum; the fault ends by itself after them
  setup_nak,            // a setup download is answered NAK (15): checksum error
  setup_id_mismatch,    // a setup download gets ACK, then NAK (15): identifier or release
  setup_store_error,    // a setup download gets ACK, then BEL (07): storing failed
  setup_store_delay,    // the second answer to a setup download comes `value` ms late
};

// The fault called `name` ("cover_open", "paper_out", ...), if there is one.
std::optional<fault> fault_from_name(std::string_view name);
// The name of `f` as fault_from_name takes it.
std::string_view fault_name(fault f);

// Size of one character cell of a printer font, in dots.
struct font_cell {
  int width = 12;
  int height = 24;
};

// What the printer is: identity, paper, fonts, timing of its drawer.
struct config {
  std::string model_name = "VX40";   // answered to GS I C
  std::string maker_name = "KORVANE";  // answered to GS I B
  std::string serial_number = "VP0000001";  // answered to GS I D
  std::string firmware_version = "1.00";    // first field of the GS I A answer
  std::string boot_version = "0.90";        // second field of the GS I A answer
  std::uint8_t model_id = 0x20;        // answered to GS I 1
  std::uint8_t type_id = 0x02;         // answered to GS I 2 (bit 1: auto-cutter fitted)
  std::uint8_t rom_version_id = 0x10;  // answered to GS I 3
  // 1: identified by GS I (ESC/POS). 2: identified by ESC ? 0 (model) and ESC ? 2 (version),
  // each answered as a head (0x3F, length, the function) and the text ended by NUL.
  int protocol_kind = 1;
  int paper_width_dots = 576;          // printable width
  int dpi = 203;                       // dots per inch, both directions
  font_cell font_a{12, 24};
  font_cell font_b{9, 17};
  int line_spacing_dots = 30;          // default line spacing (ESC 2)
  int page_length_dots = 1662;         // default page-mode print area height
  int drawer_close_after_ms = 0;       // the drawer closes this long after a kick; 0: only on request
  int nv_memory_bytes = 262144;        // capacity for stored images and graphics
  int key_list_block_keys = 40;        // key codes in one block of the GS ( L key-code list
  int display_columns = 20;            // customer display
  int display_rows = 2;
  std::filesystem::path font_dir = "/usr/share/consolefonts";  // Terminus .psf.gz fonts
  std::filesystem::path capture_file;  // when set, every received byte is written here as it arrives (emptied first)
  bool keep_capture = true;            // also keep every received byte in memory for capture()
  int paper_limit_dots = 160000;       // paper kept (about 20 m); older paper is dropped (0: all)
  std::size_t held_limit_bytes = 4u << 20;  // data held while off line; beyond it the printer is busy
  std::function<std::uint64_t()> clock_ms;  // monotonic time in ms; empty: the steady clock

  // The model answering 0x2E to GS I 1 prints in two colours, black and red.
  static constexpr std::uint8_t kTwoColourModelId = 0x2E;
  bool two_colour() const { return model_id == kTwoColourModelId; }
};

// How the link behaved for one operation.
enum class link_status { ok, busy, down };

// Outcome of handing bytes to the printer.
struct accept_result {
  std::size_t accepted = 0;            // bytes taken, from the start of the write
  link_status status = link_status::ok;
  std::chrono::microseconds delay{0};  // time the transfer takes under the slow fault
};

// Outcome of collecting answer bytes.
struct read_result {
  std::string bytes;
  link_status status = link_status::ok;
};

// One remark of the printer about what it received.
struct log_entry {
  enum class kind { unknown, ignored, note };
  kind what = kind::note;
  std::uint64_t offset = 0;  // position of the command in the received stream
  std::string text;          // e.g. "unknown command 1B 99"
};

// One pulse sent to the drawer kick-out connector.
struct drawer_pulse {
  int pin = 2;              // connector pin 2 or 5
  int on_ms = 0;
  int off_ms = 0;
  std::uint64_t at_ms = 0;  // clock time of the pulse
};

// What the customer display shows and how.
struct display_state {
  std::vector<std::string> lines;  // raw bytes of each row, `display_columns` long
  int cursor_row = 0;
  int cursor_column = 0;
  int blink_interval = 0;  // US E n as received: 0 steady, 255 dark, else n x 50 ms
  int brightness = 4;      // US X n, 1 to 4
  int mode = 1;            // 1 overwrite, 2 vertical scroll, 3 horizontal scroll
  bool cursor_visible = false;
  int code_table = 0;      // ESC t n
  int international = 0;  // ESC R n
  int self_tests = 0;      // US @ received
};

// Print modes and memories that tests and tools may look at.
struct printer_state {
  bool page_mode = false;
  int font = 0;            // 0 font A, 1 font B
  int code_page_table = 0;  // ESC t n as received
  int alignment = 0;       // 0 left, 1 centre, 2 right
  int line_spacing_dots = 0;
  bool bold = false;
  int underline = 0;
  bool reverse = false;
  bool upside_down = false;
  bool rotated_90 = false;
  int width_scale = 1;
  int height_scale = 1;
  int peripheral = 1;      // ESC = n: bit 0 printer, bit 1 display
  int stored_images = 0;   // FS q images held
  std::vector<std::string> graphics_keys;  // GS ( L key codes held
  int cuts = 0;
  int lines_printed = 0;
  long long skipped_commands = 0;  // commands skipped for sizes they cannot have (logged too)
};

// The printer. All members may be called from any thread; calls are serialised inside.
class virtual_printer {
 public:
  explicit virtual_printer(config cfg = {});
  ~virtual_printer();
  virtual_printer(const virtual_printer&) = delete;
  virtual_printer& operator=(const virtual_printer&) = delete;

  // Hands bytes from the host to the printer; never blocks. Commands may be split across writes.
  accept_result accept(std::string_view bytes);
  // Takes up to `max` answer bytes the printer has queued; never blocks (empty when none).
  read_result read(std::size_t max);
  // Number of answer bytes waiting to be read.
  std::size_t answer_bytes_pending() const;

  // Switches a fault on; `value` is the byte delay in microseconds (slow) or the byte limit
  // (short_write), ignored otherwise.
  void inject_fault(fault f, int value = 0);
  void clear_fault(fault f);
  void clear_faults();
  bool has_fault(fault f) const;

  // Everything received so far, byte for byte (empty unless the config keeps the capture).
  std::string capture() const;
  // A new host connection: a command the last host left unfinished is dropped (and logged), so
  // that it cannot swallow the new host's bytes. Held data, modes and memories stay.
  void new_host();
  // Remarks about unknown or ignored commands, in order.
  std::vector<log_entry> log() const;
  // Number of unknown commands received.
  std::size_t unknown_count() const;

  // True while the drawer is open.
  bool drawer_open() const;
  // Closes the drawer as a person pushing it would.
  void close_drawer();
  // Every kick-out pulse received, oldest first.
  std::vector<drawer_pulse> drawer_pulses() const;

  // The paper printed so far (cut marks included) as a 1-bit image.
  bitmap paper() const;
  // The dots printed in red (two-colour model), row for row with paper(); it ends at its last
  // red row, so it may be shorter.
  bitmap red_paper() const;
  // Writes the paper to a PNG file atomically, in black and red where red was printed; on
  // failure returns false and says why in `error`. Black paper keeps the encoding of rows
  // printed for good, so writing again costs only the new rows.
  bool write_png(const std::filesystem::path& path, std::string* error = nullptr) const;
  // The customer display.
  display_state display() const;
  // The customer display's rows as UTF-8 text, decoded in its current code table.
  std::vector<std::string> display_text() const;
  // Draws the customer display's screen into a PNG file (the printer's font, framed); on failure
  // returns false and says why in `error`.
  bool write_display_png(const std::filesystem::path& path, std::string* error = nullptr) const;
  // Current print modes and memories.
  printer_state state() const;

  // Power cycle: modes, buffers and answers are reset; stored images and the paper stay.
  void power_cycle();

 private:
  struct impl;
  std::unique_ptr<impl> impl_;
};

}  // namespace vprinter
