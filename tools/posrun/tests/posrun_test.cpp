// Tests of posrun: scripts run against the registered POS printer control bound to the recording
// test service object, checking the JSON and readable output, events and exit statuses; and the
// program itself run as a process.
#include "posrun.h"

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

#include <gtest/gtest.h>

#include "platform/testing/temp_dir.h"
#include "test_service.h"
#include "test_support.h"

namespace {

struct run_output {
  int exit_code = -1;
  std::string out;
  std::string err;
};

class PosrunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(controls_test::register_library(PTRCTL_PATH));
    ASSERT_TRUE(controls_test::register_library(CONTROLS_TEST_SERVICE_PATH));
    controls_test::install_device(controls_test::kPosPrinterKey, "TestDevice", controls_test::kServiceProgId);
    probe_.emplace();
  }

  // Runs posrun in this process with `args`, the script coming from standard input.
  static run_output run(std::vector<std::string> args, const std::string& script) {
    std::istringstream in(script);
    std::ostringstream out;
    std::ostringstream err;
    run_output r;
    r.exit_code = posrun::run(args, in, out, err);
    r.out = out.str();
    r.err = err.str();
    return r;
  }

  platform::testing::scoped_registry_dir registry_;
  std::optional<controls_test::service_probe> probe_;
};

TEST_F(PosrunTest, JsonRecordsOfCallsReadsWritesAndEvents) {
  const run_output r = run({"--json", "-"},
                           "# a receipt\n"
                           "Open \"TestDevice\"\n"
                           "Claim 1000\n"
                           "DeviceEnabled = 1\n"
                           "DeviceEnabled\n"
                           "PrintNormal 2, \"Hello\\n\"\n"
                           "DirectIO 1 5 \"ab\"\n"
                           "ControlObjectVersion\n"
                           "respond ErrorEvent 11\n"
                           "DirectIO 9002 203 \"\"\r\n"
                           "ChangePrintSide 1\n"
                           "JrnEmpty = 1\n"
                           "Close\n");
  EXPECT_EQ(r.exit_code, posrun::kExitOk) << r.err;
  EXPECT_EQ(r.out,
            "{\"line\":2,\"member\":\"Open\",\"result\":0}\n"
            "{\"line\":3,\"member\":\"Claim\",\"result\":0}\n"
            "{\"line\":4,\"member\":\"DeviceEnabled\",\"set\":1}\n"
            "{\"line\":5,\"member\":\"DeviceEnabled\",\"value\":true}\n"
            "{\"line\":6,\"member\":\"PrintNormal\",\"result\":0}\n"
            "{\"line\":7,\"member\":\"DirectIO\",\"result\":0,\"out\":[1005,\"ab+SO\"]}\n"
            "{\"line\":8,\"member\":\"ControlObjectVersion\",\"value\":1000000}\n"
            "{\"line\":9,\"respond\":\"ErrorEvent\",\"response\":11}\n"
            "{\"event\":\"ErrorEvent\",\"args\":[111,203,1,12],\"response\":11}\n"
            "{\"line\":10,\"member\":\"DirectIO\",\"result\":0,\"out\":[11,\"\"]}\n"
            "{\"line\":11,\"member\":\"ChangePrintSide\",\"error\":\"0x80020009\",\"message\":\"0x80020009 "
            "(DISP_E_EXCEPTION): the service object's ChangePrintSide failed with 0x80020006 (DISP_E_UNKNOWNNAME)\"}\n"
            "{\"line\":12,\"member\":\"JrnEmpty\",\"error\":\"0x800A017F\",\"message\":\"0x800A017F "
            "(CTL_E_SETNOTSUPPORTED)\"}\n"
            "{\"line\":13,\"member\":\"Close\",\"result\":0}\n");
  EXPECT_EQ(probe_->take_calls(),
            "OpenService(\"POSPrinter\", \"TestDevice\", object)\n"
            "Claim(1000)\n"
            "SetPropertyNumber(3, 1)\n"
            "GetPropertyNumber(3)\n"
            "PrintNormal(2, \"Hello\\x0A\")\n"
            "DirectIO(1, 5, \"ab\")\n"
            "DirectIO(9002, 203, \"\")\n"
            "Close()");
}

TEST_F(PosrunTest, EventsQueuedOnTheMessageQueueArriveDuringWait) {
  const run_output r = run({"--json", "-"},
                           "Open \"TestDevice\"\n"
                           "DirectIO 9005 25 \"\"\n"
                           "wait 50\n"
                           "DirectIO 9001 26 \"\"\n");
  EXPECT_EQ(r.exit_code, posrun::kExitOk) << r.err;
  EXPECT_EQ(r.out,
            "{\"line\":1,\"member\":\"Open\",\"result\":0}\n"
            "{\"line\":2,\"member\":\"DirectIO\",\"result\":0,\"out\":[25,\"\"]}\n"
            "{\"event\":\"StatusUpdateEvent\",\"args\":[25]}\n"
            "{\"line\":3,\"wait\":50}\n"
            "{\"event\":\"StatusUpdateEvent\",\"args\":[26]}\n"
            "{\"line\":4,\"member\":\"DirectIO\",\"result\":0,\"out\":[26,\"\"]}\n");
}

// ClaimDevice and ReleaseDevice, called by name, reach the service object as Claim and Release.
TEST_F(PosrunTest, ClaimDeviceAndReleaseDeviceByName) {
  const run_output r = run({"--json", "-"},
                           "Open \"TestDevice\"\n"
                           "ClaimDevice 1500\n"
                           "ReleaseDevice\n");
  EXPECT_EQ(r.exit_code, posrun::kExitOk) << r.err;
  EXPECT_EQ(r.out,
            "{\"line\":1,\"member\":\"Open\",\"result\":0}\n"
            "{\"line\":2,\"member\":\"ClaimDevice\",\"result\":0}\n"
            "{\"line\":3,\"member\":\"ReleaseDevice\",\"result\":0}\n");
  EXPECT_EQ(probe_->take_calls(),
            "OpenService(\"POSPrinter\", \"TestDevice\", object)\n"
            "Claim(1500)\n"
            "Release()");
}

// A line posted with after runs, with its own line number, once its time has passed and the
// script dispatches messages; posted lines still waiting at the end are dropped.
TEST_F(PosrunTest, AfterPostsALineThatRunsWhileMessagesAreDispatched) {
  const run_output r = run({"--json", "-"},
                           "Open \"TestDevice\"\n"
                           "after 40 PrintNormal 2 \"later\"\n"
                           "after 20 AsyncMode = 1\n"
                           "PrintNormal 2 \"now\"\n"
                           "wait 300\n"
                           "after 60000 Close\n");
  EXPECT_EQ(r.exit_code, posrun::kExitOk) << r.err;
  EXPECT_EQ(r.out,
            "{\"line\":1,\"member\":\"Open\",\"result\":0}\n"
            "{\"line\":2,\"after\":40,\"member\":\"PrintNormal\"}\n"
            "{\"line\":3,\"after\":20,\"member\":\"AsyncMode\"}\n"
            "{\"line\":4,\"member\":\"PrintNormal\",\"result\":0}\n"
            "{\"line\":3,\"member\":\"AsyncMode\",\"set\":1}\n"
            "{\"line\":2,\"member\":\"PrintNormal\",\"result\":0}\n"
            "{\"line\":5,\"wait\":300}\n"
            "{\"line\":6,\"after\":60000,\"member\":\"Close\"}\n");
  EXPECT_EQ(probe_->take_calls(),
            "OpenService(\"POSPrinter\", \"TestDevice\", object)\n"
            "PrintNormal(2, \"now\")\n"
            "SetPropertyNumber(8001, 1)\n"
            "PrintNormal(2, \"later\")");
}

TEST_F(PosrunTest, ReadableOutput) {
  probe_->set_string(1000002, "Line\x1b|1C");
  const run_output r = run({"-"},
                           "ResultCode\n"
                           "Open \"TestDevice\"\n"
                           "DeviceDescription\n"
                           "DirectIO 9004 3 \"in\"\n"
                           "MarkFeed 1\n"
                           "AboutBox\n"
                           "wait 0\n");
  EXPECT_EQ(r.exit_code, posrun::kExitOk) << r.err;
  EXPECT_EQ(r.out,
            "1: ResultCode = 0\n"
            "2: Open -> 0\n"
            "3: DeviceDescription = \"Line\\e|1C\"\n"
            "event DirectIOEvent 9004 3 \"in\"\n"
            "4: DirectIO -> 0, out 3 \"in\"\n"
            "5: MarkFeed failed: 0x80020009 (DISP_E_EXCEPTION): the service object's MarkFeed failed with "
            "0x80020006 (DISP_E_UNKNOWNNAME)\n"
            "6: AboutBox -> \"OPOS Driver for POS Printer\\nRelease 1.01\"\n"
            "7: wait 0 ms\n");
}

TEST_F(PosrunTest, JsonStringsKeepUtf8AndEscapeTheRest) {
  probe_->set_string(1000002, "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x96\xa8 \x1b|cA\xff\x80\"\\\n\x7f");
  const run_output r = run({"--json", "-"}, "Open \"TestDevice\"\nDeviceDescription\n");
  EXPECT_EQ(r.exit_code, posrun::kExitOk) << r.err;
  EXPECT_EQ(r.out,
            "{\"line\":1,\"member\":\"Open\",\"result\":0}\n"
            "{\"line\":2,\"member\":\"DeviceDescription\",\"value\":\"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x96\xa8 "
            "\\u001b|cA\\u00ff\\u0080\\\"\\\\\\n\\u007f\"}\n");
}

TEST(JsonStringTest, EscapesEverythingThatIsNotUtf8Text) {
  const std::pair<std::string, std::string> cases[] = {
      {"plain", "\"plain\""},
      {std::string("\0\t\r", 3), "\"\\u0000\\t\\r\""},
      {"\xc3\xa9\xe2\x82\xac\xf0\x9f\x96\xa8", "\"\xc3\xa9\xe2\x82\xac\xf0\x9f\x96\xa8\""},
      {"\xc0\xaf", "\"\\u00c0\\u00af\""},          // overlong '/'
      {"\xed\xa0\x80", "\"\\u00ed\\u00a0\\u0080\""},  // a surrogate
      {"\xe2\x82", "\"\\u00e2\\u0082\""},          // cut short
      {"\xf4\x90\x80\x80", "\"\\u00f4\\u0090\\u0080\\u0080\""},  // past U+10FFFF
      {"a\xe9z", "\"a\\u00e9z\""},                 // Latin-1, not UTF-8
  };
  for (const auto& [bytes, json] : cases) EXPECT_EQ(posrun::json_string(bytes), json);
}

struct exit_case {
  const char* behaviour;
  std::vector<std::string> args;
  const char* script;
  int exit_code;
  const char* err;  // expected in standard error
};

TEST_F(PosrunTest, ExitStatuses) {
  const exit_case cases[] = {
      {"no script", {}, "", posrun::kExitUsage, "posrun: no script given"},
      {"two scripts", {"a", "b"}, "", posrun::kExitUsage, "more than one script"},
      {"unknown option", {"--fast", "-"}, "", posrun::kExitUsage, "unknown option --fast"},
      {"option without value", {"-", "--class"}, "", posrun::kExitUsage, "--class needs a value"},
      {"unknown class", {"--class", "Scanner", "-"}, "", posrun::kExitUsage, "unknown device class Scanner"},
      {"cash drawer not registered", {"--class", "CashDrawer", "-"}, "Open \"X\"\n", posrun::kExitFailure,
       "the CashDrawer control (CONTROLObject.KorvaneCashDrawer.1) is not available"},
      {"line display not registered", {"--class", "linedisplay", "-"}, "", posrun::kExitFailure,
       "the LineDisplay control (CONTROLObject.KorvaneLineControl.1) is not available"},
      {"missing script file", {"/nonexistent/script.txt"}, "", posrun::kExitFailure,
       "cannot read /nonexistent/script.txt"},
      {"empty script", {"-"}, "", posrun::kExitOk, ""},
      {"help", {"--help"}, "", posrun::kExitOk, ""},
      {"version", {"--version"}, "", posrun::kExitOk, ""},
      {"class given with =", {"--class=Scanner", "-"}, "", posrun::kExitUsage, "unknown device class Scanner"},
      {"flag given a value", {"--json=1", "-"}, "", posrun::kExitUsage, "--json takes no value"},
      {"progid without members", {"--progid", "X.Y", "-"}, "", posrun::kExitUsage, "--progid goes with --members"},
      {"members with a script", {"--members", "-"}, "", posrun::kExitUsage, "--members takes no script"},
      {"members of both a class and a progid", {"--members", "--class", "CashDrawer", "--progid", "X.Y"}, "",
       posrun::kExitUsage, "--class and --progid exclude each other"},
      {"members of an unregistered progid", {"--members", "--progid", "No.Such.1"}, "", posrun::kExitFailure,
       "No.Such.1 is not available"},
  };
  for (const exit_case& c : cases) {
    SCOPED_TRACE(c.behaviour);
    const run_output r = run(c.args, c.script);
    EXPECT_EQ(r.exit_code, c.exit_code);
    EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
  }
  EXPECT_EQ(probe_->take_calls(), "");
  EXPECT_NE(run({"--help"}, "").out.find("Usage: posrun"), std::string::npos);
}

TEST_F(PosrunTest, VersionNamesTheKitVersion) {
  const run_output r = run({"--version"}, "");
  EXPECT_EQ(r.out.rfind("posrun (poskit) ", 0), 0u) << r.out;
  EXPECT_EQ(r.out.back(), '\n');
}

// --strict stops at the first call whose result is not 0, or that fails as a call; without it the
// same script runs to its end and exits 0.
TEST_F(PosrunTest, StrictStopsAtTheFirstFailedCall) {
  const struct {
    const char* behaviour;
    const char* script;
    std::string calls;  // what reached the service object
    const char* err;
  } cases[] = {
      {"an OPOS failure",
       "Open \"TestDevice\"\nClaim 1000\nPrintNormal 2 \"x\"\nClose\n",
       "OpenService(\"POSPrinter\", \"TestDevice\", object)\nClaim(1000)",
       "posrun: line 2: Claim returned 111 (stopped by --strict)\n"},
      {"an automation error",
       "Open \"TestDevice\"\nChangePrintSide 1\nClose\n",
       "OpenService(\"POSPrinter\", \"TestDevice\", object)",
       "posrun: line 2: ChangePrintSide failed with 0x80020009"},
      {"a call before Open (101)", "PrintNormal 2 \"x\"\nOpen \"TestDevice\"\n", "",
       "posrun: line 1: PrintNormal returned 101"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.behaviour);
    (void)probe_->take_calls();
    probe_->set_result("Claim", 111);
    const run_output strict = run({"--strict", "--json", "-"}, c.script);
    EXPECT_EQ(strict.exit_code, posrun::kExitStrict);
    EXPECT_EQ(strict.err.rfind(c.err, 0), 0u) << strict.err;
    EXPECT_EQ(probe_->take_calls(), c.calls);
    const run_output lenient = run({"--json", "-"}, c.script);
    EXPECT_EQ(lenient.exit_code, posrun::kExitOk) << lenient.err;
  }
  // Property reads and writes that work, and results of 0, do not stop it.
  probe_->set_result("Claim", 0);
  const run_output clean = run({"--strict", "-"}, "Open \"TestDevice\"\nClaim 1000\nDeviceEnabled = 1\nState\nClose\n");
  EXPECT_EQ(clean.exit_code, posrun::kExitOk) << clean.err;
}

// The members of the POS printer control as a table and as JSON lines: properties with their
// type and access, methods with their argument and result types.
TEST_F(PosrunTest, MembersListsTheControlsDispatchTable) {
  const run_output json = run({"--members", "--json"}, "");
  ASSERT_EQ(json.exit_code, posrun::kExitOk) << json.err;
  for (const char* line : {
           "{\"dispid\":1,\"name\":\"BinaryConversion\",\"kind\":\"property\",\"type\":\"long\",\"writable\":true}\n",
           "\"name\":\"Claimed\",\"kind\":\"property\",\"type\":\"bool\",\"writable\":false}\n",
           "\"name\":\"CheckHealthText\",\"kind\":\"property\",\"type\":\"string\",\"writable\":false}\n",
           "\"name\":\"PrintNormal\",\"kind\":\"method\",\"args\":[\"long\",\"string\"],\"returns\":\"long\"}\n",
           "\"name\":\"DirectIO\",\"kind\":\"method\",\"args\":[\"long\",\"long&\",\"string&\"],\"returns\":\"long\"}\n",
           "{\"dispid\":-552,\"name\":\"AboutBox\",\"kind\":\"method\",\"args\":[],\"returns\":\"string\"}\n",
       }) {
    EXPECT_NE(json.out.find(line), std::string::npos) << line;
  }
  // A read-write property is one member, not a get and a put.
  EXPECT_EQ(json.out.find("\"BinaryConversion\""), json.out.rfind("\"BinaryConversion\""));
  const run_output table = run({"--members"}, "");
  ASSERT_EQ(table.exit_code, posrun::kExitOk) << table.err;
  EXPECT_NE(table.out.find("1\tproperty\tBinaryConversion : long (read-write)\n"), std::string::npos) << table.out;
  EXPECT_NE(table.out.find("\tmethod\tPrintNormal(long, string) : long\n"), std::string::npos) << table.out;
  // Any object of the object model by ProgID: the test service object's own table.
  const run_output service = run({"--members", "--progid", controls_test::kServiceProgId}, "");
  ASSERT_EQ(service.exit_code, posrun::kExitOk) << service.err;
  EXPECT_NE(service.out.find("\tmethod\tOpenService("), std::string::npos) << service.out;
}

TEST_F(PosrunTest, BadLineStopsTheRun) {
  const run_output r = run({"--json", "-"},
                           "Open \"TestDevice\"\n"
                           "Claim 1000\n"
                           "PrintNormal 2 \"unterminated\n"
                           "Close\n");
  EXPECT_EQ(r.exit_code, posrun::kExitBadScript);
  EXPECT_EQ(r.out,
            "{\"line\":1,\"member\":\"Open\",\"result\":0}\n"
            "{\"line\":2,\"member\":\"Claim\",\"result\":0}\n"
            "{\"line\":3,\"parse_error\":\"unterminated string\"}\n");
  EXPECT_EQ(r.err, "posrun: line 3: unterminated string\n");
  EXPECT_EQ(probe_->take_calls(), "OpenService(\"POSPrinter\", \"TestDevice\", object)\nClaim(1000)");
}

std::string read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST_F(PosrunTest, ScriptFolderStandsInForItsVariableInStrings) {
  platform::testing::temp_dir files;
  std::filesystem::create_directories(files / "scripts");
  {
    std::ofstream script(files / "scripts" / "job.posrun");
    script << "Open \"TestDevice\"\nPrintNormal 2 \"${script_dir}/../images/a.bmp ${script_dir}\"\nClose\n";
  }
  const std::string folder = (files / "scripts").string();
  const run_output r = run({"--json", folder + "/job.posrun"}, "");
  EXPECT_EQ(r.exit_code, posrun::kExitOk) << r.err;
  EXPECT_EQ(probe_->take_calls(), "OpenService(\"POSPrinter\", \"TestDevice\", object)\nPrintNormal(2, \"" + folder +
                                      "/../images/a.bmp " + folder + "\")\nClose()");
}

TEST_F(PosrunTest, ProgramRunsScriptFileAndStandardInput) {
  platform::testing::temp_dir files;
  {
    std::ofstream script(files / "receipt.txt");
    script << "Open \"TestDevice\"\nPrintNormal 2 \"x\"\nDirectIO 9005 25 \"\"\nwait 50\nClose\n";
  }
  // The program gets the test's registry through --registry, not through the environment. The
  // status update that the service library queues arrives while the program waits.
  const std::string registry = registry_.path().string();
  const std::string program = std::string("env -u OPOS_REGISTRY_DIR timeout 30 ") + POSRUN_PATH + " --registry '" +
                              registry + "' --json ";
  const std::string redirect = " >'" + (files / "out").string() + "' 2>'" + (files / "err").string() + "'";
  const std::string expected =
      "{\"line\":1,\"member\":\"Open\",\"result\":0}\n"
      "{\"line\":2,\"member\":\"PrintNormal\",\"result\":0}\n"
      "{\"line\":3,\"member\":\"DirectIO\",\"result\":0,\"out\":[25,\"\"]}\n"
      "{\"event\":\"StatusUpdateEvent\",\"args\":[25]}\n"
      "{\"line\":4,\"wait\":50}\n"
      "{\"line\":5,\"member\":\"Close\",\"result\":0}\n";
  for (const std::string& source :
       {"'" + (files / "receipt.txt").string() + "'", "- <'" + (files / "receipt.txt").string() + "'"}) {
    SCOPED_TRACE(source);
    const int status = std::system((program + source + redirect).c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), posrun::kExitOk) << read_file(files / "err");
    EXPECT_EQ(read_file(files / "out"), expected);
  }
  const int status = std::system((program + "'" + (files / "missing.txt").string() + "'" + redirect).c_str());
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), posrun::kExitFailure);
}

}  // namespace
