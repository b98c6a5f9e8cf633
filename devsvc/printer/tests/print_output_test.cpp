// The print data path checked byte for byte against what the virtual printer received, and the
// output queue drained back to back by the worker.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/opos.h"
#include "platform/registry.h"
#include "printer/tests/printer_fixture.h"
#include "testing/harness.h"

namespace devsvc {
namespace {

using testing::call_log;
using test::kStatusPoll;
using test::printer_object;
using test::run_tick;
using test::same_bytes;

class PrintOutputTest : public test::printer_fixture {
 protected:
  // Sets the per-user value PrePrintBitmap n.
  static void set_pre_print(int n, const std::vector<std::uint8_t>& bytes) {
    platform::registry_key key;
    ASSERT_EQ(platform::registry_key::create(platform::registry_root::current_user,
                                             "Software\\KorvaneOPOS\\VX40Device", key),
              platform::kErrorSuccess);
    ASSERT_EQ(key.set_binary("PrePrintBitmap" + std::to_string(n), bytes), platform::kErrorSuccess);
  }
};

std::string out_event(std::int32_t id) { return "SOOutputComplete " + std::to_string(id); }

// Dispatches this thread's messages, but drops every tick of the poll timer, until `done` holds;
// so only the worker's own prompt ticks can send anything. False after 10 s.
bool drain_without_timer_ticks(const std::function<bool()>& done) {
  return test::run_until([&] {
    platform::message msg;
    if (platform::peek_message(msg, false) && msg.id == kPollTickMessage) platform::peek_message(msg, true);
    return done();
  });
}

// ---------------------------------------------------------------------------------------------
// Synchronous printing

TEST_F(PrintOutputTest, PrintNormalSendsTheTranslatedBytesThenPollsTheStatus) {
  struct Case {
    const char* what;
    std::string data;
    std::string sent;  // before the status poll
  };
  const Case cases[] = {
      {"bold, then normal with scale codes 0", "\x1B|bCHello \x1B|N",
       std::string("\x1B\x47\x01Hello \x1B\x61\x30\x1B\x47\x00\x1D\x42\x00\x1D\x21\x00\x00"
                   "\x1B\x2D\x30\x1B\x4D\x30", 28)},
      {"character sizes", "\x1B|3C\x1B|2C", std::string("\x1D\x21\x01\x1D\x21\x10", 6)},
      {"unsupported sequence removed", "a\x1B|iCb", "ab"},
      {"NUL placeholder", "A<NID>B", std::string("A\0B", 3)},
      // 12 lines of 30 dots are 360 motion units; two ESC J commands take one line spacing each.
      {"feed of 300 motion units in lines", "\x1B|12lF", "\x1B\x4A\xFF\x1B\x4A\x2D"},
      {"feed of 300 motion units in dots", "\x1B|360uF", "\x1B\x4A\xFF\x1B\x4A\x2D"},
      {"feed and cut after one line", "\x1B|fP", "\x13\x1D\x56\x42\x1E"},
      {"stored bitmap 1 with its pre-print command", "\x1B|1B", std::string("\x1B\x61\x01\x1C\x70\x01\x00", 7)},
      {"stored bitmap 2 never set: nothing", "x\x1B|2By", "xy"},
      {"empty text: only the status poll", "", ""},
  };
  set_pre_print(1, {0x1B, 0x61, 0x01});
  printer_object p;
  p.open_claim_enable();
  for (const Case& c : cases) {
    const std::size_t before = printer_->capture().size();
    EXPECT_EQ(p.call("PrintNormal", PTR_S_RECEIPT, c.data), OPOS_SUCCESS) << c.what;
    EXPECT_TRUE(same_bytes(printer_->capture().substr(before), c.sent + kStatusPoll)) << c.what;
  }
  EXPECT_EQ(p.number(PIDX_State), OPOS_S_IDLE);
}

// A feed sequence prints the pending line even when nothing is left to feed after the line
// spacing correction: ESC J 0. Otherwise the line runs into the next one ("TotalNext").
TEST_F(PrintOutputTest, FeedOfNothingStillPrintsThePendingLine) {
  struct Case {
    const char* what;
    std::string line;  // printed before "Next\n"
    std::string sent;  // its bytes before the status poll
  };
  const Case cases[] = {
      {"one line: one line spacing less is 0", "Total\x1B|1lF", std::string("Total\x1B\x4A\x00", 8)},
      {"no number: 0 lines", "Total\x1B|lF", std::string("Total\x1B\x4A\x00", 8)},
      {"units of exactly one line spacing", "Total\x1B|30uF", std::string("Total\x1B\x4A\x00", 8)},
      {"two lines feed one more", "Total\x1B|2lF", "Total\x1B\x4A\x1E"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    use_printer("");
    printer_object p;
    p.open_claim_enable();
    ASSERT_EQ(p.call("PrintNormal", PTR_S_RECEIPT, c.line), OPOS_SUCCESS);
    ASSERT_EQ(p.call("PrintNormal", PTR_S_RECEIPT, "Next\n"), OPOS_SUCCESS);
    EXPECT_TRUE(same_bytes(after_claim(), c.sent + kStatusPoll + "Next\n" + kStatusPoll));
    EXPECT_EQ(printer_->state().lines_printed, 2) << "Total and Next on lines of their own";
  }
}

// ESC|N leaves the printer in normal print whatever the sequences before it switched on, as the
// printer's own modes show afterwards.
TEST_F(PrintOutputTest, NormalRestoresEveryAttributeOnThePrinter) {
  struct Case {
    const char* what;
    std::string on;  // sequences that switch an attribute on
  };
  const Case cases[] = {
      {"underline", "\x1B|2uC"},
      {"bold", "\x1B|bC"},
      {"reverse video", "\x1B|rvC"},
      {"typeface", "\x1B|2fT"},
      {"size", "\x1B|4C"},
      {"scales", "\x1B|2hC\x1B|3vC"},
      {"alignment", "\x1B|rA"},
      {"all of them", "\x1B|1uC\x1B|bC\x1B|rvC\x1B|2fT\x1B|3hC\x1B|2vC\x1B|cA"},
  };
  printer_object p;
  p.open_claim_enable();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_EQ(p.call("PrintNormal", PTR_S_RECEIPT, c.on + "x"), OPOS_SUCCESS);
    ASSERT_EQ(p.call("PrintNormal", PTR_S_RECEIPT, "\x1B|Ny\n"), OPOS_SUCCESS);
    const vprinter::printer_state state = printer_->state();
    EXPECT_EQ(state.underline, 0);
    EXPECT_FALSE(state.bold);
    EXPECT_FALSE(state.reverse);
    EXPECT_EQ(state.font, 0) << "font A, the device key's font 1";
    EXPECT_EQ(state.width_scale, 1);
    EXPECT_EQ(state.height_scale, 1);
    EXPECT_EQ(state.alignment, 0);
  }
}

// "\e|2hC\e|3vCz": double width and triple height together, so the printer takes both.
TEST_F(PrintOutputTest, ScalesInOneLineAddUp) {
  printer_object p;
  p.open_claim_enable();
  ASSERT_EQ(p.call("PrintNormal", PTR_S_RECEIPT, "\x1B|2hC\x1B|3vCz"), OPOS_SUCCESS);
  EXPECT_TRUE(same_bytes(after_claim(), "\x1D\x21\x10\x1D\x21\x12z" + kStatusPoll));
  EXPECT_EQ(printer_->state().width_scale, 2);
  EXPECT_EQ(printer_->state().height_scale, 3);
}

TEST_F(PrintOutputTest, PrintNormalRefusesWithoutSending) {
  struct Case {
    const char* what;
    std::int32_t station;
    std::string data;
    std::int32_t result;
  };
  const Case cases[] = {
      {"journal station", 1, "text", OPOS_E_ILLEGAL},
      {"sequence without template", PTR_S_RECEIPT, "a\x1B|xYb", OPOS_E_FAILURE},
      {"bitmap number out of range", PTR_S_RECEIPT, "\x1B|5B", OPOS_E_FAILURE},
      {"character size out of range", PTR_S_RECEIPT, "\x1B|5C", OPOS_E_FAILURE},
      {"feed beyond the paper's reach", PTR_S_RECEIPT, "Total\x1B|2147483647lF", OPOS_E_ILLEGAL},
  };
  printer_object p;
  ASSERT_EQ(p.open(), OPOS_SUCCESS);
  ASSERT_EQ(p.call("Claim", 1000), OPOS_SUCCESS);
  EXPECT_EQ(p.call("PrintNormal", PTR_S_RECEIPT, "text"), OPOS_E_DISABLED);
  p.set(PIDX_DeviceEnabled, 1);
  for (const Case& c : cases) {
    EXPECT_EQ(p.call("PrintNormal", c.station, c.data), c.result) << c.what;
    EXPECT_EQ(p.result_code(), c.result) << c.what;
  }
  EXPECT_TRUE(after_claim().empty()) << testing::hex(after_claim());
}

TEST_F(PrintOutputTest, BinaryConversionIsDecodedBeforeTranslation) {
  struct Case {
    std::int32_t conversion;
    std::string data;
    std::int32_t result;
    std::string sent;  // before the status poll; nothing at all when the call fails
  };
  const Case cases[] = {
      {1, "4142", OPOS_SUCCESS, "AB"},
      {1, "414", OPOS_E_FAILURE, ""},
      {1, "1;7<6243", OPOS_SUCCESS, "\x1B\x47\x01"},  // ESC|bC written in nibbles is still bold
      {1, "0=0:", OPOS_SUCCESS, "\x0D\x0A"},          // nibbles above 9 are ':' to '?'
      {2, "065066", OPOS_SUCCESS, "AB"},
      {2, "06506", OPOS_E_FAILURE, ""},
      {2, "233", OPOS_SUCCESS, "\xE9"},  // a byte above 0x7F goes out unchanged
  };
  printer_object p;
  p.open_claim_enable();
  for (const Case& c : cases) {
    p.set(PIDX_BinaryConversion, c.conversion);
    const std::size_t before = printer_->capture().size();
    EXPECT_EQ(p.call("PrintNormal", PTR_S_RECEIPT, c.data), c.result) << c.data;
    const std::string want = c.result == OPOS_SUCCESS ? c.sent + kStatusPoll : "";
    EXPECT_TRUE(same_bytes(printer_->capture().substr(before), want)) << c.data;
  }
}

TEST_F(PrintOutputTest, TextGoesOutInTheCharacterSetsCodePage) {
  struct Case {
    std::int32_t character_set;
    std::string text;  // UTF-8
    std::string sent;
  };
  const Case cases[] = {
      {1252, "Caf\xC3\xA9 \xE2\x82\xAC", "Caf\xE9 \x80"},
      {866, "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82", "\x8F\xE0\xA8\xA2\xA5\xE2"},  // Привет
      {866, "\xE2\x82\xAC", "?"},  // no euro sign in 866
      {437, "Caf\xC3\xA9", "Caf\x82"},
  };
  printer_object p;
  p.open_claim_enable();
  for (const Case& c : cases) {
    p.set(PIDXPtr_CharacterSet, c.character_set);
    ASSERT_EQ(p.result_code(), OPOS_SUCCESS) << c.character_set;
    const std::size_t before = printer_->capture().size();
    EXPECT_EQ(p.call("PrintNormal", PTR_S_RECEIPT, c.text), OPOS_SUCCESS);
    EXPECT_TRUE(same_bytes(printer_->capture().substr(before), c.sent + kStatusPoll)) << c.character_set;
  }
  EXPECT_EQ(printer_->state().code_page_table, 0) << "the printer was switched to 437 last";
}

TEST_F(PrintOutputTest, PrintImmediatePrefixesRecoveryAndSkipsEmptyText) {
  printer_object p;
  p.open_claim_enable();
  EXPECT_EQ(p.call("PrintImmediate", PTR_S_RECEIPT, "Now\x1B|bC"), OPOS_SUCCESS);
  EXPECT_TRUE(same_bytes(after_claim(), std::string("\x10\x05\x02Now\x1B\x47\x01", 9) + kStatusPoll));
  const std::size_t before = printer_->capture().size();
  EXPECT_EQ(p.call("PrintImmediate", PTR_S_RECEIPT, "\x1B|iC"), OPOS_SUCCESS) << "nothing left to print";
  EXPECT_EQ(p.call("PrintImmediate", 1, "x"), OPOS_E_ILLEGAL);
  EXPECT_EQ(p.call("PrintImmediate", PTR_S_RECEIPT, "\x1B|xY"), OPOS_E_FAILURE);
  EXPECT_EQ(printer_->capture().size(), before);
}

TEST_F(PrintOutputTest, PrintImmediateDoesNotWaitBehindTheQueue) {
  printer_object p;
  p.open_claim_enable();
  p.set(PIDXPtr_AsyncMode, 1);
  ASSERT_EQ(p.call("PrintNormal", PTR_S_RECEIPT, "queued"), OPOS_SUCCESS);
  EXPECT_EQ(p.call("PrintImmediate", PTR_S_RECEIPT, "now"), OPOS_SUCCESS);
  EXPECT_TRUE(same_bytes(after_claim(), "\x10\x05\x02now" + kStatusPoll));
  ASSERT_TRUE(run_tick());
  EXPECT_TRUE(same_bytes(after_claim(), "\x10\x05\x02now" + kStatusPoll + "queued" + kStatusPoll));
}

TEST_F(PrintOutputTest, CutPaperFeedsAndCuts) {
  printer_object p;
  p.open_claim_enable();
  EXPECT_EQ(p.call("CutPaper", 0), OPOS_E_ILLEGAL);
  EXPECT_TRUE(after_claim().empty());
  EXPECT_EQ(p.call("CutPaper", 50), OPOS_SUCCESS);
  EXPECT_TRUE(same_bytes(after_claim(), "\x1D\x56\x42\x0F" + kStatusPoll));
  EXPECT_EQ(printer_->state().cuts, 1);
}

TEST_F(PrintOutputTest, ValidateDataChecksWithoutSending) {
  struct Case {
    std::int32_t conversion;
    std::int32_t station;
    std::string data;
    std::int32_t result;
    bool stored;  // in ResultCode
  };
  const Case cases[] = {
      {0, PTR_S_RECEIPT, "\x1B|bCok\x1B|iC\x1B|N", OPOS_SUCCESS, true},
      {0, PTR_S_RECEIPT, "\x1B|xY", OPOS_E_FAILURE, true},
      {0, PTR_S_RECEIPT, "\x1B|3B", OPOS_E_FAILURE, true},
      {0, 1, "ok", OPOS_E_ILLEGAL, true},
      // A wrong length for the binary conversion is returned without being stored.
      {1, PTR_S_RECEIPT, "414", OPOS_E_FAILURE, false},
      {1, PTR_S_RECEIPT, "4142", OPOS_SUCCESS, true},
  };
  printer_object p;
  ASSERT_EQ(p.open(), OPOS_SUCCESS);  // no state check: neither claimed nor enabled
  for (const Case& c : cases) {
    p.set(PIDX_BinaryConversion, c.conversion);
    ASSERT_EQ(p.call("ValidateData", 1, ""), OPOS_E_ILLEGAL);  // leaves 106 in ResultCode
    EXPECT_EQ(p.call("ValidateData", c.station, c.data), c.result) << c.data;
    EXPECT_EQ(p.result_code(), c.stored ? c.result : OPOS_E_ILLEGAL) << c.data;
  }
  EXPECT_TRUE(printer_->capture().empty());
}

// ---------------------------------------------------------------------------------------------
// Asynchronous output

TEST_F(PrintOutputTest, AsynchronousRequestsDrainBackToBackInOrderWithoutTimerTicks) {
  testing::set_fixed_dword("TimeOutLoopMsg", 2000);
  printer_object p;
  p.open_claim_enable();
  p.set(PIDXPtr_AsyncMode, 1);
  std::int32_t ids[3] = {};
  const char* texts[3] = {"first", "second", "third"};
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(p.call("PrintNormal", PTR_S_RECEIPT, texts[i]), OPOS_SUCCESS);
    ids[i] = p.number(PIDX_OutputID);
  }
  EXPECT_TRUE(after_claim().empty()) << "the calls only queue";
  EXPECT_TRUE(p.control->calls.empty());

  // One request at a time, in order, each reported before the next goes out.
  std::vector<std::size_t> sent_at_event;
  p.control->on_call = [&](const std::string&) { sent_at_event.push_back(after_claim().size()); };
  ASSERT_TRUE(drain_without_timer_ticks([&] { return p.control->calls.size() == 3; }));
  EXPECT_TRUE(same_bytes(after_claim(), "first" + kStatusPoll + "second" + kStatusPoll + "third" + kStatusPoll));
  EXPECT_EQ(p.control->calls, (call_log{out_event(ids[0]), out_event(ids[1]), out_event(ids[2])}));
  EXPECT_EQ(sent_at_event, (std::vector<std::size_t>{11, 23, 34}));
  EXPECT_EQ(p.number(PIDX_State), OPOS_S_IDLE);

  ASSERT_TRUE(run_tick());
  EXPECT_EQ(p.control->calls.size(), 3u) << "queue empty";
}

TEST_F(PrintOutputTest, CloseInsideAnEventHandlerIsBusy) {
  printer_object p;
  p.open_claim_enable();
  p.set(PIDXPtr_AsyncMode, 1);
  ASSERT_EQ(p.call("PrintNormal", PTR_S_RECEIPT, "one"), OPOS_SUCCESS);
  std::int32_t close_result = -1;
  std::int32_t state_in_handler = -1;
  p.control->on_call = [&](const std::string&) {
    state_in_handler = p.number(PIDX_State);
    close_result = p.call("Close");
  };
  ASSERT_TRUE(test::run_until([&] { return !p.control->calls.empty(); }));
  EXPECT_EQ(state_in_handler, OPOS_S_BUSY);
  EXPECT_EQ(close_result, OPOS_E_BUSY);
  p.control->on_call = nullptr;
  EXPECT_EQ(p.number(PIDX_State), OPOS_S_IDLE);
  EXPECT_EQ(p.call("Close"), OPOS_SUCCESS) << "once the worker is done";
}

TEST_F(PrintOutputTest, AsynchronousEmptyTextStillCompletes) {
  printer_object p;
  p.open_claim_enable();
  p.set(PIDXPtr_AsyncMode, 1);
  ASSERT_EQ(p.call("PrintNormal", PTR_S_RECEIPT, ""), OPOS_SUCCESS);
  const std::int32_t id = p.number(PIDX_OutputID);
  ASSERT_TRUE(run_tick());
  EXPECT_TRUE(same_bytes(after_claim(), kStatusPoll));
  EXPECT_EQ(p.control->calls, (call_log{out_event(id)}));
}

TEST_F(PrintOutputTest, AsynchronousCommandsDirectIOAndCutReportByKind) {
  printer_object p;
  p.open_claim_enable();
  p.set(PIDXPtr_AsyncMode, 1);
  p.set(PIDX_BinaryConversion, 1);

  // A line property is an internal request: stored at once, no identifier, no event.
  const std::int32_t before = p.number(PIDX_OutputID);
  p.set(PIDXPtr_RecLineSpacing, 40);
  EXPECT_EQ(p.result_code(), OPOS_SUCCESS);
  EXPECT_EQ(p.number(PIDXPtr_RecLineSpacing), 40);
  EXPECT_EQ(p.number(PIDX_OutputID), before);

  std::int32_t data = 0;
  std::string text = "1=4931";  // GS I 1 in nibbles
  ASSERT_EQ(p.direct_io(1, data, text), OPOS_SUCCESS);
  const std::int32_t write_id = p.number(PIDX_OutputID);
  data = 1;
  text.clear();
  ASSERT_EQ(p.direct_io(2, data, text), OPOS_SUCCESS);
  EXPECT_EQ(text, "") << "the answer comes with the event";
  const std::int32_t read_id = p.number(PIDX_OutputID);
  ASSERT_EQ(p.call("CutPaper", 100), OPOS_SUCCESS);
  const std::int32_t cut_id = p.number(PIDX_OutputID);
  EXPECT_TRUE(after_claim().empty());

  ASSERT_TRUE(test::run_until([&] { return p.control->calls.size() == 3; }));
  EXPECT_TRUE(same_bytes(after_claim(), "\x1B\x33\x28" + kStatusPoll + "\x1D\x49\x31" + "\x1D\x56\x42\x0F" + kStatusPoll));
  EXPECT_EQ(p.control->calls,
            (call_log{"SODirectIO " + std::to_string(write_id) + " 0 ",
                      "SODirectIO " + std::to_string(read_id) + " 2 20", out_event(cut_id)}));
}

// FlagWhenIdle asks for one idle event: the flag is cleared as it is fired, so later returns to
// idle stay silent until the application sets it again.
TEST_F(PrintOutputTest, FlagWhenIdleFiresOnceAndIsCleared) {
  printer_object p;
  p.open_claim_enable();
  p.set(PIDXPtr_FlagWhenIdle, 1);
  ASSERT_EQ(p.call("PrintNormal", PTR_S_RECEIPT, "a"), OPOS_SUCCESS);
  EXPECT_EQ(p.control->calls, (call_log{"SOStatusUpdate 1001"}));
  EXPECT_EQ(p.number(PIDXPtr_FlagWhenIdle), 0) << "cleared with the event";
  ASSERT_EQ(p.call("PrintNormal", PTR_S_RECEIPT, "b"), OPOS_SUCCESS);
  ASSERT_EQ(p.call("CutPaper", 100), OPOS_SUCCESS);
  EXPECT_EQ(p.control->calls, (call_log{"SOStatusUpdate 1001"})) << "no idle event without the flag";

  // Asynchronously the device is idle again only once the queue is empty: one event after the
  // last request, none after the one behind it.
  p.control->calls.clear();
  p.set(PIDXPtr_AsyncMode, 1);
  p.set(PIDXPtr_FlagWhenIdle, 1);
  ASSERT_EQ(p.call("PrintNormal", PTR_S_RECEIPT, "c"), OPOS_SUCCESS);
  const std::int32_t c = p.number(PIDX_OutputID);
  ASSERT_EQ(p.call("PrintNormal", PTR_S_RECEIPT, "d"), OPOS_SUCCESS);
  const std::int32_t d = p.number(PIDX_OutputID);
  EXPECT_TRUE(p.control->calls.empty());
  ASSERT_TRUE(run_tick());
  ASSERT_TRUE(run_tick());
  EXPECT_EQ(p.control->calls, (call_log{out_event(c), out_event(d), "SOStatusUpdate 1001"}));
  EXPECT_EQ(p.number(PIDXPtr_FlagWhenIdle), 0);
  ASSERT_EQ(p.call("PrintNormal", PTR_S_RECEIPT, "e"), OPOS_SUCCESS);
  const std::int32_t e = p.number(PIDX_OutputID);
  ASSERT_TRUE(run_tick());
  EXPECT_EQ(p.control->calls, (call_log{out_event(c), out_event(d), "SOStatusUpdate 1001", out_event(e)}));
}

TEST_F(PrintOutputTest, QueuedRequestsWaitForAClaim) {
  printer_object p;
  p.open_claim_enable();
  p.set(PIDXPtr_AsyncMode, 1);
  ASSERT_EQ(p.call("PrintNormal", PTR_S_RECEIPT, "kept"), OPOS_SUCCESS);
  const std::int32_t id = p.number(PIDX_OutputID);
  ASSERT_EQ(p.call("Release"), OPOS_SUCCESS);
  ASSERT_TRUE(run_tick());
  EXPECT_TRUE(after_claim().empty()) << "not claimed: nothing is sent";
  ASSERT_EQ(p.call("Claim", 1000), OPOS_SUCCESS);
  ASSERT_TRUE(run_tick());
  EXPECT_TRUE(same_bytes(after_claim(), test::kClaimSequence + "kept" + kStatusPoll));
  EXPECT_EQ(p.control->calls, (call_log{out_event(id)}));
}

}  // namespace
}  // namespace devsvc
