// posprintsrv: publishes this machine's printer I/O monitor (QuorelServer.Monitor) to the
// network over gRPC, and on the main server its server collection as well. Every call must
// carry the token configured in the registry.
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <iostream>
#include <mutex>
#include <string>
#include <vector>

#include "monitor/monitor.h"
#include "monitor/print_server.h"
#include "monitor/remote.h"
#include "platform/cli.h"
#include "platform/dispatch_table.h"
#include "server_collection.h"
#include "server_monitor.h"

namespace {

constexpr platform::cli::option kOptions[] = {
    {"registry", 0, platform::cli::kValue, "DIR",
     "use the registry kept in DIR (instead of OPOS_REGISTRY_DIR or the default)"},
    {"listen", 0, platform::cli::kValue, "ADDR:PORT",
     "listen there (default 127.0.0.1 and the port of \"Port\", else 9190); port 0 picks a free one"},
    {"main-server", 0, platform::cli::kFlag, "", "also serve QuorelMainServer.ServerCollection (the list of servers)"},
    {"help", 'h', platform::cli::kFlag, "", "show this text"},
    {"version", 0, platform::cli::kFlag, "", "show the kit's version"},
};

constexpr const char* kUsage =
    "Usage: posprintsrv [--registry DIR] [--listen ADDR:PORT] [--main-server]\n";
constexpr const char* kHelp =
    "Publishes this machine's printer monitor (QuorelServer.Monitor) to print server clients.\n"
    "\n"
    "Every call must carry the token of \"Token\" (REG_SZ) under\n"
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\Quorel\\PrintServer; calls without it are refused and logged.\n"
    "With \"CertFile\" and \"KeyFile\" (PEM paths) there it speaks TLS; with \"ClientCAFile\" as well\n"
    "every client must present a certificate that authority signed.\n"
    "Prints \"listening on ADDR:PORT\" once ready; stops on SIGTERM or SIGINT.\n";

// Writes one time-stamped log line to stderr.
void log_line(std::string_view line) {
  static std::mutex mutex;
  char stamp[32] = {};
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  ::localtime_r(&now, &local);
  std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
  std::lock_guard lock(mutex);
  std::cerr << stamp << " posprintsrv: " << line << std::endl;
}

int usage_error(const std::string& reason) {
  std::cerr << "posprintsrv: " << reason << " (see posprintsrv --help)\n";
  return 2;
}

// True when `text` is ADDR:PORT with a port of 0 to 65535.
bool valid_listen(const std::string& text) {
  const std::size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon == 0 || colon + 1 == text.size() || colon + 6 < text.size()) return false;
  long port = 0;
  for (std::size_t i = colon + 1; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    port = port * 10 + (text[i] - '0');
  }
  return port <= 65535;
}

}  // namespace

int main(int argc, char** argv) {
  platform::cli::parsed parsed;
  std::string problem;
  if (!platform::cli::parse(kOptions, std::vector<std::string>(argv + 1, argv + argc), parsed, problem)) {
    return usage_error(problem);
  }
  if (!parsed.operands.empty()) return usage_error("unexpected argument " + parsed.operands.front());
  if (parsed.has("help")) {
    std::cout << kUsage << kHelp << "\nOptions:\n" << platform::cli::option_help(kOptions);
    return 0;
  }
  if (parsed.has("version")) {
    std::cout << platform::cli::version_line("posprintsrv") << "\n";
    return 0;
  }
  const bool main_server = parsed.has("main-server");
  const std::string listen = parsed.value("listen");
  if (parsed.has("listen") && !valid_listen(listen)) {
    return usage_error("--listen wants ADDR:PORT, not \"" + listen + "\"");
  }
  if (parsed.has("registry")) {
    const std::string dir = parsed.value("registry");
    if (dir.empty()) return usage_error("--registry needs a folder");
    ::setenv("OPOS_REGISTRY_DIR", dir.c_str(), 1);
  }

  monitor::remote::print_server_options options;
  options.listen = listen.empty() ? "127.0.0.1:" + std::to_string(monitor::remote::configured_port()) : listen;
  options.token = monitor::remote::configured_token();
  options.server_name = monitor::remote::local_host_name();
  options.log = log_line;
  // TLS when a certificate is configured; client certificates when a client authority is.
  const monitor::remote::tls_files tls = monitor::remote::configured_tls_files();
  std::string why;
  if ((!tls.cert_file.empty() && !monitor::remote::read_pem_file(tls.cert_file, options.tls_cert, why)) ||
      (!tls.key_file.empty() && !monitor::remote::read_pem_file(tls.key_file, options.tls_key, why)) ||
      (!tls.client_ca_file.empty() && !monitor::remote::read_pem_file(tls.client_ca_file, options.tls_client_ca, why))) {
    std::cerr << "posprintsrv: " << why << "\n";
    return 1;
  }
  if (options.token.empty() && options.tls_client_ca.empty()) {
    std::cerr << "posprintsrv: no token: set \"Token\" (REG_SZ) under HKEY_LOCAL_MACHINE\\"
              << monitor::remote::kPrintServerKey << "\n";
    return 1;
  }

  // The published classes are served by this program itself, whatever the registry says.
  std::vector<std::uint32_t> cookies;
  auto offer = [&](const platform::guid& clsid, const char* prog_id, platform::create_function create) {
    std::uint32_t cookie = 0;
    if (platform::succeeded(platform::register_class_object(clsid, platform::make_class_factory(create).get(), cookie,
                                                           prog_id))) {
      cookies.push_back(cookie);
      options.prog_ids.emplace_back(prog_id);
    }
  };
  offer(monitor::kMonitorClsid, monitor::kMonitorProgId, &platform::create_object<monitor::server::ServerMonitor>);
  if (main_server) {
    offer(monitor::remote::kServerCollectionClsid, monitor::remote::kServerCollectionProgId,
          &platform::create_object<monitor::remote::ServerCollection>);
  }

  // SIGTERM and SIGINT are taken by this thread alone; gRPC's threads inherit the mask.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGTERM);
  sigaddset(&stop_signals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

  std::string error;
  std::unique_ptr<monitor::remote::print_server> server = monitor::remote::print_server::start(options, error);
  if (!server) {
    std::cerr << "posprintsrv: " << error << "\n";
    return 1;
  }
  const std::size_t colon = options.listen.rfind(':');
  std::cout << "listening on " << options.listen.substr(0, colon) << ":" << server->port() << std::endl;
  log_line(std::string("serving ") + (main_server ? "the monitor and the server collection" : "the monitor") +
           " on port " + std::to_string(server->port()));

  int signal_number = 0;
  sigwait(&stop_signals, &signal_number);
  log_line(std::string("stopping (") + (signal_number == SIGTERM ? "SIGTERM" : "SIGINT") + ")");
  server->shutdown();
  server.reset();
  for (const std::uint32_t cookie : cookies) platform::revoke_class_object(cookie);
  return 0;
}
