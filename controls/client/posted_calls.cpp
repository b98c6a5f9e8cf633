// Calls posted onto a control's thread: each control of the C++ API has a window of its thread
// that runs them, at once or from a one-shot timer, whenever that thread dispatches messages.
#include <map>
#include <mutex>
#include <utility>

#include "client_impl.h"

namespace opos {
namespace {

// Window class of the posted-call windows, registered once per process.
constexpr std::string_view kCallsWindowClass = "OPOSPOSTEDCALLS";
// Message to a posted-call window: wparam is the id of a call to start.
constexpr std::uint32_t kStartCall = platform::kUserMessage + 1;

// A call waiting to run: its window, its delay and, once started on the window's thread, its timer.
struct posted_call {
  platform::window_handle window = platform::window_handle::none;
  std::function<void()> action;
  std::uint32_t delay_ms = 0;
  platform::timer_id timer = platform::timer_id::none;
};

// Every call that has not run yet, by id; shared by the threads that post and the ones that run.
class call_table {
 public:
  std::uint64_t add(platform::window_handle window, std::function<void()> action, std::uint32_t delay_ms) {
    const std::lock_guard lock(mutex_);
    const std::uint64_t id = next_id_++;
    calls_.emplace(id, posted_call{window, std::move(action), delay_ms, platform::timer_id::none});
    return id;
  }

  // On the window's thread: a call with a delay gets its timer and waits; one without is taken
  // out and handed back to run.
  std::function<void()> start(std::uint64_t id) {
    const std::lock_guard lock(mutex_);
    const auto found = calls_.find(id);
    if (found == calls_.end()) return {};
    posted_call& call = found->second;
    if (call.delay_ms > 0) {
      call.timer = platform::set_timer(call.window, call.delay_ms);
      if (call.timer != platform::timer_id::none) return {};
    }
    return take(found);
  }

  // On the window's thread: the call whose timer is due, taken out (its timer stopped).
  std::function<void()> due(platform::timer_id timer) {
    const std::lock_guard lock(mutex_);
    for (auto it = calls_.begin(); it != calls_.end(); ++it) {
      if (it->second.timer == timer) return take(it);
    }
    platform::kill_timer(timer);  // a timer of a call dropped meanwhile
    return {};
  }

  bool cancel(std::uint64_t id) {
    const std::lock_guard lock(mutex_);
    const auto found = calls_.find(id);
    if (found == calls_.end()) return false;
    (void)take(found);
    return true;
  }

  void drop_window(platform::window_handle window) {
    const std::lock_guard lock(mutex_);
    for (auto it = calls_.begin(); it != calls_.end();) {
      if (it->second.window == window) {
        if (it->second.timer != platform::timer_id::none) platform::kill_timer(it->second.timer);
        it = calls_.erase(it);
      } else {
        ++it;
      }
    }
  }

 private:
  // Removes a call (stopping its timer) and hands back its action.
  std::function<void()> take(std::map<std::uint64_t, posted_call>::iterator it) {
    if (it->second.timer != platform::timer_id::none) platform::kill_timer(it->second.timer);
    std::function<void()> action = std::move(it->second.action);
    calls_.erase(it);
    return action;
  }

  std::mutex mutex_;
  std::map<std::uint64_t, posted_call> calls_;
  std::uint64_t next_id_ = 1;
};

call_table& calls() {
  static call_table table;
  return table;
}

// Runs a call outside the table's lock: the action may post, cancel or pump messages itself. An
// exception that escapes it stops here, so that it never unwinds through a kit call that pumped.
void calls_window_proc(platform::window_handle, std::uint32_t id, std::int64_t wparam, std::int64_t) {
  std::function<void()> action;
  if (id == kStartCall) action = calls().start(static_cast<std::uint64_t>(wparam));
  if (id == platform::kTimerMessage) action = calls().due(static_cast<platform::timer_id>(wparam));
  if (!action) return;
  try {
    action();
  } catch (...) {
  }
}

}  // namespace

platform::window_handle create_calls_window() {
  static const bool registered = platform::register_window_class(kCallsWindowClass, calls_window_proc);
  (void)registered;
  if (!platform::ensure_message_queue()) return platform::window_handle::none;
  return platform::create_window(kCallsWindowClass, "");
}

void drop_posted_calls(platform::window_handle window) { calls().drop_window(window); }

std::uint64_t post_call(platform::window_handle window, std::function<void()> action, std::uint32_t delay_ms) {
  const std::uint64_t id = calls().add(window, std::move(action), delay_ms);
  // The timer is started on the window's thread, which owns it; the message takes it there.
  if (!platform::post_message(window, kStartCall, static_cast<std::int64_t>(id))) (void)calls().cancel(id);
  return id;
}

bool cancel_posted_call(std::uint64_t id) { return calls().cancel(id); }

}  // namespace opos
