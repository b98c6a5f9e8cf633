// The line display's configuration: what its INI file says about the display's size, abilities,
// character sets and brightness steps, with the defaults of a two-line, twenty-column display.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace devsvc {

// Largest number of rows or columns taken from the INI file; larger values are cut to it, so a
// mistyped size cannot make the screen image huge.
inline constexpr std::int32_t kMaxDisplayCells = 256;

// Values of the INI file's [DISPLAY] and [CAPABILITES] sections (the section name is spelt as
// the display's INI files spell it).
struct display_config {
  std::int32_t DeviceColumns = 20;       // [DISPLAY] NColoums, 0 to kMaxDisplayCells
  std::int32_t DeviceRows = 2;           // [DISPLAY] NRows, 0 to kMaxDisplayCells
  bool CapBrightness = false;            // [CAPABILITES] Brightness non-zero
  std::string brightness_table;          // [CAPABILITES] BrightnessPercentage, at most 63 characters
  std::int32_t CapBlink = 0;             // [CAPABILITES] BlinkType 0, 1 or 2 (others read as 0)
  std::int32_t CapCharacterSet = 0;      // 1 when [DISPLAY] Type is 2, else 0
  std::string CharacterSetList;          // [DISPLAY] CharacterList, at most 63 characters
  std::int32_t international_set = 6;    // [DISPLAY] CharacterInternational (ESC R n)
};

// Reads the configuration from the INI file `path` (found case-insensitively); keys that are
// missing keep their defaults. Never fails: a missing file gives the defaults.
display_config load_display_config(const std::filesystem::path& path);

// The brightness step for DeviceBrightness `position`: item `position` (from 0) of the
// comma-separated table, the last item when the table has fewer, converted as the C library's
// decimal conversion does ("" and "abc" give 0). std::nullopt for a negative position.
std::optional<std::int32_t> brightness_step(std::string_view table, std::int32_t position);

}  // namespace devsvc
