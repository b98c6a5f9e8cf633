// The Netsetup and lansim programs' command lines: --help, and a refused argument with exit
// status 2 and one line saying why.
#include <gtest/gtest.h>

#include <string>

#include "platform/testing/netns.h"

namespace {

struct run_result {
  std::string output;
  std::string status;
};

// Runs `command` and gives its output and exit status.
run_result run(const std::string& command) {
  std::string output;
  platform::testing::run_shell("{ " + command + "; } 2>&1; echo \"rc=$?\"", &output);
  const std::size_t at = output.rfind("rc=");
  return {output.substr(0, at), at == std::string::npos ? "" : output.substr(at + 3, output.size() - at - 4)};
}

TEST(NetsetupProgram, HelpAndBadArguments) {
  struct row {
    std::string command;
    const char* status;
    const char* output_start;
  };
  const row rows[] = {
      {std::string(NETSETUP_PROGRAM) + " --help", "0", "Usage: Netsetup"},
      {std::string(NETSETUP_PROGRAM) + " --version", "0", "Netsetup (poskit) "},
      {std::string(NETSETUP_PROGRAM) + " --bogus", "2", "Netsetup: unknown option --bogus (see Netsetup --help)\n"},
      {std::string(NETSETUP_PROGRAM) + " extra", "2", "Netsetup: unexpected argument extra (see Netsetup --help)\n"},
      {std::string(LANSIM_PROGRAM) + " --help", "0", "Usage: lansim"},
      {std::string(LANSIM_PROGRAM) + " --version", "0", "lansim (poskit) "},
      {std::string(LANSIM_PROGRAM) + " --wired many", "2",
       "lansim: --wired needs a number from 0 to 10000 (see lansim --help)\n"},
      {std::string(LANSIM_PROGRAM) + " --wired=many", "2",
       "lansim: --wired needs a number from 0 to 10000 (see lansim --help)\n"},
      {std::string(LANSIM_PROGRAM) + " --named=-1", "2",
       "lansim: --named needs a number from 0 to 10000 (see lansim --help)\n"},
      {std::string(LANSIM_PROGRAM) + " --first-ip=10.0.0", "2",
       "lansim: --first-ip needs an IPv4 address (see lansim --help)\n"},
      {std::string(LANSIM_PROGRAM) + " --printer=nohost", "2", "lansim: --printer needs HOST:PORT (see lansim --help)\n"},
      {std::string(LANSIM_PROGRAM) + " --interface", "2", "lansim: --interface needs a value (see lansim --help)\n"},
      {std::string(LANSIM_PROGRAM) + " --bogus", "2", "lansim: unknown option --bogus (see lansim --help)\n"},
      {std::string(LANSIM_PROGRAM) + " extra", "2", "lansim: unexpected argument extra (see lansim --help)\n"},
  };
  for (const row& r : rows) {
    const run_result result = run(r.command);
    EXPECT_EQ(result.status, r.status) << r.command;
    // A refusal is the whole output: exactly the one line.
    if (std::string(r.status) == "2") {
      EXPECT_EQ(result.output, r.output_start) << r.command;
    } else {
      EXPECT_EQ(result.output.rfind(r.output_start, 0), 0u) << r.command << "\n" << result.output;
    }
  }
}

}  // namespace
