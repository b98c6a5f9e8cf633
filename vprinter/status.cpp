// Status byte tables: fixed bits per answer, then one row per condition bit.
#include "status.h"

#include <iterator>

namespace vprinter::detail {
namespace {

using test_fn = bool (*)(const condition&);

struct status_bit {
  status_kind kind;
  std::uint8_t mask;
  test_fn when;
};

struct status_base {
  status_kind kind;
  std::uint8_t fixed;  // bits that are always set in this answer
};

// Real-time status answers carry bit 1 and bit 4 set and bits 0 and 7 clear, so that a host can
// tell them from other data; GS r answers have no fixed bits.
constexpr status_base kBases[] = {
    {status_kind::printer, 0x12},      {status_kind::offline_cause, 0x12},
    {status_kind::error_cause, 0x12},  {status_kind::paper_sensor, 0x12},
    {status_kind::paper_gs_r, 0x00},   {status_kind::drawer_gs_r, 0x00},
};

constexpr status_bit kBits[] = {
    {status_kind::printer, 0x04, [](const condition& c) { return c.drawer_pin_high; }},
    {status_kind::printer, 0x08, [](const condition& c) { return c.offline; }},
    {status_kind::offline_cause, 0x04, [](const condition& c) { return c.cover_open; }},
    {status_kind::offline_cause, 0x08, [](const condition& c) { return c.feeding; }},
    {status_kind::offline_cause, 0x20, [](const condition& c) { return c.paper_out; }},
    {status_kind::offline_cause, 0x40, [](const condition& c) { return c.error(); }},
    {status_kind::error_cause, 0x08, [](const condition& c) { return c.cutter_error; }},
    {status_kind::error_cause, 0x20, [](const condition& c) { return c.unrecoverable; }},
    {status_kind::error_cause, 0x40, [](const condition& c) { return c.auto_recoverable; }},
    {status_kind::paper_sensor, 0x0C, [](const condition& c) { return c.near_end; }},
    {status_kind::paper_sensor, 0x60, [](const condition& c) { return c.paper_out; }},
    {status_kind::paper_gs_r, 0x03, [](const condition& c) { return c.near_end; }},
    {status_kind::paper_gs_r, 0x0C, [](const condition& c) { return c.paper_out; }},
    {status_kind::drawer_gs_r, 0x01, [](const condition& c) { return c.drawer_pin_high; }},
};

struct asb_bit {
  int byte;
  std::uint8_t mask;
  test_fn when;
};

// Automatic status back: the first byte has bit 4 set, the others bit 4 clear.
constexpr std::uint8_t kAsbFixed[4] = {0x10, 0x00, 0x00, 0x00};
constexpr asb_bit kAsbBits[] = {
    {0, 0x04, [](const condition& c) { return c.drawer_pin_high; }},
    {0, 0x08, [](const condition& c) { return c.offline; }},
    {0, 0x20, [](const condition& c) { return c.cover_open; }},
    {0, 0x40, [](const condition& c) { return c.feeding; }},
    {1, 0x08, [](const condition& c) { return c.cutter_error; }},
    {1, 0x20, [](const condition& c) { return c.unrecoverable; }},
    {1, 0x40, [](const condition& c) { return c.auto_recoverable; }},
    {2, 0x03, [](const condition& c) { return c.near_end; }},
    {2, 0x0C, [](const condition& c) { return c.paper_out; }},
};

}  // namespace

std::uint8_t status_byte(status_kind kind, const condition& c) {
  std::uint8_t b = 0;
  for (const auto& base : kBases)
    if (base.kind == kind) b = base.fixed;
  for (const auto& bit : kBits)
    if (bit.kind == kind && bit.when(c)) b = static_cast<std::uint8_t>(b | bit.mask);
  return b;
}

std::array<std::uint8_t, 4> automatic_status(const condition& c) {
  std::array<std::uint8_t, 4> out{};
  for (std::size_t i = 0; i < out.size(); ++i) out[i] = kAsbFixed[i];
  for (const auto& bit : kAsbBits)
    if (bit.when(c)) out[static_cast<std::size_t>(bit.byte)] |= bit.mask;
  return out;
}

}  // namespace vprinter::detail
