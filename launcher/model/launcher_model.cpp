// The launcher's behaviour: INI reading and writing, the two steps, and starting programs.
#include "launcher/launcher_model.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <utility>

#include "platform/case_path.h"
#include "platform/profile.h"

namespace launcher {
namespace {

constexpr std::string_view kLanguages = "LANGUAGES";
constexpr std::string_view kApplications = "APPLICATIONS";
constexpr std::string_view kPrinterBrand = "PRINTER BRAND";
constexpr std::string_view kLastSelected = "LASTSELECTED";
constexpr std::string_view kDefault = "DEFAULT";
constexpr std::string_view kStartForm = "StartForm";
constexpr std::string_view kDefaultLanguage = "English";
constexpr std::string_view kFirstApplication = "APP1";

bool iequals(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

std::string trim(std::string_view text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) {
    return {};
  }
  const auto last = text.find_last_not_of(" \t");
  return std::string(text.substr(first, last - first + 1));
}

// The INI files name folders with "\"; here they are "/".
std::string native_separators(std::string text) {
  std::replace(text.begin(), text.end(), '\\', '/');
  return text;
}

// Splits a section line "key=value" into its trimmed halves; a line without "=" is all key.
std::pair<std::string, std::string> split_entry(std::string_view line) {
  const auto equals = line.find('=');
  if (equals == std::string_view::npos) {
    return {trim(line), {}};
  }
  return {trim(line.substr(0, equals)), trim(line.substr(equals + 1))};
}

std::string read(std::string_view section, std::string_view key, const std::filesystem::path& file) {
  return platform::get_profile_string(section, key, "", file, kIniBufferChars);
}

// A write that fails (a read-only folder) only loses the remembered choice; nothing is reported.
void write(std::string_view section, std::string_view key, std::string_view value,
           const std::filesystem::path& file) {
  std::error_code ignored;
  platform::write_profile_string(section, key, value, file, &ignored);
}

}  // namespace

// The default folder of the per-user copy of the remembered choices.
static std::filesystem::path default_user_dir() {
  if (const char* config = std::getenv("XDG_CONFIG_HOME"); config != nullptr && *config == '/') {
    return std::filesystem::path(config) / "poskit" / "launcher";
  }
  const char* home = std::getenv("HOME");
  return std::filesystem::path(home != nullptr && *home != '\0' ? home : "/tmp") / ".config" / "poskit" / "launcher";
}

launcher_model::launcher_model(std::filesystem::path app_dir, std::string_view program_name,
                               std::filesystem::path user_dir)
    : app_dir_(std::move(app_dir)),
      app_path_(app_dir_.string()),
      title_(std::filesystem::path(program_name).stem().string()) {
  if (app_path_.empty() || app_path_.back() != '/') {
    app_path_ += '/';
  }
  main_ini_ = app_path_ + title_ + ".INI";
  user_ini_ = (user_dir.empty() ? default_user_dir() : user_dir) / (title_ + ".INI");
  for (std::size_t i = 0; i < kCaptionedControls.size(); ++i) {
    captions_[i] = kCaptionedControls[i].default_caption;
  }
  window_caption_ = title_;
}

std::string launcher_model::read_main(std::string_view section, std::string_view key,
                                      std::string_view fallback) const {
  return platform::get_profile_string(section, key, fallback, main_ini_, kIniBufferChars);
}

std::string launcher_model::read_choice(std::string_view section, std::string_view key,
                                        std::string_view fallback) const {
  // A value no INI holds marks "absent", so that an empty remembered value still counts.
  constexpr std::string_view kAbsent = "\x01";
  std::error_code ignored;
  if (std::filesystem::exists(user_ini_, ignored)) {
    const std::string mine = platform::get_profile_string(section, key, kAbsent, user_ini_, kIniBufferChars);
    if (mine != kAbsent) return mine;
  }
  return read_main(section, key, fallback);
}

void launcher_model::write_choice(std::string_view section, std::string_view key, std::string_view value) {
  std::error_code error;
  std::error_code exists_error;
  // Once the user has a copy, the choices live there, so that they never split between files.
  if (!std::filesystem::exists(user_ini_, exists_error) &&
      platform::write_profile_string(section, key, value, main_ini_, &error)) {
    return;
  }
  std::filesystem::create_directories(user_ini_.parent_path(), error);
  write(section, key, value, user_ini_);
}

void launcher_model::start() {
  // Pictures and caption from the first "printer=brand" entry.
  std::string brand;
  const auto brand_entries = platform::get_profile_section(kPrinterBrand, main_ini_, kIniBufferChars);
  if (!brand_entries.empty()) {
    std::tie(printer_, brand) = split_entry(brand_entries.front());
  }
  const auto picture = [this](const std::string& name) -> std::filesystem::path {
    if (name.empty()) {
      return {};
    }
    const auto path = platform::resolve_case_insensitive(
        std::filesystem::path(app_path_ + "../Image/" + native_separators(name) + ".BMP"));
    std::error_code ignored;
    return std::filesystem::is_regular_file(path, ignored) ? path : std::filesystem::path();
  };
  logo_picture_ = picture(brand);
  printer_picture_ = picture(printer_);
  window_caption_ = title_ + " " + printer_;

  // A default language is also the last one chosen.
  const std::string default_language = read_choice(kLanguages, kDefault, "");
  if (!default_language.empty()) {
    write_choice(kLanguages, kLastSelected, default_language);
  }
  const std::string last_language =
      default_language.empty() ? read_choice(kLanguages, kLastSelected, kDefaultLanguage) : default_language;
  localise(last_language);

  // Every other entry of "LANGUAGES" is a language; a repeated name is listed once.
  languages_.clear();
  for (const std::string& line : platform::get_profile_section(kLanguages, main_ini_, kIniBufferChars)) {
    std::string name = split_entry(line).first;
    const bool reserved = iequals(name, kLastSelected) || iequals(name, kDefault);
    const bool repeated = std::any_of(languages_.begin(), languages_.end(),
                                      [&](const std::string& known) { return iequals(known, name); });
    if (!name.empty() && !reserved && !repeated) {
      languages_.push_back(std::move(name));
    }
  }
  selected_language_ = -1;
  for (std::size_t i = 0; i < languages_.size(); ++i) {
    if (iequals(languages_[i], last_language)) {
      selected_language_ = static_cast<int>(i);
      break;
    }
  }

  if (!default_language.empty()) {
    fill_applications(language_ini(default_language));
    step_ = wizard_step::application;
  } else {
    step_ = wizard_step::language;
  }
}

std::string launcher_model::caption(std::string_view name) const {
  for (std::size_t i = 0; i < kCaptionedControls.size(); ++i) {
    if (kCaptionedControls[i].name == name) {
      return captions_[i];
    }
  }
  return {};
}

std::filesystem::path launcher_model::language_ini(const std::string& language) const {
  const std::string stem = read_main(kLanguages, language, "");
  return app_path_ + native_separators(stem) + ".INI";
}

void launcher_model::localise(const std::string& language) {
  const std::filesystem::path file = language_ini(language);
  const std::string form_caption = read(kStartForm, kStartForm, file);
  if (!form_caption.empty()) {
    window_caption_ = form_caption + " " + printer_;
  }
  for (std::size_t i = 0; i < kCaptionedControls.size(); ++i) {
    std::string text = read(kStartForm, kCaptionedControls[i].name, file);
    if (!text.empty()) {
      captions_[i] = std::move(text);
    }
  }
}

void launcher_model::fill_applications(const std::filesystem::path& language_ini) {
  current_language_ini_ = language_ini;
  applications_.clear();
  // Sections APP1, APP2, ... up to the first without a NAME.
  for (int i = 1;; ++i) {
    const std::string section = "APP" + std::to_string(i);
    std::string name = read(section, "NAME", language_ini);
    if (name.empty()) {
      break;
    }
    applications_.push_back({section, std::move(name), read(section, "INFOTIP", language_ini)});
  }
  const std::string last = read_choice(kApplications, kLastSelected, kFirstApplication);
  selected_application_ = -1;
  for (std::size_t i = 0; i < applications_.size(); ++i) {
    if (iequals(applications_[i].key, last)) {
      selected_application_ = static_cast<int>(i);
      break;
    }
  }
}

void launcher_model::select_language(int index) {
  selected_language_ = (index >= 0 && index < static_cast<int>(languages_.size())) ? index : -1;
}

void launcher_model::select_application(int index) {
  selected_application_ = (index >= 0 && index < static_cast<int>(applications_.size())) ? index : -1;
}

next_outcome launcher_model::next() {
  if (step_ == wizard_step::language) {
    if (selected_language_ < 0) {
      return next_outcome::nothing;
    }
    const std::string language = languages_[static_cast<std::size_t>(selected_language_)];
    write_choice(kLanguages, kLastSelected, language);
    if (set_as_default_) {
      write_choice(kLanguages, kDefault, language);
    }
    localise(language);
    fill_applications(language_ini(language));
    step_ = wizard_step::application;
    return next_outcome::application_step;
  }
  if (selected_application_ < 0 || child_.running()) {
    return next_outcome::nothing;
  }
  return start_application();
}

next_outcome launcher_model::start_application() {
  const std::string& section = applications_[static_cast<std::size_t>(selected_application_)].key;
  const std::string file_name = read(section, "FILENAME", current_language_ini_);
  const std::string sub_dir = read(section, "SUBDIR", current_language_ini_);

  // The program path as the INI spells it: no quoting, no arguments, spaces and all.
  const std::string command_line = app_path_ + native_separators(sub_dir) + "/" + native_separators(file_name);
  const std::filesystem::path program = platform::resolve_case_insensitive(command_line);

  std::error_code error;
  platform::child_process child = platform::child_process::spawn({program, {}, {}}, error);
  if (error) {
    message_ = "Error " + std::to_string(error.value()) + " creating process " + command_line;
    return next_outcome::start_failed;
  }
  message_.clear();
  if (child.wait_for(kStartGraceMs)) {
    return next_outcome::ended_at_once;
  }
  child_ = std::move(child);
  return next_outcome::running;
}

void launcher_model::previous() { step_ = wizard_step::language; }

bool launcher_model::poll_application() {
  if (!child_.running()) {
    return false;
  }
  if (child_.try_wait()) {
    child_ = platform::child_process();
    return false;
  }
  return true;
}

void launcher_model::application_tree_left() {
  if (selected_application_ >= 0) {
    write_choice(kApplications, kLastSelected, applications_[static_cast<std::size_t>(selected_application_)].key);
  }
}

std::string launcher_model::application_tool_tip(int index) const {
  if (index >= 0 && index < static_cast<int>(applications_.size())) {
    return applications_[static_cast<std::size_t>(index)].info_tip;
  }
  return caption("frmChooseApp");
}

std::string launcher_model::language_tool_tip() const { return caption("frmChooseLang"); }

}  // namespace launcher
