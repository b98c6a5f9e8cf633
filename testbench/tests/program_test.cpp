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
  const run_result help = run("--help");
  EXPECT_EQ(help.exit_code, 0);
  EXPECT_NE(help.out.find("usage: Testbench"), std::string::npos) << help.out;

  const run_result bad = run("--frobnicate");
  EXPECT_EQ(bad.exit_code, 2);
  EXPECT_EQ(bad.out, "Testbench: unknown option --frobnicate\n");
}

}  // namespace
