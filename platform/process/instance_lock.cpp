// A per-user single-instance lock: flock on a file in the user's runtime folder.
#include "platform/instance_lock.h"

#include <cerrno>
#include <cstdlib>
#include <string>
#include <utility>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

instance_lock::~instance_lock() {
  if (fd_ >= 0) {
    close(fd_);  // closing the only descriptor drops the flock
  }
}

instance_lock::instance_lock(instance_lock&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), busy_(std::exchange(other.busy_, false)) {}

instance_lock& instance_lock::operator=(instance_lock&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) {
      close(fd_);
    }
    fd_ = std::exchange(other.fd_, -1);
    busy_ = std::exchange(other.busy_, false);
  }
  return *this;
}

std::filesystem::path instance_lock::default_dir() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime != nullptr && *runtime != '\0') {
    return std::filesystem::path(runtime) / "poskit";
  }
  std::error_code ignored;
  std::filesystem::path temp = std::filesystem::temp_directory_path(ignored);
  if (temp.empty()) {
    temp = "/tmp";
  }
  return temp / ("poskit-" + std::to_string(getuid()));
}

instance_lock instance_lock::try_acquire(const std::filesystem::path& dir, const std::string& name) {
  instance_lock lock;
  // The folder is private to the user; one that someone else owns is not trusted.
  if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
    return lock;
  }
  struct stat info {};
  if (stat(dir.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != getuid()) {
    return lock;
  }

  const std::filesystem::path file = dir / (name + ".lock");
  const int fd = open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) {
    return lock;
  }
  int rc = 0;
  do {
    rc = flock(fd, LOCK_EX | LOCK_NB);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    lock.busy_ = (errno == EWOULDBLOCK);
    close(fd);
    return lock;
  }
  // The holder's process id, for whoever wonders which instance holds the lock.
  const std::string pid = std::to_string(getpid()) + "\n";
  if (ftruncate(fd, 0) == 0) {
    [[maybe_unused]] const ssize_t written = write(fd, pid.data(), pid.size());
  }
  lock.fd_ = fd;
  return lock;
}

}  // namespace platform
