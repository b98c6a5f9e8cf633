// What every OPOS device class of the C++ API shares: the error type, the message-queue hooks
// for the application's event loop, and the members common to all control objects.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

#include "opos/opos.h"

namespace opos {

// An automation failure of a control-object call (not an OPOS result): the control could not be
// created, the service object lacks a member or failed the call, a read-only property was written.
// OPOS failures (101, 106, ...) are ordinary return values, never this.
class automation_error : public std::runtime_error {
 public:
  automation_error(std::int32_t code, const std::string& text) : std::runtime_error(text), code_(code) {}
  // The object model's result code, e.g. 0x80020009 for a failure inside the service object.
  std::int32_t code() const { return code_; }

 private:
  std::int32_t code_;
};

// The calling thread's message-queue descriptor, to watch for reading in poll, epoll or a Qt
// QSocketNotifier; -1 when the queue cannot be made. Asynchronous output, status polls and the
// events they raise progress only while the thread dispatches its messages.
int message_fd();
// Runs the messages and timers that are ready now; does not block. False when a quit message
// was retrieved.
bool dispatch_messages();
// Runs the calling thread's messages for `ms` milliseconds; blocks that long.
void pump_messages(std::uint32_t ms);

// One by-value argument of a method called by name: a number or a string.
class argument {
 public:
  argument(std::int32_t number) : number_(number) {}
  argument(std::string_view text) : is_text_(true), text_(text) {}
  argument(const char* text) : is_text_(true), text_(text) {}
  argument(const std::string& text) : is_text_(true), text_(text) {}

  bool is_text() const { return is_text_; }
  std::int32_t number() const { return number_; }
  std::string_view text() const { return text_; }

 private:
  bool is_text_ = false;
  std::int32_t number_ = 0;
  std::string_view text_;
};

// A control object created by ProgID through the kit's object model, with the OPOS members
// that every device class has. Not copyable; use it on the thread that created it. Destroying it
// releases the control, which releases its service object without closing it: Close first.
class control_client {
 public:
  control_client(const control_client&) = delete;
  control_client& operator=(const control_client&) = delete;
  virtual ~control_client();

  // Members by name, for anything the typed members below do not cover. Throw automation_error.
  std::int32_t call(std::string_view method, std::initializer_list<argument> args = {});
  std::int32_t get_number(std::string_view property);
  bool get_bool(std::string_view property);
  std::string get_string(std::string_view property);
  void set_number(std::string_view property, std::int32_t value);
  void set_bool(std::string_view property, bool value);

  // Common methods; each returns the OPOS result (101 before Open).
  std::int32_t Open(std::string_view device_name) { return call("Open", {device_name}); }
  std::int32_t Close() { return call("Close"); }
  std::int32_t Claim(std::int32_t timeout_ms) { return call("Claim", {timeout_ms}); }
  std::int32_t Release() { return call("Release"); }
  std::int32_t CheckHealth(std::int32_t level) { return call("CheckHealth", {level}); }
  // `data` and `text` go to the service object by reference and come back changed.
  std::int32_t DirectIO(std::int32_t command, std::int32_t& data, std::string& text);
  // The driver name and release line that the About box shows.
  std::string AboutBox();

  // Runs `action` on the control's thread once `delay_ms` milliseconds have passed (0: as soon as
  // the thread dispatches its messages). It runs from the message queue, so also while a control
  // call waits and pumps messages (a running marquee does): this is how the application gets a
  // call in during such a call. Safe from any thread. Returns an id for cancel; actions that have
  // not run are dropped with the control. The action must not throw (an escaping exception is
  // dropped).
  std::uint64_t post(std::function<void()> action, std::uint32_t delay_ms = 0);
  // Drops a posted action that has not run yet; false when it has run or is unknown.
  bool cancel(std::uint64_t id);

  // Common properties (0, false or "" before Open, except the control's own description and version).
  std::int32_t GetBinaryConversion() { return get_number("BinaryConversion"); }
  void SetBinaryConversion(std::int32_t value) { set_number("BinaryConversion", value); }
  std::int32_t GetCapPowerReporting() { return get_number("CapPowerReporting"); }
  std::string GetCheckHealthText() { return get_string("CheckHealthText"); }
  bool GetClaimed() { return get_bool("Claimed"); }
  bool GetDeviceEnabled() { return get_bool("DeviceEnabled"); }
  void SetDeviceEnabled(bool value) { set_bool("DeviceEnabled", value); }
  bool GetFreezeEvents() { return get_bool("FreezeEvents"); }
  void SetFreezeEvents(bool value) { set_bool("FreezeEvents", value); }
  std::int32_t GetPowerNotify() { return get_number("PowerNotify"); }
  void SetPowerNotify(std::int32_t value) { set_number("PowerNotify", value); }
  std::int32_t GetPowerState() { return get_number("PowerState"); }
  std::int32_t GetResultCode() { return get_number("ResultCode"); }
  std::int32_t GetResultCodeExtended() { return get_number("ResultCodeExtended"); }
  std::int32_t GetState() { return get_number("State"); }
  std::string GetControlObjectDescription() { return get_string("ControlObjectDescription"); }
  std::int32_t GetControlObjectVersion() { return get_number("ControlObjectVersion"); }
  std::string GetServiceObjectDescription() { return get_string("ServiceObjectDescription"); }
  std::int32_t GetServiceObjectVersion() { return get_number("ServiceObjectVersion"); }
  std::string GetDeviceDescription() { return get_string("DeviceDescription"); }
  std::string GetDeviceName() { return get_string("DeviceName"); }

  struct impl;

 protected:
  // Creates the control from a ProgID (or "{clsid}" text); throws automation_error when it
  // is not registered or cannot be made.
  explicit control_client(std::string_view prog_id);
  impl& state() { return *impl_; }

 private:
  std::unique_ptr<impl> impl_;
};

}  // namespace opos
