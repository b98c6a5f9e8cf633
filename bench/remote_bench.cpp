// Cost of the print server: the same writes to one virtual printer daemon (a socket:// port),
// made through the monitor in this process and through a monitor proxy whose calls go over
// gRPC on loopback to a print server (posprintsrv, a process of its own as on the machine that
// shares its printers). A 1 KiB write, and a 40-line receipt written as the service objects
// write one (512-byte pieces, then a status request and its answer). The proxy pipelines its
// WriteIO calls, so the remote writes cost what the server takes to pass them on once its
// window is full; the status read follows the writes on their stream and waits for them.
// Compare local and remote within one run, best with --benchmark_enable_random_interleaving.
#include <unistd.h>

#include <cstdint>
#include <memory>
#include <string>

#include <benchmark/benchmark.h>

#include "bench_setup.h"
#include "create_obj.h"
#include "monitor/monitor.h"
#include "monitor/remote.h"
#include "platform/dispatch_table.h"
#include "platform/messages.h"
#include "platform/testing/scoped_process.h"
#include "platform/testing/temp_dir.h"


namespace {

using platform::Variant;

constexpr const char* kProgram = "remote_bench";
constexpr const char* kToken = "bench-token";
constexpr std::int32_t kWriteModeData = 1;
constexpr std::int32_t kWriteModeStatus = 2;

[[noreturn]] void fail(const std::string& why) { bench::fail(kProgram, why); }

class completion_sink final : public platform::dispatch_object<completion_sink> {
 public:
  static std::span<const platform::dispatch_member<completion_sink>> dispatch_members() {
    static constexpr platform::dispatch_member<completion_sink> kMembers[] = {
        platform::dispatch_method<&completion_sink::OnComplete>("OnComplete", monitor::remote::kDispOnComplete),
    };
    return kMembers;
  }
  void OnComplete() { done = true; }
  bool done = false;
};

// The channel of port NET1 from `monitor_object`, opened.
platform::dispatch_client open_channel(platform::dispatch_client& monitor_object) {
  std::string machine = "VX40";
  std::string port = "NET1";
  platform::com_ptr<platform::dispatch> channel;
  monitor_object.call("GetConnection", Variant::ref(machine), Variant::ref(port)).value.as_object(channel);
  if (!channel) fail("no channel for NET1");
  platform::dispatch_client client(channel);
  if (client.call("OpenIO").value.long_or(-1) != 0) fail("OpenIO failed on NET1");
  return client;
}

// The daemon, the registry, the print server and the two monitors; made once per process.
struct environment_state {
  environment_state() {
    daemon = std::make_unique<platform::testing::scoped_process>(
        std::vector<std::string>{VPRINTER_DAEMON_PATH, "--listen", "127.0.0.1:0", "--paper-limit-mm", "1000"},
        files / "daemon.log", true);
    const std::string line = daemon->first_line(5000);
    const std::size_t colon = line.rfind(':');
    if (colon == std::string::npos) fail("the virtual printer daemon did not start: " + line);
    bench::register_library(kProgram, QUOREL_MONITOR_PATH);
    bench::set_string(kProgram, std::string(monitor::kPortsKey) + "\\NET1", "Transport",
                      "socket://127.0.0.1:" + line.substr(colon + 1));
    bench::set_string(kProgram, monitor::remote::kPrintServerKey, "Token", kToken);

    // The print server is a process of its own, as on the machine that shares its printers.
    server = std::make_unique<platform::testing::scoped_process>(
        std::vector<std::string>{POSPRINTSRV_PATH, "--registry", registry.path().string(), "--listen", "127.0.0.1:0"},
        files / "posprintsrv.log", true);
    const std::string listening = server->first_line(10000);
    const std::size_t server_colon = listening.rfind(':');
    if (listening.rfind("listening on ", 0) != 0 || server_colon == std::string::npos) {
      fail("the print server did not start: " + listening);
    }
    const std::string server_port = listening.substr(server_colon + 1);

    std::uint32_t cookie = 0;
    platform::register_class_object(monitor::remote::kCreateObjClsid,
                                    platform::make_class_factory(&platform::create_object<monitor::remote::CreateObj>).get(), cookie,
                                    monitor::remote::kCreateObjProgId);
    platform::ensure_message_queue();
    platform::com_ptr<platform::dispatch> local;
    if (platform::failed(platform::create_instance(monitor::kMonitorProgId, local))) fail("no local monitor");
    local_monitor = platform::dispatch_client(local);
    remote_monitor = platform::dispatch_client(create_remote("127.0.0.1:" + server_port));
  }

  // The monitor on `address`, through the remote creator.
  platform::com_ptr<platform::dispatch> create_remote(const std::string& address) {
    platform::com_ptr<platform::dispatch> creator;
    if (platform::failed(platform::create_instance(monitor::remote::kCreateObjProgId, creator))) fail("no creator");
    const auto sink = platform::make_object<completion_sink>();
    std::uint32_t cookie = 0;
    creator.as<platform::connection_point>()->advise(sink.get(), cookie);
    platform::call(creator.get(), "CreateObject", monitor::kMonitorProgId, address);
    for (int i = 0; i < 1000 && !sink->done; ++i) platform::pump_messages_for(10);
    platform::com_ptr<platform::dispatch> object;
    platform::call(creator.get(), "GetObject").value.as_object(object);
    if (!object) fail("no remote monitor on " + address);
    return object;
  }

  platform::testing::scoped_registry_dir registry;
  platform::testing::temp_dir files;
  std::unique_ptr<platform::testing::scoped_process> daemon;
  std::unique_ptr<platform::testing::scoped_process> server;
  platform::dispatch_client local_monitor;
  platform::dispatch_client remote_monitor;
};

environment_state& environment() {
  static environment_state state;
  return state;
}

void write(platform::dispatch_client& channel, std::string& data, std::int32_t mode) {
  std::int32_t written = 0;
  const std::int32_t rc =
      channel.call("WriteIO", Variant::ref(data), static_cast<std::int32_t>(data.size()), Variant::ref(written), mode)
          .value.long_or(-1);
  if (rc != 0 || written != static_cast<std::int32_t>(data.size())) {
    std::int32_t number = 0;
    std::string description;
    std::string source;
    channel.call("GetLastErr", Variant::ref(number), Variant::ref(description), Variant::ref(source));
    fail("WriteIO failed: " + description);
  }
}

// DLE EOT 1 and its answer: the printer has taken everything written before it.
void status_round_trip(platform::dispatch_client& channel) {
  std::string status("\x10\x04\x01", 3);
  write(channel, status, kWriteModeStatus);
  std::string answer(" ");
  std::int32_t read = 0;
  if (channel.call("ReadIO", Variant::ref(answer), 1, Variant::ref(read)).value.long_or(-1) != 0 || read != 1) {
    fail("no status answer");
  }
}

// 1 KiB of commands the printer takes without printing (emphasis off, initialise), so that the
// time is the write's and not the printer's: 340 x ESC E 0 and 2 x ESC @.
std::string one_kib() {
  std::string data;
  for (int i = 0; i < 340; ++i) data += std::string("\x1B\x45\x00", 3);
  data += "\x1B\x40\x1B\x40";
  if (data.size() != 1024) fail("the 1 KiB write is not 1 KiB");
  return data;
}

// WriteIO of 1 KiB; with `answered`, each write followed by a status request and its answer.
// Either way the printer has taken everything when the benchmark ends.
void write_1k(benchmark::State& state, bool remote, bool answered) {
  environment_state& env = environment();
  platform::dispatch_client channel = open_channel(remote ? env.remote_monitor : env.local_monitor);
  channel.put("ReadTimeOut", 10000);
  std::string data = one_kib();
  for (auto _ : state) {
    write(channel, data, kWriteModeData);
    if (answered) status_round_trip(channel);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * 1024);
  status_round_trip(channel);
  channel.call("CloseIO");
}

// One property read: the cost of a call that does no I/O.
void property_read(benchmark::State& state, bool remote) {
  environment_state& env = environment();
  platform::dispatch_client channel = open_channel(remote ? env.remote_monitor : env.local_monitor);
  for (auto _ : state) benchmark::DoNotOptimize(channel.get("ReadTimeOut").value.long_or(-1));
  channel.call("CloseIO");
}

// A 40-line receipt: initialise, 40 lines of 42 characters, feed and cut, in 512-byte pieces,
// then DLE EOT 1 and its answer, as a synchronous print ends.
void receipt(benchmark::State& state, bool remote) {
  environment_state& env = environment();
  platform::dispatch_client channel = open_channel(remote ? env.remote_monitor : env.local_monitor);
  std::string bytes = "\x1B\x40";
  for (int line = 1; line <= 40; ++line) {
    std::string text = "Item " + std::to_string(line) + std::string(30, '.') + "  12.50";
    text.resize(42, ' ');
    bytes += text + "\n";
  }
  bytes += "\x1B\x64\x03\x1D\x56\x01";
  for (auto _ : state) {
    for (std::size_t at = 0; at < bytes.size(); at += 512) {
      std::string piece = bytes.substr(at, 512);
      write(channel, piece, kWriteModeData);
    }
    status_round_trip(channel);
  }
  channel.call("CloseIO");
}

void BM_LocalWriteIO_1KiB(benchmark::State& state) { write_1k(state, false, false); }
void BM_RemoteWriteIO_1KiB(benchmark::State& state) { write_1k(state, true, false); }
void BM_LocalWriteIOAnswered_1KiB(benchmark::State& state) { write_1k(state, false, true); }
void BM_RemoteWriteIOAnswered_1KiB(benchmark::State& state) { write_1k(state, true, true); }
void BM_LocalPropertyRead(benchmark::State& state) { property_read(state, false); }
void BM_RemotePropertyRead(benchmark::State& state) { property_read(state, true); }
void BM_LocalReceipt_40Lines(benchmark::State& state) { receipt(state, false); }
void BM_RemoteReceipt_40Lines(benchmark::State& state) { receipt(state, true); }

// Wall-clock time: the remote calls spend theirs in the print server's threads as well. The
// counts are fixed: the daemon's printer stops taking data after some megabytes of commands,
// so every run writes the same, well below that.
BENCHMARK(BM_LocalWriteIO_1KiB)->Unit(benchmark::kMicrosecond)->UseRealTime()->Iterations(1000);
BENCHMARK(BM_RemoteWriteIO_1KiB)->Unit(benchmark::kMicrosecond)->UseRealTime()->Iterations(1000);
BENCHMARK(BM_LocalWriteIOAnswered_1KiB)->Unit(benchmark::kMicrosecond)->UseRealTime()->Iterations(1000);
BENCHMARK(BM_RemoteWriteIOAnswered_1KiB)->Unit(benchmark::kMicrosecond)->UseRealTime()->Iterations(1000);
BENCHMARK(BM_LocalPropertyRead)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_RemotePropertyRead)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_LocalReceipt_40Lines)->Unit(benchmark::kMicrosecond)->UseRealTime()->Iterations(200);
BENCHMARK(BM_RemoteReceipt_40Lines)->Unit(benchmark::kMicrosecond)->UseRealTime()->Iterations(200);

}  // namespace
