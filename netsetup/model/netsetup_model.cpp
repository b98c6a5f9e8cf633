// The LAN printer setup program's behaviour, written against the configurator's dispatch
// interface so that the window and posutil drive the same code.
#include "netsetup/netsetup_model.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <thread>

#include "netcfg/netcfg.h"

namespace netsetup {
namespace {

using platform::Variant;

constexpr std::size_t kBufferSize = 127;  // record buffers: indexes 0 to 126
constexpr std::size_t kNameOffset = 102;
constexpr std::size_t kNameEnd = 125;     // last byte of the name field
constexpr std::size_t kSsidOffset = 3;
constexpr std::size_t kSsidEnd = 35;
constexpr std::size_t kKeyOffset = 7;
constexpr std::size_t kKeyEnd = 70;
constexpr std::size_t kRegionCountry = 10;

struct ping_text_row {
  int status;
  std::string_view text;
};
constexpr ping_text_row kPingTexts[] = {
    {0, "ip success"},
    {200, "ping timeout"},
    {11001, "ip buf too_small"},
    {11002, "ip dest net unreachable"},
    {11003, "ip dest host unreachable"},
    {11004, "ip dest prot unreachable"},
    {11005, "ip dest port unreachable"},
    {11006, "ip no resources"},
    {11007, "ip bad option"},
    {11008, "ip hw_error"},
    {11009, "ip packet too_big"},
    {11010, "ip req timed out"},
    {11011, "ip bad req"},
    {11012, "ip bad route"},
    {11013, "ip ttl expired transit"},
    {11014, "ip ttl expired reassem"},
    {11015, "ip param_problem"},
    {11016, "ip source quench"},
    {11017, "ip option too_big"},
    {11018, "ip bad destination"},
    {11019, "ip addr deleted"},
    {11020, "ip specific mtu change"},
    {11021, "ip mtu_change"},
    {11022, "ip unload"},
    {11023, "ip addr added"},
    {11050, "ip general failure"},
    {11255, "ip pending"},
};

constexpr std::string_view kAdapterTypes[] = {"Ethernet adapter", "Token Ring adapter", "FDDI adapter", "PPP adapter",
                                              "Loopback adapter", "Slip adapter",       "Other adapter"};

bool all_digits(std::string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Characters of buffer[first..last], zero bytes skipped.
std::string text_of(const std::vector<std::uint8_t>& buffer, std::size_t first, std::size_t last) {
  std::string text;
  for (std::size_t i = first; i <= last && i < buffer.size(); ++i) {
    if (buffer[i] != 0) text += static_cast<char>(buffer[i]);
  }
  return text;
}

// Stores `text` at buffer[first..] and zeros up to `last`.
void store_text(std::vector<std::uint8_t>& buffer, std::size_t first, std::size_t last, std::string_view text) {
  for (std::size_t i = first; i <= last; ++i) {
    const std::size_t k = i - first;
    buffer[i] = k < text.size() ? static_cast<std::uint8_t>(text[k]) : 0;
  }
}

int default_ping(const std::string& ip) {
  const auto address = platform::net::parse_ipv4(ip);
  if (!address) return platform::net::kIpBadDestination;
  return platform::net::icmp_echo(*address, "Echo This", 200);
}

bool default_send_tcp(const std::string& ip, std::uint16_t port, const std::string& bytes, int timeout_ms) {
  const auto address = platform::net::parse_ipv4(ip);
  if (!address) return false;
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return false;
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  to.sin_addr.s_addr = htonl(*address);
  bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0 || errno == EINPROGRESS;
  if (ok) {
    // The connection has up to `timeout_ms` to come up.
    pollfd p{fd, POLLOUT, 0};
    int error = 0;
    socklen_t size = sizeof error;
    ok = ::poll(&p, 1, timeout_ms) == 1 && ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0;
  }
  if (ok) {
    const int flags = ::fcntl(fd, F_GETFL);
    ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    std::size_t done = 0;
    while (ok && done < bytes.size()) {
      const ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
      ok = n > 0;
      if (ok) done += static_cast<std::size_t>(n);
    }
  }
  ::close(fd);
  return ok;
}

}  // namespace

std::vector<std::string> subnet_masks() {
  std::vector<std::string> masks;
  for (int host_bits = 1; host_bits <= 31; ++host_bits) {
    masks.push_back(platform::net::format_ipv4(~((1u << host_bits) - 1u)));
  }
  masks.push_back("0.0.0.0");
  return masks;
}

int mask_code(int index) { return index >= 0 && index < 24 ? index + 1 : 0; }

std::vector<std::string> channels(int country) {
  int first = 1;
  int last = 11;
  if (country == kCountryFrance) {
    first = 10;
    last = 13;
  } else if (country == 2) {
    last = 14;
  } else if (country == 3) {
    last = 13;
  }
  std::vector<std::string> list;
  for (int c = first; c <= last; ++c) list.push_back("Channel " + std::to_string(c));
  return list;
}

int channel_of(int country, int index) { return index + (country == kCountryFrance ? 10 : 1); }
int channel_index(int country, int channel) { return channel - (country == kCountryFrance ? 10 : 1); }

bool valid_ip_text(std::string_view text) {
  if (text.empty() || text.size() >= 16) return false;
  int parts = 0;
  std::size_t pos = 0;
  for (;;) {
    const std::size_t end = text.find('.', pos);
    const std::string_view part = text.substr(pos, end == std::string_view::npos ? std::string_view::npos : end - pos);
    // Digits only: a signed number is no octet.
    if (part.size() < 1 || part.size() > 3 || !all_digits(part) || std::stoi(std::string(part)) > 255) return false;
    ++parts;
    if (end == std::string_view::npos) break;
    pos = end + 1;
  }
  return parts == 4;
}

bool port_passes(std::string_view text) {
  if (text.size() > 5 || !all_digits(text)) return false;
  const int port = std::stoi(std::string(text));
  const bool reserved = (port >= 1 && port <= 1024) || port == 9999 || (port >= 14000 && port <= 14009) ||
                        port == 30704 || port == 30718;
  return !reserved;
}

std::string ping_status_text(int status) {
  for (const ping_text_row& r : kPingTexts) {
    if (r.status == status) return std::string(r.text);
  }
  return "unknown  msg returned   [ " + std::to_string(status) + " ]";
}

std::string olp_text(std::int32_t code) {
  const std::string_view name = netcfg::olp_name(code);
  return name.empty() ? std::to_string(code) : std::string(name);
}

std::string test_page_bytes(const std::string& ip, const std::string& mac, const std::string& port,
                            const std::string& name) {
  std::string page = "\x1b@";
  page += "LAN PRINTER TEST\r\n";
  page += "TCP address : " + ip + "\n";
  page += "MAC address : " + mac + "\n";
  page += "TCP port : " + port + "\n";
  page += "Printer Name : " + name + "\n";
  page += "\x1b" "d\x0a";
  page += "\x1dV0";
  page += "\x1b" "d\x0a";
  return page;
}

services default_services() {
  services s;
  s.ping = &default_ping;
  s.send_tcp = &default_send_tcp;
  s.wait = [](int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); };
  s.adapters = [](std::vector<platform::net::adapter_info>& out, int& error) {
    return platform::net::list_adapters(out, error);
  };
  return s;
}

netsetup_model::netsetup_model(platform::com_ptr<platform::dispatch> configurator, services svc)
    : configurator_(std::move(configurator)), svc_(std::move(svc)) {}

std::optional<std::string> netsetup_model::start() {
  std::int32_t ret = -1;
  const auto r = platform::call(configurator_.get(), "Init", Variant::ref(ret));
  if (!r.ok()) ret = netcfg::OLP_WSA_ERROR;
  last_code_ = ret;
  if (ret != netcfg::OLP_NO_ERROR) return std::string(kMsgInitError) + std::to_string(ret) + " !";
  return std::nullopt;
}

std::int32_t netsetup_model::query(const std::string& ip, int record, std::vector<std::uint8_t>& data) {
  data.assign(kBufferSize, 0);
  std::int32_t ret = -1;
  const auto r = platform::call(configurator_.get(), "QuerySetupRecord", ip, record, Variant::ref(data), Variant::ref(ret));
  if (!r.ok() && ret == netcfg::OLP_NO_ERROR) ret = netcfg::OLP_QUERY_RECORD_ERROR;
  if (data.size() < kBufferSize) data.resize(kBufferSize, 0);
  return ret;
}

std::int32_t netsetup_model::write(const std::string& ip, int record, const std::vector<std::uint8_t>& data) {
  std::int32_t ret = -1;
  const auto r = platform::call(configurator_.get(), "WriteSetupRecord", ip, record, data, Variant::ref(ret));
  if (!r.ok() && ret == netcfg::OLP_NO_ERROR) ret = netcfg::OLP_WRITE_RECORD_ERROR;
  return ret;
}

std::int32_t netsetup_model::set_ip_address(const std::string& ip, const std::string& mac) {
  std::int32_t ret = -1;
  const auto r = platform::call(configurator_.get(), "SetIpAddress", ip, mac, Variant::ref(ret));
  if (!r.ok() && ret == netcfg::OLP_NO_ERROR) ret = netcfg::OLP_SOCKET_ERROR;
  return ret;
}

void netsetup_model::finish(std::string_view operation, std::int32_t code) {
  last_code_ = code;
  status_operation_ = operation;
  status_result_ = olp_text(code);
}

void netsetup_model::select(int row) {
  if (row >= 1 && static_cast<std::size_t>(row) <= rows_.size()) selected_ = row;
}

const printer_row* netsetup_model::selected_row() const {
  return selected_ >= 1 && static_cast<std::size_t>(selected_) <= rows_.size() ? &rows_[static_cast<std::size_t>(selected_) - 1]
                                                                               : nullptr;
}

printer_row* netsetup_model::row() { return const_cast<printer_row*>(selected_row()); }

command_states netsetup_model::commands() const {
  command_states s;
  const printer_row* r = selected_row();
  if (!searched_ok_ || r == nullptr) return s;
  s.refresh = s.set_ip = s.reset = s.print_test_page = true;
  s.initialize = true;
  s.configure = r->status == kInitialized;
  return s;
}

void netsetup_model::search() {
  std::int32_t num = adapter_index_;
  std::int32_t ret = -1;
  const auto r = platform::call(configurator_.get(), "FindLanPrinter", Variant::ref(num), Variant::ref(ret));
  if (!r.ok() && ret == netcfg::OLP_NO_ERROR) ret = netcfg::OLP_SOCKET_ERROR;
  rows_.clear();
  selected_ = 0;
  searched_ok_ = false;
  if (ret != netcfg::OLP_NO_ERROR) {
    finish(kOpSearch, ret);
    return;
  }
  for (std::int32_t n = 1; n <= num; ++n) {
    std::string ip, mac;
    std::int32_t status = 0;
    std::int32_t code = -1;
    platform::call(configurator_.get(), "GetLanPrinterInfo", n, Variant::ref(ip), Variant::ref(mac),
                   Variant::ref(status), Variant::ref(code));
    if (code != netcfg::OLP_NO_ERROR) continue;
    printer_row row;
    row.index = (status > 49 ? "WiPort " : "Xport   ") + std::to_string(n);
    row.ip = ip;
    row.mac = mac;
    std::vector<std::uint8_t> data;
    if (query(ip, netcfg::kRecordIdentity, data) != netcfg::OLP_NO_ERROR) {
      row.status = kNotInitialized;
    } else {
      row.name = text_of(data, kNameOffset, kNameEnd);
      row.status = status == 1 || status == 51 ? kInitialized : status == 0 || status == 50 ? kNotInitialized : kUndefined;
    }
    if (query(ip, netcfg::kRecordNetwork, data) != netcfg::OLP_NO_ERROR) {
      row.port = kDefaultPort;
      row.port_grey = true;
    } else {
      row.port = std::to_string(data[21] * 256 + data[20]);
    }
    rows_.push_back(std::move(row));
  }
  if (rows_.empty()) {
    finish(kOpSearch, netcfg::OLP_PRINTERS_NOT_FOUND);
    return;
  }
  searched_ok_ = true;
  selected_ = 1;
  finish(kOpSearch, netcfg::OLP_NO_ERROR);
}

std::int32_t netsetup_model::use_printer(const std::string& ip) {
  rows_.clear();
  selected_ = 0;
  searched_ok_ = false;
  std::vector<std::uint8_t> data;
  const std::int32_t code = query(ip, netcfg::kRecordIdentity, data);
  last_code_ = code;
  if (code != netcfg::OLP_NO_ERROR) return code;
  printer_row row;
  row.index = "Xport   1";
  row.ip = ip;
  row.name = text_of(data, kNameOffset, kNameEnd);
  row.status = data[102] != 0 || data[103] != 0 || data[104] != 0 ? kInitialized : kNotInitialized;
  if (query(ip, netcfg::kRecordNetwork, data) != netcfg::OLP_NO_ERROR) {
    row.port = kDefaultPort;
    row.port_grey = true;
  } else {
    row.port = std::to_string(data[21] * 256 + data[20]);
  }
  rows_.push_back(std::move(row));
  selected_ = 1;
  searched_ok_ = true;
  return code;
}

bool netsetup_model::select_mac(const std::string& mac) {
  for (std::size_t i = 0; i < rows_.size(); ++i) {
    if (platform::equal_ignoring_case(rows_[i].mac, mac)) {
      selected_ = static_cast<int>(i) + 1;
      return true;
    }
  }
  return false;
}

outcome netsetup_model::initialize(const std::string& name) {
  outcome o;
  printer_row* r = row();
  if (name.empty()) {
    o.messages.emplace_back(kMsgInsertName);
    o.close = false;
    return o;
  }
  if (name.size() > kNameEnd - kNameOffset + 1) {
    o.messages.emplace_back(kMsgNameTooLong);
    o.close = false;
    return o;
  }
  if (r == nullptr) return o;
  std::vector<std::uint8_t> data;
  std::int32_t code = query(r->ip, netcfg::kRecordIdentity, data);
  if (code == netcfg::OLP_NO_ERROR) {
    store_text(data, kNameOffset, kNameEnd, name);
    code = write(r->ip, netcfg::kWriteIdentity, data);
  }
  if (code == netcfg::OLP_NO_ERROR) {
    r->name = name;
    r->status = kInitialized;
    o.ok = true;
  }
  finish(kOpInitialize, code);
  return o;
}

std::optional<tcp_settings> netsetup_model::open_configure() {
  const printer_row* r = selected_row();
  if (rows_.empty() || r == nullptr) return std::nullopt;
  tcp_settings s;
  std::vector<std::uint8_t> data;
  if (query(r->ip, netcfg::kRecordNetwork, data) != netcfg::OLP_NO_ERROR) {
    s.mask_index = 0;
    return s;
  }
  // Code 0 (no mask chosen) leaves the list without a selection.
  s.mask_index = data[6] >= 1 && data[6] <= 24 ? data[6] - 1 : -1;
  s.gateway = std::to_string(data[12]) + "." + std::to_string(data[13]) + "." + std::to_string(data[14]) + "." +
              std::to_string(data[15]);
  s.port = std::to_string(data[21] * 256 + data[20]);
  return s;
}

outcome netsetup_model::apply_tcp(const tcp_edit& edit) {
  outcome o;
  printer_row* r = row();
  if (r == nullptr || (!edit.mask_changed && !edit.gateway_changed && !edit.port_changed)) return o;
  int port = 0;
  if (edit.port_changed) {
    if (!port_passes(edit.values.port)) {
      o.messages.emplace_back(kMsgPortReserved);
      o.close = false;
      return o;
    }
    port = std::stoi(edit.values.port);
    if (port < 1 || port > 65535) {
      o.messages.emplace_back(kMsgInsertPort);
      o.close = false;
      return o;
    }
  }
  if (edit.gateway_changed && !valid_ip_text(edit.values.gateway)) {
    o.messages.emplace_back(kMsgInsertIp);
    o.close = false;
    return o;
  }
  std::vector<std::uint8_t> data;
  std::int32_t code = query(r->ip, netcfg::kRecordNetwork, data);
  if (code == netcfg::OLP_NO_ERROR) {
    if (edit.mask_changed) data[6] = static_cast<std::uint8_t>(mask_code(edit.values.mask_index));
    if (edit.gateway_changed) {
      const std::uint32_t g = *platform::net::parse_ipv4(edit.values.gateway);
      for (int i = 0; i < 4; ++i) data[12 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(g >> (24 - 8 * i));
    }
    if (edit.port_changed) {
      data[20] = static_cast<std::uint8_t>(port & 0xFF);
      data[21] = static_cast<std::uint8_t>(port >> 8);
    }
    code = write(r->ip, netcfg::kWriteNetwork, data);
    if (code == netcfg::OLP_NO_ERROR) {
      o.ok = true;
      if (edit.port_changed) {
        r->port = std::to_string(port);
        r->port_grey = false;
        o.messages.emplace_back(kMsgSwitchPort);
      }
    }
  }
  finish(kOpConfigure, code);
  return o;
}

std::optional<wifi_settings> netsetup_model::open_wifi(std::string& message) {
  message.clear();
  const printer_row* r = selected_row();
  if (r == nullptr || !r->wireless()) return std::nullopt;
  std::vector<std::uint8_t> region, wireless;
  if (query(r->ip, netcfg::kRecordRegion, region) != netcfg::OLP_NO_ERROR ||
      query(r->ip, netcfg::kRecordWireless, wireless) != netcfg::OLP_NO_ERROR) {
    message = kMsgQueryError;
    return std::nullopt;
  }
  wifi_settings s;
  s.ssid = text_of(wireless, kSsidOffset, kSsidEnd);
  s.ssid_ad_hoc = s.ssid;
  s.ad_hoc = (wireless[1] & 1) != 0;
  s.country = std::min<int>(region[kRegionCountry], static_cast<int>(kCountries.size()) - 1);
  const int channel_count = static_cast<int>(channels(s.country).size());
  s.channel_index = std::clamp(channel_index(s.country, wireless[1] >> 4), 0, channel_count - 1);
  s.tx_rate = std::min<int>((wireless[0] >> 4) & 7, static_cast<int>(kTxDataRates.size()) - 1);
  s.wep = (wireless[2] & 3) == 1;
  s.authentication = std::min<int>((wireless[2] >> 2) & 7, static_cast<int>(kAuthentications.size()) - 1);
  s.key_length = std::min<int>((wireless[2] >> 5) & 7, static_cast<int>(kKeyLengths.size()) - 1);
  if (s.wep && s.key_length != 0) {
    std::vector<std::uint8_t> key;
    if (query(r->ip, netcfg::kRecordWepKey, key) != netcfg::OLP_NO_ERROR) {
      message = kMsgQueryError;
      return std::nullopt;
    }
    s.key_max_chars = s.key_length == 1 ? 10 : 26;
  }
  return s;
}

outcome netsetup_model::apply_wifi(const wifi_settings& s) {
  outcome o;
  printer_row* r = row();
  if (r == nullptr) return o;
  const std::string& ssid = s.ad_hoc ? s.ssid_ad_hoc : s.ssid;
  const auto stop = [&](std::string_view message) {
    o.messages.emplace_back(message);
    o.close = false;
    return o;
  };
  // Every check comes before the first write, so a refused apply changes nothing.
  if (ssid.empty()) return stop(kMsgInsertName);
  if (ssid.size() > kSsidEnd - kSsidOffset + 1) return stop(kMsgSsidTooLong);
  std::vector<std::uint8_t> key_bytes;
  if (s.ad_hoc && s.wep) {
    if (s.key_length == 0) return stop(kMsgInsertKeyLength);
    const std::size_t wanted = s.key_length == 1 ? 10 : 26;
    if (s.key.size() != wanted ||
        !std::all_of(s.key.begin(), s.key.end(), [](char c) { return hex_value(c) >= 0; })) {
      return stop(kMsgKeyLength);
    }
    for (std::size_t i = 0; i + 1 < s.key.size(); i += 2) {
      key_bytes.push_back(static_cast<std::uint8_t>(hex_value(s.key[i]) << 4 | hex_value(s.key[i + 1])));
    }
  }
  std::vector<std::uint8_t> wireless, key, region;
  std::int32_t code = query(r->ip, netcfg::kRecordWireless, wireless);
  if (code == netcfg::OLP_NO_ERROR) code = query(r->ip, netcfg::kRecordWepKey, key);
  if (code == netcfg::OLP_NO_ERROR) {
    if (!s.ad_hoc) {
      wireless[1] &= static_cast<std::uint8_t>(~1u);
    } else {
      wireless[0] = static_cast<std::uint8_t>((wireless[0] & ~0x70) | (s.tx_rate << 4) | 1);
      wireless[1] = static_cast<std::uint8_t>(1 + 2 * s.country + 16 * channel_of(s.country, s.channel_index));
    }
    store_text(wireless, kSsidOffset, kSsidEnd, ssid);
    if (s.ad_hoc) {
      if (s.wep) {
        wireless[2] = static_cast<std::uint8_t>(1 + 4 * s.authentication + 32 * s.key_length);
        for (std::size_t i = kKeyOffset; i <= kKeyEnd; ++i) {
          const std::size_t k = i - kKeyOffset;
          key[i] = k < key_bytes.size() ? key_bytes[k] : 0;
        }
      } else {
        // WEP off: no key stays behind in the module.
        wireless[2] = 0;
        std::fill(key.begin() + kKeyOffset, key.begin() + kKeyEnd + 2, 0);
      }
      code = query(r->ip, netcfg::kRecordRegion, region);
      if (code == netcfg::OLP_NO_ERROR) {
        region[kRegionCountry] = static_cast<std::uint8_t>(s.country);
        code = write(r->ip, netcfg::kWriteRegion, region);
      }
    }
  }
  if (code == netcfg::OLP_NO_ERROR) code = write(r->ip, netcfg::kWriteWireless, wireless);
  if (code == netcfg::OLP_NO_ERROR) code = write(r->ip, netcfg::kWriteWepKey, key);
  if (code == netcfg::OLP_NO_ERROR) {
    o.ok = true;
    o.messages.emplace_back(kMsgSwitchSettings);
  }
  finish(kOpConfigure, code);
  return o;
}

outcome netsetup_model::set_ip(const std::string& new_ip) {
  outcome o;
  printer_row* r = row();
  if (!valid_ip_text(new_ip)) {
    o.messages.emplace_back(kMsgInsertIp);
    o.close = false;
    return o;
  }
  if (r == nullptr) return o;
  const bool to_zero = new_ip == "0.0.0.0";
  if (!to_zero && svc_.ping(new_ip) == platform::net::kIpSuccess) {
    o.messages.emplace_back(kMsgAddressInUse);
    o.close = false;
    return o;
  }
  const std::int32_t code = set_ip_address(new_ip, r->mac);
  finish(kOpSetIp, code);
  if (code != netcfg::OLP_NO_ERROR) {
    o.messages.push_back(olp_text(code));
    return o;
  }
  if (to_zero) {
    svc_.wait(10000);
    o.ok = true;
    return o;
  }
  // The module restarts on its new address: ask it up to 10 times, 1 s apart.
  std::vector<std::uint8_t> data;
  for (int attempt = 0; attempt < 10; ++attempt) {
    if (attempt > 0) svc_.wait(1000);
    if (query(new_ip, netcfg::kRecordIdentity, data) == netcfg::OLP_NO_ERROR) {
      r->ip = new_ip;
      o.ok = true;
      return o;
    }
  }
  status_result_ = kDeviceNotResponding;
  return o;
}

outcome netsetup_model::reset() {
  outcome o;
  printer_row* r = row();
  if (r == nullptr) return o;
  std::vector<std::uint8_t> data;
  std::int32_t code = query(r->ip, netcfg::kRecordIdentity, data);
  if (code == netcfg::OLP_NO_ERROR) {
    store_text(data, kNameOffset, kNameEnd, "");
    code = write(r->ip, netcfg::kWriteIdentity, data);
    if (code == netcfg::OLP_NO_ERROR) {
      r->name.clear();
      r->status = kNotInitialized;
    }
  }
  if (code == netcfg::OLP_NO_ERROR) code = query(r->ip, netcfg::kRecordNetwork, data);
  if (code == netcfg::OLP_NO_ERROR) {
    data[6] = 0;
    std::fill(data.begin() + 12, data.begin() + 16, 0);
    data[20] = 17;
    data[21] = 39;
    code = write(r->ip, netcfg::kWriteNetwork, data);
    if (code == netcfg::OLP_NO_ERROR) {
      r->port = kDefaultPort;
      r->port_grey = false;
    }
  }
  if (code == netcfg::OLP_NO_ERROR) {
    code = set_ip_address("0.0.0.0", r->mac);
    if (code == netcfg::OLP_NO_ERROR) svc_.wait(10000);
  }
  o.ok = code == netcfg::OLP_NO_ERROR;
  finish(kOpReset, code);
  return o;
}

std::optional<std::string> netsetup_model::ping(const std::string& ip, std::string& message) {
  message.clear();
  if (!valid_ip_text(ip)) {
    message = kMsgInsertIp;
    return std::nullopt;
  }
  return ping_status_text(svc_.ping(ip));
}

void netsetup_model::override_port(const std::string& port) {
  if (printer_row* r = row()) {
    r->port = port;
    r->port_grey = false;
  }
}

outcome netsetup_model::print_test_page() {
  outcome o;
  const printer_row* r = selected_row();
  if (r == nullptr) return o;
  const int port = all_digits(r->port) && r->port.size() <= 5 ? std::stoi(r->port) : 0;
  if (port < 1 || port > 65535) return o;
  o.ok = svc_.send_tcp(r->ip, static_cast<std::uint16_t>(port), test_page_bytes(r->ip, r->mac, r->port, r->name), 10000);
  return o;
}

std::vector<adapter_row> netsetup_model::adapter_rows(std::string& message) {
  message.clear();
  std::vector<platform::net::adapter_info> list;
  int error = 0;
  if (!svc_.adapters(list, error)) {
    message = "GetAdaptersInfo failed with error " + std::to_string(error);
    return {};
  }
  std::vector<adapter_row> rows;
  for (const auto& a : list) {
    rows.push_back({a.name, std::string(kAdapterTypes[static_cast<std::size_t>(a.type)]), a.ip, a.mac, a.mask,
                    a.gateway, a.dhcp ? "Enabled" : "Disabled"});
  }
  return rows;
}

outcome netsetup_model::apply_adapter(int ticked) {
  outcome o;
  if (ticked < 0) {
    o.messages.emplace_back(kMsgSelectAdapter);
    o.close = false;
    return o;
  }
  adapter_index_ = ticked;
  o.ok = true;
  return o;
}

}  // namespace netsetup
