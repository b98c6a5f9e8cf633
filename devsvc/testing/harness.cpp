// Test harness of the service objects: registration, ports, device keys, the recording control
// object and the vprinter daemon.
#include "testing/harness.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "platform/messages.h"
#include "platform/registry.h"
#include "platform/testing/server_library.h"

extern char** environ;

namespace devsvc::testing {
namespace {

using platform::registry_key;
using platform::registry_root;

constexpr const char* kPortsKey = "SOFTWARE\\Quorel\\Ports";
constexpr const char* kPrinterClassKey = "SOFTWARE\\OLEforRetail\\ServiceOPOS\\POSPrinter";
constexpr const char* kFixedKey = "SOFTWARE\\OLEforRetail\\ServiceOPOS\\POSPrinter\\VX40Device";

registry_key create_key(registry_root root, const std::string& path) {
  registry_key key;
  if (registry_key::create(root, path, key) != platform::kErrorSuccess) {
    throw std::runtime_error("cannot create registry key " + path);
  }
  return key;
}

}  // namespace

std::string hex(std::string_view bytes) {
  std::string out;
  char cell[4];
  for (const char c : bytes) {
    std::snprintf(cell, sizeof cell, "%02X", static_cast<unsigned char>(c));
    if (!out.empty()) out += ' ';
    out += cell;
  }
  return out;
}

platform::hresult register_library(const std::filesystem::path& library) {
  std::string ignored;
  return platform::testing::register_server_library(library, ignored);
}

void set_port(std::string_view port, std::string_view uri) {
  create_key(registry_root::local_machine, std::string(kPortsKey) + "\\" + std::string(port))
      .set_string("Transport", uri);
}

void write_printer_key(const printer_key& k) {
  registry_key key =
      create_key(registry_root::local_machine, std::string(kPrinterClassKey) + "\\" + k.device_name);
  key.set_string("", "Korvane.POSPrinter.VX40.1");
  key.set_string("MachineType", k.machine_type);
  key.set_string("COMMPort", k.comm_port);
  if (!k.ini_set.empty()) key.set_string("IniSet", k.ini_set);
  if (!k.dat_file.empty()) key.set_string("DATFile", k.dat_file);
  key.set_dword("CurrentFont", k.current_font);
}

void set_fixed_dword(std::string_view name, std::uint32_t value) {
  create_key(registry_root::local_machine, kFixedKey).set_dword(name, value);
}

void set_fixed_string(std::string_view name, std::string_view value) {
  create_key(registry_root::local_machine, kFixedKey).set_string(name, value);
}

std::string unique_sim_name() {
  static std::atomic<int> counter{0};
  return "devsvc_test_" + std::to_string(::getpid()) + "_" + std::to_string(++counter);
}

// ---------------------------------------------------------------------------------------------

std::span<const platform::dispatch_member<test_control>> test_control::dispatch_members() {
  static constexpr platform::dispatch_member<test_control> kMembers[] = {
      platform::dispatch_method<&test_control::SOProcessID>("SOProcessID", 1),
      platform::dispatch_method<&test_control::SODirectIO>("SODirectIO", 2),
      platform::dispatch_method<&test_control::SOError>("SOError", 3),
      platform::dispatch_method<&test_control::SOOutputComplete>("SOOutputComplete", 4),
      platform::dispatch_method<&test_control::SOStatusUpdate>("SOStatusUpdate", 5),
  };
  return kMembers;
}

void test_control::record(std::string text) {
  if (fail_next) {
    fail_next = false;
    throw platform::com_error(platform::kEFail, "the application's event handler failed");
  }
  calls.push_back(std::move(text));
  if (on_call) on_call(calls.back());
}

void test_control::SOStatusUpdate(std::int32_t data) { record("SOStatusUpdate " + std::to_string(data)); }

void test_control::SOOutputComplete(std::int32_t output_id) {
  record("SOOutputComplete " + std::to_string(output_id));
}

void test_control::SODirectIO(std::int32_t number, std::int32_t& data, std::string& text) {
  record("SODirectIO " + std::to_string(number) + " " + std::to_string(data) + " " + text);
}

void test_control::SOError(std::int32_t result_code, std::int32_t extended, std::int32_t locus,
                           std::int32_t& response) {
  record("SOError " + std::to_string(result_code) + " " + std::to_string(extended) + " " + std::to_string(locus));
  response = error_response;
}

std::int32_t test_control::SOProcessID() { return static_cast<std::int32_t>(::getpid()); }

// ---------------------------------------------------------------------------------------------

environment::environment() {
  for (const char* library : {DEVSVC_LIBRARY_PATH, QUOREL_MONITOR_PATH}) {
    std::string error;
    if (platform::failed(platform::testing::register_server_library(library, error))) throw std::runtime_error(error);
  }
  create_key(registry_root::local_machine, kPortsKey);
}

std::filesystem::path environment::example_metrics() {
  return std::filesystem::path(KIT_EXAMPLES_DIR) / "metrics" / "VX40.INI";
}

std::filesystem::path environment::example_logo() {
  return std::filesystem::path(KIT_EXAMPLES_DIR) / "metrics" / "VX40LOGO.DAT";
}

// ---------------------------------------------------------------------------------------------

vprinter_daemon::vprinter_daemon(const std::vector<std::string>& extra) {
  int out[2];
  if (::pipe2(out, O_CLOEXEC) != 0) return;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_adddup2(&actions, out[1], 2);
  std::vector<std::string> args = {VPRINTER_DAEMON_PATH, "--listen", "127.0.0.1:0", "--capture",
                                   (dir_ / "capture.bin").string()};
  args.insert(args.end(), extra.begin(), extra.end());
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  if (::posix_spawn(&pid, VPRINTER_DAEMON_PATH, &actions, nullptr, argv.data(), environ) == 0) pid_ = pid;
  posix_spawn_file_actions_destroy(&actions);
  ::close(out[1]);
  out_ = out[0];
  if (pid_ < 0) return;

  // The daemon says "vprinter: listening on 127.0.0.1:PORT" once it accepts connections.
  const std::uint64_t end = platform::tick_count_ms() + 10000;
  while (output_.find('\n') == std::string::npos && platform::tick_count_ms() < end) {
    pollfd p{out_, POLLIN, 0};
    if (::poll(&p, 1, 50) <= 0) continue;
    char buffer[256];
    const ssize_t n = ::read(out_, buffer, sizeof buffer);
    if (n <= 0) break;
    output_.append(buffer, static_cast<std::size_t>(n));
  }
  const std::size_t marker = output_.find("listening on ");
  const std::size_t colon = output_.rfind(':', output_.find('\n'));
  if (marker != std::string::npos && colon != std::string::npos) port_ = std::atoi(output_.c_str() + colon + 1);
}

vprinter_daemon::~vprinter_daemon() {
  if (pid_ > 0) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
  if (out_ >= 0) ::close(out_);
}

std::string vprinter_daemon::uri() const { return "socket://127.0.0.1:" + std::to_string(port_); }

std::string vprinter_daemon::capture() const {
  std::ifstream in(dir_ / "capture.bin", std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool pump_until(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  const std::uint64_t end = platform::tick_count_ms() + static_cast<std::uint64_t>(limit.count());
  while (!done()) {
    if (platform::tick_count_ms() >= end) return false;
    platform::pump_messages_for(10);
  }
  return true;
}

}  // namespace devsvc::testing
