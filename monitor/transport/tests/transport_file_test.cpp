// The capture-file transport: appending capture, reads that never wait, a missing folder, and a
// FIFO whose reader goes away (an error result, never a SIGPIPE).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <iterator>

#include "monitor/transport.h"
#include "platform/testing/temp_dir.h"

namespace monitor {
namespace {

std::string contents(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

TEST(TransportFileTest, CapturesEveryByteAndAppendsAcrossOpens) {
  platform::testing::temp_dir dir;
  const std::filesystem::path capture = dir / "out.prn";
  std::unique_ptr<transport> printer = make_transport("file:" + capture.string());
  ASSERT_NE(printer, nullptr);

  const std::string first("\x1b@abc\x00\xff\n", 8);
  ASSERT_EQ(printer->open(100), kResultOk) << printer->last_error().description;
  const write_result written = printer->write(first, 1000);
  EXPECT_EQ(written.result, kResultOk);
  EXPECT_EQ(written.count, first.size());
  printer->close();

  ASSERT_EQ(printer->open(100), kResultOk);
  EXPECT_EQ(printer->write("second", 1000).result, kResultOk);
  EXPECT_EQ(printer->write("", 1000).count, 0u);
  printer.reset();
  EXPECT_EQ(contents(capture), first + "second");
}

TEST(TransportFileTest, ReadsTimeOutAtOnce) {
  platform::testing::temp_dir dir;
  std::unique_ptr<transport> printer = make_transport("file:" + (dir / "out.prn").string());
  ASSERT_EQ(printer->open(100), kResultOk);
  const auto start = std::chrono::steady_clock::now();
  const read_result got = printer->read(1, 10000);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2000));
  EXPECT_EQ(got.result, kResultTimeout);
  EXPECT_EQ(got.bytes, "");
  EXPECT_NE(printer->last_error().description.find("never answers"), std::string::npos);
  EXPECT_TRUE(printer->is_open());
}

TEST(TransportFileTest, MissingFolderIsReportedWithItsReason) {
  platform::testing::temp_dir dir;
  std::unique_ptr<transport> printer =
      make_transport("file:" + (dir / "no-such-folder" / "out.prn").string());
  EXPECT_EQ(printer->open(100), kResultOffline);
  EXPECT_NE(printer->last_error().description.find("(ENOENT)"), std::string::npos)
      << printer->last_error().description;
  EXPECT_FALSE(printer->is_open());
}

TEST(TransportFileTest, FifoWithoutOrLosingItsReaderIsALostLink) {
  platform::testing::temp_dir dir;
  const std::filesystem::path fifo = dir / "pipe";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::unique_ptr<transport> printer = make_transport("file:" + fifo.string());

  // Nobody reading: the open fails at once rather than blocking.
  EXPECT_EQ(printer->open(100), kResultOffline);
  EXPECT_NE(printer->last_error().description.find("(ENXIO)"), std::string::npos)
      << printer->last_error().description;

  const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(reader, 0);
  ASSERT_EQ(printer->open(100), kResultOk);
  EXPECT_EQ(printer->write("ok", 1000).result, kResultOk);
  char buffer[8] = {};
  EXPECT_EQ(::read(reader, buffer, sizeof buffer), 2);

  // The reader goes: the write fails with EPIPE and the process lives on.
  ::close(reader);
  const write_result lost = printer->write("lost", 1000);
  EXPECT_EQ(lost.result, kResultOffline);
  EXPECT_EQ(lost.count, 0u);
  EXPECT_EQ(printer->last_error().os_error, EPIPE);
  EXPECT_FALSE(printer->is_open());
}

}  // namespace
}  // namespace monitor
