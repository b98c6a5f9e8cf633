// CLineDisplay: the OPOS service object of the customer line display behind the printer. It keeps
// the screen and every window in memory and re-sends whole screen lines through the printer's
// shared connection, each burst between ESC = 2 (display) and ESC = 1 (printer).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/service_device.h"
#include "display/display_config.h"
#include "display/display_window.h"
#include "platform/dispatch_table.h"

namespace devsvc {

// The display's command table: index, bytes, meaning (a parameter byte follows where noted).
enum class DisplayCommand : std::uint8_t {
  kSelectDisplay = 0,  // 1B 3D 02
  kInitialise = 1,     // 1B 40
  kOverwrite = 2,      // 1F 01
  kClear = 3,          // 0C
  kBrightness = 4,     // 1F 58 n
  kBlink = 5,          // 1F 45 n (0: no blink)
  kSelfTest = 6,       // 1F 40
  kCodeTable = 7,      // 1B 74 n
  kInternational = 8,  // 1B 52 n
};
// The bytes of a command of the table, without its parameter.
std::string_view DisplayCommandBytes(DisplayCommand command);

// The display's code table (ESC t n) of a CharacterSet: 0 for ASCII (998), 1 for ANSI (999).
std::uint8_t CodeTable(std::int32_t character_set);

// The OPOS code of a channel write result: time-out 112, busy 113, success 0, any other 111.
std::int32_t MapWriteResult(std::int32_t channel_result);

// HKEY_LOCAL_MACHINE: the line display device keys are "<this>\<DeviceName>".
inline constexpr std::string_view kLineDisplayClassKey = "SOFTWARE\\OLEforRetail\\ServiceOPOS\\LineDisplay";

class CLineDisplay final : public platform::dispatch_object<CLineDisplay>, public CServiceDevice {
 public:
  static std::span<const platform::dispatch_member<CLineDisplay>> dispatch_members();
  // Every call through the dispatch interface, logged with its result (see LogCall).
  platform::hresult invoke(long dispid, platform::invoke_kind kind, std::span<const platform::Variant> args,
                           platform::Variant* result) override {
    const platform::hresult hr = dispatch_object::invoke(dispid, kind, args, result);
    LogCall(MemberName<CLineDisplay>(dispid), kind, args, hr);
    return hr;
  }

  CLineDisplay();
  ~CLineDisplay() override;

  // --- dispatch interface (DISPIDs 1 to 20 in this order) ---
  std::int32_t GetPropertyNumber(std::int32_t index);
  std::string GetPropertyString(std::int32_t index);
  void SetPropertyNumber(std::int32_t index, std::int32_t number);
  void SetPropertyString(std::int32_t index, const std::string& text);
  std::int32_t COFreezeEvents(bool freeze);
  std::int32_t OpenService(const std::string& device_class, const std::string& device_name,
                           const platform::Variant& control);
  std::int32_t Close();
  // Connects through the shared printer connection (waiting up to `timeout_ms`, -1 for ever) and
  // initialises the display. Blocks.
  std::int32_t Claim(std::int32_t timeout_ms);
  std::int32_t Release();
  std::int32_t ClearDescriptors();
  std::int32_t ClearText();
  std::int32_t CreateWindow(std::int32_t viewport_row, std::int32_t viewport_column, std::int32_t viewport_height,
                            std::int32_t viewport_width, std::int32_t window_height, std::int32_t window_width);
  std::int32_t DestroyWindow();
  std::int32_t DisplayText(const std::string& data, std::int32_t attribute);
  // As DisplayText at (row, column); waits 100 ms between the text and the blink command.
  std::int32_t DisplayTextAt(std::int32_t row, std::int32_t column, const std::string& data, std::int32_t attribute);
  std::int32_t RefreshWindow(std::int32_t window);
  std::int32_t ScrollText(std::int32_t direction, std::int32_t units);
  std::int32_t SetDescriptor(std::int32_t descriptor, std::int32_t attribute);
  std::int32_t DirectIO(std::int32_t command, std::int32_t& data, std::string& text);
  std::int32_t CheckHealth(std::int32_t level);

 private:
  // A marquee in progress: its own copy of the window it scrolls, where that copy came from, and
  // whether something other than MarqueeType ended it.
  struct MarqueeRun {
    LineDisplayWindow snapshot;
    std::uint64_t window_serial = 0;
    bool running = false;
    bool stop = false;
  };
  // A window of the list with the serial number that identifies it while it lives.
  struct WindowEntry {
    std::unique_ptr<LineDisplayWindow> window;
    std::uint64_t serial = 0;
  };

  // One write of `bytes` in mode 1; the channel result.
  std::int32_t Send(std::string_view bytes);
  // Sends a command of the table, with its parameter byte when given; the channel result.
  std::int32_t SendCommand(DisplayCommand command, std::optional<std::uint8_t> parameter = std::nullopt);
  // Sends ESC = 1, handing the peripheral port back to the printer.
  void SendSelectPrinter();
  // Sends cursor home and the screen rows that show `window`; the mapped result.
  std::int32_t Render(LineDisplayWindow& window);
  // Sends ESC = 2, cursor home and `rows`, then ESC = 1: one marquee frame.
  void SendFrame(const std::string& rows);

  // The text path shared by DisplayText and DisplayTextAt; `at` is the position of DisplayTextAt.
  std::int32_t ShowText(const std::string& data, std::int32_t attribute,
                        std::optional<std::pair<std::int32_t, std::int32_t>> at);
  // ScrollText once ESC = 2 has gone out; the result.
  std::int32_t Scroll(std::int32_t direction, std::int32_t units);

  // Setters of SetPropertyNumber with rules of their own.
  void SetCharacterSet(std::int32_t value);
  void SetCurrentWindow(std::int32_t value);
  void SetDeviceBrightness(std::int32_t value);
  void SetMarqueeType(std::int32_t value);

  // Runs marquee passes on `run` until MarqueeType becomes none or init, or StopMarquee ends it;
  // pumps the thread's messages while it waits.
  void RunMarquee(const std::shared_ptr<MarqueeRun>& run);
  // True when the marquee must end before its next frame.
  bool MarqueeStopped(const MarqueeRun& run) const;
  // Waits `ms` milliseconds pumping messages, returning early once the marquee has stopped.
  void MarqueeWait(MarqueeRun& run, std::int32_t ms);
  // Ends a running marquee at once (close, release, disable): its window's MarqueeType becomes
  // none and the device idle.
  void StopMarquee();

  // The entry at position `index` of the window list; null when there is none.
  WindowEntry* WindowAt(std::int32_t index);
  WindowEntry* WindowBySerial(std::uint64_t serial);
  // Makes the entry current.
  void MakeCurrent(WindowEntry* entry);
  // Forgets the configuration, the windows and the screen (at close).
  void ResetDevice();

  struct NumberRow;
  static std::span<const NumberRow> NumberProperties();

  display_config config_;
  std::int32_t DeviceWindows = 0;
  bool CapVMarquee = false;
  bool CapHMarquee = false;
  std::int32_t CharacterSet = 0;
  std::int32_t DeviceBrightness = 0;
  // The brightness level (US X n) of the DeviceBrightness set last; sent again at every claim,
  // as initialising the display forgets it. None until DeviceBrightness is set.
  std::optional<std::uint8_t> brightness_step_;

  screen_rows screen_;
  std::vector<WindowEntry> windows_;
  LineDisplayWindow* current_ = nullptr;
  std::uint64_t current_serial_ = 0;
  std::int32_t CurrentWindow = 0;
  std::uint64_t next_serial_ = 1;

  std::shared_ptr<MarqueeRun> marquee_;  // the marquee snapshot (the loop holds it too)
  std::int32_t last_marquee_type_ = -1;       // the MarqueeType set last ...
  std::uint64_t last_marquee_window_ = 0;     // ... and the window it was set on
};

}  // namespace devsvc
