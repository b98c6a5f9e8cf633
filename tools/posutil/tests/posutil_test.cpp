// posutil's command line: global options and usage errors.
#include <gtest/gtest.h>

#include <sstream>

#include "posutil.h"

namespace {

struct usage_case {
  std::vector<std::string> args;
  int status;
  std::string err;        // expected stderr line, empty for none
  std::string out = {};   // expected start of stdout
};

TEST(PosutilTest, CommandLineIsCheckedBeforeAnyCommandRuns) {
  const usage_case cases[] = {
      {{}, posutil::kExitUsage, "posutil: no command given (see --help)\n"},
      {{"--registry"}, posutil::kExitUsage, "posutil: --registry needs a value\n"},
      {{"--bogus", "printers"}, posutil::kExitUsage, "posutil: unknown option --bogus\n"},
      {{"--server=h:1", "frobnicate"}, posutil::kExitUsage, "posutil: unknown command frobnicate (see --help)\n"},
      {{"--help"}, posutil::kExitOk, ""},
      {{"--version"}, posutil::kExitOk, "", "posutil (poskit) "},
      {{"--help=yes"}, posutil::kExitUsage, "posutil: --help takes no value\n"},
      {{"--registry=/nonexistent", "--server", "h:1"}, posutil::kExitUsage, "posutil: no command given (see --help)\n"},
      // The printer commands' own arguments.
      {{"printers", "--help"}, posutil::kExitOk, "", "Usage: posutil printers [--json]"},
      {{"identify", "-h"}, posutil::kExitOk, "", "Usage: posutil identify PRINTER [--json]"},
      {{"status", "--help"}, posutil::kExitOk, "", "Usage: posutil status PRINTER"},
      {{"printers", "--bogus"}, posutil::kExitUsage, "posutil: unknown option --bogus\n"},
      {{"printers", "--json=yes"}, posutil::kExitUsage, "posutil: --json takes no value\n"},
      {{"printers", "extra"}, posutil::kExitUsage, "posutil: printers takes no argument extra\n"},
      {{"identify"}, posutil::kExitUsage, "posutil: no PRINTER given\n"},
      {{"identify", "COM1", "COM2", "--json"}, posutil::kExitUsage, "posutil: one PRINTER only\n"},
      {{"status", "COM1", "--json"}, posutil::kExitUsage, "posutil: unknown option --json\n"},
  };
  for (const usage_case& c : cases) {
    std::ostringstream out, err;
    EXPECT_EQ(posutil::run(c.args, out, err), c.status) << testing::PrintToString(c.args);
    EXPECT_EQ(err.str(), c.err) << testing::PrintToString(c.args);
    EXPECT_EQ(out.str().rfind(c.out, 0), 0u) << testing::PrintToString(c.args) << "\n" << out.str();
  }
}

TEST(PosutilTest, HelpNamesTheGlobalOptions) {
  std::ostringstream out, err;
  ASSERT_EQ(posutil::run({"--help"}, out, err), posutil::kExitOk);
  EXPECT_NE(out.str().find("--registry DIR"), std::string::npos);
  EXPECT_NE(out.str().find("--server HOST[:PORT]"), std::string::npos);
}

}  // namespace
