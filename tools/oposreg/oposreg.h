// The oposreg command: imports, exports, queries, sets and deletes keys and values of the kit's
// registry from a shell; main() only hands it the command line.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace tools {

// Runs one oposreg command line (the arguments after the program name). Results go to `out`,
// failures to `err` as one line "oposreg: reason". Returns the exit status: 0 on success, 1 when
// the operation failed, 2 for a usage error. "--registry DIR" applies to this call only.
int run_oposreg(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace tools
