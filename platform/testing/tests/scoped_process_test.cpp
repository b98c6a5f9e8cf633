// Programs run beside a test: found on PATH, their first line read, and ended within bounds.
#include "platform/testing/scoped_process.h"

#include <gtest/gtest.h>

#include <chrono>

#include "platform/testing/temp_dir.h"

namespace platform::testing {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

TEST(ScopedProcessTest, ProgramsAreFoundOnPath) {
  const std::optional<std::filesystem::path> shell = find_program("sh");
  ASSERT_TRUE(shell);
  EXPECT_EQ(shell->filename(), "sh");
  EXPECT_FALSE(find_program("no-such-program-for-poskit-tests"));
}

TEST(ScopedProcessTest, ReadsTheFirstLineAndKillsAChildThatIgnoresTerm) {
  temp_dir dir;
  const std::optional<std::filesystem::path> shell = find_program("sh");
  ASSERT_TRUE(shell);
  // exec keeps the ignored SIGTERM, so only SIGKILL ends the sleep.
  scoped_process child({shell->string(), "-c", "trap '' TERM; echo ready; exec sleep 30"}, dir / "log",
                       true);
  ASSERT_TRUE(child.started());
  EXPECT_EQ(child.first_line(5000), "ready");

  const auto start = steady_clock::now();
  child.stop();
  const auto waited = steady_clock::now() - start;
  EXPECT_GE(waited, milliseconds(1900)) << "SIGTERM was ignored, so the grace time passes first";
  EXPECT_LT(waited, milliseconds(10000));
}

TEST(ScopedProcessTest, AChildThatHonoursTermStopsAtOnce) {
  temp_dir dir;
  const std::optional<std::filesystem::path> sleep = find_program("sleep");
  ASSERT_TRUE(sleep);
  scoped_process child({sleep->string(), "30"}, dir / "log", false);
  ASSERT_TRUE(child.started());
  const auto start = steady_clock::now();
  child.stop();
  EXPECT_LT(steady_clock::now() - start, milliseconds(1900));
}

}  // namespace
}  // namespace platform::testing
