// The line display of the C++ API: creation by ProgID and the routing of its two events to the
// application's line_display_events.
#include "opos/line_display.h"

#include "client_impl.h"

namespace opos {
namespace {

// Event ids of the line display control's connection point.
constexpr long kDirectIOEvent = 1;
constexpr long kStatusUpdateEvent = 2;

}  // namespace

line_display::line_display(std::string_view prog_id) : control_client(prog_id) {
  state().route_events([this](long dispid, std::span<const platform::Variant> args) {
    if (handler_ == nullptr) return;
    const auto number = [&](std::size_t i) { return i < args.size() ? args[i].long_or(0) : 0; };
    switch (dispid) {
      case kDirectIOEvent:
        with_direct_io_args(args, [this](std::int32_t number, std::int32_t& data, std::string& text) {
          handler_->on_direct_io(number, data, text);
        });
        break;
      case kStatusUpdateEvent:
        handler_->on_status_update(number(0));
        break;
      default:
        break;
    }
  });
}

line_display::~line_display() { state().stop_events(); }

void line_display::set_event_handler(line_display_events* handler) { handler_ = handler; }

}  // namespace opos
