// The virtual printer through its public interface: status answers under every fault, the link
// faults, the hold while off line, identity, drawer, automatic status, memories,
// capture, and robustness against any input.
#include "vprinter/virtual_printer.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <random>

#include "platform/testing/temp_dir.h"
#include "test_util.h"

namespace vprinter {
namespace {

using test::bytes;
using test::talk;
using test::same_bytes;

// Sends `data` the way a transport would: repeats until everything is taken (bounded).
std::string send(virtual_printer& p, std::string_view data, link_status* status = nullptr) {
  link_status last = link_status::ok;
  for (int tries = 0; !data.empty() && tries < 1000; ++tries) {
    auto r = p.accept(data);
    last = r.status;
    if (r.status != link_status::ok) break;
    data.remove_prefix(r.accepted);
  }
  if (status) *status = last;
  return p.read(1u << 20).bytes;
}

struct fault_case {
  const char* name;
  std::optional<fault> f;
  int value;
  // Answers to DLE EOT 1, 2, 3, 4, GS r 1, GS r 2 and GS I 1, each sent on its own.
  const char* answers[7];
};

TEST(VprinterDeviceStatus, AnswersUnderEachFault) {
  // Off line, GS r and GS I wait in the buffer unanswered; real-time requests are answered.
  const fault_case cases[] = {
      {"no fault", std::nullopt, 0, {"16", "12", "12", "12", "00", "01", "20"}},
      {"cover open", fault::cover_open, 0, {"1E", "16", "12", "12", "", "", ""}},
      {"paper near end", fault::paper_near_end, 0, {"16", "12", "12", "1E", "03", "01", "20"}},
      {"paper out", fault::paper_out, 0, {"1E", "32", "12", "7E", "", "", ""}},
      {"off line", fault::offline, 0, {"1E", "12", "12", "12", "", "", ""}},
      {"cutter error", fault::cutter_error, 0, {"1E", "52", "1A", "12", "", "", ""}},
      {"unrecoverable error", fault::unrecoverable_error, 0, {"1E", "52", "32", "12", "", "", ""}},
      {"mute", fault::mute, 0, {"", "", "", "", "", "", ""}},
      {"busy: only real-time requests get in", fault::busy, 0, {"16", "12", "12", "12", "", "", ""}},
      {"slow", fault::slow, 500, {"16", "12", "12", "12", "00", "01", "20"}},
      {"short writes of one byte", fault::short_write, 1, {"16", "12", "12", "12", "00", "01", "20"}},
      {"disconnect", fault::disconnect, 0, {"", "", "", "", "", "", ""}},
  };
  const char* requests[7] = {"10 04 01", "10 04 02", "10 04 03", "10 04 04", "1D 72 01", "1D 72 02", "1D 49 01"};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    virtual_printer p;
    if (c.f) p.inject_fault(*c.f, c.value);
    for (int i = 0; i < 7; ++i) EXPECT_TRUE(same_bytes(send(p, bytes(requests[i])), bytes(c.answers[i]))) << requests[i];
  }
}

TEST(VprinterDeviceStatus, HeldRequestsAreAnsweredAndDataPrintedAfterRecovery) {
  virtual_printer p;
  p.inject_fault(fault::cover_open);
  EXPECT_TRUE(same_bytes(talk(p, "Hello\n" + bytes("1D 72 31 10 04 02")), bytes("16")));
  EXPECT_EQ(p.paper().count(), 0);
  p.clear_fault(fault::cover_open);
  EXPECT_TRUE(same_bytes(p.read(100).bytes, bytes("00")));
  EXPECT_GT(p.paper().count(), 0);
}

TEST(VprinterDeviceStatus, RealTimeRequestInsideAPartialCommandIsAnsweredAtOnce) {
  virtual_printer p;
  // The raster command waits for its data; a pure status write is answered meanwhile.
  EXPECT_EQ(talk(p, bytes("1D 76 30 00 01 00 02 00")), "");
  EXPECT_TRUE(same_bytes(talk(p, bytes("10 04 01")), bytes("16")));
  EXPECT_EQ(talk(p, bytes("FF FF")), "");
  EXPECT_EQ(p.paper().count(), 16);
}

TEST(VprinterDeviceStatus, DleEnqRecoversARecoverableError) {
  struct enq_case {
    const char* name;
    const char* request;
    bool printed;  // whether the data held before recovery is printed
  };
  const enq_case cases[] = {
      {"DLE ENQ 1 restarts with the held data", "10 05 01", true},
      {"DLE ENQ 2 clears the buffers first", "10 05 02", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    virtual_printer p;
    p.inject_fault(fault::cutter_error);
    talk(p, "lost or kept\n");
    EXPECT_TRUE(same_bytes(talk(p, bytes(c.request) + bytes("10 04 01")), bytes("16")));
    EXPECT_FALSE(p.has_fault(fault::cutter_error));
    EXPECT_EQ(p.paper().count() > 0, c.printed);
  }
  // Without an error the request changes nothing and is only noted.
  virtual_printer p;
  talk(p, bytes("10 05 02") + "text\n");
  EXPECT_GT(p.paper().count(), 0);
}

TEST(VprinterDeviceLink, FaultsShapeWhatIsAccepted) {
  virtual_printer p;
  p.inject_fault(fault::busy);
  auto r = p.accept("Hello");
  EXPECT_EQ(r.accepted, 0u);
  EXPECT_EQ(r.status, link_status::busy);
  p.clear_fault(fault::busy);

  p.inject_fault(fault::short_write, 3);
  r = p.accept("ABCDEFG");
  EXPECT_EQ(r.accepted, 3u);
  EXPECT_EQ(r.status, link_status::ok);
  p.clear_fault(fault::short_write);

  p.inject_fault(fault::slow, 100);
  r = p.accept(std::string(50, 'x'));
  EXPECT_EQ(r.accepted, 50u);
  EXPECT_EQ(r.delay, std::chrono::microseconds(5000));
  p.clear_fault(fault::slow);
  EXPECT_EQ(p.accept("x").delay.count(), 0);

  p.inject_fault(fault::disconnect);
  EXPECT_EQ(p.accept("x").status, link_status::down);
  EXPECT_EQ(p.read(1).status, link_status::down);
  p.clear_fault(fault::disconnect);
  EXPECT_EQ(p.accept(bytes("1D 49 01")).status, link_status::ok);
  EXPECT_TRUE(same_bytes(p.read(10).bytes, bytes("20")));
  EXPECT_EQ(p.capture(), "ABC" + std::string(50, 'x') + "x" + bytes("1D 49 01"));
}

TEST(VprinterDeviceLink, ReadTakesAtMostWhatIsAsked) {
  virtual_printer p;
  p.accept(bytes("10 04 01 10 04 02 10 04 04"));
  EXPECT_EQ(p.answer_bytes_pending(), 3u);
  EXPECT_TRUE(same_bytes(p.read(2).bytes, bytes("16 12")));
  EXPECT_TRUE(same_bytes(p.read(2).bytes, bytes("12")));
  EXPECT_EQ(p.read(2).bytes, "");
}

TEST(VprinterDeviceStatus, ErrorsThatRecoveryDoesNotClear) {
  // A recoverable error may withstand a number of recovery requests; an unrecoverable one
  // withstands them all. DLE EOT 1 is 1E while off line, 16 once on line again.
  struct persist_case {
    const char* name;
    fault f;
    int failed_recoveries;
    const char* after_each[3];  // DLE EOT 1 after DLE ENQ 1, DLE ENQ 2, DLE ENQ 1
  };
  const persist_case cases[] = {
      {"recoverable, first request clears it", fault::cutter_error, 0, {"16", "16", "16"}},
      {"recoverable, withstands two requests", fault::cutter_error, 2, {"1E", "1E", "16"}},
      {"unrecoverable", fault::unrecoverable_error, 0, {"1E", "1E", "1E"}},
  };
  const char* requests[3] = {"10 05 01", "10 05 02", "10 05 01"};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    virtual_printer p;
    p.inject_fault(c.f, c.failed_recoveries);
    for (int i = 0; i < 3; ++i)
      EXPECT_TRUE(same_bytes(talk(p, bytes(requests[i]) + bytes("10 04 01")), bytes(c.after_each[i]))) << i;
  }
}

TEST(VprinterDeviceIdentity, GsIAnswersOnlyOnceEverythingBeforeItIsProcessed) {
  // GS I 1 behind print data held by an error: no answer until the data has been processed,
  // and none at all when recovery drops the buffer with it.
  struct echo_case {
    const char* name;
    const char* recovery;
    const char* answer;
    bool printed;
  };
  const echo_case cases[] = {
      {"DLE ENQ 1 processes the data, then answers", "10 05 01", "20", true},
      {"DLE ENQ 2 drops the data and the request", "10 05 02", "", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    virtual_printer p;
    p.inject_fault(fault::cutter_error);
    EXPECT_EQ(talk(p, "a line\n" + bytes("1D 49 01")), "");
    EXPECT_TRUE(same_bytes(talk(p, bytes(c.recovery)), bytes(c.answer)));
    EXPECT_EQ(p.paper().count() > 0, c.printed);
  }
}

TEST(VprinterDeviceIdentity, SecondProtocolKindAnswersEscQuestion) {
  config qw;
  qw.protocol_kind = 2;
  qw.model_name = "QW-310";
  qw.firmware_version = "2.10";
  virtual_printer second(qw);
  virtual_printer first;  // the first kind takes ESC ? n as the cancel of a user character
  struct question_case {
    virtual_printer* p;
    const char* request;
    std::string answer;
  };
  const question_case cases[] = {
      {&second, "1B 3F 30", bytes("3F 07 30") + "QW-310" + '\0'},
      {&second, "1B 3F 32", bytes("3F 0C 32") + "_2.10$0.90$" + '\0'},
      {&second, "1B 3F 31", ""},
      {&first, "1B 3F 30", ""},
  };
  for (const auto& c : cases) EXPECT_TRUE(same_bytes(talk(*c.p, bytes(c.request)), c.answer)) << c.request;
  EXPECT_EQ(second.unknown_count(), 0u);
}

TEST(VprinterDeviceFaults, NamesRoundTrip) {
  for (auto f : {fault::cover_open, fault::paper_near_end, fault::paper_out, fault::offline, fault::cutter_error,
                 fault::mute, fault::busy, fault::slow, fault::short_write, fault::disconnect,
                 fault::unrecoverable_error, fault::setup_checksum, fault::setup_nak, fault::setup_id_mismatch,
                 fault::setup_store_error, fault::setup_store_delay})
    EXPECT_EQ(fault_from_name(fault_name(f)), f);
  EXPECT_FALSE(fault_from_name("jammed"));
}

TEST(VprinterDeviceIdentity, AnswersIdentificationRequests) {
  config c;
  c.model_id = 0x2E;
  virtual_printer p(c);
  struct id_case {
    const char* request;
    std::string answer;
  };
  const id_case cases[] = {
      {"1D 49 01", bytes("2E")},
      {"1D 49 31", bytes("2E")},
      {"1D 49 02", bytes("02")},
      {"1D 49 03", bytes("10")},
      {"1D 49 41", std::string("_1.00$0.90$") + '\0'},
      {"1D 49 42", std::string("_KORVANE") + '\0'},
      {"1D 49 43", std::string("_VX40") + '\0'},
      {"1D 49 63", ""},
  };
  for (const auto& ic : cases) EXPECT_TRUE(same_bytes(talk(p, bytes(ic.request)), ic.answer)) << ic.request;
}

TEST(VprinterDeviceIdentity, ClaimSequenceOfTheKitIsUnderstoodAndAnswered) {
  virtual_printer p;
  EXPECT_TRUE(same_bytes(talk(p, bytes("1B 3D 01 1D 61 00 1B 40 1B 40 1D 49 31")), bytes("20")));
  EXPECT_EQ(talk(p, bytes("1D 61 00 1B 63 33 00 1B 74 10 1B 4D 00")), "");
  EXPECT_EQ(p.unknown_count(), 0u);
  EXPECT_EQ(p.state().code_page_table, 16);
  EXPECT_EQ(p.state().font, 0);
}

TEST(VprinterDeviceIdentity, KitTextSequencesLeaveNoUnknownCommand) {
  virtual_printer p;
  // Bold, text, the "normal" reset with its trailing NUL, a feed-and-cut with its DC3 prefix.
  talk(p, bytes("1B 47 01") + "Hello " + bytes("1B 61 30 1B 47 00 1D 42 00 1D 21 00 00 0A") +
                  bytes("13 1D 56 42 1E"));
  EXPECT_EQ(p.unknown_count(), 0u);
  EXPECT_EQ(p.state().cuts, 1);
  int ignored = 0;
  for (const auto& e : p.log()) ignored += e.what == log_entry::kind::ignored;
  EXPECT_EQ(ignored, 2);  // the NUL and the DC3
}

TEST(VprinterDeviceDrawer, KickOpensAndTheDrawerClosesLater) {
  test::manual_clock clock;
  config c = test::test_config(clock);
  c.drawer_close_after_ms = 500;
  virtual_printer p(c);
  EXPECT_TRUE(same_bytes(talk(p, bytes("1B 70 00 64 64 1D 72 02 10 04 01")), bytes("00 12")));
  EXPECT_TRUE(p.drawer_open());
  ASSERT_EQ(p.drawer_pulses().size(), 1u);
  EXPECT_EQ(p.drawer_pulses()[0].pin, 2);
  EXPECT_EQ(p.drawer_pulses()[0].on_ms, 200);
  EXPECT_EQ(p.drawer_pulses()[0].off_ms, 200);
  clock.advance(499);
  EXPECT_TRUE(p.drawer_open());
  clock.advance(1);
  EXPECT_FALSE(p.drawer_open());
  EXPECT_TRUE(same_bytes(talk(p, bytes("1D 72 02")), bytes("01")));
}

TEST(VprinterDeviceDrawer, PulsesOnOtherPinsAreRecordedOnly) {
  test::manual_clock clock;
  virtual_printer p(test::test_config(clock));
  talk(p, bytes("1B 70 31 32 10"));  // pin 5; the off time is raised to the on time
  EXPECT_FALSE(p.drawer_open());
  ASSERT_EQ(p.drawer_pulses().size(), 1u);
  EXPECT_EQ(p.drawer_pulses()[0].pin, 5);
  EXPECT_EQ(p.drawer_pulses()[0].off_ms, 100);
  talk(p, bytes("10 14 01 00 03"));  // real-time pulse on pin 2, 300 ms
  EXPECT_TRUE(p.drawer_open());
  EXPECT_EQ(p.drawer_pulses()[1].on_ms, 300);
  p.close_drawer();  // no automatic closing configured: only by hand
  EXPECT_FALSE(p.drawer_open());
}

TEST(VprinterDeviceAsb, SendsStatusWhenEnabledAndOnEveryChange) {
  virtual_printer p;
  EXPECT_TRUE(same_bytes(talk(p, bytes("1D 61 FF")), bytes("14 00 00 00")));
  p.inject_fault(fault::cover_open);
  EXPECT_TRUE(same_bytes(p.read(10).bytes, bytes("3C 00 00 00")));
  p.inject_fault(fault::cover_open);  // no change, nothing sent
  EXPECT_EQ(p.read(10).bytes, "");
  p.clear_fault(fault::cover_open);
  EXPECT_TRUE(same_bytes(p.read(10).bytes, bytes("14 00 00 00")));
  talk(p, bytes("1D 61 00"));
  p.inject_fault(fault::paper_near_end);
  EXPECT_EQ(p.read(10).bytes, "");
}

TEST(VprinterDeviceMemory, StoredImagesAndGraphicsMemory) {
  virtual_printer p;
  // FS q: two images of 8 x 8 dots, then FS p prints the second one.
  talk(p, bytes("1C 71 02 01 00 01 00") + std::string(8, '\xFF') + bytes("01 00 01 00") + std::string(8, '\x80'));
  EXPECT_EQ(p.state().stored_images, 2);
  talk(p, bytes("1C 70 02 00"));
  EXPECT_EQ(p.paper().count(), 8);  // the top row of the second image
  talk(p, bytes("1C 70 03 00"));
  EXPECT_EQ(p.paper().count(), 8);
  talk(p, bytes("1C 71 01 00 00 00 00"));  // the kit's "clear" defines one empty image
  EXPECT_EQ(p.state().stored_images, 0);

  const auto total = talk(p, bytes("1D 28 4C 02 00 30 00"));
  EXPECT_EQ(total, std::string("\x37\x30") + "262144" + '\0');
  // GS 8 L function 67: key "A1", one plane of 16 x 2 dots.
  talk(p, bytes("1D 38 4C 0F 00 00 00 30 43 30 41 31 01 10 00 02 00 31 FF 00 00 FF"));
  EXPECT_EQ(p.state().graphics_keys, std::vector<std::string>{"A1"});
  EXPECT_EQ(talk(p, bytes("1D 28 4C 04 00 30 40 4B 43")), bytes("37 72 40") + "A1" + '\0');
  EXPECT_EQ(talk(p, bytes("1D 28 4C 02 00 30 03")), std::string("\x37\x33") + "262140" + '\0');
  const int before = p.paper().count();
  talk(p, bytes("1D 28 4C 06 00 30 45 41 31 01 01"));
  EXPECT_EQ(p.paper().count() - before, 16);
  talk(p, bytes("1D 28 4C 04 00 30 42 41 31"));
  EXPECT_TRUE(p.state().graphics_keys.empty());
}

TEST(VprinterDeviceCapture, FileAndMemoryHoldEveryAcceptedByte) {
  platform::testing::temp_dir dir;
  config c;
  c.capture_file = dir / "capture.bin";
  virtual_printer p(c);
  p.inject_fault(fault::short_write, 4);
  std::string all;
  for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
  std::string_view rest = all;
  while (!rest.empty()) rest.remove_prefix(p.accept(rest).accepted);
  std::ifstream in(c.capture_file, std::ios::binary);
  const std::string file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_TRUE(same_bytes(file, all));
  EXPECT_TRUE(same_bytes(p.capture(), all));
}

TEST(VprinterDeviceCapture, KeptOnlyWhenAsked) {
  config c;
  c.keep_capture = false;
  virtual_printer p(c);
  EXPECT_TRUE(same_bytes(talk(p, bytes("10 04 01") + "text\n"), bytes("16")));
  EXPECT_TRUE(p.capture().empty());
}

TEST(VprinterDeviceRobustness, HostileSizesAndFloodsStayWithinBounds) {
  // An image header that claims far more than the command carries is skipped and logged; the
  // printer goes on with the next bytes.
  {
    virtual_printer p;
    talk(p, bytes("1D 28 4C 0A 00 30 70 30 01 01 31 FF FF FF FF"));
    talk(p, bytes("1D 28 4C 0E 00 30 70 30 01 01 31 00 10 02 00 FF FF FF FF"));  // 4096 dots wide
    const std::vector<log_entry> log = p.log();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_NE(log[0].text.find("impossible image 65535 x 65535 for 0 data bytes"), std::string::npos) << log[0].text;
    EXPECT_NE(log[1].text.find("impossible image 4096 x 2"), std::string::npos) << log[1].text;
    EXPECT_TRUE(same_bytes(talk(p, bytes("1D 49 01")), bytes("20")));
    EXPECT_EQ(p.state().skipped_commands, 2);
  }
  // Feeds beyond the paper limit drop the oldest paper: 3000 feeds of 255 dots keep at most the
  // limit and a quarter more, eight dots a byte.
  {
    config c;
    c.paper_limit_dots = 20000;
    virtual_printer p(c);
    std::string feeds;
    for (int i = 0; i < 3000; ++i) feeds += bytes("1B 4A FF");
    talk(p, feeds + "last line\n");
    EXPECT_LE(p.paper().height(), 25000);
    EXPECT_LE(p.paper().dots().size(), 25000u * 72);
    EXPECT_GT(p.paper().count(), 0) << "the last line is still on the paper";
  }
  // Data held while off line is bounded: past the limit the printer is busy, and still answers
  // real-time requests.
  {
    config c;
    c.held_limit_bytes = 1000;
    virtual_printer p(c);
    p.inject_fault(fault::offline);
    EXPECT_EQ(p.accept(std::string(600, 'a')).accepted, 600u);
    EXPECT_EQ(p.accept(std::string(600, 'b')).accepted, 600u);
    const accept_result full = p.accept("c");
    EXPECT_EQ(full.status, link_status::busy);
    EXPECT_EQ(full.accepted, 0u);
    EXPECT_TRUE(same_bytes(send(p, bytes("10 04 01")), bytes("1E")));  // off line, but answering
  }
  // Answers nobody reads are bounded as well.
  {
    virtual_printer p;
    std::string requests;
    for (int k = 0; k < 100; ++k) requests += bytes("10 04 01");
    for (int i = 0; i < 2000; ++i) p.accept(requests);  // 200000 answers asked for
    EXPECT_LE(p.answer_bytes_pending(), 64u << 10);
  }
}

TEST(VprinterDeviceRobustness, ANewHostDropsTheLastHostsUnfinishedCommand) {
  virtual_printer p;
  talk(p, bytes("1D 76 30 00 FF FF FF FF") + "partial data");
  p.new_host();
  EXPECT_TRUE(same_bytes(talk(p, bytes("1D 49 01")), bytes("20")));
  const std::vector<log_entry> log = p.log();
  ASSERT_FALSE(log.empty());
  EXPECT_NE(log.back().text.find("unfinished command was dropped"), std::string::npos);
}

TEST(VprinterDeviceRobustness, SplitWritesGiveTheSameResultAsOneWrite) {
  const std::string receipt = bytes("1B 40 1B 61 01 1D 21 11") + "TITLE\n" + bytes("1D 21 00 1B 61 00 1B 45 01") +
                              "Bold line\n" + bytes("1B 45 00 1D 76 30 00 02 00 03 00 F0 0F AA 55 FF 00") +
                              bytes("1D 48 02 1D 6B 43 0C") + "400638133393" + bytes("10 04 01 1D 49 01") +
                              bytes("1B 4C 1B 54 01") + "page\n" + bytes("0C 1B 64 02 1D 56 42 00");
  virtual_printer whole;
  const std::string answers_whole = talk(whole, receipt);
  virtual_printer split;
  std::string answers_split;
  for (char ch : receipt) answers_split += talk(split, std::string_view(&ch, 1));
  EXPECT_TRUE(same_bytes(answers_split, answers_whole));
  EXPECT_TRUE(same_bytes(answers_whole, bytes("16 20")));
  EXPECT_EQ(split.paper().dots(), whole.paper().dots());
  EXPECT_EQ(split.paper().height(), whole.paper().height());
  EXPECT_EQ(whole.unknown_count(), 0u);
}

TEST(VprinterDeviceRobustness, RandomBytesNeverBreakThePrinter) {
  std::mt19937 rng(20261209);
  for (int round = 0; round < 4; ++round) {
    virtual_printer p;
    std::string noise(50000, '\0');
    for (auto& ch : noise) ch = static_cast<char>(rng() & 0xFF);
    for (std::size_t at = 0; at < noise.size(); at += 997) p.accept(std::string_view(noise).substr(at, 997));
    p.read(1u << 20);
    EXPECT_GT(p.unknown_count() + p.log().size(), 0u);
    // After switching off and on, the printer prints normally again.
    p.power_cycle();
    p.clear_faults();
    const int before = p.paper().count();
    talk(p, bytes("1B 3D 01 1B 40") + "still printing\n");
    EXPECT_GT(p.paper().count(), before);
  }
}

}  // namespace
}  // namespace vprinter
