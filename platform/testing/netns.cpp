// Private network namespaces and the test LAN inside them.
#include "platform/testing/netns.h"

#include <sched.h>
#include <sys/wait.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace platform::testing {

std::optional<std::string> enter_private_network() {
  if (::unshare(CLONE_NEWNET) != 0) {
    return std::string("cannot create a network namespace: ") + std::strerror(errno);
  }
  std::string output;
  if (!run_shell("ip link set lo up", &output)) return "cannot bring up loopback: " + output;
  return std::nullopt;
}

bool run_shell(const std::string& command, std::string* output) {
  FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return false;
  std::array<char, 512> buffer{};
  std::string text;
  while (std::fgets(buffer.data(), static_cast<int>(buffer.size()), pipe) != nullptr) text += buffer.data();
  const int status = ::pclose(pipe);
  if (output != nullptr) *output = text;
  return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::optional<std::string> make_test_lan(const std::string& host_cidr, const std::string& gateway) {
  std::string commands[] = {
      // The peer is created first: lan0 comes before lan1 in the adapter list.
      "ip link add lan1 type veth peer name lan0",
      "ip addr add " + host_cidr + " dev lan0",
      "ip link set lan0 up",
      "ip link set lan1 up",
      gateway.empty() ? std::string() : "ip route add default via " + gateway + " dev lan0 onlink",
  };
  for (const std::string& command : commands) {
    if (command.empty()) continue;
    std::string output;
    if (!run_shell(command, &output)) return command + ": " + output;
  }
  return std::nullopt;
}

}  // namespace platform::testing
