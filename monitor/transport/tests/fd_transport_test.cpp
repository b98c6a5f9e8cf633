// The common descriptor layer through the system-call seam: interrupted calls, short writes,
// would-block with and without room, busy, paper out and vanished devices, for writes, reads and
// opens.
#include "fd_transport.h"

#include <fcntl.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <deque>
#include <fstream>
#include <iterator>

#include "platform/testing/temp_dir.h"
#include "transport_private.h"

namespace monitor::detail {
namespace {

// Scripted outcome of one call: a byte count (writes), bytes (reads), or an errno.
struct outcome {
  int error = 0;  // non-zero: the call fails with this errno
  int count = 0;  // writes: bytes accepted
  std::string bytes;  // reads: bytes delivered
};
outcome fails(int error) { return {error, 0, {}}; }
outcome takes(int count) { return {0, count, {}}; }
outcome gives(std::string bytes) { return {0, 0, std::move(bytes)}; }

// What a scripted poll reports.
enum class poll_says { timed_out, ready, hangup };

// Real system calls, except for the outcomes a test has queued.
class fake_sys final : public sys_api {
 public:
  std::deque<outcome> opens, writes, reads;
  std::deque<int> flocks;  // errno of each scripted flock
  std::deque<poll_says> polls;
  int write_calls = 0;
  int read_calls = 0;
  std::vector<int> open_flags;

  int open(const char* path, int flags, mode_t mode) override {
    open_flags.push_back(flags & O_ACCMODE);
    if (opens.empty()) return sys_api::open(path, flags, mode);
    const outcome next = pop(opens);
    errno = next.error;
    return next.error != 0 ? -1 : sys_api::open(path, flags, mode);
  }
  ssize_t write(int fd, const void* data, size_t size) override {
    ++write_calls;
    if (writes.empty()) return sys_api::write(fd, data, size);
    const outcome next = pop(writes);
    if (next.error != 0) {
      errno = next.error;
      return -1;
    }
    return std::min<ssize_t>(next.count, static_cast<ssize_t>(size));
  }
  ssize_t read(int fd, void* buffer, size_t size) override {
    ++read_calls;
    if (reads.empty()) return sys_api::read(fd, buffer, size);
    const outcome next = pop(reads);
    if (next.error != 0) {
      errno = next.error;
      return -1;
    }
    const size_t n = std::min(size, next.bytes.size());
    std::copy_n(next.bytes.data(), n, static_cast<char*>(buffer));
    return static_cast<ssize_t>(n);
  }
  int poll(pollfd* fds, nfds_t count, int timeout_ms) override {
    if (polls.empty()) return sys_api::poll(fds, count, timeout_ms);
    switch (pop(polls)) {
      case poll_says::timed_out:
        return 0;
      case poll_says::ready:
        fds[0].revents = fds[0].events;
        return 1;
      case poll_says::hangup:
        fds[0].revents = POLLHUP;
        return 1;
    }
    return 0;
  }
  int flock(int fd, int operation) override {
    if (flocks.empty()) return sys_api::flock(fd, operation);
    errno = pop(flocks);
    return -1;
  }

 private:
  template <typename T>
  static T pop(std::deque<T>& queue) {
    T front = queue.front();
    queue.pop_front();
    return front;
  }
};

// A printer-class device transport over a temporary file standing in for the device node.
class TransportFdTest : public ::testing::Test {
 protected:
  void SetUp() override { std::ofstream(node_).flush(); }

  std::unique_ptr<transport> make_device() {
    return make_chardev_transport(*parse_device_uri("usblp:" + node_.string()).uri, sys_);
  }
  std::string node_contents() const {
    std::ifstream in(node_, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }

  platform::testing::temp_dir dir_;
  std::filesystem::path node_ = dir_ / "lp0";
  fake_sys sys_;
};

TEST_F(TransportFdTest, WriteRoutesEachErrorAsClassified) {
  struct write_case {
    const char* what;
    std::deque<outcome> writes;
    std::deque<poll_says> polls;
    std::int32_t result;
    std::size_t count;
    bool still_open;
    const char* text;  // part of the last error's description ("" when no failure)
  };
  const write_case cases[] = {
      {"EINTR is retried", {fails(EINTR)}, {}, kResultOk, 10, true, ""},
      {"short writes go on until all is taken", {takes(3), takes(4)}, {}, kResultOk, 10, true,
       ""},
      {"would-block waits for room", {fails(EAGAIN)}, {poll_says::ready}, kResultOk, 10, true, ""},
      {"no room in time: time-out with the count so far",
       {takes(3), fails(EAGAIN)}, {poll_says::timed_out}, kResultTimeout, 3, true,
       "took 3 of 10 bytes"},
      {"EBUSY is busy", {fails(EBUSY)}, {}, kResultBusy, 0, true, "(EBUSY)"},
      {"ENOSPC is paper out, keeping the count", {takes(4), fails(ENOSPC)}, {}, kResultPaperOut,
       4, true, "(ENOSPC)"},
      {"ENODEV drops the link", {takes(2), fails(ENODEV)}, {}, kResultOffline, 2, false,
       "(ENODEV)"},
      {"EIO drops the link", {fails(EIO)}, {}, kResultOffline, 0, false, "(EIO)"},
      {"EPIPE drops the link", {fails(EPIPE)}, {}, kResultOffline, 0, false, "(EPIPE)"},
      {"hang-up while blocked drops the link", {fails(EAGAIN), fails(EAGAIN)},
       {poll_says::hangup}, kResultOffline, 0, false, "hung up"},
      {"other errors are failures", {fails(EACCES)}, {}, kResultFailed, 0, true, "(EACCES)"},
  };
  for (const write_case& c : cases) {
    SCOPED_TRACE(c.what);
    std::unique_ptr<transport> device = make_device();
    ASSERT_EQ(device->open(100), kResultOk);
    sys_.writes = c.writes;
    sys_.polls = c.polls;
    const write_result got = device->write("0123456789", 1000);
    EXPECT_EQ(got.result, c.result) << device->last_error().description;
    EXPECT_EQ(got.count, c.count);
    EXPECT_EQ(device->is_open(), c.still_open);
    if (c.result != kResultOk) {
      EXPECT_EQ(device->last_error().number, c.result);
      EXPECT_NE(device->last_error().description.find(c.text), std::string::npos)
          << device->last_error().description;
      EXPECT_NE(device->last_error().description.find(node_.string()), std::string::npos);
    }
    EXPECT_TRUE(sys_.writes.empty()) << "not every scripted write happened";
    EXPECT_TRUE(sys_.polls.empty()) << "not every scripted poll happened";
  }
}

TEST_F(TransportFdTest, WriteAfterShortWritesDeliversEveryByteOnce) {
  std::unique_ptr<transport> device = make_device();
  ASSERT_EQ(device->open(100), kResultOk);
  sys_.writes = {fails(EINTR), fails(EAGAIN)};
  sys_.polls = {poll_says::ready};
  EXPECT_EQ(device->write("hello", 1000).result, kResultOk);
  EXPECT_EQ(node_contents(), "hello");
}

TEST_F(TransportFdTest, ReadRoutesEachErrorAsClassified) {
  struct read_case {
    const char* what;
    std::deque<outcome> reads;
    std::deque<poll_says> polls;
    std::int32_t result;
    std::string bytes;
    bool still_open;
  };
  const read_case cases[] = {
      {"EINTR is retried", {fails(EINTR), gives("ab")}, {}, kResultOk, "ab", true},
      {"would-block waits for data", {fails(EAGAIN), gives("xy")}, {poll_says::ready}, kResultOk,
       "xy", true},
      {"nothing in time is a time-out", {fails(EAGAIN)}, {poll_says::timed_out}, kResultTimeout,
       "", true},
      {"EIO drops the link", {fails(EIO)}, {}, kResultOffline, "", false},
      {"ENODEV drops the link", {fails(ENODEV)}, {}, kResultOffline, "", false},
      {"hang-up while blocked drops the link", {fails(EAGAIN), fails(EAGAIN)},
       {poll_says::hangup}, kResultOffline, "", false},
  };
  for (const read_case& c : cases) {
    SCOPED_TRACE(c.what);
    std::unique_ptr<transport> device = make_device();
    ASSERT_EQ(device->open(100), kResultOk);
    sys_.reads = c.reads;
    sys_.polls = c.polls;
    const read_result got = device->read(16, 1000);
    EXPECT_EQ(got.result, c.result) << device->last_error().description;
    EXPECT_EQ(got.bytes, c.bytes);
    EXPECT_EQ(device->is_open(), c.still_open);
    EXPECT_TRUE(sys_.reads.empty());
    EXPECT_TRUE(sys_.polls.empty());
  }
}

TEST_F(TransportFdTest, AVanishedDeviceIsReportedThenReopened) {
  std::unique_ptr<transport> device = make_device();
  ASSERT_EQ(device->open(100), kResultOk);
  sys_.writes = {fails(ENODEV)};
  EXPECT_EQ(device->write("abc", 100).result, kResultOffline);
  EXPECT_FALSE(device->is_open());
  EXPECT_EQ(device->last_error().os_error, ENODEV);
  // Later operations say so at once, and the device can be opened again.
  EXPECT_NE(device->write("abc", 100).result, kResultOk);
  ASSERT_EQ(device->open(100), kResultOk);
  EXPECT_EQ(device->write("abc", 100).result, kResultOk);
  EXPECT_EQ(node_contents(), "abc");
}

TEST_F(TransportFdTest, OpenReportsBusyMissingAndWriteOnlyDevices) {
  {
    SCOPED_TRACE("the driver says busy");
    sys_.opens = {fails(EBUSY)};
    std::unique_ptr<transport> device = make_device();
    EXPECT_EQ(device->open(100), kResultBusy);
    EXPECT_FALSE(device->is_open());
  }
  {
    SCOPED_TRACE("another process holds the lock");
    sys_.flocks = {EWOULDBLOCK};
    std::unique_ptr<transport> device = make_device();
    EXPECT_EQ(device->open(100), kResultBusy);
    EXPECT_NE(device->last_error().description.find("in use"), std::string::npos);
    EXPECT_FALSE(device->is_open());
  }
  {
    SCOPED_TRACE("no such device node");
    std::unique_ptr<transport> device =
        make_chardev_transport(*parse_device_uri("usblp:/nonexistent/lp9").uri, sys_);
    EXPECT_EQ(device->open(100), kResultOffline);
    EXPECT_NE(device->last_error().description.find("(ENOENT)"), std::string::npos);
  }
  {
    SCOPED_TRACE("read-write refused, write-only allowed");
    sys_.opens = {fails(EACCES)};
    sys_.open_flags.clear();
    std::unique_ptr<transport> device = make_device();
    ASSERT_EQ(device->open(100), kResultOk);
    EXPECT_EQ(sys_.open_flags, (std::vector<int>{O_RDWR, O_WRONLY}));
    EXPECT_EQ(device->write("z", 100).result, kResultOk);
    const read_result got = device->read(1, 5000);
    EXPECT_EQ(got.result, kResultTimeout);
    EXPECT_NE(device->last_error().description.find("only be opened for writing"),
              std::string::npos);
    EXPECT_EQ(sys_.read_calls, 0);
  }
}

TEST(TransportErrnoTest, UnknownValuesAreFatal) {
  EXPECT_EQ(classify_errno(EINVAL), io_action::fatal);
  EXPECT_EQ(result_for(classify_errno(EINVAL)), kResultFailed);
  EXPECT_NE(errno_text(ECONNREFUSED).find("(ECONNREFUSED)"), std::string::npos);
}

}  // namespace
}  // namespace monitor::detail
