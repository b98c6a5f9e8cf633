// RotatePrint and TransactionPrint through the service object: the page set-up, the collected
// output released at once, the line values of a turn to the right, and the failure paths.
#include <gtest/gtest.h>

#include <string>

#include "core/opos.h"
#include "printer/tests/printer_fixture.h"
#include "testing/harness.h"

namespace devsvc {
namespace {

using test::kStatusPoll;
using test::printer_object;
using test::run_tick;
using test::same_bytes;

class RotationTest : public test::printer_fixture {};

// The page set-up of a turn with print direction `d`, each step followed by its status poll.
std::string page_setup(char d) {
  return std::string("\x1B\x4C") + kStatusPoll + std::string("\x1B\x57\x00\x00\x00\x00\x00\x02\x7E\x06", 10) +
         kStatusPoll + "\x1B\x54" + d + kStatusPoll;
}

TEST_F(RotationTest, LeftTurnCollectsTextAndReleasesItAsOneWrite) {
  printer_object p;
  p.open_claim_enable();
  ASSERT_EQ(p.call("RotatePrint", PTR_S_RECEIPT, PTR_RP_LEFT90), OPOS_SUCCESS);
  EXPECT_TRUE(same_bytes(after_claim(), page_setup('\x01')));
  EXPECT_EQ(p.call("RotatePrint", PTR_S_RECEIPT, PTR_RP_RIGHT90), OPOS_E_ILLEGAL) << "already turned";

  const std::size_t before = printer_->capture().size();
  EXPECT_EQ(p.call("PrintNormal", PTR_S_RECEIPT, "Sideways\n"), OPOS_SUCCESS);
  EXPECT_EQ(p.call("PrintNormal", PTR_S_RECEIPT, "block\n"), OPOS_SUCCESS);
  EXPECT_EQ(printer_->capture().size(), before) << "collected, not sent";

  ASSERT_EQ(p.call("RotatePrint", PTR_S_RECEIPT, PTR_RP_NORMAL), OPOS_SUCCESS);
  const std::string released = printer_->capture().substr(before);
  const std::string want = "Sideways\nblock\n" + kStatusPoll + "\x0C" + kStatusPoll + "\x1B\x56\x30" + kStatusPoll;
  EXPECT_TRUE(same_bytes(released.substr(0, want.size()), want));
  EXPECT_FALSE(printer_->state().page_mode);
  EXPECT_EQ(printer_->unknown_count(), 0u);
}

TEST_F(RotationTest, RightTurnUsesTheSidewaysListAndRestoresTheLineValues) {
  printer_object p;
  p.open_claim_enable();
  p.set(PIDXPtr_RecLineChars, 24);
  const std::int32_t chars = p.number(PIDXPtr_RecLineChars);
  const std::int32_t height = p.number(PIDXPtr_RecLineHeight);
  const std::int32_t spacing = p.number(PIDXPtr_RecLineSpacing);
  const std::string normal_list = p.text(PIDXPtr_RecLineCharsList);

  const std::size_t before = printer_->capture().size();
  ASSERT_EQ(p.call("RotatePrint", PTR_S_RECEIPT, PTR_RP_RIGHT90), OPOS_SUCCESS);
  EXPECT_TRUE(same_bytes(printer_->capture().substr(before), page_setup('\x03')));
  EXPECT_EQ(p.text(PIDXPtr_RecLineCharsList), "17,19,23,27,34,46,69,138");
  EXPECT_EQ(p.number(PIDXPtr_RecLineChars), 27) << "24 taken up to the next sideways size";
  EXPECT_EQ(p.call("PrintNormal", PTR_S_RECEIPT, "turned\n"), OPOS_SUCCESS);

  ASSERT_EQ(p.call("RotatePrint", PTR_S_RECEIPT, PTR_RP_NORMAL), OPOS_SUCCESS);
  EXPECT_EQ(p.text(PIDXPtr_RecLineCharsList), normal_list);
  EXPECT_EQ(p.number(PIDXPtr_RecLineChars), chars);
  EXPECT_EQ(p.number(PIDXPtr_RecLineHeight), height);
  EXPECT_EQ(p.number(PIDXPtr_RecLineSpacing), spacing);
}

TEST_F(RotationTest, UpsideDownEndsWithUpsideDownOffAndOtherValuesSendNothing) {
  printer_object p;
  p.open_claim_enable();
  EXPECT_EQ(p.call("RotatePrint", PTR_S_RECEIPT, 5), OPOS_SUCCESS);
  EXPECT_EQ(p.call("RotatePrint", PTR_S_RECEIPT, PTR_RP_NORMAL), OPOS_SUCCESS) << "not turned: nothing to end";
  EXPECT_TRUE(after_claim().empty()) << testing::hex(after_claim());
  EXPECT_EQ(p.call("RotatePrint", 1, PTR_RP_LEFT90), OPOS_E_ILLEGAL);

  ASSERT_EQ(p.call("RotatePrint", PTR_S_RECEIPT, PTR_RP_ROTATE180), OPOS_SUCCESS);
  EXPECT_TRUE(same_bytes(after_claim(), page_setup('\x02')));
  // Upside down, PrintImmediate joins the page.
  EXPECT_EQ(p.call("PrintImmediate", PTR_S_RECEIPT, "now"), OPOS_SUCCESS);
  ASSERT_EQ(p.call("RotatePrint", PTR_S_RECEIPT, PTR_RP_NORMAL), OPOS_SUCCESS);
  const std::string all = after_claim();
  const std::string tail = "\x0C" + kStatusPoll + std::string("\x1B\x7B\x00", 3) + kStatusPoll;
  EXPECT_NE(all.find(tail), std::string::npos) << testing::hex(all);
}

TEST_F(RotationTest, OutputThatCannotJoinATurnedPageIsRefused) {
  printer_object p;
  p.open_claim_enable();
  ASSERT_EQ(p.call("RotatePrint", PTR_S_RECEIPT, PTR_RP_LEFT90), OPOS_SUCCESS);
  const std::size_t before = printer_->capture().size();
  EXPECT_EQ(p.call("PrintImmediate", PTR_S_RECEIPT, "now"), OPOS_E_ILLEGAL);
  EXPECT_EQ(p.call("PrintBarCode", PTR_S_RECEIPT, "012345678905", PTR_BCS_UPCA, 0, 3, PTR_BM_CENTER,
                   PTR_BC_TEXT_BELOW),
            OPOS_E_ILLEGAL);
  EXPECT_EQ(p.call("PrintBitmap", PTR_S_RECEIPT, "any.bmp", PTR_BM_ASIS, PTR_BM_CENTER), OPOS_E_ILLEGAL);
  EXPECT_EQ(p.call("SetLogo", PTR_L_TOP, "logo"), OPOS_E_ILLEGAL);
  EXPECT_EQ(p.call("SetBitmap", 1, PTR_S_RECEIPT, "any.bmp", PTR_BM_ASIS, PTR_BM_CENTER), OPOS_E_ILLEGAL);
  EXPECT_EQ(p.call("TransactionPrint", PTR_S_RECEIPT, PTR_TP_TRANSACTION), OPOS_E_ILLEGAL);
  EXPECT_EQ(printer_->capture().size(), before);
}

TEST_F(RotationTest, FailedReleaseEmptiesTheQueueButStillReturnsToNormal) {
  printer_object p;
  p.open_claim_enable();
  ASSERT_EQ(p.call("RotatePrint", PTR_S_RECEIPT, PTR_RP_LEFT90), OPOS_SUCCESS);
  ASSERT_EQ(p.call("PrintNormal", PTR_S_RECEIPT, "lost\n"), OPOS_SUCCESS);
  printer_->inject_fault(vprinter::fault::cover_open);
  EXPECT_NE(p.call("RotatePrint", PTR_S_RECEIPT, PTR_RP_NORMAL), OPOS_SUCCESS);
  printer_->clear_faults();
  // Back to normal: PrintImmediate is accepted again and nothing collected is left.
  EXPECT_EQ(p.call("PrintImmediate", PTR_S_RECEIPT, "after"), OPOS_SUCCESS);
  EXPECT_EQ(p.call("RotatePrint", PTR_S_RECEIPT, PTR_RP_LEFT90), OPOS_SUCCESS);
}

TEST_F(RotationTest, AsynchronousTurnReportsOneOutputComplete) {
  printer_object p;
  p.open_claim_enable();
  p.set(PIDXPtr_AsyncMode, 1);
  ASSERT_EQ(p.call("RotatePrint", PTR_S_RECEIPT, PTR_RP_LEFT90), OPOS_SUCCESS);
  ASSERT_EQ(p.call("PrintNormal", PTR_S_RECEIPT, "one\n"), OPOS_SUCCESS);
  const std::int32_t job = p.number(PIDX_OutputID);
  ASSERT_EQ(p.call("PrintNormal", PTR_S_RECEIPT, "two\n"), OPOS_SUCCESS);
  EXPECT_EQ(p.number(PIDX_OutputID), job) << "one job for the turned output";
  ASSERT_EQ(p.call("RotatePrint", PTR_S_RECEIPT, PTR_RP_NORMAL), OPOS_SUCCESS);
  EXPECT_TRUE(after_claim().empty()) << "nothing is written before the worker runs";
  for (int i = 0; i < 8; ++i) ASSERT_TRUE(run_tick());
  const std::string want = std::string("\x1B\x4C") + kStatusPoll;
  EXPECT_TRUE(after_claim().starts_with(want));
  EXPECT_NE(after_claim().find("one\ntwo\n" + kStatusPoll + "\x0C" + kStatusPoll + "\x1B\x56\x30"), std::string::npos)
      << testing::hex(after_claim());
  int completes = 0;
  for (const std::string& call : p.control->calls) {
    if (call.starts_with("SOOutputComplete")) {
      ++completes;
      EXPECT_EQ(call, "SOOutputComplete " + std::to_string(job));
    }
    EXPECT_FALSE(call.starts_with("SODirectIO")) << call;
  }
  EXPECT_EQ(completes, 1);
}

TEST_F(RotationTest, TransactionCollectsUntilItEnds) {
  printer_object p;
  p.open_claim_enable();
  EXPECT_EQ(p.call("TransactionPrint", 1, PTR_TP_TRANSACTION), OPOS_E_ILLEGAL);
  EXPECT_EQ(p.call("TransactionPrint", PTR_S_RECEIPT, 13), OPOS_E_ILLEGAL);
  ASSERT_EQ(p.call("TransactionPrint", PTR_S_RECEIPT, PTR_TP_TRANSACTION), OPOS_SUCCESS);
  EXPECT_EQ(p.call("PrintNormal", PTR_S_RECEIPT, "first\n"), OPOS_SUCCESS);
  EXPECT_EQ(p.call("PrintNormal", PTR_S_RECEIPT, "second\n"), OPOS_SUCCESS);
  EXPECT_EQ(p.call("PrintImmediate", PTR_S_RECEIPT, "now"), OPOS_E_ILLEGAL);
  EXPECT_TRUE(after_claim().empty()) << testing::hex(after_claim());
  ASSERT_EQ(p.call("TransactionPrint", PTR_S_RECEIPT, PTR_TP_NORMAL), OPOS_SUCCESS);
  EXPECT_TRUE(same_bytes(after_claim(), "first\nsecond\n" + kStatusPoll));
  EXPECT_EQ(p.number(PIDX_State), OPOS_S_IDLE);
}

TEST_F(RotationTest, TurnInsideATransactionIsReleasedWithIt) {
  printer_object p;
  p.open_claim_enable();
  ASSERT_EQ(p.call("TransactionPrint", PTR_S_RECEIPT, PTR_TP_TRANSACTION), OPOS_SUCCESS);
  ASSERT_EQ(p.call("PrintNormal", PTR_S_RECEIPT, "head\n"), OPOS_SUCCESS);
  ASSERT_EQ(p.call("RotatePrint", PTR_S_RECEIPT, PTR_RP_LEFT90), OPOS_SUCCESS);
  ASSERT_EQ(p.call("PrintNormal", PTR_S_RECEIPT, "side\n"), OPOS_SUCCESS);
  ASSERT_EQ(p.call("RotatePrint", PTR_S_RECEIPT, PTR_RP_NORMAL), OPOS_SUCCESS);
  EXPECT_TRUE(after_claim().empty()) << testing::hex(after_claim());
  ASSERT_EQ(p.call("TransactionPrint", PTR_S_RECEIPT, PTR_TP_NORMAL), OPOS_SUCCESS);
  const std::string all = after_claim();
  EXPECT_TRUE(all.starts_with("head\n" + kStatusPoll + "\x1B\x4C")) << testing::hex(all);
  EXPECT_NE(all.find("side\n" + kStatusPoll + "\x0C" + kStatusPoll + "\x1B\x56\x30"), std::string::npos)
      << testing::hex(all);
  EXPECT_FALSE(printer_->state().page_mode);
}

TEST_F(RotationTest, FailedTransactionFlushEmptiesTheQueueAndStaysOpen) {
  printer_object p;
  p.open_claim_enable();
  ASSERT_EQ(p.call("TransactionPrint", PTR_S_RECEIPT, PTR_TP_TRANSACTION), OPOS_SUCCESS);
  ASSERT_EQ(p.call("PrintNormal", PTR_S_RECEIPT, "lost\n"), OPOS_SUCCESS);
  printer_->inject_fault(vprinter::fault::cover_open);
  EXPECT_NE(p.call("TransactionPrint", PTR_S_RECEIPT, PTR_TP_NORMAL), OPOS_SUCCESS);
  printer_->clear_faults();
  // Still open: output is collected, and the queue was emptied.
  const std::size_t before = printer_->capture().size();
  ASSERT_EQ(p.call("PrintNormal", PTR_S_RECEIPT, "kept\n"), OPOS_SUCCESS);
  EXPECT_EQ(printer_->capture().size(), before);
  ASSERT_EQ(p.call("TransactionPrint", PTR_S_RECEIPT, PTR_TP_NORMAL), OPOS_SUCCESS);
  EXPECT_TRUE(same_bytes(printer_->capture().substr(before), "kept\n" + kStatusPoll));
}

// Synchronously, direct I/O collected in a transaction or a turn goes out with the rest as its
// kind says: the write without a status poll (whose answers would stand in the read's way), the
// read reads, and its buffer never reaches the printer. The DirectIO call returned before the
// read happened, so the answer comes with the direct-I/O event.
TEST_F(RotationTest, CollectedDirectReadReadsAndNeverSendsItsBuffer) {
  struct Case {
    const char* what;
    const char* begin;  // member that starts collecting, with its argument
    std::int32_t begin_arg;
    const char* end;  // member that releases what was collected
    std::int32_t end_arg;
    std::string setup;  // sent at the start, before anything is collected
    std::string tail;   // sent after the collected output
  };
  const Case cases[] = {
      {"transaction", "TransactionPrint", PTR_TP_TRANSACTION, "TransactionPrint", PTR_TP_NORMAL, "", ""},
      {"left turn", "RotatePrint", PTR_RP_LEFT90, "RotatePrint", PTR_RP_NORMAL, page_setup('\x01'),
       "\x0C" + kStatusPoll + "\x1B\x56\x30" + kStatusPoll + std::string("\x1D\x21\x00", 3) + kStatusPoll},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    use_printer("");
    printer_object p;
    p.open_claim_enable();
    p.set(PIDX_BinaryConversion, 1);
    ASSERT_EQ(p.call(c.begin, PTR_S_RECEIPT, c.begin_arg), OPOS_SUCCESS);
    ASSERT_EQ(p.call("PrintNormal", PTR_S_RECEIPT, "610:"), OPOS_SUCCESS);  // "a\n" in nibbles
    std::int32_t data = 0;
    std::string text = "1=4931";  // GS I 1 in nibbles: the printer answers 0x20
    ASSERT_EQ(p.direct_io(1, data, text), OPOS_SUCCESS);
    data = 1;
    text.clear();
    ASSERT_EQ(p.direct_io(2, data, text), OPOS_SUCCESS);
    EXPECT_EQ(text, "") << "not read yet";
    EXPECT_EQ(data, 1);
    ASSERT_EQ(p.call(c.end, PTR_S_RECEIPT, c.end_arg), OPOS_SUCCESS);

    EXPECT_TRUE(same_bytes(after_claim(), c.setup + "a\n" + kStatusPoll + "\x1D\x49\x31" + c.tail));
    ASSERT_EQ(p.control->calls.size(), 1u);
    EXPECT_TRUE(p.control->calls[0].starts_with("SODirectIO ")) << p.control->calls[0];
    EXPECT_TRUE(p.control->calls[0].ends_with(" 2 20")) << p.control->calls[0];
    EXPECT_EQ(p.number(PIDX_State), OPOS_S_IDLE);
  }
}

TEST_F(RotationTest, AsynchronousTransactionEndsWithOneOutputComplete) {
  printer_object p;
  p.open_claim_enable();
  p.set(PIDXPtr_AsyncMode, 1);
  ASSERT_EQ(p.call("TransactionPrint", PTR_S_RECEIPT, PTR_TP_TRANSACTION), OPOS_SUCCESS);
  ASSERT_EQ(p.call("PrintNormal", PTR_S_RECEIPT, "a\n"), OPOS_SUCCESS);
  const std::int32_t job = p.number(PIDX_OutputID);
  ASSERT_EQ(p.call("PrintNormal", PTR_S_RECEIPT, "b\n"), OPOS_SUCCESS);
  ASSERT_TRUE(run_tick());
  EXPECT_TRUE(after_claim().empty()) << "the worker waits for the end of the transaction";
  ASSERT_EQ(p.call("TransactionPrint", PTR_S_RECEIPT, PTR_TP_NORMAL), OPOS_SUCCESS);
  ASSERT_TRUE(run_tick());
  EXPECT_TRUE(same_bytes(after_claim(), "a\nb\n" + kStatusPoll));
  EXPECT_EQ(p.control->calls.back(), "SOOutputComplete " + std::to_string(job));
}

}  // namespace
}  // namespace devsvc
