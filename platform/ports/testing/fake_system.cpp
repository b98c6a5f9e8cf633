// Builds fake sysfs trees laid out as the kernel lays out the real one, with relative links.
#include "platform/fake_system.h"

#include <cstdio>
#include <fstream>

namespace platform::testing {
namespace {

namespace fs = std::filesystem;

std::string hex4(std::uint16_t value) {
  char text[8];
  std::snprintf(text, sizeof text, "%04x", value);
  return text;
}

}  // namespace

fake_system::fake_system(fs::path root) : root_(std::move(root)), sys_(root_ / "sys") {
  fs::create_directories(sys_ / "class" / "tty");
  // A console tty is always there and is never a serial port.
  fs::create_directories(sys_ / "class" / "tty" / "tty0");
  fs::create_directories(sys_ / "bus" / "usb" / "devices");
}

void fake_system::write(std::string_view relative, std::string_view text) const {
  const fs::path path = root_ / relative;
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

void fake_system::link(const fs::path& link, const fs::path& target) const {
  fs::create_directories(link.parent_path());
  fs::create_directories(target);
  fs::create_directory_symlink(fs::relative(target, link.parent_path()), link);
}

fs::path fake_system::usb_device(std::string_view name, std::string_view device_class) {
  const fs::path device = sys_ / "devices" / "usb" / name;
  fs::create_directories(device);
  if (!fs::exists(device / "bDeviceClass")) {
    std::ofstream(device / "bDeviceClass") << device_class << "\n";
    link(sys_ / "bus" / "usb" / "devices" / name, device);
  }
  return device;
}

void fake_system::add_uart(int number, int uart_type, bool serial_core_ports) {
  const std::string n = std::to_string(number);
  const fs::path entry = sys_ / "class" / "tty" / ("ttyS" + n);
  fs::create_directories(entry);
  std::ofstream(entry / "type") << uart_type << "\n";
  fs::path device = sys_ / "devices" / "platform" / "serial8250";
  if (!fs::exists(device / "driver")) link(device / "driver", sys_ / "bus" / "platform" / "drivers" / "serial8250");
  if (serial_core_ports) {
    const fs::path serial_base = sys_ / "bus" / "serial-base" / "drivers";
    device /= "serial8250:0";
    if (!fs::exists(device / "driver")) link(device / "driver", serial_base / "ctrl");
    device /= "serial8250:0." + n;
    link(device / "driver", serial_base / "port");
  }
  link(entry / "device", device);
}

void fake_system::add_usb_serial(std::string_view tty, std::string_view bus_port, std::string_view product,
                                 std::string_view driver) {
  const fs::path device = usb_device(bus_port, "00");
  std::ofstream(device / "product") << product << "\n";
  fs::path port = device / (std::string(bus_port) + ":1.0");
  // A usb-serial adapter's port sits below the interface; an ACM modem's tty is the interface's.
  if (tty.starts_with("ttyUSB")) port /= tty;
  link(port / "driver", sys_ / "bus" / "usb" / "drivers" / driver);
  link(sys_ / "class" / "tty" / tty / "device", port);
}

void fake_system::add_usb_printer(int lp_number, std::string_view bus_port, std::uint16_t vendor_id,
                                  std::uint16_t product_id, std::string_view interface_class) {
  const fs::path device = usb_device(bus_port, "00");
  std::ofstream(device / "idVendor") << hex4(vendor_id) << "\n";
  std::ofstream(device / "idProduct") << hex4(product_id) << "\n";
  const fs::path interface = device / (std::string(bus_port) + ":1.0");
  fs::create_directories(interface);
  std::ofstream(interface / "bInterfaceClass") << interface_class << "\n";
  link(sys_ / "class" / "usbmisc" / ("lp" + std::to_string(lp_number)) / "device", interface);
}

void fake_system::add_usb_controller(int bus, std::string_view product, std::string_view manufacturer,
                                     std::string_view usb_version) {
  const fs::path hub = usb_device("usb" + std::to_string(bus), "09");
  std::ofstream(hub / "product") << product << "\n";
  std::ofstream(hub / "manufacturer") << manufacturer << "\n";
  std::ofstream(hub / "version") << " " << usb_version << "\n";
}

void fake_system::add_usb_hub(std::string_view bus_port, std::string_view product, std::string_view usb_version) {
  const fs::path hub = usb_device(bus_port, "09");
  if (!product.empty()) std::ofstream(hub / "product") << product << "\n";
  std::ofstream(hub / "version") << " " << usb_version << "\n";
}

void fake_system::add_parallel(int number, bool with_lp) {
  const std::string n = std::to_string(number);
  link(sys_ / "bus" / "parport" / "devices" / ("parport" + n), sys_ / "devices" / "platform" / ("parport_pc." + n));
  if (with_lp) fs::create_directories(sys_ / "class" / "printer" / ("lp" + n));
}

void fake_system::set_version(std::string_view kernel_release, std::string_view os_release) {
  write("proc/sys/kernel/osrelease", std::string(kernel_release) + "\n");
  write("etc/os-release", os_release);
}

void fake_system::remove(std::string_view relative) { fs::remove_all(root_ / relative); }

}  // namespace platform::testing
