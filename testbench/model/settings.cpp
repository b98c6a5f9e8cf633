// Registry-backed settings of the test environment.
#include "testbench/settings.h"

#include <algorithm>
#include <cstdlib>

#include "platform/registry.h"
#include "testbench/texts.h"

namespace testbench {
namespace {

constexpr default_row kDefaults[] = {
    {kSectionSettings, "AppPath", false, "%s", 0},
    {kSectionSettings, "HelpFile", false, "%s/Help/TestbenchHlp.html", 0},
    {kSectionSettings, "EscFile", false, "%s/Escape.dat", 0},
    {kSectionSettings, "Language", false, "ITA", 0},
    {kSectionSettings, "CurrentPath", false, "", 0},
    {kSectionSettings, "COPOSPrinterID", false, "CONTROLObject.KorvanePOSPrinter.1", 0},
    {kSectionSettings, "ShowToolOutput", false, "YES", 0},
    {kSectionSettings, "CurrentExt", false, "0", 0},
    {kSectionSettings, "FirstRun", true, "", 0},
    {kSectionSettings, "CommandColor", true, "", 10},
    {kSectionSettings, "CommentColor", true, "", 1},
    {kSectionSettings, "PrintInfoImage", true, "", 1},
    {kSectionSettings, "CutPaperForPrintImage", true, "", 1},
    {kSectionSettings, "ShowTipAtStart", true, "", 0},
    {kSectionSettings, "TraceEvError", true, "", 1},
    {kSectionSettings, "TraceEvDirect", true, "", 0},
    {kSectionSettings, "TraceEvOutput", true, "", 1},
    {kSectionSettings, "TraceEvStatus", true, "", 1},
    {kSectionSettings, "OposVersion", true, "", 14},
    {kSectionPrinter, "ImageStored", true, "", 0},
    {kSectionPrinter, "TransactionMode", true, "", 0},
    {kSectionPrinter, "RotationMode", true, "", 0},
};

std::string section_path(std::string_view section) {
  return std::string(kSettingsKey) + "\\" + std::string(section);
}

std::string expand(std::string_view text, std::string_view app_path) {
  std::string out(text);
  if (const std::size_t at = out.find("%s"); at != std::string::npos) out.replace(at, 2, app_path);
  return out;
}

}  // namespace

std::vector<std::string> parse_tips(std::string_view text) {
  std::vector<std::string> tips;
  long count = -1;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string line(text.substr(0, end));
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.starts_with(";{{Lines")) {
      const std::size_t equals = line.find('=');
      count = equals == std::string::npos ? 0 : std::strtol(line.c_str() + equals + 1, nullptr, 10);
      continue;
    }
    if (count < 0 || line.empty() || line.front() == ';') continue;
    if (static_cast<long>(tips.size()) >= count) break;
    tips.push_back(std::move(line));
  }
  return tips;
}

std::span<const default_row> first_run_defaults() { return kDefaults; }

settings::settings(std::string program_folder) : program_folder_(std::move(program_folder)) {}

bool settings::italian() const { return is_italian(language()); }

bool settings::apply_first_run() {
  if (!app_path().empty()) return false;
  for (const default_row& row : kDefaults) {
    if (row.is_integer) {
      set_int(row.section, row.key, row.number);
    } else {
      set_string(row.section, row.key, expand(row.text, program_folder_));
    }
  }
  return true;
}

std::string settings::get_string(std::string_view section, std::string_view key, std::string_view fallback) const {
  platform::registry_key k;
  std::string value;
  if (platform::registry_key::open(platform::registry_root::current_user, section_path(section), k) !=
          platform::kErrorSuccess ||
      k.query_string(key, value) != platform::kErrorSuccess) {
    return std::string(fallback);
  }
  return value;
}

std::int32_t settings::get_int(std::string_view section, std::string_view key, std::int32_t fallback) const {
  platform::registry_key k;
  std::uint32_t value = 0;
  if (platform::registry_key::open(platform::registry_root::current_user, section_path(section), k) !=
          platform::kErrorSuccess ||
      k.query_dword(key, value) != platform::kErrorSuccess) {
    return fallback;
  }
  return static_cast<std::int32_t>(value);
}

bool settings::set_string(std::string_view section, std::string_view key, std::string_view value) {
  platform::registry_key k;
  return platform::registry_key::create(platform::registry_root::current_user, section_path(section), k) ==
             platform::kErrorSuccess &&
         k.set_string(key, value) == platform::kErrorSuccess;
}

bool settings::set_int(std::string_view section, std::string_view key, std::int32_t value) {
  platform::registry_key k;
  return platform::registry_key::create(platform::registry_root::current_user, section_path(section), k) ==
             platform::kErrorSuccess &&
         k.set_dword(key, static_cast<std::uint32_t>(value)) == platform::kErrorSuccess;
}

std::vector<std::uint8_t> settings::get_binary(std::string_view section, std::string_view key) const {
  platform::registry_key k;
  std::vector<std::uint8_t> value;
  if (platform::registry_key::open(platform::registry_root::current_user, section_path(section), k) !=
          platform::kErrorSuccess ||
      k.query_binary(key, value) != platform::kErrorSuccess) {
    return {};
  }
  return value;
}

bool settings::set_binary(std::string_view section, std::string_view key, const std::vector<std::uint8_t>& value) {
  platform::registry_key k;
  return platform::registry_key::create(platform::registry_root::current_user, section_path(section), k) ==
             platform::kErrorSuccess &&
         k.set_binary(key, value) == platform::kErrorSuccess;
}

std::string settings::property_table_file() const {
  return app_path() + "/Testbench_" + std::to_string(opos_version()) + "0.dat";
}

std::string settings::tips_file() const { return app_path() + "/Language/Testbench_" + language() + ".tip"; }

std::vector<std::string> settings::recent_files() const {
  std::vector<std::string> files;
  for (std::size_t i = 1; i <= kRecentFiles; ++i) {
    std::string file = get_string(kSectionRecent, "File" + std::to_string(i));
    if (!file.empty()) files.push_back(std::move(file));
  }
  return files;
}

void settings::add_recent_file(std::string_view path) {
  std::vector<std::string> files = recent_files();
  std::erase(files, std::string(path));
  files.insert(files.begin(), std::string(path));
  if (files.size() > kRecentFiles) files.resize(kRecentFiles);
  for (std::size_t i = 0; i < kRecentFiles; ++i) {
    set_string(kSectionRecent, "File" + std::to_string(i + 1), i < files.size() ? files[i] : std::string());
  }
}

}  // namespace testbench
