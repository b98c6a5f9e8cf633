// Two linked pseudo-terminals made by socat for serial tests, and the printer's end of a line.
#include "platform/testing/pty_pair.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <thread>

namespace platform::testing {

socat_pty_pair::socat_pty_pair(const std::filesystem::path& dir) : a_(dir / "ptyA"), b_(dir / "ptyB") {
  const std::optional<std::filesystem::path> socat = find_program("socat");
  if (!socat) {
    skip_reason_ = "socat is not installed; the serial tests need its pseudo-terminals";
    return;
  }
  socat_.emplace(std::vector<std::string>{socat->string(), "-d", "-d", "pty,raw,echo=0,link=" + a_.string(),
                                          "pty,raw,echo=0,link=" + b_.string()},
                 dir / "socat.log", false);
  // socat makes the links once both terminals exist; wait for them, 5 s at most.
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(5000);
  while (socat_->started() && std::chrono::steady_clock::now() < end) {
    if (std::filesystem::exists(a_) && std::filesystem::exists(b_)) {
      ready_ = true;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

void socat_pty_pair::stop() {
  if (socat_) socat_->stop();
}

serial_end::serial_end(const std::filesystem::path& path)
    : fd_(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)) {}

serial_end::~serial_end() {
  if (fd_ >= 0) ::close(fd_);
}

bool serial_end::send(std::string_view data) {
  return ::write(fd_, data.data(), data.size()) == static_cast<ssize_t>(data.size());
}

std::string serial_end::receive(std::size_t count) {
  std::string out;
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(1000);
  while (fd_ >= 0 && out.size() < count && std::chrono::steady_clock::now() < end) {
    pollfd entry{fd_, POLLIN, 0};
    if (::poll(&entry, 1, 20) != 1) continue;
    char buffer[64];
    const ssize_t n = ::read(fd_, buffer, std::min(sizeof buffer, count - out.size()));
    if (n > 0) out.append(buffer, static_cast<std::size_t>(n));
  }
  return out;
}

}  // namespace platform::testing
