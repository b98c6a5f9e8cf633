// CTimerThread: the interval chosen from TimeOutLoopMsg, ticks posted to the hidden window with
// the thread's identity, and the stop and start messages.
#include "core/timer_thread.h"

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <vector>

#include "platform/messages.h"
#include "platform/registry.h"
#include "platform/testing/temp_dir.h"
#include "testing/harness.h"

namespace devsvc {
namespace {

using namespace std::chrono_literals;

TEST(PollInterval, ValuesOutside100To2000Give500) {
  struct Case {
    std::uint32_t configured;
    std::uint32_t interval;
  };
  const Case cases[] = {{0, 500},    {50, 500},    {99, 500},  {100, 100},  {101, 101},
                        {750, 750},  {2000, 2000}, {2001, 500}, {5000, 500}, {0xFFFFFFFF, 500}};
  for (const Case& c : cases) EXPECT_EQ(PollIntervalFor(c.configured), c.interval) << c.configured;
}

// A window that counts the ticks a timer thread posts to it.
class tick_sink {
 public:
  tick_sink() {
    class_ = platform::scoped_window_class(
        "TICKSINKCLASS", [this](auto, std::uint32_t id, std::int64_t wparam, auto) {
          if (id != kPollTickMessage) return;
          ++ticks;
          sender = wparam;
        });
    window_.reset(platform::create_window("TICKSINKCLASS", "sink"));
  }
  platform::window_handle window() const { return window_.get(); }
  int ticks = 0;
  std::int64_t sender = 0;

 private:
  platform::scoped_window_class class_;
  platform::scoped_window window_;
};

TEST(TimerThread, ReadsTheIntervalFromTheFixedKeyAtStart) {
  platform::testing::scoped_registry_dir registry;
  struct Case {
    std::optional<std::uint32_t> configured;
    std::uint32_t interval;
  };
  const Case cases[] = {{std::nullopt, 500}, {50, 500}, {100, 100}, {2000, 2000}, {5000, 500}};
  tick_sink sink;
  for (const Case& c : cases) {
    if (c.configured) testing::set_fixed_dword("TimeOutLoopMsg", *c.configured);
    CTimerThread thread(sink.window());
    EXPECT_EQ(thread.interval_ms(), 0u);
    thread.Start();
    EXPECT_EQ(thread.interval_ms(), c.interval) << (c.configured ? *c.configured : 0);
  }
}

TEST(TimerThread, TicksCarryTheThreadAndStopAndStartMessagesControlThem) {
  platform::testing::scoped_registry_dir registry;
  testing::set_fixed_dword("TimeOutLoopMsg", 100);
  tick_sink sink;
  CTimerThread thread(sink.window());
  thread.Start();

  ASSERT_TRUE(testing::pump_until([&] { return sink.ticks > 0; }, 3s));
  EXPECT_EQ(sink.sender, static_cast<std::int64_t>(thread.thread()));

  // Stopped, the thread posts nothing more (the tick already in flight aside).
  ASSERT_TRUE(thread.Post(kStopTimerMessage));
  platform::pump_messages_for(100);
  const int stopped_at = sink.ticks;
  platform::pump_messages_for(1500);
  EXPECT_EQ(sink.ticks, stopped_at);

  // Started again, it ticks again.
  ASSERT_TRUE(thread.Post(kStartTimerMessage));
  EXPECT_TRUE(testing::pump_until([&] { return sink.ticks > stopped_at; }, 3s));
}

TEST(TimerThread, EndsPromptlyWhenDestroyed) {
  platform::testing::scoped_registry_dir registry;
  tick_sink sink;
  const auto started = std::chrono::steady_clock::now();
  {
    CTimerThread thread(sink.window());
    thread.Start();
    thread.Post(kStopTimerMessage);  // the thread now pauses after handling it
  }
  EXPECT_LT(std::chrono::steady_clock::now() - started, 400ms) << "the pause after a message is cut short";
}

}  // namespace
}  // namespace devsvc
