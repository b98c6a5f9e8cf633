// The example script examples/scripts/drawer.posrun run by the posrun program, as a technician
// would run it: the example registry file imported, its printer port pointed at the vprinter
// daemon (whose drawer closes by itself), the cash drawer control opened by ProgID.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/registry.h"
#include "platform/testing/temp_dir.h"
#include "testing/harness.h"

extern char** environ;

namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

// What a finished program left behind.
struct program_run {
  int exit_code = -1;  // -1 when it had to be killed
  std::string out;
  std::string err;
};

std::string read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Runs `args` with this process's environment, its output going to files in `dir`; kills it
// after `limit`.
program_run run_program(const std::vector<std::string>& args, const platform::testing::temp_dir& dir,
                        milliseconds limit) {
  const std::filesystem::path out = dir / "out.txt";
  const std::filesystem::path err = dir / "err.txt";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  std::vector<std::string> copy = args;
  std::vector<char*> argv;
  for (std::string& a : copy) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  const int spawned = ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  program_run r;
  if (spawned != 0) return r;

  int status = 0;
  const auto end = steady_clock::now() + limit;
  while (::waitpid(pid, &status, WNOHANG) == 0) {
    if (steady_clock::now() >= end) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      status = -1;
      break;
    }
    std::this_thread::sleep_for(milliseconds(20));
  }
  if (status != -1 && WIFEXITED(status)) r.exit_code = WEXITSTATUS(status);
  r.out = read_file(out);
  r.err = read_file(err);
  return r;
}

TEST(DrawerScriptTest, OpensTheDrawerAndWaitsUntilItIsClosed) {
  devsvc::testing::environment env;
  ASSERT_TRUE(platform::succeeded(devsvc::testing::register_library(DRWCTL_PATH)));
  ASSERT_EQ(platform::import_reg_file(std::filesystem::path(KIT_EXAMPLES_DIR) / "registry" / "poskit.reg"),
            platform::kErrorSuccess);
  // The daemon's drawer closes 2.5 s after the kick; the script starts beeping after 1 s.
  devsvc::testing::vprinter_daemon daemon({"--drawer-close-ms", "2500"});
  ASSERT_NE(daemon.port(), 0) << daemon.output();
  devsvc::testing::set_port("VPRINTER", daemon.uri());

  platform::testing::temp_dir dir;
  const auto started = steady_clock::now();
  const program_run r = run_program(
      {POSRUN_PATH, "--json", "--registry", env.registry_dir().string(), "--class", "CashDrawer", DRAWER_SCRIPT},
      dir, milliseconds(60000));
  const auto elapsed = steady_clock::now() - started;
  ASSERT_EQ(r.exit_code, 0) << r.err << r.out;

  // The records without their line numbers, which follow the script's comments.
  const std::string records = std::regex_replace(r.out, std::regex("\"line\":[0-9]+,"), "");
  EXPECT_EQ(records,
            "{\"member\":\"Open\",\"result\":0}\n"
            "{\"member\":\"Claim\",\"result\":0}\n"
            "{\"member\":\"DeviceEnabled\",\"set\":1}\n"
            "{\"member\":\"DrawerOpened\",\"value\":false}\n"
            "{\"event\":\"StatusUpdateEvent\",\"args\":[1]}\n"
            "{\"member\":\"OpenDrawer\",\"result\":0}\n"
            "{\"member\":\"DrawerOpened\",\"value\":true}\n"
            "{\"event\":\"StatusUpdateEvent\",\"args\":[0]}\n"
            "{\"member\":\"WaitForDrawerClose\",\"result\":0}\n"
            "{\"member\":\"DrawerOpened\",\"value\":false}\n"
            "{\"member\":\"Release\",\"result\":0}\n"
            "{\"member\":\"Close\",\"result\":0}\n");
  EXPECT_GE(elapsed, milliseconds(2400)) << "the wait ended before the drawer closed";
  // No terminal listens here: the beeps are logged.
  EXPECT_NE(r.err.find("beep: 880 Hz for 200 ms\n"), std::string::npos) << r.err;
  // The pulse for the example device (PinConnector absent: pin 2) reached the printer.
  EXPECT_NE(daemon.capture().find(std::string("\x1B\x70\x00\x64\x64", 5)), std::string::npos)
      << devsvc::testing::hex(daemon.capture());
}

}  // namespace
