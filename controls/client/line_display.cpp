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
      case kDirectIOEvent: {
        // By-reference arguments are the service object's cells: what the handler writes goes back.
        std::int32_t* data = args.size() > 1 ? args[1].cell<std::int32_t>() : nullptr;
        std::string* text = args.size() > 2 ? args[2].cell<std::string>() : nullptr;
        std::int32_t data_copy = number(1);
        std::string text_copy = args.size() > 2 ? args[2].string_or() : std::string();
        handler_->on_direct_io(number(0), data != nullptr ? *data : data_copy, text != nullptr ? *text : text_copy);
        break;
      }
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
