// The session with the POS printer control object: creation and sink, connection, events,
// property list, single commands and escape-script runs.
#include "testbench/session.h"

#include "platform/registry.h"

namespace testbench {

using platform::Variant;

namespace {

constexpr std::string_view kPrinterClassKey = "SOFTWARE\\OLEforRetail\\ServiceOPOS\\POSPrinter";
// Longest "PTRKorvane" value kept, in bytes (a 64-byte buffer with its NUL).
constexpr std::size_t kPrinterNameBytes = 63;

// Replaces each "%d" of `pattern` in turn with the next number, each "%s" with the next text.
std::string format(std::string_view pattern, std::initializer_list<std::int32_t> numbers,
                   std::initializer_list<std::string_view> texts = {}) {
  std::string out;
  auto number = numbers.begin();
  auto text = texts.begin();
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] == '%' && i + 1 < pattern.size() && pattern[i + 1] == 'd' && number != numbers.end()) {
      out += std::to_string(*number++);
      ++i;
    } else if (pattern[i] == '%' && i + 1 < pattern.size() && pattern[i + 1] == 's' && text != texts.end()) {
      out += *text++;
      ++i;
    } else {
      out += pattern[i];
    }
  }
  return out;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// The event sink

// Receives the control's events on its connection point and hands each to the session, which
// traces it when its flag is set.
class COPrinterEvents final : public platform::ref_counted<platform::dispatch> {
 public:
  COPrinterEvents(session* owner, trace_flags flags) : flags(flags), owner_(owner) {}

  platform::hresult get_ids_of_names(std::string_view name, long& dispid) override {
    for (const auto& [id, event] : kEvents) {
      if (platform::equal_ignoring_case(event, name)) {
        dispid = id;
        return platform::kSOk;
      }
    }
    return platform::kDispEUnknownName;
  }

  platform::hresult invoke(long dispid, platform::invoke_kind, std::span<const Variant> args, Variant*) override {
    if (owner_ == nullptr) return platform::kSOk;
    const auto long_arg = [&](std::size_t i) { return i < args.size() ? args[i].long_or(0) : 0; };
    switch (dispid) {
      case 1: {  // DirectIOEvent(EventNumber, pData&, pString&)
        std::int32_t data = long_arg(1);
        std::string text = args.size() > 2 ? args[2].string_or("") : std::string();
        owner_->on_direct_io(long_arg(0), data, text);
        if (args.size() > 1) (void)args[1].write_ref(Variant(data));
        if (args.size() > 2) (void)args[2].write_ref(Variant(text));
        break;
      }
      case 2: {  // ErrorEvent(ResultCode, ResultCodeExtended, ErrorLocus, pErrorResponse&)
        std::int32_t response = long_arg(3);
        const std::int32_t before = response;
        owner_->on_error(long_arg(0), long_arg(1), long_arg(2), response);
        if (args.size() > 3 && response != before) (void)args[3].write_ref(Variant(response));
        break;
      }
      case 3: owner_->on_output_complete(long_arg(0)); break;
      case 4: owner_->on_status_update(long_arg(0)); break;
      default: return platform::kDispEMemberNotFound;
    }
    return platform::kSOk;
  }

  // The session goes away: later events are ignored.
  void detach() { owner_ = nullptr; }

  trace_flags flags;

 private:
  static constexpr std::pair<long, std::string_view> kEvents[] = {
      {1, "DirectIOEvent"}, {2, "ErrorEvent"}, {3, "OutputCompleteEvent"}, {4, "StatusUpdateEvent"}};
  session* owner_;
};

// ---------------------------------------------------------------------------------------------

std::vector<printer_entry> list_printers() {
  std::vector<printer_entry> printers;
  platform::registry_key devices;
  if (platform::registry_key::open(platform::registry_root::local_machine, kPrinterClassKey, devices) !=
      platform::kErrorSuccess) {
    return printers;
  }
  std::string name;
  for (std::uint32_t i = 0; devices.enum_subkey(i, name) == platform::kErrorSuccess; ++i) {
    platform::registry_key device;
    printer_entry entry;
    if (devices.open(name, device) != platform::kErrorSuccess ||
        device.query_string("PTRKorvane", entry.name) != platform::kErrorSuccess) {
      continue;
    }
    if (entry.name.size() > kPrinterNameBytes) entry.name.resize(kPrinterNameBytes);
    (void)device.query_string("MachineType", entry.machine_type);
    (void)device.query_string("COMMPort", entry.port);
    printers.push_back(std::move(entry));
  }
  return printers;
}

// ---------------------------------------------------------------------------------------------
// The driver

std::int32_t PrinterControlDriver::call(std::string_view name, std::span<const Variant> args) {
  start_ = std::chrono::system_clock::now();
  const platform::call_result r = client_ ? client_.invoke(name, platform::invoke_kind::method, args)
                                          : platform::call_result{platform::kEPointer, {}};
  end_ = std::chrono::system_clock::now();
  if (!r.ok()) return kResultFailure;
  return r.value.long_or(kResultFailure);
}

Variant PrinterControlDriver::get(std::string_view name) {
  if (!client_) return {};
  start_ = std::chrono::system_clock::now();
  const platform::call_result r = client_.get(name);
  end_ = std::chrono::system_clock::now();
  return r.ok() ? r.value : Variant();
}

platform::hresult PrinterControlDriver::put(std::string_view name, const Variant& value) {
  if (!client_) return platform::kEPointer;
  start_ = std::chrono::system_clock::now();
  const platform::hresult hr = client_.put(name, value);
  end_ = std::chrono::system_clock::now();
  return hr;
}

// ---------------------------------------------------------------------------------------------
// Session

session::session(settings& config, session_host& host)
    : config_(config),
      host_(host),
      italian_(config.italian()),
      literals_(config.literal_file(), config.number_file()) {}

session::~session() { release_control(); }

void session::release_control() {
  if (point_) (void)point_->unadvise(cookie_);
  point_.reset();
  if (sink_) sink_->detach();
  sink_.reset();
  driver_.reset();
}

void session::output(std::string text, std::string detail, int source_line, std::string source) {
  host_.record_added(log_.add(std::move(text), std::move(detail), std::move(source), source_line));
}

bool session::create_control() {
  release_control();
  const std::string prog_id = config_.get_string(kSectionSettings, "COPOSPrinterID");
  platform::com_ptr<platform::dispatch> control;
  bool ok = !prog_id.empty() && platform::succeeded(platform::create_instance(prog_id, control)) && control;
  if (ok) {
    trace_flags flags;
    flags.error = config_.get_int(kSectionSettings, "TraceEvError", 0) != 0;
    flags.direct = config_.get_int(kSectionSettings, "TraceEvDirect", 0) != 0;
    flags.output = config_.get_int(kSectionSettings, "TraceEvOutput", 0) != 0;
    flags.status = config_.get_int(kSectionSettings, "TraceEvStatus", 0) != 0;
    sink_ = platform::com_ptr<COPrinterEvents>::adopt(new COPrinterEvents(this, flags));
    point_ = control.as<platform::connection_point>();
    ok = point_ && platform::succeeded(point_->advise(sink_.get(), cookie_));
    if (!ok) point_.reset();
  }
  if (!ok) {
    if (sink_) sink_->detach();
    sink_.reset();
    output(std::string(text(txt::s507_driver_init_error)));
    return false;
  }
  driver_ = PrinterControlDriver(std::move(control));
  return true;
}

std::string session::error_text(std::int32_t code) {
  const std::int32_t extended = code == kResultExtended ? driver_.get_long("ResultCodeExtended") : 0;
  return literals_.error_text(code, extended);
}

void session::connect_failed(std::int32_t code) {
  const std::int32_t extended = code == kResultExtended ? driver_.get_long("ResultCodeExtended") : 0;
  output(std::string(text(txt::s501_connect_error)),
         literals_.error_text(code, extended, text(txt::s701_command_failed)));
}

void session::command_failed(std::int32_t code) {
  output("(E) : " + std::string(text(txt::exec_error)), std::string(text(txt::exec_error_detail)) + error_text(code));
}

bool session::connect(std::string_view name) {
  if (connected_) return true;
  if (!driver_.valid()) {
    output(std::string(text(txt::s502_create_error)), std::string(text(txt::s812_create_error_detail)));
    return false;
  }
  std::int32_t r = driver_.method("Open", std::string(name));
  if (r != 0) {
    connect_failed(r);
    return false;
  }
  // Another application may hold the printer: ask whether to try again after each refusal.
  for (;;) {
    host_.pump(kClaimPauseMs);
    r = driver_.method("Claim", kClaimTimeoutMs);
    if (r == 0) break;
    if (!host_.ask(text(txt::s156_claim_retry), true)) break;
  }
  if (r == 0) {
    // Power notification can only be switched on while the device is disabled, so it comes
    // before enabling; set afterwards it would be refused and no power event would arrive.
    (void)driver_.put("PowerNotify", Variant(1));
    (void)driver_.put("DeviceEnabled", Variant(true));
    r = driver_.get_long("ResultCode");
  }
  if (r != 0) {
    connect_failed(r);
    // Leave the control closed, so that the next attempt starts from a clean state.
    (void)driver_.method("Close");
    return false;
  }
  output(std::string(text(txt::s711_connection_active)));
  connected_ = true;
  device_name_ = std::string(name);
  refresh_properties();
  host_.connection_changed();
  return true;
}

bool session::connect_selected(const std::optional<std::string>& name) {
  if (!name) {
    output(std::string(text(txt::s157_no_printer_selected)));
    return false;
  }
  return connect(*name);
}

bool session::disconnect(bool confirm) {
  if (!connected_) return true;
  if (confirm && !host_.ask(text(txt::s134_confirm_disconnect), true)) return false;
  (void)driver_.put("DeviceEnabled", Variant(false));
  if (driver_.get("Claimed").bool_or(false)) (void)driver_.method("Release");
  // OPOS_E_CLOSED means a previous failed Close already closed the control: nothing is left open.
  const std::int32_t r = driver_.method("Close");
  if (r != 0 && r != kResultClosed) {
    output(std::string(text(txt::s500_close_error)),
           std::string(text(txt::s503_close_error_detail)) + error_text(r));
    output(std::string(text(txt::s602_still_connected)));
    return false;
  }
  output(std::string(text(txt::s712_disconnect_ok)));
  output(std::string(text(txt::s710_connection_ended)));
  connected_ = false;
  device_name_.clear();
  rotation_ = kRotateNormal;
  load_property_table();
  config_.set_int(kSectionPrinter, "TransactionMode", 0);
  config_.set_int(kSectionPrinter, "RotationMode", 0);
  host_.properties_changed();
  host_.connection_changed();
  return true;
}

bool session::may_close() {
  if (!connected_) return true;
  if (!host_.ask(text(txt::s149_close_while_connected), true)) return false;
  return disconnect(false);
}

std::string session::connection_text() const {
  if (!connected_) return std::string(text(txt::status_no_connection));
  return device_name_ + std::string(text(txt::status_active_suffix));
}

trace_flags session::traces() const { return sink_ ? sink_->flags : trace_flags{}; }

void session::set_traces(const trace_flags& flags) {
  config_.set_int(kSectionSettings, "TraceEvError", flags.error ? 1 : 0);
  config_.set_int(kSectionSettings, "TraceEvDirect", flags.direct ? 1 : 0);
  config_.set_int(kSectionSettings, "TraceEvOutput", flags.output ? 1 : 0);
  config_.set_int(kSectionSettings, "TraceEvStatus", flags.status ? 1 : 0);
  if (sink_) sink_->flags = flags;
}

// ---------------------------------------------------------------------------------------------
// Property list

void session::load_property_table() {
  properties_ = testbench::load_property_table(config_.property_table_file());
  host_.properties_changed();
}

void session::refresh_properties() {
  if (!connected_) return;
  for (property_row& row : properties_) {
    if (row.kind == row_kind::heading) continue;
    row.value = display_value(row.name, driver_.get(row.name), literals_);
  }
  host_.properties_changed();
}

void session::refresh_properties(std::initializer_list<std::string_view> names) {
  if (!connected_) return;
  for (property_row& row : properties_) {
    for (const std::string_view name : names) {
      if (row.kind != row_kind::heading && platform::equal_ignoring_case(row.name, name)) {
        row.value = display_value(row.name, driver_.get(row.name), literals_);
      }
    }
  }
  host_.properties_changed();
}

bool session::write_property(std::size_t index, std::string_view entry) {
  if (!connected_ || index >= properties_.size() || !properties_[index].editable()) return false;
  const std::string name = properties_[index].name;
  const std::optional<property_write> plan = plan_property_write(name, entry, literals_);
  if (!plan) return false;
  const platform::hresult hr = driver_.put(name, plan->value);
  if (plan->reread_all) {
    refresh_properties();
  } else {
    refresh_properties({name, "ResultCode", "ResultCodeExtended"});
  }
  return platform::succeeded(hr);
}

void session::set_opos_version(std::int32_t version) {
  config_.set_int(kSectionSettings, "OposVersion", version);
  if (connected_) {
    (void)host_.ask(text(txt::s153_version_next_connection), false);
  } else {
    load_property_table();
  }
}

// ---------------------------------------------------------------------------------------------
// Single commands

std::string session::station_name() const { return station_ == kStationSlip ? "<PTR_S_SLIP>" : "<PTR_S_RECEIPT>"; }

void session::set_station(std::int32_t station) {
  if (station == station_) return;
  station_ = station;
  output(std::string(text(txt::station_set)), std::string(text(txt::station_set_detail)) + " " + station_name());
}

void session::set_work_mode(bool transaction) {
  const std::int32_t r = driver_.method("TransactionPrint", station_, transaction ? kTransactionOn : kTransactionOff);
  if (r != 0) {
    command_failed(r);
    return;
  }
  output(std::string(text(transaction ? txt::transaction_on : txt::transaction_off)));
  config_.set_int(kSectionPrinter, "TransactionMode", transaction ? 1 : 0);
}

void session::set_print_mode(std::int32_t rotation) {
  const std::int32_t r = driver_.method("RotatePrint", station_, rotation);
  if (r != 0) {
    command_failed(r);
    return;
  }
  rotation_ = rotation;
  output(std::string(text(rotation == kRotateNormal ? txt::rotation_off : txt::rotation_on)));
  config_.set_int(kSectionPrinter, "RotationMode", rotation == kRotateRight90 ? 1 : 0);
}

bool session::print_barcode(const barcode_request& b) {
  const std::int32_t r = driver_.method("PrintBarCode", kStationReceipt, b.data, b.symbology, b.height, b.width,
                                        b.alignment, b.text_position);
  if (r != 0) {
    command_failed(r);
    return false;
  }
  output(std::string(text(txt::barcode_ok)), std::string(text(txt::command_ok)));
  return true;
}

std::string session::test_procedure(std::int32_t level) {
  const std::int32_t r = driver_.method("CheckHealth", level);
  if (r != 0) command_failed(r);
  return driver_.get_string("CheckHealthText");
}

direct_access_result session::direct_access(std::string_view command, std::int32_t count) {
  direct_access_result result;
  if (command.empty()) {
    (void)host_.ask(text(txt::s158_empty_command), false);
    return result;
  }
  if (count == 0) {
    (void)host_.ask(text(txt::s159_zero_count), false);
    return result;
  }
  result.shown = true;
  const auto failure = [&](std::int32_t r) {
    result.text = format(text(txt::direct_error), {},
                         {std::string(text(txt::exec_error_detail)) + error_text(r)});
    return result;
  };
  std::int32_t data = count;
  std::string sent(command);
  std::int32_t r = driver_.method("DirectIO", 1, Variant::ref(data), Variant::ref(sent));
  if (r != 0) return failure(r);
  data = count;
  std::string reply;
  r = driver_.method("DirectIO", 2, Variant::ref(data), Variant::ref(reply));
  if (r != 0) return failure(r);
  result.ok = true;
  result.text = reply_dump(reply);
  return result;
}

std::string session::device_information() {
  if (!connected_) return std::string(text(txt::device_info_none));
  device_info info;
  info.control_version = driver_.get_long("ControlObjectVersion");
  info.control_description = driver_.get_string("ControlObjectDescription");
  info.service_version = driver_.get_long("ServiceObjectVersion");
  info.service_description = driver_.get_string("ServiceObjectDescription");
  info.device_name = driver_.get_string("DeviceName");
  info.device_description = driver_.get_string("DeviceDescription");
  return device_info_text(info);
}

std::int32_t session::slip_insert() {
  host_.slip_prompt(text(txt::slip_insert), true);
  std::int32_t r = driver_.method("BeginInsertion", kSlipTimeoutMs);
  if (r == 0) r = driver_.method("EndInsertion");
  host_.slip_prompt(text(txt::slip_insert), false);
  return r;
}

std::int32_t session::slip_remove() {
  host_.slip_prompt(text(txt::slip_remove), true);
  std::int32_t r = 0;
  // A time-out of either call starts the pair again: removal waits until the slip is out.
  for (;;) {
    r = driver_.method("BeginRemoval", kSlipTimeoutMs);
    if (r == kResultTimeout) continue;
    if (r != 0) {
      r = kResultFailure;
      break;
    }
    r = driver_.method("EndRemoval");
    if (r != kResultTimeout) break;
  }
  host_.slip_prompt(text(txt::slip_remove), false);
  return r;
}

// ---------------------------------------------------------------------------------------------
// Escape scripts

bool session::empty_document(const script_document& doc) {
  if (!doc.empty()) return false;
  output(std::string(text(txt::empty_document)), std::string(text(txt::empty_document_detail)));
  return true;
}

bool session::print_script(const script_document& doc, const std::string& source) {
  if (empty_document(doc)) return false;
  const bool collecting = config_.transaction_mode() || config_.rotation_mode();
  int failed_line = 0;
  std::int32_t r = 0;
  const int count = static_cast<int>(doc.lines.size());

  if (station_ == kStationSlip) r = slip_insert();
  debug_stepper stepper(doc.breakpoints, collecting);
  bool ended = false;
  if (r == 0) {
    host_.progress(0, count);
    for (int line = 1; line <= count && !ended; ++line) {
      std::string data = doc.lines[static_cast<std::size_t>(line - 1)];
      if (is_comment(data)) {
        host_.progress(line, count);
        continue;
      }
      if (stepper.stops_at(line)) {
        int caret_line = line;
        const debug_command command = host_.debug_stop(line, data, caret_line);
        stepper.after_stop(line, command, caret_line);
        if (command == debug_command::end_debug) {
          ended = true;
          break;
        }
        if (command == debug_command::skip_line) {
          host_.progress(line, count);
          continue;
        }
        if (command != debug_command::update_continue) data = doc.lines[static_cast<std::size_t>(line - 1)];
      }
      r = driver_.method("PrintNormal", station_, convert_line(data));
      if (r != 0) {
        failed_line = line;
        break;
      }
      host_.progress(line, count);
    }
  }
  stepper.finish();
  host_.progress(0, 0);

  if (r != 0) {
    output(std::string(text(txt::script_exec_error)),
           format(text(txt::script_exec_error_detail), {failed_line}) + ": " + error_text(r), failed_line, source);
    host_.beep();
    return false;
  }
  if (ended) return false;
  if (collecting) summarise_script(doc);
  if (station_ == kStationSlip) {
    r = slip_remove();
    if (r != 0) {
      output(std::string(text(txt::script_exec_error)),
             format(text(txt::script_exec_error_detail), {count}) + ": " + error_text(r), 0, source);
      host_.beep();
      return false;
    }
  }
  refresh_properties({"ResultCode", "ResultCodeExtended"});
  output(std::string(text(txt::print_ok)), std::string(text(txt::command_ok)));
  return true;
}

void session::check_script(const script_document& doc) {
  if (empty_document(doc)) return;
  output(std::string(text(txt::check_title)));
  bool failed = false;
  for (std::size_t i = 0; i < doc.lines.size(); ++i) {
    const std::string& line = doc.lines[i];
    if (line.empty() || is_comment(line)) continue;
    // Checking always validates against the receipt station, whatever the current one.
    const std::int32_t r = driver_.method("ValidateData", kStationReceipt, convert_line(line));
    if (r != 0) {
      failed = true;
      output(std::string(text(txt::check_title)),
             format(text(txt::check_error_detail), {static_cast<std::int32_t>(i + 1)}) + error_text(r));
    }
  }
  if (!failed) output(std::string(text(txt::check_title)), std::string(text(txt::check_ok_detail)));
}

bool session::set_logo(const script_document& doc, std::int32_t location) {
  if (empty_document(doc)) return false;
  const std::int32_t r = driver_.method("SetLogo", location, logo_data(doc.lines));
  if (r != 0) {
    output(std::string(text(txt::script_exec_error)), std::string(text(txt::logo_error_detail)) + ": " + error_text(r));
    return false;
  }
  output(std::string(text(txt::logo_ok)), std::string(text(txt::command_ok)));
  return true;
}

void session::summarise_script(const script_document& doc) {
  const script_summary s = summarise(doc.lines);
  const bool collecting = config_.transaction_mode() || config_.rotation_mode();
  output(std::string(text(collecting ? txt::summary_title_sending : txt::summary_title)),
         format(text(txt::summary_detail), {s.lines, s.characters}));
}

// ---------------------------------------------------------------------------------------------
// Events

void session::on_status_update(std::int32_t status) {
  if (sink_ && sink_->flags.status) {
    output(std::string(text(txt::event_status)), std::string(text(txt::event_status_detail)) + status_name(status));
  }
  if (status == 24) refresh_properties({"RecEmpty"});
  if (status == 25) refresh_properties({"RecNearEnd"});
}

void session::on_output_complete(std::int32_t id) {
  if (sink_ && sink_->flags.output) {
    output(std::string(text(txt::event_output)), std::string(text(txt::event_output_detail)) + std::to_string(id));
  }
}

void session::on_direct_io(std::int32_t, std::int32_t&, std::string& data) {
  if (sink_ && sink_->flags.direct) {
    output(std::string(text(txt::event_direct)), std::string(text(txt::event_direct_detail)) + hex_bytes(data));
  }
}

void session::on_error(std::int32_t code, std::int32_t extended, std::int32_t, std::int32_t& response) {
  // Without error tracing the event is not answered: the control's default response stands.
  if (!sink_ || !sink_->flags.error) return;
  output(std::string(text(txt::event_error)), std::string(text(txt::event_error_detail)));
  const std::string window = error_window_text(italian_, literals_.error_text(code, extended),
                                               literals_.name("ERROR", extended), driver_.get_string("ErrorString"));
  response = host_.error_window(text(txt::error_window_title), window);
}

}  // namespace testbench
