// Fuzz target of the posrun script language: arbitrary bytes as one script line. Besides crashes
// and sanitizer reports it stops when a parse result breaks the language's promises: a refused
// line says why, an accepted one has the parts its kind needs.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "script.h"

namespace {

void require_at(bool condition, int line) {
  if (condition) return;
  std::fprintf(stderr, "%s:%d: promise broken\n", __FILE__, line);
  std::abort();
}
#define require(condition) require_at((condition), __LINE__)

}  // namespace

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
