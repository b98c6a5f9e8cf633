// The adapter list: IPv4 interfaces from getifaddrs, their kind and hardware address from
// the kernel, the default gateway of each from the routing table, and whether the address is leased.
#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if_arp.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "platform/net.h"

namespace platform::net {
namespace {

// The kind and hardware address of an interface, asked of the kernel (sysfs may show another
// network namespace than the caller's).
void hardware_of(const std::string& name, adapter_info& info) {
  const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return;
  ifreq request{};
  std::snprintf(request.ifr_name, sizeof request.ifr_name, "%s", name.c_str());
  if (::ioctl(fd, SIOCGIFHWADDR, &request) == 0) {
    switch (request.ifr_hwaddr.sa_family) {
      case ARPHRD_ETHER: info.type = adapter_type::ethernet; break;
      case ARPHRD_IEEE802_TR: info.type = adapter_type::token_ring; break;
      case ARPHRD_FDDI: info.type = adapter_type::fddi; break;
      case ARPHRD_PPP: info.type = adapter_type::ppp; break;
      case ARPHRD_LOOPBACK: info.type = adapter_type::loopback; break;
      case ARPHRD_SLIP: info.type = adapter_type::slip; break;
      default: info.type = adapter_type::other; break;
    }
    const auto* b = reinterpret_cast<const unsigned char*>(request.ifr_hwaddr.sa_data);
    if (std::any_of(b, b + 6, [](unsigned char v) { return v != 0; })) {
      char text[20];
      std::snprintf(text, sizeof text, "%02X-%02X-%02X-%02X-%02X-%02X", b[0], b[1], b[2], b[3], b[4], b[5]);
      info.mac = text;
    }
  }
  ::close(fd);
}

// Default gateways by interface name, in table order (the first one of an interface wins).
std::map<std::string, std::string> default_gateways(const std::string& route_file) {
  std::map<std::string, std::string> gateways;
  std::ifstream in(route_file);
  std::string line;
  std::getline(in, line);  // header
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string iface, destination, gateway, flags, refcnt, use, metric, mask;
    if (!(fields >> iface >> destination >> gateway >> flags >> refcnt >> use >> metric >> mask)) continue;
    if (destination != "00000000" || mask != "00000000") continue;
    unsigned long raw = 0;
    try {
      raw = std::stoul(gateway, nullptr, 16);
    } catch (...) {
      continue;
    }
    if (raw == 0 || gateways.count(iface) != 0) continue;
    // The table holds the address in network order, printed as a native-endian number.
    in_addr addr{};
    addr.s_addr = static_cast<in_addr_t>(raw);
    gateways[iface] = format_ipv4(ntohl(addr.s_addr));
  }
  return gateways;
}

// Interface indexes and addresses (network order) whose IPv4 address has a limited valid
// lifetime, read through an rtnetlink address dump; empty when the dump is not possible.
std::set<std::pair<unsigned, std::uint32_t>> leased_addresses() {
  std::set<std::pair<unsigned, std::uint32_t>> leased;
  const int fd = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
  if (fd < 0) return leased;
  struct {
    nlmsghdr header;
    ifaddrmsg message;
  } request{};
  request.header.nlmsg_len = sizeof request;
  request.header.nlmsg_type = RTM_GETADDR;
  request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
  request.header.nlmsg_seq = 1;
  request.message.ifa_family = AF_INET;
  if (::send(fd, &request, sizeof request, 0) < 0) {
    ::close(fd);
    return leased;
  }
  alignas(nlmsghdr) char buffer[16384];
  for (bool done = false; !done;) {
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    auto left = static_cast<unsigned>(n);
    for (auto* h = reinterpret_cast<nlmsghdr*>(buffer); NLMSG_OK(h, left); h = NLMSG_NEXT(h, left)) {
      if (h->nlmsg_type == NLMSG_DONE || h->nlmsg_type == NLMSG_ERROR) {
        done = true;
        break;
      }
      if (h->nlmsg_type != RTM_NEWADDR) continue;
      auto* message = static_cast<ifaddrmsg*>(NLMSG_DATA(h));
      std::uint32_t local = 0;
      bool limited = false;
      int attr_left = static_cast<int>(IFA_PAYLOAD(h));
      for (auto* a = IFA_RTA(message); RTA_OK(a, attr_left); a = RTA_NEXT(a, attr_left)) {
        if (a->rta_type == IFA_LOCAL && RTA_PAYLOAD(a) >= 4) std::memcpy(&local, RTA_DATA(a), 4);
        if (a->rta_type == IFA_CACHEINFO && RTA_PAYLOAD(a) >= sizeof(ifa_cacheinfo)) {
          ifa_cacheinfo info{};
          std::memcpy(&info, RTA_DATA(a), sizeof info);
          limited = info.ifa_valid != 0xFFFFFFFFu;
        }
      }
      if (limited) leased.insert({message->ifa_index, local});
    }
  }
  ::close(fd);
  return leased;
}

}  // namespace

bool list_adapters(std::vector<adapter_info>& out, int& error, const std::string& route_file) {
  out.clear();
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) {
    error = errno;
    return false;
  }
  const auto gateways = default_gateways(route_file);
  const auto leased = leased_addresses();
  for (const ifaddrs* a = list; a != nullptr; a = a->ifa_next) {
    if (a->ifa_addr == nullptr || a->ifa_addr->sa_family != AF_INET) continue;
    if ((a->ifa_flags & IFF_LOOPBACK) != 0) continue;
    const std::string name = a->ifa_name;
    // getifaddrs gives an interface's addresses in their order; the first one is the adapter's.
    if (std::any_of(out.begin(), out.end(), [&](const adapter_info& e) { return e.name == name; })) continue;
    adapter_info info;
    info.name = name;
    info.index = ::if_nametoindex(name.c_str());
    const auto* ip = reinterpret_cast<const sockaddr_in*>(a->ifa_addr);
    info.ip = format_ipv4(ntohl(ip->sin_addr.s_addr));
    if (a->ifa_netmask != nullptr) {
      info.mask = format_ipv4(ntohl(reinterpret_cast<const sockaddr_in*>(a->ifa_netmask)->sin_addr.s_addr));
    }
    if (const auto g = gateways.find(name); g != gateways.end()) info.gateway = g->second;
    hardware_of(name, info);
    info.dhcp = leased.count({info.index, ip->sin_addr.s_addr}) != 0;
    out.push_back(std::move(info));
  }
  ::freeifaddrs(list);
  std::stable_sort(out.begin(), out.end(),
                   [](const adapter_info& a, const adapter_info& b) { return a.index < b.index; });
  error = 0;
  return true;
}

}  // namespace platform::net
