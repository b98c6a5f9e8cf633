// The common part of the C++ API: creating a control by ProgID, calling its members by name,
// routing its events, and the message-queue hooks for the application's event loop.
#include <vector>

#include "client_impl.h"
#include "platform/messages.h"

namespace opos {
namespace {

using platform::hresult;
using platform::Variant;

// The sink attached to a control's connection point: it answers every event id and hands the
// event to the router of its owner.
class event_sink final : public platform::ref_counted<platform::dispatch>, private platform::module_object {
 public:
  explicit event_sink(event_router router) : router_(std::move(router)) {}

  hresult get_ids_of_names(std::string_view, long&) override { return platform::kDispEUnknownName; }
  hresult invoke(long dispid, platform::invoke_kind, std::span<const Variant> args, Variant*) override {
    if (!router_) return platform::kSOk;
    // The application's handler must not throw; if it does, the failure stops here.
    try {
      router_(dispid, args);
      return platform::kSOk;
    } catch (const std::exception& e) {
      platform::set_error_info(e.what());
      return platform::kDispEException;
    } catch (...) {
      return platform::kDispEException;
    }
  }
  void disconnect() { router_ = nullptr; }

 private:
  ~event_sink() override = default;

  event_router router_;
};

Variant to_variant(const argument& arg) {
  return arg.is_text() ? Variant(arg.text()) : Variant(arg.number());
}

}  // namespace

void throw_automation_error(hresult hr, std::string_view what) {
  const std::string detail = platform::take_error_info();
  throw automation_error(hr, std::string(what) + ": " + platform::hresult_text(hr) +
                                 (detail.empty() ? "" : ": " + detail));
}

int message_fd() { return platform::queue_fd(); }
bool dispatch_messages() { return platform::dispatch_ready_messages(); }
void pump_messages(std::uint32_t ms) { platform::pump_messages_for(ms); }

void control_client::impl::route_events(event_router router) {
  stop_events();
  auto* raw = new event_sink(std::move(router));
  const auto created = platform::com_ptr<platform::dispatch>::adopt(raw);
  const auto point = control.as<platform::connection_point>();
  if (!point) throw automation_error(platform::kENoInterface, "the control has no connection point for events");
  const hresult hr = point->advise(created.get(), cookie);
  if (platform::failed(hr)) throw_automation_error(hr, "attaching the event sink");
  sink = created;
}

void control_client::impl::stop_events() {
  if (!sink) return;
  if (const auto point = control.as<platform::connection_point>()) (void)point->unadvise(cookie);
  static_cast<event_sink*>(sink.get())->disconnect();
  sink.reset();
  cookie = 0;
}

Variant control_client::impl::invoke(std::string_view name, platform::invoke_kind kind, std::span<const Variant> args) {
  platform::dispatch_client client(control, &names);
  platform::call_result r = client.invoke(name, kind, args);
  if (!r.ok()) throw_automation_error(r.hr, name);
  return std::move(r.value);
}

control_client::control_client(std::string_view prog_id) : impl_(std::make_unique<impl>()) {
  const hresult hr = platform::create_instance(prog_id, impl_->control);
  if (platform::failed(hr)) {
    throw automation_error(hr, "cannot create " + std::string(prog_id) + ": " + platform::hresult_text(hr) + ": " +
                                   platform::com_last_error());
  }
  impl_->calls.reset(create_calls_window());
}

control_client::~control_client() {
  // The sink goes first, so that no event reaches a device class that is being destroyed; posted
  // calls that have not run would call into it too.
  impl_->stop_events();
  drop_posted_calls(impl_->calls.get());
}

std::uint64_t control_client::post(std::function<void()> action, std::uint32_t delay_ms) {
  if (impl_->calls.get() == platform::window_handle::none) {
    throw automation_error(platform::kEFail, "post: the control's thread has no message queue");
  }
  return post_call(impl_->calls.get(), std::move(action), delay_ms);
}

bool control_client::cancel(std::uint64_t id) { return cancel_posted_call(id); }

std::int32_t control_client::call(std::string_view method, std::initializer_list<argument> args) {
  std::vector<Variant> values;
  values.reserve(args.size());
  for (const argument& arg : args) values.push_back(to_variant(arg));
  return impl_->invoke(method, platform::invoke_kind::method, values).long_or(0);
}

std::int32_t control_client::get_number(std::string_view property) {
  return impl_->invoke(property, platform::invoke_kind::property_get, {}).long_or(0);
}

bool control_client::get_bool(std::string_view property) {
  return impl_->invoke(property, platform::invoke_kind::property_get, {}).bool_or(false);
}

std::string control_client::get_string(std::string_view property) {
  return impl_->invoke(property, platform::invoke_kind::property_get, {}).string_or();
}

void control_client::set_number(std::string_view property, std::int32_t value) {
  const Variant arg(value);
  impl_->invoke(property, platform::invoke_kind::property_put, std::span<const Variant>(&arg, 1));
}

void control_client::set_bool(std::string_view property, bool value) {
  const Variant arg(value);
  impl_->invoke(property, platform::invoke_kind::property_put, std::span<const Variant>(&arg, 1));
}

std::int32_t control_client::DirectIO(std::int32_t command, std::int32_t& data, std::string& text) {
  const Variant args[] = {Variant(command), Variant::ref(data), Variant::ref(text)};
  return impl_->invoke("DirectIO", platform::invoke_kind::method, args).long_or(0);
}

std::string control_client::AboutBox() {
  return impl_->invoke("AboutBox", platform::invoke_kind::method, {}).string_or();
}

}  // namespace opos
