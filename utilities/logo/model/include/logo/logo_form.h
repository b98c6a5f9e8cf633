// The logo window's model (LogoForm) without a window: the logo list with its keys, states,
// selection and per-entry settings, adding pictures, the buttons' enabling, the memory labels, and
// the printer operations (start inquiry, memory refresh, download, print, print all, delete,
// delete all). Messages, questions, status texts and waiting go through a user_interface; the
// printer through a printer_link whose channel each operation opens at its start and closes at
// its end.
#pragma once

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "utilities/printer_link.h"
#include "utilities/user_interface.h"

namespace logo {

// Entries the list holds at most.
inline constexpr std::size_t kMaxLogoEntries = 200;

// Text of the memory labels before the first refresh, and when a refresh failed.
inline constexpr std::string_view kMemoryUnknown = "- - - -";
inline constexpr std::string_view kMemoryFailed = "?";

// How the connected printer keeps logos, by its identification byte.
enum class storage_family {
  none,          // no logo memory the window serves
  nv_graphics,   // 46, 36, 161: by two-character key, one by one (GS ( L / GS 8 L)
  nv_bit_image,  // 32, 10: numbered 1 to n, all defined together (FS q)
};
storage_family storage_family_of(int id);

// Colour mode codes of cmbColor's item data.
inline constexpr int kModeTwoColours = 1;
inline constexpr int kModeBlackWhite = 2;
inline constexpr int kModeColour = 3;

// One entry's settings: cmbPaperWidth, cmbColor, chkFit, chkErrorDiffusion.
struct entry_settings {
  int paper_width_dots = 0;
  int colour_mode = kModeBlackWhite;
  bool fit = false;
  bool diffusion = false;
};

// One entry of the list as the window shows it.
struct logo_entry {
  std::string key;              // two characters naming the logo in the printer
  bool stored = false;          // true: "Logo(" key ")", a logo the printer holds
  bool selected = false;        // thumbnail frame in the highlight colour
  std::filesystem::path file;   // the picture's file (empty for a logo read from the printer)
  entry_settings settings;
  std::string colour_table;     // colour-table file named by the conversion ("" without preview)
  bool has_preview = false;     // the conversion gave a preview

  // "New(" key ")" or "Logo(" key ")".
  std::string state() const;
  // The entry's name in texts: its file name, else its state.
  std::string name() const;
};

// A converted picture as the printer gets it: w x h dots, one raster plane per colour (rows top
// to bottom, r = ceil(w / 8) bytes per row, leftmost dot in the most significant bit).
struct logo_planes {
  int width = 0;
  int height = 0;
  std::vector<std::string> planes;  // plane "1" first; two for two colours, three for colour
};

// What the window knows about the printer and the program.
struct logo_form_environment {
  int id = 0;                        // identification byte of the connected printer
  std::string model;                 // ModelLookup's model, for the caption
  std::string title;                 // the application title
  std::filesystem::path app_path;    // the application folder: colour-table files lie there
  // Monotonic time for the processing wait's 8 seconds; empty: the steady clock.
  std::function<std::chrono::steady_clock::time_point()> clock;
};

// The window's buttons that the model enables, shows or hides.
struct button_states {
  bool del = false;              // cmdDelLogo
  bool download = false;         // cmdDwldLogo
  bool print = false;            // cmdPrintLogo (enabled)
  bool print_visible = true;     // cmdPrintLogo (shown)
  bool print_all = false;        // cmdPrintMemLogos
};

class logo_form_model {
 public:
  // `ui` and `link` (its channel set by the browser) must outlive the model.
  logo_form_model(utilities::user_interface& ui, utilities::printer_link& link, logo_form_environment env);
  ~logo_form_model();
  logo_form_model(const logo_form_model&) = delete;
  logo_form_model& operator=(const logo_form_model&) = delete;

  // The caption: the application title, a blank and the printer's model.
  std::string caption() const;
  const logo_form_environment& environment() const { return env_; }
  storage_family family() const { return storage_family_of(env_.id); }

  // The list, in order.
  const std::vector<logo_entry>& entries() const { return entries_; }
  // The converted picture of entry `i` as it would be sent (empty planes without preview).
  logo_planes planes_of(std::size_t i) const;

  // Selection; every change updates the buttons.
  void set_selected(std::size_t i, bool selected);
  void select_all();
  void select_none();
  const button_states& buttons() const { return buttons_; }

  // lblMemFree and lblMemUsed.
  const std::string& memory_free_text() const { return memory_free_; }
  const std::string& memory_used_text() const { return memory_used_; }
  // The progress bar of the deletion wait, 0 to 100.
  int progress() const { return progress_; }
  // True while an operation runs (the hourglass is shown, handlers return at once).
  bool busy() const { return busy_; }

  // cmdAddLogo: adds the chosen files in order, with the messages of each refused file; the
  // index of the first added entry is entries().size() before the call.
  void add_pictures(const std::vector<std::filesystem::path>& files);
  // Changes entry `i`'s settings and converts it again.
  void set_settings(std::size_t i, const entry_settings& settings);
  // Gives new entry `i` another key (two printable characters); false when refused.
  bool set_key(std::size_t i, std::string_view key);

  // StartTimer's first tick: identification checks, memory refresh, the stored keys. False when
  // the channel could not be opened (the window unloads).
  bool start_inquiry();
  // Reads the total and free logo memory into the labels; false (labels "?") on failure.
  bool refresh_memory();
  // cmdDwldLogo: stores the selected new entries; true when every one was stored.
  bool download();
  // cmdPrintLogo: prints the selected entries; true when everything was sent.
  bool print();
  // cmdPrintMemLogos: prints every stored logo.
  bool print_all();
  // cmdDelLogo: after the confirmation, removes the selected entries (deleting stored ones from
  // the printer); true when every selected entry went.
  bool delete_selected();
  // cmdClearMem: after the confirmation, deletes every stored logo.
  bool delete_all();

 private:
  struct picture_slot;
  // Opens the channel for an operation with its error message; false when it failed.
  bool open_channel(bool unload_on_error);
  void close_channel();
  void update_buttons();
  // Converts entry `i` with its settings (a failure leaves it without preview).
  void convert(std::size_t i);
  // Runs the processing wait after a download; true when the printer answered.
  bool processing_wait();
  // Waits for the deletion's echo; true when the printer answered.
  bool deletion_wait();
  // The define command of entry `i` for the connected printer, or "" when it has no colour table.
  std::string define_command(std::size_t i) const;
  bool download_bit_images(const std::vector<std::size_t>& chosen);
  bool download_graphics(const std::vector<std::size_t>& chosen);
  void remove_entry(std::size_t i);
  std::string next_key() const;
  std::chrono::steady_clock::time_point now() const;
  void status(const std::string& text);

  utilities::user_interface& ui_;
  utilities::printer_link& link_;
  logo_form_environment env_;
  std::vector<logo_entry> entries_;
  std::vector<std::unique_ptr<picture_slot>> pictures_;
  button_states buttons_;
  std::string memory_free_{kMemoryUnknown};
  std::string memory_used_{kMemoryUnknown};
  int progress_ = 0;
  bool busy_ = false;
};

}  // namespace logo
