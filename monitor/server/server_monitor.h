// ServerMonitor: the monitor object created by ProgID QuorelServer.Monitor. It tells whether a
// printer can be connected, hands out its IoChannel, lists the configured printers, names the
// server and the state texts, and keeps a last-error record of its own failures.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "platform/dispatch_table.h"

namespace monitor::server {

// Dispatch ids of ServerMonitor, in the order of its interface.
enum server_monitor_dispid : long {
  kDispGetConnectionStatus = 1,
  kDispGetConnection = 2,
  kDispMonitorGetLastErr = 3,
  kDispStatusDescription = 4,
  kDispGetPrinterCollection = 5,
  kDispGetLanPrinterCollection = 6,
  kDispGetServerName = 7,
};

// Answers of GetConnectionStatus.
inline constexpr std::int32_t kConnectNow = 0;
inline constexpr std::int32_t kConnectLater = 1;  // the device is busy (held by another process)
inline constexpr std::int32_t kConnectNever = 2;  // unknown port, missing device, open failed

class ServerMonitor final : public platform::dispatch_object<ServerMonitor> {
 public:
  ServerMonitor();
  static std::span<const platform::dispatch_member<ServerMonitor>> dispatch_members();

  // Whether the printer of (`machine`, `port`) can be connected now: the port's device is opened
  // and closed again (up to 1 s). Strings by value or by reference.
  std::int32_t GetConnectionStatus(const platform::Variant& machine, const platform::Variant& port);
  // A new, closed IoChannel for the printer, or a null object (with the reason in the last
  // error). When the printer was found by its name and is on the LAN, a by-reference `port`
  // receives the printer's address.
  platform::Variant GetConnection(const platform::Variant& machine, const platform::Variant& port);
  // The last failure: number, text and source (all empty before the first failure); result 0.
  std::int32_t GetLastErr(std::int32_t& number, std::string& description, std::string& source);
  // The status text of a printer state code.
  std::string StatusDescription(std::int32_t code);
  // The local printers ("port=name" entries each ended by NUL); result 0 or a failure.
  std::int32_t GetPrinterCollection(std::string& text);
  // The LAN printers (socket:// ports), in the same form.
  std::int32_t GetLanPrinterCollection(std::string& text);
  // The name of this server: the local host.
  std::string GetServerName();

 private:
  std::int32_t fail(std::int32_t code, std::string description);
  std::int32_t collection(std::string& text, bool lan);

  std::int32_t error_number_ = 0;
  std::string error_description_;
};

}  // namespace monitor::server
