// The OPOS cash drawer control object CDrwctlCtrl: its identity, its member table (properties
// with their OPOS property indexes, methods, callbacks) and its event ids.
#pragma once

#include <span>

#include "controls/control_core.h"

namespace drwctl {

// The control class; registered under this CLSID and ProgID by the Drwctl library. The CLSID is
// the kit's own: no published type library names a cash drawer control of this kit.
inline constexpr platform::guid kClsid = platform::guid::literal("{A1B4D118-404D-4AF7-80E3-3E92C5B49CA1}");
inline constexpr std::string_view kProgId = "CONTROLObject.KorvaneCashDrawer.1";
// Default value of the class keys (the control's registered type name).
inline constexpr std::string_view kTypeName = "Cash Drawer Driver - Korvane OLE for Retail";

// Ids of the events on the control's connection point.
inline constexpr long kDirectIOEvent = 1;
inline constexpr long kStatusUpdateEvent = 2;

// The description of the cash drawer control: device class "CashDrawer", its registry class
// key, fixed texts, close policy (stays opened when the service object refuses to close) and
// member tables.
const controls::control_class& cash_drawer_class();

}  // namespace drwctl

// The OPOS cash drawer control object. Apartment-threaded: use it on the thread that made it.
class CDrwctlCtrl final : public controls::control_object<CDrwctlCtrl> {
 public:
  static const controls::control_class& control_class_info() { return drwctl::cash_drawer_class(); }
  static std::span<const platform::dispatch_member<CDrwctlCtrl>> dispatch_members();
};
