// The printer link against the virtual printer through the monitor: StatusCheck and its
// recovery stages, escape scripts, long writes, answers, identification of both protocol kinds,
// ModelLookup and the OPOS registry update.
#include "utilities/printer_link.h"

#include <fstream>

#include <gtest/gtest.h>

#include "link_fixture.h"
#include "scripted_ui.h"

namespace utilities_test {
namespace {

using utilities::printer_link;
using vprinter::fault;

class PrinterLinkTest : public LinkTest {
 protected:
  // A link with the opened channel of a new sim printer; `uri_out` receives its URI.
  void open_link(printer_link& link, const std::string& options, std::string* uri_out = nullptr) {
    const std::string uri = fresh_sim("link", options);
    set_port("P", uri, "VX40");
    link.set_channel(channel_of("P"));
    ASSERT_TRUE(link.has_channel());
    ASSERT_EQ(link.open(), 0) << link.last_error().Description;
    if (uri_out != nullptr) *uri_out = uri;
  }
  static vprinter::virtual_printer& printer(const std::string& uri) { return *monitor::sim_printer(uri); }
};

TEST_F(PrinterLinkTest, StatusCheckRecoversInStagesThenGivesUp) {
  // A recoverable error that outlasts both recovery requests: DLE ENQ 1, then DLE ENQ 2, then the
  // third check gives up; once the printer is on line again the stage goes back to 0.
  scripted_ui ui;
  printer_link link(ui);
  std::string uri;
  open_link(link, "?fault=cutter_error=5", &uri);
  const std::string eot = "\x10\x04\x01\x10\x04\x02\x10\x04\x03";

  EXPECT_EQ(link.StatusCheck(), utilities::kStatusRecovered);
  EXPECT_EQ(link.recovery_stage(), 1);
  EXPECT_EQ(ui.last_status(), "Error occurred. Waiting...");
  EXPECT_EQ(link.StatusCheck(), utilities::kStatusRecovered);
  EXPECT_EQ(link.recovery_stage(), 2);
  EXPECT_EQ(link.StatusCheck(), utilities::kStatusFailed);
  EXPECT_EQ(ui.last_status(), "Unable to recover printer error. Please check printer...");
  EXPECT_EQ(hex(printer(uri).capture()), hex(eot + "\x10\x05\x01" + eot + "\x10\x05\x02" + eot));

  printer(uri).clear_fault(fault::cutter_error);
  EXPECT_EQ(link.StatusCheck(), utilities::kStatusReady);
  EXPECT_EQ(link.recovery_stage(), 0);
  EXPECT_EQ(ui.last_status(), "Printer ready...");
  EXPECT_TRUE(ui.messages.empty());
}

TEST_F(PrinterLinkTest, StatusCheckTellsEachCondition) {
  struct status_case {
    const char* name;
    const char* options;
    int result;
    const char* status;  // last status text ("" none)
    const char* question;  // the one question asked (answered Cancel), "" none
    bool message;  // an error shown in the message window
  };
  const status_case cases[] = {
      {"on line", "", 0, "Printer ready...", "", false},
      {"cover open", "?fault=cover_open", 1, "Cover open. Waiting...", "", false},
      {"paper end", "?fault=paper_out", 1, "Printing is being stopped due to paper end. Waiting...", "", false},
      {"off line without a cause", "?fault=offline", 1, "Unknown offline status...", "", false},
      {"recoverable error", "?fault=cutter_error", 3, "Error occurred. Waiting...", "", false},
      {"unrecoverable error", "?fault=unrecoverable_error", 2,
       "Unrecoverable printer error. Please check printer...", "", false},
      {"no answer", "?fault=mute", 2, "", "Timeout getting status: printer offline?\rPlease verify...", false},
      {"link lost", "?fault=disconnect", 2, "", "", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    scripted_ui ui;
    printer_link link(ui);
    const std::string uri = fresh_sim("status", c.options);
    set_port("S", uri, "VX40");
    link.set_channel(channel_of("S"));
    link.open();
    ASSERT_TRUE(link.has_channel());
    link.set_channel(link.channel());
    // Short read time-outs keep the mute case quick.
    platform::dispatch_client(link.channel()).put("ReadTimeOut", 50);
    EXPECT_EQ(link.StatusCheck(), c.result);
    EXPECT_EQ(ui.last_status(), c.status);
    if (*c.question != '\0') {
      ASSERT_EQ(ui.questions.size(), 1u);
      EXPECT_EQ(ui.questions[0], c.question);
    } else {
      EXPECT_TRUE(ui.questions.empty());
    }
    EXPECT_EQ(ui.messages.size(), c.message ? 1u : 0u);
    if (c.message) {
      // "Raised error <Number> by <Source> CR Extended error description: <Description>".
      const std::string& m = ui.messages[0];
      EXPECT_EQ(m.rfind("Raised error -", 0), 0u) << m;
      EXPECT_NE(m.find(" by S (sim:status-"), std::string::npos) << m;
      EXPECT_NE(m.find(")\rExtended error description: "), std::string::npos) << m;
    }
    link.close();
  }
}

TEST_F(PrinterLinkTest, ScriptLinesAreExpanded) {
  scripted_ui ui;
  // 2026-03-04 05:06:07 local time.
  std::tm tm{};
  tm.tm_year = 126;
  tm.tm_mon = 2;
  tm.tm_mday = 4;
  tm.tm_hour = 5;
  tm.tm_min = 6;
  tm.tm_sec = 7;
  tm.tm_isdst = -1;
  const auto when = std::chrono::system_clock::from_time_t(std::mktime(&tm));
  printer_link link(ui, [when] { return when; });
  struct line_case {
    const char* line;
    std::string bytes;
  };
  const line_case cases[] = {
      {"plain", "plain"},
      {"a/* note */b/* two */c", "abc"},
      {"open /* to the end", "open "},
      {"<27,64>x<10>", "\x1b@x\n"},
      {"<1, 2 ,3>", "\x01\x02\x03"},
      {"<300> <a> <", "<300> <a> <"},
      {"/* <27> */<29,86,0>", std::string("\x1dV\0", 3)},
      {"<27,35>t<1>", "05:06:07"},
      {"<27,35>t<0>", "05:06"},
      {"<27,35>d<1>", "04/03/2026"},
      {"<27,35>d<2>", "0403"},
      {"<27,35>d<0>!", "04/03/26!"},
      {"<27,35>t", "\x1b#t"},
  };
  for (const auto& c : cases) EXPECT_EQ(hex(link.expand_script_line(c.line)), hex(c.bytes)) << c.line;
}

TEST_F(PrinterLinkTest, SendScriptWaitsForTheOfflinePrinterAndPrintsEveryLine) {
  scripted_ui ui;
  printer_link link(ui);
  std::string uri;
  open_link(link, "?fault=cover_open", &uri);
  // The cover is closed while the link waits.
  ui.on_pump = [&](int n) {
    if (n == 2) printer(uri).clear_fault(fault::cover_open);
  };
  ASSERT_EQ(link.SendScript(false, "<27,64>first /*x*/\r\nsecond\r\n"), 0);
  std::string printed;
  for (const char c : printer(uri).capture()) printed += c;
  // Only the print data, without the state requests (DLE EOT) between them.
  std::string data;
  for (std::size_t i = 0; i < printed.size();) {
    if (printed.compare(i, 2, "\x10\x04") == 0) {
      i += 3;
    } else {
      data += printed[i++];
    }
  }
  EXPECT_EQ(hex(data), hex("\x1b@first \nsecond"));
  EXPECT_EQ(ui.statuses.front(), "Printing...");
  EXPECT_NE(std::find(ui.statuses.begin(), ui.statuses.end(), "Cover open. Waiting..."), ui.statuses.end());
  EXPECT_EQ(ui.last_status(), "Printer ready...");
  EXPECT_EQ(ui.pumps, 2);
}

TEST_F(PrinterLinkTest, SendScriptEndsOnEndReqAndOnAnUnrecoverableState) {
  struct end_case {
    const char* name;
    const char* options;
    bool end_req;
  };
  const end_case cases[] = {
      {"window closed while waiting", "?fault=cover_open", true},
      {"unrecoverable error", "?fault=unrecoverable_error", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    scripted_ui ui;
    ui.end_req = c.end_req;
    printer_link link(ui);
    std::string uri;
    open_link(link, c.options, &uri);
    EXPECT_NE(link.SendScript(false, "never printed"), 0);
    EXPECT_EQ(ui.last_status(), "Ready...");
    EXPECT_EQ(printer(uri).capture().find("never"), std::string::npos);
    link.close();
  }
}

TEST_F(PrinterLinkTest, WriteAllWaitsWhileTheOfflinePrinterHoldsDataBack) {
  scripted_ui ui;
  printer_link link(ui);
  std::string uri;
  open_link(link, "?fault=busy,cover_open", &uri);
  platform::dispatch_client(link.channel()).put("WriteTimeOut", 50);
  ui.on_pump = [&](int) {
    printer(uri).clear_fault(fault::busy);
    printer(uri).clear_fault(fault::cover_open);
  };
  const std::string data(3000, 'x');
  EXPECT_EQ(link.write_all(data), utilities::kResultDone);
  EXPECT_EQ(ui.pumps, 1);
  EXPECT_NE(std::find(ui.statuses.begin(), ui.statuses.end(), "Cover open. Waiting..."), ui.statuses.end());
  EXPECT_EQ(ui.last_status(), "Printer ready...");
  EXPECT_NE(printer(uri).capture().find(data), std::string::npos);
}

TEST_F(PrinterLinkTest, WriteAllAsksWhenTheOnLinePrinterStaysBusy) {
  scripted_ui ui;
  ui.answers = {box_answer::retry};  // then Cancel
  printer_link link(ui);
  open_link(link, "?fault=busy");
  platform::dispatch_client(link.channel()).put("WriteTimeOut", 20);
  EXPECT_EQ(link.write_all("data"), utilities::kResultTimeout);
  ASSERT_EQ(ui.questions.size(), 2u);
  EXPECT_EQ(ui.questions[0], "Timeout sending data: printer offline?\rPlease verify...");
  EXPECT_EQ(ui.last_status(), "Printer error...");
}

TEST_F(PrinterLinkTest, SendAndReadReturnsTheAnswer) {
  scripted_ui ui;
  printer_link link(ui);
  open_link(link, "?model=VX40");
  // GS I C: one answer, "_", the model name and NUL; the third byte is no "A", so one block.
  EXPECT_EQ(hex(link.send_and_read("\x1dIC", true).value_or("<none>")), hex(std::string("_VX40\0", 6)));
  EXPECT_EQ(hex(link.send_and_read("\x1dIC", false).value_or("<none>")), hex(std::string("40\0", 3)));
  EXPECT_EQ(hex(link.send_and_read("\x1dIC", false, false).value_or("<none>")), hex(std::string("_VX40\0", 6)));
  EXPECT_EQ(ui.last_status(), "Printer ready...");
  // No answer at all: the time-out question, then Cancel.
  platform::dispatch_client(link.channel()).put("ReadTimeOut", 20);
  EXPECT_FALSE(link.send_and_read("\x1dI\x63", true));
  ASSERT_EQ(ui.questions.size(), 1u);
  EXPECT_EQ(ui.questions[0], "Timeout getting data: printer offline?\rPlease verify...");
}

TEST_F(PrinterLinkTest, SendAndReadAcknowledgesEachBlockThatAnnouncesMore) {
  // 41 stored graphics: the key-code list comes in a block of 40 keys ("A": more follow) and one
  // of the last key, which the printer sends only after the host's ACK.
  scripted_ui ui;
  printer_link link(ui);
  std::string uri;
  open_link(link, "", &uri);
  std::string keys;
  for (int k = 0; k < 41; ++k) {
    const std::string key = {static_cast<char>('A' + k / 10), static_cast<char>('0' + k % 10)};
    // GS 8 L function 67: one plane of 8 x 1 dots.
    const std::string define = std::string("\x1d" "8L\x0c\0\0\0\x30\x43\x30", 10) + key +
                               std::string("\x01\x08\0\x01\0\x31\xff", 7);
    ASSERT_EQ(printer(uri).accept(define).accepted, define.size());
    keys += key;
  }
  const std::size_t mark = printer(uri).capture().size();
  const std::string list("\x1d(L\x04\0\x30\x40KC", 9);
  EXPECT_EQ(link.send_and_read(list, false).value_or("<none>"),
            keys.substr(0, 80) + std::string(1, '\0') + keys.substr(80) + std::string(1, '\0'));
  EXPECT_TRUE(ui.questions.empty());
  const std::string sent = printer(uri).capture().substr(mark);
  EXPECT_EQ(hex(sent.substr(sent.size() - 10)), hex(list + "\x06"));
}

TEST_F(PrinterLinkTest, IdentifiesBothProtocolKinds) {
  struct id_case {
    const char* name;
    const char* options;
    int id;
    const char* model_text;
    const char* request;
  };
  const id_case cases[] = {
      {"first kind: GS I 1", "?id=0x2E", 46, "", "1D 49 01"},
      {"second kind: QW-310", "?protocol=2&model=QW-310", 161, "QW-310", "1B 3F 30"},
      {"second kind: another model", "?protocol=2&model=QW-200", 0, "QW-200", "1B 3F 30"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    scripted_ui ui;
    printer_link link(ui);
    std::string uri;
    open_link(link, c.options, &uri);
    const utilities::identification found = link.identify();
    ASSERT_TRUE(found.ok) << found.error.Description;
    EXPECT_EQ(found.id, c.id);
    EXPECT_EQ(found.model_text, c.model_text);
    EXPECT_EQ(link.identification_byte(), c.id);
    EXPECT_EQ(hex(printer(uri).capture()), c.request);
    EXPECT_TRUE(link.has_channel());  // closed, but still assigned
    EXPECT_EQ(monitor::sim_open_channels(uri), 0);
  }
  // A printer that does not answer gives the channel's error.
  scripted_ui ui;
  printer_link link(ui);
  open_link(link, "?fault=mute");
  platform::dispatch_client(link.channel()).put("ReadTimeOut", 20);
  const utilities::identification none = link.identify();
  EXPECT_FALSE(none.ok);
  EXPECT_EQ(none.error.Number, utilities::kResultTimeout);
}

TEST_F(PrinterLinkTest, ModelLookupPrefersTheIniFileByBrand) {
  const std::filesystem::path ini = dir_.path() / "LOGO.INI";
  std::ofstream(ini) << "[PRINTER ID]\nTM-A=46\nTM-B=46\nQ1=200\n[PRINTER BRAND]\nTM-A=ACME\nTM-B=OTHER\n";
  struct lookup_case {
    const char* name;
    int id;
    const char* brand;
    const char* model;
    const char* brand_out;
  };
  const lookup_case cases[] = {
      {"any brand: first entry", 46, "", "TM-A", "ACME"},
      {"brand of the second entry", 46, "OTHER", "TM-B", "OTHER"},
      {"no entry of that brand: built-in", 46, "NOBODY", "VX40", "KORVANE"},
      {"entry without a brand", 200, "", "Q1", ""},
      {"176 without entries", 176, "", "VJ20G", "KORVANE"},
      {"10", 10, "", "VJ12", "KORVANE"},
      {"161", 161, "", "VJ12", "KORVANE"},
      {"36", 36, "", "VJ20", "KORVANE"},
      {"32", 32, "", "VX40", "KORVANE"},
      {"unknown", 99, "", "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const utilities::model_info m = utilities::ModelLookup(c.id, c.brand, ini);
    EXPECT_EQ(m.model, c.model);
    EXPECT_EQ(m.brand, c.brand_out);
  }
  EXPECT_EQ(utilities::utility_ini_file(dir_.path(), "logo"), ini);
  EXPECT_EQ(utilities::ModelLookup(46, "", dir_.path() / "MISSING.INI").model, "VX40");
}

TEST_F(PrinterLinkTest, OposRegistryUpdateWritesTheModelsKeys) {
  const std::string base = "SOFTWARE\\OleForRetail\\ServiceOPOS\\";
  auto make_key = [](const std::string& key) {
    platform::registry_key k;
    ASSERT_EQ(platform::registry_key::create(platform::registry_root::local_machine, key, k), platform::kErrorSuccess);
  };
  for (const char* k : {"POSPrinter\\VX40Device", "POSPrinter\\VX40CDevice", "LineDisplay\\VX40LineControl",
                        "POSPrinter\\VJ12Device", "Micr\\VJ12MicrControl", "CheckScanner\\VJ12CheckScannerControl"})
    make_key(base + k);
  auto value = [](const std::string& key, const char* name) {
    std::string text;
    utilities::registry_read(key, name, text);
    return text;
  };

  // The VX40 with its display key but no drawer key: every value but the drawer's is written.
  scripted_ui ui;
  ASSERT_TRUE(utilities::opos_registry_update(ui, {46, "VX40", "VX40", "VX40:COM1", "COM1", {}}));
  EXPECT_EQ(value(base + "POSPrinter\\VX40Device", "COMMPort"), "COM1");
  EXPECT_EQ(value(base + "POSPrinter\\VX40CDevice", "MachineType"), "VX40");
  EXPECT_EQ(value(base + "LineDisplay\\VX40LineControl", "COMMPort"), "COM1");
  EXPECT_EQ(ui.boxes, (std::vector<std::string>{
                          "Error updating registry value 'COMMPort' under "
                          "'SOFTWARE\\OleForRetail\\ServiceOPOS\\CashDrawer\\VX40DrawerControl' key.",
                          "Error updating registry value 'MachineType' under "
                          "'SOFTWARE\\OleForRetail\\ServiceOPOS\\CashDrawer\\VX40DrawerControl' key."}));
  EXPECT_EQ(ui.last_status(), "Updating registry values for VX40...");

  // A QW-310 (161) whose lookup model differs: the question, answered No, writes nothing.
  scripted_ui no;
  EXPECT_FALSE(utilities::opos_registry_update(no, {161, "VJ12", "QW-310", "QW-310:USB001", "USB001", {}}));
  ASSERT_EQ(no.questions.size(), 1u);
  EXPECT_EQ(no.questions[0], "QW-310:USB001 is a VJ12.\rDo you want to continue?");
  EXPECT_EQ(value(base + "POSPrinter\\VJ12Device", "COMMPort"), "");
  // Answered Yes: the printer's keys and the MICR and check scanner keys.
  scripted_ui yes;
  yes.answers = {box_answer::yes};
  EXPECT_TRUE(utilities::opos_registry_update(yes, {161, "VJ12", "QW-310", "QW-310:USB001", "USB001", {}}));
  EXPECT_EQ(value(base + "Micr\\VJ12MicrControl", "MachineType"), "QW-310");
  EXPECT_EQ(value(base + "CheckScanner\\VJ12CheckScannerControl", "COMMPort"), "USB001");
  EXPECT_TRUE(yes.boxes.empty());

  // A model whose OPOS the kit does not install.
  scripted_ui vj20;
  EXPECT_FALSE(utilities::opos_registry_update(vj20, {36, "VJ20", "VJ20", "VJ20:COM2", "COM2", {}}));
  EXPECT_EQ(vj20.boxes, std::vector<std::string>{"OPOS for VJ20 not installed."});
}

}  // namespace
}  // namespace utilities_test
