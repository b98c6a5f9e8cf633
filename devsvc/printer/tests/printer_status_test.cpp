// Status, errors and health against the virtual printer's faults: results and events of
// synchronous and queued writes, the error event, ClearOutput, CheckHealth and DirectIO.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/opos.h"
#include "platform/messages.h"
#include "printer/tests/printer_fixture.h"
#include "testing/harness.h"
#include "vprinter/virtual_printer.h"

namespace devsvc {
namespace {

using testing::call_log;
using test::kStatusPoll;
using test::printer_object;
using test::run_tick;
using test::run_until;
using test::same_bytes;
using vprinter::fault;

// Time-outs of the claim under the fixed key, small so that faults end quickly.
constexpr std::uint32_t kReadTimeoutMs = 100;
constexpr std::uint32_t kWriteTimeoutMs = 100;

std::string status(std::int32_t code) { return "SOStatusUpdate " + std::to_string(code); }
std::string error(std::int32_t result, std::int32_t extended) {
  return "SOError " + std::to_string(result) + " " + std::to_string(extended) + " 1";
}
std::string completed(std::int32_t id) { return "SOOutputComplete " + std::to_string(id); }

class PrinterStatusTest : public test::printer_fixture {
 protected:
  void SetUp() override {
    printer_fixture::SetUp();
    testing::set_fixed_dword("TimeOutRead", kReadTimeoutMs);
    testing::set_fixed_dword("TimeOutWrite", kWriteTimeoutMs);
  }
  // Opens with PowerNotify on, claims and enables, and forgets the claim's events.
  static void start(printer_object& p) {
    ASSERT_EQ(p.open(), OPOS_SUCCESS);
    p.set(PIDX_PowerNotify, OPOS_PN_ENABLED);
    ASSERT_EQ(p.call("Claim", 1000), OPOS_SUCCESS);
    p.set(PIDX_DeviceEnabled, 1);
    ASSERT_EQ(p.number(PIDX_DeviceEnabled), 1);
    p.control->calls.clear();
  }
};

// ---------------------------------------------------------------------------------------------
// Faults of the printer

// One fault of the virtual printer, with its value (microseconds per byte, bytes per write).
struct injected {
  fault f;
  int value = 0;
};

// Every fault, once on a synchronous write and once on the second of three queued requests.
// Each queued request must end printed (output complete) or reported (error event, answered
// with retry, which drops it); none may be lost. The queue drains back to back: the test acts
// between two requests by dispatching messages one at a time.
TEST_F(PrinterStatusTest, EveryFaultEndsInAResultAndEventsAndLosesNoRequest) {
  struct Row {
    const char* what;
    std::vector<injected> faults;
    std::int32_t result;  // synchronous, and ResultCode after the failed tick
    std::int32_t extended;
    call_log sync_failed;      // events of the write under the fault
    call_log sync_recovered;   // events of the next write once the fault is gone
    call_log async_failed;     // events of the tick of the second request ("#2" its identifier)
    call_log async_recovered;  // events of the tick of the third ("#3")
  };
  const Row rows[] = {
      {"cover open", {{fault::cover_open}}, OPOS_E_EXTENDED, OPOS_EPTR_COVER_OPEN,
       {status(11), status(2003)}, {status(12), status(2001)},
       {status(11), status(2003), error(114, 201)}, {status(12), status(2001), "#3"}},
      {"paper near end", {{fault::paper_near_end}}, OPOS_SUCCESS, 0,
       {status(25)}, {status(26)},
       {status(25), "#2"}, {status(26), "#3"}},
      // Out of paper the printer goes off line and holds GS r 1: the extended status finds why.
      // The retry answer to an error other than the cover takes the printer for off (2004, not
      // reported), so the next clean write reports it on line again.
      {"paper out", {{fault::paper_out}}, OPOS_E_EXTENDED, OPOS_EPTR_REC_EMPTY,
       {status(24), status(2003)}, {status(26), status(2001)},
       {status(24), status(2003), error(114, 203)}, {status(26), status(2001), "#3"}},
      // Off line with no cause the printer keeps the data until it is back: nothing to report.
      {"off line", {{fault::offline}}, OPOS_SUCCESS, 0, {}, {}, {"#2"}, {"#3"}},
      // A printer that takes the data but answers nothing (frozen): the job may still print, so
      // the missing confirmation is a time-out, with PowerState saying why.
      {"mute", {{fault::mute}}, OPOS_E_TIMEOUT, 0,
       {status(2004)}, {status(2001)},
       {status(2004), error(112, 0)}, {status(2001), "#3"}},
      // A full buffer holds the data back until the write time-out.
      {"busy", {{fault::busy}}, OPOS_E_TIMEOUT, 0, {}, {}, {error(112, 0)}, {status(2001), "#3"}},
      // 5 ms per byte: the 200 bytes cannot go out within 100 ms, nor in the retry.
      {"slow", {{fault::slow, 5000}}, OPOS_E_TIMEOUT, 0, {}, {}, {error(112, 0)}, {status(2001), "#3"}},
      {"short write", {{fault::short_write, 4}}, OPOS_E_TIMEOUT, 0, {}, {}, {error(112, 0)},
       {status(2001), "#3"}},
      // The link drops during the job (the printer rebooted): the request fails; the next one
      // opens the link again by itself, reports the printer on line and prints.
      {"disconnect", {{fault::disconnect}}, OPOS_E_FAILURE, 0,
       {status(2004)}, {status(2001)},
       {status(2004), error(111, 0)}, {status(2001), "#3"}},
  };
  std::string long_text;
  while (long_text.size() < 200) long_text += "Line of a long receipt\n";
  long_text.resize(200);

  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    use_printer("");
    printer_object p;
    start(p);

    // Synchronous.
    for (const injected& i : row.faults) printer_->inject_fault(i.f, i.value);
    EXPECT_EQ(p.call("PrintNormal", PTR_S_RECEIPT, long_text), row.result);
    EXPECT_EQ(p.result_code(), row.result);
    EXPECT_EQ(p.extended_code(), row.extended);
    EXPECT_EQ(p.control->calls, row.sync_failed) << "synchronous";
    EXPECT_EQ(p.number(PIDX_State), OPOS_S_IDLE);
    printer_->clear_faults();
    p.control->calls.clear();
    EXPECT_EQ(p.call("PrintNormal", PTR_S_RECEIPT, "after"), OPOS_SUCCESS);
    EXPECT_EQ(p.control->calls, row.sync_recovered) << "synchronous recovery";

    // Asynchronous: three requests, the fault on the second.
    p.control->calls.clear();
    p.set(PIDXPtr_AsyncMode, 1);
    std::int32_t ids[3] = {};
    const std::string texts[3] = {"first", long_text, "third"};
    for (int i = 0; i < 3; ++i) {
      ASSERT_EQ(p.call("PrintNormal", PTR_S_RECEIPT, texts[i]), OPOS_SUCCESS);
      ids[i] = p.number(PIDX_OutputID);
    }
    const auto with_ids = [&ids](call_log log) {
      for (std::string& entry : log) {
        if (entry == "#2") entry = completed(ids[1]);
        if (entry == "#3") entry = completed(ids[2]);
      }
      return log;
    };
    ASSERT_TRUE(run_until([&] { return !p.control->calls.empty(); }));
    EXPECT_EQ(p.control->calls, (call_log{completed(ids[0])}));

    p.control->calls.clear();
    for (const injected& i : row.faults) printer_->inject_fault(i.f, i.value);
    const call_log failed = with_ids(row.async_failed);
    ASSERT_TRUE(run_until([&] { return p.control->calls.size() >= failed.size(); }));
    EXPECT_EQ(p.control->calls, failed) << "asynchronous";
    EXPECT_EQ(p.result_code(), row.result);
    EXPECT_EQ(p.extended_code(), row.extended);
    EXPECT_EQ(p.number(PIDX_State), OPOS_S_IDLE);

    p.control->calls.clear();
    printer_->clear_faults();
    const call_log recovered = with_ids(row.async_recovered);
    ASSERT_TRUE(run_until([&] { return p.control->calls.size() >= recovered.size(); }));
    EXPECT_EQ(p.control->calls, recovered) << "asynchronous recovery";
    EXPECT_EQ(p.result_code(), OPOS_SUCCESS);

    // Nothing is left over.
    const std::size_t sent = printer_->capture().size();
    ASSERT_TRUE(run_tick());
    EXPECT_EQ(printer_->capture().size(), sent);
  }
}

TEST_F(PrinterStatusTest, PollTickFindsAPrinterThatCameBackWhileNothingPrints) {
  printer_object p;
  start(p);
  printer_->inject_fault(fault::disconnect);
  EXPECT_EQ(p.call("PrintNormal", PTR_S_RECEIPT, "lost"), OPOS_E_FAILURE);
  EXPECT_EQ(p.control->calls, (call_log{status(2004)}));
  p.control->calls.clear();

  // Still down: the tick tries and finds nothing.
  ASSERT_TRUE(run_tick());
  EXPECT_TRUE(p.control->calls.empty());
  // Back again: a later tick (they try every 2 s) opens the link and reports it on line.
  printer_->clear_faults();
  ASSERT_TRUE(run_until([&] { return !p.control->calls.empty(); }));
  EXPECT_EQ(p.control->calls, (call_log{status(2001)}));
  EXPECT_EQ(p.number(PIDX_PowerState), OPOS_PS_ONLINE);
  EXPECT_EQ(p.call("PrintNormal", PTR_S_RECEIPT, "back"), OPOS_SUCCESS);
}

TEST_F(PrinterStatusTest, NetworkPrinterThatRebootsIsUsedAgainWithoutANewClaim) {
  auto first = std::make_unique<testing::vprinter_daemon>();
  ASSERT_GT(first->port(), 0) << first->output();
  const int port = first->port();
  testing::set_port(test::kPort, first->uri());
  printer_object p;
  start(p);
  EXPECT_EQ(p.call("PrintNormal", PTR_S_RECEIPT, "before\n"), OPOS_SUCCESS);

  // The printer reboots: its connection is gone, and a request meanwhile fails.
  first.reset();
  EXPECT_NE(p.call("PrintNormal", PTR_S_RECEIPT, "while away\n"), OPOS_SUCCESS);
  testing::vprinter_daemon second({"--listen", "127.0.0.1:" + std::to_string(port)});
  ASSERT_EQ(second.port(), port) << second.output();

  // The next request opens the connection again and prints; nothing was released or claimed.
  EXPECT_EQ(p.call("PrintNormal", PTR_S_RECEIPT, "after\n"), OPOS_SUCCESS);
  EXPECT_NE(second.capture().find("after\n"), std::string::npos) << testing::hex(second.capture());
  EXPECT_EQ(p.number(PIDX_PowerState), OPOS_PS_ONLINE);
}

TEST_F(PrinterStatusTest, PaperOutIsReportedOnceButPowerOnEveryWrite) {
  printer_object p;
  start(p);
  printer_->inject_fault(fault::paper_out);
  EXPECT_EQ(p.call("PrintNormal", PTR_S_RECEIPT, "one"), OPOS_E_EXTENDED);
  EXPECT_EQ(p.call("PrintNormal", PTR_S_RECEIPT, "one"), OPOS_E_EXTENDED);
  EXPECT_EQ(p.extended_code(), OPOS_EPTR_REC_EMPTY);
  EXPECT_EQ(p.control->calls, (call_log{status(24), status(2003), status(2003)}));
  EXPECT_EQ(p.number(PIDXPtr_RecEmpty), 1);
  EXPECT_EQ(p.number(PIDX_PowerState), OPOS_PS_OFFLINE);
}

TEST_F(PrinterStatusTest, PowerEventsNeedPowerNotify) {
  printer_object p;
  p.open_claim_enable();  // PowerNotify stays 0
  printer_->inject_fault(fault::cover_open);
  EXPECT_EQ(p.call("PrintNormal", PTR_S_RECEIPT, "x"), OPOS_E_EXTENDED);
  EXPECT_EQ(p.extended_code(), OPOS_EPTR_COVER_OPEN);
  EXPECT_EQ(p.control->calls, (call_log{status(11)}));
  EXPECT_EQ(p.number(PIDXPtr_CoverOpen), 1);
  EXPECT_EQ(p.number(PIDX_PowerState), OPOS_PS_OFFLINE);
}

// ---------------------------------------------------------------------------------------------
// Error event, ClearOutput

TEST_F(PrinterStatusTest, ErrorAnswerClearEmptiesTheQueue) {
  printer_object p;
  start(p);
  p.control->error_response = OPOS_ER_CLEAR;
  p.set(PIDXPtr_AsyncMode, 1);
  ASSERT_EQ(p.call("PrintNormal", PTR_S_RECEIPT, "one"), OPOS_SUCCESS);
  ASSERT_EQ(p.call("PrintNormal", PTR_S_RECEIPT, "two"), OPOS_SUCCESS);
  printer_->inject_fault(fault::cover_open);
  ASSERT_TRUE(run_tick());
  EXPECT_EQ(p.control->calls, (call_log{status(11), status(2003), error(114, 201)}));
  EXPECT_EQ(p.number(PIDX_State), OPOS_S_IDLE);
  EXPECT_EQ(p.number(PIDX_PowerState), OPOS_PS_OFFLINE) << "not changed by the clear answer";

  printer_->clear_faults();
  const std::size_t sent = printer_->capture().size();
  ASSERT_TRUE(run_tick());
  EXPECT_EQ(printer_->capture().size(), sent) << "the second request was cleared";
}

TEST_F(PrinterStatusTest, ErrorEventWaitsForFrozenEventsToBeReleased) {
  printer_object p;
  start(p);
  p.set(PIDXPtr_AsyncMode, 1);
  ASSERT_EQ(p.call("PrintNormal", PTR_S_RECEIPT, "one"), OPOS_SUCCESS);
  EXPECT_EQ(p.call("COFreezeEvents", true), OPOS_SUCCESS);
  printer_->inject_fault(fault::cover_open);

  // The application thaws events from a timer of its own, which fires while the worker waits.
  bool thawed = false;
  platform::scoped_window_class thaw_class("PD_TEST_THAW", [&](platform::window_handle, std::uint32_t id,
                                                                std::int64_t, std::int64_t) {
    // Only once the worker waits to report the failure.
    if (id != platform::kTimerMessage || thawed || p.number(PIDX_State) != OPOS_S_ERROR) return;
    thawed = true;
    EXPECT_TRUE(p.control->calls.empty()) << "nothing may come out while frozen";
    EXPECT_EQ(p.call("COFreezeEvents", false), OPOS_SUCCESS);
  });
  platform::scoped_window thaw_window(platform::create_window("PD_TEST_THAW", ""));
  platform::scoped_timer thaw_timer(platform::set_timer(thaw_window.get(), 50));

  ASSERT_TRUE(run_tick());
  EXPECT_TRUE(thawed);
  EXPECT_EQ(p.control->calls, (call_log{status(11), status(2003), error(114, 201)}));
}

TEST_F(PrinterStatusTest, ClearOutputNeedsAnEnabledClaimedDevice) {
  printer_object p;
  ASSERT_EQ(p.open(), OPOS_SUCCESS);
  ASSERT_EQ(p.call("Claim", 1000), OPOS_SUCCESS);
  p.set(PIDX_BinaryConversion, 7);
  ASSERT_EQ(p.result_code(), OPOS_E_ILLEGAL);
  EXPECT_EQ(p.call("ClearOutput"), OPOS_E_DISABLED);
  EXPECT_EQ(p.result_code(), OPOS_E_ILLEGAL) << "unchanged";
  p.set(PIDX_DeviceEnabled, 1);
  ASSERT_EQ(p.call("Release"), OPOS_SUCCESS);
  EXPECT_EQ(p.call("ClearOutput"), OPOS_E_NOTCLAIMED);
}

TEST_F(PrinterStatusTest, ClearOutputDropsQueuedRequestsAndHeldEvents) {
  printer_object p;
  start(p);
  p.set(PIDXPtr_AsyncMode, 1);
  ASSERT_EQ(p.call("PrintNormal", PTR_S_RECEIPT, "one"), OPOS_SUCCESS);
  ASSERT_EQ(p.call("PrintNormal", PTR_S_RECEIPT, "two"), OPOS_SUCCESS);
  EXPECT_EQ(p.call("COFreezeEvents", true), OPOS_SUCCESS);
  ASSERT_TRUE(run_until([&] { return after_claim().size() >= 3 + kStatusPoll.size(); }));
  EXPECT_TRUE(same_bytes(after_claim(), "one" + kStatusPoll));

  EXPECT_EQ(p.call("ClearOutput"), OPOS_SUCCESS);
  EXPECT_EQ(p.number(PIDX_State), OPOS_S_IDLE);
  EXPECT_EQ(p.call("COFreezeEvents", false), OPOS_SUCCESS);
  EXPECT_TRUE(p.control->calls.empty()) << "the held output-complete event went too";
  ASSERT_TRUE(run_tick());
  EXPECT_TRUE(same_bytes(after_claim(), "one" + kStatusPoll));
}

// ---------------------------------------------------------------------------------------------
// CheckHealth

TEST_F(PrinterStatusTest, CheckHealthLevels) {
  printer_object p;
  start(p);
  p.set(PIDXPtr_FlagWhenIdle, 1);
  EXPECT_EQ(p.call("CheckHealth", OPOS_CH_INTERNAL), OPOS_SUCCESS);
  EXPECT_EQ(p.text(PIDX_CheckHealthText), "Internal HCheck: Successful.");
  EXPECT_TRUE(after_claim().empty()) << "the internal check sends nothing";

  // Each check ends in idle: with FlagWhenIdle set again before it, each reports it once.
  p.set(PIDXPtr_FlagWhenIdle, 1);
  EXPECT_EQ(p.call("CheckHealth", OPOS_CH_EXTERNAL), OPOS_SUCCESS);
  EXPECT_EQ(p.text(PIDX_CheckHealthText), "External HCheck: Successful.");
  EXPECT_TRUE(same_bytes(after_claim(), std::string("\x1D\x28\x41\x02\x00\x31\x33", 7))) << "test print, no poll";

  p.set(PIDXPtr_FlagWhenIdle, 1);
  EXPECT_EQ(p.call("CheckHealth", 3), OPOS_E_ILLEGAL);
  EXPECT_EQ(p.result_code(), OPOS_E_ILLEGAL);
  EXPECT_EQ(p.text(PIDX_CheckHealthText), "");
  EXPECT_EQ(p.control->calls, (call_log{status(1001), status(1001), status(1001)}));
  EXPECT_EQ(p.number(PIDX_State), OPOS_S_IDLE);

  p.set(PIDX_DeviceEnabled, 0);
  EXPECT_EQ(p.call("CheckHealth", OPOS_CH_INTERNAL), OPOS_E_DISABLED);
}

// A printer that answers nothing at all: it takes no data (busy) and says nothing (mute). The
// test print times out, and the extended status request goes unanswered within the check's
// 15 s read time-out.
TEST_F(PrinterStatusTest, ExternalCheckOfASilentPrinterFailsAndRestoresTheReadTimeOut) {
  printer_object p;
  start(p);
  printer_->inject_fault(fault::busy);
  printer_->inject_fault(fault::mute);
  EXPECT_EQ(p.call("CheckHealth", OPOS_CH_EXTERNAL), OPOS_E_FAILURE);
  EXPECT_EQ(p.text(PIDX_CheckHealthText), "External HCheck Failure for error, 111");
  EXPECT_EQ(p.control->calls, (call_log{status(2004)}));
  EXPECT_EQ(p.number(PIDX_PowerState), OPOS_PS_OFF_OFFLINE);

  // The claim's read time-out is back: a write to the still silent printer gives up after its
  // three unanswered status requests of 100 ms each, not after 15 s each. The data went out
  // whole, so the missing confirmation is a time-out.
  printer_->clear_fault(fault::busy);
  const std::uint64_t started = platform::tick_count_ms();
  EXPECT_EQ(p.call("PrintNormal", PTR_S_RECEIPT, "x"), OPOS_E_TIMEOUT);
  EXPECT_LT(platform::tick_count_ms() - started, 5000u);
}

// ---------------------------------------------------------------------------------------------
// DirectIO

TEST_F(PrinterStatusTest, DirectIOOtherCommandsSendNothing) {
  printer_object p;
  start(p);
  std::int32_t data = 5;
  std::string text = "x";
  EXPECT_EQ(p.direct_io(7, data, text), OPOS_SUCCESS);
  EXPECT_EQ(data, 5);
  EXPECT_EQ(text, "x");
  EXPECT_TRUE(after_claim().empty());
  EXPECT_EQ(p.direct_io(2, data = 1 << 21, text), OPOS_E_ILLEGAL) << "a read beyond 1 MiB";
}

TEST_F(PrinterStatusTest, DirectIOWritesRequestsAndReadsAnswersBack) {
  struct Case {
    std::int32_t conversion;
    std::string request;  // in the binary conversion; "" sends nothing
    std::string sent;
    std::int32_t result;  // of the read
    std::string answer;   // text of the read
  };
  const Case cases[] = {
      {0, "\x1D\x49\x31", "\x1D\x49\x31", OPOS_SUCCESS, " "},       // GS I 1: 0x20
      {0, "\x1D\x72\x31", "\x1D\x72\x31", OPOS_SUCCESS, "<NID>"},   // GS r 1: 0x00
      {1, "1=4931", "\x1D\x49\x31", OPOS_SUCCESS, "20"},
      {1, "1=7231", "\x1D\x72\x31", OPOS_SUCCESS, "3<4>49443>"},    // "<NID>" in nibbles
      {2, "029073049", "\x1D\x49\x31", OPOS_SUCCESS, "032"},
      {2, "029114049", "\x1D\x72\x31", OPOS_SUCCESS, "060078073068062"},
      {0, "", "", OPOS_E_FAILURE, "unchanged"},  // nothing to read
  };
  printer_object p;
  start(p);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.request);
    p.set(PIDX_BinaryConversion, c.conversion);
    const std::size_t before = printer_->capture().size();
    std::int32_t data = 0;
    std::string text = c.request;
    if (!c.request.empty()) {
      ASSERT_EQ(p.direct_io(1, data, text), OPOS_SUCCESS);
    }
    EXPECT_TRUE(same_bytes(printer_->capture().substr(before), c.sent)) << "a direct write has no poll";
    data = 1;
    text = "unchanged";
    EXPECT_EQ(p.direct_io(2, data, text), c.result);
    EXPECT_EQ(p.result_code(), c.result);
    EXPECT_EQ(text, c.answer);
    EXPECT_EQ(data, 1);
  }
  EXPECT_TRUE(p.control->calls.empty());
}

}  // namespace
}  // namespace devsvc
