// The private state behind opos::control_client: the control's dispatch, its dispatch-id
// table and the sink through which its events reach the device class.
#pragma once

#include <functional>
#include <span>
#include <string>

#include "opos/client.h"
#include "platform/com.h"
#include "platform/messages.h"

namespace opos {

// Routes one event (by the control's event id) to the application's handler.
using event_router = std::function<void(long dispid, std::span<const platform::Variant> args)>;

struct control_client::impl {
  platform::com_ptr<platform::dispatch> control;
  platform::dispid_cache names;
  platform::com_ptr<platform::dispatch> sink;  // attached to the control's connection point
  std::uint32_t cookie = 0;
  // The window on the control's thread that runs the actions of post (see posted_calls.cpp).
  platform::scoped_window calls;

  // Attaches a sink that hands every event to `router`; replaces an earlier one.
  void route_events(event_router router);
  // Detaches the sink; events are dropped afterwards.
  void stop_events();
  // Calls a member by name; throws automation_error on failure.
  platform::Variant invoke(std::string_view name, platform::invoke_kind kind, std::span<const platform::Variant> args);
};

// Hands a DirectIOEvent's arguments (event number, data, text) to `handle`. By-reference
// arguments are the service object's cells, so what the handler writes goes back.
template <class Handle>
void with_direct_io_args(std::span<const platform::Variant> args, Handle handle) {
  std::int32_t* data = args.size() > 1 ? args[1].cell<std::int32_t>() : nullptr;
  std::string* text = args.size() > 2 ? args[2].cell<std::string>() : nullptr;
  std::int32_t data_copy = args.size() > 1 ? args[1].long_or(0) : 0;
  std::string text_copy = args.size() > 2 ? args[2].string_or() : std::string();
  handle(args.empty() ? 0 : args[0].long_or(0), data != nullptr ? *data : data_copy,
         text != nullptr ? *text : text_copy);
}

// Throws automation_error for a failed call of `what`, with the error info of the failure.
[[noreturn]] void throw_automation_error(platform::hresult hr, std::string_view what);

// Creates the calling thread's window for posted calls; none when the queue cannot be made.
platform::window_handle create_calls_window();
// Drops the posted calls of `window` that have not run; the window is destroyed by its owner.
void drop_posted_calls(platform::window_handle window);
// Queues `action` for `window`'s thread; the id of the posted call.
std::uint64_t post_call(platform::window_handle window, std::function<void()> action, std::uint32_t delay_ms);
// Drops a posted call that has not run; false when there is none of that id.
bool cancel_posted_call(std::uint64_t id);

}  // namespace opos
