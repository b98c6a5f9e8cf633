// The sim transport: URI options and their errors, one printer per URI, the printer's link
// faults as transport results, and the capture and render files written at the last close.
#include <fstream>
#include <iterator>
#include <thread>

#include <gtest/gtest.h>

#include "monitor/sim.h"
#include "monitor_fixture.h"

namespace monitor {
namespace {

using monitor_test::bytes;
using monitor_test::elapsed_ms;
using monitor_test::hex;
using std::chrono::steady_clock;

class SimTransportTest : public ::testing::Test {
 protected:
  void SetUp() override { register_sim_transport(); }

  // A unique URI per test, so that printers of earlier tests do not interfere.
  static std::string unique_uri(const std::string& options = "") {
    static int counter = 0;
    return "sim:unit" + std::to_string(++counter) + options;
  }

  static std::unique_ptr<transport> open_transport(const std::string& uri) {
    std::string error;
    std::unique_ptr<transport> t = make_transport(*parse_sim_uri(uri).uri, &error);
    EXPECT_NE(t, nullptr) << error;
    if (t) {
      EXPECT_EQ(t->open(0), kResultOk) << t->last_error().description;
    }
    return t;
  }

  platform::testing::temp_dir dir_;
};

TEST_F(SimTransportTest, MalformedUrisAreRefusedWithTheReason) {
  struct row {
    const char* uri;
    const char* says;
  };
  const row rows[] = {
      {"sim:?colour=red", "option 'colour' is unknown"},
      {"sim:?fault=on_fire", "fault 'on_fire' is unknown"},
      {"sim:?fault=slow=fast", "not a number"},
      {"sim:?id=300", "is not a byte"},
      {"sim:?id=", "is not a byte"},
      {"sim:?capture=out.bin", "not an absolute path"},
      {"sim:?render=", "not an absolute path"},
      {"sim:?model=", "model needs a name"},
      {"sim:?model=A&model=B", "given twice"},
      {"socket://127.0.0.1", "expected sim:"},
  };
  for (const row& r : rows) {
    std::string error;
    EXPECT_EQ(sim_printer(r.uri, &error), nullptr) << r.uri;
    EXPECT_NE(error.find(r.says), std::string::npos) << r.uri << ": " << error;
  }
}

TEST_F(SimTransportTest, OnePrinterPerUriWithRepeatedFaultsMerged) {
  const std::string base = unique_uri();
  vprinter::virtual_printer* repeated = sim_printer(base + "?fault=cover_open&fault=mute");
  ASSERT_NE(repeated, nullptr);
  EXPECT_EQ(sim_printer(base + "?fault=cover_open,mute"), repeated);
  EXPECT_EQ(sim_printer(base + "?FAULT=cover_open+fault=mute"), repeated);
  EXPECT_NE(sim_printer(base + "?fault=mute,cover_open"), nullptr);
  EXPECT_NE(sim_printer(base), repeated);
  EXPECT_TRUE(repeated->has_fault(vprinter::fault::cover_open));
  EXPECT_TRUE(repeated->has_fault(vprinter::fault::mute));
  EXPECT_FALSE(sim_printer(base)->has_fault(vprinter::fault::cover_open));
}

TEST_F(SimTransportTest, IdentityOptionsReachThePrinter) {
  const std::unique_ptr<transport> t = open_transport(unique_uri("?id=0x2E&model=VX40C"));
  ASSERT_TRUE(t);
  EXPECT_EQ(t->write(bytes({0x1D, 0x49, 0x01}), 100).result, kResultOk);
  const read_result id = read_exact(*t, 1, 500);
  EXPECT_EQ(id.result, kResultOk);
  EXPECT_EQ(hex(id.bytes), "2E");
}

TEST_F(SimTransportTest, ReadWaitsForTheTimeOutWhenThePrinterIsMute) {
  const std::unique_ptr<transport> t = open_transport(unique_uri("?fault=mute"));
  ASSERT_TRUE(t);
  EXPECT_EQ(t->write(bytes({0x10, 0x04, 0x01}), 100).result, kResultOk);
  const auto start = steady_clock::now();
  const read_result r = t->read(1, 100);
  EXPECT_EQ(r.result, kResultTimeout);
  EXPECT_GE(elapsed_ms(start), 90);
  EXPECT_LT(elapsed_ms(start), 2000);
}

TEST_F(SimTransportTest, ShortWriteReportsTheCountTaken) {
  const std::string uri = unique_uri("?fault=short_write=3");
  const std::unique_ptr<transport> t = open_transport(uri);
  ASSERT_TRUE(t);
  const write_result r = t->write("ABCDEFGHIJ", 500);
  EXPECT_EQ(r.result, kResultTimeout);
  EXPECT_EQ(r.count, 3u);
  EXPECT_EQ(sim_printer(uri)->capture(), "ABC");
}

TEST_F(SimTransportTest, SlowPrinterEndsALongWriteAtTheTimeOut) {
  const std::string uri = unique_uri("?fault=slow=1000");  // 1 ms per byte
  const std::unique_ptr<transport> t = open_transport(uri);
  ASSERT_TRUE(t);
  const auto start = steady_clock::now();
  const write_result r = t->write(std::string(2000, 'x'), 100);
  EXPECT_EQ(r.result, kResultTimeout);
  EXPECT_GT(r.count, 0u);
  EXPECT_LT(r.count, 2000u);
  EXPECT_EQ(sim_printer(uri)->capture().size(), r.count);
  EXPECT_LT(elapsed_ms(start), 2000);
}

TEST_F(SimTransportTest, BusyPrinterHoldsDataBackUntilTheWriteTimeOut) {
  const std::string uri = unique_uri("?fault=busy");
  const std::unique_ptr<transport> t = open_transport(uri);
  ASSERT_TRUE(t);
  // A full receive buffer does not refuse the write at once: a real link (a full TCP send
  // buffer, serial flow control) holds the bytes back until the write time-out, and then the
  // write ends as a time-out with the count taken, not as "busy".
  const auto start = steady_clock::now();
  const write_result data = t->write("text", 50);
  EXPECT_EQ(data.result, kResultTimeout);
  EXPECT_EQ(data.count, 0u);
  EXPECT_GE(elapsed_ms(start), 40);
  EXPECT_LT(elapsed_ms(start), 2000);
  EXPECT_TRUE(sim_printer(uri)->capture().empty());
  // Real-time status requests still get in.
  EXPECT_EQ(t->write(bytes({0x10, 0x04, 0x01}), 50).result, kResultOk);

  // A write that waits is taken whole as soon as the buffer has room again.
  std::thread room([printer = sim_printer(uri)] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    printer->clear_fault(vprinter::fault::busy);
  });
  const write_result waited = t->write("text", 10000);
  room.join();
  EXPECT_EQ(waited.result, kResultOk);
  EXPECT_EQ(waited.count, 4u);
  EXPECT_EQ(sim_printer(uri)->capture(), bytes({0x10, 0x04, 0x01}) + "text");
}

TEST_F(SimTransportTest, DisconnectedPrinterDropsTheLinkUntilCleared) {
  const std::string uri = unique_uri();
  vprinter::virtual_printer* printer = sim_printer(uri);
  const std::unique_ptr<transport> t = open_transport(uri);
  ASSERT_TRUE(t);
  EXPECT_EQ(sim_open_channels(uri), 1);

  printer->inject_fault(vprinter::fault::disconnect);
  EXPECT_EQ(t->write("x", 100).result, kResultOffline);
  EXPECT_FALSE(t->is_open());
  EXPECT_EQ(sim_open_channels(uri), 0);
  EXPECT_EQ(t->open(100), kResultOffline);
  EXPECT_NE(t->last_error().description.find("disconnected"), std::string::npos);

  printer->clear_fault(vprinter::fault::disconnect);
  EXPECT_EQ(t->open(100), kResultOk);
  EXPECT_EQ(t->write("y", 100).result, kResultOk);
  EXPECT_EQ(printer->capture(), "y");
}

TEST_F(SimTransportTest, LastCloseWritesCaptureAndRender) {
  const std::string capture = (dir_ / "capture.bin").string();
  const std::string render = (dir_ / "paper.png").string();
  const std::string uri = unique_uri("?capture=" + capture + "&render=" + render);
  const std::unique_ptr<transport> first = open_transport(uri);
  const std::unique_ptr<transport> second = open_transport(uri);
  ASSERT_TRUE(first && second);
  EXPECT_EQ(sim_open_channels(uri), 2);
  EXPECT_EQ(first->write(bytes({0x1B, 0x40}) + "Hello\n", 100).result, kResultOk);
  EXPECT_EQ(second->write("World\n", 100).result, kResultOk);

  first->close();
  EXPECT_FALSE(std::filesystem::exists(capture)) << "written before the last channel closed";
  second->close();
  EXPECT_EQ(sim_open_channels(uri), 0);

  std::ifstream captured(capture, std::ios::binary);
  const std::string content((std::istreambuf_iterator<char>(captured)), std::istreambuf_iterator<char>());
  EXPECT_EQ(hex(content), hex(bytes({0x1B, 0x40}) + "Hello\nWorld\n"));
  std::ifstream png(render, std::ios::binary);
  char signature[8] = {};
  png.read(signature, sizeof signature);
  EXPECT_EQ(std::string(signature, 8), "\x89PNG\r\n\x1a\n");
  // Nothing is left behind from the atomic writes.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_.path()), std::filesystem::directory_iterator()), 2);
}

}  // namespace
}  // namespace monitor
