// CCashDrawer: dispatch table, open, claim, release and close, properties, the drawer poll and
// the decoding of failures, opening the drawer, waiting for it to close, health check and
// direct I/O.
#include "drawer/cash_drawer.h"

#include <algorithm>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "core/binary_conversion.h"
#include "core/device_keys.h"
#include "core/module.h"
#include "core/opos.h"
#include "core/printer_text.h"
#include "core/string_table.h"
#include "drawer/beeper.h"
#include "platform/codepage.h"
#include "platform/messages.h"
#include "platform/registry.h"

namespace devsvc {
namespace {

using platform::dispatch_method;

// The drawer's printer commands, by index.
struct DrawerCommandRow {
  std::string_view bytes;
  std::string_view meaning;
};
constexpr DrawerCommandRow kDrawerCommands[] = {
    {{"\x1B\x3D\x00", 3}, "select peripheral device: none"},
    {"\x1B\x3D\x01", "select peripheral device: printer"},
    {"\x10\x14", "real-time request prefix"},
    {"\x10\x04\x01", "real-time status: printer status (one status byte back)"},
    {"\x1B\x70", "generate pulse; three parameter bytes follow"},
    {"\x1D\x72\x32", "transmit drawer kick-out connector status (one status byte back)"},
};
constexpr std::size_t kSelectPrinter = 1;
constexpr std::size_t kPrinterStatus = 3;
constexpr std::size_t kGeneratePulse = 4;
constexpr std::size_t kDrawerStatus = 5;

constexpr std::string_view Command(std::size_t index) { return kDrawerCommands[index].bytes; }

// On and off time of the kick-out pulse, in the printer's 2 ms units.
constexpr char kPulseOnTime = 100;
constexpr char kPulseOffTime = 100;

// Status bits: the drawer counts as open when its bit is clear.
constexpr std::uint8_t kDrawerStatusClosedBit = 0x01;   // in the answer to GS r 2
constexpr std::uint8_t kPrinterStatusClosedBit = 0x04;  // in the answer to DLE EOT 1
constexpr std::uint8_t kPrinterStatusOfflineBit = 0x08;

// Version 1.4.24 of the service object, as OPOS encodes it.
constexpr std::int32_t kServiceObjectVersion = 1004024;
// The drawer reports power states (standard reporting) and its open state.
constexpr std::int32_t kCapPowerReporting = 1;
constexpr std::int32_t kCapStatus = 1;

// Registry string limits of the device key.
constexpr std::size_t kMachineTypeChars = 63;
constexpr std::size_t kCommPortChars = 31;

// Code page of the text an application exchanges with the printer when no binary conversion is
// asked for (the printer's default, which the POS printer's claim selects too).
constexpr int kDirectIOCodePage = 1252;
// Largest direct read, in bytes: a larger request reads this many.
constexpr std::int32_t kMaxDirectReadBytes = 65536;

// DirectIO commands.
constexpr std::int32_t kDirectWrite = 1;
constexpr std::int32_t kDirectRead = 2;

// The OPOS code of a direct read's channel result: time-out 112, busy 113, success 0, any other
// failure 111.
std::int32_t ReadResultCode(std::int32_t channel_result) {
  switch (channel_result) {
    case kChannelOk: return OPOS_SUCCESS;
    case kChannelTimeout: return OPOS_E_TIMEOUT;
    case kChannelBusy: return OPOS_E_BUSY;
    default: return OPOS_E_FAILURE;
  }
}

// The read and write time-outs of a channel, in milliseconds.
struct ChannelTimeOuts {
  std::int32_t read_ms = 0;
  std::int32_t write_ms = 0;
};

// The time-outs `channel` holds now; none without a channel or when they cannot be read.
std::optional<ChannelTimeOuts> ReadTimeOuts(CMonitorDriver& channel) {
  ChannelTimeOuts t;
  if (!channel || !channel.GetTimeOuts(t.read_ms, t.write_ms)) return std::nullopt;
  return t;
}

// The drawer's time-outs on the channel for the length of one operation. The connection is shared
// with the printer (and the display) of this process, whose own time-outs are put back afterwards,
// so that the drawer never shortens the printer's transfers.
class DrawerTimeOutScope {
 public:
  // Sets the drawer's time-outs; `previous` is what to put back (none: nothing to put back).
  DrawerTimeOutScope(CMonitorDriver& channel, std::optional<ChannelTimeOuts> previous)
      : channel_(channel), previous_(previous) {
    if (previous_ && previous_->read_ms == kDrawerIoTimeoutMs && previous_->write_ms == kDrawerIoTimeoutMs) {
      previous_.reset();  // already the drawer's
      return;
    }
    channel_.SetReadTimeOut(kDrawerIoTimeoutMs);
    channel_.SetWriteTimeOut(kDrawerIoTimeoutMs);
  }
  // Sets the drawer's time-outs and puts back the ones in force now.
  explicit DrawerTimeOutScope(CMonitorDriver& channel) : DrawerTimeOutScope(channel, ReadTimeOuts(channel)) {}
  ~DrawerTimeOutScope() {
    if (!previous_ || !channel_) return;
    channel_.SetReadTimeOut(previous_->read_ms);
    channel_.SetWriteTimeOut(previous_->write_ms);
  }
  DrawerTimeOutScope(const DrawerTimeOutScope&) = delete;
  DrawerTimeOutScope& operator=(const DrawerTimeOutScope&) = delete;

 private:
  CMonitorDriver& channel_;
  std::optional<ChannelTimeOuts> previous_;
};

}  // namespace

std::span<const platform::dispatch_member<CCashDrawer>> CCashDrawer::dispatch_members() {
  static constexpr platform::dispatch_member<CCashDrawer> kMembers[] = {
      dispatch_method<&CCashDrawer::CheckHealth>("CheckHealth", 1),
      dispatch_method<&CCashDrawer::Claim>("Claim", 2),
      dispatch_method<&CCashDrawer::ClearInput>("ClearInput", 3),
      dispatch_method<&CCashDrawer::ClearOuput>("ClearOuput", 4),
      dispatch_method<&CCashDrawer::Close>("Close", 5),
      dispatch_method<&CCashDrawer::COFreezeEvents>("COFreezeEvents", 6),
      dispatch_method<&CCashDrawer::DirectIO>("DirectIO", 7),
      dispatch_method<&CCashDrawer::OpenService>("OpenService", 8),
      dispatch_method<&CCashDrawer::Release>("Release", 9),
      dispatch_method<&CCashDrawer::GetPropertyNumber>("GetPropertyNumber", 10),
      dispatch_method<&CCashDrawer::GetPropertyString>("GetPropertyString", 11),
      dispatch_method<&CCashDrawer::SetPropertyNumber>("SetPropertyNumber", 12),
      dispatch_method<&CCashDrawer::SetPropertyString>("SetPropertyString", 13),
      dispatch_method<&CCashDrawer::OpenDrawer>("OpenDrawer", 14),
      dispatch_method<&CCashDrawer::WaitForDrawerClose>("WaitForDrawerClose", 15),
  };
  return kMembers;
}

CCashDrawer::CCashDrawer() = default;

// The base part leaves the poll timer and the connection when the control never closed.
CCashDrawer::~CCashDrawer() = default;

// ---------------------------------------------------------------------------------------------
// Open and close

std::int32_t CCashDrawer::OpenService(const std::string&, const std::string& device_name,
                                      const platform::Variant& control) {
  if (Opened) return Illegal();
  ResultCode = OPOS_SUCCESS;
  ResultCodeExtended = 0;
  DeviceEnabled = false;
  PowerNotify = OPOS_PN_DISABLED;
  PowerState = OPOS_PS_UNKNOWN;

  // Any failure below leaves the object as closed as it was.
  const auto fail = [this](std::int32_t code) {
    DetachControl();
    Opened = false;
    Claimed = false;
    DeviceEnabled = false;
    return ResultCode = code;
  };
  platform::registry_key device_key;
  const std::string key_path = std::string(kDrawerClassKey) + "\\" + device_name;
  if (platform::registry_key::open(platform::registry_root::local_machine, key_path, device_key) !=
      platform::kErrorSuccess) {
    return fail(OPOS_E_NOEXIST);
  }
  ConfigureLog(device_key, device_name);
  MachineType = ReadRegistryString(device_key, "MachineType", kMachineTypeChars);
  COMMPort = ReadRegistryString(device_key, "COMMPort", kCommPortChars);
  if (MachineType.empty() || COMMPort.empty()) return fail(OPOS_E_FAILURE);
  pin_connector_ = ReadRegistryDword(device_key, "PinConnector");

  Opened = true;
  State = OPOS_S_IDLE;
  RegisterWithPollTimer();
  platform::com_ptr<platform::dispatch> control_object;
  if (platform::failed(control.as_object(control_object))) control_object.reset();
  AttachControl(control_object.get());
  return ResultCode;
}

std::int32_t CCashDrawer::Close() {
  if (!Opened) return Illegal();
  // A code left by an earlier operation must not make a successful close look failed.
  ResultCode = OPOS_SUCCESS;
  ResultCodeExtended = 0;
  if (State == OPOS_S_BUSY) return ResultCode = OPOS_E_BUSY;
  if (Claimed) {
    const std::int32_t released = Release();
    if (released != OPOS_SUCCESS) return released;
  }
  UnregisterFromPollTimer();
  DetachControl();
  Opened = false;
  DeviceEnabled = false;
  Claimed = false;
  return ResultCode;
}

// ---------------------------------------------------------------------------------------------
// Claim and release

std::int32_t CCashDrawer::Claim(std::int32_t timeout_ms) {
  if (!Opened) return ResultCode = OPOS_E_CLOSED;
  if (Claimed) return Illegal();

  ResultCodeExtended = 0;
  // A printer (or display) of this process may hold the connection already, with time-outs of
  // its own: connecting sets the read time-out, so they are taken before and put back after.
  const std::optional<ChannelTimeOuts> shared = ReadTimeOuts(GetSharedConnection().client);
  ResultCode = Connect(timeout_ms);
  if (ResultCode != OPOS_SUCCESS) return ResultCode;

  std::int32_t result = OPOS_SUCCESS;
  {
    const DrawerTimeOutScope time_outs(channel_, shared);
    // The printer may still be talking to its display: make it listen again. A printer that does
    // not take this shows in the poll below.
    std::int32_t written = 0;
    channel_.Write(Command(kSelectPrinter), written, kWriteModeData);

    // Event handlers may call in meanwhile: the claim's own code is kept apart from ResultCode.
    const std::int32_t polled = PollDrawer();
    result = polled == kChannelOk ? OPOS_SUCCESS : DecodeResult(polled);
  }

  if (result == OPOS_SUCCESS) {
    Claimed = true;
    polling_allowed_ = true;
  } else {
    Disconnect();
  }
  return ResultCode = result;
}

std::int32_t CCashDrawer::Release() {
  ResultCode = OPOS_SUCCESS;
  ResultCodeExtended = 0;
  if (!Opened) return ResultCode = OPOS_E_CLOSED;
  if (!Claimed) return ResultCode = OPOS_E_NOTCLAIMED;
  ResultCode = Disconnect();
  if (ResultCode == OPOS_SUCCESS) Claimed = false;
  return ResultCode;
}

// ---------------------------------------------------------------------------------------------
// Status

void CCashDrawer::SetPowerState(std::int32_t state) {
  if (state == PowerState) return;
  PowerState = state;
  if (PowerNotify == OPOS_PN_ENABLED) FireStatusUpdate(state);
}

std::int32_t CCashDrawer::AskDrawerStatus(std::uint8_t& answer) {
  char byte = 0;
  std::int32_t written = 0;
  std::int32_t read = 0;
  const std::int32_t result =
      channel_.WriteRead(Command(kDrawerStatus), written, std::span<char>(&byte, 1), read);
  if (result != kChannelOk) return result;
  // Without its byte the answer is no answer (the buffer holds only the fill byte).
  if (read != 1) return kChannelTimeout;
  answer = static_cast<std::uint8_t>(byte);
  return kChannelOk;
}

std::int32_t CCashDrawer::AskPrinterStatus(std::uint8_t& answer) {
  std::int32_t written = 0;
  const std::int32_t sent = channel_.Write(Command(kPrinterStatus), written, kWriteModeStatus);
  if (sent != kChannelOk) return sent;
  char byte = 0;
  std::int32_t read = 0;
  const std::int32_t result = channel_.Read(std::span<char>(&byte, 1), read);
  if (result != kChannelOk) return result;
  if (read != 1) return kChannelTimeout;
  answer = static_cast<std::uint8_t>(byte);
  return kChannelOk;
}

std::int32_t CCashDrawer::PollDrawer() {
  std::uint8_t answer = 0;
  bool open = false;
  if (PowerState == OPOS_PS_ONLINE) {
    // The drawer connector's own status first; a printer that does not answer it (busy with
    // data) still answers the real-time printer status.
    if (AskDrawerStatus(answer) == kChannelOk) {
      open = (answer & kDrawerStatusClosedBit) == 0;
    } else {
      const std::int32_t result = AskPrinterStatus(answer);
      if (result != kChannelOk) return result;
      open = (answer & kPrinterStatusClosedBit) == 0;
    }
  } else if (PowerState == OPOS_PS_OFFLINE) {
    const std::int32_t result = AskPrinterStatus(answer);
    if (result != kChannelOk) return result;
    open = (answer & kPrinterStatusClosedBit) == 0;
  } else {
    // Off or unknown: nothing is asked until a probe has found the printer.
    return kChannelTimeout;
  }

  const std::int32_t now = open ? 1 : 0;
  if (now != DrawerOpened) {
    DrawerOpened = now;
    FireStatusUpdate(open ? CASH_SUE_DRAWEROPEN : CASH_SUE_DRAWERCLOSED);
  }
  return kChannelOk;
}

std::int32_t CCashDrawer::DecodeResult(std::int32_t result) {
  ResultCodeExtended = 0;
  // A busy or broken channel says nothing about the printer's power.
  if (result == kChannelBusy) return ResultCode = OPOS_E_BUSY;
  if (result != kChannelOk && result != kChannelTimeout) return ResultCode = OPOS_E_FAILURE;

  std::uint8_t answer = 0;
  if (result == kChannelOk && AskDrawerStatus(answer) == kChannelOk) {
    SetPowerState(OPOS_PS_ONLINE);
    return ResultCode = OPOS_SUCCESS;
  }
  // Ask the printer's real-time status until it answers or stays silent too long.
  const std::uint64_t started = platform::tick_count_ms();
  for (;;) {
    if (AskPrinterStatus(answer) == kChannelOk) {
      if ((answer & kPrinterStatusOfflineBit) != 0) {
        SetPowerState(OPOS_PS_OFFLINE);
        return ResultCode = OPOS_E_OFFLINE;
      }
      SetPowerState(OPOS_PS_ONLINE);
      return ResultCode = OPOS_SUCCESS;
    }
    if (platform::tick_count_ms() - started >= kProbeLimitMs) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(kProbeStepMs));
  }
  SetPowerState(OPOS_PS_OFF);
  return ResultCode = OPOS_E_TIMEOUT;
}

void CCashDrawer::PollTick() {
  if (!DeviceEnabled || !Claimed || PowerState != OPOS_PS_ONLINE || !polling_allowed_ || State != OPOS_S_IDLE) {
    return;
  }
  State = OPOS_S_BUSY;
  {
    const DrawerTimeOutScope time_outs(channel_);
    const std::int32_t result = PollDrawer();
    if (result != kChannelOk) DecodeResult(result);
  }
  State = OPOS_S_IDLE;
}

// ---------------------------------------------------------------------------------------------
// Exclusive operations

bool CCashDrawer::EnterExclusive() {
  polling_allowed_ = false;
  // A poll tick already queued runs to its end now, before the state is tested.
  PumpMessages(kExclusiveEntryPumpMs);
  if (State == OPOS_S_BUSY) {
    polling_allowed_ = true;
    ResultCode = OPOS_E_BUSY;
    return false;
  }
  State = OPOS_S_BUSY;
  return true;
}

void CCashDrawer::LeaveExclusive() {
  polling_allowed_ = true;
  State = OPOS_S_IDLE;
}

std::int32_t CCashDrawer::OpenDrawer() {
  if (CheckState() != OPOS_SUCCESS) return ResultCode;
  if (!EnterExclusive()) return ResultCode;

  std::string pulse(Command(kGeneratePulse));
  pulse += static_cast<char>(pin_connector_ & 0xFF);
  pulse += kPulseOnTime;
  pulse += kPulseOffTime;
  std::int32_t written = 0;
  // The code of the pulse is kept apart: a handler of the event below may call in meanwhile.
  std::int32_t result = OPOS_SUCCESS;
  {
    const DrawerTimeOutScope time_outs(channel_);
    result = DecodeResult(channel_.Write(pulse, written, kWriteModeData));
  }
  if (result == OPOS_SUCCESS) {
    DrawerOpened = 1;
    FireStatusUpdate(CASH_SUE_DRAWEROPEN);
  }
  LeaveExclusive();
  return ResultCode = result;
}

std::int32_t CCashDrawer::WaitForDrawerClose(std::int32_t beep_timeout_ms, std::int32_t beep_frequency_hz,
                                             std::int32_t beep_duration_ms, std::int32_t beep_delay_ms) {
  if (CheckState() != OPOS_SUCCESS) return ResultCode;
  if (beep_timeout_ms < 1 || beep_delay_ms < 1 || beep_duration_ms < 1) return Illegal();
  if (!EnterExclusive()) return ResultCode;

  const std::uint64_t started = platform::tick_count_ms();
  std::optional<DrawerTimeOutScope> time_outs(std::in_place, channel_);
  std::unique_ptr<CBeeper> beeper;
  std::int32_t code = OPOS_SUCCESS;  // the wait's own code; event handlers may change ResultCode
  std::int32_t polled = PollDrawer();
  for (;;) {
    // A printer that stops answering cannot tell when the drawer closes: after the probe, a
    // printer still silent (or off line, or a broken channel) ends the wait with its failure
    // instead of waiting for ever.
    if (polled != kChannelOk) {
      code = DecodeResult(polled);
      if (code != OPOS_SUCCESS) break;
    } else if (DrawerOpened == 0) {
      break;
    }
    if (!beeper && platform::tick_count_ms() - started > static_cast<std::uint64_t>(beep_timeout_ms)) {
      beeper = std::make_unique<CBeeper>(beep_frequency_hz, beep_duration_ms, beep_delay_ms);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(kDrawerWaitStepMs));
    polled = PollDrawer();
  }
  if (code == OPOS_SUCCESS) DrawerOpened = 0;
  time_outs.reset();
  LeaveExclusive();
  beeper.reset();
  return ResultCode = code;
}

// ---------------------------------------------------------------------------------------------
// Health and direct I/O

std::int32_t CCashDrawer::CheckHealth(std::int32_t level) {
  if (CheckState() != OPOS_SUCCESS) return ResultCode;
  switch (level) {
    case OPOS_CH_INTERNAL:
      CheckHealthText = "Internal Check: successfull";
      break;
    case OPOS_CH_EXTERNAL: {
      const std::int32_t opened = OpenDrawer();
      CheckHealthText = std::string("External Check: ") + (opened == OPOS_SUCCESS ? "successfull" : "failed");
      break;
    }
    default:
      Illegal();
      break;
  }
  return ResultCode;
}

std::int32_t CCashDrawer::DirectIO(std::int32_t command, std::int32_t& data, std::string& text) {
  if (CheckState() != OPOS_SUCCESS) return ResultCode;
  if (!EnterExclusive()) return ResultCode;

  std::int32_t code = OPOS_SUCCESS;
  std::optional<DrawerTimeOutScope> time_outs(std::in_place, channel_);
  switch (command) {
    case kDirectWrite: {
      const std::optional<std::string> decoded = binary_decode(text, BinaryConversion);
      if (!decoded) {
        code = OPOS_E_FAILURE;
        break;
      }
      // Text without binary conversion is UTF-8 for the printer's code page; converted bytes
      // are printer bytes already.
      const std::string bytes = text_to_bytes(
          BinaryConversion == kBinaryConversionNone ? platform::utf8_to_codepage(*decoded, kDirectIOCodePage)
                                                    : *decoded);
      std::int32_t written = 0;
      code = DecodeResult(channel_.Write(bytes, written, kWriteModeData));
      break;
    }
    case kDirectRead: {
      if (data <= 0) {
        code = OPOS_E_ILLEGAL;
        break;
      }
      std::string buffer(static_cast<std::size_t>(std::min(data, kMaxDirectReadBytes)), '\0');
      std::int32_t read = 0;
      code = ReadResultCode(channel_.Read(buffer, read));
      buffer.resize(static_cast<std::size_t>(std::clamp<std::int32_t>(read, 0, static_cast<std::int32_t>(buffer.size()))));
      text = text_for_application(buffer, BinaryConversion, kDirectIOCodePage);
      data = static_cast<std::int32_t>(text.size());
      break;
    }
    default:
      code = OPOS_E_ILLEGAL;
      break;
  }
  time_outs.reset();
  LeaveExclusive();
  ResultCodeExtended = 0;
  return ResultCode = code;
}

// ---------------------------------------------------------------------------------------------
// Properties

std::int32_t CCashDrawer::GetPropertyNumber(std::int32_t index) {
  if (!Opened) return 0;
  switch (index) {
    case PIDX_Claimed: return Claimed ? 1 : 0;
    case PIDX_DeviceEnabled: return DeviceEnabled ? 1 : 0;
    case PIDX_FreezeEvents: return FreezeEvents ? 1 : 0;
    case PIDX_ResultCode: return ResultCode;
    case PIDX_ResultCodeExtended: return ResultCodeExtended;
    case PIDX_ServiceObjectVersion: return kServiceObjectVersion;
    case PIDX_State: return State;
    case PIDX_BinaryConversion: return BinaryConversion;
    case PIDX_PowerNotify: return PowerNotify;
    case PIDX_PowerState: return PowerState;
    case PIDX_CapPowerReporting: return kCapPowerReporting;
    case PIDXCash_DrawerOpened: return DrawerOpened;
    case PIDXCash_CapStatus: return kCapStatus;
    default:
      Illegal();
      return 0;
  }
}

std::string CCashDrawer::GetPropertyString(std::int32_t index) {
  if (!Opened) return {};
  ResultCode = OPOS_SUCCESS;
  ResultCodeExtended = 0;
  switch (index) {
    case PIDX_CheckHealthText: return CheckHealthText;
    case PIDX_DeviceDescription: return std::string(LoadLibraryString(IDS_DRAWER_DESCRIPTION));
    case PIDX_DeviceName: return std::string(LoadLibraryString(IDS_DRAWER_DEVICE_NAME));
    case PIDX_ServiceObjectDescription: return std::string(LoadLibraryString(IDS_PRINTER_SO_DESCRIPTION));
    default:
      Illegal();
      return {};
  }
}

void CCashDrawer::SetPropertyNumber(std::int32_t index, std::int32_t number) {
  if (!Opened) return;
  ResultCode = OPOS_SUCCESS;
  ResultCodeExtended = 0;
  if (SetCommonProperty(index, number)) return;
  switch (index) {
    case PIDX_FreezeEvents:
      SetFreezeEvents(number != 0);
      break;
    default:
      Illegal();
      break;
  }
}

void CCashDrawer::SetPropertyString(std::int32_t, const std::string&) { Illegal(); }

std::int32_t CCashDrawer::COFreezeEvents(bool freeze) {
  SetPropertyNumber(PIDX_FreezeEvents, freeze ? 1 : 0);
  return ResultCode;
}

std::int32_t CCashDrawer::ClearInput() { return Illegal(); }

std::int32_t CCashDrawer::ClearOuput() {
  if (pending_event_count() == 0) return Illegal();
  ClearPendingEvents();
  ResultCodeExtended = 0;
  return ResultCode = OPOS_SUCCESS;
}

}  // namespace devsvc
