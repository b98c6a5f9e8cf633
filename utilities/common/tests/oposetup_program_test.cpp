// The Oposetup program as started by a user: its command line, and one instance per name (a
// link named SETUP is a program of its own).
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

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

int run_to_end(const fs::path& program, std::vector<std::string> args) {
  std::error_code error;
  platform::child_process child = platform::child_process::spawn({program, std::move(args), {}}, error);
  if (error || !child.wait_for(kGenerousMs)) return -1;
  return child.status().signaled ? -1 : child.status().value;
}

class OposetupProgram : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("XDG_RUNTIME_DIR", dir_.path().c_str(), 1);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    setenv("OPOS_REGISTRY_DIR", (dir_.path() / "registry").c_str(), 1);
  }
  platform::testing::temp_dir dir_;
};

std::string read_file(const fs::path& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST_F(OposetupProgram, CommandLine) {
  const struct {
    std::vector<std::string> arguments;
    int status;
    const char* out;  // expected start of stdout
    const char* err;  // expected stderr
  } cases[] = {
      {{"--help"}, 0, "Usage: Oposetup", ""},
      {{"-h"}, 0, "Usage: Oposetup", ""},
      {{"--version"}, 0, "Oposetup (poskit) ", ""},
      {{"--bogus"}, 2, "", "Oposetup: unknown option --bogus (see Oposetup --help)\n"},
      {{"--version=1"}, 2, "", "Oposetup: --version takes no value (see Oposetup --help)\n"},
      {{"extra"}, 2, "", "Oposetup: unexpected argument extra (see Oposetup --help)\n"},
  };
  for (const auto& c : cases) {
    std::string shown;
    for (const std::string& argument : c.arguments) shown += argument + " ";
    SCOPED_TRACE(shown);
    // The shell puts the program's output into files.
    std::vector<std::string> arguments = {"-c", "exec \"$0\" \"$@\" >\"" + (dir_.path() / "out").string() + "\" 2>\"" +
                                                    (dir_.path() / "err").string() + "\"",
                                          OPOSETUP_PROGRAM};
    arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
    EXPECT_EQ(run_to_end("/bin/sh", arguments), c.status);
    EXPECT_TRUE(read_file(dir_.path() / "out").starts_with(c.out)) << read_file(dir_.path() / "out");
    EXPECT_EQ(read_file(dir_.path() / "err"), c.err);
  }
}

TEST_F(OposetupProgram, SecondInstanceOfTheSameNameEndsAtOnce) {
  const fs::path setup = dir_.path() / "SETUP";
  fs::create_symlink(OPOSETUP_PROGRAM, setup);
  std::error_code error;
  platform::child_process first = platform::child_process::spawn({setup, {}, {}}, error);
  ASSERT_FALSE(error) << error.message();
  // The lock is named after the name the program was started under.
  const fs::path lock = dir_.path() / "poskit" / "SETUP.lock";
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kGenerousMs);
  while (first_line(lock) != std::to_string(first.pid()) && std::chrono::steady_clock::now() < deadline &&
         !first.try_wait()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_EQ(first_line(lock), std::to_string(first.pid()));
  ASSERT_TRUE(first.running()) << "the first instance ended by itself";
  EXPECT_EQ(run_to_end(setup, {}), 0);
  EXPECT_TRUE(first.running());
  first.send_signal(SIGTERM);
  EXPECT_TRUE(first.wait_for(kGenerousMs));
}

}  // namespace
