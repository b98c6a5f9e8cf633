// CMonitorDriver against the real I/O monitor and an in-process virtual printer: chunked writes,
// the one retry with the unwritten rest, short chunks, filled reads, reads up to a NUL, the
// asynchronous switch, and failures of the outside object caught.
#include "io/monitor_driver.h"

#include <gtest/gtest.h>

#include <chrono>
#include <set>
#include <string>
#include <vector>

#include "monitor/sim.h"
#include "platform/messages.h"
#include "testing/harness.h"

namespace devsvc {
namespace {

using testing::hex;

// A channel to a fresh sim printer, opened through the monitor as Connect does.
class MonitorDriverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    uri_ = "sim:" + testing::unique_sim_name();
    testing::set_port("DRV1", uri_);
    platform::com_ptr<platform::dispatch> object;
    ASSERT_TRUE(platform::succeeded(platform::create_instance("QuorelServer.Monitor", object)))
        << platform::com_last_error();
    monitor_.AttachDispatch(object.detach(), true);
    ASSERT_EQ(monitor_.GetConnectionStatus("VX40", "DRV1"), 0);
    platform::com_ptr<platform::dispatch> io = monitor_.GetConnection("VX40", "DRV1");
    ASSERT_TRUE(io);
    channel_.AttachDispatch(io.detach(), true);
    ASSERT_EQ(channel_.OpenIO(), kChannelOk);
    printer_ = monitor::sim_printer(uri_);
    ASSERT_NE(printer_, nullptr);
  }
  void TearDown() override {
    if (channel_) channel_.CloseIO();
  }

  // The channel's ReadTimeOut as the monitor holds it.
  std::int32_t read_timeout() {
    return platform::dispatch_client(platform::com_ptr<platform::dispatch>(channel_.dispatch()))
        .get("ReadTimeOut")
        .value.long_or(-1);
  }

  static std::string pattern(std::size_t n) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>('A' + i % 26);
    return s;
  }

  testing::environment env_;
  std::string uri_;
  CMonitorDriver monitor_;
  CMonitorDriver channel_;
  vprinter::virtual_printer* printer_ = nullptr;
};

// A window whose message notes how much the printer has received and posts itself again; it
// runs only while the driver yields to the queue between chunks, so the notes are the chunk ends.
class chunk_observer {
 public:
  explicit chunk_observer(vprinter::virtual_printer* printer) {
    class_ = platform::scoped_window_class("DRVTESTCLASS", [this, printer](auto window, std::uint32_t id, auto, auto) {
      if (id != platform::kUserMessage) return;
      seen.insert(printer->capture().size());
      platform::post_message(window, platform::kUserMessage);
    });
    window_.reset(platform::create_window("DRVTESTCLASS", "observer"));
    platform::post_message(window_.get(), platform::kUserMessage);
  }
  std::set<std::size_t> seen;

 private:
  platform::scoped_window_class class_;
  platform::scoped_window window_;
};

TEST_F(MonitorDriverTest, ChunkedWriteOf1200BytesGoesOutAs512And512And176) {
  const std::string data = pattern(1200);
  chunk_observer observer(printer_);
  channel_.set_pump_flag(1);
  std::int32_t written = -1;
  EXPECT_EQ(channel_.WriteChunked(data, written, 512), kChannelOk);
  EXPECT_EQ(written, 1200);
  EXPECT_EQ(printer_->capture(), data);
  EXPECT_EQ(observer.seen, (std::set<std::size_t>{512, 1024, 1200}));
}

TEST_F(MonitorDriverTest, ChunkedWriteWithoutPumpFlagLetsNoMessageRun) {
  chunk_observer observer(printer_);
  std::int32_t written = -1;
  EXPECT_EQ(channel_.WriteChunked(pattern(1100), written, 512), kChannelOk);
  EXPECT_EQ(written, 1100);
  EXPECT_TRUE(observer.seen.empty());
}

TEST_F(MonitorDriverTest, WriteLargeChunksFrom512BytesOn) {
  struct Case {
    std::size_t length;
    std::set<std::size_t> pauses;  // capture sizes seen while pumping
  };
  const Case cases[] = {{511, {}}, {512, {512}}, {1030, {512, 1024, 1030}}};
  channel_.set_pump_flag(1);
  std::size_t before = 0;
  for (const Case& c : cases) {
    chunk_observer observer(printer_);
    std::int32_t written = -1;
    EXPECT_EQ(channel_.WriteLarge(pattern(c.length), written), kChannelOk) << c.length;
    EXPECT_EQ(written, static_cast<std::int32_t>(c.length));
    std::set<std::size_t> pauses;
    for (std::size_t s : observer.seen) pauses.insert(s - before);
    EXPECT_EQ(pauses, c.pauses) << c.length;
    before = printer_->capture().size();
  }
}

TEST_F(MonitorDriverTest, FailedFirstWriteIsRetriedOnceWithTheRestOnly) {
  struct Case {
    int short_write;
    std::int32_t result;
    std::int32_t written;
  };
  // 10 bytes: 6 then the remaining 4 succeed; 4 then 4 leave 2 unwritten and report the time-out.
  const Case cases[] = {{6, kChannelOk, 10}, {4, kChannelTimeout, 8}};
  for (const Case& c : cases) {
    const std::size_t before = printer_->capture().size();
    printer_->inject_fault(vprinter::fault::short_write, c.short_write);
    const std::string data = "0123456789";
    std::int32_t written = -1;
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(channel_.Write(data, written, kWriteModeData), c.result) << c.short_write;
    const auto took = std::chrono::steady_clock::now() - started;
    EXPECT_EQ(written, c.written);
    // Nothing is sent twice: the printer holds exactly the accepted prefix.
    const std::string received = printer_->capture().substr(before);
    EXPECT_EQ(received, data.substr(0, static_cast<std::size_t>(c.written)))
        << "got " << hex(received);
    EXPECT_GE(took, std::chrono::milliseconds(100)) << "the retry waits 100 ms";
    printer_->clear_faults();
  }
}

TEST_F(MonitorDriverTest, ChunkWrittenShortStopsTheTransferAsTimeOut) {
  // Each WriteIO takes 200 bytes: the first chunk gets 200 + 200 of its 512 and the transfer ends.
  printer_->inject_fault(vprinter::fault::short_write, 200);
  const std::string data = pattern(1200);
  std::int32_t written = -1;
  EXPECT_EQ(channel_.WriteChunked(data, written, 512), kChannelTimeout);
  EXPECT_EQ(written, 400);
  EXPECT_EQ(printer_->capture(), data.substr(0, 400));
}

TEST_F(MonitorDriverTest, EmptyChunkedWriteSendsNothing) {
  std::int32_t written = -1;
  EXPECT_EQ(channel_.WriteChunked("", written, 512), kChannelOk);
  EXPECT_EQ(written, 0);
  EXPECT_EQ(printer_->capture(), "");
}

TEST_F(MonitorDriverTest, ShortReadLeavesTheRestOfTheBufferAt0x1E) {
  ASSERT_EQ(channel_.SetReadTimeOut(100), 0);
  // Two status requests queue two answer bytes; a read of four gets those two.
  std::int32_t written = 0;
  ASSERT_EQ(channel_.Write(std::string_view("\x10\x04\x01\x10\x04\x01", 6), written, kWriteModeData), kChannelOk);
  char buffer[4] = {'x', 'x', 'x', 'x'};
  std::int32_t read = -1;
  EXPECT_EQ(channel_.Read(buffer, read), kChannelTimeout);
  EXPECT_EQ(read, 2);
  EXPECT_EQ(buffer[2], 0x1E);
  EXPECT_EQ(buffer[3], 0x1E);
  // DLE EOT 1 of a printer on line: bit 1 set, bits 0 and 4 as fixed, nothing else.
  EXPECT_EQ(static_cast<unsigned char>(buffer[0]) & 0x08, 0);
}

TEST_F(MonitorDriverTest, WriteReadAsksTheIdentity) {
  char identity = 0;
  std::int32_t written = 0;
  std::int32_t read = 0;
  EXPECT_EQ(channel_.WriteRead("\x1D\x49\x31", written, std::span<char>(&identity, 1), read), kChannelOk);
  EXPECT_EQ(written, 3);
  EXPECT_EQ(read, 1);
  EXPECT_EQ(identity, 0x20);
}

TEST_F(MonitorDriverTest, ReadUntilNulKeepsTheNul) {
  std::int32_t written = 0;
  ASSERT_EQ(channel_.Write("\x1D\x49\x42", written, kWriteModeData), kChannelOk);  // GS I B: maker
  std::string answer;
  std::int32_t count = 0;
  EXPECT_EQ(channel_.ReadUntilNul(answer, count), kChannelOk);
  EXPECT_EQ(answer, std::string("_KORVANE\0", 9)) << hex(answer);
  EXPECT_EQ(count, 9);
}

TEST_F(MonitorDriverTest, ReadUntilNulHandsOutNothingOnAFailedRead) {
  ASSERT_EQ(channel_.SetReadTimeOut(50), 0);
  printer_->inject_fault(vprinter::fault::mute);
  std::int32_t written = 0;
  ASSERT_EQ(channel_.Write("\x1D\x49\x42", written, kWriteModeData), kChannelOk);
  std::string answer = "before";
  std::int32_t count = -1;
  EXPECT_EQ(channel_.ReadUntilNul(answer, count), kChannelTimeout);
  EXPECT_EQ(answer, "before");
  EXPECT_EQ(count, -1);
}

TEST_F(MonitorDriverTest, SetAsyncSwitchesPumpFlagAndReadTimeOut) {
  struct Case {
    bool async;
    std::int32_t open_read_timeout;
    std::uint32_t pump_flag;
    std::int32_t read_timeout;
  };
  const Case cases[] = {{true, 700, 1, 25}, {false, 700, 0, 700}, {false, 0, 0, 1000}};
  for (const Case& c : cases) {
    EXPECT_EQ(channel_.SetAsync(c.async, c.open_read_timeout), 0);
    EXPECT_EQ(channel_.pump_flag(), c.pump_flag);
    EXPECT_EQ(read_timeout(), c.read_timeout) << c.async << " " << c.open_read_timeout;
  }
}

TEST_F(MonitorDriverTest, FailingCallsOnTheOutsideObjectAreCaught) {
  // The monitor object has no I/O members: every channel call on it fails inside the object model.
  CMonitorDriver wrong;
  wrong.AttachDispatch(monitor_.dispatch(), false);
  std::int32_t written = -1;
  EXPECT_EQ(wrong.Write("abc", written, kWriteModeData), kChannelOk);
  EXPECT_EQ(written, 0);
  EXPECT_EQ(wrong.WriteChunked("abc", written, 512), kChannelTimeout);
  EXPECT_EQ(written, 0);
  char byte = 0;
  std::int32_t read = -1;
  EXPECT_NE(wrong.Read(std::span<char>(&byte, 1), read), kChannelOk);
  EXPECT_EQ(read, 0);
  wrong.DetachDispatch();
}

}  // namespace
}  // namespace devsvc
