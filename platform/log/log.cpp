// Log lines to syslog or to $POSKIT_LOG_FILE.
#include "platform/log.h"

#include <fcntl.h>
#include <syslog.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace platform {
namespace {

std::string_view level_name(log_level level) {
  switch (level) {
    case log_level::error: return "error";
    case log_level::warning: return "warning";
    case log_level::info: return "info";
    case log_level::debug: return "debug";
  }
  return "?";
}

// Appends one whole line to `path`; O_APPEND keeps lines of several processes apart.
void append_line(const char* path, const std::string& line) {
  const int fd = ::open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return;
  std::size_t done = 0;
  while (done < line.size()) {
    const ssize_t n = ::write(fd, line.data() + done, line.size() - done);
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  ::close(fd);
}

}  // namespace

void log_line(log_level level, std::string_view text) {
  const std::string body(text);
  if (const char* file = std::getenv("POSKIT_LOG_FILE"); file != nullptr && *file != '\0') {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm local{};
    ::localtime_r(&seconds, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    char head[64];
    std::snprintf(head, sizeof head, "%s.%03d %-7s ", stamp, static_cast<int>(millis),
                  std::string(level_name(level)).c_str());
    append_line(file, head + body + "\n");
    return;
  }
  ::syslog(LOG_USER | static_cast<int>(level), "poskit: %s", body.c_str());
}

void device_log::write(log_level level, std::string_view text) const {
  if (!enabled(level)) return;
  log_line(level, device_ + ": " + std::string(text));
}

void device_log::write_bytes(std::string_view direction, std::string_view bytes) const {
  if (!bytes_) return;
  constexpr std::size_t kShown = 256;
  std::string line = device_ + ": " + std::string(direction) + " " + std::to_string(bytes.size()) + " bytes:";
  char hex[4];
  for (std::size_t i = 0; i < bytes.size() && i < kShown; ++i) {
    std::snprintf(hex, sizeof hex, " %02X", static_cast<unsigned char>(bytes[i]));
    line += hex;
  }
  if (bytes.size() > kShown) line += " ...";
  log_line(log_level::debug, line);
}

std::string log_quote(std::string_view text, std::size_t max_chars) {
  std::string out = "\"";
  std::size_t shown = 0;
  for (const char c : text) {
    if (shown == max_chars) {
      out += "...";
      break;
    }
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F || c == '"' || c == '\\') {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
      out += escaped;
    } else {
      out += c;
    }
    ++shown;
  }
  return out + "\"";
}

}  // namespace platform
