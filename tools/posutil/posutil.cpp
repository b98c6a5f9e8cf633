// posutil: global options and the dispatch to the subcommands.
#include "posutil.h"

#include "printer_commands.h"

#include <array>
#include <cstdlib>
#include <ostream>

namespace posutil {
namespace {

// The subcommands, in the order --help lists them. Each lives in its own source file.
constexpr std::array<subcommand, 4> kSubcommands{{
    {"printers", "printers [--json]          list the servers and printers as the printer browser does", run_printers},
    {"identify", "identify PRINTER [--json]  identify a printer: its id, model and brand", run_identify},
    {"status", "status PRINTER             check a printer's status (with error recovery)", run_status},
    {"lan", "lan COMMAND [ARGS...]      find and set up LAN printers (search, name, configure, set-ip, ...)", &run_lan},
}};

void print_help(std::ostream& out) {
  out << "Usage: posutil [--registry DIR] [--server HOST[:PORT]] COMMAND [ARGS...]\n"
         "The technicians' utilities without a window: the same models as their windows.\n"
         "\n"
         "Options:\n"
         "  --registry DIR        use the registry kept in DIR (instead of OPOS_REGISTRY_DIR)\n"
         "  --server HOST[:PORT]  work on the printers of a print server instead of this machine\n"
         "  --help                show this help\n"
         "\n"
         "Commands:\n";
  for (const subcommand& c : kSubcommands) out << "  " << c.synopsis << "\n";
  out << "\n'posutil COMMAND --help' describes a command.\n";
}

// Sets OPOS_REGISTRY_DIR for the run and puts the previous value back afterwards.
class registry_override {
 public:
  explicit registry_override(const std::optional<std::string>& dir) {
    if (!dir) return;
    active_ = true;
    if (const char* previous = std::getenv("OPOS_REGISTRY_DIR")) previous_ = previous;
    ::setenv("OPOS_REGISTRY_DIR", dir->c_str(), 1);
  }
  ~registry_override() {
    if (!active_) return;
    if (previous_) {
      ::setenv("OPOS_REGISTRY_DIR", previous_->c_str(), 1);
    } else {
      ::unsetenv("OPOS_REGISTRY_DIR");
    }
  }
  registry_override(const registry_override&) = delete;
  registry_override& operator=(const registry_override&) = delete;

 private:
  bool active_ = false;
  std::optional<std::string> previous_;
};

}  // namespace

int usage_error(const context& ctx, std::string_view reason) {
  ctx.err << "posutil: " << reason << "\n";
  return kExitUsage;
}

int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  context ctx{std::nullopt, std::nullopt, out, err};
  std::size_t i = 0;
  for (; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--help" || a == "-h") {
      print_help(out);
      return kExitOk;
    }
    if (a == "--registry" || a == "--server") {
      if (i + 1 >= args.size()) return usage_error(ctx, a + " needs a value");
      (a == "--registry" ? ctx.registry : ctx.server) = args[++i];
    } else if (a.rfind("--registry=", 0) == 0) {
      ctx.registry = a.substr(11);
    } else if (a.rfind("--server=", 0) == 0) {
      ctx.server = a.substr(9);
    } else if (a.size() > 1 && a[0] == '-') {
      return usage_error(ctx, "unknown option " + a);
    } else {
      break;
    }
  }
  if (i >= args.size()) return usage_error(ctx, "no command given (see --help)");
  const std::string& name = args[i];
  for (const subcommand& c : kSubcommands) {
    if (c.name != name) continue;
    const registry_override registry(ctx.registry);
    return c.run(ctx, std::vector<std::string>(args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end()));
  }
  return usage_error(ctx, "unknown command " + name + " (see --help)");
}

}  // namespace posutil
