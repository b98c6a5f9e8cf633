// CVX40Printer: numeric and string properties, and the setters that send printer commands
// (CharacterSet, RecLineSpacing, RecLineHeight, RecLineChars).
#include <string>

#include "core/opos.h"
#include "core/string_table.h"
#include "printer/units.h"
#include "printer/vx40_printer.h"

namespace devsvc {

// One numeric property, or a range of indexes that answer alike.
struct CVX40Printer::NumberRow {
  std::int32_t first;
  std::int32_t last;
  std::int32_t (*get)(CVX40Printer& p);
};

namespace {

// Version 1.4.24 of the service object, as OPOS encodes it.
constexpr std::int32_t kServiceObjectVersion = 1004024;
// Lines the printer can print sideways, when enabled.
constexpr std::int32_t kSidewaysMaxLines = 99;
// What GetPropertyString answers for an index it does not serve.
constexpr const char* kUnservedString = "[Error]";

}  // namespace

std::span<const CVX40Printer::NumberRow> CVX40Printer::NumberProperties() {
  using P = CVX40Printer;
  static constexpr NumberRow kRows[] = {
      {PIDX_Claimed, PIDX_Claimed, [](P& p) -> std::int32_t { return p.Claimed; }},
      {PIDX_DeviceEnabled, PIDX_DeviceEnabled, [](P& p) -> std::int32_t { return p.DeviceEnabled; }},
      {PIDX_FreezeEvents, PIDX_FreezeEvents, [](P& p) -> std::int32_t { return p.FreezeEvents; }},
      {PIDX_OutputID, PIDX_OutputID, [](P& p) { return p.OutputID; }},
      {PIDX_ResultCode, PIDX_ResultCode, [](P& p) { return p.ResultCode; }},
      {PIDX_ResultCodeExtended, PIDX_ResultCodeExtended, [](P& p) { return p.ResultCodeExtended; }},
      {PIDX_ServiceObjectVersion, PIDX_ServiceObjectVersion, [](P&) { return kServiceObjectVersion; }},
      {PIDX_State, PIDX_State, [](P& p) { return p.State; }},
      {PIDX_BinaryConversion, PIDX_BinaryConversion, [](P& p) { return p.BinaryConversion; }},
      {PIDX_PowerNotify, PIDX_PowerNotify, [](P& p) { return p.PowerNotify; }},
      {PIDX_PowerState, PIDX_PowerState, [](P& p) { return p.PowerState; }},
      {PIDX_CapPowerReporting, PIDX_CapPowerReporting, [](P&) { return OPOS_PR_ADVANCED; }},
      {PIDXPtr_AsyncMode, PIDXPtr_AsyncMode, [](P& p) -> std::int32_t { return p.AsyncMode; }},
      {PIDXPtr_CharacterSet, PIDXPtr_CharacterSet, [](P& p) { return p.CharacterSet; }},
      {PIDXPtr_CoverOpen, PIDXPtr_CoverOpen, [](P& p) -> std::int32_t { return p.CoverOpen; }},
      {PIDXPtr_FlagWhenIdle, PIDXPtr_FlagWhenIdle, [](P& p) -> std::int32_t { return p.FlagWhenIdle; }},
      {PIDXPtr_MapMode, PIDXPtr_MapMode, [](P& p) { return p.MapMode; }},
      {PIDXPtr_RecEmpty, PIDXPtr_RecEmpty, [](P& p) -> std::int32_t { return p.RecEmpty; }},
      {PIDXPtr_RecLineChars, PIDXPtr_RecLineChars, [](P& p) { return p.RecLineChars; }},
      {PIDXPtr_RecLineHeight, PIDXPtr_RecLineHeight, [](P& p) { return p.ToMapUnits(p.RecLineHeight); }},
      {PIDXPtr_RecLineSpacing, PIDXPtr_RecLineSpacing, [](P& p) { return p.ToMapUnits(p.RecLineSpacing); }},
      {PIDXPtr_RecLinesToPaperCut, PIDXPtr_RecLinesToPaperCut, [](P& p) { return p.RecLinesToPaperCut; }},
      {PIDXPtr_RecLineWidth, PIDXPtr_RecLineWidth, [](P& p) { return p.ToMapUnits(p.RecLineWidth); }},
      {PIDXPtr_RecNearEnd, PIDXPtr_RecNearEnd, [](P& p) -> std::int32_t { return p.RecNearEnd; }},
      {PIDXPtr_RecSidewaysMaxChars, PIDXPtr_RecSidewaysMaxChars, [](P& p) { return p.RecSidewaysMaxChars; }},
      {PIDXPtr_RecSidewaysMaxLines, PIDXPtr_RecSidewaysMaxLines,
       [](P& p) { return p.DeviceEnabled ? kSidewaysMaxLines : 0; }},
      {PIDXPtr_RotateSpecial, PIDXPtr_RotateSpecial, [](P& p) { return p.RotateSpecial; }},
      {PIDXPtr_CapCharacterSet, PIDXPtr_CapCharacterSet, [](P& p) { return p.DeviceEnabled ? PTR_CCS_ASCII : 0; }},
      // Capabilities of the receipt station: cover sensor, bar codes, bitmaps, bold, double high
      // and wide, empty sensor, rotation left, near-end sensor, paper cut, presence, rotation
      // right and 180, underline, transactions.
      {8504, 8504, [](P& p) -> std::int32_t { return p.DeviceEnabled; }},
      {8516, 8522, [](P& p) -> std::int32_t { return p.DeviceEnabled; }},
      {8524, 8529, [](P& p) -> std::int32_t { return p.DeviceEnabled; }},
      {8531, 8531, [](P& p) -> std::int32_t { return p.DeviceEnabled; }},
      {8549, 8549, [](P& p) -> std::int32_t { return p.DeviceEnabled; }},
      // Letter quality, concurrency, journal, italic, stamp and slip: never.
      {8015, 8015, [](P&) { return 0; }},
      {8501, 8503, [](P&) { return 0; }},
      {8505, 8514, [](P&) { return 0; }},
      // CapRec2Color: the two-colour model prints red, once enabled.
      {8515, 8515, [](P& p) -> std::int32_t { return p.model_.two_colour && p.DeviceEnabled; }},
      {8523, 8523, [](P&) { return 0; }},
      {8530, 8530, [](P&) { return 0; }},
      {8532, 8547, [](P&) { return 0; }},
  };
  return kRows;
}

std::int32_t CVX40Printer::GetPropertyNumber(std::int32_t index) {
  if (!Opened) return 0;
  for (const NumberRow& row : NumberProperties()) {
    if (index >= row.first && index <= row.last) return row.get(*this);
  }
  Illegal();
  return 0;
}

std::string CVX40Printer::GetPropertyString(std::int32_t index) {
  // The error text also explains a failed OpenService, which leaves the object closed; reading
  // it keeps the result codes it explains.
  if (index == PIDXPtr_ErrorString) return ErrorString;
  if (!Opened) return {};
  ResultCode = OPOS_SUCCESS;
  ResultCodeExtended = 0;
  switch (index) {
    case PIDX_CheckHealthText:
      return CheckHealthText;
    case PIDX_DeviceDescription:
      return std::string(LoadLibraryString(model_.description_id));
    case PIDX_DeviceName:
      return std::string(LoadLibraryString(model_.device_name_id));
    case PIDX_ServiceObjectDescription:
      return std::string(LoadLibraryString(IDS_PRINTER_SO_DESCRIPTION));
    case PIDXPtr_CharacterSetList:
      return CharacterSetList;
    case PIDXPtr_RecLineCharsList:
      return RecLineCharsList;
    case PIDXPtr_FontTypefaceList:
      return FontTypefaceList;
    case PIDXPtr_RecBarCodeRotationList:
      return RecBarCodeRotationList;
    default:
      Illegal();
      return kUnservedString;
  }
}

void CVX40Printer::SetPropertyNumber(std::int32_t index, std::int32_t number) {
  if (!Opened) return;
  ResultCode = OPOS_SUCCESS;
  ResultCodeExtended = 0;
  if (SetCommonProperty(index, number)) return;
  switch (index) {
    case PIDX_FreezeEvents:
      SetFreezeEvents(number != 0);
      break;
    case PIDXPtr_AsyncMode:
      if (Claimed) {
        AsyncMode = number != 0;
        channel_.SetAsync(AsyncMode, open_read_timeout_ms_);
      } else {
        Illegal();
      }
      break;
    case PIDXPtr_CharacterSet:
      SetCharacterSet(number);
      break;
    case PIDXPtr_FlagWhenIdle:
      FlagWhenIdle = number != 0;
      break;
    case PIDXPtr_MapMode:
      if (number >= PTR_MM_DOTS && number <= PTR_MM_METRIC) {
        MapMode = number;
      } else {
        Illegal();
      }
      break;
    case PIDXPtr_RecLineChars:
      SetRecLineChars(number);
      break;
    case PIDXPtr_RecLineHeight:
      SetRecLineHeight(ToDots(number));
      break;
    case PIDXPtr_RecLineSpacing:
      SetRecLineSpacing(ToDots(number));
      break;
    case PIDXPtr_RecLinesToPaperCut:
      if (number > 0) {
        RecLinesToPaperCut = number;
      } else {
        Illegal();
      }
      break;
    case PIDXPtr_RotateSpecial:
      if (number == PTR_RP_NORMAL || number == PTR_RP_RIGHT90 || number == PTR_RP_LEFT90 ||
          number == PTR_RP_ROTATE180) {
        RotateSpecial = number;
      } else {
        Illegal();
      }
      break;
    default:
      Illegal();
      break;
  }
}

void CVX40Printer::SetPropertyString(std::int32_t, const std::string&) { Illegal(); }

std::int32_t CVX40Printer::COFreezeEvents(bool freeze) {
  SetPropertyNumber(PIDX_FreezeEvents, freeze ? 1 : 0);
  return ResultCode;
}

// ---------------------------------------------------------------------------------------------
// Line properties

std::int32_t CVX40Printer::ToMapUnits(std::int32_t dots) const {
  return dots_to_map_units(dots, MapMode, metrics_.units());
}

std::int32_t CVX40Printer::ToDots(std::int32_t units) const {
  return map_units_to_dots(units, MapMode, metrics_.units());
}

line_values CVX40Printer::CurrentLineValues() const {
  line_values v;
  v.rec_line_chars = RecLineChars;
  v.rec_line_height = RecLineHeight;
  v.rec_line_spacing = RecLineSpacing;
  v.spacing_above = spacing_above_;
  v.rec_sideways_max_chars = RecSidewaysMaxChars;
  v.h_scale = h_scale_;
  v.v_scale = v_scale_;
  return v;
}

void CVX40Printer::StoreLineValues(const line_values& v) {
  RecLineChars = v.rec_line_chars;
  RecLineHeight = v.rec_line_height;
  RecLineSpacing = v.rec_line_spacing;
  spacing_above_ = v.spacing_above;
  RecSidewaysMaxChars = v.rec_sideways_max_chars;
  h_scale_ = v.h_scale;
  v_scale_ = v.v_scale;
}

void CVX40Printer::SetCharacterSet(std::int32_t codepage) {
  if (CheckState() != OPOS_SUCCESS) return;
  const character_set_change change = compute_character_set(codepage, CharacterSetList);
  if (change.result != OPOS_SUCCESS) {
    ResultCode = change.result;
    return;
  }
  // Sent directly, not queued, and decoded without a status poll.
  std::int32_t written = 0;
  const std::int32_t result = channel_.Write(change.command, written, kWriteModeData);
  if (DecodeWriteResult(result, false) == OPOS_SUCCESS) CharacterSet = codepage;
}

void CVX40Printer::SetRecLineSpacing(std::int32_t dots) {
  if (CheckState() != OPOS_SUCCESS) return;
  const unit_metrics units = metrics_.units();
  line_change change = compute_rec_line_spacing(dots, CurrentLineValues(), units.dot_size, units.v_motion_unit);
  if (Submit(change.command, 0, kOutputInternal) != OPOS_SUCCESS) return;
  ResultCode = OPOS_SUCCESS;
  StoreLineValues(change.values);
}

void CVX40Printer::SetRecLineHeight(std::int32_t dots) {
  if (CheckState() != OPOS_SUCCESS) return;
  const font_settings font = metrics_.read_font(current_font_);
  line_change change = compute_rec_line_height(dots, CurrentLineValues(), font, rotation_state_);
  if (Submit(change.command, 0, kOutputInternal) != OPOS_SUCCESS) return;
  StoreLineValues(change.values);
  if (change.then_set_spacing) SetRecLineSpacing(*change.then_set_spacing);
}

void CVX40Printer::SetRecLineChars(std::int32_t chars) {
  if (CheckState() != OPOS_SUCCESS) return;
  const font_settings font = metrics_.read_font(current_font_);
  std::optional<line_change> change = compute_rec_line_chars(chars, CurrentLineValues(), font, rotation_state_);
  if (!change) return;
  if (Submit(change->command, 0, kOutputInternal) != OPOS_SUCCESS) return;
  StoreLineValues(change->values);
}

}  // namespace devsvc
