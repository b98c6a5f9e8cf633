// CTimerThread: thread timer, start and stop messages, tick posting to the hidden window.
#include "core/timer_thread.h"

#include "core/device_keys.h"
#include "platform/registry.h"

namespace devsvc {

std::uint32_t PollIntervalFor(std::uint32_t configured_ms) {
  if (configured_ms < kPollIntervalMinMs || configured_ms > kPollIntervalMaxMs) {
    return kPollIntervalDefaultMs;
  }
  return configured_ms;
}

std::uint32_t ReadPollInterval() {
  std::uint32_t configured = 0;
  platform::registry_key key;
  if (platform::registry_key::open(platform::registry_root::local_machine, kPrinterFixedKey, key) ==
      platform::kErrorSuccess) {
    if (key.query_dword("TimeOutLoopMsg", configured) != platform::kErrorSuccess) configured = 0;
  }
  return PollIntervalFor(configured);
}

CTimerThread::CTimerThread(platform::window_handle target) : target_(target) {}

CTimerThread::~CTimerThread() {
  if (!thread_.joinable()) return;
  platform::post_thread_message(thread_id_, platform::kQuitMessage);
  thread_.join();
}

void CTimerThread::Start() {
  if (thread_.joinable()) return;
  thread_ = std::thread([this] { Run(); });
  std::unique_lock lock(mutex_);
  wake_.wait(lock, [this] { return started_; });
}

bool CTimerThread::Post(std::uint32_t id) {
  return thread_id_ != platform::thread_id::none && platform::post_thread_message(thread_id_, id);
}

void CTimerThread::Run() {
  platform::ensure_message_queue();
  const std::uint32_t interval = ReadPollInterval();
  interval_ms_.store(interval);
  platform::scoped_timer timer(platform::set_timer(platform::window_handle::none, interval));
  {
    std::lock_guard lock(mutex_);
    thread_id_ = platform::current_thread_id();
    started_ = true;
  }
  wake_.notify_all();

  platform::message msg;
  while (platform::get_message(msg)) {
    switch (msg.id) {
      case platform::kTimerMessage:
        platform::post_message(target_, kPollTickMessage,
                               static_cast<std::int64_t>(platform::current_thread_id()));
        break;
      case kStartTimerMessage:
        if (timer.get() == platform::timer_id::none) {
          timer.reset(platform::set_timer(platform::window_handle::none, interval));
        }
        break;
      case kStopTimerMessage:
        timer.reset();
        break;
      default:
        platform::dispatch_message(msg);
        break;
    }
  }
}

}  // namespace devsvc
