// The Configurator object: UDP exchanges with the network modules on port 30718.
#include "netcfg/configurator.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "platform/net.h"

namespace netcfg {
namespace {

using platform::com_status;
using platform::kSFalse;
using platform::kSOk;
using clock_type = std::chrono::steady_clock;

constexpr std::uint8_t kSearchQuery[] = {0x00, 0x00, 0x00, 0xF6};

// Attempts a wait makes before it gives up (each one attempt_ms long).
constexpr int kWiredAttempts = 3;
constexpr int kWirelessAttempts = 27;
// However often a wrong-sized datagram restarts a wait, the wait ends after this many of its
// bounds, so that a sender of stray datagrams cannot hold the caller forever.
constexpr int kWaitCapFactor = 4;

com_status fail(std::int32_t& ret, std::int32_t code) {
  ret = code;
  return com_status{kSFalse};
}

// The descriptions of socket error codes; the component keeps the last one for diagnostics.
struct socket_error_row {
  int code;
  const char* text;
};
constexpr socket_error_row kSocketErrors[] = {
    {EINTR, "Interrupted function call."},
    {EACCES, "Permission denied."},
    {EFAULT, "Bad address."},
    {EINVAL, "Invalid argument."},
    {EMFILE, "Too many open files."},
    {EWOULDBLOCK, "Resource temporarily unavailable."},
    {EINPROGRESS, "Operation now in progress."},
    {EALREADY, "Operation already in progress."},
    {ENOTSOCK, "Socket operation on non-socket."},
    {EDESTADDRREQ, "Destination address required."},
    {EMSGSIZE, "Message too long."},
    {EPROTOTYPE, "Protocol wrong type for socket."},
    {ENOPROTOOPT, "Bad protocol option."},
    {EPROTONOSUPPORT, "Protocol not supported."},
    {EOPNOTSUPP, "Operation not supported."},
    {EAFNOSUPPORT, "Address family not supported by protocol family."},
    {EADDRINUSE, "Address already in use."},
    {EADDRNOTAVAIL, "Cannot assign requested address."},
    {ENETDOWN, "Network is down."},
    {ENETUNREACH, "Network is unreachable."},
    {ENETRESET, "Network dropped connection on reset."},
    {ECONNABORTED, "Software caused connection abort."},
    {ECONNRESET, "Connection reset by peer."},
    {ENOBUFS, "No buffer space available."},
    {EISCONN, "Socket is already connected."},
    {ENOTCONN, "Socket is not connected."},
    {ETIMEDOUT, "Connection timed out."},
    {ECONNREFUSED, "Connection refused."},
    {EHOSTDOWN, "Host is down."},
    {EHOSTUNREACH, "No route to host."},
};

constexpr platform::dispatch_member<Configurator> kMembers[] = {
    platform::dispatch_method<&Configurator::Init>("Init", kDispInit),
    platform::dispatch_method<&Configurator::FindLanPrinter>("FindLanPrinter", kDispFindLanPrinter),
    platform::dispatch_method<&Configurator::GetLanPrinterInfo>("GetLanPrinterInfo", kDispGetLanPrinterInfo),
    platform::dispatch_method<&Configurator::QuerySetupRecord>("QuerySetupRecord", kDispQuerySetupRecord),
    platform::dispatch_method<&Configurator::WriteSetupRecord>("WriteSetupRecord", kDispWriteSetupRecord),
    platform::dispatch_method<&Configurator::SetIpAddress>("SetIpAddress", kDispSetIpAddress),
};

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::string_view olp_name(std::int32_t code) {
  switch (code) {
    case OLP_NO_ERROR: return "OLP_NO_ERROR";
    case OLP_INVALID_PARAMETER: return "OLP_INVALID_PARAMETER";
    case OLP_CONNECTION_NOT_INITIALIZED: return "OLP_CONNECTION_NOT_INITIALIZED";
    case OLP_PRINTERS_NOT_FOUND: return "OLP_PRINTERS_NOT_FOUND";
    case OLP_WRITE_RECORD_ERROR: return "OLP_WRITE_RECORD_ERROR";
    case OLP_QUERY_RECORD_ERROR: return "OLP_QUERY_RECORD_ERROR";
    case OLP_WSA_ERROR: return "OLP_WSA_ERROR";
    case OLP_SOCKET_ERROR: return "OLP_SOCKET_ERROR";
    case OLP_BOARD_INFO_ERROR: return "OLP_BOARD_INFO_ERROR";
    default: return {};
  }
}

std::string broadcast_address_of(const std::string& gateway, const std::string& mask) {
  if (gateway.empty()) return "255.255.255.255";
  const auto g = platform::net::parse_ipv4(gateway);
  const auto m = platform::net::parse_ipv4(mask);
  if (!g || !m) return {};
  return platform::net::format_ipv4(*g | ~*m);
}

Configurator::Configurator() = default;

Configurator::~Configurator() { close_socket(); }

std::span<const platform::dispatch_member<Configurator>> Configurator::dispatch_members() {
  return kMembers;
}

bool Configurator::open_socket() {
  socket_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (socket_ < 0) {
    note_socket_error(errno);
    return false;
  }
  return true;
}

void Configurator::close_socket() {
  if (socket_ >= 0) ::close(socket_);
  socket_ = -1;
}

void Configurator::note_socket_error(int code) {
  const auto row = std::find_if(std::begin(kSocketErrors), std::end(kSocketErrors),
                                [code](const socket_error_row& r) { return r.code == code; });
  socket_error_ = row != std::end(kSocketErrors) ? row->text : "unknown problems!";
}

com_status Configurator::Init(std::int32_t& ret) {
  ret = OLP_NO_ERROR;
  if (initialised_) return com_status{kSOk};
  if (!open_socket()) return fail(ret, OLP_SOCKET_ERROR);
  initialised_ = true;
  return com_status{kSOk};
}

bool Configurator::send_to(std::uint32_t address, std::span<const std::uint8_t> bytes, bool broadcast) {
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(kModulePort);
  to.sin_addr.s_addr = htonl(address);
  // Broadcasting is allowed for this one send only.
  int on = broadcast ? 1 : 0;
  if (broadcast) ::setsockopt(socket_, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
  const ssize_t sent = ::sendto(socket_, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
  const int error = errno;
  if (broadcast) {
    on = 0;
    ::setsockopt(socket_, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
  }
  if (sent != static_cast<ssize_t>(bytes.size())) {
    note_socket_error(sent < 0 ? error : EMSGSIZE);
    return false;
  }
  return true;
}

bool Configurator::receive(int timeout_ms, datagram& out, std::size_t& real_size) {
  pollfd p{socket_, POLLIN, 0};
  if (::poll(&p, 1, timeout_ms) <= 0 || (p.revents & POLLIN) == 0) return false;
  std::uint8_t buffer[256];
  sockaddr_in from{};
  socklen_t from_size = sizeof from;
  // MSG_TRUNC reports the datagram's real length, so an oversized one is never taken for a
  // datagram of the expected size.
  const ssize_t n = ::recvfrom(socket_, buffer, sizeof buffer, MSG_TRUNC | MSG_DONTWAIT,
                               reinterpret_cast<sockaddr*>(&from), &from_size);
  if (n < 0) {
    note_socket_error(errno);
    return false;
  }
  real_size = static_cast<std::size_t>(n);
  out.bytes.assign(buffer, buffer + std::min(real_size, sizeof buffer));
  out.sender = ntohl(from.sin_addr.s_addr);
  return true;
}

bool Configurator::wait_datagram(std::size_t size, std::uint32_t sender, bool wireless, datagram& out) {
  const auto bound = std::chrono::milliseconds(attempt_ms_ * (wireless ? kWirelessAttempts : kWiredAttempts));
  const auto start = clock_type::now();
  const auto cap = start + bound * kWaitCapFactor;
  auto deadline = start + bound;
  for (;;) {
    const auto now = clock_type::now();
    if (now >= deadline) return false;
    const int left = static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count());
    std::size_t real_size = 0;
    if (!receive(left, out, real_size)) continue;
    if (sender != 0 && out.sender != sender) continue;  // not from the module asked
    if (real_size == size) return true;
    // A datagram of another size starts the wait again, within the cap.
    deadline = std::min(clock_type::now() + bound, cap);
  }
}

com_status Configurator::FindLanPrinter(std::int32_t& num, std::int32_t& ret) {
  ret = OLP_NO_ERROR;
  if (!initialised_) return fail(ret, OLP_CONNECTION_NOT_INITIALIZED);

  std::vector<platform::net::adapter_info> adapters;
  int list_error = 0;
  if (!platform::net::list_adapters(adapters, list_error) || num < 0 ||
      static_cast<std::size_t>(num) >= adapters.size()) {
    return fail(ret, OLP_BOARD_INFO_ERROR);
  }
  const platform::net::adapter_info& adapter = adapters[static_cast<std::size_t>(num)];
  const std::string broadcast = broadcast_address_of(adapter.gateway, adapter.mask);
  if (broadcast.empty()) return fail(ret, OLP_BOARD_INFO_ERROR);
  broadcast_ = broadcast;

  if (adapter.ip != bound_ip_) {
    bound_ip_ = adapter.ip;
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(kModulePort);
    local.sin_addr.s_addr = htonl(*platform::net::parse_ipv4(adapter.ip));
    const auto bind_socket = [&] {
      const int on = 1;
      if (::setsockopt(socket_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0) return false;
      return ::bind(socket_, reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0;
    };
    if (!bind_socket()) {
      // A socket bound before cannot move: a new one takes its place.
      note_socket_error(errno);
      close_socket();
      if (!open_socket() || !bind_socket()) {
        note_socket_error(errno);
        bound_ip_.clear();
        return fail(ret, OLP_SOCKET_ERROR);
      }
    }
  }

  table_ = {};
  count_ = 0;
  num = 0;
  // Drop whatever arrived since the last exchange, so that old answers do not count.
  for (datagram stale; ;) {
    std::size_t ignored = 0;
    if (!receive(0, stale, ignored)) break;
  }
  if (!send_to(*platform::net::parse_ipv4(broadcast_), kSearchQuery, true)) {
    return fail(ret, OLP_SOCKET_ERROR);
  }

  // Answers are taken until one quiet period passes; a second answer from one address is ignored.
  datagram answer;
  std::vector<std::uint32_t> addresses;
  while (wait_datagram(kSearchAnswerSize, 0, false, answer)) {
    const std::string ip = platform::net::format_ipv4(answer.sender);
    const bool known = std::any_of(table_.begin(), table_.begin() + static_cast<std::ptrdiff_t>(count_),
                                   [&](const LanPrinterEntry& e) { return ip == e.ip; });
    if (known || count_ >= kTableSize) continue;
    LanPrinterEntry& entry = table_[count_++];
    std::snprintf(entry.ip, sizeof entry.ip, "%s", ip.c_str());
    const std::uint8_t* m = answer.bytes.data() + kAnswerMacOffset;
    std::snprintf(entry.mac, sizeof entry.mac, "%02hX-%02hX-%02hX-%02hX-%02hX-%02hX",
                  static_cast<unsigned short>(m[0]), static_cast<unsigned short>(m[1]),
                  static_cast<unsigned short>(m[2]), static_cast<unsigned short>(m[3]),
                  static_cast<unsigned short>(m[4]), static_cast<unsigned short>(m[5]));
    entry.wireless = answer.bytes[kAnswerWirelessOffset] != 0 ? 1 : 0;
    addresses.push_back(answer.sender);
  }
  num = static_cast<std::int32_t>(count_);
  if (count_ == 0) return fail(ret, OLP_PRINTERS_NOT_FOUND);

  // The identity queries go out together; answers are matched to the modules by sender.
  const std::uint8_t identity_query[] = {0x00, 0x00, 0x00, static_cast<std::uint8_t>(kRecordIdentity)};
  std::vector<bool> pending(count_, true);
  std::size_t left = 0;
  for (std::size_t i = 0; i < count_; ++i) {
    if (send_to(addresses[i], identity_query, false)) {
      ++left;
    } else {
      pending[i] = false;
    }
    table_[i].status = table_[i].wireless != 0 ? kStatusWirelessNew : kStatusWiredNew;
  }
  constexpr std::size_t kIdentityAnswer = kHeaderSize + kRecordSize;
  // A wireless module may answer as late as its own bound allows, so the wait is the long one
  // while any wireless module has not answered yet.
  const auto wireless_pending = [&] {
    for (std::size_t i = 0; i < count_; ++i) {
      if (pending[i] && table_[i].wireless != 0) return true;
    }
    return false;
  };
  while (left > 0 && wait_datagram(kIdentityAnswer, 0, wireless_pending(), answer)) {
    const auto found = std::find(addresses.begin(), addresses.end(), answer.sender);
    if (found == addresses.end()) continue;
    const auto i = static_cast<std::size_t>(found - addresses.begin());
    if (!pending[i]) continue;
    pending[i] = false;
    --left;
    const bool named = answer.bytes[106] != 0 || answer.bytes[107] != 0 || answer.bytes[108] != 0;
    if (named) table_[i].status = table_[i].wireless != 0 ? kStatusWirelessNamed : kStatusWiredNamed;
  }
  return com_status{kSOk};
}

com_status Configurator::GetLanPrinterInfo(std::int32_t index, std::string& ip, std::string& mac,
                                           std::int32_t& status, std::int32_t& ret) {
  ret = OLP_NO_ERROR;
  if (!initialised_) return fail(ret, OLP_CONNECTION_NOT_INITIALIZED);
  if (count_ == 0) return fail(ret, OLP_PRINTERS_NOT_FOUND);
  if (index < 1 || static_cast<std::size_t>(index) > count_) return fail(ret, OLP_INVALID_PARAMETER);
  const LanPrinterEntry& entry = table_[static_cast<std::size_t>(index) - 1];
  ip = entry.ip;
  mac = entry.mac;
  status = entry.status;
  return com_status{kSOk};
}

com_status Configurator::QuerySetupRecord(const std::string& ip, std::int32_t record,
                                          const platform::Variant& data, std::int32_t& ret) {
  ret = OLP_NO_ERROR;
  if (!initialised_) return fail(ret, OLP_CONNECTION_NOT_INITIALIZED);
  const std::size_t size = query_data_size(record);
  std::vector<std::uint8_t>* array = data.cell<std::vector<std::uint8_t>>();
  const auto address = platform::net::parse_ipv4(ip);
  if (size == 0 || array == nullptr || array->size() < size || !address) {
    return fail(ret, OLP_INVALID_PARAMETER);
  }
  const std::uint8_t query[] = {0x00, 0x00, 0x00, static_cast<std::uint8_t>(record)};
  if (!send_to(*address, query, false)) return fail(ret, OLP_QUERY_RECORD_ERROR);
  datagram answer;
  if (!wait_datagram(kHeaderSize + size, *address, governing_wireless(), answer)) {
    return fail(ret, OLP_QUERY_RECORD_ERROR);
  }
  std::copy_n(answer.bytes.begin() + kHeaderSize, size, array->begin());
  return com_status{kSOk};
}

com_status Configurator::WriteSetupRecord(const std::string& ip, std::int32_t record,
                                          const platform::Variant& data, std::int32_t& ret) {
  ret = OLP_NO_ERROR;
  if (!initialised_) return fail(ret, OLP_CONNECTION_NOT_INITIALIZED);
  const std::size_t size = write_data_size(record);
  std::vector<std::uint8_t> array;
  const auto address = platform::net::parse_ipv4(ip);
  if (size == 0 || platform::failed(data.as_bytes(array)) || array.size() < size || !address) {
    return fail(ret, OLP_INVALID_PARAMETER);
  }
  std::vector<std::uint8_t> message = {0x00, 0x01, 0x00, static_cast<std::uint8_t>(record)};
  message.insert(message.end(), array.begin(), array.begin() + static_cast<std::ptrdiff_t>(size));
  datagram ack;
  if (!send_to(*address, message, false) || !wait_datagram(kAckSize, *address, governing_wireless(), ack)) {
    ret = OLP_WRITE_RECORD_ERROR;
  }
  return com_status{kSOk};
}

com_status Configurator::SetIpAddress(const std::string& ip, const std::string& mac, std::int32_t& ret) {
  ret = OLP_NO_ERROR;
  if (!initialised_) return fail(ret, OLP_CONNECTION_NOT_INITIALIZED);
  const auto address = platform::net::parse_ipv4(ip);
  std::string digits;
  for (const char c : mac) {
    if (c != '-') digits += c;
  }
  // The fifth and sixth MAC bytes are characters 9-10 and 11-12 of the hexadecimal digits.
  if (!address || digits.size() < 12) return fail(ret, OLP_INVALID_PARAMETER);
  const int d[] = {hex_digit(digits[8]), hex_digit(digits[9]), hex_digit(digits[10]), hex_digit(digits[11])};
  if (std::any_of(std::begin(d), std::end(d), [](int v) { return v < 0; })) {
    return fail(ret, OLP_INVALID_PARAMETER);
  }
  std::uint8_t message[kAddressAssignmentSize] = {0x00, 0x00, 0x00, 0xFC, 'I', 'P', '-', 'S', 'E', 'T', 'U', 'P', 0x00, 0x00};
  message[14] = static_cast<std::uint8_t>(d[0] << 4 | d[1]);
  message[15] = static_cast<std::uint8_t>(d[2] << 4 | d[3]);
  message[16] = static_cast<std::uint8_t>(*address >> 24);
  message[17] = static_cast<std::uint8_t>(*address >> 16);
  message[18] = static_cast<std::uint8_t>(*address >> 8);
  message[19] = static_cast<std::uint8_t>(*address);
  // Before any search there is no directed broadcast address: the limited broadcast serves.
  const std::uint32_t destination =
      broadcast_.empty() ? 0xFFFFFFFFu : platform::net::parse_ipv4(broadcast_).value_or(0xFFFFFFFFu);
  if (!send_to(destination, message, true)) return fail(ret, OLP_SOCKET_ERROR);
  return com_status{kSOk};
}

}  // namespace netcfg
