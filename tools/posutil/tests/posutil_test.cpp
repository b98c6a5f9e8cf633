// posutil's command line: global options and usage errors.
#include <gtest/gtest.h>

#include <sstream>

#include "posutil.h"

namespace {

struct usage_case {
  std::vector<std::string> args;
  int status;
  std::string err;  // expected stderr line, empty for none
};

TEST(PosutilTest, CommandLineIsCheckedBeforeAnyCommandRuns) {
  const usage_case cases[] = {
      {{}, posutil::kExitUsage, "posutil: no command given (see --help)\n"},
      {{"--registry"}, posutil::kExitUsage, "posutil: --registry needs a value\n"},
      {{"--bogus", "printers"}, posutil::kExitUsage, "posutil: unknown option --bogus\n"},
      {{"--server=h:1", "frobnicate"}, posutil::kExitUsage, "posutil: unknown command frobnicate (see --help)\n"},
      {{"--help"}, posutil::kExitOk, ""},
      {{"--version"}, posutil::kExitOk, ""},
      {{"--help=yes"}, posutil::kExitUsage, "posutil: --help takes no value\n"},
  };
  for (const usage_case& c : cases) {
    std::ostringstream out, err;
    EXPECT_EQ(posutil::run(c.args, out, err), c.status) << testing::PrintToString(c.args);
    EXPECT_EQ(err.str(), c.err) << testing::PrintToString(c.args);
  }
}

TEST(PosutilTest, HelpNamesTheGlobalOptions) {
  std::ostringstream out, err;
  ASSERT_EQ(posutil::run({"--help"}, out, err), posutil::kExitOk);
  EXPECT_NE(out.str().find("--registry DIR"), std::string::npos);
  EXPECT_NE(out.str().find("--server HOST[:PORT]"), std::string::npos);
}

}  // namespace
