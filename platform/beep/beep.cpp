// The beep: the bell on a terminal, a log line elsewhere, dropped rather than waited for.
#include "platform/beep.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace platform {

void beep_on(int fd, std::uint32_t frequency_hz, std::uint32_t duration_ms) {
  if (fd < 0) return;
  const int saved_errno = errno;  // a beep leaves no trace in the caller's error state

  // A descriptor that cannot take bytes now (a full pipe nobody reads) loses the beep: waiting
  // for it would stall the caller, and the beep only ever draws attention.
  pollfd ready{fd, POLLOUT, 0};
  int polled = 0;
  do {
    polled = ::poll(&ready, 1, 0);
  } while (polled < 0 && errno == EINTR);
  if (polled != 1 || (ready.revents & POLLOUT) == 0 || (ready.revents & (POLLERR | POLLNVAL)) != 0) {
    errno = saved_errno;
    return;
  }

  char line[64];
  int length = 0;
  if (::isatty(fd) == 1) {
    line[0] = '\a';
    length = 1;
  } else {
    length = std::snprintf(line, sizeof line, "beep: %u Hz for %u ms\n", static_cast<unsigned>(frequency_hz),
                           static_cast<unsigned>(duration_ms));
  }
  // One write keeps the line whole among other writers of the descriptor.
  ssize_t written = 0;
  do {
    written = ::write(fd, line, static_cast<std::size_t>(length));
  } while (written < 0 && errno == EINTR);
  errno = saved_errno;
}

void beep(std::uint32_t frequency_hz, std::uint32_t duration_ms) {
  beep_on(STDERR_FILENO, frequency_hz, duration_ms);
}

}  // namespace platform
