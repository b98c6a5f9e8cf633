// lansim: the network-module simulator as a program. It puts a number of wired and wireless
// modules on the LAN (consecutive addresses from --first-ip) and answers for them until it is
// ended with SIGINT or SIGTERM.
#include <signal.h>
#include <unistd.h>

#include <iostream>
#include <string>
#include <utility>
#include <vector>

#include "netcfg/lan_simulator.h"
#include "platform/cli.h"
#include "platform/net.h"

namespace {

volatile sig_atomic_t g_stop = 0;

void on_signal(int) { g_stop = 1; }

constexpr const char* kUsage =
    "Usage: lansim [--interface IF] [--wired N] [--wireless N] [--first-ip A.B.C.D]\n"
    "              [--named N] [--printer HOST:PORT] [--no-tcp]\n"
    "Simulates printers' network modules on UDP port 30718: wired modules first, then wireless\n"
    "ones, on consecutive addresses from --first-ip (10.0.0.20). Their MAC addresses are\n"
    "00-80-A3-00-HH-LL with HH-LL the module's number; the first --named modules carry the\n"
    "printer name \"PRINTER n\". With --interface the program adds each module's address to that\n"
    "interface (and moves it there when a module gets a new address); without it the addresses\n"
    "must exist. Each module's printer port (10001) keeps what it receives, or passes it on to\n"
    "--printer. Prints \"ready\" when it answers; ends on SIGINT or SIGTERM.\n";

constexpr platform::cli::option kOptions[] = {
    {"interface", 0, platform::cli::kValue, "IF", "add the modules' addresses to interface IF"},
    {"wired", 0, platform::cli::kValue, "N", "number of wired modules (1)"},
    {"wireless", 0, platform::cli::kValue, "N", "number of wireless modules (0)"},
    {"first-ip", 0, platform::cli::kValue, "A.B.C.D", "address of the first module (10.0.0.20)"},
    {"named", 0, platform::cli::kValue, "N", "the first N modules carry a printer name (0)"},
    {"printer", 0, platform::cli::kValue, "HOST:PORT", "pass what the printer ports receive on to HOST:PORT"},
    {"no-tcp", 0, platform::cli::kFlag, "", "serve no printer ports"},
    {"help", 'h', platform::cli::kFlag, "", "show this text"},
    {"version", 0, platform::cli::kFlag, "", "show the kit's version"},
};

// A refused command line: one line saying why, exit status 2.
int usage(const std::string& reason) {
  std::cerr << "lansim: " << reason << " (see lansim --help)\n";
  return 2;
}

bool parse_count(const std::string& text, int& out) {
  try {
    std::size_t used = 0;
    out = std::stoi(text, &used);
    return used == text.size() && out >= 0 && out <= 10000;
  } catch (...) {
    return false;
  }
}

}  // namespace

int main(int argc, char** argv) {
  netcfg::sim::lan_simulator::options opts;
  int wired = 1;
  int wireless = 0;
  int named = 0;
  std::string first_ip = "10.0.0.20";
  platform::cli::parsed parsed;
  std::string problem;
  if (!platform::cli::parse(kOptions, std::vector<std::string>(argv + 1, argv + argc), parsed, problem)) {
    return usage(problem);
  }
  if (!parsed.operands.empty()) return usage("unexpected argument " + parsed.operands.front());
  if (parsed.has("help")) {
    std::cout << kUsage << "\nOptions:\n" << platform::cli::option_help(kOptions);
    return 0;
  }
  if (parsed.has("version")) {
    std::cout << platform::cli::version_line("lansim") << "\n";
    return 0;
  }
  opts.serve_tcp = !parsed.has("no-tcp");
  opts.interface_name = parsed.value("interface");
  if (parsed.has("printer")) {
    opts.printer = parsed.value("printer");
    if (opts.printer.find(':') == std::string::npos) return usage("--printer needs HOST:PORT");
  }
  first_ip = parsed.value("first-ip", first_ip);
  if (!platform::net::parse_ipv4(first_ip)) return usage("--first-ip needs an IPv4 address");
  for (const auto& [name, count] : {std::pair<const char*, int*>{"wired", &wired}, {"wireless", &wireless},
                                    {"named", &named}}) {
    if (parsed.has(name) && !parse_count(parsed.value(name), *count)) {
      return usage(std::string("--") + name + " needs a number from 0 to 10000");
    }
  }
  netcfg::sim::lan_simulator simulator(opts);
  const std::uint32_t base = *platform::net::parse_ipv4(first_ip);
  for (int i = 0; i < wired + wireless; ++i) {
    netcfg::sim::module_config m;
    m.ip = platform::net::format_ipv4(base + static_cast<std::uint32_t>(i));
    m.mac = {0x00, 0x80, 0xA3, 0x00, static_cast<std::uint8_t>((i + 1) >> 8), static_cast<std::uint8_t>(i + 1)};
    m.wireless = i >= wired;
    if (i < named) m.name = "PRINTER " + std::to_string(i + 1);
    std::string error;
    if (!simulator.add_module(m, error)) {
      std::cerr << "lansim: " << error << "\n";
      return 2;
    }
  }
  std::string error;
  if (!simulator.start(error)) {
    std::cerr << "lansim: " << error << "\n";
    return 1;
  }
  struct sigaction action{};
  action.sa_handler = on_signal;
  ::sigaction(SIGINT, &action, nullptr);
  ::sigaction(SIGTERM, &action, nullptr);
  std::cout << "ready " << simulator.module_count() << " modules" << std::endl;
  while (g_stop == 0) ::pause();
  simulator.stop();
  return 0;
}
