// The public face of the virtual printer: the link (faults on the byte stream), the capture,
// and serialised access to the machine.
#include "vprinter/virtual_printer.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <exception>
#include <mutex>

#include "machine.h"
#include "paper_png.h"

namespace vprinter {
namespace {

struct fault_name_row {
  fault f;
  std::string_view name;
};
constexpr fault_name_row kFaultNames[] = {
    {fault::cover_open, "cover_open"},     {fault::paper_near_end, "paper_near_end"},
    {fault::paper_out, "paper_out"},       {fault::offline, "offline"},
    {fault::cutter_error, "cutter_error"}, {fault::mute, "mute"},
    {fault::busy, "busy"},                 {fault::slow, "slow"},
    {fault::short_write, "short_write"},   {fault::disconnect, "disconnect"},
    {fault::unrecoverable_error, "unrecoverable_error"},
    {fault::setup_checksum, "setup_checksum"},
    {fault::setup_nak, "setup_nak"},
    {fault::setup_id_mismatch, "setup_id_mismatch"},
    {fault::setup_store_error, "setup_store_error"},
    {fault::setup_store_delay, "setup_store_delay"},
};
constexpr std::size_t kFaultCount = std::size(kFaultNames);

// An append-only file descriptor, closed on destruction.
class capture_file {
 public:
  capture_file() = default;
  explicit capture_file(const std::filesystem::path& path)
      : fd_(path.empty() ? -1 : ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644)) {}
  ~capture_file() {
    if (fd_ >= 0) ::close(fd_);
  }
  capture_file(const capture_file&) = delete;
  capture_file& operator=(const capture_file&) = delete;
  bool open() const { return fd_ >= 0; }
  // Appends all of `bytes`, retrying interrupted and partial writes; false on failure.
  bool append(std::string_view bytes) {
    while (!bytes.empty()) {
      const ssize_t n = ::write(fd_, bytes.data(), bytes.size());
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
  }

 private:
  int fd_ = -1;
};

}  // namespace

std::optional<fault> fault_from_name(std::string_view name) {
  for (const auto& row : kFaultNames)
    if (row.name == name) return row.f;
  return std::nullopt;
}

std::string_view fault_name(fault f) {
  for (const auto& row : kFaultNames)
    if (row.f == f) return row.name;
  return "?";
}

struct virtual_printer::impl {
  explicit impl(const config& cfg) : m(cfg), file(cfg.capture_file) {
    if (!cfg.capture_file.empty() && !file.open())
      m.note_at(log_entry::kind::note, 0, "capture file cannot be opened: " + cfg.capture_file.string());
  }

  mutable std::mutex mutex;
  detail::machine m;
  mutable detail::paper_png png;  // the paper's PNG encoding, kept between writes
  capture_file file;
  bool file_failed = false;
  std::string capture;
  bool faults[kFaultCount] = {};
  int values[kFaultCount] = {};

  bool on(fault f) const { return faults[static_cast<std::size_t>(f)]; }
  int value(fault f) const { return values[static_cast<std::size_t>(f)]; }

  // Mirrors the faults that are printer conditions into the machine.
  void apply() {
    m.cover_open = on(fault::cover_open);
    m.near_end = on(fault::paper_near_end);
    m.paper_out = on(fault::paper_out);
    m.offline_switch = on(fault::offline);
    m.cutter_error = on(fault::cutter_error);
    m.unrecoverable_error = on(fault::unrecoverable_error);
    m.mute = on(fault::mute);
    if (!on(fault::setup_checksum)) m.setup_corrupt_left = 0;
    m.setup_refuse_checksum = on(fault::setup_nak);
    m.setup_refuse_identifier = on(fault::setup_id_mismatch);
    m.setup_store_fails = on(fault::setup_store_error);
    m.setup_store_delay_ms = on(fault::setup_store_delay) ? std::max(0, value(fault::setup_store_delay)) : 0;
    m.condition_changed();
  }
};

virtual_printer::virtual_printer(config cfg) : impl_(std::make_unique<impl>(cfg)) {}
virtual_printer::~virtual_printer() = default;

accept_result virtual_printer::accept(std::string_view bytes) {
  std::lock_guard lock(impl_->mutex);
  auto& s = *impl_;
  accept_result r;
  if (s.on(fault::disconnect)) {
    r.status = link_status::down;
    return r;
  }
  if (bytes.empty()) return r;
  // A full receive buffer still lets real-time requests through, as the printer reads them at once.
  // The buffer is full under the busy fault, and when the data held while off line reaches its
  // limit.
  const bool full = s.on(fault::busy) || s.m.held_bytes() >= s.m.cfg().held_limit_bytes;
  if (full && !detail::is_realtime_only(bytes)) {
    r.status = link_status::busy;
    return r;
  }
  std::size_t n = bytes.size();
  if (s.on(fault::short_write)) n = std::min(n, static_cast<std::size_t>(std::max(1, s.value(fault::short_write))));
  const std::string_view taken = bytes.substr(0, n);
  if (s.m.cfg().keep_capture) s.capture.append(taken);
  if (s.file.open() && !s.file_failed && !s.file.append(taken)) {
    s.file_failed = true;
    s.m.note(log_entry::kind::note, "capture file write failed; the rest is not written");
  }
  // Recovery by DLE ENQ may clear a fault that the host injected as a printer condition.
  try {
    s.m.receive(taken);
  } catch (const std::exception& e) {
    // A command that needs more memory than there is: it is dropped, and the printer goes on
    // with the next bytes in a consistent state.
    s.m.drop_partial_command();
    s.m.note(log_entry::kind::note, std::string("command dropped: ") + e.what());
  }
  if (!s.m.cutter_error) s.faults[static_cast<std::size_t>(fault::cutter_error)] = false;
  if (s.m.setup_corrupt_left == 0) s.faults[static_cast<std::size_t>(fault::setup_checksum)] = false;
  r.accepted = n;
  if (s.on(fault::slow))
    r.delay = std::chrono::microseconds(static_cast<long long>(n) * std::max(0, s.value(fault::slow)));
  return r;
}

read_result virtual_printer::read(std::size_t max) {
  std::lock_guard lock(impl_->mutex);
  read_result r;
  if (impl_->on(fault::disconnect)) {
    r.status = link_status::down;
    return r;
  }
  impl_->m.release_due_answer();
  auto& a = impl_->m.answers;
  const std::size_t n = std::min(max, a.size());
  r.bytes = a.substr(0, n);
  a.erase(0, n);
  return r;
}

std::size_t virtual_printer::answer_bytes_pending() const {
  std::lock_guard lock(impl_->mutex);
  impl_->m.release_due_answer();
  return impl_->m.answers.size();
}

void virtual_printer::inject_fault(fault f, int value) {
  std::lock_guard lock(impl_->mutex);
  impl_->faults[static_cast<std::size_t>(f)] = true;
  impl_->values[static_cast<std::size_t>(f)] = value;
  if (f == fault::cutter_error) impl_->m.failed_recoveries_left = std::max(0, value);
  if (f == fault::setup_checksum) impl_->m.setup_corrupt_left = std::max(1, value);
  impl_->apply();
}

void virtual_printer::clear_fault(fault f) {
  std::lock_guard lock(impl_->mutex);
  impl_->faults[static_cast<std::size_t>(f)] = false;
  impl_->apply();
}

void virtual_printer::clear_faults() {
  std::lock_guard lock(impl_->mutex);
  for (auto& f : impl_->faults) f = false;
  impl_->apply();
}

bool virtual_printer::has_fault(fault f) const {
  std::lock_guard lock(impl_->mutex);
  return impl_->on(f);
}

std::string virtual_printer::capture() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->capture;
}

std::vector<log_entry> virtual_printer::log() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->m.log;
}

std::size_t virtual_printer::unknown_count() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->m.unknowns;
}

bool virtual_printer::drawer_open() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->m.drawer_open();
}

void virtual_printer::close_drawer() {
  std::lock_guard lock(impl_->mutex);
  impl_->m.close_drawer();
}

std::vector<drawer_pulse> virtual_printer::drawer_pulses() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->m.pulses;
}

bitmap virtual_printer::paper() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->m.print.paper_image();
}

bitmap virtual_printer::red_paper() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->m.print.red_paper_image();
}

bool virtual_printer::write_png(const std::filesystem::path& path, std::string* error) const {
  std::lock_guard lock(impl_->mutex);
  const auto& print = impl_->m.print;
  // Red dots (two-colour model) go through the colour writer; black paper keeps its encoded rows.
  if (const bitmap red = print.red_paper_image(); red.count() > 0) {
    bitmap image = print.paper_image();
    if (image.height() == 0) image = bitmap(image.width() > 0 ? image.width() : 1, 1);  // blank paper
    return vprinter::write_png(image, red, path, error);
  }
  // The paper down to the feed position; blank paper is one white row.
  const int height = std::max({print.paper().height(), print.feed_position(), 1});
  return impl_->png.write(print.paper(), print.dropped_dots(), print.feed_position(), height, path, error);
}

display_state virtual_printer::display() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->m.display.state;
}

std::vector<std::string> virtual_printer::display_text() const { return detail::display_text_lines(display()); }

bool virtual_printer::write_display_png(const std::filesystem::path& path, std::string* error) const {
  const display_state shown = display();
  const auto font = detail::cell_font::for_cell(impl_->m.cfg().font_dir, impl_->m.cfg().font_a.width,
                                                impl_->m.cfg().font_a.height);
  return vprinter::write_png(detail::render_display(shown, *font), path, error);
}

printer_state virtual_printer::state() const {
  std::lock_guard lock(impl_->mutex);
  const auto& m = impl_->m;
  const auto& md = m.print.modes;
  printer_state s;
  s.page_mode = m.print.page_mode();
  s.font = md.font;
  s.code_page_table = md.code_table;
  s.alignment = md.alignment;
  s.line_spacing_dots = md.line_spacing;
  s.bold = md.bold;
  s.underline = md.underline;
  s.reverse = md.reverse;
  s.upside_down = md.upside_down;
  s.rotated_90 = md.rotate90;
  s.width_scale = md.width_scale;
  s.height_scale = md.height_scale;
  s.peripheral = m.peripheral;
  s.stored_images = static_cast<int>(m.stored_images.size());
  for (const auto& [key, img] : m.graphics) s.graphics_keys.push_back(key);
  s.cuts = m.print.cuts();
  s.lines_printed = m.print.lines_printed();
  s.skipped_commands = static_cast<long long>(m.skipped);
  return s;
}

void virtual_printer::new_host() {
  std::lock_guard lock(impl_->mutex);
  if (impl_->m.drop_partial_command()) {
    impl_->m.note(log_entry::kind::note, "new host: the last host's unfinished command was dropped");
  }
}

void virtual_printer::power_cycle() {
  std::lock_guard lock(impl_->mutex);
  impl_->m.reset();
  impl_->apply();
}

}  // namespace vprinter
