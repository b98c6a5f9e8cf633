// posutil printers, identify and status: the printer browser's model and the printer link
// without a window. Questions are answered Cancel (nothing waits for a person); messages go to
// stderr.
#include "printer_commands.h"

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <ostream>
#include <span>
#include <string>
#include <vector>

#include "platform/cli.h"
#include "platform/com.h"
#include "platform/messages.h"
#include "utilities/browser.h"

namespace posutil {
namespace {

// One message: its CR and CR LF line breaks as new lines.
void print_message(std::ostream& err, const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') {
      out += '\n';
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      out += text[i];
    }
  }
  err << "posutil: " << out << "\n";
}

}  // namespace

void console_ui::set_status(int panel, const std::string& text) {
  if (panel == utilities::kPanelProgramStatus && !text.empty()) last_status_ = text;
}

void console_ui::show_message(const std::string& text) {
  said_ = true;
  print_message(err_, text);
}

void console_ui::message_box(const std::string& text, utilities::box_icon) { show_message(text); }

utilities::box_answer console_ui::ask(const std::string& text, utilities::box_buttons buttons, utilities::box_icon) {
  show_message(text);
  return buttons == utilities::box_buttons::yes_no ? utilities::box_answer::no : utilities::box_answer::cancel;
}

void console_ui::pump(int ms) { platform::pump_messages_for(static_cast<std::uint32_t>(std::max(ms, 1))); }

std::optional<std::string> console_ui::choose_server(bool, const std::vector<std::string>&, int) {
  return std::nullopt;
}

std::string json_string(std::string_view text) {
  std::string out = "\"";
  for (const char c : text) {
    const auto b = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (b < 0x20) {
      char buffer[8];
      std::snprintf(buffer, sizeof buffer, "\\u%04x", b);
      out += buffer;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

std::filesystem::path program_folder() {
  std::error_code ec;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::filesystem::current_path(ec) : self.parent_path();
}

std::unique_ptr<utilities::start_form_model> make_model(const context& ctx, utilities::browser_ui& ui) {
  utilities::browser_environment env;
  env.exe_name = "posutil";
  env.app_path = program_folder();
  env.title = "posutil";
  // A given server is the only one asked, as this computer is in local mode.
  if (ctx.server) {
    env.computer_name = *ctx.server;
    env.local_only = true;
  }
  return std::make_unique<utilities::start_form_model>(ui, [] { return utilities::make_worker_creator(); }, env);
}

namespace {

// The options of the printer commands: --json where the command has it, and --help.
constexpr platform::cli::option kJsonOptions[] = {
    {"json", 0, platform::cli::kFlag, "", "print JSON"},
    {"help", 'h', platform::cli::kFlag, "", "show this text"},
};
constexpr platform::cli::option kPlainOptions[] = {
    {"help", 'h', platform::cli::kFlag, "", "show this text"},
};

// Parses a command's arguments: --json when `json` is given, --help; the rest are operands.
// False with `status` set on a usage error.
bool split_args(const context& ctx, const std::vector<std::string>& args, bool* json, platform::cli::parsed& parsed,
                int& status) {
  std::string problem;
  const std::span<const platform::cli::option> known =
      json != nullptr ? std::span<const platform::cli::option>(kJsonOptions) : std::span<const platform::cli::option>(kPlainOptions);
  if (!platform::cli::parse(known, args, parsed, problem)) {
    status = usage_error(ctx, problem);
    return false;
  }
  if (json != nullptr) *json = parsed.has("json");
  return true;
}

}  // namespace

const utilities::tree_node* find_printer(const utilities::start_form_model& model, std::string_view printer) {
  for (const utilities::tree_node& n : model.nodes()) {
    if (n.image_key != "Printer" && n.image_key != "NetPrinter") continue;
    const std::string name = utilities::printer_of(n);
    if (platform::equal_ignoring_case(name, printer) || platform::equal_ignoring_case(n.tag, printer)) return &n;
  }
  return nullptr;
}

const utilities::tree_node* find_printer_or_report(const context& ctx, const utilities::start_form_model& model,
                                                   std::string_view printer) {
  const utilities::tree_node* node = find_printer(model, printer);
  if (node == nullptr) ctx.err << "posutil: no printer " << printer << " (see posutil printers)\n";
  return node;
}

namespace {

// The usage of a command taking one PRINTER; on success `printer` is set.
bool printer_argument(const context& ctx, const std::vector<std::string>& args, bool* json, std::string& printer,
                      int& status, const char* synopsis) {
  platform::cli::parsed parsed;
  if (!split_args(ctx, args, json, parsed, status)) return false;
  if (parsed.has("help")) {
    ctx.out << "Usage: posutil " << synopsis << "\n";
    status = kExitOk;
    return false;
  }
  const std::vector<std::string>& rest = parsed.operands;
  if (rest.size() != 1) {
    status = usage_error(ctx, rest.empty() ? "no PRINTER given" : "one PRINTER only");
    return false;
  }
  printer = rest[0];
  return true;
}

}  // namespace

int run_printers(const context& ctx, const std::vector<std::string>& args) {
  bool json = false;
  platform::cli::parsed parsed;
  int status = kExitOk;
  if (!split_args(ctx, args, &json, parsed, status)) return status;
  if (parsed.has("help")) {
    ctx.out << "Usage: posutil printers [--json]\n"
               "Lists the printer servers and their printers as the utilities' printer browser shows them.\n";
    return kExitOk;
  }
  const std::vector<std::string>& rest = parsed.operands;
  if (!rest.empty()) return usage_error(ctx, "printers takes no argument " + rest[0]);
  console_ui ui(ctx.err);
  auto model = make_model(ctx, ui);
  model->load();
  if (json) {
    ctx.out << "{\"mode\":" << json_string(model->network_mode() ? "network" : "local") << ",\"nodes\":[";
    bool first = true;
    for (const utilities::tree_node& n : model->nodes()) {
      ctx.out << (first ? "" : ",") << "{\"kind\":" << json_string(n.image_key) << ",\"text\":" << json_string(n.text)
              << ",\"key\":" << json_string(n.key) << ",\"port\":" << json_string(n.tag)
              << ",\"parent\":" << json_string(n.parent_key) << "}";
      first = false;
    }
    ctx.out << "]}\n";
  } else {
    for (const utilities::tree_node& n : model->nodes()) {
      int depth = 0;
      for (const utilities::tree_node* p = model->find(n.parent_key); p != nullptr; p = model->find(p->parent_key))
        ++depth;
      ctx.out << std::string(static_cast<std::size_t>(depth) * 2, ' ') << n.text;
      if (n.image_key == "NetPrinter") ctx.out << "  (LAN)";
      ctx.out << "\n";
    }
  }
  // The tree is printed as far as it could be built; a server that failed makes the run fail.
  return ui.said_something() ? kExitFailure : kExitOk;
}

int run_identify(const context& ctx, const std::vector<std::string>& args) {
  bool json = false;
  std::string printer;
  int status = kExitOk;
  if (!printer_argument(ctx, args, &json, printer, status, "identify PRINTER [--json]")) return status;
  console_ui ui(ctx.err);
  auto model = make_model(ctx, ui);
  model->load();
  const utilities::tree_node* node = find_printer_or_report(ctx, *model, printer);
  if (node == nullptr) return kExitFailure;
  const std::optional<utilities::printer_identity> id = model->identify_printer(node->key);
  model->link().drop_channel();
  if (!id) return kExitFailure;
  if (json) {
    ctx.out << "{\"id\":" << id->id << ",\"model\":" << json_string(id->model) << ",\"brand\":" << json_string(id->brand)
            << "}\n";
  } else {
    ctx.out << "id " << id->id << "\nmodel " << id->model << "\nbrand " << id->brand << "\n";
  }
  return kExitOk;
}

int run_status(const context& ctx, const std::vector<std::string>& args) {
  std::string printer;
  int status = kExitOk;
  if (!printer_argument(ctx, args, nullptr, printer, status, "status PRINTER")) return status;
  console_ui ui(ctx.err);
  auto model = make_model(ctx, ui);
  model->load();
  const utilities::tree_node* node = find_printer_or_report(ctx, *model, printer);
  if (node == nullptr) return kExitFailure;
  if (!model->open_channel(node->key)) return kExitFailure;
  const int result = model->link().StatusCheck();
  model->link().close();
  model->link().drop_channel();
  ctx.out << ui.last_status() << "\n";
  return result == utilities::kStatusFailed ? kExitFailure : kExitOk;
}

}  // namespace posutil
