// The library's string table.
#include "core/string_table.h"

#include <array>

namespace devsvc {
namespace {

constexpr std::array<std::string_view, 9> kStrings = {
    "Korvane - POS Printer Service Driver",
    "OPOS Printer; Driver for VX - 40 POS Printer",
    "VX40Device",
    "OPOS Printer; Driver for VX - 40 Color POS Printer",
    "VX40CDevice",
    "OPOS Line Display, Driver for VX - 40 POS Printer",
    "VX40LineControl",
    "OPOS Cash Drawer; Driver for VX - 40 POS Printer",
    "VX40DrawerControl",
};

}  // namespace

std::string_view LoadLibraryString(std::int32_t id) {
  if (id < 1 || id > static_cast<std::int32_t>(kStrings.size())) return {};
  return kStrings[static_cast<std::size_t>(id - 1)];
}

}  // namespace devsvc
