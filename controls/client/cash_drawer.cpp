// The cash drawer of the C++ API: creation by ProgID and the routing of its two events to the
// application's cash_drawer_events.
#include "opos/cash_drawer.h"

#include "client_impl.h"

namespace opos {
namespace {

// Event ids of the cash drawer control's connection point.
constexpr long kDirectIOEvent = 1;
constexpr long kStatusUpdateEvent = 2;

}  // namespace

cash_drawer::cash_drawer(std::string_view prog_id) : control_client(prog_id) {
  state().route_events([this](long dispid, std::span<const platform::Variant> args) {
    if (handler_ == nullptr) return;
    switch (dispid) {
      case kDirectIOEvent:
        with_direct_io_args(args, [this](std::int32_t number, std::int32_t& data, std::string& text) {
          handler_->on_direct_io(number, data, text);
        });
        break;
      case kStatusUpdateEvent:
        handler_->on_status_update(args.empty() ? 0 : args[0].long_or(0));
        break;
      default:
        break;
    }
  });
}

cash_drawer::~cash_drawer() { state().stop_events(); }

void cash_drawer::set_event_handler(cash_drawer_events* handler) { handler_ = handler; }

}  // namespace opos
