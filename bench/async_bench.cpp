// Asynchronous output against synchronous output of the same requests, through the C++ API, the
// control, the printer service object and the monitor, to the in-process virtual printer:
// 1000 one-line PrintNormal calls, and a 576 x 1000 PrintBitmap. An asynchronous run is timed
// from the first call to the last OutputCompleteEvent, with the application's own event loop
// (poll on the message descriptor, then dispatch) running meanwhile.
#include <poll.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <benchmark/benchmark.h>

#include "bench_setup.h"
#include "monitor/sim.h"
#include "opos/pos_printer.h"
#include "platform/com.h"
#include "platform/registry.h"
#include "platform/testing/temp_dir.h"

namespace {

constexpr const char* kPort = "VPRN1";
constexpr int kLines = 1000;
constexpr int kBitmapWidth = 576;
constexpr int kBitmapHeight = 1000;
constexpr std::int32_t kBitmapAsIs = -11;
constexpr std::int32_t kBitmapCentre = -2;
// Longest wait for the events of one asynchronous run.
constexpr int kRunLimitMs = 120000;

[[noreturn]] void fail(const std::string& why) { bench::fail("async_bench", why); }
void register_library(const char* path) { bench::register_library("async_bench", path); }
void set_string(const std::string& key_path, const char* name, const std::string& value) {
  bench::set_string("async_bench", key_path, name, value);
}

void put(std::string& out, std::uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

// A one-bit BMP of diagonal stripes, so that the printer gets a real picture.
void write_striped_bmp(const std::filesystem::path& file, int width, int height) {
  const int stride = (width + 31) / 32 * 4;
  const std::uint32_t offset = 14 + 40 + 8;
  std::string out = "BM";
  put(out, offset + static_cast<std::uint32_t>(stride * height), 4);
  put(out, 0, 4);
  put(out, offset, 4);
  for (const std::uint32_t v : {40u, static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height)}) put(out, v, 4);
  put(out, 1, 2);
  put(out, 1, 2);
  for (const std::uint32_t v : {0u, static_cast<std::uint32_t>(stride * height), 0u, 0u, 0u, 0u}) put(out, v, 4);
  out += std::string("\x00\x00\x00\x00\xFF\xFF\xFF\x00", 8);
  for (int y = 0; y < height; ++y) {
    std::string row(static_cast<std::size_t>(stride), '\0');
    for (int x = 0; x < width; ++x) {
      if ((x + y) / 16 % 2 != 0) row[static_cast<std::size_t>(x / 8)] |= static_cast<char>(0x80 >> (x % 8));
    }
    out += row;
  }
  std::ofstream(file, std::ios::binary) << out;
}

// A private registry with the libraries registered, VX40Device on a virtual printer, and the
// bitmap file; made once per process.
struct bench_environment {
  bench_environment() {
    register_library(QUOREL_MONITOR_PATH);
    register_library(DEVSVC_LIBRARY_PATH);
    register_library(PTRCTL_PATH);
    const std::string uri = "sim:async_bench_" + std::to_string(::getpid());
    set_string(std::string("SOFTWARE\\Quorel\\Ports\\") + kPort, "Transport", uri);
    const std::string device = "SOFTWARE\\OLEforRetail\\ServiceOPOS\\POSPrinter\\VX40Device";
    set_string(device, "", "Korvane.POSPrinter.VX40.1");
    set_string(device, "MachineType", "VX40");
    set_string(device, "COMMPort", kPort);
    set_string(device, "IniSet", KIT_EXAMPLES_DIR "/metrics/VX40.INI");
    if (monitor::sim_printer(uri) == nullptr) fail("no virtual printer at " + uri);
    bitmap = files.path() / "stripes.bmp";
    write_striped_bmp(bitmap, kBitmapWidth, kBitmapHeight);
  }

  platform::testing::scoped_registry_dir registry;
  platform::testing::temp_dir files;
  std::filesystem::path bitmap;
};

bench_environment& environment() {
  static bench_environment env;
  return env;
}

// Counts output-complete events and notes any error event.
class completion_counter final : public opos::pos_printer_events {
 public:
  void on_output_complete(std::int32_t) override { ++completed; }
  void on_error(std::int32_t result_code, std::int32_t, std::int32_t, std::int32_t& response) override {
    error = result_code;
    response = opos::kErrorResponseClear;
  }
  int completed = 0;
  std::int32_t error = 0;
};

// The printer, opened, claimed and enabled, in the mode asked for.
struct claimed_printer {
  explicit claimed_printer(bool async) {
    if (printer.Open("VX40Device") != opos::kSuccess) fail("Open failed");
    if (printer.Claim(1000) != opos::kSuccess) fail("Claim failed");
    printer.SetDeviceEnabled(true);
    printer.SetAsyncMode(async);
    printer.set_event_handler(&events);
  }
  ~claimed_printer() {
    printer.set_event_handler(nullptr);
    printer.SetDeviceEnabled(false);
    printer.Release();
    printer.Close();
  }

  // The application's event loop until `count` requests have completed; false on an error event
  // or when the limit passes.
  bool wait_for(int count) {
    const int fd = opos::message_fd();
    for (int waited = 0; events.completed < count && events.error == 0;) {
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, 100) == 0 && (waited += 100) > kRunLimitMs) return false;
      opos::dispatch_messages();
    }
    return events.error == 0;
  }

  completion_counter events;
  opos::pos_printer printer;
};

void print_lines(benchmark::State& state, bool async) {
  environment();
  claimed_printer p(async);
  for (auto _ : state) {
    p.events.completed = 0;
    for (int i = 0; i < kLines; ++i) {
      if (p.printer.PrintNormal(opos::kPtrStationReceipt, "Item 0001 espresso doppio 1.90\n") != opos::kSuccess) {
        state.SkipWithError("PrintNormal failed");
        return;
      }
    }
    if (async && !p.wait_for(kLines)) {
      state.SkipWithError("the asynchronous requests did not all complete");
      return;
    }
  }
  state.counters["requests"] = kLines;
}

void BM_PrintNormal1000Synchronous(benchmark::State& state) { print_lines(state, false); }
void BM_PrintNormal1000Asynchronous(benchmark::State& state) { print_lines(state, true); }

void print_bitmap(benchmark::State& state, bool async) {
  const std::string file = environment().bitmap.string();
  claimed_printer p(async);
  for (auto _ : state) {
    p.events.completed = 0;
    if (p.printer.PrintBitmap(opos::kPtrStationReceipt, file, kBitmapAsIs, kBitmapCentre) != opos::kSuccess) {
      state.SkipWithError("PrintBitmap failed");
      return;
    }
    if (async && !p.wait_for(1)) {
      state.SkipWithError("the asynchronous bitmap did not complete");
      return;
    }
  }
}

void BM_PrintBitmap576x1000Synchronous(benchmark::State& state) { print_bitmap(state, false); }
void BM_PrintBitmap576x1000Asynchronous(benchmark::State& state) { print_bitmap(state, true); }

// Few iterations: each run prints a metre or more of paper that the virtual printer keeps.
BENCHMARK(BM_PrintNormal1000Synchronous)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PrintNormal1000Asynchronous)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PrintBitmap576x1000Synchronous)->Iterations(5)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PrintBitmap576x1000Asynchronous)->Iterations(5)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
