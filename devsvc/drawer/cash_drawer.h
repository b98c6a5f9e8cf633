// CCashDrawer: the cash drawer service object. The drawer hangs on the printer's kick-out
// connector and is reached through the printer's shared connection: a pulse opens it, status
// requests tell whether it is open, the poll timer watches it while enabled.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "core/service_device.h"
#include "platform/dispatch_table.h"

namespace devsvc {

// HKEY_LOCAL_MACHINE: the cash drawer device keys are "<this>\<DeviceName>".
inline constexpr std::string_view kDrawerClassKey = "SOFTWARE\\OLEforRetail\\ServiceOPOS\\CashDrawer";

// Cash drawer property indexes.
inline constexpr std::int32_t PIDXCash_DrawerOpened = 1001;
inline constexpr std::int32_t PIDXCash_CapStatus = 1501;
// Status-update values of the drawer.
inline constexpr std::int32_t CASH_SUE_DRAWERCLOSED = 0;
inline constexpr std::int32_t CASH_SUE_DRAWEROPEN = 1;

// Timing of the drawer, in milliseconds.
inline constexpr std::int32_t kDrawerIoTimeoutMs = 500;      // read and write time-out set at claim
inline constexpr std::uint32_t kExclusiveEntryPumpMs = 150;  // messages dispatched before an exclusive operation
inline constexpr std::uint32_t kProbeStepMs = 100;           // pause between two printer-status requests
inline constexpr std::uint32_t kProbeLimitMs = 1501;         // the printer counts as off after this long silent
inline constexpr std::uint32_t kDrawerWaitStepMs = 500;      // pause between two polls while waiting for the close

class CCashDrawer final : public platform::dispatch_object<CCashDrawer>, public CServiceDevice {
 public:
  static std::span<const platform::dispatch_member<CCashDrawer>> dispatch_members();
  // Every call through the dispatch interface, logged with its result (see LogCall).
  platform::hresult invoke(long dispid, platform::invoke_kind kind, std::span<const platform::Variant> args,
                           platform::Variant* result) override {
    const platform::hresult hr = dispatch_object::invoke(dispid, kind, args, result);
    LogCall(MemberName<CCashDrawer>(dispid), kind, args, hr);
    return hr;
  }

  CCashDrawer();
  ~CCashDrawer() override;

  // --- dispatch interface (DISPIDs 1 to 15 in this order) ---
  std::int32_t CheckHealth(std::int32_t level);
  std::int32_t Claim(std::int32_t timeout_ms);
  // Always 106: the drawer has no input.
  std::int32_t ClearInput();
  // Drops the held events: 0, or 106 when none are held. (The member is named so on purpose:
  // control objects call it by this name.)
  std::int32_t ClearOuput();
  std::int32_t Close();
  std::int32_t COFreezeEvents(bool freeze);
  // Command 1 writes *text, command 2 reads up to *data bytes into *text. Blocks for the transfer.
  std::int32_t DirectIO(std::int32_t command, std::int32_t& data, std::string& text);
  std::int32_t OpenService(const std::string& device_class, const std::string& device_name,
                           const platform::Variant& control);
  std::int32_t Release();
  std::int32_t GetPropertyNumber(std::int32_t index);
  std::string GetPropertyString(std::int32_t index);
  void SetPropertyNumber(std::int32_t index, std::int32_t number);
  void SetPropertyString(std::int32_t index, const std::string& text);
  // Sends the kick-out pulse on the pin of the device's PinConnector value. Blocks for the write
  // and the printer probe that follows (up to about 2 s when the printer is silent).
  std::int32_t OpenDrawer();
  // Blocks until the drawer is closed, polling every 500 ms; once `beep_timeout_ms` has passed,
  // beeps `beep_duration_ms` long tones of `beep_frequency_hz` every `beep_delay_ms` until then.
  // Returns early with the failure when the printer stops answering.
  std::int32_t WaitForDrawerClose(std::int32_t beep_timeout_ms, std::int32_t beep_frequency_hz,
                                  std::int32_t beep_duration_ms, std::int32_t beep_delay_ms);

  // The poll timer's tick: reads the drawer's status while enabled, claimed, on line and idle.
  void PollTick() override;

 private:
  // Reads whether the drawer is open and reports a change; the channel result (0 when read).
  std::int32_t PollDrawer();
  // Turns a channel result into ResultCode; a success or a time-out probes the printer and
  // settles PowerState. Returns ResultCode. Blocks up to about 2 s for a silent printer.
  std::int32_t DecodeResult(std::int32_t result);
  // Stores a new power state and reports it when PowerNotify asks for it.
  void SetPowerState(std::int32_t state);
  // Sends a status request and reads its one answer byte; the channel result (a time-out when
  // the request went out but no byte came back).
  std::int32_t AskDrawerStatus(std::uint8_t& answer);
  std::int32_t AskPrinterStatus(std::uint8_t& answer);
  // Brackets an operation that talks to the printer: false (ResultCode 113) when another one runs.
  bool EnterExclusive();
  void LeaveExclusive();

  std::int32_t DrawerOpened = 0;
  bool polling_allowed_ = false;
  std::uint32_t pin_connector_ = 0;
};

}  // namespace devsvc
