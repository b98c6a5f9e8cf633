// The in-process virtual printer behind "sim:" device URIs: one printer per URI and process,
// reachable by tests and the demo to inject faults, read what it received and render its paper.
#pragma once

#include <string>
#include <string_view>

#include "monitor/transport.h"
#include "vprinter/virtual_printer.h"

namespace monitor {

// Registers the "sim" scheme with this program's transport table; repeated calls do nothing
// more. Thread-safe.
void register_sim_transport();

// Parses a sim URI: "sim:[NAME][?OPTION&...]" with the options model=NAME (answered to GS I C),
// id=BYTE (answered to GS I 1, decimal or 0x..), protocol=1|2 (2: identified by ESC ? 0 and
// ESC ? 2 instead of GS I), capture=/path (every byte received),
// render=/path.png (the paper), fault=NAME[=VALUE][,NAME...] (faults the printer starts with;
// may be repeated). Repeated fault options are merged into one list, so the canonical text
// (to_string of the result) names the same printer. Unknown options, faults or bad values
// give an error text.
uri_parse_result parse_sim_uri(std::string_view text);

// The virtual printer of a sim URI, created on first use with the URI's options. Every channel
// opened on the same URI (by canonical text) in this process shares it; it lives until the
// process ends. Null, with the reason in `*error`, for a malformed URI or another scheme.
vprinter::virtual_printer* sim_printer(std::string_view uri_text, std::string* error = nullptr);

// Number of transports open on the printer of a sim URI now (0 for an unknown URI).
int sim_open_channels(std::string_view uri_text);

}  // namespace monitor
