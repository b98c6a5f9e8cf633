// The printer's setup exchange through its public interface: the blocks it sends (structure,
// checksum, resend on NAK), the downloads it takes (answers, what it stores, what it refuses), the
// setup faults, and the code page it works by afterwards.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "test_util.h"
#include "vprinter/virtual_printer.h"

namespace vprinter {
namespace {

using test::bytes;
using test::same_bytes;
using test::talk;

// Sum of the bytes of `s` modulo 65536 as four upper-case hex digits.
std::string checksum(std::string_view s) {
  unsigned sum = 0;
  for (char c : s) sum += static_cast<unsigned char>(c);
  char buf[8];
  std::snprintf(buf, sizeof buf, "%04X", sum & 0xFFFF);
  return buf;
}

// The body of a setup block: between the 4-byte request and the checksum field.
std::string body_of(const std::string& block) { return block.size() < 9 ? "" : block.substr(4, block.size() - 9); }

bool is_separator(unsigned char c) {
  for (unsigned char s : {0x24, 0x21, 0x3A, 0xF7, 0x5B, 0x5D, 0x3B, 0x7C, 0x3D, 0xB1, 0xAA, 0xB9, 0xB2, 0xAB})
    if (c == s) return true;
  return false;
}

// The download items an editor sends when the user changed nothing: the identifier and "$",
// then per selection and value its current choice, decimal, each followed by "|".
std::vector<std::string> unchanged_items(const std::string& body, std::string* identifier) {
  std::vector<std::string> items;
  std::string token;
  for (char ch : body) {
    const auto c = static_cast<unsigned char>(ch);
    if (!is_separator(c)) {
      token += ch;
      continue;
    }
    if (c == 0x24) *identifier = token;
    if (c == 0x7C && !token.empty()) items.push_back(std::to_string(std::stoul(token, nullptr, 16)));
    if (c == 0xB9 || c == 0xB2) items.push_back(std::to_string(std::stoull(token, nullptr, 16)));
    if (c == 0xAA) items.push_back(token);
    token.clear();
  }
  return items;
}

// A download command of `kind` ('a' or 'm') for `identifier` and `items`.
std::string download(char kind, const std::string& identifier, const std::vector<std::string>& items,
                     bool good_checksum = true) {
  std::string body = identifier + "$";
  for (const auto& i : items) body += i + "|";
  std::string sum = checksum(body);
  if (!good_checksum) sum = sum == "0000" ? "0001" : "0000";
  return std::string("\x1B}", 2) + kind + body + sum + '\0';
}

// Uploads the block of `kind` and acknowledges it.
std::string upload(virtual_printer& p, char kind) {
  const std::string block = talk(p, std::string("\x1B} ", 3) + kind);
  talk(p, bytes("06"));
  return block;
}

struct setup_fixture : ::testing::Test {
  virtual_printer p;
  std::string identifier;
  std::vector<std::string> items;
  void SetUp() override { items = unchanged_items(body_of(upload(p, 'a')), &identifier); }
};

TEST(VprinterSetupBlock, FullAndMemoryBlocksAreWellFormed) {
  virtual_printer p;
  for (const char kind : {'a', 'm'}) {
    SCOPED_TRACE(kind);
    const std::string request = std::string("\x1B} ", 3) + kind;
    const std::string block = upload(p, kind);
    ASSERT_GT(block.size(), 9u);
    EXPECT_EQ(block.substr(0, 4), request);
    EXPECT_EQ(block.back(), '\0');
    EXPECT_EQ(block.substr(block.size() - 5, 4), checksum(body_of(block)));
    EXPECT_EQ(body_of(block).substr(0, 8), "VX40-R1$");
    // Every folder opened is closed again, never above the root.
    int depth = 0;
    for (char c : body_of(block)) {
      depth += c == '[' ? 1 : c == ']' ? -1 : 0;
      ASSERT_GE(depth, 0);
    }
    EXPECT_EQ(depth, 0);
  }
  const std::string full = body_of(upload(p, 'a'));
  const std::string memory = body_of(upload(p, 'm'));
  // The full setup lists communication, printing, cutter, buzzer, memory and information.
  for (const std::string part :
       {"VX40!Communication:[Baud rate:[9600;19200;38400;57600;115200;1|]Parity:[None;Even;Odd;0|]",
        "Handshake:[DTR/DSR;XON/XOFF;0|]Interface test\xF7[Off;Loop-back;0|]]",
        "Print density:[70%;80%;90%;100%;110%;120%;130%;3|]Paper width:[58 mm;80 mm;1|]",
        "Code page:[PC437;Katakana;PC850;PC860;PC863;PC865;WPC1252;PC866;PC852;PC858;ISO 8859-15;WPC1250;0|]",
        "Head energy\xF7[Standard;High;0|]Print speed:[Low;Medium;High;2|]]",
        "Factory\xF7[Burn-in:[Off;On;0|]Test mode:[Off;On;0|]]Cutter:[Cutter errors\xB1" "2\xB9",
        "Buzzer:[Off;On;1|Beep time (ms)\xB1" "C8\xB2]",
        "Memory:[Free bytes=40000\xB2Start-up logo\xB1none\xAAGraphics memory:[64 KB;128 KB;256 KB;2|]",
        "Information:[block release 2\xABSerial number=VP0000001\xAALines printed=0\xB2",
        "Shop name\xB1KORVANE\xAA]"}) {
    EXPECT_NE(full.find(part), std::string::npos) << part;
  }
  // The memory setup is the memory folder alone, under a root of its own.
  EXPECT_EQ(memory.substr(0, memory.find("Memory:")), "VX40-R1$VX40 memory!");
  EXPECT_NE(full.find(memory.substr(memory.find("Memory:"))), std::string::npos);
}

TEST(VprinterSetupBlock, ReadOnlyValuesFollowThePrinter) {
  virtual_printer p;
  talk(p, "one\ntwo\nthree\n" + bytes("1D 56 00"));
  const std::string full = body_of(upload(p, 'a'));
  EXPECT_NE(full.find("Lines printed=3\xB2"), std::string::npos) << full;
  EXPECT_NE(full.find("Cuts=1\xB2"), std::string::npos) << full;
}

TEST(VprinterSetupBlock, HandshakeResendsOnNakAndEndsOnAckOrCan) {
  virtual_printer p;
  const std::string block = talk(p, bytes("1B 7D 20 61"));
  EXPECT_EQ(talk(p, bytes("15")), block);
  EXPECT_EQ(talk(p, bytes("15")), block);
  EXPECT_EQ(talk(p, bytes("06")), "");
  EXPECT_EQ(talk(p, bytes("15")), "");  // the exchange is over: NAK means nothing now
  talk(p, bytes("1B 7D 20 6D"));
  EXPECT_EQ(talk(p, bytes("18")), "");
  EXPECT_EQ(talk(p, bytes("15")), "");
}

TEST(VprinterSetupBlock, ChecksumFaultCorruptsTheGivenNumberOfBlocks) {
  for (const int n : {1, 2}) {
    SCOPED_TRACE(n);
    virtual_printer p;
    p.inject_fault(fault::setup_checksum, n);
    std::vector<std::string> sent = {talk(p, bytes("1B 7D 20 61"))};
    for (int i = 0; i < 2; ++i) sent.push_back(talk(p, bytes("15")));
    talk(p, bytes("06"));
    for (int i = 0; i < 3; ++i) {
      const bool right = sent[i].substr(sent[i].size() - 5, 4) == checksum(body_of(sent[i]));
      EXPECT_EQ(right, i >= n) << "block " << i;
      EXPECT_EQ(body_of(sent[i]), body_of(sent[2]));
    }
    EXPECT_FALSE(p.has_fault(fault::setup_checksum));
  }
}

TEST_F(setup_fixture, UnchangedDownloadIsStoredAndChangesShowInTheNextUpload) {
  ASSERT_EQ(identifier, "VX40-R1");
  EXPECT_TRUE(same_bytes(talk(p, download('a', identifier, items)), bytes("06 06")));
  const std::string before = body_of(upload(p, 'a'));
  // Baud rate 38400 (third option), code page ISO 8859-15 (the eleventh, hex A), cutter errors
  // cleared, beep time 1000 ms, a new shop name.
  std::vector<std::string> changed = items;
  changed[0] = "2";
  changed[7] = "10";
  changed[12] = "0";
  changed[16] = "1000";
  changed[24] = "CORNER SHOP";
  ASSERT_EQ(items.size(), 25u);
  EXPECT_TRUE(same_bytes(talk(p, download('a', identifier, changed)), bytes("06 06")));
  const std::string after = body_of(upload(p, 'a'));
  EXPECT_NE(before, after);
  for (const std::string part : {"115200;2|", "WPC1250;A|", "Cutter errors\xB1" "0\xB9",
                                 "Beep time (ms)\xB1" "3E8\xB2", "Shop name\xB1" "CORNER SHOP\xAA"})
    EXPECT_NE(after.find(part), std::string::npos) << part;
  // A later connection (or power cycle) finds the same setup.
  p.new_host();
  p.power_cycle();
  EXPECT_EQ(body_of(upload(p, 'a')), after);
}

TEST_F(setup_fixture, MemoryDownloadChangesOnlyTheMemorySettings) {
  std::string id;
  std::vector<std::string> memory = unchanged_items(body_of(upload(p, 'm')), &id);
  ASSERT_EQ(memory.size(), 4u);  // free bytes, start-up logo, graphics memory, receive buffer
  memory[1] = "A1";
  memory[2] = "0";
  EXPECT_TRUE(same_bytes(talk(p, download('m', id, memory)), bytes("06 06")));
  EXPECT_NE(body_of(upload(p, 'm')).find("Start-up logo\xB1" "A1\xAAGraphics memory:[64 KB;128 KB;256 KB;0|]"),
            std::string::npos);
  // The full block's other settings are untouched; the full download has more items.
  std::vector<std::string> full = unchanged_items(body_of(upload(p, 'a')), &id);
  for (std::size_t i = 0; i < full.size(); ++i) {
    if (i != 18 && i != 19) {
      EXPECT_EQ(full[i], items[i]) << i;
    }
  }
  EXPECT_TRUE(same_bytes(talk(p, download('m', id, items)), bytes("06 07")));
}

TEST_F(setup_fixture, RefusedDownloadsLeaveTheSetupAsItWas) {
  const std::string before = body_of(upload(p, 'a'));
  auto with = [&](std::size_t i, std::string v) {
    auto changed = items;
    changed[i] = std::move(v);
    return changed;
  };
  auto without_last = items;
  without_last.pop_back();
  struct download_case {
    const char* name;
    std::string command;
    std::string answer;
  };
  const download_case cases[] = {
      {"checksum error", download('a', identifier, with(0, "2"), false), bytes("15")},
      {"another printer's setup", download('a', "VX40-R0", with(0, "2")), bytes("06 15")},
      {"selection beyond its options", download('a', identifier, with(0, "5")), bytes("06 07")},
      {"hidden selection beyond its options", download('a', identifier, with(4, "2")), bytes("06 07")},
      {"one digit above 15", download('a', identifier, with(12, "16")), bytes("06 07")},
      {"number above its limit", download('a', identifier, with(16, "5001")), bytes("06 07")},
      {"number in hexadecimal", download('a', identifier, with(16, "C8")), bytes("06 07")},
      {"empty number", download('a', identifier, with(16, "")), bytes("06 07")},
      {"text longer than 24", download('a', identifier, with(24, std::string(25, 'x'))), bytes("06 07")},
      {"text holding a separator", download('a', identifier, with(24, "A:B")), bytes("06 07")},
      {"an item missing", download('a', identifier, without_last), bytes("06 07")},
      {"checksum field not hexadecimal", download('a', identifier, items).replace(
           download('a', identifier, items).size() - 5, 4, "12G4"), bytes("15")},
      {"no checksum at all", bytes("1B 7D 61 00"), bytes("15")},
  };
  for (const auto& c : cases) EXPECT_TRUE(same_bytes(talk(p, c.command), c.answer)) << c.name;
  EXPECT_EQ(body_of(upload(p, 'a')), before);
}

TEST_F(setup_fixture, DownloadFaultsGiveEachAnswer) {
  const std::string before = body_of(upload(p, 'a'));
  auto changed = items;
  changed[1] = "2";
  struct fault_case {
    fault f;
    std::string answer;
  };
  for (const auto& c : {fault_case{fault::setup_nak, bytes("15")}, fault_case{fault::setup_id_mismatch, bytes("06 15")},
                        fault_case{fault::setup_store_error, bytes("06 07")}}) {
    SCOPED_TRACE(fault_name(c.f));
    p.inject_fault(c.f);
    EXPECT_TRUE(same_bytes(talk(p, download('a', identifier, changed)), c.answer));
    p.clear_fault(c.f);
    EXPECT_EQ(body_of(upload(p, 'a')), before);
  }
  EXPECT_TRUE(same_bytes(talk(p, download('a', identifier, changed)), bytes("06 06")));
}

TEST(VprinterSetupBlock, DelayedSecondAnswerComesWhenItsTimeHasCome) {
  test::manual_clock clock;
  virtual_printer p(test::test_config(clock));
  std::string id;
  const auto items = unchanged_items(body_of(upload(p, 'a')), &id);
  p.inject_fault(fault::setup_store_delay, 3000);
  EXPECT_TRUE(same_bytes(talk(p, download('a', id, items)), bytes("06")));
  clock.advance(2999);
  EXPECT_EQ(p.answer_bytes_pending(), 0u);
  clock.advance(1);
  EXPECT_TRUE(same_bytes(p.read(16).bytes, bytes("06")));
}

TEST_F(setup_fixture, ChosenCodePageIsTheOneThePrinterStartsWith) {
  EXPECT_EQ(p.state().code_page_table, 0);
  auto changed = items;
  changed[7] = "6";  // WPC1252
  ASSERT_TRUE(same_bytes(talk(p, download('a', identifier, changed)), bytes("06 06")));
  EXPECT_EQ(p.state().code_page_table, 16);
  talk(p, bytes("1B 74 02 1B 40"));  // ESC t 2, then ESC @: back to the setup's table
  EXPECT_EQ(p.state().code_page_table, 16);
  p.power_cycle();
  EXPECT_EQ(p.state().code_page_table, 16);
  changed[7] = "0";
  ASSERT_TRUE(same_bytes(talk(p, download('a', identifier, changed)), bytes("06 06")));
  EXPECT_EQ(p.state().code_page_table, 0);
}

TEST(VprinterSetupBlock, VersionAnswersCarryFirmwareAndBootVersions) {
  config second;
  second.protocol_kind = 2;
  second.firmware_version = "2.10";
  second.boot_version = "1.05";
  virtual_printer qw(second);
  virtual_printer first;
  EXPECT_TRUE(same_bytes(talk(first, bytes("1D 49 41")), std::string("_1.00$0.90$") + '\0'));
  EXPECT_TRUE(same_bytes(talk(qw, bytes("1B 3F 32")), bytes("3F 0C 32") + "_2.10$1.05$" + '\0'));
}

}  // namespace
}  // namespace vprinter
