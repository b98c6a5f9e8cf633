// The line display control's member table and the description that the control core runs on.
#include "dspctl.h"

namespace dspctl {
namespace {

using controls::method_role;
using controls::property_type;

constexpr property_type kNumber = property_type::number;
constexpr property_type kBoolean = property_type::boolean;
constexpr property_type kString = property_type::string;
constexpr bool kRW = true;
constexpr bool kRO = false;
constexpr method_role kForward = method_role::forward;
constexpr method_role kOpen = method_role::open;
constexpr method_role kClose = method_role::close;
constexpr method_role kFire = method_role::fire_event;
constexpr method_role kProcessId = method_role::process_id;
constexpr method_role kAboutBox = method_role::about_box;

// Properties: dispatch id, name, type, writable, OPOS property index. Strings are 1000000 plus
// the number; common properties below 1000, line display properties 5001 to 5017, capabilities
// 5501 to 5507.
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
    {18, "CapBlink", kNumber, kRO, 5501},
    {19, "CapBrightness", kBoolean, kRO, 5502},
    {20, "CapCharacterSet", kNumber, kRO, 5503},
    {21, "CapDescriptors", kBoolean, kRO, 5504},
    {22, "CapHMarquee", kBoolean, kRO, 5505},
    {23, "CapICharWait", kBoolean, kRO, 5506},
    {24, "CapVMarquee", kBoolean, kRO, 5507},
    {25, "DeviceWindows", kNumber, kRO, 5011},
    {26, "DeviceRows", kNumber, kRO, 5010},
    {27, "DeviceColumns", kNumber, kRO, 5008},
    {28, "DeviceDescriptors", kNumber, kRO, 5009},
    {29, "DeviceBrightness", kNumber, kRW, 5007},
    {30, "CharacterSet", kNumber, kRW, 5001},
    {31, "CharacterSetList", kString, kRO, 1005001},
    {32, "CurrentWindow", kNumber, kRW, 5003},
    {33, "Rows", kNumber, kRO, 5016},
    {34, "Columns", kNumber, kRO, 5002},
    {35, "CursorRow", kNumber, kRW, 5005},
    {36, "CursorColumn", kNumber, kRW, 5004},
    {37, "CursorUpdate", kBoolean, kRW, 5006},
    {38, "MarqueeType", kNumber, kRW, 5014},
    {39, "MarqueeFormat", kNumber, kRW, 5017},
    {40, "MarqueeUnitWait", kNumber, kRW, 5015},
    {41, "MarqueeRepeatWait", kNumber, kRW, 5013},
    {42, "InterCharacterWait", kNumber, kRW, 5012},
};

// Methods: dispatch id, name, parameters (l long, s string, L long&, S string&), role, event.
// The SO* members are the service object's callbacks; the rest are forwarded by name.
constexpr controls::method_row kMethods[] = {
    {43, "Open", "s", kOpen},
    {44, "Close", "", kClose},
    {45, "Claim", "l"},
    {46, "Release", ""},
    {47, "CheckHealth", "l"},
    {48, "DirectIO", "lLS"},
    {49, "DisplayText", "sl"},
    {50, "DisplayTextAt", "llsl"},
    {51, "ClearText", ""},
    {52, "ScrollText", "ll"},
    {53, "SetDescriptor", "ll"},
    {54, "ClearDescriptors", ""},
    {55, "CreateWindow", "llllll"},
    {56, "DestroyWindow", ""},
    {57, "RefreshWindow", "l"},
    {58, "SOProcessID", "", kProcessId},
    {59, "SODirectIO", "lLS", kFire, dspctl::kDirectIOEvent},
    {60, "SOStatusUpdate", "l", kFire, dspctl::kStatusUpdateEvent},
    // The names of OPOS 1.5 and later for Claim and Release, forwarded to Claim and Release (an
    // extension beyond the control's original members, see controls/README.md).
    {61, "ClaimDevice", "l", kForward, 0, "Claim"},
    {62, "ReleaseDevice", "", kForward, 0, "Release"},
    {-552, "AboutBox", "", kAboutBox},
};

constexpr controls::control_class kLineDisplay = {
    .device_class = "LineDisplay",
    .registry_class_key = "SOFTWARE\\OLEforRetail\\ServiceOPOS\\LineDisplay",
    .description = "Line Display driver - Korvane OLE for Retail",
    .version = 1000000,
    .about_text = "OPOS Driver - Line Display\nRelease 1.01",
    .close = controls::close_policy::release_on_success,
    .properties = kProperties,
    .methods = kMethods,
};

}  // namespace

const controls::control_class& line_display_class() { return kLineDisplay; }

}  // namespace dspctl

namespace {

constexpr std::size_t kMemberCount = controls::member_count(dspctl::kProperties, dspctl::kMethods);
constexpr auto kMembers = controls::member_table<CDspctlCtrl, kMemberCount>(dspctl::kProperties, dspctl::kMethods);

}  // namespace

std::span<const platform::dispatch_member<CDspctlCtrl>> CDspctlCtrl::dispatch_members() { return kMembers; }
