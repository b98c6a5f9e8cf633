// Tests of the diagnostic log: levels, byte tracing, quoting, and the log file's line form.
#include "platform/log.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "platform/testing/temp_dir.h"

namespace {

using platform::device_log;
using platform::log_level;

// Sends the log to a fresh file for the life of the object.
class LogFileTest : public ::testing::Test {
 protected:
  void SetUp() override { ::setenv("POSKIT_LOG_FILE", (dir_ / "log.txt").c_str(), 1); }
  void TearDown() override { ::unsetenv("POSKIT_LOG_FILE"); }
  // The lines written so far, without their time stamps.
  std::vector<std::string> lines() const {
    std::ifstream in(dir_ / "log.txt");
    std::vector<std::string> out;
    for (std::string line; std::getline(in, line);) {
      // "YYYY-MM-DD HH:MM:SS.mmm " then the level and the text.
      EXPECT_GE(line.size(), 24u) << line;
      EXPECT_EQ(line[4], '-') << line;
      EXPECT_EQ(line[19], '.') << line;
      out.push_back(line.size() >= 24 ? line.substr(24) : line);
    }
    return out;
  }

  platform::testing::temp_dir dir_;
};

TEST_F(LogFileTest, WritesOnlyTheLevelsTheDeviceAsksFor) {
  const struct {
    std::uint32_t level;
    std::vector<std::string> expected;
  } cases[] = {
      {3, {"error   D: broken"}},
      {4, {"error   D: broken", "warning D: result 111"}},
      {6, {"error   D: broken", "warning D: result 111", "info    D: claimed"}},
      {7, {"error   D: broken", "warning D: result 111", "info    D: claimed", "debug   D: State = 2"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.level);
    std::remove((dir_ / "log.txt").c_str());
    const device_log log("D", c.level, false);
    log.write(log_level::error, "broken");
    log.write(log_level::warning, "result 111");
    log.write(log_level::info, "claimed");
    log.write(log_level::debug, "State = 2");
    EXPECT_EQ(lines(), c.expected);
  }
  // A default log says warnings and errors only.
  EXPECT_TRUE(device_log().enabled(log_level::warning));
  EXPECT_FALSE(device_log().enabled(log_level::info));
}

TEST_F(LogFileTest, TracesBytesOnlyWhenAskedAndBoundsThem) {
  device_log("D", 4, false).write_bytes("wrote", "\x1b@");
  EXPECT_TRUE(lines().empty());
  const device_log tracing("D", 4, true);
  tracing.write_bytes("wrote", std::string("\x1b@\x00", 3));
  tracing.write_bytes("read", std::string(300, 'A'));
  const std::vector<std::string> got = lines();
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0], "debug   D: wrote 3 bytes: 1B 40 00");
  EXPECT_EQ(got[1].rfind("debug   D: read 300 bytes: 41 41", 0), 0u);
  EXPECT_EQ(got[1].size(), std::string("debug   D: read 300 bytes:").size() + 256 * 3 + 4) << "256 bytes then ...";
}

TEST(LogQuote, QuotesEscapesAndCuts) {
  EXPECT_EQ(platform::log_quote("Hello\n"), "\"Hello\\x0A\"");
  EXPECT_EQ(platform::log_quote("a\"b\\"), "\"a\\x22b\\x5C\"");
  EXPECT_EQ(platform::log_quote("abcdef", 3), "\"abc...\"");
  EXPECT_EQ(platform::log_quote(""), "\"\"");
}

}  // namespace
