// posutil printers, identify and status against sim ports in the test's registry, through the
// real monitor library.

#include <sstream>

#include <gtest/gtest.h>

#include "monitor/monitor.h"
#include "monitor/sim.h"
#include "platform/com.h"
#include "platform/registry.h"
#include "platform/testing/temp_dir.h"
#include "platform/testing/server_library.h"
#include "posutil.h"

namespace {

class PosutilPrintersTest : public ::testing::Test {
 protected:
  // A registry of this test's own: ctest runs this program's tests side by side.
  platform::testing::scoped_registry_dir registry_;

  void SetUp() override {
    std::string error;
    ASSERT_EQ(platform::testing::register_server_library(QUOREL_MONITOR_PATH, error), platform::kSOk) << error;
    platform::registry_key ports;
    if (platform::registry_key::open(platform::registry_root::local_machine, monitor::kPortsKey, ports) ==
        platform::kErrorSuccess)
      ports.delete_tree("");
    static int counter = 0;
    const std::string n = std::to_string(++counter);
    set_port("COM1", "sim:vx-" + n + "?id=46", "VX40", "Counter");
    set_port("USB001", "sim:qw-" + n + "?protocol=2&model=QW-310", "QW-310", "");
    set_port("COM2", "sim:cover-" + n + "?fault=cover_open", "VX40", "Kitchen");
    set_port("COM3", "sim:broken-" + n + "?fault=unrecoverable_error", "VX40", "Bar");
    set_port("LAN1", "socket://192.0.2.7:9100", "VX40", "Office");
  }

  static void set_port(const std::string& port, const std::string& uri, const std::string& type,
                       const std::string& name) {
    platform::registry_key key;
    ASSERT_EQ(platform::registry_key::create(platform::registry_root::local_machine,
                                             std::string(monitor::kPortsKey) + "\\" + port, key),
              platform::kErrorSuccess);
    key.set_string("Transport", uri);
    key.set_string("MachineType", type);
    if (!name.empty()) key.set_string("Name", name);
  }

  struct outcome {
    int status;
    std::string out;
    std::string err;
  };
  static outcome run(std::vector<std::string> args) {
    std::ostringstream out, err;
    const int status = posutil::run(args, out, err);
    return {status, out.str(), err.str()};
  }
};

TEST_F(PosutilPrintersTest, PrintersListsTheTree) {
  const outcome text = run({"printers"});
  EXPECT_EQ(text.status, posutil::kExitOk) << text.err;
  // This computer, its printers (name:port) and the LAN printers.
  EXPECT_NE(text.out.find("\n  Counter:COM1\n  QW-310:USB001\n  Kitchen:COM2\n  Bar:COM3\nOffice:LAN1  (LAN)\n"),
            std::string::npos)
      << text.out;
  const outcome json = run({"printers", "--json"});
  EXPECT_EQ(json.status, posutil::kExitOk);
  EXPECT_EQ(json.out.rfind("{\"mode\":\"local\",\"nodes\":[{\"kind\":\"Server\"", 0), 0u) << json.out;
  EXPECT_NE(json.out.find("{\"kind\":\"Printer\",\"text\":\"QW-310:USB001\""), std::string::npos) << json.out;
  EXPECT_NE(json.out.find("\"port\":\"USB001\""), std::string::npos);
  EXPECT_EQ(run({"printers", "extra"}).status, posutil::kExitUsage);
}

TEST_F(PosutilPrintersTest, IdentifyByNameOrPort) {
  struct identify_case {
    std::vector<std::string> args;
    int status;
    std::string out;
  };
  const identify_case cases[] = {
      {{"identify", "Counter", "--json"}, posutil::kExitOk, "{\"id\":46,\"model\":\"VX40\",\"brand\":\"KORVANE\"}\n"},
      {{"identify", "com1", "--json"}, posutil::kExitOk, "{\"id\":46,\"model\":\"VX40\",\"brand\":\"KORVANE\"}\n"},
      {{"identify", "USB001", "--json"}, posutil::kExitOk, "{\"id\":161,\"model\":\"VJ12\",\"brand\":\"KORVANE\"}\n"},
      {{"identify", "QW-310"}, posutil::kExitOk, "id 161\nmodel VJ12\nbrand KORVANE\n"},
      {{"identify", "Kitchen"}, posutil::kExitFailure, ""},
      {{"identify", "Nobody"}, posutil::kExitFailure, ""},
      {{"identify"}, posutil::kExitUsage, ""},
      {{"identify", "a", "b"}, posutil::kExitUsage, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    const outcome o = run(c.args);
    EXPECT_EQ(o.status, c.status) << o.err;
    EXPECT_EQ(o.out, c.out);
    if (c.status != posutil::kExitOk) {
      EXPECT_FALSE(o.err.empty());
    }
  }
  EXPECT_NE(run({"identify", "Kitchen"}).err.find("posutil: Printer offline.\nPlease check printer"),
            std::string::npos);
}

TEST_F(PosutilPrintersTest, StatusRunsTheStatusCheck) {
  struct status_case {
    const char* printer;
    int status;
    const char* out;
  };
  const status_case cases[] = {
      {"Counter", posutil::kExitOk, "Printer ready...\n"},
      {"Kitchen", posutil::kExitOk, "Cover open. Waiting...\n"},
      {"Bar", posutil::kExitFailure, "Unrecoverable printer error. Please check printer...\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.printer);
    const outcome o = run({"status", c.printer});
    EXPECT_EQ(o.status, c.status) << o.err;
    EXPECT_EQ(o.out, c.out);
  }
  EXPECT_EQ(run({"status", "--help"}).status, posutil::kExitOk);
  EXPECT_EQ(run({"status", "--json", "Counter"}).status, posutil::kExitUsage);
}

}  // namespace
