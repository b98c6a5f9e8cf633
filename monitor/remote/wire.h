// What both ends of a remote session agree on besides the messages: metadata names and how long
// a call may take.
#pragma once

#include <cstdint>

namespace monitor::remote {

// Metadata of every call: the shared token and the caller's session id.
inline constexpr const char* kTokenMetadata = "quorel-token";
inline constexpr const char* kSessionMetadata = "quorel-session";
// Metadata of a write pipeline: the handle of its channel object, in decimal.
inline constexpr const char* kHandleMetadata = "quorel-handle";

// Bytes a client may have accepted for a channel's pipelined writes that the server has not yet
// finished, like a socket's send buffer (and as large as Linux lets a TCP send buffer grow, so
// that a remote channel takes as much ahead as a local one): a WriteIO that does not fit waits
// for room up to the channel's WriteTimeOut.
inline constexpr std::uint32_t kWriteWindowBytes = 4 * 1024 * 1024;
// A write that met a full window waits for this much room (or what it still needs, if less);
// the server reports its progress at least every so many bytes, so that such a wait ends.
inline constexpr std::uint32_t kWindowStepBytes = 64 * 1024;

// The channel's WriteIO results a pipeline tells apart: after these the printer took only part
// of a write and the link stays, so the bytes are kept and written again.
inline constexpr std::int32_t kResultTimeout = static_cast<std::int32_t>(0x80040069u);
inline constexpr std::int32_t kResultBusy = static_cast<std::int32_t>(0x80040070u);
inline constexpr std::int32_t kResultPaperOut = static_cast<std::int32_t>(0x80040072u);
constexpr bool worth_retrying(std::int32_t result) {
  return result == kResultTimeout || result == kResultBusy || result == kResultPaperOut;
}

// Longest a call on an object without I/O time-outs may take on the server (a connection
// probe waits up to 1 s).
inline constexpr std::uint32_t kDefaultBudgetMs = 5000;
// Added by the client to the server's budget for the network and the server's own work.
inline constexpr std::uint32_t kDeadlineMarginMs = 2000;

// The budget of an object with read and write time-outs: a state query makes up to four
// request-and-answer exchanges, each bounded by both time-outs; opening waits at least 1 s.
constexpr std::uint32_t io_budget_ms(std::int32_t read_timeout_ms, std::int32_t write_timeout_ms) {
  const auto r = static_cast<std::uint64_t>(read_timeout_ms < 0 ? 0 : read_timeout_ms);
  const auto w = static_cast<std::uint64_t>(write_timeout_ms < 0 ? 0 : write_timeout_ms);
  const std::uint64_t budget = 4 * (r + w) + 1000;
  return budget > 0x7FFFFFFF ? 0x7FFFFFFFu : static_cast<std::uint32_t>(budget);
}

}  // namespace monitor::remote
