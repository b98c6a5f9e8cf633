// A per-user lock that tells whether another instance of a program is running.
#pragma once

#include <filesystem>
#include <string>

namespace platform {

// Holds an exclusive lock on `<dir>/<name>.lock` for its lifetime. The lock is an flock on an open
// file, so the system releases it when the holder exits, even after a crash: no stale locks. The
// file holds the holder's process id.
class instance_lock {
 public:
  instance_lock() = default;
  ~instance_lock();
  instance_lock(instance_lock&& other) noexcept;
  instance_lock& operator=(instance_lock&& other) noexcept;
  instance_lock(const instance_lock&) = delete;
  instance_lock& operator=(const instance_lock&) = delete;

  // Tries to take the lock named `name` in `dir` (created if missing) without blocking. The result
  // holds the lock when held() is true; otherwise another holder has it, or the lock file could
  // not be made (then the caller runs as if alone, since a broken lock must not stop a program).
  static instance_lock try_acquire(const std::filesystem::path& dir, const std::string& name);

  // Folder for per-user locks: $XDG_RUNTIME_DIR/poskit, else <temp>/poskit-<uid>.
  static std::filesystem::path default_dir();

  // True while this object holds the lock.
  bool held() const { return fd_ >= 0; }
  // True when the lock is held by someone else (a real other instance), as opposed to an error.
  bool busy() const { return busy_; }

 private:
  int fd_ = -1;
  bool busy_ = false;
};

}  // namespace platform
