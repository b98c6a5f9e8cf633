// The POS printer control object CPtrctlCtrl: its identity, its member table (properties with
// their OPOS property indexes, methods, callbacks) and its event ids.
#pragma once

#include <span>

#include "controls/control_core.h"

namespace ptrctl {

// The control class; registered under this CLSID and ProgID by the Ptrctl library.
inline constexpr platform::guid kClsid = platform::guid::literal("{AA8991C5-7716-43A6-A3AD-273B50189BF4}");
inline constexpr std::string_view kProgId = "CONTROLObject.KorvanePOSPrinter.1";
// Default value of the class keys (the control's registered type name, spelled as shipped).
inline constexpr std::string_view kTypeName = "POS Printer Diver - Korvane OLE for Retail";

// Ids of the events on the control's connection point (_DPtrctlEvents).
inline constexpr long kDirectIOEvent = 1;
inline constexpr long kErrorEvent = 2;
inline constexpr long kOutputCompleteEvent = 3;
inline constexpr long kStatusUpdateEvent = 4;

// The description of the POS printer control: device class "POSPrinter", its registry class
// key, fixed texts, close policy (always closes) and member tables.
const controls::control_class& pos_printer_class();

}  // namespace ptrctl

// The OPOS POS printer control object. Apartment-threaded: use it on the thread that made it.
class CPtrctlCtrl final : public controls::control_object<CPtrctlCtrl> {
 public:
  static const controls::control_class& control_class_info() { return ptrctl::pos_printer_class(); }
  static std::span<const platform::dispatch_member<CPtrctlCtrl>> dispatch_members();
};
