// Tests of the programs' command-line parser: both value forms, flags, operands in either order,
// and the one-line reasons of usage errors.
#include "platform/cli.h"

#include <gtest/gtest.h>

namespace {

using platform::cli::kFlag;
using platform::cli::kValue;
using platform::cli::operand_order;

constexpr platform::cli::option kOptions[] = {
    {"registry", 0, kValue, "DIR", "use the registry in DIR"},
    {"class", 'c', kValue, "NAME", "device class"},
    {"json", 0, kFlag, "", "JSON lines"},
    {"unregister", 'u', kFlag, "", "unregister"},
    {"help", 'h', kFlag, "", "show this text"},
};

struct accepted_case {
  const char* what;
  std::vector<std::string> args;
  operand_order order;
  std::vector<std::pair<std::string, std::string>> options;
  std::vector<std::string> operands;
};

TEST(CliParse, AcceptsBothValueFormsFlagsAndOperands) {
  const accepted_case cases[] = {
      {"value after =", {"--registry=/r", "s"}, operand_order::anywhere, {{"registry", "/r"}}, {"s"}},
      {"value as the next word", {"--registry", "/r", "s"}, operand_order::anywhere, {{"registry", "/r"}}, {"s"}},
      {"empty value after =", {"--registry=", "s"}, operand_order::anywhere, {{"registry", ""}}, {"s"}},
      {"short with value attached", {"-cLineDisplay"}, operand_order::anywhere, {{"class", "LineDisplay"}}, {}},
      {"short with value apart", {"-c", "CashDrawer"}, operand_order::anywhere, {{"class", "CashDrawer"}}, {}},
      {"clustered short flags", {"-uh"}, operand_order::anywhere, {{"unregister", ""}, {"help", ""}}, {}},
      {"options after an operand", {"script", "--json"}, operand_order::anywhere, {{"json", ""}}, {"script"}},
      {"operands keep their order", {"a", "--json", "b"}, operand_order::anywhere, {{"json", ""}}, {"a", "b"}},
      {"-- ends the options", {"--json", "--", "--registry"}, operand_order::anywhere, {{"json", ""}}, {"--registry"}},
      {"- is an operand", {"-"}, operand_order::anywhere, {}, {"-"}},
      {"the first operand ends the options", {"--json", "set", "--registry", "-1"}, operand_order::options_first,
       {{"json", ""}}, {"set", "--registry", "-1"}},
  };
  for (const accepted_case& c : cases) {
    SCOPED_TRACE(c.what);
    platform::cli::parsed p;
    std::string error;
    ASSERT_TRUE(platform::cli::parse(kOptions, c.args, p, error, c.order)) << error;
    EXPECT_EQ(p.options, c.options);
    EXPECT_EQ(p.operands, c.operands);
  }
}

TEST(CliParse, UsageErrorsGiveOneLineReasons) {
  const struct {
    std::vector<std::string> args;
    std::string reason;
  } cases[] = {
      {{"--bogus"}, "unknown option --bogus"},
      {{"--bogus=1"}, "unknown option --bogus"},
      {{"-z"}, "unknown option -z"},
      {{"--registry"}, "--registry needs a value"},
      {{"script", "-c"}, "--class needs a value"},
      {{"--json=yes"}, "--json takes no value"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.reason);
    platform::cli::parsed p;
    std::string error;
    EXPECT_FALSE(platform::cli::parse(kOptions, c.args, p, error));
    EXPECT_EQ(error, c.reason);
  }
}

TEST(CliParse, LastOccurrenceWinsAndParsesRepeat) {
  platform::cli::parsed p;
  std::string error;
  ASSERT_TRUE(platform::cli::parse(kOptions, {"--class", "A", "--class=B"}, p, error));
  EXPECT_EQ(p.value("class"), "B");
  EXPECT_EQ(p.value("registry", "default"), "default");
  EXPECT_FALSE(p.has("json"));
  // A second parse starts from scratch, not where the first one stopped.
  ASSERT_TRUE(platform::cli::parse(kOptions, {"--json"}, p, error));
  EXPECT_TRUE(p.has("json"));
  EXPECT_FALSE(p.has("class"));
}

TEST(CliHelp, AlignsOptionsAndNamesValues) {
  const std::string help = platform::cli::option_help(kOptions);
  EXPECT_NE(help.find("  -c, --class=NAME"), std::string::npos) << help;
  EXPECT_NE(help.find("      --registry=DIR"), std::string::npos) << help;
  // Every help text starts in the same column.
  const std::size_t column = help.find("use the registry") - help.rfind('\n', help.find("use the registry")) - 1;
  EXPECT_EQ(help.find("show this text") - help.rfind('\n', help.find("show this text")) - 1, column);
}

TEST(CliVersion, NamesTheProgramAndTheKitVersion) {
  EXPECT_FALSE(platform::cli::kit_version().empty());
  EXPECT_EQ(platform::cli::version_line("posrun"), "posrun (poskit) " + std::string(platform::cli::kit_version()));
}

}  // namespace
