// Sessions of the line display through the C++ API: opos::line_display → the registered Dspctl
// control → the Devsvc line display service object → QuorelMonitor → the display of a virtual
// printer on a sim: port. A running marquee is stopped by a call the application posted.
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "monitor/sim.h"
#include "opos/line_display.h"
#include "platform/messages.h"
#include "platform/registry.h"
#include "platform/testing/temp_dir.h"
#include "test_support.h"
#include "testing/harness.h"

namespace {

namespace dt = devsvc::testing;

constexpr const char* kPort = "VDSP1";

class LineDisplaySessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(controls_test::register_library(DSPCTL_PATH));
    uri_ = "sim:" + dt::unique_sim_name();
    dt::set_port(kPort, uri_);
    const std::filesystem::path ini = dir_.path() / "display.ini";
    std::ofstream(ini) << "[DISPLAY]\nNColoums=20\nNRows=2\n";
    controls_test::install_device(controls_test::kLineDisplayKey, "VX40LineControl", "Korvane.LineDisplay.VX40.1");
    platform::registry_key key;
    ASSERT_EQ(platform::registry_key::open(platform::registry_root::local_machine,
                                           std::string(controls_test::kLineDisplayKey) + "\\VX40LineControl", key),
              platform::kErrorSuccess);
    key.set_string("MachineType", "VX40");
    key.set_string("COMMPort", kPort);
    key.set_string("IniSet", ini.string());
    printer_ = monitor::sim_printer(uri_);
    ASSERT_NE(printer_, nullptr);
  }

  dt::environment env_;
  platform::testing::temp_dir dir_;
  std::string uri_;
  vprinter::virtual_printer* printer_ = nullptr;
};

TEST_F(LineDisplaySessionTest, APostedCallStopsARunningMarquee) {
  opos::line_display display;
  ASSERT_EQ(display.Open("VX40LineControl"), opos::kSuccess);
  ASSERT_EQ(display.ClaimDevice(1000), opos::kSuccess);
  display.SetDeviceEnabled(true);
  ASSERT_EQ(display.DisplayText("Welcome to the cafe"), opos::kSuccess);
  display.SetMarqueeUnitWait(20);
  display.SetMarqueeRepeatWait(20);

  // The posted call runs from the queue that the marquee pumps between its frames.
  std::int32_t type_seen = -1;
  std::int32_t state_seen = -1;
  display.post(
      [&] {
        type_seen = display.GetMarqueeType();
        state_seen = display.GetState();
        display.SetMarqueeType(opos::kDispMarqueeNone);
      },
      300);
  // A posted call that is cancelled never runs.
  bool cancelled_ran = false;
  EXPECT_TRUE(display.cancel(display.post([&] { cancelled_ran = true; }, 100)));

  const std::size_t before = printer_->capture().size();
  const std::uint64_t started = platform::tick_count_ms();
  display.SetMarqueeType(opos::kDispMarqueeLeft);
  EXPECT_LT(platform::tick_count_ms() - started, 10000u) << "the marquee ended";
  EXPECT_EQ(type_seen, opos::kDispMarqueeLeft) << "the call ran while the marquee ran";
  EXPECT_EQ(state_seen, opos::kStateBusy);
  EXPECT_FALSE(cancelled_ran);
  EXPECT_GT(printer_->capture().size(), before + 100) << "frames went out before the stop";
  EXPECT_EQ(display.GetMarqueeType(), opos::kDispMarqueeNone);
  EXPECT_EQ(display.GetState(), opos::kStateIdle);
  EXPECT_EQ(printer_->state().peripheral, 1) << "the printer is selected again";
  EXPECT_EQ(display.ReleaseDevice(), opos::kSuccess);
  EXPECT_EQ(display.Close(), opos::kSuccess);
}

TEST_F(LineDisplaySessionTest, PostedCallsRunInOrderOnTheDisplaysThread) {
  opos::line_display display;
  std::vector<std::string> ran;
  const std::thread::id own = std::this_thread::get_id();
  const auto record = [&](std::string name) {
    return [&ran, &own, name] { ran.push_back(std::this_thread::get_id() == own ? name : name + " elsewhere"); };
  };
  display.post(record("late"), 60);
  display.post(record("first"));
  std::thread other([&] { display.post(record("from another thread")); });
  other.join();
  display.post(record("second"), 0);
  EXPECT_TRUE(ran.empty()) << "nothing runs before the thread dispatches";
  const std::uint64_t end = platform::tick_count_ms() + 5000;
  while (ran.size() < 4 && platform::tick_count_ms() < end) opos::pump_messages(10);
  EXPECT_EQ(ran, (std::vector<std::string>{"first", "from another thread", "second", "late"}));
}

}  // namespace
