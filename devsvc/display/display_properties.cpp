// CLineDisplay: the numeric and string properties, and the setters with rules of their own
// (CharacterSet, CurrentWindow, DeviceBrightness).
#include <string>

#include "core/opos.h"
#include "core/string_table.h"
#include "display/display_text.h"
#include "display/line_display.h"

namespace devsvc {

// One numeric property and how it reads.
struct CLineDisplay::NumberRow {
  std::int32_t index;
  std::int32_t (*get)(CLineDisplay& d);
};

namespace {

// Version 1.4.24 of the service object, as OPOS encodes it.
constexpr std::int32_t kServiceObjectVersion = 1004024;
// The display reports power states without telling off line from off (OPOS_PR_STANDARD).
constexpr std::int32_t OPOS_PR_STANDARD = 1;
// What GetPropertyString answers for an index it does not serve.
constexpr const char* kUnservedString = "[Error]";

// Line display property indexes.
constexpr std::int32_t PIDXDisp_CharacterSet = 5001;
constexpr std::int32_t PIDXDisp_Columns = 5002;
constexpr std::int32_t PIDXDisp_CurrentWindow = 5003;
constexpr std::int32_t PIDXDisp_CursorColumn = 5004;
constexpr std::int32_t PIDXDisp_CursorRow = 5005;
constexpr std::int32_t PIDXDisp_CursorUpdate = 5006;
constexpr std::int32_t PIDXDisp_DeviceBrightness = 5007;
constexpr std::int32_t PIDXDisp_DeviceColumns = 5008;
constexpr std::int32_t PIDXDisp_DeviceDescriptors = 5009;
constexpr std::int32_t PIDXDisp_DeviceRows = 5010;
constexpr std::int32_t PIDXDisp_DeviceWindows = 5011;
constexpr std::int32_t PIDXDisp_InterCharacterWait = 5012;
constexpr std::int32_t PIDXDisp_MarqueeRepeatWait = 5013;
constexpr std::int32_t PIDXDisp_MarqueeType = 5014;
constexpr std::int32_t PIDXDisp_MarqueeUnitWait = 5015;
constexpr std::int32_t PIDXDisp_Rows = 5016;
constexpr std::int32_t PIDXDisp_MarqueeFormat = 5017;
constexpr std::int32_t PIDXDisp_CapBlink = 5501;
constexpr std::int32_t PIDXDisp_CapBrightness = 5502;
constexpr std::int32_t PIDXDisp_CapCharacterSet = 5503;
constexpr std::int32_t PIDXDisp_CapDescriptors = 5504;
constexpr std::int32_t PIDXDisp_CapHMarquee = 5505;
constexpr std::int32_t PIDXDisp_CapICharWait = 5506;
constexpr std::int32_t PIDXDisp_CapVMarquee = 5507;
constexpr std::int32_t PIDXDisp_CharacterSetList = 1005001;

}  // namespace

std::span<const CLineDisplay::NumberRow> CLineDisplay::NumberProperties() {
  using D = CLineDisplay;
  // A window property reads 0 when there is no current window.
  static constexpr auto window = [](D& d, std::int32_t LineDisplayWindow::*field) {
    return d.current_ != nullptr ? d.current_->*field : 0;
  };
  static constexpr NumberRow kRows[] = {
      {PIDX_Claimed, [](D& d) -> std::int32_t { return d.Claimed; }},
      {PIDX_DeviceEnabled, [](D& d) -> std::int32_t { return d.DeviceEnabled; }},
      {PIDX_ResultCode, [](D& d) { return d.ResultCode; }},
      {PIDX_ResultCodeExtended, [](D& d) { return d.ResultCodeExtended; }},
      {PIDX_ServiceObjectVersion, [](D&) { return kServiceObjectVersion; }},
      {PIDX_State, [](D& d) { return d.State; }},
      {PIDX_BinaryConversion, [](D& d) { return d.BinaryConversion; }},
      {PIDX_PowerNotify, [](D& d) { return d.PowerNotify; }},
      {PIDX_PowerState, [](D& d) { return d.PowerState; }},
      {PIDX_CapPowerReporting, [](D&) { return OPOS_PR_STANDARD; }},
      {PIDXDisp_CharacterSet, [](D& d) { return d.CharacterSet; }},
      {PIDXDisp_Columns, [](D& d) { return window(d, &LineDisplayWindow::Columns); }},
      {PIDXDisp_CurrentWindow, [](D& d) { return d.CurrentWindow; }},
      {PIDXDisp_CursorColumn, [](D& d) { return window(d, &LineDisplayWindow::CursorColumn); }},
      {PIDXDisp_CursorRow, [](D& d) { return window(d, &LineDisplayWindow::CursorRow); }},
      {PIDXDisp_CursorUpdate,
       [](D& d) -> std::int32_t { return d.current_ != nullptr && d.current_->CursorUpdate; }},
      {PIDXDisp_DeviceBrightness, [](D& d) { return d.DeviceBrightness; }},
      {PIDXDisp_DeviceColumns, [](D& d) { return d.config_.DeviceColumns; }},
      {PIDXDisp_DeviceDescriptors, [](D&) { return 0; }},
      {PIDXDisp_DeviceRows, [](D& d) { return d.config_.DeviceRows; }},
      {PIDXDisp_DeviceWindows, [](D& d) { return d.DeviceWindows; }},
      {PIDXDisp_InterCharacterWait, [](D&) { return 0; }},
      {PIDXDisp_MarqueeRepeatWait, [](D& d) { return window(d, &LineDisplayWindow::MarqueeRepeatWait); }},
      {PIDXDisp_MarqueeType, [](D& d) { return window(d, &LineDisplayWindow::MarqueeType); }},
      {PIDXDisp_MarqueeUnitWait, [](D& d) { return window(d, &LineDisplayWindow::MarqueeUnitWait); }},
      {PIDXDisp_Rows, [](D& d) { return window(d, &LineDisplayWindow::Rows); }},
      {PIDXDisp_MarqueeFormat, [](D& d) { return window(d, &LineDisplayWindow::MarqueeFormat); }},
      {PIDXDisp_CapBlink, [](D& d) { return d.config_.CapBlink; }},
      {PIDXDisp_CapBrightness, [](D& d) -> std::int32_t { return d.config_.CapBrightness; }},
      {PIDXDisp_CapCharacterSet, [](D& d) { return d.config_.CapCharacterSet; }},
      {PIDXDisp_CapDescriptors, [](D&) { return 0; }},
      {PIDXDisp_CapHMarquee, [](D& d) -> std::int32_t { return d.CapHMarquee; }},
      {PIDXDisp_CapICharWait, [](D&) { return 0; }},
      {PIDXDisp_CapVMarquee, [](D& d) -> std::int32_t { return d.CapVMarquee; }},
  };
  return kRows;
}

std::int32_t CLineDisplay::GetPropertyNumber(std::int32_t index) {
  if (!Opened) return 0;
  for (const NumberRow& row : NumberProperties()) {
    if (row.index == index) return row.get(*this);
  }
  Illegal();
  return 0;
}

std::string CLineDisplay::GetPropertyString(std::int32_t index) {
  if (!Opened) return {};
  ResultCode = OPOS_SUCCESS;
  ResultCodeExtended = 0;
  switch (index) {
    case PIDX_CheckHealthText:
      return CheckHealthText;
    case PIDX_DeviceDescription:
      return std::string(LoadLibraryString(IDS_DISPLAY_DESCRIPTION));
    case PIDX_DeviceName:
      return std::string(LoadLibraryString(IDS_DISPLAY_DEVICE_NAME));
    case PIDX_ServiceObjectDescription:
      return std::string(LoadLibraryString(IDS_PRINTER_SO_DESCRIPTION));
    case PIDXDisp_CharacterSetList:
      return config_.CharacterSetList;
    default:
      Illegal();
      return kUnservedString;
  }
}

void CLineDisplay::SetPropertyNumber(std::int32_t index, std::int32_t number) {
  if (!Opened) return;
  ResultCode = OPOS_SUCCESS;
  ResultCodeExtended = 0;
  // Window properties need a current window.
  const bool window_property = index == PIDXDisp_CursorColumn || index == PIDXDisp_CursorRow ||
                               index == PIDXDisp_CursorUpdate || index == PIDXDisp_MarqueeRepeatWait ||
                               index == PIDXDisp_MarqueeType || index == PIDXDisp_MarqueeUnitWait ||
                               index == PIDXDisp_MarqueeFormat;
  if (window_property && current_ == nullptr) {
    Illegal();
    return;
  }
  if (SetCommonProperty(index, number)) {
    // A disabled display shows no marquee.
    if (index == PIDX_DeviceEnabled && !DeviceEnabled) StopMarquee();
    return;
  }
  switch (index) {
    case PIDXDisp_CharacterSet:
      SetCharacterSet(number);
      return;
    case PIDXDisp_CurrentWindow:
      SetCurrentWindow(number);
      return;
    case PIDXDisp_CursorColumn:
      if (number < 0 || number > current_->Columns) {
        Illegal();
      } else {
        current_->CursorColumn = number;
      }
      return;
    case PIDXDisp_CursorRow:
      if (number < 0 || number > current_->Rows) {
        Illegal();
      } else {
        current_->CursorRow = number;
      }
      return;
    case PIDXDisp_CursorUpdate:
      current_->CursorUpdate = number != 0;
      return;
    case PIDXDisp_DeviceBrightness:
      SetDeviceBrightness(number);
      return;
    case PIDXDisp_MarqueeRepeatWait:
      if (number < 0) {
        Illegal();
      } else {
        current_->MarqueeRepeatWait = number;
      }
      return;
    case PIDXDisp_MarqueeType:
      SetMarqueeType(number);
      return;
    case PIDXDisp_MarqueeUnitWait:
      if (number < 0) {
        Illegal();
      } else {
        current_->MarqueeUnitWait = number;
      }
      return;
    case PIDXDisp_MarqueeFormat:
      current_->MarqueeFormat = number;
      return;
    default:
      Illegal();
      return;
  }
}

void CLineDisplay::SetCharacterSet(std::int32_t value) {
  if (CheckState() != OPOS_SUCCESS) return;
  if (value != DISP_CS_ASCII && value != DISP_CS_ANSI) {
    Illegal();
    return;
  }
  CharacterSet = value;
  SendCommand(DisplayCommand::kSelectDisplay);
  ResultCode = MapWriteResult(SendCommand(DisplayCommand::kCodeTable, CodeTable(value)));
  SendSelectPrinter();
}

void CLineDisplay::SetCurrentWindow(std::int32_t value) {
  if (value < 0 || value > DeviceWindows) {
    Illegal();
    return;
  }
  WindowEntry* entry = WindowAt(value);
  if (entry == nullptr) {
    ResultCode = OPOS_E_FAILURE;
    return;
  }
  MakeCurrent(entry);
  CurrentWindow = value;
}

void CLineDisplay::SetDeviceBrightness(std::int32_t value) {
  const std::optional<std::int32_t> step = brightness_step(config_.brightness_table, value);
  const bool valid = step && *step != -1;
  if (valid) {
    DeviceBrightness = value;
    brightness_step_ = static_cast<std::uint8_t>(*step + 1);
  }
  // A released display has no connection: the level waits for the next claim.
  if (!Claimed) {
    if (!valid) Illegal();
    return;
  }
  SendCommand(DisplayCommand::kSelectDisplay);
  if (valid) {
    ResultCode = MapWriteResult(SendCommand(DisplayCommand::kBrightness, *brightness_step_));
  } else {
    Illegal();
  }
  SendSelectPrinter();
}

}  // namespace devsvc
