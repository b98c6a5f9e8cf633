// Cost of the driver stack for one synchronous receipt: PrintNormal through the C++ API, the
// control, the printer service object and the monitor, against the same bytes and status poll
// written straight to the monitor's I/O channel. Both end in the in-process virtual printer.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
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
constexpr const char* kMachine = "VX40";
constexpr std::int32_t kWriteModeData = 1;
constexpr std::int32_t kWriteModeStatus = 2;
// Each benchmark runs this many receipts: the virtual printer keeps all paper it printed, so the
// count stays fixed to bound the memory it takes (about 90 KB of paper per receipt).
constexpr int kReceipts = 400;

[[noreturn]] void fail(const std::string& why) { bench::fail("stack_bench", why); }
void register_library(const char* path) { bench::register_library("stack_bench", path); }
void set_string(const std::string& key_path, const char* name, const std::string& value) {
  bench::set_string("stack_bench", key_path, name, value);
}

// A private registry with the three libraries registered, VX40Device on port VPRN1 and a virtual
// printer behind it; made once per process.
struct stack_environment {
  stack_environment() {
    register_library(QUOREL_MONITOR_PATH);
    register_library(DEVSVC_LIBRARY_PATH);
    register_library(PTRCTL_PATH);
    uri = "sim:stack_bench_" + std::to_string(::getpid());
    set_string(std::string("SOFTWARE\\Quorel\\Ports\\") + kPort, "Transport", uri);
    const std::string device = "SOFTWARE\\OLEforRetail\\ServiceOPOS\\POSPrinter\\VX40Device";
    set_string(device, "", "Korvane.POSPrinter.VX40.1");
    set_string(device, "MachineType", kMachine);
    set_string(device, "COMMPort", kPort);
    set_string(device, "IniSet", KIT_EXAMPLES_DIR "/metrics/VX40.INI");
    printer = monitor::sim_printer(uri);
    if (printer == nullptr) fail("no virtual printer at " + uri);
  }

  platform::testing::scoped_registry_dir registry;
  std::string uri;
  vprinter::virtual_printer* printer = nullptr;
};

stack_environment& environment() {
  static stack_environment env;
  return env;
}

// A 40-line sale receipt of about 1.5 KB: a centred bold title, 36 item lines, a total.
const std::string& receipt_text() {
  static const std::string text = [] {
    std::string t = "\x1B|cA\x1B|bCKORVANE CAFE\x1B|N\n\x1B|cAVia Roma 12, Milano\n";
    for (int i = 0; i < 36; ++i) {
      char line[64];
      std::snprintf(line, sizeof line, "Item %02d espresso doppio   1 x 1.90   1.90\n", i + 1);
      t += line;
    }
    t += "\x1B|bCTOTAL EUR                       68.40\x1B|N\n\x1B|rAThank you\n";
    return t;
  }();
  return text;
}

// The printer, opened, claimed and enabled in synchronous mode.
struct claimed_printer {
  claimed_printer() {
    if (printer.Open("VX40Device") != opos::kSuccess) fail("Open failed");
    if (printer.Claim(1000) != opos::kSuccess) fail("Claim failed");
    printer.SetDeviceEnabled(true);
  }
  ~claimed_printer() {
    printer.SetDeviceEnabled(false);
    printer.Release();
    printer.Close();
  }
  opos::pos_printer printer;
};

// The bytes one receipt PrintNormal sends, status poll left out: learnt once from the printer.
const std::string& receipt_bytes() {
  static const std::string bytes = [] {
    claimed_printer p;
    const std::size_t mark = environment().printer->capture().size();
    if (p.printer.PrintNormal(opos::kPtrStationReceipt, receipt_text()) != opos::kSuccess) fail("PrintNormal failed");
    std::string sent = environment().printer->capture().substr(mark);
    const std::string poll("\x10\x04\x02\x1D\x72\x31", 6);
    if (sent.size() < poll.size() || sent.compare(sent.size() - poll.size(), poll.size(), poll) != 0) {
      fail("the receipt did not end in the status poll");
    }
    sent.resize(sent.size() - poll.size());
    return sent;
  }();
  return bytes;
}

void BM_PrintNormalThroughStack(benchmark::State& state) {
  environment();
  const std::size_t size = receipt_bytes().size();
  claimed_printer p;
  for (auto _ : state) {
    if (p.printer.PrintNormal(opos::kPtrStationReceipt, receipt_text()) != opos::kSuccess) {
      state.SkipWithError("PrintNormal failed");
      break;
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
  state.counters["bytes_per_receipt"] = static_cast<double>(size);
}

// The monitor's I/O channel for VPRN1, called by name as the service object calls it.
class direct_channel {
 public:
  direct_channel() {
    platform::com_ptr<platform::dispatch> monitor;
    if (platform::failed(platform::create_instance("QuorelServer.Monitor", monitor))) fail("no monitor");
    std::string machine = kMachine;
    std::string port = kPort;
    const platform::call_result r =
        platform::call(monitor.get(), "GetConnection", platform::Variant::ref(machine), platform::Variant::ref(port));
    if (!r.ok() || platform::failed(r.value.as_object(io_)) || !io_) fail("GetConnection failed");
    if (!platform::call(io_.get(), "OpenIO").ok()) fail("OpenIO failed");
  }
  ~direct_channel() { platform::call(io_.get(), "CloseIO"); }

  // WriteIO of all `bytes` in one call; false when the channel refuses or takes fewer.
  bool write(const std::string& bytes, std::int32_t mode) {
    std::string data = bytes;
    std::int32_t accepted = 0;
    const platform::call_result r =
        platform::call(io_.get(), "WriteIO", platform::Variant::ref(data), static_cast<std::int32_t>(bytes.size()),
                       platform::Variant::ref(accepted), mode);
    return r.ok() && r.value.long_or(-1) == 0 && accepted == static_cast<std::int32_t>(bytes.size());
  }
  // ReadIO of one answer byte.
  bool read_one() {
    std::string data(1, '\0');
    std::int32_t received = 0;
    const platform::call_result r =
        platform::call(io_.get(), "ReadIO", platform::Variant::ref(data), 1, platform::Variant::ref(received));
    return r.ok() && r.value.long_or(-1) == 0 && received == 1;
  }

 private:
  platform::com_ptr<platform::dispatch> io_;
};

void BM_SameBytesStraightToMonitor(benchmark::State& state) {
  environment();
  const std::string& bytes = receipt_bytes();
  const std::string status_request("\x10\x04\x02", 3);
  const std::string paper_request("\x1D\x72\x31", 3);
  direct_channel channel;
  for (auto _ : state) {
    const bool ok = channel.write(bytes, kWriteModeData) && channel.write(status_request, kWriteModeStatus) &&
                    channel.read_one() && channel.write(paper_request, kWriteModeData) && channel.read_one();
    if (!ok) {
      state.SkipWithError("channel write or read failed");
      break;
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
  state.counters["bytes_per_receipt"] = static_cast<double>(bytes.size());
}

BENCHMARK(BM_PrintNormalThroughStack)->Iterations(kReceipts)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SameBytesStraightToMonitor)->Iterations(kReceipts)->Unit(benchmark::kMicrosecond);

}  // namespace
