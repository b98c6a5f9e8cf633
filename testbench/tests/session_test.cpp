// Tests of the test environment's session with the POS printer control: against the registered
// Ptrctl bound to the recording test service object (claim refusals, events, errors, scripts,
// single commands), and a whole session against the kit's own stack and a virtual printer.
#include <deque>
#include <functional>
#include <sstream>

#include <gtest/gtest.h>

#include "monitor/sim.h"
#include "platform/messages.h"
#include "platform/registry.h"
#include "platform/testing/temp_dir.h"
#include "test_service.h"
#include "test_support.h"
#include "testbench/session.h"
#include "testing/harness.h"

namespace {

using namespace testbench;

constexpr std::int32_t kPidxResultCode = 6;
constexpr std::int32_t kPidxResultCodeExtended = 7;

// The user side: records every question, error window and debugger stop, and answers them
// from queues.
class test_host final : public session_host {
 public:
  bool ask(std::string_view text, bool) override {
    questions.emplace_back(text);
    if (on_ask) on_ask();
    if (answers.empty()) return false;
    const bool answer = answers.front();
    answers.pop_front();
    return answer;
  }
  std::int32_t error_window(std::string_view title, std::string_view text) override {
    error_windows.push_back(std::string(title) + "\n" + std::string(text));
    return error_response;
  }
  void pump(int ms) override { platform::pump_messages_for(std::min(ms, 20)); }
  debug_command debug_stop(int line, std::string& text, int& caret_line) override {
    stops.push_back(line);
    if (commands.empty()) return debug_command::continue_run;
    const auto [command, edited, caret] = commands.front();
    commands.pop_front();
    if (!edited.empty()) text = edited;
    caret_line = caret;
    return command;
  }
  void slip_prompt(std::string_view text, bool shown) override {
    slip.push_back((shown ? "show " : "hide ") + std::string(text));
  }
  void beep() override { ++beeps; }

  std::vector<std::string> questions;
  std::deque<bool> answers;
  std::function<void()> on_ask;
  std::vector<std::string> error_windows;
  std::int32_t error_response = kErrorRetry;
  std::vector<int> stops;
  std::deque<std::tuple<debug_command, std::string, int>> commands;
  std::vector<std::string> slip;
  int beeps = 0;
};

// Lines of the probe's record that are calls of `member`.
std::vector<std::string> calls_of(const std::string& record, std::string_view member) {
  std::vector<std::string> found;
  std::istringstream in(record);
  for (std::string line; std::getline(in, line);) {
    if (line.starts_with(std::string(member) + "(")) found.push_back(line);
  }
  return found;
}

// The control bound to the recording service object; settings point at the shipped data files.
class TestbenchSessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(controls_test::register_library(PTRCTL_PATH));
    ASSERT_TRUE(controls_test::register_library(CONTROLS_TEST_SERVICE_PATH));
    controls_test::install_device(controls_test::kPosPrinterKey, "TestDevice", controls_test::kServiceProgId);
    probe_.emplace();
    config_.apply_first_run();
    config_.set_string(kSectionSettings, "Language", "ITA");
  }

  session& make_session() {
    session_.emplace(config_, host_);
    EXPECT_TRUE(session_->create_control());
    session_->load_property_table();
    return *session_;
  }

  const output_record& last() { return session_->log().records().back(); }

  platform::testing::scoped_registry_dir registry_;
  std::optional<controls_test::service_probe> probe_;
  settings config_{TESTBENCH_DATA_DIR};
  test_host host_;
  std::optional<session> session_;
};

TEST_F(TestbenchSessionTest, PrinterTreeListsOnlyDevicesWithAName) {
  platform::registry_key key;
  ASSERT_EQ(platform::registry_key::create(platform::registry_root::local_machine,
                                           std::string(controls_test::kPosPrinterKey) + "\\Named", key),
            platform::kErrorSuccess);
  key.set_string("PTRKorvane", "Cassa 1");
  key.set_string("MachineType", "VX40");
  key.set_string("COMMPort", "COM1");
  // TestDevice (installed by SetUp) has no "PTRKorvane" value.
  const std::vector<printer_entry> printers = list_printers();
  ASSERT_EQ(printers.size(), 1u);
  EXPECT_EQ(printers[0].name, "Cassa 1");
  EXPECT_EQ(printers[0].machine_type, "VX40");
  EXPECT_EQ(printers[0].port, "COM1");
}

TEST_F(TestbenchSessionTest, ControlCreationFailureIsReportedAndNoConnectHappens) {
  config_.set_string(kSectionSettings, "COPOSPrinterID", "Not.Registered.1");
  session s(config_, host_);
  EXPECT_FALSE(s.create_control());
  EXPECT_EQ(s.log().records().back().text, "(E) : Errore di inizializzazione del driver opos");
  EXPECT_FALSE(s.connect("TestDevice"));
  EXPECT_EQ(s.log().records().back().text, "(E) : Errore nella creazione del controllo POSPrinter.");
  EXPECT_FALSE(s.connect_selected(std::nullopt));
  EXPECT_EQ(s.log().records().back().text,
            "(E) : Non è stato selezionato il modello di stampante a cui connettersi");
}

TEST_F(TestbenchSessionTest, ClaimRefusedIsRetriedUntilItSucceeds) {
  session& s = make_session();
  probe_->set_result("Claim", 102);
  int asked = 0;
  host_.answers = {true, true};
  host_.on_ask = [&] {
    if (++asked == 2) probe_->set_result("Claim", 0);
  };
  ASSERT_TRUE(s.connect("TestDevice"));
  EXPECT_EQ(host_.questions.size(), 2u);
  EXPECT_TRUE(host_.questions[0].starts_with("(E) : Il controllo attualmente è bloccato"));
  const std::string calls = probe_->take_calls();
  EXPECT_EQ(calls_of(calls, "Claim").size(), 3u);
  EXPECT_EQ(calls_of(calls, "OpenService").size(), 1u);
  // PowerNotify (13) is switched on while still disabled, then the device is enabled (3).
  EXPECT_LT(calls.find("SetPropertyNumber(13, 1)"), calls.find("SetPropertyNumber(3, 1)"));
  EXPECT_EQ(last().text, "(I) : Connessione attiva");
  EXPECT_EQ(s.connection_text(), "TestDevice attiva");
  EXPECT_TRUE(s.connect("TestDevice")) << "already connected: nothing happens";
  EXPECT_TRUE(calls_of(probe_->take_calls(), "Claim").empty());
}

TEST_F(TestbenchSessionTest, ClaimRefusedAndCancelledReportsTheClaimResult) {
  session& s = make_session();
  probe_->set_result("Claim", 102);
  host_.answers = {false};
  EXPECT_FALSE(s.connect("TestDevice"));
  EXPECT_FALSE(s.connected());
  const output_record& r = last();
  EXPECT_EQ(r.text, "(E) : Errore nell'avvio della comunicazione con la stampante.");
  EXPECT_EQ(r.detail, "      Comando terminato con errore: OPOS_E_CLAIMED");
  EXPECT_EQ(calls_of(probe_->take_calls(), "Close").size(), 1u) << "the opened control is closed again";
  EXPECT_EQ(s.connection_text(), "Nessuna Connessione");
}

TEST_F(TestbenchSessionTest, EventsAreTracedByTheirFlags) {
  config_.set_int(kSectionSettings, "TraceEvDirect", 1);
  session& s = make_session();
  ASSERT_TRUE(s.connect("TestDevice"));

  probe_->fire_status_update(21);
  EXPECT_EQ(last().text, "(V) : Ricevuto evento di <StatusUpdateEvent>");
  EXPECT_EQ(last().detail, "      Status della stampante: (21)");
  probe_->fire_status_update(2001);
  EXPECT_EQ(last().detail, "      Status della stampante: OPOS_SUE_POWER_ONLINE");

  probe_->fire_output_complete(17);
  EXPECT_EQ(last().text, "(V) : Ricevuto evento di <OutputCompleteEvent>");
  EXPECT_EQ(last().detail, "      Identificativo di fine esecuzione: 17");

  probe_->fire_direct_io(5, 0, std::string("A\x80\xff", 3));
  EXPECT_EQ(last().text, "(V) : Ricevuto evento di <DirectIOEvent>");
  EXPECT_EQ(last().detail, "      Print buffer: 41 80 FF ");

  probe_->set_string(1008005, "cover open");  // ErrorString
  host_.error_response = kErrorRetry;
  EXPECT_EQ(probe_->fire_error(114, 201, 1, kErrorClear), kErrorRetry);
  EXPECT_EQ(last().text, "(V) : Ricevuto evento di <ErrorEvent>");
  ASSERT_EQ(host_.error_windows.size(), 1u);
  EXPECT_NE(host_.error_windows[0].find("Driver OPOS, errore di esecuzione\n"), std::string::npos);
  EXPECT_NE(host_.error_windows[0].find("Codice di errore, OPOS_EPTR_COVER_OPEN"), std::string::npos);
  EXPECT_NE(host_.error_windows[0].find("Codice esteso, OPOS_EPTR_COVER_OPEN"), std::string::npos);
  EXPECT_NE(host_.error_windows[0].find("Descrizione errore, cover open"), std::string::npos);

  // Flags off: nothing traced, and the error is not answered (the preset response stands).
  s.set_traces({});
  const std::size_t records = s.log().records().size();
  probe_->fire_status_update(21);
  probe_->fire_output_complete(18);
  probe_->fire_direct_io(5, 0, "x");
  EXPECT_EQ(probe_->fire_error(111, 0, 1, kErrorClear), kErrorClear);
  EXPECT_EQ(s.log().records().size(), records);
  EXPECT_EQ(host_.error_windows.size(), 1u);
  EXPECT_EQ(config_.get_int(kSectionSettings, "TraceEvStatus"), 0);
}

TEST_F(TestbenchSessionTest, ScriptLinesAreConvertedAndCommentsSkipped) {
  session& s = make_session();
  ASSERT_TRUE(s.connect("TestDevice"));
  probe_->take_calls();
  script_document doc;
  doc.set_text("'\n\n<ESC|1B>x\na > b <ESC|bC>c\n' note");
  ASSERT_TRUE(s.print_script(doc));
  EXPECT_EQ(calls_of(probe_->take_calls(), "PrintNormal"),
            (std::vector<std::string>{"PrintNormal(2, \"\\x0A\")", "PrintNormal(2, \"\\x1B|1Bx\\x0A\")",
                                      "PrintNormal(2, \"a  b \\x1B|bCc\\x0A\")"}));
  EXPECT_EQ(last().text, "(I) : Esecuzione comando di stampa");
  EXPECT_EQ(last().detail, "      Comando eseguito con successo");

  script_document empty;
  EXPECT_FALSE(s.print_script(empty));
  EXPECT_EQ(last().text, "(E) : Documento di stampa vuoto");
}

TEST_F(TestbenchSessionTest, ExtendedFailureNamesItsCodeAndLinksToTheLine) {
  session& s = make_session();
  ASSERT_TRUE(s.connect("TestDevice"));
  probe_->set_result("PrintNormal", 114);
  probe_->set_number(kPidxResultCodeExtended, 203);
  script_document doc;
  doc.set_text("' receipt\nline");
  EXPECT_FALSE(s.print_script(doc, "receipt.txt"));
  const output_record& r = last();
  EXPECT_EQ(r.text, "(E) : Errore di esecuzione.");
  EXPECT_EQ(r.detail, "      Linea errore esecuzione :2|      Codice errore restituito: OPOS_EPTR_REC_EMPTY");
  EXPECT_TRUE(r.has_source_line);
  EXPECT_EQ(r.source_line, 2);
  EXPECT_EQ(r.source, "receipt.txt");
  EXPECT_EQ(host_.beeps, 1);
}

TEST_F(TestbenchSessionTest, CheckingValidatesAgainstTheReceiptEvenOnTheSlip) {
  session& s = make_session();
  ASSERT_TRUE(s.connect("TestDevice"));
  s.set_station(kStationSlip);
  EXPECT_EQ(last().detail, "      Stazione corrente di output <PTR_S_SLIP>");
  probe_->take_calls();
  probe_->set_result("ValidateData", 106);
  script_document doc;
  doc.set_text("' c\n\n<ESC|zZ>x\n");
  s.check_script(doc);
  EXPECT_EQ(calls_of(probe_->take_calls(), "ValidateData"),
            (std::vector<std::string>{"ValidateData(2, \"\\x1B|zZx\\x0A\")"}));
  EXPECT_EQ(last().detail, "      Linea errata: 3|      Codice di errore opos: OPOS_E_ILLEGAL");

  probe_->set_result("ValidateData", 0);
  s.check_script(doc);
  EXPECT_EQ(last().detail, "      Verifica dati terminata con successo");
}

TEST_F(TestbenchSessionTest, SlipScriptsAreFramedByInsertionAndRemoval) {
  session& s = make_session();
  ASSERT_TRUE(s.connect("TestDevice"));
  s.set_station(kStationSlip);
  probe_->take_calls();
  script_document doc;
  doc.set_text("slip");
  ASSERT_TRUE(s.print_script(doc));
  const std::string calls = probe_->take_calls();
  const std::size_t insert = calls.find("BeginInsertion(15000)");
  const std::size_t end_insert = calls.find("EndInsertion()");
  const std::size_t print = calls.find("PrintNormal(4, ");
  const std::size_t remove = calls.find("BeginRemoval(15000)");
  const std::size_t end_remove = calls.find("EndRemoval()");
  ASSERT_NE(end_remove, std::string::npos);
  EXPECT_TRUE(insert < end_insert && end_insert < print && print < remove && remove < end_remove) << calls;
  EXPECT_EQ(host_.slip.front(), "show Inserire il foglio di stampa nella stazione SLIP...");

  // A refused insertion fails the whole print before any line is sent.
  probe_->set_result("BeginInsertion", 112);
  EXPECT_FALSE(s.print_script(doc));
  EXPECT_TRUE(calls_of(probe_->take_calls(), "PrintNormal").empty());
  EXPECT_EQ(last().text, "(E) : Errore di esecuzione.");
}

TEST_F(TestbenchSessionTest, DebuggerCommandsAndCollectingModes) {
  session& s = make_session();
  ASSERT_TRUE(s.connect("TestDevice"));
  script_document doc;
  doc.set_text("one\ntwo\nthree\nfour\nfive");
  doc.toggle_breakpoint(2);
  doc.toggle_breakpoint(4);
  probe_->take_calls();

  // Update the text of line 2, then skip line 4.
  host_.commands = {{debug_command::update_continue, "TWO", 2}, {debug_command::skip_line, "", 4}};
  ASSERT_TRUE(s.print_script(doc));
  EXPECT_EQ(host_.stops, (std::vector<int>{2, 4}));
  EXPECT_EQ(calls_of(probe_->take_calls(), "PrintNormal"),
            (std::vector<std::string>{"PrintNormal(2, \"one\\x0A\")", "PrintNormal(2, \"TWO\\x0A\")",
                                      "PrintNormal(2, \"three\\x0A\")", "PrintNormal(2, \"five\\x0A\")"}));
  EXPECT_EQ(doc.lines[1], "two") << "the document itself is not changed";

  // End stops printing at once.
  host_.stops.clear();
  host_.commands = {{debug_command::end_debug, "", 2}};
  EXPECT_FALSE(s.print_script(doc));
  EXPECT_EQ(calls_of(probe_->take_calls(), "PrintNormal").size(), 1u);

  // In transaction mode the breakpoints are ignored and the summary is written.
  host_.stops.clear();
  config_.set_int(kSectionPrinter, "TransactionMode", 1);
  ASSERT_TRUE(s.print_script(doc));
  EXPECT_TRUE(host_.stops.empty());
  EXPECT_EQ(calls_of(probe_->take_calls(), "PrintNormal").size(), 5u);
  const auto& records = s.log().records();
  EXPECT_EQ(records[records.size() - 2].text, "(I) : Dati di invio alla stampante");
  EXPECT_EQ(records[records.size() - 2].detail, "      Numero linee    : 5|      Numero caratteri: 24");
  config_.set_int(kSectionPrinter, "TransactionMode", 0);
  config_.set_int(kSectionPrinter, "RotationMode", 1);
  ASSERT_TRUE(s.print_script(doc));
  EXPECT_TRUE(host_.stops.empty());
}

TEST_F(TestbenchSessionTest, LogoSummaryAndSingleCommands) {
  session& s = make_session();
  ASSERT_TRUE(s.connect("TestDevice"));
  probe_->take_calls();
  script_document doc;
  doc.set_text("' logo\n<ESC|cA>Shop");
  ASSERT_TRUE(s.set_logo(doc, kLogoTop));
  EXPECT_EQ(calls_of(probe_->take_calls(), "SetLogo"),
            (std::vector<std::string>{"SetLogo(1, \"\\x1B|cAShop\\x0A\")"}));
  EXPECT_EQ(last().text, "(I) : Comando impostazione logo");
  s.summarise_script(doc);
  EXPECT_EQ(last().text, "(I) : Dati di riepilogo");
  EXPECT_EQ(last().detail, "      Numero linee    : 2|      Numero caratteri: 16");

  s.set_work_mode(true);
  EXPECT_EQ(last().text, "(W) : Modalità transazione ON");
  EXPECT_TRUE(config_.transaction_mode());
  s.set_print_mode(kRotateRight90);
  EXPECT_EQ(last().text, "(W) : Modalità Rotazione ON");
  EXPECT_TRUE(config_.rotation_mode());
  s.set_print_mode(kRotate180);
  EXPECT_FALSE(config_.rotation_mode()) << "only 90 degrees right counts as rotation mode";
  EXPECT_EQ(s.print_mode(), kRotate180);
  const std::string calls = probe_->take_calls();
  EXPECT_EQ(calls_of(calls, "TransactionPrint"), (std::vector<std::string>{"TransactionPrint(2, 11)"}));
  EXPECT_EQ(calls_of(calls, "RotatePrint"),
            (std::vector<std::string>{"RotatePrint(2, 257)", "RotatePrint(2, 259)"}));

  probe_->set_result("RotatePrint", 106);
  s.set_print_mode(kRotateNormal);
  EXPECT_EQ(s.print_mode(), kRotate180) << "a refused change keeps the print mode";
  probe_->set_result("TransactionPrint", 106);
  s.set_work_mode(false);
  EXPECT_EQ(last().text, "(E) : Errore di esecuzione");
  EXPECT_EQ(last().detail, "Il comando ha causato il seguente codice di errore OPOS_E_ILLEGAL");
  EXPECT_TRUE(config_.transaction_mode()) << "a refused change keeps the mode";

  barcode_request bar;
  bar.data = "123456789012";
  bar.symbology = 104;
  bar.height = 60;
  bar.width = 3;
  bar.alignment = -2;
  bar.text_position = -13;
  ASSERT_TRUE(s.print_barcode(bar));
  EXPECT_EQ(calls_of(probe_->take_calls(), "PrintBarCode"),
            (std::vector<std::string>{"PrintBarCode(2, \"123456789012\", 104, 60, 3, -2, -13)"}));

  probe_->set_string(1000001, "Internal HCheck: Successful");
  EXPECT_EQ(s.test_procedure(1), "Internal HCheck: Successful");

  EXPECT_FALSE(s.direct_access("", 4).shown);
  EXPECT_FALSE(s.direct_access("x", 0).shown);
  ASSERT_EQ(host_.questions.size(), 2u);
  EXPECT_EQ(host_.questions[0], text(txt::s158_empty_command, true));
  EXPECT_EQ(host_.questions[1], text(txt::s159_zero_count, true));
  const direct_access_result direct = s.direct_access("cmd", 4);
  EXPECT_TRUE(direct.ok);
  EXPECT_EQ(calls_of(probe_->take_calls(), "DirectIO"),
            (std::vector<std::string>{"DirectIO(1, 4, \"cmd\")", "DirectIO(2, 4, \"\")"}));
  probe_->set_result("DirectIO", 111);
  const direct_access_result failed = s.direct_access("cmd", 4);
  EXPECT_FALSE(failed.ok);
  EXPECT_EQ(failed.text,
            "Errore di esecuzione\r\nIl comando ha causato il seguente codice di errore OPOS_E_FAILURE\r\n");
}

TEST_F(TestbenchSessionTest, PropertyListIsFilledAndWritten) {
  session& s = make_session();
  probe_->set_number(8013, 4);  // MapMode
  probe_->set_number(8016, 42);  // RecLineChars
  ASSERT_TRUE(s.connect("TestDevice"));
  const auto find = [&](std::string_view name) -> std::size_t {
    for (std::size_t i = 0; i < s.properties().size(); ++i) {
      if (s.properties()[i].name == name) return i;
    }
    ADD_FAILURE() << name;
    return 0;
  };
  EXPECT_EQ(s.properties()[find("MapMode")].value, "PTR_MM_METRIC");
  EXPECT_EQ(s.properties()[find("RecLineChars")].value, "42");
  EXPECT_EQ(s.properties()[find("AsyncMode")].value, "FALSE");

  probe_->take_calls();
  EXPECT_TRUE(s.write_property(find("MapMode"), "PTR_MM_DOTS"));
  EXPECT_TRUE(s.write_property(find("AsyncMode"), "true"));
  EXPECT_FALSE(s.write_property(find("ResultCode"), "1")) << "a read-only row is not written";
  const std::string calls = probe_->take_calls();
  EXPECT_NE(calls.find("SetPropertyNumber(8013, 1)"), std::string::npos) << calls;
  EXPECT_NE(calls.find("SetPropertyNumber(8001, 1)"), std::string::npos) << calls;

  // Disconnecting: Claimed answers true, so the device is released before closing.
  probe_->set_number(1, 1);
  host_.answers = {true};
  ASSERT_TRUE(s.disconnect());
  EXPECT_EQ(calls_of(probe_->take_calls(), "Release").size(), 1u);
  EXPECT_EQ(last().text, "(I) : Connessione terminata");
  EXPECT_EQ(s.properties()[find("MapMode")].value, "PTR_MM_DOTS") << "the list is back to the table's values";
  EXPECT_FALSE(s.write_property(find("AsyncMode"), "true")) << "no writes while not connected";
  EXPECT_TRUE(calls_of(probe_->take_calls(), "SetPropertyNumber").empty());
}

TEST_F(TestbenchSessionTest, DisconnectAndClosingTheFrame) {
  session& s = make_session();
  ASSERT_TRUE(s.connect("TestDevice"));
  host_.answers = {false};
  EXPECT_FALSE(s.disconnect());
  EXPECT_TRUE(s.connected());
  EXPECT_EQ(host_.questions.back(), text(txt::s134_confirm_disconnect, true));

  probe_->set_result("Close", 111);
  host_.answers = {true};
  EXPECT_FALSE(s.disconnect());
  EXPECT_TRUE(s.connected());
  const auto& records = s.log().records();
  EXPECT_EQ(records[records.size() - 2].text, "(E) : Errore chiusura comunicazione");
  EXPECT_EQ(records.back().text, "(W) : Connessione ancora attiva");

  // The control closed itself although Close failed: the next disconnect finds it closed (101)
  // and ends the connection instead of staying connected for ever.
  probe_->set_result("Close", 0);
  host_.answers = {false};
  EXPECT_FALSE(s.may_close()) << "cancel keeps the application open";
  EXPECT_EQ(host_.questions.back(), text(txt::s149_close_while_connected, true));
  host_.answers = {true};
  config_.set_int(kSectionPrinter, "TransactionMode", 1);
  EXPECT_TRUE(s.may_close());
  EXPECT_FALSE(s.connected());
  EXPECT_FALSE(config_.transaction_mode());
  EXPECT_EQ(s.device_information(), "No connection with pos printer\r\nData not avaible");
}

// ---------------------------------------------------------------------------------------------
// A whole session against the kit's own stack: Ptrctl → Devsvc → QuorelMonitor → sim: printer.

namespace dt = devsvc::testing;

class TestbenchVirtualPrinterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(controls_test::register_library(PTRCTL_PATH));
    const std::string uri = "sim:" + dt::unique_sim_name();
    dt::set_port("VPRN1", uri);
    dt::printer_key key;
    key.comm_port = "VPRN1";
    key.ini_set = dt::environment::example_metrics().string();
    key.dat_file = dt::environment::example_logo().string();
    dt::write_printer_key(key);
    platform::registry_key device;
    ASSERT_EQ(platform::registry_key::open(platform::registry_root::local_machine,
                                           std::string(controls_test::kPosPrinterKey) + "\\" + key.device_name, device),
              platform::kErrorSuccess);
    device.set_string("PTRKorvane", key.device_name);
    printer_ = monitor::sim_printer(uri);
    ASSERT_NE(printer_, nullptr);
    config_.apply_first_run();
  }

  dt::environment env_;
  vprinter::virtual_printer* printer_ = nullptr;
  settings config_{TESTBENCH_DATA_DIR};
  test_host host_;
};

TEST_F(TestbenchVirtualPrinterTest, ConnectPrintAScriptWithABreakpointSeeEventsAndDisconnect) {
  session s(config_, host_);
  ASSERT_TRUE(s.create_control());
  s.load_property_table();
  const std::vector<printer_entry> printers = list_printers();
  ASSERT_EQ(printers.size(), 1u);
  ASSERT_TRUE(s.connect_selected(printers[0].name)) << s.log().text();
  EXPECT_EQ(s.connection_text(), "VX40Device attiva");

  script_document doc;
  doc.set_text("' receipt\n<ESC|cA><ESC|bC>KORVANE\nTotal 12.50\n<ESC|3lF>");
  doc.toggle_breakpoint(3);
  const std::size_t mark = printer_->capture().size();
  ASSERT_TRUE(s.print_script(doc, "receipt.txt")) << s.log().text();
  EXPECT_EQ(host_.stops, (std::vector<int>{3}));
  const std::string sent = printer_->capture().substr(mark);
  EXPECT_NE(sent.find("KORVANE"), std::string::npos) << dt::hex(sent);
  EXPECT_NE(sent.find("Total 12.50"), std::string::npos) << dt::hex(sent);
  EXPECT_EQ(sent.find("<ESC|"), std::string::npos) << "every sequence was converted: " << dt::hex(sent);
  EXPECT_EQ(s.log().records().back().text, "(I) : Esecuzione comando di stampa");

  // The cover opens: the print fails with 114, reported by its extended code, and the printer's
  // status events (cover open, then power off-line with power notification on) are traced.
  printer_->inject_fault(vprinter::fault::cover_open);
  script_document one;
  one.set_text("covered");
  EXPECT_FALSE(s.print_script(one));
  EXPECT_EQ(s.log().records().back().detail,
            "      Linea errore esecuzione :1|      Codice errore restituito: OPOS_EPTR_COVER_OPEN");
  EXPECT_NE(s.log().text().find("Status della stampante: PTR_SUE_COVER_OPEN"), std::string::npos) << s.log().text();
  EXPECT_NE(s.log().text().find("Status della stampante: OPOS_SUE_POWER_OFFLINE"), std::string::npos);
  printer_->clear_fault(vprinter::fault::cover_open);

  // An asynchronous print completes on a later poll tick, traced as an output-complete event.
  for (std::size_t i = 0; i < s.properties().size(); ++i) {
    if (s.properties()[i].name == "AsyncMode") {
      ASSERT_TRUE(s.write_property(i, "TRUE"));
    }
  }
  ASSERT_TRUE(s.print_script(doc));
  const std::uint64_t end = platform::tick_count_ms() + 10000;
  while (s.log().text().find("<OutputCompleteEvent>") == std::string::npos && platform::tick_count_ms() < end) {
    platform::pump_messages_for(10);
  }
  EXPECT_NE(s.log().text().find("Identificativo di fine esecuzione: "), std::string::npos) << s.log().text();

  EXPECT_NE(s.device_information().find("\tName, VX40Device"), std::string::npos);
  host_.answers = {true};
  ASSERT_TRUE(s.disconnect()) << s.log().text();
  EXPECT_EQ(s.connection_text(), "Nessuna Connessione");
}

}  // namespace
