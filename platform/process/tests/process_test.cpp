// Tests of child processes: start, exit codes and signals, start failures, bounded waits,
// arguments, working folder and reaping.
#include "platform/process.h"

#include <chrono>
#include <csignal>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/testing/temp_dir.h"

namespace platform {
namespace {

using clock_type = std::chrono::steady_clock;

// Bound for anything that should end at once; generous so a loaded machine does not fail it.
constexpr int kGenerousMs = 10000;

child_process start(const spawn_request& request) {
  std::error_code error;
  child_process child = child_process::spawn(request, error);
  EXPECT_FALSE(error) << request.program << ": " << error.message();
  return child;
}

child_process shell(const std::string& script, std::vector<std::string> extra = {}) {
  std::vector<std::string> arguments{"-c", script, "sh"};
  arguments.insert(arguments.end(), extra.begin(), extra.end());
  return start({"/bin/sh", arguments, {}});
}

long long elapsed_ms(clock_type::time_point since) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(clock_type::now() - since).count();
}

// True when /proc shows `pid` as a zombie (ended, not reaped).
bool is_zombie(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  std::getline(stat, line);
  const auto close_paren = line.rfind(')');
  return close_paren != std::string::npos && close_paren + 2 < line.size() && line[close_paren + 2] == 'Z';
}

TEST(ChildProcess, ReportsHowTheChildEnded) {
  struct row {
    const char* what;
    spawn_request request;
    exit_status expected;
  };
  const std::vector<row> rows = {
      {"exit code 0", {"/bin/true", {}, {}}, {false, 0}},
      {"exit code 3", {"/bin/sh", {"-c", "exit 3"}, {}}, {false, 3}},
      {"killed by a signal", {"/bin/sh", {"-c", "kill -TERM $$"}, {}}, {true, SIGTERM}},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.what);
    child_process child = start(r.request);
    ASSERT_GT(child.pid(), 0);
    ASSERT_TRUE(child.wait_for(kGenerousMs));
    EXPECT_TRUE(child.ended());
    EXPECT_FALSE(child.running());
    EXPECT_EQ(child.status().signaled, r.expected.signaled);
    EXPECT_EQ(child.status().value, r.expected.value);
  }
}

TEST(ChildProcess, StartFailuresGiveTheSystemErrorAndAnEmptyObject) {
  testing::temp_dir dir;
  const auto not_executable = dir / "plain.txt";
  std::ofstream(not_executable) << "not a program\n";
  struct row {
    const char* what;
    std::filesystem::path program;
    std::filesystem::path working_dir;
    std::errc expected;
  };
  const std::vector<row> rows = {
      {"missing program", dir / "no-such-program", {}, std::errc::no_such_file_or_directory},
      {"empty program path", {}, {}, std::errc::no_such_file_or_directory},
      {"file without execute permission", not_executable, {}, std::errc::permission_denied},
      {"a folder", dir.path(), {}, std::errc::permission_denied},
      {"missing working folder", "/bin/true", dir / "no-such-folder", std::errc::no_such_file_or_directory},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.what);
    std::error_code error;
    child_process child = child_process::spawn({r.program, {}, r.working_dir}, error);
    EXPECT_EQ(error, std::make_error_code(r.expected)) << error.message();
    EXPECT_EQ(child.pid(), 0);
    EXPECT_FALSE(child.running());
    EXPECT_FALSE(child.try_wait());
  }
}

TEST(ChildProcess, QuickChildEndsWithinTwoHundredMilliseconds) {
  child_process child = start({"/bin/true", {}, {}});
  EXPECT_TRUE(child.wait_for(200));
}

TEST(ChildProcess, WaitReturnsWhenTheChildEndsNotAtTheTimeout) {
  child_process child = shell("sleep 0.05");
  const auto begin = clock_type::now();
  ASSERT_TRUE(child.wait_for(60000));
  EXPECT_LT(elapsed_ms(begin), 30000);  // far below the timeout: the wait woke on the child's end
}

TEST(ChildProcess, RunningChildTimesOutThenEndsBySignal) {
  child_process child = start({"/bin/sleep", {"30"}, {}});
  EXPECT_FALSE(child.try_wait());
  const auto begin = clock_type::now();
  EXPECT_FALSE(child.wait_for(100));
  EXPECT_GE(elapsed_ms(begin), 90);
  EXPECT_TRUE(child.running());

  ASSERT_TRUE(child.send_signal(SIGKILL));
  ASSERT_TRUE(child.wait_for(kGenerousMs));
  EXPECT_TRUE(child.status().signaled);
  EXPECT_EQ(child.status().value, SIGKILL);
  EXPECT_FALSE(child.send_signal(SIGKILL));  // nothing left to signal
}

TEST(ChildProcess, EachArgumentArrivesAsOneArgument) {
  struct row {
    const char* what;
    std::vector<std::string> arguments;
  };
  const std::vector<row> rows = {
      {"spaces", {"a b  c"}},
      {"empty argument kept", {"", "x"}},
      {"quotes and glob characters untouched", {"it's", "\"q\"", "*"}},
      {"leading dash", {"-n", "--flag value"}},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.what);
    // The child compares what it received with the expected list it gets in its environment.
    std::string script = "test $# -eq " + std::to_string(r.arguments.size());
    for (std::size_t i = 0; i < r.arguments.size(); ++i) {
      std::string quoted = "'";
      for (char c : r.arguments[i]) {
        quoted += (c == '\'') ? std::string("'\\''") : std::string(1, c);
      }
      quoted += "'";
      script += " && test \"$" + std::to_string(i + 1) + "\" = " + quoted;
    }
    child_process child = shell(script, r.arguments);
    ASSERT_TRUE(child.wait_for(kGenerousMs));
    EXPECT_EQ(child.status().value, 0) << script;
  }
}

TEST(ChildProcess, StartsInTheRequestedFolderAndByAPathWithSpaces) {
  testing::temp_dir dir;
  const auto folder = dir / "folder with spaces";
  std::filesystem::create_directory(folder);
  const auto program = folder / "my program";
  std::ofstream(program) << "#!/bin/sh\ntest \"$(pwd -P)\" = \"$1\"\n";
  std::filesystem::permissions(program, std::filesystem::perms::owner_all);
  const std::string canonical = std::filesystem::canonical(folder).string();

  child_process in_folder = start({program, {canonical}, folder});
  ASSERT_TRUE(in_folder.wait_for(kGenerousMs));
  EXPECT_EQ(in_folder.status().value, 0) << "child did not start in " << canonical;

  // Without a working folder the child shares ours.
  child_process in_ours = start({program, {std::filesystem::current_path().string()}, {}});
  ASSERT_TRUE(in_ours.wait_for(kGenerousMs));
  EXPECT_EQ(in_ours.status().value, 0);
}

TEST(ChildProcess, WaitDescriptorBecomesReadableWhenTheChildEnds) {
  child_process child = shell("sleep 0.05");
  if (child.wait_descriptor() < 0) {
    GTEST_SKIP() << "no pidfd on this kernel";
  }
  pollfd entry{child.wait_descriptor(), POLLIN, 0};
  EXPECT_EQ(poll(&entry, 1, 0), 0);  // still running
  ASSERT_EQ(poll(&entry, 1, kGenerousMs), 1);
  EXPECT_TRUE(child.try_wait());
  EXPECT_EQ(child.status().value, 0);
}

TEST(ChildProcess, DestructorReapsAnEndedChildAndLeavesARunningOneAlone) {
  pid_t ended_pid = 0;
  {
    child_process child = start({"/bin/true", {}, {}});
    ended_pid = child.pid();
    const auto begin = clock_type::now();
    while (!is_zombie(ended_pid) && elapsed_ms(begin) < kGenerousMs) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_TRUE(is_zombie(ended_pid));
  }
  errno = 0;
  EXPECT_EQ(waitpid(ended_pid, nullptr, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD) << "the destructor left a zombie";

  pid_t running_pid = 0;
  {
    child_process child = start({"/bin/sleep", {"30"}, {}});
    running_pid = child.pid();
  }
  EXPECT_EQ(kill(running_pid, 0), 0) << "the destructor ended a running child";
  kill(running_pid, SIGKILL);
  EXPECT_EQ(waitpid(running_pid, nullptr, 0), running_pid);
}

TEST(ChildProcess, MovedChildKeepsItsState) {
  child_process first = shell("exit 7");
  const pid_t pid = first.pid();
  child_process second = std::move(first);
  EXPECT_EQ(first.pid(), 0);  // NOLINT(bugprone-use-after-move): moved-from is empty by contract
  EXPECT_FALSE(first.running());
  EXPECT_EQ(second.pid(), pid);
  ASSERT_TRUE(second.wait_for(kGenerousMs));
  child_process third;
  third = std::move(second);
  EXPECT_TRUE(third.ended());
  EXPECT_EQ(third.status().value, 7);
}

}  // namespace
}  // namespace platform
