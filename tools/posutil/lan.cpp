// posutil lan: the LAN printer setup program's jobs from the command line, through the same
// model as its window: search, name, configure, set-ip, reset, ping, test-page, adapters.
#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "netcfg/configurator.h"
#include "netsetup/netsetup_model.h"
#include "platform/cli.h"
#include "posutil.h"

namespace posutil {
namespace {

constexpr const char* kLanHelp =
    "Usage: posutil lan COMMAND [ARGS...]\n"
    "Finds the printers' network modules on the LAN and sets them up.\n"
    "\n"
    "  search [--adapter N] [--json]   list the printers found through adapter N (0-based, default 0)\n"
    "  name IP NAME                    give the printer at IP a name (initialize it)\n"
    "  configure IP [--port P] [--mask M] [--gateway G]\n"
    "                                  change the printer's TCP port, subnet mask, default gateway\n"
    "  set-ip MAC NEWIP [--adapter N]  move the printer with MAC to NEWIP (after a search)\n"
    "  reset IP                        clear name and TCP settings, release the address\n"
    "  ping IP                         send one ICMP echo and print its status\n"
    "  test-page IP [--port P]         print the test page over TCP\n"
    "  adapters                        list the network adapters\n";

// The model over a configurator: the registered component, else the one built into posutil.
std::unique_ptr<netsetup::netsetup_model> make_model(const context& ctx) {
  platform::com_ptr<platform::dispatch> configurator;
  if (platform::failed(platform::create_instance(netcfg::kConfiguratorVersionIndependentProgId, configurator))) {
    static std::uint32_t cookie = 0;
    if (cookie == 0) netcfg::register_in_process(cookie);
    if (platform::failed(platform::create_instance(netcfg::kConfiguratorVersionIndependentProgId, configurator))) {
      ctx.err << "posutil: lan: cannot create Netcfg.Configurator: " << platform::com_last_error() << "\n";
      return nullptr;
    }
  }
  auto model = std::make_unique<netsetup::netsetup_model>(configurator, netsetup::default_services());
  if (const auto warning = model->start()) {
    ctx.err << "posutil: lan: " << *warning << "\n";
    return nullptr;
  }
  return model;
}

// A job's arguments: its operands, its valued options ("--port", "9100") and its flags ("--json"),
// each in the order given.
struct parsed {
  std::vector<std::string> positional;
  std::vector<std::pair<std::string, std::string>> options;
  std::vector<std::string> flags;
  bool help = false;
};

// Parses a job's arguments (from `first` on) with the options it knows: `valued` take a value
// ("--port 9100" or "--port=9100"), `flags` none; --help and -h ask for the help.
bool parse(const context& ctx, const std::vector<std::string>& args, std::size_t first,
           const std::vector<std::string>& valued, const std::vector<std::string>& flags, parsed& out, int& status) {
  std::vector<platform::cli::option> known;
  for (const std::string& name : valued) known.push_back({std::string_view(name).substr(2), 0, platform::cli::kValue, "VALUE", ""});
  for (const std::string& name : flags) known.push_back({std::string_view(name).substr(2), 0, platform::cli::kFlag, "", ""});
  known.push_back({"help", 'h', platform::cli::kFlag, "", ""});
  platform::cli::parsed p;
  std::string problem;
  if (!platform::cli::parse(known, std::vector<std::string>(args.begin() + static_cast<std::ptrdiff_t>(first), args.end()), p,
                            problem)) {
    status = usage_error(ctx, "lan: " + problem);
    return false;
  }
  out.positional = std::move(p.operands);
  for (const auto& [name, value] : p.options) {
    const std::string dashed = "--" + name;
    if (name == "help") {
      out.help = true;
    } else if (std::find(valued.begin(), valued.end(), dashed) != valued.end()) {
      out.options.emplace_back(dashed, value);
    } else {
      out.flags.push_back(dashed);
    }
  }
  return true;
}

const std::string* option(const parsed& p, const std::string& name) {
  for (const auto& [key, value] : p.options) {
    if (key == name) return &value;
  }
  return nullptr;
}

bool has_flag(const parsed& p, const std::string& name) {
  return std::find(p.flags.begin(), p.flags.end(), name) != p.flags.end();
}

bool parse_index(const std::string& text, int& out) {
  if (text.empty() || text.size() > 4 || text.find_first_not_of("0123456789") != std::string::npos) return false;
  out = std::stoi(text);
  return true;
}

std::string json_string(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (u < 0x20) {
      char b[8];
      std::snprintf(b, sizeof b, "\\u%04x", u);
      out += b;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

int failed_job(const context& ctx, const std::string& job, const std::string& reason) {
  ctx.err << "posutil: lan " << job << ": " << reason << "\n";
  return kExitFailure;
}

int messages_or(const context& ctx, const std::string& job, const netsetup::outcome& o, bool usage) {
  if (o.messages.empty()) return kExitOk;
  if (!o.ok) {
    if (usage) return usage_error(ctx, "lan " + job + ": " + o.messages.front());
    return failed_job(ctx, job, o.messages.front());
  }
  for (const std::string& m : o.messages) ctx.out << m << "\n";
  return kExitOk;
}

// Reports the model's status bar after a job; kExitOk when it says OLP_NO_ERROR.
int status_of(const context& ctx, const std::string& job, const netsetup::netsetup_model& model) {
  if (model.status_result() == "OLP_NO_ERROR") return kExitOk;
  return failed_job(ctx, job, model.status_result());
}

int lan_search(const context& ctx, const parsed& p) {
  if (!p.positional.empty()) return usage_error(ctx, "lan search: unexpected argument " + p.positional.front());
  int adapter = 0;
  if (const std::string* a = option(p, "--adapter"); a && !parse_index(*a, adapter)) {
    return usage_error(ctx, "lan search: --adapter needs a number");
  }
  auto model = make_model(ctx);
  if (!model) return kExitFailure;
  model->apply_adapter(adapter);
  model->search();
  if (model->status_result() != "OLP_NO_ERROR") return failed_job(ctx, "search", model->status_result());
  if (has_flag(p, "--json")) {
    ctx.out << "[";
    bool first = true;
    for (const auto& r : model->rows()) {
      ctx.out << (first ? "" : ",") << "\n  {\"index\": " << json_string(r.index) << ", \"ip\": " << json_string(r.ip)
              << ", \"mac\": " << json_string(r.mac) << ", \"name\": " << json_string(r.name)
              << ", \"status\": " << json_string(r.status) << ", \"wireless\": " << (r.wireless() ? "true" : "false")
              << ", \"port\": " << r.port << ", \"port_known\": " << (r.port_grey ? "false" : "true") << "}";
      first = false;
    }
    ctx.out << "\n]\n";
  } else {
    for (const auto& r : model->rows()) {
      ctx.out << r.index << "\t" << r.ip << "\t" << r.mac << "\t" << r.name << "\t" << r.status << "\t" << r.port
              << (r.port_grey ? " (default)" : "") << "\n";
    }
  }
  return kExitOk;
}

// Runs a job on the printer at `ip` (the first positional argument).
std::unique_ptr<netsetup::netsetup_model> printer_at(const context& ctx, const std::string& job, const std::string& ip,
                                                     int& status) {
  if (!netsetup::valid_ip_text(ip)) {
    status = usage_error(ctx, "lan " + job + ": not an IP address: " + ip);
    return nullptr;
  }
  auto model = make_model(ctx);
  if (!model) {
    status = kExitFailure;
    return nullptr;
  }
  const std::int32_t code = model->use_printer(ip);
  if (code != 0) {
    status = failed_job(ctx, job, "no answer from " + ip + " (" + netsetup::olp_text(code) + ")");
    return nullptr;
  }
  return model;
}

int lan_name(const context& ctx, const parsed& p) {
  if (p.positional.size() != 2) return usage_error(ctx, "lan name: needs IP and NAME");
  int status = 0;
  auto model = printer_at(ctx, "name", p.positional[0], status);
  if (!model) return status;
  const netsetup::outcome o = model->initialize(p.positional[1]);
  if (!o.messages.empty()) return messages_or(ctx, "name", o, true);
  return status_of(ctx, "name", *model);
}

int lan_configure(const context& ctx, const parsed& p) {
  if (p.positional.size() != 1) return usage_error(ctx, "lan configure: needs IP");
  const std::string* port = option(p, "--port");
  const std::string* mask = option(p, "--mask");
  const std::string* gateway = option(p, "--gateway");
  if (!port && !mask && !gateway) return usage_error(ctx, "lan configure: give --port, --mask or --gateway");
  int mask_index = -1;
  if (mask) {
    const auto masks = netsetup::subnet_masks();
    const auto it = std::find(masks.begin(), masks.end(), *mask);
    if (it == masks.end()) return usage_error(ctx, "lan configure: not a subnet mask: " + *mask);
    mask_index = static_cast<int>(it - masks.begin());
  }
  int status = 0;
  auto model = printer_at(ctx, "configure", p.positional[0], status);
  if (!model) return status;
  const auto settings = model->open_configure();
  if (!settings) return failed_job(ctx, "configure", "no printer");
  netsetup::tcp_edit edit{*settings, mask != nullptr, gateway != nullptr, port != nullptr};
  if (mask) edit.values.mask_index = mask_index;
  if (gateway) edit.values.gateway = *gateway;
  if (port) edit.values.port = *port;
  const netsetup::outcome o = model->apply_tcp(edit);
  if (!o.ok && !o.messages.empty()) return messages_or(ctx, "configure", o, true);
  const int result = status_of(ctx, "configure", *model);
  if (result == kExitOk) messages_or(ctx, "configure", o, false);
  return result;
}

int lan_set_ip(const context& ctx, const parsed& p) {
  if (p.positional.size() != 2) return usage_error(ctx, "lan set-ip: needs MAC and NEWIP");
  if (!netsetup::valid_ip_text(p.positional[1])) return usage_error(ctx, "lan set-ip: not an IP address: " + p.positional[1]);
  int adapter = 0;
  if (const std::string* a = option(p, "--adapter"); a && !parse_index(*a, adapter)) {
    return usage_error(ctx, "lan set-ip: --adapter needs a number");
  }
  auto model = make_model(ctx);
  if (!model) return kExitFailure;
  model->apply_adapter(adapter);
  model->search();
  if (!model->select_mac(p.positional[0])) return failed_job(ctx, "set-ip", "no printer with MAC " + p.positional[0]);
  const netsetup::outcome o = model->set_ip(p.positional[1]);
  if (!o.messages.empty()) return messages_or(ctx, "set-ip", o, false);
  return status_of(ctx, "set-ip", *model);
}

int lan_reset(const context& ctx, const parsed& p) {
  if (p.positional.size() != 1) return usage_error(ctx, "lan reset: needs IP");
  int status = 0;
  auto model = printer_at(ctx, "reset", p.positional[0], status);
  if (!model) return status;
  model->reset();
  return status_of(ctx, "reset", *model);
}

int lan_ping(const context& ctx, const parsed& p) {
  if (p.positional.size() != 1) return usage_error(ctx, "lan ping: needs IP");
  auto model = make_model(ctx);
  if (!model) return kExitFailure;
  std::string message;
  const auto reply = model->ping(p.positional[0], message);
  if (!reply) return usage_error(ctx, "lan ping: " + message);
  ctx.out << *reply << "\n";
  return *reply == "ip success" ? kExitOk : kExitFailure;
}

int lan_test_page(const context& ctx, const parsed& p) {
  if (p.positional.size() != 1) return usage_error(ctx, "lan test-page: needs IP");
  const std::string* port = option(p, "--port");
  int port_value = 0;
  if (port && (!parse_index(*port, port_value) || port->size() > 5 || port_value < 1 || port_value > 65535)) {
    return usage_error(ctx, "lan test-page: --port needs a number from 1 to 65535");
  }
  int status = 0;
  auto model = printer_at(ctx, "test-page", p.positional[0], status);
  if (!model) return status;
  if (port) model->override_port(*port);
  if (!model->print_test_page().ok) {
    return failed_job(ctx, "test-page", "cannot print on " + p.positional[0] + ":" + model->selected_row()->port);
  }
  return kExitOk;
}

int lan_adapters(const context& ctx, const parsed& p) {
  if (!p.positional.empty()) return usage_error(ctx, "lan adapters: unexpected argument " + p.positional.front());
  auto model = make_model(ctx);
  if (!model) return kExitFailure;
  std::string message;
  const auto rows = model->adapter_rows(message);
  if (!message.empty()) return failed_job(ctx, "adapters", message);
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const auto& r = rows[i];
    ctx.out << i << "\t" << r.name << "\t" << r.type << "\t" << r.ip << "\t" << r.mac << "\t" << r.subnet << "\t"
            << r.gateway << "\t" << r.dhcp << "\n";
  }
  return kExitOk;
}

}  // namespace

int run_lan(const context& ctx, const std::vector<std::string>& args) {
  if (args.empty()) return usage_error(ctx, "lan: no command given (see posutil lan --help)");
  const std::string& job = args[0];
  if (job == "--help" || job == "-h") {
    ctx.out << kLanHelp;
    return kExitOk;
  }
  struct row {
    const char* name;
    std::vector<std::string> valued;
    std::vector<std::string> flags;
    int (*run)(const context&, const parsed&);
  };
  const row jobs[] = {
      {"search", {"--adapter"}, {"--json"}, &lan_search},
      {"name", {}, {}, &lan_name},
      {"configure", {"--port", "--mask", "--gateway"}, {}, &lan_configure},
      {"set-ip", {"--adapter"}, {}, &lan_set_ip},
      {"reset", {}, {}, &lan_reset},
      {"ping", {}, {}, &lan_ping},
      {"test-page", {"--port"}, {}, &lan_test_page},
      {"adapters", {}, {}, &lan_adapters},
  };
  for (const row& r : jobs) {
    if (job != r.name) continue;
    parsed p;
    int status = 0;
    if (!parse(ctx, args, 1, r.valued, r.flags, p, status)) return status;
    if (p.help) {
      ctx.out << kLanHelp;
      return kExitOk;
    }
    return r.run(ctx, p);
  }
  return usage_error(ctx, "lan: unknown command " + job + " (see posutil lan --help)");
}

}  // namespace posutil
