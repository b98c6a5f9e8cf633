// Diagnostic log lines of the kit's service objects and monitor, for a technician: to the system
// log (syslog, which the journal collects), or appended to the file named by $POSKIT_LOG_FILE.
// Each device logs at the level set by its registry key (see device_log).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

// Levels, numbered as syslog numbers its priorities.
enum class log_level : std::uint32_t {
  error = 3,    // a request that failed as a call, a lost connection
  warning = 4,  // a request whose OPOS result is not 0, an error event (the default level)
  info = 6,     // open, claim, release, close, every request's result, status changes
  debug = 7,    // property reads and writes, callbacks
};

// Writes one line at `level`: "poskit: TEXT" to syslog (facility user), or, when $POSKIT_LOG_FILE
// names a file, "TIME LEVEL TEXT" appended to it (one write per line, so processes may share it).
void log_line(log_level level, std::string_view text);

// The log of one device: its name leads every line, and only lines at or above its level are
// written. Byte tracing adds the bytes written to and read from the device, in hex.
class device_log {
 public:
  // The registry values under a device key that configure its log: LogLevel (DWORD, a
  // log_level number; 4 when absent) and LogBytes (DWORD, 1 traces bytes).
  static constexpr std::string_view kLevelValue = "LogLevel";
  static constexpr std::string_view kBytesValue = "LogBytes";

  device_log() = default;
  device_log(std::string device, std::uint32_t level, bool bytes)
      : device_(std::move(device)), level_(level), bytes_(bytes) {}

  bool enabled(log_level level) const { return static_cast<std::uint32_t>(level) <= level_; }
  bool traces_bytes() const { return bytes_; }
  const std::string& device() const { return device_; }

  // "DEVICE: TEXT" when `level` is enabled.
  void write(log_level level, std::string_view text) const;
  // "DEVICE: DIRECTION N bytes: 1B 40 ..." when byte tracing is on (at most 256 bytes shown).
  void write_bytes(std::string_view direction, std::string_view bytes) const;

 private:
  std::string device_ = "(no device)";
  std::uint32_t level_ = static_cast<std::uint32_t>(log_level::warning);
  bool bytes_ = false;
};

// A short readable form of a text argument for a log line: quoted, control bytes as \xHH, cut
// after `max_chars` with "...".
std::string log_quote(std::string_view text, std::size_t max_chars = 48);

}  // namespace platform
