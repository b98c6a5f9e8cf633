// Tests of the drawer's beeper thread: frequencies clamped, tones repeated at their pace, and a
// stop that ends the thread at once even in the middle of a long pause.
#include "drawer/beeper.h"

#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace devsvc {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

// Records the tones the beeper sounds (from the beeper's thread).
struct tone_log {
  struct tone {
    std::uint32_t hz;
    std::uint32_t ms;
  };
  std::mutex mutex;
  std::vector<tone> tones;

  CBeeper::sound_function sound() {
    return [this](std::uint32_t hz, std::uint32_t ms) {
      std::lock_guard lock(mutex);
      tones.push_back({hz, ms});
    };
  }
  std::vector<tone> copy() {
    std::lock_guard lock(mutex);
    return tones;
  }
};

// Waits up to `limit` for the beeper to have sounded `count` tones.
bool wait_for_beeps(const CBeeper& beeper, std::uint32_t count, milliseconds limit) {
  const auto end = steady_clock::now() + limit;
  while (beeper.beeps() < count) {
    if (steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(milliseconds(2));
  }
  return true;
}

TEST(BeeperTest, FrequencyIsClampedToTheSpeakersRange) {
  struct Case {
    std::int32_t given;
    std::uint32_t sounded;
  };
  const Case cases[] = {{-5, 37}, {0, 37}, {36, 37}, {37, 37}, {880, 880}, {32767, 32767}, {32768, 32767}, {1000000, 32767}};
  for (const Case& c : cases) EXPECT_EQ(ClampBeepFrequency(c.given), c.sounded) << c.given;
}

TEST(BeeperTest, RepeatsTheToneUntilStopped) {
  tone_log log;
  CBeeper beeper(40000, 5, 5, log.sound());
  ASSERT_TRUE(wait_for_beeps(beeper, 3, milliseconds(5000)));
  beeper.Stop();
  const std::vector<tone_log::tone> tones = log.copy();
  ASSERT_GE(tones.size(), 3u);
  EXPECT_EQ(tones.size(), beeper.beeps());
  for (const tone_log::tone& t : tones) {
    EXPECT_EQ(t.hz, 32767u);
    EXPECT_EQ(t.ms, 5u);
  }
  // Nothing sounds once stopped.
  std::this_thread::sleep_for(milliseconds(30));
  EXPECT_EQ(log.copy().size(), tones.size());
}

TEST(BeeperTest, KeepsThePaceOfDurationAndDelay) {
  tone_log log;
  const auto started = steady_clock::now();
  CBeeper beeper(880, 40, 60, log.sound());
  ASSERT_TRUE(wait_for_beeps(beeper, 3, milliseconds(5000)));
  const auto elapsed = steady_clock::now() - started;
  beeper.Stop();
  // The third tone comes after two tones and two pauses: at least 200 ms.
  EXPECT_GE(elapsed, milliseconds(200));
}

TEST(BeeperTest, StopEndsALongPauseAtOnce) {
  struct Case {
    const char* name;
    std::int32_t duration_ms;
    std::int32_t delay_ms;
  };
  const Case cases[] = {{"during the tone", 60000, 1}, {"during the pause", 1, 60000}};
  for (const Case& c : cases) {
    tone_log log;
    CBeeper beeper(880, c.duration_ms, c.delay_ms, log.sound());
    ASSERT_TRUE(wait_for_beeps(beeper, 1, milliseconds(5000))) << c.name;
    std::this_thread::sleep_for(milliseconds(20));
    const auto stopping = steady_clock::now();
    beeper.Stop();
    EXPECT_LT(steady_clock::now() - stopping, milliseconds(2000)) << c.name;
    EXPECT_EQ(log.copy().size(), 1u) << c.name;
    beeper.Stop();  // a second stop is harmless
  }
}

TEST(BeeperTest, DurationsBelowOneMillisecondCountAsOne) {
  tone_log log;
  CBeeper beeper(880, 0, -7, log.sound());
  ASSERT_TRUE(wait_for_beeps(beeper, 2, milliseconds(5000)));
  beeper.Stop();
  for (const tone_log::tone& t : log.copy()) EXPECT_EQ(t.ms, 1u);
}

}  // namespace
}  // namespace devsvc
