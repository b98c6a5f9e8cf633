// ServerMonitor: connection requests resolved to ports and probed through their transports,
// channels handed out, collections and texts.
#include "server_monitor.h"

#include <unistd.h>

#include <climits>

#include "io_channel.h"
#include "monitor/monitor.h"
#include "monitor/sim.h"
#include "ports.h"
#include "printer_state.h"

namespace monitor::server {
namespace {

using platform::Variant;

// How long GetConnectionStatus waits for a device (a TCP connect) to open.
constexpr int kProbeTimeoutMs = 1000;
constexpr const char* kSource = "QuorelServer.Monitor";

constexpr platform::dispatch_member<ServerMonitor> kMembers[] = {
    platform::dispatch_method<&ServerMonitor::GetConnectionStatus>("GetConnectionStatus", kDispGetConnectionStatus),
    platform::dispatch_method<&ServerMonitor::GetConnection>("GetConnection", kDispGetConnection),
    platform::dispatch_method<&ServerMonitor::GetLastErr>("GetLastErr", kDispMonitorGetLastErr),
    platform::dispatch_method<&ServerMonitor::StatusDescription>("StatusDescription", kDispStatusDescription),
    platform::dispatch_method<&ServerMonitor::GetPrinterCollection>("GetPrinterCollection", kDispGetPrinterCollection),
    platform::dispatch_method<&ServerMonitor::GetLanPrinterCollection>("GetLanPrinterCollection",
                                                                       kDispGetLanPrinterCollection),
    platform::dispatch_method<&ServerMonitor::GetServerName>("GetServerName", kDispGetServerName),
};

// The text of a string argument passed by value or by reference.
std::string text_argument(const Variant& value, const char* what) {
  std::string text;
  if (platform::failed(value.as_string(text))) {
    throw platform::com_error(platform::kDispETypeMismatch,
                              std::string(what) + " must be a string, not " +
                                  std::string(platform::variant_type_name(value.type())));
  }
  return text;
}

}  // namespace

ServerMonitor::ServerMonitor() { register_sim_transport(); }

std::span<const platform::dispatch_member<ServerMonitor>> ServerMonitor::dispatch_members() { return kMembers; }

std::int32_t ServerMonitor::fail(std::int32_t code, std::string description) {
  error_number_ = code;
  error_description_ = std::move(description);
  return code;
}

std::int32_t ServerMonitor::GetConnectionStatus(const Variant& machine, const Variant& port) {
  const port_lookup found = resolve_connection(text_argument(machine, "machine"), text_argument(port, "port"));
  if (!found.port) {
    fail(kResultFailed, found.error);
    return kConnectNever;
  }
  std::string why;
  const std::unique_ptr<transport> link = make_transport(*found.port->uri, &why);
  if (!link) {
    fail(kResultFailed, "port " + found.port->port + ": " + why);
    return kConnectNever;
  }
  const std::int32_t rc = link->open(kProbeTimeoutMs);
  if (rc == kResultOk) {
    link->close();
    return kConnectNow;
  }
  fail(rc, link->last_error().description);
  return rc == kResultBusy || rc == kResultTimeout ? kConnectLater : kConnectNever;
}

Variant ServerMonitor::GetConnection(const Variant& machine, const Variant& port) {
  const port_lookup found = resolve_connection(text_argument(machine, "machine"), text_argument(port, "port"));
  if (!found.port) {
    fail(kResultFailed, found.error);
    return Variant(platform::com_ptr<platform::dispatch>());
  }
  std::string why;
  std::unique_ptr<transport> link = make_transport(*found.port->uri, &why);
  if (!link) {
    fail(kResultFailed, "port " + found.port->port + ": " + why);
    return Variant(platform::com_ptr<platform::dispatch>());
  }
  if (found.by_name && is_lan_port(*found.port) && port.is_ref()) port.write_ref(Variant(found.port->uri->host));
  platform::com_ptr<platform::dispatch> channel = platform::make_object<IoChannel>(*found.port, std::move(link));
  return Variant(std::move(channel));
}

std::int32_t ServerMonitor::GetLastErr(std::int32_t& number, std::string& description, std::string& source) {
  number = error_number_;
  description = error_description_;
  source = error_number_ != 0 ? kSource : "";
  return kResultOk;
}

std::string ServerMonitor::StatusDescription(std::int32_t code) { return std::string(state_text(code)); }

std::int32_t ServerMonitor::collection(std::string& text, bool lan) {
  text.clear();
  std::vector<port_info> ports;
  std::string error;
  if (const long rc = list_ports(ports, error); rc != 0) return fail(platform::hresult_from_win32(rc), error);
  text = collection_text(ports, lan);
  return kResultOk;
}

std::int32_t ServerMonitor::GetPrinterCollection(std::string& text) { return collection(text, false); }

std::int32_t ServerMonitor::GetLanPrinterCollection(std::string& text) { return collection(text, true); }

std::string ServerMonitor::GetServerName() {
  char name[HOST_NAME_MAX + 1] = {};
  if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "localhost";
  return name;
}

}  // namespace monitor::server
