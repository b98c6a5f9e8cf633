// The logo window's model: the logo list and its buttons, adding and converting pictures, and the
// printer operations with their status texts, messages and questions.
#include "logo/logo_form.h"

#include <algorithm>
#include <cctype>
#include <utility>

#include "platform/com.h"

namespace logo {
namespace {

using utilities::box_answer;
using utilities::box_buttons;
using utilities::box_icon;
using utilities::kResultBusy;
using utilities::kResultDone;
using utilities::kResultTimeout;

constexpr char kCr = '\r';
// The processing wait asks only once this long has passed without the printer's echo.
constexpr auto kProcessingPatience = std::chrono::seconds(8);
// The deletion wait's progress bar fills in this time; then it asks.
constexpr auto kDeletionPatience = std::chrono::seconds(8);
// Time-outs of the waits, in milliseconds.
constexpr int kEchoWriteTimeoutMs = 200;
constexpr int kEchoReadTimeoutMs = 50;

// A decimal number of a memory answer: the head (0x37 and the function's byte) is skipped and
// the digits run to the NUL. Anything else is no number.
std::optional<long> memory_number(const std::string& answer) {
  std::string_view text(answer);
  if (text.size() >= 2 && static_cast<unsigned char>(text[0]) == 0x37) text.remove_prefix(2);
  if (const std::size_t nul = text.find('\0'); nul != std::string_view::npos) text = text.substr(0, nul);
  if (text.empty() || text.size() > 9) return std::nullopt;
  long value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  return value;
}

// A label's text as a number (nullopt for "- - - -", "?" and the like).
std::optional<long> label_number(const std::string& label) {
  if (label.empty() || label.size() > 9 || !std::all_of(label.begin(), label.end(), [](char c) {
        return c >= '0' && c <= '9';
      })) {
    return std::nullopt;
  }
  return std::stol(label);
}

// The bytes of `data` as a script group "<n,n,...>", so that any byte (NUL, CR) reaches the
// printer through SendScript unchanged.
std::string script_bytes(std::string_view data) {
  std::string out = "<";
  for (std::size_t i = 0; i < data.size(); ++i) {
    if (i > 0) out += ',';
    out += std::to_string(static_cast<unsigned char>(data[i]));
  }
  return out + ">";
}

// The keys of a key-code list: the data of its blocks, each ended by NUL, two characters a key.
std::vector<std::string> stored_keys(const std::string& blocks) {
  std::string list;
  for (const char c : blocks) {
    if (c != '\0') list += c;
  }
  std::vector<std::string> keys;
  for (std::size_t k = 0; k + 2 <= list.size(); k += 2) keys.push_back(list.substr(k, 2));
  return keys;
}

std::string plane_text(const raster& r) {
  return std::string(reinterpret_cast<const char*>(r.bytes.data()), r.bytes.size());
}

}  // namespace

storage_family storage_family_of(int id) {
  if (is_nv_graphics_family(id)) return storage_family::nv_graphics;
  if (is_bit_image_family(id)) return storage_family::nv_bit_image;
  return storage_family::none;
}

std::string logo_entry::state() const { return stored ? stored_state(key) : new_state(key); }

std::string logo_entry::name() const { return file.empty() ? state() : file.filename().string(); }

// The pictures of one entry: the loaded source and the converted preview.
struct logo_form_model::picture_slot {
  std::optional<dib> source;
  std::optional<dib> preview;
};

logo_form_model::logo_form_model(utilities::user_interface& ui, utilities::printer_link& link,
                                 logo_form_environment env)
    : ui_(ui), link_(link), env_(std::move(env)) {
  update_buttons();
}

logo_form_model::~logo_form_model() = default;

std::string logo_form_model::caption() const { return env_.title + " " + env_.model; }

std::chrono::steady_clock::time_point logo_form_model::now() const {
  return env_.clock ? env_.clock() : std::chrono::steady_clock::now();
}

void logo_form_model::status(const std::string& text) { ui_.set_status(utilities::kPanelProgramStatus, text); }

// ---------------------------------------------------------------------------------------------
// The list, its pictures and its buttons

const dib* logo_form_model::source_picture(std::size_t i) const {
  if (i >= pictures_.size() || !pictures_[i]->source) return nullptr;
  return &*pictures_[i]->source;
}

const dib* logo_form_model::preview_picture(std::size_t i) const {
  if (i >= pictures_.size() || !pictures_[i]->preview) return nullptr;
  return &*pictures_[i]->preview;
}

std::vector<raster> logo_form_model::rasters_of(std::size_t i) const {
  const dib* preview = preview_picture(i);
  if (preview == nullptr) return {};
  if (family() == storage_family::nv_bit_image) return {black_dots(*preview)};
  const logo_entry& e = entries_[i];
  if (e.colour_table.empty()) return {};
  std::string error;
  const std::optional<colour_table> table = colour_table::read(colour_table_path(env_.app_path, e.colour_table), error);
  if (!table) return {};
  return logo_planes(*preview, *table, e.settings.colour_mode);
}

printer_planes logo_form_model::planes_of(std::size_t i) const {
  printer_planes out;
  for (const raster& r : rasters_of(i)) {
    out.width = r.width;
    out.height = r.height;
    out.planes.push_back(plane_text(r));
  }
  return out;
}

void logo_form_model::set_selected(std::size_t i, bool selected) {
  if (i >= entries_.size()) return;
  entries_[i].selected = selected;
  update_buttons();
}

void logo_form_model::select_all() {
  for (logo_entry& e : entries_) e.selected = true;
  update_buttons();
}

void logo_form_model::select_none() {
  for (logo_entry& e : entries_) e.selected = false;
  update_buttons();
}

void logo_form_model::update_buttons() {
  const bool any = std::any_of(entries_.begin(), entries_.end(), [](const logo_entry& e) { return e.selected; });
  const bool new_one =
      std::any_of(entries_.begin(), entries_.end(), [](const logo_entry& e) { return e.selected && !e.stored; });
  buttons_.del = any;
  buttons_.download = new_one;
  buttons_.print = new_one;
}

void logo_form_model::remove_entry(std::size_t i) {
  entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(i));
  pictures_.erase(pictures_.begin() + static_cast<std::ptrdiff_t>(i));
}

void logo_form_model::add_pictures(const std::vector<std::filesystem::path>& files) {
  if (busy_) return;
  for (const std::filesystem::path& file : files) {
    const std::string text = file.string();
    if (!is_bmp_file_name(text)) {
      ui_.show_message(invalid_file_text(text));
      continue;
    }
    if (entries_.size() >= kMaxLogoEntries) {
      ui_.show_message(std::string(kTooManyLogos));
      return;
    }
    load_result loaded = load_bitmap_file(file);
    if (!loaded.picture) {
      ui_.show_message(loaded.message.empty() ? not_loaded_text(text) : loaded.message);
      continue;
    }
    logo_entry e;
    e.file = file;
    const std::vector<paper_width> widths = paper_widths(env_.id);
    if (!widths.empty()) e.settings.paper_width_dots = widths.front().dots;
    e.settings.colour_mode = colour_modes(env_.id).front().code;
    std::vector<std::string> keys;
    for (const logo_entry& other : entries_) keys.push_back(other.key);
    e.key = next_key(keys);
    entries_.push_back(std::move(e));
    auto slot = std::make_unique<picture_slot>();
    slot->source = std::move(loaded.picture);
    pictures_.push_back(std::move(slot));
    convert(entries_.size() - 1);
  }
  update_buttons();
}

void logo_form_model::convert(std::size_t i) {
  logo_entry& e = entries_[i];
  picture_slot& slot = *pictures_[i];
  e.has_preview = false;
  e.colour_table.clear();
  slot.preview.reset();
  if (!slot.source) return;
  const logo_settings settings{e.settings.paper_width_dots, e.settings.colour_mode, e.settings.diffusion,
                               e.settings.fit};
  conversion_result result;
  if (env_.convert) {
    result = env_.convert(*slot.source, settings);
  } else if (env_.library != nullptr) {
    result = convert_logo(*env_.library, *slot.source, settings);
  } else {
    result.message = preview_failed_text();
  }
  if (!result.preview) {
    ui_.show_message(result.message.empty() ? preview_failed_text() : result.message);
    return;
  }
  slot.preview = std::move(result.preview);
  e.colour_table = std::move(result.colour_table);
  e.has_preview = true;
}

void logo_form_model::set_settings(std::size_t i, const entry_settings& settings) {
  if (busy_ || i >= entries_.size()) return;
  entries_[i].settings = settings;
  convert(i);
}

bool logo_form_model::set_key(std::size_t i, std::string_view key) {
  if (busy_ || i >= entries_.size() || entries_[i].stored || key.size() != 2) return false;
  for (const char c : key) {
    if (c < 0x20 || c > 0x7E) return false;
  }
  entries_[i].key = std::string(key);
  return true;
}

// ---------------------------------------------------------------------------------------------
// Operations' frame

bool logo_form_model::begin_operation() {
  if (busy_) return false;
  busy_ = true;
  ui_.set_busy_pointer(true);
  return true;
}

void logo_form_model::end_operation() {
  progress_ = 0;
  busy_ = false;
  ui_.set_busy_pointer(false);
  update_buttons();
}

void logo_form_model::show_channel_error(const std::string& number_prefix) {
  const utilities::ErrorRecord e = link_.last_error();
  ui_.show_message(number_prefix + std::to_string(e.Number) + " by " + e.Source + kCr +
                   "Extended error description: " + e.Description);
}

bool logo_form_model::open_channel() {
  if (link_.open() == kResultDone) return true;
  status("Printer error...");
  show_channel_error("Raised error ");
  return false;
}

bool logo_form_model::begin_printer_operation(const std::string& preparing) {
  if (!begin_operation()) return false;
  status(preparing);
  if (!open_channel()) {
    status("Ready...");
    end_operation();
    return false;
  }
  status("Printer ready...");
  return true;
}

void logo_form_model::end_printer_operation(bool refresh) {
  if (refresh) {
    status("Updating...");
    refresh_memory();
    update_buttons();
  }
  link_.close();
  status("Ready...");
  end_operation();
}

// ---------------------------------------------------------------------------------------------
// Start inquiry and memory

bool logo_form_model::start_inquiry() {
  const int id = env_.id;
  if (id != 46 && id != 36 && id != 161 && id != 10) {
    status("Printer ready...");
    buttons_.print_all = true;
    return true;
  }
  // Not begin_printer_operation: the inquiry shows "Printer ready..." only once it has read the
  // printer, and a channel that does not open leaves its error in the status bar (the window
  // unloads).
  if (!begin_operation()) return false;
  status("Retrieving printer information...");
  if (!open_channel()) {
    end_operation();
    return false;
  }
  buttons_.print_all = true;
  if (id == 161 || id == 10) {
    // The printer type tells whether the printer can print pictures from memory (bit 2).
    std::string answer;
    bool able = false;
    if (link_.write_all(commands::printer_type()) == kResultDone) {
      if (link_.read(1, answer) == kResultDone && !answer.empty()) {
        able = (static_cast<unsigned char>(answer[0]) & 0x04) != 0;
      } else {
        show_channel_error("Raised error ");
      }
    }
    if (!able) {
      buttons_.print_visible = false;
      buttons_.print_all = false;
    }
  }
  if (id != 10) {
    refresh_memory();
    if (const std::optional<std::string> list = link_.send_and_read(commands::key_list(), false)) {
      for (const std::string& key : stored_keys(*list)) {
        if (entries_.size() >= kMaxLogoEntries) break;
        logo_entry e;
        e.key = key;
        e.stored = true;
        entries_.push_back(std::move(e));
        pictures_.push_back(std::make_unique<picture_slot>());
      }
    }
  }
  status("Printer ready...");
  end_printer_operation(false);
  return true;
}

bool logo_form_model::refresh_memory() {
  if (env_.id != 46 && env_.id != 36 && env_.id != 161) return false;
  std::optional<long> total;
  std::optional<long> free;
  if (const auto answer = link_.send_and_read(commands::total_memory(), true)) total = memory_number(*answer);
  if (total) {
    if (const auto answer = link_.send_and_read(commands::free_memory(), true)) free = memory_number(*answer);
  }
  if (!total || !free) {
    memory_free_ = std::string(kMemoryFailed);
    memory_used_ = std::string(kMemoryFailed);
    return false;
  }
  memory_free_ = std::to_string(*free);
  memory_used_ = std::to_string(*total - *free);
  return true;
}

// ---------------------------------------------------------------------------------------------
// Waits

std::int32_t logo_form_model::read_echo(std::string& byte) {
  platform::dispatch_client channel(link_.channel());
  const long saved = channel.get("ReadTimeOut").value.long_or(0);
  channel.put("ReadTimeOut", kEchoReadTimeoutMs);
  const std::int32_t rc = link_.read(1, byte);
  channel.put("ReadTimeOut", saved);
  return rc;
}

bool logo_form_model::processing_wait() {
  status("Waiting for graphics data to be processed...");
  const std::uint8_t id = static_cast<std::uint8_t>(env_.id);
  // The echo request, with a short write time-out so that a stuck printer is noticed at once.
  for (;;) {
    platform::dispatch_client channel(link_.channel());
    const long saved = channel.get("WriteTimeOut").value.long_or(0);
    channel.put("WriteTimeOut", kEchoWriteTimeoutMs);
    const std::int32_t rc = link_.write(commands::processing_echo(), 2);
    channel.put("WriteTimeOut", saved);
    if (rc == kResultDone) break;
    if (rc != kResultBusy && rc != kResultTimeout) {
      show_channel_error("Raised error ");
      return false;
    }
    const std::string reason =
        rc == kResultBusy ? "Error sending data: printer busy." : "Timeout sending data: printer offline?";
    if (ui_.ask(reason, box_buttons::retry_cancel, box_icon::information) != box_answer::retry) return false;
  }
  // The echo: the identification byte once everything before it is processed.
  const auto start = now();
  for (;;) {
    if (ui_.end_requested()) return false;
    std::string byte;
    const std::int32_t rc = read_echo(byte);
    if (rc == kResultDone) {
      if (!byte.empty() && static_cast<std::uint8_t>(byte[0]) == id) {
        status("Printer ready...");
        return true;
      }
      continue;
    }
    if (rc != kResultTimeout) {
      show_channel_error("Raised error ");
      return false;
    }
    if (now() - start >= kProcessingPatience &&
        ui_.ask("Timeout waiting for graphics data to be processed...", box_buttons::retry_cancel,
                box_icon::information) != box_answer::retry) {
      return false;
    }
    ui_.pump(0);
  }
}

bool logo_form_model::deletion_wait() {
  const std::uint8_t id = static_cast<std::uint8_t>(env_.id);
  auto start = now();
  progress_ = 0;
  for (;;) {
    if (ui_.end_requested()) return false;
    std::string byte;
    const std::int32_t rc = read_echo(byte);
    if (rc == kResultDone) {
      if (!byte.empty() && static_cast<std::uint8_t>(byte[0]) == id) {
        progress_ = 100;
        return true;
      }
      continue;
    }
    if (rc != kResultTimeout) {
      const utilities::ErrorRecord e = link_.last_error();
      ui_.show_message("Raise error " + std::to_string(e.Number) + " on delete memory logo(s).\r\n" +
                       "Extended error description: " + e.Description);
      return false;
    }
    const auto waited = now() - start;
    progress_ = static_cast<int>(std::min<long long>(
        100, std::chrono::duration_cast<std::chrono::milliseconds>(waited).count() * 100 /
                 std::chrono::duration_cast<std::chrono::milliseconds>(kDeletionPatience).count()));
    if (waited >= kDeletionPatience) {
      if (ui_.ask("Timeout waiting for logo deletion: printer offline?", box_buttons::retry_cancel,
                  box_icon::information) != box_answer::retry) {
        return false;
      }
      start = now();
      progress_ = 0;
    }
    ui_.pump(0);
  }
}

// ---------------------------------------------------------------------------------------------
// Download

std::optional<long> logo_form_model::free_memory_for_download() {
  std::optional<long> free = label_number(memory_free_);
  while (!free) {
    if (refresh_memory()) {
      free = label_number(memory_free_);
      break;
    }
    if (ui_.ask(std::string("Error retrieving memory info. ") + kCr + "Retry?", box_buttons::retry_cancel,
                box_icon::question) != box_answer::retry) {
      return std::nullopt;
    }
  }
  return free;
}

bool logo_form_model::download_bit_images(const std::vector<std::size_t>& chosen, bool& all) {
  // Every image is defined again together; the numbers follow the list order. Entries without
  // a preview cannot be sent.
  std::vector<raster> images;
  std::vector<std::size_t> sent;
  for (const std::size_t i : chosen) {
    std::vector<raster> planes = rasters_of(i);
    if (planes.empty()) continue;
    images.push_back(std::move(planes[0]));
    sent.push_back(i);
  }
  all = sent.size() == chosen.size();
  if (images.empty()) return true;
  if (link_.write_all(commands::bit_images_start(static_cast<int>(images.size()))) != kResultDone) return false;
  for (std::size_t n = 0; n < images.size(); ++n) {
    status("Downloading " + entries_[sent[n]].name() + " as logo" + std::to_string(n + 1) + "...");
    if (link_.write_all(commands::bit_image_size(images[n])) != kResultDone) return false;
    const std::string columns = commands::bit_image_columns(images[n]);
    const std::size_t column_bytes = (static_cast<std::size_t>(images[n].height) + 7) / 8;
    for (std::size_t at = 0; at < columns.size(); at += column_bytes) {
      if (link_.write_all(std::string_view(columns).substr(at, column_bytes)) != kResultDone) return false;
    }
  }
  return processing_wait();
}

bool logo_form_model::download_graphics(const std::vector<std::size_t>& chosen, bool& all) {
  for (const std::size_t i : chosen) {
    logo_entry& e = entries_[i];
    status("Sending Logo(" + e.key + ") graphics data...");
    const std::vector<raster> planes = rasters_of(i);
    // An entry without preview or colour table cannot be sent.
    if (planes.empty()) {
      all = false;
      continue;
    }
    const bool colour_variant = env_.id == 36 && e.settings.colour_mode == kModeColour;
    const std::size_t k = planes[0].bytes.size();
    const std::uint32_t p = colour_variant
                                ? commands::define_colour_parameter_count(k)
                                : commands::define_parameter_count(static_cast<int>(planes.size()), k);
    const std::optional<long> free = free_memory_for_download();
    if (!free) return false;
    if (static_cast<long>(p) > *free) {
      if (ui_.ask(std::string("Not enough space in memory for this logo.") + kCr + "Do you want to try the next?",
                  box_buttons::ok_cancel, box_icon::question) != box_answer::ok) {
        return false;
      }
      all = false;
      continue;
    }
    const std::string header = colour_variant ? commands::define_colour_header(e.key, planes[0].width, planes[0].height)
                                              : commands::define_header(e.key, static_cast<int>(planes.size()),
                                                                        planes[0].width, planes[0].height);
    if (link_.write_all(header) != kResultDone) return false;
    for (std::size_t b = 0; b < planes.size(); ++b) {
      if (link_.write_all(std::string(1, static_cast<char>('1' + b))) != kResultDone) return false;
      if (link_.write_all(plane_text(planes[b])) != kResultDone) return false;
    }
    if (!processing_wait()) return false;
    e.stored = true;
    // The free amount shown must follow what was stored, for the next entry's check.
    refresh_memory();
  }
  return true;
}

bool logo_form_model::download() {
  std::vector<std::size_t> chosen;
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    if (entries_[i].selected && !entries_[i].stored) chosen.push_back(i);
  }
  if (!begin_printer_operation("Preparing to download logo(s)...")) return false;
  bool all = true;
  bool completed = false;
  if (family() == storage_family::nv_bit_image) {
    completed = download_bit_images(chosen, all);
  } else if (family() == storage_family::nv_graphics) {
    completed = download_graphics(chosen, all);
  }
  // An operation that ended early closes the channel without the memory refresh.
  end_printer_operation(completed);
  return completed && all;
}

// ---------------------------------------------------------------------------------------------
// Print

bool logo_form_model::print_end() {
  const int id = env_.id;
  const std::string end = id == 161 || id == 10 ? std::string(9, '\n') : commands::feed_and_cut();
  return link_.SendScript(false, script_bytes(end)) == 0;
}

bool logo_form_model::print_stored_keys(const std::vector<std::string>& keys) {
  if (keys.empty()) return true;
  if (link_.SendScript(false, script_bytes(commands::default_print_mode())) != 0) return false;
  for (const std::string& key : keys) {
    status("Printing logo(s)...");
    if (link_.SendScript(false, "Logo " + script_bytes(key + "\n" + commands::print_stored(key))) != 0) return false;
  }
  return true;
}

bool logo_form_model::print() {
  if (!begin_printer_operation("Preparing to print logo(s)...")) return false;
  bool ok = true;
  std::vector<std::string> stored;
  for (std::size_t i = 0; ok && i < entries_.size(); ++i) {
    const logo_entry& e = entries_[i];
    if (!e.selected) continue;
    if (e.stored) {
      stored.push_back(e.key);
      continue;
    }
    status("Sending graphics data...");
    const std::vector<raster> planes = rasters_of(i);
    if (planes.empty()) {
      ok = false;
      break;
    }
    if (family() == storage_family::nv_bit_image) {
      ok = link_.write_all(commands::print_raster(planes[0])) == kResultDone;
      continue;
    }
    for (std::size_t b = 0; ok && b < planes.size(); ++b) {
      ok = link_.write_all(commands::print_buffer_picture(static_cast<char>('1' + b), planes[b])) == kResultDone;
    }
    ok = ok && link_.SendScript(false, script_bytes(commands::print_buffer())) == 0;
  }
  ok = ok && print_stored_keys(stored) && print_end();
  end_printer_operation(false);
  return ok;
}

bool logo_form_model::print_all() {
  if (!begin_printer_operation("Preparing to print logo(s)...")) return false;
  bool ok = false;
  if (family() == storage_family::nv_bit_image) {
    // Every number the printer may hold, whatever is stored.
    std::string script;
    for (int n = 1; n <= 255; ++n) script += script_bytes(commands::print_bit_image(n));
    script += script_bytes(env_.id == 32 ? commands::feed_and_cut() : std::string(9, '\n'));
    ok = link_.SendScript(false, script) == 0;
  } else if (const std::optional<std::string> answer = link_.send_and_read(commands::key_list(), false)) {
    ok = print_stored_keys(stored_keys(*answer)) && print_end();
  }
  end_printer_operation(false);
  return ok;
}

// ---------------------------------------------------------------------------------------------
// Delete

bool logo_form_model::delete_selected() {
  std::vector<std::size_t> chosen;
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    if (entries_[i].selected) chosen.push_back(i);
  }
  if (busy_ || chosen.empty()) return false;
  const std::string question =
      chosen.size() == 1 ? "Are you sure you want to delete " + entries_[chosen[0]].name() + "?"
                         : "Are you sure you want to delete these" + std::to_string(chosen.size()) + " logos?";
  if (ui_.ask(question, box_buttons::yes_no, box_icon::question) != box_answer::yes) return false;
  if (!begin_printer_operation("Preparing for deletion...")) return false;
  bool ok = true;
  // The entries that went are removed afterwards, from the last, so that indexes stay valid.
  std::vector<std::size_t> gone;
  for (const std::size_t i : chosen) {
    const logo_entry& e = entries_[i];
    status("Deleting " + e.name() + "...");
    if (e.stored) {
      if (link_.write_all(commands::delete_logo(e.key) + commands::processing_echo()) != kResultDone ||
          !deletion_wait()) {
        ok = false;
        break;
      }
    }
    gone.push_back(i);
  }
  for (auto it = gone.rbegin(); it != gone.rend(); ++it) remove_entry(*it);
  end_printer_operation(ok);
  return ok;
}

bool logo_form_model::delete_all() {
  if (busy_) return false;
  if (ui_.ask("Are you sure you want to delete all stored logos?", box_buttons::yes_no, box_icon::question) !=
      box_answer::yes) {
    return false;
  }
  if (!begin_printer_operation("Preparing for deletion...")) return false;
  std::string command;
  if (family() == storage_family::nv_bit_image) {
    status("Clearing memory...");
    command = commands::clear_bit_images();
  } else {
    status("Deleting logo(s)...");
    command = commands::delete_all();
  }
  const bool ok =
      link_.write_all(command + commands::processing_echo()) == kResultDone && deletion_wait();
  if (ok) {
    for (std::size_t i = entries_.size(); i-- > 0;) {
      if (entries_[i].stored) remove_entry(i);
    }
  }
  end_printer_operation(ok);
  return ok;
}

}  // namespace logo
