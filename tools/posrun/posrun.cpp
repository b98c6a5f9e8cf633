// posrun: the command line, the device-class table, the control and its event sink, the
// execution of script lines and the two output forms (readable lines, JSON lines).
#include "posrun.h"

#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <map>
#include <optional>
#include <span>

#include "platform/cli.h"
#include "platform/com.h"
#include "platform/messages.h"
#include "platform/registry.h"
#include "script.h"

namespace posrun {
namespace {

using platform::equal_ignoring_case;
using platform::hresult;
using platform::Variant;

constexpr std::string_view kUsage =
    "Usage: posrun [OPTIONS] SCRIPT\n"
    "  or:  posrun --members [--class NAME | --progid PROGID] [--json]\n"
    "\n"
    "Creates the kit's OPOS control object of the device class (POSPrinter by default) and runs\n"
    "SCRIPT (\"-\" reads standard input), one line at a time:\n"
    "  Member arg ...        calls a method: PrintNormal 2 \"Hello\\n\"\n"
    "  Property              reads a property (or calls a method without arguments): ResultCode\n"
    "  Property = value      writes a property: DeviceEnabled = 1\n"
    "  wait MS               dispatches messages, and so events, for MS milliseconds\n"
    "  after MS LINE         runs the call or property write LINE once MS milliseconds have\n"
    "                        passed, while messages are dispatched (a later wait, or a call that\n"
    "                        waits, such as MarqueeType = 3 running a marquee):\n"
    "                        after 2000 MarqueeType = 0   stops the marquee started next;\n"
    "                        posted lines still waiting when the script ends are dropped\n"
    "  respond ErrorEvent N  makes the ErrorEvent handler answer N (11 retry, 12 clear)\n"
    "Arguments are integers (12, -3, 0x1B) or double-quoted strings with the escapes\n"
    "\\e \\n \\r \\t \\\\ \\\" \\xHH; blanks or commas separate them; # starts a comment.\n"
    "In a string, ${script_dir} stands for the folder of SCRIPT (the current folder for \"-\"), so\n"
    "that a script names its files wherever it is run from:\n"
    "  PrintBitmap 2 \"${script_dir}/../images/logo.bmp\" -11 -2\n"
    "DirectIO's pData and pString are passed by reference and their final values shown as out.\n"
    "\n"
    "With --members, lists the members of the control (or of the object of PROGID) instead: dispatch\n"
    "id, kind, name, argument and value types; with --json one object per member:\n"
    "  {\"dispid\":43,\"name\":\"DisplayText\",\"kind\":\"method\",\"args\":[\"string\",\"long\"],\"returns\":\"long\"}\n"
    "  {\"dispid\":1,\"name\":\"BinaryConversion\",\"kind\":\"property\",\"type\":\"long\",\"writable\":true}\n"
    "\n"
    "Options:\n"
    "  --registry=DIR    use the registry kept in DIR (instead of OPOS_REGISTRY_DIR or the default)\n"
    "  --json            print one JSON object per line:\n"
    "                      {\"line\":3,\"member\":\"PrintNormal\",\"result\":0}\n"
    "                      {\"line\":4,\"member\":\"ResultCode\",\"value\":0}\n"
    "                      {\"line\":5,\"member\":\"DeviceEnabled\",\"set\":1}\n"
    "                      {\"line\":6,\"member\":\"DirectIO\",\"result\":0,\"out\":[5,\"ab\"]}\n"
    "                      {\"line\":7,\"member\":\"MarkFeed\",\"error\":\"0x80020009\",\"message\":\"...\"}\n"
    "                      {\"line\":8,\"after\":2000,\"member\":\"MarqueeType\"}  (posted: the line\n"
    "                      prints its own record, with line 8, when it runs)\n"
    "                      {\"event\":\"StatusUpdateEvent\",\"args\":[11]}\n"
    "                      {\"line\":9,\"parse_error\":\"unterminated string\"}\n"
    "                    events print before the line that caused them\n"
    "  --class=NAME      POSPrinter, LineDisplay or CashDrawer\n"
    "  --strict          stop at the first call with a non-zero result or an automation error\n"
    "                    (also a posted line's), with exit status 4\n"
    "  --members         list the members instead of running a script\n"
    "  --progid=PROGID   with --members: the object of this ProgID (or {CLSID}) instead of a control\n"
    "  --help            show this text\n"
    "  --version         show the kit's version\n"
    "\n"
    "Exit status: 0 the script ran to its end (without --strict, OPOS failures and automation errors\n"
    "are reported in the output only), 1 the control is not available or the script cannot be\n"
    "read, 2 usage error, 3 a script line cannot be parsed (the run stops there), 4 with --strict:\n"
    "a call failed (the run stops there).\n";

constexpr platform::cli::option kOptions[] = {
    {"registry", 0, platform::cli::kValue, "DIR", ""},
    {"json", 0, platform::cli::kFlag, "", ""},
    {"class", 0, platform::cli::kValue, "NAME", ""},
    {"strict", 0, platform::cli::kFlag, "", ""},
    {"members", 0, platform::cli::kFlag, "", ""},
    {"progid", 0, platform::cli::kValue, "PROGID", ""},
    {"help", 'h', platform::cli::kFlag, "", ""},
    {"version", 0, platform::cli::kFlag, "", ""},
};

// One event of a control's connection point.
struct event_row {
  long dispid;
  std::string_view name;
};

// A device class: the ProgID of the kit's control for it (empty: the kit has none) and its events.
struct device_class_row {
  std::string_view name;
  std::string_view prog_id;
  std::span<const event_row> events;
};

constexpr event_row kPrinterEvents[] = {
    {1, "DirectIOEvent"}, {2, "ErrorEvent"}, {3, "OutputCompleteEvent"}, {4, "StatusUpdateEvent"}};
constexpr event_row kDisplayEvents[] = {{1, "DirectIOEvent"}, {2, "StatusUpdateEvent"}};
constexpr event_row kDrawerEvents[] = {{1, "DirectIOEvent"}, {2, "StatusUpdateEvent"}};

constexpr device_class_row kDeviceClasses[] = {
    {"POSPrinter", "CONTROLObject.KorvanePOSPrinter.1", kPrinterEvents},
    {"LineDisplay", "CONTROLObject.KorvaneLineControl.1", kDisplayEvents},
    {"CashDrawer", "CONTROLObject.KorvaneCashDrawer.1", kDrawerEvents},
};

// Methods with by-reference parameters: one letter per parameter, '.' by value, 'L' a long cell,
// 'S' a string cell.
struct by_reference_row {
  std::string_view member;
  std::string_view params;
};
constexpr by_reference_row kByReference[] = {{"DirectIO", ".LS"}};

// Length of the valid UTF-8 sequence at the start of `s`, or 0 when it is not one.
std::size_t utf8_sequence(std::string_view s) {
  const auto b = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
  const unsigned char lead = b(0);
  std::size_t length = 0;
  std::uint32_t code = 0;
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    code = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    code = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    code = lead & 0x07;
  } else {
    return 0;
  }
  if (s.size() < length) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    if ((b(i) & 0xC0) != 0x80) return 0;
    code = code << 6 | (b(i) & 0x3F);
  }
  // Overlong forms, surrogates and code points past U+10FFFF are not UTF-8.
  if ((length == 3 && code < 0x800) || (length == 4 && code < 0x10000) || code > 0x10FFFF ||
      (code >= 0xD800 && code <= 0xDFFF)) {
    return 0;
  }
  return length;
}

// The readable form of bytes: a double-quoted string in the script's own escapes.
std::string quoted_text(std::string_view bytes) {
  std::string out = "\"";
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      case '\x1b': out += "\\e"; break;
      default:
        if (byte < 0x20 || byte >= 0x7F) {
          char hex[8];
          std::snprintf(hex, sizeof hex, "\\x%02X", byte);
          out += hex;
        } else {
          out += c;
        }
    }
  }
  return out + "\"";
}

std::string hex_code(hresult hr) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(hr));
  return text;
}

// Prints results and events in the chosen form.
class reporter {
 public:
  reporter(std::ostream& out, bool json) : out_(out), json_(json) {}

  void call(int line, std::string_view member, const Variant& result, const std::vector<Variant>& outs) {
    if (json_) {
      out_ << "{\"line\":" << line << ",\"member\":" << json_string(member) << ",\"result\":" << json(result);
      if (!outs.empty()) out_ << ",\"out\":" << json_list(outs);
      out_ << "}\n";
    } else {
      out_ << line << ": " << member << " -> " << readable(result);
      if (!outs.empty()) out_ << ", out " << readable_list(outs);
      out_ << "\n";
    }
    out_.flush();
  }
  void read(int line, std::string_view member, const Variant& value) {
    if (json_) {
      out_ << "{\"line\":" << line << ",\"member\":" << json_string(member) << ",\"value\":" << json(value) << "}\n";
    } else {
      out_ << line << ": " << member << " = " << readable(value) << "\n";
    }
    out_.flush();
  }
  void write(int line, std::string_view member, const Variant& value) {
    if (json_) {
      out_ << "{\"line\":" << line << ",\"member\":" << json_string(member) << ",\"set\":" << json(value) << "}\n";
    } else {
      out_ << line << ": " << member << " := " << readable(value) << "\n";
    }
    out_.flush();
  }
  void error(int line, std::string_view member, hresult hr, const std::string& detail) {
    const std::string message = platform::hresult_text(hr) + (detail.empty() ? "" : ": " + detail);
    if (json_) {
      out_ << "{\"line\":" << line << ",\"member\":" << json_string(member) << ",\"error\":\"" << hex_code(hr)
           << "\",\"message\":" << json_string(message) << "}\n";
    } else {
      out_ << line << ": " << member << " failed: " << message << "\n";
    }
    out_.flush();
  }
  void wait(int line, std::uint32_t ms) {
    if (json_) {
      out_ << "{\"line\":" << line << ",\"wait\":" << ms << "}\n";
    } else {
      out_ << line << ": wait " << ms << " ms\n";
    }
    out_.flush();
  }
  void posted(int line, std::uint32_t ms, std::string_view member) {
    if (json_) {
      out_ << "{\"line\":" << line << ",\"after\":" << ms << ",\"member\":" << json_string(member) << "}\n";
    } else {
      out_ << line << ": after " << ms << " ms " << member << "\n";
    }
    out_.flush();
  }
  void respond(int line, std::string_view event, std::int32_t response) {
    if (json_) {
      out_ << "{\"line\":" << line << ",\"respond\":" << json_string(event) << ",\"response\":" << response << "}\n";
    } else {
      out_ << line << ": respond " << event << " " << response << "\n";
    }
    out_.flush();
  }
  void event(std::string_view name, const std::vector<Variant>& args, std::optional<std::int32_t> response) {
    if (json_) {
      out_ << "{\"event\":" << json_string(name) << ",\"args\":" << json_list(args);
      if (response) out_ << ",\"response\":" << *response;
      out_ << "}\n";
    } else {
      out_ << "event " << name;
      for (const Variant& arg : args) out_ << " " << readable(arg);
      if (response) out_ << ", response " << *response;
      out_ << "\n";
    }
    out_.flush();
  }
  void parse_error(int line, const std::string& reason) {
    if (json_) out_ << "{\"line\":" << line << ",\"parse_error\":" << json_string(reason) << "}\n";
    out_.flush();
  }

 private:
  static std::string json(const Variant& v) {
    switch (v.type()) {
      case platform::variant_type::empty: return "null";
      case platform::variant_type::bool_value: return v.bool_or() ? "true" : "false";
      case platform::variant_type::long_value:
      case platform::variant_type::double_value: return v.string_or();
      case platform::variant_type::long_ref:
      case platform::variant_type::string_ref: return json(v.deref());
      default: return json_string(v.type() == platform::variant_type::string ? v.string_or() : v.debug_string());
    }
  }
  static std::string json_list(const std::vector<Variant>& values) {
    std::string out = "[";
    for (std::size_t i = 0; i < values.size(); ++i) out += (i == 0 ? "" : ",") + json(values[i]);
    return out + "]";
  }
  static std::string readable(const Variant& v) {
    switch (v.type()) {
      case platform::variant_type::empty: return "(nothing)";
      case platform::variant_type::bool_value: return v.bool_or() ? "true" : "false";
      case platform::variant_type::long_value:
      case platform::variant_type::double_value: return v.string_or();
      case platform::variant_type::string: return quoted_text(v.string_or());
      case platform::variant_type::long_ref:
      case platform::variant_type::string_ref: return readable(v.deref());
      default: return v.debug_string();
    }
  }
  static std::string readable_list(const std::vector<Variant>& values) {
    std::string out;
    for (std::size_t i = 0; i < values.size(); ++i) out += (i == 0 ? "" : " ") + readable(values[i]);
    return out;
  }

  std::ostream& out_;
  bool json_;
};

// The sink on the control's connection point: prints every event and gives the answers that
// `respond` set, writing them into the event's last by-reference long argument.
class event_printer final : public platform::ref_counted<platform::dispatch> {
 public:
  event_printer(reporter& report, std::span<const event_row> events) : report_(report), events_(events) {}

  hresult get_ids_of_names(std::string_view name, long& dispid) override {
    for (const event_row& row : events_) {
      if (equal_ignoring_case(row.name, name)) {
        dispid = row.dispid;
        return platform::kSOk;
      }
    }
    return platform::kDispEUnknownName;
  }
  hresult invoke(long dispid, platform::invoke_kind, std::span<const Variant> args, Variant*) override {
    std::string name = "Event" + std::to_string(dispid);
    for (const event_row& row : events_) {
      if (row.dispid == dispid) name = std::string(row.name);
    }
    std::vector<Variant> values;
    for (const Variant& arg : args) values.push_back(arg.deref());
    std::optional<std::int32_t> answer;
    if (const auto found = responses_.find(name); found != responses_.end()) {
      for (auto it = args.rbegin(); it != args.rend(); ++it) {
        if (std::int32_t* cell = it->cell<std::int32_t>()) {
          *cell = found->second;
          answer = found->second;
          break;
        }
      }
    }
    report_.event(name, values, answer);
    return platform::kSOk;
  }

  void respond(const std::string& event, std::int32_t response) { responses_[event] = response; }

 private:
  ~event_printer() override = default;

  reporter& report_;
  std::span<const event_row> events_;
  std::map<std::string, std::int32_t> responses_;
};

// The control, its sink, and the execution of statements.
class session {
 public:
  session(platform::com_ptr<platform::dispatch> control, reporter& report, std::span<const event_row> events)
      : control_(std::move(control)),
        report_(report),
        // Each session has a window class of its own: several runs may share a process.
        posted_class_(class_name(),
                      [this](platform::window_handle, std::uint32_t id, std::int64_t wparam, std::int64_t) {
                        if (id == platform::kTimerMessage) run_posted(static_cast<platform::timer_id>(wparam));
                      }) {
    sink_ = platform::com_ptr<event_printer>::adopt(new event_printer(report, events));
    point_ = control_.as<platform::connection_point>();
    if (point_ && platform::failed(point_->advise(sink_.get(), cookie_))) point_.reset();
  }
  ~session() {
    if (point_) point_->unadvise(cookie_);
  }
  session(const session&) = delete;
  session& operator=(const session&) = delete;

  // False when the session cannot post lines (no window for its timers).
  bool ready() {
    if (posted_window_.get() == platform::window_handle::none) {
      posted_window_.reset(platform::create_window(class_name(), ""));
    }
    return posted_window_.get() != platform::window_handle::none;
  }

  // True once a call has given a non-zero result or an automation error (posted lines included).
  bool failed() const { return failed_line_ != 0; }
  int failed_line() const { return failed_line_; }
  const std::string& failure() const { return failure_; }

  void execute(int line, const statement& s) {
    if (s.after_ms) {
      post(line, s);
      return;
    }
    switch (s.kind) {
      case statement_kind::blank: break;
      case statement_kind::wait:
        platform::pump_messages_for(s.wait_ms);
        report_.wait(line, s.wait_ms);
        break;
      case statement_kind::respond:
        sink_->respond(s.member, s.response);
        report_.respond(line, s.member, s.response);
        break;
      case statement_kind::write: {
        const Variant value = to_variant(s.args[0]);
        const hresult hr =
            invoke(s.member, platform::invoke_kind::property_put, std::span<const Variant>(&value, 1)).hr;
        if (platform::failed(hr)) {
          report_error(line, s.member, hr, platform::take_error_info());
        } else {
          report_.write(line, s.member, value);
        }
        break;
      }
      case statement_kind::read_or_call: {
        // A property read when the name is a property, else a call without arguments.
        platform::call_result r = invoke(s.member, platform::invoke_kind::property_get, {});
        if (r.hr == platform::kDispEMemberNotFound) {
          r = invoke(s.member, platform::invoke_kind::method, {});
          report_call(line, s.member, r, {});
        } else if (r.ok()) {
          report_.read(line, s.member, r.value);
        } else {
          report_error(line, s.member, r.hr, platform::take_error_info());
        }
        break;
      }
      case statement_kind::call: call(line, s); break;
    }
  }

 private:
  static Variant to_variant(const value& v) { return v.is_text ? Variant(v.text) : Variant(v.number); }

  platform::call_result invoke(const std::string& name, platform::invoke_kind kind, std::span<const Variant> args) {
    (void)platform::take_error_info();  // only this call's explanation is reported
    return platform::invoke_by_name(control_.get(), name, kind, args);
  }

  void report_call(int line, const std::string& member, const platform::call_result& r,
                   const std::vector<Variant>& outs) {
    if (r.ok()) {
      report_.call(line, member, r.value, outs);
      const std::int32_t result = r.value.long_or(0);
      if (result != 0) note_failure(line, member + " returned " + std::to_string(result));
    } else {
      report_error(line, member, r.hr, platform::take_error_info());
    }
  }

  // Reports an automation error and remembers it as the session's first failure.
  void report_error(int line, const std::string& member, hresult hr, const std::string& detail) {
    report_.error(line, member, hr, detail);
    note_failure(line, member + " failed with " + platform::hresult_text(hr));
  }

  void note_failure(int line, std::string what) {
    if (failed_line_ != 0) return;
    failed_line_ = line;
    failure_ = std::move(what);
  }

  void call(int line, const statement& s) {
    std::string_view params;
    for (const by_reference_row& row : kByReference) {
      if (equal_ignoring_case(row.member, s.member)) params = row.params;
    }
    // Cells for the by-reference parameters, initialised from the script's arguments.
    std::vector<std::int32_t> longs(s.args.size());
    std::vector<std::string> texts(s.args.size());
    std::vector<Variant> args;
    std::vector<std::size_t> cells;
    for (std::size_t i = 0; i < s.args.size(); ++i) {
      const char kind = i < params.size() ? params[i] : '.';
      const Variant given = to_variant(s.args[i]);
      if (kind == 'L') {
        if (platform::failed(given.as_long(longs[i]))) {
          report_error(line, s.member, platform::kDispETypeMismatch,
                       "argument " + std::to_string(i + 1) + " must be a number");
          return;
        }
        args.push_back(Variant::ref(longs[i]));
        cells.push_back(i);
      } else if (kind == 'S') {
        (void)given.as_string(texts[i]);
        args.push_back(Variant::ref(texts[i]));
        cells.push_back(i);
      } else {
        args.push_back(given);
      }
    }
    const platform::call_result r = invoke(s.member, platform::invoke_kind::method, args);
    std::vector<Variant> outs;
    for (const std::size_t i : cells) outs.push_back(args[i].deref());
    report_call(line, s.member, r, outs);
  }

  // A line posted by after: its line number and what it does.
  struct posted_line {
    int line = 0;
    statement what;
  };

  std::string class_name() const { return "posrun.after." + std::to_string(session_number_); }

  // Starts a one-shot timer for the line; it runs from the queue whenever messages are dispatched.
  void post(int line, const statement& s) {
    posted_line posted{line, s};
    posted.what.after_ms.reset();
    const platform::timer_id timer = platform::set_timer(posted_window_.get(), *s.after_ms);
    posted_.emplace(timer, std::move(posted));
    report_.posted(line, *s.after_ms, s.member);
  }

  void run_posted(platform::timer_id timer) {
    platform::kill_timer(timer);
    const auto found = posted_.find(timer);
    if (found == posted_.end()) return;
    posted_line posted = std::move(found->second);
    posted_.erase(found);
    execute(posted.line, posted.what);
  }

  static inline int next_session_ = 1;
  const int session_number_ = next_session_++;
  platform::com_ptr<platform::dispatch> control_;
  reporter& report_;
  platform::com_ptr<event_printer> sink_;
  platform::com_ptr<platform::connection_point> point_;
  std::uint32_t cookie_ = 0;
  // Lines posted by after, by their timers; dropped with the window when the session ends.
  platform::scoped_window_class posted_class_;
  platform::scoped_window posted_window_;
  std::map<platform::timer_id, posted_line> posted_;
  // The first failure: its line (0: none yet) and what happened.
  int failed_line_ = 0;
  std::string failure_;
};

struct options {
  bool json = false;
  bool help = false;
  bool version = false;
  bool strict = false;
  bool members = false;
  std::optional<std::string> registry;
  std::string device_class = "POSPrinter";
  std::string prog_id;
  std::string script;
};

// Reads the command line; false with a reason for a usage error.
bool parse_options(const std::vector<std::string>& args, options& o, std::string& error) {
  platform::cli::parsed p;
  if (!platform::cli::parse(kOptions, args, p, error)) return false;
  o.help = p.has("help");
  o.version = p.has("version");
  o.json = p.has("json");
  o.strict = p.has("strict");
  o.members = p.has("members");
  if (p.has("registry")) o.registry = p.value("registry");
  o.device_class = p.value("class", o.device_class);
  o.prog_id = p.value("progid");
  if (o.help || o.version) return true;
  if (p.has("progid") && !o.members) {
    error = "--progid goes with --members";
    return false;
  }
  if (p.has("progid") && p.has("class")) {
    error = "--class and --progid exclude each other";
    return false;
  }
  if (o.members) {
    if (!p.operands.empty()) {
      error = "--members takes no script";
      return false;
    }
    return true;
  }
  if (p.operands.size() > 1) {
    error = "more than one script given";
    return false;
  }
  if (p.operands.empty()) {
    error = "no script given";
    return false;
  }
  o.script = p.operands.front();
  return true;
}

// The type names of a member's letters.
std::vector<std::string_view> type_names(std::string_view letters) {
  std::vector<std::string_view> names;
  for (const char c : letters) names.push_back(platform::member_type_name(c));
  return names;
}

// One member for the listing: a method, or a property with its get and put rows joined.
struct member_entry {
  long dispid = 0;
  std::string name;
  bool property = false;
  bool writable = false;
  std::string type;    // a property's value, a method's result (letters)
  std::string params;  // a method's arguments (letters)
};

std::vector<member_entry> join_members(const std::vector<platform::member_description>& rows) {
  std::vector<member_entry> entries;
  for (const platform::member_description& row : rows) {
    const bool property = row.kind != platform::invoke_kind::method;
    member_entry* existing = nullptr;
    for (member_entry& e : entries) {
      if (property && e.property && e.dispid == row.dispid) existing = &e;
    }
    if (existing == nullptr) {
      entries.push_back({row.dispid, row.name, property, false, "", ""});
      existing = &entries.back();
    }
    if (row.kind == platform::invoke_kind::method) {
      existing->type = row.result;
      existing->params = row.params;
    } else if (row.kind == platform::invoke_kind::property_get) {
      existing->type = row.result;
    } else {
      existing->writable = true;
      // A put row's one argument is the property's type; a raw row says "?".
      if (existing->type.empty() || existing->type == "?") existing->type = row.params;
    }
  }
  return entries;
}

// Prints the members of `object`, as a table or as JSON lines.
void print_members(const std::vector<member_entry>& entries, bool json, std::ostream& out) {
  const auto join = [](const std::vector<std::string_view>& names, std::string_view separator, bool quote) {
    std::string text;
    for (std::size_t i = 0; i < names.size(); ++i) {
      text += (i == 0 ? "" : std::string(separator)) + (quote ? json_string(names[i]) : std::string(names[i]));
    }
    return text;
  };
  for (const member_entry& e : entries) {
    const std::string type = e.type.size() == 1 ? std::string(platform::member_type_name(e.type[0]))
                             : e.type.empty()   ? std::string()
                                                : std::string("unknown");
    if (json) {
      out << "{\"dispid\":" << e.dispid << ",\"name\":" << json_string(e.name) << ",\"kind\":\""
          << (e.property ? "property" : "method") << "\"";
      if (e.property) {
        out << ",\"type\":" << json_string(type) << ",\"writable\":" << (e.writable ? "true" : "false");
      } else if (e.params == "?") {
        out << ",\"args\":null,\"returns\":" << json_string(type);
      } else {
        out << ",\"args\":[" << join(type_names(e.params), ",", true) << "],\"returns\":"
            << (type.empty() ? std::string("null") : json_string(type));
      }
      out << "}\n";
    } else if (e.property) {
      out << e.dispid << "\tproperty\t" << e.name << " : " << type << (e.writable ? " (read-write)" : " (read-only)")
          << "\n";
    } else {
      out << e.dispid << "\tmethod\t" << e.name << "("
          << (e.params == "?" ? std::string("...") : join(type_names(e.params), ", ", false)) << ")"
          << (type.empty() ? "" : " : " + type) << "\n";
    }
  }
}

}  // namespace

std::string json_string(std::string_view bytes) {
  std::string out = "\"";
  std::size_t i = 0;
  while (i < bytes.size()) {
    const auto byte = static_cast<unsigned char>(bytes[i]);
    const std::size_t length = utf8_sequence(bytes.substr(i));
    if (length > 1) {
      out.append(bytes.substr(i, length));
      i += length;
      continue;
    }
    ++i;
    switch (byte) {
      case '"': out += "\\\""; continue;
      case '\\': out += "\\\\"; continue;
      case '\n': out += "\\n"; continue;
      case '\r': out += "\\r"; continue;
      case '\t': out += "\\t"; continue;
      default: break;
    }
    if (length == 1 && byte >= 0x20 && byte != 0x7F) {
      out += static_cast<char>(byte);
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
      out += escaped;
    }
  }
  return out + "\"";
}

// The absolute folder of the script file, or the current folder for standard input.
std::string ScriptFolder(const std::string& script) {
  std::string folder;
  if (script.empty() || script == "-" || script.front() != '/') {
    char cwd[PATH_MAX];
    folder = ::getcwd(cwd, sizeof cwd) != nullptr ? cwd : ".";
  }
  if (script == "-") return folder;
  const std::size_t slash = script.rfind('/');
  if (slash == std::string::npos) return folder;
  const std::string part = script.substr(0, slash);
  return folder.empty() ? (part.empty() ? "/" : part) : folder + "/" + part;
}

// Replaces every "${script_dir}" of a string argument with the script's folder.
void ExpandScriptFolder(std::string& text, const std::string& folder) {
  static constexpr std::string_view kVariable = "${script_dir}";
  for (std::size_t at = text.find(kVariable); at != std::string::npos; at = text.find(kVariable, at + folder.size())) {
    text.replace(at, kVariable.size(), folder);
  }
}

int run(const std::vector<std::string>& args, std::istream& in, std::ostream& out, std::ostream& err) {
  options o;
  std::string problem;
  if (!parse_options(args, o, problem)) {
    err << "posrun: " << problem << "\nTry 'posrun --help'.\n";
    return kExitUsage;
  }
  if (o.help) {
    out << kUsage;
    return kExitOk;
  }
  if (o.version) {
    out << platform::cli::version_line("posrun") << "\n";
    return kExitOk;
  }
  const device_class_row* device = nullptr;
  for (const device_class_row& row : kDeviceClasses) {
    if (equal_ignoring_case(row.name, o.device_class)) device = &row;
  }
  if (device == nullptr) {
    err << "posrun: unknown device class " << o.device_class << " (POSPrinter, LineDisplay or CashDrawer)\n";
    return kExitUsage;
  }

  if (o.members) {
    const platform::registry_directory_override registry(o.registry);
    const std::string prog_id = o.prog_id.empty() ? std::string(device->prog_id) : o.prog_id;
    platform::com_ptr<platform::dispatch> object;
    const hresult hr = platform::create_instance(prog_id, object);
    if (platform::failed(hr)) {
      err << "posrun: " << prog_id << " is not available: " << platform::hresult_text(hr) << ": "
          << platform::com_last_error() << "\n";
      return kExitFailure;
    }
    std::vector<platform::member_description> rows;
    const hresult listed = platform::list_members(object.get(), rows);
    if (platform::failed(listed)) {
      err << "posrun: " << prog_id << " does not list its members: " << platform::hresult_text(listed) << "\n";
      return kExitFailure;
    }
    print_members(join_members(rows), o.json, out);
    return kExitOk;
  }

  std::ifstream file;
  std::istream* script = &in;
  if (o.script != "-") {
    file.open(o.script, std::ios::binary);
    if (!file) {
      err << "posrun: cannot read " << o.script << "\n";
      return kExitFailure;
    }
    script = &file;
  }

  const platform::registry_directory_override registry(o.registry);
  if (device->prog_id.empty()) {
    err << "posrun: the " << device->name << " control is not available: the kit has no control object for it\n";
    return kExitFailure;
  }
  if (!platform::ensure_message_queue()) {
    err << "posrun: cannot create the message queue\n";
    return kExitFailure;
  }
  platform::com_ptr<platform::dispatch> control;
  const hresult hr = platform::create_instance(device->prog_id, control);
  if (platform::failed(hr)) {
    err << "posrun: the " << device->name << " control (" << device->prog_id << ") is not available: "
        << platform::hresult_text(hr) << ": " << platform::com_last_error() << "\n";
    return kExitFailure;
  }

  reporter report(out, o.json);
  session run_session(std::move(control), report, device->events);
  if (!run_session.ready()) {
    err << "posrun: cannot create the window for posted lines\n";
    return kExitFailure;
  }
  const std::string script_dir = ScriptFolder(o.script);
  std::string text;
  for (int line = 1; std::getline(*script, text); ++line) {
    if (!text.empty() && text.back() == '\r') text.pop_back();
    statement s;
    std::string reason;
    if (!parse_line(text, s, reason)) {
      report.parse_error(line, reason);
      err << "posrun: line " << line << ": " << reason << "\n";
      return kExitBadScript;
    }
    for (value& arg : s.args) {
      if (arg.is_text) ExpandScriptFolder(arg.text, script_dir);
    }
    run_session.execute(line, s);
    if (o.strict && run_session.failed()) {
      err << "posrun: line " << run_session.failed_line() << ": " << run_session.failure()
          << " (stopped by --strict)\n";
      return kExitStrict;
    }
  }
  return kExitOk;
}

}  // namespace posrun
