// The private state behind opos::control_client: the control's dispatch, its dispatch-id
// table and the sink through which its events reach the device class.
#pragma once

#include <functional>
#include <span>
#include <string>

#include "opos/client.h"
#include "platform/com.h"

namespace opos {

// Routes one event (by the control's event id) to the application's handler.
using event_router = std::function<void(long dispid, std::span<const platform::Variant> args)>;

struct control_client::impl {
  platform::com_ptr<platform::dispatch> control;
  platform::dispid_cache names;
  platform::com_ptr<platform::dispatch> sink;  // attached to the control's connection point
  std::uint32_t cookie = 0;

  // Attaches a sink that hands every event to `router`; replaces an earlier one.
  void route_events(event_router router);
  // Detaches the sink; events are dropped afterwards.
  void stop_events();
  // Calls a member by name; throws automation_error on failure.
  platform::Variant invoke(std::string_view name, platform::invoke_kind kind, std::span<const platform::Variant> args);
};

// Throws automation_error for a failed call of `what`, with the error info of the failure.
[[noreturn]] void throw_automation_error(platform::hresult hr, std::string_view what);

}  // namespace opos
