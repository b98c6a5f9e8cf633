// A private network for a test: the test process moves into a network namespace of its own, so
// that what it sets up and sends never reaches the machine's network.
#pragma once

#include <optional>
#include <string>

namespace platform::testing {

// Moves this process into a new, empty network namespace with the loopback interface up.
// Returns the reason when that is impossible (no privilege, no namespace support); a test then
// skips with it. Call before the test starts any thread.
std::optional<std::string> enter_private_network();

// Runs `command` with /bin/sh inside the current namespace; true when it exits with 0. Its
// output goes to `output` (stdout and stderr together) when given.
bool run_shell(const std::string& command, std::string* output = nullptr);

// Builds a test LAN in the current namespace: a veth pair `lan0` (the host's adapter, address
// `host_cidr`, e.g. "10.0.0.1/24") and `lan1` (its far end, no address, where simulated devices
// put theirs), both up; with a non-empty `gateway`, a default route through it on lan0.
// Returns the failing command's output when a step fails.
std::optional<std::string> make_test_lan(const std::string& host_cidr, const std::string& gateway);

}  // namespace platform::testing
