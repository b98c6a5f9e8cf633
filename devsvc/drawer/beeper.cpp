// CBeeper: tone, pause, tone, on a thread of its own that touches nothing but the speaker.
#include "drawer/beeper.h"

#include <algorithm>
#include <chrono>

#include "platform/beep.h"

namespace devsvc {

std::uint32_t ClampBeepFrequency(std::int32_t hz) {
  return static_cast<std::uint32_t>(
      std::clamp<std::int32_t>(hz, static_cast<std::int32_t>(kBeepMinHz), static_cast<std::int32_t>(kBeepMaxHz)));
}

CBeeper::CBeeper(std::int32_t frequency_hz, std::int32_t duration_ms, std::int32_t delay_ms,
                 sound_function sound)
    : sound_(sound ? std::move(sound) : sound_function(&platform::beep)) {
  const auto at_least_1 = [](std::int32_t ms) { return static_cast<std::uint32_t>(std::max(ms, 1)); };
  thread_ = std::thread(&CBeeper::Run, this, ClampBeepFrequency(frequency_hz), at_least_1(duration_ms),
                        at_least_1(delay_ms));
}

CBeeper::~CBeeper() { Stop(); }

void CBeeper::Stop() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

std::uint32_t CBeeper::beeps() const {
  std::lock_guard lock(mutex_);
  return beeps_;
}

bool CBeeper::Wait(std::uint32_t ms) {
  std::unique_lock lock(mutex_);
  return !wake_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stopping_; });
}

void CBeeper::Run(std::uint32_t hz, std::uint32_t duration_ms, std::uint32_t delay_ms) {
  for (;;) {
    {
      std::lock_guard lock(mutex_);
      if (stopping_) return;
      ++beeps_;
    }
    sound_(hz, duration_ms);
    // The tone lasts its duration; then the pause. A stop ends either wait at once.
    if (!Wait(duration_ms) || !Wait(delay_ms)) return;
  }
}

}  // namespace devsvc
