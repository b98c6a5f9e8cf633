// The cash drawer control's member table and the description that the control core runs on.
#include "drwctl.h"

namespace drwctl {
namespace {

using controls::method_role;
using controls::property_type;

constexpr property_type kNumber = property_type::number;
constexpr property_type kBoolean = property_type::boolean;
constexpr property_type kString = property_type::string;
constexpr bool kRW = true;
constexpr bool kRO = false;
constexpr method_role kOpen = method_role::open;
constexpr method_role kClose = method_role::close;
constexpr method_role kFire = method_role::fire_event;
constexpr method_role kProcessId = method_role::process_id;
constexpr method_role kAboutBox = method_role::about_box;

// Properties: dispatch id, name, type, writable, OPOS property index. The common properties
// come first, in the order of the kit's other controls; the drawer's own indexes are 1000 plus
// the number (1501 for the capability).
constexpr controls::property_row kProperties[] = {
    {1, "BinaryConversion", kNumber, kRW, 11},
    {2, "CapPowerReporting", kNumber, kRO, 501},
    {3, "CheckHealthText", kString, kRO, 1000001},
    {4, "Claimed", kBoolean, kRO, 1},
    {5, "DeviceEnabled", kBoolean, kRW, 3},
    {6, "FreezeEvents", kBoolean, kRW, 4},
    {7, "PowerNotify", kNumber, kRW, 13},
    {8, "PowerState", kNumber, kRO, 14},
    {9, "ResultCode", kNumber, kRO, 6},
    {10, "ResultCodeExtended", kNumber, kRO, 7},
    {11, "State", kNumber, kRO, 9},
    {12, "ControlObjectDescription", kString, kRO, controls::kAnsweredLocally},
    {13, "ControlObjectVersion", kNumber, kRO, controls::kAnsweredLocally},
    {14, "ServiceObjectDescription", kString, kRO, 1000004},
    {15, "ServiceObjectVersion", kNumber, kRO, 8},
    {16, "DeviceName", kString, kRO, 1000003},
    {17, "DeviceDescription", kString, kRO, 1000002},
    {18, "CapStatus", kBoolean, kRO, 1501},
    {19, "DrawerOpened", kBoolean, kRO, 1001},
};

// Methods: dispatch id, name, parameters (l long, s string, L long&, S string&), role, event.
// The SO* members are the service object's callbacks; the rest are forwarded by name.
constexpr controls::method_row kMethods[] = {
    {20, "Open", "s", kOpen},
    {21, "Close", "", kClose},
    {22, "Claim", "l"},
    {23, "Release", ""},
    {24, "CheckHealth", "l"},
    {25, "DirectIO", "lLS"},
    {26, "OpenDrawer", ""},
    {27, "WaitForDrawerClose", "llll"},
    {28, "SOProcessID", "", kProcessId},
    {29, "SODirectIO", "lLS", kFire, drwctl::kDirectIOEvent},
    {30, "SOStatusUpdate", "l", kFire, drwctl::kStatusUpdateEvent},
    {-552, "AboutBox", "", kAboutBox},
};

constexpr controls::control_class kCashDrawer = {
    .device_class = "CashDrawer",
    .registry_class_key = "SOFTWARE\\OLEforRetail\\ServiceOPOS\\CashDrawer",
    .description = "Cash Drawer driver - Korvane OLE for Retail",
    .version = 1000000,
    .about_text = "OPOS Driver for Cash Drawer\nRelease 1.01",
    // A service object that refuses to close (busy waiting for the drawer) stays bound, so the
    // application can close again once the wait is over.
    .close = controls::close_policy::release_on_success,
    .properties = kProperties,
    .methods = kMethods,
};

}  // namespace

const controls::control_class& cash_drawer_class() { return kCashDrawer; }

}  // namespace drwctl

namespace {

constexpr std::size_t kMemberCount = controls::member_count(drwctl::kProperties, drwctl::kMethods);
constexpr auto kMembers = controls::member_table<CDrwctlCtrl, kMemberCount>(drwctl::kProperties, drwctl::kMethods);

}  // namespace

std::span<const platform::dispatch_member<CDrwctlCtrl>> CDrwctlCtrl::dispatch_members() { return kMembers; }
