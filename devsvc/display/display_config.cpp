// The line display's INI configuration and the brightness table look-up.
#include "display/display_config.h"

#include <algorithm>
#include <cstdlib>

#include "platform/case_path.h"
#include "platform/profile.h"

namespace devsvc {
namespace {

constexpr std::string_view kDisplaySection = "DISPLAY";
constexpr std::string_view kCapabilitySection = "CAPABILITES";
// Lists are read through a buffer of 64 characters (63 and the terminator).
constexpr std::size_t kListBuffer = 64;
// [DISPLAY] Type that marks a display with an alphanumeric character set.
constexpr int kAlphanumericType = 2;

std::int32_t clamp_cells(int value) { return std::clamp<std::int32_t>(value, 0, kMaxDisplayCells); }

}  // namespace

display_config load_display_config(const std::filesystem::path& path) {
  const std::filesystem::path file = platform::resolve_case_insensitive(path);
  display_config c;
  c.DeviceColumns = clamp_cells(platform::get_profile_int(kDisplaySection, "NColoums", 20, file));
  c.DeviceRows = clamp_cells(platform::get_profile_int(kDisplaySection, "NRows", 2, file));
  c.CapBrightness = platform::get_profile_int(kCapabilitySection, "Brightness", 0, file) != 0;
  c.brightness_table = platform::get_profile_string(kCapabilitySection, "BrightnessPercentage", "", file, kListBuffer);
  const int blink = platform::get_profile_int(kCapabilitySection, "BlinkType", 0, file);
  c.CapBlink = blink >= 0 && blink <= 2 ? blink : 0;
  c.CapCharacterSet = platform::get_profile_int(kDisplaySection, "Type", 1, file) == kAlphanumericType ? 1 : 0;
  c.CharacterSetList = platform::get_profile_string(kDisplaySection, "CharacterList", "", file, kListBuffer);
  c.international_set = platform::get_profile_int(kDisplaySection, "CharacterInternational", 6, file);
  return c;
}

std::optional<std::int32_t> brightness_step(std::string_view table, std::int32_t position) {
  if (position < 0) return std::nullopt;
  std::size_t start = 0;
  for (std::int32_t i = 0; i < position; ++i) {
    const std::size_t comma = table.find(',', start);
    if (comma == std::string_view::npos) break;  // fewer items: the last one answers
    start = comma + 1;
  }
  const std::size_t end = std::min(table.find(',', start), table.size());
  const std::string item(table.substr(start, end - start));
  return static_cast<std::int32_t>(std::strtol(item.c_str(), nullptr, 10));
}

}  // namespace devsvc
