// Per-thread message queues: messages posted to threads and to handler windows, timers and
// message pumping, with a descriptor through which any event loop can drive a thread's queue.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace platform {

// A thread of this process as a message target; numbers are never reused while the process runs.
enum class thread_id : std::uint64_t { none = 0 };
// A window: a message handler owned by the thread that created it; numbers are never reused.
enum class window_handle : std::uint64_t { none = 0 };
// A timer; numbers are never reused.
enum class timer_id : std::uint64_t { none = 0 };

// Ends get_message and run_message_loop; wparam is the exit code.
inline constexpr std::uint32_t kQuitMessage = 0x0012;
// A timer is due; wparam is its timer_id, target its window (none for a thread timer).
inline constexpr std::uint32_t kTimerMessage = 0x0113;
// First message id free for the program's own messages.
inline constexpr std::uint32_t kUserMessage = 0x0400;
// Shortest timer interval in milliseconds; shorter ones are raised to it.
inline constexpr std::uint32_t kMinTimerIntervalMs = 10;

// One queued message.
struct message {
  window_handle target = window_handle::none;  // none for a thread message
  std::uint32_t id = 0;
  std::int64_t wparam = 0;
  std::int64_t lparam = 0;
};

// Handler of a window class; runs on the window's thread.
using window_proc =
    std::function<void(window_handle window, std::uint32_t id, std::int64_t wparam, std::int64_t lparam)>;

// Milliseconds on a monotonic clock since an arbitrary start; never goes back.
std::uint64_t tick_count_ms();

// The calling thread's identity (does not create its queue).
thread_id current_thread_id();
// Creates the calling thread's queue if needed, so that other threads can post to it; false when
// the system is out of descriptors. Every call below that acts on the calling thread's queue
// creates it too. A thread's queue, windows and timers go away when the thread ends.
bool ensure_message_queue();

// Posts to a thread's queue, from any thread; false when that thread has no queue or has ended.
bool post_thread_message(thread_id thread, std::uint32_t id, std::int64_t wparam = 0,
                         std::int64_t lparam = 0);
// Posts to a window, from any thread; it is dispatched on the window's thread. False when the
// window does not exist.
bool post_message(window_handle window, std::uint32_t id, std::int64_t wparam = 0,
                  std::int64_t lparam = 0);
// Asks the calling thread's loop to end: a kQuitMessage is retrieved once no posted message waits.
void post_quit_message(int exit_code);

// Retrieves the calling thread's next message without blocking: posted messages in order, then a
// quit request, then a due timer. With `remove` false it stays queued. False when none is ready.
bool peek_message(message& out, bool remove);
// Blocks until a message is ready and removes it; false when it is a quit message (or, with
// wparam -1, when the thread's queue cannot be created).
bool get_message(message& out);
// Calls the handler of the message's window; false (and nothing runs) for a thread message or a
// window that no longer exists.
bool dispatch_message(const message& msg);
// Dispatches the calling thread's messages for `ms` milliseconds, sleeping until the next message
// or timer; returns once that time has passed. A quit message is left queued for the outer loop:
// the call then stops dispatching, sleeps out the rest of the time and returns false.
bool pump_messages_for(std::uint32_t ms);
// Dispatches the messages and timers ready now, without sleeping; messages posted meanwhile wait.
// A quit message is left queued for the outer loop: the call then stops and returns false. Lets a
// long transfer yield to the thread's queue between two pieces of work at no cost in time.
bool pump_ready_messages();
// Gets and dispatches messages until a quit message; returns its exit code. Blocks.
int run_message_loop();

// The calling thread's queue descriptor for a host event loop (Qt's QSocketNotifier, poll,
// epoll): readable while a message waits or a timer is due, not readable once they have been
// dispatched. Owned by the queue; -1 when the queue cannot be created. See README.md.
int queue_fd();
// Dispatches the messages and timers ready now without blocking; messages posted meanwhile wait for
// the next call. Returns false when it retrieved a quit message, with its code in *exit_code.
bool dispatch_ready_messages(int* exit_code = nullptr);

// Registers a window class by name (case-insensitive); false when the name is taken or empty.
bool register_window_class(std::string_view class_name, window_proc proc);
// False when the class does not exist or windows of it still exist.
bool unregister_window_class(std::string_view class_name);
// Creates a window owned by the calling thread; none when the class does not exist.
window_handle create_window(std::string_view class_name, std::string_view window_name);
// Destroys a window of the calling thread with its timers and queued messages; false when it does
// not exist or belongs to another thread.
bool destroy_window(window_handle window);
// The first window (in creation order) whose class and name match case-insensitively; an empty
// class or name matches any. None when there is no such window.
window_handle find_window(std::string_view class_name, std::string_view window_name);
// The thread that owns a window; none when the window does not exist.
thread_id window_thread(window_handle window);

// Starts a repeating timer for a window (messages go to the window's thread) or, with none, for
// the calling thread. At most one timer message per timer waits at a time; it is made when
// retrieved, so a timer killed meanwhile delivers nothing. Returns none for a missing window.
timer_id set_timer(window_handle window, std::uint32_t interval_ms);
// Stops a timer, from any thread; false when it does not exist.
bool kill_timer(timer_id timer);

// Owns a window class registration; unregisters it on destruction.
class scoped_window_class {
 public:
  scoped_window_class() = default;
  scoped_window_class(std::string_view class_name, window_proc proc);
  ~scoped_window_class();
  scoped_window_class(scoped_window_class&& other) noexcept;
  scoped_window_class& operator=(scoped_window_class&& other) noexcept;
  scoped_window_class(const scoped_window_class&) = delete;
  scoped_window_class& operator=(const scoped_window_class&) = delete;

  bool registered() const { return !name_.empty(); }

 private:
  std::string name_;
};

// Owns a window of the calling thread; destroys it on destruction.
class scoped_window {
 public:
  scoped_window() = default;
  explicit scoped_window(window_handle window) : window_(window) {}
  ~scoped_window() { reset(); }
  scoped_window(scoped_window&& other) noexcept : window_(other.release()) {}
  scoped_window& operator=(scoped_window&& other) noexcept;
  scoped_window(const scoped_window&) = delete;
  scoped_window& operator=(const scoped_window&) = delete;

  window_handle get() const { return window_; }
  window_handle release();
  void reset(window_handle window = window_handle::none);

 private:
  window_handle window_ = window_handle::none;
};

// Owns a timer; kills it on destruction.
class scoped_timer {
 public:
  scoped_timer() = default;
  explicit scoped_timer(timer_id timer) : timer_(timer) {}
  ~scoped_timer() { reset(); }
  scoped_timer(scoped_timer&& other) noexcept : timer_(other.release()) {}
  scoped_timer& operator=(scoped_timer&& other) noexcept;
  scoped_timer(const scoped_timer&) = delete;
  scoped_timer& operator=(const scoped_timer&) = delete;

  timer_id get() const { return timer_; }
  timer_id release();
  void reset(timer_id timer = timer_id::none);

 private:
  timer_id timer_ = timer_id::none;
};

}  // namespace platform
