// Atomic file replacement through a temporary file in the same folder and rename(2).
#include "platform/replace_file.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <random>
#include <string>
#include <string_view>

namespace platform {
namespace {

std::error_code last_error() { return {errno, std::generic_category()}; }

// Creates a new, exclusive temporary file in `folder`; -1 with errno on failure.
int create_temporary(const std::filesystem::path& folder, const std::string& stem, std::string& name) {
  static std::atomic<unsigned> counter{0};
  std::random_device random;
  for (int attempt = 0; attempt < 100; ++attempt) {
    name = (folder / ("." + stem + "." + std::to_string(::getpid()) + "." +
                      std::to_string(counter.fetch_add(1)) + "." + std::to_string(random() % 100000) +
                      ".tmp"))
               .string();
    // 0666 so that the umask decides a new file's bits, as for any file the user creates.
    const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0 || errno != EEXIST) {
      return fd;
    }
  }
  errno = EEXIST;
  return -1;
}

// True when `text` is a process id whose process has ended (on this machine).
bool is_dead_process(std::string_view text) {
  if (text.empty() || text.size() > 9) return false;
  pid_t pid = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    pid = pid * 10 + (c - '0');
  }
  return pid > 0 && ::kill(pid, 0) != 0 && errno == ESRCH;
}

// Removes the temporaries of `stem` that a writer left behind when it was killed between creating
// and renaming them: ".STEM.PID.N.R.tmp" whose process no longer runs. Temporaries of live
// writers are theirs to finish.
void remove_stale_temporaries(const std::filesystem::path& folder, const std::string& stem) {
  const std::string prefix = "." + stem + ".";
  std::error_code error;
  for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    const std::string name = it->path().filename().string();
    if (!name.starts_with(prefix) || !name.ends_with(".tmp")) continue;
    const std::string_view rest = std::string_view(name).substr(prefix.size());
    const std::size_t dot = rest.find('.');
    if (dot == std::string_view::npos || !is_dead_process(rest.substr(0, dot))) continue;
    // Only the writer's own pattern: PID, counter and random number, all digits.
    const std::string_view tail = rest.substr(dot + 1, rest.size() - dot - 1 - 4);
    if (tail.empty() || tail.find_first_not_of("0123456789.") != std::string_view::npos) continue;
    ::unlink(it->path().c_str());
  }
}

bool write_all(int fd, std::string_view content) {
  while (!content.empty()) {
    const ssize_t n = ::write(fd, content.data(), content.size());
    if (n < 0) {
      if (errno == EINTR) {
        continue;
      }
      return false;
    }
    content.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

}  // namespace

bool replace_file(const std::filesystem::path& target, std::string_view content, std::error_code& error) {
  const std::filesystem::path folder = target.has_parent_path() ? target.parent_path() : ".";
  struct stat old_stat {};
  const bool had_file = ::stat(target.c_str(), &old_stat) == 0;

  remove_stale_temporaries(folder, target.filename().string());
  std::string temporary;
  const int fd = create_temporary(folder, target.filename().string(), temporary);
  if (fd < 0) {
    error = last_error();
    return false;
  }
  bool ok = write_all(fd, content);
  if (ok && had_file) {
    if (old_stat.st_uid != ::geteuid() || old_stat.st_gid != ::getegid()) {
      // Only a privileged writer may keep another owner; others keep their own, as editors do.
      (void)!::fchown(fd, old_stat.st_uid, old_stat.st_gid);
    }
    // After the owner, since changing the owner clears set-id bits.
    ok = ::fchmod(fd, old_stat.st_mode & 07777) == 0;
  }
  ok = ok && ::fsync(fd) == 0;
  if (!ok) {
    error = last_error();
  }
  if (::close(fd) != 0 && ok) {
    ok = false;
    error = last_error();
  }
  if (ok && ::rename(temporary.c_str(), target.c_str()) != 0) {
    ok = false;
    error = last_error();
  }
  if (!ok) {
    ::unlink(temporary.c_str());
    return false;
  }
  // Make the rename itself durable; a failure here no longer affects the result.
  const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  error.clear();
  return true;
}

}  // namespace platform
