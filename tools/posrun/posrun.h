// The posrun command: creates an OPOS control object by ProgID and runs a script of calls on it,
// printing every result and event as a readable line or as one JSON object per line.
#pragma once

#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

namespace posrun {

// Exit statuses of a run.
inline constexpr int kExitOk = 0;         // the script ran to its end (OPOS failures included)
inline constexpr int kExitFailure = 1;    // the control is not available, or the script cannot be read
inline constexpr int kExitUsage = 2;      // bad command line
inline constexpr int kExitBadScript = 3;  // a script line cannot be parsed; the run stopped there
inline constexpr int kExitStrict = 4;     // --strict: a call failed; the run stopped there

// Runs posrun with the arguments after the program name. The script comes from a file, or from
// `in` for "-". Results and events go to `out`, diagnostics to `err`. "--registry DIR" applies
// to this run only. Blocks while the script waits.
int run(const std::vector<std::string>& args, std::istream& in, std::ostream& out, std::ostream& err);

// A JSON string literal of `bytes`: valid UTF-8 stays as it is, control characters and bytes
// that are not UTF-8 become \u00XX escapes.
std::string json_string(std::string_view bytes);

}  // namespace posrun
