// posutil setup against the virtual printer: in this process on a sim port, and as a program on a
// printer daemon reached over loopback. The checks read the printer's own tree from "setup get",
// so they hold for whatever setup the virtual printer describes.

#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "monitor/monitor.h"
#include "platform/com.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/testing/scoped_process.h"
#include "platform/testing/temp_dir.h"
#include "platform/testing/server_library.h"
#include "posutil.h"

namespace {

// Bound of every wait for a program, in milliseconds.
constexpr int kGenerousMs = 30000;

struct outcome {
  int status;
  std::string out;
  std::string err;
};

// One line of "setup get": an option of a folder, or a value.
struct setting {
  std::string folder;  // the folder's key
  std::string name;
  bool option = false;
  bool selected = false;  // options
  std::string value;      // values
  std::string kind;       // values: text, digit, number, none
  bool editable = false;
};

// Reads the text form of "setup get": names indented two blanks per level, options "(*) name" or
// "( ) name", values "name=value  [kind, editable]".
std::vector<setting> parse_tree(const std::string& text) {
  std::vector<setting> out;
  std::vector<std::string> path;
  std::istringstream in(text);
  std::string line;
  std::getline(in, line);  // "Setup <id>  FW ...  BOOT ..."
  while (std::getline(in, line)) {
    const std::size_t indent = line.find_first_not_of(' ');
    if (indent == std::string::npos) continue;
    const std::size_t depth = indent / 2;
    path.resize(depth);
    std::string key;
    for (const std::string& p : path) key += (key.empty() ? "" : "\\") + p;
    const std::string body = line.substr(indent);
    if (body.starts_with("(*) ") || body.starts_with("( ) ")) {
      out.push_back({key, body.substr(4), true, body[1] == '*', "", "", false});
    } else if (const std::size_t mark = body.rfind("  ["); mark != std::string::npos && body.back() == ']') {
      const std::string label = body.substr(0, mark);
      const std::string tail = body.substr(mark + 3, body.size() - mark - 4);
      const std::size_t eq = label.find('=');
      setting s{key, label.substr(0, eq), false, false, eq == std::string::npos ? "" : label.substr(eq + 1), "", false};
      s.editable = tail.ends_with(", editable");
      s.kind = s.editable ? tail.substr(0, tail.size() - 10) : tail;
      out.push_back(s);
    } else {
      path.push_back(body);
    }
  }
  return out;
}

const setting* find_setting(const std::vector<setting>& all, const std::string& folder, const std::string& name) {
  for (const setting& s : all) {
    if (s.folder == folder && s.name == name) return &s;
  }
  return nullptr;
}

// Two changes the printer's setup allows: another option of the first folder with a choice, and a
// new value for the first editable number or text.
struct changes {
  std::string option_folder, option;
  std::string value_key, value;
};
changes pick_changes(const std::vector<setting>& all) {
  changes c;
  for (const setting& s : all) {
    if (c.option.empty() && s.option && !s.selected) {
      c.option_folder = s.folder;
      c.option = s.name;
    }
    if (c.value_key.empty() && s.editable && (s.kind == "number" || s.kind == "text")) {
      c.value_key = s.folder + "\\" + s.name;
      c.value = s.kind == "number" ? std::to_string((std::stoul(s.value) + 7) % 1000000000) : "Round trip";
      if (c.value == s.value) c.value = "1";
    }
  }
  return c;
}

// The tree `get` printed shows the changes `c` made: the option chosen and the new value.
void expect_applied(const std::string& tree, const changes& c) {
  const std::vector<setting> now = parse_tree(tree);
  const setting* option = find_setting(now, c.option_folder, c.option);
  ASSERT_NE(option, nullptr) << tree;
  EXPECT_TRUE(option->selected) << tree;
  const std::size_t cut = c.value_key.rfind('\\');
  const setting* value = find_setting(now, c.value_key.substr(0, cut), c.value_key.substr(cut + 1));
  ASSERT_NE(value, nullptr) << tree;
  EXPECT_EQ(value->value, c.value) << tree;
}

class PosutilSetupTest : public ::testing::Test {
 protected:
  platform::testing::scoped_registry_dir registry_;
  platform::testing::temp_dir dir_;

  void SetUp() override {
    std::string error;
    ASSERT_EQ(platform::testing::register_server_library(QUOREL_MONITOR_PATH, error), platform::kSOk) << error;
    static int counter = 0;
    set_port("COM1", "sim:setup-" + std::to_string(++counter) + "?id=46", "VX40", "Counter");
  }

  static void set_port(const std::string& port, const std::string& uri, const std::string& type,
                       const std::string& name) {
    platform::registry_key key;
    ASSERT_EQ(platform::registry_key::create(platform::registry_root::local_machine,
                                             std::string(monitor::kPortsKey) + "\\" + port, key),
              platform::kErrorSuccess);
    key.set_string("Transport", uri);
    key.set_string("MachineType", type);
    key.set_string("Name", name);
  }

  static outcome run(std::vector<std::string> args) {
    std::ostringstream out, err;
    const int status = posutil::run(args, out, err);
    return {status, out.str(), err.str()};
  }

  // Runs the posutil program with `args`, its output into files of the test's folder.
  outcome run_program(const std::vector<std::string>& args) {
    const std::filesystem::path out = dir_.path() / "out.txt";
    const std::filesystem::path err = dir_.path() / "err.txt";
    std::vector<std::string> argv = {"-c", "o=$1; e=$2; shift 2; exec \"$@\" >\"$o\" 2>\"$e\"", "sh", out.string(),
                                     err.string(), POSUTIL_PROGRAM, "--registry", registry_.path().string()};
    argv.insert(argv.end(), args.begin(), args.end());
    std::error_code error;
    platform::child_process child = platform::child_process::spawn({"/bin/sh", argv, {}}, error);
    if (error || !child.wait_for(kGenerousMs)) return {-1, "", "posutil did not end"};
    auto slurp = [](const std::filesystem::path& p) {
      std::ifstream in(p);
      std::stringstream s;
      s << in.rdbuf();
      return s.str();
    };
    return {child.status().signaled ? -1 : child.status().value, slurp(out), slurp(err)};
  }
};

TEST_F(PosutilSetupTest, CommandLineErrorsExitWithUsage) {
  const std::vector<std::vector<std::string>> bad = {
      {"setup"},
      {"setup", "frob", "COM1"},
      {"setup", "get"},
      {"setup", "get", "COM1", "COM2"},
      {"setup", "set", "COM1"},
      {"setup", "set", "COM1", "novalue"},
      {"setup", "set", "COM1", "=0"},
      {"setup", "set", "COM1", "A=1", "--json"},
      {"setup", "get", "COM1", "--bogus"},
  };
  for (const std::vector<std::string>& args : bad) {
    const outcome o = run(args);
    EXPECT_EQ(o.status, posutil::kExitUsage) << args.back();
    EXPECT_TRUE(o.err.starts_with("posutil: ")) << o.err;
    EXPECT_EQ(o.err.find('\n'), o.err.size() - 1) << o.err;
  }
  const outcome help = run({"setup", "--help"});
  EXPECT_EQ(help.status, posutil::kExitOk);
  EXPECT_NE(help.out.find("posutil setup set PRINTER [--full] PATH=VALUE..."), std::string::npos);
  EXPECT_EQ(run({"setup", "get", "NoSuchPrinter"}).status, posutil::kExitFailure);
}

TEST_F(PosutilSetupTest, GetShowsTheTreeAsTextAndJson) {
  const outcome text = run({"setup", "get", "Counter"});
  ASSERT_EQ(text.status, posutil::kExitOk) << text.err;
  EXPECT_TRUE(text.out.starts_with("Setup ")) << text.out;
  const std::vector<setting> all = parse_tree(text.out);
  const changes c = pick_changes(all);
  ASSERT_FALSE(c.option.empty()) << text.out;
  ASSERT_FALSE(c.value_key.empty()) << text.out;
  // Every folder with options has exactly one selected.
  std::map<std::string, int> selected;
  for (const setting& s : all) {
    if (s.option) selected[s.folder] += s.selected ? 1 : 0;
  }
  for (const auto& [folder, count] : selected) EXPECT_EQ(count, 1) << folder;

  const outcome json = run({"setup", "get", "COM1", "--json"});
  ASSERT_EQ(json.status, posutil::kExitOk) << json.err;
  EXPECT_TRUE(json.out.starts_with("{\"identifier\":")) << json.out;
  EXPECT_NE(json.out.find(",\"roots\":[{\"name\":"), std::string::npos) << json.out;
  EXPECT_NE(json.out.find("\"options\":["), std::string::npos);
  EXPECT_NE(json.out.find("\"editable\":true"), std::string::npos);
  for (const setting& s : all) {
    if (s.option) {
      if (s.selected) {
        EXPECT_NE(json.out.find("\"selected\":\"" + s.name + "\""), std::string::npos) << s.name;
      }
      continue;
    }
    // A value as JSON: name, key (backslashes escaped), value, kind, editability.
    std::string key;
    for (const char ch : s.folder + "\\" + s.name) key += ch == '\\' ? std::string("\\\\") : std::string(1, ch);
    const std::string expected = "{\"name\":\"" + s.name + "\",\"key\":\"" + key + "\",\"value\":\"" + s.value +
                                 "\",\"kind\":\"" + s.kind + "\",\"editable\":" + (s.editable ? "true" : "false");
    EXPECT_NE(json.out.find(expected), std::string::npos) << expected << "\n" << json.out;
  }
}

TEST_F(PosutilSetupTest, SetChangesTwoSettingsAndGetShowsThem) {
  // The memory setup, then the full one (as the program SETUP edits it).
  for (const std::vector<std::string>& mode : {std::vector<std::string>{}, std::vector<std::string>{"--full"}}) {
    std::vector<std::string> get = {"setup", "get", "COM1"};
    get.insert(get.end(), mode.begin(), mode.end());
    const outcome before = run(get);
    ASSERT_EQ(before.status, posutil::kExitOk) << before.err;
    const changes c = pick_changes(parse_tree(before.out));
    ASSERT_FALSE(c.option.empty() || c.value_key.empty()) << before.out;
    std::vector<std::string> set = {"setup", "set", "COM1", c.option_folder + "=" + c.option, c.value_key + "=" + c.value};
    set.insert(set.end(), mode.begin(), mode.end());
    const outcome done = run(set);
    ASSERT_EQ(done.status, posutil::kExitOk) << done.err;
    // Only the full setup's program tells what to check afterwards.
    EXPECT_EQ(done.err.find("New setup has been downloaded correctly.") != std::string::npos, !mode.empty()) << done.err;
    const outcome after = run(get);
    ASSERT_EQ(after.status, posutil::kExitOk) << after.err;
    expect_applied(after.out, c);
  }
}

TEST_F(PosutilSetupTest, PrinterFaultsEndWithTheirMessages) {
  struct fault_case {
    const char* fault;
    bool set;  // a download (else only the upload)
    int status;
    const char* message;  // "" : none
  };
  const fault_case cases[] = {
      {"setup_checksum=1", false, posutil::kExitOk, ""},  // NAK, then the block again
      {"setup_checksum=2", false, posutil::kExitFailure, "posutil: Data checksum error.\n"},
      {"setup_nak", true, posutil::kExitFailure, "posutil: Checksum error from printer.\n"},
      {"setup_id_mismatch", true, posutil::kExitFailure, "posutil: PrinterID/Release does not match.\n"},
      {"setup_store_error", true, posutil::kExitFailure, "posutil: Memorization failed.\n"},
  };
  static int counter = 0;
  for (const fault_case& c : cases) {
    // A clean printer for the setting to choose from, then the same printer with the fault.
    const std::string name = "sim:setup-fault-" + std::to_string(++counter);
    set_port("COM2", name + "?id=46", "VX40", "Faulty");
    const outcome clean = run({"setup", "get", "COM2"});
    ASSERT_EQ(clean.status, posutil::kExitOk) << clean.err;
    const changes ch = pick_changes(parse_tree(clean.out));
    set_port("COM2", name + "-f?id=46&fault=" + c.fault, "VX40", "Faulty");
    const outcome o = c.set ? run({"setup", "set", "COM2", ch.option_folder + "=" + ch.option})
                            : run({"setup", "get", "COM2"});
    EXPECT_EQ(o.status, c.status) << c.fault << ": " << o.err;
    EXPECT_EQ(o.err, c.message) << c.fault;
  }
}

TEST_F(PosutilSetupTest, RefusedSettingsSendNothing) {
  const outcome before = run({"setup", "get", "COM1"});
  ASSERT_EQ(before.status, posutil::kExitOk) << before.err;
  const std::vector<setting> all = parse_tree(before.out);
  std::vector<std::string> refused = {"NoSuchRoot\\Folder=1"};
  for (const setting& s : all) {
    const std::string key = s.folder + "\\" + s.name;
    if (s.option) refused.push_back(s.folder + "=No such option");
    else if (!s.editable) refused.push_back(key + "=0");
    else if (s.kind == "digit") refused.push_back(key + "=5");  // one-digit values only to 0
    else if (s.kind == "number") refused.push_back(key + "=1234567890");
    else if (s.kind == "text") refused.push_back(key + "=a;b");
  }
  for (const std::string& r : refused) {
    const outcome o = run({"setup", "set", "COM1", r});
    EXPECT_EQ(o.status, posutil::kExitUsage) << r << ": " << o.err;
  }
  EXPECT_EQ(run({"setup", "get", "COM1"}).out, before.out);
}

TEST_F(PosutilSetupTest, RoundTripWithTheProgramOnAPrinterDaemon) {
  platform::testing::scoped_process daemon({VPRINTER_DAEMON_PATH, "--listen", "127.0.0.1:0", "--id", "46"},
                                           dir_.path() / "daemon.log", true);
  const std::string line = daemon.first_line(5000);
  const std::size_t colon = line.rfind(':');
  ASSERT_NE(colon, std::string::npos) << line;
  set_port("COM5", "socket://127.0.0.1:" + line.substr(colon + 1), "VX40", "Daemon");

  const outcome before = run_program({"setup", "get", "Daemon"});
  ASSERT_EQ(before.status, posutil::kExitOk) << before.err;
  const changes c = pick_changes(parse_tree(before.out));
  ASSERT_FALSE(c.option.empty() || c.value_key.empty()) << before.out;
  const outcome set =
      run_program({"setup", "set", "Daemon", c.option_folder + "=" + c.option, c.value_key + "=" + c.value});
  ASSERT_EQ(set.status, posutil::kExitOk) << set.err;
  const outcome after = run_program({"setup", "get", "Daemon"});
  ASSERT_EQ(after.status, posutil::kExitOk) << after.err;
  expect_applied(after.out, c);
}

}  // namespace
