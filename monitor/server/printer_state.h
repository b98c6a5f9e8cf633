// The printer's state from its real-time status bytes (DLE EOT 1 to 4), decoded by tables of
// bits, and the status texts shown for each state code.
#pragma once

#include <cstdint>
#include <functional>
#include <string_view>

#include "monitor/monitor.h"
#include "monitor/transport.h"

namespace monitor::server {

// Outcome of one real-time status request: the result and the byte the printer answered.
struct status_answer {
  std::int32_t result = kResultOk;
  std::uint8_t byte = 0;
};

// Sends DLE EOT n and waits for the printer's one-byte answer (blocks up to the read time-out).
using status_request = std::function<status_answer(int n)>;

// A state code and the result of the exchanges that gave it.
struct state_reading {
  std::int32_t result = kResultOk;
  std::int32_t state = kStateReady;
};

// True when `byte` has the fixed bits of a real-time status answer (bits 1 and 4 set, bits 0
// and 7 clear), which tell it from other data.
bool is_status_answer(std::uint8_t byte);

// True when the DLE EOT 1 answer `byte` says the printer is off line.
bool says_offline(std::uint8_t byte);

// Asks the printer through `ask` and decodes its state. Mode 0 reports what stops printing;
// mode 1 also asks the roll paper sensor (DLE EOT 4), so that paper near end gives 7 and an
// empty roll 8. A failed request ends the decoding with its result and kStateUnknownOffline.
state_reading read_printer_state(const status_request& ask, std::int32_t mode);

// The status text of a state code; codes without their own text read as an unknown offline state.
std::string_view state_text(std::int32_t code);

}  // namespace monitor::server
