// Device URI parsing, canonical text and default URIs for port names.
#include <gtest/gtest.h>

#include "monitor/transport.h"

namespace monitor {
namespace {

device_uri socket_uri(std::string host, int port) {
  device_uri uri;
  uri.scheme = "socket";
  uri.host = std::move(host);
  uri.port = port;
  return uri;
}

device_uri path_uri(std::string scheme, std::string path) {
  device_uri uri;
  uri.scheme = std::move(scheme);
  uri.path = std::move(path);
  return uri;
}

device_uri serial_uri(std::string path, serial_settings line) {
  device_uri uri = path_uri("serial", std::move(path));
  uri.serial = line;
  return uri;
}

device_uri sim_uri(std::string path, std::map<std::string, std::string> options) {
  device_uri uri = path_uri("sim", std::move(path));
  uri.options = std::move(options);
  return uri;
}

struct good_case {
  const char* what;
  const char* text;
  device_uri expected;
};

TEST(TransportUriTest, ParsesWellFormedUris) {
  const good_case cases[] = {
      {"IPv4 with the raw port by default", "socket://192.168.1.20",
       socket_uri("192.168.1.20", 9100)},
      {"host name with a port", "socket://printer-1.shop.example:9101",
       socket_uri("printer-1.shop.example", 9101)},
      {"IPv6 in brackets", "socket://[::1]:9100", socket_uri("::1", 9100)},
      {"IPv6 without port", "socket://[fe80::1]", socket_uri("fe80::1", 9100)},
      {"scheme in capitals and a trailing slash", "SOCKET://localhost:1/",
       socket_uri("localhost", 1)},
      {"highest port", "socket://10.0.0.1:65535", socket_uri("10.0.0.1", 65535)},
      {"serial with '+' options", "serial:/dev/ttyS0?baud=115200+bits=8+parity=none+flow=hard",
       serial_uri("/dev/ttyS0", {115200, 8, serial_parity::none, 1, serial_flow::hardware})},
      {"serial with '&' options and capitals",
       "serial:/dev/ttyUSB0?BAUD=19200&bits=7&parity=Even&stop=2&flow=soft",
       serial_uri("/dev/ttyUSB0", {19200, 7, serial_parity::even, 2, serial_flow::software})},
      {"serial odd parity, flow none", "serial:/dev/ttyS3?parity=odd+flow=none+baud=4000000",
       serial_uri("/dev/ttyS3", {4000000, 8, serial_parity::odd, 1, serial_flow::none})},
      {"serial with empty authority and defaults", "serial:///dev/ttyS1",
       serial_uri("/dev/ttyS1", {})},
      {"usblp", "usblp:/dev/usb/lp0", path_uri("usblp", "/dev/usb/lp0")},
      {"parallel", "parallel:/dev/lp1", path_uri("parallel", "/dev/lp1")},
      {"file", "file:/tmp/out.prn", path_uri("file", "/tmp/out.prn")},
      {"file with empty authority", "file:///tmp/out.prn", path_uri("file", "/tmp/out.prn")},
      {"file path with escapes", "file:/tmp/a%20b%3Fc", path_uri("file", "/tmp/a b?c")},
      {"bare sim", "sim:", sim_uri("", {})},
      {"sim with options", "sim:?model=VX40&fault=cover+speed=slow",
       sim_uri("", {{"model", "VX40"}, {"fault", "cover"}, {"speed", "slow"}})},
      {"sim with a name and an escaped value", "sim:front?Name=a%2Bb",
       sim_uri("front", {{"name", "a+b"}})},
  };
  for (const good_case& c : cases) {
    SCOPED_TRACE(std::string(c.what) + ": " + c.text);
    const uri_parse_result parsed = parse_device_uri(c.text);
    ASSERT_TRUE(parsed.uri.has_value()) << parsed.error;
    EXPECT_EQ(parsed.error, "");
    EXPECT_EQ(*parsed.uri, c.expected);
    // The canonical text must parse back to the same URI.
    const std::string canonical = to_string(*parsed.uri);
    const uri_parse_result again = parse_device_uri(canonical);
    ASSERT_TRUE(again.uri.has_value()) << canonical << ": " << again.error;
    EXPECT_EQ(*again.uri, c.expected) << canonical;
  }
}

TEST(TransportUriTest, CanonicalTextSpellsOutDefaults) {
  EXPECT_EQ(to_string(*parse_device_uri("socket://[::1]").uri), "socket://[::1]:9100");
  EXPECT_EQ(to_string(*parse_device_uri("serial:///dev/ttyS1").uri),
            "serial:/dev/ttyS1?baud=9600+bits=8+parity=none+stop=1+flow=none");
  EXPECT_EQ(to_string(*parse_device_uri("file:/tmp/a%20b").uri), "file:/tmp/a%20b");
}

TEST(TransportUriTest, CanonicalTextParsesBackToTheSameUri) {
  const char* texts[] = {"file:////tmp/x",  "file:///tmp/x",       "serial:////dev/ttyS0?baud=19200",
                         "usblp://///lp0",  "file:/tmp/%25%3F%20", "sim:name?A=b&c=%C3%A9",
                         "sim://x",         "socket://[::1]",      "parallel:/dev/lp0"};
  for (const char* text : texts) {
    SCOPED_TRACE(text);
    const uri_parse_result first = parse_device_uri(text);
    ASSERT_TRUE(first.uri.has_value()) << first.error;
    const std::string canonical = to_string(*first.uri);
    const uri_parse_result again = parse_device_uri(canonical);
    ASSERT_TRUE(again.uri.has_value()) << canonical << ": " << again.error;
    EXPECT_TRUE(*again.uri == *first.uri) << canonical;
    EXPECT_EQ(to_string(*again.uri), canonical);
  }
  EXPECT_EQ(to_string(*parse_device_uri("file:////tmp/x").uri), "file:////tmp/x");

  // A NUL byte could not be written back: the text is refused.
  for (const std::string& text : {std::string("sim:a?b=c\0d", 11), std::string("file:/tmp/\0x", 12)}) {
    const uri_parse_result parsed = parse_device_uri(text);
    EXPECT_FALSE(parsed.uri.has_value());
    EXPECT_NE(parsed.error.find("NUL byte"), std::string::npos) << parsed.error;
  }
}

struct bad_case {
  const char* what;
  const char* text;
  const char* message_part;  // the error must say this
};

TEST(TransportUriTest, RejectsMalformedUrisWithAReason) {
  const bad_case cases[] = {
      {"empty text", "", "expected SCHEME:"},
      {"no scheme", "/dev/ttyS0", "expected SCHEME:"},
      {"scheme starting with a digit", "9p:/x", "expected SCHEME:"},
      {"unknown scheme", "lpd://host/queue", "unknown scheme 'lpd'"},
      {"socket without //", "socket:host", "expected socket://HOST"},
      {"socket without host", "socket://", "host is missing"},
      {"socket port 0", "socket://host:0", "not a number from 1 to 65535"},
      {"socket port too high", "socket://host:65536", "not a number from 1 to 65535"},
      {"socket port not a number", "socket://host:91a0", "'91a0'"},
      {"socket empty port", "socket://host:", "port ''"},
      {"socket with a path", "socket://host:9100/queue", "takes no path"},
      {"IPv6 without brackets", "socket://::1", "needs brackets"},
      {"IPv6 unclosed", "socket://[::1:9100", "closing ']'"},
      {"IPv6 invalid", "socket://[12::zz]:9100", "not an IPv6 address"},
      {"junk after IPv6", "socket://[::1]x", "unexpected 'x'"},
      {"bad IPv4", "socket://300.1.1.1", "not an IPv4 address"},
      {"host with a space", "socket://my printer", "not a valid host name"},
      {"socket option", "socket://host?timeout=5", "option 'timeout' is unknown"},
      {"serial without path", "serial:", "path is missing"},
      {"serial relative path", "serial:ttyS0", "not absolute"},
      {"serial with a host", "serial://dev/ttyS0", "a host ('dev') is not allowed"},
      {"odd baud rate", "serial:/dev/ttyS0?baud=12345", "baud '12345' is not a standard rate"},
      {"baud not a number", "serial:/dev/ttyS0?baud=fast", "baud 'fast'"},
      {"six data bits", "serial:/dev/ttyS0?bits=6", "bits '6' must be 7 or 8"},
      {"mark parity", "serial:/dev/ttyS0?parity=mark", "parity 'mark' must be none, even or odd"},
      {"three stop bits", "serial:/dev/ttyS0?stop=3", "stop '3' must be 1 or 2"},
      {"DTR flow", "serial:/dev/ttyS0?flow=dtr", "flow 'dtr' must be none, hard or soft"},
      {"unknown serial option", "serial:/dev/ttyS0?speed=9600", "option 'speed' is unknown"},
      {"option without value", "serial:/dev/ttyS0?baud", "option 'baud' has no value"},
      {"option given twice", "serial:/dev/ttyS0?baud=9600+BAUD=19200", "'baud' is given twice"},
      {"option without name", "sim:?=3", "has a bad name"},
      {"usblp without path", "usblp:", "path is missing"},
      {"usblp option", "usblp:/dev/usb/lp0?x=1", "option 'x' is unknown (usblp takes none)"},
      {"file relative", "file:out.prn", "not absolute"},
      {"broken escape", "file:/tmp/%zz", "bad %-escape"},
      {"cut-off escape", "file:/tmp/%2", "bad %-escape"},
      {"escaped NUL", "file:/tmp/a%00", "bad %-escape"},
      {"bad escape in a value", "sim:?a=%g1", "bad %-escape"},
  };
  for (const bad_case& c : cases) {
    SCOPED_TRACE(std::string(c.what) + ": " + c.text);
    const uri_parse_result parsed = parse_device_uri(c.text);
    EXPECT_FALSE(parsed.uri.has_value());
    EXPECT_NE(parsed.error.find(c.message_part), std::string::npos) << parsed.error;
    // Every message names the text it rejects.
    EXPECT_NE(parsed.error.find("'" + std::string(c.text) + "'"), std::string::npos)
        << parsed.error;
  }
}

TEST(TransportUriTest, RegisteredSchemesParseAsNameAndOptions) {
  EXPECT_FALSE(parse_device_uri("bench:one?x=1").uri.has_value());
  register_transport("Bench", [](const device_uri&) { return nullptr; });
  const uri_parse_result parsed = parse_device_uri("bench:one?x=1");
  register_transport("bench", nullptr);
  ASSERT_TRUE(parsed.uri.has_value()) << parsed.error;
  EXPECT_EQ(parsed.uri->path, "one");
  EXPECT_EQ(parsed.uri->options, (std::map<std::string, std::string>{{"x", "1"}}));
  EXPECT_FALSE(parse_device_uri("bench:one").uri.has_value());
}

TEST(TransportUriTest, DefaultUrisForPortNames) {
  struct port_case {
    const char* name;
    std::optional<std::string> expected;
  };
  const port_case cases[] = {
      {"COM1", "serial:/dev/ttyS0"},
      {"COM3", "serial:/dev/ttyS2"},
      {"com10", "serial:/dev/ttyS9"},
      {"COM3:", "serial:/dev/ttyS2"},
      {"USB001", "usblp:/dev/usb/lp0"},
      {"usb002", "usblp:/dev/usb/lp1"},
      {"USB010", "usblp:/dev/usb/lp9"},
      {"LPT1", "parallel:/dev/lp0"},
      {"Lpt2:", "parallel:/dev/lp1"},
      {"COM0", std::nullopt},
      {"COM", std::nullopt},
      {"COM1a", std::nullopt},
      {"COM-1", std::nullopt},
      {"USB", std::nullopt},
      {"USB1", std::nullopt},
      {"USB000", std::nullopt},
      {"USB0001", std::nullopt},
      {"LPT0", std::nullopt},
      {"VPRINTER", std::nullopt},
      {"", std::nullopt},
      {":", std::nullopt},
  };
  for (const port_case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(default_uri_for_port(c.name), c.expected);
    // Every answer is a URI that the parser takes.
    if (c.expected) {
      EXPECT_TRUE(parse_device_uri(*c.expected).uri.has_value());
    }
  }
}

}  // namespace
}  // namespace monitor
