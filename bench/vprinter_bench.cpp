// What the virtual printer costs the daemon: CPU per 40-line and per 1000-line receipt, memory
// for 15 m of printed paper, and the cost of rendering the paper to PNG after the 10th, 40th and
// 160th receipt, as the daemon's --render does after every connection.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <benchmark/benchmark.h>

#include "vprinter/virtual_printer.h"

namespace {

// A receipt of `lines` lines as a point-of-sale program sends it: a large centred title, items
// with prices, a bold total, a bar code, then feed and cut.
std::string receipt(int lines) {
  using namespace std::string_literals;
  std::string r = "\x1b@\x1b" "a\x01\x1d!\x11KORVANE CAFE\n\x1d!\x00Via Roma 12, Milano\n\x1b" "a\x00"s;
  for (int i = 2; i < lines - 4; ++i) {
    char line[64];
    std::snprintf(line, sizeof line, "%-28s%3d x %6.2f %6.2f\n", i % 3 ? "Espresso doppio" : "Croissant",
                  i % 4 + 1, 1.9 + i % 7, (i % 4 + 1) * (1.9 + i % 7));
    r += line;
  }
  r += "\x1b" "E\x01TOTAL                                   123.45\n\x1b" "E\x00"s;
  r += "Paid by card\n";
  r += "\x1d" "h\x50\x1dH\x02\x1dk\x43\x0d" "4006381333931";
  r += "Thank you for your visit!\n\x1d" "V\x41\x10";
  return r;
}

long rss_kib() {
  std::ifstream in("/proc/self/status");
  std::string key;
  long value = 0;
  while (in >> key) {
    if (key == "VmRSS:") {
      in >> value;
      return value;
    }
    in.ignore(1 << 12, '\n');
  }
  return 0;
}

void accept_all(vprinter::virtual_printer& printer, const std::string& bytes) {
  if (printer.accept(bytes).accepted != bytes.size()) {
    std::fprintf(stderr, "vprinter_bench: the printer refused bytes\n");
    std::exit(1);
  }
}

// The daemon's configuration: no capture kept in memory.
vprinter::config daemon_config() {
  vprinter::config cfg;
  cfg.keep_capture = false;
  return cfg;
}

void BM_Receipt(benchmark::State& state) {
  const std::string bytes = receipt(static_cast<int>(state.range(0)));
  vprinter::virtual_printer printer(daemon_config());
  for (auto _ : state) accept_all(printer, bytes);
  state.SetBytesProcessed(static_cast<long long>(state.iterations()) * static_cast<long long>(bytes.size()));
}
BENCHMARK(BM_Receipt)->Arg(40)->Arg(1000)->Unit(benchmark::kMillisecond);

// Resident memory the paper takes per printed dot, for 15 m of receipts. The rows per receipt are
// found first on another printer, so that the measured one is never copied out.
void BM_PaperMemory15m(benchmark::State& state) {
  const std::string bytes = receipt(1000);
  int rows_per_receipt = 0;
  {
    vprinter::virtual_printer probe(daemon_config());
    accept_all(probe, bytes);
    rows_per_receipt = probe.paper().height();
  }
  const int rows_wanted = 15000 * 203 * 10 / 254;
  const int receipts = (rows_wanted + rows_per_receipt - 1) / rows_per_receipt;
  for (auto _ : state) {
    const long before = rss_kib();
    vprinter::virtual_printer printer(daemon_config());
    for (int i = 0; i < receipts; ++i) accept_all(printer, bytes);
    const long after = rss_kib();
    const double rows = static_cast<double>(receipts) * rows_per_receipt;
    const double dots = rows * 576;
    state.counters["paper_m"] = rows * 25.4 / 203 / 1000;
    state.counters["MiB"] = static_cast<double>(after - before) / 1024;
    state.counters["bits_per_dot"] = static_cast<double>(after - before) * 1024 * 8 / dots;
  }
}
BENCHMARK(BM_PaperMemory15m)->Iterations(1)->Unit(benchmark::kMillisecond);

// The render after the Nth receipt (N = the argument), each earlier receipt rendered too, as the
// daemon's --render does after every connection.
template <bool Incremental>
void BM_RenderAfterReceipts(benchmark::State& state) {
  const std::string bytes = receipt(40);
  const auto path = std::filesystem::temp_directory_path() /
                    ("vprinter_bench_" + std::to_string(::getpid()) + (Incremental ? "_inc" : "_full") + ".png");
  auto render = [&](vprinter::virtual_printer& printer) {
    std::string error;
    // Incremental: the printer's own writer, which keeps the encoding of rows printed for good.
    // Otherwise the whole paper is copied out and encoded again, as every write once did.
    const bool ok = Incremental ? printer.write_png(path, &error) : vprinter::write_png(printer.paper(), path, &error);
    if (!ok) {
      std::fprintf(stderr, "vprinter_bench: %s\n", error.c_str());
      std::exit(1);
    }
  };
  for (auto _ : state) {
    state.PauseTiming();
    vprinter::virtual_printer printer(daemon_config());
    for (int i = 1; i < state.range(0); ++i) {
      accept_all(printer, bytes);
      render(printer);
    }
    accept_all(printer, bytes);
    state.ResumeTiming();
    render(printer);
  }
  state.counters["png_KiB"] = static_cast<double>(std::filesystem::file_size(path)) / 1024;
  std::filesystem::remove(path);
}
BENCHMARK_TEMPLATE(BM_RenderAfterReceipts, false)->Arg(10)->Arg(40)->Arg(160)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_RenderAfterReceipts, true)->Arg(10)->Arg(40)->Arg(160)->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace
