// Shared by the utilities' tests: the monitor library registered in the test's private registry,
// sim ports configured there, and channels obtained from the monitor as the browser gets them.
#pragma once

#include <string>

#include <gtest/gtest.h>

#include "monitor/monitor.h"
#include "monitor/sim.h"
#include "platform/com.h"
#include "platform/registry.h"
#include "platform/testing/server_library.h"
#include "platform/testing/temp_dir.h"

namespace utilities_test {

// Registers the monitor library once per test and configures ports.
class LinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_EQ(platform::testing::register_server_library(QUOREL_MONITOR_PATH, error), platform::kSOk)
        << error << " " << platform::take_error_info();
  }

  // A sim URI of a printer no earlier test has used.
  static std::string fresh_sim(const std::string& name, const std::string& options = "") {
    static int counter = 0;
    return "sim:" + name + "-" + std::to_string(++counter) + options;
  }

  // Configures port `port` with a device URI, a model and a printer name.
  static void set_port(const std::string& port, const std::string& uri, const std::string& machine_type,
                       const std::string& name = "") {
    platform::registry_key key;
    ASSERT_EQ(platform::registry_key::create(platform::registry_root::local_machine,
                                             std::string(monitor::kPortsKey) + "\\" + port, key),
              platform::kErrorSuccess);
    ASSERT_EQ(key.set_string("Transport", uri), platform::kErrorSuccess);
    ASSERT_EQ(key.set_string("MachineType", machine_type), platform::kErrorSuccess);
    if (!name.empty()) {
      ASSERT_EQ(key.set_string("Name", name), platform::kErrorSuccess);
    }
  }

  // The monitor's I/O object of `port` (null on failure).
  static platform::com_ptr<platform::dispatch> channel_of(const std::string& port) {
    platform::com_ptr<platform::dispatch> monitor;
    EXPECT_EQ(platform::create_instance(monitor::kMonitorProgId, monitor), platform::kSOk);
    if (!monitor) return {};
    std::string machine = "VX40";
    std::string where = port;
    const platform::call_result r = platform::call(monitor.get(), "GetConnection", platform::Variant::ref(machine),
                                                   platform::Variant::ref(where));
    platform::com_ptr<platform::dispatch> io;
    if (!r.ok() || platform::failed(r.value.as_object(io))) return {};
    return io;
  }

  platform::testing::scoped_registry_dir registry_;
  platform::testing::temp_dir dir_;
};

// "10 04 01" for messages.
inline std::string hex(std::string_view data) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (const char c : data) {
    const auto b = static_cast<unsigned char>(c);
    if (!out.empty()) out += ' ';
    out += kDigits[b >> 4];
    out += kDigits[b & 0x0F];
  }
  return out;
}

}  // namespace utilities_test
