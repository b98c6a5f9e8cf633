// Programs that a test runs beside itself (socat, a daemon), ended when the test is done.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform::testing {

// The first executable file called `name` in the folders of PATH, or nothing.
std::optional<std::filesystem::path> find_program(std::string_view name);

// A child process, ended (SIGTERM, then SIGKILL after 2 s) when the object goes.
class scoped_process {
 public:
  // Starts `argv` (argv[0] is the program's path) with stdin from /dev/null, stderr into `log`,
  // and stdout into a pipe for first_line() when `capture_stdout`, else into `log` as well.
  scoped_process(const std::vector<std::string>& argv, const std::filesystem::path& log,
                 bool capture_stdout);
  ~scoped_process();
  scoped_process(const scoped_process&) = delete;
  scoped_process& operator=(const scoped_process&) = delete;

  bool started() const { return pid_ > 0; }
  // The first line the child writes to stdout, waiting up to `timeout_ms` (what came, at most).
  std::string first_line(int timeout_ms);
  // Ends the child: SIGTERM, then SIGKILL when it is still there after 2 s. Blocks until reaped.
  void stop();
  // Ends the child at once with SIGKILL, as a crash would, and reaps it.
  void kill();
  // Sends `signal_number` (SIGSTOP, SIGCONT, ...) to the child; false when it is not running.
  bool send_signal(int signal_number);
  // Stops the child with SIGSTOP and waits until it has stopped (a signal alone may still be
  // on its way while the child runs); false when it is not running.
  bool pause();
  // Whether the child has ended (and been reaped); true when it never started.
  bool exited();

 private:
  pid_t pid_ = -1;
  int stdout_ = -1;
};

}  // namespace platform::testing
