// The POS printer of the C++ API: the OPOS POS printer control object as a C++ class, and the
// interface through which the application receives its events.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "opos/client.h"

namespace opos {

// Receives a POS printer's events. They arrive on the printer's thread, during one of its calls
// or while the application dispatches messages; the printer waits until a handler returns.
// Handlers must not throw.
class pos_printer_events {
 public:
  virtual ~pos_printer_events() = default;
  // Completion of an asynchronous DirectIO; `data` and `text` may be changed for the service object.
  virtual void on_direct_io(std::int32_t /*event_number*/, std::int32_t& /*data*/, std::string& /*text*/) {}
  // An asynchronous request failed; set `error_response` to kErrorResponseRetry or
  // kErrorResponseClear to tell the service object what to do.
  virtual void on_error(std::int32_t /*result_code*/, std::int32_t /*result_code_extended*/,
                        std::int32_t /*error_locus*/, std::int32_t& /*error_response*/) {}
  // An asynchronous print request with this OutputID has been printed.
  virtual void on_output_complete(std::int32_t /*output_id*/) {}
  // The printer's status changed (cover open, paper near end, power state, ...).
  virtual void on_status_update(std::int32_t /*data*/) {}
};

// The OPOS POS printer, created through the ProgID of the kit's POS printer control. Methods
// return OPOS results; automation failures throw automation_error.
class pos_printer : public control_client {
 public:
  static constexpr std::string_view kProgId = "CONTROLObject.KorvanePOSPrinter.1";

  // Creates the control; throws automation_error when the ProgID is not registered (run
  // regsvr on libPtrctl.so) or the control cannot be made.
  explicit pos_printer(std::string_view prog_id = kProgId);
  ~pos_printer() override;

  // Sends the events to `handler` (not owned; null stops them) until changed.
  void set_event_handler(pos_printer_events* handler);

  // Printer methods.
  std::int32_t ClearOutput() { return call("ClearOutput"); }
  std::int32_t BeginInsertion(std::int32_t timeout_ms) { return call("BeginInsertion", {timeout_ms}); }
  std::int32_t BeginRemoval(std::int32_t timeout_ms) { return call("BeginRemoval", {timeout_ms}); }
  std::int32_t CutPaper(std::int32_t percentage) { return call("CutPaper", {percentage}); }
  std::int32_t EndInsertion() { return call("EndInsertion"); }
  std::int32_t EndRemoval() { return call("EndRemoval"); }
  std::int32_t PrintBarCode(std::int32_t station, std::string_view data, std::int32_t symbology, std::int32_t height,
                            std::int32_t width, std::int32_t alignment, std::int32_t text_position) {
    return call("PrintBarCode", {station, data, symbology, height, width, alignment, text_position});
  }
  std::int32_t PrintBitmap(std::int32_t station, std::string_view file_name, std::int32_t width,
                           std::int32_t alignment) {
    return call("PrintBitmap", {station, file_name, width, alignment});
  }
  std::int32_t PrintImmediate(std::int32_t station, std::string_view data) {
    return call("PrintImmediate", {station, data});
  }
  std::int32_t PrintNormal(std::int32_t station, std::string_view data) { return call("PrintNormal", {station, data}); }
  std::int32_t PrintTwoNormal(std::int32_t stations, std::string_view data1, std::string_view data2) {
    return call("PrintTwoNormal", {stations, data1, data2});
  }
  std::int32_t RotatePrint(std::int32_t station, std::int32_t rotation) {
    return call("RotatePrint", {station, rotation});
  }
  std::int32_t SetBitmap(std::int32_t bitmap_number, std::int32_t station, std::string_view file_name,
                         std::int32_t width, std::int32_t alignment) {
    return call("SetBitmap", {bitmap_number, station, file_name, width, alignment});
  }
  std::int32_t SetLogo(std::int32_t location, std::string_view data) { return call("SetLogo", {location, data}); }
  std::int32_t TransactionPrint(std::int32_t station, std::int32_t control) {
    return call("TransactionPrint", {station, control});
  }
  std::int32_t ValidateData(std::int32_t station, std::string_view data) {
    return call("ValidateData", {station, data});
  }
  std::int32_t ChangePrintSide(std::int32_t side) { return call("ChangePrintSide", {side}); }
  std::int32_t MarkFeed(std::int32_t type) { return call("MarkFeed", {type}); }
  std::int32_t ClaimDevice(std::int32_t timeout_ms) { return call("ClaimDevice", {timeout_ms}); }
  std::int32_t ReleaseDevice() { return call("ReleaseDevice"); }

  // Printer properties (0, false or "" before Open).
  std::int32_t GetOutputID() { return get_number("OutputID"); }
  std::int32_t GetCapCharacterSet() { return get_number("CapCharacterSet"); }
  bool GetCapConcurrentJrnRec() { return get_bool("CapConcurrentJrnRec"); }
  bool GetCapConcurrentJrnSlp() { return get_bool("CapConcurrentJrnSlp"); }
  bool GetCapConcurrentRecSlp() { return get_bool("CapConcurrentRecSlp"); }
  bool GetCapCoverSensor() { return get_bool("CapCoverSensor"); }
  bool GetCapTransaction() { return get_bool("CapTransaction"); }
  bool GetCapJrnPresent() { return get_bool("CapJrnPresent"); }
  bool GetCapJrn2Color() { return get_bool("CapJrn2Color"); }
  bool GetCapJrnBold() { return get_bool("CapJrnBold"); }
  bool GetCapJrnDhigh() { return get_bool("CapJrnDhigh"); }
  bool GetCapJrnDwide() { return get_bool("CapJrnDwide"); }
  bool GetCapJrnDwideDhigh() { return get_bool("CapJrnDwideDhigh"); }
  bool GetCapJrnEmptySensor() { return get_bool("CapJrnEmptySensor"); }
  bool GetCapJrnItalic() { return get_bool("CapJrnItalic"); }
  bool GetCapJrnNearEndSensor() { return get_bool("CapJrnNearEndSensor"); }
  bool GetCapJrnUnderline() { return get_bool("CapJrnUnderline"); }
  bool GetCapRecPresent() { return get_bool("CapRecPresent"); }
  bool GetCapRec2Color() { return get_bool("CapRec2Color"); }
  bool GetCapRecBarCode() { return get_bool("CapRecBarCode"); }
  bool GetCapRecBitmap() { return get_bool("CapRecBitmap"); }
  bool GetCapRecBold() { return get_bool("CapRecBold"); }
  bool GetCapRecDhigh() { return get_bool("CapRecDhigh"); }
  bool GetCapRecDwide() { return get_bool("CapRecDwide"); }
  bool GetCapRecDwideDhigh() { return get_bool("CapRecDwideDhigh"); }
  bool GetCapRecEmptySensor() { return get_bool("CapRecEmptySensor"); }
  bool GetCapRecItalic() { return get_bool("CapRecItalic"); }
  bool GetCapRecLeft90() { return get_bool("CapRecLeft90"); }
  bool GetCapRecNearEndSensor() { return get_bool("CapRecNearEndSensor"); }
  bool GetCapRecPapercut() { return get_bool("CapRecPapercut"); }
  bool GetCapRecRotate180() { return get_bool("CapRecRotate180"); }
  bool GetCapRecStamp() { return get_bool("CapRecStamp"); }
  bool GetCapRecUnderline() { return get_bool("CapRecUnderline"); }
  bool GetCapSlpPresent() { return get_bool("CapSlpPresent"); }
  bool GetCapSlpFullslip() { return get_bool("CapSlpFullslip"); }
  bool GetCapSlp2Color() { return get_bool("CapSlp2Color"); }
  bool GetCapSlpBarCode() { return get_bool("CapSlpBarCode"); }
  bool GetCapSlpBitmap() { return get_bool("CapSlpBitmap"); }
  bool GetCapSlpBold() { return get_bool("CapSlpBold"); }
  bool GetCapSlpDhigh() { return get_bool("CapSlpDhigh"); }
  bool GetCapSlpDwide() { return get_bool("CapSlpDwide"); }
  bool GetCapSlpDwideDhigh() { return get_bool("CapSlpDwideDhigh"); }
  bool GetCapSlpEmptySensor() { return get_bool("CapSlpEmptySensor"); }
  bool GetCapSlpItalic() { return get_bool("CapSlpItalic"); }
  bool GetCapSlpLeft90() { return get_bool("CapSlpLeft90"); }
  bool GetCapSlpNearEndSensor() { return get_bool("CapSlpNearEndSensor"); }
  bool GetCapSlpRight90() { return get_bool("CapSlpRight90"); }
  bool GetCapSlpRotate180() { return get_bool("CapSlpRotate180"); }
  bool GetCapSlpUnderline() { return get_bool("CapSlpUnderline"); }
  bool GetAsyncMode() { return get_bool("AsyncMode"); }
  void SetAsyncMode(bool value) { set_bool("AsyncMode", value); }
  std::int32_t GetCharacterSet() { return get_number("CharacterSet"); }
  void SetCharacterSet(std::int32_t value) { set_number("CharacterSet", value); }
  std::string GetCharacterSetList() { return get_string("CharacterSetList"); }
  bool GetCoverOpen() { return get_bool("CoverOpen"); }
  std::int32_t GetErrorLevel() { return get_number("ErrorLevel"); }
  std::int32_t GetErrorStation() { return get_number("ErrorStation"); }
  std::string GetErrorString() { return get_string("ErrorString"); }
  std::string GetFontTypefaceList() { return get_string("FontTypefaceList"); }
  bool GetFlagWhenIdle() { return get_bool("FlagWhenIdle"); }
  void SetFlagWhenIdle(bool value) { set_bool("FlagWhenIdle", value); }
  std::int32_t GetMapMode() { return get_number("MapMode"); }
  void SetMapMode(std::int32_t value) { set_number("MapMode", value); }
  std::int32_t GetRotateSpecial() { return get_number("RotateSpecial"); }
  void SetRotateSpecial(std::int32_t value) { set_number("RotateSpecial", value); }
  std::int32_t GetJrnLineChars() { return get_number("JrnLineChars"); }
  void SetJrnLineChars(std::int32_t value) { set_number("JrnLineChars", value); }
  std::string GetJrnLineCharsList() { return get_string("JrnLineCharsList"); }
  std::int32_t GetJrnLineHeight() { return get_number("JrnLineHeight"); }
  void SetJrnLineHeight(std::int32_t value) { set_number("JrnLineHeight", value); }
  std::int32_t GetJrnLineSpacing() { return get_number("JrnLineSpacing"); }
  void SetJrnLineSpacing(std::int32_t value) { set_number("JrnLineSpacing", value); }
  std::int32_t GetJrnLineWidth() { return get_number("JrnLineWidth"); }
  bool GetJrnLetterQuality() { return get_bool("JrnLetterQuality"); }
  void SetJrnLetterQuality(bool value) { set_bool("JrnLetterQuality", value); }
  bool GetJrnEmpty() { return get_bool("JrnEmpty"); }
  bool GetJrnNearEnd() { return get_bool("JrnNearEnd"); }
  std::int32_t GetRecLineChars() { return get_number("RecLineChars"); }
  void SetRecLineChars(std::int32_t value) { set_number("RecLineChars", value); }
  std::string GetRecLineCharsList() { return get_string("RecLineCharsList"); }
  std::int32_t GetRecLineHeight() { return get_number("RecLineHeight"); }
  void SetRecLineHeight(std::int32_t value) { set_number("RecLineHeight", value); }
  std::int32_t GetRecLineSpacing() { return get_number("RecLineSpacing"); }
  void SetRecLineSpacing(std::int32_t value) { set_number("RecLineSpacing", value); }
  std::int32_t GetRecLineWidth() { return get_number("RecLineWidth"); }
  bool GetRecLetterQuality() { return get_bool("RecLetterQuality"); }
  void SetRecLetterQuality(bool value) { set_bool("RecLetterQuality", value); }
  bool GetRecEmpty() { return get_bool("RecEmpty"); }
  bool GetRecNearEnd() { return get_bool("RecNearEnd"); }
  std::int32_t GetRecSidewaysMaxLines() { return get_number("RecSidewaysMaxLines"); }
  std::int32_t GetRecSidewaysMaxChars() { return get_number("RecSidewaysMaxChars"); }
  std::int32_t GetRecLinesToPaperCut() { return get_number("RecLinesToPaperCut"); }
  std::string GetRecBarCodeRotationList() { return get_string("RecBarCodeRotationList"); }
  std::int32_t GetSlpLineChars() { return get_number("SlpLineChars"); }
  void SetSlpLineChars(std::int32_t value) { set_number("SlpLineChars", value); }
  std::string GetSlpLineCharsList() { return get_string("SlpLineCharsList"); }
  std::int32_t GetSlpLineHeight() { return get_number("SlpLineHeight"); }
  void SetSlpLineHeight(std::int32_t value) { set_number("SlpLineHeight", value); }
  std::int32_t GetSlpLineSpacing() { return get_number("SlpLineSpacing"); }
  void SetSlpLineSpacing(std::int32_t value) { set_number("SlpLineSpacing", value); }
  std::int32_t GetSlpLineWidth() { return get_number("SlpLineWidth"); }
  bool GetSlpLetterQuality() { return get_bool("SlpLetterQuality"); }
  void SetSlpLetterQuality(bool value) { set_bool("SlpLetterQuality", value); }
  bool GetSlpEmpty() { return get_bool("SlpEmpty"); }
  bool GetSlpNearEnd() { return get_bool("SlpNearEnd"); }
  std::int32_t GetSlpSidewaysMaxLines() { return get_number("SlpSidewaysMaxLines"); }
  std::int32_t GetSlpSidewaysMaxChars() { return get_number("SlpSidewaysMaxChars"); }
  std::int32_t GetSlpMaxLines() { return get_number("SlpMaxLines"); }
  std::int32_t GetSlpLinesNearEndToEnd() { return get_number("SlpLinesNearEndToEnd"); }
  std::string GetSlpBarCodeRotationList() { return get_string("SlpBarCodeRotationList"); }
  std::int32_t GetCapRecCartridgeSensor() { return get_number("CapRecCartridgeSensor"); }
  std::int32_t GetCapRecColor() { return get_number("CapRecColor"); }
  std::int32_t GetCapJrnCartridgeSensor() { return get_number("CapJrnCartridgeSensor"); }
  std::int32_t GetCapJrnColor() { return get_number("CapJrnColor"); }
  std::int32_t GetCapRecMarkFeed() { return get_number("CapRecMarkFeed"); }
  std::int32_t GetCapSlpBothSidesPrint() { return get_number("CapSlpBothSidesPrint"); }
  std::int32_t GetCapSlpCartridgeSensor() { return get_number("CapSlpCartridgeSensor"); }
  std::int32_t GetCapSlpColor() { return get_number("CapSlpColor"); }
  std::int32_t GetCartridgeNotify() { return get_number("CartridgeNotify"); }
  void SetCartridgeNotify(std::int32_t value) { set_number("CartridgeNotify", value); }
  std::int32_t GetJrnCartridgeState() { return get_number("JrnCartridgeState"); }
  std::int32_t GetJrnCurrentCartridge() { return get_number("JrnCurrentCartridge"); }
  void SetJrnCurrentCartridge(std::int32_t value) { set_number("JrnCurrentCartridge", value); }
  std::int32_t GetRecCartridgeState() { return get_number("RecCartridgeState"); }
  std::int32_t GetRecCurrentCartridge() { return get_number("RecCurrentCartridge"); }
  std::int32_t GetSlpPrintSide() { return get_number("SlpPrintSide"); }
  std::int32_t GetSlpCartridgeState() { return get_number("SlpCartridgeState"); }
  std::int32_t GetSlpCurrentCartridge() { return get_number("SlpCurrentCartridge"); }
  void SetSlpCurrentCartridge(std::int32_t value) { set_number("SlpCurrentCartridge", value); }
  bool GetCapRecRight90() { return get_bool("CapRecRight90"); }

 private:
  pos_printer_events* handler_ = nullptr;
};

}  // namespace opos
