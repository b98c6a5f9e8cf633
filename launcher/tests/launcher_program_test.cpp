// Tests of the Launcher program as started by a user: one instance per user.
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "platform/process.h"
#include "platform/testing/temp_dir.h"

namespace {

namespace fs = std::filesystem;

// Bound of every wait in these tests, in milliseconds.
constexpr int kGenerousMs = 20000;

std::string first_line(const fs::path& path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  return line;
}

TEST(LauncherProgram, SecondInstanceEndsAtOnce) {
  platform::testing::temp_dir dir;
  const fs::path kit = dir / "Launcher";
  fs::create_directories(kit);
  std::ofstream(kit / "Launcher.INI") << "[LANGUAGES]\nEnglish=English\n";
  // Both instances see a private runtime folder and no display.
  setenv("XDG_RUNTIME_DIR", dir.path().c_str(), 1);
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  const platform::spawn_request request{LAUNCHER_PROGRAM, {"--dir", kit.string()}, {}};

  std::error_code error;
  platform::child_process first = platform::child_process::spawn(request, error);
  ASSERT_FALSE(error) << error.message();
  // The first instance holds the lock once its process id is in the lock file.
  const fs::path lock = dir / "poskit" / "Launcher.lock";
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kGenerousMs);
  while (first_line(lock) != std::to_string(first.pid()) && std::chrono::steady_clock::now() < deadline &&
         !first.try_wait()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_EQ(first_line(lock), std::to_string(first.pid()));
  ASSERT_TRUE(first.running()) << "the first instance ended by itself";

  platform::child_process second = platform::child_process::spawn(request, error);
  ASSERT_FALSE(error) << error.message();
  ASSERT_TRUE(second.wait_for(kGenerousMs)) << "the second instance kept running";
  EXPECT_FALSE(second.status().signaled);
  EXPECT_EQ(second.status().value, 0);
  EXPECT_TRUE(first.running());

  first.send_signal(SIGTERM);
  EXPECT_TRUE(first.wait_for(kGenerousMs));
}

}  // namespace
