// Port names to devices: the ports configured under HKEY_LOCAL_MACHINE\SOFTWARE\Quorel\Ports,
// the default devices of COMn, USB00n and LPTn, lookup by printer name, and the printer
// collections' text.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "monitor/transport.h"

namespace monitor::server {

// A port and the device it leads to.
struct port_info {
  std::string port;  // the port name, as configured (or as asked, for a default port)
  std::string name;  // printer name in the collections: Name, else MachineType, else the port
  std::string machine_type;  // printer model ("" when not configured)
  std::string transport;  // device URI text, as configured or the default
  std::optional<device_uri> uri;  // the parsed URI; empty when `transport` is malformed
  std::string uri_error;  // why `transport` does not parse
  bool configured = false;  // from the registry rather than a default
  // How the printer is identified: 1 by GS I 1, 2 by ESC ? 0. The port's ProtocolKind value
  // (REG_DWORD or REG_SZ), else the protocol option of a sim URI, else 1.
  int protocol_kind = 1;
};

// Outcome of a lookup: the port (with a usable URI), or why there is none.
struct port_lookup {
  std::optional<port_info> port;
  std::string error;
  bool known = false;  // a port of that name exists, even if its device URI is unusable
  bool by_name = false;  // found through the printer name rather than the port argument
};

// Parses a device URI as the monitor takes it: sim URIs with their options checked and
// repeated faults merged, every other scheme as parse_device_uri does.
uri_parse_result parse_port_uri(std::string_view text);

// The port called `port_name` (case-insensitive): its key under the ports key, else the default
// device of a COMn, USB00n or LPTn name.
port_lookup find_port(std::string_view port_name);

// Finds the port of a connection request. `where` is tried as a port name first (the service
// objects pass MachineType and COMMPort); else `printer` names a port or the printer of one
// configured port (the utilities pass the printer name from the collection and a host name).
port_lookup resolve_connection(std::string_view printer, std::string_view where);

// The configured ports in registry order. Returns a registry error code (0 when fine; a missing
// ports key is no error) with its text in `error`.
long list_ports(std::vector<port_info>& out, std::string& error);

// True for a port reached over the LAN (a socket:// device).
bool is_lan_port(const port_info& port);

// "port=name" entries each ended by NUL, for the LAN ports (`lan` true) or the others. Ports
// whose name holds "=" are left out, since a reader splits an entry at its first "=".
std::string collection_text(const std::vector<port_info>& ports, bool lan);

}  // namespace monitor::server
