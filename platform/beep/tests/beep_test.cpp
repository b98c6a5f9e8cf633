// Tests of the beep: the log line on a pipe, the bell on a pseudo-terminal, and that a beep
// neither blocks on a full pipe nor fails on a descriptor that is not open.
#include "platform/beep.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <future>
#include <string>

#include <gtest/gtest.h>

namespace {

// Both ends of a pipe, closed on destruction.
struct pipe_pair {
  int read_end = -1;
  int write_end = -1;
  pipe_pair() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) == 0) {
      read_end = fds[0];
      write_end = fds[1];
    }
  }
  ~pipe_pair() {
    if (read_end >= 0) ::close(read_end);
    if (write_end >= 0) ::close(write_end);
  }
  // Everything readable now, without waiting.
  std::string drain() const {
    ::fcntl(read_end, F_SETFL, ::fcntl(read_end, F_GETFL) | O_NONBLOCK);
    std::string out;
    char buffer[4096];
    ssize_t n = 0;
    while ((n = ::read(read_end, buffer, sizeof buffer)) > 0) out.append(buffer, static_cast<std::size_t>(n));
    return out;
  }
};

TEST(BeepTest, WritesOneLogLineWhenNoTerminalListens) {
  pipe_pair p;
  ASSERT_GE(p.write_end, 0);
  platform::beep_on(p.write_end, 880, 200);
  platform::beep_on(p.write_end, 37, 1);
  EXPECT_EQ(p.drain(), "beep: 880 Hz for 200 ms\nbeep: 37 Hz for 1 ms\n");
}

TEST(BeepTest, RingsTheBellOnATerminal) {
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(master, 0);
  ASSERT_EQ(::grantpt(master), 0);
  ASSERT_EQ(::unlockpt(master), 0);
  const int terminal = ::open(::ptsname(master), O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(terminal, 0);

  platform::beep_on(terminal, 880, 200);
  ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
  std::string seen;
  char buffer[64];
  // The terminal hands the byte over asynchronously: look for it for a bounded time.
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  while (seen.empty() && std::chrono::steady_clock::now() < end) {
    const ssize_t n = ::read(master, buffer, sizeof buffer);
    if (n > 0) seen.append(buffer, static_cast<std::size_t>(n));
  }
  EXPECT_EQ(seen, "\a");
  ::close(terminal);
  ::close(master);
}

TEST(BeepTest, AFullPipeLosesTheBeepInsteadOfBlocking) {
  pipe_pair p;
  ASSERT_GE(p.write_end, 0);
  // Fill the pipe, then make its writes blocking again as standard error normally is.
  const int flags = ::fcntl(p.write_end, F_GETFL);
  ::fcntl(p.write_end, F_SETFL, flags | O_NONBLOCK);
  const std::string block(4096, 'x');
  while (::write(p.write_end, block.data(), block.size()) > 0) {
  }
  ASSERT_EQ(errno, EAGAIN);
  ::fcntl(p.write_end, F_SETFL, flags);

  auto beeping = std::async(std::launch::async, [&] { platform::beep_on(p.write_end, 440, 100); });
  const bool returned = beeping.wait_for(std::chrono::seconds(2)) == std::future_status::ready;
  // Unblock a hanging beep so the test ends either way.
  if (!returned) p.drain();
  beeping.wait();
  EXPECT_TRUE(returned) << "beep_on waited for a full pipe";
  EXPECT_EQ(p.drain().find("beep"), std::string::npos);
}

TEST(BeepTest, ADescriptorThatIsNotOpenIsNoError) {
  pipe_pair p;
  const int closed = ::dup(p.write_end);
  ASSERT_GE(closed, 0);
  ::close(closed);
  for (const int fd : {-1, closed}) {
    errno = 1234;
    platform::beep_on(fd, 880, 200);
    EXPECT_EQ(errno, 1234) << "fd " << fd;
  }
  // And the ordinary entry point, whatever standard error is here.
  platform::beep(880, 1);
}

}  // namespace
