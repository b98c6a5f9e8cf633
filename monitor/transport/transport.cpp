// The transport base, the exact and answer reads built on any transport, and the table of
// transports by URI scheme with the built-in kinds registered on first use.
#include <algorithm>
#include <chrono>
#include <mutex>
#include <utility>

#include "fd_transport.h"
#include "monitor/transport.h"
#include "monitor/uri_text.h"
#include "transport_private.h"

namespace monitor {
namespace {

// Transports by scheme, starting with the built-in kinds.
struct scheme_table {
  scheme_table() {
    const detail::scheme_adder add = [this](std::string scheme, transport_factory factory) {
      factories[std::move(scheme)] = std::move(factory);
    };
    detail::register_socket_transport(add);
    detail::register_serial_transport(add);
    detail::register_chardev_transport(add);
    detail::register_file_transport(add);
  }

  std::mutex mutex;
  std::map<std::string, transport_factory, std::less<>> factories;
};

scheme_table& schemes() {
  static scheme_table table;
  return table;
}

}  // namespace

std::string_view result_name(std::int32_t result) {
  switch (result) {
    case kResultOk:
      return "success";
    case kResultTimeout:
      return "time-out";
    case kResultBusy:
      return "busy";
    case kResultOffline:
      return "offline";
    case kResultPaperOut:
      return "paper out";
    default:
      return "failure";
  }
}

transport::transport(device_uri uri) : uri_(std::move(uri)) {}

transport::~transport() = default;

std::size_t transport::write_at_once(std::string_view) { return 0; }

std::int32_t transport::fail(std::int32_t code, int os_error, std::string description) {
  last_error_ = {code, std::move(description), to_string(uri_), os_error};
  return code;
}

read_result read_exact(transport& t, std::size_t count, int timeout_ms) {
  const detail::deadline until(timeout_ms);
  read_result out;
  while (out.bytes.size() < count) {
    read_result part = t.read(count - out.bytes.size(), until.remaining_ms());
    out.bytes += part.bytes;
    if (part.result != kResultOk) {
      out.result = part.result;
      break;
    }
  }
  return out;
}

read_result read_answer(transport& t, std::size_t max, int timeout_ms, int gap_ms) {
  read_result out = t.read(max, timeout_ms);
  if (out.result != kResultOk) return out;
  // The answer has ended when the printer stays quiet for a whole gap.
  while (out.bytes.size() < max) {
    read_result more = t.read(max - out.bytes.size(), std::max(gap_ms, 0));
    if (more.result == kResultTimeout) break;
    out.bytes += more.bytes;
    if (more.result != kResultOk) {
      out.result = more.result;
      break;
    }
  }
  return out;
}

void register_transport(std::string scheme, transport_factory factory) {
  scheme = uri_text::lower(scheme);
  scheme_table& table = schemes();
  std::lock_guard lock(table.mutex);
  if (factory) {
    table.factories[std::move(scheme)] = std::move(factory);
  } else {
    table.factories.erase(scheme);
  }
}

namespace detail {

bool is_registered_scheme(std::string_view scheme) {
  scheme_table& table = schemes();
  std::lock_guard lock(table.mutex);
  return table.factories.find(scheme) != table.factories.end();
}

}  // namespace detail

std::unique_ptr<transport> make_transport(const device_uri& uri, std::string* error) {
  transport_factory factory;
  {
    scheme_table& table = schemes();
    std::lock_guard lock(table.mutex);
    const auto found = table.factories.find(uri.scheme);
    if (found != table.factories.end()) factory = found->second;
  }
  std::unique_ptr<transport> made;
  if (factory) made = factory(uri);
  if (!made && error != nullptr) {
    *error = factory ? "the '" + uri.scheme + "' transport could not be created"
                     : "no transport is registered for '" + uri.scheme + ":'";
  }
  return made;
}

std::unique_ptr<transport> make_transport(std::string_view uri_text, std::string* error) {
  uri_parse_result parsed = parse_device_uri(uri_text);
  if (!parsed.uri) {
    if (error != nullptr) *error = parsed.error;
    return nullptr;
  }
  return make_transport(*parsed.uri, error);
}

}  // namespace monitor
