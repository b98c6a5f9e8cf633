// The line display service object as the line display control drives it: created by ProgID from
// the registered Devsvc library, talking through the I/O monitor to an in-process virtual
// printer whose display shows the result. Bytes are checked against what the printer received.
#include <gtest/gtest.h>

#include <functional>

#include "core/opos.h"
#include "display_fixture.h"
#include "monitor/sim.h"

namespace devsvc::display_test {
namespace {

using platform::Variant;

// A refresh of a two-line, twenty-column display: cursor home and both rows.
std::string refresh(const std::string& row0, const std::string& row1) {
  return "\x0B" + row0 + std::string(20 - row0.size(), ' ') + row1 + std::string(20 - row1.size(), ' ');
}
// The blink command DisplayText ends with.
const std::string kNoBlink("\x1F\x45\x00", 3);
const std::string kBlink("\x1F\x45\x0A", 3);

// ---------------------------------------------------------------------------------------------
// Open, configuration, claim, release, close

TEST_F(DisplayTest, OpenFailuresLeaveTheObjectClosed) {
  struct Case {
    const char* name;
    const char* machine;
    const char* port;
    bool ini;
    const char* device;
    std::int32_t result;
  };
  const Case cases[] = {
      {"no device key", "VX40", "VDSP1", true, "NoSuchDisplay", OPOS_E_NOEXIST},
      {"no machine type", "", "VDSP1", true, kDisplayDevice, OPOS_E_FAILURE},
      {"no port", "VX40", "", true, kDisplayDevice, OPOS_E_FAILURE},
      {"no INI file", "VX40", "VDSP1", false, kDisplayDevice, OPOS_E_NOEXIST},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    write_display_key(kDisplayDevice, c.machine, c.port, c.ini ? ini_ : dir_.path() / "missing.ini");
    service_client d;
    EXPECT_EQ(d.open("LineDisplay", c.device), c.result);
    EXPECT_EQ(d.number(PIDX_ResultCode), 0) << "a closed object answers 0";
    EXPECT_EQ(d.call("Claim", 100), OPOS_E_CLOSED);
  }
  EXPECT_TRUE(printer_->capture().empty());
}

TEST_F(DisplayTest, OpenReadsTheConfigurationAndTalksToNoPrinter) {
  write_ini(
      "[DISPLAY]\nNColoums=40\nNRows=4\nType=2\nCharacterList=998,999\n"
      "[CAPABILITES]\nBrightness=1\nBlinkType=1\n");
  service_client d;
  ASSERT_EQ(d.open(), OPOS_SUCCESS);
  EXPECT_EQ(d.open(), OPOS_E_ILLEGAL);
  struct Row {
    std::int32_t index;
    std::int32_t value;
  };
  const Row rows[] = {
      {kDeviceColumns, 40}, {kDeviceRows, 4},  {kDeviceWindows, 5}, {kCapVMarquee, 1},
      {5505, 1},            {5501, 1},         {5502, 1},           {5503, 1},
      {kCharacterSet, 999}, {kDeviceBrightness, 100}, {kColumns, 40}, {kRows, 4},
      {kCurrentWindow, 0},  {PIDX_State, OPOS_S_IDLE}, {PIDX_PowerState, 2000},
      {PIDX_CapPowerReporting, 1}, {PIDX_ServiceObjectVersion, 1004024}, {PIDX_Claimed, 0},
      {5009, 0}, {5012, 0}, {5504, 0}, {5506, 0},
  };
  for (const Row& r : rows) EXPECT_EQ(d.number(r.index), r.value) << "index " << r.index;
  EXPECT_EQ(d.text(PIDX_DeviceName), "VX40LineControl");
  EXPECT_EQ(d.text(PIDX_DeviceDescription), "OPOS Line Display, Driver for VX - 40 POS Printer");
  EXPECT_EQ(d.text(PIDX_ServiceObjectDescription), "Korvane - POS Printer Service Driver");
  EXPECT_EQ(d.text(1005001), "998,999");
  EXPECT_TRUE(printer_->capture().empty()) << "open talks to no printer";
}

TEST_F(DisplayTest, OneRowDisplayHasNoWindowsAndNoVerticalMarquee) {
  struct Case {
    const char* rows;
    std::int32_t windows;
    std::int32_t vmarquee;
  };
  for (const Case& c : {Case{"1", 0, 0}, Case{"2", 3, 1}}) {
    write_ini(std::string("[DISPLAY]\nNRows=") + c.rows + "\n");
    service_client d;
    ASSERT_EQ(d.open(), OPOS_SUCCESS);
    EXPECT_EQ(d.number(kDeviceWindows), c.windows) << c.rows << " rows";
    EXPECT_EQ(d.number(kCapVMarquee), c.vmarquee) << c.rows << " rows";
  }
}

TEST_F(DisplayTest, UnservedPropertiesGive106) {
  service_client d;
  ASSERT_EQ(d.open(), OPOS_SUCCESS);
  for (const std::int32_t index : {PIDX_FreezeEvents, PIDX_OutputID, 8002, 5018}) {
    EXPECT_EQ(d.number(index), 0) << index;
    EXPECT_EQ(d.result_code(), OPOS_E_ILLEGAL) << index;
  }
  EXPECT_EQ(d.text(1008001), "[Error]");
  EXPECT_EQ(d.result_code(), OPOS_E_ILLEGAL);
  for (const std::int32_t index : {PIDX_FreezeEvents, 5012, kColumns, kDeviceRows}) {
    EXPECT_EQ(d.set(index, 1), OPOS_E_ILLEGAL) << index;
  }
  EXPECT_TRUE(platform::call(d.get(), "SetPropertyString", 1000001, "x").ok());
  EXPECT_EQ(d.result_code(), OPOS_E_ILLEGAL);
  EXPECT_EQ(d.call("COFreezeEvents", true), OPOS_E_ILLEGAL);
  EXPECT_EQ(d.call("SetDescriptor", 0, 1), OPOS_E_ILLEGAL);
  EXPECT_EQ(d.call("ClearDescriptors"), OPOS_E_ILLEGAL);
}

TEST_F(DisplayTest, ClaimInitialisesTheDisplayByteForByte) {
  write_ini("[DISPLAY]\nCharacterInternational=3\n");
  service_client d;
  EXPECT_EQ(d.call("Claim", 1000), OPOS_E_CLOSED);
  ASSERT_EQ(d.open(), OPOS_SUCCESS);
  ASSERT_EQ(d.call("Claim", 1000), OPOS_SUCCESS);
  EXPECT_TRUE(same_bytes(printer_->capture(),
                         kSelectDisplay + kSelectDisplay + "\x1B\x40\x1F\x01\x1B\x52\x03\x1B\x74\x01" + kSelectPrinter));
  EXPECT_EQ(d.call("Claim", 1000), OPOS_E_ILLEGAL);
  EXPECT_EQ(d.number(PIDX_Claimed), 1);
  const vprinter::display_state shown = printer_->display();
  EXPECT_EQ(shown.international, 3);
  EXPECT_EQ(shown.mode, 1) << "overwrite mode";
  EXPECT_EQ(printer_->state().peripheral, 1) << "the printer is selected again";
}

TEST_F(DisplayTest, ClaimSelectsTheCharacterSetAndBrightnessInForce) {
  write_ini("[CAPABILITES]\nBrightness=1\nBrightnessPercentage=-1,0,1,2,3\n");
  const std::string base = kSelectDisplay + kSelectDisplay + "\x1B\x40\x1F\x01\x1B\x52\x06";
  const std::string ansi("\x1B\x74\x01", 3);
  const std::string ascii("\x1B\x74\x00", 3);
  // Claims, enables, runs `step`, disables and releases.
  const auto claimed = [](std::function<void(service_client&)> step) {
    return [step](service_client& d) {
      ASSERT_EQ(d.call("Claim", 1000), OPOS_SUCCESS);
      ASSERT_EQ(d.set(PIDX_DeviceEnabled, 1), OPOS_SUCCESS);
      step(d);
      ASSERT_EQ(d.set(PIDX_DeviceEnabled, 0), OPOS_SUCCESS);
      ASSERT_EQ(d.call("Release"), OPOS_SUCCESS);
    };
  };
  struct Case {
    const char* name;
    std::function<void(service_client&)> before;  // after open, before the claim checked
    std::string claim;                            // between the initialisation and ESC = 1
    int code_table;
    int brightness;  // the display's level afterwards (4 after initialising)
  };
  const Case cases[] = {
      {"a first claim selects the ANSI table", [](service_client&) {}, ansi, 1, 4},
      {"ASCII chosen before a release stays", claimed([](service_client& d) { EXPECT_EQ(d.set(kCharacterSet, 998), 0); }),
       ascii, 0, 4},
      {"a brightness set while released goes out at the claim",
       [](service_client& d) { EXPECT_EQ(d.set(kDeviceBrightness, 2), OPOS_SUCCESS); }, ansi + "\x1F\x58\x02", 1, 2},
      {"a brightness set while claimed is sent again", claimed([](service_client& d) {
         EXPECT_EQ(d.set(kDeviceBrightness, 3), OPOS_SUCCESS);
       }),
       ansi + "\x1F\x58\x03", 1, 3},
      {"a level the display lacks is refused while released too",
       [](service_client& d) { EXPECT_EQ(d.set(kDeviceBrightness, 0), OPOS_E_ILLEGAL); }, ansi, 1, 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    service_client d;
    ASSERT_EQ(d.open(), OPOS_SUCCESS);
    c.before(d);
    mark();
    ASSERT_EQ(d.call("Claim", 1000), OPOS_SUCCESS);
    EXPECT_TRUE(same_bytes(since_mark(), base + c.claim + kSelectPrinter));
    EXPECT_EQ(printer_->display().code_table, c.code_table);
    EXPECT_EQ(printer_->display().brightness, c.brightness);
    ASSERT_EQ(d.call("Close"), OPOS_SUCCESS);
  }
}

TEST_F(DisplayTest, AccentedTextShowsRightAfterTheClaim) {
  service_client d;
  d.open_claim_enable();
  ASSERT_EQ(d.call("DisplayText", "Caf\xC3\xA9 \xE2\x82\xAC" "3", 0), OPOS_SUCCESS);
  EXPECT_EQ(printer_->display_text()[0], "Caf\xC3\xA9 \xE2\x82\xAC" "3" + std::string(13, ' '))
      << "the display shows code page 1252 text in its table 1";
}

TEST_F(DisplayTest, EnablingNeedsAClaimAndSendsNothing) {
  service_client d;
  ASSERT_EQ(d.open(), OPOS_SUCCESS);
  EXPECT_EQ(d.set(PIDX_DeviceEnabled, 1), OPOS_E_NOTCLAIMED);
  EXPECT_EQ(d.number(PIDX_DeviceEnabled), 0);
  ASSERT_EQ(d.call("Claim", 1000), OPOS_SUCCESS);
  mark();
  EXPECT_EQ(d.set(PIDX_DeviceEnabled, 1), OPOS_SUCCESS);
  EXPECT_EQ(d.set(PIDX_PowerNotify, 1), OPOS_E_ILLEGAL) << "not while enabled";
  EXPECT_TRUE(since_mark().empty());
}

TEST_F(DisplayTest, ReleaseBlanksTheDisplayAndKeepsDeviceEnabled) {
  service_client d;
  d.open_claim_enable();
  ASSERT_EQ(d.call("DisplayText", "Hello", 0), OPOS_SUCCESS);
  mark();
  EXPECT_EQ(d.call("Release"), OPOS_SUCCESS);
  EXPECT_TRUE(same_bytes(since_mark(), kSelectDisplay + refresh("", "") + kSelectPrinter + kSelectPrinter));
  EXPECT_EQ(printer_->display().lines[0], std::string(20, ' '));
  EXPECT_EQ(d.number(PIDX_Claimed), 0);
  EXPECT_EQ(d.number(PIDX_DeviceEnabled), 1);
  EXPECT_EQ(d.call("DisplayText", "x", 0), OPOS_E_NOTCLAIMED) << "enabled but no longer claimed";
  EXPECT_EQ(d.call("Release"), OPOS_E_NOTCLAIMED);
  EXPECT_EQ(monitor::sim_open_channels(uri_), 0);
  EXPECT_EQ(d.call("Close"), OPOS_SUCCESS);
  EXPECT_EQ(d.call("Close"), OPOS_E_ILLEGAL);
  EXPECT_EQ(d.call("Release"), OPOS_E_CLOSED);
}

TEST_F(DisplayTest, CloseReleasesAClaimedDisplay) {
  service_client d;
  d.open_claim_enable();
  EXPECT_EQ(monitor::sim_open_channels(uri_), 1);
  EXPECT_EQ(d.call("Close"), OPOS_SUCCESS);
  EXPECT_EQ(monitor::sim_open_channels(uri_), 0);
  EXPECT_EQ(d.number(kDeviceRows), 0) << "closed";
  EXPECT_EQ(d.open(), OPOS_SUCCESS) << "and opens again";
  EXPECT_EQ(d.number(kDeviceRows), 2);
}

TEST_F(DisplayTest, OperationsCheckOpenEnabledAndClaimedInThatOrder) {
  service_client d;
  EXPECT_EQ(d.call("DisplayText", "x", 0), OPOS_E_CLOSED);
  ASSERT_EQ(d.open(), OPOS_SUCCESS);
  EXPECT_EQ(d.call("DisplayText", "x", 0), OPOS_E_DISABLED);
  EXPECT_EQ(d.call("ClearText"), OPOS_E_DISABLED);
  EXPECT_EQ(d.call("CheckHealth", 1), OPOS_E_DISABLED);
  EXPECT_EQ(d.set(kCharacterSet, 998), OPOS_E_DISABLED);
  std::int32_t data = 0;
  std::string text = "x";
  EXPECT_EQ(d.call("DirectIO", 1, Variant::ref(data), Variant::ref(text)), OPOS_E_DISABLED);
  ASSERT_EQ(d.call("Claim", 1000), OPOS_SUCCESS);
  EXPECT_EQ(d.call("ScrollText", 1, 1), OPOS_E_DISABLED);
  EXPECT_EQ(d.call("RefreshWindow", 0), OPOS_E_DISABLED);
  EXPECT_EQ(d.call("CreateWindow", 0, 0, 1, 10, 1, 10), OPOS_E_DISABLED);
}

// ---------------------------------------------------------------------------------------------
// Text

TEST_F(DisplayTest, DisplayTextRefreshesTheScreenFromHome) {
  service_client d;
  d.open_claim_enable();
  mark();
  EXPECT_EQ(d.call("DisplayText", "Coffee          2.50Total", 0), OPOS_SUCCESS);
  EXPECT_TRUE(same_bytes(since_mark(),
                         kSelectDisplay + refresh("Coffee          2.50", "Total") + kNoBlink + kSelectPrinter));
  EXPECT_EQ(printer_->display().lines,
            (std::vector<std::string>{"Coffee          2.50", "Total               "}));
  mark();
  EXPECT_EQ(d.call("DisplayText", "Thanks", 1), OPOS_SUCCESS);
  EXPECT_TRUE(same_bytes(since_mark(), kSelectDisplay + refresh("Thanks          2.50", "Total") + kBlink +
                                           kSelectPrinter))
      << "without CursorUpdate the text starts at row 0, column 0 again";
  EXPECT_EQ(printer_->display().blink_interval, 10);
}

TEST_F(DisplayTest, CarriageReturnAndLineFeedMoveInTheScreenImage) {
  struct Case {
    const char* name;
    bool cursor_update;
    std::string text;
    std::string row0, row1;
    std::int32_t cursor_row, cursor_column;  // with CursorUpdate
  };
  const Case cases[] = {
      {"CR LF starts the second row", false, "Coffee\r\n2.50", "Coffee", "2.50", 0, 0},
      {"LF keeps the column", false, "Total\n9.40", "Total", "     9.40", 0, 0},
      {"CR writes over the row's start", false, "12345\rab", "ab345", "", 0, 0},
      {"the cursor follows", true, "ab\r\ncd", "ab", "cd", 1, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    service_client d;
    d.open_claim_enable();
    ASSERT_EQ(d.set(kCursorUpdate, c.cursor_update ? 1 : 0), OPOS_SUCCESS);
    mark();
    EXPECT_EQ(d.call("DisplayText", c.text, 0), OPOS_SUCCESS);
    EXPECT_TRUE(same_bytes(since_mark(), kSelectDisplay + refresh(c.row0, c.row1) + kNoBlink + kSelectPrinter))
        << "no CR or LF byte goes into the refresh";
    EXPECT_EQ(d.number(kCursorRow), c.cursor_row);
    EXPECT_EQ(d.number(kCursorColumn), c.cursor_column);
    ASSERT_EQ(d.call("Close"), OPOS_SUCCESS);
  }
}

TEST_F(DisplayTest, TextLongerThanTheWindowIsCutAtItsLastRow) {
  service_client d;
  d.open_claim_enable();
  mark();
  EXPECT_EQ(d.call("DisplayText", std::string(20, 'a') + std::string(20, 'b') + "overflow", 0), OPOS_SUCCESS);
  EXPECT_TRUE(same_bytes(since_mark(),
                         kSelectDisplay + refresh(std::string(20, 'a'), std::string(20, 'b')) + kNoBlink +
                             kSelectPrinter));
}

TEST_F(DisplayTest, CursorUpdateContinuesWhereTheTextEnded) {
  service_client d;
  d.open_claim_enable();
  ASSERT_EQ(d.set(kCursorUpdate, 1), OPOS_SUCCESS);
  ASSERT_EQ(d.call("DisplayText", std::string(20, 'x'), 0), OPOS_SUCCESS);
  EXPECT_EQ(d.number(kCursorRow), 0);
  EXPECT_EQ(d.number(kCursorColumn), 20) << "the cursor stands past the last column";
  ASSERT_EQ(d.call("DisplayText", "yz", 0), OPOS_SUCCESS);
  EXPECT_EQ(d.number(kCursorRow), 1);
  EXPECT_EQ(d.number(kCursorColumn), 2);
  EXPECT_EQ(printer_->display().lines[1].substr(0, 3), "yz ");
  EXPECT_EQ(d.set(kCursorColumn, 21), OPOS_E_ILLEGAL);
  EXPECT_EQ(d.set(kCursorRow, 2), OPOS_SUCCESS) << "the row may stand just below the last";
  EXPECT_EQ(d.set(kCursorRow, 3), OPOS_E_ILLEGAL);
}

TEST_F(DisplayTest, DisplayTextAtPutsTextWhereAsked) {
  service_client d;
  d.open_claim_enable();
  mark();
  EXPECT_EQ(d.call("DisplayTextAt", 1, 15, "Total", 0), OPOS_SUCCESS);
  EXPECT_TRUE(same_bytes(since_mark(), kSelectDisplay + refresh("", "               Total") + kNoBlink + kSelectPrinter));
  EXPECT_EQ(d.number(kCursorRow), 0) << "without CursorUpdate the cursor goes home";
  EXPECT_EQ(d.number(kCursorColumn), 0);
  ASSERT_EQ(d.set(kCursorUpdate, 1), OPOS_SUCCESS);
  EXPECT_EQ(d.call("DisplayTextAt", 0, 2, "ab", 0), OPOS_SUCCESS);
  EXPECT_EQ(d.number(kCursorColumn), 4);
  struct Case {
    std::int32_t row, column;
  };
  for (const Case& c : {Case{-1, 0}, Case{0, -1}, Case{2, 0}, Case{0, 20}}) {
    mark();
    EXPECT_EQ(d.call("DisplayTextAt", c.row, c.column, "x", 0), OPOS_E_ILLEGAL) << c.row << "," << c.column;
    EXPECT_TRUE(since_mark().empty());
  }
}

TEST_F(DisplayTest, ClearTextBlanksTheWindow) {
  service_client d;
  d.open_claim_enable();
  ASSERT_EQ(d.call("DisplayText", "Some text", 0), OPOS_SUCCESS);
  mark();
  EXPECT_EQ(d.call("ClearText"), OPOS_SUCCESS);
  EXPECT_TRUE(same_bytes(since_mark(), kSelectDisplay + refresh("", "") + kSelectPrinter));
  EXPECT_EQ(printer_->display().lines[0], std::string(20, ' '));
}

TEST_F(DisplayTest, InitMarqueeStoresTextWithoutShowingIt) {
  service_client d;
  d.open_claim_enable();
  ASSERT_EQ(d.set(kMarqueeType, 5), OPOS_SUCCESS);
  mark();
  EXPECT_EQ(d.call("DisplayText", "waiting", 0), OPOS_SUCCESS);
  EXPECT_TRUE(same_bytes(since_mark(), kSelectDisplay + kSelectPrinter)) << "only the empty burst";
  EXPECT_EQ(printer_->display().lines[0], std::string(20, ' '));
  ASSERT_EQ(d.set(kMarqueeType, 0), OPOS_SUCCESS);
  ASSERT_EQ(d.set(kMarqueeType, 0), OPOS_SUCCESS) << "the same type again changes nothing";
  mark();
  EXPECT_EQ(d.call("RefreshWindow", 0), OPOS_SUCCESS);
  EXPECT_TRUE(same_bytes(since_mark(), kSelectDisplay + refresh("waiting", "") + kSelectPrinter));
}

// ---------------------------------------------------------------------------------------------
// Character sets and encoding

TEST_F(DisplayTest, CharacterSetSelectsTheCodeTableInABurst) {
  struct Case {
    std::int32_t value;
    std::int32_t result;
    std::string bytes;
  };
  const Case cases[] = {
      {998, OPOS_SUCCESS, kSelectDisplay + std::string("\x1B\x74\x00", 3) + kSelectPrinter},
      {999, OPOS_SUCCESS, kSelectDisplay + std::string("\x1B\x74\x01", 3) + kSelectPrinter},
      {1252, OPOS_E_ILLEGAL, ""},
      {997, OPOS_E_ILLEGAL, ""},
  };
  service_client d;
  d.open_claim_enable();
  for (const Case& c : cases) {
    mark();
    EXPECT_EQ(d.set(kCharacterSet, c.value), c.result) << c.value;
    EXPECT_TRUE(same_bytes(since_mark(), c.bytes)) << c.value;
  }
  EXPECT_EQ(d.number(kCharacterSet), 999) << "1252 was refused";
  EXPECT_EQ(printer_->display().code_table, 1);
}

TEST_F(DisplayTest, TextIsEncodedInTheCharacterSet) {
  service_client d;
  d.open_claim_enable();
  mark();
  ASSERT_EQ(d.call("DisplayText", "Caf\xC3\xA9 \xE2\x82\xAC" "3", 0), OPOS_SUCCESS);
  EXPECT_TRUE(same_bytes(since_mark(), kSelectDisplay + refresh("Caf\xE9 \x80" "3", "") + kNoBlink + kSelectPrinter))
      << "ANSI (999) is code page 1252, one byte per character";
  ASSERT_EQ(d.set(kCharacterSet, 998), OPOS_SUCCESS);
  mark();
  ASSERT_EQ(d.call("DisplayText", "Caf\xC3\xA9", 0), OPOS_SUCCESS);
  EXPECT_TRUE(same_bytes(since_mark(), kSelectDisplay + refresh("Caf? \x80" "3", "") + kNoBlink + kSelectPrinter))
      << "ASCII (998) has no e acute";
  ASSERT_EQ(d.set(PIDX_BinaryConversion, 1), OPOS_SUCCESS);
  mark();
  EXPECT_EQ(d.call("DisplayText", "4", 0), OPOS_E_FAILURE) << "nibble text of odd length";
  EXPECT_TRUE(since_mark().empty());
  EXPECT_EQ(d.call("DisplayText", ">9", 0), OPOS_SUCCESS) << "decoded bytes are sent as they are";
  EXPECT_EQ(printer_->display().lines[0].substr(0, 2), "\xE9" "a");
  EXPECT_EQ(d.set(PIDX_BinaryConversion, 3), OPOS_E_ILLEGAL);
}

// ---------------------------------------------------------------------------------------------
// Direct I/O, health, brightness

TEST_F(DisplayTest, DirectIOSendsTheBytesWithNulPlaceholders) {
  service_client d;
  d.open_claim_enable();
  std::int32_t data = 7;
  std::string text = "1B<NID>";
  mark();
  EXPECT_EQ(d.call("DirectIO", 1, Variant::ref(data), Variant::ref(text)), OPOS_SUCCESS);
  EXPECT_TRUE(same_bytes(since_mark(), kSelectDisplay + std::string("\x31\x42\x00", 3) + kSelectPrinter));
  EXPECT_EQ(data, 7);
  EXPECT_EQ(text, "1B<NID>");
  EXPECT_EQ(d.number(PIDX_State), OPOS_S_IDLE);

  mark();
  EXPECT_EQ(d.call("DirectIO", 2, Variant::ref(data), Variant::ref(text)), OPOS_E_ILLEGAL);
  EXPECT_TRUE(since_mark().empty());
  ASSERT_EQ(d.set(PIDX_BinaryConversion, 2), OPOS_SUCCESS);
  text = "0270";
  mark();
  EXPECT_EQ(d.call("DirectIO", 1, Variant::ref(data), Variant::ref(text)), OPOS_E_FAILURE);
  EXPECT_TRUE(same_bytes(since_mark(), kSelectDisplay + kSelectPrinter));
  text = "012";
  mark();
  EXPECT_EQ(d.call("DirectIO", 1, Variant::ref(data), Variant::ref(text)), OPOS_SUCCESS);
  EXPECT_TRUE(same_bytes(since_mark(), kSelectDisplay + "\x0C" + kSelectPrinter));
}

TEST_F(DisplayTest, CheckHealthRunsTheSelfTestExternally) {
  service_client d;
  d.open_claim_enable();
  mark();
  EXPECT_EQ(d.call("CheckHealth", 1), OPOS_SUCCESS);
  EXPECT_EQ(d.text(PIDX_CheckHealthText), "Internal Check: successfull");
  EXPECT_TRUE(same_bytes(since_mark(), kSelectDisplay + kSelectPrinter));
  mark();
  EXPECT_EQ(d.call("CheckHealth", 2), OPOS_SUCCESS);
  EXPECT_EQ(d.text(PIDX_CheckHealthText), "External Check: successfull");
  EXPECT_TRUE(same_bytes(since_mark(), kSelectDisplay + "\x1F\x40" + kSelectPrinter));
  EXPECT_EQ(printer_->display().self_tests, 1);
  EXPECT_EQ(d.call("CheckHealth", 3), OPOS_E_ILLEGAL);
}

TEST_F(DisplayTest, BrightnessComesFromTheTable) {
  write_ini("[CAPABILITES]\nBrightness=1\nBrightnessPercentage=-1,0,1,2,3\n");
  service_client d;
  d.open_claim_enable();
  struct Case {
    std::int32_t value;
    std::int32_t result;
    std::string command;  // between the selects
    std::int32_t brightness;
  };
  const Case cases[] = {
      {1, OPOS_SUCCESS, "\x1F\x58\x01", 1},
      {4, OPOS_SUCCESS, "\x1F\x58\x04", 4},
      {2, OPOS_SUCCESS, "\x1F\x58\x02", 2},
      {50, OPOS_SUCCESS, "\x1F\x58\x04", 4},  // past the table: its last step
      {0, OPOS_E_ILLEGAL, "", 4},             // -1 marks a level the display lacks
      {-3, OPOS_E_ILLEGAL, "", 4},
  };
  for (const Case& c : cases) {
    mark();
    EXPECT_EQ(d.set(kDeviceBrightness, c.value), c.result) << c.value;
    EXPECT_TRUE(same_bytes(since_mark(), kSelectDisplay + c.command + kSelectPrinter)) << c.value;
    EXPECT_EQ(printer_->display().brightness, c.brightness) << c.value;
  }
  EXPECT_EQ(d.number(kDeviceBrightness), 50) << "the last value taken";
}

TEST_F(DisplayTest, WriteFailuresBecomeOposCodes) {
  struct Case {
    const char* name;
    vprinter::fault fault;
    int value;
    std::int32_t result;
  };
  const Case cases[] = {
      {"a short write is a time-out", vprinter::fault::short_write, 1, OPOS_E_TIMEOUT},
      {"a lost link is a failure", vprinter::fault::disconnect, 0, OPOS_E_FAILURE},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    uri_ = "sim:" + testing::unique_sim_name();
    testing::set_port("VDSP1", uri_);
    printer_ = monitor::sim_printer(uri_);
    ASSERT_NE(printer_, nullptr);
    service_client d;
    d.open_claim_enable();
    printer_->inject_fault(c.fault, c.value);
    EXPECT_EQ(d.call("DisplayText", "x", 0), c.result);
    if (c.fault == vprinter::fault::disconnect) {
      EXPECT_EQ(d.call("CheckHealth", 2), OPOS_E_FAILURE);
      EXPECT_EQ(d.text(PIDX_CheckHealthText), "External Check: failed");
    }
    printer_->clear_faults();
  }
}

// ---------------------------------------------------------------------------------------------
// Windows and scrolling

TEST_F(DisplayTest, CreateWindowChecksItsViewport) {
  service_client d;
  d.open_claim_enable();
  struct Case {
    const char* name;
    std::int32_t vr, vc, vh, vw, wh, ww;
    std::int32_t result;
  };
  const Case cases[] = {
      {"negative row", -1, 0, 1, 10, 1, 10, OPOS_E_ILLEGAL},
      {"negative column", 0, -1, 1, 10, 1, 10, OPOS_E_ILLEGAL},
      {"empty viewport", 0, 0, 0, 10, 1, 10, OPOS_E_ILLEGAL},
      {"empty window", 0, 0, 1, 10, 1, 0, OPOS_E_ILLEGAL},
      {"taller than the display", 0, 0, 3, 10, 1, 10, OPOS_E_ILLEGAL},
      {"wider than the display", 0, 0, 1, 21, 1, 10, OPOS_E_ILLEGAL},
      {"taller and wider than its viewport", 0, 0, 1, 10, 2, 11, OPOS_E_ILLEGAL},
      {"wider only", 0, 0, 1, 10, 1, 30, OPOS_SUCCESS},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(d.call("CreateWindow", c.vr, c.vc, c.vh, c.vw, c.wh, c.ww), c.result) << c.name;
  }
  EXPECT_EQ(d.number(kCurrentWindow), 1);
  EXPECT_EQ(d.number(kRows), 1);
  EXPECT_EQ(d.number(kColumns), 30);
  EXPECT_EQ(d.call("DestroyWindow"), OPOS_SUCCESS);
  EXPECT_EQ(d.number(kCurrentWindow), 0);
  EXPECT_EQ(d.number(kColumns), 20);
  EXPECT_EQ(d.call("DestroyWindow"), OPOS_E_ILLEGAL) << "window 0 stays";
}

TEST_F(DisplayTest, WindowsAreNumberedUpToDeviceWindows) {
  service_client d;
  d.open_claim_enable();
  for (int i = 1; i <= 3; ++i) ASSERT_EQ(d.call("CreateWindow", 0, 0, 1, 5, 1, 5 + i), OPOS_SUCCESS) << i;
  EXPECT_EQ(d.number(kCurrentWindow), 3);
  EXPECT_EQ(d.call("CreateWindow", 0, 0, 1, 5, 1, 5), OPOS_E_ILLEGAL) << "windows 0 to 3 exist";
  ASSERT_EQ(d.set(kCurrentWindow, 2), OPOS_SUCCESS);
  EXPECT_EQ(d.number(kColumns), 7);
  EXPECT_EQ(d.set(kCurrentWindow, 4), OPOS_E_ILLEGAL);
  EXPECT_EQ(d.call("DestroyWindow"), OPOS_SUCCESS);
  EXPECT_EQ(d.set(kCurrentWindow, 3), OPOS_E_FAILURE) << "window 3 moved down to 2";
  ASSERT_EQ(d.set(kCurrentWindow, 2), OPOS_SUCCESS);
  EXPECT_EQ(d.number(kColumns), 8);
  EXPECT_EQ(d.call("RefreshWindow", 3), OPOS_E_ILLEGAL) << "RefreshWindow takes 0 to DeviceWindows - 1";
}

TEST_F(DisplayTest, AWindowShowsInItsViewport) {
  service_client d;
  d.open_claim_enable();
  ASSERT_EQ(d.call("DisplayText", "01234567890123456789abcdefghijklmnopqrst", 0), OPOS_SUCCESS);
  // Viewport row 0, column 5, one row high, ten wide; the window is one row of 30.
  ASSERT_EQ(d.call("CreateWindow", 0, 5, 1, 10, 1, 30), OPOS_SUCCESS);
  mark();
  EXPECT_EQ(d.call("DisplayText", "ABCDEFGHIJKLMNOPQRSTUVWXYZ", 0), OPOS_SUCCESS);
  EXPECT_TRUE(same_bytes(since_mark(), kSelectDisplay + "\x0B" + "01234ABCDEFGHIJ56789" + kNoBlink + kSelectPrinter));
  mark();
  EXPECT_EQ(d.call("ScrollText", 3, 4), OPOS_SUCCESS) << "left by four";
  EXPECT_TRUE(same_bytes(since_mark(), kSelectDisplay + "\x0B" + "01234EFGHIJKLMN56789" + kSelectPrinter));
  EXPECT_EQ(d.call("ScrollText", 3, 30), OPOS_E_ILLEGAL) << "no text would be left to show";
  EXPECT_EQ(d.call("ScrollText", 4, 10), OPOS_SUCCESS) << "right past the start";
  EXPECT_EQ(printer_->display().lines[0], "01234      ABCD56789");
  EXPECT_EQ(printer_->display().lines[1], "abcdefghijklmnopqrst") << "the other row is untouched";
  EXPECT_EQ(d.call("ScrollText", 1, 1), OPOS_E_ILLEGAL) << "a one-line window has no line to move up to";
  EXPECT_EQ(d.call("ScrollText", 1, -1), OPOS_E_ILLEGAL);
  EXPECT_EQ(d.call("RefreshWindow", 1), OPOS_SUCCESS) << "offsets back to 0";
  EXPECT_EQ(printer_->display().lines[0], "01234ABCDEFGHIJ56789");
}

TEST_F(DisplayTest, ATwoRowWindowScrolls) {
  service_client d;
  d.open_claim_enable();
  ASSERT_EQ(d.call("DisplayText", "first line          second line", 0), OPOS_SUCCESS);
  mark();
  EXPECT_EQ(d.call("ScrollText", 1, 1), OPOS_SUCCESS) << "window 0 is the display's height: its text moves";
  EXPECT_TRUE(same_bytes(since_mark(), kSelectDisplay + refresh("second line", "") + kSelectPrinter));
  mark();
  EXPECT_EQ(d.call("ScrollText", 2, 5), OPOS_SUCCESS) << "down by at most one row";
  EXPECT_TRUE(same_bytes(since_mark(), kSelectDisplay + refresh("", "second line") + kSelectPrinter));
  mark();
  EXPECT_EQ(d.call("ScrollText", 7, 1), OPOS_SUCCESS) << "an unknown direction changes nothing";
  EXPECT_TRUE(same_bytes(since_mark(), kSelectDisplay + refresh("", "second line") + kSelectPrinter));

  // A window taller than the display, seen through a one-row viewport, moves under it.
  ASSERT_EQ(d.call("CreateWindow", 0, 0, 1, 20, 3, 20), OPOS_SUCCESS);
  ASSERT_EQ(d.call("DisplayText", std::string("upper") + std::string(15, ' ') + "middle" + std::string(14, ' ') + "lower", 0),
            OPOS_SUCCESS);
  EXPECT_EQ(printer_->display().lines[0], "upper               ");
  mark();
  EXPECT_EQ(d.call("ScrollText", 1, 1), OPOS_SUCCESS);
  EXPECT_TRUE(same_bytes(since_mark(), kSelectDisplay + "\x0B" + "middle              " + kSelectPrinter));
  EXPECT_EQ(d.call("ScrollText", 1, 1), OPOS_SUCCESS);
  EXPECT_EQ(printer_->display().lines[0], "lower               ");
  EXPECT_EQ(d.call("ScrollText", 1, 1), OPOS_E_ILLEGAL) << "no line left below";
  EXPECT_EQ(d.call("ScrollText", 2, 3), OPOS_E_ILLEGAL) << "the upper line would fall out of the viewport";
  EXPECT_EQ(d.call("ScrollText", 2, 2), OPOS_SUCCESS);
  EXPECT_EQ(printer_->display().lines[0], "upper               ");
  EXPECT_EQ(printer_->display().lines[1], "second line         ") << "the row below the viewport is untouched";
}

TEST_F(DisplayTest, OneRowDisplayScrollsOnlySideways) {
  write_ini("[DISPLAY]\nNRows=1\n");
  service_client d;
  d.open_claim_enable();
  EXPECT_EQ(d.call("CreateWindow", 0, 0, 1, 10, 1, 20), OPOS_E_ILLEGAL) << "no windows";
  ASSERT_EQ(d.call("DisplayText", "abc", 0), OPOS_SUCCESS);
  EXPECT_EQ(d.call("ScrollText", 1, 1), OPOS_E_ILLEGAL);
  mark();
  EXPECT_EQ(d.call("ScrollText", 4, 2), OPOS_SUCCESS);
  EXPECT_TRUE(same_bytes(since_mark(), kSelectDisplay + "\x0B" + "  abc               " + kSelectPrinter));
}

}  // namespace
}  // namespace devsvc::display_test
