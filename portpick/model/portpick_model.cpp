// The port-selection dialog's behaviour: command-line check, port list, USB printer lookup,
// system information and the answers in the registry.
#include "portpick/portpick_model.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "platform/registry.h"

namespace portpick {
namespace {

using platform::registry_key;
using platform::registry_root;

// Version codes that choose how the ports are found (see platform/ports.h for what Linux is).
constexpr int kVersion95 = 1;
constexpr int kVersion98 = 2;
constexpr int kVersionMe = 3;
constexpr int kVersion2000 = 4;
constexpr int kVersionNt = 5;
constexpr int kVersionXp = 6;

// Entries of the fixed lists: COM1: to COM9:, USB001 to USB003, LPT1: to LPT3:.
constexpr int kFixedComPorts = 9;
constexpr int kFixedUsbPorts = 3;
constexpr int kFixedLptPorts = 3;

std::string upper(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return out;
}

std::string trim(std::string_view text) {
  const auto is_space = [](unsigned char c) { return std::isspace(c) != 0; };
  while (!text.empty() && is_space(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
  while (!text.empty() && is_space(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
  return std::string(text);
}

// "USB" and the port number in (at least) three digits: USB001.
std::string usb_port_name(int number) {
  char text[16];
  std::snprintf(text, sizeof text, "USB%03d", number);
  return text;
}

// Entries whose device follows from the name the way the monitor's defaults do it.
port_entry com_entry(int number, const std::string& device) { return {"COM" + std::to_string(number) + ":", "serial:" + device}; }
port_entry fixed_com(int number) { return com_entry(number, "/dev/ttyS" + std::to_string(number - 1)); }
port_entry usb_entry(int number, const std::string& device) { return {usb_port_name(number), "usblp:" + device}; }
port_entry fixed_usb(int number) { return usb_entry(number, "/dev/usb/lp" + std::to_string(number - 1)); }
port_entry lpt_entry(int number, const std::string& device) { return {"LPT" + std::to_string(number) + ":", "parallel:" + device}; }

// The port as the kit's programs name it: the entry without a trailing ":".
std::string application_port(const std::string& shown) {
  return !shown.empty() && shown.back() == ':' ? shown.substr(0, shown.size() - 1) : shown;
}

// The device a Transport value names: its text without options ("serial:/dev/ttyS2").
std::string_view without_options(std::string_view uri) { return uri.substr(0, uri.find('?')); }

std::string error_text(const std::error_code& error) { return std::to_string(error.value()) + " " + error.message(); }

}  // namespace

command_line parse_command_line(std::string_view text) {
  command_line out;
  const std::string trimmed = trim(text);
  const std::string_view digits =
      trimmed.size() >= 3 ? std::string_view(trimmed).substr(trimmed.size() - 3) : std::string_view();
  const bool three_digits =
      digits.size() == 3 && std::all_of(digits.begin(), digits.end(), [](unsigned char c) { return std::isdigit(c) != 0; });
  if (!three_digits) {
    // Without its product identifier the whole argument is a faulty selection.
    out.letters = upper(trimmed);
    return out;
  }
  out.letters = upper(std::string_view(trimmed).substr(0, trimmed.size() - 3));
  out.product_id = (digits[0] - '0') * 100 + (digits[1] - '0') * 10 + (digits[2] - '0');
  out.accepted = std::find(kAcceptedLetterSets.begin(), kAcceptedLetterSets.end(), out.letters) !=
                 kAcceptedLetterSets.end();
  return out;
}

portpick_model::portpick_model(const platform::system_ports& ports, message_boxes& boxes, std::uint16_t vendor_id)
    : system_(ports), boxes_(boxes), vendor_id_(vendor_id) {}

bool portpick_model::start(std::string_view command_line_text) {
  if (trim(command_line_text).empty()) {
    boxes_.critical(std::string(kEmptyCommandLine));
    return false;
  }
  command_ = parse_command_line(command_line_text);
  if (!command_.accepted) {
    boxes_.critical(std::string(kSelectionError) + command_.letters);
    return false;
  }
  refresh();
  return true;
}

void portpick_model::select_port(int index) {
  selected_port_ = index >= 0 && index < static_cast<int>(ports_.size()) ? index : -1;
}

void portpick_model::refresh() {
  ports_.clear();
  const platform::system_version_info version = system_.system_version();
  std::error_code error;
  std::vector<platform::serial_port> serial;
  bool listed = false;
  if (version.code != kVersionNt && system_.available(error)) {
    serial = system_.list_serial_ports(error);
    listed = !error;
  }

  if (version.code == kVersionNt) {
    for (int n = 1; n <= kFixedComPorts; ++n) ports_.push_back(fixed_com(n));
  } else if (!listed) {
    // Without sysfs the installation still gets the usual names to choose from.
    for (int n = 1; n <= kFixedComPorts; ++n) ports_.push_back(fixed_com(n));
    for (int n = 1; n <= kFixedUsbPorts; ++n) ports_.push_back(fixed_usb(n));
  } else {
    for (const platform::serial_port& port : serial) ports_.push_back(com_entry(port.com_number, port.device));
    if (version.code == kVersion95 || version.code == kVersion98 || version.code == kVersionMe) {
      const std::size_t controllers = system_.list_usb_controllers(error).size();
      for (std::size_t n = 1; n <= controllers; ++n) ports_.push_back(fixed_usb(static_cast<int>(n)));
    } else if (version.code == kVersion2000 || version.code == kVersionXp) {
      ports_.push_back({"USB", {}});
    }
  }

  // LPT1: to LPT3: always, then any further parallel port the system has.
  for (int n = 1; n <= kFixedLptPorts; ++n) ports_.push_back(lpt_entry(n, "/dev/lp" + std::to_string(n - 1)));
  for (const platform::parallel_port& port : system_.list_parallel_ports(error)) {
    if (port.lpt_number > kFixedLptPorts) ports_.push_back(lpt_entry(port.lpt_number, port.device));
  }
  selected_port_ = ports_.size() > 1 ? 1 : static_cast<int>(ports_.size()) - 1;
}

bool portpick_model::write_setting(std::string_view key, std::string_view value) {
  registry_key settings;
  long rc = registry_key::create(registry_root::current_user, kSettingsKey, settings);
  if (rc == platform::kErrorSuccess) rc = settings.set_string(key, value);
  if (rc != platform::kErrorSuccess) {
    boxes_.critical("Error " + std::to_string(rc) + " writing " + std::string(key) + " in HKEY_CURRENT_USER\\" +
                    std::string(kSettingsKey) + ".");
    return false;
  }
  return true;
}

bool portpick_model::write_transport(const port_entry& entry) {
  if (entry.transport.empty()) return true;
  const std::string path = std::string(kPortsKey) + "\\" + application_port(entry.text);
  registry_key port;
  long rc = registry_key::create(registry_root::local_machine, path, port);
  if (rc == platform::kErrorSuccess) {
    // A Transport that already names this device keeps its line settings.
    std::string current;
    if (port.query_string("Transport", current) == platform::kErrorSuccess &&
        without_options(current) == entry.transport) {
      return true;
    }
    rc = port.set_string("Transport", entry.transport);
  }
  if (rc != platform::kErrorSuccess) {
    boxes_.critical("Error " + std::to_string(rc) + " writing Transport in HKEY_LOCAL_MACHINE\\" + path + ".");
    return false;
  }
  return true;
}

next_outcome portpick_model::next() {
  if (selected_port_ < 0) return next_outcome::stays;
  const std::string shown = ports_[static_cast<std::size_t>(selected_port_)].text;
  if (!write_setting("Direction", "N") || !write_setting("ApplicationPort", application_port(shown)) ||
      !write_setting("WinDriverPort", shown)) {
    return next_outcome::stays;
  }

  if (shown == "USB") {
    std::vector<port_entry> found;
    if (command_.letters.find('D') != std::string::npos) {
      // The driver is installed: the ports the connected printer occupies.
      std::error_code error;
      const std::vector<platform::usb_printer_port> printers = system_.list_usb_printers(error);
      if (error) {
        boxes_.warning("Error" + std::to_string(error.value()) + " searching connected USB printers.");
        return next_outcome::stays;
      }
      for (const platform::usb_printer_port& printer : printers) {
        if (printer.vendor_id == vendor_id_ && printer.product_id == command_.product_id) {
          found.push_back(usb_entry(printer.port_number, printer.device));
        }
      }
      if (found.empty()) {
        boxes_.information(std::string(kConnectPrinter));
        return next_outcome::stays;
      }
    } else {
      found.push_back(fixed_usb(1));
    }
    // The "USB" entry becomes the ports found; the last one is the answer.
    const auto at = ports_.begin() + selected_port_;
    const auto after = ports_.insert(ports_.erase(at), found.begin(), found.end());
    selected_port_ = static_cast<int>(after - ports_.begin()) + static_cast<int>(found.size()) - 1;
    const std::string& port = ports_[static_cast<std::size_t>(selected_port_)].text;
    if (!write_setting("WinDriverPort", port) || !write_setting("ApplicationPort", port)) {
      return next_outcome::stays;
    }
  }

  if (!write_transport(ports_[static_cast<std::size_t>(selected_port_)])) return next_outcome::stays;
  return next_outcome::ended;
}

bool portpick_model::exit_installation() { return write_setting("Direction", "C"); }

void portpick_model::check_system() {
  const platform::system_version_info version = system_.system_version();
  std::string text = version.text;
  if (!version.service_pack.empty()) text += "  " + version.service_pack;
  add_information(std::to_string(version.major) + "." + std::to_string(version.minor) + "." + text + "    " +
                  std::to_string(version.code));
}

void portpick_model::list_system() {
  add_information("Descrizione del PC : LOCALE");
  std::error_code error;
  if (!system_.available(error)) {
    add_information("Server :");
    add_information("  Errore connessione! : " + error_text(error));
    return;
  }

  add_information("[Descrizione delle SerialPort]");
  for (const platform::serial_port& port : system_.list_serial_ports(error)) {
    add_information("  DeviceID    :COM" + std::to_string(port.com_number));
    add_information("  Name        :" + port.name + " (" + port.device + ")");
    add_information("  ProviderType:" + port.driver);
    add_information("  -------------------------");
  }
  add_information("[Descrizione  USBController]");
  for (const platform::usb_controller& controller : system_.list_usb_controllers(error)) {
    add_information("  Name        :" + controller.name);
    add_information("  Manufacturer:" + controller.manufacturer);
  }
  add_information("[Descrizione  USBHub]");
  for (const platform::usb_hub& hub : system_.list_usb_hubs(error)) {
    add_information("  Name        :" + hub.name);
    add_information("  USBVersion  :" + hub.usb_version);
  }
}

}  // namespace portpick
