// Fuzz target of the posrun script language: arbitrary bytes as one script line. Besides crashes
// and sanitizer reports it stops when a parse result breaks the language's promises: a refused
// line says why, an accepted one has the parts its kind needs.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "script.h"
#include "require.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view line(reinterpret_cast<const char*>(data), size);
  posrun::statement out;
  std::string error;
  if (!posrun::parse_line(line, out, error)) {
    require(!error.empty());
    return 0;
  }
  switch (out.kind) {
    case posrun::statement_kind::blank:
      break;
    case posrun::statement_kind::write:
      require(!out.member.empty() && out.args.size() == 1);
      break;
    case posrun::statement_kind::read_or_call:
    case posrun::statement_kind::call:
      require(!out.member.empty());
      break;
    default:
      break;
  }
  if (out.after_ms) {
    require(out.kind == posrun::statement_kind::call || out.kind == posrun::statement_kind::read_or_call ||
            out.kind == posrun::statement_kind::write);
  }
  return 0;
}
