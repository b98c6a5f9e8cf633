// posutil logo against sim printers in the test's registry, through the real monitor library and
// the real image library with its colour tables.
#include <png.h>

#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "logo/picture.h"
#include "monitor/monitor.h"
#include "monitor/sim.h"
#include "platform/com.h"
#include "platform/registry.h"
#include "platform/testing/scoped_process.h"
#include "platform/testing/temp_dir.h"
#include "platform/testing/server_library.h"
#include "posutil.h"

namespace {

class PosutilLogoTest : public ::testing::Test {
 protected:
  platform::testing::scoped_registry_dir registry_;
  platform::testing::temp_dir dir_;
  std::string uri_;

  void SetUp() override {
    std::string error;
    ASSERT_EQ(platform::testing::register_server_library(QUOREL_MONITOR_PATH, error), platform::kSOk) << error;
    static int counter = 0;
    uri_ = "sim:logo-" + std::to_string(++counter) + "?id=46";
    platform::registry_key key;
    ASSERT_EQ(platform::registry_key::create(platform::registry_root::local_machine,
                                             std::string(monitor::kPortsKey) + "\\COM1", key),
              platform::kErrorSuccess);
    key.set_string("Transport", uri_);
    key.set_string("MachineType", "VX40");
    key.set_string("Name", "Counter");
    // The application folder: the image library and its colour tables.
    std::filesystem::create_symlink(QUOREL_IMG_LIBRARY_PATH, dir_.path() / "libQuorelImg.so");
    for (const auto& table : std::filesystem::directory_iterator(QUOREL_IMG_TABLES_DIR))
      std::filesystem::copy_file(table.path(), dir_.path() / table.path().filename());
  }

  struct outcome {
    int status;
    std::string out;
    std::string err;
  };
  static outcome run(std::vector<std::string> args) {
    std::ostringstream out, err;
    args.insert(args.begin(), "logo");
    const int status = posutil::run(args, out, err);
    return {status, out.str(), err.str()};
  }

  // A 24-bit picture of w x h: a black frame, red inside.
  std::string picture(int w, int h) {
    const std::filesystem::path file = dir_.path() / "logo.bmp";
    const std::uint32_t stride = (static_cast<std::uint32_t>(w) * 3 + 3) & ~3u;
    std::string out = "BM";
    auto put = [&](std::uint32_t v, int n) {
      for (int i = 0; i < n; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
    };
    put(54 + stride * static_cast<std::uint32_t>(h), 4);
    put(0, 4);
    put(54, 4);
    put(40, 4);
    put(static_cast<std::uint32_t>(w), 4);
    put(static_cast<std::uint32_t>(h), 4);
    put(1, 2);
    put(24, 2);
    for (int i = 0; i < 6; ++i) put(0, 4);
    for (int y = 0; y < h; ++y) {
      std::string row;
      for (int x = 0; x < w; ++x) {
        const bool edge = x == 0 || y == 0 || x == w - 1 || y == h - 1;
        row += edge ? std::string(3, '\0') : std::string("\0\0\xff", 3);
      }
      row.resize(stride, '\0');
      out += row;
    }
    std::ofstream(file, std::ios::binary) << out;
    return file.string();
  }

  vprinter::virtual_printer& printer() const { return *monitor::sim_printer(uri_); }

  // Points COM1 at a TCP printer.
  static void use_port_uri(const std::string& uri) {
    platform::registry_key key;
    ASSERT_EQ(platform::registry_key::create(platform::registry_root::local_machine,
                                             std::string(monitor::kPortsKey) + "\\COM1", key),
              platform::kErrorSuccess);
    key.set_string("Transport", uri);
  }
};

TEST_F(PosutilLogoTest, RefusesBadUsage) {
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"frob", "Counter"},
      {"list"},
      {"list", "Counter", "extra"},
      {"list", "Counter", "--key", "00"},
      {"download", "Counter"},
      {"download", "Counter", "a.bmp", "--colors", "pink"},
      {"download", "Counter", "a.bmp", "--key", "ABC"},
      {"print", "Counter"},
      {"print", "Counter", "00", "--all"},
      {"delete", "Counter"},
      {"list", "Counter", "--nonsense"},
  };
  for (const auto& args : cases) {
    SCOPED_TRACE(testing::PrintToString(args));
    const outcome o = run(args);
    EXPECT_EQ(o.status, posutil::kExitUsage);
    EXPECT_EQ(o.err.rfind("posutil: ", 0), 0u) << o.err;
    EXPECT_EQ(std::count(o.err.begin(), o.err.end(), '\n'), 1) << o.err;
  }
  // Nothing reached the printer.
  EXPECT_EQ(printer().capture(), "");
  const outcome help = run({"--help"});
  EXPECT_EQ(help.status, posutil::kExitOk);
  EXPECT_NE(help.out.find("posutil logo download PRINTER FILE.bmp"), std::string::npos);
}

TEST_F(PosutilLogoTest, DownloadListPrintDelete) {
  const std::string file = picture(20, 6);
  const outcome stored = run({"download", "Counter", file, "--key", "7A", "--colors", "two", "--app-dir",
                              dir_.path().string()});
  ASSERT_EQ(stored.status, posutil::kExitOk) << stored.err;
  EXPECT_EQ(stored.out, "stored as 7A\n");
  EXPECT_EQ(printer().state().graphics_keys, std::vector<std::string>{"7A"});

  // Three bytes a row, six rows, two planes.
  const outcome listed = run({"list", "Counter", "--json"});
  ASSERT_EQ(listed.status, posutil::kExitOk) << listed.err;
  EXPECT_EQ(listed.out, "{\"id\":46,\"keys\":[\"7A\"],\"total\":262144,\"free\":262108,\"used\":36}\n");
  EXPECT_EQ(run({"list", "Counter"}).out, "keys 7A\ntotal 262144\nfree 262108\nused 36\n");

  // Printed in black and red: the frame and its inside.
  const outcome printed = run({"print", "Counter", "7A"});
  ASSERT_EQ(printed.status, posutil::kExitOk) << printed.err;
  EXPECT_GT(printer().red_paper().count(), 0);
  const outcome missing = run({"print", "Counter", "7B"});
  EXPECT_EQ(missing.status, posutil::kExitFailure);
  EXPECT_EQ(missing.err, "posutil: the printer holds no logo 7B\n");

  const outcome deleted = run({"delete", "Counter", "7A"});
  ASSERT_EQ(deleted.status, posutil::kExitOk) << deleted.err;
  EXPECT_TRUE(printer().state().graphics_keys.empty());
  EXPECT_EQ(run({"list", "Counter"}).out, "keys\ntotal 262144\nfree 262144\nused 0\n");
}

TEST_F(PosutilLogoTest, NotEnoughMemoryFailsWithTheMessage) {
  // Fill the memory but 64 bytes, then store a logo of 25 x 40 bytes.
  logo::raster plane = logo::make_raster(576, 3640);
  const std::string fill = logo::commands::define_logo("ZZ", std::span<const logo::raster>(&plane, 1), false);
  ASSERT_EQ(printer().accept(fill).accepted, fill.size());
  const outcome o = run({"download", "Counter", picture(200, 40), "--app-dir", dir_.path().string()});
  EXPECT_EQ(o.status, posutil::kExitFailure);
  EXPECT_NE(o.err.find("posutil: Not enough space in memory for this logo.\nDo you want to try the next?\n"),
            std::string::npos)
      << o.err;
  EXPECT_EQ(printer().state().graphics_keys, std::vector<std::string>{"ZZ"});
  // --all deletes every logo.
  EXPECT_EQ(run({"delete", "Counter", "--all"}).status, posutil::kExitOk);
  EXPECT_TRUE(printer().state().graphics_keys.empty());
}

TEST_F(PosutilLogoTest, LogosOfTheDaemonOutliveTheConnectionAndPrintAsStored) {
  // Each posutil run is one connection to the virtual printer's daemon.
  const std::filesystem::path png = dir_.path() / "paper.png";
  platform::testing::scoped_process daemon({VPRINTER_DAEMON_PATH, "--listen", "127.0.0.1:0", "--id", "46",
                                            "--nv-memory", "1000", "--render", png.string()},
                                           dir_.path() / "daemon.log", true);
  const std::string line = daemon.first_line(5000);
  const std::size_t colon = line.rfind(':');
  ASSERT_NE(colon, std::string::npos) << line;
  use_port_uri("socket://127.0.0.1:" + line.substr(colon + 1));

  const std::string file = picture(20, 6);
  const outcome stored = run({"download", "Counter", file, "--colors", "two", "--app-dir", dir_.path().string()});
  ASSERT_EQ(stored.status, posutil::kExitOk) << stored.err;
  EXPECT_EQ(stored.out, "stored as 00\n");
  const outcome listed = run({"list", "Counter", "--json"});
  ASSERT_EQ(listed.status, posutil::kExitOk) << listed.err;
  EXPECT_EQ(listed.out, "{\"id\":46,\"keys\":[\"00\"],\"total\":1000,\"free\":964,\"used\":36}\n");
  const outcome printed = run({"print", "Counter", "00"});
  ASSERT_EQ(printed.status, posutil::kExitOk) << printed.err;
  daemon.stop();

  // The paper: somewhere at the left edge, the black frame of 20 x 6 dots around red.
  png_image img{};
  img.version = PNG_IMAGE_VERSION;
  ASSERT_TRUE(png_image_begin_read_from_file(&img, png.c_str()));
  img.format = PNG_FORMAT_RGB;
  std::vector<unsigned char> rgb(PNG_IMAGE_SIZE(img));
  ASSERT_TRUE(png_image_finish_read(&img, nullptr, rgb.data(), 0, nullptr));
  const auto colour = [&](int x, int y) {
    const unsigned char* p = &rgb[(static_cast<std::size_t>(y) * img.width + static_cast<std::size_t>(x)) * 3];
    if (p[0] < 64 && p[1] < 64 && p[2] < 64) return 'k';
    if (p[0] > 192 && p[1] < 64 && p[2] < 64) return 'r';
    if (p[0] > 192 && p[1] > 192 && p[2] > 192) return 'w';
    return '?';
  };
  int found = -1;
  for (int y0 = 0; found < 0 && y0 + 6 <= static_cast<int>(img.height); ++y0) {
    bool same = true;
    for (int y = 0; same && y < 6; ++y) {
      for (int x = 0; same && x < 24; ++x) {
        const char want = x >= 20 ? 'w' : (x == 0 || y == 0 || x == 19 || y == 5) ? 'k' : 'r';
        same = colour(x, y0 + y) == want;
      }
    }
    if (same) found = y0;
  }
  EXPECT_GE(found, 0) << "the logo is not on the paper";
}

}  // namespace
