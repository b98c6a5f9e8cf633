// The LAN search: FindLanPrinter against 1, 10 and 50 simulated network modules, with the
// component's own wait lengths, inside a private network namespace (run as root). The search
// ends one quiet period (about 1 s) after the last answer; the identity queries that follow go
// out together, so 50 modules should cost little more than one module.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>

#include "netcfg/configurator.h"
#include "netcfg/lan_simulator.h"
#include "platform/net.h"
#include "platform/testing/netns.h"

namespace {

// Enters the private network once; false (with the reason printed) when that is impossible.
bool lan_ready() {
  static const bool ready = [] {
    if (const auto why = platform::testing::enter_private_network()) {
      std::fprintf(stderr, "lan_search_bench: %s\n", why->c_str());
      return false;
    }
    if (const auto why = platform::testing::make_test_lan("10.0.0.1/24", "10.0.0.254")) {
      std::fprintf(stderr, "lan_search_bench: %s\n", why->c_str());
      return false;
    }
    return true;
  }();
  return ready;
}

std::int32_t lan0_index() {
  std::vector<platform::net::adapter_info> adapters;
  int error = 0;
  platform::net::list_adapters(adapters, error);
  for (std::size_t i = 0; i < adapters.size(); ++i) {
    if (adapters[i].name == "lan0") return static_cast<std::int32_t>(i);
  }
  return -1;
}

void BM_FindLanPrinter(benchmark::State& state) {
  if (!lan_ready()) {
    state.SkipWithError("no private network namespace");
    return;
  }
  const auto count = static_cast<int>(state.range(0));
  netcfg::sim::lan_simulator::options opts;
  opts.interface_name = "lan1";
  opts.serve_tcp = false;
  netcfg::sim::lan_simulator simulator(opts);
  for (int i = 0; i < count; ++i) {
    netcfg::sim::module_config m;
    m.ip = platform::net::format_ipv4(*platform::net::parse_ipv4("10.0.0.20") + static_cast<std::uint32_t>(i));
    m.mac = {0x00, 0x80, 0xA3, 0x00, 0x00, static_cast<std::uint8_t>(i + 1)};
    m.wireless = i % 5 == 4;
    if (i % 2 == 0) m.name = "PRINTER " + std::to_string(i + 1);
    std::string error;
    if (!simulator.add_module(m, error)) {
      state.SkipWithError(error.c_str());
      return;
    }
  }
  std::string error;
  if (!simulator.start(error)) {
    state.SkipWithError(error.c_str());
    return;
  }
  auto configurator = platform::make_object<netcfg::Configurator>();
  std::int32_t ret = 0;
  configurator->Init(ret);
  const std::int32_t adapter = lan0_index();
  for (auto _ : state) {
    std::int32_t num = adapter;
    configurator->FindLanPrinter(num, ret);
    if (ret != netcfg::OLP_NO_ERROR || num != count) {
      state.SkipWithError("the search did not find every module");
      return;
    }
  }
  state.counters["modules"] = count;
}

BENCHMARK(BM_FindLanPrinter)->Arg(1)->Arg(10)->Arg(50)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
