// PrnForm without a window: the setup upload (version query, checksum with one NAK, header check),
// the tree and its editing rules, the radio behaviour of options, refresh, the download with the
// printer's two answers, and closing back to the browser. Every text goes through prn_form_ui.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "memory/setup_block.h"
#include "utilities/printer_link.h"
#include "utilities/user_interface.h"

namespace memory {

// Status-bar panels of PrnForm.
inline constexpr int kPanelIdentifier = 1;  // the setup identifier
inline constexpr int kPanelBoot = 2;        // "BOOT " and the boot version
inline constexpr int kPanelFirmware = 3;    // "FW " and the firmware version
inline constexpr int kPanelStatus = 4;      // the program status

// Keys and hit-test flags of the tree events.
inline constexpr int kKeySpace = 32;
inline constexpr int kHitOnItemIcon = 0x02;

// The application title in the caption.
inline constexpr char kMemoryTitle[] = "Quorel - Memory";

// What PrnForm asks of its window beyond the shared dialogs.
class prn_form_ui : public utilities::user_interface {
 public:
  // Sounds the refusal beep of the label editor.
  virtual void beep() = 0;
};

// Where the window runs.
struct prn_form_environment {
  std::string exe_name;             // the executable's name; "SETUP" (any case) edits the full setup
  std::string title = kMemoryTitle; // application title
  std::string model;                // ModelLookup's model of the connected printer
  std::string printer_tag;          // the tag (port) of the browser's selected printer node
};

// Where the window is.
enum class prn_form_state {
  initializing,  // after load, before the first activation
  uploading,
  formatting,
  ready,         // with a tree (download enabled) or without one
  downloading,
  closed,        // unloaded: the browser is shown again
};

// How the last upload ended.
enum class upload_outcome {
  none,             // no upload yet
  tree_built,       // the tree is shown, download enabled
  header_mismatch,  // "Data header does not match.": empty tree
  bad_format,       // "Bad data format.": the nodes built so far stay
  checksum_failed,  // "Data checksum error.", CAN sent, window closed
  channel_error,    // the channel's error shown, window closed
  bad_version,      // the version answer was unreadable, window closed
  cancelled,        // EndReq was set, window closed
};

// How the download ended (the window closes in every case).
enum class download_outcome {
  none,
  stored,                // 06 then 06
  checksum_error,        // first answer 15
  id_mismatch,           // second answer 15
  memorization_failed,   // second answer 07
  unrecognized,          // any other answer
  channel_error,         // the channel's error shown
  cancelled,             // Cancel while waiting for the second answer
  not_built,             // no accepted block, or the block could not be built
};

// What changed, for the view.
enum class prn_form_change {
  tree_cleared,   // all nodes removed
  node_added,     // `key` added
  node_changed,   // `key`'s text, image or expansion changed
  menus,          // mnuDwldSetup's enabled state changed
  state,          // busy pointer or state changed
  closed,         // the window unloaded: show the browser again
};

// The texts of the window.
inline constexpr char kTextInitializing[] = "Initializing...";
inline constexpr char kTextUploading[] = "Uploading data...";
inline constexpr char kTextFormatting[] = "Formatting data...";
inline constexpr char kTextReady[] = "Ready...";
inline constexpr char kTextDownloading[] = "Downloading data...";
inline constexpr char kTextWaitingAnswer[] = "Waiting answer...";
inline constexpr char kTextChecksumError[] = "Data checksum error.";
inline constexpr char kTextHeaderMismatch[] = "Data header does not match.";
inline constexpr char kTextPrinterChecksum[] = "Checksum error from printer.";
inline constexpr char kTextIdMismatch[] = "PrinterID/Release does not match.";
inline constexpr char kTextMemorizationFailed[] = "Memorization failed.";
inline constexpr char kTextUnrecognized[] = "Unrecognized answer from printer.";
inline constexpr char kTextBadVersion[] = "Unrecognized version answer from printer.";

class prn_form_model {
 public:
  using listener = std::function<void(prn_form_change change, const std::string& key)>;

  // The window over the browser's link (its channel and identification byte).
  prn_form_model(prn_form_ui& ui, utilities::printer_link& link, prn_form_environment env);

  void set_listener(listener l) { listener_ = std::move(l); }

  // Form_Load: current form "PrnForm", "Initializing...", the caption, the request command,
  // the busy pointer.
  void load();
  // Activation: the first one runs the upload; later ones do nothing.
  void activate();
  // Upload: version query, setup block with checksum check, header check, tree. Closes the
  // window when the channel fails, the checksum fails twice or EndReq is set.
  upload_outcome upload();
  // mnuRefresh: removes every node and uploads again; ignored while busy.
  void refresh();
  // mnuDwldSetup: builds and sends the download block and reads the two answers; the window
  // closes afterwards. Ignored while busy or before a block was accepted.
  download_outcome download();

  // Label editing. Before: the edit field of node `key` (refused: allowed false).
  edit_field before_label_edit(std::string_view key) const;
  // A typed character: beeps when refused with a beep; true when the field takes it.
  bool type_in_edit(const edit_field& field, char32_t c, std::size_t current_chars);
  // A paste: beeps and returns false when the text holds a refused character.
  bool paste_in_edit(std::string_view text);
  // After the edit: an empty text cancels; else the label becomes the name, "=" and `text`.
  // True when the label changed.
  bool after_label_edit(std::string_view key, std::string_view text);

  // Tree selection and events.
  void select(std::string_view key) { selected_ = std::string(key); }
  const std::string& selected() const { return selected_; }
  // A key pressed on the tree; true when it was consumed (space on an unselected option).
  bool key_press(int key_code);
  // A mouse button released with hit-test flags `hit_flags` at the pointer.
  void mouse_up(bool left_button, int hit_flags);
  // Makes option `key` the selected one of its folder (the radio behaviour); false when `key`
  // is not an unselected option.
  bool choose_option(std::string_view key);
  // Collapse and expand: the node's expansion; for a node without an expanded image (the root)
  // the state image index it now shows (kStateBlank or kStateCFolder), else 0.
  int collapse(std::string_view key);
  int expand(std::string_view key);

  // Changes a setting by the tree's keys (posutil): `path` names an option's folder and `value`
  // one of its options, or `path` names an editable value and `value` its new text, checked as
  // the label editor checks typing. "" when done, else why not.
  std::string apply_setting(std::string_view path, std::string_view value);

  // Close request: true when the window may close; while busy it sets EndReq and refuses.
  bool query_unload();
  // mnuExit.
  void exit() { unload(); }
  // Unload: closes and drops the channel, clears the activated flag, closes the window.
  void unload();

  const setup_tree& tree() const { return tree_; }
  const std::string& block() const { return block_; }
  std::string_view request_command() const { return request_; }
  const std::string& caption() const { return caption_; }
  prn_form_state state() const { return state_; }
  bool busy() const { return busy_; }
  bool end_req() const { return end_req_; }
  bool activated() const { return activated_; }
  bool download_enabled() const { return download_enabled_; }
  bool closed() const { return state_ == prn_form_state::closed; }
  const std::string& identifier() const { return identifier_; }
  const std::string& firmware_version() const { return firmware_; }
  const std::string& boot_version() const { return boot_; }
  upload_outcome last_upload() const { return last_upload_; }
  // Why the last tree or download block was refused (for tools); "" when it was not.
  const std::string& format_problem() const { return format_problem_; }

 private:
  void notify(prn_form_change change, const std::string& key = {});
  void begin_busy(prn_form_state state);
  void end_busy(prn_form_state state);
  void status(const std::string& text) { ui_.set_status(kPanelStatus, text); }
  // Reads the channel's last error, shows it with `lead` ("Raise error " or "Raised error "),
  // closes the channel.
  void show_channel_error(const std::string& lead);
  // The version query by protocol kind; 0 or the failing result; `answer` the text.
  std::int32_t query_version(std::string& answer);
  upload_outcome fail_upload(upload_outcome outcome);
  // Moves the selection of option `key`'s folder to it.
  bool move_selection(const std::string& key);

  prn_form_ui& ui_;
  utilities::printer_link& link_;
  prn_form_environment env_;
  listener listener_;
  std::string_view request_;
  std::string caption_;
  prn_form_state state_ = prn_form_state::initializing;
  bool busy_ = false;
  bool end_req_ = false;
  bool activated_ = false;
  bool download_enabled_ = false;
  setup_tree tree_;
  std::string block_;
  std::string identifier_;
  std::string firmware_;
  std::string boot_;
  std::string selected_;
  upload_outcome last_upload_ = upload_outcome::none;
  std::string format_problem_;
};

}  // namespace memory
