// Output records, their text, and the formatting of events, dumps and device information.
#include "testbench/output.h"

#include <chrono>
#include <cstdio>
#include <ctime>

#include "testbench/texts.h"

namespace testbench {

std::string format_time(int hour, int minute, int second) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%02d:%02d.%02d ", hour, minute, second);
  return buffer;
}

std::string format_record(const output_record& record) {
  std::string out = format_time(record.hour, record.minute, record.second) + record.text + "\n";
  if (!record.detail.empty()) {
    std::string detail;
    for (const char c : record.detail) {
      if (c == '|') {
        detail += "\n         ";
      } else {
        detail += c;
      }
    }
    out += "         " + detail + "\n";
  }
  return out;
}

const output_record& output_log::add(std::string text, std::string detail, std::string source, int source_line) {
  const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  std::tm local{};
  localtime_r(&now, &local);
  output_record r;
  r.hour = local.tm_hour;
  r.minute = local.tm_min;
  r.second = local.tm_sec;
  r.source = std::move(source);
  r.has_source_line = source_line > 0;
  r.source_line = source_line;
  r.text = std::move(text);
  r.detail = std::move(detail);
  return add_record(std::move(r));
}

const output_record& output_log::add_record(output_record record) {
  first_lines_.push_back(line_count_);
  const std::string shown = format_record(record);
  for (const char c : shown) line_count_ += c == '\n' ? 1 : 0;
  records_.push_back(std::move(record));
  return records_.back();
}

std::string output_log::text() const {
  std::string out;
  for (const output_record& r : records_) out += format_record(r);
  return out;
}

const output_record* output_log::link_at(int line) const {
  for (std::size_t i = records_.size(); i-- > 0;) {
    if (first_lines_[i] <= line) return records_[i].has_source_line ? &records_[i] : nullptr;
  }
  return nullptr;
}

void output_log::clear() {
  records_.clear();
  first_lines_.clear();
  line_count_ = 0;
}

std::string status_name(std::int32_t status) {
  switch (status) {
    case 11: return "PTR_SUE_COVER_OPEN";
    case 12: return "PTR_SUE_COVER_OK";
    case 24: return "PTR_SUE_REC_EMPTY";
    case 25: return "PTR_SUE_REC_NEAREMPTY";
    case 26: return "PTR_SUE_REC_PAPEROK";
    case 1001: return "PTR_SUE_IDLE";
    case 2001: return "OPOS_SUE_POWER_ONLINE";
    case 2002: return "OPOS_SUE_POWER_OFF";
    case 2003: return "OPOS_SUE_POWER_OFFLINE";
    case 2004: return "OPOS_SUE_POWER_OFF_OFFLINE";
    default: return "(" + std::to_string(status) + ")";
  }
}

std::string hex_bytes(std::string_view bytes) {
  std::string out;
  char buffer[4];
  for (const char c : bytes) {
    std::snprintf(buffer, sizeof buffer, "%02X ", static_cast<unsigned char>(c));
    out += buffer;
  }
  return out;
}

std::string reply_dump(std::string_view reply) {
  std::string out;
  char buffer[16];
  for (std::size_t i = 0; i + 3 <= reply.size(); i += 3) {
    const std::size_t index = i / 3;
    int value = 0;
    for (std::size_t k = i; k < i + 3; ++k) {
      const char c = reply[k];
      value = value * 10 + (c >= '0' && c <= '9' ? c - '0' : 0);
    }
    if (index % 8 == 0) {
      if (index > 0) out += "\r\n";
      std::snprintf(buffer, sizeof buffer, "%04X   ", static_cast<unsigned>(index));
      out += buffer;
    } else {
      out += ' ';
    }
    std::snprintf(buffer, sizeof buffer, "%02X", static_cast<unsigned>(value & 0xFF));
    out += buffer;
  }
  return out;
}

std::string device_info_text(const device_info& i) {
  return "Control Object\r\n\tVersion, " + std::to_string(i.control_version) + "\r\n\tDescription, " +
         i.control_description + "\r\n\r\nService Object\r\n\tVersion, " + std::to_string(i.service_version) +
         "\r\n\tDescription, " + i.service_description + "\r\n\r\nDevice\r\n\tName, " + i.device_name +
         "\r\n\tDescription, " + i.device_description;
}

std::string error_window_text(bool italian, const std::string& code_text, const std::string& extended_name,
                              const std::string& error_string) {
  const auto t = [italian](txt id) { return std::string(text(id, italian)); };
  return t(txt::error_window_async) + "\r\n" + std::string(60, '-') + "\r\n" + t(txt::error_window_code) +
         code_text + "\r\n" + t(txt::error_window_extended) + extended_name + "\r\n" + t(txt::error_window_more) +
         "\r\n" + t(txt::error_window_device) + "\r\n" + t(txt::error_window_description) + error_string;
}

}  // namespace testbench
