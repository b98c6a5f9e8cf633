// Tests of the posrun line language: a table of good lines with what they mean, and a table of
// bad lines with the reason given.
#include "script.h"

#include <gtest/gtest.h>

#include <optional>

namespace {

using posrun::statement_kind;
using posrun::value;

value n(std::int32_t number) { return value{false, number, {}}; }
value t(std::string text) { return value{true, 0, std::move(text)}; }

struct good_line {
  const char* line;
  statement_kind kind;
  const char* member;
  std::vector<value> args;
  std::uint32_t wait_ms = 0;
  std::int32_t response = 0;
  std::optional<std::uint32_t> after_ms = std::nullopt;
};

TEST(ScriptTest, GoodLines) {
  const good_line cases[] = {
      {"", statement_kind::blank, "", {}},
      {"   # only a comment", statement_kind::blank, "", {}},
      {"Close", statement_kind::read_or_call, "Close", {}},
      {"  ResultCode   # why it failed", statement_kind::read_or_call, "ResultCode", {}},
      {"Open \"VX40Device\"", statement_kind::call, "Open", {t("VX40Device")}},
      {"Claim 1000", statement_kind::call, "Claim", {n(1000)}},
      {"PrintNormal 2 \"Hello\\n\"", statement_kind::call, "PrintNormal", {n(2), t("Hello\n")}},
      {"PrintNormal 2, \"\\e|cA\\x1b|bC\"", statement_kind::call, "PrintNormal", {n(2), t("\x1b|cA\x1b|bC")}},
      {"PrintNormal\t2,\"a#b\" # the # in the string stays", statement_kind::call, "PrintNormal", {n(2), t("a#b")}},
      {"X \"\\r\\t\\\\\\\"\\x0\\xff\\x4142\"", statement_kind::call, "X", {t(std::string("\r\t\\\"\0\xff" "A42", 9))}},
      {"X \"\"", statement_kind::call, "X", {t("")}},
      {"X -7 0x1B 0X1b -0x10", statement_kind::call, "X", {n(-7), n(27), n(27), n(-16)}},
      {"X 2147483647 -2147483648", statement_kind::call, "X", {n(2147483647), n(-2147483647 - 1)}},
      {"X 0xFFFFFFFF 0x80000000", statement_kind::call, "X", {n(-1), n(-2147483647 - 1)}},
      {"DirectIO 1 5 \"ab\"", statement_kind::call, "DirectIO", {n(1), n(5), t("ab")}},
      {"DeviceEnabled = 1", statement_kind::write, "DeviceEnabled", {n(1)}},
      {"CharacterSetList=\"437\"", statement_kind::write, "CharacterSetList", {t("437")}},
      {"wait 250", statement_kind::wait, "", {}, 250},
      {"WAIT 0", statement_kind::wait, "", {}, 0},
      {"respond ErrorEvent 11", statement_kind::respond, "ErrorEvent", {}, 0, 11},
      {"respond errorevent -1", statement_kind::respond, "ErrorEvent", {}, 0, -1},
      {"_under_score9", statement_kind::read_or_call, "_under_score9", {}},
      {"after 2000 MarqueeType = 0", statement_kind::write, "MarqueeType", {n(0)}, 0, 0, 2000},
      {"AFTER 0 ClearText", statement_kind::read_or_call, "ClearText", {}, 0, 0, 0},
      {"after 50 DisplayText \"Bye\", 0 # later", statement_kind::call, "DisplayText", {t("Bye"), n(0)}, 0, 0, 50},
  };
  for (const good_line& c : cases) {
    SCOPED_TRACE(c.line);
    posrun::statement s;
    std::string error;
    ASSERT_TRUE(posrun::parse_line(c.line, s, error)) << error;
    EXPECT_EQ(s.kind, c.kind);
    EXPECT_EQ(s.member, c.member);
    EXPECT_EQ(s.args, c.args);
    EXPECT_EQ(s.wait_ms, c.wait_ms);
    EXPECT_EQ(s.response, c.response);
    EXPECT_EQ(s.after_ms, c.after_ms);
  }
}

struct bad_line {
  const char* line;
  const char* reason;
};

TEST(ScriptTest, BadLinesSayWhy) {
  const bad_line cases[] = {
      {"PrintNormal 2 \"open", "unterminated string"},
      {"PrintNormal 2 \"ends in escape\\", "unterminated string"},
      {"PrintNormal 2 \"\\q\"", "unknown escape \\q"},
      {"PrintNormal 2 \"\\x\"", "\\x without hexadecimal digits"},
      {"PrintNormal 2 \"a\"b", "unexpected character after a string"},
      {"Claim 12ab", "malformed number 12ab"},
      {"Claim 0x", "malformed number 0x"},
      {"Claim -", "malformed number -"},
      {"Claim 0x1G", "malformed number 0x1G"},
      {"Claim 2147483648", "number out of range 2147483648"},
      {"Claim -2147483649", "number out of range -2147483649"},
      {"Claim 0x100000000", "number out of range 0x100000000"},
      {"Claim -0x80000001", "number out of range -0x80000001"},
      {"42", "expected a member name"},
      {"\"text\"", "expected a member name"},
      {"= 5", "expected a member name"},
      {"Claim Timeout", "expected a number or a string, not Timeout"},
      {"DeviceEnabled =", "expected one value after ="},
      {"DeviceEnabled = 1 2", "expected one value after ="},
      {"DeviceEnabled = = 1", "expected one value after ="},
      {"Claim 1 = 2", "misplaced ="},
      {"PrintNormal 2,, \"x\"", "misplaced comma"},
      {"PrintNormal , 2", "misplaced comma"},
      {"PrintNormal 2,", "misplaced comma"},
      {"wait", "wait takes one time in milliseconds"},
      {"wait -5", "wait takes one time in milliseconds"},
      {"wait 5 6", "wait takes one time in milliseconds"},
      {"wait \"5\"", "wait takes one time in milliseconds"},
      {"respond ErrorEvent", "respond takes ErrorEvent and a number"},
      {"respond StatusUpdateEvent 1", "respond takes ErrorEvent and a number"},
      {"respond ErrorEvent \"11\"", "respond takes ErrorEvent and a number"},
      {"Print$Normal", "unexpected character after Print"},
      {"; comment", "unexpected character ';'"},
      {"after 100", "after takes a time in milliseconds and a call or a property write"},
      {"after MarqueeType = 0", "after takes a time in milliseconds and a call or a property write"},
      {"after -1 MarqueeType = 0", "after takes a time in milliseconds and a call or a property write"},
      {"after 10 wait 5", "after takes a time in milliseconds and a call or a property write"},
      {"after 10 after 5 ClearText", "after takes a time in milliseconds and a call or a property write"},
      {"after 10 respond ErrorEvent 11", "after takes a time in milliseconds and a call or a property write"},
      {"after 10 MarqueeType =", "expected one value after ="},
  };
  for (const bad_line& c : cases) {
    SCOPED_TRACE(c.line);
    posrun::statement s;
    std::string error;
    EXPECT_FALSE(posrun::parse_line(c.line, s, error));
    EXPECT_EQ(error, c.reason);
  }
}

}  // namespace
