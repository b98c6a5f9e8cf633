// The table-driven parser on a small command set of its own: prefixes, length rules, partial
// commands across writes, unknown and oversized commands.
#include "command_parser.h"

#include <gtest/gtest.h>

#include "machine.h"
#include "test_util.h"

namespace vprinter::detail {
namespace {

std::vector<std::string>& calls() {
  static std::vector<std::string> c;
  return c;
}

void record(machine&, std::string_view b) { calls().push_back(test::hex(b)); }
void record_text(machine&, std::string_view b) { calls().push_back("text:" + std::string(b)); }
void record_and_stop(machine& m, std::string_view b) {
  calls().push_back(test::hex(b));
  m.stop_feeding = true;
}
std::size_t counted(std::string_view b) {  // 1B 28 n data(n)
  return b.size() < 3 ? 0 : 3 + static_cast<unsigned char>(b[2]);
}
std::size_t huge(std::string_view b) {  // 1B 5A n: n megabytes follow
  return b.size() < 3 ? 0 : 3 + static_cast<std::size_t>(static_cast<unsigned char>(b[2])) * (1u << 20);
}

#define ROW(prefix, len, run) command_row{std::string_view(prefix, sizeof(prefix) - 1), prefix, len, run}
const command_row kRows[] = {
    ROW("\x0a", fixed<1>, record),
    ROW("\x1b@", fixed<2>, record),
    ROW("\x1b" "a", fixed<3>, record),
    ROW("\x1b(", counted, record),
    ROW("\x1b(A", fixed<4>, record),
    ROW("\x1bZ", huge, record),
    ROW("\x1b=", fixed<3>, record_and_stop),
};
#undef ROW
const command_set kLogging{kRows, record_text, stray_policy::log_unknown, "test: "};
const command_set kDropping{kRows, nullptr, stray_policy::drop, ""};

class VprinterCommandParser : public ::testing::Test {
 protected:
  void SetUp() override { calls().clear(); }
  machine m{config{}};
};

TEST_F(VprinterCommandParser, SplitsAStreamIntoCommandsWhateverTheWriteBoundaries) {
  const std::string stream = test::bytes("1B 40") + "Hi" + test::bytes("1B 61 01 1B 28 03 0A 0B 0C 1B 28 41 07 0A") + "ok";
  const std::vector<std::string> expected = {"1B 40", "text:Hi", "1B 61 01", "1B 28 03 0A 0B 0C", "1B 28 41 07", "0A", "text:ok"};

  command_parser whole(kLogging);
  whole.feed(m, stream, 0);
  EXPECT_EQ(calls(), expected);

  // Every single split point, then one byte per write: commands come out the same; text may
  // arrive in pieces, so text is compared joined.
  auto joined = [](const std::vector<std::string>& c) {
    std::vector<std::string> out;
    for (const auto& s : c) {
      if (s.rfind("text:", 0) == 0 && !out.empty() && out.back().rfind("text:", 0) == 0) out.back() += s.substr(5);
      else out.push_back(s);
    }
    return out;
  };
  for (std::size_t cut = 1; cut < stream.size(); ++cut) {
    calls().clear();
    command_parser p(kLogging);
    p.feed(m, stream.substr(0, cut), 0);
    p.feed(m, stream.substr(cut), cut);
    EXPECT_EQ(joined(calls()), expected) << "split at " << cut;
    EXPECT_FALSE(p.mid_command());
  }
  calls().clear();
  command_parser bytewise(kLogging);
  for (std::size_t i = 0; i < stream.size(); ++i) bytewise.feed(m, stream.substr(i, 1), i);
  EXPECT_EQ(joined(calls()), expected);
}

TEST_F(VprinterCommandParser, WaitsForALongerPrefixBeforeTakingTheShorterOne) {
  command_parser p(kLogging);
  p.feed(m, test::bytes("1B 28"), 0);
  EXPECT_TRUE(calls().empty());
  EXPECT_TRUE(p.mid_command());
  p.feed(m, test::bytes("02 41 42"), 2);  // 02 is not 'A': the counted command with two bytes
  EXPECT_EQ(calls(), (std::vector<std::string>{"1B 28 02 41 42"}));
}

TEST_F(VprinterCommandParser, UnknownCommandsAreLoggedAndTheirControlByteLookedAtAgain) {
  command_parser p(kLogging);
  // ESC ESC @: the first pair is unknown, the second ESC starts ESC @. 07 is unknown alone.
  p.feed(m, test::bytes("1B 1B 40 07 1B 7E") + "x", 100);
  EXPECT_EQ(calls(), (std::vector<std::string>{"1B 40", "text:x"}));
  ASSERT_EQ(m.unknowns, 3u);
  ASSERT_EQ(m.log.size(), 3u);
  EXPECT_EQ(m.log[0].text, "test: unknown command 1B 1B");
  EXPECT_EQ(m.log[0].offset, 100u);
  EXPECT_EQ(m.log[1].text, "test: unknown command 07");
  EXPECT_EQ(m.log[1].offset, 103u);
  EXPECT_EQ(m.log[2].text, "test: unknown command 1B 7E");
}

TEST_F(VprinterCommandParser, DropPolicyIgnoresStraysAndText) {
  command_parser p(kDropping);
  p.feed(m, test::bytes("07 08") + "text" + test::bytes("1B 40"), 0);
  EXPECT_EQ(calls(), (std::vector<std::string>{"1B 40"}));
  EXPECT_EQ(m.unknowns, 0u);
  EXPECT_TRUE(m.log.empty());
}

TEST_F(VprinterCommandParser, OversizedCommandIsSkippedNotStored) {
  command_parser p(kLogging);
  // 1B 5A 09 announces 9 MiB, more than a command may keep: the data is skipped in passing.
  std::string data(9u << 20, 'Q');
  p.feed(m, test::bytes("1B 5A 09"), 0);
  p.feed(m, data.substr(0, 5000000), 3);
  EXPECT_TRUE(p.mid_command());
  p.feed(m, data.substr(5000000) + test::bytes("1B 40"), 5000003);
  EXPECT_EQ(calls(), (std::vector<std::string>{"1B 40"}));
  ASSERT_FALSE(m.log.empty());
  EXPECT_NE(m.log.back().text.find("too long"), std::string::npos);
}

TEST_F(VprinterCommandParser, StopsRightAfterACommandThatChangesRouting) {
  command_parser p(kLogging);
  const std::string stream = test::bytes("1B 40 1B 3D 02 1B 40");
  const std::size_t used = p.feed(m, stream, 0);
  EXPECT_EQ(used, 5u);
  EXPECT_EQ(calls(), (std::vector<std::string>{"1B 40", "1B 3D 02"}));
  EXPECT_EQ(p.feed(m, stream.substr(used), used), 2u);
}

TEST_F(VprinterCommandParser, ResetForgetsAPartialCommand) {
  command_parser p(kLogging);
  p.feed(m, test::bytes("1B 28 05 01"), 0);
  p.reset();
  EXPECT_FALSE(p.mid_command());
  p.feed(m, test::bytes("1B 40"), 4);
  EXPECT_EQ(calls(), (std::vector<std::string>{"1B 40"}));
}

}  // namespace
}  // namespace vprinter::detail
