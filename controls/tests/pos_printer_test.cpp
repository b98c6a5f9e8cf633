// Tests of the C++ API's POS printer: it creates the registered Ptrctl control by ProgID, so each
// call travels application → control → test service object, and events come back through
// pos_printer_events, also from the message queue.
#include "opos/pos_printer.h"

#include <poll.h>

#include <optional>
#include <vector>

#include <gtest/gtest.h>

#include "platform/testing/temp_dir.h"
#include "test_service.h"
#include "test_support.h"

namespace {

class recording_events final : public opos::pos_printer_events {
 public:
  void on_direct_io(std::int32_t number, std::int32_t& data, std::string& text) override {
    seen.push_back("direct_io " + std::to_string(number) + " " + std::to_string(data) + " " + text);
    data += 1;
    text = "answer";
  }
  void on_error(std::int32_t code, std::int32_t extended, std::int32_t locus, std::int32_t& response) override {
    seen.push_back("error " + std::to_string(code) + " " + std::to_string(extended) + " " + std::to_string(locus));
    response = opos::kErrorResponseRetry;
  }
  void on_output_complete(std::int32_t id) override { seen.push_back("output_complete " + std::to_string(id)); }
  void on_status_update(std::int32_t data) override { seen.push_back("status_update " + std::to_string(data)); }

  std::vector<std::string> seen;
};

class PosPrinterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(controls_test::register_library(PTRCTL_PATH));
    ASSERT_TRUE(controls_test::register_library(CONTROLS_TEST_SERVICE_PATH));
    controls_test::install_device(controls_test::kPosPrinterKey, "TestDevice", controls_test::kServiceProgId);
    probe_.emplace();
  }

  platform::testing::scoped_registry_dir registry_;
  std::optional<controls_test::service_probe> probe_;
};

TEST_F(PosPrinterTest, UnregisteredControlThrows) {
  try {
    opos::pos_printer printer("No.Such.Control.1");
    FAIL() << "created";
  } catch (const opos::automation_error& e) {
    EXPECT_EQ(e.code(), platform::kCoEClassString);
    EXPECT_NE(std::string(e.what()).find("No.Such.Control.1"), std::string::npos) << e.what();
  }
}

// The API's ClaimDevice and ReleaseDevice (OPOS 1.5 names) are the service object's Claim and
// Release.
TEST_F(PosPrinterTest, ClaimDeviceAndReleaseDeviceAreClaimAndRelease) {
  opos::pos_printer printer;
  ASSERT_EQ(printer.Open("TestDevice"), opos::kSuccess);
  probe_->set_result("Claim", opos::kETimeout);
  EXPECT_EQ(printer.ClaimDevice(250), opos::kETimeout);
  probe_->set_result("Claim", opos::kSuccess);
  EXPECT_EQ(printer.ClaimDevice(250), opos::kSuccess);
  EXPECT_EQ(printer.ReleaseDevice(), opos::kSuccess);
  EXPECT_EQ(probe_->take_calls(),
            "OpenService(\"POSPrinter\", \"TestDevice\", object)\n"
            "Claim(250)\n"
            "Claim(250)\n"
            "Release()");
}

TEST_F(PosPrinterTest, SessionReachesTheServiceObject) {
  opos::pos_printer printer;
  EXPECT_EQ(printer.GetControlObjectVersion(), 1000000);
  EXPECT_EQ(printer.GetControlObjectDescription(), "POSPrinter Driver - Korvane OLE for Retail");
  EXPECT_EQ(printer.PrintNormal(opos::kPtrStationReceipt, "early"), opos::kEClosed);
  EXPECT_FALSE(printer.GetDeviceEnabled());

  ASSERT_EQ(printer.Open("TestDevice"), opos::kSuccess);
  EXPECT_EQ(printer.Claim(1000), opos::kSuccess);
  printer.SetDeviceEnabled(true);
  EXPECT_TRUE(printer.GetDeviceEnabled());
  EXPECT_EQ(printer.PrintNormal(opos::kPtrStationReceipt, "Hello\n"), opos::kSuccess);
  probe_->set_number(6, opos::kEExtended);
  EXPECT_EQ(printer.GetResultCode(), opos::kEExtended);
  probe_->set_string(1000004, "Test service");
  EXPECT_EQ(printer.GetServiceObjectDescription(), "Test service");
  std::int32_t data = 1;
  std::string text = "q";
  EXPECT_EQ(printer.DirectIO(7, data, text), opos::kSuccess);
  EXPECT_EQ(data, 1001);
  EXPECT_EQ(text, "q+SO");
  EXPECT_EQ(printer.Close(), opos::kSuccess);
  EXPECT_EQ(probe_->take_calls(),
            "OpenService(\"POSPrinter\", \"TestDevice\", object)\n"
            "Claim(1000)\n"
            "SetPropertyNumber(3, 1)\n"
            "GetPropertyNumber(3)\n"
            "PrintNormal(2, \"Hello\\x0A\")\n"
            "GetPropertyNumber(6)\n"
            "GetPropertyString(1000004)\n"
            "DirectIO(7, 1, \"q\")\n"
            "Close()");
  EXPECT_NE(printer.AboutBox().find("Release 1.01"), std::string::npos);
}

TEST_F(PosPrinterTest, AutomationFailuresThrowWithTheirCode) {
  opos::pos_printer printer;
  ASSERT_EQ(printer.Open("TestDevice"), opos::kSuccess);
  try {
    printer.ChangePrintSide(1);
    FAIL() << "no error";
  } catch (const opos::automation_error& e) {
    EXPECT_EQ(e.code(), platform::kDispEException);
    EXPECT_NE(std::string(e.what()).find("ChangePrintSide"), std::string::npos) << e.what();
  }
  EXPECT_THROW(printer.set_number("ResultCode", 1), opos::automation_error);
  EXPECT_THROW(printer.call("NoSuchMember"), opos::automation_error);
}

TEST_F(PosPrinterTest, EventsReachTheHandlerWithAnswers) {
  opos::pos_printer printer;
  recording_events events;
  printer.set_event_handler(&events);
  ASSERT_EQ(printer.Open("TestDevice"), opos::kSuccess);
  EXPECT_EQ(probe_->fire_error(opos::kEFailure, 0, opos::kErrorLocusOutput, opos::kErrorResponseClear),
            opos::kErrorResponseRetry);
  EXPECT_EQ(probe_->fire_direct_io(3, 10, "in"), "11:answer");
  EXPECT_EQ(probe_->fire_output_complete(77), platform::kSOk);
  EXPECT_EQ(probe_->fire_status_update(24), platform::kSOk);
  const std::vector<std::string> expected = {"error 111 0 1", "direct_io 3 10 in", "output_complete 77",
                                             "status_update 24"};
  EXPECT_EQ(events.seen, expected);

  // Without a handler the events are dropped and the service object keeps its values.
  printer.set_event_handler(nullptr);
  EXPECT_EQ(probe_->fire_error(opos::kEFailure, 0, 1, opos::kErrorResponseClear), opos::kErrorResponseClear);
  EXPECT_EQ(events.seen.size(), expected.size());
}

// Waits up to `timeout_ms` for the message descriptor to become readable.
bool readable(int fd, int timeout_ms) {
  pollfd p{fd, POLLIN, 0};
  return ::poll(&p, 1, timeout_ms) == 1 && (p.revents & POLLIN) != 0;
}

TEST_F(PosPrinterTest, QueuedEventsArriveThroughTheMessageDescriptor) {
  opos::pos_printer printer;
  recording_events events;
  printer.set_event_handler(&events);
  ASSERT_EQ(printer.Open("TestDevice"), opos::kSuccess);
  const int fd = opos::message_fd();
  ASSERT_GE(fd, 0);
  EXPECT_FALSE(readable(fd, 0));

  std::int32_t data = 25;
  std::string text;
  ASSERT_EQ(printer.DirectIO(controls_test::kPostStatusUpdate, data, text), opos::kSuccess);
  EXPECT_TRUE(events.seen.empty()) << "delivered only when the application dispatches";
  ASSERT_TRUE(readable(fd, 2000));
  EXPECT_TRUE(opos::dispatch_messages());
  EXPECT_EQ(events.seen, std::vector<std::string>{"status_update 25"});
  EXPECT_FALSE(readable(fd, 0));

  data = 26;
  ASSERT_EQ(printer.DirectIO(controls_test::kPostStatusUpdate, data, text), opos::kSuccess);
  opos::pump_messages(20);
  EXPECT_EQ(events.seen.back(), "status_update 26");
}

}  // namespace
