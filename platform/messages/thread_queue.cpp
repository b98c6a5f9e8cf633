// One thread's message queue: an eventfd signals posted messages, a timerfd armed to the earliest
// timer signals due timers, and an epoll descriptor joins both for the host loop.
#include "thread_queue.h"

#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <limits>

namespace platform::detail {

unique_fd::~unique_fd() {
  if (fd_ >= 0) {
    ::close(fd_);
  }
}

unique_fd& unique_fd::operator=(unique_fd&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) {
      ::close(fd_);
    }
    fd_ = other.release();
  }
  return *this;
}

int unique_fd::release() {
  const int fd = fd_;
  fd_ = -1;
  return fd;
}

thread_queue::thread_queue()
    : event_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)),
      timer_(::timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK)),
      epoll_(::epoll_create1(EPOLL_CLOEXEC)) {
  if (event_.get() < 0 || timer_.get() < 0 || epoll_.get() < 0) {
    epoll_ = unique_fd();
    return;
  }
  // Level-triggered: the epoll descriptor stays readable as long as either member is.
  for (const int fd : {event_.get(), timer_.get()}) {
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.fd = fd;
    if (::epoll_ctl(epoll_.get(), EPOLL_CTL_ADD, fd, &ev) != 0) {
      epoll_ = unique_fd();
      return;
    }
  }
}

bool thread_queue::post(const message& msg) {
  std::lock_guard lock(mutex_);
  if (closed_ || !valid()) {
    return false;
  }
  posted_.push_back(msg);
  update_event_locked();
  return true;
}

void thread_queue::post_quit(int exit_code) {
  std::lock_guard lock(mutex_);
  if (closed_ || !valid()) {
    return;
  }
  quit_pending_ = true;
  quit_code_ = exit_code;
  update_event_locked();
}

bool thread_queue::take(message& out, take_mode mode) {
  std::lock_guard lock(mutex_);
  if (!posted_.empty()) {
    out = posted_.front();
    const bool is_quit = out.id == kQuitMessage;
    if (mode == take_mode::remove || (mode == take_mode::remove_unless_quit && !is_quit)) {
      posted_.pop_front();
      update_event_locked();
    }
    return true;
  }
  if (quit_pending_) {
    out = message{window_handle::none, kQuitMessage, quit_code_, 0};
    if (mode == take_mode::remove) {
      quit_pending_ = false;
      update_event_locked();
    }
    return true;
  }

  // Timer messages are made on retrieval, so each timer has at most one waiting.
  const auto now = clock::now();
  timer_entry* next = nullptr;
  for (auto& timer : timers_) {
    if (timer.due <= now && (next == nullptr || timer.due < next->due)) {
      next = &timer;
    }
  }
  if (next == nullptr) {
    return false;
  }
  out = message{next->target, kTimerMessage, static_cast<std::int64_t>(next->id), 0};
  if (mode != take_mode::peek) {
    // Keep the rhythm, but a timer that fell behind restarts instead of firing in a burst.
    next->due += next->interval;
    if (next->due <= now) {
      next->due = now + next->interval;
    }
    arm_timer_locked();
  }
  return true;
}

std::size_t thread_queue::ready_count() {
  std::lock_guard lock(mutex_);
  const auto now = clock::now();
  const auto due = std::count_if(timers_.begin(), timers_.end(),
                                 [now](const timer_entry& t) { return t.due <= now; });
  return posted_.size() + (quit_pending_ ? 1 : 0) + static_cast<std::size_t>(due);
}

void thread_queue::wait(int timeout_ms) {
  pollfd pfd{epoll_.get(), POLLIN, 0};
  // An interrupted wait simply returns; the caller looks at the queue and the clock again.
  ::poll(&pfd, 1, timeout_ms);
}

void thread_queue::add_timer(timer_id id, window_handle target, std::uint32_t interval_ms) {
  std::lock_guard lock(mutex_);
  if (closed_ || !valid()) {
    return;
  }
  const auto interval = std::chrono::milliseconds(
      std::clamp<std::uint32_t>(interval_ms, kMinTimerIntervalMs,
                                static_cast<std::uint32_t>(std::numeric_limits<std::int32_t>::max())));
  timers_.push_back(timer_entry{id, target, clock::now() + interval, interval});
  arm_timer_locked();
}

bool thread_queue::remove_timer(timer_id id) {
  std::lock_guard lock(mutex_);
  const auto it = std::find_if(timers_.begin(), timers_.end(),
                               [id](const timer_entry& t) { return t.id == id; });
  if (it == timers_.end()) {
    return false;
  }
  timers_.erase(it);
  arm_timer_locked();
  return true;
}

std::vector<timer_id> thread_queue::forget_window(window_handle window) {
  std::lock_guard lock(mutex_);
  std::erase_if(posted_, [window](const message& m) { return m.target == window; });
  std::vector<timer_id> removed;
  std::erase_if(timers_, [&](const timer_entry& t) {
    if (t.target != window) {
      return false;
    }
    removed.push_back(t.id);
    return true;
  });
  update_event_locked();
  arm_timer_locked();
  return removed;
}

void thread_queue::close() {
  std::lock_guard lock(mutex_);
  closed_ = true;
  posted_.clear();
  quit_pending_ = false;
  timers_.clear();
  update_event_locked();
  arm_timer_locked();
}

void thread_queue::update_event_locked() {
  if (!valid()) {
    return;
  }
  const bool ready = !posted_.empty() || quit_pending_;
  if (ready && !event_signalled_) {
    const std::uint64_t one = 1;
    if (::write(event_.get(), &one, sizeof one) == sizeof one) {
      event_signalled_ = true;
    }
  } else if (!ready && event_signalled_) {
    std::uint64_t count = 0;
    if (::read(event_.get(), &count, sizeof count) == sizeof count) {
      event_signalled_ = false;
    }
  }
}

void thread_queue::arm_timer_locked() {
  if (!valid()) {
    return;
  }
  // Re-arming also clears an expiry that has been read out, so the descriptor is readable only
  // while the earliest timer is due.
  itimerspec setting{};
  if (!timers_.empty()) {
    const auto earliest = std::min_element(timers_.begin(), timers_.end(),
                                           [](const timer_entry& a, const timer_entry& b) {
                                             return a.due < b.due;
                                           })->due;
    auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(earliest.time_since_epoch()).count();
    ns = std::max<decltype(ns)>(ns, 1);  // a zero time would disarm
    setting.it_value.tv_sec = static_cast<time_t>(ns / 1'000'000'000);
    setting.it_value.tv_nsec = static_cast<long>(ns % 1'000'000'000);
  }
  ::timerfd_settime(timer_.get(), TFD_TIMER_ABSTIME, &setting, nullptr);
}

}  // namespace platform::detail
