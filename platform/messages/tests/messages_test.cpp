// Tests of messaging between threads and windows: posting, windows and their classes, timers,
// pumping, the host-loop descriptor, and the poll-timer arrangement of a timer thread and a
// hidden window.
#include "platform/messages.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <time.h>

#include <atomic>
#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

namespace platform {
namespace {

using namespace std::chrono_literals;
using steady = std::chrono::steady_clock;

bool readable(int fd, int timeout_ms) {
  pollfd pfd{fd, POLLIN, 0};
  return ::poll(&pfd, 1, timeout_ms) == 1 && (pfd.revents & POLLIN) != 0;
}

// Waits up to `timeout_ms` for the calling thread's next message and removes it.
bool next_message(message& out, int timeout_ms) {
  const auto end = steady::now() + std::chrono::milliseconds(timeout_ms);
  while (!peek_message(out, true)) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - steady::now()).count();
    if (left <= 0) {
      return false;
    }
    readable(queue_fd(), static_cast<int>(left) + 1);
  }
  return true;
}

std::chrono::nanoseconds thread_cpu_time() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return std::chrono::seconds(ts.tv_sec) + std::chrono::nanoseconds(ts.tv_nsec);
}

struct received {
  window_handle window;
  std::uint32_t id;
  std::int64_t wparam;
  std::int64_t lparam;
  thread_id thread;
};

// The test thread's queue is shared by all tests: each starts and ends with it empty.
class Messages : public ::testing::Test {
 protected:
  void SetUp() override { drain(); }
  void TearDown() override { drain(); }
  static void drain() {
    message msg;
    while (peek_message(msg, true)) {
    }
  }

  // A class named `name` whose handler records every message it gets.
  scoped_window_class recording_class(const std::string& name) {
    return scoped_window_class(name, [this](window_handle w, std::uint32_t id, std::int64_t wp,
                                            std::int64_t lp) {
      log_.push_back(received{w, id, wp, lp, current_thread_id()});
    });
  }

  std::vector<received> log_;
};

TEST_F(Messages, PostsFromOtherThreadsArriveInTheirOrder) {
  ASSERT_TRUE(ensure_message_queue());
  const thread_id me = current_thread_id();
  constexpr int kPerThread = 500;
  std::vector<std::thread> producers;
  for (int p = 0; p < 2; ++p) {
    producers.emplace_back([me, p] {
      for (int i = 0; i < kPerThread; ++i) {
        ASSERT_TRUE(post_thread_message(me, kUserMessage, p, i));
      }
    });
  }
  std::vector<std::int64_t> next(2, 0);
  message msg;
  for (int n = 0; n < 2 * kPerThread; ++n) {
    ASSERT_TRUE(next_message(msg, 5000)) << "after " << n << " messages";
    ASSERT_EQ(msg.target, window_handle::none);
    ASSERT_EQ(msg.id, kUserMessage);
    ASSERT_TRUE(msg.wparam == 0 || msg.wparam == 1);
    EXPECT_EQ(msg.lparam, next[static_cast<std::size_t>(msg.wparam)]++);
  }
  for (auto& t : producers) {
    t.join();
  }
  EXPECT_FALSE(peek_message(msg, false));
}

TEST_F(Messages, PostingToAThreadWithoutQueueOrEndedFails) {
  std::promise<thread_id> never_queued;
  std::thread([&] { never_queued.set_value(current_thread_id()); }).join();
  EXPECT_FALSE(post_thread_message(never_queued.get_future().get(), kUserMessage));

  auto cls = recording_class("EndedThreadClass");
  thread_id ended = thread_id::none;
  window_handle orphan = window_handle::none;
  std::thread([&] {
    ended = current_thread_id();
    orphan = create_window("EndedThreadClass", "orphan");
    // While the thread lives, both kinds of post are accepted.
    EXPECT_TRUE(post_thread_message(ended, kUserMessage));
    EXPECT_TRUE(post_message(orphan, kUserMessage));
  }).join();
  ASSERT_NE(orphan, window_handle::none);
  EXPECT_FALSE(post_thread_message(ended, kUserMessage));
  // The ended thread's windows went with it.
  EXPECT_FALSE(post_message(orphan, kUserMessage));
  EXPECT_EQ(window_thread(orphan), thread_id::none);
  EXPECT_EQ(find_window("EndedThreadClass", ""), window_handle::none);
  EXPECT_TRUE(unregister_window_class("EndedThreadClass"));
  EXPECT_TRUE(log_.empty());
}

TEST_F(Messages, WindowMessagesAreHandledOnTheOwningThread) {
  auto cls = recording_class("OwnerClass");
  scoped_window window(create_window("OwnerClass", "main"));
  ASSERT_NE(window.get(), window_handle::none);
  EXPECT_EQ(window_thread(window.get()), current_thread_id());

  std::thread([w = window.get()] { EXPECT_TRUE(post_message(w, kUserMessage + 5, 11, 22)); }).join();
  message msg;
  ASSERT_TRUE(next_message(msg, 2000));
  EXPECT_EQ(msg.target, window.get());
  EXPECT_TRUE(dispatch_message(msg));
  ASSERT_EQ(log_.size(), 1u);
  EXPECT_EQ(log_[0].window, window.get());
  EXPECT_EQ(log_[0].id, kUserMessage + 5);
  EXPECT_EQ(log_[0].wparam, 11);
  EXPECT_EQ(log_[0].lparam, 22);
  EXPECT_EQ(log_[0].thread, current_thread_id());

  // A thread message has no handler to run.
  EXPECT_FALSE(dispatch_message(message{window_handle::none, kUserMessage, 0, 0}));
  // Another thread may post to the window but not destroy it.
  std::thread([w = window.get()] { EXPECT_FALSE(destroy_window(w)); }).join();
  EXPECT_NE(window_thread(window.get()), thread_id::none);
}

TEST_F(Messages, MessagesToADestroyedWindowAreDropped) {
  auto cls = recording_class("DropClass");
  const window_handle doomed = create_window("DropClass", "doomed");
  scoped_window survivor(create_window("DropClass", "survivor"));
  ASSERT_TRUE(post_message(doomed, kUserMessage, 1));
  ASSERT_TRUE(post_message(survivor.get(), kUserMessage, 2));
  ASSERT_TRUE(post_message(doomed, kUserMessage, 3));
  message retrieved_before;
  ASSERT_TRUE(peek_message(retrieved_before, true));  // taken out before the window goes

  ASSERT_TRUE(destroy_window(doomed));
  EXPECT_FALSE(destroy_window(doomed));
  EXPECT_FALSE(post_message(doomed, kUserMessage, 4));
  EXPECT_FALSE(dispatch_message(retrieved_before));
  pump_messages_for(30);
  ASSERT_EQ(log_.size(), 1u);
  EXPECT_EQ(log_[0].window, survivor.get());
  EXPECT_EQ(log_[0].wparam, 2);
}

TEST_F(Messages, WindowClassesAndLookupByName) {
  {
    auto cls = recording_class("TIMERCHECKCLASS1.0");
    ASSERT_TRUE(cls.registered());
    EXPECT_FALSE(register_window_class("timercheckclass1.0", [](auto, auto, auto, auto) {}));
    EXPECT_FALSE(register_window_class("", [](auto, auto, auto, auto) {}));
    EXPECT_FALSE(register_window_class("NoProc", window_proc()));
    EXPECT_EQ(create_window("NoSuchClass", "x"), window_handle::none);

    scoped_window first(create_window("TimerCheckClass1.0", "TIMERWND"));
    scoped_window second(create_window("TIMERCHECKCLASS1.0", "TIMERWND"));
    scoped_window other(create_window("TIMERCHECKCLASS1.0", "Other"));
    EXPECT_EQ(find_window("TIMERCHECKCLASS1.0", "TIMERWND"), first.get());
    EXPECT_EQ(find_window("timercheckclass1.0", "timerwnd"), first.get());
    EXPECT_EQ(find_window("", "other"), other.get());
    EXPECT_EQ(find_window("TIMERCHECKCLASS1.0", ""), first.get());
    EXPECT_EQ(find_window("OtherClass", "TIMERWND"), window_handle::none);

    // A class in use stays registered; destroying the first window reveals the second.
    EXPECT_FALSE(unregister_window_class("TIMERCHECKCLASS1.0"));
    first.reset();
    EXPECT_EQ(find_window("TIMERCHECKCLASS1.0", "TIMERWND"), second.get());
  }
  // The scoped windows and then the scoped class are gone.
  EXPECT_EQ(find_window("TIMERCHECKCLASS1.0", ""), window_handle::none);
  EXPECT_FALSE(unregister_window_class("TIMERCHECKCLASS1.0"));
  EXPECT_TRUE(register_window_class("TIMERCHECKCLASS1.0", [](auto, auto, auto, auto) {}));
  EXPECT_TRUE(unregister_window_class("TIMERCHECKCLASS1.0"));
}

TEST_F(Messages, WindowTimerTicksRepeatedlyUntilKilled) {
  auto cls = recording_class("TimerClass");
  scoped_window window(create_window("TimerClass", "timed"));
  const auto start = steady::now();
  scoped_timer timer(set_timer(window.get(), 20));
  ASSERT_NE(timer.get(), timer_id::none);

  const auto deadline = start + 5s;
  while (log_.size() < 5 && steady::now() < deadline) {
    pump_messages_for(10);
  }
  const auto elapsed = steady::now() - start;
  ASSERT_EQ(log_.size(), 5u);
  EXPECT_GE(elapsed, 80ms);
  EXPECT_LT(elapsed, 1000ms);
  for (const auto& tick : log_) {
    EXPECT_EQ(tick.window, window.get());
    EXPECT_EQ(tick.id, kTimerMessage);
    EXPECT_EQ(tick.wparam, static_cast<std::int64_t>(timer.get()));
  }

  EXPECT_TRUE(kill_timer(timer.get()));
  EXPECT_FALSE(kill_timer(timer.get()));
  timer.release();
  log_.clear();
  pump_messages_for(100);
  EXPECT_TRUE(log_.empty());
}

TEST_F(Messages, ThreadTimerIsRetrievedByTheLoopAndStopsWithItsWindow) {
  const auto start = steady::now();
  scoped_timer timer(set_timer(window_handle::none, 20));
  ASSERT_NE(timer.get(), timer_id::none);
  message msg;
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(next_message(msg, 2000));
    EXPECT_EQ(msg.target, window_handle::none);
    EXPECT_EQ(msg.id, kTimerMessage);
    EXPECT_EQ(msg.wparam, static_cast<std::int64_t>(timer.get()));
  }
  EXPECT_GE(steady::now() - start, 50ms);
  timer.reset();
  EXPECT_FALSE(next_message(msg, 60));

  // Destroying a window kills its timers.
  auto cls = recording_class("TimerOwnerClass");
  const window_handle window = create_window("TimerOwnerClass", "");
  const timer_id orphan = set_timer(window, 10);
  ASSERT_NE(orphan, timer_id::none);
  ASSERT_TRUE(destroy_window(window));
  EXPECT_FALSE(kill_timer(orphan));
  EXPECT_EQ(set_timer(window, 10), timer_id::none);
  EXPECT_FALSE(next_message(msg, 60));
}

TEST_F(Messages, PumpReturnsAfterTheTimeAskedAndDispatchesWhatArrives) {
  auto cls = recording_class("PumpClass");
  scoped_window window(create_window("PumpClass", ""));
  std::thread poster([w = window.get()] {
    std::this_thread::sleep_for(30ms);
    post_message(w, kUserMessage, 1);
  });
  const auto cpu_before = thread_cpu_time();
  const auto start = steady::now();
  EXPECT_TRUE(pump_messages_for(300));
  const auto elapsed = steady::now() - start;
  const auto cpu = thread_cpu_time() - cpu_before;
  poster.join();

  EXPECT_GE(elapsed, 295ms);
  EXPECT_LT(elapsed, 1500ms);
  // It sleeps between messages instead of spinning.
  EXPECT_LT(cpu, 150ms);
  ASSERT_EQ(log_.size(), 1u);
  EXPECT_EQ(log_[0].wparam, 1);
  EXPECT_EQ(log_[0].thread, current_thread_id());
}

TEST_F(Messages, PumpRunsNestedInsideAHandler) {
  // A handler that waits while pumping (as long transfers do) lets later messages run inside it.
  std::vector<std::int64_t> order;
  scoped_window_class cls("NestedClass", [&order](window_handle, std::uint32_t, std::int64_t wp, std::int64_t) {
    order.push_back(wp);
    if (wp == 1) {
      pump_messages_for(30);
      order.push_back(-1);
    }
  });
  scoped_window window(create_window("NestedClass", ""));
  post_message(window.get(), kUserMessage, 1);
  post_message(window.get(), kUserMessage, 2);
  pump_messages_for(60);
  EXPECT_EQ(order, (std::vector<std::int64_t>{1, 2, -1}));
}

TEST_F(Messages, PumpReadyDispatchesWhatWaitsNowAndStopsAtAQuit) {
  // What handlers post meanwhile waits for the next call, and a quit stays queued behind the
  // messages before it.
  std::vector<std::int64_t> order;
  scoped_window_class cls("ReadyClass", [&order](window_handle w, std::uint32_t, std::int64_t wp, std::int64_t) {
    order.push_back(wp);
    if (wp == 1) post_message(w, kUserMessage, 3);
  });
  scoped_window window(create_window("ReadyClass", ""));
  post_message(window.get(), kUserMessage, 1);
  post_message(window.get(), kUserMessage, 2);
  EXPECT_TRUE(pump_ready_messages());
  EXPECT_EQ(order, (std::vector<std::int64_t>{1, 2}));

  post_quit_message(4);
  EXPECT_FALSE(pump_ready_messages());
  EXPECT_EQ(order, (std::vector<std::int64_t>{1, 2, 3}));
  message msg;
  EXPECT_FALSE(get_message(msg));
  EXPECT_EQ(msg.wparam, 4);
}

TEST_F(Messages, QuitEndsTheLoopAndIsLeftForItByThePump) {
  scoped_window_class cls("QuitClass", [](window_handle, std::uint32_t, std::int64_t wp, std::int64_t) {
    post_quit_message(static_cast<int>(wp));
  });
  scoped_window window(create_window("QuitClass", ""));
  post_message(window.get(), kUserMessage, 5);
  EXPECT_EQ(run_message_loop(), 5);

  // A pump meeting a quit keeps its pace, does not dispatch past it, and leaves it queued.
  post_quit_message(7);
  const auto start = steady::now();
  EXPECT_FALSE(pump_messages_for(50));
  EXPECT_GE(steady::now() - start, 45ms);
  message msg;
  EXPECT_FALSE(get_message(msg));
  EXPECT_EQ(msg.id, kQuitMessage);
  EXPECT_EQ(msg.wparam, 7);

  // A quit posted as a thread message ends get_message too.
  post_thread_message(current_thread_id(), kQuitMessage, 9);
  EXPECT_FALSE(get_message(msg));
  EXPECT_EQ(msg.wparam, 9);
}

TEST_F(Messages, QueueDescriptorDrivesAHostLoop) {
  const int fd = queue_fd();
  ASSERT_GE(fd, 0);
  EXPECT_EQ(queue_fd(), fd);
  EXPECT_FALSE(readable(fd, 0));

  // Each message handler posts one follow-up; those wait for the host loop's next round.
  int handled = 0;
  scoped_window_class cls("HostLoopClass", [&handled](window_handle w, std::uint32_t id, std::int64_t wp,
                                                      std::int64_t) {
    ++handled;
    if (id == kUserMessage && wp == 0) {
      post_message(w, kUserMessage, 1);
    }
  });
  scoped_window window(create_window("HostLoopClass", ""));

  // A post from another thread makes it readable; one round handles it and the follow-up waits.
  std::thread([w = window.get()] { post_message(w, kUserMessage, 0); }).join();
  ASSERT_TRUE(readable(fd, 2000));
  EXPECT_TRUE(dispatch_ready_messages());
  EXPECT_EQ(handled, 1);
  ASSERT_TRUE(readable(fd, 0));
  EXPECT_TRUE(dispatch_ready_messages());
  EXPECT_EQ(handled, 2);
  EXPECT_FALSE(readable(fd, 0));

  // A due timer makes it readable; dispatching drains it until the next interval.
  const auto start = steady::now();
  scoped_timer timer(set_timer(window.get(), 40));
  EXPECT_FALSE(readable(fd, 0));
  ASSERT_TRUE(readable(fd, 2000));
  EXPECT_GE(steady::now() - start, 35ms);
  EXPECT_TRUE(dispatch_ready_messages());
  EXPECT_EQ(handled, 3);
  EXPECT_FALSE(readable(fd, 0));
  timer.reset();
  EXPECT_FALSE(readable(fd, 100));

  // A quit ends the host loop with its code.
  post_quit_message(4);
  ASSERT_TRUE(readable(fd, 0));
  int code = 0;
  EXPECT_FALSE(dispatch_ready_messages(&code));
  EXPECT_EQ(code, 4);
  EXPECT_FALSE(readable(fd, 0));
}

TEST_F(Messages, TickCountIsMonotonicMilliseconds) {
  const auto first = tick_count_ms();
  std::this_thread::sleep_for(30ms);
  const auto second = tick_count_ms();
  EXPECT_GE(second - first, 29u);
  EXPECT_LT(second - first, 1000u);
}

// A timer thread with its own loop and thread timer posts a tick message to a hidden window on
// the main thread; the window stops the timer, does its work and restarts it.
TEST_F(Messages, PollTimerTicksRunOnTheWindowThreadInOrder) {
  constexpr std::uint32_t kStartTimer = 0x500;
  constexpr std::uint32_t kStopTimer = 0x501;
  constexpr std::uint32_t kTick = 0x600;
  const thread_id main_thread = current_thread_id();

  std::vector<std::int64_t> ticks;      // sequence numbers, in handling order
  std::vector<std::int64_t> senders;    // thread ids the ticks carried
  bool all_on_main_thread = true;
  scoped_window_class cls("TIMERCHECKCLASS1.0", [&](window_handle, std::uint32_t id, std::int64_t wp,
                                                    std::int64_t lp) {
    if (id != kTick) {
      return;
    }
    all_on_main_thread = all_on_main_thread && current_thread_id() == main_thread;
    senders.push_back(wp);
    post_thread_message(thread_id{static_cast<std::uint64_t>(wp)}, kStopTimer);
    ticks.push_back(lp);
    post_thread_message(thread_id{static_cast<std::uint64_t>(wp)}, kStartTimer);
  });
  scoped_window hidden(create_window("TIMERCHECKCLASS1.0", "TIMERWND"));
  ASSERT_NE(hidden.get(), window_handle::none);

  // The worker's trace: 'T' tick posted, 'S' timer stopped, 'R' timer restarted.
  std::string trace;
  std::promise<thread_id> ready;
  std::thread worker([&] {
    ensure_message_queue();
    scoped_timer timer(set_timer(window_handle::none, 20));
    ready.set_value(current_thread_id());
    std::int64_t sequence = 0;
    message msg;
    while (get_message(msg)) {
      if (msg.id == kStartTimer) {
        trace += 'R';
        if (timer.get() == timer_id::none) {
          timer.reset(set_timer(window_handle::none, 20));
        }
      } else if (msg.id == kStopTimer) {
        trace += 'S';
        timer.reset();
      } else if (msg.id == kTimerMessage) {
        trace += 'T';
        post_message(find_window("TIMERCHECKCLASS1.0", "TIMERWND"), kTick,
                     static_cast<std::int64_t>(current_thread_id()), ++sequence);
      }
      dispatch_message(msg);
    }
  });
  auto ready_future = ready.get_future();
  ASSERT_EQ(ready_future.wait_for(5s), std::future_status::ready);
  const thread_id worker_id = ready_future.get();

  const auto deadline = steady::now() + 5s;
  while (ticks.size() < 5 && steady::now() < deadline) {
    pump_messages_for(20);
  }
  // Posted after every stop and restart above, so the worker sees those first.
  ASSERT_TRUE(post_thread_message(worker_id, kQuitMessage));
  worker.join();

  ASSERT_GE(ticks.size(), 5u);
  EXPECT_TRUE(all_on_main_thread);
  for (std::size_t i = 0; i < ticks.size(); ++i) {
    EXPECT_EQ(ticks[i], static_cast<std::int64_t>(i + 1)) << "tick " << i;
    EXPECT_EQ(senders[i], static_cast<std::int64_t>(worker_id));
  }
  // Every handled tick stopped and restarted the timer, and no tick was made while stopped.
  std::size_t stops = 0;
  bool stopped = false;
  for (const char c : trace) {
    if (c == 'S') {
      EXPECT_FALSE(stopped) << trace;
      stopped = true;
      ++stops;
    } else if (c == 'R') {
      EXPECT_TRUE(stopped) << trace;
      stopped = false;
    } else {
      EXPECT_FALSE(stopped) << "tick while stopped: " << trace;
    }
  }
  EXPECT_EQ(stops, ticks.size());
  EXPECT_FALSE(stopped);
}

}  // namespace
}  // namespace platform
