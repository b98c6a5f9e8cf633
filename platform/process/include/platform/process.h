// Child processes: starting a program by path with posix_spawn and waiting for it, blocking for
// a bounded time or polling from an event loop.
#pragma once

#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include <sys/types.h>

namespace platform {

// How a child ended: its exit code, or the signal that ended it.
struct exit_status {
  bool signaled = false;  // true when `value` is a signal number
  int value = 0;          // exit code (0..255) or signal number
};

// What to start.
struct spawn_request {
  std::filesystem::path program;          // taken as is, never searched in PATH
  std::vector<std::string> arguments;     // argv[1...]; each one stays one argument
  std::filesystem::path working_dir;      // empty: the caller's current folder
};

// A started child process. Move-only; the destructor reaps a child that has ended and leaves a
// running one running (it is not killed), as closing a process handle would.
class child_process {
 public:
  child_process() = default;
  ~child_process();
  child_process(child_process&& other) noexcept;
  child_process& operator=(child_process&& other) noexcept;
  child_process(const child_process&) = delete;
  child_process& operator=(const child_process&) = delete;

  // Starts `request.program` with our environment. On failure returns an empty object and sets
  // `error` to the system error (errno value) of the failing step; an exec failure (missing
  // file, no permission, not executable) is reported here, not as an exit code.
  static child_process spawn(const spawn_request& request, std::error_code& error);

  // True while this object refers to a child that has not been reaped.
  bool running() const { return pid_ > 0 && !ended_; }
  // True once a wait has seen the child end.
  bool ended() const { return ended_; }
  // The child's process id; 0 for an empty object.
  pid_t pid() const { return pid_; }
  // A descriptor that becomes readable when the child ends (a pidfd), or -1 when the system
  // offers none; owned by this object. Event loops can watch it instead of polling.
  int wait_descriptor() const { return pidfd_; }

  // Checks without blocking whether the child has ended; true when it has (or was reaped before).
  bool try_wait();
  // Blocks up to `timeout_ms` for the child to end; true when it has. Returns early when it ends.
  bool wait_for(int timeout_ms);
  // Blocks until the child ends.
  void wait();
  // How the child ended; meaningful once ended() is true.
  exit_status status() const { return status_; }

  // Sends `signal_number` to a running child; false when it is not running or the call fails.
  bool send_signal(int signal_number);

 private:
  child_process(pid_t pid, int pidfd) : pid_(pid), pidfd_(pidfd) {}
  void release();

  pid_t pid_ = 0;
  int pidfd_ = -1;
  bool ended_ = false;
  exit_status status_;
};

}  // namespace platform
