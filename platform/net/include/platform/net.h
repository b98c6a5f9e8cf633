// Network facilities for the LAN tools: IPv4 dotted text, the system's adapter list with each
// adapter's gateway, IPv4 addresses added to and removed from an interface, and ICMP echo.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform::net {

// An IPv4 address in host byte order from strict dotted text ("a.b.c.d", each 0..255, digits
// only); nothing for anything else.
std::optional<std::uint32_t> parse_ipv4(std::string_view text);
// Dotted text of a host-order IPv4 address.
std::string format_ipv4(std::uint32_t address);

// Kinds of adapter, as the adapter list reports them.
enum class adapter_type { ethernet, token_ring, fddi, ppp, loopback, slip, other };

// One IPv4 network adapter.
struct adapter_info {
  std::string name;         // interface name ("eth0")
  adapter_type type = adapter_type::other;
  std::string ip;           // first IPv4 address, dotted
  std::string mask;         // its subnet mask, dotted
  std::string gateway;      // first default gateway through this adapter, dotted; empty when none
  std::string mac;          // "00-11-22-33-44-55", empty when the adapter has none
  bool dhcp = false;        // the address has a limited lifetime (handed out by a DHCP server)
  unsigned index = 0;       // the kernel's interface index
};

// The system's IPv4 adapters other than loopback, in the order of their interface index (the
// order in which the system created them), one entry per adapter with its first IPv4 address.
// Gateways come from the routing table (`route_file`, /proc/net/route normally). Returns false
// (with `error` set to an errno value) when the interfaces cannot be listed.
bool list_adapters(std::vector<adapter_info>& out, int& error,
                   const std::string& route_file = "/proc/net/route");

// Adds (or removes) the IPv4 address `ip`/`prefix_length` on interface `interface_name` through
// rtnetlink. Returns 0 or an errno value (EEXIST when the address is already there).
int add_ipv4_address(const std::string& interface_name, std::uint32_t ip, int prefix_length);
int remove_ipv4_address(const std::string& interface_name, std::uint32_t ip, int prefix_length);

// Outcome codes of an ICMP echo, as the setup program's ping shows them.
inline constexpr int kIpSuccess = 0;
inline constexpr int kIpDestNetUnreachable = 11002;
inline constexpr int kIpDestHostUnreachable = 11003;
inline constexpr int kIpDestProtUnreachable = 11004;
inline constexpr int kIpDestPortUnreachable = 11005;
inline constexpr int kIpReqTimedOut = 11010;
inline constexpr int kIpTtlExpiredTransit = 11013;
inline constexpr int kIpParamProblem = 11015;
inline constexpr int kIpBadDestination = 11018;
inline constexpr int kIpGeneralFailure = 11050;

// Sends one ICMP echo request carrying `data` to `ip` and waits up to `timeout_ms` for its reply.
// Uses an ICMP datagram socket where the system allows it, else a raw socket. Returns kIpSuccess,
// kIpReqTimedOut, an unreachable / time-exceeded code from an ICMP error answer, or
// kIpGeneralFailure when no socket could be opened. Blocks for at most `timeout_ms`.
int icmp_echo(std::uint32_t ip, std::string_view data, int timeout_ms);

}  // namespace platform::net
