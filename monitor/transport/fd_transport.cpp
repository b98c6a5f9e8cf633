// The common layer of the descriptor-based transports: one errno table, poll-driven reads and
// writes within a deadline, and the closing of a transport whose link went down.
#include "fd_transport.h"

#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <thread>
#include <utility>

namespace monitor::detail {
namespace {

struct errno_row {
  int error;
  io_action action;
};

// Every errno a transport acts on. ENOSPC is how printer-class drivers say "paper out"; ENXIO,
// ENODEV and EIO are how they say the printer is off or unplugged.
constexpr std::array kErrnoTable = {
    errno_row{EINTR, io_action::retry},
    errno_row{EAGAIN, io_action::wait},
    errno_row{EWOULDBLOCK, io_action::wait},
    errno_row{EINPROGRESS, io_action::wait},
    errno_row{EBUSY, io_action::busy},
    errno_row{ENOSPC, io_action::paper_out},
    errno_row{ENXIO, io_action::offline},
    errno_row{ENODEV, io_action::offline},
    errno_row{ENOENT, io_action::offline},
    errno_row{EIO, io_action::offline},
    errno_row{EPIPE, io_action::offline},
    errno_row{ECONNRESET, io_action::offline},
    errno_row{ECONNREFUSED, io_action::offline},
    errno_row{ECONNABORTED, io_action::offline},
    errno_row{ENOTCONN, io_action::offline},
    errno_row{ESHUTDOWN, io_action::offline},
    errno_row{EHOSTUNREACH, io_action::offline},
    errno_row{EHOSTDOWN, io_action::offline},
    errno_row{ENETUNREACH, io_action::offline},
    errno_row{ENETDOWN, io_action::offline},
    errno_row{ETIMEDOUT, io_action::offline},
};

// Holds SIGPIPE back on this thread for the life of the object, and swallows the one a write to
// a pipe without reader raises, so that a vanished reader is an error result, never a signal.
class sigpipe_guard {
 public:
  sigpipe_guard() {
    sigemptyset(&pipe_set_);
    sigaddset(&pipe_set_, SIGPIPE);
    sigset_t pending;
    sigpending(&pending);
    was_pending_ = sigismember(&pending, SIGPIPE) == 1;
    pthread_sigmask(SIG_BLOCK, &pipe_set_, &old_mask_);
  }
  ~sigpipe_guard() {
    const int saved = errno;
    if (!was_pending_) {
      sigset_t pending;
      sigpending(&pending);
      if (sigismember(&pending, SIGPIPE) == 1) {
        const timespec now{0, 0};
        sigtimedwait(&pipe_set_, nullptr, &now);
      }
    }
    pthread_sigmask(SIG_SETMASK, &old_mask_, nullptr);
    errno = saved;
  }
  sigpipe_guard(const sigpipe_guard&) = delete;
  sigpipe_guard& operator=(const sigpipe_guard&) = delete;

 private:
  sigset_t pipe_set_;
  sigset_t old_mask_;
  bool was_pending_ = false;
};

}  // namespace

io_action classify_errno(int error) {
  for (const errno_row& row : kErrnoTable) {
    if (row.error == error) return row.action;
  }
  return io_action::fatal;
}

std::int32_t result_for(io_action action) {
  switch (action) {
    case io_action::retry:
    case io_action::wait:
      return kResultOk;
    case io_action::busy:
      return kResultBusy;
    case io_action::paper_out:
      return kResultPaperOut;
    case io_action::offline:
      return kResultOffline;
    case io_action::fatal:
      break;
  }
  return kResultFailed;
}

std::string errno_text(int error) {
  std::string text = std::strerror(error);
  if (const char* name = strerrorname_np(error)) {
    text += " (";
    text += name;
    text += ')';
  }
  return text;
}

deadline::deadline(int timeout_ms)
    : unlimited_(timeout_ms < 0),
      end_(std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(timeout_ms, 0))) {}

int deadline::remaining_ms() const {
  if (unlimited_) return -1;
  const auto left = end_ - std::chrono::steady_clock::now();
  if (left <= std::chrono::steady_clock::duration::zero()) return 0;
  return static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(left).count());
}

unique_fd::unique_fd(unique_fd&& other) noexcept
    : sys_(other.sys_), fd_(std::exchange(other.fd_, -1)) {}

unique_fd& unique_fd::operator=(unique_fd&& other) noexcept {
  if (this != &other) {
    reset();
    sys_ = other.sys_;
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

void unique_fd::reset() {
  // close() must not be retried on EINTR: the descriptor is gone either way on Linux.
  if (fd_ >= 0) sys_->close(fd_);
  fd_ = -1;
}

fd_transport::fd_transport(device_uri uri, sys_api& sys)
    : transport(std::move(uri)), sys_(&sys), name_(to_string(this->uri())) {}

fd_transport::~fd_transport() = default;

std::int32_t fd_transport::open(int timeout_ms) {
  if (is_open()) return kResultOk;
  return open_device(timeout_ms);
}

void fd_transport::adopt(unique_fd fd) {
  struct stat info {};
  pipe_like_ = sys_->fstat(fd.get(), &info) == 0 && S_ISFIFO(info.st_mode);
  fd_ = std::move(fd);
}

void fd_transport::close_descriptor() {
  if (!fd_) return;
  close_device();
  fd_.reset();
}

void fd_transport::close() { close_descriptor(); }

std::int32_t fd_transport::link_down(int error, std::string description) {
  close_descriptor();
  return fail(kResultOffline, error, std::move(description));
}

std::int32_t fd_transport::fail_errno(int error, std::string_view what) {
  const io_action action = classify_errno(error);
  std::string description = std::string(what) + " " + name_ + ": " + errno_text(error);
  if (action == io_action::offline) return link_down(error, std::move(description));
  return fail(result_for(action), error, std::move(description));
}

ssize_t fd_transport::write_some(int fd, const char* data, std::size_t size) {
  if (!pipe_like_) return sys_->write(fd, data, size);
  sigpipe_guard guard;
  return sys_->write(fd, data, size);
}

fd_transport::readiness fd_transport::wait_for(short events, const deadline& until, int* error) {
  for (;;) {
    pollfd entry{fd_.get(), events, 0};
    const int ready = sys_->poll(&entry, 1, until.remaining_ms());
    if (ready < 0) {
      if (errno == EINTR) continue;
      *error = errno;
      return readiness::hangup;
    }
    if (ready == 0) return readiness::timed_out;
    if ((entry.revents & events) != 0) return readiness::ready;
    *error = 0;
    return readiness::hangup;
  }
}

write_result fd_transport::write(std::string_view bytes, int timeout_ms) {
  if (!is_open()) return {fail(kResultFailed, 0, name_ + " is not open"), 0};
  if (const std::int32_t link = check_link(); link != kResultOk) return {link, 0};

  const deadline until(timeout_ms);
  std::size_t done = 0;
  bool hung_up = false;
  while (done < bytes.size()) {
    const ssize_t n = write_some(fd_.get(), bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
      continue;
    }
    const int error = n == 0 ? EAGAIN : errno;
    switch (classify_errno(error)) {
      case io_action::retry:
        if (until.expired()) {
          return {fail(kResultTimeout, error, "write to " + name_ + " kept being interrupted"),
                  done};
        }
        continue;
      case io_action::wait: {
        // A device that hung up yet still says "would block" is gone, not slow.
        if (hung_up) return {link_down(0, "write to " + name_ + ": the device hung up"), done};
        int poll_error = 0;
        switch (wait_for(POLLOUT, until, &poll_error)) {
          case readiness::ready:
            continue;
          case readiness::timed_out:
            return {fail(kResultTimeout, 0,
                         "write to " + name_ + ": the device took " + std::to_string(done) +
                             " of " + std::to_string(bytes.size()) + " bytes within " +
                             std::to_string(timeout_ms) + " ms"),
                    done};
          case readiness::hangup:
            if (poll_error != 0) return {fail_errno(poll_error, "poll"), done};
            hung_up = true;  // the next write says why
            continue;
        }
        continue;
      }
      default:
        return {fail_errno(error, "write to"), done};
    }
  }
  return {kResultOk, done};
}

std::size_t fd_transport::write_at_once(std::string_view bytes) {
  if (!is_open() || bytes.empty()) return 0;
  const ssize_t n = write_some(fd_.get(), bytes.data(), bytes.size());
  return n > 0 ? static_cast<std::size_t>(n) : 0;
}

read_result fd_transport::read(std::size_t max, int timeout_ms) {
  if (!is_open()) return {fail(kResultFailed, 0, name_ + " is not open"), {}};
  if (max == 0) return {kResultOk, {}};
  if (const std::string_view reason = no_reads_reason(); !reason.empty()) {
    return {fail(kResultTimeout, 0, "read from " + name_ + ": " + std::string(reason)), {}};
  }

  const deadline until(timeout_ms);
  std::string buffer(max, '\0');
  bool hung_up = false;
  for (;;) {
    const ssize_t n = sys_->read(fd_.get(), buffer.data(), max);
    if (n > 0) {
      buffer.resize(static_cast<std::size_t>(n));
      return {kResultOk, std::move(buffer)};
    }
    const auto no_answer = [&] {
      return read_result{fail(kResultTimeout, 0,
                              "read from " + name_ + ": no data within " +
                                  std::to_string(timeout_ms) + " ms"),
                         {}};
    };
    if (n == 0) {
      if (end_of_input_is_hangup()) {
        return {link_down(0, "read from " + name_ + ": the other end closed the connection"), {}};
      }
      // Some device nodes report "readable" with nothing to read: pause briefly, do not spin.
      const int left = until.remaining_ms();
      if (left == 0) return no_answer();
      std::this_thread::sleep_for(std::chrono::milliseconds(left < 0 ? 10 : std::min(left, 10)));
      continue;
    }
    const int error = errno;
    switch (classify_errno(error)) {
      case io_action::retry:
        if (until.expired()) return no_answer();
        continue;
      case io_action::wait: {
        if (hung_up) return {link_down(0, "read from " + name_ + ": the device hung up"), {}};
        int poll_error = 0;
        switch (wait_for(POLLIN, until, &poll_error)) {
          case readiness::ready:
            continue;
          case readiness::timed_out:
            return no_answer();
          case readiness::hangup:
            if (poll_error != 0) return {fail_errno(poll_error, "poll"), {}};
            hung_up = true;  // the next read says why
            continue;
        }
        continue;
      }
      default:
        return {fail_errno(error, "read from"), {}};
    }
  }
}

}  // namespace monitor::detail
