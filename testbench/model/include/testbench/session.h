// The test environment's work with the POS printer control object, without any window: the
// control created by ProgID and driven by name, its event sink, connecting and disconnecting,
// event tracing, the property list, the single commands and the runs of escape scripts. What
// needs the user (questions, the error window, the debugger, waiting) goes through session_host.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/com.h"
#include "testbench/literals.h"
#include "testbench/output.h"
#include "testbench/property_table.h"
#include "testbench/script.h"
#include "testbench/settings.h"
#include "testbench/texts.h"

namespace testbench {

// OPOS numbers the test environment uses.
inline constexpr std::int32_t kStationReceipt = 2;  // PTR_S_RECEIPT
inline constexpr std::int32_t kStationSlip = 4;     // PTR_S_SLIP
inline constexpr std::int32_t kResultClosed = 101;  // OPOS_E_CLOSED
inline constexpr std::int32_t kResultFailure = 111; // OPOS_E_FAILURE
inline constexpr std::int32_t kResultTimeout = 112; // OPOS_E_TIMEOUT
inline constexpr std::int32_t kResultExtended = 114;
inline constexpr std::int32_t kErrorRetry = 11;     // OPOS_ER_RETRY
inline constexpr std::int32_t kErrorClear = 12;     // OPOS_ER_CLEAR
inline constexpr std::int32_t kTransactionOn = 11;  // PTR_TP_TRANSACTION
inline constexpr std::int32_t kTransactionOff = 12; // PTR_TP_NORMAL
inline constexpr std::int32_t kRotateNormal = 0x0001;
inline constexpr std::int32_t kRotateRight90 = 0x0101;
inline constexpr std::int32_t kRotate180 = 0x0103;
inline constexpr std::int32_t kLogoTop = 1;         // PTR_L_TOP
inline constexpr std::int32_t kLogoBottom = 2;      // PTR_L_BOTTOM
inline constexpr int kClaimTimeoutMs = 3000;
inline constexpr int kClaimPauseMs = 500;
inline constexpr int kSlipTimeoutMs = 15000;

// A configured printer of the selection tree.
struct printer_entry {
  std::string name;          // its "PTRKorvane" value: the name shown and opened
  std::string machine_type;  // "MachineType"
  std::string port;          // "COMMPort"
};
// Device keys under HKLM\SOFTWARE\OleForRetail\ServiceOPOS\POSPrinter that carry "PTRKorvane".
std::vector<printer_entry> list_printers();

// What the session asks of its user interface.
class session_host {
 public:
  virtual ~session_host() = default;
  // A record was added to the output log.
  virtual void record_added(const output_record&) {}
  // The application's message box with `text`: a question (Yes/No when `yes_no`, else OK/Cancel);
  // true for "Si"/"OK".
  virtual bool ask(std::string_view text, bool yes_no) = 0;
  // The ErrorEvent window; returns kErrorRetry or kErrorClear.
  virtual std::int32_t error_window(std::string_view title, std::string_view text) = 0;
  // Waits `ms` milliseconds while processing window messages (events are traced meanwhile).
  virtual void pump(int ms) = 0;
  // The debugger stops before line `line` (1-based) whose text is `text`; waits for a command
  // while processing messages. `text` may be edited (taken by update_continue) and `caret_line`
  // receives the caret's line for run_to_cursor.
  virtual debug_command debug_stop(int line, std::string& text, int& caret_line) = 0;
  // The slip window with `text` is shown (true) or hidden (false).
  virtual void slip_prompt(std::string_view, bool) {}
  // The status-bar progress bar: range 0 hides it.
  virtual void progress(int, int) {}
  virtual void beep() {}
  // The property list's values changed.
  virtual void properties_changed() {}
  // The connection state changed.
  virtual void connection_changed() {}
};

// The control object's dispatch interface: every member by name, each call stamped with the
// local time before and after it.
class PrinterControlDriver {
 public:
  PrinterControlDriver() = default;
  explicit PrinterControlDriver(platform::com_ptr<platform::dispatch> control) : client_(std::move(control)) {}

  bool valid() const { return static_cast<bool>(client_); }
  platform::dispatch* get() const { return client_.get(); }
  void reset() { client_.reset(); }

  // Calls a method; its long result, or OPOS_E_FAILURE when the call itself failed.
  std::int32_t call(std::string_view name, std::span<const platform::Variant> args);
  template <class... A>
  std::int32_t method(std::string_view name, A&&... args) {
    const platform::Variant list[] = {platform::Variant(std::forward<A>(args))..., platform::Variant()};
    return call(name, std::span<const platform::Variant>(list, sizeof...(A)));
  }
  // Reads a property; empty when the read failed.
  platform::Variant get(std::string_view name);
  std::int32_t get_long(std::string_view name) { return get(name).long_or(0); }
  std::string get_string(std::string_view name) { return get(name).string_or(""); }
  // Writes a property; the automation result.
  platform::hresult put(std::string_view name, const platform::Variant& value);

  // Times of the last call.
  std::chrono::system_clock::time_point last_call_start() const { return start_; }
  std::chrono::system_clock::time_point last_call_end() const { return end_; }

 private:
  platform::dispatch_client client_;
  platform::dispid_cache cache_;
  std::chrono::system_clock::time_point start_{};
  std::chrono::system_clock::time_point end_{};
};

// The four event trace flags of COPrinterEvents.
struct trace_flags {
  bool error = false;
  bool direct = false;
  bool output = false;
  bool status = false;
};

// Bar code dialog values.
struct barcode_request {
  std::string data;
  std::int32_t symbology = 101;  // PTR_BCS_*
  std::int32_t height = 50;
  std::int32_t width = 3;
  std::int32_t alignment = -1;   // PTR_BC_LEFT
  std::int32_t text_position = -13;  // PTR_BC_TEXT_BELOW
};

// Result of the direct access command.
struct direct_access_result {
  bool shown = false;  // false: a message box text number was shown instead (158, 159)
  bool ok = false;
  std::string text;    // the reply dump, or the error text
};

class COPrinterEvents;

class session {
 public:
  session(settings& config, session_host& host);
  ~session();
  session(const session&) = delete;
  session& operator=(const session&) = delete;

  bool italian() const { return italian_; }
  std::string_view text(txt id) const { return testbench::text(id, italian_); }
  const literal_tables& literals() const { return literals_; }
  output_log& log() { return log_; }
  settings& config() { return config_; }

  // Writes a message to the output log. `source_line` > 0 links a script error to its line.
  void output(std::string text, std::string detail = {}, int source_line = 0, std::string source = {});

  // Start-up: creates the control object by the ProgID in "COPOSPrinterID" and connects the
  // sink; on failure writes string 507 and keeps running without a control. True on success.
  bool create_control();
  bool has_control() const { return driver_.valid(); }
  PrinterControlDriver& driver() { return driver_; }

  // Connecting and disconnecting.
  bool connected() const { return connected_; }
  const std::string& device_name() const { return device_name_; }
  // The connect sequence with `name`; nothing happens when already connected. True on success.
  bool connect(std::string_view name);
  // "Connetti" in the printer tree: std::nullopt (root or nothing selected) writes string 157.
  bool connect_selected(const std::optional<std::string>& name);
  // "Termina connessione": asks string 134 when `confirm`, then disconnects. True when ended.
  bool disconnect(bool confirm = true);
  // Closing the main frame: true when it may close (after asking string 149 and disconnecting
  // when connected).
  bool may_close();
  // Text of status-bar pane 3.
  std::string connection_text() const;

  // Event tracing.
  trace_flags traces() const;
  void set_traces(const trace_flags& flags);

  // The property list.
  std::vector<property_row>& properties() { return properties_; }
  void load_property_table();
  // Fills every value row from the control (only while connected).
  void refresh_properties();
  // Re-reads the rows of the named properties.
  void refresh_properties(std::initializer_list<std::string_view> names);
  // Writes the entry typed for row `index` by the write rules; false when nothing was written.
  bool write_property(std::size_t index, std::string_view entry);
  // The options' OPOS version: stored; applied at once when not connected (string 153 otherwise).
  void set_opos_version(std::int32_t version);

  // The error text of `code` (114 by the control's ResultCodeExtended).
  std::string error_text(std::int32_t code);

  // Single commands.
  std::int32_t station() const { return station_; }
  void set_station(std::int32_t station);
  void set_work_mode(bool transaction);
  void set_print_mode(std::int32_t rotation);
  // The print mode last set successfully (kRotateNormal after connecting or disconnecting).
  std::int32_t print_mode() const { return rotation_; }
  bool print_barcode(const barcode_request& request);
  // CheckHealth(level) and the CheckHealthText it leaves; the failure text on failure.
  std::string test_procedure(std::int32_t level);
  direct_access_result direct_access(std::string_view command, std::int32_t count);
  std::string device_information();

  // Slip handling: the first non-zero result, or 0.
  std::int32_t slip_insert();
  std::int32_t slip_remove();

  // Escape scripts. `source` names the script window in the output records.
  bool print_script(const script_document& doc, const std::string& source = {});
  void check_script(const script_document& doc);
  bool set_logo(const script_document& doc, std::int32_t location);
  void summarise_script(const script_document& doc);

  // Events from the control, as COPrinterEvents hands them on.
  void on_status_update(std::int32_t status);
  void on_output_complete(std::int32_t id);
  void on_direct_io(std::int32_t number, std::int32_t& data, std::string& text);
  void on_error(std::int32_t code, std::int32_t extended, std::int32_t locus, std::int32_t& response);

 private:
  void connect_failed(std::int32_t code);
  void command_failed(std::int32_t code);
  bool empty_document(const script_document& doc);
  std::string station_name() const;
  void release_control();

  settings& config_;
  session_host& host_;
  bool italian_ = false;
  literal_tables literals_;
  output_log log_;
  PrinterControlDriver driver_;
  platform::com_ptr<COPrinterEvents> sink_;
  platform::com_ptr<platform::connection_point> point_;
  std::uint32_t cookie_ = 0;
  bool connected_ = false;
  std::string device_name_;
  std::vector<property_row> properties_;
  std::int32_t station_ = kStationReceipt;
  std::int32_t rotation_ = kRotateNormal;
};

}  // namespace testbench
