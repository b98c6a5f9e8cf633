// The printer browser of the utilities (StartForm) without a window: the tree of servers and
// printers, the menus and the pop-up menu, the status bar, local and network modes, connecting to
// a printer and choosing the utility window by the executable's name, and server maintenance;
// with the texts of MainServerForm and AboutForm. Remote creation goes through remote_creator.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/com.h"
#include "utilities/printer_link.h"
#include "utilities/user_interface.h"

namespace utilities {

// ProgIDs of the outside objects.
inline constexpr char kRemoteCreatorProgId[] = "QuorelWorker.CreateObj";
inline constexpr char kServerCollectionProgId[] = "QuorelMainServer.ServerCollection";
inline constexpr char kServerMonitorProgId[] = "QuorelServer.Monitor";

// The kit's installation settings (HKEY_LOCAL_MACHINE).
inline constexpr char kInstallationKey[] = "SOFTWARE\\Quorel\\";

// Hit-test flags of a point in the tree, as the tree view reports them.
inline constexpr int kHitNowhere = 0x01;
inline constexpr int kHitOnItemIcon = 0x02;
inline constexpr int kHitOnItemLabel = 0x04;
inline constexpr int kHitOnItemStateIcon = 0x40;

// Creates an object on a named server and tells when it is done.
class remote_creator {
 public:
  virtual ~remote_creator() = default;
  // Starts creating `prog_id` on `server`; 0 when started (complete() then turns true later).
  virtual std::int32_t start(const std::string& prog_id, const std::string& server) = 0;
  // True once the creation has finished or failed (OnComplete).
  virtual bool complete() const = 0;
  // The created object; null when the creation failed.
  virtual platform::com_ptr<platform::dispatch> take_object() = 0;
  // Why the creation failed.
  virtual ErrorRecord last_error() = 0;
};
using remote_creator_factory = std::function<std::unique_ptr<remote_creator>()>;

// True for a name of this computer: empty, "localhost", "127.0.0.1", "::1" or the host name
// (with or without its domain), ignoring case.
bool is_local_host(std::string_view server);
// This computer's name (the host name without its domain).
std::string local_computer_name();
// The user's domain: USERDOMAIN when set, else the host's domain, else the computer name.
std::string user_domain();

// The production creator: the in-process object for this computer, else QuorelWorker.CreateObj
// (attached through its connection point, OnComplete ending the wait).
std::unique_ptr<remote_creator> make_worker_creator();

// One node of tvwServerCollection.
struct tree_node {
  std::string image_key;  // "Domain", "Server", "Printer", "NetPrinter": also the node's kind
  std::string text;
  std::string key;
  std::string tag;         // a printer's port
  std::string parent_key;  // "" at the top level
  bool expanded = false;
};
// The printer name of a printer node: its key between the first backslash and the next ":";
// "" for other nodes.
std::string printer_of(const tree_node& node);

// A menu item of StartForm.
struct menu_item {
  std::string name;     // mnuFile, mnuTVConnect, ...
  std::string caption;
  std::string parent;   // "" for a menu of the menu bar or the pop-up
  bool visible = true;
  bool enabled = true;
};

// The window opened after a successful connection.
enum class window_kind {
  none,          // nothing is opened
  logo,          // LogoForm
  prn,           // PrnForm
  prn_bra,       // PrnBraForm, the regional setup window
};

// What a connection did.
struct connect_result {
  bool connected = false;   // the printer was identified and accepted
  window_kind window = window_kind::none;
  bool opos_updated = false;  // OPOSETUP: the OPOS keys were written
  bool unload = false;      // EndReq was set meanwhile: the window unloads
};

// An identified printer.
struct printer_identity {
  int id = 0;              // identification byte
  std::string model;       // ModelLookup's model
  std::string brand;       // and brand
  std::string model_text;  // the model name the second protocol kind reports
  std::string printer;     // the printer's name in the collection
};

// Where the browser runs and what it is.
struct browser_environment {
  std::string exe_name;               // the executable's name as started
  std::filesystem::path app_path;     // its folder (the utility's INI file lies there)
  std::string title = "Printer browser";  // application title
  std::string computer_name;          // "" : local_computer_name()
  std::string domain;                 // "" : user_domain()
  bool local_only = false;            // local mode whatever InstallationType says (one given server)
  std::string product_name = "POS printer resource kit";
  std::string file_description = "Printer browser of the utilities";
  int version_major = 1, version_minor = 0, version_revision = 0;
};

// What the browser asks of its window beyond the shared dialogs.
class browser_ui : public user_interface {
 public:
  // Opens MainServerForm ("Main server selection", or "Server selection" with `add_mode`) with
  // `choices` and `preselected` (-1 none); the chosen server on Apply, nothing when closed.
  virtual std::optional<std::string> choose_server(bool add_mode, const std::vector<std::string>& choices,
                                                   int preselected) = 0;
};

// MainServerForm's caption in each mode.
std::string main_server_caption(bool add_mode);
// AboutForm's lines: caption, product name, file description, release.
std::vector<std::string> about_lines(const browser_environment& env);

class start_form_model {
 public:
  start_form_model(browser_ui& ui, remote_creator_factory creators, browser_environment env);

  // Form_Load: the mode, panel 1, the menus, the tree.
  void load();
  // The upper-cased executable name that decides the utility.
  const std::string& program() const { return program_; }
  bool network_mode() const { return network_; }
  const std::string& caption() const { return env_.title; }
  const browser_environment& environment() const { return env_; }

  // The tree, parents before their children, in the order the nodes were added.
  const std::vector<tree_node>& nodes() const { return nodes_; }
  const tree_node* find(std::string_view key) const;
  const std::vector<menu_item>& menus() const { return menus_; }
  const menu_item* menu(std::string_view name) const;

  // Selection in the tree.
  void select(std::string_view key) { selected_ = std::string(key); }
  const std::string& selected() const { return selected_; }

  // Tree events. `hit_flags` are the hit test's flags at the pointer.
  void mouse_down(bool left_button, int hit_flags);
  // Right mouse-up on node `key`: enables the pop-up menu's items; true when it is to be shown.
  bool popup_menu(std::string_view key, int hit_flags);
  // Enter (13) connects to the selected node.
  connect_result key_press(int key_code);
  // A double click connects when the last mouse-down hit a node's label or icon.
  connect_result double_click();
  // Connects to printer node `key` (mnuTVConnect); nothing for other nodes or while busy.
  connect_result connect(std::string_view key);

  // Connect's first steps on printer node `key`: the monitor on the node's host, the connection
  // status, the I/O object (kept by link()) and OpenIO, with every message; true when the channel
  // is open. `unload` is set when EndReq ended the wait.
  bool open_channel(std::string_view key, bool* unload = nullptr);
  // open_channel, the offline flag, identification and the model lookup; the channel stays
  // assigned (closed) on success and is dropped on failure.
  std::optional<printer_identity> identify_printer(std::string_view key, bool* unload = nullptr);

  // mnuRefresh / mnuTVRefresh: clears and builds the tree.
  void refresh();
  // mnuAddServer, mnuMainServer, mnuDeleteServer / mnuTVDeleteServer (on the selected server).
  void add_server();
  void select_main_server();
  void delete_server();

  // QueryUnload: true when the window may close now; else EndReq is set and the running
  // operation ends first.
  bool query_unload();
  bool end_req() const { return end_req_; }
  bool busy() const { return busy_; }

  // The printer link holding the connected printer's channel, for the utility window.
  printer_link& link() { return link_; }
  // The identification byte and model of the connected printer.
  int printer_id() const { return printer_id_; }
  const std::string& printer_model() const { return printer_model_; }
  // The node of the connected printer.
  const std::string& connected_node() const { return connected_key_; }

  // The servers MainServerForm offers: this computer, the main server and the servers in the tree.
  std::vector<std::string> server_choices() const;

 private:
  // Creates `prog_id` on `server` through a new remote creator, waiting for it; shows the error.
  platform::com_ptr<platform::dispatch> create_remote(const std::string& prog_id, const std::string& server);
  void build_tree();
  // Asks one server for its printers and adds its node; `with_lan` also asks for the LAN list
  // into `lan_collection`; true when that list was obtained.
  bool add_server_node(const std::string& server, bool with_lan, const std::string& error_lead,
                       std::string* lan_collection);
  tree_node& add_node(tree_node node);
  void remove_node(const std::string& key);
  // The main-server dialog in select mode; true when a new main server was written.
  bool choose_main_server();
  connect_result open_window(const tree_node& node, int id, const std::string& model, const std::string& printer,
                             const std::string& printer_model);
  void begin_busy();
  void end_busy();

  browser_ui& ui_;
  remote_creator_factory creators_;
  browser_environment env_;
  std::string program_;
  bool network_ = false;
  std::vector<tree_node> nodes_;
  std::vector<menu_item> menus_;
  std::string selected_;
  bool item_click_ = false;
  bool busy_ = false;
  bool end_req_ = false;
  printer_link link_;
  int printer_id_ = 0;
  std::string printer_model_;
  std::string connected_key_;
};

// Entries of a printer collection: (port, printer name), up to the first entry without "=".
std::vector<std::pair<std::string, std::string>> parse_printer_collection(std::string_view text);
// Names of a server list, each ended by NUL.
std::vector<std::string> parse_server_list(std::string_view text);

}  // namespace utilities
