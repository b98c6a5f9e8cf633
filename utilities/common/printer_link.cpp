// The printer link: channel calls by name, StatusCheck, SendScript, write-all, send-and-read,
// identification, ModelLookup, the OPOS registry update and the registry helpers.
#include "utilities/printer_link.h"

#include <ctime>

#include <algorithm>
#include <array>
#include <charconv>

#include "platform/case_path.h"
#include "platform/profile.h"
#include "platform/registry.h"

namespace utilities {
namespace {

using platform::Variant;

constexpr char kCr = '\r';

// PrinterStateCode texts; 6 and any code above 9 read as an unknown offline status.
constexpr std::array<const char*, 10> kStateTexts = {
    "Printer ready...",
    "Cover open. Waiting...",
    "Paper is being fed...",
    "Printing is being stopped due to paper end. Waiting...",
    "Error occurred. Waiting...",
    "Unrecoverable printer error. Please check printer...",
    "Unknown offline status. Waiting...",
    "Paper is near end. Waiting...",
    "Paper out. Waiting...",
    "Unknown answer. Waiting...",
};

// The built-in models, used when the INI file names none for an identification byte.
struct builtin_model {
  int id;
  const char* model;
};
constexpr builtin_model kBuiltinModels[] = {
    {176, "VJ20G"}, {10, "VJ12"}, {161, "VJ12"}, {36, "VJ20"}, {32, "VX40"}, {46, "VX40"},
};
constexpr char kBuiltinBrand[] = "KORVANE";

// The result of a call: its long value, or the call's failure code.
std::int32_t result_of(const platform::call_result& r) {
  if (!r.ok()) return r.hr;
  std::int32_t value = 0;
  if (platform::failed(r.value.as_long(value))) return platform::kDispETypeMismatch;
  return value;
}

std::string two_digits(int v) {
  std::string s = std::to_string(v);
  return s.size() < 2 ? "0" + s : s;
}

// The text of a clock field ESC # c3 c4 at local time `t`.
std::string clock_field(char third, char fourth, std::time_t t) {
  std::tm tm{};
  ::localtime_r(&t, &tm);
  const int form = static_cast<unsigned char>(fourth);
  if (third == 't') {
    std::string s = two_digits(tm.tm_hour) + ":" + two_digits(tm.tm_min);
    if (form == 1) s += ":" + two_digits(tm.tm_sec);
    return s;
  }
  const std::string day = two_digits(tm.tm_mday);
  const std::string month = two_digits(tm.tm_mon + 1);
  const int year = tm.tm_year + 1900;
  if (form == 1) return day + "/" + month + "/" + std::to_string(year);
  if (form == 2) return day + month;
  return day + "/" + month + "/" + two_digits(year % 100);
}

// The bytes of a "<n,n,...>" group's inside; nullopt when it is not such a list.
std::optional<std::string> group_bytes(std::string_view inside) {
  std::string out;
  while (true) {
    const std::size_t comma = inside.find(',');
    std::string_view item = inside.substr(0, comma);
    while (!item.empty() && item.front() == ' ') item.remove_prefix(1);
    while (!item.empty() && item.back() == ' ') item.remove_suffix(1);
    int value = -1;
    const auto [end, ec] = std::from_chars(item.data(), item.data() + item.size(), value);
    if (item.empty() || ec != std::errc() || end != item.data() + item.size() || value < 0 || value > 255)
      return std::nullopt;
    out += static_cast<char>(value);
    if (comma == std::string_view::npos) return out;
    inside.remove_prefix(comma + 1);
  }
}

}  // namespace

std::string printer_state_text(std::int32_t state) {
  if (state < 0 || state > 9) return kStateTexts[6];
  return kStateTexts[static_cast<std::size_t>(state)];
}

// ---------------------------------------------------------------------------------------------
// Model lookup

std::filesystem::path utility_ini_file(const std::filesystem::path& app_path, std::string_view exe_name) {
  return platform::resolve_case_insensitive(app_path / (std::string(exe_name) + ".INI"));
}

model_info ModelLookup(int id, const std::string& brand, const std::filesystem::path& ini_file) {
  for (const std::string& entry : platform::get_profile_section("PRINTER ID", ini_file, 256)) {
    const std::size_t eq = entry.find('=');
    if (eq == std::string::npos) continue;
    std::string model = entry.substr(0, eq);
    while (!model.empty() && model.back() == ' ') model.pop_back();
    std::string_view number = std::string_view(entry).substr(eq + 1);
    while (!number.empty() && number.front() == ' ') number.remove_prefix(1);
    int value = -1;
    std::from_chars(number.data(), number.data() + number.size(), value);
    if (value != id) continue;
    const std::string found = platform::get_profile_string("PRINTER BRAND", model, "", ini_file, 128);
    if (brand.empty() || brand == found) return {model, found};
  }
  for (const auto& row : kBuiltinModels)
    if (row.id == id) return {row.model, kBuiltinBrand};
  return {};
}

// ---------------------------------------------------------------------------------------------
// Channel calls

printer_link::printer_link(user_interface& ui, clock_fn clock) : ui_(ui), clock_(std::move(clock)) {
  if (!clock_) clock_ = [] { return std::chrono::system_clock::now(); };
}

void printer_link::set_channel(platform::com_ptr<platform::dispatch> channel) {
  channel_ = platform::dispatch_client(std::move(channel));
}

void printer_link::drop_channel() { channel_.reset(); }

std::int32_t printer_link::open() {
  if (!channel_) return platform::kEPointer;
  return result_of(channel_.call("OpenIO"));
}

std::int32_t printer_link::close() {
  if (!channel_) return platform::kEPointer;
  return result_of(channel_.call("CloseIO"));
}

std::int32_t printer_link::write(std::string_view data, std::int32_t mode, std::int32_t* written) {
  std::int32_t count = 0;
  if (written != nullptr) *written = 0;
  if (!channel_) return platform::kEPointer;
  std::string text(data);
  const auto length = static_cast<std::int32_t>(text.size());
  const std::int32_t rc = result_of(channel_.call("WriteIO", Variant::ref(text), length, Variant::ref(count), mode));
  if (written != nullptr) *written = std::clamp(count, 0, length);
  return rc;
}

std::int32_t printer_link::read(std::int32_t count, std::string& data) {
  data.clear();
  if (!channel_) return platform::kEPointer;
  // The buffer is pre-filled with blanks, as the I/O object expects it.
  std::string buffer(static_cast<std::size_t>(std::max(count, 0)), ' ');
  std::int32_t got = 0;
  const std::int32_t rc = result_of(channel_.call("ReadIO", Variant::ref(buffer), count, Variant::ref(got)));
  got = std::clamp(got, 0, static_cast<std::int32_t>(buffer.size()));
  data = buffer.substr(0, static_cast<std::size_t>(got));
  if (rc == kResultDone && got < count) return kResultTimeout;
  return rc;
}

std::int32_t printer_link::read_answer(std::string& text) {
  text.clear();
  if (!channel_) return platform::kEPointer;
  std::int32_t count = 0;
  const std::int32_t rc = result_of(channel_.call("ReadAnswer", Variant::ref(text), Variant::ref(count), 0));
  if (count >= 0 && static_cast<std::size_t>(count) < text.size()) text.resize(static_cast<std::size_t>(count));
  return rc;
}

std::int32_t printer_link::offline() {
  if (!channel_) return 1;
  const platform::call_result r = channel_.get("Offline");
  return r.ok() ? r.value.long_or(1) : 1;
}

std::int32_t printer_link::printer_state(std::int32_t mode, std::int32_t& state) {
  state = 6;
  if (!channel_) return platform::kEPointer;
  return result_of(channel_.call("GetPrinterState", Variant::ref(state), mode));
}

std::int32_t printer_link::protocol_kind() {
  if (!channel_) return platform::kEPointer;
  return result_of(channel_.get("ProtocolKind"));
}

ErrorRecord printer_link::last_error() {
  ErrorRecord e;
  if (!channel_) {
    e.Number = platform::kEPointer;
    e.Description = "No connection with the printer.";
    return e;
  }
  const platform::call_result r = channel_.call("GetLastErr", Variant::ref(e.Number), Variant::ref(e.Description),
                                                Variant::ref(e.Source));
  if (!r.ok()) {
    // The I/O object could not even be asked: the call's own failure is the error.
    e.Number = r.hr;
    e.Description = platform::take_error_info();
    if (e.Description.empty()) e.Description = platform::hresult_text(r.hr);
    e.Source = "IoChannel";
  }
  return e;
}

// ---------------------------------------------------------------------------------------------
// Dialog helpers

bool printer_link::ask_retry(const std::string& reason) {
  return ui_.ask(reason + kCr + "Please verify...", box_buttons::retry_cancel, box_icon::information) ==
         box_answer::retry;
}

void printer_link::show_error_with_source(const ErrorRecord& e) {
  ui_.show_message("Error " + std::to_string(e.Number) + " by " + e.Source + ":" + kCr + e.Description);
}

// ---------------------------------------------------------------------------------------------
// StatusCheck

std::optional<std::uint8_t> printer_link::status_byte(std::uint8_t n, bool* failed_with_message) {
  *failed_with_message = false;
  for (;;) {
    std::string answer;
    std::int32_t rc = write(std::string{'\x10', '\x04', static_cast<char>(n)}, 2);
    if (rc == kResultDone) rc = read(1, answer);
    if (rc == kResultDone && answer.size() == 1) return static_cast<std::uint8_t>(answer[0]);
    if (rc == kResultBusy) {
      if (ask_retry("Printer busy.")) continue;
      return std::nullopt;
    }
    if (rc == kResultTimeout) {
      if (ask_retry("Timeout getting status: printer offline?")) continue;
      return std::nullopt;
    }
    const ErrorRecord e = last_error();
    ui_.show_message("Raised error " + std::to_string(e.Number) + " by " + e.Source + kCr +
                     "Extended error description: " + e.Description);
    *failed_with_message = true;
    return std::nullopt;
  }
}

int printer_link::StatusCheck() {
  bool message = false;
  const std::optional<std::uint8_t> printer = status_byte(1, &message);
  if (!printer) {
    if (message) recovery_stage_ = 0;
    return kStatusFailed;
  }
  if ((*printer & 0x08) == 0) {
    recovery_stage_ = 0;
    ui_.set_status(kPanelProgramStatus, "Printer ready...");
    return kStatusReady;
  }
  const std::optional<std::uint8_t> cause = status_byte(2, &message);
  if (!cause) {
    if (message) recovery_stage_ = 0;
    return kStatusFailed;
  }
  if ((*cause & 0x40) == 0 || (*cause & 0x0C) != 0) {
    // Off line for a reason that is not an error (the first matching cause is shown).
    const char* text = (*cause & 0x04) ? "Cover open. Waiting..."
                       : (*cause & 0x08) ? "Paper is being fed..."
                       : (*cause & 0x20) ? "Printing is being stopped due to paper end. Waiting..."
                                         : "Unknown offline status...";
    ui_.set_status(kPanelProgramStatus, text);
    return kStatusOffline;
  }
  ui_.set_status(kPanelProgramStatus, "Error occurred. Waiting...");
  const std::optional<std::uint8_t> error = status_byte(3, &message);
  if (!error) {
    if (message) recovery_stage_ = 0;
    return kStatusFailed;
  }
  if ((*error & 0x20) != 0) {
    recovery_stage_ = 0;
    ui_.set_status(kPanelProgramStatus, "Unrecoverable printer error. Please check printer...");
    return kStatusFailed;
  }
  // A recoverable error: restart from the failed line first, then clear the buffers, then give up.
  if (recovery_stage_ >= 2) {
    ui_.set_status(kPanelProgramStatus, "Unable to recover printer error. Please check printer...");
    return kStatusFailed;
  }
  const char request = recovery_stage_ == 0 ? '\x01' : '\x02';
  const std::int32_t rc = write(std::string{'\x10', '\x05', request}, 2);
  if (rc != kResultDone) {
    const ErrorRecord e = last_error();
    ui_.show_message("Raised error " + std::to_string(e.Number) + " by " + e.Source + kCr +
                     "Extended error description: " + e.Description);
    recovery_stage_ = 0;
    return kStatusFailed;
  }
  ++recovery_stage_;
  return kStatusRecovered;
}

// ---------------------------------------------------------------------------------------------
// SendScript

std::string printer_link::expand_script_line(std::string_view line) const {
  // Comments go first, so that nothing inside them is taken for a group or a clock field.
  std::string text;
  for (std::size_t pos = 0; pos < line.size();) {
    const std::size_t open = line.find("/*", pos);
    if (open == std::string_view::npos) {
      text.append(line.substr(pos));
      break;
    }
    text.append(line.substr(pos, open - pos));
    const std::size_t close = line.find("*/", open + 2);
    pos = close == std::string_view::npos ? line.size() : close + 2;
  }
  // "<n,n,...>" groups become their bytes; anything else between brackets stays as written.
  std::string bytes;
  for (std::size_t pos = 0; pos < text.size();) {
    const std::size_t open = text.find('<', pos);
    if (open == std::string::npos) {
      bytes.append(text, pos, std::string::npos);
      break;
    }
    bytes.append(text, pos, open - pos);
    const std::size_t close = text.find('>', open + 1);
    const std::optional<std::string> group =
        close == std::string::npos ? std::nullopt : group_bytes(std::string_view(text).substr(open + 1, close - open - 1));
    if (group) {
      bytes += *group;
      pos = close + 1;
    } else {
      bytes += '<';
      pos = open + 1;
    }
  }
  // Clock fields: ESC # and two characters become the time or the date.
  const std::time_t now = std::chrono::system_clock::to_time_t(clock_());
  std::string out;
  for (std::size_t i = 0; i < bytes.size();) {
    if (bytes[i] == '\x1b' && i + 3 < bytes.size() && bytes[i + 1] == '#') {
      out += clock_field(bytes[i + 2], bytes[i + 3], now);
      i += 4;
    } else {
      out += bytes[i++];
    }
  }
  return out;
}

bool printer_link::wait_ready(bool state_mode) {
  for (;;) {
    std::int32_t state = 6;
    const std::int32_t rc = printer_state(state_mode ? 1 : 0, state);
    if (rc != kResultDone) {
      show_error_with_source(last_error());
      ui_.set_status(kPanelProgramStatus, "Ready...");
      return false;
    }
    ui_.set_status(kPanelProgramStatus, printer_state_text(state));
    if (state == 0) return true;
    if (state == 5 || ui_.end_requested()) {
      ui_.set_status(kPanelProgramStatus, "Ready...");
      return false;
    }
    ui_.pump(kOfflinePollMs);
  }
}

std::int32_t printer_link::write_with_dialogs(std::string_view data, std::int32_t mode, const char* timeout_text) {
  std::size_t pos = 0;
  for (;;) {
    std::int32_t written = 0;
    const std::int32_t rc = write(data.substr(pos), mode, &written);
    // What the printer took is not sent again on Retry.
    pos += static_cast<std::size_t>(written);
    if (rc == kResultDone) return kResultDone;
    bool retry = false;
    if (rc == kResultBusy) {
      ui_.set_status(kPanelProgramStatus, "Printer error...");
      retry = ask_retry("Printer busy.");
    } else if (rc == kResultPaperOut) {
      ui_.set_status(kPanelProgramStatus, "Printer error...");
      retry = ask_retry("Paper out.");
    } else if (rc == kResultTimeout) {
      retry = ask_retry(timeout_text);
    } else {
      show_error_with_source(last_error());
    }
    if (!retry) {
      ui_.set_status(kPanelProgramStatus, "Ready...");
      return rc;
    }
    if (pos >= data.size()) return kResultDone;
  }
}

int printer_link::SendScript(bool state_mode, std::string_view text) {
  ui_.set_status(kPanelProgramStatus, "Printing...");
  std::vector<std::string_view> lines;
  for (std::size_t pos = 0; pos < text.size();) {
    const std::size_t end = text.find("\r\n", pos);
    lines.push_back(text.substr(pos, end == std::string_view::npos ? std::string_view::npos : end - pos));
    pos = end == std::string_view::npos ? text.size() : end + 2;
  }
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (!wait_ready(state_mode)) return 1;
    const std::string data = (i > 0 ? "\n" : "") + expand_script_line(lines[i]);
    if (write_with_dialogs(data, 1, "Timeout sending data. Printer off-line?") != kResultDone) return 1;
  }
  return wait_ready(state_mode) ? 0 : 1;
}

// ---------------------------------------------------------------------------------------------
// Write-all and send-and-read

std::int32_t printer_link::write_all(std::string_view data, std::int32_t mode) {
  std::size_t pos = 0;
  for (;;) {
    std::int32_t written = 0;
    const std::int32_t rc = write(data.substr(pos), mode, &written);
    pos += static_cast<std::size_t>(written);
    if (rc == kResultDone) {
      ui_.set_status(kPanelProgramStatus, "Printer ready...");
      if (pos >= data.size()) return kResultDone;
      continue;
    }
    if ((rc == kResultBusy || rc == kResultTimeout) && offline() == 1) {
      // The printer holds the data back: follow its status until it takes data again.
      while (offline() == 1) {
        if (StatusCheck() == kStatusFailed || ui_.end_requested()) return kResultTimeout;
        ui_.pump(kOfflinePollMs);
      }
      ui_.set_status(kPanelProgramStatus, "Printer ready...");
      continue;
    }
    bool retry = false;
    if (rc == kResultBusy) {
      ui_.set_status(kPanelProgramStatus, "Printer error...");
      retry = ask_retry("Error sending data: printer busy.");
    } else if (rc == kResultTimeout) {
      ui_.set_status(kPanelProgramStatus, "Printer error...");
      retry = ask_retry("Timeout sending data: printer offline?");
    } else if (rc == kResultPaperOut) {
      ui_.set_status(kPanelProgramStatus, "Printer error...");
      retry = ask_retry("Paper out.");
    } else {
      const ErrorRecord e = last_error();
      ui_.show_message("Raised error " + std::to_string(e.Number) + " sending data to printer." + kCr +
                       "Extended error description: " + e.Description);
      return rc;
    }
    if (!retry) return rc;
    if (pos >= data.size()) return kResultDone;
  }
}

std::optional<std::string> printer_link::send_and_read(std::string_view command, bool single, bool collect) {
  while (offline() == 1) {
    if (ui_.end_requested() || StatusCheck() == kStatusFailed) return std::nullopt;
    ui_.pump(kOfflinePollMs);
  }
  if (write_with_dialogs(command, 2, "Timeout sending data. Printer off-line?") != kResultDone) return std::nullopt;
  ui_.set_status(kPanelProgramStatus, "Printer ready...");
  std::string result;
  for (;;) {
    std::string answer;
    const std::int32_t rc = read_answer(answer);
    if (rc == kResultTimeout) {
      ui_.set_status(kPanelProgramStatus, "Printer error...");
      if (ask_retry("Timeout getting data: printer offline?")) continue;
      return std::nullopt;
    }
    if (rc != kResultDone) {
      show_error_with_source(last_error());
      return std::nullopt;
    }
    if (single) return answer;
    result += collect ? answer.substr(std::min<std::size_t>(3, answer.size())) : answer;
    if (answer.size() < 3 || answer[2] != 'A') return result;
    // The printer sends the next block once this one is acknowledged (ACK).
    if (const std::int32_t ack = write_with_dialogs("\x06", 2, "Timeout sending data. Printer off-line?");
        ack != kResultDone) {
      return std::nullopt;
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Identification

identification printer_link::identify() {
  identification out;
  std::int32_t rc = kResultDone;
  const std::int32_t kind = protocol_kind();
  if (kind < 0) {
    rc = kind;
  } else if (kind == 1) {
    std::string answer;
    rc = write("\x1d\x49\x01", 2);
    if (rc == kResultDone) rc = read(1, answer);
    if (rc == kResultDone) out.id = static_cast<unsigned char>(answer[0]);
  } else {
    std::string head;
    std::string body;
    rc = write("\x1b\x3f\x30", 2);
    if (rc == kResultDone) rc = read(3, head);
    if (rc == kResultDone) rc = read(static_cast<unsigned char>(head[1]), body);
    if (rc == kResultDone) {
      if (!body.empty()) body.pop_back();
      out.model_text = body;
      out.id = body == "QW-310" ? 0xA1 : 0;
    }
  }
  if (rc != kResultDone) {
    out.error = last_error();
    if (out.error.Number == 0) out.error.Number = rc;
  } else {
    out.ok = true;
  }
  close();
  if (out.ok) id_ = out.id;
  return out;
}

// ---------------------------------------------------------------------------------------------
// Registry

long registry_read(std::string_view key, std::string_view value_name, std::string& out) {
  out.clear();
  platform::registry_key k;
  long rc = platform::registry_key::open(platform::registry_root::local_machine, key, k);
  if (rc != platform::kErrorSuccess) return rc;
  std::string value;
  rc = k.query_string(value_name, value);
  if (rc != platform::kErrorSuccess) return rc;
  // The text and its NUL must fit the 128-byte buffer.
  if (value.size() + 1 > 128) return platform::kErrorMoreData;
  out = value;
  return platform::kErrorSuccess;
}

long registry_write(std::string_view key, std::string_view value_name, std::string_view text) {
  platform::registry_key k;
  const long rc = platform::registry_key::open(platform::registry_root::local_machine, key, k);
  if (rc != platform::kErrorSuccess) return rc;
  return k.set_string(value_name, text);
}

// ---------------------------------------------------------------------------------------------
// OPOS registry update

namespace {

constexpr char kPosPrinterKey[] = "SOFTWARE\\OleForRetail\\ServiceOPOS\\POSPrinter\\";
constexpr char kLineDisplayKey[] = "SOFTWARE\\OleForRetail\\ServiceOPOS\\LineDisplay\\";
constexpr char kCashDrawerKey[] = "SOFTWARE\\OleForRetail\\ServiceOPOS\\CashDrawer\\";
constexpr char kMicrKey[] = "SOFTWARE\\OleForRetail\\ServiceOPOS\\Micr\\";
constexpr char kCheckScannerKey[] = "SOFTWARE\\OleForRetail\\ServiceOPOS\\CheckScanner\\";

// Writes COMMPort and MachineType under class key + model + suffix; reports each failure.
bool write_device_key(user_interface& ui, const opos_update_request& r, const std::string& class_key,
                      const std::string& suffix) {
  const std::string key = class_key + r.model + suffix;
  std::string shown = suffix;
  if (!shown.empty() && shown.back() == '\\') shown.pop_back();
  bool ok = true;
  const std::pair<const char*, const std::string*> values[] = {{"COMMPort", &r.port}, {"MachineType", &r.printer_model}};
  for (const auto& [name, text] : values) {
    if (registry_write(key, name, *text) == platform::kErrorSuccess) continue;
    ok = false;
    ui.message_box(std::string("Error updating registry value '") + name + "' under '" + class_key + r.model + shown +
                       "' key.",
                   box_icon::error);
  }
  return ok;
}

}  // namespace

bool opos_registry_update(user_interface& ui, const opos_update_request& r) {
  const bool own_model = r.id == 32 || r.id == 46 || r.id == 161;
  if (own_model) {
    if (r.model != r.printer_model &&
        ui.ask(r.node_text + " is a " + r.model + "." + kCr + "Do you want to continue?", box_buttons::yes_no,
               box_icon::question) != box_answer::yes)
      return false;
  } else {
    if (r.model != ModelLookup(161, "", r.ini_file).model && r.model != ModelLookup(46, "", r.ini_file).model) {
      ui.message_box("OPOS for " + r.model + " not installed.", box_icon::error);
      return false;
    }
    if (r.printer_model != r.model) ui.message_box(r.printer_model + " is not a " + r.model + ".", box_icon::information);
  }
  ui.set_status(kPanelProgramStatus, "Updating registry values for " + r.model + "...");
  bool ok = write_device_key(ui, r, kPosPrinterKey, "Device");
  if (r.id == 46 || r.id == 32) ok = write_device_key(ui, r, kPosPrinterKey, "CDevice") && ok;
  if (!ok) return false;
  if (r.id == 161) {
    write_device_key(ui, r, kMicrKey, "MicrControl\\");
    write_device_key(ui, r, kCheckScannerKey, "CheckScannerControl\\");
  } else if (r.id == 32 || r.id == 46) {
    write_device_key(ui, r, kLineDisplayKey, "LineControl\\");
    write_device_key(ui, r, kCashDrawerKey, "DrawerControl\\");
  } else {
    ui.message_box("Application unknown.", box_icon::information);
  }
  return true;
}

}  // namespace utilities
