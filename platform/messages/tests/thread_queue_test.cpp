// Tests of one thread's queue: the order in which take() hands out messages, timer coalescing,
// and the descriptor being readable exactly while something is ready.
#include "../thread_queue.h"

#include <gtest/gtest.h>
#include <poll.h>

#include <chrono>
#include <thread>

namespace platform::detail {
namespace {

using namespace std::chrono_literals;

bool readable(int fd, int timeout_ms) {
  pollfd pfd{fd, POLLIN, 0};
  return ::poll(&pfd, 1, timeout_ms) == 1 && (pfd.revents & POLLIN) != 0;
}

TEST(ThreadQueue, HandsOutPostedMessagesThenQuitThenDueTimers) {
  thread_queue queue;
  ASSERT_TRUE(queue.valid());
  queue.add_timer(timer_id{7}, window_handle::none, 10);
  std::this_thread::sleep_for(40ms);
  queue.post_quit(3);
  // Posted after the quit request, yet handed out before it.
  ASSERT_TRUE(queue.post(message{window_handle{1}, kUserMessage, 1, 0}));
  ASSERT_TRUE(queue.post(message{window_handle::none, kUserMessage + 1, 2, 0}));
  EXPECT_EQ(queue.ready_count(), 4u);

  message msg;
  ASSERT_TRUE(queue.take(msg, take_mode::peek));
  EXPECT_EQ(msg.wparam, 1);
  ASSERT_TRUE(queue.take(msg, take_mode::remove));
  EXPECT_EQ(msg.target, window_handle{1});
  EXPECT_EQ(msg.id, kUserMessage);
  ASSERT_TRUE(queue.take(msg, take_mode::remove));
  EXPECT_EQ(msg.id, kUserMessage + 1);

  // remove_unless_quit leaves the quit request where it is.
  ASSERT_TRUE(queue.take(msg, take_mode::remove_unless_quit));
  EXPECT_EQ(msg.id, kQuitMessage);
  ASSERT_TRUE(queue.take(msg, take_mode::remove));
  EXPECT_EQ(msg.id, kQuitMessage);
  EXPECT_EQ(msg.wparam, 3);

  ASSERT_TRUE(queue.take(msg, take_mode::remove));
  EXPECT_EQ(msg.id, kTimerMessage);
  EXPECT_EQ(msg.target, window_handle::none);
  EXPECT_EQ(msg.wparam, 7);
  EXPECT_FALSE(queue.take(msg, take_mode::remove));
}

TEST(ThreadQueue, OverdueTimerGivesOneMessageNotABurst) {
  thread_queue queue;
  ASSERT_TRUE(queue.valid());
  queue.add_timer(timer_id{1}, window_handle::none, 10);
  std::this_thread::sleep_for(120ms);  // about twelve intervals without taking anything

  message msg;
  int taken = 0;
  while (queue.take(msg, take_mode::remove)) {
    ++taken;
  }
  EXPECT_EQ(taken, 1);
  EXPECT_FALSE(readable(queue.fd(), 0));
  // It keeps running: the next one comes about one interval later.
  EXPECT_TRUE(readable(queue.fd(), 1000));
  EXPECT_TRUE(queue.take(msg, take_mode::remove));
  EXPECT_EQ(msg.id, kTimerMessage);
}

TEST(ThreadQueue, DescriptorIsReadableExactlyWhileSomethingIsReady) {
  thread_queue queue;
  ASSERT_TRUE(queue.valid());
  message msg;
  EXPECT_FALSE(readable(queue.fd(), 0));

  // Posted messages.
  ASSERT_TRUE(queue.post(message{window_handle::none, kUserMessage, 0, 0}));
  ASSERT_TRUE(queue.post(message{window_handle::none, kUserMessage, 0, 0}));
  EXPECT_TRUE(readable(queue.fd(), 0));
  ASSERT_TRUE(queue.take(msg, take_mode::peek));
  EXPECT_TRUE(readable(queue.fd(), 0));
  ASSERT_TRUE(queue.take(msg, take_mode::remove));
  EXPECT_TRUE(readable(queue.fd(), 0));
  ASSERT_TRUE(queue.take(msg, take_mode::remove));
  EXPECT_FALSE(readable(queue.fd(), 0));

  // Quit request.
  queue.post_quit(0);
  EXPECT_TRUE(readable(queue.fd(), 0));
  ASSERT_TRUE(queue.take(msg, take_mode::remove));
  EXPECT_FALSE(readable(queue.fd(), 0));

  // A timer: not before it is due, readable when due, drained once taken.
  const auto start = thread_queue::clock::now();
  queue.add_timer(timer_id{2}, window_handle::none, 30);
  EXPECT_FALSE(readable(queue.fd(), 0));
  EXPECT_TRUE(readable(queue.fd(), 2000));
  EXPECT_GE(thread_queue::clock::now() - start, 25ms);
  EXPECT_TRUE(readable(queue.fd(), 0));  // stays readable until taken
  ASSERT_TRUE(queue.take(msg, take_mode::remove));
  EXPECT_EQ(msg.id, kTimerMessage);
  EXPECT_FALSE(readable(queue.fd(), 0));

  // A removed timer no longer makes it readable.
  EXPECT_TRUE(readable(queue.fd(), 2000));
  EXPECT_TRUE(queue.remove_timer(timer_id{2}));
  EXPECT_FALSE(readable(queue.fd(), 0));
  EXPECT_FALSE(queue.remove_timer(timer_id{2}));
  EXPECT_FALSE(readable(queue.fd(), 100));
}

TEST(ThreadQueue, WaitReturnsOnPostFromAnotherThreadOrAtTimeout) {
  thread_queue queue;
  ASSERT_TRUE(queue.valid());

  auto start = thread_queue::clock::now();
  queue.wait(60);
  auto waited = thread_queue::clock::now() - start;
  EXPECT_GE(waited, 55ms);
  EXPECT_LT(waited, 1000ms);

  start = thread_queue::clock::now();
  std::thread poster([&queue] {
    std::this_thread::sleep_for(20ms);
    queue.post(message{window_handle::none, kUserMessage, 0, 0});
  });
  queue.wait(5000);
  waited = thread_queue::clock::now() - start;
  poster.join();
  EXPECT_LT(waited, 2000ms);
  message msg;
  EXPECT_TRUE(queue.take(msg, take_mode::remove));
}

TEST(ThreadQueue, ForgettingAWindowDropsItsMessagesAndTimers) {
  thread_queue queue;
  ASSERT_TRUE(queue.valid());
  const window_handle gone{1};
  const window_handle kept{2};
  queue.post(message{gone, kUserMessage, 1, 0});
  queue.post(message{kept, kUserMessage, 2, 0});
  queue.post(message{gone, kUserMessage, 3, 0});
  queue.add_timer(timer_id{10}, gone, 10);
  queue.add_timer(timer_id{11}, kept, 10);

  const auto removed = queue.forget_window(gone);
  ASSERT_EQ(removed.size(), 1u);
  EXPECT_EQ(removed[0], timer_id{10});

  std::this_thread::sleep_for(30ms);
  message msg;
  std::vector<message> taken;
  while (queue.take(msg, take_mode::remove)) {
    taken.push_back(msg);
  }
  ASSERT_EQ(taken.size(), 2u);
  EXPECT_EQ(taken[0].target, kept);
  EXPECT_EQ(taken[0].wparam, 2);
  EXPECT_EQ(taken[1].id, kTimerMessage);
  EXPECT_EQ(taken[1].wparam, 11);
}

TEST(ThreadQueue, ClosedQueueRefusesPostsAndIsNeverReadable) {
  thread_queue queue;
  ASSERT_TRUE(queue.valid());
  queue.post(message{window_handle::none, kUserMessage, 0, 0});
  queue.add_timer(timer_id{1}, window_handle::none, 10);
  queue.close();
  EXPECT_FALSE(queue.post(message{window_handle::none, kUserMessage, 0, 0}));
  EXPECT_FALSE(readable(queue.fd(), 50));
  message msg;
  EXPECT_FALSE(queue.take(msg, take_mode::remove));
}

}  // namespace
}  // namespace platform::detail
