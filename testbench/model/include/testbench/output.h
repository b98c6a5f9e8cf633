// The output window's records: time-stamped messages with level markers, how they read as text,
// and the texts of events, dumps and device information.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "testbench/literals.h"

namespace testbench {

// One message of the output window.
struct output_record {
  int hour = 0;
  int minute = 0;
  int second = 0;
  std::string source;     // the window the message came from (its title)
  bool has_source_line = false;
  int source_line = 0;    // script line of a script error (1-based)
  std::string text;       // one line, beginning with its level marker
  std::string detail;     // may be empty; "|" starts a new line
};

// "14:05.09 " for 14 h 5 min 9 s.
std::string format_time(int hour, int minute, int second);
// The record as the window shows it: the time and the text, a line break, then the detail
// indented by nine spaces with every "|" starting a new indented line.
std::string format_record(const output_record& record);

// The output window's contents: records and which output line each starts on.
class output_log {
 public:
  // Appends a record stamped with the local time now.
  const output_record& add(std::string text, std::string detail, std::string source = {}, int source_line = 0);
  // Appends a record as it is (tests set the time).
  const output_record& add_record(output_record record);
  const std::vector<output_record>& records() const { return records_; }
  // The whole window text.
  std::string text() const;
  // The record shown at output line `line` (0-based) when it links to a script line, else null.
  const output_record* link_at(int line) const;
  void clear();

 private:
  std::vector<output_record> records_;
  std::vector<int> first_lines_;  // output line where each record starts
  int line_count_ = 0;
};

// Name of a StatusUpdateEvent status, or "(%d)" for a status without one.
std::string status_name(std::int32_t status);
// Every byte as two upper-case hexadecimal digits followed by a space.
std::string hex_bytes(std::string_view bytes);
// A DirectIO reply read as consecutive three-digit decimal numbers, one byte each, dumped in
// rows of "%04X   " (offset) and eight "%02X" bytes separated by spaces.
std::string reply_dump(std::string_view reply);

// Values shown by the device information window; std::nullopt fields when not connected.
struct device_info {
  std::int32_t control_version = 0;
  std::string control_description;
  std::int32_t service_version = 0;
  std::string service_description;
  std::string device_name;
  std::string device_description;
};
std::string device_info_text(const device_info& info);

// The text of the ErrorEvent window.
std::string error_window_text(bool italian, const std::string& code_text, const std::string& extended_name,
                              const std::string& error_string);

}  // namespace testbench
