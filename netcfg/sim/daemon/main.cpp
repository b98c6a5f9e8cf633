// lansim: the network-module simulator as a program. It puts a number of wired and wireless
// modules on the LAN (consecutive addresses from --first-ip) and answers for them until it is
// ended with SIGINT or SIGTERM.
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>

#include "netcfg/lan_simulator.h"
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

int usage(const std::string& reason) {
  std::cerr << "lansim: " << reason << "\n";
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
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const auto value = [&](std::string& out) {
      if (i + 1 >= argc) return false;
      out = argv[++i];
      return true;
    };
    std::string v;
    if (a == "--help" || a == "-h") {
      std::cout << kUsage;
      return 0;
    } else if (a == "--no-tcp") {
      opts.serve_tcp = false;
    } else if (a == "--interface") {
      if (!value(opts.interface_name)) return usage("--interface needs a value");
    } else if (a == "--printer") {
      if (!value(opts.printer) || opts.printer.find(':') == std::string::npos) return usage("--printer needs HOST:PORT");
    } else if (a == "--first-ip") {
      if (!value(first_ip) || !platform::net::parse_ipv4(first_ip)) return usage("--first-ip needs an IPv4 address");
    } else if (a == "--wired" || a == "--wireless" || a == "--named") {
      int n = 0;
      if (!value(v) || !parse_count(v, n)) return usage(a + " needs a number from 0 to 10000");
      (a == "--wired" ? wired : a == "--wireless" ? wireless : named) = n;
    } else {
      return usage("unknown argument " + a);
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
    if (!simulator.add_module(m, error)) return usage(error);
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
