// StartForm's model: local and network modes, the tree with unreachable and busy servers, the
// tree events, connecting with the window chosen by the program's name, the connection errors,
// server maintenance and EndReq. Printers are sim ports of the real monitor; other computers are
// the fakes of fake_servers.h.
#include "utilities/browser.h"

#include <fstream>

#include <gtest/gtest.h>

#include "fake_servers.h"
#include "platform/testing/scoped_process.h"
#include "link_fixture.h"
#include "scripted_ui.h"

namespace utilities_test {
namespace {

using utilities::connect_result;
using utilities::start_form_model;
using utilities::tree_node;
using utilities::window_kind;

constexpr char kHost[] = "till1";

struct scripted_browser_ui : scripted_ui, utilities::browser_ui {
  // scripted_ui provides the user_interface members; these forward them for browser_ui.
  void set_status(int panel, const std::string& text) override { scripted_ui::set_status(panel, text); }
  void show_message(const std::string& text) override { scripted_ui::show_message(text); }
  void message_box(const std::string& text, box_icon icon) override { scripted_ui::message_box(text, icon); }
  box_answer ask(const std::string& text, box_buttons b, box_icon icon) override { return scripted_ui::ask(text, b, icon); }
  void pump(int ms) override { scripted_ui::pump(ms); }
  bool end_requested() const override { return scripted_ui::end_requested(); }
  void set_busy_pointer(bool b) override { scripted_ui::set_busy_pointer(b); }

  std::optional<std::string> choose_server(bool add_mode, const std::vector<std::string>& choices,
                                           int preselected) override {
    dialogs.push_back(utilities::main_server_caption(add_mode));
    offered = choices;
    offered_preselected = preselected;
    if (choices_to_make.empty()) return std::nullopt;
    std::string c = choices_to_make.front();
    choices_to_make.erase(choices_to_make.begin());
    return c;
  }
  std::vector<std::string> dialogs;
  std::vector<std::string> choices_to_make;
  std::vector<std::string> offered;
  int offered_preselected = -2;
};

class BrowserTest : public LinkTest {
 protected:
  void SetUp() override {
    LinkTest::SetUp();
    net_.servers[kHost] = server_kind::reachable;
  }

  std::unique_ptr<start_form_model> make_model(const std::string& exe) {
    utilities::browser_environment env;
    env.exe_name = exe;
    env.app_path = dir_.path();
    env.computer_name = kHost;
    env.domain = "STORE";
    return std::make_unique<start_form_model>(
        ui_, [this] { return std::make_unique<fake_creator>(net_); }, env);
  }

  static void set_installation(const char* name, const std::string& value) {
    platform::registry_key key;
    ASSERT_EQ(platform::registry_key::create(platform::registry_root::local_machine, utilities::kInstallationKey, key),
              platform::kErrorSuccess);
    ASSERT_EQ(key.set_string(name, value), platform::kErrorSuccess);
  }

  // "kind text [key] tag" lines of the tree, indented under their parents.
  static std::vector<std::string> tree_lines(const start_form_model& m) {
    std::vector<std::string> out;
    for (const tree_node& n : m.nodes()) {
      std::string line = n.parent_key.empty() ? "" : "  ";
      if (const tree_node* p = m.find(n.parent_key); p != nullptr && !p->parent_key.empty()) line += "  ";
      line += n.image_key + " " + n.text + " [" + n.key + "]";
      if (!n.tag.empty()) line += " " + n.tag;
      out.push_back(line);
    }
    return out;
  }

  // A connectable sim printer on port `port` named `name` answering GS I 1 with `id`.
  std::string add_printer(const std::string& port, const std::string& name, int id, const std::string& extra = "") {
    const std::string uri = fresh_sim(port, "?id=" + std::to_string(id) + extra);
    set_port(port, uri, "VX40", name);
    return uri;
  }

  scripted_browser_ui ui_;
  fake_network net_;
};

TEST_F(BrowserTest, LocalModeShowsOnlyThisComputer) {
  // InstallationType empty, missing or other than NETWORK, or a program named OPOSETUP: local.
  struct mode_case {
    const char* name;
    const char* installation;  // nullptr: no value
    const char* exe;
    bool network;
  };
  const mode_case cases[] = {
      {"empty value", "", "Logo", false},
      {"no value", nullptr, "Memory", false},
      {"another value", "network", "Logo", false},
      {"OPOSETUP is always local", "NETWORK", "Oposetup", false},
      {"network", "NETWORK", "Logo", true},
  };
  add_printer("COM1", "VX40", 46);
  set_port("LAN1", "socket://192.0.2.10:9100", "VX40", "Counter");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    {
      platform::registry_key key;
      platform::registry_key::create(platform::registry_root::local_machine, utilities::kInstallationKey, key);
      key.delete_value("InstallationType");
    }
    if (c.installation != nullptr) set_installation("InstallationType", c.installation);
    net_.main_server = "";
    ui_ = scripted_browser_ui();
    auto m = make_model(c.exe);
    m->load();
    EXPECT_EQ(m->network_mode(), c.network);
    EXPECT_EQ(m->menu("mnuOptions")->visible, c.network);
    EXPECT_EQ(m->menu("mnuTVDeleteServer")->visible, c.network);
    if (c.network) continue;  // no main server here: see the network test
    EXPECT_EQ(ui_.working_mode, "LOCAL");
    EXPECT_EQ(tree_lines(*m), (std::vector<std::string>{
                                  "Server till1 [till1]",
                                  "  Printer VX40:COM1 [till1\\VX40:COM1] COM1",
                                  "NetPrinter Counter:LAN1 [till1\\Counter:LAN1] LAN1",
                              }));
    EXPECT_TRUE(m->nodes().front().expanded);
    EXPECT_EQ(ui_.last_status(), "Ready...");
    EXPECT_FALSE(ui_.busy);
    EXPECT_TRUE(ui_.messages.empty());
    EXPECT_TRUE(ui_.boxes.empty());
  }
}

TEST_F(BrowserTest, NetworkModeMarksServersThatCannotBeAsked) {
  set_installation("InstallationType", "NETWORK");
  set_installation("MainServer", "main");
  add_printer("COM1", "VX40", 46);
  net_.main_server = "main";
  net_.servers["main"] = server_kind::reachable;
  net_.servers["busy"] = server_kind::busy;
  net_.collection->servers = {kHost, "gone", "busy"};
  net_.collection->info = "Main server main: 3 servers";
  auto m = make_model("Logo");
  m->load();
  EXPECT_EQ(ui_.working_mode, "Main server main: 3 servers");
  EXPECT_EQ(tree_lines(*m), (std::vector<std::string>{
                                "Domain STORE [Root]",
                                "  Server till1 [till1]",
                                "    Printer VX40:COM1 [till1\\VX40:COM1] COM1",
                                "  Server gone (Unreacheable) [gone]",
                                "  Server busy (Busy) [busy]",
                            }));
  EXPECT_EQ(ui_.boxes, std::vector<std::string>{"Error-2147023174 creating QuorelServer.Monitor on gone.\r"
                                                "The RPC server is unavailable."});
  EXPECT_EQ(ui_.messages, std::vector<std::string>{"Raised error code 5 getting printer collection from server on "
                                                   "busy.\rDescription: Server busy with another client."});
  EXPECT_EQ(ui_.statuses.front(), "");
  EXPECT_EQ(ui_.statuses[1], "Connecting to main(MS)...");
  EXPECT_EQ(ui_.statuses[2], "Getting info...");
  EXPECT_EQ(ui_.last_status(), "Ready...");
}

TEST_F(BrowserTest, AMainServerThatCannotBeReachedOffersANewOne) {
  set_installation("InstallationType", "NETWORK");
  set_installation("MainServer", "old");
  net_.main_server = "new";
  net_.servers["new"] = server_kind::reachable;
  net_.collection->servers = {"new"};
  ui_.answers = {box_answer::yes};
  ui_.choices_to_make = {"old", "new"};  // the first Apply fails and leaves the dialog open
  auto m = make_model("Logo");
  m->load();
  EXPECT_EQ(ui_.questions, std::vector<std::string>{"Select a new MainServer?"});
  EXPECT_EQ(ui_.dialogs, (std::vector<std::string>{"Main server selection", "Main server selection"}));
  EXPECT_EQ(ui_.offered_preselected, 0);  // this computer
  std::string main_server;
  utilities::registry_read(utilities::kInstallationKey, "MainServer", main_server);
  EXPECT_EQ(main_server, "new");
  ASSERT_NE(m->find("new"), nullptr);
  EXPECT_EQ(m->find("new")->text, "new");
}

TEST_F(BrowserTest, DoubleClicksConnectOnlyOnAPrinterLabel) {
  add_printer("COM1", "VX40", 46);
  auto m = make_model("Logo");
  m->load();
  struct click_case {
    const char* name;
    const char* selected;
    int hit_flags;
    bool connects;
  };
  const click_case cases[] = {
      {"empty space", "till1\\VX40:COM1", utilities::kHitNowhere, false},
      {"server node", "till1", utilities::kHitOnItemLabel, false},
      {"printer icon", "till1\\VX40:COM1", utilities::kHitOnItemIcon, true},
      {"printer label", "till1\\VX40:COM1", utilities::kHitOnItemLabel, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    net_.creations.clear();
    m->select(c.selected);
    m->mouse_down(true, c.hit_flags);
    const connect_result r = m->double_click();
    EXPECT_EQ(r.connected, c.connects);
    EXPECT_EQ(r.window, c.connects ? window_kind::logo : window_kind::none);
    EXPECT_EQ(net_.creations.size(), c.connects ? 1u : 0u);
  }
  // A right-button mouse-down clears the flag; Enter connects whatever the mouse did.
  m->mouse_down(false, utilities::kHitOnItemLabel);
  EXPECT_FALSE(m->double_click().connected);
  EXPECT_TRUE(m->key_press(13).connected);
  EXPECT_FALSE(m->key_press(32).connected);
}

TEST_F(BrowserTest, PopupMenuFollowsTheNodeKind) {
  set_installation("InstallationType", "NETWORK");
  set_installation("MainServer", "main");
  add_printer("COM1", "VX40", 46);
  net_.main_server = "main";
  net_.servers["main"] = server_kind::reachable;
  net_.collection->servers = {kHost};
  auto m = make_model("Logo");
  m->load();
  struct popup_case {
    const char* key;
    int hit_flags;
    bool shown;
    bool refresh, remove, connect;  // enabled after it
  };
  const popup_case cases[] = {
      {"till1\\VX40:COM1", utilities::kHitOnItemLabel, true, false, false, true},
      {"till1", utilities::kHitOnItemIcon, true, true, true, true},
      {"Root", utilities::kHitOnItemLabel, true, true, true, true},
      {"till1", utilities::kHitOnItemStateIcon, false, true, true, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.key);
    EXPECT_EQ(m->popup_menu(c.key, c.hit_flags), c.shown);
    EXPECT_EQ(m->menu("mnuTVRefresh")->enabled, c.refresh);
    EXPECT_EQ(m->menu("mnuTVDeleteServer")->enabled, c.remove);
    EXPECT_EQ(m->menu("mnuTVConnect")->enabled, c.connect);
  }
}

TEST_F(BrowserTest, TheProgramsNameChoosesTheWindow) {
  std::ofstream(dir_.path() / "DEMO.INI") << "[BRASIL]\nENABLED=1\n";
  struct window_case {
    const char* exe;
    int id;
    window_kind window;
    bool connected;
    const char* message;  // "" none
  };
  const window_case cases[] = {
      {"Logo", 46, window_kind::logo, true, ""},
      {"memory", 32, window_kind::prn, true, ""},
      {"SETUP", 36, window_kind::prn, true, ""},
      {"Demo", 10, window_kind::prn_bra, true, ""},
      {"Demo", 46, window_kind::prn, true, ""},
      {"Other", 46, window_kind::none, true, ""},
      {"VJ20G", 176, window_kind::prn, true, ""},
      {"Logo", 176, window_kind::none, false, "VX40:COM1 is a VJ20G.\nThis application does not work with a VJ20G."},
      {"Memory", 176, window_kind::none, false, "VX40:COM1 is a VJ20G.\nThis application does not work with a VJ20G."},
      {"Logo", 99, window_kind::none, false, "Printer unknown.\rPlease verify printers and connections..."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.exe) + " " + std::to_string(c.id));
    add_printer("COM1", "VX40", c.id);
    ui_ = scripted_browser_ui();
    auto m = make_model(c.exe);
    m->load();
    const connect_result r = m->connect("till1\\VX40:COM1");
    EXPECT_EQ(r.window, c.window);
    EXPECT_EQ(r.connected, c.connected);
    EXPECT_EQ(m->link().has_channel(), c.connected);
    if (*c.message != '\0') {
      EXPECT_EQ(ui_.messages, std::vector<std::string>{c.message});
    } else {
      EXPECT_TRUE(ui_.messages.empty()) << ui_.messages.front();
      EXPECT_EQ(m->printer_id(), c.id);
    }
    EXPECT_EQ(ui_.last_status(), "Ready...");
  }
}

TEST_F(BrowserTest, ConnectReportsWhatStoppedIt) {
  add_printer("COM1", "Offline", 46, "&fault=cover_open");
  set_port("COM9", "socket://127.0.0.1:1", "VX40", "Refused");
  add_printer("COM5", "Mute", 46, "&fault=mute");
  auto m = make_model("Logo");
  m->load();
  struct failure_case {
    const char* key;
    std::string message_start;
  };
  const failure_case cases[] = {
      {"till1\\Offline:COM1", "Printer offline.\rPlease check printer and then try again..."},
      {"till1\\Refused:COM9", "Raised error on connection with Refused (on COM9) of till1.\rDescription: "},
      {"till1\\Mute:COM5", "Printer offline.\rPlease check printer and then try again..."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.key);
    ui_.messages.clear();
    const connect_result r = m->connect(c.key);
    EXPECT_FALSE(r.connected);
    ASSERT_EQ(ui_.messages.size(), 1u);
    EXPECT_EQ(ui_.messages[0].substr(0, c.message_start.size()), c.message_start);
    EXPECT_FALSE(m->link().has_channel());
  }
  // A server the monitor cannot be created on.
  net_.servers.erase(kHost);
  ui_.boxes.clear();
  EXPECT_FALSE(m->connect("till1\\Offline:COM1").connected);
  EXPECT_EQ(ui_.boxes.size(), 1u);
}

TEST_F(BrowserTest, LanPrinterIsReachedFromThisComputerAndShowsItsAddress) {
  // A printer on a TCP port (the virtual printer's daemon on loopback), listed in the LAN
  // collection and connected to from this computer; the node shows the address it was reached at.
  platform::testing::scoped_process daemon({VPRINTER_DAEMON_PATH, "--listen", "127.0.0.1:0", "--id", "32"},
                                           dir_.path() / "daemon.log", true);
  const std::string line = daemon.first_line(5000);
  const std::size_t colon = line.rfind(':');
  ASSERT_NE(colon, std::string::npos) << line;
  set_port("LAN1", "socket://127.0.0.1:" + line.substr(colon + 1), "VX40", "Office");
  auto m = make_model("Memory");
  m->load();
  ASSERT_NE(m->find("till1\\Office:LAN1"), nullptr);
  EXPECT_EQ(m->find("till1\\Office:LAN1")->image_key, "NetPrinter");
  const connect_result r = m->connect("till1\\Office:LAN1");
  EXPECT_TRUE(r.connected) << (ui_.messages.empty() ? "" : ui_.messages.front());
  EXPECT_EQ(r.window, window_kind::prn);
  EXPECT_EQ(m->printer_id(), 32);
  EXPECT_EQ(m->find("till1\\Office:LAN1")->text, "Office:LAN1 (127.0.0.1)");
  EXPECT_EQ(net_.creations.back(), "QuorelServer.Monitor@till1");
}

TEST_F(BrowserTest, OposetupWritesTheOposKeysOfTheConnectedPrinter) {
  add_printer("COM3", "VX40", 46);
  for (const char* k : {"POSPrinter\\VX40Device", "POSPrinter\\VX40CDevice", "LineDisplay\\VX40LineControl",
                        "CashDrawer\\VX40DrawerControl"}) {
    platform::registry_key key;
    platform::registry_key::create(platform::registry_root::local_machine,
                                   std::string("SOFTWARE\\OleForRetail\\ServiceOPOS\\") + k, key);
  }
  auto m = make_model("OPOSETUP");
  m->load();
  const connect_result r = m->connect("till1\\VX40:COM3");
  EXPECT_TRUE(r.opos_updated);
  std::string port, type;
  utilities::registry_read("SOFTWARE\\OleForRetail\\ServiceOPOS\\CashDrawer\\VX40DrawerControl", "COMMPort", port);
  utilities::registry_read("SOFTWARE\\OleForRetail\\ServiceOPOS\\POSPrinter\\VX40Device", "MachineType", type);
  EXPECT_EQ(port, "COM3");
  EXPECT_EQ(type, "VX40");
  EXPECT_TRUE(ui_.boxes.empty());
  EXPECT_TRUE(ui_.questions.empty());
}

TEST_F(BrowserTest, ServersAreAddedAndDeletedThroughTheMainServer) {
  set_installation("InstallationType", "NETWORK");
  set_installation("MainServer", "main");
  net_.main_server = "main";
  net_.servers["main"] = server_kind::reachable;
  net_.servers["shop2"] = server_kind::reachable;
  net_.collection->servers = {kHost};
  auto m = make_model("Logo");
  m->load();

  ui_.choices_to_make = {"nowhere", "shop2"};  // the unreachable one keeps the dialog open
  m->add_server();
  EXPECT_EQ(ui_.dialogs, (std::vector<std::string>{"Server selection", "Server selection"}));
  EXPECT_EQ(net_.collection->calls, std::vector<std::string>{"AddServer shop2"});
  ASSERT_NE(m->find("shop2"), nullptr);
  EXPECT_EQ(m->find("shop2")->parent_key, "Root");

  m->select("shop2");
  m->delete_server();
  EXPECT_EQ(m->find("shop2"), nullptr);
  EXPECT_EQ(net_.collection->calls.back(), "RemoveServer shop2");

  // A refusal of the collection is shown and leaves the node.
  net_.collection->fail_with = 7;
  ui_.boxes.clear();
  m->select(kHost);
  m->delete_server();
  ASSERT_NE(m->find(kHost), nullptr);
  EXPECT_EQ(ui_.boxes, std::vector<std::string>{"Error7 by QuorelMainServer.ServerCollection on main.\r"
                                                "The server list cannot be changed."});
}

TEST_F(BrowserTest, ClosingDuringAConnectionUnloadsAfterTheCreation) {
  add_printer("COM1", "VX40", 46);
  auto m = make_model("Logo");
  m->load();
  bool closed = true;
  ui_.on_pump = [&](int) { closed = m->query_unload(); };
  const connect_result r = m->connect("till1\\VX40:COM1");
  EXPECT_FALSE(closed);  // the window stays while the operation runs
  EXPECT_TRUE(r.unload);
  EXPECT_FALSE(r.connected);
  EXPECT_TRUE(m->end_req());
  // Once the operation has ended the window closes at once.
  EXPECT_FALSE(m->busy());
  EXPECT_TRUE(m->query_unload());
}

TEST(BrowserTexts, CollectionsDialogsAndAbout) {
  using utilities::parse_printer_collection;
  const std::string text = std::string("COM1=VX40\0USB001=QW-310\0junk\0LPT1=Late\0", 40);
  const auto entries = parse_printer_collection(text);
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[1], (std::pair<std::string, std::string>{"USB001", "QW-310"}));
  EXPECT_TRUE(parse_printer_collection("").empty());
  EXPECT_EQ(utilities::parse_server_list(std::string("a\0b\0", 4)), (std::vector<std::string>{"a", "b"}));
  utilities::browser_environment env;
  env.title = "Logo";
  env.version_major = 2;
  env.version_minor = 1;
  env.version_revision = 7;
  const auto about = utilities::about_lines(env);
  EXPECT_EQ(about.front(), "About Logo");
  EXPECT_EQ(about.back(), "Release 2.1.7");
  EXPECT_TRUE(utilities::is_local_host(""));
  EXPECT_TRUE(utilities::is_local_host("LOCALHOST"));
  EXPECT_TRUE(utilities::is_local_host(utilities::local_computer_name()));
  EXPECT_FALSE(utilities::is_local_host("some-other-host.invalid"));
}

}  // namespace
}  // namespace utilities_test
