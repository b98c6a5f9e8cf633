// A session of the cash drawer through the C++ API: opos::cash_drawer → the registered Drwctl
// control → the Devsvc cash drawer service object → QuorelMonitor → the drawer of a virtual
// printer on a sim: port.
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "monitor/sim.h"
#include "opos/cash_drawer.h"
#include "platform/registry.h"
#include "test_support.h"
#include "testing/harness.h"

namespace {

namespace dt = devsvc::testing;

constexpr const char* kPort = "VDRW1";
constexpr const char* kDrawerKey = "SOFTWARE\\OLEforRetail\\ServiceOPOS\\CashDrawer";

// Records the drawer's status updates and answers direct-I/O events.
struct recording_events : opos::cash_drawer_events {
  std::vector<std::int32_t> statuses;
  void on_status_update(std::int32_t data) override { statuses.push_back(data); }
};

class CashDrawerSessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(controls_test::register_library(DRWCTL_PATH));
    dt::set_fixed_dword("TimeOutLoopMsg", 100);
    uri_ = "sim:" + dt::unique_sim_name();
    dt::set_port(kPort, uri_);
    controls_test::install_device(kDrawerKey, "VX40DrawerControl", "Korvane.CashDrawer.VX40.1");
    platform::registry_key key;
    ASSERT_EQ(platform::registry_key::open(platform::registry_root::local_machine,
                                           std::string(kDrawerKey) + "\\VX40DrawerControl", key),
              platform::kErrorSuccess);
    key.set_string("MachineType", "VX40");
    key.set_string("COMMPort", kPort);
    printer_ = monitor::sim_printer(uri_);
    ASSERT_NE(printer_, nullptr);
  }

  dt::environment env_;
  std::string uri_;
  vprinter::virtual_printer* printer_ = nullptr;
};

TEST_F(CashDrawerSessionTest, OpenTheDrawerAndWaitForTheCashierToCloseIt) {
  opos::cash_drawer drawer;
  recording_events events;
  drawer.set_event_handler(&events);
  EXPECT_EQ(drawer.OpenDrawer(), opos::kEClosed) << "before Open";
  ASSERT_EQ(drawer.Open("VX40DrawerControl"), opos::kSuccess);
  ASSERT_EQ(drawer.Claim(1000), opos::kSuccess);
  drawer.SetDeviceEnabled(true);
  EXPECT_TRUE(drawer.GetCapStatus());
  EXPECT_FALSE(drawer.GetDrawerOpened());

  ASSERT_EQ(drawer.OpenDrawer(), opos::kSuccess);
  EXPECT_TRUE(printer_->drawer_open());
  EXPECT_TRUE(drawer.GetDrawerOpened());
  EXPECT_EQ(events.statuses, (std::vector<std::int32_t>{opos::kCashSueDrawerOpen}));

  // The cashier closes the drawer while the application waits (no beep before 60 s).
  std::thread cashier([this] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    printer_->close_drawer();
  });
  const std::int32_t waited = drawer.WaitForDrawerClose(60000, 880, 100, 100);
  cashier.join();
  EXPECT_EQ(waited, opos::kSuccess);
  EXPECT_FALSE(drawer.GetDrawerOpened());
  EXPECT_EQ(events.statuses,
            (std::vector<std::int32_t>{opos::kCashSueDrawerOpen, opos::kCashSueDrawerClosed}));

  // Without a handler the events are dropped, and the control still works.
  drawer.set_event_handler(nullptr);
  ASSERT_EQ(drawer.OpenDrawer(), opos::kSuccess);
  EXPECT_EQ(events.statuses.size(), 2u);
  printer_->close_drawer();
  EXPECT_EQ(drawer.Release(), opos::kSuccess);
  EXPECT_EQ(drawer.Close(), opos::kSuccess);
}

}  // namespace
