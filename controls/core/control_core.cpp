// Binding a device name to its service object through the registry, forwarding members by name,
// property rules of the opened and closed states, and callbacks turned into events.
#include "controls/control_core.h"

#include <unistd.h>

#include <cstring>
#include <vector>

#include "opos/opos.h"
#include "platform/registry.h"

namespace controls {
namespace {

using platform::hresult;
using platform::Variant;

// Names of the service-object members that carry properties.
constexpr std::string_view kGetPropertyNumber = "GetPropertyNumber";
constexpr std::string_view kGetPropertyString = "GetPropertyString";
constexpr std::string_view kSetPropertyNumber = "SetPropertyNumber";

// Reads a string value of at most kBindingValueBuffer bytes (NUL included); false for a missing
// value, a value of another type or one that does not fit.
bool read_bounded_string(const platform::registry_key& key, std::string_view name, std::string& out) {
  char buffer[kBindingValueBuffer] = {};
  std::uint32_t size = sizeof buffer;
  platform::registry_type type = platform::registry_type::none;
  if (key.query_value(name, &type, buffer, &size) != platform::kErrorSuccess) return false;
  if (type != platform::registry_type::string && type != platform::registry_type::expand_string) return false;
  out.assign(buffer, strnlen(buffer, size));
  return true;
}

const property_row* find_property(const control_class& cls, long dispid) {
  for (const property_row& row : cls.properties) {
    if (row.dispid == dispid) return &row;
  }
  return nullptr;
}

const method_row* find_method(const control_class& cls, long dispid) {
  for (const method_row& row : cls.methods) {
    if (row.dispid == dispid) return &row;
  }
  return nullptr;
}

// Converts the caller's arguments to what `params` asks for: values become long or string
// values, by-reference parameters must be cells of their type and pass through as they are.
hresult convert_arguments(std::string_view params, std::span<const Variant> args, std::vector<Variant>& out) {
  if (args.size() != params.size()) return platform::kDispEBadParamCount;
  out.clear();
  for (std::size_t i = 0; i < params.size(); ++i) {
    const Variant& arg = args[i];
    hresult hr = platform::kSOk;
    switch (params[i]) {
      case 'l': {
        std::int32_t value = 0;
        hr = arg.as_long(value);
        out.emplace_back(value);
        break;
      }
      case 's': {
        std::string value;
        hr = arg.as_string(value);
        out.emplace_back(std::move(value));
        break;
      }
      case 'L':
        hr = arg.cell<std::int32_t>() != nullptr ? platform::kSOk : platform::kDispETypeMismatch;
        out.push_back(arg);
        break;
      case 'S':
        hr = arg.cell<std::string>() != nullptr ? platform::kSOk : platform::kDispETypeMismatch;
        out.push_back(arg);
        break;
      default:
        hr = platform::kEFail;
        break;
    }
    if (platform::failed(hr)) {
      platform::set_error_info("argument " + std::to_string(i + 1) + " is " +
                               std::string(platform::variant_type_name(arg.type())) + ", which does not fit");
      return hr;
    }
  }
  return platform::kSOk;
}

}  // namespace

binding resolve_device(std::string_view class_key, std::string_view device_name) {
  binding out;
  out.device_name = std::string(device_name);
  platform::registry_key classes;
  if (platform::registry_key::open(platform::registry_root::local_machine, class_key, classes) !=
      platform::kErrorSuccess) {
    out.result = opos::kENoExist;
    return out;
  }
  // A value named like the device is an alias; when it cannot be read the name stands.
  std::string alias;
  if (read_bounded_string(classes, device_name, alias)) out.device_name = alias;

  platform::registry_key device;
  if (classes.open(out.device_name, device) != platform::kErrorSuccess ||
      !read_bounded_string(device, "", out.prog_id)) {
    out.result = opos::kENoExist;
  }
  return out;
}

hresult control_core::call_service(std::string_view name, std::span<const Variant> args, Variant* result) {
  // Held for the call: an event handler may close the control while the service object runs.
  const platform::com_ptr<platform::dispatch> service = service_;
  platform::dispatch_client client(service, &cache_);
  platform::call_result r = client.invoke(name, platform::invoke_kind::method, args);
  if (r.ok()) {
    if (result != nullptr) *result = std::move(r.value);
    return platform::kSOk;
  }
  const std::string detail = platform::take_error_info();
  platform::set_error_info("the service object's " + std::string(name) + " failed with " +
                           platform::hresult_text(r.hr) + (detail.empty() ? "" : ": " + detail));
  return platform::kDispEException;
}

std::int32_t control_core::open(platform::dispatch& self, const std::string& device_name, hresult& hr) {
  if (opened_) return opos::kEIllegal;
  const binding found = resolve_device(class_.registry_class_key, device_name);
  if (found.result != 0) return found.result;

  platform::com_ptr<platform::dispatch> service;
  if (platform::failed(platform::create_instance(found.prog_id, service)) || !service) return opos::kENoService;
  service_ = service;

  Variant answer;
  hr = call_service("OpenService", std::vector<Variant>{Variant(class_.device_class), Variant(found.device_name),
                                                          Variant(&self)},
                    &answer);
  std::int32_t code = 0;
  if (platform::succeeded(hr)) hr = answer.as_long(code);
  if (platform::failed(hr) || code != 0) {
    service_.reset();
    return code;
  }
  opened_ = true;
  return 0;
}

std::int32_t control_core::close(hresult& hr) {
  if (!opened_) return opos::kEClosed;
  Variant answer;
  hr = call_service("Close", {}, &answer);
  std::int32_t code = 0;
  if (platform::succeeded(hr)) hr = answer.as_long(code);
  const bool closes = class_.close == close_policy::always_release || (platform::succeeded(hr) && code == 0);
  if (closes) {
    opened_ = false;
    service_.reset();
  }
  return code;
}

hresult control_core::call_method(platform::dispatch& self, platform::event_sinks& events, long dispid,
                                  std::span<const Variant> args, Variant* result) {
  const method_row* row = find_method(class_, dispid);
  if (row == nullptr) return platform::kDispEMemberNotFound;
  std::vector<Variant> converted;
  hresult hr = convert_arguments(row->params, args, converted);
  if (platform::failed(hr)) return hr;

  Variant value;
  switch (row->role) {
    case method_role::open: {
      std::string name;
      (void)converted[0].as_string(name);
      value = open(self, name, hr);
      break;
    }
    case method_role::close:
      value = close(hr);
      break;
    case method_role::about_box:
      value = std::string(class_.about_text);
      break;
    case method_role::process_id:
      value = static_cast<std::int32_t>(::getpid());
      break;
    case method_role::fire_event:
      // Sinks see the service object's own cells, so their answers flow back when the
      // callback returns. A failing sink does not fail the service object's callback.
      (void)events.fire_args(row->event_dispid, converted);
      break;
    case method_role::forward: {
      if (!opened_) {
        value = opos::kEClosed;
        break;
      }
      Variant answer;
      hr = call_service(row->forward_to.empty() ? row->name : row->forward_to, converted, &answer);
      std::int32_t code = 0;
      if (platform::succeeded(hr)) hr = answer.as_long(code);
      value = code;
      break;
    }
  }
  if (platform::failed(hr)) return hr;
  if (result != nullptr) *result = std::move(value);
  return platform::kSOk;
}

hresult control_core::get_property(long dispid, std::span<const Variant> args, Variant* result) {
  const property_row* row = find_property(class_, dispid);
  if (row == nullptr) return platform::kDispEMemberNotFound;
  if (!args.empty()) return platform::kDispEBadParamCount;

  Variant value;
  if (row->pidx == kAnsweredLocally) {
    // Only the description and the version are answered by the control itself.
    value = row->type == property_type::string ? Variant(class_.description) : Variant(class_.version);
  } else if (row->type == property_type::string) {
    std::string text;
    if (opened_) {
      Variant answer;
      hresult hr = call_service(kGetPropertyString, std::vector<Variant>{Variant(row->pidx)}, &answer);
      if (platform::succeeded(hr)) hr = answer.as_string(text);
      if (platform::failed(hr)) return hr;
    }
    value = std::move(text);
  } else {
    std::int32_t number = 0;
    if (opened_) {
      Variant answer;
      hresult hr = call_service(kGetPropertyNumber, std::vector<Variant>{Variant(row->pidx)}, &answer);
      if (platform::succeeded(hr)) hr = answer.as_long(number);
      if (platform::failed(hr)) return hr;
    }
    value = row->type == property_type::boolean ? Variant(number != 0) : Variant(number);
  }
  if (result != nullptr) *result = std::move(value);
  return platform::kSOk;
}

hresult control_core::put_property(long dispid, std::span<const Variant> args) {
  const property_row* row = find_property(class_, dispid);
  if (row == nullptr) return platform::kDispEMemberNotFound;
  if (!row->writable || row->type == property_type::string) return platform::kCtlESetNotSupported;
  if (args.size() != 1) return platform::kDispEBadParamCount;

  // The value is converted in every state, so a wrong type is an error even while closed.
  std::int32_t number = 0;
  if (row->type == property_type::boolean) {
    bool flag = false;
    const hresult hr = args[0].as_bool(flag);
    if (platform::failed(hr)) return hr;
    number = flag ? 1 : 0;
  } else {
    const hresult hr = args[0].as_long(number);
    if (platform::failed(hr)) return hr;
  }
  if (!opened_) return platform::kSOk;
  return call_service(kSetPropertyNumber, std::vector<Variant>{Variant(row->pidx), Variant(number)}, nullptr);
}

}  // namespace controls
