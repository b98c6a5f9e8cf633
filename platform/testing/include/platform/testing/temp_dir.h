// Temporary folders for tests, removed with everything in them when the owner goes away.
#pragma once

#include <filesystem>
#include <string>

namespace platform::testing {

// A fresh, empty folder under the system's temporary directory; removed recursively on destruction.
class temp_dir {
 public:
  temp_dir();
  ~temp_dir();
  temp_dir(const temp_dir&) = delete;
  temp_dir& operator=(const temp_dir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  // Path of a file or folder named `name` inside this folder (not created).
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

// Points OPOS_REGISTRY_DIR at a fresh temporary folder for the life of the object, restoring
// the previous value afterwards, so that a test never reads or writes the user's own registry.
class scoped_registry_dir {
 public:
  scoped_registry_dir();
  ~scoped_registry_dir();
  scoped_registry_dir(const scoped_registry_dir&) = delete;
  scoped_registry_dir& operator=(const scoped_registry_dir&) = delete;

  const std::filesystem::path& path() const { return dir_.path(); }

 private:
  temp_dir dir_;
  bool had_previous_ = false;
  std::string previous_;
};

}  // namespace platform::testing
