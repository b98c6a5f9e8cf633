// The test environment's per-user settings in the registry (the key Software\KORVANE\Testbench
// of HKEY_CURRENT_USER, sections "Settings" and "PrinterSetting"): first-run defaults, typed
// access and the list of recent files.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace testbench {

// Registry key of the settings below HKEY_CURRENT_USER.
inline constexpr std::string_view kSettingsKey = "Software\\KORVANE\\Testbench";
inline constexpr std::string_view kSectionSettings = "Settings";
inline constexpr std::string_view kSectionPrinter = "PrinterSetting";
inline constexpr std::string_view kSectionRecent = "Recent File List";
// Number of files the recent-file list keeps.
inline constexpr std::size_t kRecentFiles = 4;

// One value written on first run. A text default may hold "%s", replaced by AppPath.
struct default_row {
  std::string_view section;
  std::string_view key;
  bool is_integer;
  std::string_view text;
  std::int32_t number;
};

// The first-run values, in the order they are written.
std::span<const default_row> first_run_defaults();

// The tips of the day of a tip file's text: the count comes from a line beginning ";{{Lines"
// (the number after "=", "}}" removed), and the tips are the following lines that are neither
// empty nor comments, up to that count. A text without that line has no tips.
std::vector<std::string> parse_tips(std::string_view text);

class settings {
 public:
  // `program_folder` is the folder of the program's data files, written as AppPath on first run.
  explicit settings(std::string program_folder);

  // Writes every default when "AppPath" is empty or missing; true when it did.
  bool apply_first_run();

  std::string get_string(std::string_view section, std::string_view key, std::string_view fallback = {}) const;
  std::int32_t get_int(std::string_view section, std::string_view key, std::int32_t fallback = 0) const;
  // False when the registry refused the write.
  bool set_string(std::string_view section, std::string_view key, std::string_view value);
  bool set_int(std::string_view section, std::string_view key, std::int32_t value);
  // Binary values (the window layout); empty when missing.
  std::vector<std::uint8_t> get_binary(std::string_view section, std::string_view key) const;
  bool set_binary(std::string_view section, std::string_view key, const std::vector<std::uint8_t>& value);

  // Convenience readers of the named values.
  std::string app_path() const { return get_string(kSectionSettings, "AppPath"); }
  std::string language() const { return get_string(kSectionSettings, "Language", "ENG"); }
  bool italian() const;
  std::int32_t opos_version() const { return get_int(kSectionSettings, "OposVersion", 14); }
  bool transaction_mode() const { return get_int(kSectionPrinter, "TransactionMode") != 0; }
  bool rotation_mode() const { return get_int(kSectionPrinter, "RotationMode") != 0; }

  // Paths of the data files under AppPath.
  std::string literal_file() const { return app_path() + "/CLiteral.ini"; }
  std::string number_file() const { return app_path() + "/CNumber.ini"; }
  std::string property_table_file() const;
  std::string tips_file() const;

  // The recent files, most recent first (at most kRecentFiles).
  std::vector<std::string> recent_files() const;
  // Puts `path` at the top of the list, dropping a duplicate and the oldest beyond kRecentFiles.
  void add_recent_file(std::string_view path);

 private:
  std::string program_folder_;
};

}  // namespace testbench
