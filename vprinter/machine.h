// The printer as one state machine: the receive path (real-time commands, the hold while off
// line, peripheral selection), the answers it queues, its memories, drawer and log.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "command_parser.h"
#include "display_model.h"
#include "print_model.h"
#include "status.h"
#include "vprinter/virtual_printer.h"

namespace vprinter::detail {

// The printer's command set while it is selected, while it is not, and the display's.
extern const command_set kPrinterCommands;
extern const command_set kPrinterDeselected;
extern const command_set kDisplayCommands;

// Length of the real-time command at the start of `bytes` (DLE EOT, DLE ENQ, DLE DC4): the
// whole length, 0 when more bytes are needed, or npos when the bytes start no such command.
std::size_t realtime_length(std::string_view bytes);
// True when `bytes` consists of complete real-time commands only.
bool is_realtime_only(std::string_view bytes);

class machine {
 public:
  explicit machine(const config& cfg);

  const config& cfg() const { return cfg_; }
  std::uint64_t now_ms() const;

  // Bytes from the host, after the link has accepted them.
  void receive(std::string_view bytes);
  // Bytes received while off line and waiting to be processed.
  std::size_t held_bytes() const { return held_.size(); }
  // Forgets a partially received command (of the printer and of the display); true if there was one.
  bool drop_partial_command();

  // Queues answer bytes for the host (dropped while mute, and while this many wait unread, as a
  // printer's full transmit buffer drops them).
  static constexpr std::size_t kMaxAnswerBytes = 64u << 10;
  void answer(std::string_view bytes);
  void answer_byte(std::uint8_t b) { answer(std::string(1, static_cast<char>(b))); }
  std::string answers;
  bool mute = false;

  // Records a remark about the command being run.
  void note(log_entry::kind kind, std::string text);
  void note_at(log_entry::kind kind, std::uint64_t offset, std::string text);
  std::vector<log_entry> log;
  std::size_t unknowns = 0;
  std::size_t skipped = 0;  // commands skipped for sizes they cannot have
  std::uint64_t command_offset = 0;  // set by the parser before each command runs

  // Conditions switched by faults and commands.
  bool cover_open = false, near_end = false, paper_out = false, offline_switch = false;
  bool cutter_error = false;
  bool unrecoverable_error = false;
  int failed_recoveries_left = 0;  // DLE ENQ requests that the recoverable error withstands
  condition current_condition() const;
  bool is_offline() const;
  // Re-evaluates the hold and automatic status after a condition changed.
  void condition_changed();

  // Peripheral selection (ESC = n): bit 0 printer, bit 1 customer display.
  int peripheral = 1;
  void select_peripheral(int n);
  bool stop_feeding = false;  // set by a command that changes how the rest must be routed

  // Real-time commands.
  void realtime_status(int n);          // DLE EOT n
  void realtime_recover(int n);         // DLE ENQ n
  void realtime_request(std::string_view bytes);  // DLE DC4 ...

  // Drawer kick-out.
  void kick(int pin, int on_ms, int off_ms);
  bool drawer_open() const;
  void close_drawer();
  std::vector<drawer_pulse> pulses;

  // Automatic status back (GS a n).
  void set_asb(int mask);

  print_model print;
  display_model display;

  // Non-volatile and downloaded images.
  std::vector<bitmap> stored_images;      // FS q, numbered from 1
  bitmap downloaded_image;                // GS *
  std::map<std::string, bitmap> graphics;  // GS ( L / GS 8 L, by key code
  bitmap graphics_buffer;                  // GS ( L function 112, printed by function 50
  // The red planes of two-colour graphics and of the graphics buffer.
  std::map<std::string, bitmap> graphics_red;
  bitmap graphics_buffer_red;
  int nv_used_bytes() const;

  // The key-code list (GS ( L function 64), sent a block at a time: each block waits for the
  // host's ACK before the next goes out.
  void send_key_list();
  // ACK of a block; false when no key-list block was waiting for one.
  bool key_list_acknowledged();
  std::string key_list_rest;       // key codes of blocks not sent yet
  bool awaiting_key_list_ack = false;

  // The setup block exchange (ESC } commands, setup_exchange.cpp). The values live as long as
  // the printer does (across connections and power cycles), like its stored graphics.
  void send_setup_block(char kind);
  void receive_setup(std::string_view bytes);
  void setup_handshake(std::uint8_t byte);
  bool awaiting_setup_reply = false;
  std::vector<std::string> setup_values;  // one per setting, decimal for selections and numbers
  std::string last_setup_block;
  char last_setup_kind = 'a';
  // Setup faults: blocks still to send with a wrong checksum; downloads answered NAK (checksum),
  // NAK after ACK (identifier), BEL after ACK (storing failed); the second answer held back.
  int setup_corrupt_left = 0;
  bool setup_refuse_checksum = false, setup_refuse_identifier = false, setup_store_fails = false;
  int setup_store_delay_ms = 0;
  // An answer due at a clock time (the second answer of a slow download), queued by
  // release_due_answer() once the time has come.
  std::string due_answer;
  std::uint64_t due_at_ms = 0;
  void release_due_answer();
  // The ESC t table the printer starts with (the setup's code page).
  int start_code_table() const;

  // Power cycle: everything volatile back to its state after switching on.
  void reset();

 private:
  config cfg_;
  command_parser printer_parser_;
  command_parser display_parser_;
  std::string held_;               // received while off line, waiting to be processed
  std::uint64_t received_ = 0;     // stream position of the next byte
  std::uint64_t held_offset_ = 0;  // stream position of held_[0]
  bool drawer_open_ = false;
  std::uint64_t drawer_opened_at_ = 0;
  int asb_mask_ = 0;
  std::array<std::uint8_t, 4> asb_last_{};
  bool in_receive_ = false;

  void dispatch(std::string_view bytes, std::uint64_t offset);
  void scan_held();
  void release_held();
  void report_asb(bool force);
};

}  // namespace vprinter::detail
