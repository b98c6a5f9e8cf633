// The setup exchange of the printer: the block sent on request (again on NAK, until ACK or CAN)
// and the download taken back, answered once for its checksum and once for storing it.
#include <algorithm>

#include "machine.h"
#include "setup_block.h"

namespace vprinter::detail {

int machine::start_code_table() const {
  const std::string& v = setup_values.at(kCodePage);
  return setup_code_table(v.empty() ? 0 : std::stoi(v));
}

void machine::send_setup_block(char kind) {
  last_setup_kind = kind;
  setup_live live;
  live.serial_number = cfg_.serial_number;
  live.free_bytes = std::max(0, cfg_.nv_memory_bytes - nv_used_bytes());
  live.lines_printed = print.lines_printed();
  live.cuts = print.cuts();
  const bool corrupt = setup_corrupt_left > 0;
  if (corrupt) {
    --setup_corrupt_left;
    note(log_entry::kind::note, "setup block sent with a wrong checksum (fault)");
  }
  last_setup_block = setup_block(kind, setup_values, live, corrupt);
  answer(last_setup_block);
  awaiting_setup_reply = true;
}

void machine::setup_handshake(std::uint8_t byte) {
  awaiting_setup_reply = false;
  if (byte == 0x15) send_setup_block(last_setup_kind);  // checksum error at the host: sent again
  else if (byte == 0x18) note(log_entry::kind::note, "setup block cancelled by the host");
}

void machine::receive_setup(std::string_view b) {
  awaiting_setup_reply = false;
  if (setup_refuse_checksum) {
    answer_byte(0x15);
    note(log_entry::kind::note, "setup download: checksum refused (fault)");
    return;
  }
  std::vector<std::string> values = setup_values;
  std::string why;
  const download_result r = take_setup_download(b, values, &why);
  if (r == download_result::checksum_error) {
    answer_byte(0x15);
    note(log_entry::kind::note, "setup download: " + why);
    return;
  }
  answer_byte(0x06);
  std::uint8_t second = 0x06;
  if (setup_refuse_identifier) {
    second = 0x15;
    note(log_entry::kind::note, "setup download: identifier refused (fault)");
  } else if (r == download_result::identifier_mismatch) {
    second = 0x15;
    note(log_entry::kind::note, "setup download: " + why);
  } else if (setup_store_fails) {
    second = 0x07;
    note(log_entry::kind::note, "setup download: storing failed (fault)");
  } else if (r == download_result::refused) {
    second = 0x07;
    note(log_entry::kind::note, "setup download: " + why);
  } else {
    setup_values = std::move(values);
    // The printer works by the new setup at once, as after a restart.
    print.default_code_table = start_code_table();
    print.modes.code_table = print.default_code_table;
  }
  if (setup_store_delay_ms > 0) {
    due_answer = std::string(1, static_cast<char>(second));
    due_at_ms = now_ms() + static_cast<std::uint64_t>(setup_store_delay_ms);
  } else {
    answer_byte(second);
  }
}

void machine::release_due_answer() {
  if (due_answer.empty() || now_ms() < due_at_ms) return;
  answer(due_answer);
  due_answer.clear();
}

}  // namespace vprinter::detail
