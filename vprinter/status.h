// The printer's status bytes (DLE EOT n, GS r n, automatic status back), built from the
// printer's condition by tables of bits.
#pragma once

#include <array>
#include <cstdint>

namespace vprinter::detail {

// The condition the status bytes describe.
struct condition {
  bool drawer_pin_high = false;  // drawer kick-out connector pin 3
  bool offline = false;
  bool cover_open = false;
  bool feeding = false;          // paper fed by the FEED button
  bool paper_out = false;        // printing stopped by paper end
  bool near_end = false;
  bool cutter_error = false;
  bool unrecoverable = false;
  bool auto_recoverable = false;
  bool error() const { return cutter_error || unrecoverable || auto_recoverable; }
};

// The status answers the printer knows.
enum class status_kind {
  printer,        // DLE EOT 1
  offline_cause,  // DLE EOT 2
  error_cause,    // DLE EOT 3
  paper_sensor,   // DLE EOT 4
  paper_gs_r,     // GS r 1
  drawer_gs_r,    // GS r 2
};

// The status byte of `kind` for condition `c`.
std::uint8_t status_byte(status_kind kind, const condition& c);

// The four bytes of automatic status back.
std::array<std::uint8_t, 4> automatic_status(const condition& c);

}  // namespace vprinter::detail
