// Tests of the Testbench program's command line: --help answers, a bad option is refused.
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <string>

#include <gtest/gtest.h>

namespace {

struct run_result {
  int exit_code = -1;
  std::string out;
};

run_result run(const std::string& args) {
  run_result r;
  const std::string command = std::string("QT_QPA_PLATFORM=offscreen '") + TESTBENCH_PROGRAM + "' " + args + " 2>&1";
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return r;
  std::array<char, 256> buffer{};
  while (std::fgets(buffer.data(), buffer.size(), pipe) != nullptr) r.out += buffer.data();
  const int status = ::pclose(pipe);
  r.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

TEST(TestbenchProgram, HelpAndBadOptions) {
  const struct {
    const char* args;
    int exit_code;
    const char* out;  // expected start of the output; a refusal's output is this one line
  } cases[] = {
      {"--help", 0, "usage: Testbench"},
      {"-h", 0, "usage: Testbench"},
      {"--version", 0, "Testbench (poskit) "},
      {"--frobnicate", 2, "Testbench: unknown option --frobnicate (see Testbench --help)\n"},
      {"--help=yes", 2, "Testbench: --help takes no value (see Testbench --help)\n"},
      {"-platform offscreen --frobnicate", 2, "Testbench: unknown option --frobnicate (see Testbench --help)\n"},
      {"-platform offscreen --version", 0, "Testbench (poskit) "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    const run_result r = run(c.args);
    EXPECT_EQ(r.exit_code, c.exit_code);
    if (c.exit_code == 2) {
      EXPECT_EQ(r.out, c.out);
    } else {
      EXPECT_EQ(r.out.rfind(c.out, 0), 0u) << r.out;
    }
  }
}

}  // namespace
