// IPv4 addresses added to and removed from an interface through rtnetlink.
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/net.h"

namespace platform::net {
namespace {

int change_address(int type, int flags, const std::string& interface_name, std::uint32_t ip,
                   int prefix_length) {
  const unsigned index = ::if_nametoindex(interface_name.c_str());
  if (index == 0) return ENODEV;
  if (prefix_length < 0 || prefix_length > 32) return EINVAL;
  struct {
    nlmsghdr header;
    ifaddrmsg message;
    char attributes[64];
  } request{};
  request.header.nlmsg_type = static_cast<std::uint16_t>(type);
  request.header.nlmsg_flags = static_cast<std::uint16_t>(NLM_F_REQUEST | NLM_F_ACK | flags);
  request.header.nlmsg_seq = 1;
  request.message.ifa_family = AF_INET;
  request.message.ifa_prefixlen = static_cast<unsigned char>(prefix_length);
  request.message.ifa_index = index;
  request.message.ifa_scope = RT_SCOPE_UNIVERSE;
  std::size_t length = NLMSG_LENGTH(sizeof(ifaddrmsg));
  const std::uint32_t network_order = htonl(ip);
  for (const unsigned short attr : {IFA_LOCAL, IFA_ADDRESS}) {
    auto* a = reinterpret_cast<rtattr*>(reinterpret_cast<char*>(&request) + NLMSG_ALIGN(length));
    a->rta_type = attr;
    a->rta_len = RTA_LENGTH(4);
    std::memcpy(RTA_DATA(a), &network_order, 4);
    length = NLMSG_ALIGN(length) + RTA_ALIGN(a->rta_len);
  }
  request.header.nlmsg_len = static_cast<std::uint32_t>(length);

  const int fd = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
  if (fd < 0) return errno;
  int result = 0;
  if (::send(fd, &request, length, 0) < 0) {
    result = errno;
  } else {
    alignas(nlmsghdr) char answer[1024];
    const ssize_t n = ::recv(fd, answer, sizeof answer, 0);
    if (n < 0) {
      result = errno;
    } else {
      const auto* h = reinterpret_cast<const nlmsghdr*>(answer);
      if (static_cast<std::size_t>(n) >= NLMSG_LENGTH(sizeof(nlmsgerr)) && h->nlmsg_type == NLMSG_ERROR) {
        result = -static_cast<const nlmsgerr*>(NLMSG_DATA(h))->error;
      }
    }
  }
  ::close(fd);
  return result;
}

}  // namespace

int add_ipv4_address(const std::string& interface_name, std::uint32_t ip, int prefix_length) {
  return change_address(RTM_NEWADDR, NLM_F_CREATE | NLM_F_EXCL, interface_name, ip, prefix_length);
}

int remove_ipv4_address(const std::string& interface_name, std::uint32_t ip, int prefix_length) {
  return change_address(RTM_DELADDR, 0, interface_name, ip, prefix_length);
}

}  // namespace platform::net
