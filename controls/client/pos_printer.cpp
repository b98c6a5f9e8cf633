// The POS printer of the C++ API: creation by ProgID and the routing of its four events to the
// application's pos_printer_events.
#include "opos/pos_printer.h"

#include "client_impl.h"

namespace opos {
namespace {

// Event ids of the POS printer control's connection point.
constexpr long kDirectIOEvent = 1;
constexpr long kErrorEvent = 2;
constexpr long kOutputCompleteEvent = 3;
constexpr long kStatusUpdateEvent = 4;

}  // namespace

pos_printer::pos_printer(std::string_view prog_id) : control_client(prog_id) {
  state().route_events([this](long dispid, std::span<const platform::Variant> args) {
    if (handler_ == nullptr) return;
    // By-reference arguments are the service object's cells: what the handler writes goes back.
    const auto number = [&](std::size_t i) { return i < args.size() ? args[i].long_or(0) : 0; };
    const auto long_cell = [&](std::size_t i) { return i < args.size() ? args[i].cell<std::int32_t>() : nullptr; };
    switch (dispid) {
      case kDirectIOEvent:
        with_direct_io_args(args, [this](std::int32_t number, std::int32_t& data, std::string& text) {
          handler_->on_direct_io(number, data, text);
        });
        break;
      case kErrorEvent: {
        std::int32_t* response = long_cell(3);
        std::int32_t response_copy = number(3);
        handler_->on_error(number(0), number(1), number(2), response != nullptr ? *response : response_copy);
        break;
      }
      case kOutputCompleteEvent:
        handler_->on_output_complete(number(0));
        break;
      case kStatusUpdateEvent:
        handler_->on_status_update(number(0));
        break;
      default:
        break;
    }
  });
}

pos_printer::~pos_printer() { state().stop_events(); }

void pos_printer::set_event_handler(pos_printer_events* handler) { handler_ = handler; }

}  // namespace opos
