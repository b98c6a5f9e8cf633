// The serial transport over a pseudo-terminal pair made by socat: line settings, bytes both ways,
// read time-out, exclusive use, the port's own settings restored, and a port that vanishes.
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <vector>

#include "platform/testing/pty_pair.h"
#include "platform/testing/temp_dir.h"
#include "sys.h"
#include "transport_private.h"

namespace monitor {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

// Real system calls that remember every line setting asked for.
class recording_sys final : public detail::sys_api {
 public:
  std::vector<termios> set;
  int tcsetattr(int fd, int when, const termios* settings) override {
    set.push_back(*settings);
    return sys_api::tcsetattr(fd, when, settings);
  }
};

termios settings_of(const std::filesystem::path& port) {
  termios t{};
  const int fd = ::open(port.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd >= 0) {
    ::tcgetattr(fd, &t);
    ::close(fd);
  }
  return t;
}

class TransportSerialTest : public ::testing::Test {
 protected:
  void SetUp() override {
    pair_.emplace(dir_.path());
    if (!pair_->skip_reason().empty()) GTEST_SKIP() << pair_->skip_reason();
    ASSERT_TRUE(pair_->ready()) << "socat made no pseudo-terminals within 5 s";
  }

  std::string uri(const std::filesystem::path& port, const std::string& options) const {
    return "serial:" + port.string() + (options.empty() ? "" : "?" + options);
  }

  std::unique_ptr<transport> open_port(const std::filesystem::path& port,
                                       const std::string& options) {
    std::string error;
    std::unique_ptr<transport> made = make_transport(uri(port, options), &error);
    EXPECT_NE(made, nullptr) << error;
    if (made) {
      EXPECT_EQ(made->open(1000), kResultOk) << made->last_error().description;
    }
    return made;
  }

  platform::testing::temp_dir dir_;
  std::optional<platform::testing::socat_pty_pair> pair_;
};

TEST_F(TransportSerialTest, BytesTravelBothWaysWithEachLineSetting) {
  struct line_case {
    const char* options;
    speed_t speed;
  };
  const line_case cases[] = {
      {"baud=115200+bits=8+parity=none+stop=1+flow=hard", B115200},
      {"baud=9600&bits=7&parity=even&stop=2&flow=soft", B9600},
      {"baud=19200+parity=odd+flow=none", B19200},
  };
  for (const line_case& c : cases) {
    SCOPED_TRACE(c.options);
    std::unique_ptr<transport> host = open_port(pair_->a(), c.options);
    std::unique_ptr<transport> printer = open_port(pair_->b(), c.options);
    ASSERT_TRUE(host && host->is_open() && printer && printer->is_open());
    const termios line = settings_of(pair_->a());
    EXPECT_EQ(cfgetospeed(&line), c.speed);

    const std::string request("\x1b@\x10\x04\x01 print me\r\n", 15);
    const write_result written = host->write(request, 1000);
    EXPECT_EQ(written.result, kResultOk);
    EXPECT_EQ(written.count, request.size());
    EXPECT_EQ(read_exact(*printer, request.size(), 2000).bytes, request);

    const std::string status("\x16\x00\x7f", 3);
    EXPECT_EQ(printer->write(status, 1000).result, kResultOk);
    const read_result answer = read_exact(*host, status.size(), 2000);
    EXPECT_EQ(answer.result, kResultOk);
    EXPECT_EQ(answer.bytes, status);
  }
}

TEST_F(TransportSerialTest, LineSettingsAskedOfTheTerminal) {
  struct setting_case {
    const char* options;
    tcflag_t cflag_set, cflag_clear, iflag_set, iflag_clear;
  };
  const setting_case cases[] = {
      {"bits=7+parity=even+stop=2+flow=hard", CS7 | PARENB | CSTOPB | CRTSCTS | CREAD | CLOCAL,
       PARODD, 0, IXON | IXOFF},
      {"bits=8+parity=odd+flow=soft", CS8 | PARENB | PARODD, CSTOPB | CRTSCTS, IXON | IXOFF, 0},
      {"", CS8, PARENB | CSTOPB | CRTSCTS, 0, IXON | IXOFF | ICRNL},
  };
  for (const setting_case& c : cases) {
    SCOPED_TRACE(c.options);
    recording_sys sys;
    std::unique_ptr<transport> port =
        detail::make_serial_transport(*parse_device_uri(uri(pair_->a(), c.options)).uri, sys);
    ASSERT_EQ(port->open(1000), kResultOk) << port->last_error().description;
    ASSERT_EQ(sys.set.size(), 1u);
    const termios& asked = sys.set.front();
    EXPECT_EQ(asked.c_cflag & CSIZE, c.cflag_set & CSIZE);
    EXPECT_EQ(asked.c_cflag & (c.cflag_set & ~CSIZE), c.cflag_set & ~CSIZE);
    EXPECT_EQ(asked.c_cflag & c.cflag_clear, 0u);
    EXPECT_EQ(asked.c_iflag & c.iflag_set, c.iflag_set);
    EXPECT_EQ(asked.c_iflag & c.iflag_clear, 0u);
    EXPECT_EQ(asked.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(asked.c_cc[VMIN], 1);
  }
}

TEST_F(TransportSerialTest, ReadWithoutAnswerTimesOutWithinBounds) {
  std::unique_ptr<transport> host = open_port(pair_->a(), "baud=9600");
  ASSERT_TRUE(host && host->is_open());
  const auto start = steady_clock::now();
  const read_result got = host->read(8, 200);
  const auto waited = steady_clock::now() - start;
  EXPECT_EQ(got.result, kResultTimeout);
  EXPECT_GE(waited, milliseconds(180));
  EXPECT_LT(waited, milliseconds(3000));
  EXPECT_TRUE(host->is_open());
}

TEST_F(TransportSerialTest, APortInUseIsBusyUntilReleased) {
  std::unique_ptr<transport> first = open_port(pair_->a(), "");
  ASSERT_TRUE(first && first->is_open());
  std::unique_ptr<transport> second = make_transport(uri(pair_->a(), ""));
  EXPECT_EQ(second->open(1000), kResultBusy);
  EXPECT_FALSE(second->is_open());
  EXPECT_NE(second->last_error().description.find("in use"), std::string::npos);

  first->close();
  EXPECT_EQ(second->open(1000), kResultOk) << second->last_error().description;
}

TEST_F(TransportSerialTest, ThePortsOwnSettingsComeBackOnCloseAndDestruction) {
  // Someone else's settings: 2400 baud, canonical input with echo.
  const int own = ::open(pair_->a().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(own, 0);
  termios before{};
  ASSERT_EQ(::tcgetattr(own, &before), 0);
  before.c_lflag |= ICANON | ECHO;
  cfsetspeed(&before, B2400);
  ASSERT_EQ(::tcsetattr(own, TCSANOW, &before), 0);

  for (const bool by_close : {true, false}) {
    SCOPED_TRACE(by_close ? "close" : "destruction");
    std::unique_ptr<transport> port = open_port(pair_->a(), "baud=115200");
    ASSERT_TRUE(port && port->is_open());
    termios during{};
    ::tcgetattr(own, &during);
    EXPECT_EQ(cfgetospeed(&during), B115200);
    EXPECT_EQ(during.c_lflag & ICANON, 0u);

    if (by_close) port->close();
    port.reset();
    termios after{};
    ::tcgetattr(own, &after);
    EXPECT_EQ(cfgetospeed(&after), B2400);
    EXPECT_EQ(after.c_lflag & (ICANON | ECHO), before.c_lflag & (ICANON | ECHO));
  }
  ::close(own);
}

TEST_F(TransportSerialTest, AVanishedPortIsReportedAndCannotBeReopened) {
  std::unique_ptr<transport> host = open_port(pair_->a(), "");
  ASSERT_TRUE(host && host->is_open());
  pair_->stop();

  const auto start = steady_clock::now();
  const read_result got = host->read(4, 2000);
  EXPECT_LT(steady_clock::now() - start, milliseconds(2000)) << "the loss was not noticed";
  EXPECT_EQ(got.result, kResultOffline) << host->last_error().description;
  EXPECT_FALSE(host->is_open());
  EXPECT_EQ(host->write("x", 500).result, kResultFailed);  // closed now: "not open"
  EXPECT_EQ(host->open(500), kResultOffline);
  EXPECT_NE(host->last_error().description.find("(ENOENT)"), std::string::npos)
      << host->last_error().description;
}

TEST(TransportSerialDeviceTest, AFileIsNotASerialPort) {
  platform::testing::temp_dir dir;
  const std::filesystem::path plain = dir / "not-a-tty";
  std::ofstream(plain) << "text";
  std::unique_ptr<transport> port = make_transport("serial:" + plain.string());
  ASSERT_NE(port, nullptr);
  EXPECT_EQ(port->open(100), kResultFailed);
  EXPECT_NE(port->last_error().description.find("not a serial port"), std::string::npos)
      << port->last_error().description;
  EXPECT_FALSE(port->is_open());
}

}  // namespace
}  // namespace monitor
