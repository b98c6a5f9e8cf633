// socat's pseudo-terminal pairs: bytes cross both ways between serial ends, stop() pulls the
// cable, and a missing socat is a reason to skip.
#include "platform/testing/pty_pair.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "platform/testing/temp_dir.h"

namespace platform::testing {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

TEST(SocatPtyPairTest, BytesCrossAndStopPullsTheCable) {
  temp_dir dir;
  socat_pty_pair pair(dir.path());
  if (!pair.skip_reason().empty()) GTEST_SKIP() << pair.skip_reason();
  ASSERT_TRUE(pair.ready()) << "socat made no pseudo-terminals within 5 s";

  {
    serial_end host(pair.a());
    serial_end printer(pair.b());
    ASSERT_GE(host.fd(), 0);
    ASSERT_GE(printer.fd(), 0);
    const std::string request("\x1b@\x00\xff\r\n", 6);
    ASSERT_TRUE(host.send(request));
    EXPECT_EQ(printer.receive(request.size()), request);
    const std::string status("\x16\x00", 2);
    ASSERT_TRUE(printer.send(status));
    EXPECT_EQ(host.receive(status.size()), status);
  }

  pair.stop();
  // socat removes its links as it ends.
  const auto end = steady_clock::now() + milliseconds(2000);
  while (std::filesystem::exists(pair.a()) && steady_clock::now() < end) {
    std::this_thread::sleep_for(milliseconds(10));
  }
  EXPECT_FALSE(std::filesystem::exists(pair.a()));
}

TEST(SocatPtyPairTest, WithoutSocatThePairSaysWhyToSkip) {
  temp_dir dir;
  temp_dir empty;
  const char* old = std::getenv("PATH");
  const std::string saved = old != nullptr ? old : "";
  ::setenv("PATH", empty.path().c_str(), 1);
  socat_pty_pair pair(dir.path());
  if (old != nullptr) {
    ::setenv("PATH", saved.c_str(), 1);
  } else {
    ::unsetenv("PATH");
  }
  EXPECT_FALSE(pair.ready());
  EXPECT_NE(pair.skip_reason().find("socat is not installed"), std::string::npos) << pair.skip_reason();
}

}  // namespace
}  // namespace platform::testing
