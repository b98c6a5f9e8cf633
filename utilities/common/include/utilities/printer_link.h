// The printer link of the utilities: what they call on a printer's I/O object (IoChannel) and in
// which order, the real-time status check with error recovery, escape scripts, long writes,
// commands with answers, printer identification, the model lookup and the OPOS registry update.
// Every dialog and status text goes through a user_interface.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/com.h"
#include "utilities/user_interface.h"

namespace utilities {

// Results of the channel's write and read operations that the utilities tell apart.
inline constexpr std::int32_t kResultDone = 0;
inline constexpr std::int32_t kResultTimeout = static_cast<std::int32_t>(0x80040069u);
inline constexpr std::int32_t kResultBusy = static_cast<std::int32_t>(0x80040070u);
inline constexpr std::int32_t kResultPaperOut = static_cast<std::int32_t>(0x80040072u);

// Milliseconds between polls of the offline flag.
inline constexpr int kOfflinePollMs = 200;

// A failure as the outside objects report it.
struct ErrorRecord {
  std::int32_t Number = 0;
  std::string Description;
  std::string Source;
};

// StatusCheck's results.
inline constexpr int kStatusReady = 0;
inline constexpr int kStatusOffline = 1;
inline constexpr int kStatusFailed = 2;
inline constexpr int kStatusRecovered = 3;

// The status-bar text of a PrinterStateCode.
std::string printer_state_text(std::int32_t state);

// What identification found.
struct identification {
  bool ok = false;
  int id = 0;              // the identification byte
  std::string model_text;  // the second protocol kind's model name ("" for the first kind)
  ErrorRecord error;       // the channel's last error when !ok
};

// The model and brand of an identification byte.
struct model_info {
  std::string model;
  std::string brand;
};

// ModelLookup: the model of identification byte `id` from section "PRINTER ID" of `ini_file`
// (entries model=number, in file order), whose "PRINTER BRAND" matches `brand` (any when empty),
// else the built-in table with the brand "KORVANE".
model_info ModelLookup(int id, const std::string& brand, const std::filesystem::path& ini_file);

// The utility's INI file: the executable's name with ".INI", in the application folder (found
// case-insensitively).
std::filesystem::path utility_ini_file(const std::filesystem::path& app_path, std::string_view exe_name);

// One printer's link. Holds the current I/O object (replaced at each connection, dropped on
// errors) and the recovery stage. Single-threaded; waits yield through the user_interface.
class printer_link {
 public:
  // Local time for clock fields of scripts.
  using clock_fn = std::function<std::chrono::system_clock::time_point()>;

  explicit printer_link(user_interface& ui, clock_fn clock = {});

  // The current channel; set after a connection, dropped on errors.
  void set_channel(platform::com_ptr<platform::dispatch> channel);
  void drop_channel();
  bool has_channel() const { return static_cast<bool>(channel_); }
  const platform::com_ptr<platform::dispatch>& channel() const { return channel_.object(); }

  int recovery_stage() const { return recovery_stage_; }
  // The identification byte of the connected printer.
  int identification_byte() const { return id_; }
  void set_identification_byte(int id) { id_ = id; }

  // Channel operations by name; a failing call gives its failure code as the result.
  std::int32_t open();
  std::int32_t close();
  std::int32_t write(std::string_view data, std::int32_t mode, std::int32_t* written = nullptr);
  std::int32_t read(std::int32_t count, std::string& data);
  std::int32_t read_answer(std::string& text);
  std::int32_t offline();  // 1 offline or busy, 0 on line; 1 when the call fails
  std::int32_t printer_state(std::int32_t mode, std::int32_t& state);
  std::int32_t protocol_kind();
  ErrorRecord last_error();

  // Real-time status with recovery (DLE EOT 1 to 3, DLE ENQ 1 and 2): kStatusReady,
  // kStatusOffline, kStatusFailed or kStatusRecovered.
  int StatusCheck();
  // Prints an escape script line by line (comments, <n,...> groups, clock fields), following the
  // printer state before each line and after the last; 0 done, non-zero failed or cancelled.
  int SendScript(bool state_mode, std::string_view text);
  // Writes `data` whole, waiting while the printer is offline or busy; 0 done, else the result
  // that ended it.
  std::int32_t write_all(std::string_view data, std::int32_t mode = 1);
  // Writes `command` and reads its answer: the first answer unchanged (`single`), else answer
  // blocks (3-byte head; "A" as third byte: more follow once it is acknowledged with ACK) whose
  // data is appended (`collect`) or which are appended whole. Nothing on failure or cancel.
  std::optional<std::string> send_and_read(std::string_view command, bool single, bool collect = true);
  // Identifies the opened printer by its protocol kind, then closes the channel (it stays set).
  identification identify();

  // The line of a script as the printer gets it: comments removed, groups and clock fields
  // replaced (without the line feed put in front of later lines).
  std::string expand_script_line(std::string_view line) const;

 private:
  // Shows a Retry/Cancel question "<reason> CR Please verify..."; true for Retry.
  bool ask_retry(const std::string& reason);
  // Writes a status request and reads its one-byte answer, asking on busy and time-out; nullopt
  // when it failed (the message shown) or was cancelled.
  std::optional<std::uint8_t> status_byte(std::uint8_t n, bool* failed_with_message);
  // Writes one script line or command with the dialogs of SendScript; 0 done, else the result.
  std::int32_t write_with_dialogs(std::string_view data, std::int32_t mode, const char* timeout_text);
  // Waits until the printer state is 0; false when the operation must end.
  bool wait_ready(bool state_mode);
  void show_error_with_source(const ErrorRecord& e);

  user_interface& ui_;
  clock_fn clock_;
  platform::dispatch_client channel_;
  int recovery_stage_ = 0;
  int id_ = 0;
};

// The OPOS device keys of the printer's model, written by the browser in OPOS-setup mode.
struct opos_update_request {
  int id = 0;                 // identification byte
  std::string model;          // ModelLookup's model
  std::string printer_model;  // the model the printer reports (its name in the collection)
  std::string node_text;      // the tree node's text
  std::string port;           // the node's tag: written as COMMPort
  std::filesystem::path ini_file;  // for the lookups of 161 and 46
};

// Writes COMMPort and MachineType under the OPOS keys of the model; asks and reports through
// `ui`. True when the POS printer's keys were written.
bool opos_registry_update(user_interface& ui, const opos_update_request& request);

// Registry helpers of the utilities (HKEY_LOCAL_MACHINE): read at most 128 bytes ("" on any
// error) and write a REG_SZ; both return the registry's error code.
long registry_read(std::string_view key, std::string_view value_name, std::string& out);
long registry_write(std::string_view key, std::string_view value_name, std::string_view text);

}  // namespace utilities
