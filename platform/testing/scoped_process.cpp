// Programs run beside a test: found on PATH, started with posix_spawn, ended within bounds.
#include "platform/testing/scoped_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <thread>

extern char** environ;

namespace platform::testing {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

// How long a child has to end after SIGTERM before it is killed.
constexpr milliseconds kStopGrace{2000};

}  // namespace

std::optional<std::filesystem::path> find_program(std::string_view name) {
  const char* path = std::getenv("PATH");
  const std::string dirs = path != nullptr ? path : "/usr/bin:/bin";
  std::size_t start = 0;
  while (start <= dirs.size()) {
    std::size_t end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    const std::filesystem::path candidate = std::filesystem::path(dirs.substr(start, end - start)) / name;
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    start = end + 1;
  }
  return std::nullopt;
}

scoped_process::scoped_process(const std::vector<std::string>& argv, const std::filesystem::path& log,
                               bool capture_stdout) {
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  int out[2] = {-1, -1};
  if (argv.empty() || (capture_stdout && ::pipe2(out, O_CLOEXEC) != 0)) return;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (capture_stdout) {
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  } else {
    posix_spawn_file_actions_adddup2(&actions, STDERR_FILENO, STDOUT_FILENO);
  }
  if (posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), environ) != 0) pid_ = -1;
  posix_spawn_file_actions_destroy(&actions);
  if (capture_stdout) {
    ::close(out[1]);
    stdout_ = out[0];
  }
}

scoped_process::~scoped_process() {
  stop();
  if (stdout_ >= 0) ::close(stdout_);
}

std::string scoped_process::first_line(int timeout_ms) {
  std::string line;
  const auto end = steady_clock::now() + milliseconds(timeout_ms);
  while (stdout_ >= 0 && steady_clock::now() < end) {
    pollfd entry{stdout_, POLLIN, 0};
    if (::poll(&entry, 1, 20) != 1) continue;
    char c = 0;
    if (::read(stdout_, &c, 1) != 1) break;
    if (c == '\n') return line;
    line += c;
  }
  return line;
}

void scoped_process::stop() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGTERM);
  const auto end = steady_clock::now() + kStopGrace;
  while (::waitpid(pid_, nullptr, WNOHANG) == 0) {
    if (steady_clock::now() >= end) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
      break;
    }
    std::this_thread::sleep_for(milliseconds(10));
  }
  pid_ = -1;
}

void scoped_process::kill() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGKILL);
  ::waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

bool scoped_process::send_signal(int signal_number) { return pid_ > 0 && ::kill(pid_, signal_number) == 0; }

bool scoped_process::pause() {
  if (!send_signal(SIGSTOP)) return false;
  int status = 0;
  pid_t r = -1;
  do {
    r = ::waitpid(pid_, &status, WUNTRACED);
  } while (r < 0 && errno == EINTR);
  return r == pid_ && WIFSTOPPED(status);
}

bool scoped_process::exited() {
  if (pid_ <= 0) return true;
  if (::waitpid(pid_, nullptr, WNOHANG) != pid_) return false;
  pid_ = -1;
  return true;
}

}  // namespace platform::testing
