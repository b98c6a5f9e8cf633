// Printer transports of the I/O monitor: device URIs, default URIs for port names, the transport
// interface with its result codes and error record, reads built on it, and transports by scheme.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace monitor {

// Results of transport operations; every non-zero value is a failure.
inline constexpr std::int32_t kResultOk = 0;
inline constexpr std::int32_t kResultTimeout = static_cast<std::int32_t>(0x80040069u);
inline constexpr std::int32_t kResultBusy = static_cast<std::int32_t>(0x80040070u);
// The device or connection is gone (unplugged, reset, refused); the transport is closed.
inline constexpr std::int32_t kResultOffline = static_cast<std::int32_t>(0x80040071u);
inline constexpr std::int32_t kResultPaperOut = static_cast<std::int32_t>(0x80040072u);
// Anything else: bad use, permissions, a device that is not what the URI says.
inline constexpr std::int32_t kResultFailed = static_cast<std::int32_t>(0x80004005u);

// Short English name of a result code ("time-out", "busy", ...), "failure" for unknown codes.
std::string_view result_name(std::int32_t result);

enum class serial_parity { none, even, odd };
enum class serial_flow { none, hardware, software };  // RTS/CTS or XON/XOFF

// Line settings of a serial port.
struct serial_settings {
  int baud = 9600;  // bits per second, one of the standard termios rates
  int data_bits = 8;  // 7 or 8
  serial_parity parity = serial_parity::none;
  int stop_bits = 1;  // 1 or 2
  serial_flow flow = serial_flow::none;
  bool operator==(const serial_settings&) const = default;
};

// A parsed device URI. Schemes: socket, serial, usblp, parallel, file, sim, and any scheme a
// transport was registered for.
struct device_uri {
  std::string scheme;  // lower case
  std::string host;  // socket: name or address (IPv6 without brackets)
  int port = 0;  // socket: TCP port
  std::string path;  // device node or file (absolute); other schemes: the text before '?'
  serial_settings serial;  // serial: the line settings (defaults 9600 8N1, no flow control)
  // sim and registered schemes: the "?key=value" options, keys lower case (others take none,
  // or fixed ones that are parsed into the fields above)
  std::map<std::string, std::string> options;
  bool operator==(const device_uri&) const = default;
};

// The outcome of parse_device_uri: a URI, or a message saying what is wrong with the text.
struct uri_parse_result {
  std::optional<device_uri> uri;
  std::string error;
};

// Parses "socket://HOST[:PORT]", "serial:/dev/ttyS0?baud=115200+bits=8+parity=none+stop=1+
// flow=hard" (options joined by '+' or '&'), "usblp:/dev/usb/lp0", "parallel:/dev/lp0",
// "file:/path", "sim:[NAME][?key=value&...]". Paths and values may use %XX escapes.
uri_parse_result parse_device_uri(std::string_view text);

// Canonical text of a URI; parsing it gives the same URI back.
std::string to_string(const device_uri& uri);

// URI for a platform port name, case-insensitive, with or without a trailing ':':
// COMn -> serial:/dev/ttyS<n-1>, USB00n -> usblp:/dev/usb/lp<n-1>, LPTn -> parallel:/dev/lp<n-1>.
// Other names give nothing.
std::optional<std::string> default_uri_for_port(std::string_view port_name);

// The last failure of a transport. `number` is the result code, `os_error` the errno behind it
// (0 when none), `source` the device URI.
struct error_record {
  std::int32_t number = 0;
  std::string description;
  std::string source;
  int os_error = 0;
};

// Outcome of a write: the result and the bytes accepted, also when it fails part way.
struct write_result {
  std::int32_t result = kResultOk;
  std::size_t count = 0;
};

// Outcome of a read: the result and the bytes received, also when it fails part way.
struct read_result {
  std::int32_t result = kResultOk;
  std::string bytes;
};

// A connection to one printer. Time-outs are in milliseconds; 0 tries once without waiting and
// a negative value waits without limit. A lost link is reported by the next operation with
// kResultOffline and closes the transport; open() connects again. One thread at a time.
class transport {
 public:
  explicit transport(device_uri uri);
  virtual ~transport();
  transport(const transport&) = delete;
  transport& operator=(const transport&) = delete;

  // Opens the device or connection, waiting up to `timeout_ms`; an open transport stays as is.
  virtual std::int32_t open(int timeout_ms) = 0;
  // Writes all of `bytes`, waiting up to `timeout_ms` in total for the device to take them.
  virtual write_result write(std::string_view bytes, int timeout_ms) = 0;
  // Writes what of `bytes` the device takes now, without waiting, and returns the count. Records
  // nothing: a device that takes nothing now, or whose link is in doubt, gets 0, and the next
  // write() finds out why. This default takes nothing.
  virtual std::size_t write_at_once(std::string_view bytes);
  // Returns the bytes available now (up to `max`), waiting up to `timeout_ms` for the first ones.
  virtual read_result read(std::size_t max, int timeout_ms) = 0;
  // Closes the device; never blocks for long, never fails.
  virtual void close() = 0;
  virtual bool is_open() const = 0;

  const device_uri& uri() const { return uri_; }
  // The last failure, kept until the next one.
  const error_record& last_error() const { return last_error_; }

 protected:
  // Records a failure and returns its code, for one-line error exits.
  std::int32_t fail(std::int32_t code, int os_error, std::string description);

 private:
  device_uri uri_;
  error_record last_error_;
};

// Reads exactly `count` bytes, waiting up to `timeout_ms` in total; on time-out or failure returns
// that result with the bytes received so far.
read_result read_exact(transport& t, std::size_t count, int timeout_ms);

// Reads one answer of unknown length: waits up to `timeout_ms` for its first bytes, then goes on
// while more follow within `gap_ms` of each other, up to `max` bytes.
read_result read_answer(transport& t, std::size_t max, int timeout_ms, int gap_ms = 50);

// Creates a transport for a URI of its scheme (closed; call open()).
using transport_factory = std::function<std::unique_ptr<transport>(const device_uri&)>;

// Makes `factory` the transport of `scheme` (replacing any earlier one); an empty factory
// removes the scheme. Thread-safe.
void register_transport(std::string scheme, transport_factory factory);

// A closed transport for `uri`, or null with the reason in `*error` when no transport serves the
// scheme.
std::unique_ptr<transport> make_transport(const device_uri& uri, std::string* error = nullptr);

// Parses `uri_text` and makes its transport; null with the reason in `*error` on failure.
std::unique_ptr<transport> make_transport(std::string_view uri_text, std::string* error = nullptr);

}  // namespace monitor
