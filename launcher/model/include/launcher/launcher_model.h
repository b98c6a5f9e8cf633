// The launcher's behaviour without any UI: the language and application steps, captions,
// pictures, what is read from and written to its INI files, and starting the chosen program.
#pragma once

#include <array>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "platform/process.h"

namespace launcher {

// The two steps of the wizard.
enum class wizard_step { language, application };

// One node of the application tree.
struct application_node {
  std::string key;       // its INI section, "APP1", "APP2", ...
  std::string name;      // text shown
  std::string info_tip;  // tool tip
};

// What "Next >" did.
enum class next_outcome {
  nothing,           // nothing selected, so nothing to do
  application_step,  // language confirmed; the application step is shown
  start_failed,      // the program could not be started; message() says why
  ended_at_once,     // the program ended within kStartGraceMs; the window stays as it is
  running,           // the program runs; hide the window and call poll_application()
};

// Milliseconds the launcher waits for a started program before hiding its window.
inline constexpr int kStartGraceMs = 200;
// Milliseconds between checks while a started program runs.
inline constexpr int kPollStepMs = 100;
// Characters of every INI read, including the terminating NUL of the buffer it stands for.
inline constexpr std::size_t kIniBufferChars = 256;

// Controls whose caption the language INI may translate, with their captions before any
// translation.
struct captioned_control {
  std::string_view name;
  std::string_view default_caption;
};
inline constexpr std::array<captioned_control, 7> kCaptionedControls{{
    {"frmChooseLang", "Choose language"},
    {"cckSetAsDefault", "Set as default"},
    {"frmChooseApp", "Choose application"},
    {"cmdPrevious", "< Previous"},
    {"cmdNext", "Next >"},
    {"cmdCancel", "Cancel"},
    {"cmdHelp", "Help"},
}};

class launcher_model {
 public:
  // `app_dir` holds the INI files; `program_name` is the launcher's own file name, whose stem is
  // its title and names the main INI ("Launcher" reads "Launcher.INI"). When the main INI cannot
  // be written (an installed, read-only folder), the choices the launcher remembers (last and
  // default language, last application) go to a per-user copy in `user_dir` (empty: the
  // default, $XDG_CONFIG_HOME/poskit/launcher or ~/.config/poskit/launcher), which then takes
  // precedence over the main INI for those values.
  launcher_model(std::filesystem::path app_dir, std::string_view program_name, std::filesystem::path user_dir = {});

  // Reads the INI files and prepares the first step: pictures, captions, the default language,
  // the language tree and, when a default language is set, the application step. Writes the
  // default language as the last selected one.
  void start();

  // The program's title (the stem of its file name).
  const std::string& title() const { return title_; }
  // Folder of the INI files, ending with "/".
  const std::string& app_path() const { return app_path_; }
  // Path of the main INI file.
  const std::filesystem::path& main_ini() const { return main_ini_; }
  // Path of the per-user copy of the remembered choices (used when the main INI is read-only).
  const std::filesystem::path& user_ini() const { return user_ini_; }

  // The window caption.
  const std::string& window_caption() const { return window_caption_; }
  // Current caption of control `name`, or "" for a control without one.
  std::string caption(std::string_view name) const;
  // The brand picture and the printer picture; empty when the file does not exist.
  const std::filesystem::path& logo_picture() const { return logo_picture_; }
  const std::filesystem::path& printer_picture() const { return printer_picture_; }

  // The step shown.
  wizard_step step() const { return step_; }
  // Whether "< Previous" is enabled: only in the application step.
  bool previous_enabled() const { return step_ == wizard_step::application; }

  // Language names in INI order; the selected index, -1 for none.
  const std::vector<std::string>& languages() const { return languages_; }
  int selected_language() const { return selected_language_; }
  void select_language(int index);
  // The "Set as default" check box.
  bool set_as_default() const { return set_as_default_; }
  void set_set_as_default(bool ticked) { set_as_default_ = ticked; }

  // Applications of the current language; the selected index, -1 for none.
  const std::vector<application_node>& applications() const { return applications_; }
  int selected_application() const { return selected_application_; }
  void select_application(int index);

  // "Next >": in the language step confirms the language and shows the application step; in the
  // application step starts the selected program and waits up to kStartGraceMs for it (blocks).
  next_outcome next();
  // "< Previous": back to the language step.
  void previous();
  // Text of the last failure, for a critical message box.
  const std::string& message() const { return message_; }

  // True while a program started by next() runs.
  bool application_running() const { return child_.running(); }
  // Checks without blocking whether the started program still runs; true while it does.
  bool poll_application();

  // The application tree lost the focus: remembers the selected application in the main INI.
  void application_tree_left();

  // Tool tip over the application tree: the node's info tip, or the frame's caption for -1.
  std::string application_tool_tip(int index) const;
  // Tool tip over the language tree: the frame's caption.
  std::string language_tool_tip() const;

 private:
  std::string read_main(std::string_view section, std::string_view key, std::string_view fallback) const;
  // A remembered choice: from the per-user copy when it holds it, else from the main INI.
  std::string read_choice(std::string_view section, std::string_view key, std::string_view fallback) const;
  // Remembers a choice in the main INI, or in the per-user copy when the main INI cannot be
  // written; a choice that cannot be written anywhere is only lost, never reported.
  void write_choice(std::string_view section, std::string_view key, std::string_view value);
  std::filesystem::path language_ini(const std::string& language) const;
  void localise(const std::string& language);
  void fill_applications(const std::filesystem::path& language_ini);
  next_outcome start_application();

  std::filesystem::path app_dir_;
  std::string app_path_;
  std::string title_;
  std::filesystem::path main_ini_;
  std::filesystem::path user_ini_;

  std::string printer_;
  std::filesystem::path logo_picture_;
  std::filesystem::path printer_picture_;
  std::string window_caption_;
  std::array<std::string, kCaptionedControls.size()> captions_;

  wizard_step step_ = wizard_step::language;
  std::vector<std::string> languages_;
  int selected_language_ = -1;
  bool set_as_default_ = false;
  std::vector<application_node> applications_;
  int selected_application_ = -1;
  std::filesystem::path current_language_ini_;

  std::string message_;
  platform::child_process child_;
};

}  // namespace launcher
