// Names of OPOS numbers for the output window and the property list, from the data files
// CLiteral.ini (number to name) and CNumber.ini (name to number).
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace testbench {

// Longest name CLiteral.ini gives, in characters.
inline constexpr std::size_t kLiteralMaxChars = 256;

class literal_tables {
 public:
  literal_tables() = default;
  literal_tables(std::filesystem::path literal_file, std::filesystem::path number_file)
      : literal_file_(std::move(literal_file)), number_file_(std::move(number_file)) {}

  // The name of `number` in `section` of CLiteral.ini, or the number in decimal when none.
  std::string name(std::string_view section, std::int32_t number) const;
  // The number of `name` in `section` of CNumber.ini; 0 when missing.
  std::int32_t number(std::string_view section, std::string_view name) const;

  // ErrorTextLookup: the name of a result code in section "ERROR" (of the extended code for
  // 114), "prefix: name" when `prefix` is not empty.
  std::string error_text(std::int32_t result_code, std::int32_t extended_code, std::string_view prefix = {}) const;

 private:
  std::filesystem::path literal_file_;
  std::filesystem::path number_file_;
};

}  // namespace testbench
