// posutil setup: the setup editor (PrnForm) without a window. "get" uploads the printer's setup
// and prints its tree; "set" uploads it, changes options and values by their keys under the
// label editor's rules, and downloads it. Questions are answered Cancel; messages go to stderr.
#include <memory>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "memory/prn_form.h"
#include "platform/cli.h"
#include "platform/com.h"
#include "printer_commands.h"
#include "utilities/browser.h"

namespace posutil {
namespace {

// PrnForm's window for a console: the browser's console window, and no beeps (a refused value is
// reported by the command itself).
class console_form_ui final : public memory::prn_form_ui {
 public:
  explicit console_form_ui(console_ui& ui) : ui_(ui) {}
  void set_status(int panel, const std::string& text) override { ui_.set_status(panel, text); }
  void show_message(const std::string& text) override { ui_.show_message(text); }
  void message_box(const std::string& text, utilities::box_icon icon) override { ui_.message_box(text, icon); }
  utilities::box_answer ask(const std::string& text, utilities::box_buttons buttons, utilities::box_icon icon) override {
    return ui_.ask(text, buttons, icon);
  }
  void pump(int ms) override { ui_.pump(ms); }
  bool end_requested() const override { return false; }
  void set_busy_pointer(bool) override {}
  void beep() override {}

 private:
  console_ui& ui_;
};

// The kind of a value by its tag.
const char* value_kind(const memory::setup_node& n) {
  if (n.tag == memory::kTagText) return "text";
  if (n.tag == memory::kTagDigit) return "digit";
  if (n.tag == memory::kTagNumber) return "number";
  return "none";
}

// A folder (or the root) as JSON: its options with the selected one, its values, its folders.
void print_json_folder(std::ostream& out, const memory::setup_tree& tree, const memory::setup_node& folder) {
  out << "{\"name\":" << json_string(folder.name) << ",\"key\":" << json_string(folder.key) << ",\"options\":[";
  std::string selected;
  bool first = true;
  for (const memory::setup_node* c : tree.children(folder.key)) {
    if (c->kind != memory::node_kind::option) continue;
    out << (first ? "" : ",") << json_string(c->name);
    if (c->image == memory::kImageCOption && selected.empty()) selected = c->name;
    first = false;
  }
  out << "],\"selected\":" << (selected.empty() ? std::string("null") : json_string(selected)) << ",\"values\":[";
  first = true;
  for (const memory::setup_node* c : tree.children(folder.key)) {
    if (c->kind != memory::node_kind::value) continue;
    const memory::edit_field field = memory::label_edit_field(*c);
    out << (first ? "" : ",") << "{\"name\":" << json_string(c->name) << ",\"key\":" << json_string(c->key)
        << ",\"value\":" << json_string(memory::value_text(*c)) << ",\"kind\":" << json_string(value_kind(*c))
        << ",\"editable\":" << (field.allowed ? "true" : "false");
    if (field.allowed) out << ",\"max_chars\":" << field.max_chars;
    out << "}";
    first = false;
  }
  out << "],\"folders\":[";
  first = true;
  for (const memory::setup_node* c : tree.children(folder.key)) {
    if (c->kind != memory::node_kind::folder) continue;
    out << (first ? "" : ",");
    print_json_folder(out, tree, *c);
    first = false;
  }
  out << "]}";
}

// The tree as text: folders by name, options marked "(*)" when selected, values "name=value"
// with their kind and "editable".
void print_text_node(std::ostream& out, const memory::setup_tree& tree, const memory::setup_node& n, int depth) {
  out << std::string(static_cast<std::size_t>(depth) * 2, ' ');
  switch (n.kind) {
    case memory::node_kind::root:
    case memory::node_kind::folder:
      out << n.name << "\n";
      break;
    case memory::node_kind::option:
      out << (n.image == memory::kImageCOption ? "(*) " : "( ) ") << n.name << "\n";
      break;
    case memory::node_kind::value:
      out << n.text << "  [" << value_kind(n) << (memory::label_edit_field(n).allowed ? ", editable" : "") << "]\n";
      break;
  }
  for (const memory::setup_node* c : tree.children(n.key)) print_text_node(out, tree, *c, depth + 1);
}

constexpr platform::cli::option kOptions[] = {
    {"full", 0, platform::cli::kFlag, "", "the full printer setup (as SETUP) instead of the memory setup"},
    {"json", 0, platform::cli::kFlag, "", "print JSON (get)"},
    {"help", 'h', platform::cli::kFlag, "", "show this text"},
};

constexpr char kHelp[] =
    "Usage: posutil setup get PRINTER [--full] [--json]\n"
    "       posutil setup set PRINTER [--full] PATH=VALUE...\n"
    "Reads a printer's setup as the setup editor does and prints its tree, or changes settings and sends\n"
    "the setup back to the printer.\n"
    "\n"
    "  PRINTER     the printer's name or port (see posutil printers)\n"
    "  PATH=VALUE  PATH is a key of the tree: the root's name and folder names joined by \"\\\".\n"
    "              A folder's PATH and one of its options selects that option; an editable value's\n"
    "              PATH and a text changes the value (as the setup editor allows: one-digit values\n"
    "              only to 0, numbers of up to 9 digits, texts of up to 24 characters without\n"
    "              $ ! : ; | [ ] = and the block's own marks).\n"
    "  --full      the full printer setup (ESC } SP a), as the program SETUP edits it\n"
    "  --json      print the tree as JSON: nested folders, their options and the selected one, and\n"
    "              values with their kind and whether they may be edited\n";

// A PrnForm over the browser's connection to `printer`, uploaded; nothing when that failed
// (the reason printed).
struct session {
  console_ui ui;
  console_form_ui form_ui{ui};
  std::unique_ptr<utilities::start_form_model> browser;
  std::unique_ptr<memory::prn_form_model> form;
  explicit session(std::ostream& err) : ui(err) {}
};

int open_session(const context& ctx, session& s, const std::string& printer, bool full) {
  s.browser = make_model(ctx, s.ui);
  s.browser->load();
  const utilities::tree_node* node = find_printer_or_report(ctx, *s.browser, printer);
  if (node == nullptr) return kExitFailure;
  const std::string tag = node->tag;
  const std::optional<utilities::printer_identity> id = s.browser->identify_printer(node->key);
  if (!id) return kExitFailure;
  memory::prn_form_environment fenv;
  fenv.exe_name = full ? "SETUP" : "MEMORY";
  fenv.model = id->model;
  fenv.printer_tag = tag;
  s.form = std::make_unique<memory::prn_form_model>(s.form_ui, s.browser->link(), fenv);
  s.form->load();
  s.form->activate();
  if (s.form->last_upload() != memory::upload_outcome::tree_built) {
    if (!s.form->format_problem().empty()) ctx.err << "posutil: " << s.form->format_problem() << "\n";
    s.form->unload();
    return kExitFailure;
  }
  return kExitOk;
}

}  // namespace

int run_setup(const context& ctx, const std::vector<std::string>& args) {
  platform::cli::parsed parsed;
  std::string problem;
  if (!platform::cli::parse(kOptions, args, parsed, problem)) return usage_error(ctx, problem);
  if (parsed.has("help")) {
    ctx.out << kHelp;
    return kExitOk;
  }
  const std::vector<std::string>& words = parsed.operands;
  if (words.empty()) return usage_error(ctx, "setup needs get or set (see setup --help)");
  const std::string& verb = words[0];
  const bool full = parsed.has("full");
  if (verb == "get") {
    if (words.size() != 2) return usage_error(ctx, words.size() < 2 ? "no PRINTER given" : "setup get takes one PRINTER");
    session s(ctx.err);
    if (const int rc = open_session(ctx, s, words[1], full); rc != kExitOk) return rc;
    const memory::setup_tree& tree = s.form->tree();
    if (parsed.has("json")) {
      ctx.out << "{\"identifier\":" << json_string(s.form->identifier())
              << ",\"firmware\":" << json_string(s.form->firmware_version())
              << ",\"boot\":" << json_string(s.form->boot_version()) << ",\"roots\":[";
      bool first = true;
      for (const memory::setup_node* root : tree.children("")) {
        ctx.out << (first ? "" : ",");
        print_json_folder(ctx.out, tree, *root);
        first = false;
      }
      ctx.out << "]}\n";
    } else {
      ctx.out << "Setup " << s.form->identifier() << "  FW " << s.form->firmware_version() << "  BOOT "
              << s.form->boot_version() << "\n";
      for (const memory::setup_node* root : tree.children("")) print_text_node(ctx.out, tree, *root, 0);
    }
    s.form->unload();
    return kExitOk;
  }
  if (verb == "set") {
    if (parsed.has("json")) return usage_error(ctx, "--json is an option of setup get");
    if (words.size() < 2) return usage_error(ctx, "no PRINTER given");
    if (words.size() < 3) return usage_error(ctx, "no PATH=VALUE given");
    std::vector<std::pair<std::string, std::string>> settings;
    for (std::size_t i = 2; i < words.size(); ++i) {
      const std::size_t eq = words[i].find('=');
      if (eq == std::string::npos || eq == 0) return usage_error(ctx, "not PATH=VALUE: " + words[i]);
      settings.emplace_back(words[i].substr(0, eq), words[i].substr(eq + 1));
    }
    session s(ctx.err);
    if (const int rc = open_session(ctx, s, words[1], full); rc != kExitOk) return rc;
    // Every setting is checked before anything is sent: a refused one sends nothing.
    for (const auto& [path, value] : settings) {
      const std::string refused = s.form->apply_setting(path, value);
      if (!refused.empty()) {
        s.form->unload();
        return usage_error(ctx, refused);
      }
    }
    const memory::download_outcome outcome = s.form->download();
    if (outcome == memory::download_outcome::stored) return kExitOk;
    if (!s.form->format_problem().empty()) ctx.err << "posutil: " << s.form->format_problem() << "\n";
    return kExitFailure;
  }
  return usage_error(ctx, "unknown setup command " + verb + " (get or set)");
}

}  // namespace posutil
