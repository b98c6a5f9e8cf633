// The part every OPOS control object shares: a control class is a description (device class,
// registry key, fixed texts, close policy) plus tables of properties, methods and events; the
// core binds a device name to its service object and forwards every member to it by name.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "platform/dispatch_table.h"

namespace controls {

// How a property travels to and from the service object.
enum class property_type : std::uint8_t {
  number,   // long, through GetPropertyNumber / SetPropertyNumber
  boolean,  // BOOL: non-zero reads as true; a write sends 1 or 0
  string,   // BSTR, through GetPropertyString (never written)
};

// PIDX of the properties that the control answers itself (its description and version).
inline constexpr std::int32_t kAnsweredLocally = -1;

// One property of a control: its dispatch id, name, type, whether it is writable and its
// OPOS property index. A read-only property has no put member, so writing it fails with
// set-not-supported.
struct property_row {
  long dispid = 0;
  std::string_view name;
  property_type type = property_type::number;
  bool writable = false;
  std::int32_t pidx = kAnsweredLocally;
};

// What a method of a control does.
enum class method_role : std::uint8_t {
  forward,     // calls the service-object member of the same name; 101 while closed
  open,        // binds the device name to its service object
  close,       // closes and releases the service object (see close_policy)
  about_box,   // answers the driver name and release line
  process_id,  // SOProcessID: the id of the process hosting the control
  fire_event,  // a callback of the service object: fires `event_dispid` with the same arguments
};

// One method of a control. `params` has one letter per parameter: 'l' long, 's' string,
// 'L' long by reference, 'S' string by reference (by-reference parameters require cells, which
// pass through to the service object or the event sinks unchanged).
struct method_row {
  long dispid = 0;
  std::string_view name;
  std::string_view params;
  method_role role = method_role::forward;
  long event_dispid = 0;        // for fire_event
  std::string_view forward_to = {};  // for forward: the service-object member when not `name`
};

// What Close does when the service object's Close fails.
enum class close_policy : std::uint8_t {
  always_release,      // the control closes and releases the service object anyway
  release_on_success,  // the control stays opened and keeps the service object (Close can be retried)
};

// Everything that tells one control class from another.
struct control_class {
  std::string_view device_class;        // passed to OpenService, e.g. "POSPrinter"
  std::string_view registry_class_key;  // under HKEY_LOCAL_MACHINE
  std::string_view description;         // ControlObjectDescription
  std::int32_t version = 0;             // ControlObjectVersion (major×1000000 + minor×1000 + build)
  std::string_view about_text;          // what AboutBox answers
  close_policy close = close_policy::always_release;
  std::span<const property_row> properties;
  std::span<const method_row> methods;
};

// Size in bytes of the buffers the registry values of a binding are read into (alias data and
// ProgID, each with its terminating NUL).
inline constexpr std::uint32_t kBindingValueBuffer = 64;

// The result of binding a device name, before the service object is created.
struct binding {
  std::int32_t result = 0;  // 0, or 109 when the registry does not lead to a ProgID
  std::string device_name;  // the alias's data when the name is an alias, else the name given
  std::string prog_id;
};

// Looks `device_name` up under HKEY_LOCAL_MACHINE\<class_key>: a value of that name is an
// alias whose data replaces the name (when it fits the 64-byte buffer); the device key's
// default value is the ProgID (at most 63 characters).
binding resolve_device(std::string_view class_key, std::string_view device_name);

// The per-instance state and behaviour of a control: opened flag, the service object, and the
// handlers of the generated member rows. Not locked: used on the control's own thread.
class control_core {
 public:
  // `cache` is the dispatch-id table of the control class, shared by all its instances.
  control_core(const control_class& cls, platform::dispid_cache& cache) : class_(cls), cache_(cache) {}

  // Handlers of the method, property-get and property-put rows; `self` is the control's own
  // dispatch (passed to OpenService) and `events` its sinks. A failing service-object call
  // gives kDispEException with the reason as error info; OPOS failures are results, not errors.
  platform::hresult call_method(platform::dispatch& self, platform::event_sinks& events, long dispid,
                                std::span<const platform::Variant> args, platform::Variant* result);
  platform::hresult get_property(long dispid, std::span<const platform::Variant> args,
                                 platform::Variant* result);
  platform::hresult put_property(long dispid, std::span<const platform::Variant> args);

  bool opened() const { return opened_; }

 private:
  std::int32_t open(platform::dispatch& self, const std::string& device_name, platform::hresult& hr);
  std::int32_t close(platform::hresult& hr);
  // Calls service-object member `name`; on an automation failure records why and returns
  // kDispEException.
  platform::hresult call_service(std::string_view name, std::span<const platform::Variant> args,
                                 platform::Variant* result);

  const control_class& class_;
  platform::dispid_cache& cache_;
  bool opened_ = false;
  platform::com_ptr<platform::dispatch> service_;
};

// Base of a control class T: a dispatch object with a connection point for its events, whose
// member rows come from member_table<T>. T provides
//   static const controls::control_class& control_class_info();
//   static std::span<const platform::dispatch_member<T>> dispatch_members();
// Each control class has one dispatch-id cache for the whole process.
template <class T>
class control_object : public platform::dispatch_object<T, platform::connection_point_impl> {
 public:
  static platform::hresult method_handler(T& self, long dispid, std::span<const platform::Variant> args,
                                          platform::Variant* result) {
    return self.core_.call_method(self, self.events(), dispid, args, result);
  }
  static platform::hresult get_handler(T& self, long dispid, std::span<const platform::Variant> args,
                                       platform::Variant* result) {
    return self.core_.get_property(dispid, args, result);
  }
  static platform::hresult put_handler(T& self, long dispid, std::span<const platform::Variant> args,
                                       platform::Variant*) {
    return self.core_.put_property(dispid, args);
  }

 protected:
  control_object() : core_(T::control_class_info(), cache_) {}

 private:
  static inline platform::dispid_cache cache_;
  control_core core_;
};

// Number of dispatch rows that member_table makes: one get row per property, one put row per
// writable property, one row per method.
constexpr std::size_t member_count(std::span<const property_row> properties,
                                   std::span<const method_row> methods) {
  std::size_t count = properties.size() + methods.size();
  for (const property_row& p : properties) count += p.writable ? 1 : 0;
  return count;
}

// The dispatch rows of control class T, made at compile time from its property and method tables:
//   constexpr auto kMembers = controls::member_table<T, controls::member_count(kProps, kMethods)>(kProps, kMethods);
template <class T, std::size_t N>
constexpr std::array<platform::dispatch_member<T>, N> member_table(std::span<const property_row> properties,
                                                                   std::span<const method_row> methods) {
  std::array<platform::dispatch_member<T>, N> rows{};
  std::size_t i = 0;
  // Types for the member list: a property's type letter, 'l' for every method's OPOS result except
  // the about box's text.
  constexpr auto type_letter = [](property_type type) -> std::string_view {
    return type == property_type::number ? "l" : type == property_type::boolean ? "b" : "s";
  };
  for (const property_row& p : properties) {
    rows[i++] = {p.name, p.dispid, platform::invoke_kind::property_get, &control_object<T>::get_handler, "",
                 type_letter(p.type)};
    if (p.writable) {
      rows[i++] = {p.name, p.dispid, platform::invoke_kind::property_put, &control_object<T>::put_handler,
                   type_letter(p.type), ""};
    }
  }
  for (const method_row& m : methods) {
    rows[i++] = {m.name, m.dispid, platform::invoke_kind::method, &control_object<T>::method_handler, m.params,
                 m.role == method_role::about_box ? "s" : "l"};
  }
  return rows;
}

}  // namespace controls
