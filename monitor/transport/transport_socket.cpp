// The raw TCP transport (socket://HOST:PORT): non-blocking connect within the open time-out,
// no Nagle delay, keep-alive probes, and a closed connection noticed before the next write.
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>

#include <cerrno>
#include <memory>

#include "fd_transport.h"
#include "transport_private.h"

namespace monitor::detail {
namespace {

// Keep-alive: first probe after 30 s idle, then every 5 s, link down after 3 unanswered.
constexpr int kKeepIdleS = 30;
constexpr int kKeepIntervalS = 5;
constexpr int kKeepCount = 3;

// Owns a getaddrinfo() list.
struct address_list {
  addrinfo* head = nullptr;
  ~address_list() {
    if (head != nullptr) freeaddrinfo(head);
  }
};

class socket_transport final : public fd_transport {
 public:
  using fd_transport::fd_transport;

 protected:
  std::int32_t open_device(int timeout_ms) override {
    const device_uri& where = uri();
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    address_list addresses;
    const std::string service = std::to_string(where.port);
    if (const int status = getaddrinfo(where.host.c_str(), service.c_str(), &hints,
                                       &addresses.head);
        status != 0) {
      return fail(kResultOffline, 0,
                  "cannot resolve " + quoted_host() + ": " + gai_strerror(status));
    }

    // Try each address in turn within the one time-out; remember why the last one failed.
    const deadline until(timeout_ms);
    int last_error = ECONNREFUSED;
    for (const addrinfo* a = addresses.head; a != nullptr; a = a->ai_next) {
      unique_fd socket(sys(), sys().socket(a->ai_family,
                                           a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                                           a->ai_protocol));
      if (!socket) {
        last_error = errno;
        continue;
      }
      const int error = connect_within(socket.get(), a, until);
      if (error == 0) {
        tune(socket.get());
        adopt(std::move(socket));
        return kResultOk;
      }
      if (error == ETIMEDOUT && until.expired()) {
        return fail(kResultTimeout, ETIMEDOUT,
                    "connect to " + name() + ": no answer within " + std::to_string(timeout_ms) +
                        " ms");
      }
      last_error = error;
    }
    return fail_errno(last_error, "connect to");
  }

  ssize_t write_some(int fd, const char* data, std::size_t size) override {
    return sys().send(fd, data, size, MSG_NOSIGNAL);
  }

  // Only to a printer that has nothing to say: one that sent bytes, closed its end or failed
  // is left to write(), whose check_link tells which.
  std::size_t write_at_once(std::string_view bytes) override {
    if (!is_open()) return 0;
    pollfd entry{fd(), POLLIN | POLLRDHUP, 0};
    if (sys().poll(&entry, 1, 0) != 0) return 0;
    return fd_transport::write_at_once(bytes);
  }

  // A printer that closed its end (or reset it) is reported now rather than after the kernel
  // has swallowed one more write.
  std::int32_t check_link() override {
    pollfd entry{fd(), POLLIN | POLLRDHUP, 0};
    if (sys().poll(&entry, 1, 0) <= 0) return kResultOk;
    char byte = 0;
    const ssize_t n = sys().recv(fd(), &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    if (n == 0) return link_down(0, "write to " + name() + ": the printer closed the connection");
    if (n < 0) {
      const int error = errno;
      const io_action action = classify_errno(error);
      if (action != io_action::retry && action != io_action::wait) {
        return fail_errno(error, "write to");
      }
    }
    return kResultOk;
  }

 private:
  std::string quoted_host() const { return "'" + uri().host + "'"; }

  // Connects `fd` to `a` before `until`; returns 0 or the errno (ETIMEDOUT when time ran out).
  int connect_within(int fd, const addrinfo* a, const deadline& until) {
    if (sys().connect(fd, a->ai_addr, a->ai_addrlen) == 0) return 0;
    if (errno != EINPROGRESS && errno != EINTR) return errno;
    for (;;) {
      pollfd entry{fd, POLLOUT, 0};
      const int ready = sys().poll(&entry, 1, until.remaining_ms());
      if (ready < 0 && errno == EINTR) continue;
      if (ready < 0) return errno;
      if (ready == 0) return ETIMEDOUT;
      break;
    }
    int error = 0;
    socklen_t length = sizeof error;
    if (sys().getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) return errno;
    return error;
  }

  // Small writes (status requests) go out at once; a dead peer is found by keep-alive probes.
  void tune(int fd) {
    const int on = 1;
    sys().setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    sys().setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    sys().setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &kKeepIdleS, sizeof kKeepIdleS);
    sys().setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &kKeepIntervalS, sizeof kKeepIntervalS);
    sys().setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &kKeepCount, sizeof kKeepCount);
  }
};

}  // namespace

std::unique_ptr<transport> make_socket_transport(const device_uri& uri, sys_api& sys) {
  return std::make_unique<socket_transport>(uri, sys);
}

void register_socket_transport(const scheme_adder& add) {
  add("socket", [](const device_uri& uri) { return make_socket_transport(uri, real_sys()); });
}

}  // namespace monitor::detail
