// Device URIs: parsing with clear messages, canonical text, and default URIs for the platform's
// port names (COMn, USB00n, LPTn).
#include <arpa/inet.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>

#include "monitor/transport.h"
#include "monitor/uri_text.h"
#include "transport_private.h"

namespace monitor {
namespace {

using uri_text::lower;
using uri_text::parse_number;
using uri_text::in_quotes;

constexpr int kDefaultRawPort = 9100;

// Undoes %XX escapes; false on a broken escape or an escaped NUL.
bool percent_decode(std::string_view text, std::string& out) {
  out.clear();
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      out += text[i];
      continue;
    }
    unsigned value = 0;
    if (i + 2 >= text.size()) return false;
    const auto [end, error] = std::from_chars(text.data() + i + 1, text.data() + i + 3, value, 16);
    if (error != std::errc() || end != text.data() + i + 3 || value == 0) return false;
    out += static_cast<char>(value);
    i += 2;
  }
  return true;
}

// Escapes what would not survive parsing: '%', '?', '&', '+', '=', '#', spaces and controls.
std::string percent_encode(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    const bool special = std::string_view("%?&+=#").find(c) != std::string_view::npos;
    if (byte <= 0x20 || byte >= 0x7F || special) {
      out += '%';
      out += kHex[byte >> 4];
      out += kHex[byte & 0x0F];
    } else {
      out += c;
    }
  }
  return out;
}

using option_map = std::map<std::string, std::string>;

// Splits "key=value" items joined by '+' or '&'. Returns an error message or "".
std::string parse_options(std::string_view query, option_map& options) {
  for (const std::string_view item : uri_text::split_items(query, "+&")) {
    const std::size_t equals = item.find('=');
    std::string key;
    std::string value;
    if (equals == std::string_view::npos) return "option " + in_quotes(item) + " has no value";
    if (!percent_decode(item.substr(0, equals), key) || key.empty()) {
      return "option " + in_quotes(item) + " has a bad name";
    }
    if (!percent_decode(item.substr(equals + 1), value)) {
      return "option " + in_quotes(item) + " has a bad %-escape";
    }
    key = lower(key);
    if (!options.emplace(key, value).second) return "option " + in_quotes(key) + " is given twice";
  }
  return {};
}

// Checks the host of a socket URI: bracketed IPv6, dotted IPv4 or a host name.
std::string check_host(std::string_view host, bool bracketed) {
  if (host.empty()) return "the host is missing (expected socket://HOST[:PORT])";
  if (bracketed) {
    in6_addr address{};
    const std::string text(host);
    if (inet_pton(AF_INET6, text.c_str(), &address) != 1) {
      return in_quotes(host) + " is not an IPv6 address";
    }
    return {};
  }
  if (host.find(':') != std::string_view::npos) {
    return "an IPv6 address needs brackets, as in socket://[::1]:9100";
  }
  if (std::all_of(host.begin(), host.end(),
                  [](char c) { return (c >= '0' && c <= '9') || c == '.'; })) {
    in_addr address{};
    const std::string text(host);
    if (inet_pton(AF_INET, text.c_str(), &address) != 1) {
      return in_quotes(host) + " is not an IPv4 address";
    }
    return {};
  }
  const bool name_ok = std::all_of(host.begin(), host.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '-' || c == '.' || c == '_';
  });
  if (!name_ok || host.front() == '.' || host.front() == '-') {
    return in_quotes(host) + " is not a valid host name";
  }
  return {};
}

std::string parse_socket(std::string_view body, device_uri& uri) {
  if (body.substr(0, 2) != "//") return "expected socket://HOST[:PORT]";
  std::string_view authority = body.substr(2);
  if (!authority.empty() && authority.back() == '/') authority.remove_suffix(1);
  if (authority.find('/') != std::string_view::npos) {
    return "a socket URI takes no path (expected socket://HOST[:PORT])";
  }
  std::string_view host;
  std::string_view port_text;
  bool bracketed = false;
  bool has_port = false;
  if (!authority.empty() && authority.front() == '[') {
    const std::size_t close = authority.find(']');
    if (close == std::string_view::npos) return "the IPv6 address lacks its closing ']'";
    host = authority.substr(1, close - 1);
    bracketed = true;
    const std::string_view rest = authority.substr(close + 1);
    if (!rest.empty()) {
      if (rest.front() != ':') return "unexpected " + in_quotes(rest) + " after the IPv6 address";
      port_text = rest.substr(1);
      has_port = true;
    }
  } else {
    const std::size_t colon = authority.find(':');
    host = authority.substr(0, colon);
    if (colon != std::string_view::npos) {
      if (authority.find(':', colon + 1) != std::string_view::npos) {
        return "an IPv6 address needs brackets, as in socket://[::1]:9100";
      }
      port_text = authority.substr(colon + 1);
      has_port = true;
    }
  }
  if (std::string error = check_host(host, bracketed); !error.empty()) return error;
  uri.host = std::string(host);
  uri.port = kDefaultRawPort;
  if (has_port) {
    const std::optional<int> port = parse_number(port_text, 1, 65535);
    if (!port) return "the port " + in_quotes(port_text) + " is not a number from 1 to 65535";
    uri.port = *port;
  }
  if (!uri.options.empty()) {
    return "option " + in_quotes(uri.options.begin()->first) + " is unknown (socket takes none)";
  }
  return {};
}

// The absolute path of serial:, usblp:, parallel: and file: URIs ("scheme:/p" or "scheme:///p").
std::string parse_path(std::string_view body, device_uri& uri) {
  if (body.substr(0, 2) == "//") {
    body.remove_prefix(2);
    if (!body.empty() && body.front() != '/') {
      const std::string_view host = body.substr(0, body.find('/'));
      return "a host (" + in_quotes(host) + ") is not allowed here; write " + uri.scheme +
             ":/path";
    }
  }
  if (body.empty()) return "the path is missing (expected " + uri.scheme + ":/path)";
  if (!percent_decode(body, uri.path)) return "the path " + in_quotes(body) + " has a bad %-escape";
  if (uri.path.front() != '/') {
    return "the path " + in_quotes(uri.path) + " is not absolute (expected " + uri.scheme +
           ":/path)";
  }
  return {};
}

struct choice {
  std::string_view name;
  int value;
};

constexpr std::array kParityChoices = {
    choice{"none", static_cast<int>(serial_parity::none)},
    choice{"even", static_cast<int>(serial_parity::even)},
    choice{"odd", static_cast<int>(serial_parity::odd)},
};
constexpr std::array kFlowChoices = {
    choice{"none", static_cast<int>(serial_flow::none)},
    choice{"hard", static_cast<int>(serial_flow::hardware)},
    choice{"soft", static_cast<int>(serial_flow::software)},
};

template <std::size_t N>
std::optional<int> find_choice(const std::array<choice, N>& choices, std::string_view name) {
  for (const choice& c : choices) {
    if (c.name == name) return c.value;
  }
  return {};
}

template <std::size_t N>
std::string_view choice_name(const std::array<choice, N>& choices, int value) {
  for (const choice& c : choices) {
    if (c.value == value) return c.name;
  }
  return "?";
}

std::string parse_serial(std::string_view body, device_uri& uri) {
  if (std::string error = parse_path(body, uri); !error.empty()) return error;
  serial_settings& line = uri.serial;
  for (const auto& [key, value] : uri.options) {
    const std::string text = lower(value);
    if (key == "baud") {
      const std::optional<int> rate = parse_number(text, 1, 1 << 30);
      if (!rate || detail::find_baud_rate(*rate) == nullptr) {
        return "baud " + in_quotes(value) + " is not a standard rate (such as 9600 or 115200)";
      }
      line.baud = *rate;
    } else if (key == "bits") {
      const std::optional<int> bits = parse_number(text, 7, 8);
      if (!bits) return "bits " + in_quotes(value) + " must be 7 or 8";
      line.data_bits = *bits;
    } else if (key == "parity") {
      const std::optional<int> parity = find_choice(kParityChoices, text);
      if (!parity) return "parity " + in_quotes(value) + " must be none, even or odd";
      line.parity = static_cast<serial_parity>(*parity);
    } else if (key == "stop") {
      const std::optional<int> stop = parse_number(text, 1, 2);
      if (!stop) return "stop " + in_quotes(value) + " must be 1 or 2";
      line.stop_bits = *stop;
    } else if (key == "flow") {
      const std::optional<int> flow = find_choice(kFlowChoices, text);
      if (!flow) return "flow " + in_quotes(value) + " must be none, hard or soft";
      line.flow = static_cast<serial_flow>(*flow);
    } else {
      return "option " + in_quotes(key) + " is unknown (serial takes baud, bits, parity, stop, flow)";
    }
  }
  uri.options.clear();  // all of them live on in `serial`
  return {};
}

std::string parse_plain_path(std::string_view body, device_uri& uri) {
  if (std::string error = parse_path(body, uri); !error.empty()) return error;
  if (!uri.options.empty()) {
    return "option " + in_quotes(uri.options.begin()->first) + " is unknown (" + uri.scheme +
           " takes none)";
  }
  return {};
}

std::string parse_other(std::string_view body, device_uri& uri) {
  if (!percent_decode(body, uri.path)) return "the text " + in_quotes(body) + " has a bad %-escape";
  return {};
}

// How each built-in scheme's text after "scheme:" is read.
struct scheme_row {
  std::string_view scheme;
  std::string (*parse)(std::string_view body, device_uri& uri);
};

constexpr std::array kSchemes = {
    scheme_row{"socket", parse_socket},       scheme_row{"serial", parse_serial},
    scheme_row{"usblp", parse_plain_path},    scheme_row{"parallel", parse_plain_path},
    scheme_row{"file", parse_plain_path},     scheme_row{"sim", parse_other},
};

bool valid_scheme(std::string_view scheme) {
  if (scheme.empty() || std::isalpha(static_cast<unsigned char>(scheme.front())) == 0) {
    return false;
  }
  return std::all_of(scheme.begin(), scheme.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '+' || c == '-' || c == '.';
  });
}

std::string option_text(const option_map& options, char separator) {
  std::string out;
  for (const auto& [key, value] : options) {
    out += out.empty() ? '?' : separator;
    out += percent_encode(key) + "=" + percent_encode(value);
  }
  return out;
}

}  // namespace

uri_parse_result parse_device_uri(std::string_view text) {
  const auto failed = [&](const std::string& why) {
    return uri_parse_result{std::nullopt, "bad device URI " + in_quotes(text) + ": " + why};
  };
  // A NUL byte could not be written back in the URI's text (a %00 escape is refused too).
  if (text.find('\0') != std::string_view::npos) return failed("the text holds a NUL byte");
  const std::size_t colon = text.find(':');
  if (colon == std::string_view::npos || !valid_scheme(text.substr(0, colon))) {
    return failed("expected SCHEME:..., such as socket://HOST[:PORT] or serial:/dev/ttyS0");
  }
  device_uri uri;
  uri.scheme = lower(text.substr(0, colon));
  std::string_view body = text.substr(colon + 1);
  const std::size_t question = body.find('?');
  if (question != std::string_view::npos) {
    if (std::string error = parse_options(body.substr(question + 1), uri.options);
        !error.empty()) {
      return failed(error);
    }
    body = body.substr(0, question);
  }

  std::string error;
  const auto row = std::find_if(kSchemes.begin(), kSchemes.end(),
                                [&](const scheme_row& r) { return r.scheme == uri.scheme; });
  if (row != kSchemes.end()) {
    error = row->parse(body, uri);
  } else if (detail::is_registered_scheme(uri.scheme)) {
    error = parse_other(body, uri);
  } else {
    error = "unknown scheme " + in_quotes(uri.scheme) +
            " (known: socket, serial, usblp, parallel, file, sim)";
  }
  if (!error.empty()) return failed(error);
  return {std::move(uri), {}};
}

std::string to_string(const device_uri& uri) {
  if (uri.scheme == "socket") {
    const bool v6 = uri.host.find(':') != std::string::npos;
    return "socket://" + (v6 ? "[" + uri.host + "]" : uri.host) + ":" + std::to_string(uri.port);
  }
  // A device path that itself starts with "//" keeps an empty authority before it, so that it is
  // not read back as a host.
  const bool device_path = std::any_of(kSchemes.begin(), kSchemes.end(), [&](const scheme_row& r) {
    return r.scheme == uri.scheme && r.parse != parse_other;
  });
  const std::string path = (device_path && uri.path.starts_with("//") ? "//" : "") + percent_encode(uri.path);
  if (uri.scheme == "serial") {
    const serial_settings& line = uri.serial;
    return "serial:" + path + "?baud=" + std::to_string(line.baud) +
           "+bits=" + std::to_string(line.data_bits) + "+parity=" +
           std::string(choice_name(kParityChoices, static_cast<int>(line.parity))) +
           "+stop=" + std::to_string(line.stop_bits) +
           "+flow=" + std::string(choice_name(kFlowChoices, static_cast<int>(line.flow)));
  }
  return uri.scheme + ":" + path + option_text(uri.options, '&');
}

std::optional<std::string> default_uri_for_port(std::string_view port_name) {
  // Port name prefixes and the device nodes their number n (from 1) stands for.
  struct port_row {
    std::string_view prefix;
    std::size_t digits;  // exact number of digits, 0 for any
    std::string_view uri_prefix;
  };
  static constexpr std::array kPorts = {
      port_row{"COM", 0, "serial:/dev/ttyS"},
      port_row{"USB", 3, "usblp:/dev/usb/lp"},
      port_row{"LPT", 0, "parallel:/dev/lp"},
  };
  std::string name(port_name);
  if (!name.empty() && name.back() == ':') name.pop_back();
  std::transform(name.begin(), name.end(), name.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  for (const port_row& row : kPorts) {
    if (name.size() <= row.prefix.size() || name.compare(0, row.prefix.size(), row.prefix) != 0) {
      continue;
    }
    const std::string_view digits = std::string_view(name).substr(row.prefix.size());
    if (row.digits != 0 && digits.size() != row.digits) continue;
    if (!std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
      continue;
    }
    const std::optional<int> number = parse_number(digits, 1, 999);
    if (!number) continue;
    return std::string(row.uri_prefix) + std::to_string(*number - 1);
  }
  return {};
}

}  // namespace monitor
