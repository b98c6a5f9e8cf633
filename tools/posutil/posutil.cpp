// posutil: global options and the dispatch to the subcommands.
#include "posutil.h"

#include "printer_commands.h"

#include <array>
#include <ostream>

#include "platform/cli.h"
#include "platform/registry.h"

namespace posutil {
namespace {

// The subcommands, in the order --help lists them. Each lives in its own source file.
constexpr std::array<subcommand, 7> kSubcommands{{
    {"printers", "printers [--json]          list the servers and printers as the printer browser does", run_printers},
    {"identify", "identify PRINTER [--json]  identify a printer: its id, model and brand", run_identify},
    {"status", "status PRINTER             check a printer's status (with error recovery)", run_status},
    {"setup", "setup get|set PRINTER ...  read a printer's setup as a tree, or change it and send it back", &run_setup},
    {"lan", "lan COMMAND [ARGS...]      find and set up LAN printers (search, name, configure, set-ip, ...)", &run_lan},
    {"logo", "logo COMMAND PRINTER ...   list, store, print and delete a printer's logos (list, download, print, delete)",
     &run_logo},
}};

void print_help(std::ostream& out) {
  out << "Usage: posutil [--registry DIR] [--server HOST[:PORT]] COMMAND [ARGS...]\n"
         "The technicians' utilities without a window: the same models as their windows.\n"
         "\n"
         "Options:\n"
         "  --registry DIR        use the registry kept in DIR (instead of OPOS_REGISTRY_DIR)\n"
         "  --server HOST[:PORT]  work on the printers of a print server instead of this machine\n"
         "  --help                show this help\n"
         "  --version             show the kit's version\n"
         "\n"
         "Commands:\n";
  for (const subcommand& c : kSubcommands) out << "  " << c.synopsis << "\n";
  out << "\n'posutil COMMAND --help' describes a command.\n";
}

// The global options; the first operand (the command) ends them.
constexpr platform::cli::option kOptions[] = {
    {"registry", 0, platform::cli::kValue, "DIR", ""},
    {"server", 0, platform::cli::kValue, "HOST[:PORT]", ""},
    {"help", 'h', platform::cli::kFlag, "", ""},
    {"version", 0, platform::cli::kFlag, "", ""},
};

}  // namespace

int usage_error(const context& ctx, std::string_view reason) {
  ctx.err << "posutil: " << reason << "\n";
  return kExitUsage;
}

int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  context ctx{std::nullopt, std::nullopt, out, err};
  platform::cli::parsed options;
  std::string problem;
  if (!platform::cli::parse(kOptions, args, options, problem, platform::cli::operand_order::options_first)) {
    return usage_error(ctx, problem);
  }
  if (options.has("help")) {
    print_help(out);
    return kExitOk;
  }
  if (options.has("version")) {
    out << platform::cli::version_line("posutil") << "\n";
    return kExitOk;
  }
  if (options.has("registry")) ctx.registry = options.value("registry");
  if (options.has("server")) ctx.server = options.value("server");
  const std::vector<std::string>& words = options.operands;
  if (words.empty()) return usage_error(ctx, "no command given (see --help)");
  const std::string& name = words.front();
  for (const subcommand& c : kSubcommands) {
    if (c.name != name) continue;
    const platform::registry_directory_override registry(ctx.registry);
    return c.run(ctx, std::vector<std::string>(words.begin() + 1, words.end()));
  }
  return usage_error(ctx, "unknown command " + name + " (see --help)");
}

}  // namespace posutil
