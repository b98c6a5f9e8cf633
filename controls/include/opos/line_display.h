// The line display of the C++ API: the OPOS line display control object as a C++ class, and the
// interface through which the application receives its events.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "opos/client.h"

namespace opos {

// MarqueeType values: a direction (1 to 4) starts the marquee, none or init ends it.
inline constexpr std::int32_t kDispMarqueeNone = 0;
inline constexpr std::int32_t kDispMarqueeUp = 1;
inline constexpr std::int32_t kDispMarqueeDown = 2;
inline constexpr std::int32_t kDispMarqueeLeft = 3;
inline constexpr std::int32_t kDispMarqueeRight = 4;
inline constexpr std::int32_t kDispMarqueeInit = 5;
// DisplayText's Attribute.
inline constexpr std::int32_t kDispTextNormal = 0;
inline constexpr std::int32_t kDispTextBlink = 1;

// Receives a line display's events, on the display's thread. Handlers must not throw.
class line_display_events {
 public:
  virtual ~line_display_events() = default;
  virtual void on_direct_io(std::int32_t /*event_number*/, std::int32_t& /*data*/, std::string& /*text*/) {}
  virtual void on_status_update(std::int32_t /*data*/) {}
};

// The OPOS line display, created through the ProgID of the kit's line display control (register
// libDspctl.so). Methods return OPOS results; automation failures throw automation_error.
//
// Setting MarqueeType to a direction runs the marquee inside that call until MarqueeType becomes
// none or init; post() a call that sets it, before starting the marquee or from an event:
//   display.post([&] { display.SetMarqueeType(opos::kDispMarqueeNone); }, 2000);
//   display.SetMarqueeType(opos::kDispMarqueeLeft);  // returns after about 2 s
class line_display : public control_client {
 public:
  static constexpr std::string_view kProgId = "CONTROLObject.KorvaneLineControl.1";

  explicit line_display(std::string_view prog_id = kProgId);
  ~line_display() override;

  // Sends the events to `handler` (not owned; null stops them) until changed.
  void set_event_handler(line_display_events* handler);

  // Claim and Release under their names of OPOS 1.5 and later.
  std::int32_t ClaimDevice(std::int32_t timeout_ms) { return call("ClaimDevice", {timeout_ms}); }
  std::int32_t ReleaseDevice() { return call("ReleaseDevice"); }

  // Line display methods.
  std::int32_t DisplayText(std::string_view data, std::int32_t attribute = kDispTextNormal) {
    return call("DisplayText", {data, attribute});
  }
  std::int32_t DisplayTextAt(std::int32_t row, std::int32_t column, std::string_view data,
                             std::int32_t attribute = kDispTextNormal) {
    return call("DisplayTextAt", {row, column, data, attribute});
  }
  std::int32_t ClearText() { return call("ClearText"); }
  std::int32_t ScrollText(std::int32_t direction, std::int32_t units) { return call("ScrollText", {direction, units}); }
  std::int32_t SetDescriptor(std::int32_t descriptor, std::int32_t attribute) {
    return call("SetDescriptor", {descriptor, attribute});
  }
  std::int32_t ClearDescriptors() { return call("ClearDescriptors"); }
  std::int32_t CreateWindow(std::int32_t viewport_row, std::int32_t viewport_column, std::int32_t viewport_height,
                            std::int32_t viewport_width, std::int32_t window_height, std::int32_t window_width) {
    return call("CreateWindow",
                {viewport_row, viewport_column, viewport_height, viewport_width, window_height, window_width});
  }
  std::int32_t DestroyWindow() { return call("DestroyWindow"); }
  std::int32_t RefreshWindow(std::int32_t window) { return call("RefreshWindow", {window}); }

  // Line display properties (0, false or "" before Open).
  std::int32_t GetCapBlink() { return get_number("CapBlink"); }
  bool GetCapBrightness() { return get_bool("CapBrightness"); }
  std::int32_t GetCapCharacterSet() { return get_number("CapCharacterSet"); }
  bool GetCapHMarquee() { return get_bool("CapHMarquee"); }
  bool GetCapVMarquee() { return get_bool("CapVMarquee"); }
  std::int32_t GetDeviceWindows() { return get_number("DeviceWindows"); }
  std::int32_t GetDeviceRows() { return get_number("DeviceRows"); }
  std::int32_t GetDeviceColumns() { return get_number("DeviceColumns"); }
  std::int32_t GetDeviceBrightness() { return get_number("DeviceBrightness"); }
  void SetDeviceBrightness(std::int32_t value) { set_number("DeviceBrightness", value); }
  std::int32_t GetCharacterSet() { return get_number("CharacterSet"); }
  void SetCharacterSet(std::int32_t value) { set_number("CharacterSet", value); }
  std::string GetCharacterSetList() { return get_string("CharacterSetList"); }
  std::int32_t GetCurrentWindow() { return get_number("CurrentWindow"); }
  void SetCurrentWindow(std::int32_t value) { set_number("CurrentWindow", value); }
  std::int32_t GetRows() { return get_number("Rows"); }
  std::int32_t GetColumns() { return get_number("Columns"); }
  std::int32_t GetCursorRow() { return get_number("CursorRow"); }
  void SetCursorRow(std::int32_t value) { set_number("CursorRow", value); }
  std::int32_t GetCursorColumn() { return get_number("CursorColumn"); }
  void SetCursorColumn(std::int32_t value) { set_number("CursorColumn", value); }
  bool GetCursorUpdate() { return get_bool("CursorUpdate"); }
  void SetCursorUpdate(bool value) { set_bool("CursorUpdate", value); }
  std::int32_t GetMarqueeType() { return get_number("MarqueeType"); }
  // A direction runs the marquee inside this call (see the class comment); blocks until it ends.
  void SetMarqueeType(std::int32_t value) { set_number("MarqueeType", value); }
  std::int32_t GetMarqueeFormat() { return get_number("MarqueeFormat"); }
  void SetMarqueeFormat(std::int32_t value) { set_number("MarqueeFormat", value); }
  std::int32_t GetMarqueeUnitWait() { return get_number("MarqueeUnitWait"); }
  void SetMarqueeUnitWait(std::int32_t ms) { set_number("MarqueeUnitWait", ms); }
  std::int32_t GetMarqueeRepeatWait() { return get_number("MarqueeRepeatWait"); }
  void SetMarqueeRepeatWait(std::int32_t ms) { set_number("MarqueeRepeatWait", ms); }

 private:
  line_display_events* handler_ = nullptr;
};

}  // namespace opos
