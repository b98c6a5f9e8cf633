// The network-module simulator: one UDP socket on port 30718 for every module (the destination
// address of each datagram tells which module it is for), a listener per module's printer port,
// and a thread that answers, delays answers and passes printer data on.
#include "netcfg/lan_simulator.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "netcfg/netcfg.h"
#include "platform/net.h"

namespace netcfg::sim {
namespace {

using clock_type = std::chrono::steady_clock;

constexpr std::size_t kPrintedLimit = 1 << 20;  // bytes a module keeps from its printer port
constexpr std::size_t kReceivedLimit = 100000;  // datagrams kept in the log
constexpr std::size_t kNameField = 24;           // identity record offsets 102..125
constexpr std::size_t kNameOffset = 102;

int record_slot(int query_record) { return query_record - kRecordNetwork; }

// The query record that a write record changes.
int written_record(int write_record) {
  return write_record == kWriteNetwork ? kRecordNetwork : write_record - 0xC1 + 0xE1;
}

void close_fd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

}  // namespace

std::string format_mac(const std::array<std::uint8_t, 6>& mac) {
  char text[20];
  std::snprintf(text, sizeof text, "%02X-%02X-%02X-%02X-%02X-%02X", mac[0], mac[1], mac[2], mac[3], mac[4], mac[5]);
  return text;
}

std::optional<std::array<std::uint8_t, 6>> parse_mac(const std::string& text) {
  std::array<std::uint8_t, 6> mac{};
  unsigned v[6];
  char tail = 0;
  if (std::sscanf(text.c_str(), "%2x%*1[-:]%2x%*1[-:]%2x%*1[-:]%2x%*1[-:]%2x%*1[-:]%2x%c", &v[0], &v[1], &v[2],
                  &v[3], &v[4], &v[5], &tail) != 6) {
    return std::nullopt;
  }
  for (int i = 0; i < 6; ++i) mac[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v[i]);
  return mac;
}

std::vector<std::uint8_t> lan_simulator::default_record(int record, const module_config& config) {
  std::vector<std::uint8_t> data(query_data_size(record), 0);
  switch (record) {
    case kRecordNetwork:
      data[6] = 8;  // 255.255.255.0
      data[20] = static_cast<std::uint8_t>(config.tcp_port & 0xFF);
      data[21] = static_cast<std::uint8_t>(config.tcp_port >> 8);
      break;
    case kRecordIdentity:
      std::copy_n(config.name.begin(), std::min(config.name.size(), kNameField), data.begin() + kNameOffset);
      break;
    case kRecordWireless:
      if (config.wireless) {
        data[0] = 6 << 4;       // 11, 5.5, 2, 1 Mbps
        data[1] = 1 << 4;       // infrastructure, USA, channel 1
        const std::string ssid = "POSLAN";
        std::copy(ssid.begin(), ssid.end(), data.begin() + 3);
      }
      break;
    default:
      break;
  }
  return data;
}

struct lan_simulator::impl {
  struct module_slot {
    module_state state;
    bool address_added = false;  // the simulator put state.config.ip on the interface
    int listener = -1;
  };
  struct connection {
    int fd = -1;
    std::size_t module = 0;
    int forward = -1;
  };
  struct pending_answer {
    clock_type::time_point due;
    sockaddr_in to{};
    std::uint32_t from = 0;  // network order
    std::vector<std::uint8_t> bytes;
  };

  options opts;
  mutable std::mutex mutex;
  std::vector<module_slot> modules;
  std::vector<received_datagram> log;
  std::vector<connection> connections;
  std::vector<pending_answer> pending;
  int udp = -1;
  int wake = -1;
  std::thread thread;
  std::atomic<bool> running{false};

  // Puts the module's address on the interface and opens its printer port. Lock held.
  void attach(module_slot& m) {
    const auto ip = platform::net::parse_ipv4(m.state.config.ip);
    if (!ip) return;
    if (!opts.interface_name.empty() && !m.address_added) {
      const int rc = platform::net::add_ipv4_address(opts.interface_name, *ip, 32);
      m.address_added = rc == 0;
    }
    open_listener(m);
  }

  // Closes the printer port and takes the module's address off the interface. Lock held.
  void detach(module_slot& m) {
    close_fd(m.listener);
    const auto ip = platform::net::parse_ipv4(m.state.config.ip);
    if (m.address_added && ip) platform::net::remove_ipv4_address(opts.interface_name, *ip, 32);
    m.address_added = false;
  }

  void open_listener(module_slot& m) {
    close_fd(m.listener);
    const auto ip = platform::net::parse_ipv4(m.state.config.ip);
    if (!opts.serve_tcp || !ip || m.state.config.tcp_port == 0) return;
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return;
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(m.state.config.tcp_port);
    local.sin_addr.s_addr = htonl(*ip);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 || ::listen(fd, 8) != 0) {
      ::close(fd);
      return;
    }
    m.listener = fd;
  }

  void answer(const module_slot& m, const sockaddr_in& to, std::vector<std::uint8_t> bytes) {
    const auto ip = platform::net::parse_ipv4(m.state.config.ip);
    if (!ip) return;
    for (int i = 0; i < m.state.config.copies; ++i) {
      pending.push_back({clock_type::now() + std::chrono::milliseconds(m.state.config.delay_ms), to, htonl(*ip), bytes});
    }
  }

  void send_due() {
    const auto now = clock_type::now();
    for (auto it = pending.begin(); it != pending.end();) {
      if (it->due > now) {
        ++it;
        continue;
      }
      // The answer leaves from the module's own address.
      iovec io{it->bytes.data(), it->bytes.size()};
      alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
      msghdr message{};
      message.msg_name = &it->to;
      message.msg_namelen = sizeof it->to;
      message.msg_iov = &io;
      message.msg_iovlen = 1;
      message.msg_control = control;
      message.msg_controllen = sizeof control;
      cmsghdr* c = CMSG_FIRSTHDR(&message);
      c->cmsg_level = IPPROTO_IP;
      c->cmsg_type = IP_PKTINFO;
      c->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
      in_pktinfo info{};
      info.ipi_spec_dst.s_addr = it->from;
      std::memcpy(CMSG_DATA(c), &info, sizeof info);
      ::sendmsg(udp, &message, 0);
      it = pending.erase(it);
    }
  }

  int next_due_ms() const {
    if (pending.empty()) return -1;
    const auto first = std::min_element(pending.begin(), pending.end(),
                                        [](const pending_answer& a, const pending_answer& b) { return a.due < b.due; });
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(first->due - clock_type::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
  }

  void handle_datagram(const std::vector<std::uint8_t>& bytes, const sockaddr_in& from, std::uint32_t to) {
    if (log.size() < kReceivedLimit) {
      log.push_back({bytes, platform::net::format_ipv4(ntohl(from.sin_addr.s_addr)), platform::net::format_ipv4(to)});
    }
    const std::string to_text = platform::net::format_ipv4(to);
    std::vector<module_slot*> targets;
    for (module_slot& m : modules) {
      if (m.state.config.ip == to_text) targets.push_back(&m);
    }
    const bool broadcast = targets.empty();
    if (broadcast) {
      for (module_slot& m : modules) {
        if (!m.state.config.ip.empty()) targets.push_back(&m);
      }
    }
    if (bytes.size() < 4 || bytes[0] != 0) return;

    if (bytes.size() == 4 && bytes[1] == 0 && bytes[2] == 0 && bytes[3] == 0xF6) {
      for (module_slot* m : targets) {
        std::vector<std::uint8_t> reply(kSearchAnswerSize, 0);
        reply[3] = 0xF7;
        reply[kAnswerWirelessOffset] = m->state.config.wireless ? 1 : 0;
        std::copy(m->state.config.mac.begin(), m->state.config.mac.end(), reply.begin() + kAnswerMacOffset);
        answer(*m, from, std::move(reply));
      }
      return;
    }
    if (bytes.size() == kAddressAssignmentSize && bytes[3] == 0xFC &&
        std::equal(bytes.begin() + 4, bytes.begin() + 12, "IP-SETUP")) {
      std::uint32_t new_ip = 0;
      for (int i = 16; i < 20; ++i) new_ip = new_ip << 8 | bytes[static_cast<std::size_t>(i)];
      for (module_slot& m : modules) {
        if (m.state.config.mac[4] != bytes[14] || m.state.config.mac[5] != bytes[15]) continue;
        detach(m);
        // A module sent to 0.0.0.0 waits without an address (for the technician's next step).
        m.state.config.ip = new_ip == 0 ? std::string() : platform::net::format_ipv4(new_ip);
        attach(m);
      }
      return;
    }
    if (broadcast) return;  // records are asked and written one module at a time
    module_slot& m = *targets.front();
    const int record = bytes[3];
    if (bytes.size() == 4 && bytes[1] == 0 && bytes[2] == 0 && query_data_size(record) != 0) {
      std::vector<std::uint8_t> reply = {0x00, 0x00, 0x00, static_cast<std::uint8_t>(record)};
      const auto& data = m.state.records[static_cast<std::size_t>(record_slot(record))];
      reply.insert(reply.end(), data.begin(), data.end());
      answer(m, from, std::move(reply));
      return;
    }
    if (bytes[1] == 1 && bytes[2] == 0 && write_data_size(record) != 0 &&
        bytes.size() == kHeaderSize + write_data_size(record)) {
      const int target = written_record(record);
      auto& data = m.state.records[static_cast<std::size_t>(record_slot(target))];
      std::copy(bytes.begin() + kHeaderSize, bytes.end(), data.begin());
      if (target == kRecordNetwork) {
        const auto port = static_cast<std::uint16_t>(data[20] | data[21] << 8);
        if (port != m.state.config.tcp_port) {
          m.state.config.tcp_port = port;
          open_listener(m);
        }
      }
      if (target == kRecordIdentity) {
        std::string name;
        for (std::size_t i = kNameOffset; i < kNameOffset + kNameField; ++i) {
          if (data[i] != 0) name += static_cast<char>(data[i]);
        }
        m.state.config.name = name;
      }
      answer(m, from, {0x00, 0x01, 0x00, static_cast<std::uint8_t>(record)});
    }
  }

  void read_udp() {
    for (;;) {
      std::uint8_t buffer[512];
      sockaddr_in from{};
      iovec io{buffer, sizeof buffer};
      alignas(cmsghdr) char control[256];
      msghdr message{};
      message.msg_name = &from;
      message.msg_namelen = sizeof from;
      message.msg_iov = &io;
      message.msg_iovlen = 1;
      message.msg_control = control;
      message.msg_controllen = sizeof control;
      const ssize_t n = ::recvmsg(udp, &message, MSG_DONTWAIT);
      if (n < 0) return;
      if ((message.msg_flags & MSG_TRUNC) != 0) continue;  // no module takes datagrams this long
      std::uint32_t to = 0;
      for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
        if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
          in_pktinfo info{};
          std::memcpy(&info, CMSG_DATA(c), sizeof info);
          to = ntohl(info.ipi_addr.s_addr);
        }
      }
      handle_datagram(std::vector<std::uint8_t>(buffer, buffer + n), from, to);
    }
  }

  int connect_printer() const {
    const std::size_t colon = opts.printer.rfind(':');
    if (colon == std::string::npos) return -1;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(opts.printer.substr(0, colon).c_str(), opts.printer.substr(colon + 1).c_str(), &hints, &found) != 0) {
      return -1;
    }
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd >= 0 && ::connect(fd, found->ai_addr, found->ai_addrlen) != 0) close_fd(fd);
    ::freeaddrinfo(found);
    return fd;
  }

  void accept_on(std::size_t index) {
    const int fd = ::accept4(modules[index].listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) return;
    connection c{fd, index, -1};
    if (!opts.printer.empty()) {
      c.forward = connect_printer();
      if (c.forward < 0) {
        ::close(fd);
        return;
      }
    }
    connections.push_back(c);
  }

  // Reads what a printer connection sent; false when it has ended.
  bool read_connection(connection& c) {
    std::uint8_t buffer[4096];
    const ssize_t n = ::read(c.fd, buffer, sizeof buffer);
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) return false;
    if (n < 0) return true;
    if (c.forward >= 0) {
      for (ssize_t done = 0; done < n;) {
        const ssize_t w = ::write(c.forward, buffer + done, static_cast<std::size_t>(n - done));
        if (w <= 0) return false;
        done += w;
      }
    } else if (c.module < modules.size()) {
      std::string& printed = modules[c.module].state.printed;
      printed.append(reinterpret_cast<char*>(buffer), std::min(static_cast<std::size_t>(n), kPrintedLimit - std::min(kPrintedLimit, printed.size())));
    }
    return true;
  }

  void run() {
    while (running) {
      std::vector<pollfd> fds;
      std::vector<std::size_t> listener_of;
      {
        const std::lock_guard lock(mutex);
        fds.push_back({wake, POLLIN, 0});
        fds.push_back({udp, POLLIN, 0});
        for (std::size_t i = 0; i < modules.size(); ++i) {
          if (modules[i].listener < 0) continue;
          fds.push_back({modules[i].listener, POLLIN, 0});
          listener_of.push_back(i);
        }
        for (const connection& c : connections) fds.push_back({c.fd, POLLIN, 0});
      }
      int timeout = 0;
      {
        const std::lock_guard lock(mutex);
        timeout = next_due_ms();
      }
      ::poll(fds.data(), fds.size(), timeout);
      const std::lock_guard lock(mutex);
      if ((fds[0].revents & POLLIN) != 0) {
        std::uint64_t count = 0;
        [[maybe_unused]] const ssize_t ignored = ::read(wake, &count, sizeof count);
      }
      if ((fds[1].revents & POLLIN) != 0) read_udp();
      std::size_t at = 2;
      for (const std::size_t index : listener_of) {
        if ((fds[at++].revents & POLLIN) != 0) accept_on(index);
      }
      // Connections polled this round are the first ones of the list (accepts only append).
      const std::size_t polled = fds.size() - at;
      std::vector<connection> kept;
      for (std::size_t i = 0; i < connections.size(); ++i) {
        connection& c = connections[i];
        const bool ready = i < polled && (fds[at + i].revents & (POLLIN | POLLHUP | POLLERR)) != 0;
        if (ready && !read_connection(c)) {
          close_fd(c.fd);
          close_fd(c.forward);
          continue;
        }
        kept.push_back(c);
      }
      connections = std::move(kept);
      send_due();
    }
  }

  void wake_up() const {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t ignored = ::write(wake, &one, sizeof one);
  }
};

lan_simulator::lan_simulator(options opts) : impl_(std::make_unique<impl>()) {
  impl_->opts = std::move(opts);
  impl_->wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

lan_simulator::~lan_simulator() {
  stop();
  close_fd(impl_->wake);
}

std::optional<std::size_t> lan_simulator::add_module(const module_config& config, std::string& error) {
  if (!platform::net::parse_ipv4(config.ip)) {
    error = "not an IPv4 address: " + config.ip;
    return std::nullopt;
  }
  if (config.name.size() > kNameField) {
    error = "printer name longer than 24 bytes: " + config.name;
    return std::nullopt;
  }
  const std::lock_guard lock(impl_->mutex);
  impl::module_slot slot;
  slot.state.config = config;
  for (int r = kRecordNetwork; r <= kRecordWepKey; ++r) {
    slot.state.records[static_cast<std::size_t>(record_slot(r))] = default_record(r, config);
  }
  impl_->modules.push_back(std::move(slot));
  if (impl_->running) {
    impl_->attach(impl_->modules.back());
    impl_->wake_up();
  }
  return impl_->modules.size() - 1;
}

bool lan_simulator::start(std::string& error) {
  if (impl_->running) return true;
  impl_->udp = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (impl_->udp < 0 || impl_->wake < 0) {
    error = std::string("socket: ") + std::strerror(errno);
    return false;
  }
  const int on = 1;
  ::setsockopt(impl_->udp, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  ::setsockopt(impl_->udp, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
  ::setsockopt(impl_->udp, IPPROTO_IP, IP_PKTINFO, &on, sizeof on);
  // Room for the answers of a whole busy LAN at once.
  const int buffer = 1 << 20;
  ::setsockopt(impl_->udp, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_port = htons(kModulePort);
  local.sin_addr.s_addr = htonl(INADDR_ANY);
  if (::bind(impl_->udp, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
    error = std::string("bind to UDP port 30718: ") + std::strerror(errno);
    close_fd(impl_->udp);
    return false;
  }
  {
    const std::lock_guard lock(impl_->mutex);
    for (auto& m : impl_->modules) impl_->attach(m);
  }
  impl_->running = true;
  impl_->thread = std::thread([this] { impl_->run(); });
  return true;
}

void lan_simulator::stop() {
  if (!impl_->running) return;
  impl_->running = false;
  impl_->wake_up();
  impl_->thread.join();
  const std::lock_guard lock(impl_->mutex);
  for (auto& m : impl_->modules) impl_->detach(m);
  for (auto& c : impl_->connections) {
    close_fd(c.fd);
    close_fd(c.forward);
  }
  impl_->connections.clear();
  impl_->pending.clear();
  close_fd(impl_->udp);
}

std::size_t lan_simulator::module_count() const {
  const std::lock_guard lock(impl_->mutex);
  return impl_->modules.size();
}

module_state lan_simulator::module(std::size_t index) const {
  const std::lock_guard lock(impl_->mutex);
  return index < impl_->modules.size() ? impl_->modules[index].state : module_state{};
}

void lan_simulator::set_behaviour(std::size_t index, int delay_ms, int copies) {
  const std::lock_guard lock(impl_->mutex);
  if (index >= impl_->modules.size()) return;
  impl_->modules[index].state.config.delay_ms = std::max(0, delay_ms);
  impl_->modules[index].state.config.copies = std::max(0, copies);
}

std::vector<received_datagram> lan_simulator::received() const {
  const std::lock_guard lock(impl_->mutex);
  return impl_->log;
}

void lan_simulator::clear_received() {
  const std::lock_guard lock(impl_->mutex);
  impl_->log.clear();
}

}  // namespace netcfg::sim
