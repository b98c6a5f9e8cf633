// The cash drawer of the C++ API: the OPOS cash drawer control object as a C++ class, and the
// interface through which the application receives its events.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "opos/client.h"

namespace opos {

// StatusUpdateEvent values of a cash drawer (besides the power states 2001 to 2004).
inline constexpr std::int32_t kCashSueDrawerClosed = 0;
inline constexpr std::int32_t kCashSueDrawerOpen = 1;

// Receives a cash drawer's events, on the drawer's thread. The drawer control raises only these
// two: a drawer reports no errors or output completions of asynchronous requests. Handlers must
// not throw.
class cash_drawer_events {
 public:
  virtual ~cash_drawer_events() = default;
  // A DirectIOEvent; `data` and `text` may be changed for the service object.
  virtual void on_direct_io(std::int32_t /*event_number*/, std::int32_t& /*data*/, std::string& /*text*/) {}
  // The drawer opened (kCashSueDrawerOpen) or closed, or its power state changed.
  virtual void on_status_update(std::int32_t /*data*/) {}
};

// The OPOS cash drawer on the printer's kick-out connector, created through the ProgID of the
// kit's cash drawer control (register libDrwctl.so). Methods return OPOS results; automation
// failures throw automation_error.
class cash_drawer : public control_client {
 public:
  static constexpr std::string_view kProgId = "CONTROLObject.KorvaneCashDrawer.1";

  explicit cash_drawer(std::string_view prog_id = kProgId);
  ~cash_drawer() override;

  // Sends the events to `handler` (not owned; null stops them) until changed.
  void set_event_handler(cash_drawer_events* handler);

  // Opens the drawer; returns once the open command has gone out.
  std::int32_t OpenDrawer() { return call("OpenDrawer"); }
  // Waits until the drawer is closed, beeping (frequency in Hz, duration and delay in ms) once
  // `beep_timeout_ms` have passed. Blocks the thread meanwhile: its messages, and so posted
  // actions, wait until the call returns.
  std::int32_t WaitForDrawerClose(std::int32_t beep_timeout_ms, std::int32_t beep_frequency,
                                  std::int32_t beep_duration_ms, std::int32_t beep_delay_ms) {
    return call("WaitForDrawerClose", {beep_timeout_ms, beep_frequency, beep_duration_ms, beep_delay_ms});
  }

  // Cash drawer properties (false before Open).
  bool GetCapStatus() { return get_bool("CapStatus"); }
  bool GetDrawerOpened() { return get_bool("DrawerOpened"); }

 private:
  cash_drawer_events* handler_ = nullptr;
};

}  // namespace opos
