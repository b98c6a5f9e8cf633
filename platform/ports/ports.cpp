// Reading the computer's ports, USB controllers and hubs, and the system's version from sysfs and
// a few system files below one root folder.
#include "platform/ports.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cctype>
#include <map>
#include <optional>
#include <set>
#include <string_view>
#include <tuple>

namespace platform {
namespace {

namespace fs = std::filesystem;

// Largest sysfs attribute read here (sysfs hands out at most a page), and largest os-release file.
constexpr std::size_t kMaxAttributeBytes = 4096;
constexpr std::size_t kMaxOsReleaseBytes = 64 * 1024;

std::string trim(std::string_view text) {
  const auto is_space = [](unsigned char c) { return std::isspace(c) != 0; };
  while (!text.empty() && is_space(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
  while (!text.empty() && is_space(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
  return std::string(text);
}

// The trimmed content of a small file (its first `max_bytes`), or nothing with the system's
// reason in `error`.
std::optional<std::string> read_attribute(const fs::path& path, std::error_code& error,
                                          std::size_t max_bytes = kMaxAttributeBytes) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    error.assign(errno, std::generic_category());
    return std::nullopt;
  }
  std::string text(max_bytes, '\0');
  std::size_t used = 0;
  while (used < text.size()) {
    const ssize_t got = ::read(fd, text.data() + used, text.size() - used);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      error.assign(errno, std::generic_category());
      ::close(fd);
      return std::nullopt;
    }
    if (got == 0) break;
    used += static_cast<std::size_t>(got);
  }
  ::close(fd);
  text.resize(used);
  error.clear();
  return trim(text);
}

// The same, "" when the file cannot be read (an attribute that only adds detail).
std::string attribute_or_empty(const fs::path& path) {
  std::error_code ignored;
  return read_attribute(path, ignored).value_or(std::string());
}

// The number after `prefix` in a name such as "ttyS12"; nothing unless all the rest are digits.
std::optional<int> number_after(std::string_view name, std::string_view prefix) {
  if (name.size() <= prefix.size() || name.substr(0, prefix.size()) != prefix) return std::nullopt;
  const std::string_view digits = name.substr(prefix.size());
  int value = 0;
  const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (ec != std::errc() || end != digits.data() + digits.size() || value < 0) return std::nullopt;
  return value;
}

// A hexadecimal 16-bit identifier as sysfs writes it ("04b8").
std::optional<std::uint16_t> parse_hex16(std::string_view text) {
  unsigned value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size() || value > 0xFFFF) {
    return std::nullopt;
  }
  return static_cast<std::uint16_t>(value);
}

// Names of the entries of a folder; a missing folder has none and is an error only when
// `missing_is_error`.
std::vector<std::string> entry_names(const fs::path& folder, bool missing_is_error, std::error_code& error) {
  std::vector<std::string> names;
  std::error_code ec;
  fs::directory_iterator it(folder, ec);
  if (ec) {
    if (ec != std::errc::no_such_file_or_directory || missing_is_error) error = ec;
    return names;
  }
  for (; it != fs::directory_iterator(); it.increment(ec)) {
    names.push_back(it->path().filename().string());
  }
  if (ec) error = ec;
  return names;
}

// Where a sysfs link leads, or "" when it does not resolve.
fs::path resolved(const fs::path& link) {
  std::error_code ec;
  fs::path target = fs::canonical(link, ec);
  return ec ? fs::path() : target;
}

// The name of the driver of a tty's hardware, or "". Since Linux 6.5 a serial port's device is
// the serial core's port (driver "port" on bus serial-base) below its controller ("ctrl"); the
// hardware's driver ("serial8250", "serial") is further up.
std::string driver_of(const fs::path& class_entry) {
  fs::path at = resolved(class_entry / "device");
  for (int level = 0; level < 3 && !at.empty(); ++level, at = at.parent_path()) {
    const fs::path driver = resolved(at / "driver");
    if (driver.empty()) continue;
    if (driver.parent_path().parent_path().filename() != "serial-base") return driver.filename().string();
  }
  return {};
}

// The USB product string of the device a tty hangs off: the first "product" attribute found
// walking up from its device folder (an adapter's port sits two levels below the USB device).
std::string usb_product_above(const fs::path& class_entry, const fs::path& sys_root) {
  fs::path at = resolved(class_entry / "device");
  const std::string stop = resolved(sys_root).string();
  for (int level = 0; level < 3 && !at.empty() && at.string().size() > stop.size(); ++level) {
    std::string product = attribute_or_empty(at / "product");
    if (!product.empty()) return product;
    at = at.parent_path();
  }
  return {};
}

// Names of the UART types a serial8250 port reports in its "type" attribute.
constexpr std::array<std::string_view, 16> kUartTypes = {
    "",       "8250",    "16450",   "16550",   "16550A", "Cirrus",  "ST16650", "ST16650V2",
    "16750",  "Startech", "16C950", "16654",   "16850",  "RSA",     "NS16550A", "XScale",
};

std::string uart_name(int type) {
  if (type > 0 && static_cast<std::size_t>(type) < kUartTypes.size()) {
    return std::string(kUartTypes[static_cast<std::size_t>(type)]) + " UART";
  }
  return "UART type " + std::to_string(type);
}

// Serial device name prefixes, in the order their ports are numbered.
constexpr std::array<std::string_view, 3> kSerialPrefixes = {"ttyS", "ttyUSB", "ttyACM"};

// Bus number and sort key of a USB device folder name ("usb2" is bus 2's root hub, "2-1.4" a
// device on bus 2); root hubs sort first on their bus.
std::tuple<int, int, std::string> usb_order(const std::string& name) {
  if (const std::optional<int> bus = number_after(name, "usb")) return {*bus, 0, name};
  int bus = 0;
  std::from_chars(name.data(), name.data() + name.size(), bus);
  return {bus, 1, name};
}

}  // namespace

system_ports::system_ports(std::filesystem::path root) : root_(std::move(root)) {}

bool system_ports::available(std::error_code& error) const {
  error.clear();
  const fs::path tty = sys() / "class" / "tty";
  if (fs::is_directory(tty, error)) return true;
  if (!error) error = std::make_error_code(std::errc::no_such_file_or_directory);
  return false;
}

std::vector<serial_port> system_ports::list_serial_ports(std::error_code& error) const {
  error.clear();
  const fs::path tty = sys() / "class" / "tty";
  const std::vector<std::string> names = entry_names(tty, true, error);

  // Device numbers per prefix, in order.
  std::array<std::set<int>, kSerialPrefixes.size()> found;
  for (const std::string& name : names) {
    for (std::size_t kind = 0; kind < kSerialPrefixes.size(); ++kind) {
      if (const std::optional<int> number = number_after(name, kSerialPrefixes[kind])) {
        found[kind].insert(*number);
      }
    }
  }

  std::vector<serial_port> ports;
  int next_com = 1;
  for (std::size_t kind = 0; kind < kSerialPrefixes.size(); ++kind) {
    for (const int number : found[kind]) {
      const std::string device = std::string(kSerialPrefixes[kind]) + std::to_string(number);
      const fs::path entry = tty / device;
      serial_port port;
      port.device = "/dev/" + device;
      port.driver = driver_of(entry);
      if (kind == 0) {
        // A ttyS without a UART behind it reports type 0 (or nothing readable).
        int type = 0;
        const std::string text = attribute_or_empty(entry / "type");
        std::from_chars(text.data(), text.data() + text.size(), type);
        if (type <= 0) continue;
        port.com_number = number + 1;
        port.name = uart_name(type);
      } else {
        port.com_number = next_com;
        port.name = usb_product_above(entry, sys());
        if (port.name.empty()) port.name = kind == 1 ? "USB serial adapter" : "USB modem (ACM)";
      }
      next_com = std::max(next_com, port.com_number + 1);
      ports.push_back(std::move(port));
    }
  }
  return ports;
}

std::vector<parallel_port> system_ports::list_parallel_ports(std::error_code& error) const {
  error.clear();
  std::set<int> numbers;
  for (const std::string& name : entry_names(sys() / "class" / "printer", false, error)) {
    if (const std::optional<int> number = number_after(name, "lp")) numbers.insert(*number);
  }
  for (const std::string& name : entry_names(sys() / "bus" / "parport" / "devices", false, error)) {
    if (const std::optional<int> number = number_after(name, "parport")) numbers.insert(*number);
  }
  std::vector<parallel_port> ports;
  for (const int number : numbers) {
    ports.push_back({number + 1, "/dev/lp" + std::to_string(number)});
  }
  return ports;
}

std::vector<usb_printer_port> system_ports::list_usb_printers(std::error_code& error) const {
  error.clear();
  const fs::path usbmisc = sys() / "class" / "usbmisc";
  std::map<int, usb_printer_port> by_number;
  for (const std::string& name : entry_names(usbmisc, false, error)) {
    const std::optional<int> number = number_after(name, "lp");
    if (!number) continue;
    // The node's device is the printer interface; its parent folder is the USB device.
    const fs::path interface = resolved(usbmisc / name / "device");
    if (interface.empty()) continue;  // unplugged meanwhile
    const std::string interface_class = attribute_or_empty(interface / "bInterfaceClass");
    if (!interface_class.empty() && interface_class != "07") continue;
    std::error_code read_error;
    const std::optional<std::string> vendor = read_attribute(interface.parent_path() / "idVendor", read_error);
    const std::optional<std::string> product =
        vendor ? read_attribute(interface.parent_path() / "idProduct", read_error) : std::nullopt;
    if (!vendor || !product) {
      if (read_error == std::errc::no_such_file_or_directory) continue;  // unplugged meanwhile
      error = read_error;
      return {};
    }
    const std::optional<std::uint16_t> vendor_id = parse_hex16(*vendor);
    const std::optional<std::uint16_t> product_id = parse_hex16(*product);
    if (!vendor_id || !product_id) continue;
    by_number[*number] = {*vendor_id, *product_id, *number + 1, "/dev/usb/" + name};
  }
  if (error) return {};
  std::vector<usb_printer_port> printers;
  for (auto& [number, printer] : by_number) printers.push_back(std::move(printer));
  return printers;
}

std::vector<usb_controller> system_ports::list_usb_controllers(std::error_code& error) const {
  error.clear();
  const fs::path devices = sys() / "bus" / "usb" / "devices";
  std::map<int, usb_controller> by_bus;
  for (const std::string& name : entry_names(devices, false, error)) {
    if (const std::optional<int> bus = number_after(name, "usb")) {
      by_bus[*bus] = {attribute_or_empty(devices / name / "product"),
                      attribute_or_empty(devices / name / "manufacturer")};
    }
  }
  std::vector<usb_controller> controllers;
  for (auto& [bus, controller] : by_bus) controllers.push_back(std::move(controller));
  return controllers;
}

std::vector<usb_hub> system_ports::list_usb_hubs(std::error_code& error) const {
  error.clear();
  const fs::path devices = sys() / "bus" / "usb" / "devices";
  std::map<std::tuple<int, int, std::string>, usb_hub> ordered;
  for (const std::string& name : entry_names(devices, false, error)) {
    // Interfaces ("1-1:1.0") are not devices; hubs are device class 09.
    if (name.find(':') != std::string::npos) continue;
    if (attribute_or_empty(devices / name / "bDeviceClass") != "09") continue;
    usb_hub hub;
    hub.name = attribute_or_empty(devices / name / "product");
    if (hub.name.empty()) hub.name = "USB hub " + name;
    hub.usb_version = attribute_or_empty(devices / name / "version");
    ordered[usb_order(name)] = std::move(hub);
  }
  std::vector<usb_hub> hubs;
  for (auto& [key, hub] : ordered) hubs.push_back(std::move(hub));
  return hubs;
}

system_version_info system_ports::system_version() const {
  system_version_info info;
  info.service_pack = attribute_or_empty(root_ / "proc" / "sys" / "kernel" / "osrelease");
  // "6.1.0-18-amd64": the first two numbers.
  const std::string& release = info.service_pack;
  const char* const end = release.data() + release.size();
  const auto [after_major, major_ec] = std::from_chars(release.data(), end, info.major);
  if (major_ec == std::errc() && after_major != end && *after_major == '.') {
    std::from_chars(after_major + 1, end, info.minor);
  }

  // The distribution: PRETTY_NAME of os-release, else NAME and VERSION_ID, else "Linux".
  std::map<std::string, std::string> fields;
  for (const fs::path& file : {root_ / "etc" / "os-release", root_ / "usr" / "lib" / "os-release"}) {
    std::error_code ignored;
    const std::optional<std::string> text = read_attribute(file, ignored, kMaxOsReleaseBytes);
    if (!text) continue;
    std::size_t start = 0;
    while (start <= text->size()) {
      std::size_t stop = text->find('\n', start);
      if (stop == std::string::npos) stop = text->size();
      const std::string line = trim(std::string_view(*text).substr(start, stop - start));
      const std::size_t equals = line.find('=');
      if (equals != std::string::npos && !line.starts_with('#')) {
        std::string value = line.substr(equals + 1);
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front()) {
          value = value.substr(1, value.size() - 2);
        }
        fields.emplace(line.substr(0, equals), value);
      }
      start = stop + 1;
    }
    break;
  }
  if (!fields["PRETTY_NAME"].empty()) {
    info.text = fields["PRETTY_NAME"];
  } else if (!fields["NAME"].empty()) {
    info.text = trim(fields["NAME"] + " " + fields["VERSION_ID"]);
  } else {
    info.text = "Linux";
  }

  std::error_code ignored;
  info.code = fs::is_directory(sys() / "bus" / "usb", ignored) ? kVersionLinux : kVersionOther;
  return info;
}

}  // namespace platform
