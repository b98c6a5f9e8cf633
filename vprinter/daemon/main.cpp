// vprinter: the virtual printer on a TCP port, serving one connection after another.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/cli.h"
#include "vprinter/virtual_printer.h"

namespace {

constexpr const char* kUsage =
    "usage: vprinter [--listen HOST:PORT] [--capture FILE] [--render FILE.png] [--id BYTE]\n"
    "                [--model NAME] [--protocol 1|2] [--fault NAME[=VALUE]]... [--drawer-close-ms MS]\n"
    "                [--nv-memory BYTES] [--once] [--log]\n"
    "\n"
    "Runs a virtual ESC/POS receipt printer on a TCP port (default 127.0.0.1:9100; port 0 picks a\n"
    "free one). Connections are served one after another. The paper is written to the --render\n"
    "file after each connection and when the program ends (SIGINT or SIGTERM). Received bytes\n"
    "are kept only in the --capture file; answers a client does not read are dropped.\n"
    "\n"
    "  --capture FILE     record every byte received in FILE (emptied at start)\n"
    "  --render FILE.png  write the printed paper as a PNG image\n"
    "  --id BYTE          printer model identity answered to GS I 1 (default 0x20; 0x2E prints\n"
    "                     black and red)\n"
    "  --model NAME       model name answered to GS I C (and to ESC ? 0 with --protocol 2)\n"
    "  --protocol KIND    1: identified by GS I (default); 2: by ESC ? 0 (model), ESC ? 2 (version)\n"
    "  --fault NAME       start with a fault: cover_open, paper_near_end, paper_out, offline,\n"
    "                     cutter_error[=FAILED_RECOVERIES], unrecoverable_error, mute, busy,\n"
    "                     slow=US_PER_BYTE, short_write=BYTES, disconnect; setup exchange:\n"
    "                     setup_checksum[=BLOCKS] (wrong checksum on the next 1 or more setup\n"
    "                     blocks), setup_nak, setup_id_mismatch, setup_store_error (download\n"
    "                     answered 15, 06 15, 06 07), setup_store_delay=MS (second answer late)\n"
    "  --drawer-close-ms  the drawer closes by itself this many ms after a kick (default: never)\n"
    "  --idle-ms MS       close a connection that sends nothing for MS ms (default 30000), so\n"
    "                     that an idle client cannot keep the others waiting\n"
    "  --paper-limit-mm MM  keep at most MM mm of paper; older paper is dropped (default 20000)\n"
    "  --nv-memory BYTES  capacity of the memory for stored images and graphics, which keeps them\n"
    "                     from one connection to the next (default 262144)\n"
    "  --once             end after the first connection\n"
    "  --log              after each connection, list unknown and ignored commands on stderr\n"
    "  --version          show the kit's version\n"
    "Every option takes its value as --opt VALUE or --opt=VALUE.\n";

// A file descriptor closed on destruction.
class fd_handle {
 public:
  explicit fd_handle(int fd = -1) : fd_(fd) {}
  ~fd_handle() {
    if (fd_ >= 0) ::close(fd_);
  }
  fd_handle(fd_handle&& o) noexcept : fd_(std::exchange(o.fd_, -1)) {}
  fd_handle& operator=(fd_handle&& o) noexcept {
    if (this != &o) {
      if (fd_ >= 0) ::close(fd_);
      fd_ = std::exchange(o.fd_, -1);
    }
    return *this;
  }
  int get() const { return fd_; }

 private:
  int fd_;
};

int g_signal_pipe[2] = {-1, -1};

void on_signal(int) {
  const char c = 1;
  const int saved = errno;
  [[maybe_unused]] ssize_t n = ::write(g_signal_pipe[1], &c, 1);
  errno = saved;
}

// Waits up to `ms` for `fd` to become readable (or -1 for none); false when a signal asked to stop.
bool wait_readable(int fd, int ms, bool& readable) {
  pollfd p[2] = {{g_signal_pipe[0], POLLIN, 0}, {fd, POLLIN, 0}};
  const int n = ::poll(p, fd >= 0 ? 2 : 1, ms);
  readable = n > 0 && fd >= 0 && (p[1].revents & (POLLIN | POLLHUP | POLLERR));
  return !(n > 0 && (p[0].revents & POLLIN));
}

[[noreturn]] void usage_error(const std::string& text) {
  std::fprintf(stderr, "vprinter: %s (see --help)\n", text.c_str());
  std::exit(2);
}

bool parse_int(std::string_view s, long& out) {
  if (s.empty()) return false;
  std::string str(s);
  char* end = nullptr;
  errno = 0;
  out = std::strtol(str.c_str(), &end, 0);
  return errno == 0 && end && *end == '\0';
}

struct options {
  std::string host = "127.0.0.1";
  std::string port = "9100";
  std::string render;
  bool once = false;
  bool show_log = false;
  int idle_ms = 30000;
  vprinter::config cfg;
  std::vector<std::pair<vprinter::fault, int>> faults;
};

constexpr platform::cli::option kOptions[] = {
    {"listen", 0, platform::cli::kValue, "HOST:PORT", ""},
    {"capture", 0, platform::cli::kValue, "FILE", ""},
    {"render", 0, platform::cli::kValue, "FILE.png", ""},
    {"id", 0, platform::cli::kValue, "BYTE", ""},
    {"model", 0, platform::cli::kValue, "NAME", ""},
    {"protocol", 0, platform::cli::kValue, "KIND", ""},
    {"drawer-close-ms", 0, platform::cli::kValue, "MS", ""},
    {"fault", 0, platform::cli::kValue, "NAME[=VALUE]", ""},
    {"idle-ms", 0, platform::cli::kValue, "MS", ""},
    {"paper-limit-mm", 0, platform::cli::kValue, "MM", ""},
    {"nv-memory", 0, platform::cli::kValue, "BYTES", ""},
    {"once", 0, platform::cli::kFlag, "", ""},
    {"log", 0, platform::cli::kFlag, "", ""},
    {"help", 'h', platform::cli::kFlag, "", ""},
    {"version", 0, platform::cli::kFlag, "", ""},
};

options parse(int argc, char** argv) {
  options o;
  // The daemon keeps no copy of what it receives in memory: --capture writes it as it arrives.
  o.cfg.keep_capture = false;
  platform::cli::parsed given;
  std::string problem;
  if (!platform::cli::parse(kOptions, std::vector<std::string>(argv + 1, argv + argc), given, problem)) {
    usage_error(problem);
  }
  if (!given.operands.empty()) usage_error("unexpected argument '" + given.operands.front() + "'");
  if (given.has("help")) {
    std::fputs(kUsage, stdout);
    std::exit(0);
  }
  if (given.has("version")) {
    std::printf("%s\n", platform::cli::version_line("vprinter").c_str());
    std::exit(0);
  }
  for (const auto& [arg, v] : given.options) {
    if (arg == "listen") {
      const auto colon = v.rfind(':');
      if (colon == std::string::npos || colon == 0 || colon + 1 == v.size()) usage_error("--listen takes HOST:PORT");
      o.host = v.substr(0, colon);
      o.port = v.substr(colon + 1);
    } else if (arg == "capture") {
      o.cfg.capture_file = v;
    } else if (arg == "render") {
      o.render = v;
    } else if (arg == "id") {
      long n = 0;
      if (!parse_int(v, n) || n < 0 || n > 255) usage_error("--id takes a byte, e.g. 0x20");
      o.cfg.model_id = static_cast<std::uint8_t>(n);
    } else if (arg == "model") {
      o.cfg.model_name = v;
    } else if (arg == "protocol") {
      if (v != "1" && v != "2") usage_error("--protocol takes 1 or 2");
      o.cfg.protocol_kind = v == "1" ? 1 : 2;
    } else if (arg == "drawer-close-ms") {
      long n = 0;
      if (!parse_int(v, n) || n < 0 || n > 3600000) usage_error("--drawer-close-ms takes milliseconds");
      o.cfg.drawer_close_after_ms = static_cast<int>(n);
    } else if (arg == "fault") {
      const auto eq = v.find('=');
      const auto f = vprinter::fault_from_name(v.substr(0, eq));
      if (!f) usage_error("unknown fault '" + v.substr(0, eq) + "'");
      long n = 0;
      if (eq != std::string::npos && (!parse_int(v.substr(eq + 1), n) || n < 0 || n > 1000000))
        usage_error("bad fault value in '" + v + "'");
      o.faults.emplace_back(*f, static_cast<int>(n));
    } else if (arg == "idle-ms") {
      long n = 0;
      if (!parse_int(v, n) || n < 1 || n > 86400000) usage_error("--idle-ms takes milliseconds");
      o.idle_ms = static_cast<int>(n);
    } else if (arg == "paper-limit-mm") {
      long n = 0;
      if (!parse_int(v, n) || n < 1 || n > 1000000) usage_error("--paper-limit-mm takes millimetres");
      o.cfg.paper_limit_dots = static_cast<int>(n * o.cfg.dpi * 10 / 254);
    } else if (arg == "nv-memory") {
      long n = 0;
      if (!parse_int(v, n) || n < 0 || n > (1L << 30)) usage_error("--nv-memory takes bytes, up to 1 GiB");
      o.cfg.nv_memory_bytes = static_cast<int>(n);
    } else if (arg == "once") {
      o.once = true;
    } else if (arg == "log") {
      o.show_log = true;
    }
  }
  return o;
}

// Connections wait in the kernel's queue while one is served; clients of a busy shop connect in
// bursts, so the queue is long (the kernel caps it at net.core.somaxconn).
constexpr int kListenBacklog = 4096;

fd_handle listen_on(const options& o, std::string& shown) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  addrinfo* res = nullptr;
  const int rc = ::getaddrinfo(o.host.c_str(), o.port.c_str(), &hints, &res);
  if (rc != 0) {
    std::fprintf(stderr, "vprinter: cannot resolve %s:%s: %s\n", o.host.c_str(), o.port.c_str(), gai_strerror(rc));
    std::exit(1);
  }
  std::string why = "no address";
  for (addrinfo* ai = res; ai; ai = ai->ai_next) {
    fd_handle fd(::socket(ai->ai_family, ai->ai_socktype | SOCK_CLOEXEC, ai->ai_protocol));
    if (fd.get() < 0) continue;
    const int one = 1;
    ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (::bind(fd.get(), ai->ai_addr, ai->ai_addrlen) != 0 || ::listen(fd.get(), kListenBacklog) != 0) {
      why = std::strerror(errno);
      continue;
    }
    sockaddr_storage ss{};
    socklen_t len = sizeof ss;
    ::getsockname(fd.get(), reinterpret_cast<sockaddr*>(&ss), &len);
    char host[NI_MAXHOST], port[NI_MAXSERV];
    ::getnameinfo(reinterpret_cast<sockaddr*>(&ss), len, host, sizeof host, port, sizeof port,
                  NI_NUMERICHOST | NI_NUMERICSERV);
    shown = std::string(host) + ":" + port;
    ::freeaddrinfo(res);
    return fd;
  }
  ::freeaddrinfo(res);
  std::fprintf(stderr, "vprinter: cannot listen on %s:%s: %s\n", o.host.c_str(), o.port.c_str(), why.c_str());
  std::exit(1);
}

// Answers waiting for a client that does not read them at once; beyond this they are dropped,
// as a printer's transmit buffer would, so that such a client never blocks the daemon.
constexpr std::size_t kMaxUnsentBytes = 64u << 10;

// Sends what the client's socket takes now, without waiting; the rest stays in `unsent`.
// False when the connection is gone.
bool send_some(int fd, std::string& unsent) {
  while (!unsent.empty()) {
    const ssize_t n = ::send(fd, unsent.data(), unsent.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
    if (n <= 0) return false;
    unsent.erase(0, static_cast<std::size_t>(n));
  }
  return true;
}

// Serves one connection until the peer closes it, stays idle for `idle_ms`, the link fault drops
// it, or a signal arrives. Returns false when the program should stop.
bool serve(vprinter::virtual_printer& printer, int client, int idle_ms) {
  // A command the last client left unfinished must not swallow this one's bytes.
  printer.new_host();
  std::string pending;  // received but not yet taken by the printer
  std::string unsent;   // answers the client has not taken yet
  char buf[16384];
  auto last_heard = std::chrono::steady_clock::now();
  for (;;) {
    const auto answers = printer.read(kMaxUnsentBytes);
    if (answers.status == vprinter::link_status::down) return true;
    unsent += answers.bytes;
    if (!send_some(client, unsent)) return true;
    if (unsent.size() > kMaxUnsentBytes) unsent.erase(0, unsent.size() - kMaxUnsentBytes);

    // Bytes the printer refused are offered again shortly; meanwhile nothing more is read, so
    // the sender sees the back-pressure a full printer buffer gives.
    bool readable = false;
    if (!wait_readable(pending.empty() ? client : -1, pending.empty() ? 100 : 20, readable)) return false;
    const auto now = std::chrono::steady_clock::now();
    if (readable) {
      const ssize_t n = ::recv(client, buf, sizeof buf, 0);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        unsent += printer.read(kMaxUnsentBytes).bytes;
        send_some(client, unsent);
        return true;
      }
      pending.append(buf, static_cast<std::size_t>(n));
      last_heard = now;
    } else if (pending.empty() && now - last_heard > std::chrono::milliseconds(idle_ms)) {
      return true;  // idle: the next client's turn
    }
    if (pending.empty()) continue;
    const auto r = printer.accept(pending);
    if (r.status == vprinter::link_status::down) return true;
    pending.erase(0, r.accepted);
    if (r.delay.count() > 0) {
      bool ignored = false;
      const long ms = static_cast<long>(std::min<long long>(r.delay.count() / 1000 + 1, 60000));
      if (!wait_readable(-1, static_cast<int>(ms), ignored)) return false;
    }
  }
}

// Prints the printer's remarks not shown yet to stderr, one per line.
void show_log(const vprinter::virtual_printer& printer, std::size_t& shown) {
  const auto log = printer.log();
  for (; shown < log.size(); ++shown) {
    const auto& e = log[shown];
    const char* what = e.what == vprinter::log_entry::kind::unknown   ? "unknown"
                       : e.what == vprinter::log_entry::kind::ignored ? "ignored"
                                                                      : "note";
    std::fprintf(stderr, "vprinter: at byte %llu: %s: %s\n", static_cast<unsigned long long>(e.offset), what,
                 e.text.c_str());
  }
}

void render(const vprinter::virtual_printer& printer, const std::string& path) {
  if (path.empty()) return;
  std::string error;
  if (!printer.write_png(path, &error)) std::fprintf(stderr, "vprinter: %s\n", error.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  options o = parse(argc, argv);
  if (::pipe2(g_signal_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
    std::perror("vprinter: pipe");
    return 1;
  }
  struct sigaction sa{};
  sa.sa_handler = on_signal;
  sigemptyset(&sa.sa_mask);
  ::sigaction(SIGINT, &sa, nullptr);
  ::sigaction(SIGTERM, &sa, nullptr);
  ::signal(SIGPIPE, SIG_IGN);

  std::string shown;
  fd_handle listener = listen_on(o, shown);
  vprinter::virtual_printer printer(o.cfg);
  for (const auto& [f, v] : o.faults) printer.inject_fault(f, v);
  std::printf("vprinter: listening on %s\n", shown.c_str());
  std::fflush(stdout);

  std::size_t shown_entries = 0;
  bool running = true;
  while (running) {
    bool readable = false;
    if (!wait_readable(listener.get(), 1000, readable)) break;
    if (!readable) continue;
    fd_handle client(::accept4(listener.get(), nullptr, nullptr, SOCK_CLOEXEC));
    if (client.get() < 0) continue;
    running = serve(printer, client.get(), o.idle_ms);
    client = fd_handle();
    render(printer, o.render);
    if (o.show_log) show_log(printer, shown_entries);
    if (o.once) break;
  }
  render(printer, o.render);
  if (o.show_log) show_log(printer, shown_entries);
  return 0;
}
