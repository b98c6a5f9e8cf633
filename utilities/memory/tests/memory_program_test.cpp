// The Memory program's command line, under its own name and under a link named SETUP (whose name
// shows in its texts, as the program takes its behaviour from it).
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/process.h"
#include "platform/testing/temp_dir.h"

namespace {

namespace fs = std::filesystem;

// Bound of every wait in these tests, in milliseconds.
constexpr int kGenerousMs = 20000;

int run_to_end(const fs::path& program, std::vector<std::string> args) {
  std::error_code error;
  platform::child_process child = platform::child_process::spawn({program, std::move(args), {}}, error);
  if (error || !child.wait_for(kGenerousMs)) return -1;
  return child.status().signaled ? -1 : child.status().value;
}

std::string read_file(const fs::path& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(MemoryProgram, CommandLine) {
  platform::testing::temp_dir dir;
  setenv("XDG_RUNTIME_DIR", dir.path().c_str(), 1);
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  setenv("OPOS_REGISTRY_DIR", (dir.path() / "registry").c_str(), 1);
  const fs::path setup = dir.path() / "SETUP";
  fs::create_symlink(MEMORY_PROGRAM, setup);
  const struct {
    fs::path program;
    std::vector<std::string> arguments;
    int status;
    const char* out;  // expected start of stdout
    const char* err;  // expected stderr
  } cases[] = {
      {MEMORY_PROGRAM, {"--help"}, 0, "Usage: Memory\nThe setup editor", ""},
      {setup, {"-h"}, 0, "Usage: SETUP\nThe setup editor", ""},
      {MEMORY_PROGRAM, {"--version"}, 0, "Memory (poskit) ", ""},
      {MEMORY_PROGRAM, {"--bogus"}, 2, "", "Memory: unknown option --bogus (see Memory --help)\n"},
      {setup, {"extra"}, 2, "", "SETUP: unexpected argument extra (see SETUP --help)\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.program.filename().string() + " " + (c.arguments.empty() ? "" : c.arguments.front()));
    std::vector<std::string> arguments = {"-c", "exec \"$0\" \"$@\" >\"" + (dir.path() / "out").string() + "\" 2>\"" +
                                                    (dir.path() / "err").string() + "\"",
                                          c.program.string()};
    arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
    EXPECT_EQ(run_to_end("/bin/sh", arguments), c.status);
    EXPECT_TRUE(read_file(dir.path() / "out").starts_with(c.out)) << read_file(dir.path() / "out");
    EXPECT_EQ(read_file(dir.path() / "err"), c.err);
  }
}

}  // namespace
