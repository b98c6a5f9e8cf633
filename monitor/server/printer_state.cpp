// Decoding of the real-time status bytes into state codes: one table per status answer, read
// in the order a technician reads a printer's lights (cover, feed, error, paper).
#include "printer_state.h"

#include <array>

namespace monitor::server {
namespace {

constexpr std::uint8_t kFixedMask = 0x93;  // bits 0, 1, 4 and 7
constexpr std::uint8_t kFixedBits = 0x12;  // bits 1 and 4 set
constexpr std::uint8_t kOfflineBit = 0x08;  // DLE EOT 1: off line

// What a set bit of an answer means; `follow_up` names the status asked next (0: none).
struct status_row {
  std::uint8_t mask;
  std::int32_t state;
  int follow_up = 0;
};

// DLE EOT 2, the off-line cause: first match wins.
constexpr std::array kOfflineCauses = {
    status_row{0x04, kStateCoverOpen},
    status_row{0x08, kStatePaperFeeding},
    status_row{0x40, kStateError, 3},  // the error cause tells recoverable from not
    status_row{0x20, kStatePaperEndStop, 4},  // mode 1: the roll sensor tells an empty roll
};

// DLE EOT 3, the error cause.
constexpr std::array kErrorCauses = {
    status_row{0x20, kStateUnrecoverable},
};

// DLE EOT 4, the roll paper sensor: either bit of a pair counts.
constexpr std::array kPaperSensor = {
    status_row{0x60, kStatePaperOut},
    status_row{0x0C, kStateNearEnd},
};

template <std::size_t N>
const status_row* first_match(const std::array<status_row, N>& rows, std::uint8_t byte) {
  for (const status_row& row : rows) {
    if ((byte & row.mask) != 0) return &row;
  }
  return nullptr;
}

struct state_text_row {
  std::int32_t code;
  std::string_view text;
};

constexpr std::array kStateTexts = {
    state_text_row{kStateReady, "Printer ready..."},
    state_text_row{kStateCoverOpen, "Cover open. Waiting..."},
    state_text_row{kStatePaperFeeding, "Paper is being fed..."},
    state_text_row{kStatePaperEndStop, "Printing is being stopped due to paper end. Waiting..."},
    state_text_row{kStateError, "Error occurred. Waiting..."},
    state_text_row{kStateUnrecoverable, "Unrecoverable printer error. Please check printer..."},
    state_text_row{kStateNearEnd, "Paper is near end. Waiting..."},
    state_text_row{kStatePaperOut, "Paper out. Waiting..."},
    state_text_row{kStateUnknownAnswer, "Unknown answer. Waiting..."},
};
constexpr std::string_view kUnknownOfflineText = "Unknown offline status. Waiting...";

}  // namespace

bool is_status_answer(std::uint8_t byte) { return (byte & kFixedMask) == kFixedBits; }

bool says_offline(std::uint8_t byte) { return (byte & kOfflineBit) != 0; }

state_reading read_printer_state(const status_request& ask, std::int32_t mode) {
  // Each request either gives a valid status byte or ends the decoding.
  std::uint8_t byte = 0;
  state_reading ended;
  const auto request = [&](int n) {
    const status_answer answer = ask(n);
    if (answer.result != kResultOk) {
      ended = {answer.result, kStateUnknownOffline};
      return false;
    }
    if (!is_status_answer(answer.byte)) {
      ended = {kResultOk, kStateUnknownAnswer};
      return false;
    }
    byte = answer.byte;
    return true;
  };

  if (!request(1)) return ended;
  if (!says_offline(byte)) {
    if (mode != 1) return {};
    if (!request(4)) return ended;
    const status_row* paper = first_match(kPaperSensor, byte);
    return {kResultOk, paper != nullptr ? paper->state : kStateReady};
  }

  if (!request(2)) return ended;
  const status_row* cause = first_match(kOfflineCauses, byte);
  if (cause == nullptr) return {kResultOk, kStateUnknownOffline};
  if (cause->follow_up == 3) {
    if (!request(3)) return ended;
    const status_row* error = first_match(kErrorCauses, byte);
    return {kResultOk, error != nullptr ? error->state : kStateError};
  }
  if (cause->follow_up == 4 && mode == 1) {
    if (!request(4)) return ended;
    const status_row* paper = first_match(kPaperSensor, byte);
    return {kResultOk, paper != nullptr && paper->state == kStatePaperOut ? kStatePaperOut : cause->state};
  }
  return {kResultOk, cause->state};
}

std::string_view state_text(std::int32_t code) {
  for (const state_text_row& row : kStateTexts) {
    if (row.code == code) return row.text;
  }
  return kUnknownOfflineText;
}

}  // namespace monitor::server
