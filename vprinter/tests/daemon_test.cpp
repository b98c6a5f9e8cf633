// The vprinter program over loopback TCP: status answers, printing, capture and render files,
// faults from the command line, clean end on SIGTERM, and its command-line errors.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/testing/temp_dir.h"
#include "test_util.h"

extern char** environ;

namespace vprinter {
namespace {

using namespace std::chrono_literals;

// The daemon as a child process whose stdout and stderr the test reads; killed if still running.
class daemon_process {
 public:
  explicit daemon_process(const std::vector<std::string>& args) {
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, out[1], 1);
    posix_spawn_file_actions_adddup2(&fa, out[1], 2);
    std::vector<std::string> all = {VPRINTER_DAEMON_PATH};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, VPRINTER_DAEMON_PATH, &fa, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&fa);
    ::close(out[1]);
    out_ = out[0];
  }
  ~daemon_process() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) ::close(out_);
  }
  daemon_process(const daemon_process&) = delete;
  daemon_process& operator=(const daemon_process&) = delete;

  // Reads output until it holds a full line or `limit` passes; returns what was read.
  std::string read_line(std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (output_.find('\n') == std::string::npos && std::chrono::steady_clock::now() < end) {
      pollfd p{out_, POLLIN, 0};
      if (::poll(&p, 1, 50) <= 0) continue;
      char buf[256];
      const ssize_t n = ::read(out_, buf, sizeof buf);
      if (n <= 0) break;
      output_.append(buf, static_cast<std::size_t>(n));
    }
    return output_;
  }
  // Waits up to `limit` for the process to end; its exit code, or -1 when it did not end.
  int wait(std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
      int status = 0;
      const pid_t r = ::waitpid(pid_, &status, WNOHANG);
      if (r == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      std::this_thread::sleep_for(10ms);
    }
    return -1;
  }
  void signal(int sig) { ::kill(pid_, sig); }
  bool started() const { return pid_ > 0; }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  std::string output_;
};

// The port from the "listening on HOST:PORT" line, or 0.
int port_of(const std::string& line) {
  const auto colon = line.rfind(':');
  return colon == std::string::npos ? 0 : std::atoi(line.c_str() + colon + 1);
}

// A loopback TCP connection with bounded reads.
class client {
 public:
  explicit client(int port) : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  }
  ~client() { ::close(fd_); }
  bool connected() const { return connected_; }
  bool send(std::string_view b) { return ::send(fd_, b.data(), b.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(b.size()); }
  // Reads until `n` bytes arrived, the peer closed, or `limit` passed.
  std::string receive(std::size_t n, std::chrono::milliseconds limit) {
    std::string got;
    const auto end = std::chrono::steady_clock::now() + limit;
    while (got.size() < n && std::chrono::steady_clock::now() < end) {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, 20) <= 0) continue;
      char buf[512];
      const ssize_t r = ::recv(fd_, buf, sizeof buf, 0);
      if (r <= 0) break;
      got.append(buf, static_cast<std::size_t>(r));
    }
    return got;
  }
  // True when the peer closes or resets the connection within `limit`, reading past whatever it
  // sent before.
  bool closed_after_reading(std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, 20) <= 0) continue;
      char buf[4096];
      if (::recv(fd_, buf, sizeof buf, 0) <= 0) return true;
    }
    return false;
  }
  // True when the peer closes or resets the connection within `limit`.
  bool closed_by_peer(std::chrono::milliseconds limit) {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(limit.count())) <= 0) return false;
    char c;
    return ::recv(fd_, &c, 1, 0) <= 0;  // an orderly close, or a reset when our byte was unread
  }

 private:
  int fd_;
  bool connected_ = false;
};

std::string read_file(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

TEST(VprinterDaemon, ServesPrintsCapturesAndRendersUntilSigterm) {
  platform::testing::temp_dir dir;
  daemon_process d({"--listen", "127.0.0.1:0", "--capture", (dir / "cap.bin").string(), "--render",
                    (dir / "paper.png").string(), "--id", "0x21"});
  ASSERT_TRUE(d.started());
  const std::string line = d.read_line(5s);
  ASSERT_NE(line.find("listening on 127.0.0.1:"), std::string::npos) << line;
  const int port = port_of(line.substr(0, line.find('\n')));
  ASSERT_GT(port, 0);

  const std::string job = test::bytes("1B 40") + "Hello from TCP\n" + test::bytes("10 04 01 1D 49 01 1D 56 42 00");
  {
    client c(port);
    ASSERT_TRUE(c.connected());
    ASSERT_TRUE(c.send(job));
    EXPECT_TRUE(test::same_bytes(c.receive(2, 5s), test::bytes("16 21")));
  }
  // A second connection is served after the first.
  {
    client c(port);
    ASSERT_TRUE(c.connected());
    ASSERT_TRUE(c.send(test::bytes("10 04 02")));
    EXPECT_TRUE(test::same_bytes(c.receive(1, 5s), test::bytes("12")));
  }
  d.signal(SIGTERM);
  EXPECT_EQ(d.wait(5s), 0);
  EXPECT_TRUE(test::same_bytes(read_file(dir / "cap.bin"), job + test::bytes("10 04 02")));
  const std::string png = read_file(dir / "paper.png");
  ASSERT_GT(png.size(), 8u);
  EXPECT_EQ(png.substr(0, 8), "\x89PNG\r\n\x1a\n");
}

TEST(VprinterDaemon, StoredGraphicsOutliveTheConnectionWithinTheirMemory) {
  daemon_process d({"--listen", "127.0.0.1:0", "--id", "0x2E", "--nv-memory", "4"});
  ASSERT_TRUE(d.started());
  const std::string line = d.read_line(5s);
  const int port = port_of(line.substr(0, line.find('\n')));
  ASSERT_GT(port, 0);
  // Two pictures of 8 x 2 dots in two planes (4 bytes each): the second does not fit.
  const std::string define = test::bytes("1D 38 4C 10 00 00 00 30 43 30 4B 31 02 08 00 02 00 31 FF 00 32 00 FF");
  std::string second = define;
  second[11] = '2';
  {
    client c(port);
    ASSERT_TRUE(c.connected());
    ASSERT_TRUE(c.send(define + second + test::bytes("1D 49 01")));
    EXPECT_TRUE(test::same_bytes(c.receive(1, 5s), test::bytes("2E")));
  }
  {
    client c(port);
    ASSERT_TRUE(c.connected());
    ASSERT_TRUE(c.send(test::bytes("1D 28 4C 04 00 30 40 4B 43")));
    EXPECT_TRUE(test::same_bytes(c.receive(6, 5s), test::bytes("37 72 40 4B 31 00")));
  }
  d.signal(SIGTERM);
  EXPECT_EQ(d.wait(5s), 0);
}

TEST(VprinterDaemon, FaultsFromTheCommandLine) {
  struct fault_case {
    const char* fault;
    std::string request;
    std::string answer;
  };
  const fault_case cases[] = {
      {"cover_open", test::bytes("10 04 02"), test::bytes("16")},
      {"paper_out", test::bytes("10 04 04"), test::bytes("7E")},
      {"mute", test::bytes("1D 49 01"), ""},
      {"unrecoverable_error", test::bytes("10 04 03"), test::bytes("32")},
      {"cutter_error=1", test::bytes("10 05 01 10 04 01"), test::bytes("1E")},
      {"setup_nak", test::bytes("1B 7D 61") + "VX40-R1$0000" + '\0', test::bytes("15")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fault);
    daemon_process d({"--listen", "127.0.0.1:0", "--fault", c.fault, "--once"});
    const int port = port_of(d.read_line(5s));
    ASSERT_GT(port, 0);
    client cl(port);
    ASSERT_TRUE(cl.connected());
    ASSERT_TRUE(cl.send(c.request));
    EXPECT_TRUE(test::same_bytes(cl.receive(c.answer.empty() ? 1 : c.answer.size(), c.answer.empty() ? 300ms : 5s), c.answer));
  }
  // The disconnect fault drops the connection at its first byte.
  daemon_process d({"--listen", "127.0.0.1:0", "--fault", "disconnect"});
  const int port = port_of(d.read_line(5s));
  ASSERT_GT(port, 0);
  client cl(port);
  ASSERT_TRUE(cl.connected());
  cl.send("x");
  EXPECT_TRUE(cl.closed_by_peer(5s));
  d.signal(SIGINT);
  EXPECT_EQ(d.wait(5s), 0);
}

TEST(VprinterDaemon, DownloadedSetupOutlivesTheConnection) {
  daemon_process d({"--listen", "127.0.0.1:0"});
  const int port = port_of(d.read_line(5s));
  ASSERT_GT(port, 0);
  // The memory setup: free bytes, start-up logo, graphics memory, receive buffer.
  const std::string body = "VX40-R1$0|K2|1|0|";
  unsigned sum = 0;
  for (char c : body) sum += static_cast<unsigned char>(c);
  char check[8];
  std::snprintf(check, sizeof check, "%04X", sum & 0xFFFF);
  {
    client c(port);
    ASSERT_TRUE(c.connected());
    ASSERT_TRUE(c.send(test::bytes("1B 7D 6D") + body + check + '\0'));
    EXPECT_TRUE(test::same_bytes(c.receive(2, 5s), test::bytes("06 06")));
  }
  {
    client c(port);
    ASSERT_TRUE(c.connected());
    ASSERT_TRUE(c.send(test::bytes("1B 7D 20 6D")));
    std::string block;
    const auto end = std::chrono::steady_clock::now() + 5s;
    while (block.find('\0') == std::string::npos && std::chrono::steady_clock::now() < end) block += c.receive(1, 100ms);
    EXPECT_NE(block.find("Start-up logo\xB1K2\xAAGraphics memory:[64 KB;128 KB;256 KB;1|]Receive buffer:[45 bytes;4 KB;0|]"),
              std::string::npos)
        << block;
    c.send(test::bytes("06"));
  }
  d.signal(SIGTERM);
  EXPECT_EQ(d.wait(5s), 0);
}

TEST(VprinterDaemon, NoClientCanHoldUpTheNext) {
  // Each row: what the first client does; the second must then be served within the bound.
  struct Row {
    const char* what;
    std::string first_sends;
  };
  std::string status_flood;
  for (int i = 0; i < 100000; ++i) status_flood += test::bytes("10 04 01");
  const Row rows[] = {
      // A raster image whose header promises 4 GiB: the next client's bytes are its own.
      {"unfinished command", test::bytes("1D 76 30 00 FF FF FF FF") + "partial data"},
      {"idle client", ""},
      // 100000 status requests whose answers it never reads: the daemon must not block on it.
      {"client that never reads", status_flood},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    daemon_process d({"--listen", "127.0.0.1:0", "--idle-ms", "300"});
    const int port = port_of(d.read_line(5s));
    ASSERT_GT(port, 0);
    auto first = std::make_unique<client>(port);
    ASSERT_TRUE(first->connected());
    if (!row.first_sends.empty()) {
      ASSERT_TRUE(first->send(row.first_sends));
    }
    if (row.what == std::string("unfinished command")) first.reset();  // it goes away mid-command

    client second(port);
    ASSERT_TRUE(second.connected());
    // An identity request: an ordinary command, so it is only answered if it is parsed as one.
    ASSERT_TRUE(second.send(test::bytes("1D 49 01")));
    EXPECT_TRUE(test::same_bytes(second.receive(1, 10s), test::bytes("20")));
    if (first) {
      EXPECT_TRUE(first->closed_after_reading(5s)) << "the daemon ends a connection that stays silent";
    }
  }
}

TEST(VprinterDaemon, SecondProtocolKindIsIdentifiedByEscQuestion) {
  daemon_process d({"--listen", "127.0.0.1:0", "--protocol", "2", "--model", "QW-310", "--once"});
  const int port = port_of(d.read_line(5s));
  ASSERT_GT(port, 0);
  client cl(port);
  ASSERT_TRUE(cl.connected());
  ASSERT_TRUE(cl.send(test::bytes("1B 3F 30")));
  EXPECT_TRUE(test::same_bytes(cl.receive(10, 5s), test::bytes("3F 07 30") + "QW-310" + std::string(1, '\0')));
}

TEST(VprinterDaemon, BurstOfClientsThatSendAndCloseLosesNothing) {
  // 200 clients connect at once, each sends a receipt line and a status request, and closes
  // without reading the answer. Every byte must reach the printer, each connection's in one piece.
  platform::testing::temp_dir dir;
  daemon_process d({"--listen", "127.0.0.1:0", "--capture", (dir / "cap.bin").string(), "--render",
                    (dir / "paper.png").string()});
  const int port = port_of(d.read_line(5s));
  ASSERT_GT(port, 0);
  constexpr int kClients = 200;
  std::vector<std::string> jobs;
  std::size_t total = 0;
  {
    std::vector<std::unique_ptr<client>> clients;
    for (int i = 0; i < kClients; ++i) {
      jobs.push_back("Receipt " + std::to_string(1000 + i) + "\n" + test::bytes("10 04 01"));
      total += jobs.back().size();
      clients.push_back(std::make_unique<client>(port));
      ASSERT_TRUE(clients.back()->connected()) << "client " << i;
      ASSERT_TRUE(clients.back()->send(jobs.back())) << "client " << i;
    }
  }  // all closed here, none having read anything
  std::string captured;
  const auto end = std::chrono::steady_clock::now() + 30s;
  while (captured.size() < total && std::chrono::steady_clock::now() < end) {
    std::this_thread::sleep_for(20ms);
    captured = read_file(dir / "cap.bin");
  }
  ASSERT_EQ(captured.size(), total);
  for (const auto& job : jobs) EXPECT_NE(captured.find(job), std::string::npos) << job;
  d.signal(SIGTERM);
  EXPECT_EQ(d.wait(10s), 0);
}

TEST(VprinterDaemon, CommandLineErrorsAreOneLine) {
  struct arg_case {
    std::vector<std::string> args;
    int code;
    const char* text;
  };
  const arg_case cases[] = {
      {{"--help"}, 0, "usage: vprinter"},
      {{"--fault", "jammed"}, 2, "vprinter: unknown fault 'jammed' (see --help)\n"},
      {{"--id", "300"}, 2, "vprinter: --id takes a byte, e.g. 0x20 (see --help)\n"},
      {{"--listen", "nohostport"}, 2, "vprinter: --listen takes HOST:PORT (see --help)\n"},
      {{"--bogus"}, 2, "vprinter: unknown option --bogus (see --help)\n"},
      {{"--idle-ms=0"}, 2, "vprinter: --idle-ms takes milliseconds (see --help)\n"},
      {{"--capture"}, 2, "vprinter: --capture needs a value (see --help)\n"},
      {{"--once=1"}, 2, "vprinter: --once takes no value (see --help)\n"},
      {{"stray"}, 2, "vprinter: unexpected argument 'stray' (see --help)\n"},
      {{"--version"}, 0, "vprinter (poskit) "},
      {{"--idle-ms", "0"}, 2, "vprinter: --idle-ms takes milliseconds (see --help)\n"},
      {{"--paper-limit-mm", "x"}, 2, "vprinter: --paper-limit-mm takes millimetres (see --help)\n"},
      {{"--protocol", "3"}, 2, "vprinter: --protocol takes 1 or 2 (see --help)\n"},
      {{"--nv-memory", "-1"}, 2, "vprinter: --nv-memory takes bytes, up to 1 GiB (see --help)\n"},
  };
  for (const auto& c : cases) {
    daemon_process d(c.args);
    const int code = d.wait(5s);
    const std::string out = d.read_line(1s);
    EXPECT_EQ(code, c.code) << c.args[0];
    if (c.code == 0) EXPECT_EQ(out.rfind(c.text, 0), 0u) << out;
    else EXPECT_EQ(out, c.text);
  }
}

}  // namespace
}  // namespace vprinter
