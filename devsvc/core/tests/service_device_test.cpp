// CServiceDevice: the state check, and event delivery to the control object with FreezeEvents,
// failing callbacks and error events that wait for the freeze to end.
#include "core/service_device.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "core/opos.h"
#include "platform/messages.h"
#include "test_device.h"
#include "testing/harness.h"

namespace devsvc {
namespace {

using namespace std::chrono_literals;
using testing::call_log;

TEST(StateCheck, ReportsTheFirstMissingStep) {
  struct Case {
    bool opened, enabled, claimed;
    std::int32_t result;
  };
  const Case cases[] = {
      {false, false, false, OPOS_E_CLOSED},     {false, true, true, OPOS_E_CLOSED},
      {true, false, false, OPOS_E_DISABLED},    {true, false, true, OPOS_E_DISABLED},
      {true, true, false, OPOS_E_NOTCLAIMED},   {true, true, true, OPOS_SUCCESS},
  };
  platform::testing::scoped_registry_dir registry;
  test_device device;
  for (const Case& c : cases) {
    device.set_flags(c.opened, c.enabled, c.claimed);
    EXPECT_EQ(device.CheckState(), c.result) << c.opened << c.enabled << c.claimed;
    EXPECT_EQ(device.result_code(), c.result);
  }
}

class EventTest : public ::testing::Test {
 protected:
  void SetUp() override { device_.AttachControl(control_.get()); }

  platform::testing::scoped_registry_dir registry_;
  platform::com_ptr<testing::test_control> control_ = platform::make_object<testing::test_control>();
  test_device device_;
};

TEST_F(EventTest, EventsGoOutAtOnceWhileNotFrozen) {
  device_.FireStatusUpdate(PTR_SUE_COVER_OPEN);
  device_.FireOutputComplete(17);
  device_.FireDirectIO(5, 3, "ab");
  EXPECT_EQ(control_->calls, (call_log{"SOStatusUpdate 11", "SOOutputComplete 17", "SODirectIO 5 3 ab"}));
}

TEST_F(EventTest, FrozenEventsAreDeliveredInOrderWhenThawed) {
  device_.SetFreezeEvents(true);
  device_.FireStatusUpdate(PTR_SUE_REC_NEAREMPTY);
  device_.FireStatusUpdate(PTR_SUE_REC_PAPEROK);
  device_.FireOutputComplete(42);
  device_.FireDirectIO(7, 0, "");
  EXPECT_TRUE(control_->calls.empty());
  EXPECT_EQ(device_.pending_event_count(), 4u);

  device_.SetFreezeEvents(false);
  EXPECT_EQ(control_->calls, (call_log{"SOStatusUpdate 25", "SOStatusUpdate 26", "SOOutputComplete 42",
                                       "SODirectIO 7 0 "}));
  EXPECT_EQ(device_.pending_event_count(), 0u);
}

TEST_F(EventTest, FailingCallbackStopsTheDeliveryAndKeepsTheRest) {
  device_.SetFreezeEvents(true);
  device_.FireStatusUpdate(PTR_SUE_COVER_OPEN);
  device_.FireStatusUpdate(PTR_SUE_COVER_OK);
  device_.FireOutputComplete(3);
  control_->fail_next = true;
  device_.SetFreezeEvents(false);
  EXPECT_TRUE(control_->calls.empty());
  EXPECT_EQ(device_.pending_event_count(), 3u);

  // The next thaw delivers them all, the failed one first.
  device_.SetFreezeEvents(true);
  device_.SetFreezeEvents(false);
  EXPECT_EQ(control_->calls, (call_log{"SOStatusUpdate 11", "SOStatusUpdate 12", "SOOutputComplete 3"}));
}

TEST_F(EventTest, EventsWithoutAControlGoNowhere) {
  device_.DetachControl();
  device_.FireStatusUpdate(PTR_SUE_COVER_OPEN);
  device_.SetFreezeEvents(true);
  device_.FireOutputComplete(1);
  device_.SetFreezeEvents(false);
  EXPECT_TRUE(control_->calls.empty());
  EXPECT_EQ(device_.pending_event_count(), 0u);
}

TEST_F(EventTest, ErrorEventCarriesTheControlsResponseBack) {
  control_->error_response = OPOS_ER_CLEAR;
  EXPECT_EQ(device_.FireError(OPOS_E_EXTENDED, OPOS_EPTR_COVER_OPEN, OPOS_EL_OUTPUT, OPOS_ER_RETRY),
            OPOS_ER_CLEAR);
  EXPECT_EQ(control_->calls, (call_log{"SOError 114 201 1"}));
}

TEST_F(EventTest, ErrorEventWaitsUntilEventsAreThawed) {
  // A window timer thaws the events 300 ms from now, while FireError pumps messages.
  platform::scoped_window_class window_class("THAWCLASS", [this](auto, std::uint32_t id, auto, auto) {
    if (id == platform::kTimerMessage) device_.SetFreezeEvents(false);
  });
  platform::scoped_window window(platform::create_window("THAWCLASS", "thaw"));
  device_.SetFreezeEvents(true);
  device_.FireStatusUpdate(PTR_SUE_COVER_OPEN);
  const auto started = std::chrono::steady_clock::now();
  platform::scoped_timer timer(platform::set_timer(window.get(), 300));
  EXPECT_EQ(device_.FireError(OPOS_E_FAILURE, 0, OPOS_EL_OUTPUT, OPOS_ER_RETRY), OPOS_ER_RETRY);
  EXPECT_GE(std::chrono::steady_clock::now() - started, 300ms);
  // The frozen status event went out with the thaw, before the error event.
  EXPECT_EQ(control_->calls, (call_log{"SOStatusUpdate 11", "SOError 111 0 1"}));
}

}  // namespace
}  // namespace devsvc
