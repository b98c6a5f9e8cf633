// Two linked pseudo-terminals made by socat, standing for both ends of a serial cable in tests,
// and the printer's end of such a line.
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "platform/testing/scoped_process.h"

namespace platform::testing {

// Bytes written to one terminal arrive at the other. Needs socat on PATH; without it the pair is
// never ready and skip_reason() says why.
class socat_pty_pair {
 public:
  // Starts socat with the links `dir`/ptyA and `dir`/ptyB (its messages in `dir`/socat.log) and
  // waits up to 5 s for both links.
  explicit socat_pty_pair(const std::filesystem::path& dir);

  // Why a test needing the pair cannot run here: "" when socat is installed.
  const std::string& skip_reason() const { return skip_reason_; }
  // True when both links appeared in time.
  bool ready() const { return ready_; }
  const std::filesystem::path& a() const { return a_; }
  const std::filesystem::path& b() const { return b_; }

  // Ends socat, so that both terminals vanish (the cable is pulled); blocks up to about 2 s.
  void stop();

 private:
  std::filesystem::path a_;
  std::filesystem::path b_;
  std::string skip_reason_;
  std::optional<scoped_process> socat_;
  bool ready_ = false;
};

// The far (printer's) end of a serial line: raw, non-blocking reads and writes on a terminal.
class serial_end {
 public:
  // Opens `path` read-write; fd() is -1 when that fails.
  explicit serial_end(const std::filesystem::path& path);
  ~serial_end();
  serial_end(const serial_end&) = delete;
  serial_end& operator=(const serial_end&) = delete;

  int fd() const { return fd_; }
  // Writes all of `data` at once; false when the terminal took less.
  bool send(std::string_view data);
  // Exactly `count` bytes within 1 s (fewer when they do not come).
  std::string receive(std::size_t count);

 private:
  int fd_;
};

}  // namespace platform::testing
