// Tests of port enumeration against fake sysfs trees: which devices count as ports, their
// numbers, names and drivers, USB printers, controllers, hubs and the system's version.
#include "platform/ports.h"

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/fake_system.h"
#include "platform/testing/temp_dir.h"

namespace platform {
namespace {

class PortsTest : public ::testing::Test {
 protected:
  testing::temp_dir dir_;
  testing::fake_system fake_{dir_.path()};
  system_ports ports_{dir_.path()};
};

TEST_F(PortsTest, SerialPortsAreRealUartsAndUsbAdaptersNumberedAfterThem) {
  fake_.add_uart(0, 4);
  fake_.add_uart(1, 0);  // registered by the kernel, no UART behind it
  fake_.add_uart(3, 1, true);
  fake_.add_uart(10, 0);
  fake_.add_usb_serial("ttyUSB0", "1-2", "FT232R USB UART", "ftdi_sio");
  fake_.add_usb_serial("ttyACM0", "1-5", "Receipt Printer CDC", "cdc_acm");

  std::error_code error;
  const std::vector<serial_port> serial = ports_.list_serial_ports(error);
  ASSERT_FALSE(error) << error.message();
  ASSERT_EQ(serial.size(), 4u);
  const struct {
    int com;
    const char* device;
    const char* name;
    const char* driver;
  } expected[] = {
      {1, "/dev/ttyS0", "16550A UART", "serial8250"},
      {4, "/dev/ttyS3", "8250 UART", "serial8250"},
      {5, "/dev/ttyUSB0", "FT232R USB UART", "ftdi_sio"},
      {6, "/dev/ttyACM0", "Receipt Printer CDC", "cdc_acm"},
  };
  for (std::size_t i = 0; i < serial.size(); ++i) {
    SCOPED_TRACE(expected[i].device);
    EXPECT_EQ(serial[i].com_number, expected[i].com);
    EXPECT_EQ(serial[i].device, expected[i].device);
    EXPECT_EQ(serial[i].name, expected[i].name);
    EXPECT_EQ(serial[i].driver, expected[i].driver);
  }
}

TEST_F(PortsTest, MachineWithoutSerialPortsListsNone) {
  for (int number = 0; number < 4; ++number) fake_.add_uart(number, 0);
  std::error_code error;
  EXPECT_TRUE(ports_.available(error));
  EXPECT_TRUE(ports_.list_serial_ports(error).empty());
  EXPECT_FALSE(error) << error.message();
}

TEST_F(PortsTest, WithoutSysfsNothingIsAvailableAndSerialListingFails) {
  fake_.remove("sys");
  std::error_code error;
  EXPECT_FALSE(ports_.available(error));
  EXPECT_EQ(error, std::errc::no_such_file_or_directory);
  EXPECT_TRUE(ports_.list_serial_ports(error).empty());
  EXPECT_EQ(error, std::errc::no_such_file_or_directory);
  // The USB printer lookup finds nothing, which is no error.
  EXPECT_TRUE(ports_.list_usb_printers(error).empty());
  EXPECT_FALSE(error) << error.message();
}

TEST_F(PortsTest, UsbPrintersCarryTheirIdsAndPortNumberFromTheLpNode) {
  fake_.add_usb_printer(0, "1-3", 0x4B52, 101);
  fake_.add_usb_printer(2, "1-4", 0x04B8, 0x0202);
  fake_.add_usb_printer(1, "1-6", 0x4B52, 101, "ff");  // not a printer interface

  std::error_code error;
  const std::vector<usb_printer_port> printers = ports_.list_usb_printers(error);
  ASSERT_FALSE(error) << error.message();
  ASSERT_EQ(printers.size(), 2u);
  EXPECT_EQ(printers[0].vendor_id, 0x4B52);
  EXPECT_EQ(printers[0].product_id, 101);
  EXPECT_EQ(printers[0].port_number, 1);
  EXPECT_EQ(printers[0].device, "/dev/usb/lp0");
  EXPECT_EQ(printers[1].vendor_id, 0x04B8);
  EXPECT_EQ(printers[1].product_id, 0x0202);
  EXPECT_EQ(printers[1].port_number, 3);
  EXPECT_EQ(printers[1].device, "/dev/usb/lp2");
}

TEST_F(PortsTest, UnreadableUsbPrinterIsAnError) {
  fake_.add_usb_printer(0, "1-3", 0x4B52, 101);
  // An attribute that cannot be read: a folder where the vendor id should be.
  std::filesystem::remove(dir_ / "sys/devices/usb/1-3/idVendor");
  std::filesystem::create_directory(dir_ / "sys/devices/usb/1-3/idVendor");
  std::error_code error;
  EXPECT_TRUE(ports_.list_usb_printers(error).empty());
  EXPECT_EQ(error, std::errc::is_a_directory);
}

TEST_F(PortsTest, ParallelPortsFromParportAndLp) {
  fake_.add_parallel(0, true);
  fake_.add_parallel(1, false);
  std::error_code error;
  const std::vector<parallel_port> parallel = ports_.list_parallel_ports(error);
  ASSERT_FALSE(error) << error.message();
  ASSERT_EQ(parallel.size(), 2u);
  EXPECT_EQ(parallel[0].lpt_number, 1);
  EXPECT_EQ(parallel[0].device, "/dev/lp0");
  EXPECT_EQ(parallel[1].lpt_number, 2);
  EXPECT_EQ(parallel[1].device, "/dev/lp1");
}

TEST_F(PortsTest, ControllersAreRootHubsAndHubsIncludeThemInBusOrder) {
  fake_.add_usb_controller(2, "xHCI Host Controller", "Linux 6.1.0-18-amd64 xhci-hcd", "3.00");
  fake_.add_usb_controller(1, "xHCI Host Controller", "Linux 6.1.0-18-amd64 xhci-hcd", "2.00");
  fake_.add_usb_hub("1-1", "USB2.0 Hub", "2.10");
  fake_.add_usb_hub("1-1.4", "", "2.00");
  fake_.add_usb_printer(0, "1-3", 0x4B52, 101);  // a device, not a hub

  std::error_code error;
  const std::vector<usb_controller> controllers = ports_.list_usb_controllers(error);
  ASSERT_FALSE(error) << error.message();
  ASSERT_EQ(controllers.size(), 2u);
  EXPECT_EQ(controllers[0].name, "xHCI Host Controller");
  EXPECT_EQ(controllers[0].manufacturer, "Linux 6.1.0-18-amd64 xhci-hcd");

  const std::vector<usb_hub> hubs = ports_.list_usb_hubs(error);
  ASSERT_FALSE(error) << error.message();
  ASSERT_EQ(hubs.size(), 4u);
  EXPECT_EQ(hubs[0].usb_version, "2.00");  // usb1
  EXPECT_EQ(hubs[1].name, "USB2.0 Hub");
  EXPECT_EQ(hubs[1].usb_version, "2.10");
  EXPECT_EQ(hubs[2].name, "USB hub 1-1.4");
  EXPECT_EQ(hubs[3].usb_version, "3.00");  // usb2
}

TEST_F(PortsTest, VersionFromKernelReleaseAndOsRelease) {
  const struct {
    const char* what;
    const char* release;
    const char* os_release;
    bool usb_bus;
    int major, minor, code;
    const char* text;
  } cases[] = {
      {"pretty name", "6.1.0-18-amd64", "NAME=\"Debian GNU/Linux\"\nPRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\n",
       true, 6, 1, kVersionLinux, "Debian GNU/Linux 12 (bookworm)"},
      {"name and version", "5.15.0", "NAME=Ubuntu\nVERSION_ID='22.04'\n", true, 5, 15, kVersionLinux, "Ubuntu 22.04"},
      {"no USB bus", "4.19.0", "PRETTY_NAME=Tiny\n", false, 4, 19, kVersionOther, "Tiny"},
      {"nothing known", "", "", true, 0, 0, kVersionLinux, "Linux"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    fake_.set_version(c.release, c.os_release);
    if (c.usb_bus) {
      std::filesystem::create_directories(dir_ / "sys/bus/usb");
    } else {
      fake_.remove("sys/bus/usb");
    }
    const system_version_info version = ports_.system_version();
    EXPECT_EQ(version.major, c.major);
    EXPECT_EQ(version.minor, c.minor);
    EXPECT_EQ(version.code, c.code);
    EXPECT_EQ(version.text, c.text);
    EXPECT_EQ(version.service_pack, c.release);
  }
}

}  // namespace
}  // namespace platform
