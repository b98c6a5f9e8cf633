// The Logo program's command line: --help and --version without a display, and a one-line reason
// with exit code 2 for what it does not take.
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/process.h"
#include "platform/testing/temp_dir.h"

namespace {

namespace fs = std::filesystem;

// Bound of every wait in this test, in milliseconds.
constexpr int kGenerousMs = 20000;

std::string read_file(const fs::path& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(LogoProgram, CommandLine) {
  platform::testing::temp_dir dir;
  // No display: --help and --version must not need one, and the others end before Qt starts.
  unsetenv("DISPLAY");
  unsetenv("WAYLAND_DISPLAY");
  setenv("QT_QPA_PLATFORM", "xcb", 1);
  const struct {
    std::vector<std::string> arguments;
    int status;
    const char* out;  // expected start of stdout
    const char* err;  // expected stderr
  } cases[] = {
      {{"--help"}, 0, "Usage: Logo", ""},
      {{"-h"}, 0, "Usage: Logo", ""},
      {{"--version"}, 0, "Logo (poskit) ", ""},
      {{"--bogus"}, 2, "", "Logo: unknown option --bogus (see Logo --help)\n"},
      {{"picture.bmp"}, 2, "", "Logo: unexpected argument picture.bmp (see Logo --help)\n"},
  };
  for (const auto& c : cases) {
    std::string shown;
    for (const std::string& argument : c.arguments) shown += argument + " ";
    SCOPED_TRACE(shown);
    std::vector<std::string> arguments = {"-c", "exec \"$0\" \"$@\" >\"" + (dir.path() / "out").string() + "\" 2>\"" +
                                                    (dir.path() / "err").string() + "\"",
                                          LOGO_PROGRAM};
    arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
    std::error_code error;
    platform::child_process child = platform::child_process::spawn({"/bin/sh", arguments, {}}, error);
    ASSERT_FALSE(error) << error.message();
    ASSERT_TRUE(child.wait_for(kGenerousMs));
    ASSERT_FALSE(child.status().signaled);
    EXPECT_EQ(child.status().value, c.status);
    EXPECT_TRUE(read_file(dir.path() / "out").starts_with(c.out)) << read_file(dir.path() / "out");
    EXPECT_EQ(read_file(dir.path() / "err"), c.err);
  }
}

}  // namespace
