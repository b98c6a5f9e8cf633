// CLineDisplay: the software marquee. Setting MarqueeType to a direction runs frame after frame
// inside the property call, pumping the thread's messages between frames, until MarqueeType
// becomes none or init, or the display is closed, released or disabled.
#include <algorithm>
#include <memory>

#include "core/opos.h"
#include "display/line_display.h"
#include "platform/messages.h"

namespace devsvc {
namespace {

// Unit and repeat waits below 1 ms mean this.
constexpr std::int32_t kDefaultMarqueeWaitMs = 100;
// Longest single pump inside a wait, so that a stop is seen within this many milliseconds.
constexpr std::int32_t kMarqueePumpStepMs = 10;

bool IsDirection(std::int32_t type) { return type >= DISP_ST_UP && type <= DISP_ST_RIGHT; }

}  // namespace

void CLineDisplay::SetMarqueeType(std::int32_t value) {
  if (value == last_marquee_type_ && current_serial_ == last_marquee_window_) return;
  if (value != DISP_MT_NONE && value != DISP_MT_INIT && !IsDirection(value)) {
    Illegal();
    return;
  }
  if (!IsDirection(value)) {
    current_->MarqueeType = value;
    if (marquee_) marquee_->snapshot.MarqueeType = value;  // a running marquee sees it and ends
    last_marquee_type_ = value;
    last_marquee_window_ = current_serial_;
    State = OPOS_S_IDLE;
    return;
  }
  // A marquee writes to the display for as long as it runs: only an enabled, claimed display
  // runs one, and losing either ends it.
  if (CheckState() != OPOS_SUCCESS) return;
  current_->MarqueeType = value;
  last_marquee_type_ = value;
  last_marquee_window_ = current_serial_;
  if (marquee_ && marquee_->running) marquee_->stop = true;  // replaced by this one
  marquee_ = std::make_shared<MarqueeRun>();
  marquee_->snapshot = *current_;
  marquee_->window_serial = current_serial_;
  // The loop keeps its own reference: a nested call may drop or replace the object's.
  const std::shared_ptr<MarqueeRun> run = marquee_;
  RunMarquee(run);
}

bool CLineDisplay::MarqueeStopped(const MarqueeRun& run) const {
  return run.stop || !IsDirection(run.snapshot.MarqueeType) || !Opened || !Claimed || !DeviceEnabled;
}

void CLineDisplay::StopMarquee() {
  if (!marquee_ || !marquee_->running || marquee_->stop) return;
  marquee_->stop = true;
  if (WindowEntry* entry = WindowBySerial(marquee_->window_serial)) entry->window->MarqueeType = DISP_MT_NONE;
  last_marquee_type_ = -1;
  last_marquee_window_ = 0;
  State = OPOS_S_IDLE;
}

void CLineDisplay::MarqueeWait(MarqueeRun& run, std::int32_t ms) {
  const std::uint64_t start = platform::tick_count_ms();
  while (!MarqueeStopped(run)) {
    const std::uint64_t elapsed = platform::tick_count_ms() - start;
    if (elapsed >= static_cast<std::uint64_t>(ms)) return;
    const auto step = static_cast<std::uint32_t>(
        std::min<std::uint64_t>(static_cast<std::uint64_t>(ms) - elapsed, kMarqueePumpStepMs));
    // A quit request means the application's loop is ending: nothing could stop the marquee
    // any more, so it ends here.
    if (!platform::pump_messages_for(step) && marquee_.get() == &run) StopMarquee();
  }
}

void CLineDisplay::RunMarquee(const std::shared_ptr<MarqueeRun>& run) {
  LineDisplayWindow& w = run->snapshot;
  const std::int32_t type = w.MarqueeType;
  const std::int32_t unit_wait = w.MarqueeUnitWait < 1 ? kDefaultMarqueeWaitMs : w.MarqueeUnitWait;
  const std::int32_t repeat_wait = w.MarqueeRepeatWait < 1 ? kDefaultMarqueeWaitMs : w.MarqueeRepeatWait;
  w.row_offset = 0;
  w.column_offset = 0;
  State = OPOS_S_BUSY;
  run->running = true;

  // Each frame checks before it goes out and after it, as a nested call may have stopped it.
  const auto frame = [&](const std::string& rows) {
    if (MarqueeStopped(*run)) return false;
    SendFrame(rows);
    if (MarqueeStopped(*run)) return false;
    MarqueeWait(*run, unit_wait);
    return true;
  };
  while (!MarqueeStopped(*run)) {
    if (type == DISP_ST_LEFT || type == DISP_ST_RIGHT) {
      const std::int32_t frames = HorizontalMarqueeFrames(w);
      for (std::int32_t k = 0; k < frames; ++k) {
        if (!frame(HorizontalMarqueeFrame(screen_, w, type, k))) break;
      }
    } else {
      for (const std::int32_t offset : VerticalMarqueeOffsets(w, type)) {
        LineDisplayWindow shifted = w;
        shifted.row_offset = offset;
        screen_rows copy = screen_;  // frames never change what the screen holds
        if (!frame(ComposeWindow(copy, shifted))) break;
      }
    }
    if (MarqueeStopped(*run)) break;
    MarqueeWait(*run, repeat_wait);
  }
  run->running = false;
  if (Claimed && connected()) SendSelectPrinter();
}

}  // namespace devsvc
