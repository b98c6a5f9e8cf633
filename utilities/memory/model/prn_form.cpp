// PrnForm's behaviour: upload, tree, editing, options, download and closing.
#include "memory/prn_form.h"

#include <optional>

#include "platform/codepage.h"

namespace memory {
namespace {

constexpr std::int32_t kWriteMode = 1;  // every write of the setup editor
constexpr int kAnswerCodepage = 1252;

// The version queries by protocol kind.
constexpr std::string_view kVersionQueryKind1{"\x1d\x49\x41", 3};  // GS I A
constexpr std::string_view kVersionQueryOther{"\x1b\x3f\x32", 3};  // ESC ? 2

// The printer's one-byte answers to a download.
constexpr char kAnswerAck = '\x06';
constexpr char kAnswerNak = '\x15';
constexpr char kAnswerBell = '\x07';

constexpr char kTimeoutQuestion[] = "Timeout waiting answer from printer.\rRetry?";
constexpr char kDownloadedText[] = "New setup has been downloaded correctly.\r\n";
constexpr char kVerifyText[] = "Please verify printer settings.";
constexpr char kTransmissionText[] =
    "If you have modified any transmission parameter, please run the \"Printer configuration tool\" and make the "
    "same settings.";

}  // namespace

prn_form_model::prn_form_model(prn_form_ui& ui, utilities::printer_link& link, prn_form_environment env)
    : ui_(ui), link_(link), env_(std::move(env)), request_(request_command_for(env_.exe_name)) {}

void prn_form_model::notify(prn_form_change change, const std::string& key) {
  if (listener_) listener_(change, key);
}

void prn_form_model::begin_busy(prn_form_state state) {
  busy_ = true;
  state_ = state;
  ui_.set_busy_pointer(true);
  notify(prn_form_change::state);
}

void prn_form_model::end_busy(prn_form_state state) {
  busy_ = false;
  state_ = state;
  ui_.set_busy_pointer(false);
  notify(prn_form_change::state);
}

void prn_form_model::load() {
  status(kTextInitializing);
  caption_ = env_.title + " " + env_.model;
  request_ = request_command_for(env_.exe_name);
  begin_busy(prn_form_state::initializing);
}

void prn_form_model::activate() {
  if (activated_ || closed()) return;
  activated_ = true;
  upload();
}

void prn_form_model::show_channel_error(const std::string& lead) {
  utilities::ErrorRecord e = link_.last_error();
  link_.close();
  ui_.show_message(lead + std::to_string(e.Number) + " from the printer.\r\nExtended error description: " + e.Description);
}

std::int32_t prn_form_model::query_version(std::string& answer) {
  answer.clear();
  const std::int32_t kind = link_.protocol_kind();
  if (kind < 0) return kind;
  if (kind == 1) {
    std::int32_t rc = link_.write(kVersionQueryKind1, kWriteMode);
    if (rc == utilities::kResultDone) rc = link_.read_answer(answer);
    return rc;
  }
  std::string head;
  std::int32_t rc = link_.write(kVersionQueryOther, kWriteMode);
  if (rc == utilities::kResultDone) rc = link_.read(3, head);
  if (rc == utilities::kResultDone) rc = link_.read(static_cast<unsigned char>(head[1]), answer);
  return rc;
}

upload_outcome prn_form_model::fail_upload(upload_outcome outcome) {
  last_upload_ = outcome;
  end_busy(prn_form_state::ready);
  unload();
  return outcome;
}

upload_outcome prn_form_model::upload() {
  if (closed()) return upload_outcome::none;
  begin_busy(prn_form_state::uploading);
  format_problem_.clear();
  for (const int panel : {kPanelIdentifier, kPanelBoot, kPanelFirmware}) ui_.set_status(panel, "");
  status(kTextUploading);

  // A failed channel operation shows the channel's error and closes the window.
  auto channel_failed = [&] {
    show_channel_error("Raise error ");
    return fail_upload(upload_outcome::channel_error);
  };
  if (link_.open() != utilities::kResultDone) return channel_failed();
  std::string version;
  if (query_version(version) != utilities::kResultDone) return channel_failed();

  // The answer after its first byte: the firmware version, "$", the boot version, "$".
  const std::string text = version.empty() ? std::string() : version.substr(1);
  const std::size_t first = text.find('$');
  const std::size_t second = first == std::string::npos ? first : text.find('$', first + 1);
  if (second == std::string::npos) {
    link_.close();
    ui_.show_message(kTextBadVersion);
    return fail_upload(upload_outcome::bad_version);
  }
  firmware_ = platform::codepage_to_utf8(text.substr(0, first), kAnswerCodepage);
  boot_ = platform::codepage_to_utf8(text.substr(first + 1, second - first - 1), kAnswerCodepage);
  ui_.set_status(kPanelFirmware, "FW " + firmware_);
  ui_.set_status(kPanelBoot, "BOOT " + boot_);

  // The block, with one NAK for a wrong checksum.
  if (link_.write(request_, kWriteMode) != utilities::kResultDone) return channel_failed();
  std::string block;
  if (link_.read_answer(block) != utilities::kResultDone) return channel_failed();
  if (!checksum_matches(block)) {
    if (link_.write(std::string_view(&kNak, 1), kWriteMode) != utilities::kResultDone) return channel_failed();
    if (link_.read_answer(block) != utilities::kResultDone) return channel_failed();
    if (!checksum_matches(block)) {
      ui_.show_message(kTextChecksumError);
      link_.write(std::string_view(&kCan, 1), kWriteMode);
      link_.close();
      return fail_upload(upload_outcome::checksum_failed);
    }
  }
  if (link_.write(std::string_view(&kAck, 1), kWriteMode) != utilities::kResultDone) return channel_failed();
  link_.close();
  block_ = block;

  state_ = prn_form_state::formatting;
  status(kTextFormatting);
  const std::optional<block_frame> frame = split_block(block_);
  if (!frame || frame->header != request_) {
    ui_.show_message(kTextHeaderMismatch);
    status(kTextReady);
    last_upload_ = upload_outcome::header_mismatch;
  } else {
    const build_result built = build_setup_tree(frame->body, tree_);
    identifier_ = built.identifier;
    ui_.set_status(kPanelIdentifier, identifier_);
    for (const setup_node& n : tree_.nodes()) notify(prn_form_change::node_added, n.key);
    if (built.ok) {
      download_enabled_ = true;
      notify(prn_form_change::menus);
      last_upload_ = upload_outcome::tree_built;
    } else {
      format_problem_ = built.reason;
      ui_.show_message(kBadDataFormat);
      last_upload_ = upload_outcome::bad_format;
    }
    status(kTextReady);
  }
  end_busy(prn_form_state::ready);
  // A close request during the upload closes the window now.
  if (end_req_) {
    unload();
    return upload_outcome::cancelled;
  }
  return last_upload_;
}

void prn_form_model::refresh() {
  if (busy_ || closed()) return;
  begin_busy(prn_form_state::uploading);
  download_enabled_ = false;
  notify(prn_form_change::menus);
  tree_.clear();
  selected_.clear();
  identifier_.clear();
  notify(prn_form_change::tree_cleared);
  upload();
}

download_outcome prn_form_model::download() {
  if (busy_ || closed() || !download_enabled_) return download_outcome::none;
  begin_busy(prn_form_state::downloading);
  status(kTextFormatting);
  const std::optional<block_frame> frame = split_block(block_);
  const download_result built = build_download_block(request_, frame ? frame->body : std::string_view(), tree_);
  download_outcome outcome = download_outcome::none;
  std::string message;
  // Ends the download: normal pointer, then the window unloads.
  auto finish = [&](download_outcome o) {
    end_busy(prn_form_state::ready);
    unload();
    return o;
  };
  if (!built.ok) {
    format_problem_ = built.reason;
    ui_.show_message(kBadDataFormat);
    return finish(download_outcome::not_built);
  }

  auto channel_failed = [&] {
    show_channel_error("Raised error ");
    return finish(download_outcome::channel_error);
  };
  status(kTextDownloading);
  if (link_.open() != utilities::kResultDone) return channel_failed();
  if (link_.write(built.block, kWriteMode) != utilities::kResultDone) return channel_failed();
  status(kTextWaitingAnswer);
  std::string first;
  if (link_.read(1, first) != utilities::kResultDone) return channel_failed();
  status(kTextReady);
  if (first[0] == kAnswerAck) {
    std::string second;
    for (;;) {
      status(kTextWaitingAnswer);
      const std::int32_t rc = link_.read(1, second);
      if (rc == utilities::kResultTimeout) {
        if (ui_.ask(kTimeoutQuestion, utilities::box_buttons::retry_cancel, utilities::box_icon::information) ==
            utilities::box_answer::retry) {
          continue;
        }
        return finish(download_outcome::cancelled);
      }
      if (rc != utilities::kResultDone) return channel_failed();
      break;
    }
    status(kTextReady);
    switch (second[0]) {
      case kAnswerAck:
        outcome = download_outcome::stored;
        if (is_full_setup_program(env_.exe_name)) {
          message = std::string(kDownloadedText) +
                    (env_.printer_tag.find('-') != std::string::npos ? kVerifyText : kTransmissionText);
        }
        break;
      case kAnswerNak:
        outcome = download_outcome::id_mismatch;
        message = kTextIdMismatch;
        break;
      case kAnswerBell:
        outcome = download_outcome::memorization_failed;
        message = kTextMemorizationFailed;
        break;
      default:
        outcome = download_outcome::unrecognized;
        message = kTextUnrecognized;
        break;
    }
  } else if (first[0] == kAnswerNak) {
    outcome = download_outcome::checksum_error;
    message = kTextPrinterChecksum;
  } else {
    outcome = download_outcome::unrecognized;
    message = kTextUnrecognized;
  }
  link_.close();
  if (!message.empty()) ui_.show_message(message);
  return finish(outcome);
}

edit_field prn_form_model::before_label_edit(std::string_view key) const {
  const setup_node* n = tree_.find(key);
  return n == nullptr || busy_ ? edit_field{} : label_edit_field(*n);
}

bool prn_form_model::type_in_edit(const edit_field& field, char32_t c, std::size_t current_chars) {
  switch (check_typed(field, c, current_chars)) {
    case typed_key::accept:
      return true;
    case typed_key::refuse_with_beep:
      ui_.beep();
      return false;
    case typed_key::refuse:
      return false;
  }
  return false;
}

bool prn_form_model::paste_in_edit(std::string_view text) {
  if (paste_allowed(text)) return true;
  ui_.beep();
  return false;
}

bool prn_form_model::after_label_edit(std::string_view key, std::string_view text) {
  setup_node* n = tree_.find(key);
  if (n == nullptr || text.empty() || !label_edit_field(*n).allowed) return false;
  const std::string label = n->name + "=" + std::string(text);
  if (label == n->text) return false;
  n->text = label;
  notify(prn_form_change::node_changed, n->key);
  return true;
}

bool prn_form_model::move_selection(const std::string& key) {
  setup_node* chosen = tree_.find(key);
  if (chosen == nullptr || chosen->kind != node_kind::option || chosen->image != std::string_view(kImageUOption)) {
    return false;
  }
  for (const setup_node* sibling : tree_.children(chosen->parent_key)) {
    if (sibling->image != std::string_view(kImageCOption)) continue;
    setup_node* was = tree_.find(sibling->key);
    was->image = kImageUOption;
    notify(prn_form_change::node_changed, was->key);
    break;
  }
  chosen->image = kImageCOption;
  notify(prn_form_change::node_changed, chosen->key);
  return true;
}

bool prn_form_model::key_press(int key_code) {
  if (key_code != kKeySpace) return false;
  return move_selection(selected_);
}

void prn_form_model::mouse_up(bool left_button, int hit_flags) {
  if (left_button && (hit_flags & kHitOnItemIcon) != 0) move_selection(selected_);
}

bool prn_form_model::choose_option(std::string_view key) { return move_selection(std::string(key)); }

int prn_form_model::collapse(std::string_view key) {
  setup_node* n = tree_.find(key);
  if (n == nullptr) return 0;
  n->expanded = false;
  notify(prn_form_change::node_changed, n->key);
  return n->expanded_image.empty() ? kStateBlank : 0;
}

int prn_form_model::expand(std::string_view key) {
  setup_node* n = tree_.find(key);
  if (n == nullptr) return 0;
  n->expanded = true;
  notify(prn_form_change::node_changed, n->key);
  return n->expanded_image.empty() ? kStateCFolder : 0;
}

std::string prn_form_model::apply_setting(std::string_view path, std::string_view value) {
  const setup_node* n = tree_.find(path);
  if (n == nullptr) return "no setting " + std::string(path);
  switch (n->kind) {
    case node_kind::root:
    case node_kind::folder: {
      for (const setup_node* child : tree_.children(n->key)) {
        if (child->kind != node_kind::option || child->name != value) continue;
        if (child->image != std::string_view(kImageCOption)) move_selection(child->key);
        return {};
      }
      return "no option " + std::string(value) + " in " + std::string(path);
    }
    case node_kind::value: {
      const edit_field field = label_edit_field(*n);
      if (!field.allowed) return std::string(path) + " cannot be changed";
      const std::string problem = check_new_value(field, value);
      if (!problem.empty()) return std::string(path) + ": " + problem;
      after_label_edit(n->key, value);
      return {};
    }
    case node_kind::option:
      break;
  }
  return std::string(path) + " is an option: name its folder and the option (FOLDER=OPTION)";
}

bool prn_form_model::query_unload() {
  if (!busy_) return true;
  end_req_ = true;
  return false;
}

void prn_form_model::unload() {
  if (closed()) return;
  if (link_.has_channel()) link_.close();
  link_.drop_channel();
  activated_ = false;
  download_enabled_ = false;
  busy_ = false;
  state_ = prn_form_state::closed;
  notify(prn_form_change::closed);
}

}  // namespace memory
