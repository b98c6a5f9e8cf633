// CVX40Printer: dispatch table, open, claim with the printer's initialisation, release and close.
#include "printer/vx40_printer.h"

#include <array>
#include <cstdio>
#include <string>

#include "core/device_keys.h"
#include "core/opos.h"
#include "printer/config_paths.h"
#include "printer/esc_engineer.h"
#include "core/string_table.h"

namespace devsvc {

const printer_model kVX40Model = {
    .identity = kPrinterIdentity,
    .fixed_key = kPrinterFixedKey,
    .user_key = kPrinterUserKey,
    .description_id = IDS_PRINTER_DESCRIPTION,
    .device_name_id = IDS_PRINTER_DEVICE_NAME,
    .two_colour = false,
    .test_print_pause_ms = 100,
    .stored_bitmaps = 2,
};

namespace {

using platform::dispatch_method;

// Time-outs of the claim when the fixed key holds none.
constexpr std::int32_t kClaimReadTimeoutMs = 3500;
constexpr std::int32_t kClaimWriteTimeoutMs = 1500;
// Read time-out of the open step when the fixed key holds none.
constexpr std::int32_t kOpenReadTimeoutMs = 500;

// Registry string limits of the device key.
constexpr std::size_t kMachineTypeChars = 63;
constexpr std::size_t kCommPortChars = 31;
constexpr std::size_t kIniSetChars = 255;

// One write of the claim's initialisation: its bytes, whether its failure ends the claim, and
// whether the printer's identity byte is read after it.
struct ClaimStep {
  std::string_view bytes;
  bool checked;
  bool read_identity;
};

// What an off-line printer's answers to the status requests say, as Claim reports it: the
// extended code where OPOS has one, and the error text.
struct OfflineCause {
  std::uint8_t status;
  std::int32_t extended;
  std::string_view text;
};
constexpr OfflineCause kOfflineCauses[] = {
    {kPaperCoverOpen, OPOS_EPTR_COVER_OPEN, "printer cover open"},
    {kPaperEnd, OPOS_EPTR_REC_EMPTY, "receipt paper out"},
    {kPaperNearEnd, 0, "printer off line, receipt paper near end"},
    {kPaperPrinterError, 0, "printer error"},
    {kPaperOffline, 0, "printer off line"},
};

constexpr std::string_view kSelectPrinter = "\x1B\x3D\x01";  // ESC = 1
constexpr std::string_view kClearAutoStatus{"\x1D\x61\x00", 3};  // GS a 0
constexpr std::string_view kIdentityRequest = "\x1D\x49\x31";  // GS I 1

}  // namespace

std::span<const platform::dispatch_member<CVX40Printer>> CVX40Printer::dispatch_members() {
  static constexpr platform::dispatch_member<CVX40Printer> kMembers[] = {
      dispatch_method<&CVX40Printer::CheckHealth>("CheckHealth", 1),
      dispatch_method<&CVX40Printer::Claim>("Claim", 2),
      dispatch_method<&CVX40Printer::ClearOutput>("ClearOutput", 3),
      dispatch_method<&CVX40Printer::Close>("Close", 4),
      dispatch_method<&CVX40Printer::COFreezeEvents>("COFreezeEvents", 5),
      dispatch_method<&CVX40Printer::DirectIO>("DirectIO", 6),
      dispatch_method<&CVX40Printer::OpenService>("OpenService", 7),
      dispatch_method<&CVX40Printer::Release>("Release", 8),
      dispatch_method<&CVX40Printer::GetPropertyNumber>("GetPropertyNumber", 9),
      dispatch_method<&CVX40Printer::GetPropertyString>("GetPropertyString", 10),
      dispatch_method<&CVX40Printer::SetPropertyNumber>("SetPropertyNumber", 11),
      dispatch_method<&CVX40Printer::SetPropertyString>("SetPropertyString", 12),
      dispatch_method<&CVX40Printer::BeginInsertion>("BeginInsertion", 13),
      dispatch_method<&CVX40Printer::BeginRemoval>("BeginRemoval", 14),
      dispatch_method<&CVX40Printer::CutPaper>("CutPaper", 15),
      dispatch_method<&CVX40Printer::EndInsertion>("EndInsertion", 16),
      dispatch_method<&CVX40Printer::EndRemoval>("EndRemoval", 17),
      dispatch_method<&CVX40Printer::PrintBarCode>("PrintBarCode", 18),
      dispatch_method<&CVX40Printer::PrintBitmap>("PrintBitmap", 19),
      dispatch_method<&CVX40Printer::PrintImmediate>("PrintImmediate", 20),
      dispatch_method<&CVX40Printer::PrintNormal>("PrintNormal", 21),
      dispatch_method<&CVX40Printer::PrintTwoNormal>("PrintTwoNormal", 22),
      dispatch_method<&CVX40Printer::RotatePrint>("RotatePrint", 23),
      dispatch_method<&CVX40Printer::SetBitmap>("SetBitmap", 24),
      dispatch_method<&CVX40Printer::SetLogo>("SetLogo", 25),
      dispatch_method<&CVX40Printer::TransactionPrint>("TransactionPrint", 26),
      dispatch_method<&CVX40Printer::ValidateData>("ValidateData", 27),
  };
  return kMembers;
}

CVX40Printer::CVX40Printer() : CVX40Printer(kVX40Model) {}

CVX40Printer::CVX40Printer(const printer_model& model)
    : model_(model),
      parser_(model.two_colour ? CEscParser::for_two_colour_printer() : CEscParser::for_printer()) {}

// The base part leaves the poll timer and the connection when the control never closed.
CVX40Printer::~CVX40Printer() = default;

// ---------------------------------------------------------------------------------------------
// Open and close

std::int32_t CVX40Printer::OpenService(const std::string&, const std::string& device_name,
                                       const platform::Variant& control) {
  if (Opened) return ResultCode = OPOS_E_ILLEGAL;
  ErrorString.clear();

  platform::registry_key user_key;
  platform::registry_key::create(platform::registry_root::current_user, model_.user_key, user_key);

  platform::registry_key device_key;
  const std::string key_path = std::string(kPrinterClassKey) + "\\" + device_name;
  if (platform::registry_key::open(platform::registry_root::local_machine, key_path, device_key) !=
      platform::kErrorSuccess) {
    ErrorString = "no device key " + device_name;
    return ResultCode = OPOS_E_NOEXIST;
  }
  ConfigureLog(device_key, device_name);
  MachineType = ReadRegistryString(device_key, "MachineType", kMachineTypeChars);
  COMMPort = ReadRegistryString(device_key, "COMMPort", kCommPortChars);
  if (MachineType.empty() || COMMPort.empty()) {
    ErrorString = "the device key names no printer connection (MachineType, COMMPort)";
    return ResultCode = OPOS_E_FAILURE;
  }
  // Paths are taken whole: one that cannot serve fails the open, rather than a cut one that
  // would read or write the wrong file later.
  const std::string dat_file = ReadPathValue(device_key, "DATFile");
  for (const std::string& problem : {LogoFileProblem(dat_file),
                                     ImageRootProblem(ReadMachinePathValue(model_.fixed_key, "RootPath"))}) {
    if (problem.empty()) continue;
    ErrorString = problem;
    return ResultCode = OPOS_E_FAILURE;
  }

  // Metrics no receipt printer can have would turn into absurd feeds and sizes: refused here,
  // and read again at the next open.
  if (!metrics_.loaded()) metrics_.load(ReadRegistryString(device_key, "IniSet", kIniSetChars));
  if (const std::string problem = metrics_.problem(); !problem.empty()) {
    ErrorString = "metrics file " + metrics_.path().string() + ": " + problem;
    metrics_ = CMetricsFile{};
    return ResultCode = OPOS_E_FAILURE;
  }

  const std::uint32_t read_timeout = ReadMachineDword(model_.fixed_key, "TimeOutRead");
  open_read_timeout_ms_ = read_timeout != 0 ? static_cast<std::int32_t>(read_timeout) : kOpenReadTimeoutMs;

  RegisterWithPollTimer();
  platform::com_ptr<platform::dispatch> control_object;
  if (platform::failed(control.as_object(control_object))) control_object.reset();
  AttachControl(control_object.get());

  LoadConfiguration(device_key, dat_file);

  DeviceEnabled = false;
  CharacterSet = 1252;
  MapMode = PTR_MM_DOTS;
  RotateSpecial = PTR_RP_NORMAL;
  PowerNotify = OPOS_PN_DISABLED;

  const font_settings font = metrics_.read_font(current_font_);
  CharacterSetList = metrics_.pagecode_list();
  FontTypefaceList = metrics_.font_list();
  RecLineCharsList = font.size_list;
  RecLineChars = font.max_chars;
  RecLineHeight = font.height;
  RecLineWidth = metrics_.width_dot();
  RecLineSpacing = truncate_to_int32(metrics_.def_line_spacing());
  spacing_above_ = RecLineSpacing - RecLineHeight;
  RecSidewaysMaxChars = font.max_sideways_chars;

  RecLinesToPaperCut = 1;
  bmp_mode_ = metrics_.raster_mode();
  Opened = true;
  OpenedModel();
  return ResultCode = OPOS_SUCCESS;
}

void CVX40Printer::LoadConfiguration(const platform::registry_key& device_key, const std::string& dat_file) {
  // The metrics file was loaded (and checked) by the open; a missing one leaves every metric 0,
  // and the conversions built on them are guarded.
  logo_.load(dat_file);
  const std::uint32_t font = ReadRegistryDword(device_key, "CurrentFont");
  current_font_ = font != 0 ? static_cast<std::int32_t>(font) : 1;
}

std::int32_t CVX40Printer::Close() {
  ResultCode = OPOS_SUCCESS;
  if (!Opened) return ResultCode = OPOS_E_ILLEGAL;
  if (State == OPOS_S_BUSY) return ResultCode = OPOS_E_BUSY;
  if (Claimed) {
    const std::int32_t released = Release();
    if (released != OPOS_SUCCESS) return released;
  }
  UnregisterFromPollTimer();
  DetachControl();
  Opened = false;
  Claimed = false;
  DeviceEnabled = false;
  CharacterSetList.clear();
  FontTypefaceList.clear();
  MapMode = PTR_MM_DOTS;
  CharacterSet = 0;
  RecLineChars = 0;
  RecLineHeight = 0;
  RecLineSpacing = 0;
  RecLineWidth = 0;
  RecSidewaysMaxChars = 0;
  State = OPOS_S_CLOSED;
  return ResultCode = OPOS_SUCCESS;
}

// ---------------------------------------------------------------------------------------------
// Claim and release

std::int32_t CVX40Printer::Claim(std::int32_t timeout_ms) {
  if (!Opened) return ResultCode = OPOS_E_CLOSED;
  if (Claimed) return ResultCode = OPOS_E_ILLEGAL;

  ErrorString.clear();
  ResultCode = Connect(timeout_ms);
  if (ResultCode != OPOS_SUCCESS) {
    ErrorString = "no connection to the printer " + MachineType + " on " + COMMPort;
    return ResultCode;
  }

  const std::uint32_t read_timeout = ReadMachineDword(model_.fixed_key, "TimeOutRead");
  const std::uint32_t write_timeout = ReadMachineDword(model_.fixed_key, "TimeOutWrite");
  // DWORDs are read as signed values: anything below 1 takes the default.
  const auto or_default = [](std::uint32_t value, std::int32_t fallback) {
    return static_cast<std::int32_t>(value) < 1 ? fallback : static_cast<std::int32_t>(value);
  };
  const std::int32_t claim_read = or_default(read_timeout, kClaimReadTimeoutMs);
  const std::int32_t claim_write = or_default(write_timeout, kClaimWriteTimeoutMs);

  channel_.SetAsync(false, open_read_timeout_ms_);
  channel_.SetReadTimeOut(claim_read);
  channel_.SetWriteTimeOut(claim_write);

  if (InitialisePrinter() == OPOS_SUCCESS) {
    Claimed = true;
    SetPrinterState(OPOS_PS_ONLINE);
    SetPrinterState(OPOS_S_IDLE);
  } else {
    Disconnect();
  }
  return ResultCode;
}

std::int32_t CVX40Printer::InitialisePrinter() {
  const std::string initialise(ESCEngineer::command(ESCEngineer::kInitialize));
  const std::string no_paper_signals(ESCEngineer::command(ESCEngineer::kPaperEndSignalsNone));
  const std::string code_page = ESCEngineer::command_with(ESCEngineer::kCodePage, std::uint8_t{16});
  std::string font = "\x1B\x4D";
  font.push_back(static_cast<char>(current_font_ - 1));

  const std::array<ClaimStep, 9> steps = {{
      {kSelectPrinter, true, false},
      {kClearAutoStatus, false, false},
      {initialise, true, false},
      {initialise, false, false},
      {kIdentityRequest, true, true},
      {kClearAutoStatus, true, false},
      {no_paper_signals, true, false},
      {code_page, true, false},
      {font, true, false},
  }};

  ResultCode = OPOS_SUCCESS;
  ResultCodeExtended = 0;
  for (const ClaimStep& step : steps) {
    std::int32_t written = 0;
    const std::int32_t result = channel_.Write(step.bytes, written, kWriteModeData);
    if (step.checked && result != kChannelOk) {
      if (result != kChannelTimeout) {
        ErrorString = "the printer connection failed";
        return ResultCode = OPOS_E_FAILURE;
      }
      // The printer did not take the bytes: ask it why, and report what it says.
      std::uint8_t status = kPaperOk;
      ReadExtendedStatus(status);
      switch (status) {
        case kPaperRequestFailed:
          ErrorString = "printer off line, its status could not be asked";
          return ResultCode = OPOS_E_FAILURE;
        case kPaperNoStatusAnswer:
          SetPrinterState(OPOS_PS_OFF_OFFLINE);
          ErrorString = "the printer takes no data and does not answer";
          return ResultCode = OPOS_E_FAILURE;
        case kPaperNoAnswer:
          ErrorString = "printer off line, its status did not come in time";
          return ResultCode = OPOS_E_TIMEOUT;
        case kPaperOk:
          // On line, yet it took nothing in time: its receive buffer stays full.
          ResultCode = OPOS_E_OFFLINE;
          ErrorString = "the printer takes no data";
          return ResultCode;
        default:
          return ReportOffline(status);
      }
    }
    if (step.read_identity) {
      char identity = 0;
      std::int32_t read = 0;
      const std::int32_t answered = channel_.Read(std::span<char>(&identity, 1), read);
      if (answered == kChannelOk && read == 1 && static_cast<std::uint8_t>(identity) != model_.identity) {
        char text[80];
        std::snprintf(text, sizeof text, "not a %s printer (identity 0x%02X)",
                      model_.two_colour ? "VX-40 colour" : "VX-40",
                      static_cast<unsigned>(static_cast<std::uint8_t>(identity)));
        ErrorString = text;
        return ResultCode = OPOS_E_NOHARDWARE;
      }
      if (answered != kChannelOk || read != 1) return ResultCode = NoIdentityAnswer();
    }
  }
  return ResultCode;
}

std::int32_t CVX40Printer::NoIdentityAnswer() {
  // An off-line printer (cover open, paper out, off line) holds the identity request back but
  // still answers the real-time status requests: any answer means the printer is there.
  std::uint8_t status = kPaperOk;
  ReadExtendedStatus(status);
  switch (status) {
    case kPaperNoStatusAnswer:
      ErrorString = "no printer answers";
      return ResultCode = OPOS_E_NOHARDWARE;
    case kPaperOk:
      ResultCode = OPOS_E_OFFLINE;
      ErrorString = "the printer is on line but does not answer the identity request";
      return ResultCode;
    case kPaperRequestFailed:
    case kPaperNoAnswer:
      return ReportOffline(kPaperOffline);
    default:
      return ReportOffline(status);
  }
}

std::int32_t CVX40Printer::ReportOffline(std::uint8_t status) {
  ResultCode = OPOS_E_OFFLINE;
  ResultCodeExtended = 0;
  ErrorString = "printer off line";
  for (const OfflineCause& cause : kOfflineCauses) {
    if (cause.status != status) continue;
    ResultCodeExtended = cause.extended;
    ErrorString = cause.text;
  }
  switch (status) {
    case kPaperCoverOpen:
      SetPrinterState(PTR_SUE_COVER_OPEN);
      SetPrinterState(OPOS_PS_OFFLINE);
      break;
    case kPaperNearEnd:
      SetPrinterState(PTR_SUE_REC_NEAREMPTY);
      break;
    case kPaperPrinterError:
      SetPrinterState(OPOS_PS_OFFLINE);
      break;
    case kPaperEnd:
      SetPrinterState(PTR_SUE_REC_EMPTY);
      break;
    default:
      break;
  }
  return ResultCode;
}

std::int32_t CVX40Printer::Release() {
  ResultCode = OPOS_SUCCESS;
  ResultCodeExtended = 0;
  if (!Opened) return ResultCode = OPOS_E_CLOSED;
  if (!Claimed) return ResultCode = OPOS_E_NOTCLAIMED;
  ResultCode = Disconnect();
  if (ResultCode == OPOS_SUCCESS) Claimed = false;
  return ResultCode;
}

// ---------------------------------------------------------------------------------------------
// State and status

std::int32_t CVX40Printer::CheckState() {
  if (CServiceDevice::CheckState() != OPOS_SUCCESS) return ResultCode;
  if (!AsyncMode && State == OPOS_S_BUSY) ResultCode = OPOS_E_BUSY;
  return ResultCode;
}

// ---------------------------------------------------------------------------------------------
// Members that answer 106 on this receipt-only printer

std::int32_t CVX40Printer::BeginInsertion(std::int32_t) { return Illegal(); }
std::int32_t CVX40Printer::BeginRemoval(std::int32_t) { return Illegal(); }
std::int32_t CVX40Printer::EndInsertion() { return Illegal(); }
std::int32_t CVX40Printer::EndRemoval() { return Illegal(); }
std::int32_t CVX40Printer::PrintTwoNormal(std::int32_t, const std::string&, const std::string&) {
  return Illegal();
}

}  // namespace devsvc
