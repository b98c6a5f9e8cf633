// The POS printer service object as a control object drives it: created by ProgID from the
// registered Devsvc library, talking through the registered I/O monitor to a virtual printer
// (in-process, or the vprinter daemon over loopback TCP). Bytes are checked against what the
// printer received.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "core/opos.h"
#include "monitor/sim.h"
#include "printer/tests/printer_fixture.h"
#include "testing/harness.h"

namespace devsvc {
namespace {

using testing::call_log;
using test::kClaimSequence;
using test::kPort;
using test::kStatusPoll;
using test::printer_object;
using test::same_bytes;

class PrinterTest : public test::printer_fixture {};

// ---------------------------------------------------------------------------------------------
// Open, claim, release, close

TEST_F(PrinterTest, OpenWithoutDeviceKeyGives109AndLeavesTheObjectClosed) {
  printer_object p;
  EXPECT_EQ(p.open("NoSuchDevice"), OPOS_E_NOEXIST);
  EXPECT_EQ(p.number(PIDX_ResultCode), 0) << "a closed object answers 0";
  EXPECT_EQ(p.text(PIDXPtr_ErrorString), "no device key NoSuchDevice") << "the error text explains it";
  EXPECT_EQ(p.call("Claim", 100), OPOS_E_CLOSED);
  EXPECT_EQ(p.open(), OPOS_SUCCESS);
  EXPECT_EQ(p.text(PIDXPtr_ErrorString), "") << "cleared by the open that succeeded";
}

TEST_F(PrinterTest, OpenWithoutConnectionNamesGives111) {
  struct Case {
    const char* machine;
    const char* port;
  };
  const Case cases[] = {{"", kPort}, {"VX40", ""}};
  for (const Case& c : cases) {
    key_.machine_type = c.machine;
    key_.comm_port = c.port;
    testing::write_printer_key(key_);
    printer_object p;
    EXPECT_EQ(p.open(), OPOS_E_FAILURE) << "machine '" << c.machine << "' port '" << c.port << "'";
    EXPECT_EQ(p.number(PIDX_Claimed), 0);
    EXPECT_EQ(p.text(PIDXPtr_ErrorString), "the device key names no printer connection (MachineType, COMMPort)");
  }
}

TEST_F(PrinterTest, MetricsNoPrinterCanHaveFailTheOpenWithTheirName) {
  struct Case {
    const char* metrics;
    const char* named;  // the error text names this
  };
  const Case cases[] = {
      {"[Metric]\ndotSize=0.125\ndotPl=1e-300\n", "[Metric] dotPl (inches per dot) is 1e-300"},
      {"[FONTS]\nnFonts=1\n[FONT 1]\nFontW=12\nFontH=-2147483648\n", "[FONT 1] FontH is -2.14748e+09"},
      {"[Metric]\nVMotionUnit=-0.125\n", "[Metric] VMotionUnit (mm) is -0.125"},
      {"[Metric]\nwidthDot=100000\n", "[Metric] widthDot is 100000"},
      {"[Metric]\nRasterMode=7\n", "[Metric] RasterMode is 7"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.metrics);
    use_metrics(c.metrics);
    printer_object p;
    EXPECT_EQ(p.open(), OPOS_E_FAILURE);
    EXPECT_NE(p.text(PIDXPtr_ErrorString).find(c.named), std::string::npos) << p.text(PIDXPtr_ErrorString);
    EXPECT_EQ(p.call("Claim", 1000), OPOS_E_CLOSED) << "not opened";
  }
  // Mended, the same object opens.
  use_metrics("[Metric]\ndotSize=0.125\ndotPl=0.004926\n");
  printer_object p;
  EXPECT_EQ(p.open(), OPOS_SUCCESS) << p.text(PIDXPtr_ErrorString);
}

TEST_F(PrinterTest, SecondOpenGives106) {
  printer_object p;
  ASSERT_EQ(p.open(), OPOS_SUCCESS);
  EXPECT_EQ(p.open(), OPOS_E_ILLEGAL);
  EXPECT_EQ(p.result_code(), OPOS_E_ILLEGAL);
  EXPECT_TRUE(printer_->capture().empty()) << "open talks to no printer";
}

TEST_F(PrinterTest, ClaimGives112WhileTheMonitorKeepsAnsweringNotYet) {
  // A printer device that another program holds: the monitor answers "not yet" until it is free.
  const std::string device = (dir_ / "lp0").string();
  const int holder = ::open(device.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  ASSERT_GE(holder, 0);
  ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
  testing::set_port(kPort, "usblp:" + device);
  printer_object p;
  ASSERT_EQ(p.open(), OPOS_SUCCESS);
  EXPECT_EQ(p.call("Claim", 300), OPOS_E_TIMEOUT);
  EXPECT_EQ(p.number(PIDX_Claimed), 0);
  ::close(holder);
}

TEST_F(PrinterTest, ClaimOnUnopenedGives101AndSecondClaim106) {
  printer_object p;
  EXPECT_EQ(p.call("Claim", 1000), OPOS_E_CLOSED);
  ASSERT_EQ(p.open(), OPOS_SUCCESS);
  ASSERT_EQ(p.call("Claim", 1000), OPOS_SUCCESS);
  EXPECT_EQ(p.call("Claim", 1000), OPOS_E_ILLEGAL);
  EXPECT_EQ(p.result_code(), OPOS_E_ILLEGAL);
}

TEST_F(PrinterTest, ClaimSendsTheInitialisationByteForByte) {
  printer_object p;
  ASSERT_EQ(p.open(), OPOS_SUCCESS);
  p.set(PIDX_PowerNotify, OPOS_PN_ENABLED);
  p.set(PIDXPtr_FlagWhenIdle, 1);
  EXPECT_EQ(p.call("Claim", 1000), OPOS_SUCCESS);
  EXPECT_TRUE(same_bytes(printer_->capture(), kClaimSequence));
  EXPECT_EQ(p.number(PIDX_Claimed), 1);
  EXPECT_EQ(p.number(PIDX_State), OPOS_S_IDLE);
  EXPECT_EQ(p.number(PIDX_PowerState), OPOS_PS_ONLINE);
  EXPECT_EQ(p.control->calls, (call_log{"SOStatusUpdate 2001", "SOStatusUpdate 1001"}));
  EXPECT_EQ(printer_->state().code_page_table, 16);
}

TEST_F(PrinterTest, ClaimSelectsTheFontOfTheDeviceKey) {
  key_.current_font = 2;
  testing::write_printer_key(key_);
  printer_object p;
  ASSERT_EQ(p.open(), OPOS_SUCCESS);
  ASSERT_EQ(p.call("Claim", 1000), OPOS_SUCCESS);
  const std::string capture = printer_->capture();
  EXPECT_TRUE(same_bytes(capture.substr(capture.size() - 3), std::string("\x1B\x4D\x01", 3)));
  EXPECT_EQ(p.number(PIDXPtr_RecLineChars), 64) << "MAXchars of [FONT 2]";
}

TEST_F(PrinterTest, ClaimFailuresLeaveTheObjectUnclaimedAndDisconnected) {
  struct Case {
    const char* what;
    std::string options;  // sim URI options of the printer
    std::int32_t result;
    std::int32_t extended;
    std::string error;     // ErrorString
    std::string received;  // what the printer got
    call_log events;       // with PowerNotify enabled
  };
  const std::string up_to_identity = kClaimSequence.substr(0, 13);
  const std::string kPrinterStatus("\x10\x04\x01", 3);          // DLE EOT 1
  const std::string kCauses("\x10\x04\x02\x10\x04\x04", 6);  // DLE EOT 2, DLE EOT 4
  const Case cases[] = {
      {"identity byte 0x21", "?id=0x21", OPOS_E_NOHARDWARE, 0, "not a VX-40 printer (identity 0x21)",
       up_to_identity, {}},
      // No answer to the identity request, nor to the real-time status: no printer.
      {"printer that never answers", "?fault=mute", OPOS_E_NOHARDWARE, 0, "no printer answers",
       up_to_identity + kPrinterStatus, {}},
      {"off line and silent", "?fault=offline,mute", OPOS_E_NOHARDWARE, 0, "no printer answers",
       up_to_identity + kPrinterStatus, {}},
      // An off-line printer holds the identity request back but answers the real-time status:
      // it is there, off line (108), and says why.
      {"cover open", "?fault=cover_open", OPOS_E_OFFLINE, OPOS_EPTR_COVER_OPEN, "printer cover open",
       up_to_identity + kPrinterStatus + kCauses, {"SOStatusUpdate 11", "SOStatusUpdate 2003"}},
      {"paper out", "?fault=paper_out", OPOS_E_OFFLINE, OPOS_EPTR_REC_EMPTY, "receipt paper out",
       up_to_identity + kPrinterStatus + kCauses, {"SOStatusUpdate 24"}},
      {"off line", "?fault=offline", OPOS_E_OFFLINE, 0, "printer off line",
       up_to_identity + kPrinterStatus + kCauses, {}},
      {"off line with paper near end", "?fault=offline,paper_near_end", OPOS_E_OFFLINE, 0,
       "printer off line, receipt paper near end", up_to_identity + kPrinterStatus + kCauses,
       {"SOStatusUpdate 25"}},
      {"printer error", "?fault=cutter_error", OPOS_E_OFFLINE, 0, "printer error",
       up_to_identity + kPrinterStatus + kCauses, {"SOStatusUpdate 2003"}},
      // Every write times out after one byte (and its retry after one more): the claim's first
      // write fails, and so does the extended status request, which reports the printer off.
      {"write time-out", "?fault=short_write=1", OPOS_E_FAILURE, 0, "the printer takes no data and does not answer",
       std::string("\x1B\x3D\x10\x04", 4), {"SOStatusUpdate 2004"}},
      // A full receive buffer holds the first write back until it times out: off line (108),
      // and the printer, which still answers real-time requests, is asked why. On line it says
      // nothing more.
      {"busy printer", "?fault=busy", OPOS_E_OFFLINE, 0, "the printer takes no data", kPrinterStatus, {}},
      {"busy, cover open", "?fault=busy,cover_open", OPOS_E_OFFLINE, OPOS_EPTR_COVER_OPEN, "printer cover open",
       kPrinterStatus + kCauses, {"SOStatusUpdate 11", "SOStatusUpdate 2003"}},
      {"busy, paper out", "?fault=busy,paper_out", OPOS_E_OFFLINE, OPOS_EPTR_REC_EMPTY, "receipt paper out",
       kPrinterStatus + kCauses, {"SOStatusUpdate 24"}},
      {"busy, off line with paper near end", "?fault=busy,offline,paper_near_end", OPOS_E_OFFLINE, 0,
       "printer off line, receipt paper near end", kPrinterStatus + kCauses, {"SOStatusUpdate 25"}},
      {"busy, printer error", "?fault=busy,cutter_error", OPOS_E_OFFLINE, 0, "printer error",
       kPrinterStatus + kCauses, {"SOStatusUpdate 2003"}},
      {"busy, off line without cause", "?fault=busy,offline", OPOS_E_OFFLINE, 0, "printer off line",
       kPrinterStatus + kCauses, {}},
      {"busy and silent", "?fault=busy,mute", OPOS_E_FAILURE, 0, "the printer takes no data and does not answer",
       kPrinterStatus, {"SOStatusUpdate 2004"}},
  };
  testing::set_fixed_dword("TimeOutRead", 200);
  testing::set_fixed_dword("TimeOutWrite", 200);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    use_printer(c.options);
    printer_object p;
    ASSERT_EQ(p.open(), OPOS_SUCCESS);
    p.set(PIDX_PowerNotify, OPOS_PN_ENABLED);
    EXPECT_EQ(p.call("Claim", 1000), c.result);
    EXPECT_EQ(p.result_code(), c.result);
    EXPECT_EQ(p.extended_code(), c.extended);
    EXPECT_EQ(p.text(PIDXPtr_ErrorString), c.error);
    EXPECT_EQ(p.result_code(), c.result) << "reading the error text keeps the result";
    EXPECT_EQ(p.number(PIDX_Claimed), 0);
    EXPECT_EQ(monitor::sim_open_channels(uri_), 0) << "the channel is closed again";
    EXPECT_TRUE(same_bytes(printer_->capture(), c.received));
    EXPECT_EQ(p.control->calls, c.events);
  }
}

// A printer found off line at the claim can be claimed once it is back, and then prints: what
// it held back from the failed claim does not stand in the way.
TEST_F(PrinterTest, ClaimAfterTheCoverIsClosedAgainSucceeds) {
  testing::set_fixed_dword("TimeOutRead", 200);
  testing::set_fixed_dword("TimeOutWrite", 200);
  printer_->inject_fault(vprinter::fault::cover_open);
  printer_object p;
  ASSERT_EQ(p.open(), OPOS_SUCCESS);
  ASSERT_EQ(p.call("Claim", 1000), OPOS_E_OFFLINE);
  EXPECT_EQ(p.text(PIDXPtr_ErrorString), "printer cover open");
  printer_->clear_faults();
  ASSERT_EQ(p.call("Claim", 1000), OPOS_SUCCESS);
  EXPECT_EQ(p.text(PIDXPtr_ErrorString), "") << "cleared by the claim that succeeded";
  p.set(PIDX_DeviceEnabled, 1);
  EXPECT_EQ(p.call("PrintNormal", PTR_S_RECEIPT, "back\n"), OPOS_SUCCESS);
  EXPECT_EQ(p.number(PIDXPtr_CoverOpen), 0);
  EXPECT_EQ(printer_->answer_bytes_pending(), 0u) << "every answer went to the request it belongs to";
}

TEST_F(PrinterTest, ReleaseAndCloseReturnToOpenedAndClosed) {
  printer_object p;
  EXPECT_EQ(p.call("Release"), OPOS_E_CLOSED);
  EXPECT_EQ(p.call("Close"), OPOS_E_ILLEGAL);
  ASSERT_EQ(p.open(), OPOS_SUCCESS);
  EXPECT_EQ(p.call("Release"), OPOS_E_NOTCLAIMED);
  ASSERT_EQ(p.call("Claim", 1000), OPOS_SUCCESS);
  EXPECT_EQ(monitor::sim_open_channels(uri_), 1);
  EXPECT_EQ(p.call("Release"), OPOS_SUCCESS);
  EXPECT_EQ(p.number(PIDX_Claimed), 0);
  EXPECT_EQ(monitor::sim_open_channels(uri_), 0);

  ASSERT_EQ(p.call("Claim", 1000), OPOS_SUCCESS);
  EXPECT_EQ(p.call("Close"), OPOS_SUCCESS) << "close releases a claimed printer";
  EXPECT_EQ(monitor::sim_open_channels(uri_), 0);
  EXPECT_EQ(p.number(PIDX_State), 0) << "closed: properties answer 0";
  ASSERT_EQ(p.open(), OPOS_SUCCESS);
  EXPECT_EQ(p.number(PIDX_State), OPOS_S_CLOSED);
  EXPECT_EQ(p.number(PIDX_Claimed), 0);
}

TEST_F(PrinterTest, TwoClaimedObjectsShareOneChannel) {
  printer_object first, second;
  ASSERT_EQ(first.open(), OPOS_SUCCESS);
  ASSERT_EQ(second.open(), OPOS_SUCCESS);
  ASSERT_EQ(first.call("Claim", 1000), OPOS_SUCCESS);
  ASSERT_EQ(second.call("Claim", 1000), OPOS_SUCCESS);
  EXPECT_EQ(monitor::sim_open_channels(uri_), 1);
  EXPECT_TRUE(same_bytes(printer_->capture(), kClaimSequence + kClaimSequence)) << "each claim initialises";
  EXPECT_EQ(first.call("Release"), OPOS_SUCCESS);
  EXPECT_EQ(monitor::sim_open_channels(uri_), 1);
  EXPECT_EQ(second.call("Release"), OPOS_SUCCESS);
  EXPECT_EQ(monitor::sim_open_channels(uri_), 0);
}

TEST_F(PrinterTest, ObjectDestroyedWhileClaimedGivesUpItsShare) {
  {
    printer_object lost;
    lost.open_claim_enable();
  }
  EXPECT_EQ(monitor::sim_open_channels(uri_), 0);
  printer_object p;
  ASSERT_EQ(p.open(), OPOS_SUCCESS);
  EXPECT_EQ(p.call("Claim", 1000), OPOS_SUCCESS);
}

TEST_F(PrinterTest, ClaimOverTcpSendsTheSameBytesAndChecksTheIdentity) {
  struct Case {
    std::vector<std::string> args;
    std::int32_t result;
    std::string received;
  };
  const Case cases[] = {{{}, OPOS_SUCCESS, kClaimSequence},
                        {{"--id", "0x21"}, OPOS_E_NOHARDWARE, kClaimSequence.substr(0, 13)}};
  testing::set_fixed_dword("TimeOutRead", 500);
  for (const Case& c : cases) {
    testing::vprinter_daemon daemon(c.args);
    ASSERT_NE(daemon.port(), 0) << daemon.output();
    testing::set_port(kPort, daemon.uri());
    printer_object p;
    ASSERT_EQ(p.open(), OPOS_SUCCESS);
    EXPECT_EQ(p.call("Claim", 2000), c.result);
    EXPECT_EQ(p.call("Close"), OPOS_SUCCESS);
    // The daemon writes its capture file as the bytes arrive; wait a bounded time for the last.
    testing::pump_until([&] { return daemon.capture().size() >= c.received.size(); }, std::chrono::seconds(5));
    EXPECT_TRUE(same_bytes(daemon.capture(), c.received));
  }
}

// ---------------------------------------------------------------------------------------------
// Properties

TEST_F(PrinterTest, DeviceEnabledNeedsAClaim) {
  printer_object p;
  ASSERT_EQ(p.open(), OPOS_SUCCESS);
  p.set(PIDX_DeviceEnabled, 1);
  EXPECT_EQ(p.result_code(), OPOS_E_NOTCLAIMED);
  EXPECT_EQ(p.number(PIDX_DeviceEnabled), 0);
}

TEST_F(PrinterTest, CapabilitiesAnswerOnlyWhileEnabled) {
  struct Case {
    std::int32_t index;
    std::int32_t disabled;
    std::int32_t enabled;
  };
  const Case cases[] = {
      {PIDX_ServiceObjectVersion, 1004024, 1004024},
      {PIDX_CapPowerReporting, OPOS_PR_ADVANCED, OPOS_PR_ADVANCED},
      {PIDXPtr_CapCharacterSet, 0, PTR_CCS_ASCII},
      {PIDXPtr_RecSidewaysMaxLines, 0, 99},
      {8504, 0, 1}, {8516, 0, 1}, {8519, 0, 1}, {8522, 0, 1}, {8524, 0, 1}, {8529, 0, 1},
      {8531, 0, 1}, {8549, 0, 1},
      {8015, 0, 0}, {8501, 0, 0}, {8503, 0, 0}, {8505, 0, 0}, {8515, 0, 0}, {8523, 0, 0},
      {8530, 0, 0}, {8532, 0, 0}, {8547, 0, 0},
  };
  printer_object p;
  ASSERT_EQ(p.open(), OPOS_SUCCESS);
  ASSERT_EQ(p.call("Claim", 1000), OPOS_SUCCESS);
  for (const Case& c : cases) {
    EXPECT_EQ(p.number(c.index), c.disabled) << c.index;
    EXPECT_EQ(p.result_code(), OPOS_SUCCESS) << c.index;
  }
  p.set(PIDX_DeviceEnabled, 1);
  for (const Case& c : cases) EXPECT_EQ(p.number(c.index), c.enabled) << c.index;
}

TEST_F(PrinterTest, UnservedNumberIndexesGive106) {
  printer_object p;
  ASSERT_EQ(p.open(), OPOS_SUCCESS);
  for (const std::int32_t index : {PIDX_DataEventEnabled, PIDX_AutoDisable, PIDXPtr_ErrorStation,
                                   PIDXPtr_ErrorLevel, 8548 + 100, 0, -1}) {
    EXPECT_EQ(p.number(index), 0) << index;
    EXPECT_EQ(p.result_code(), OPOS_E_ILLEGAL) << index;
    EXPECT_EQ(p.number(PIDX_ResultCodeExtended), 0);
  }
}

TEST_F(PrinterTest, StringPropertiesAndTheErrorText) {
  struct Case {
    std::int32_t index;
    std::string text;
    std::int32_t result;
  };
  const Case cases[] = {
      {PIDX_CheckHealthText, "", OPOS_SUCCESS},
      {PIDX_DeviceDescription, "OPOS Printer; Driver for VX - 40 POS Printer", OPOS_SUCCESS},
      {PIDX_DeviceName, "VX40Device", OPOS_SUCCESS},
      {PIDX_ServiceObjectDescription, "Korvane - POS Printer Service Driver", OPOS_SUCCESS},
      {PIDXPtr_CharacterSetList, "437,850,852,858,860,863,865,866,1252", OPOS_SUCCESS},
      {PIDXPtr_RecLineCharsList, "6,6,8,9,12,16,24,48", OPOS_SUCCESS},
      {PIDXPtr_FontTypefaceList, "Font A,Font B", OPOS_SUCCESS},
      {PIDXPtr_RecBarCodeRotationList, "0,R90,L90,180", OPOS_SUCCESS},
      {PIDXPtr_JrnLineCharsList, "[Error]", OPOS_E_ILLEGAL},
      {1008002 + 100, "[Error]", OPOS_E_ILLEGAL},
  };
  printer_object p;
  EXPECT_EQ(p.text(PIDX_DeviceName), "") << "closed";
  ASSERT_EQ(p.open(), OPOS_SUCCESS);
  for (const Case& c : cases) {
    EXPECT_EQ(p.text(c.index), c.text) << c.index;
    EXPECT_EQ(p.result_code(), c.result) << c.index;
  }
}

TEST_F(PrinterTest, LineValuesComeFromTheMetricsFileAtOpenAndGoAtClose) {
  printer_object p;
  ASSERT_EQ(p.open(), OPOS_SUCCESS);
  const std::pair<std::int32_t, std::int32_t> opened[] = {
      {PIDXPtr_RecLineChars, 48},  {PIDXPtr_RecLineHeight, 24}, {PIDXPtr_RecLineSpacing, 30},
      {PIDXPtr_RecLineWidth, 576}, {PIDXPtr_RecSidewaysMaxChars, 138}, {PIDXPtr_CharacterSet, 1252},
      {PIDXPtr_MapMode, PTR_MM_DOTS}, {PIDXPtr_RotateSpecial, PTR_RP_NORMAL}, {PIDXPtr_RecLinesToPaperCut, 1},
  };
  for (const auto& [index, value] : opened) EXPECT_EQ(p.number(index), value) << index;
  ASSERT_EQ(p.call("Close"), OPOS_SUCCESS);
  ASSERT_EQ(p.open(), OPOS_SUCCESS);
  for (const auto& [index, value] : opened) EXPECT_EQ(p.number(index), value) << "reopened " << index;
}

TEST_F(PrinterTest, SettersCheckTheirValues) {
  struct Case {
    std::int32_t index;
    std::int32_t value;
    std::int32_t result;
    std::int32_t stored;  // read back afterwards
  };
  const Case cases[] = {
      {PIDX_BinaryConversion, 2, OPOS_SUCCESS, 2},     {PIDX_BinaryConversion, 3, OPOS_E_ILLEGAL, 2},
      {PIDX_BinaryConversion, -1, OPOS_E_ILLEGAL, 2},  {PIDX_PowerNotify, 1, OPOS_SUCCESS, 1},
      {PIDX_PowerNotify, 2, OPOS_E_ILLEGAL, 1},        {PIDXPtr_MapMode, 4, OPOS_SUCCESS, 4},
      {PIDXPtr_MapMode, 5, OPOS_E_ILLEGAL, 4},         {PIDXPtr_MapMode, 0, OPOS_E_ILLEGAL, 4},
      {PIDXPtr_RecLinesToPaperCut, 3, OPOS_SUCCESS, 3}, {PIDXPtr_RecLinesToPaperCut, 0, OPOS_E_ILLEGAL, 3},
      {PIDXPtr_RotateSpecial, 259, OPOS_SUCCESS, 259}, {PIDXPtr_RotateSpecial, 2, OPOS_E_ILLEGAL, 259},
      {PIDXPtr_FlagWhenIdle, 7, OPOS_SUCCESS, 1},      {PIDXPtr_AsyncMode, 1, OPOS_E_ILLEGAL, 0},
      {PIDXPtr_CoverOpen, 1, OPOS_E_ILLEGAL, 0},       {PIDX_State, 3, OPOS_E_ILLEGAL, OPOS_S_CLOSED},
  };
  printer_object p;
  p.set(PIDXPtr_MapMode, 3);  // closed: dropped
  ASSERT_EQ(p.open(), OPOS_SUCCESS);
  EXPECT_EQ(p.number(PIDXPtr_MapMode), PTR_MM_DOTS);
  for (const Case& c : cases) {
    p.set(c.index, c.value);
    EXPECT_EQ(p.result_code(), c.result) << c.index << " = " << c.value;
    EXPECT_EQ(p.number(c.index), c.stored) << c.index << " = " << c.value;
  }
}

TEST_F(PrinterTest, PowerNotifyWhileEnabledGives106) {
  printer_object p;
  p.open_claim_enable();
  p.set(PIDX_PowerNotify, OPOS_PN_ENABLED);
  EXPECT_EQ(p.result_code(), OPOS_E_ILLEGAL);
  EXPECT_EQ(p.number(PIDX_PowerNotify), OPOS_PN_DISABLED);
}

TEST_F(PrinterTest, AsyncModeIsStoredOnceClaimed) {
  printer_object p;
  ASSERT_EQ(p.open(), OPOS_SUCCESS);
  ASSERT_EQ(p.call("Claim", 1000), OPOS_SUCCESS);
  p.set(PIDXPtr_AsyncMode, 1);
  EXPECT_EQ(p.result_code(), OPOS_SUCCESS);
  EXPECT_EQ(p.number(PIDXPtr_AsyncMode), 1);
}

TEST_F(PrinterTest, MembersOfTheOtherStationsGive106) {
  printer_object p;
  ASSERT_EQ(p.open(), OPOS_SUCCESS);
  EXPECT_EQ(p.call("BeginInsertion", 100), OPOS_E_ILLEGAL);
  EXPECT_EQ(p.call("BeginRemoval", 100), OPOS_E_ILLEGAL);
  EXPECT_EQ(p.call("EndInsertion"), OPOS_E_ILLEGAL);
  EXPECT_EQ(p.call("EndRemoval"), OPOS_E_ILLEGAL);
  EXPECT_EQ(p.call("PrintTwoNormal", 6, "a", "b"), OPOS_E_ILLEGAL);
  EXPECT_EQ(p.result_code(), OPOS_E_ILLEGAL);
  p.set(PIDX_BinaryConversion, 0);
  ASSERT_EQ(p.result_code(), OPOS_SUCCESS);
  p.set_text(PIDX_CheckHealthText, "anything");
  EXPECT_EQ(p.result_code(), OPOS_E_ILLEGAL);
}

// ---------------------------------------------------------------------------------------------
// Events

TEST_F(PrinterTest, FrozenEventsAreDeliveredInOrderWhenThawed) {
  printer_object p;
  ASSERT_EQ(p.open(), OPOS_SUCCESS);
  p.set(PIDX_PowerNotify, OPOS_PN_ENABLED);
  p.set(PIDXPtr_FlagWhenIdle, 1);
  EXPECT_EQ(p.call("COFreezeEvents", true), OPOS_SUCCESS);
  EXPECT_EQ(p.number(PIDX_FreezeEvents), 1);
  ASSERT_EQ(p.call("Claim", 1000), OPOS_SUCCESS);  // power online, then idle
  p.set(PIDX_DeviceEnabled, 1);
  printer_->inject_fault(vprinter::fault::paper_near_end);
  p.set(PIDXPtr_RecLineSpacing, 40);  // near end reported by the status poll, then idle
  EXPECT_TRUE(p.control->calls.empty());

  EXPECT_EQ(p.call("COFreezeEvents", false), OPOS_SUCCESS);
  // The idle event of the claim cleared FlagWhenIdle: the later return to idle fires none.
  EXPECT_EQ(p.control->calls, (call_log{"SOStatusUpdate 2001", "SOStatusUpdate 1001", "SOStatusUpdate 25"}));
  EXPECT_EQ(p.number(PIDXPtr_RecNearEnd), 1);
}

// ---------------------------------------------------------------------------------------------
// Setters that send printer commands

TEST_F(PrinterTest, RecLineCharsPicksTheMagnificationFromSizeList) {
  use_metrics(
      "[Metric]\ndotSize=0.125\ndotPl=0.004926\nDEFLineSpacing=30\nwidthDot=576\nVMotionUnit=0.125\n"
      "TwipsPerDots=7\n[FONTS]\nnFonts=1\nPagecodeList=437,1252\nFontList=Font A\n"
      "[FONT 1]\nFontW=12\nFontH=24\nMAXchars=42\nMAXSidewaysChars=138\n"
      "sizeList=6,8,10,12,16,21,32,42\nSidewayslist=17,19,23,27,34,46,69,138\n");
  struct Case {
    std::int32_t chars;
    std::string sent;  // character size command
    std::int32_t line_chars;
    std::int32_t line_height;
  };
  const Case cases[] = {
      {20, std::string("\x1D\x21\x22", 3), 21, 72},
      {100, std::string("\x1D\x21\x00", 3), 42, 24},  // above MAXchars: the smallest characters
      {6, std::string("\x1D\x21\x77", 3), 6, 192},
  };
  printer_object p;
  p.open_claim_enable();
  for (const Case& c : cases) {
    const std::size_t before = printer_->capture().size();
    p.set(PIDXPtr_RecLineChars, c.chars);
    EXPECT_EQ(p.result_code(), OPOS_SUCCESS) << c.chars;
    EXPECT_TRUE(same_bytes(printer_->capture().substr(before), c.sent + kStatusPoll)) << c.chars;
    EXPECT_EQ(p.number(PIDXPtr_RecLineChars), c.line_chars) << c.chars;
    EXPECT_EQ(p.number(PIDXPtr_RecLineHeight), c.line_height) << c.chars;
  }
  // 0 changes nothing and sends nothing.
  const std::size_t before = printer_->capture().size();
  p.set(PIDXPtr_RecLineChars, 0);
  EXPECT_EQ(printer_->capture().size(), before);
  EXPECT_EQ(p.number(PIDXPtr_RecLineChars), 6);
}

TEST_F(PrinterTest, MapModeConvertsLineValues) {
  struct Case {
    std::int32_t map_mode;
    std::int32_t height;   // RecLineHeight of 24 dots
    std::int32_t width;    // RecLineWidth of 576 dots
  };
  const Case cases[] = {
      {PTR_MM_DOTS, 24, 576},
      {PTR_MM_TWIPS, 168, 4032},      // 7 twips per dot
      {PTR_MM_ENGLISH, 118, 2837},    // 0.004926 inch per dot
      {PTR_MM_METRIC, 300, 7200},     // 0.125 mm per dot
  };
  printer_object p;
  ASSERT_EQ(p.open(), OPOS_SUCCESS);
  for (const Case& c : cases) {
    p.set(PIDXPtr_MapMode, c.map_mode);
    EXPECT_EQ(p.number(PIDXPtr_RecLineHeight), c.height) << c.map_mode;
    EXPECT_EQ(p.number(PIDXPtr_RecLineWidth), c.width) << c.map_mode;
  }
}

TEST_F(PrinterTest, RecLineSpacingIsSetInMapModeUnitsAndSendsEsc3) {
  struct Case {
    std::int32_t map_mode;
    std::int32_t value;
    std::string sent;      // ESC 3 n
    std::int32_t read_back;  // in the same map mode
  };
  const Case cases[] = {
      {PTR_MM_DOTS, 40, "\x1B\x33\x28", 40},
      {PTR_MM_ENGLISH, 1000, "\x1B\x33\xCC", 1004},  // one inch: truncate(1 / 0.004926) + 1 = 204 dots
      {PTR_MM_METRIC, 500, "\x1B\x33\x28", 500},     // 5 mm: truncate(39.99...) + 1 = 40 dots
      {PTR_MM_TWIPS, 140, "\x1B\x33\x14", 140},      // 20 dots of 7 twips
      {PTR_MM_DOTS, 300, "\x1B\x33\xFF", 300},       // beyond one byte: held to 255
  };
  printer_object p;
  p.open_claim_enable();
  for (const Case& c : cases) {
    p.set(PIDXPtr_MapMode, c.map_mode);
    const std::size_t before = printer_->capture().size();
    p.set(PIDXPtr_RecLineSpacing, c.value);
    EXPECT_EQ(p.result_code(), OPOS_SUCCESS);
    EXPECT_TRUE(same_bytes(printer_->capture().substr(before), c.sent + kStatusPoll)) << c.value;
    EXPECT_EQ(p.number(PIDXPtr_RecLineSpacing), c.read_back) << c.map_mode << " " << c.value;
  }
}

TEST_F(PrinterTest, RecLineHeightSendsTheSizeAndKeepsTheSpacingAbove) {
  printer_object p;
  p.open_claim_enable();
  const std::size_t before = printer_->capture().size();
  p.set(PIDXPtr_RecLineHeight, 48);  // double height of font A; spacing above stays 30 - 24
  EXPECT_EQ(p.result_code(), OPOS_SUCCESS);
  EXPECT_TRUE(same_bytes(printer_->capture().substr(before),
                         std::string("\x1D\x21\x01", 3) + kStatusPoll + "\x1B\x33\x36" + kStatusPoll));
  EXPECT_EQ(p.number(PIDXPtr_RecLineHeight), 48);
  EXPECT_EQ(p.number(PIDXPtr_RecLineSpacing), 54);
  EXPECT_EQ(p.number(PIDXPtr_RecLineChars), 24);
}

TEST_F(PrinterTest, CharacterSetSendsEscTWithoutAStatusPoll) {
  struct Case {
    std::int32_t codepage;
    std::int32_t result;
    std::string sent;
    std::int32_t stored;
  };
  const Case cases[] = {
      {850, OPOS_SUCCESS, std::string("\x1B\x74\x02", 3), 850},
      {1252, OPOS_SUCCESS, std::string("\x1B\x74\x10", 3), 1252},
      {866, OPOS_SUCCESS, std::string("\x1B\x74\x11", 3), 866},
      {1253, OPOS_E_ILLEGAL, "", 866},  // not in CharacterSetList
  };
  printer_object p;
  p.open_claim_enable();
  for (const Case& c : cases) {
    const std::size_t before = printer_->capture().size();
    p.set(PIDXPtr_CharacterSet, c.codepage);
    EXPECT_EQ(p.result_code(), c.result) << c.codepage;
    EXPECT_TRUE(same_bytes(printer_->capture().substr(before), c.sent)) << c.codepage;
    EXPECT_EQ(p.number(PIDXPtr_CharacterSet), c.stored) << c.codepage;
  }
}

TEST_F(PrinterTest, CommandSettersNeedAnEnabledDevice) {
  printer_object p;
  ASSERT_EQ(p.open(), OPOS_SUCCESS);
  p.set(PIDXPtr_RecLineSpacing, 40);
  EXPECT_EQ(p.result_code(), OPOS_E_DISABLED);
  ASSERT_EQ(p.call("Claim", 1000), OPOS_SUCCESS);
  p.set(PIDXPtr_CharacterSet, 850);
  EXPECT_EQ(p.result_code(), OPOS_E_DISABLED);
  EXPECT_TRUE(same_bytes(printer_->capture(), kClaimSequence));
  EXPECT_EQ(p.number(PIDXPtr_RecLineSpacing), 30);
}

TEST_F(PrinterTest, StatusAfterACommandIsDecodedIntoResultAndEvents) {
  struct Case {
    const char* what;
    vprinter::fault fault;
    std::int32_t result;
    std::int32_t extended;
    call_log events;
    std::int32_t spacing;  // RecLineSpacing afterwards (unchanged when the command failed)
  };
  const Case cases[] = {
      {"cover open", vprinter::fault::cover_open, OPOS_E_EXTENDED, OPOS_EPTR_COVER_OPEN,
       {"SOStatusUpdate 11", "SOStatusUpdate 2003"}, 30},
      {"paper near end", vprinter::fault::paper_near_end, OPOS_SUCCESS, 0, {"SOStatusUpdate 25"}, 40},
      // Off line without paper, the printer leaves GS r 1 unanswered: the extended status read
      // finds the paper end.
      {"paper out", vprinter::fault::paper_out, OPOS_E_EXTENDED, OPOS_EPTR_REC_EMPTY,
       {"SOStatusUpdate 24", "SOStatusUpdate 2003"}, 30},
      // The command went out whole; only its confirmation is missing: a time-out.
      {"no answer", vprinter::fault::mute, OPOS_E_TIMEOUT, 0, {"SOStatusUpdate 2004"}, 30},
  };
  testing::set_fixed_dword("TimeOutRead", 200);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    use_printer("");
    printer_object p;
    ASSERT_EQ(p.open(), OPOS_SUCCESS);
    p.set(PIDX_PowerNotify, OPOS_PN_ENABLED);
    ASSERT_EQ(p.call("Claim", 1000), OPOS_SUCCESS);
    p.set(PIDX_DeviceEnabled, 1);
    p.control->calls.clear();
    printer_->inject_fault(c.fault);
    p.set(PIDXPtr_RecLineSpacing, 40);
    EXPECT_EQ(p.result_code(), c.result);
    EXPECT_EQ(p.number(PIDX_ResultCodeExtended), c.extended);
    EXPECT_EQ(p.control->calls, c.events);
    EXPECT_EQ(p.number(PIDXPtr_RecLineSpacing), c.spacing);
    EXPECT_EQ(p.number(PIDX_State), OPOS_S_IDLE);

    // Once the condition is gone, the next command reports the recovery.
    printer_->clear_faults();
    p.control->calls.clear();
    p.set(PIDXPtr_RecLineSpacing, 42);
    EXPECT_EQ(p.result_code(), OPOS_SUCCESS);
    EXPECT_EQ(p.number(PIDXPtr_CoverOpen), 0);
    EXPECT_EQ(p.number(PIDXPtr_RecNearEnd), 0);
    EXPECT_EQ(p.number(PIDX_PowerState), OPOS_PS_ONLINE);
  }
}

TEST_F(PrinterTest, MissingMetricsFileLeavesZerosAndNoDivisionIsReached) {
  key_.ini_set = (dir_ / "absent.ini").string();
  testing::write_printer_key(key_);
  printer_object p;
  p.open_claim_enable();
  EXPECT_EQ(p.number(PIDXPtr_RecLineHeight), 0);
  EXPECT_EQ(p.text(PIDXPtr_CharacterSetList), "");
  // Conversions divide by TwipsPerDots, dotPl, dotSize and VMotionUnit: all 0 here.
  for (const std::int32_t map_mode : {PTR_MM_DOTS, PTR_MM_TWIPS, PTR_MM_ENGLISH, PTR_MM_METRIC}) {
    p.set(PIDXPtr_MapMode, map_mode);
    const std::size_t before = printer_->capture().size();
    p.set(PIDXPtr_RecLineSpacing, 1000);
    EXPECT_EQ(p.result_code(), OPOS_SUCCESS) << map_mode;
    EXPECT_TRUE(same_bytes(printer_->capture().substr(before), std::string("\x1B\x33\x00", 3) + kStatusPoll));
    EXPECT_EQ(p.number(PIDXPtr_RecLineSpacing), map_mode == PTR_MM_DOTS ? 1000 : 0) << map_mode;
    p.set(PIDXPtr_RecLineHeight, 100);
    p.set(PIDXPtr_RecLineChars, 20);
  }
  p.set(PIDXPtr_CharacterSet, 850);
  EXPECT_EQ(p.result_code(), OPOS_E_ILLEGAL) << "no code page list";
}

}  // namespace
}  // namespace devsvc
