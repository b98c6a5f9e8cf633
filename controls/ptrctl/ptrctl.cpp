// The POS printer control's member table and the description that the control core runs on.
#include "ptrctl.h"

namespace ptrctl {
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
// the number; common properties below 1000, printer properties 8001 to 8044, capabilities 8501
// to 8557.
constexpr controls::property_row kProperties[] = {
    {1, "BinaryConversion", kNumber, kRW, 11},
    {2, "CapPowerReporting", kNumber, kRO, 501},
    {3, "CheckHealthText", kString, kRO, 1000001},
    {4, "Claimed", kBoolean, kRO, 1},
    {5, "DeviceEnabled", kBoolean, kRW, 3},
    {6, "FreezeEvents", kBoolean, kRW, 4},
    {7, "OutputID", kNumber, kRO, 5},
    {8, "PowerNotify", kNumber, kRW, 13},
    {9, "PowerState", kNumber, kRO, 14},
    {10, "ResultCode", kNumber, kRO, 6},
    {11, "ResultCodeExtended", kNumber, kRO, 7},
    {12, "State", kNumber, kRO, 9},
    {13, "ControlObjectDescription", kString, kRO, controls::kAnsweredLocally},
    {14, "ControlObjectVersion", kNumber, kRO, controls::kAnsweredLocally},
    {15, "ServiceObjectDescription", kString, kRO, 1000004},
    {16, "ServiceObjectVersion", kNumber, kRO, 8},
    {17, "DeviceDescription", kString, kRO, 1000002},
    {18, "DeviceName", kString, kRO, 1000003},
    {19, "CapCharacterSet", kNumber, kRO, 8548},
    {20, "CapConcurrentJrnRec", kBoolean, kRO, 8501},
    {21, "CapConcurrentJrnSlp", kBoolean, kRO, 8502},
    {22, "CapConcurrentRecSlp", kBoolean, kRO, 8503},
    {23, "CapCoverSensor", kBoolean, kRO, 8504},
    {24, "CapTransaction", kBoolean, kRO, 8549},
    {25, "CapJrnPresent", kBoolean, kRO, 8513},
    {26, "CapJrn2Color", kBoolean, kRO, 8505},
    {27, "CapJrnBold", kBoolean, kRO, 8506},
    {28, "CapJrnDhigh", kBoolean, kRO, 8507},
    {29, "CapJrnDwide", kBoolean, kRO, 8508},
    {30, "CapJrnDwideDhigh", kBoolean, kRO, 8509},
    {31, "CapJrnEmptySensor", kBoolean, kRO, 8510},
    {32, "CapJrnItalic", kBoolean, kRO, 8511},
    {33, "CapJrnNearEndSensor", kBoolean, kRO, 8512},
    {34, "CapJrnUnderline", kBoolean, kRO, 8514},
    {35, "CapRecPresent", kBoolean, kRO, 8527},
    {36, "CapRec2Color", kBoolean, kRO, 8515},
    {37, "CapRecBarCode", kBoolean, kRO, 8516},
    {38, "CapRecBitmap", kBoolean, kRO, 8517},
    {39, "CapRecBold", kBoolean, kRO, 8518},
    {40, "CapRecDhigh", kBoolean, kRO, 8519},
    {41, "CapRecDwide", kBoolean, kRO, 8520},
    {42, "CapRecDwideDhigh", kBoolean, kRO, 8521},
    {43, "CapRecEmptySensor", kBoolean, kRO, 8522},
    {44, "CapRecItalic", kBoolean, kRO, 8523},
    {45, "CapRecLeft90", kBoolean, kRO, 8524},
    {46, "CapRecNearEndSensor", kBoolean, kRO, 8525},
    {47, "CapRecPapercut", kBoolean, kRO, 8526},
    {48, "CapRecRotate180", kBoolean, kRO, 8529},
    {49, "CapRecStamp", kBoolean, kRO, 8530},
    {50, "CapRecUnderline", kBoolean, kRO, 8531},
    {51, "CapSlpPresent", kBoolean, kRO, 8544},
    {52, "CapSlpFullslip", kBoolean, kRO, 8540},
    {53, "CapSlp2Color", kBoolean, kRO, 8532},
    {54, "CapSlpBarCode", kBoolean, kRO, 8533},
    {55, "CapSlpBitmap", kBoolean, kRO, 8534},
    {56, "CapSlpBold", kBoolean, kRO, 8535},
    {57, "CapSlpDhigh", kBoolean, kRO, 8536},
    {58, "CapSlpDwide", kBoolean, kRO, 8537},
    {59, "CapSlpDwideDhigh", kBoolean, kRO, 8538},
    {60, "CapSlpEmptySensor", kBoolean, kRO, 8539},
    {61, "CapSlpItalic", kBoolean, kRO, 8541},
    {62, "CapSlpLeft90", kBoolean, kRO, 8542},
    {63, "CapSlpNearEndSensor", kBoolean, kRO, 8543},
    {64, "CapSlpRight90", kBoolean, kRO, 8545},
    {65, "CapSlpRotate180", kBoolean, kRO, 8546},
    {66, "CapSlpUnderline", kBoolean, kRO, 8547},
    {67, "AsyncMode", kBoolean, kRW, 8001},
    {68, "CharacterSet", kNumber, kRW, 8002},
    {69, "CharacterSetList", kString, kRO, 1008001},
    {70, "CoverOpen", kBoolean, kRO, 8003},
    {71, "ErrorLevel", kNumber, kRO, 8035},
    {72, "ErrorStation", kNumber, kRO, 8004},
    {73, "ErrorString", kString, kRO, 1008005},
    {74, "FontTypefaceList", kString, kRO, 1008006},
    {75, "FlagWhenIdle", kBoolean, kRW, 8005},
    {76, "MapMode", kNumber, kRW, 8013},
    {77, "RotateSpecial", kNumber, kRW, 8036},
    {78, "JrnLineChars", kNumber, kRW, 8008},
    {79, "JrnLineCharsList", kString, kRO, 1008002},
    {80, "JrnLineHeight", kNumber, kRW, 8009},
    {81, "JrnLineSpacing", kNumber, kRW, 8010},
    {82, "JrnLineWidth", kNumber, kRO, 8011},
    {83, "JrnLetterQuality", kBoolean, kRW, 8007},
    {84, "JrnEmpty", kBoolean, kRO, 8006},
    {85, "JrnNearEnd", kBoolean, kRO, 8012},
    {86, "RecLineChars", kNumber, kRW, 8016},
    {87, "RecLineCharsList", kString, kRO, 1008003},
    {88, "RecLineHeight", kNumber, kRW, 8017},
    {89, "RecLineSpacing", kNumber, kRW, 8018},
    {90, "RecLineWidth", kNumber, kRO, 8020},
    {91, "RecLetterQuality", kBoolean, kRW, 8015},
    {92, "RecEmpty", kBoolean, kRO, 8014},
    {93, "RecNearEnd", kBoolean, kRO, 8021},
    {94, "RecSidewaysMaxLines", kNumber, kRO, 8023},
    {95, "RecSidewaysMaxChars", kNumber, kRO, 8022},
    {96, "RecLinesToPaperCut", kNumber, kRO, 8019},
    {97, "RecBarCodeRotationList", kString, kRO, 1008007},
    {98, "SlpLineChars", kNumber, kRW, 8026},
    {99, "SlpLineCharsList", kString, kRO, 1008004},
    {100, "SlpLineHeight", kNumber, kRW, 8027},
    {101, "SlpLineSpacing", kNumber, kRW, 8029},
    {102, "SlpLineWidth", kNumber, kRO, 8030},
    {103, "SlpLetterQuality", kBoolean, kRW, 8025},
    {104, "SlpEmpty", kBoolean, kRO, 8024},
    {105, "SlpNearEnd", kBoolean, kRO, 8032},
    {106, "SlpSidewaysMaxLines", kNumber, kRO, 8034},
    {107, "SlpSidewaysMaxChars", kNumber, kRO, 8033},
    {108, "SlpMaxLines", kNumber, kRO, 8031},
    {109, "SlpLinesNearEndToEnd", kNumber, kRO, 8028},
    {110, "SlpBarCodeRotationList", kString, kRO, 1008008},
    {111, "CapRecCartridgeSensor", kNumber, kRO, 8552},
    {112, "CapRecColor", kNumber, kRO, 8553},
    {113, "CapJrnCartridgeSensor", kNumber, kRO, 8550},
    {114, "CapJrnColor", kNumber, kRO, 8551},
    {115, "CapRecMarkFeed", kNumber, kRO, 8554},
    {116, "CapSlpBothSidesPrint", kNumber, kRO, 8555},
    {117, "CapSlpCartridgeSensor", kNumber, kRO, 8556},
    {118, "CapSlpColor", kNumber, kRO, 8557},
    {119, "CartridgeNotify", kNumber, kRW, 8037},
    {120, "JrnCartridgeState", kNumber, kRO, 8038},
    {121, "JrnCurrentCartridge", kNumber, kRW, 8039},
    {122, "RecCartridgeState", kNumber, kRO, 8040},
    {123, "RecCurrentCartridge", kNumber, kRO, 8041},
    {124, "SlpPrintSide", kNumber, kRO, 8042},
    {125, "SlpCartridgeState", kNumber, kRO, 8043},
    {126, "SlpCurrentCartridge", kNumber, kRW, 8044},
    {127, "CapRecRight90", kBoolean, kRO, 8528},
};

// Methods: dispatch id, name, parameters (l long, s string, L long&, S string&), role, event.
// The SO* members are the service object's callbacks; the rest are forwarded by name.
constexpr controls::method_row kMethods[] = {
    {128, "Open", "s", kOpen},
    {129, "Close", "", kClose},
    {130, "Claim", "l"},
    {131, "Release", ""},
    {132, "CheckHealth", "l"},
    {133, "ClearOutput", ""},
    {134, "DirectIO", "lLS"},
    {135, "SODirectIO", "lLS", kFire, ptrctl::kDirectIOEvent},
    {136, "SOError", "lllL", kFire, ptrctl::kErrorEvent},
    {137, "SOOutputComplete", "l", kFire, ptrctl::kOutputCompleteEvent},
    {138, "SOStatusUpdate", "l", kFire, ptrctl::kStatusUpdateEvent},
    {139, "SOProcessID", "", kProcessId},
    {140, "BeginInsertion", "l"},
    {141, "BeginRemoval", "l"},
    {142, "CutPaper", "l"},
    {143, "EndInsertion", ""},
    {144, "EndRemoval", ""},
    {145, "PrintBarCode", "lslllll"},
    {146, "PrintBitmap", "lsll"},
    {147, "PrintImmediate", "ls"},
    {148, "PrintNormal", "ls"},
    {149, "PrintTwoNormal", "lss"},
    {150, "RotatePrint", "ll"},
    {151, "SetBitmap", "llsll"},
    {152, "SetLogo", "ls"},
    {153, "TransactionPrint", "ll"},
    {154, "ValidateData", "ls"},
    {155, "ChangePrintSide", "l"},
    {156, "MarkFeed", "l"},
    // The names of OPOS 1.5 and later for Claim and Release: the service object has only the
    // older names, so these go to Claim and Release (an extension, see controls/README.md).
    {157, "ClaimDevice", "l", kForward, 0, "Claim"},
    {158, "ReleaseDevice", "", kForward, 0, "Release"},
    {-552, "AboutBox", "", kAboutBox},
};

constexpr controls::control_class kPosPrinter = {
    .device_class = "POSPrinter",
    .registry_class_key = "SOFTWARE\\OLEforRetail\\ServiceOPOS\\POSPrinter",
    .description = "POSPrinter Driver - Korvane OLE for Retail",
    .version = 1000000,
    .about_text = "OPOS Driver for POS Printer\nRelease 1.01",
    .close = controls::close_policy::always_release,
    .properties = kProperties,
    .methods = kMethods,
};

}  // namespace

const controls::control_class& pos_printer_class() { return kPosPrinter; }

}  // namespace ptrctl

namespace {

constexpr std::size_t kMemberCount = controls::member_count(ptrctl::kProperties, ptrctl::kMethods);
constexpr auto kMembers = controls::member_table<CPtrctlCtrl, kMemberCount>(ptrctl::kProperties, ptrctl::kMethods);

}  // namespace

std::span<const platform::dispatch_member<CPtrctlCtrl>> CPtrctlCtrl::dispatch_members() { return kMembers; }
