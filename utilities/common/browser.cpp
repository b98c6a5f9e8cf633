// StartForm's behaviour: mode, menus, the tree of servers and printers, connecting, the choice of
// the utility window and server maintenance.
#include "utilities/browser.h"

#include "platform/host_names.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "platform/profile.h"

namespace utilities {
namespace {

using platform::Variant;

constexpr char kCr = '\r';
constexpr char kCrLf[] = "\r\n";
// Milliseconds of each yield while a remote creation runs.
constexpr int kCreationPumpMs = 10;

std::string upper(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

bool iequal(std::string_view a, std::string_view b) { return platform::equal_ignoring_case(a, b); }

// The result of a call: its long value, or the call's failure code.
std::int32_t result_of(const platform::call_result& r) {
  if (!r.ok()) return r.hr;
  return r.value.long_or(0);
}

// The menus of StartForm as the form defines them.
std::vector<menu_item> initial_menus() {
  return {
      {"mnuFile", "&File", "", true, true},
      {"mnuExit", "Exit", "mnuFile", true, true},
      {"mnuView", "&View", "", true, true},
      {"mnuRefresh", "Refresh", "mnuView", true, true},
      {"mnuOptions", "&Options", "", true, true},
      {"mnuAddServer", "Add server", "mnuOptions", true, true},
      {"mnuDeleteServer", "Delete server", "mnuOptions", true, true},
      {"mnuMainServer", "Select main server", "mnuOptions", true, true},
      {"mnuHelp", "&Help", "", true, true},
      {"mnuAbout", "About...", "mnuHelp", true, true},
      {"mnuTV", "TreeView", "", false, true},
      {"mnuTVRefresh", "Refresh", "mnuTV", true, true},
      {"mnuTVDeleteServer", "Delete server", "mnuTV", true, true},
      {"mnuTVConnect", "Connect", "mnuTV", true, true},
  };
}

// The last error of an outside object (ServerMonitor, ServerCollection, worker).
ErrorRecord object_error(platform::dispatch* object) {
  ErrorRecord e;
  const platform::call_result r =
      platform::call(object, "GetLastErr", Variant::ref(e.Number), Variant::ref(e.Description), Variant::ref(e.Source));
  if (!r.ok()) {
    e.Number = r.hr;
    e.Description = platform::take_error_info();
  }
  return e;
}


}  // namespace

// ---------------------------------------------------------------------------------------------
// Host names and texts

std::string printer_of(const tree_node& node) {
  // The ":" is looked for after the backslash: a server named with its port ("host:9190") has
  // one of its own before it.
  const std::size_t backslash = node.key.find('\\');
  if (backslash == std::string::npos) return {};
  const std::size_t colon = node.key.find(':', backslash + 1);
  if (colon == std::string::npos) return {};
  return node.key.substr(backslash + 1, colon - backslash - 1);
}

std::string local_computer_name() {
  const std::string host = platform::computer_name();
  return host.substr(0, host.find('.'));
}

std::string user_domain() { return platform::user_domain(); }

bool is_local_host(std::string_view server) {
  if (server.empty() || iequal(server, "localhost") || server == "127.0.0.1" || server == "::1") return true;
  if (iequal(server, local_computer_name())) return true;
  char name[256] = {};
  return ::gethostname(name, sizeof name - 1) == 0 && iequal(server, name);
}

std::string main_server_caption(bool add_mode) { return add_mode ? "Server selection" : "Main server selection"; }

std::vector<std::string> about_lines(const browser_environment& env) {
  return {"About " + env.title, env.product_name, env.file_description,
          "Release " + std::to_string(env.version_major) + "." + std::to_string(env.version_minor) + "." +
              std::to_string(env.version_revision)};
}

std::vector<std::pair<std::string, std::string>> parse_printer_collection(std::string_view text) {
  std::vector<std::pair<std::string, std::string>> out;
  while (!text.empty()) {
    const std::size_t end = text.find('\0');
    const std::string_view entry = text.substr(0, end);
    const std::size_t eq = entry.find('=');
    if (eq == std::string_view::npos) break;
    out.emplace_back(std::string(entry.substr(0, eq)), std::string(entry.substr(eq + 1)));
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return out;
}

std::vector<std::string> parse_server_list(std::string_view text) {
  std::vector<std::string> out;
  while (!text.empty()) {
    const std::size_t end = text.find('\0');
    if (end == std::string_view::npos) {
      out.emplace_back(text);  // a last name without its NUL still counts
      break;
    }
    if (end > 0) out.emplace_back(text.substr(0, end));
    text.remove_prefix(end + 1);
  }
  return out;
}

// ---------------------------------------------------------------------------------------------
// The model

start_form_model::start_form_model(browser_ui& ui, remote_creator_factory creators, browser_environment env)
    : ui_(ui), creators_(std::move(creators)), env_(std::move(env)), link_(ui) {
  if (env_.computer_name.empty()) env_.computer_name = local_computer_name();
  if (env_.domain.empty()) env_.domain = user_domain();
  program_ = upper(env_.exe_name);
  menus_ = initial_menus();
}

const tree_node* start_form_model::find(std::string_view key) const {
  for (const tree_node& n : nodes_)
    if (iequal(n.key, key)) return &n;
  return nullptr;
}

const menu_item* start_form_model::menu(std::string_view name) const {
  for (const menu_item& m : menus_)
    if (m.name == name) return &m;
  return nullptr;
}

void start_form_model::begin_busy() {
  busy_ = true;
  ui_.set_busy_pointer(true);
}

void start_form_model::end_busy() {
  busy_ = false;
  ui_.set_busy_pointer(false);
}

void start_form_model::load() {
  ui_.set_status(kPanelProgramStatus, "");
  std::string mode;
  registry_read(kInstallationKey, "InstallationType", mode);
  network_ = mode == "NETWORK" && program_ != "OPOSETUP" && !env_.local_only;
  ui_.set_status(kPanelWorkingMode, network_ ? "Main server" : "LOCAL");
  for (menu_item& m : menus_)
    if (m.name == "mnuOptions" || m.name == "mnuTVDeleteServer") m.visible = network_;
  build_tree();
}

tree_node& start_form_model::add_node(tree_node node) {
  for (tree_node& n : nodes_) {
    if (iequal(n.key, node.key)) {
      n.text = node.text;
      return n;
    }
  }
  nodes_.push_back(std::move(node));
  return nodes_.back();
}

void start_form_model::remove_node(const std::string& key) {
  std::vector<std::string> doomed{key};
  for (std::size_t i = 0; i < doomed.size(); ++i)
    for (const tree_node& n : nodes_)
      if (iequal(n.parent_key, doomed[i])) doomed.push_back(n.key);
  std::erase_if(nodes_, [&](const tree_node& n) {
    return std::any_of(doomed.begin(), doomed.end(), [&](const std::string& d) { return iequal(n.key, d); });
  });
  if (std::any_of(doomed.begin(), doomed.end(), [&](const std::string& d) { return iequal(selected_, d); }))
    selected_.clear();
}

platform::com_ptr<platform::dispatch> start_form_model::create_remote(const std::string& prog_id,
                                                                      const std::string& server) {
  std::unique_ptr<remote_creator> creator = creators_();
  platform::com_ptr<platform::dispatch> object;
  if (creator) {
    if (creator->start(prog_id, server) == 0) {
      // No time-out: the creator ends the wait itself; the window only yields meanwhile.
      while (!creator->complete()) ui_.pump(kCreationPumpMs);
    }
    object = creator->take_object();
  }
  if (!object) {
    const ErrorRecord e = creator ? creator->last_error() : ErrorRecord{platform::kEFail, "No remote creator.", ""};
    ui_.message_box("Error" + std::to_string(e.Number) + " creating " + prog_id + " on " + server + "." + kCr +
                        e.Description,
                    box_icon::warning);
  }
  return object;
}

bool start_form_model::choose_main_server() {
  for (;;) {
    const std::vector<std::string> choices = server_choices();
    const auto local = std::find(choices.begin(), choices.end(), env_.computer_name);
    const std::optional<std::string> chosen =
        ui_.choose_server(false, choices, local == choices.end() ? -1 : static_cast<int>(local - choices.begin()));
    if (!chosen) return false;
    // Apply: the chosen server must hold a server collection.
    if (create_remote(kServerCollectionProgId, *chosen)) {
      if (registry_write(kInstallationKey, "MainServer", *chosen) != 0) {
        // Without the installation key the choice cannot be kept; asking again would not help.
        ui_.message_box(std::string("Error updating registry value 'MainServer' under '") + kInstallationKey + "' key.",
                        box_icon::error);
        return false;
      }
      return true;
    }
    if (end_req_ || ui_.end_requested()) return false;
  }
}

void start_form_model::build_tree() {
  begin_busy();
  std::vector<std::string> servers;
  if (!network_) {
    servers.push_back(env_.computer_name);
  } else {
    std::string main_server;
    registry_read(kInstallationKey, "MainServer", main_server);
    if (main_server.empty()) {
      if (choose_main_server()) {
        end_busy();
        build_tree();
        return;
      }
    } else {
      ui_.set_status(kPanelProgramStatus, "Connecting to " + main_server + "(MS)...");
      platform::com_ptr<platform::dispatch> collection = create_remote(kServerCollectionProgId, main_server);
      if (!collection) {
        ui_.set_status(kPanelProgramStatus, "Ready...");
        if (ui_.ask("Select a new MainServer?", box_buttons::yes_no, box_icon::question) == box_answer::yes &&
            choose_main_server()) {
          nodes_.clear();
          end_busy();
          build_tree();
          return;
        }
      } else {
        ui_.set_status(kPanelProgramStatus, "Getting info...");
        std::string info;
        platform::call(collection.get(), "GetInfo", Variant::ref(info));
        ui_.set_status(kPanelWorkingMode, info);
        std::string list;
        platform::call(collection.get(), "GetServerList", Variant::ref(list));
        servers = parse_server_list(list);
      }
    }
    if (nodes_.empty()) add_node({"Domain", env_.domain, "Root", "", "", false});
  }
  std::string lan;
  bool lan_obtained = false;
  for (const std::string& server : servers) {
    // The first server that answers gives the LAN printers.
    lan_obtained = add_server_node(server, !lan_obtained, "Raised error code ", &lan) || lan_obtained;
    if (ui_.end_requested()) end_req_ = true;
  }
  // LAN printers are reached from this computer.
  const std::string lan_parent = network_ ? "Root" : "";
  for (const auto& [port, name] : parse_printer_collection(lan)) {
    add_node({"NetPrinter", name + ":" + port, env_.computer_name + "\\" + name + ":" + port, port, lan_parent, false});
  }
  if (!nodes_.empty()) nodes_.front().expanded = true;
  ui_.set_status(kPanelProgramStatus, "Ready...");
  end_busy();
}

bool start_form_model::add_server_node(const std::string& server, bool with_lan, const std::string& error_lead,
                                       std::string* lan_collection) {
  bool lan_obtained = false;
  ui_.set_status(kPanelProgramStatus, "Connecting to " + server + "(S)...");
  platform::com_ptr<platform::dispatch> monitor = create_remote(kServerMonitorProgId, server);
  std::string suffix;
  std::string printers;
  if (!monitor) {
    suffix = " (Unreacheable)";
  } else {
    ui_.set_status(kPanelProgramStatus, "Getting info from " + server + "(S)...");
    std::string text(255, ' ');
    std::int32_t rc = result_of(platform::call(monitor.get(), "GetPrinterCollection", Variant::ref(text)));
    if (rc != 0) {
      const ErrorRecord e = object_error(monitor.get());
      ui_.show_message(error_lead + std::to_string(e.Number) + " getting printer collection from server on " + server +
                       "." + kCr + "Description: " + e.Description);
      suffix = " (Busy)";
    } else {
      printers = text;
    }
    if (with_lan && lan_collection != nullptr) {
      std::string lan(255, ' ');
      rc = result_of(platform::call(monitor.get(), "GetLanPrinterCollection", Variant::ref(lan)));
      if (rc != 0) {
        const ErrorRecord e = object_error(monitor.get());
        ui_.show_message(error_lead + std::to_string(e.Number) + " getting net printer collection from server on " +
                         server + "." + kCr + "Description: " + e.Description);
      } else {
        *lan_collection = lan;
        lan_obtained = true;
      }
    }
    monitor.reset();
    ui_.set_status(kPanelProgramStatus, "Ready...");
  }
  add_node({"Server", server + suffix, server, "", network_ ? "Root" : "", false});
  for (const auto& [port, name] : parse_printer_collection(printers))
    add_node({"Printer", name + ":" + port, server + "\\" + name + ":" + port, port, server, false});
  return lan_obtained;
}

void start_form_model::refresh() {
  if (busy_) return;
  nodes_.clear();
  selected_.clear();
  build_tree();
}

// ---------------------------------------------------------------------------------------------
// Tree events

void start_form_model::mouse_down(bool left_button, int hit_flags) {
  item_click_ = left_button && (hit_flags & (kHitOnItemIcon | kHitOnItemLabel | kHitOnItemStateIcon)) != 0;
}

bool start_form_model::popup_menu(std::string_view key, int hit_flags) {
  const tree_node* node = find(key);
  if (node == nullptr || (hit_flags & (kHitOnItemIcon | kHitOnItemLabel)) == 0) return false;
  auto set = [&](const char* name, bool enabled) {
    for (menu_item& m : menus_)
      if (m.name == name) m.enabled = enabled;
  };
  if (node->image_key == "Server") {
    set("mnuTVRefresh", true);
    set("mnuTVDeleteServer", true);
  } else if (node->image_key == "Domain") {
    set("mnuTVRefresh", true);
  } else {
    set("mnuTVRefresh", false);
    set("mnuTVDeleteServer", false);
    set("mnuTVConnect", true);
  }
  selected_ = node->key;
  return true;
}

connect_result start_form_model::key_press(int key_code) {
  if (key_code != 13) return {};
  return connect(selected_);
}

connect_result start_form_model::double_click() {
  if (!item_click_) return {};
  return connect(selected_);
}

// ---------------------------------------------------------------------------------------------
// Connect

connect_result start_form_model::connect(std::string_view key) {
  connect_result result;
  const tree_node* found = find(key);
  if (busy_ || found == nullptr || (found->image_key != "Printer" && found->image_key != "NetPrinter")) return result;
  begin_busy();
  const std::optional<printer_identity> printer = identify_printer(key, &result.unload);
  if (result.unload) {
    end_busy();
    return result;
  }
  if (printer) {
    const tree_node* node = find(key);
    tree_node shown = node != nullptr ? *node : tree_node{};
    result = open_window(shown, printer->id, printer->model, printer->printer,
                         printer->model_text.empty() ? printer->printer : printer->model_text);
  }
  ui_.set_status(kPanelProgramStatus, "Ready...");
  end_busy();
  return result;
}

bool start_form_model::open_channel(std::string_view key, bool* unload) {
  const tree_node* found = find(key);
  if (found == nullptr || (found->image_key != "Printer" && found->image_key != "NetPrinter")) return false;
  const tree_node node = *found;
  const bool net = node.image_key == "NetPrinter";
  std::string host = env_.computer_name;
  if (!net) {
    const tree_node* parent = find(node.parent_key);
    // The server's name, without a suffix the tree shows after it.
    host = parent != nullptr ? parent->key : node.parent_key;
  }
  const std::string printer = printer_of(node);

  ui_.set_status(kPanelProgramStatus, "Connecting to " + host + "...");
  platform::com_ptr<platform::dispatch> monitor = create_remote(kServerMonitorProgId, host);
  if (end_req_ || ui_.end_requested()) {
    end_req_ = true;
    if (unload != nullptr) *unload = true;
    return false;
  }
  if (!monitor) return false;

  std::string printer_arg = printer;
  std::string host_arg = host;
  const std::int32_t status =
      result_of(platform::call(monitor.get(), "GetConnectionStatus", Variant::ref(printer_arg), Variant::ref(host_arg)));
  if (status != 0) {
    const platform::call_result text = platform::call(monitor.get(), "StatusDescription", status);
    ui_.show_message("Raised error on connection with " + printer + " (on " + node.tag + ") of " + host + "." + kCr +
                     "Description: " + text.value.string_or(""));
    return false;
  }

  printer_arg = printer;
  std::string address = host;
  const platform::call_result connection =
      platform::call(monitor.get(), "GetConnection", Variant::ref(printer_arg), Variant::ref(address));
  platform::com_ptr<platform::dispatch> channel;
  if (!connection.ok() || platform::failed(connection.value.as_object(channel)) || !channel) {
    const ErrorRecord e = object_error(monitor.get());
    ui_.show_message("Raised error code " + std::to_string(e.Number) + " for " + printer + " on " + node.tag + " of " +
                     host + "." + kCr + "Extended error description: " + e.Description);
    return false;
  }
  link_.set_channel(channel);
  std::string node_text = node.text;
  if (address.find('.') != std::string::npos) {
    // The printer's network address is shown in brackets after its name.
    const std::size_t bracket = node_text.find('(');
    node_text = bracket == std::string::npos ? node_text + " (" + address + ")" : node_text.substr(0, bracket + 1) + address + ")";
    for (tree_node& n : nodes_)
      if (n.key == node.key) n.text = node_text;
  }

  ui_.set_status(kPanelProgramStatus, "Checking " + node_text + "...");
  monitor.reset();
  if (link_.open() != 0) {
    const ErrorRecord e = link_.last_error();
    link_.drop_channel();
    ui_.show_message("Raised error code " + std::to_string(e.Number) + " for " + printer + " on " + node.tag + " of " +
                     host + "." + kCr + "Extended error description: " + e.Description);
    return false;
  }
  return true;
}

std::optional<printer_identity> start_form_model::identify_printer(std::string_view key, bool* unload) {
  if (!open_channel(key, unload)) return std::nullopt;
  const tree_node node = *find(key);
  const bool net = node.image_key == "NetPrinter";
  const std::string printer = printer_of(node);
  const std::string host = net ? env_.computer_name : node.parent_key;
  if (link_.offline() != 0) {
    link_.close();
    link_.drop_channel();
    ui_.show_message(std::string("Printer offline.") + kCr + "Please check printer and then try again...");
    return std::nullopt;
  }
  const identification id = link_.identify();
  if (!id.ok) {
    link_.drop_channel();
    if (net) {
      ui_.show_message("Raised error " + std::to_string(id.error.Number) + "  on connection with " + node.text + kCrLf +
                       "Description: " + id.error.Description);
    } else {
      ui_.show_message("Raised error" + std::to_string(id.error.Number) + " on connection with " + printer + " on " +
                       node.tag + " of " + host + "." + kCrLf + "Description: " + id.error.Description);
    }
    return std::nullopt;
  }
  const model_info model = ModelLookup(id.id, "", utility_ini_file(env_.app_path, env_.exe_name));
  return printer_identity{id.id, model.model, model.brand, id.model_text, printer};
}

connect_result start_form_model::open_window(const tree_node& node, int id, const std::string& model,
                                             const std::string& printer, const std::string& printer_model) {
  connect_result r;
  printer_id_ = id;
  printer_model_ = model;
  if (id == 176 && program_ != "VJ20G") {
    link_.drop_channel();
    ui_.show_message(node.text + " is a " + "VJ20G" + "." + "\n" + "This application does not work with a " + "VJ20G" +
                     ".");
    return r;
  }
  constexpr int kKnown[] = {32, 46, 36, 10, 161, 176};
  if (std::find(std::begin(kKnown), std::end(kKnown), id) == std::end(kKnown)) {
    link_.drop_channel();
    ui_.show_message(std::string("Printer unknown.") + kCr + "Please verify printers and connections...");
    return r;
  }
  r.connected = true;
  connected_key_ = node.key;
  if (id == 176) {
    r.window = window_kind::prn;  // the VJ20G program is the VJ20G's setup editor
  } else if (program_ == "LOGO") {
    r.window = window_kind::logo;
  } else if (program_ == "MEMORY" || program_ == "SETUP") {
    r.window = window_kind::prn;
  } else if (program_ == "DEMO") {
    const int enabled =
        platform::get_profile_int("BRASIL", "ENABLED", 0, utility_ini_file(env_.app_path, env_.exe_name));
    r.window = enabled == 1 && (id == 161 || id == 10) ? window_kind::prn_bra : window_kind::prn;
  } else if (program_ == "OPOSETUP") {
    opos_update_request request;
    request.id = id;
    request.model = model;
    request.printer_model = printer_model;
    request.node_text = node.text;
    request.port = node.tag;
    request.ini_file = utility_ini_file(env_.app_path, env_.exe_name);
    (void)printer;
    r.opos_updated = opos_registry_update(ui_, request);
  }
  return r;
}

// ---------------------------------------------------------------------------------------------
// Server maintenance

std::vector<std::string> start_form_model::server_choices() const {
  std::vector<std::string> out{env_.computer_name};
  auto add = [&](const std::string& s) {
    if (!s.empty() && std::none_of(out.begin(), out.end(), [&](const std::string& o) { return iequal(o, s); }))
      out.push_back(s);
  };
  std::string main_server;
  registry_read(kInstallationKey, "MainServer", main_server);
  add(main_server);
  for (const tree_node& n : nodes_)
    if (n.image_key == "Server") add(n.key);
  return out;
}

void start_form_model::add_server() {
  if (busy_ || !network_) return;
  std::string added;
  for (;;) {
    const std::vector<std::string> choices = server_choices();
    const std::optional<std::string> chosen = ui_.choose_server(true, choices, 0);
    if (!chosen) return;
    // Apply: the new server must answer with a monitor; otherwise the dialog stays open.
    if (create_remote(kServerMonitorProgId, *chosen)) {
      added = *chosen;
      break;
    }
    if (ui_.end_requested()) return;
  }
  begin_busy();
  std::string main_server;
  registry_read(kInstallationKey, "MainServer", main_server);
  if (platform::com_ptr<platform::dispatch> collection = create_remote(kServerCollectionProgId, main_server)) {
    std::int32_t result = 0;
    platform::call(collection.get(), "AddServer", added, std::string(), Variant::ref(result));
    if (result != 0) {
      const ErrorRecord e = object_error(collection.get());
      ui_.message_box("Error" + std::to_string(e.Number) + " by " + e.Source + " on " + main_server + "." + kCr +
                          e.Description,
                      box_icon::warning);
    }
  }
  add_server_node(added, false, "Raise error code: ", nullptr);
  ui_.set_status(kPanelProgramStatus, "Ready...");
  end_busy();
}

void start_form_model::select_main_server() {
  if (busy_ || !network_) return;
  choose_main_server();
  // The whole tree is rebuilt afterwards, with the new main server or the old one.
  refresh();
}

void start_form_model::delete_server() {
  const tree_node* node = find(selected_);
  if (busy_ || !network_ || node == nullptr || node->image_key != "Server") return;
  const std::string server = node->key;
  begin_busy();
  std::string main_server;
  registry_read(kInstallationKey, "MainServer", main_server);
  if (platform::com_ptr<platform::dispatch> collection = create_remote(kServerCollectionProgId, main_server)) {
    std::int32_t result = 0;
    const platform::call_result r = platform::call(collection.get(), "RemoveServer", server, Variant::ref(result));
    if (!r.ok() && result == 0) result = r.hr;
    if (result != 0) {
      const ErrorRecord e = object_error(collection.get());
      ui_.message_box("Error" + std::to_string(e.Number) + " by " + e.Source + " on " + main_server + "." + kCr +
                          e.Description,
                      box_icon::warning);
    } else {
      remove_node(server);
    }
  }
  ui_.set_status(kPanelProgramStatus, "Ready...");
  end_busy();
}

bool start_form_model::query_unload() {
  if (!busy_) return true;
  end_req_ = true;
  return false;
}

}  // namespace utilities
