// The logo window's model (LogoForm) without a window: the logo list with its keys, states,
// selection and per-entry settings, adding pictures, the buttons' enabling, the memory labels, and
// the printer operations (start inquiry, memory refresh, download, print, print all, delete,
// delete all). Messages, questions, status texts and waiting go through a user_interface; the
// printer through a printer_link whose channel each operation opens at its start and closes at
// its end.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "logo/image_library.h"
#include "logo/picture.h"
#include "utilities/printer_link.h"
#include "utilities/user_interface.h"

namespace logo {

// Entries the list holds at most.
inline constexpr std::size_t kMaxLogoEntries = kMaxLogos;

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

// Colour mode codes of cmbColor's item data (kModeBlackWhite is 2).
inline constexpr int kModeTwoColours = kModeTwoColors;
inline constexpr int kModeColour = kModeColor;

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
struct printer_planes {
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
  // Monotonic time for the processing and deletion waits; empty: the steady clock.
  std::function<std::chrono::steady_clock::time_point()> clock;
  // The image library that converts pictures (may be null: conversions then fail).
  image_library* library = nullptr;
  // Converts one picture; empty: convert_logo through `library`.
  std::function<conversion_result(const dib& source, const logo_settings& settings)> convert;
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
  printer_planes planes_of(std::size_t i) const;
  // Entry `i`'s source picture and converted preview, or null (a stored logo has neither).
  const dib* source_picture(std::size_t i) const;
  const dib* preview_picture(std::size_t i) const;

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
  // True when entry `i`'s settings controls are offered: a picture of this window not stored yet
  // (a stored logo is in the printer as it was converted).
  bool settings_editable(std::size_t i) const {
    return i < entries_.size() && !entries_[i].stored && source_picture(i) != nullptr;
  }
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
  // An operation's start (busy pointer, buttons off) and end; false when one already runs.
  bool begin_operation();
  void end_operation();
  // Opens the channel for an operation; on failure shows the channel's last error and false.
  bool open_channel();
  // An operation on the printer: begin_operation, `preparing` in the status bar, the channel
  // opened, then "Printer ready...". When the channel does not open, its error is shown, the status
  // returns to "Ready...", the operation ends and the result is false.
  bool begin_printer_operation(const std::string& preparing);
  // Its end: with `refresh` (a completed operation that changed the memory) first "Updating..."
  // and the memory refresh; then the channel closed, "Ready..." and end_operation.
  void end_printer_operation(bool refresh);
  void update_buttons();
  void status(const std::string& text);
  void show_channel_error(const std::string& number_prefix);
  // Converts entry `i` with its settings (a failure leaves it without preview).
  void convert(std::size_t i);
  // The printer planes of entry `i` (empty without preview or colour table).
  std::vector<raster> rasters_of(std::size_t i) const;
  // The processing wait after a download; true when the printer echoed its identification.
  bool processing_wait();
  // The deletion wait after a deletion and GS I 1; true when the printer echoed.
  bool deletion_wait();
  // Reads one byte with a 50 ms read time-out; the channel's result.
  std::int32_t read_echo(std::string& byte);
  // The free memory shown, refreshed when it is no number; nullopt when the download ends.
  std::optional<long> free_memory_for_download();
  // Send the chosen entries; false when the download ended early, `all` false when an entry was
  // left out.
  bool download_bit_images(const std::vector<std::size_t>& chosen, bool& all);
  bool download_graphics(const std::vector<std::size_t>& chosen, bool& all);
  // Sends the stored-logo prints of `keys` (ESC ! 0, then "Logo " key LF and function 69 each).
  bool print_stored_keys(const std::vector<std::string>& keys);
  // Nine LF (161, 10) or GS V 66 15.
  bool print_end();
  void remove_entry(std::size_t i);
  std::chrono::steady_clock::time_point now() const;

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
