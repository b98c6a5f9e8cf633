// Child processes: posix_spawn to start, a pidfd (or non-blocking waitpid) to wait.
#include "platform/process.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <thread>
#include <utility>

#include <poll.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace platform {
namespace {

// Interval of the polling fallback when the kernel offers no pidfd.
constexpr int kFallbackPollMs = 5;

// A pidfd for `pid`, or -1 when the kernel refuses (too old, or filtered); always close-on-exec.
int open_pidfd(pid_t pid) {
#ifdef SYS_pidfd_open
  const long fd = syscall(SYS_pidfd_open, pid, 0);
  return fd >= 0 ? static_cast<int>(fd) : -1;
#else
  (void)pid;
  return -1;
#endif
}

// Owns spawn attributes and file actions so that every exit path destroys them.
struct spawn_setup {
  posix_spawnattr_t attr{};
  posix_spawn_file_actions_t actions{};
  spawn_setup() {
    posix_spawnattr_init(&attr);
    posix_spawn_file_actions_init(&actions);
  }
  ~spawn_setup() {
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
  }
  spawn_setup(const spawn_setup&) = delete;
  spawn_setup& operator=(const spawn_setup&) = delete;
};

}  // namespace

child_process::~child_process() { release(); }

child_process::child_process(child_process&& other) noexcept
    : pid_(std::exchange(other.pid_, 0)),
      pidfd_(std::exchange(other.pidfd_, -1)),
      ended_(std::exchange(other.ended_, false)),
      status_(other.status_) {}

child_process& child_process::operator=(child_process&& other) noexcept {
  if (this != &other) {
    release();
    pid_ = std::exchange(other.pid_, 0);
    pidfd_ = std::exchange(other.pidfd_, -1);
    ended_ = std::exchange(other.ended_, false);
    status_ = other.status_;
  }
  return *this;
}

void child_process::release() {
  // Reap a child that has already ended so it leaves no zombie; a running one keeps running.
  if (running()) {
    try_wait();
  }
  if (pidfd_ >= 0) {
    close(pidfd_);
    pidfd_ = -1;
  }
  pid_ = 0;
  ended_ = false;
}

child_process child_process::spawn(const spawn_request& request, std::error_code& error) {
  error.clear();
  if (request.program.empty()) {
    error = std::make_error_code(std::errc::no_such_file_or_directory);
    return {};
  }

  // A relative program path means relative to our folder, even when the child starts elsewhere.
  std::filesystem::path program = request.program;
  if (program.is_relative() && !request.working_dir.empty()) {
    std::error_code ignored;
    program = std::filesystem::absolute(program, ignored);
  }

  spawn_setup setup;
  // The child starts with default signal handling and nothing blocked, whatever we changed.
  sigset_t all;
  sigset_t none;
  sigfillset(&all);
  sigemptyset(&none);
  posix_spawnattr_setsigdefault(&setup.attr, &all);
  posix_spawnattr_setsigmask(&setup.attr, &none);
  posix_spawnattr_setflags(&setup.attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
  if (!request.working_dir.empty()) {
    const int rc = posix_spawn_file_actions_addchdir_np(&setup.actions, request.working_dir.c_str());
    if (rc != 0) {
      error = std::error_code(rc, std::generic_category());
      return {};
    }
  }

  std::string program_text = program.string();
  std::vector<char*> argv;
  argv.reserve(request.arguments.size() + 2);
  argv.push_back(program_text.data());
  std::vector<std::string> arguments = request.arguments;  // posix_spawn wants char*, not const
  for (std::string& argument : arguments) {
    argv.push_back(argument.data());
  }
  argv.push_back(nullptr);

  pid_t pid = 0;
  const int rc = posix_spawn(&pid, program_text.c_str(), &setup.actions, &setup.attr, argv.data(), environ);
  if (rc != 0) {
    error = std::error_code(rc, std::generic_category());
    return {};
  }
  return child_process(pid, open_pidfd(pid));
}

bool child_process::try_wait() {
  if (!running()) {
    return ended_;
  }
  for (;;) {
    int raw = 0;
    const pid_t rc = waitpid(pid_, &raw, WNOHANG);
    if (rc == 0) {
      return false;
    }
    if (rc == pid_) {
      ended_ = true;
      if (WIFSIGNALED(raw)) {
        status_ = {true, WTERMSIG(raw)};
      } else {
        status_ = {false, WEXITSTATUS(raw)};
      }
      return true;
    }
    if (errno == EINTR) {
      continue;
    }
    // Someone else reaped it (SIGCHLD ignored, or a stray wait): it has ended, status unknown.
    ended_ = true;
    status_ = {false, -1};
    return true;
  }
}

bool child_process::wait_for(int timeout_ms) {
  using clock = std::chrono::steady_clock;
  const auto deadline = clock::now() + std::chrono::milliseconds(timeout_ms < 0 ? 0 : timeout_ms);
  for (;;) {
    if (try_wait()) {
      return true;
    }
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock::now()).count();
    if (left <= 0) {
      return false;
    }
    if (pidfd_ >= 0) {
      pollfd entry{pidfd_, POLLIN, 0};
      poll(&entry, 1, static_cast<int>(left));  // EINTR or readiness: the loop checks again
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(left < kFallbackPollMs ? left : kFallbackPollMs));
    }
  }
}

void child_process::wait() {
  while (running()) {
    if (pidfd_ >= 0) {
      pollfd entry{pidfd_, POLLIN, 0};
      poll(&entry, 1, -1);
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(kFallbackPollMs));
    }
    try_wait();
  }
}

bool child_process::send_signal(int signal_number) {
  // The pid cannot be reused before we reap it, so kill() reaches our own child.
  return running() && kill(pid_, signal_number) == 0;
}

}  // namespace platform
