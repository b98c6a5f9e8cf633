// CLineDisplay: dispatch table, open, claim, release and close, the text, window, scrolling and
// health methods, and the bursts that carry them to the display.
#include "display/line_display.h"

#include <chrono>
#include <filesystem>
#include <thread>

#include "core/device_keys.h"
#include "core/opos.h"
#include "display/display_text.h"
#include "platform/case_path.h"

namespace devsvc {
namespace {

using platform::dispatch_method;

// Registry string limits of the device key.
constexpr std::size_t kMachineTypeChars = 63;
constexpr std::size_t kCommPortChars = 31;
constexpr std::size_t kIniSetChars = 255;

// Channel time-outs while the display is claimed.
constexpr std::int32_t kClaimReadTimeoutMs = 3000;
constexpr std::int32_t kClaimWriteTimeoutMs = 2000;
// Pause between the text of DisplayTextAt and its blink command.
constexpr auto kTextAtPause = std::chrono::milliseconds(100);
// Blink interval sent for DisplayText's blink attribute.
constexpr std::uint8_t kBlinkInterval = 10;
constexpr std::int32_t DISP_DT_BLINK = 1;

constexpr std::string_view kSelectPrinter = "\x1B\x3D\x01";  // ESC = 1
constexpr std::string_view kCursorHome = "\x0B";             // VT

// The command table, by index.
constexpr std::string_view kCommands[] = {
    "\x1B\x3D\x02",  // 0 select the display
    "\x1B\x40",      // 1 initialise
    "\x1F\x01",      // 2 overwrite mode
    "\x0C",          // 3 clear
    "\x1F\x58",      // 4 brightness n
    "\x1F\x45",      // 5 blink n
    "\x1F\x40",      // 6 self-test
    "\x1B\x74",      // 7 character code table n
    "\x1B\x52",      // 8 international character set n
};

}  // namespace

std::string_view DisplayCommandBytes(DisplayCommand command) { return kCommands[static_cast<std::size_t>(command)]; }

std::uint8_t CodeTable(std::int32_t character_set) { return character_set == DISP_CS_ASCII ? 0 : 1; }

std::int32_t MapWriteResult(std::int32_t channel_result) {
  switch (channel_result) {
    case kChannelOk:
      return OPOS_SUCCESS;
    case kChannelTimeout:
      return OPOS_E_TIMEOUT;
    case kChannelBusy:
      return OPOS_E_BUSY;
    default:
      return OPOS_E_FAILURE;
  }
}

std::span<const platform::dispatch_member<CLineDisplay>> CLineDisplay::dispatch_members() {
  static constexpr platform::dispatch_member<CLineDisplay> kMembers[] = {
      dispatch_method<&CLineDisplay::GetPropertyNumber>("GetPropertyNumber", 1),
      dispatch_method<&CLineDisplay::GetPropertyString>("GetPropertyString", 2),
      dispatch_method<&CLineDisplay::SetPropertyNumber>("SetPropertyNumber", 3),
      dispatch_method<&CLineDisplay::SetPropertyString>("SetPropertyString", 4),
      dispatch_method<&CLineDisplay::COFreezeEvents>("COFreezeEvents", 5),
      dispatch_method<&CLineDisplay::OpenService>("OpenService", 6),
      dispatch_method<&CLineDisplay::Close>("Close", 7),
      dispatch_method<&CLineDisplay::Claim>("Claim", 8),
      dispatch_method<&CLineDisplay::Release>("Release", 9),
      dispatch_method<&CLineDisplay::ClearDescriptors>("ClearDescriptors", 10),
      dispatch_method<&CLineDisplay::ClearText>("ClearText", 11),
      dispatch_method<&CLineDisplay::CreateWindow>("CreateWindow", 12),
      dispatch_method<&CLineDisplay::DestroyWindow>("DestroyWindow", 13),
      dispatch_method<&CLineDisplay::DisplayText>("DisplayText", 14),
      dispatch_method<&CLineDisplay::DisplayTextAt>("DisplayTextAt", 15),
      dispatch_method<&CLineDisplay::RefreshWindow>("RefreshWindow", 16),
      dispatch_method<&CLineDisplay::ScrollText>("ScrollText", 17),
      dispatch_method<&CLineDisplay::SetDescriptor>("SetDescriptor", 18),
      dispatch_method<&CLineDisplay::DirectIO>("DirectIO", 19),
      dispatch_method<&CLineDisplay::CheckHealth>("CheckHealth", 20),
  };
  return kMembers;
}

CLineDisplay::CLineDisplay() = default;

// The base part leaves the printer connection when the control never closed.
CLineDisplay::~CLineDisplay() = default;

// ---------------------------------------------------------------------------------------------
// Output

std::int32_t CLineDisplay::Send(std::string_view bytes) {
  if (bytes.empty()) return kChannelOk;
  std::int32_t written = 0;
  return channel_.Write(bytes, written, kWriteModeData);
}

std::int32_t CLineDisplay::SendCommand(DisplayCommand command, std::optional<std::uint8_t> parameter) {
  std::string bytes(DisplayCommandBytes(command));
  if (parameter) bytes.push_back(static_cast<char>(*parameter));
  return Send(bytes);
}

void CLineDisplay::SendSelectPrinter() { Send(kSelectPrinter); }

std::int32_t CLineDisplay::Render(LineDisplayWindow& window) {
  Send(kCursorHome);
  return MapWriteResult(Send(ComposeWindow(screen_, window)));
}

void CLineDisplay::SendFrame(const std::string& rows) {
  SendCommand(DisplayCommand::kSelectDisplay);
  Send(kCursorHome);
  Send(rows);
  SendSelectPrinter();
}

// ---------------------------------------------------------------------------------------------
// Windows of the list

CLineDisplay::WindowEntry* CLineDisplay::WindowAt(std::int32_t index) {
  if (index < 0 || static_cast<std::size_t>(index) >= windows_.size()) return nullptr;
  return &windows_[static_cast<std::size_t>(index)];
}

CLineDisplay::WindowEntry* CLineDisplay::WindowBySerial(std::uint64_t serial) {
  for (WindowEntry& e : windows_) {
    if (e.serial == serial) return &e;
  }
  return nullptr;
}

void CLineDisplay::MakeCurrent(WindowEntry* entry) {
  current_ = entry != nullptr ? entry->window.get() : nullptr;
  current_serial_ = entry != nullptr ? entry->serial : 0;
}

void CLineDisplay::ResetDevice() {
  config_ = display_config{};
  config_.DeviceColumns = 0;
  config_.DeviceRows = 0;
  config_.international_set = 0;
  DeviceWindows = 0;
  CapVMarquee = false;
  CapHMarquee = false;
  CharacterSet = 0;
  DeviceBrightness = 0;
  brightness_step_.reset();
  screen_.clear();
  windows_.clear();
  MakeCurrent(nullptr);
  CurrentWindow = 0;
  marquee_.reset();
  last_marquee_type_ = -1;
  last_marquee_window_ = 0;
}

// ---------------------------------------------------------------------------------------------
// Open and close

std::int32_t CLineDisplay::OpenService(const std::string&, const std::string& device_name,
                                       const platform::Variant& control) {
  if (Opened) return ResultCode = OPOS_E_ILLEGAL;
  DeviceEnabled = false;

  platform::registry_key device_key;
  const std::string key_path = std::string(kLineDisplayClassKey) + "\\" + device_name;
  if (platform::registry_key::open(platform::registry_root::local_machine, key_path, device_key) !=
      platform::kErrorSuccess) {
    return ResultCode = OPOS_E_NOEXIST;
  }
  ConfigureLog(device_key, device_name);
  MachineType = ReadRegistryString(device_key, "MachineType", kMachineTypeChars);
  COMMPort = ReadRegistryString(device_key, "COMMPort", kCommPortChars);
  if (MachineType.empty() || COMMPort.empty()) return ResultCode = OPOS_E_FAILURE;

  // The display's INI file must be there; its keys may all be missing.
  const std::filesystem::path ini =
      platform::resolve_case_insensitive(ReadRegistryString(device_key, "IniSet", kIniSetChars));
  std::error_code error;
  if (ini.empty() || !std::filesystem::exists(ini, error) || std::filesystem::is_directory(ini, error)) {
    return ResultCode = OPOS_E_NOEXIST;
  }

  platform::com_ptr<platform::dispatch> control_object;
  if (platform::failed(control.as_object(control_object))) control_object.reset();
  AttachControl(control_object.get());

  config_ = load_display_config(ini);
  DeviceWindows = config_.DeviceRows >= 2 ? config_.DeviceRows + 1 : 0;
  CapVMarquee = config_.DeviceRows > 1;
  CapHMarquee = true;
  CharacterSet = DISP_CS_ANSI;
  DeviceBrightness = 100;
  PowerNotify = OPOS_PN_DISABLED;
  PowerState = OPOS_PS_UNKNOWN;
  State = OPOS_S_IDLE;
  Opened = true;

  screen_ = BlankScreen(config_.DeviceRows, config_.DeviceColumns);
  windows_.clear();
  windows_.push_back(WindowEntry{
      std::make_unique<LineDisplayWindow>(MakeWindow(0, 0, config_.DeviceRows, config_.DeviceColumns,
                                                     config_.DeviceRows, config_.DeviceColumns)),
      next_serial_++});
  MakeCurrent(&windows_.front());
  CurrentWindow = 0;
  return ResultCode = OPOS_SUCCESS;
}

std::int32_t CLineDisplay::Close() {
  if (!Opened) return ResultCode = OPOS_E_ILLEGAL;
  if (State == OPOS_S_BUSY) {
    // A marquee runs (or a direct write): refused, but the marquee ends now so Close can be
    // retried as soon as the loop has returned.
    StopMarquee();
    return ResultCode = OPOS_E_BUSY;
  }
  if (Claimed) {
    const std::int32_t released = Release();
    if (released != OPOS_SUCCESS) return released;
  }
  DetachControl();
  Opened = false;
  Claimed = false;
  DeviceEnabled = false;
  ResetDevice();
  State = OPOS_S_CLOSED;
  return ResultCode = OPOS_SUCCESS;
}

// ---------------------------------------------------------------------------------------------
// Claim and release

std::int32_t CLineDisplay::Claim(std::int32_t timeout_ms) {
  if (!Opened) return ResultCode = OPOS_E_CLOSED;
  if (Claimed) return ResultCode = OPOS_E_ILLEGAL;

  ResultCode = Connect(timeout_ms);
  if (ResultCode != OPOS_SUCCESS) return ResultCode;

  channel_.SetReadTimeOut(kClaimReadTimeoutMs);
  channel_.SetWriteTimeOut(kClaimWriteTimeoutMs);
  SendCommand(DisplayCommand::kSelectDisplay);
  Claimed = true;

  // The display is selected once more; a display that does not take even that is not
  // initialised, though the claim stands.
  if (SendCommand(DisplayCommand::kSelectDisplay) == kChannelTimeout) {
    ResultCode = OPOS_E_TIMEOUT;
  } else {
    SendCommand(DisplayCommand::kInitialise);
    SendCommand(DisplayCommand::kOverwrite);
    SendCommand(DisplayCommand::kInternational, static_cast<std::uint8_t>(config_.international_set));
    // Initialising chose the display's default code table and brightness: the character set
    // in force (999 at open, so that text in code page 1252 shows right) and a brightness set
    // earlier, while released, go out again.
    SendCommand(DisplayCommand::kCodeTable, CodeTable(CharacterSet));
    if (brightness_step_) SendCommand(DisplayCommand::kBrightness, *brightness_step_);
    ResultCode = OPOS_SUCCESS;
  }
  SendSelectPrinter();
  return ResultCode;
}

std::int32_t CLineDisplay::Release() {
  ResultCode = OPOS_SUCCESS;
  ResultCodeExtended = 0;
  if (!Opened) return ResultCode = OPOS_E_CLOSED;
  if (!Claimed) return ResultCode = OPOS_E_NOTCLAIMED;
  StopMarquee();
  ClearText();
  SendSelectPrinter();
  ResultCode = Disconnect();
  if (ResultCode == OPOS_SUCCESS) Claimed = false;
  return ResultCode;
}

// ---------------------------------------------------------------------------------------------
// Text

std::int32_t CLineDisplay::DisplayText(const std::string& data, std::int32_t attribute) {
  return ShowText(data, attribute, std::nullopt);
}

std::int32_t CLineDisplay::DisplayTextAt(std::int32_t row, std::int32_t column, const std::string& data,
                                         std::int32_t attribute) {
  return ShowText(data, attribute, std::make_pair(row, column));
}

std::int32_t CLineDisplay::ShowText(const std::string& data, std::int32_t attribute,
                                    std::optional<std::pair<std::int32_t, std::int32_t>> at) {
  if (CheckState() != OPOS_SUCCESS) return ResultCode;
  const std::optional<std::string> bytes = DisplayBytes(data, BinaryConversion, CharacterSet);
  if (!bytes) return ResultCode = OPOS_E_FAILURE;
  if (current_ == nullptr) return Illegal();
  LineDisplayWindow& w = *current_;
  if (at && (at->first < 0 || at->second < 0 || at->first >= w.Rows || at->second >= w.Columns)) return Illegal();

  SendCommand(DisplayCommand::kSelectDisplay);
  if (w.MarqueeType == DISP_MT_NONE || w.MarqueeType == DISP_MT_INIT) {
    if (at) {
      PutText(w, *bytes, at->first, at->second, true);
      if (!w.CursorUpdate) w.CursorRow = w.CursorColumn = 0;
    } else if (w.CursorUpdate) {
      PutText(w, *bytes, w.CursorRow, w.CursorColumn, true);
    } else {
      PutText(w, *bytes, 0, 0, false);
    }
    // With a marquee being prepared the text only waits in the window.
    if (w.MarqueeType == DISP_MT_NONE) {
      Render(w);
      if (at) std::this_thread::sleep_for(kTextAtPause);
      const std::uint8_t blink = attribute == DISP_DT_BLINK ? kBlinkInterval : 0;
      ResultCode = MapWriteResult(SendCommand(DisplayCommand::kBlink, blink));
    }
  } else {
    Illegal();
  }
  SendSelectPrinter();
  return ResultCode;
}

std::int32_t CLineDisplay::ClearText() {
  if (CheckState() != OPOS_SUCCESS) return ResultCode;
  if (current_ == nullptr) return ResultCode;
  LineDisplayWindow& w = *current_;
  SendCommand(DisplayCommand::kSelectDisplay);
  if (w.MarqueeType == DISP_MT_NONE || w.MarqueeType == DISP_MT_INIT) {
    w.text = BlankScreen(w.Rows, w.Columns);
    w.row_offset = 0;
    w.column_offset = 0;
    if (w.MarqueeType == DISP_MT_NONE) ResultCode = Render(w);
    if (w.CursorUpdate) w.CursorRow = w.CursorColumn = 0;
  } else {
    Illegal();
  }
  SendSelectPrinter();
  return ResultCode;
}

// ---------------------------------------------------------------------------------------------
// Windows

std::int32_t CLineDisplay::CreateWindow(std::int32_t viewport_row, std::int32_t viewport_column,
                                        std::int32_t viewport_height, std::int32_t viewport_width,
                                        std::int32_t window_height, std::int32_t window_width) {
  ResultCode = OPOS_SUCCESS;
  ResultCodeExtended = 0;
  if (!DeviceEnabled) return ResultCode = OPOS_E_DISABLED;
  if (DeviceWindows == 0 || CurrentWindow > DeviceWindows) return Illegal();
  // Windows are numbered 0 to DeviceWindows; a full list takes no more, so that every window
  // stays reachable through CurrentWindow.
  if (windows_.size() > static_cast<std::size_t>(DeviceWindows)) return Illegal();
  if (viewport_row < 0 || viewport_column < 0) return Illegal();
  if (viewport_height <= 0 || viewport_width <= 0 || window_height <= 0 || window_width <= 0) return Illegal();
  if (viewport_row > config_.DeviceRows || viewport_height > config_.DeviceRows ||
      viewport_column > config_.DeviceColumns || viewport_width > config_.DeviceColumns) {
    return Illegal();
  }
  if (window_height > viewport_height && window_width > viewport_width) return Illegal();

  windows_.push_back(WindowEntry{std::make_unique<LineDisplayWindow>(MakeWindow(
                                     viewport_row, viewport_column, viewport_height, viewport_width,
                                     window_height, window_width)),
                                 next_serial_++});
  MakeCurrent(&windows_.back());
  CurrentWindow = static_cast<std::int32_t>(windows_.size()) - 1;
  return ResultCode;
}

std::int32_t CLineDisplay::DestroyWindow() {
  ResultCode = OPOS_SUCCESS;
  ResultCodeExtended = 0;
  if (CurrentWindow == 0) return Illegal();
  if (WindowAt(CurrentWindow) != nullptr) windows_.erase(windows_.begin() + CurrentWindow);
  // Erasing moved the entries behind it: find window 0 afresh.
  MakeCurrent(WindowAt(0));
  CurrentWindow = 0;
  return ResultCode;
}

std::int32_t CLineDisplay::RefreshWindow(std::int32_t window) {
  if (CheckState() != OPOS_SUCCESS) return ResultCode;
  if (window < 0 || window >= DeviceWindows) return Illegal();
  SendCommand(DisplayCommand::kSelectDisplay);
  if (window != CurrentWindow) {
    WindowEntry* entry = WindowAt(window);
    if (entry == nullptr) {
      ResultCode = OPOS_E_FAILURE;
      SendSelectPrinter();
      return ResultCode;
    }
    MakeCurrent(entry);
    CurrentWindow = window;
  }
  current_->row_offset = 0;
  current_->column_offset = 0;
  ResultCode = Render(*current_);
  SendSelectPrinter();
  return ResultCode;
}

std::int32_t CLineDisplay::ScrollText(std::int32_t direction, std::int32_t units) {
  if (CheckState() != OPOS_SUCCESS) return ResultCode;
  SendCommand(DisplayCommand::kSelectDisplay);
  Scroll(direction, units);
  SendSelectPrinter();
  return ResultCode;
}

std::int32_t CLineDisplay::Scroll(std::int32_t direction, std::int32_t units) {
  if (current_ == nullptr) return Illegal();
  LineDisplayWindow& w = *current_;
  const bool vertical = direction == DISP_ST_UP || direction == DISP_ST_DOWN;
  if (units < 0 || w.MarqueeType != DISP_MT_NONE || (vertical && !CapVMarquee)) return Illegal();

  if (direction >= DISP_ST_UP && direction <= DISP_ST_RIGHT) {
    if ((vertical && w.Rows == config_.DeviceRows) || (!vertical && w.Columns == config_.DeviceColumns)) {
      // A window as tall (wide) as the display has nothing to move over: its text moves.
      ShiftText(w, direction, units);
    } else {
      std::int64_t row = w.row_offset;
      std::int64_t column = w.column_offset;
      switch (direction) {
        case DISP_ST_UP: row -= units; break;
        case DISP_ST_DOWN: row += units; break;
        case DISP_ST_LEFT: column += units; break;
        default: column -= units; break;
      }
      if (row < INT32_MIN || row > INT32_MAX || column < INT32_MIN || column > INT32_MAX ||
          !OffsetsInBounds(w, static_cast<std::int32_t>(row), static_cast<std::int32_t>(column))) {
        return Illegal();
      }
      w.row_offset = static_cast<std::int32_t>(row);
      w.column_offset = static_cast<std::int32_t>(column);
    }
  }
  return ResultCode = Render(w);
}

// ---------------------------------------------------------------------------------------------
// Health, direct I/O, and the members this display does not have

std::int32_t CLineDisplay::CheckHealth(std::int32_t level) {
  if (CheckState() != OPOS_SUCCESS) return ResultCode;
  SendCommand(DisplayCommand::kSelectDisplay);
  if (level == OPOS_CH_INTERNAL) {
    CheckHealthText = "Internal Check: successfull";
  } else if (level == OPOS_CH_EXTERNAL) {
    ResultCode = MapWriteResult(SendCommand(DisplayCommand::kSelfTest));
    CheckHealthText = std::string("External Check: ") + (ResultCode == OPOS_SUCCESS ? "successfull" : "failed");
  } else {
    Illegal();
  }
  SendSelectPrinter();
  return ResultCode;
}

std::int32_t CLineDisplay::DirectIO(std::int32_t command, std::int32_t&, std::string& text) {
  if (CheckState() != OPOS_SUCCESS) return ResultCode;
  if (command != 1) return Illegal();
  SendCommand(DisplayCommand::kSelectDisplay);
  const std::optional<std::string> bytes = DirectIOBytes(text, BinaryConversion);
  if (!bytes) {
    SendSelectPrinter();
    return ResultCode = OPOS_E_FAILURE;
  }
  State = OPOS_S_BUSY;
  ResultCode = MapWriteResult(Send(*bytes));
  State = OPOS_S_IDLE;
  SendSelectPrinter();
  return ResultCode;
}

std::int32_t CLineDisplay::COFreezeEvents(bool) { return Illegal(); }
std::int32_t CLineDisplay::ClearDescriptors() { return Illegal(); }
std::int32_t CLineDisplay::SetDescriptor(std::int32_t, std::int32_t) { return Illegal(); }
void CLineDisplay::SetPropertyString(std::int32_t, const std::string&) { Illegal(); }

}  // namespace devsvc
