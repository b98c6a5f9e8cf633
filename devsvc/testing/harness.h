// Test harness of the service objects: a private registry with the Devsvc and QuorelMonitor
// libraries registered, printer ports on in-process virtual printers or on the vprinter daemon,
// OPOS device keys, a control object that records the callbacks, and hex dumps for byte checks.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/com.h"
#include "platform/dispatch_table.h"
#include "platform/testing/temp_dir.h"
#include "vprinter/virtual_printer.h"

namespace devsvc::testing {

// "1B 3D 01": the bytes in hexadecimal, for failure messages.
std::string hex(std::string_view bytes);

// Loads a server library by path and calls its DllRegisterServer, as regsvr does; the library
// stays loaded. Returns the library's result, or a failure when it cannot be loaded.
platform::hresult register_library(const std::filesystem::path& library);

// Sets HKLM\SOFTWARE\Quorel\Ports\<port> Transport = `uri`, the device the monitor opens for it.
void set_port(std::string_view port, std::string_view uri);

// Values of a POS printer device key (HKLM\SOFTWARE\OLEforRetail\ServiceOPOS\POSPrinter\<name>).
struct printer_key {
  std::string device_name = "VX40Device";
  std::string machine_type = "VX40";
  std::string comm_port;
  std::string ini_set;   // metrics file ("" leaves the value out)
  std::string dat_file;  // logo file ("" leaves the value out)
  std::uint32_t current_font = 1;
};
void write_printer_key(const printer_key& key);
// Writes a DWORD under the printer's fixed key (TimeOutRead, TimeOutWrite, TimeOutLoopMsg).
void set_fixed_dword(std::string_view name, std::uint32_t value);
// Writes a string under the printer's fixed key (RootPath).
void set_fixed_string(std::string_view name, std::string_view value);

// A fresh name for a sim printer, so each test gets a printer of its own.
std::string unique_sim_name();

// One callback the control object received, as text: "SOStatusUpdate 2001",
// "SOOutputComplete 17", "SODirectIO 5 0 text", "SOError 111 0 1".
using call_log = std::vector<std::string>;

// A control object as a POS printer control offers its callbacks to the service object: it
// records every call in order. SOError answers `error_response`. With `fail_next` set, the next
// callback fails (as a control whose event handler raised an error) without being recorded.
class test_control final : public platform::dispatch_object<test_control> {
 public:
  static std::span<const platform::dispatch_member<test_control>> dispatch_members();

  void SOStatusUpdate(std::int32_t data);
  void SOOutputComplete(std::int32_t output_id);
  void SODirectIO(std::int32_t number, std::int32_t& data, std::string& text);
  void SOError(std::int32_t result_code, std::int32_t extended, std::int32_t locus, std::int32_t& response);
  std::int32_t SOProcessID();

  call_log calls;
  // Runs after each recorded callback, inside it, as an application's event handler would.
  std::function<void(const std::string&)> on_call;
  std::int32_t error_response = 11;
  bool fail_next = false;

 private:
  void record(std::string text);
};

// The environment of a service-object test: a private registry directory with Devsvc and
// QuorelMonitor registered, the ports key ready, and a metrics file path from the examples.
class environment {
 public:
  environment();
  const std::filesystem::path& registry_dir() const { return registry_.path(); }
  // The example metrics and logo files of the kit.
  static std::filesystem::path example_metrics();
  static std::filesystem::path example_logo();

 private:
  platform::testing::scoped_registry_dir registry_;
};

// The vprinter daemon on a loopback port chosen by the system, with a capture file; killed and
// reaped on destruction.
class vprinter_daemon {
 public:
  // Starts it with the extra arguments (e.g. "--id", "0x21"); waits up to 10 s for it to listen.
  explicit vprinter_daemon(const std::vector<std::string>& extra = {});
  ~vprinter_daemon();
  vprinter_daemon(const vprinter_daemon&) = delete;
  vprinter_daemon& operator=(const vprinter_daemon&) = delete;

  // The port it listens on; 0 when it did not start.
  int port() const { return port_; }
  // "socket://127.0.0.1:PORT".
  std::string uri() const;
  // Everything the daemon received so far.
  std::string capture() const;
  // What the daemon printed while starting (for failure messages).
  const std::string& output() const { return output_; }

 private:
  platform::testing::temp_dir dir_;
  int pid_ = -1;
  int out_ = -1;
  int port_ = 0;
  std::string output_;
};

// Waits up to `limit` for `done` to hold, pumping the calling thread's messages meanwhile.
bool pump_until(const std::function<bool()>& done, std::chrono::milliseconds limit);

}  // namespace devsvc::testing
