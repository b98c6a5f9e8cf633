// A fake system tree for tests of port enumeration: the sysfs folders, links and attributes that
// the kernel shows for serial, parallel and USB devices, and the version files, below a folder.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace platform::testing {

class fake_system {
 public:
  // Builds an empty system under `root` (with sysfs's tty class, so that sysfs is there).
  explicit fake_system(std::filesystem::path root);

  const std::filesystem::path& root() const { return root_; }

  // ttyS<number>, bound to serial8250; `uart_type` 0 is a port without a UART. With
  // `serial_core_ports` the tty's device is the serial core's port below its controller, as
  // Linux 6.5 and later lay it out.
  void add_uart(int number, int uart_type = 4, bool serial_core_ports = false);
  // A USB serial adapter ("ttyUSB0", "ttyACM1") on USB device `bus_port` ("1-2") with `product`.
  void add_usb_serial(std::string_view tty, std::string_view bus_port, std::string_view product,
                      std::string_view driver);
  // A USB printer at /dev/usb/lp<lp_number> on USB device `bus_port`; `interface_class` is
  // the interface's class as sysfs writes it ("07" for a printer).
  void add_usb_printer(int lp_number, std::string_view bus_port, std::uint16_t vendor_id,
                       std::uint16_t product_id, std::string_view interface_class = "07");
  // The root hub of bus `bus` (one per host controller).
  void add_usb_controller(int bus, std::string_view product, std::string_view manufacturer,
                          std::string_view usb_version);
  // An external hub at `bus_port`.
  void add_usb_hub(std::string_view bus_port, std::string_view product, std::string_view usb_version);
  // parport<number>, with the lp printer device lp<number> when `with_lp`.
  void add_parallel(int number, bool with_lp);
  // The kernel release and the distribution's os-release text.
  void set_version(std::string_view kernel_release, std::string_view os_release);
  // Removes a file or folder below the root ("sys/bus/usb"), to take a facility away.
  void remove(std::string_view relative);

  // Writes a file below the root, making its folders.
  void write(std::string_view relative, std::string_view text) const;

 private:
  std::filesystem::path usb_device(std::string_view name, std::string_view device_class);
  void link(const std::filesystem::path& link, const std::filesystem::path& target) const;

  std::filesystem::path root_;
  std::filesystem::path sys_;
};

}  // namespace platform::testing
