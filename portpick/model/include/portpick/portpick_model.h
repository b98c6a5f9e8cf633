// The port-selection dialog's behaviour without any UI: the command-line check, the port list,
// the system information lines, the USB printer lookup and the answers written to the registry.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ports.h"

namespace portpick {

// Letter sets of the components an installation may ask for; D is the printer driver.
inline constexpr std::array<std::string_view, 24> kAcceptedLetterSets = {
    "A",   "B",    "C",   "E",    "AB",   "ABC",  "AC",  "BC",   "AE",   "ABE",   "ABCE", "ACE",
    "BCE", "AD",   "ABD", "ABCD", "ACD",  "BCD",  "ADE", "ABDE", "ABCDE", "ACDE", "BCDE", "D"};

// USB vendor identifier of the printers' maker, set for the kit at build time.
#ifndef PORTPICK_VENDOR_ID
#define PORTPICK_VENDOR_ID 0x4B52
#endif
inline constexpr std::uint16_t kMakerVendorId = PORTPICK_VENDOR_ID;

// Where the answers go: the per-user program settings of application "RiveRed", section
// "InstallOption", below HKEY_CURRENT_USER.
inline constexpr std::string_view kSettingsKey = "Software\\VB and VBA Program Settings\\RiveRed\\InstallOption";
// Where the monitor finds the device of a port (HKEY_LOCAL_MACHINE), value "Transport".
inline constexpr std::string_view kPortsKey = "SOFTWARE\\Quorel\\Ports";

// Texts the dialog shows.
inline constexpr std::string_view kEmptyCommandLine = "Command line is empty!";
inline constexpr std::string_view kSelectionError = "Selection component error! ";
inline constexpr std::string_view kConnectPrinter =
    "Warning. To complete the installation, please, connect and switch on the printer.";

// Message boxes, answered by the window (or by a test).
class message_boxes {
 public:
  virtual ~message_boxes() = default;
  virtual void critical(const std::string& text) = 0;
  virtual void warning(const std::string& text) = 0;
  virtual void information(const std::string& text) = 0;
};

// The command line's meaning.
struct command_line {
  bool accepted = false;
  std::string letters;  // upper-cased component letters
  int product_id = 0;   // USB product identifier of the printer model, from the three digits
};

// Checks the command line ("ABCD101"): letters, then exactly three digits.
command_line parse_command_line(std::string_view text);

// One entry of the port list.
struct port_entry {
  std::string text;       // as shown: "COM3:", "LPT1:", "USB001", "USB"
  std::string transport;  // device URI the monitor opens for it ("serial:/dev/ttyS2"); "" for "USB"
};

// What the dialog does after "Next".
enum class next_outcome {
  ended,     // the answer is written; the program ends
  stays,     // the printer is missing, or something failed; the dialog stays open
};

class portpick_model {
 public:
  // Reads the system below `ports.root()`; shows messages through `boxes` (both must outlive the
  // model); `vendor_id` is the printers' maker as the USB lookup compares it.
  portpick_model(const platform::system_ports& ports, message_boxes& boxes,
                 std::uint16_t vendor_id = kMakerVendorId);

  // Checks the command line and fills the port list. False, after a critical message, when the
  // program must end; true when the port frame is shown.
  bool start(std::string_view command_line_text);
  const command_line& command() const { return command_; }

  // The port list and its shown entry (-1 for none).
  const std::vector<port_entry>& ports() const { return ports_; }
  int selected_port() const { return selected_port_; }
  void select_port(int index);

  // "Aggiorna": fills the port list again.
  void refresh();
  // "Next": writes the answer, looks up the USB printer when the driver is installed.
  next_outcome next();
  // "Exit installation": writes "Direction" C. False (after a critical message) when it could not.
  bool exit_installation();

  // "Check sistema": adds the version line to the information list.
  void check_system();
  // "Lista": adds the system information to the information list.
  void list_system();
  // The information list and its selected line (-1 for none).
  const std::vector<std::string>& information() const { return information_; }
  int selected_information() const { return static_cast<int>(information_.size()) - 1; }

 private:
  void add_information(std::string line) { information_.push_back(std::move(line)); }
  bool write_setting(std::string_view key, std::string_view value);
  bool write_transport(const port_entry& entry);

  const platform::system_ports& system_;
  message_boxes& boxes_;
  std::uint16_t vendor_id_;
  command_line command_;
  std::vector<port_entry> ports_;
  int selected_port_ = -1;
  std::vector<std::string> information_;
};

}  // namespace portpick
