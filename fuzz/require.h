// The promise checks of the fuzz targets: a broken promise names its line and aborts, so that the
// fuzzer records the input, also in builds without assertions.
#pragma once

#include <cstdio>
#include <cstdlib>

namespace fuzz {

inline void require_at(bool condition, const char* file, int line) {
  if (condition) return;
  std::fprintf(stderr, "%s:%d: promise broken\n", file, line);
  std::abort();
}

}  // namespace fuzz

#define require(condition) ::fuzz::require_at((condition), __FILE__, __LINE__)
