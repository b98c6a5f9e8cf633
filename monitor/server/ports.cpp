// Port lookup through the registry and the defaults for platform port names, and the text of
// the printer collections.
#include "ports.h"

#include <algorithm>
#include <cctype>

#include "monitor/monitor.h"
#include "monitor/sim.h"
#include "platform/registry.h"

namespace monitor::server {
namespace {

using platform::registry_key;
using platform::registry_root;

std::string in_quotes(std::string_view text) { return "'" + std::string(text) + "'"; }

bool same_text_ignoring_case(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
           return std::tolower(x) == std::tolower(y);
         });
}

std::string ports_key_text() { return std::string("HKEY_LOCAL_MACHINE\\") + kPortsKey; }

std::string registry_failure(long rc, const std::string& what) {
  const std::string detail = platform::registry_last_error();
  return "cannot read " + what + ": registry error " + std::to_string(rc) +
         (detail.empty() ? std::string() : " (" + detail + ")");
}

// A string value of `key`, or "" when it is missing or of another type.
std::string read_text(const registry_key& key, std::string_view name) {
  std::string value;
  if (key.query_string(name, value) != platform::kErrorSuccess) return {};
  return value;
}

// Fills `transport`, `uri` and `uri_error` from a URI text.
void set_transport(port_info& info, std::string text) {
  info.transport = std::move(text);
  uri_parse_result parsed = parse_port_uri(info.transport);
  info.uri = std::move(parsed.uri);
  info.uri_error = std::move(parsed.error);
}

// The port of an open key under the ports key.
port_info read_port(const registry_key& key, std::string port) {
  port_info info;
  info.port = std::move(port);
  info.configured = true;
  info.machine_type = read_text(key, "MachineType");
  info.name = read_text(key, "Name");
  if (info.name.empty()) info.name = info.machine_type.empty() ? info.port : info.machine_type;
  std::string transport = read_text(key, "Transport");
  if (transport.empty()) {
    if (std::optional<std::string> fallback = default_uri_for_port(info.port)) transport = *fallback;
  }
  if (transport.empty()) {
    info.uri_error = "port " + in_quotes(info.port) + " has no Transport value under " +
                     ports_key_text() + "\\" + info.port;
  } else {
    set_transport(info, std::move(transport));
  }
  if (info.uri && info.uri->scheme == "sim") {
    for (const auto& [option, value] : info.uri->options)
      if (option == "protocol" && value == "2") info.protocol_kind = 2;
  }
  std::uint32_t kind = 0;
  if (key.query_dword("ProtocolKind", kind) == platform::kErrorSuccess) {
    info.protocol_kind = kind == 2 ? 2 : 1;
  } else if (const std::string text = read_text(key, "ProtocolKind"); !text.empty()) {
    info.protocol_kind = text == "2" ? 2 : 1;
  }
  return info;
}

// The name of port `port_name` with the case it was configured with.
std::string stored_name(std::string_view port_name) {
  registry_key ports;
  if (registry_key::open(registry_root::local_machine, kPortsKey, ports) == platform::kErrorSuccess) {
    std::string name;
    for (std::uint32_t index = 0; ports.enum_subkey(index, name) == platform::kErrorSuccess; ++index) {
      if (same_text_ignoring_case(name, port_name)) return name;
    }
  }
  return std::string(port_name);
}

// A lookup result for a port that exists: usable when its URI parses.
port_lookup known_port(port_info info) {
  port_lookup out;
  out.known = true;
  if (!info.uri) {
    out.error = info.uri_error;
    return out;
  }
  out.port = std::move(info);
  return out;
}

}  // namespace

uri_parse_result parse_port_uri(std::string_view text) {
  const std::size_t colon = text.find(':');
  if (colon != std::string_view::npos && same_text_ignoring_case(text.substr(0, colon), "sim")) {
    return parse_sim_uri(text);
  }
  return parse_device_uri(text);
}

port_lookup find_port(std::string_view port_name) {
  port_lookup out;
  if (port_name.empty()) {
    out.error = "no port name was given";
    return out;
  }
  if (port_name.find('\\') == std::string_view::npos) {
    registry_key key;
    const long rc = registry_key::open(registry_root::local_machine,
                                       std::string(kPortsKey) + "\\" + std::string(port_name), key);
    if (rc == platform::kErrorSuccess) return known_port(read_port(key, stored_name(port_name)));
    if (rc != platform::kErrorFileNotFound) {
      out.known = true;
      out.error = registry_failure(rc, ports_key_text() + "\\" + std::string(port_name));
      return out;
    }
  }
  if (std::optional<std::string> fallback = default_uri_for_port(port_name)) {
    port_info info;
    info.port = std::string(port_name);
    info.name = info.port;
    set_transport(info, *fallback);
    return known_port(std::move(info));
  }
  out.error = "unknown port " + in_quotes(port_name) + ": it is not configured under " +
              ports_key_text() + " and is not a COMn, USB00n or LPTn name";
  return out;
}

port_lookup resolve_connection(std::string_view printer, std::string_view where) {
  port_lookup by_port = find_port(where);
  if (by_port.known || printer.empty()) return by_port;

  port_lookup named = find_port(printer);
  if (named.known) {
    named.by_name = true;
    return named;
  }
  std::vector<port_info> ports;
  std::string error;
  if (const long rc = list_ports(ports, error); rc != platform::kErrorSuccess) {
    port_lookup out;
    out.error = error;
    return out;
  }
  std::vector<port_info> matches;
  for (port_info& p : ports) {
    if (same_text_ignoring_case(p.name, printer)) matches.push_back(std::move(p));
  }
  if (matches.size() == 1) {
    port_lookup out = known_port(std::move(matches.front()));
    out.by_name = true;
    return out;
  }
  port_lookup out;
  if (matches.size() > 1) {
    out.error = "printer name " + in_quotes(printer) + " is shared by the ports " +
                in_quotes(matches[0].port) + " and " + in_quotes(matches[1].port) + "; give the port";
  } else {
    out.error = by_port.error + ", and no configured printer is called " + in_quotes(printer);
  }
  return out;
}

long list_ports(std::vector<port_info>& out, std::string& error) {
  out.clear();
  registry_key ports;
  long rc = registry_key::open(registry_root::local_machine, kPortsKey, ports);
  if (rc == platform::kErrorFileNotFound) return platform::kErrorSuccess;
  if (rc != platform::kErrorSuccess) {
    error = registry_failure(rc, ports_key_text());
    return rc;
  }
  for (std::uint32_t index = 0;; ++index) {
    std::string name;
    rc = ports.enum_subkey(index, name);
    if (rc == platform::kErrorNoMoreItems) break;
    registry_key key;
    if (rc == platform::kErrorSuccess) rc = ports.open(name, key);
    if (rc != platform::kErrorSuccess) {
      error = registry_failure(rc, ports_key_text() + "\\" + name);
      return rc;
    }
    out.push_back(read_port(key, name));
  }
  return platform::kErrorSuccess;
}

bool is_lan_port(const port_info& port) { return port.uri && port.uri->scheme == "socket"; }

std::string collection_text(const std::vector<port_info>& ports, bool lan) {
  std::string text;
  for (const port_info& p : ports) {
    if (is_lan_port(p) != lan || p.port.find('=') != std::string::npos) continue;
    text += p.port;
    text += '=';
    text += p.name;
    text += '\0';
  }
  return text;
}

}  // namespace monitor::server
