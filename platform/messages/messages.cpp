// The process-wide side of messaging: thread identities, the table of live queues, window
// classes, windows and timer owners, and the pumping loops built on a thread's queue.
#include "platform/messages.h"

#include <algorithm>
#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <utility>

#include "thread_queue.h"

namespace platform {
namespace {

using detail::take_mode;
using detail::thread_queue;
using steady = thread_queue::clock;

struct window_record {
  std::string class_key;
  std::string name;
  thread_id owner;
  std::shared_ptr<const window_proc> proc;
};

// Everything shared between threads. The mutex is taken before any queue's own mutex, never after.
struct shared_state {
  std::mutex mutex;
  std::unordered_map<std::uint64_t, std::shared_ptr<thread_queue>> queues;
  std::map<std::string, std::shared_ptr<const window_proc>> classes;
  std::map<std::uint64_t, window_record> windows;  // ordered: creation order
  std::unordered_map<std::uint64_t, std::uint64_t> timer_owners;
  std::uint64_t next_window = 1;
  std::uint64_t next_timer = 1;
};

// Never destroyed, so threads ending during process exit still find it.
shared_state& state() {
  static auto* const instance = new shared_state;
  return *instance;
}

std::atomic<std::uint64_t> next_thread_number{1};
thread_local std::uint64_t tls_thread_number = 0;
thread_local bool tls_queue_gone = false;

std::string fold(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) {
    return static_cast<char>(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c);
  });
  return out;
}

std::uint64_t number(thread_id id) { return static_cast<std::uint64_t>(id); }
std::uint64_t number(window_handle w) { return static_cast<std::uint64_t>(w); }
std::uint64_t number(timer_id t) { return static_cast<std::uint64_t>(t); }

// Removes the thread's queue, windows and timers from the shared tables when the thread ends.
void retire_thread(std::uint64_t thread, const std::shared_ptr<thread_queue>& queue) {
  auto& s = state();
  std::lock_guard lock(s.mutex);
  s.queues.erase(thread);
  std::erase_if(s.windows, [thread](const auto& w) { return number(w.second.owner) == thread; });
  std::erase_if(s.timer_owners, [thread](const auto& t) { return t.second == thread; });
  queue->close();
}

struct queue_holder {
  std::shared_ptr<thread_queue> queue;
  ~queue_holder() {
    tls_queue_gone = true;
    if (queue) {
      retire_thread(number(current_thread_id()), queue);
    }
  }
};

// The calling thread's queue, created on first use; null when it cannot be created or the
// thread is already tearing down its thread-local state.
thread_queue* current_queue() {
  if (tls_queue_gone) {
    return nullptr;
  }
  thread_local queue_holder holder;
  if (!holder.queue) {
    auto queue = std::make_shared<thread_queue>();
    if (!queue->valid()) {
      return nullptr;
    }
    auto& s = state();
    std::lock_guard lock(s.mutex);
    s.queues[number(current_thread_id())] = queue;
    holder.queue = std::move(queue);
  }
  return holder.queue.get();
}

std::shared_ptr<thread_queue> queue_of_locked(shared_state& s, std::uint64_t thread) {
  const auto it = s.queues.find(thread);
  return it == s.queues.end() ? nullptr : it->second;
}

int remaining_ms(steady::time_point end) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(end - steady::now()).count();
  return static_cast<int>(std::max<decltype(left)>(left, 0));
}

}  // namespace

std::uint64_t tick_count_ms() {
  return static_cast<std::uint64_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(steady::now().time_since_epoch()).count());
}

thread_id current_thread_id() {
  if (tls_thread_number == 0) {
    tls_thread_number = next_thread_number.fetch_add(1);
  }
  return thread_id{tls_thread_number};
}

bool ensure_message_queue() { return current_queue() != nullptr; }

bool post_thread_message(thread_id thread, std::uint32_t id, std::int64_t wparam, std::int64_t lparam) {
  std::shared_ptr<thread_queue> queue;
  {
    auto& s = state();
    std::lock_guard lock(s.mutex);
    queue = queue_of_locked(s, number(thread));
  }
  return queue && queue->post(message{window_handle::none, id, wparam, lparam});
}

bool post_message(window_handle window, std::uint32_t id, std::int64_t wparam, std::int64_t lparam) {
  std::shared_ptr<thread_queue> queue;
  {
    auto& s = state();
    std::lock_guard lock(s.mutex);
    const auto it = s.windows.find(number(window));
    if (it == s.windows.end()) {
      return false;
    }
    queue = queue_of_locked(s, number(it->second.owner));
  }
  return queue && queue->post(message{window, id, wparam, lparam});
}

void post_quit_message(int exit_code) {
  if (auto* queue = current_queue()) {
    queue->post_quit(exit_code);
  }
}

bool peek_message(message& out, bool remove) {
  auto* queue = current_queue();
  return queue != nullptr && queue->take(out, remove ? take_mode::remove : take_mode::peek);
}

bool get_message(message& out) {
  auto* queue = current_queue();
  if (queue == nullptr) {
    out = message{window_handle::none, kQuitMessage, -1, 0};
    return false;
  }
  while (!queue->take(out, take_mode::remove)) {
    queue->wait(-1);
  }
  return out.id != kQuitMessage;
}

bool dispatch_message(const message& msg) {
  if (msg.target == window_handle::none) {
    return false;
  }
  std::shared_ptr<const window_proc> proc;
  {
    auto& s = state();
    std::lock_guard lock(s.mutex);
    const auto it = s.windows.find(number(msg.target));
    if (it == s.windows.end()) {
      return false;
    }
    proc = it->second.proc;
  }
  // The handler runs unlocked: it may post, pump, create or destroy windows.
  (*proc)(msg.target, msg.id, msg.wparam, msg.lparam);
  return true;
}

bool pump_messages_for(std::uint32_t ms) {
  const auto end = steady::now() + std::chrono::milliseconds(ms);
  auto* queue = current_queue();
  if (queue == nullptr) {
    std::this_thread::sleep_until(end);
    return true;
  }
  for (;;) {
    message msg;
    while (queue->take(msg, take_mode::remove_unless_quit)) {
      if (msg.id == kQuitMessage) {
        // Leave it for the outer loop, and keep the caller's pace instead of spinning on it.
        std::this_thread::sleep_until(end);
        return false;
      }
      dispatch_message(msg);
      if (steady::now() >= end) {
        return true;
      }
    }
    if (steady::now() >= end) {
      return true;
    }
    queue->wait(remaining_ms(end));
  }
}

bool pump_ready_messages() {
  auto* queue = current_queue();
  if (queue == nullptr) {
    return true;
  }
  for (std::size_t n = queue->ready_count(); n > 0; --n) {
    message msg;
    if (!queue->take(msg, take_mode::remove_unless_quit)) {
      break;
    }
    if (msg.id == kQuitMessage) {
      return false;
    }
    dispatch_message(msg);
  }
  return true;
}

int run_message_loop() {
  message msg;
  while (get_message(msg)) {
    dispatch_message(msg);
  }
  return static_cast<int>(msg.wparam);
}

int queue_fd() {
  auto* queue = current_queue();
  return queue == nullptr ? -1 : queue->fd();
}

bool dispatch_ready_messages(int* exit_code) {
  auto* queue = current_queue();
  if (queue == nullptr) {
    return true;
  }
  // Only what is ready at entry, so that handlers that keep posting cannot starve the host loop.
  for (std::size_t n = queue->ready_count(); n > 0; --n) {
    message msg;
    if (!queue->take(msg, take_mode::remove)) {
      break;
    }
    if (msg.id == kQuitMessage) {
      if (exit_code != nullptr) {
        *exit_code = static_cast<int>(msg.wparam);
      }
      return false;
    }
    dispatch_message(msg);
  }
  return true;
}

bool register_window_class(std::string_view class_name, window_proc proc) {
  if (class_name.empty() || !proc) {
    return false;
  }
  auto& s = state();
  std::lock_guard lock(s.mutex);
  return s.classes.emplace(fold(class_name), std::make_shared<const window_proc>(std::move(proc))).second;
}

bool unregister_window_class(std::string_view class_name) {
  const std::string key = fold(class_name);
  auto& s = state();
  std::lock_guard lock(s.mutex);
  const bool in_use = std::any_of(s.windows.begin(), s.windows.end(),
                                  [&key](const auto& w) { return w.second.class_key == key; });
  return !in_use && s.classes.erase(key) == 1;
}

window_handle create_window(std::string_view class_name, std::string_view window_name) {
  if (current_queue() == nullptr) {
    return window_handle::none;
  }
  const std::string key = fold(class_name);
  auto& s = state();
  std::lock_guard lock(s.mutex);
  const auto cls = s.classes.find(key);
  if (cls == s.classes.end()) {
    return window_handle::none;
  }
  const std::uint64_t handle = s.next_window++;
  s.windows.emplace(handle, window_record{key, std::string(window_name), current_thread_id(), cls->second});
  return window_handle{handle};
}

bool destroy_window(window_handle window) {
  auto& s = state();
  std::lock_guard lock(s.mutex);
  const auto it = s.windows.find(number(window));
  if (it == s.windows.end() || it->second.owner != current_thread_id()) {
    return false;
  }
  if (auto queue = queue_of_locked(s, number(it->second.owner))) {
    for (const timer_id timer : queue->forget_window(window)) {
      s.timer_owners.erase(number(timer));
    }
  }
  s.windows.erase(it);
  return true;
}

window_handle find_window(std::string_view class_name, std::string_view window_name) {
  const std::string key = fold(class_name);
  const std::string name = fold(window_name);
  auto& s = state();
  std::lock_guard lock(s.mutex);
  for (const auto& [handle, record] : s.windows) {
    if ((key.empty() || record.class_key == key) && (name.empty() || fold(record.name) == name)) {
      return window_handle{handle};
    }
  }
  return window_handle::none;
}

thread_id window_thread(window_handle window) {
  auto& s = state();
  std::lock_guard lock(s.mutex);
  const auto it = s.windows.find(number(window));
  return it == s.windows.end() ? thread_id::none : it->second.owner;
}

timer_id set_timer(window_handle window, std::uint32_t interval_ms) {
  const thread_id caller = current_thread_id();
  if (window == window_handle::none && current_queue() == nullptr) {
    return timer_id::none;
  }
  auto& s = state();
  std::lock_guard lock(s.mutex);
  thread_id owner = caller;
  if (window != window_handle::none) {
    const auto it = s.windows.find(number(window));
    if (it == s.windows.end()) {
      return timer_id::none;
    }
    owner = it->second.owner;
  }
  auto queue = queue_of_locked(s, number(owner));
  if (!queue) {
    return timer_id::none;
  }
  // Added under the shared lock so that a window destroyed meanwhile cannot keep a timer.
  const std::uint64_t id = s.next_timer++;
  queue->add_timer(timer_id{id}, window, interval_ms);
  s.timer_owners.emplace(id, number(owner));
  return timer_id{id};
}

bool kill_timer(timer_id timer) {
  auto& s = state();
  std::lock_guard lock(s.mutex);
  const auto it = s.timer_owners.find(number(timer));
  if (it == s.timer_owners.end()) {
    return false;
  }
  auto queue = queue_of_locked(s, it->second);
  s.timer_owners.erase(it);
  return queue && queue->remove_timer(timer);
}

scoped_window_class::scoped_window_class(std::string_view class_name, window_proc proc) {
  if (register_window_class(class_name, std::move(proc))) {
    name_ = class_name;
  }
}

scoped_window_class::~scoped_window_class() {
  if (!name_.empty()) {
    unregister_window_class(name_);
  }
}

scoped_window_class::scoped_window_class(scoped_window_class&& other) noexcept
    : name_(std::exchange(other.name_, std::string())) {}

scoped_window_class& scoped_window_class::operator=(scoped_window_class&& other) noexcept {
  if (this != &other) {
    if (!name_.empty()) {
      unregister_window_class(name_);
    }
    name_ = std::exchange(other.name_, std::string());
  }
  return *this;
}

scoped_window& scoped_window::operator=(scoped_window&& other) noexcept {
  if (this != &other) {
    reset(other.release());
  }
  return *this;
}

window_handle scoped_window::release() { return std::exchange(window_, window_handle::none); }

void scoped_window::reset(window_handle window) {
  if (window_ != window_handle::none) {
    destroy_window(window_);
  }
  window_ = window;
}

scoped_timer& scoped_timer::operator=(scoped_timer&& other) noexcept {
  if (this != &other) {
    reset(other.release());
  }
  return *this;
}

timer_id scoped_timer::release() { return std::exchange(timer_, timer_id::none); }

void scoped_timer::reset(timer_id timer) {
  if (timer_ != timer_id::none) {
    kill_timer(timer_);
  }
  timer_ = timer;
}

}  // namespace platform
