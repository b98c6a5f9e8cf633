// The software marquee: frames of a pass byte for byte, and a running marquee ended at once by
// MarqueeType, Close, Release or disabling. The marquee runs inside the MarqueeType property
// call and pumps the thread's messages; the tests act from a timer of their own, as an
// application's event loop would, and give up after a bounded time.
#include <gtest/gtest.h>

#include <functional>

#include "core/opos.h"
#include "display_fixture.h"
#include "monitor/sim.h"
#include "platform/messages.h"

namespace devsvc::display_test {
namespace {

// Runs `step` every 10 ms while the thread pumps messages until it returns true; once `limit`
// has passed it runs `give_up` instead and stops.
class ticker {
 public:
  ticker(std::function<bool()> step, std::function<void()> give_up, std::uint32_t limit_ms = 5000)
      : step_(std::move(step)), give_up_(std::move(give_up)), end_(platform::tick_count_ms() + limit_ms) {
    static const platform::scoped_window_class window_class(
        "DisplayTestTicker", [](platform::window_handle, std::uint32_t id, std::int64_t, std::int64_t) {
          if (id == platform::kTimerMessage && active_ != nullptr) active_->tick();
        });
    active_ = this;
    window_.reset(platform::create_window("DisplayTestTicker", ""));
    timer_.reset(platform::set_timer(window_.get(), 10));
  }
  ~ticker() { active_ = nullptr; }
  bool gave_up() const { return gave_up_; }
  bool done() const { return done_; }

 private:
  void tick() {
    if (done_) return;
    if (platform::tick_count_ms() > end_) {
      done_ = gave_up_ = true;
      give_up_();
    } else if (step_()) {
      done_ = true;
    }
  }

  static inline ticker* active_ = nullptr;
  std::function<bool()> step_;
  std::function<void()> give_up_;
  std::uint64_t end_;
  bool done_ = false;
  bool gave_up_ = false;
  platform::scoped_window window_;
  platform::scoped_timer timer_;
};

// A walking marquee shows, in frame k, ViewportWidth characters of the line padded with
// ViewportWidth spaces on both sides: from position k + 1 moving left, from C + VW - 1 - k
// moving right.
std::string walking(const std::string& line, std::int32_t k, bool left) {
  const std::string strip = std::string(20, ' ') + line + std::string(20, ' ');
  const std::int32_t at = left ? k + 1 : 20 + static_cast<std::int32_t>(line.size()) - 1 - k;
  return strip.substr(static_cast<std::size_t>(at), 20);
}

std::string frame(const std::string& rows) { return kSelectDisplay + "\x0B" + rows + kSelectPrinter; }

class MarqueeTest : public DisplayTest {
 protected:
  // Opens, claims and enables; prepares two lines of text in window 0 with MarqueeType init.
  void prepare(std::int32_t unit_wait, std::int32_t repeat_wait) {
    d_.open_claim_enable();
    ASSERT_EQ(d_.set(kMarqueeType, 5), OPOS_SUCCESS);
    ASSERT_EQ(d_.call("DisplayText", kLine0 + kLine1, 0), OPOS_SUCCESS);
    ASSERT_EQ(d_.set(kMarqueeUnitWait, unit_wait), OPOS_SUCCESS);
    ASSERT_EQ(d_.set(kMarqueeRepeatWait, repeat_wait), OPOS_SUCCESS);
    mark();
  }
  // Sets MarqueeType, which returns when the marquee has ended; the time it ran in ms.
  std::uint64_t run(std::int32_t type) {
    const std::uint64_t start = platform::tick_count_ms();
    EXPECT_TRUE(platform::call(d_.get(), "SetPropertyNumber", kMarqueeType, type).ok());
    return platform::tick_count_ms() - start;
  }

  const std::string kLine0 = "ABCDEFGHIJKLMNOPQRST";
  const std::string kLine1 = "0123456789abcdefghij";
  service_client d_;
};

TEST_F(MarqueeTest, LeftWalkSendsEveryFrameOfAPass) {
  prepare(1, 20000);
  std::string pass;
  for (std::int32_t k = 0; k < 39; ++k) pass += frame(walking(kLine0, k, true) + walking(kLine1, k, true));

  std::int32_t state_while_running = 0;
  ticker t(
      [&] {
        if (state_while_running == 0) state_while_running = d_.number(PIDX_State);
        if (since_mark().size() < pass.size()) return false;
        d_.set(kMarqueeType, 0);  // during the repeat wait
        return true;
      },
      [&] { d_.set(kMarqueeType, 0); });
  const std::uint64_t ran_ms = run(3);
  EXPECT_FALSE(t.gave_up()) << "the pass did not complete in time";
  EXPECT_LT(ran_ms, 10000u) << "setting MarqueeType 0 ends the repeat wait";
  EXPECT_TRUE(same_bytes(since_mark(), pass + kSelectPrinter));
  EXPECT_EQ(state_while_running, OPOS_S_BUSY);
  EXPECT_EQ(d_.number(PIDX_State), OPOS_S_IDLE);
  EXPECT_EQ(d_.number(kMarqueeType), 0);
  EXPECT_EQ(printer_->display().lines,
            (std::vector<std::string>{"T" + std::string(19, ' '), "j" + std::string(19, ' ')}))
      << "the last frame of a pass shows the last characters leaving";
}

TEST_F(MarqueeTest, RightWalkRepeatsItsPasses) {
  prepare(1, 1);
  std::string pass;
  for (std::int32_t k = 0; k < 39; ++k) pass += frame(walking(kLine0, k, false) + walking(kLine1, k, false));
  ticker t(
      [&] {
        if (since_mark().size() < 2 * pass.size()) return false;
        d_.set(kMarqueeType, 5);
        return true;
      },
      [&] { d_.set(kMarqueeType, 0); });
  run(4);
  EXPECT_FALSE(t.gave_up());
  const std::string sent = since_mark();
  ASSERT_GE(sent.size(), 2 * pass.size());
  EXPECT_TRUE(same_bytes(sent.substr(0, 2 * pass.size()), pass + pass));
  EXPECT_EQ(d_.number(kMarqueeType), 5);
}

TEST_F(MarqueeTest, UpMovesTheLinesThroughTheWindow) {
  prepare(1, 3000);
  const std::string blank(20, ' ');
  // Row offsets 0, 1, 0, -1: as it is, line 0 entering at the bottom, as it is, line 1 leaving
  // at the top.
  const std::string pass = frame(kLine0 + kLine1) + frame(blank + kLine0) + frame(kLine0 + kLine1) +
                           frame(kLine1 + blank);
  ticker t(
      [&] {
        if (since_mark().size() < pass.size()) return false;
        d_.set(kMarqueeType, 0);
        return true;
      },
      [&] { d_.set(kMarqueeType, 0); });
  run(1);
  EXPECT_FALSE(t.gave_up());
  EXPECT_TRUE(same_bytes(since_mark(), pass + kSelectPrinter));
}

TEST_F(MarqueeTest, CloseReleaseAndDisableEndItAtOnce) {
  struct Case {
    const char* name;
    std::function<std::int32_t(service_client&)> act;
    std::int32_t act_result;
    std::int32_t claimed_after;
  };
  const Case cases[] = {
      {"Close is refused but ends the marquee", [](service_client& d) { return d.call("Close"); }, OPOS_E_BUSY, 1},
      {"Release", [](service_client& d) { return d.call("Release"); }, OPOS_SUCCESS, 0},
      {"disabling", [](service_client& d) { return d.set(3, 0); }, OPOS_SUCCESS, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    uri_ = "sim:" + testing::unique_sim_name();
    testing::set_port("VDSP1", uri_);
    printer_ = monitor::sim_printer(uri_);
    mark_ = 0;
    d_ = service_client();
    // Ten seconds between frames: only a stop that is seen at once ends this quickly.
    prepare(10000, 10000);
    std::int32_t result = -1;
    std::size_t sent_before = 0;
    ticker t(
        [&] {
          if (since_mark().empty()) return false;  // the first frame is out
          result = c.act(d_);
          sent_before = printer_->capture().size();
          return true;
        },
        [] {});
    const std::uint64_t ran_ms = run(3);
    ASSERT_TRUE(t.done());
    EXPECT_FALSE(t.gave_up());
    EXPECT_LT(ran_ms, 5000u) << "the stop did not end the ten-second wait";
    EXPECT_EQ(result, c.act_result);
    EXPECT_LE(printer_->capture().size(), sent_before + kSelectPrinter.size()) << "no frame after the stop";
    EXPECT_EQ(d_.number(PIDX_State), OPOS_S_IDLE);
    EXPECT_EQ(d_.number(kMarqueeType), 0);
    EXPECT_EQ(d_.number(PIDX_Claimed), c.claimed_after);
    EXPECT_EQ(d_.call("Close"), OPOS_SUCCESS) << "a retried Close succeeds";
    EXPECT_EQ(monitor::sim_open_channels(uri_), 0);
  }
}

TEST_F(MarqueeTest, AStoppedMarqueeCanStartAgain) {
  prepare(1, 3000);
  int passes = 0;
  std::int32_t text_while_running = 0;
  ticker t(
      [&] {
        if (since_mark().size() < 3 * 39) return false;  // a few frames are out
        text_while_running = d_.call("DisplayText", "x", 0);
        d_.set(3, 0);
        return true;
      },
      [] {});
  run(3);
  EXPECT_EQ(text_while_running, OPOS_E_ILLEGAL) << "text output is refused while the marquee runs";
  ASSERT_EQ(d_.set(3, 1), OPOS_SUCCESS);
  mark();
  ticker again(
      [&] {
        if (since_mark().empty()) return false;
        ++passes;
        d_.set(kMarqueeType, 0);
        return true;
      },
      [&] { d_.set(kMarqueeType, 0); });
  run(3);
  EXPECT_EQ(passes, 1) << "the same MarqueeType as before runs again after the stop";
  EXPECT_FALSE(again.gave_up());
}

TEST_F(MarqueeTest, NeedsAnEnabledDisplayAndAValidType) {
  d_.open_claim_enable();
  ASSERT_EQ(d_.set(3, 0), OPOS_SUCCESS);
  mark();
  EXPECT_EQ(d_.set(kMarqueeType, 3), OPOS_E_DISABLED);
  EXPECT_EQ(d_.set(kMarqueeType, 6), OPOS_E_ILLEGAL);
  EXPECT_EQ(d_.set(kMarqueeUnitWait, -1), OPOS_E_ILLEGAL);
  EXPECT_EQ(d_.set(kMarqueeRepeatWait, -1), OPOS_E_ILLEGAL);
  EXPECT_EQ(d_.set(kMarqueeFormat, 1), OPOS_SUCCESS);
  EXPECT_EQ(d_.number(kMarqueeFormat), 1);
  EXPECT_TRUE(since_mark().empty());
  EXPECT_EQ(d_.number(PIDX_State), OPOS_S_IDLE);
}

}  // namespace
}  // namespace devsvc::display_test
