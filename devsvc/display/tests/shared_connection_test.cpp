// The printer and the display of one process share one connection: both claimed, the printer
// prints and the display shows text through the same channel, and either may be released first
// while the other goes on working.
#include <gtest/gtest.h>

#include "core/opos.h"
#include "display_fixture.h"
#include "monitor/sim.h"

namespace devsvc::display_test {
namespace {

TEST_F(DisplayTest, PrinterAndDisplayShareOneConnection) {
  testing::printer_key key;
  key.comm_port = "VDSP1";
  key.ini_set = testing::environment::example_metrics().string();
  key.dat_file = testing::environment::example_logo().string();
  testing::write_printer_key(key);

  struct Case {
    const char* name;
    bool display_claims_first;
    bool printer_released_first;
  };
  const Case cases[] = {
      {"display claims first, printer releases first", true, true},
      {"printer claims first, display releases first", false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    uri_ = "sim:" + testing::unique_sim_name();
    testing::set_port("VDSP1", uri_);
    printer_ = monitor::sim_printer(uri_);
    ASSERT_NE(printer_, nullptr);

    service_client printer("Korvane.POSPrinter.VX40.1");
    service_client display;
    ASSERT_EQ(printer.open("POSPrinter", "VX40Device"), OPOS_SUCCESS);
    ASSERT_EQ(display.open(), OPOS_SUCCESS);
    service_client& first = c.display_claims_first ? display : printer;
    service_client& second = c.display_claims_first ? printer : display;
    ASSERT_EQ(first.call("Claim", 1000), OPOS_SUCCESS);
    ASSERT_EQ(second.call("Claim", 1000), OPOS_SUCCESS);
    ASSERT_EQ(printer.set(PIDX_DeviceEnabled, 1), OPOS_SUCCESS);
    ASSERT_EQ(display.set(PIDX_DeviceEnabled, 1), OPOS_SUCCESS);
    EXPECT_EQ(monitor::sim_open_channels(uri_), 1) << "one channel for both";

    EXPECT_EQ(display.call("DisplayText", "Total 2.50", 0), OPOS_SUCCESS);
    EXPECT_EQ(printer.call("PrintNormal", PTR_S_RECEIPT, "Receipt line\n"), OPOS_SUCCESS);
    EXPECT_EQ(printer_->display().lines[0], "Total 2.50          ");
    EXPECT_GT(printer_->paper().count(), 0) << "the printer printed after the display's burst";
    EXPECT_EQ(printer_->display().lines[1], std::string(20, ' ')) << "the print data did not reach the display";
    EXPECT_EQ(printer_->state().peripheral, 1);

    service_client& released = c.printer_released_first ? printer : display;
    service_client& kept = c.printer_released_first ? display : printer;
    ASSERT_EQ(released.call("Release"), OPOS_SUCCESS);
    EXPECT_EQ(monitor::sim_open_channels(uri_), 1) << "the other one still uses the connection";
    if (c.printer_released_first) {
      EXPECT_EQ(kept.call("DisplayText", "Thank you!", 0), OPOS_SUCCESS);
      EXPECT_EQ(printer_->display().lines[0], "Thank you!          ");
    } else {
      const int inked = printer_->paper().count();
      EXPECT_EQ(kept.call("PrintNormal", PTR_S_RECEIPT, "Second line\n"), OPOS_SUCCESS);
      EXPECT_GT(printer_->paper().count(), inked);
      EXPECT_EQ(printer_->display().lines[0], std::string(20, ' ')) << "the display's release cleared it";
    }
    ASSERT_EQ(kept.call("Release"), OPOS_SUCCESS);
    EXPECT_EQ(monitor::sim_open_channels(uri_), 0) << "the last release closes the connection";
    EXPECT_EQ(printer.call("Close"), OPOS_SUCCESS);
    EXPECT_EQ(display.call("Close"), OPOS_SUCCESS);
  }
}

}  // namespace
}  // namespace devsvc::display_test
