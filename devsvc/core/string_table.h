// The library's string table: descriptions and device names the service objects report.
#pragma once

#include <cstdint>
#include <string_view>

namespace devsvc {

// Numbers of the string table's entries.
inline constexpr std::int32_t IDS_PRINTER_SO_DESCRIPTION = 1;
inline constexpr std::int32_t IDS_PRINTER_DESCRIPTION = 2;
inline constexpr std::int32_t IDS_PRINTER_DEVICE_NAME = 3;
inline constexpr std::int32_t IDS_COLOR_PRINTER_DESCRIPTION = 4;
inline constexpr std::int32_t IDS_COLOR_PRINTER_DEVICE_NAME = 5;
inline constexpr std::int32_t IDS_DISPLAY_DESCRIPTION = 6;
inline constexpr std::int32_t IDS_DISPLAY_DEVICE_NAME = 7;
inline constexpr std::int32_t IDS_DRAWER_DESCRIPTION = 8;
inline constexpr std::int32_t IDS_DRAWER_DEVICE_NAME = 9;

// Entry `id` of the string table; empty for a number it does not hold.
std::string_view LoadLibraryString(std::int32_t id);

}  // namespace devsvc
