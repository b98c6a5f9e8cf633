// ICMP echo: one request, one reply or an ICMP error, bounded by a time-out. An ICMP datagram
// socket needs no privilege where the system's ping group allows it; a raw socket serves root
// elsewhere.
#include <time.h>
#include <linux/errqueue.h>
#include <netinet/in.h>
#include <netinet/ip.h>
#include <netinet/ip_icmp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <vector>

#include "platform/net.h"

namespace platform::net {
namespace {

using clock_type = std::chrono::steady_clock;

// Closes a descriptor when it goes.
class fd_guard {
 public:
  explicit fd_guard(int fd) : fd_(fd) {}
  ~fd_guard() {
    if (fd_ >= 0) ::close(fd_);
  }
  fd_guard(const fd_guard&) = delete;
  fd_guard& operator=(const fd_guard&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

std::uint16_t checksum(const std::uint8_t* data, std::size_t size) {
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i + 1 < size; i += 2) sum += static_cast<std::uint32_t>(data[i] << 8 | data[i + 1]);
  if (size % 2 != 0) sum += static_cast<std::uint32_t>(data[size - 1] << 8);
  while ((sum >> 16) != 0) sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<std::uint16_t>(~sum);
}

// The ping code of an ICMP error message.
int code_of_error(int type, int code) {
  if (type == ICMP_DEST_UNREACH) {
    switch (code) {
      case ICMP_NET_UNREACH: return kIpDestNetUnreachable;
      case ICMP_PROT_UNREACH: return kIpDestProtUnreachable;
      case ICMP_PORT_UNREACH: return kIpDestPortUnreachable;
      default: return kIpDestHostUnreachable;
    }
  }
  if (type == ICMP_TIME_EXCEEDED) return kIpTtlExpiredTransit;
  if (type == ICMP_PARAMETERPROB) return kIpParamProblem;
  return kIpGeneralFailure;
}

std::vector<std::uint8_t> echo_request(std::uint16_t id, std::uint16_t sequence, std::string_view data) {
  std::vector<std::uint8_t> packet(8 + data.size());
  packet[0] = ICMP_ECHO;
  packet[4] = static_cast<std::uint8_t>(id >> 8);
  packet[5] = static_cast<std::uint8_t>(id);
  packet[6] = static_cast<std::uint8_t>(sequence >> 8);
  packet[7] = static_cast<std::uint8_t>(sequence);
  std::copy(data.begin(), data.end(), packet.begin() + 8);
  const std::uint16_t sum = checksum(packet.data(), packet.size());
  packet[2] = static_cast<std::uint8_t>(sum >> 8);
  packet[3] = static_cast<std::uint8_t>(sum);
  return packet;
}

int remaining_ms(clock_type::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock_type::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

// Reads one ICMP error from the error queue of a datagram socket; 0 when it holds none.
int queued_error(int fd) {
  char control[512];
  std::uint8_t payload[256];
  iovec io{payload, sizeof payload};
  sockaddr_in from{};
  msghdr message{};
  message.msg_name = &from;
  message.msg_namelen = sizeof from;
  message.msg_iov = &io;
  message.msg_iovlen = 1;
  message.msg_control = control;
  message.msg_controllen = sizeof control;
  if (::recvmsg(fd, &message, MSG_ERRQUEUE | MSG_DONTWAIT) < 0) return 0;
  for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
    if (c->cmsg_level != SOL_IP || c->cmsg_type != IP_RECVERR) continue;
    sock_extended_err error{};
    std::memcpy(&error, CMSG_DATA(c), sizeof error);
    if (error.ee_origin == SO_EE_ORIGIN_ICMP) return code_of_error(error.ee_type, error.ee_code);
  }
  return 0;
}

// The echo through an ICMP datagram socket; nothing when the system refuses such a socket.
std::optional<int> echo_datagram(const sockaddr_in& to, std::string_view data, clock_type::time_point deadline) {
  const fd_guard fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP));
  if (fd.get() < 0) return std::nullopt;
  const int on = 1;
  ::setsockopt(fd.get(), SOL_IP, IP_RECVERR, &on, sizeof on);
  // The kernel puts its own identifier in the request and routes replies by it.
  const std::vector<std::uint8_t> packet = echo_request(0, 1, data);
  if (::sendto(fd.get(), packet.data(), packet.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to) < 0) {
    const int from_queue = queued_error(fd.get());
    return from_queue != 0 ? from_queue : kIpGeneralFailure;
  }
  for (;;) {
    pollfd p{fd.get(), POLLIN, 0};
    const int ready = ::poll(&p, 1, remaining_ms(deadline));
    if (ready <= 0) return kIpReqTimedOut;
    if ((p.revents & POLLERR) != 0) {
      const int error = queued_error(fd.get());
      if (error != 0) return error;
    }
    std::uint8_t answer[278];
    sockaddr_in from{};
    socklen_t from_size = sizeof from;
    const ssize_t n = ::recvfrom(fd.get(), answer, sizeof answer, MSG_DONTWAIT,
                                 reinterpret_cast<sockaddr*>(&from), &from_size);
    if (n >= 8 && answer[0] == ICMP_ECHOREPLY && from.sin_addr.s_addr == to.sin_addr.s_addr) return kIpSuccess;
    if (remaining_ms(deadline) == 0) return kIpReqTimedOut;
  }
}

// The echo through a raw socket, which sees every ICMP message: the reply is the one with our
// identifier and sequence, an error the one that quotes our request.
int echo_raw(const sockaddr_in& to, std::string_view data, clock_type::time_point deadline) {
  const fd_guard fd(::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP));
  if (fd.get() < 0) return kIpGeneralFailure;
  static std::atomic<std::uint16_t> next_sequence{1};
  const auto id = static_cast<std::uint16_t>(::getpid());
  const std::uint16_t sequence = next_sequence++;
  const std::vector<std::uint8_t> packet = echo_request(id, sequence, data);
  if (::sendto(fd.get(), packet.data(), packet.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to) < 0) {
    return kIpGeneralFailure;
  }
  const auto ours = [&](const std::uint8_t* icmp) {
    return (icmp[4] << 8 | icmp[5]) == id && (icmp[6] << 8 | icmp[7]) == sequence;
  };
  for (;;) {
    pollfd p{fd.get(), POLLIN, 0};
    if (::poll(&p, 1, remaining_ms(deadline)) <= 0) return kIpReqTimedOut;
    std::uint8_t answer[1024];
    const ssize_t n = ::recv(fd.get(), answer, sizeof answer, MSG_DONTWAIT);
    if (n >= 20) {
      const std::size_t header = static_cast<std::size_t>(answer[0] & 0x0F) * 4;
      const auto size = static_cast<std::size_t>(n);
      if (header >= 20 && size >= header + 8) {
        const std::uint8_t* icmp = answer + header;
        std::uint32_t source = 0;
        std::memcpy(&source, answer + 12, 4);
        if (icmp[0] == ICMP_ECHOREPLY && source == to.sin_addr.s_addr && ours(icmp)) return kIpSuccess;
        if (icmp[0] == ICMP_DEST_UNREACH || icmp[0] == ICMP_TIME_EXCEEDED || icmp[0] == ICMP_PARAMETERPROB) {
          // The quoted datagram: its IP header, then the first 8 bytes of our request.
          const std::uint8_t* quoted = icmp + 8;
          if (size >= header + 8 + 20) {
            const std::size_t quoted_header = static_cast<std::size_t>(quoted[0] & 0x0F) * 4;
            if (quoted_header >= 20 && size >= header + 8 + quoted_header + 8 &&
                quoted[9] == IPPROTO_ICMP && ours(quoted + quoted_header)) {
              return code_of_error(icmp[0], icmp[1]);
            }
          }
        }
      }
    }
    if (remaining_ms(deadline) == 0) return kIpReqTimedOut;
  }
}

}  // namespace

int icmp_echo(std::uint32_t ip, std::string_view data, int timeout_ms) {
  const auto deadline = clock_type::now() + std::chrono::milliseconds(timeout_ms < 0 ? 0 : timeout_ms);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = htonl(ip);
  if (const auto result = echo_datagram(to, data, deadline)) return *result;
  return echo_raw(to, data, deadline);
}

}  // namespace platform::net
