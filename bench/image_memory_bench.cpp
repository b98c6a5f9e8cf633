// Memory of a large picture in the test environment's image windows: a 4000 x 3000 JPEG is
// opened, drawn in an 800 x 600 window, converted to a bitmap, halftoned (Stucki, on the worker
// thread with progress), drawn again, resized to the printable width, saved and printed on the
// in-process virtual printer through the control, as the Testbench program does. After each
// step the process's peak resident set size is printed; the run fails (exit 1) when the growth
// over the connected start exceeds what the image library may hold: the 24-bit working copy
// mapped in memory, the halftone's grey buffer of one byte per pixel, and a margin for the
// decoder and the row buffers.
//
//   image_memory_bench [WIDTH HEIGHT]
#include <sys/resource.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "bench_setup.h"
#include "encoders.h"
#include "monitor/sim.h"
#include "platform/messages.h"
#include "platform/testing/temp_dir.h"
#include "testbench/image_document.h"
#include "testbench/session.h"

namespace {

constexpr const char* kProgram = "image_memory_bench";
constexpr const char* kPort = "VPRN1";
// Room for the JPEG decoder's own buffers, the row buffers and the allocator's slack.
constexpr double kMarginMb = 24.0;

double peak_mb() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;  // kilobytes on Linux
}

class bench_host final : public testbench::session_host {
 public:
  bool ask(std::string_view, bool) override { return true; }
  std::int32_t error_window(std::string_view, std::string_view) override { return testbench::kErrorClear; }
  void pump(int ms) override { platform::pump_messages_for(ms); }
  testbench::debug_command debug_stop(int, std::string&, int&) override {
    return testbench::debug_command::continue_run;
  }
};

[[noreturn]] void fail(const std::string& why) { bench::fail(kProgram, why); }

}  // namespace

int main(int argc, char** argv) {
  int width = 4000, height = 3000;
  if (argc == 3) {
    width = std::atoi(argv[1]);
    height = std::atoi(argv[2]);
  }
  if ((argc != 1 && argc != 3) || width <= 0 || height <= 0) {
    std::fprintf(stderr, "usage: %s [WIDTH HEIGHT]\n", kProgram);
    return 2;
  }

  platform::testing::scoped_registry_dir registry;
  platform::testing::temp_dir files;
  bench::register_library(kProgram, QUOREL_MONITOR_PATH);
  bench::register_library(kProgram, DEVSVC_LIBRARY_PATH);
  bench::register_library(kProgram, PTRCTL_PATH);
  const std::string uri = "sim:image_memory_bench_" + std::to_string(::getpid());
  bench::set_string(kProgram, std::string("SOFTWARE\\Quorel\\Ports\\") + kPort, "Transport", uri);
  const std::string device = "SOFTWARE\\OLEforRetail\\ServiceOPOS\\POSPrinter\\VX40Device";
  bench::set_string(kProgram, device, "", "Korvane.POSPrinter.VX40.1");
  bench::set_string(kProgram, device, "MachineType", "VX40");
  bench::set_string(kProgram, device, "COMMPort", kPort);
  bench::set_string(kProgram, device, "IniSet", KIT_EXAMPLES_DIR "/metrics/VX40.INI");
  vprinter::virtual_printer* printer = monitor::sim_printer(uri);
  if (printer == nullptr) fail("no virtual printer at " + uri);

  // The picture: a diagonal colour sweep, written row by row.
  const std::filesystem::path jpeg = files.path() / "large.jpg";
  if (!imaging::test::write_jpeg(jpeg.string(), width, height, [&](int x, int y, std::uint8_t* rgb) {
        rgb[0] = static_cast<std::uint8_t>(x * 255 / width);
        rgb[1] = static_cast<std::uint8_t>(y * 255 / height);
        rgb[2] = static_cast<std::uint8_t>((x + y) % 256);
      })) {
    fail("cannot write " + jpeg.string());
  }

  testbench::settings config(TESTBENCH_DATA_DIR);
  config.apply_first_run();
  config.set_int(testbench::kSectionSettings, "PrintInfoImage", 1);
  config.set_int(testbench::kSectionSettings, "CutPaperForPrintImage", 1);
  bench_host host;
  testbench::session s(config, host);
  if (!s.create_control() || !s.connect("VX40Device")) fail("cannot connect: " + s.log().text());

  const double start = peak_mb();
  std::printf("%s: %d x %d JPEG (%.1f MB on disk)\n", kProgram, width, height,
              static_cast<double>(std::filesystem::file_size(jpeg)) / (1024.0 * 1024.0));
  std::printf("%-34s %10s %10s\n", "step", "peak MB", "growth MB");
  const auto step = [&](const char* name) { std::printf("%-34s %10.1f %10.1f\n", name, peak_mb(), peak_mb() - start); };
  step("connected");

  testbench::CIMGDocument doc;
  if (const int r = doc.open(jpeg.string()); r != 0) fail("open failed with " + std::to_string(r));
  step("JPEG opened");
  imaging::pixel_surface window(800, 600);
  testbench::image_window_state view;
  view.measure(doc);
  view.draw(doc, window, imaging::CPoint{1600, 1200});
  step("JPEG drawn (800 x 600 window)");

  if (const int r = doc.convert_to_bitmap(); r != 0) fail("conversion failed with " + std::to_string(r));
  view.measure(doc);
  step("converted to a 24-bit bitmap");

  int last_done = 0;
  {
    testbench::filter_job job(doc, testbench::kFilterHalftone, testbench::kHalftoneStucki,
                              [&](int done, int) { last_done = done; });
    job.wait();
  }
  if (doc.bit_count() != 1 || last_done != height) fail("the halftone did not run to the end");
  view.draw(doc, window, imaging::CPoint{1600, 1200});
  step("halftoned (Stucki) and drawn");

  view.toggle_guide_lines(s, doc);
  const std::int32_t printable = view.printable_width();
  if (printable <= 0) fail("no printable width");
  const imaging::CSize fitted{printable, static_cast<int>(static_cast<long long>(height) * printable / width)};
  if (!view.resize(s, doc, fitted)) fail("resize failed");
  step("resized to the printable width");
  if (!doc.save()) fail("save failed");
  step("saved");

  const std::int32_t r = testbench::print_image(s, doc, testbench::kBitmapCenter);
  if (r != 0) fail("print failed: " + s.log().text());
  step("printed");
  const vprinter::bitmap paper = printer->paper();
  std::printf("paper: %d x %d dots\n", paper.width(), paper.height());

  const double working_copy_mb = static_cast<double>(width) * 3.0 * height / (1024.0 * 1024.0);
  const double grey_mb = static_cast<double>(width) * height / (1024.0 * 1024.0);
  const double bound = working_copy_mb + grey_mb + kMarginMb;
  const double growth = peak_mb() - start;
  std::printf("peak growth %.1f MB; bound %.1f MB (working copy %.1f + grey buffer %.1f + margin %.1f)\n", growth,
              bound, working_copy_mb, grey_mb, kMarginMb);
  if (growth > bound) {
    std::printf("%s: FAILED, the growth is above the bound\n", kProgram);
    return 1;
  }
  std::printf("%s: within the bound\n", kProgram);
  return 0;
}
