// The "sim:" transport: a virtual printer running in this process, one per URI, shared by every
// channel opened on it, with the printer's link faults turned into transport results.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "monitor/sim.h"
#include "monitor/uri_text.h"
#include "platform/replace_file.h"

namespace monitor {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

// How often a read looks for answers while it waits.
constexpr milliseconds kReadPoll{1};
// How often a write offers its bytes again to a printer whose buffer is full.
constexpr milliseconds kBusyPoll{5};
// Bytes handed over at a time to a slow printer, so a time-out can end the transfer part way.
constexpr std::size_t kSlowPiece = 16;
// Largest fault value accepted (microseconds per byte, or bytes per write).
constexpr int kMaxFaultValue = 1000000;

using uri_text::lower;
using uri_text::number_form;
using uri_text::parse_number;
using uri_text::in_quotes;

// A point in time `timeout_ms` from now; a negative time-out never passes.
class deadline {
 public:
  explicit deadline(int timeout_ms)
      : unlimited_(timeout_ms < 0), end_(steady_clock::now() + milliseconds(std::max(timeout_ms, 0))) {}
  bool expired() const { return !unlimited_ && steady_clock::now() >= end_; }
  // Time left, at most `cap`.
  steady_clock::duration left(steady_clock::duration cap) const {
    if (unlimited_) return cap;
    return std::clamp(end_ - steady_clock::now(), steady_clock::duration::zero(), cap);
  }

 private:
  bool unlimited_;
  steady_clock::time_point end_;
};

// What a sim URI asks for.
struct sim_settings {
  vprinter::config config;
  std::vector<std::pair<vprinter::fault, int>> faults;
  std::string capture;  // written when the last channel closes
  std::string render;
};

// One "fault" list item: NAME or NAME=VALUE (NAME:VALUE also reads well inside a URI).
std::string read_fault(std::string_view item, sim_settings& out) {
  const std::size_t split = item.find_first_of("=:");
  const std::string name = lower(item.substr(0, split));
  const std::optional<vprinter::fault> f = vprinter::fault_from_name(name);
  if (!f) {
    return "fault " + in_quotes(name) +
           " is unknown (known: cover_open, paper_near_end, paper_out, offline, cutter_error, "
           "unrecoverable_error, "
           "mute, busy, slow, short_write, disconnect, setup_checksum, setup_nak, setup_id_mismatch, "
           "setup_store_error, setup_store_delay)";
  }
  int value = 0;
  if (split != std::string_view::npos) {
    const std::optional<int> number =
        parse_number(item.substr(split + 1), 0, kMaxFaultValue, number_form::decimal_or_hex);
    if (!number) return "fault value in " + in_quotes(item) + " is not a number from 0 to 1000000";
    value = *number;
  }
  out.faults.emplace_back(*f, value);
  return {};
}

// Reads the options of a parsed sim URI; returns an error text or "".
std::string read_settings(const device_uri& uri, sim_settings& out) {
  for (const auto& [key, value] : uri.options) {
    if (key == "model") {
      if (value.empty()) return "model needs a name";
      out.config.model_name = value;
    } else if (key == "id") {
      const std::optional<int> id = parse_number(value, 0, 255, number_form::decimal_or_hex);
      if (!id) return "id " + in_quotes(value) + " is not a byte (0 to 255, or 0x00 to 0xFF)";
      out.config.model_id = static_cast<std::uint8_t>(*id);
    } else if (key == "protocol") {
      if (value != "1" && value != "2") return "protocol " + in_quotes(value) + " is not 1 or 2";
      out.config.protocol_kind = value == "1" ? 1 : 2;
    } else if (key == "capture" || key == "render") {
      // A relative path would depend on the working folder of whichever program opens the port.
      if (value.empty() || value.front() != '/') {
        return key + " " + in_quotes(value) + " is not an absolute path";
      }
      (key == "capture" ? out.capture : out.render) = value;
    } else if (key == "fault") {
      for (const std::string_view item : uri_text::split_items(value, ",")) {
        if (std::string error = read_fault(item, out); !error.empty()) return error;
      }
    } else {
      return "option " + in_quotes(key) + " is unknown (sim takes model, id, protocol, capture, render, fault)";
    }
  }
  return {};
}

// One virtual printer and the channels open on it.
struct sim_entry {
  std::unique_ptr<vprinter::virtual_printer> printer;
  std::string capture;
  std::string render;
  int open_channels = 0;
  bool files_written = false;
  std::size_t captured_when_written = 0;  // bytes received when the files were last written
};

// The printers of this process, by canonical URI text.
struct sim_state {
  std::mutex mutex;
  std::map<std::string, sim_entry, std::less<>> printers;
};

}  // namespace
}  // namespace monitor

// Exported by name (and from executables through --export-dynamic-symbol) so that every copy of
// this code in the process (a program and the monitor library it loads) shares one table of
// printers. The version in the name changes whenever sim_state's layout does. Never destroyed:
// channels may still close at exit.
extern "C" __attribute__((visibility("default"))) void* monitor_sim_state_v1() {
  static auto* const shared = new monitor::sim_state();
  return shared;
}

namespace monitor {
namespace {

sim_state& state() { return *static_cast<sim_state*>(monitor_sim_state_v1()); }

// The printer of a parsed sim URI, created with its settings on first use.
vprinter::virtual_printer* find_or_create(const device_uri& uri, std::string* key_out,
                                          std::string* error) {
  sim_settings settings;
  if (std::string why = read_settings(uri, settings); !why.empty()) {
    if (error != nullptr) *error = "bad sim URI " + in_quotes(to_string(uri)) + ": " + why;
    return nullptr;
  }
  const std::string key = to_string(uri);
  if (key_out != nullptr) *key_out = key;
  sim_state& s = state();
  std::lock_guard lock(s.mutex);
  sim_entry& entry = s.printers[key];
  if (!entry.printer) {
    entry.printer = std::make_unique<vprinter::virtual_printer>(settings.config);
    for (const auto& [f, value] : settings.faults) entry.printer->inject_fault(f, value);
    entry.capture = settings.capture;
    entry.render = settings.render;
  }
  return entry.printer.get();
}

// Counts a channel opened on the printer of `key`.
void channel_opened(const std::string& key) {
  sim_state& s = state();
  std::lock_guard lock(s.mutex);
  ++s.printers[key].open_channels;
}

// Counts a channel closed; when it was the last one, writes the capture and render files the
// URI asked for (only when the printer received something since they were last written).
void channel_closed(const std::string& key) {
  vprinter::virtual_printer* printer = nullptr;
  std::string capture_path;
  std::string render_path;
  {
    sim_state& s = state();
    std::lock_guard lock(s.mutex);
    const auto found = s.printers.find(key);
    if (found == s.printers.end()) return;
    sim_entry& entry = found->second;
    if (entry.open_channels > 0) --entry.open_channels;
    if (entry.open_channels > 0 || (entry.capture.empty() && entry.render.empty())) return;
    const std::size_t received = entry.printer->capture().size();
    if (entry.files_written && received == entry.captured_when_written) return;
    entry.files_written = true;
    entry.captured_when_written = received;
    printer = entry.printer.get();
    capture_path = entry.capture;
    render_path = entry.render;
  }
  // Closing cannot fail, so a file that cannot be written is reported on the error stream.
  // Each file is replaced whole, so readers never see a part.
  std::error_code failure;
  if (!capture_path.empty() && !platform::replace_file(capture_path, printer->capture(), failure)) {
    std::fprintf(stderr, "monitor: sim capture: cannot write %s: %s\n", capture_path.c_str(),
                 failure.message().c_str());
  }
  std::string error;
  if (!render_path.empty() && !printer->write_png(render_path, &error)) {
    std::fprintf(stderr, "monitor: sim render: %s\n", error.c_str());
  }
}

class sim_transport final : public transport {
 public:
  sim_transport(device_uri uri, std::string key, vprinter::virtual_printer* printer)
      : transport(std::move(uri)), key_(std::move(key)), printer_(printer), name_(key_) {}
  ~sim_transport() override { close(); }

  std::int32_t open(int /*timeout_ms*/) override {
    if (open_) return kResultOk;
    if (printer_->has_fault(vprinter::fault::disconnect)) {
      return fail(kResultOffline, ENOTCONN, "open " + name_ + ": the virtual printer is disconnected");
    }
    open_ = true;
    channel_opened(key_);
    return kResultOk;
  }

  write_result write(std::string_view bytes, int timeout_ms) override {
    if (!open_) return {fail(kResultFailed, 0, name_ + " is not open"), 0};
    const deadline until(timeout_ms);
    std::size_t done = 0;
    while (done < bytes.size()) {
      const bool slow = printer_->has_fault(vprinter::fault::slow);
      const std::size_t offered = slow ? std::min(kSlowPiece, bytes.size() - done) : bytes.size() - done;
      const vprinter::accept_result r = printer_->accept(bytes.substr(done, offered));
      if (r.status == vprinter::link_status::down) {
        return {link_down("write to " + name_ + ": the virtual printer is disconnected"), done};
      }
      // A full receive buffer holds the write back, as a full TCP send buffer or serial flow
      // control would: the bytes are offered again until the write time-out, which then ends
      // the write as any other time-out, with the count taken so far.
      if (r.status == vprinter::link_status::busy) {
        if (until.expired()) {
          return {fail(kResultTimeout, 0,
                       "write to " + name_ + ": the printer's buffer stayed full (busy); it took " +
                           std::to_string(done) + " of " + std::to_string(bytes.size()) + " bytes within " +
                           std::to_string(timeout_ms) + " ms"),
                  done};
        }
        std::this_thread::sleep_for(until.left(kBusyPoll));
        continue;
      }
      done += r.accepted;
      // A slow printer takes the bytes at its own pace: the transfer lasts as long as it says.
      if (r.delay.count() > 0) {
        const auto wanted = std::chrono::duration_cast<steady_clock::duration>(r.delay);
        const auto slept = until.left(wanted);
        std::this_thread::sleep_for(slept);
        if (slept < wanted) return {timed_out(done, bytes.size(), timeout_ms), done};
      }
      // The printer took only part of the write (short_write): the rest waits for the caller.
      if (r.accepted < offered) {
        return {fail(kResultTimeout, 0,
                     "write to " + name_ + ": the printer took " + std::to_string(done) + " of " +
                         std::to_string(bytes.size()) + " bytes"),
                done};
      }
      if (done < bytes.size() && until.expired()) return {timed_out(done, bytes.size(), timeout_ms), done};
    }
    return {kResultOk, done};
  }

  // What the printer takes now, as a write with no time to wait: nothing from a slow printer
  // (its pace is a wait), nor from a busy or disconnected one (write() says why).
  std::size_t write_at_once(std::string_view bytes) override {
    if (!open_ || bytes.empty() || printer_->has_fault(vprinter::fault::slow)) return 0;
    const vprinter::accept_result r = printer_->accept(bytes);
    return r.status == vprinter::link_status::ok ? r.accepted : 0;
  }

  read_result read(std::size_t max, int timeout_ms) override {
    if (!open_) return {fail(kResultFailed, 0, name_ + " is not open"), {}};
    if (max == 0) return {kResultOk, {}};
    const deadline until(timeout_ms);
    for (;;) {
      vprinter::read_result r = printer_->read(max);
      if (r.status == vprinter::link_status::down) {
        return {link_down("read from " + name_ + ": the virtual printer is disconnected"), {}};
      }
      if (!r.bytes.empty()) return {kResultOk, std::move(r.bytes)};
      if (until.expired()) {
        return {fail(kResultTimeout, 0,
                     "read from " + name_ + ": no data within " + std::to_string(timeout_ms) + " ms"),
                {}};
      }
      std::this_thread::sleep_for(until.left(kReadPoll));
    }
  }

  void close() override {
    if (!open_) return;
    open_ = false;
    channel_closed(key_);
  }

  bool is_open() const override { return open_; }

 private:
  std::int32_t link_down(std::string description) {
    close();
    return fail(kResultOffline, ENOTCONN, std::move(description));
  }

  std::int32_t timed_out(std::size_t done, std::size_t total, int timeout_ms) {
    return fail(kResultTimeout, 0,
                "write to " + name_ + ": the printer took " + std::to_string(done) + " of " +
                    std::to_string(total) + " bytes within " + std::to_string(timeout_ms) + " ms");
  }

  std::string key_;
  vprinter::virtual_printer* printer_;  // lives as long as the process
  std::string name_;
  bool open_ = false;
};

// Merges the repeated "fault" items of a sim URI's query into one comma-separated item, since a
// URI gives each option once.
std::string merge_fault_options(std::string_view text) {
  const std::size_t question = text.find('?');
  if (question == std::string_view::npos) return std::string(text);
  std::string out(text.substr(0, question + 1));
  std::string faults;
  std::string others;
  for (const std::string_view item : uri_text::split_items(text.substr(question + 1), "+&")) {
    const std::size_t equals = item.find('=');
    if (equals != std::string_view::npos && lower(item.substr(0, equals)) == "fault") {
      if (!faults.empty()) faults += ',';
      faults += item.substr(equals + 1);
    } else {
      if (!others.empty()) others += '&';
      others += item;
    }
  }
  out += others;
  if (!faults.empty()) out += (others.empty() ? "" : "&") + std::string("fault=") + faults;
  return out;
}

}  // namespace

uri_parse_result parse_sim_uri(std::string_view text) {
  const std::size_t colon = text.find(':');
  if (colon == std::string_view::npos || lower(text.substr(0, colon)) != "sim") {
    return {std::nullopt, "bad sim URI " + in_quotes(text) + ": expected sim:[NAME][?OPTION&...]"};
  }
  uri_parse_result parsed = parse_device_uri(merge_fault_options(text));
  if (!parsed.uri) return parsed;
  sim_settings settings;
  if (std::string why = read_settings(*parsed.uri, settings); !why.empty()) {
    return {std::nullopt, "bad sim URI " + in_quotes(text) + ": " + why};
  }
  return parsed;
}

void register_sim_transport() {
  static std::once_flag once;
  std::call_once(once, [] {
    register_transport("sim", [](const device_uri& uri) -> std::unique_ptr<transport> {
      std::string key;
      vprinter::virtual_printer* printer = find_or_create(uri, &key, nullptr);
      if (printer == nullptr) return nullptr;
      return std::make_unique<sim_transport>(uri, std::move(key), printer);
    });
  });
}

vprinter::virtual_printer* sim_printer(std::string_view uri_text, std::string* error) {
  const uri_parse_result parsed = parse_sim_uri(uri_text);
  if (!parsed.uri) {
    if (error != nullptr) *error = parsed.error;
    return nullptr;
  }
  return find_or_create(*parsed.uri, nullptr, error);
}

int sim_open_channels(std::string_view uri_text) {
  const uri_parse_result parsed = parse_sim_uri(uri_text);
  if (!parsed.uri) return 0;
  sim_state& s = state();
  std::lock_guard lock(s.mutex);
  const auto found = s.printers.find(to_string(*parsed.uri));
  return found == s.printers.end() ? 0 : found->second.open_channels;
}

}  // namespace monitor
