// Decoding of the printer's status answers.
#include "printer/status_bytes.h"

namespace devsvc {
namespace {

constexpr std::uint8_t kCoverBit = 0x04;         // DLE EOT 2
constexpr std::uint8_t kErrorBit = 0x40;         // DLE EOT 2
constexpr std::uint8_t kOfflineBit = 0x08;       // DLE EOT 1
constexpr std::uint8_t kPrinterStatusMask = 0x9F;  // DLE EOT 1: bits 5 and 6 are not status
constexpr std::uint8_t kNearEndBits = 0x03;      // GS r 1
constexpr std::uint8_t kPaperEndBits = 0x0C;     // GS r 1
constexpr std::uint8_t kSensorEndBits = 0x60;    // DLE EOT 4
constexpr std::uint8_t kSensorNearBits = 0x0C;   // DLE EOT 4

bool all_of(std::uint8_t value, std::uint8_t bits) { return (value & bits) == bits; }

}  // namespace

bool cover_open_in(std::uint8_t offline_cause) { return (offline_cause & kCoverBit) != 0; }

std::uint8_t paper_status_of(std::uint8_t gs_r1_answer) {
  if (all_of(gs_r1_answer, kNearEndBits)) return kPaperNearEnd;
  if (all_of(gs_r1_answer, kPaperEndBits)) return kPaperEnd;
  return kPaperOk;
}

bool offline_in(std::uint8_t printer_status) {
  return ((printer_status & kPrinterStatusMask) & kOfflineBit) != 0;
}

std::uint8_t offline_cause_of(std::uint8_t a, std::uint8_t b) {
  if (cover_open_in(a)) return kPaperCoverOpen;
  if (all_of(b, kSensorEndBits)) return kPaperEnd;
  if (all_of(b, kSensorNearBits)) return kPaperNearEnd;
  if ((a & kErrorBit) != 0) return kPaperPrinterError;
  return kPaperOffline;
}

}  // namespace devsvc
