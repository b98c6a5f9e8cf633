// posimg: information about a picture (BMP, JPEG, PNG) and its conversion into a bitmap for a
// receipt printer (grey, black and white, halftone, 8 bits, red/white; resized).
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace posimg {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;  // the output could not be written
inline constexpr int kExitUsage = 2;   // bad arguments or an unreadable picture

// Runs posimg with `args` (without the program name); text to `out`, one-line errors to `err`.
int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace posimg
