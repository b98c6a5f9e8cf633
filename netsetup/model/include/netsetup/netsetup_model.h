// The LAN printer setup program without its window: the printer list, the commands and their
// states, the dialogs' fields and checks, every message, and the algorithms that drive the LAN
// configurator (search, initialize, configure, set IP address, reset, ping, test page, adapters).
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/com.h"
#include "platform/net.h"

namespace netsetup {

// ----- Fixed texts and lists --------------------------------------------------------------

inline constexpr std::string_view kMsgInitError = "Lan initialization error ";
inline constexpr std::string_view kMsgInsertName = "Insert a valid printer name !";
inline constexpr std::string_view kMsgPortReserved = "This Port Number is reserved !";
inline constexpr std::string_view kMsgInsertPort = "Insert a valid TCP Port number !";
inline constexpr std::string_view kMsgInsertIp = "Insert a valid IP address !";
inline constexpr std::string_view kMsgSwitchPort = "Switch off/on the printer to make the new TCP port value active.";
inline constexpr std::string_view kMsgQueryError = "QuerySetupRecord comunication error !";
inline constexpr std::string_view kMsgInsertKeyLength = "Insert a valid key length !";
inline constexpr std::string_view kMsgKeyLength = "The key lenght must be 10 or 26 char !";
inline constexpr std::string_view kMsgSwitchSettings = "Switch off/on the printer to make the new settings active.";
inline constexpr std::string_view kMsgAddressInUse = "IP address in use !";
inline constexpr std::string_view kMsgConfirmReset = "Are you sure that you want reset the selected item ?";
inline constexpr std::string_view kMsgSelectAdapter = "An adapter must be selected !";
inline constexpr std::string_view kMsgNameTooLong = "The printer name must be at most 24 characters !";
inline constexpr std::string_view kMsgSsidTooLong = "The network name must be at most 33 characters !";
inline constexpr std::string_view kDeviceNotResponding = "DEVICE NOT RESPONDING";
inline constexpr std::string_view kDefaultPort = "10001";

inline constexpr std::string_view kInitialized = "INITIALIZED";
inline constexpr std::string_view kNotInitialized = "NOT INITIALIZED";
inline constexpr std::string_view kUndefined = "UNDEFINED";

// Operations named in the status bar.
inline constexpr std::string_view kOpSearch = "SEARCH";
inline constexpr std::string_view kOpInitialize = "INITIALIZE";
inline constexpr std::string_view kOpConfigure = "CONFIGURE";
inline constexpr std::string_view kOpSetIp = "SET IP";
inline constexpr std::string_view kOpReset = "RESET";

// A column of a list: header and width in twips.
struct column {
  std::string_view header;
  int width_twips;
};
inline constexpr std::array<column, 6> kPrinterColumns = {{
    {"Index", 900}, {"IPaddr", 1500}, {"MACaddr", 1700}, {"Printer Name", 2000}, {"Status", 1800}, {"TCP Port", 900}}};
inline constexpr std::array<column, 7> kAdapterColumns = {{{"Name", 3500}, {"Type", 2000}, {"IP Addr", 1300},
                                                           {"MAC Addr", 1500}, {"Subnet", 1500}, {"Gateway", 1300},
                                                           {"DHCP", 1100}}};

inline constexpr std::array<std::string_view, 4> kCountries = {"USA", "FRANCE", "JAPAN", "OTHERS"};
inline constexpr std::array<std::string_view, 7> kTxDataRates = {
    "1 Mbps", "2 Mbps", "5.5 Mbps", "11 Mbps", "2, 1 Mbps", "5.5, 2, 1 Mbps", "11, 5.5, 2, 1 Mbps"};
inline constexpr std::array<std::string_view, 2> kAuthentications = {"NONE", "SHARED"};
inline constexpr std::array<std::string_view, 3> kKeyLengths = {"NONE", "64 bit", "128 bit"};
inline constexpr int kCountryFrance = 1;

// The 32 subnet masks of cmbSubnet, "255.255.255.254" down to "128.0.0.0", then "0.0.0.0".
std::vector<std::string> subnet_masks();
// The code stored in the network record for mask entry `index`: 1..24 for the first 24, else 0.
int mask_code(int index);
// The cmbChannel entries for country index `country`.
std::vector<std::string> channels(int country);
// The radio channel of channel-list entry `index` for `country`, and back.
int channel_of(int country, int index);
int channel_index(int country, int channel);

// The IP text check (dotted quad of 1..3-digit numbers up to 255).
bool valid_ip_text(std::string_view text);
// The TCP port check: at most 5 characters, numeric, and not a reserved port.
bool port_passes(std::string_view text);
// The text of an ICMP echo status for tReply.
std::string ping_status_text(int status);
// The status-bar name of an OLP code ("OLP_NO_ERROR"; the number for a code without a name).
std::string olp_text(std::int32_t code);
// The bytes of the test page for a printer.
std::string test_page_bytes(const std::string& ip, const std::string& mac, const std::string& port,
                            const std::string& name);

// ----- Rows and states ---------------------------------------------------------------------

struct printer_row {
  std::string index;   // "Xport   1", "WiPort 2"
  std::string ip;
  std::string mac;
  std::string name;
  std::string status;  // kInitialized, kNotInitialized or kUndefined
  std::string port;    // TCP port, kDefaultPort when unknown
  bool port_grey = false;  // the network record could not be read
  bool wireless() const { return index.rfind("WiPort", 0) == 0; }
};

struct adapter_row {
  std::string name, type, ip, mac, subnet, gateway, dhcp;
};

// Which commands are enabled.
struct command_states {
  bool search = true;
  bool initialize = false;
  bool configure = false;
  bool set_ip = false;
  bool refresh = false;
  bool reset = false;
  bool ping = true;
  bool print_test_page = false;
};

// What the view shows after an action: warning messages in order, and whether the dialog closes.
struct outcome {
  std::vector<std::string> messages;
  bool close = true;
  bool ok = false;  // the operation did what it was asked
};

// TCP tab of DlgConfig.
struct tcp_settings {
  int mask_index = -1;  // cmbSubnet entry, -1 for none
  std::string gateway;
  std::string port;
};
struct tcp_edit {
  tcp_settings values;
  bool mask_changed = false;
  bool gateway_changed = false;
  bool port_changed = false;
};

// Wi-Fi tab of DlgConfig.
struct wifi_settings {
  bool ad_hoc = false;
  std::string ssid;         // tSSID
  std::string ssid_ad_hoc;  // tSSID_AdHoc
  int country = 0;          // cmbCountry
  int channel_index = 0;    // cmbChannel
  bool wep = false;         // chkWEP
  int authentication = 0;   // cmbAuthentication
  int key_length = 0;       // cmbKeyLenght
  std::string key;          // tKey (hexadecimal), never filled from the printer
  int tx_rate = 0;          // cmbTxDataRate
  int key_max_chars = 0;    // 10, 26 or 0 (key controls disabled)
};

// What the model needs from the machine; the defaults use the real network.
struct services {
  // ICMP echo status for `ip` ("Echo This", 200 ms).
  std::function<int(const std::string& ip)> ping;
  // Connects to ip:port within `timeout_ms` and sends `bytes`; false when that fails.
  std::function<bool(const std::string& ip, std::uint16_t port, const std::string& bytes, int timeout_ms)> send_tcp;
  // Waits `ms` (a window keeps answering meanwhile).
  std::function<void(int ms)> wait;
  // The adapter list; false with an error number when it cannot be read.
  std::function<bool(std::vector<platform::net::adapter_info>&, int&)> adapters;
};
services default_services();

class netsetup_model {
 public:
  netsetup_model(platform::com_ptr<platform::dispatch> configurator, services svc);

  // Calls Init; the warning text when it fails (the program then ends).
  std::optional<std::string> start();

  // Search and Refresh.
  void search();
  const std::vector<printer_row>& rows() const { return rows_; }
  // Selected row, 1-based (0 when none).
  int selected() const { return selected_; }
  void select(int row);
  const printer_row* selected_row() const;
  command_states commands() const;
  const std::string& status_operation() const { return status_operation_; }
  const std::string& status_result() const { return status_result_; }
  std::int32_t last_code() const { return last_code_; }
  int adapter_index() const { return adapter_index_; }

  // Makes the printer at `ip` the only row, selected, from its identity and network records,
  // without a search (for scripted work on a known address). Returns the OLP code of the
  // identity query.
  std::int32_t use_printer(const std::string& ip);
  // Selects the row with MAC address `mac` (any case); false when the list has none.
  bool select_mac(const std::string& mac);

  // DlgInstall Apply.
  outcome initialize(const std::string& name);

  // DlgConfig: opening (nothing when there are no rows: the dialog closes), the TCP tab's apply,
  // opening the Wi-Fi tab (with the message when a query fails) and its apply.
  std::optional<tcp_settings> open_configure();
  outcome apply_tcp(const tcp_edit& edit);
  std::optional<wifi_settings> open_wifi(std::string& message);
  outcome apply_wifi(const wifi_settings& settings);

  // DlgSetip Apply.
  outcome set_ip(const std::string& new_ip);
  // Reset (after the technician said Yes).
  outcome reset();
  // DlgPing cmdExecute: the tReply text, or nothing with the message when the text is bad.
  std::optional<std::string> ping(const std::string& ip, std::string& message);
  // Uses `port` as the selected row's TCP port (a port the technician knows better).
  void override_port(const std::string& port);
  // Print test page for the selected row.
  outcome print_test_page();

  // frmNetwork: the adapter rows (with the failure message when the list cannot be read), and
  // Apply with the ticked row (nothing ticked: -1).
  std::vector<adapter_row> adapter_rows(std::string& message);
  outcome apply_adapter(int ticked);

 private:
  std::int32_t query(const std::string& ip, int record, std::vector<std::uint8_t>& data);
  std::int32_t write(const std::string& ip, int record, const std::vector<std::uint8_t>& data);
  std::int32_t set_ip_address(const std::string& ip, const std::string& mac);
  void finish(std::string_view operation, std::int32_t code);
  printer_row* row();

  platform::com_ptr<platform::dispatch> configurator_;
  services svc_;
  std::vector<printer_row> rows_;
  int selected_ = 0;
  bool searched_ok_ = false;
  std::int32_t last_code_ = 0;
  int adapter_index_ = 0;
  std::string status_operation_;
  std::string status_result_;
};

}  // namespace netsetup
