// CServiceDevice: the part every service object of the library shares: OPOS flags and result
// codes, the printer channel with its connect and disconnect, the state check, the poll tick,
// and event delivery into the control object with FreezeEvents.
#pragma once

#include <cstdint>
#include <deque>
#include <span>
#include <string>
#include <string_view>

#include "io/monitor_driver.h"
#include "platform/com.h"
#include "platform/log.h"
#include "platform/registry.h"

namespace devsvc {

// Types of a queued event.
inline constexpr std::int32_t kPendingStatusUpdate = 1;
inline constexpr std::int32_t kPendingOutputComplete = 2;
inline constexpr std::int32_t kPendingDirectIO = 3;

// An event held back while FreezeEvents is set.
struct PendingEvent {
  std::int32_t type = kPendingStatusUpdate;
  std::int32_t number = 0;  // status code, output identifier or event number
  std::int32_t data = 0;    // direct-I/O data
  std::string text;         // direct-I/O text
};

class CServiceDevice {
 public:
  CServiceDevice();
  CServiceDevice(const CServiceDevice&) = delete;
  CServiceDevice& operator=(const CServiceDevice&) = delete;

  // Leaves the poll timer and the printer connection if the owner did not close.
  virtual ~CServiceDevice();
  // The state check of every operation: clears ResultCode, then 101 when not opened, 105 when not
  // enabled, 103 when not claimed, else 0; stores the result in ResultCode and returns it.
  virtual std::int32_t CheckState();
  // Runs on the objects' thread at every poll tick while the device is registered.
  virtual void PollTick();

  // Connects to the printer MachineType / COMMPort through the I/O monitor, waiting up to
  // `timeout_ms` (-1: for ever) while the monitor says "not yet"; the first connection of the
  // process opens the channel, later ones share it. 0, 111 or 112. Pumps messages and blocks.
  std::int32_t Connect(std::int32_t timeout_ms);
  // Leaves the shared connection; the last user closes it. Always 0.
  std::int32_t Disconnect();
  // True while this device uses the shared connection.
  bool connected() const { return connected_; }

  // Reports an event to the control object now, or queues it while FreezeEvents is set.
  void FireStatusUpdate(std::int32_t code);
  void FireOutputComplete(std::int32_t output_id);
  void FireDirectIO(std::int32_t event_number, std::int32_t data, const std::string& text);
  // Calls SOError once FreezeEvents is clear (pumping messages in 100 ms steps meanwhile) and
  // returns the error response the control left in the cell (`response` when it left none).
  std::int32_t FireError(std::int32_t result_code, std::int32_t result_code_extended,
                         std::int32_t locus, std::int32_t response);
  // Sets ResultCode 106 (OPOS_E_ILLEGAL) with ResultCodeExtended 0 and returns it.
  std::int32_t Illegal();
  // The number properties every device sets alike: DeviceEnabled (needs a claim; 103 without),
  // BinaryConversion (0 to 2) and PowerNotify (0 or 1, only while disabled; 106 otherwise).
  // False for any other index, which the device handles itself.
  bool SetCommonProperty(std::int32_t index, std::int32_t number);
  // Sets FreezeEvents; clearing it delivers the events queued at that moment, oldest first. A
  // callback that fails stops the delivery and leaves that event and the later ones queued.
  void SetFreezeEvents(bool freeze);
  // A fresh output identifier (module-wide generator).
  static std::int32_t NewOutputID();

  std::size_t pending_event_count() const { return pending_events_.size(); }
  // Drops every queued event of every type without delivering it (ClearOutput).
  void ClearPendingEvents() { pending_events_.clear(); }

 protected:
  // Reads the device's log settings (LogLevel, LogBytes; see platform::device_log) under its
  // key and names the device in the log; OpenService calls it.
  void ConfigureLog(const platform::registry_key& device_key, const std::string& device_name);
  // Logs a finished call of `member` as the object's dispatch received it: a failure as a call
  // as an error, a non-zero ResultCode as a warning, success as info; property reads and writes
  // at debug level.
  void LogCall(std::string_view member, platform::invoke_kind kind, std::span<const platform::Variant> args,
               platform::hresult hr) const;
  // The name of `dispid` in T's dispatch table, for LogCall.
  template <class T>
  static std::string_view MemberName(long dispid) {
    for (const auto& row : T::dispatch_members()) {
      if (row.dispid == dispid) return row.name;
    }
    return "?";
  }
  // The device's diagnostic log.
  platform::device_log log_;

  // Remembers the control object's dispatch without taking a reference.
  void AttachControl(platform::dispatch* control) { control_ = control; }
  void DetachControl() { control_ = nullptr; }
  // Joins and leaves the library's poll timer.
  void RegisterWithPollTimer();
  void UnregisterFromPollTimer();

  // Connection names and the read time-out of the open step (read at open).
  std::string MachineType;
  std::string COMMPort;
  std::int32_t open_read_timeout_ms_ = 500;
  // The channel to the printer, bound to the shared IoChannel while connected.
  CMonitorDriver channel_;

  bool Opened = false;
  bool Claimed = false;
  bool DeviceEnabled = false;
  bool FreezeEvents = false;
  bool AsyncMode = false;
  std::int32_t BinaryConversion = 0;
  std::int32_t PowerNotify = 0;
  std::int32_t PowerState = 2000;
  std::int32_t ResultCode = 0;
  std::int32_t ResultCodeExtended = 0;
  std::int32_t State = 1;
  std::int32_t OutputID = 0;
  std::string CheckHealthText;

 private:
  // Calls one callback by name on the control object; false when the call failed.
  bool Deliver(const PendingEvent& event);
  void Fire(PendingEvent event);

  platform::dispatch* control_ = nullptr;
  std::deque<PendingEvent> pending_events_;
  bool connected_ = false;
  bool registered_ = false;
};

}  // namespace devsvc
