// The common layer of the descriptor-based transports: errno classification, deadlines, an owned
// descriptor, and poll-driven read and write with error routing shared by every device kind.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "monitor/transport.h"
#include "sys.h"

namespace monitor::detail {

// What a transport does about an errno value.
enum class io_action {
  retry,  // interrupted: try again at once
  wait,  // would block: poll until the device is ready or the time-out ends
  busy,  // another user holds the device: kResultBusy
  paper_out,  // the printer refuses data for lack of paper: kResultPaperOut
  offline,  // the device or connection is gone: kResultOffline, the transport closes
  fatal,  // anything else: kResultFailed
};

// Looks `error` up in the classification table; unknown values are fatal.
io_action classify_errno(int error);

// The result code that reports `action` (kResultOk for retry and wait).
std::int32_t result_for(io_action action);

// "Connection refused (ECONNREFUSED)": the system's text and the symbolic name of `error`.
std::string errno_text(int error);

// A point in time `timeout_ms` from now (negative: never).
class deadline {
 public:
  explicit deadline(int timeout_ms);
  // Milliseconds left, rounded up, for poll: 0 once passed, -1 when there is no limit.
  int remaining_ms() const;
  bool expired() const { return remaining_ms() == 0; }

 private:
  bool unlimited_;
  std::chrono::steady_clock::time_point end_;
};

// A descriptor owned by one object and closed through the seam when it goes.
class unique_fd {
 public:
  unique_fd() = default;
  unique_fd(sys_api& sys, int fd) : sys_(&sys), fd_(fd) {}
  ~unique_fd() { reset(); }
  unique_fd(unique_fd&& other) noexcept;
  unique_fd& operator=(unique_fd&& other) noexcept;

  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }
  // Closes the descriptor now, if any.
  void reset();

 private:
  sys_api* sys_ = nullptr;
  int fd_ = -1;
};

// A transport over one descriptor. A kind supplies open_device() and, where it differs, how it
// writes, how it sees end of input and what it does before the descriptor closes.
class fd_transport : public transport {
 public:
  fd_transport(device_uri uri, sys_api& sys);
  ~fd_transport() override;

  std::int32_t open(int timeout_ms) override;
  write_result write(std::string_view bytes, int timeout_ms) override;
  std::size_t write_at_once(std::string_view bytes) override;
  read_result read(std::size_t max, int timeout_ms) override;
  void close() override;
  bool is_open() const override { return static_cast<bool>(fd_); }

 protected:
  // Opens the device within `timeout_ms` and adopt()s its descriptor, or returns the failure.
  virtual std::int32_t open_device(int timeout_ms) = 0;
  // Runs before the descriptor closes (a serial port restores its settings here).
  virtual void close_device() {}
  // One write system call.
  virtual ssize_t write_some(int fd, const char* data, std::size_t size);
  // Checks, before a write, that the other end is still there.
  virtual std::int32_t check_link() { return kResultOk; }
  // True when reading 0 bytes means the other end has gone; false when it means "nothing yet".
  virtual bool end_of_input_is_hangup() const { return true; }
  // Why reads are not possible on this transport, or empty when they are.
  virtual std::string_view no_reads_reason() const { return {}; }

  sys_api& sys() const { return *sys_; }
  int fd() const { return fd_.get(); }
  void adopt(unique_fd fd);
  // Records a failed system call (`what` the operation, `error` its errno); an offline result
  // also closes the transport.
  std::int32_t fail_errno(int error, std::string_view what);
  // Closes the transport and reports the link as down.
  std::int32_t link_down(int error, std::string description);
  // "socket://host:9100" for messages.
  const std::string& name() const { return name_; }

 private:
  enum class readiness { ready, timed_out, hangup };
  // Waits until the descriptor is ready for `events`, the time runs out or the other end hangs up.
  readiness wait_for(short events, const deadline& until, int* error);
  void close_descriptor();

  sys_api* sys_;
  unique_fd fd_;
  std::string name_;
  bool pipe_like_ = false;  // writes may raise SIGPIPE, which is held back around them
};

}  // namespace monitor::detail
