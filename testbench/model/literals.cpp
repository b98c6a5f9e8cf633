// Number-to-name and name-to-number lookups in the test environment's INI tables.
#include "testbench/literals.h"

#include "platform/profile.h"

namespace testbench {

namespace {
constexpr std::int32_t kExtended = 114;  // OPOS_E_EXTENDED
}

std::string literal_tables::name(std::string_view section, std::int32_t number) const {
  const std::string key = std::to_string(number);
  std::string value = platform::get_profile_string(section, key, "", literal_file_, kLiteralMaxChars + 1);
  return value.empty() ? key : value;
}

std::int32_t literal_tables::number(std::string_view section, std::string_view name) const {
  return platform::get_profile_int(section, name, 0, number_file_);
}

std::string literal_tables::error_text(std::int32_t result_code, std::int32_t extended_code,
                                       std::string_view prefix) const {
  const std::string text = name("ERROR", result_code == kExtended ? extended_code : result_code);
  if (prefix.empty()) return text;
  return std::string(prefix) + ": " + text;
}

}  // namespace testbench
