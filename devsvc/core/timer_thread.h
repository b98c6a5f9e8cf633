// CTimerThread: the poll timer's worker thread. It runs a thread timer and posts the poll-tick
// message to the library's hidden window; it never touches device data.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#include "platform/messages.h"

namespace devsvc {

// Thread messages the timer thread takes: start the timer (if none runs) and stop it.
inline constexpr std::uint32_t kStartTimerMessage = 0x500;
inline constexpr std::uint32_t kStopTimerMessage = 0x501;
// Posted to the hidden window at every tick; wparam is the timer thread's identifier.
inline constexpr std::uint32_t kPollTickMessage = 0x600;

// Posted to the hidden window for a prompt tick of one device; lparam is the device.
inline constexpr std::uint32_t kPromptTickMessage = 0x601;

// Poll interval bounds and default, in milliseconds (registry value TimeOutLoopMsg).
inline constexpr std::uint32_t kPollIntervalMinMs = 100;
inline constexpr std::uint32_t kPollIntervalMaxMs = 2000;
inline constexpr std::uint32_t kPollIntervalDefaultMs = 500;

// The poll interval for a TimeOutLoopMsg value: values outside 100 to 2000 give 500.
std::uint32_t PollIntervalFor(std::uint32_t configured_ms);
// Reads TimeOutLoopMsg under the printer's fixed device key; absent means 500.
std::uint32_t ReadPollInterval();

class CTimerThread {
 public:
  // The thread will post ticks to `target`.
  explicit CTimerThread(platform::window_handle target);
  // Ends the thread's loop and waits for it.
  ~CTimerThread();
  CTimerThread(const CTimerThread&) = delete;
  CTimerThread& operator=(const CTimerThread&) = delete;

  // Starts the thread: it reads the interval, starts its timer and runs its message loop.
  // Returns once the thread can take messages. Blocks briefly.
  void Start();
  // Posts a thread message (kStartTimerMessage, kStopTimerMessage); false before Start.
  bool Post(std::uint32_t id);

  // The thread's identity (none before Start).
  platform::thread_id thread() const { return thread_id_; }
  // The timer interval the thread chose at start, in milliseconds (0 before Start).
  std::uint32_t interval_ms() const { return interval_ms_.load(); }

 private:
  void Run();

  platform::window_handle target_;
  std::thread thread_;
  platform::thread_id thread_id_ = platform::thread_id::none;
  std::atomic<std::uint32_t> interval_ms_{0};
  std::mutex mutex_;
  std::condition_variable wake_;
  bool started_ = false;
};

}  // namespace devsvc
