// CServiceDevice: state check, printer connection through the I/O monitor, event delivery.
#include "core/service_device.h"

#include <algorithm>
#include <utility>

#include "core/binary_conversion.h"
#include "core/module.h"
#include "core/opos.h"
#include "platform/messages.h"

namespace devsvc {
namespace {

using platform::Variant;

constexpr const char* kMonitorProgId = "QuorelServer.Monitor";
// Messages are pumped this long between two connection-status polls while the printer is not
// ready yet, so that pending work runs meanwhile.
constexpr std::uint32_t kConnectPollPumpMs = 250;
// Step of the wait for FreezeEvents to clear before an error event.
constexpr std::uint32_t kErrorWaitStepMs = 100;

// Answers of the monitor's GetConnectionStatus.
constexpr std::int32_t kConnectable = 0;
constexpr std::int32_t kNotReadyYet = 1;

}  // namespace

CServiceDevice::CServiceDevice() { ModuleObjectCreated(); }

CServiceDevice::~CServiceDevice() {
  if (connected_) Disconnect();
  UnregisterFromPollTimer();
  ModuleObjectDestroyed();
}

std::int32_t CServiceDevice::CheckState() {
  ResultCode = OPOS_SUCCESS;
  if (!Opened) {
    ResultCode = OPOS_E_CLOSED;
  } else if (!DeviceEnabled) {
    ResultCode = OPOS_E_DISABLED;
  } else if (!Claimed) {
    ResultCode = OPOS_E_NOTCLAIMED;
  }
  return ResultCode;
}

void CServiceDevice::PollTick() {}

void CServiceDevice::RegisterWithPollTimer() {
  RegisterPollDevice(this);
  registered_ = true;
}

void CServiceDevice::UnregisterFromPollTimer() {
  if (!registered_) return;
  UnregisterPollDevice(this);
  registered_ = false;
}

std::int32_t CServiceDevice::Connect(std::int32_t timeout_ms) {
  if (connected_) return OPOS_SUCCESS;

  platform::com_ptr<platform::dispatch> monitor_object;
  if (platform::failed(platform::create_instance(kMonitorProgId, monitor_object)) || !monitor_object) {
    return OPOS_E_FAILURE;
  }
  // The monitor client lives for this call only; it drops its reference on every way out.
  CMonitorDriver monitor;
  monitor.AttachDispatch(monitor_object.detach(), true);

  SharedConnection& shared = GetSharedConnection();
  if (shared.io) {
    ++shared.users;
    channel_.AttachDispatch(shared.io.get(), false);
    channel_.SetAsync(AsyncMode, open_read_timeout_ms_);
    connected_ = true;
    return OPOS_SUCCESS;
  }

  // The monitor is asked at once; messages are pumped only while it answers "not yet".
  const std::uint64_t first_poll = platform::tick_count_ms();
  for (;;) {
    const std::int32_t status = monitor.GetConnectionStatus(MachineType, COMMPort);
    if (status == kConnectable) break;
    if (status != kNotReadyYet) return OPOS_E_FAILURE;
    const auto waited = static_cast<std::int64_t>(platform::tick_count_ms() - first_poll);
    if (timeout_ms != -1 && waited > timeout_ms) return OPOS_E_TIMEOUT;
    std::uint32_t pump_ms = kConnectPollPumpMs;
    if (timeout_ms != -1) pump_ms = static_cast<std::uint32_t>(std::min<std::int64_t>(pump_ms, timeout_ms - waited + 1));
    PumpMessages(pump_ms);
  }

  platform::com_ptr<platform::dispatch> io = monitor.GetConnection(MachineType, COMMPort);
  if (!io) return OPOS_E_FAILURE;
  channel_.AttachDispatch(io.get(), false);
  channel_.SetAsync(AsyncMode, open_read_timeout_ms_);
  if (channel_.OpenIO() != kChannelOk) {
    channel_.DetachDispatch();
    return OPOS_E_FAILURE;
  }
  ++shared.users;
  shared.io = std::move(io);
  shared.client.AttachDispatch(shared.io.get(), false);
  shared.pump_flag = channel_.pump_flag();
  connected_ = true;
  return OPOS_SUCCESS;
}

std::int32_t CServiceDevice::Disconnect() {
  // A device that holds no share of the connection must not take another device's share.
  if (!connected_) return OPOS_SUCCESS;
  connected_ = false;
  SharedConnection& shared = GetSharedConnection();
  if (--shared.users < 1) {
    channel_.CloseIO();
    channel_.DetachDispatch();
    shared.client.ReleaseDispatch();
    shared.io.reset();
    shared.pump_flag = 0;
    shared.users = 0;
  } else {
    channel_.DetachDispatch();
  }
  return OPOS_SUCCESS;
}

std::int32_t CServiceDevice::NewOutputID() { return NextOutputID(); }

std::int32_t CServiceDevice::Illegal() {
  ResultCode = OPOS_E_ILLEGAL;
  ResultCodeExtended = 0;
  return ResultCode;
}

bool CServiceDevice::SetCommonProperty(std::int32_t index, std::int32_t number) {
  switch (index) {
    case PIDX_DeviceEnabled:
      if (Claimed) {
        DeviceEnabled = number != 0;
      } else {
        ResultCode = OPOS_E_NOTCLAIMED;
      }
      return true;
    case PIDX_BinaryConversion:
      if (is_binary_conversion(number)) {
        BinaryConversion = number;
      } else {
        Illegal();
      }
      return true;
    case PIDX_PowerNotify:
      if (!DeviceEnabled && (number == OPOS_PN_DISABLED || number == OPOS_PN_ENABLED)) {
        PowerNotify = number;
      } else {
        Illegal();
      }
      return true;
    default:
      return false;
  }
}

void CServiceDevice::ConfigureLog(const platform::registry_key& device_key, const std::string& device_name) {
  std::uint32_t level = static_cast<std::uint32_t>(platform::log_level::warning);
  std::uint32_t bytes = 0;
  (void)device_key.query_dword(platform::device_log::kLevelValue, level);
  (void)device_key.query_dword(platform::device_log::kBytesValue, bytes);
  log_ = platform::device_log(device_name, level, bytes != 0);
  channel_.set_log(&log_);
}

void CServiceDevice::LogCall(std::string_view member, platform::invoke_kind kind,
                             std::span<const platform::Variant> args, platform::hresult hr) const {
  // Property traffic and the object's own queries are frequent and say little: debug only.
  const bool chatter = kind != platform::invoke_kind::method || member.starts_with("GetProperty") ||
                       member.starts_with("SetProperty") || member.starts_with("CO");
  const bool failed = platform::failed(hr);
  const platform::log_level level = failed                ? platform::log_level::error
                                    : chatter             ? platform::log_level::debug
                                    : ResultCode != 0     ? platform::log_level::warning
                                                          : platform::log_level::info;
  if (!log_.enabled(level)) return;
  std::string line(member);
  line += "(";
  for (std::size_t i = 0; i < args.size(); ++i) {
    const Variant value = args[i].deref();
    if (i > 0) line += ", ";
    switch (value.type()) {
      case platform::variant_type::string: line += platform::log_quote(value.string_or()); break;
      case platform::variant_type::object: line += "object"; break;
      case platform::variant_type::bytes: line += "bytes"; break;
      default: line += value.string_or(); break;
    }
  }
  line += ")";
  if (failed) {
    line += " failed as a call: " + platform::hresult_text(hr);
  } else if (!chatter) {
    line += " -> " + std::to_string(ResultCode);
    if (ResultCode == 114) line += " (extended " + std::to_string(ResultCodeExtended) + ")";
  }
  log_.write(level, line);
}

void CServiceDevice::FireStatusUpdate(std::int32_t code) {
  log_.write(platform::log_level::info, "StatusUpdateEvent " + std::to_string(code));
  Fire(PendingEvent{kPendingStatusUpdate, code, 0, {}});
}

void CServiceDevice::FireOutputComplete(std::int32_t output_id) {
  Fire(PendingEvent{kPendingOutputComplete, output_id, 0, {}});
}

void CServiceDevice::FireDirectIO(std::int32_t event_number, std::int32_t data,
                                  const std::string& text) {
  Fire(PendingEvent{kPendingDirectIO, event_number, data, text});
}

void CServiceDevice::Fire(PendingEvent event) {
  if (FreezeEvents) {
    pending_events_.push_back(std::move(event));
    return;
  }
  Deliver(event);
}

bool CServiceDevice::Deliver(const PendingEvent& event) {
  if (control_ == nullptr) return true;
  platform::call_result r;
  try {
    switch (event.type) {
      case kPendingStatusUpdate:
        r = platform::call(control_, "SOStatusUpdate", event.number);
        break;
      case kPendingOutputComplete:
        r = platform::call(control_, "SOOutputComplete", event.number);
        break;
      case kPendingDirectIO: {
        // Fresh cells for the control to write into; their answers are not used.
        std::int32_t data = event.data;
        std::string text = event.text;
        r = platform::call(control_, "SODirectIO", event.number, Variant::ref(data), Variant::ref(text));
        break;
      }
      default:
        return true;
    }
  } catch (...) {
    return false;
  }
  return r.ok();
}

void CServiceDevice::SetFreezeEvents(bool freeze) {
  FreezeEvents = freeze;
  if (freeze) return;
  // Exactly the events queued now; any fired meanwhile go out at once or queue behind them.
  // Each event leaves the queue before its callback runs, so a callback that calls back into the
  // object never sees it twice; a failed one goes back to the head.
  for (std::size_t count = pending_events_.size(); count > 0 && !pending_events_.empty(); --count) {
    PendingEvent event = std::move(pending_events_.front());
    pending_events_.pop_front();
    if (!Deliver(event)) {
      pending_events_.push_front(std::move(event));
      return;
    }
  }
}

std::int32_t CServiceDevice::FireError(std::int32_t result_code, std::int32_t result_code_extended,
                                       std::int32_t locus, std::int32_t response) {
  // Error events are never queued: the caller waits for the application to thaw events.
  while (FreezeEvents) PumpMessages(kErrorWaitStepMs);
  if (control_ == nullptr) return response;
  std::int32_t cell = response;
  try {
    platform::call(control_, "SOError", result_code, result_code_extended, locus, Variant::ref(cell));
  } catch (...) {
    return response;
  }
  log_.write(platform::log_level::warning, "ErrorEvent " + std::to_string(result_code) + " (extended " +
                                               std::to_string(result_code_extended) + ", locus " +
                                               std::to_string(locus) + "), answered " + std::to_string(cell));
  return cell;
}

}  // namespace devsvc
