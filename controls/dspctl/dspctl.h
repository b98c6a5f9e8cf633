// The line display control object CDspctlCtrl: its identity, its member table (properties with
// their OPOS property indexes, methods, callbacks) and its event ids.
#pragma once

#include <span>

#include "controls/control_core.h"

namespace dspctl {

// The control class (coclass Dspctl of DSPCTLLib); registered under this CLSID and ProgID by the
// Dspctl library.
inline constexpr platform::guid kClsid = platform::guid::literal("{C71DF566-F005-11D6-B79E-0002B3286B4A}");
inline constexpr std::string_view kProgId = "CONTROLObject.KorvaneLineControl.1";
// Default value of the class keys (the control's registered type name, spelled as shipped).
inline constexpr std::string_view kTypeName = "Line Display Diver - Korvane OLE for Retail";

// Ids of the events on the control's connection point (_DDspctlEvents).
inline constexpr long kDirectIOEvent = 1;
inline constexpr long kStatusUpdateEvent = 2;

// The description of the line display control: device class "LineDisplay", its registry class
// key, fixed texts, close policy (stays opened when the service object's Close fails) and
// member tables.
const controls::control_class& line_display_class();

}  // namespace dspctl

// The OPOS line display control object. Apartment-threaded: use it on the thread that made it.
class CDspctlCtrl final : public controls::control_object<CDspctlCtrl> {
 public:
  static const controls::control_class& control_class_info() { return dspctl::line_display_class(); }
  static std::span<const platform::dispatch_member<CDspctlCtrl>> dispatch_members();
};
