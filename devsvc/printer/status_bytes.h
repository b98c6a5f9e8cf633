// The printer's status answers (GS r 1; DLE EOT 1, 2 and 4 of an off-line printer) turned into
// the service object's internal paper status (PaperStatusCode).
#pragma once

#include <cstdint>

namespace devsvc {

// Internal status of the printer polls (PaperStatusCode).
inline constexpr std::uint8_t kPaperOk = 0;
inline constexpr std::uint8_t kPaperCoverOpen = 4;
inline constexpr std::uint8_t kPaperOffline = 8;
inline constexpr std::uint8_t kPaperNearEnd = 12;
inline constexpr std::uint8_t kPaperPrinterError = 64;
inline constexpr std::uint8_t kPaperEnd = 96;
inline constexpr std::uint8_t kPaperRequestFailed = 253;
inline constexpr std::uint8_t kPaperNoAnswer = 254;
inline constexpr std::uint8_t kPaperNoStatusAnswer = 255;

// True when the answer to DLE EOT 2 says the cover is open (bit 2).
bool cover_open_in(std::uint8_t offline_cause);

// The paper status of an answer to GS r 1: both near-end bits (0x03) give kPaperNearEnd, even when
// the paper-end bits are set too; else both paper-end bits (0x0C) give kPaperEnd; else kPaperOk.
std::uint8_t paper_status_of(std::uint8_t gs_r1_answer);

// True when the answer to DLE EOT 1 (masked with 0x9F) says the printer is off line (bit 3).
bool offline_in(std::uint8_t printer_status);

// The cause of an off-line printer from its answers to DLE EOT 2 (`a`) and DLE EOT 4 (`b`): cover
// open (a bit 2), else paper end (b & 0x60), else near end (b & 0x0C), else a printer error
// (a bit 6), else kPaperOffline.
std::uint8_t offline_cause_of(std::uint8_t a, std::uint8_t b);

}  // namespace devsvc
