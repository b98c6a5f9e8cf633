// Temporary folders for tests.
#include "platform/testing/temp_dir.h"

#include <cstdlib>
#include <stdexcept>
#include <system_error>

namespace platform::testing {

temp_dir::temp_dir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "poskit-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) {
    throw std::system_error(errno, std::generic_category(), "mkdtemp " + pattern);
  }
  path_ = pattern;
}

temp_dir::~temp_dir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

scoped_registry_dir::scoped_registry_dir() {
  if (const char* old = std::getenv("OPOS_REGISTRY_DIR")) {
    had_previous_ = true;
    previous_ = old;
  }
  setenv("OPOS_REGISTRY_DIR", dir_.path().c_str(), 1);
}

scoped_registry_dir::~scoped_registry_dir() {
  if (had_previous_) {
    setenv("OPOS_REGISTRY_DIR", previous_.c_str(), 1);
  } else {
    unsetenv("OPOS_REGISTRY_DIR");
  }
}

}  // namespace platform::testing
