// Tests of the printer's diagnostic log: what a technician sees of a session with a cover-open
// fault at the default level (warnings) and with LogLevel 6 and LogBytes 1 under the device key.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "core/opos.h"
#include "platform/registry.h"
#include "printer/tests/printer_fixture.h"
#include "testing/harness.h"
#include "vprinter/virtual_printer.h"

namespace devsvc {
namespace {

using test::printer_object;
using vprinter::fault;

class PrinterLogTest : public test::printer_fixture {
 protected:
  void SetUp() override {
    printer_fixture::SetUp();
    ::setenv("POSKIT_LOG_FILE", (dir_ / "poskit.log").c_str(), 1);
  }
  void TearDown() override { ::unsetenv("POSKIT_LOG_FILE"); }

  // Writes a DWORD under the printer's device key.
  static void set_device_dword(std::string_view name, std::uint32_t value) {
    platform::registry_key key;
    ASSERT_EQ(platform::registry_key::open(platform::registry_root::local_machine,
                                           "SOFTWARE\\OLEforRetail\\ServiceOPOS\\POSPrinter\\VX40Device", key),
              platform::kErrorSuccess);
    ASSERT_EQ(key.set_dword(name, value), platform::kErrorSuccess);
  }

  // A session: open, claim, enable, one line printed, the cover opened, one more line refused.
  void run_session() {
    printer_object p;
    p.open_claim_enable();
    EXPECT_EQ(p.call("PrintNormal", PTR_S_RECEIPT, "Coffee 2.50\n"), OPOS_SUCCESS);
    printer_->inject_fault(fault::cover_open);
    EXPECT_EQ(p.call("PrintNormal", PTR_S_RECEIPT, "Total\n"), OPOS_E_EXTENDED);
    EXPECT_EQ(p.call("Release"), OPOS_SUCCESS);
    EXPECT_EQ(p.call("Close"), OPOS_SUCCESS);
  }

  // The log's lines without their time stamps.
  std::string log_text() const {
    std::ifstream in(dir_ / "poskit.log");
    std::string out;
    for (std::string line; std::getline(in, line);) out += (line.size() > 24 ? line.substr(24) : line) + "\n";
    return out;
  }
};

TEST_F(PrinterLogTest, ByDefaultOnlyTheFailedRequestIsLogged) {
  run_session();
  EXPECT_EQ(log_text(), "warning VX40Device: PrintNormal(2, \"Total\\x0A\") -> 114 (extended 201)\n");
}

TEST_F(PrinterLogTest, InfoLevelAndByteTracingShowTheWholeSession) {
  set_device_dword("LogLevel", 6);
  set_device_dword("LogBytes", 1);
  run_session();
  const std::string log = log_text();
  for (const char* expected : {
           "info    VX40Device: OpenService(\"POSPrinter\", \"VX40Device\", object) -> 0\n",
           "debug   VX40Device: wrote 3 bytes: 1B 3D 01\n",
           "info    VX40Device: Claim(1000) -> 0\n",
           "info    VX40Device: PrintNormal(2, \"Coffee 2.50\\x0A\") -> 0\n",
           "debug   VX40Device: wrote 12 bytes: 43 6F 66 66 65 65 20 32 2E 35 30 0A\n",
           "debug   VX40Device: read 1 bytes: 16\n",  // DLE EOT 2: cover open
           "info    VX40Device: StatusUpdateEvent 11\n",
           "warning VX40Device: PrintNormal(2, \"Total\\x0A\") -> 114 (extended 201)\n",
           "info    VX40Device: Release() -> 0\n",
           "info    VX40Device: Close() -> 0\n",
       }) {
    EXPECT_NE(log.find(expected), std::string::npos) << expected << "\nin\n" << log;
  }
  // Property traffic stays below info.
  EXPECT_EQ(log.find("GetPropertyNumber"), std::string::npos) << log;
}

}  // namespace
}  // namespace devsvc
