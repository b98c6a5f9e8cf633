// The library's module state: start and exit with the objects, the poll timer's device list and
// tick order, the interval from TimeOutLoopMsg, and the connection shared by claimed devices.
#include "core/module.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "core/opos.h"
#include "core/timer_thread.h"
#include "monitor/sim.h"
#include "platform/messages.h"
#include "test_device.h"
#include "testing/harness.h"

namespace devsvc {
namespace {

using namespace std::chrono_literals;

bool timer_window_exists() {
  return platform::find_window(kTimerWindowClass, kTimerWindowName) != platform::window_handle::none;
}

TEST(Module, StartsWithTheFirstObjectAndExitsWithTheLast) {
  platform::testing::scoped_registry_dir registry;
  ASSERT_FALSE(timer_window_exists());
  {
    auto first = std::make_unique<test_device>();
    EXPECT_TRUE(timer_window_exists());
    EXPECT_FALSE(ModuleExiting());
    EXPECT_EQ(ModuleCanUnloadNow(), platform::kSFalse);
    first->RegisterWithPollTimer();
    EXPECT_NE(PollIntervalMs(), 0u);
    auto second = std::make_unique<test_device>();
    first.reset();
    EXPECT_TRUE(timer_window_exists()) << "one object is still alive";
    EXPECT_FALSE(ModuleExiting());
  }
  EXPECT_TRUE(ModuleExiting());
  EXPECT_FALSE(timer_window_exists());
  EXPECT_EQ(PollIntervalMs(), 0u) << "the timer thread has ended";
  EXPECT_EQ(ModuleCanUnloadNow(), platform::kSOk);

  // A new object starts the machinery again.
  test_device again;
  EXPECT_TRUE(timer_window_exists());
  EXPECT_FALSE(ModuleExiting());
}

TEST(Module, TimerIntervalComesFromTimeOutLoopMsgWithinBounds) {
  platform::testing::scoped_registry_dir registry;
  struct Case {
    std::uint32_t configured;
    std::uint32_t interval;
  };
  const Case cases[] = {{50, 500}, {5000, 500}, {100, 100}, {2000, 2000}};
  for (const Case& c : cases) {
    testing::set_fixed_dword("TimeOutLoopMsg", c.configured);
    test_device device;  // the only object: the machinery starts and exits with it
    device.RegisterWithPollTimer();
    EXPECT_EQ(PollIntervalMs(), c.interval) << c.configured;
  }
}

// Poll ticks need the hidden window's thread to pump messages.
class PollTimerTest : public ::testing::Test {
 protected:
  void SetUp() override { testing::set_fixed_dword("TimeOutLoopMsg", 100); }

  platform::testing::scoped_registry_dir registry_;
  std::vector<std::string> ticks_;
};

TEST_F(PollTimerTest, TicksEveryDeviceNewestFirst) {
  test_device a, b, c;
  a.on_tick = [&] { ticks_.push_back("a"); };
  b.on_tick = [&] { ticks_.push_back("b"); };
  c.on_tick = [&] { ticks_.push_back("c"); };
  a.RegisterWithPollTimer();
  b.RegisterWithPollTimer();
  c.RegisterWithPollTimer();
  ASSERT_TRUE(testing::pump_until([&] { return ticks_.size() >= 6; }, 8s)) << ticks_.size();
  EXPECT_EQ(std::vector<std::string>(ticks_.begin(), ticks_.begin() + 6),
            (std::vector<std::string>{"c", "b", "a", "c", "b", "a"}));
}

TEST_F(PollTimerTest, NoTickArrivesWhileDevicesAreBeingTicked) {
  // A tick that pumps messages for longer than the interval (as a chunked transfer does) must not
  // see another tick inside it: the timer is stopped around the ticks and restarted after them.
  test_device device;
  int depth = 0;
  int deepest = 0;
  int count = 0;
  device.on_tick = [&] {
    ++count;
    deepest = std::max(deepest, ++depth);
    if (count == 1) platform::pump_messages_for(1800);
    --depth;
  };
  device.RegisterWithPollTimer();
  ASSERT_TRUE(testing::pump_until([&] { return count >= 2; }, 10s));
  EXPECT_EQ(deepest, 1);
}

TEST_F(PollTimerTest, DeviceClosedDuringATickIsNotTickedAfterwards) {
  test_device first, second;
  first.on_tick = [&] { ticks_.push_back("first"); };
  // `second` is newer, so it is ticked first, and closes `first` in its tick.
  second.on_tick = [&] {
    ticks_.push_back("second");
    first.UnregisterFromPollTimer();
  };
  first.RegisterWithPollTimer();
  second.RegisterWithPollTimer();
  ASSERT_TRUE(testing::pump_until([&] { return ticks_.size() >= 2; }, 8s));
  EXPECT_EQ(ticks_, (std::vector<std::string>{"second", "second"}));
}

TEST_F(PollTimerTest, PromptTickRunsOnceWithoutWaitingForTheTimer) {
  // With a 2 s timer, only the prompt ticks can run within the first 500 ms; asked twice before
  // the thread dispatches, the device is ticked once. An unregistered device is never ticked.
  testing::set_fixed_dword("TimeOutLoopMsg", 2000);
  test_device device, other;
  int ticks = 0;
  int other_ticks = 0;
  device.on_tick = [&] { ++ticks; };
  other.on_tick = [&] { ++other_ticks; };
  device.RegisterWithPollTimer();
  RequestPromptTick(&device);
  RequestPromptTick(&device);
  RequestPromptTick(&other);
  platform::pump_messages_for(300);
  EXPECT_EQ(ticks, 1);
  EXPECT_EQ(other_ticks, 0);

  // A device that leaves the timer with a prompt tick waiting is not ticked by it.
  RequestPromptTick(&device);
  device.UnregisterFromPollTimer();
  platform::pump_messages_for(100);
  EXPECT_EQ(ticks, 1);
}

// Devices connected through the real monitor to an in-process virtual printer.
class SharedConnectionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    uri_ = "sim:" + testing::unique_sim_name();
    testing::set_port("SHARED1", uri_);
    for (test_device& d : devices_) d.set_printer("VX40", "SHARED1");
  }

  testing::environment env_;
  std::string uri_;
  test_device devices_[2];
};

TEST_F(SharedConnectionTest, TwoDevicesOpenTheChannelOnceAndTheLastOneClosesIt) {
  ASSERT_EQ(devices_[0].Connect(1000), OPOS_SUCCESS);
  EXPECT_EQ(monitor::sim_open_channels(uri_), 1);
  ASSERT_EQ(devices_[1].Connect(1000), OPOS_SUCCESS);
  EXPECT_EQ(monitor::sim_open_channels(uri_), 1);
  EXPECT_EQ(GetSharedConnection().users, 2);
  EXPECT_EQ(devices_[0].channel().dispatch(), devices_[1].channel().dispatch());

  EXPECT_EQ(devices_[0].Disconnect(), OPOS_SUCCESS);
  EXPECT_EQ(monitor::sim_open_channels(uri_), 1);
  EXPECT_FALSE(devices_[0].channel());
  // A device without a share does not take another's.
  EXPECT_EQ(devices_[0].Disconnect(), OPOS_SUCCESS);
  EXPECT_EQ(GetSharedConnection().users, 1);

  EXPECT_EQ(devices_[1].Disconnect(), OPOS_SUCCESS);
  EXPECT_EQ(monitor::sim_open_channels(uri_), 0);
  EXPECT_FALSE(GetSharedConnection().io);
  EXPECT_EQ(GetSharedConnection().users, 0);
}

TEST_F(SharedConnectionTest, DeviceDestroyedWhileConnectedLeavesTheConnection) {
  {
    test_device lost;
    lost.set_printer("VX40", "SHARED1");
    ASSERT_EQ(lost.Connect(1000), OPOS_SUCCESS);
    ASSERT_EQ(devices_[0].Connect(1000), OPOS_SUCCESS);
  }
  EXPECT_EQ(GetSharedConnection().users, 1);
  EXPECT_EQ(devices_[0].Disconnect(), OPOS_SUCCESS);
  EXPECT_EQ(monitor::sim_open_channels(uri_), 0);
}

TEST_F(SharedConnectionTest, ConnectFailuresGive111) {
  struct Case {
    const char* what;
    std::string port;
    std::string uri;  // "" leaves the port unconfigured
  };
  const Case cases[] = {
      {"printer that cannot be connected", "GONE1", "sim:" + testing::unique_sim_name() + "?fault=disconnect"},
      {"port the monitor does not know", "NOSUCHPORT", ""},
  };
  for (const Case& c : cases) {
    if (!c.uri.empty()) testing::set_port(c.port, c.uri);
    test_device device;
    device.set_printer("VX40", c.port);
    EXPECT_EQ(device.Connect(500), OPOS_E_FAILURE) << c.what;
    EXPECT_FALSE(device.connected());
    EXPECT_FALSE(GetSharedConnection().io);
  }
}

TEST_F(SharedConnectionTest, ConnectWaitsWhileThePortIsBusyAndGives112WhenItStaysBusy) {
  // A printer device locked by another user makes the monitor answer "not yet".
  platform::testing::temp_dir dir;
  const std::string device_path = (dir / "lp0").string();
  const int holder = ::open(device_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  ASSERT_GE(holder, 0);
  ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
  testing::set_port("BUSY1", "usblp:" + device_path);
  test_device device;
  device.set_printer("VX40", "BUSY1");

  const std::uint64_t start = platform::tick_count_ms();
  EXPECT_EQ(device.Connect(300), OPOS_E_TIMEOUT);
  EXPECT_GE(platform::tick_count_ms() - start, 300u);
  EXPECT_FALSE(device.connected());

  // While waiting it pumps messages: a timer of this thread frees the device and Connect goes on.
  platform::scoped_window_class cls("UNLOCKCLASS", [&](auto, std::uint32_t id, auto, auto) {
    if (id == platform::kTimerMessage) ::flock(holder, LOCK_UN);
  });
  platform::scoped_window window(platform::create_window("UNLOCKCLASS", "unlock"));
  platform::scoped_timer timer(platform::set_timer(window.get(), 200));
  EXPECT_EQ(device.Connect(5000), OPOS_SUCCESS);
  EXPECT_TRUE(device.connected());
  EXPECT_EQ(device.Disconnect(), OPOS_SUCCESS);
  ::close(holder);
}

TEST(SharedConnectionWithoutMonitor, ConnectGives111) {
  platform::testing::scoped_registry_dir registry;  // nothing registered
  test_device device;
  device.set_printer("VX40", "COM1");
  EXPECT_EQ(device.Connect(100), OPOS_E_FAILURE);
}

TEST(OutputIdentifiers, StayWithin15Bits) {
  for (int i = 0; i < 200; ++i) {
    const std::int32_t id = NextOutputID();
    ASSERT_GE(id, 0);
    ASSERT_LE(id, 32767);
  }
}

}  // namespace
}  // namespace devsvc
