// Tests of the Portpick program as the installation starts it: its help, and the refused command
// lines, which end it with a one-line reason and nothing written.
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/process.h"
#include "platform/registry.h"
#include "platform/testing/temp_dir.h"

namespace {

namespace fs = std::filesystem;

// Bound of every wait in these tests, in milliseconds.
constexpr int kGenerousMs = 20000;

std::string read_file(const fs::path& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(PortpickProgram, HelpAndRefusedCommandLines) {
  const struct {
    std::vector<std::string> arguments;
    int status;
    const char* out;  // expected start of stdout
    const char* err;  // expected stderr, "*" for any single line
  } cases[] = {
      {{"--help"}, 0, "Usage: ", ""},
      {{}, 2, "", "Portpick: Command line is empty!\n"},
      {{"X001"}, 2, "", "Portpick: Selection component error! X\n"},
      {{"abcdx101"}, 2, "", "Portpick: Selection component error! ABCDX\n"},
      {{"AB", "101"}, 2, "", "Portpick: Selection component error! AB \n"},
      {{"--bogus", "A101"}, 2, "", "Portpick: unknown option --bogus (see Portpick --help)\n"},
      {{"--root"}, 2, "", "Portpick: --root needs a value (see Portpick --help)\n"},
      {{"--version"}, 0, "Portpick (poskit) ", ""},
  };
  const platform::testing::scoped_registry_dir registry;
  const platform::testing::temp_dir dir;
  // The program sees a private runtime folder and no display.
  setenv("XDG_RUNTIME_DIR", dir.path().c_str(), 1);
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  for (const auto& c : cases) {
    std::string shown;
    for (const std::string& argument : c.arguments) shown += argument + " ";
    SCOPED_TRACE(shown);
    // The shell puts the program's output into files.
    std::vector<std::string> arguments = {"-c", "exec \"$0\" \"$@\" >\"" + (dir / "out").string() + "\" 2>\"" +
                                                    (dir / "err").string() + "\"",
                                          PORTPICK_PROGRAM};
    arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
    std::error_code error;
    platform::child_process child = platform::child_process::spawn({"/bin/sh", arguments, {}}, error);
    ASSERT_FALSE(error) << error.message();
    ASSERT_TRUE(child.wait_for(kGenerousMs)) << "the program kept running";
    EXPECT_FALSE(child.status().signaled);
    EXPECT_EQ(child.status().value, c.status);
    EXPECT_TRUE(read_file(dir / "out").starts_with(c.out)) << read_file(dir / "out");
    const std::string err = read_file(dir / "err");
    if (std::string(c.err) == "*") {
      EXPECT_FALSE(err.empty());
      EXPECT_EQ(err.find('\n'), err.size() - 1) << err;
    } else {
      EXPECT_EQ(err, c.err);
    }
  }
  EXPECT_TRUE(fs::is_empty(registry.path())) << "a refused command line writes nothing";
}

}  // namespace
