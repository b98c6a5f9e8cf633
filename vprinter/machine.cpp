// The receive path, real-time commands, answers, drawer and automatic status.
#include "machine.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "setup_block.h"

namespace vprinter::detail {

std::size_t realtime_length(std::string_view b) {
  if (b.empty()) return 0;
  if (b[0] != 0x10) return std::string_view::npos;
  if (b.size() < 2) return 0;
  if (b[1] == 0x04 || b[1] == 0x05) return 3;
  if (b[1] != 0x14) return std::string_view::npos;
  if (b.size() < 3) return 0;
  switch (b[2]) {
    case 1: return 5;
    case 2: return 5;
    case 7: return 4;
    case 8: return 10;
    default: return 3;
  }
}

bool is_realtime_only(std::string_view bytes) {
  if (bytes.empty()) return false;
  while (!bytes.empty()) {
    const std::size_t n = realtime_length(bytes);
    if (n == 0 || n == std::string_view::npos || n > bytes.size()) return false;
    bytes.remove_prefix(n);
  }
  return true;
}

machine::machine(const config& cfg)
    : print(cfg),
      display(cfg.display_columns, cfg.display_rows),
      cfg_(cfg),
      printer_parser_(kPrinterCommands),
      display_parser_(kDisplayCommands) {
  for (int id = 0; id < kSetupSlotCount; ++id) setup_values.emplace_back(setup_slot_of(id).initial);
}

std::uint64_t machine::now_ms() const {
  if (cfg_.clock_ms) return cfg_.clock_ms();
  return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                        std::chrono::steady_clock::now().time_since_epoch())
                                        .count());
}

void machine::answer(std::string_view bytes) {
  if (!mute && answers.size() + bytes.size() <= kMaxAnswerBytes) answers.append(bytes);
}

bool machine::drop_partial_command() {
  const bool partial = printer_parser_.mid_command() || display_parser_.mid_command();
  printer_parser_.reset();
  display_parser_.reset();
  in_receive_ = false;  // also after a command that ended in an exception
  return partial;
}

void machine::note(log_entry::kind kind, std::string text) { note_at(kind, command_offset, std::move(text)); }

void machine::note_at(log_entry::kind kind, std::uint64_t offset, std::string text) {
  if (kind == log_entry::kind::unknown) ++unknowns;
  // The log keeps its first entries; a flood of garbage must not exhaust memory.
  if (log.size() < 100000) log.push_back({kind, offset, std::move(text)});
}

condition machine::current_condition() const {
  condition c;
  c.drawer_pin_high = !drawer_open();
  c.cover_open = cover_open;
  c.paper_out = paper_out;
  c.near_end = near_end || paper_out;  // no paper also reads as near end at the near-end sensor
  c.cutter_error = cutter_error;
  c.unrecoverable = unrecoverable_error;
  c.offline = is_offline();
  return c;
}

bool machine::is_offline() const {
  return cover_open || paper_out || offline_switch || cutter_error || unrecoverable_error;
}

void machine::receive(std::string_view bytes) {
  const std::uint64_t offset = received_;
  received_ += bytes.size();
  if (is_offline() || !held_.empty()) {
    // Off line the printer only looks for real-time commands; the rest waits in the buffer.
    if (held_.empty()) held_offset_ = offset;
    held_.append(bytes);
    scan_held();
    return;
  }
  if (printer_parser_.mid_command() && is_realtime_only(bytes)) {
    // A status request in the middle of a command is answered at once, as on receipt.
    in_receive_ = true;
    while (!bytes.empty()) {
      const std::size_t n = realtime_length(bytes);
      command_offset = offset + (received_ - offset - bytes.size());
      std::string_view cmd = bytes.substr(0, n);
      if (cmd[1] == 0x04) realtime_status(static_cast<unsigned char>(cmd[2]));
      else if (cmd[1] == 0x05) realtime_recover(static_cast<unsigned char>(cmd[2]));
      else realtime_request(cmd);
      bytes.remove_prefix(n);
    }
    in_receive_ = false;
    return;
  }
  dispatch(bytes, offset);
}

void machine::dispatch(std::string_view bytes, std::uint64_t offset) {
  in_receive_ = true;
  while (!bytes.empty()) {
    if (is_offline()) {
      // A condition arose while processing (never from a command today); keep the rest.
      if (held_.empty()) held_offset_ = offset;
      held_.append(bytes);
      break;
    }
    printer_parser_.use((peripheral & 1) ? kPrinterCommands : kPrinterDeselected);
    const bool to_display = (peripheral & 2) != 0;
    stop_feeding = false;
    // The printer's parser decides where the routing changes; the display sees the same bytes.
    const std::string_view rest = bytes;
    const std::size_t consumed = printer_parser_.feed(*this, rest, offset);
    if (to_display) display_parser_.feed(*this, rest.substr(0, consumed), offset);
    bytes.remove_prefix(consumed);
    offset += consumed;
  }
  in_receive_ = false;
}

void machine::scan_held() {
  std::size_t pos = 0;
  for (;;) {
    std::size_t at = held_.find('\x10', pos);
    std::size_t n = 0;
    while (at != std::string::npos) {
      n = realtime_length(std::string_view(held_).substr(at));
      if (n != std::string_view::npos) break;
      at = held_.find('\x10', at + 1);
    }
    if (at == std::string::npos || n == 0 || at + n > held_.size()) return;  // none, or incomplete
    // The command acts on what was received before it; what follows it arrived later.
    std::string after = held_.substr(at + n);
    const std::string cmd = held_.substr(at, n);
    held_.resize(at);
    command_offset = held_offset_ + at;
    if (cmd[1] == 0x04) realtime_status(static_cast<unsigned char>(cmd[2]));
    else if (cmd[1] == 0x05) realtime_recover(static_cast<unsigned char>(cmd[2]));
    else realtime_request(cmd);
    pos = held_.size();
    held_ += after;
    if (!is_offline()) {
      release_held();
      return;
    }
  }
}

void machine::release_held() {
  if (held_.empty() || is_offline() || in_receive_) return;
  std::string bytes;
  bytes.swap(held_);
  dispatch(bytes, held_offset_);
}

void machine::condition_changed() {
  if (!is_offline()) release_held();
  report_asb(false);
}

void machine::select_peripheral(int n) {
  if (n != peripheral) stop_feeding = true;
  peripheral = n & 3;
}

void machine::realtime_status(int n) {
  const condition c = current_condition();
  switch (n) {
    case 1: answer_byte(status_byte(status_kind::printer, c)); break;
    case 2: answer_byte(status_byte(status_kind::offline_cause, c)); break;
    case 3: answer_byte(status_byte(status_kind::error_cause, c)); break;
    case 4: answer_byte(status_byte(status_kind::paper_sensor, c)); break;
    default: note(log_entry::kind::ignored, "DLE EOT " + std::to_string(n) + ": no such status");
  }
}

void machine::realtime_recover(int n) {
  // Only a recoverable error is recovered; paper end and an open cover are not errors.
  if (n != 1 && n != 2) {
    note(log_entry::kind::ignored, "DLE ENQ " + std::to_string(n) + ": not a recovery request");
    return;
  }
  if (!cutter_error) {
    note(log_entry::kind::note, "DLE ENQ " + std::to_string(n) + " without a recoverable error");
    return;
  }
  if (failed_recoveries_left > 0) {
    // The cause is still there: the printer tries, stays in error and keeps its buffer.
    --failed_recoveries_left;
    note(log_entry::kind::note, "DLE ENQ " + std::to_string(n) + ": the error persists");
    return;
  }
  cutter_error = false;
  if (n == 2) {
    held_.clear();
    printer_parser_.reset();
    print.cancel_page();
  }
  report_asb(false);
}

void machine::realtime_request(std::string_view b) {
  const int fn = b.size() > 2 ? static_cast<unsigned char>(b[2]) : 0;
  if (fn == 1 && b.size() >= 5) {
    const int m = static_cast<unsigned char>(b[3]);
    const int t = static_cast<unsigned char>(b[4]);
    if ((m == 0 || m == 1) && t >= 1 && t <= 8) kick(m == 0 ? 2 : 5, t * 100, t * 100);
    else note(log_entry::kind::ignored, "DLE DC4 1: pulse parameters out of range");
  } else if (fn == 8 && b.substr(3) == std::string_view("\x01\x03\x14\x01\x06\x02\x08", 7)) {
    held_.clear();
    printer_parser_.reset();
    print.cancel_page();
  } else {
    note(log_entry::kind::ignored, "DLE DC4 " + std::to_string(fn) + " ignored");
  }
}

void machine::kick(int pin, int on_ms, int off_ms) {
  const std::uint64_t now = now_ms();
  pulses.push_back({pin, on_ms, off_ms, now});
  if (pin == 2 && !drawer_open()) {
    drawer_open_ = true;
    drawer_opened_at_ = now;
    report_asb(false);
  }
}

bool machine::drawer_open() const {
  if (!drawer_open_) return false;
  if (cfg_.drawer_close_after_ms > 0 &&
      now_ms() >= drawer_opened_at_ + static_cast<std::uint64_t>(cfg_.drawer_close_after_ms))
    return false;
  return true;
}

void machine::close_drawer() {
  drawer_open_ = false;
  report_asb(false);
}

void machine::set_asb(int mask) {
  asb_mask_ = mask;
  if (mask != 0) report_asb(true);
}

void machine::report_asb(bool force) {
  if (asb_mask_ == 0) return;
  const auto now = automatic_status(current_condition());
  if (!force && now == asb_last_) return;
  asb_last_ = now;
  answer(std::string(now.begin(), now.end()));
}

int machine::nv_used_bytes() const {
  long used = 0;
  for (const auto& img : stored_images) used += img.width() / 8 * img.height();
  for (const auto& [key, img] : graphics) used += (img.width() + 7) / 8 * img.height();
  for (const auto& [key, img] : graphics_red) used += (img.width() + 7) / 8 * img.height();
  return static_cast<int>(used);
}

void machine::reset() {
  print.initialise();
  display.initialise();
  printer_parser_.reset();
  display_parser_.reset();
  held_.clear();
  answers.clear();
  peripheral = 1;
  asb_mask_ = 0;
  awaiting_setup_reply = false;
  due_answer.clear();
  downloaded_image = bitmap();
  graphics_buffer = bitmap();
  graphics_buffer_red = bitmap();
  key_list_rest.clear();
  awaiting_key_list_ack = false;
}

}  // namespace vprinter::detail
