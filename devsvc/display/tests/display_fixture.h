// Fixture of the line display's object tests: a private registry with Devsvc and the monitor,
// a display device key on an in-process virtual printer, the display's INI file, and a client
// that calls the service object by name as the control object does.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "platform/com.h"
#include "platform/testing/temp_dir.h"
#include "testing/harness.h"

namespace devsvc::display_test {

inline constexpr const char* kDisplayProgId = "Korvane.LineDisplay.VX40.1";
inline constexpr const char* kDisplayDevice = "VX40LineControl";

// The bursts' frame: ESC = 2 selects the display, ESC = 1 the printer again.
inline const std::string kSelectDisplay("\x1B\x3D\x02", 3);
inline const std::string kSelectPrinter("\x1B\x3D\x01", 3);
// What claiming sends with the default international character set 6 and CharacterSet 999
// (code table 1).
inline const std::string kClaimBytes = kSelectDisplay + kSelectDisplay + "\x1B\x40" "\x1F\x01" "\x1B\x52\x06"
                                       "\x1B\x74\x01" + kSelectPrinter;

// Property indexes of the line display.
inline constexpr std::int32_t kCharacterSet = 5001;
inline constexpr std::int32_t kColumns = 5002;
inline constexpr std::int32_t kCurrentWindow = 5003;
inline constexpr std::int32_t kCursorColumn = 5004;
inline constexpr std::int32_t kCursorRow = 5005;
inline constexpr std::int32_t kCursorUpdate = 5006;
inline constexpr std::int32_t kDeviceBrightness = 5007;
inline constexpr std::int32_t kDeviceColumns = 5008;
inline constexpr std::int32_t kDeviceRows = 5010;
inline constexpr std::int32_t kDeviceWindows = 5011;
inline constexpr std::int32_t kMarqueeRepeatWait = 5013;
inline constexpr std::int32_t kMarqueeType = 5014;
inline constexpr std::int32_t kMarqueeUnitWait = 5015;
inline constexpr std::int32_t kRows = 5016;
inline constexpr std::int32_t kMarqueeFormat = 5017;
inline constexpr std::int32_t kCapVMarquee = 5507;

// Compares display bytes and shows both in hex when they differ.
::testing::AssertionResult same_bytes(const std::string& got, const std::string& want);

// Writes HKLM\...\LineDisplay\<device> naming the display service object.
void write_display_key(std::string_view device, std::string_view machine_type, std::string_view comm_port,
                       const std::filesystem::path& ini_set);

// A service object created by ProgID, called by name.
class service_client {
 public:
  explicit service_client(const char* prog_id = kDisplayProgId);

  // Calls a member whose result is a long; -999 when the call itself fails.
  template <class... A>
  std::int32_t call(std::string_view name, A&&... args) {
    const platform::call_result r = platform::call(object_.get(), name, std::forward<A>(args)...);
    EXPECT_TRUE(r.ok()) << name << ": " << platform::hresult_text(r.hr);
    return r.ok() ? r.value.long_or(-999) : -999;
  }
  std::int32_t open(const std::string& device_class = "LineDisplay", const std::string& device = kDisplayDevice);
  std::int32_t number(std::int32_t index) { return call("GetPropertyNumber", index); }
  std::string text(std::int32_t index);
  // SetPropertyNumber, then the ResultCode it left.
  std::int32_t set(std::int32_t index, std::int32_t value);
  std::int32_t result_code() { return number(6); }
  // Opens, claims and enables; the test fails when a step does.
  void open_claim_enable();
  platform::dispatch* get() const { return object_.get(); }
  void reset() { object_.reset(); }

 private:
  platform::com_ptr<platform::dispatch> object_;
};

// A display device on its own sim printer, with an INI file the test can rewrite.
class DisplayTest : public ::testing::Test {
 protected:
  void SetUp() override;

  // Rewrites the display's INI file.
  void write_ini(const std::string& text);
  // What the printer received since the last mark() (everything when never marked).
  std::string since_mark() const;
  void mark();

  testing::environment env_;
  platform::testing::temp_dir dir_;
  std::string uri_;
  std::filesystem::path ini_;
  vprinter::virtual_printer* printer_ = nullptr;
  std::size_t mark_ = 0;
};

}  // namespace devsvc::display_test
