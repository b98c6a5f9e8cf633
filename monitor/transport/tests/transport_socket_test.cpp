// The raw TCP transport against a loopback server run by the test: writes, exact and timed
// reads, back-pressure, a server that goes away, reconnecting, and a refused connection.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "monitor/transport.h"

namespace monitor {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

// An owned descriptor for the test's own sockets.
struct fd_owner {
  int fd = -1;
  explicit fd_owner(int f = -1) : fd(f) {}
  ~fd_owner() { reset(); }
  fd_owner(const fd_owner&) = delete;
  fd_owner& operator=(const fd_owner&) = delete;
  fd_owner(fd_owner&& other) noexcept : fd(std::exchange(other.fd, -1)) {}
  fd_owner& operator=(fd_owner&& other) noexcept {
    reset();
    fd = std::exchange(other.fd, -1);
    return *this;
  }
  void reset() {
    if (fd >= 0) ::close(fd);
    fd = -1;
  }
};

// A listening socket on 127.0.0.1 with a port the system picks.
class loopback_server {
 public:
  explicit loopback_server(int receive_buffer = 0) {
    listener_.fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (receive_buffer > 0) {
      ::setsockopt(listener_.fd, SOL_SOCKET, SO_RCVBUF, &receive_buffer, sizeof receive_buffer);
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(listener_.fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(listener_.fd, 4);
    socklen_t length = sizeof address;
    ::getsockname(listener_.fd, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
  }

  std::string uri() const { return "socket://127.0.0.1:" + std::to_string(port_); }

  // Accepts the next client, waiting up to 5 s; -1 when none came.
  fd_owner accept_client() {
    pollfd entry{listener_.fd, POLLIN, 0};
    if (::poll(&entry, 1, 5000) != 1) return fd_owner{};
    return fd_owner{::accept4(listener_.fd, nullptr, nullptr, SOCK_CLOEXEC)};
  }

 private:
  fd_owner listener_;
  int port_ = 0;
};

// Reads exactly `count` bytes from `fd`, waiting up to 5 s in all.
std::string receive(int fd, std::size_t count) {
  std::string out;
  const auto end = steady_clock::now() + milliseconds(5000);
  while (out.size() < count && steady_clock::now() < end) {
    pollfd entry{fd, POLLIN, 0};
    if (::poll(&entry, 1, 100) != 1) continue;
    char buffer[4096];
    const ssize_t n = ::recv(fd, buffer, std::min(sizeof buffer, count - out.size()), 0);
    if (n <= 0) break;
    out.append(buffer, static_cast<std::size_t>(n));
  }
  return out;
}

void send_all(int fd, std::string_view bytes) {
  ASSERT_EQ(::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL),
            static_cast<ssize_t>(bytes.size()));
}

class TransportSocketTest : public ::testing::Test {
 protected:
  explicit TransportSocketTest(int receive_buffer = 0) : server_(receive_buffer) {}
  void SetUp() override {
    std::string error;
    printer_ = make_transport(server_.uri(), &error);
    ASSERT_NE(printer_, nullptr) << error;
    ASSERT_EQ(printer_->open(2000), kResultOk) << printer_->last_error().description;
    client_ = server_.accept_client();
    ASSERT_GE(client_.fd, 0);
  }

  loopback_server server_;
  std::unique_ptr<transport> printer_;
  fd_owner client_;  // the server's end of the connection
};

TEST_F(TransportSocketTest, BytesTravelBothWays) {
  const std::string data("\x1b@hello\x00\xff", 9);
  const write_result written = printer_->write(data, 1000);
  EXPECT_EQ(written.result, kResultOk);
  EXPECT_EQ(written.count, data.size());
  EXPECT_EQ(receive(client_.fd, data.size()), data);

  send_all(client_.fd, std::string("\x16\x00\x12\x34", 4));
  const read_result got = read_exact(*printer_, 4, 2000);
  EXPECT_EQ(got.result, kResultOk);
  EXPECT_EQ(got.bytes, std::string("\x16\x00\x12\x34", 4));
}

TEST_F(TransportSocketTest, ExactReadWaitsForLatePiecesAndStopsAtTheTimeOut) {
  std::thread late([fd = client_.fd] {
    send_all(fd, "ab");
    std::this_thread::sleep_for(milliseconds(100));
    send_all(fd, "cd");
  });
  const read_result whole = read_exact(*printer_, 4, 3000);
  late.join();
  EXPECT_EQ(whole.result, kResultOk);
  EXPECT_EQ(whole.bytes, "abcd");

  send_all(client_.fd, "xy");
  const auto start = steady_clock::now();
  const read_result part = read_exact(*printer_, 4, 300);
  const auto waited = steady_clock::now() - start;
  EXPECT_EQ(part.result, kResultTimeout);
  EXPECT_EQ(part.bytes, "xy");
  EXPECT_GE(waited, milliseconds(250));
  EXPECT_LT(waited, milliseconds(3000));
  EXPECT_TRUE(printer_->is_open());
}

TEST_F(TransportSocketTest, ReadWithoutAnswerTimesOutWithinBounds) {
  const auto start = steady_clock::now();
  const read_result got = printer_->read(16, 200);
  const auto waited = steady_clock::now() - start;
  EXPECT_EQ(got.result, kResultTimeout);
  EXPECT_EQ(got.bytes, "");
  EXPECT_GE(waited, milliseconds(180));
  EXPECT_LT(waited, milliseconds(3000));
  EXPECT_EQ(printer_->last_error().number, kResultTimeout);
  EXPECT_TRUE(printer_->is_open());
}

TEST_F(TransportSocketTest, AnswerOfUnknownLengthIsJoinedAcrossPieces) {
  std::thread late([fd = client_.fd] {
    send_all(fd, "_VX");
    std::this_thread::sleep_for(milliseconds(20));
    send_all(fd, "40");
  });
  const read_result got = read_answer(*printer_, 64, 2000, 500);
  late.join();
  EXPECT_EQ(got.result, kResultOk);
  EXPECT_EQ(got.bytes, "_VX40");
}

// A printer whose receive buffer is small, so that a write soon meets a full connection.
class TransportSocketBackPressureTest : public TransportSocketTest {
 protected:
  TransportSocketBackPressureTest() : TransportSocketTest(4096) {}
};

TEST_F(TransportSocketBackPressureTest, APrinterThatStopsReadingGivesATimeOutWithTheCount) {
  const std::string lots(64 << 20, 'x');
  const auto start = steady_clock::now();
  const write_result written = printer_->write(lots, 300);
  const auto waited = steady_clock::now() - start;
  EXPECT_EQ(written.result, kResultTimeout);
  EXPECT_GT(written.count, 0u);
  EXPECT_LT(written.count, lots.size());
  EXPECT_GE(waited, milliseconds(250));
  EXPECT_LT(waited, milliseconds(5000));
  EXPECT_NE(printer_->last_error().description.find(std::to_string(written.count) + " of"),
            std::string::npos)
      << printer_->last_error().description;
  EXPECT_TRUE(printer_->is_open());
}

TEST_F(TransportSocketBackPressureTest, WriteAtOnceTakesWhatFitsNowAndNeverWaits) {
  // A printer that reads nothing: the first call takes what the socket buffers hold, the next
  // takes nothing, and neither waits for room.
  const std::string lots(64 << 20, 'x');
  const std::size_t first = printer_->write_at_once(lots);
  EXPECT_GT(first, 0u);
  EXPECT_LT(first, lots.size());
  EXPECT_EQ(printer_->write_at_once(lots), 0u);
  EXPECT_TRUE(printer_->last_error().description.empty()) << printer_->last_error().description;
  EXPECT_EQ(receive(client_.fd, first), lots.substr(0, first));
}

TEST_F(TransportSocketTest, WriteAtOnceLeavesAnAnswerOrAClosedConnectionToTheNextCall) {
  // An answer waiting: nothing is written, and the answer is still there to read.
  send_all(client_.fd, "\x12");
  std::this_thread::sleep_for(milliseconds(50));
  EXPECT_EQ(printer_->write_at_once("data"), 0u);
  const read_result answer = printer_->read(1, 1000);
  EXPECT_EQ(answer.result, kResultOk);
  EXPECT_EQ(answer.bytes, "\x12");
  EXPECT_EQ(printer_->write_at_once("data"), 4u);
  EXPECT_EQ(receive(client_.fd, 4), "data");

  // The printer closed its end: nothing is written or recorded, and the next write says why.
  client_.reset();
  std::this_thread::sleep_for(milliseconds(50));  // let the FIN arrive
  EXPECT_EQ(printer_->write_at_once("after close"), 0u);
  EXPECT_TRUE(printer_->is_open());
  EXPECT_EQ(printer_->write("after close", 1000).result, kResultOffline);
  EXPECT_NE(printer_->last_error().description.find("closed the connection"), std::string::npos)
      << printer_->last_error().description;
}

TEST_F(TransportSocketTest, ServerClosingIsReportedByTheNextReadAndWrite) {
  struct drop_case {
    const char* what;
    bool by_write;
  };
  for (const drop_case c : {drop_case{"read", false}, drop_case{"write", true}}) {
    SCOPED_TRACE(c.what);
    if (!printer_->is_open()) {
      ASSERT_EQ(printer_->open(2000), kResultOk);
      client_ = server_.accept_client();
      ASSERT_GE(client_.fd, 0);
    }
    client_.reset();
    std::this_thread::sleep_for(milliseconds(50));  // let the FIN arrive
    const std::int32_t result =
        c.by_write ? printer_->write("after close", 1000).result : printer_->read(4, 1000).result;
    EXPECT_EQ(result, kResultOffline);
    EXPECT_FALSE(printer_->is_open());
    EXPECT_NE(printer_->last_error().description.find("closed the connection"), std::string::npos)
        << printer_->last_error().description;
    EXPECT_EQ(printer_->last_error().source, server_.uri());
  }

  // Reconnecting after the loss gives a working connection again.
  ASSERT_EQ(printer_->open(2000), kResultOk);
  fd_owner again = server_.accept_client();
  ASSERT_GE(again.fd, 0);
  EXPECT_EQ(printer_->write("again", 1000).result, kResultOk);
  EXPECT_EQ(receive(again.fd, 5), "again");
}

TEST_F(TransportSocketTest, CloseThenOpenReconnects) {
  printer_->close();
  EXPECT_FALSE(printer_->is_open());
  ASSERT_EQ(printer_->open(2000), kResultOk);
  fd_owner second = server_.accept_client();
  ASSERT_GE(second.fd, 0);
  EXPECT_EQ(printer_->write("2nd", 1000).result, kResultOk);
  EXPECT_EQ(receive(second.fd, 3), "2nd");
}

TEST(TransportSocketConnectTest, ClosedPortGivesAClearOfflineError) {
  // A port that was just free: bound, never listened on, closed.
  int port = 0;
  {
    fd_owner probe(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(probe.fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    socklen_t length = sizeof address;
    ::getsockname(probe.fd, reinterpret_cast<sockaddr*>(&address), &length);
    port = ntohs(address.sin_port);
  }
  std::unique_ptr<transport> printer =
      make_transport("socket://127.0.0.1:" + std::to_string(port));
  ASSERT_NE(printer, nullptr);
  const auto start = steady_clock::now();
  EXPECT_EQ(printer->open(2000), kResultOffline);
  EXPECT_LT(steady_clock::now() - start, milliseconds(2000));
  EXPECT_FALSE(printer->is_open());
  const error_record& error = printer->last_error();
  EXPECT_EQ(error.number, kResultOffline);
  EXPECT_EQ(error.os_error, ECONNREFUSED);
  EXPECT_NE(error.description.find("Connection refused (ECONNREFUSED)"), std::string::npos)
      << error.description;
  EXPECT_NE(error.description.find(std::to_string(port)), std::string::npos);
}

}  // namespace
}  // namespace monitor
