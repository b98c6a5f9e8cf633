// CBeeper: the cash drawer's beeper thread, which sounds a tone, waits, and repeats until it is
// stopped (while an application waits for a drawer that stays open).
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

namespace devsvc {

// Frequencies a beep may have, in hertz; others are clamped to these bounds.
inline constexpr std::uint32_t kBeepMinHz = 37;
inline constexpr std::uint32_t kBeepMaxHz = 32767;

// `hz` clamped to kBeepMinHz..kBeepMaxHz.
std::uint32_t ClampBeepFrequency(std::int32_t hz);

class CBeeper {
 public:
  // Sounds one tone (frequency in hertz, length in milliseconds); returns at once.
  using sound_function = std::function<void(std::uint32_t hz, std::uint32_t ms)>;

  // Starts the thread: sound the tone at the clamped frequency, wait `duration_ms`, wait
  // `delay_ms`, and again, until stopped. Durations below 1 ms count as 1 ms. `sound` defaults to
  // the platform beep.
  CBeeper(std::int32_t frequency_hz, std::int32_t duration_ms, std::int32_t delay_ms,
          sound_function sound = {});
  // Stops the thread (see Stop).
  ~CBeeper();
  CBeeper(const CBeeper&) = delete;
  CBeeper& operator=(const CBeeper&) = delete;

  // Ends the beeping: wakes the thread from its wait and joins it. Blocks at most for one tone
  // being sounded. Calling it again does nothing.
  void Stop();
  // Tones sounded so far.
  std::uint32_t beeps() const;

 private:
  void Run(std::uint32_t hz, std::uint32_t duration_ms, std::uint32_t delay_ms);
  // Waits `ms` unless stopped meanwhile; false when stopped.
  bool Wait(std::uint32_t ms);

  sound_function sound_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
  std::uint32_t beeps_ = 0;
  std::thread thread_;
};

}  // namespace devsvc
