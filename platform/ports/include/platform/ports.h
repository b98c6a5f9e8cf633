// The computer's ports as the kit sees them: serial, parallel and USB printer ports, the USB
// controllers and hubs, and the system's version, all read from sysfs and a few system files
// below one root folder ("/" on a running system; tests point it at a fake tree).
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

namespace platform {

// A serial port with a device behind it: a ttyS with a real UART, a ttyUSB or a ttyACM.
struct serial_port {
  int com_number = 0;      // n of the platform name COMn (see list_serial_ports)
  std::string device;      // device node, "/dev/ttyS0"
  std::string name;        // what it is: the UART type, or the USB product of an adapter
  std::string driver;      // kernel driver bound to it ("serial8250", "ftdi_sio", "cdc_acm"), or ""
};

// A parallel port: a parport or an lp printer device of the same number.
struct parallel_port {
  int lpt_number = 0;  // n of the platform name LPTn: the kernel's number plus 1
  std::string device;  // "/dev/lp0"
};

// A printer-class USB device served by the usblp driver.
struct usb_printer_port {
  std::uint16_t vendor_id = 0;
  std::uint16_t product_id = 0;
  int port_number = 0;  // USB printer port number: the N of /dev/usb/lp(N-1), so USB001 is lp0
  std::string device;   // "/dev/usb/lp0"
};

// A USB host controller, described by its root hub.
struct usb_controller {
  std::string name;          // "xHCI Host Controller"
  std::string manufacturer;  // "Linux 6.1.0-18-amd64 xhci-hcd"
};

// A USB hub, root hubs included.
struct usb_hub {
  std::string name;         // product string, or "USB hub <bus-port>" when it has none
  std::string usb_version;  // "2.00", "3.00"
};

// The system's version, in the terms the kit's installation uses (see system_version()).
struct system_version_info {
  int major = 0;
  int minor = 0;
  int code = 0;              // the kit's version code: kVersionLinux or kVersionOther
  std::string text;          // the distribution's name and version, "Debian GNU/Linux 12 (bookworm)"
  std::string service_pack;  // the full kernel release, "6.1.0-18-amd64"; "" when unknown
};

// Version codes the kit's installation chooses port lookup by. A Linux system with the USB bus in
// sysfs finds ports as the platform's XP generation did (probed serial ports, one "USB" entry
// resolved through the printer-class devices), so it carries that code; without the USB bus it is
// "another platform", which adds no USB entries.
inline constexpr int kVersionOther = 0;
inline constexpr int kVersionLinux = 6;

// The system files below `root`: sysfs at root/sys, the kernel release at
// root/proc/sys/kernel/osrelease, the distribution at root/etc/os-release.
class system_ports {
 public:
  explicit system_ports(std::filesystem::path root = "/");

  const std::filesystem::path& root() const { return root_; }

  // Whether sysfs can be read at all (root/sys/class/tty is a folder); when it cannot, `error`
  // says why. The kit falls back to fixed port lists then.
  bool available(std::error_code& error) const;

  // Serial ports in order of their COM number. ttySk is COM(k+1), the numbering the monitor's
  // default transports use; a ttyS without a UART (type 0) is left out. ttyUSB and then ttyACM
  // ports, each by number, take the numbers after the highest ttyS one listed.
  std::vector<serial_port> list_serial_ports(std::error_code& error) const;

  // Parallel ports by number: every parportk and every lp printer device lpk, as LPT(k+1).
  std::vector<parallel_port> list_parallel_ports(std::error_code& error) const;

  // USB printer-class devices that have a /dev/usb/lpN node, by port number. A system without
  // the usblp driver has none, which is no error; an unreadable sysfs entry is.
  std::vector<usb_printer_port> list_usb_printers(std::error_code& error) const;

  // USB host controllers (one per root hub) and hubs, by bus and position.
  std::vector<usb_controller> list_usb_controllers(std::error_code& error) const;
  std::vector<usb_hub> list_usb_hubs(std::error_code& error) const;

  // The kernel's version and the distribution's name (see system_version_info).
  system_version_info system_version() const;

 private:
  std::filesystem::path sys() const { return root_ / "sys"; }

  std::filesystem::path root_;
};

}  // namespace platform
