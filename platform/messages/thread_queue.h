// One thread's message queue: posted messages, a pending quit, timers, and the descriptors that
// make the queue visible to poll/epoll.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

#include "platform/messages.h"

namespace platform::detail {

// A file descriptor closed on destruction.
class unique_fd {
 public:
  unique_fd() = default;
  explicit unique_fd(int fd) : fd_(fd) {}
  ~unique_fd();
  unique_fd(unique_fd&& other) noexcept : fd_(other.release()) {}
  unique_fd& operator=(unique_fd&& other) noexcept;
  unique_fd(const unique_fd&) = delete;
  unique_fd& operator=(const unique_fd&) = delete;

  int get() const { return fd_; }
  int release();

 private:
  int fd_ = -1;
};

// How take() treats the next message.
enum class take_mode {
  peek,                // leave it queued
  remove,              // remove it
  remove_unless_quit,  // remove it unless it is a quit message
};

// A message queue. Posting, timers and closing are safe from any thread; take() and wait() are
// called by the owning thread only. The epoll descriptor is readable exactly while take() would
// find something: a posted message, a quit request or a due timer.
class thread_queue {
 public:
  using clock = std::chrono::steady_clock;

  thread_queue();
  thread_queue(const thread_queue&) = delete;
  thread_queue& operator=(const thread_queue&) = delete;

  // False when a descriptor could not be created; such a queue accepts nothing.
  bool valid() const { return epoll_.get() >= 0; }
  // Readable while something is ready to be taken.
  int fd() const { return epoll_.get(); }

  // Appends a message; false once the queue is closed.
  bool post(const message& msg);
  // Records a quit request, taken after the posted messages.
  void post_quit(int exit_code);
  // Next message as described by `mode`; false when nothing is ready.
  bool take(message& out, take_mode mode);
  // Number of messages ready now (posted, quit, due timers).
  std::size_t ready_count();
  // Blocks until something is ready or `timeout_ms` passes (-1: no limit).
  void wait(int timeout_ms);

  // Adds a repeating timer that first fires one interval from now.
  void add_timer(timer_id id, window_handle target, std::uint32_t interval_ms);
  // False when there is no such timer.
  bool remove_timer(timer_id id);
  // Drops a destroyed window's queued messages and timers; returns the timers removed.
  std::vector<timer_id> forget_window(window_handle window);
  // Refuses further posts and drops everything queued.
  void close();

 private:
  struct timer_entry {
    timer_id id;
    window_handle target;
    clock::time_point due;
    clock::duration interval;
  };

  void update_event_locked();
  void arm_timer_locked();

  std::mutex mutex_;
  std::deque<message> posted_;
  bool quit_pending_ = false;
  int quit_code_ = 0;
  std::vector<timer_entry> timers_;
  bool closed_ = false;
  bool event_signalled_ = false;
  unique_fd event_;  // eventfd: readable while a message or quit request waits
  unique_fd timer_;  // timerfd: armed to the earliest timer, readable once it is due
  unique_fd epoll_;  // watches both
};

}  // namespace platform::detail
