// A test LAN in a network namespace of the test's own: the host's adapter lan0 (10.0.0.1/24,
// gateway 10.0.0.254 unless a test asks for none), the network-module simulator putting its
// modules' addresses on lan1, and a Configurator with short wait attempts.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>
#include <optional>
#include <string>

#include "netcfg/configurator.h"
#include "netcfg/lan_simulator.h"
#include "platform/net.h"
#include "platform/testing/netns.h"

namespace netcfg::testing {

// Length of one wait attempt in the tests: a silent wired module costs 3 of them.
inline constexpr int kTestAttemptMs = 100;

// "10.0.0.N".
inline std::string lan_ip(int n) { return "10.0.0." + std::to_string(n); }

// Module n (1-based) of a test LAN: address 10.0.0.(19 + n), MAC 00-80-A3-00-12-(33 + n).
inline sim::module_config module_n(int n, bool wireless = false, const std::string& name = {}) {
  sim::module_config m;
  m.ip = lan_ip(19 + n);
  m.mac = {0x00, 0x80, 0xA3, 0x00, 0x12, static_cast<std::uint8_t>(0x33 + n)};
  m.wireless = wireless;
  m.name = name;
  return m;
}

class lan_test : public ::testing::Test {
 protected:
  // Builds the namespace and the LAN; skips the test with the reason when that is impossible.
  void make_lan(const std::string& gateway = "10.0.0.254") {
    if (const auto why = platform::testing::enter_private_network()) GTEST_SKIP() << *why;
    if (const auto why = platform::testing::make_test_lan("10.0.0.1/24", gateway)) FAIL() << *why;
    sim::lan_simulator::options opts;
    opts.interface_name = "lan1";
    sim_ = std::make_unique<sim::lan_simulator>(opts);
  }

  void SetUp() override { make_lan(); }

  // Adds modules and starts the simulator.
  void add(const sim::module_config& m) {
    std::string error;
    ASSERT_TRUE(sim_->add_module(m, error).has_value()) << error;
  }
  void start() {
    std::string error;
    ASSERT_TRUE(sim_->start(error)) << error;
  }

  // Waits (up to 2 s) until module `index` sits at `ip`: the simulator moves a module on its own
  // thread after the address assignment arrives. Returns the address it has then.
  std::string wait_for_address(std::size_t index, const std::string& ip) {
    for (int i = 0; i < 400 && sim_->module(index).config.ip != ip; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return sim_->module(index).config.ip;
  }

  // A fresh Configurator, initialised.
  platform::com_ptr<Configurator> configurator() {
    auto c = platform::make_object<Configurator>();
    c->set_attempt_ms(kTestAttemptMs);
    std::int32_t ret = -1;
    EXPECT_EQ(c->Init(ret).code, platform::kSOk);
    EXPECT_EQ(ret, OLP_NO_ERROR);
    return c;
  }

  // Position of lan0 in the adapter list now (the simulator's addresses may list lan1 too).
  static std::int32_t lan0_index() {
    std::vector<platform::net::adapter_info> adapters;
    int error = 0;
    if (!platform::net::list_adapters(adapters, error)) return -1;
    for (std::size_t i = 0; i < adapters.size(); ++i) {
      if (adapters[i].name == "lan0") return static_cast<std::int32_t>(i);
    }
    return -1;
  }

  // Searches through lan0; returns the count (or -OLP code).
  std::int32_t search(Configurator& c) {
    std::int32_t num = lan0_index();
    EXPECT_GE(num, 0) << "lan0 is not in the adapter list";
    std::int32_t ret = -1;
    const platform::hresult hr = c.FindLanPrinter(num, ret).code;
    EXPECT_EQ(hr, ret == OLP_NO_ERROR ? platform::kSOk : platform::kSFalse);
    return ret == OLP_NO_ERROR ? num : -ret;
  }

  std::unique_ptr<sim::lan_simulator> sim_;
};

}  // namespace netcfg::testing
