// Fuzz target of the device URI parser: arbitrary bytes as a URI and as a port name. Besides
// crashes and sanitizer reports it stops when a parsed URI's canonical text does not parse back to
// the same URI, or when a port's default URI does not parse.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "monitor/transport.h"
#include "require.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const monitor::uri_parse_result parsed = monitor::parse_device_uri(text);
  if (parsed.uri) {
    require(parsed.error.empty());
    const std::string canonical = monitor::to_string(*parsed.uri);
    const monitor::uri_parse_result again = monitor::parse_device_uri(canonical);
    require(again.uri.has_value());
    require(*again.uri == *parsed.uri);
    require(monitor::to_string(*again.uri) == canonical);
  } else {
    require(!parsed.error.empty());
  }
  if (const auto uri = monitor::default_uri_for_port(text)) require(monitor::parse_device_uri(*uri).uri.has_value());
  return 0;
}
