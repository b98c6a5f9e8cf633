// A test service-object library: a POS printer service object whose every call is recorded and
// whose results, property values, failures and callbacks the tests steer through a probe object.
#include <algorithm>
#include <cctype>
#include <map>
#include <string>
#include <vector>

#include "platform/dispatch_table.h"
#include "platform/messages.h"
#include "test_service.h"

namespace {

using platform::hresult;
using platform::Variant;

class service;

std::string lower(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return out;
}

// What the library remembers between calls: the record, the steering, the open object.
struct journal {
  std::vector<std::string> calls;
  std::map<std::string, std::int32_t> results;  // by lower-case member name; default 0
  std::map<std::string, hresult> failures;      // members that fail with an automation error
  std::map<std::int32_t, std::int32_t> numbers;
  std::map<std::int32_t, std::string> strings;
  service* current = nullptr;  // the object that OpenService bound last and that has not closed
  int live = 0;
  platform::window_handle window = platform::window_handle::none;
};

journal& state() {
  static journal j;
  return j;
}

constexpr std::uint32_t kPostedStatus = platform::kUserMessage + 1;

std::string format(std::int32_t value) { return std::to_string(value); }
std::string format(bool value) { return value ? "true" : "false"; }
std::string format(const std::string& value) { return Variant(value).debug_string().substr(7); }
std::string format(platform::dispatch* value) { return value != nullptr ? "object" : "null"; }

template <class... A>
void record(std::string_view name, const A&... args) {
  std::string line(name);
  line += "(";
  std::string separator;
  ((line += separator + format(args), separator = ", "), ...);
  line += ")";
  state().calls.push_back(std::move(line));
}

// The steered result of `name`, or its steered automation failure.
std::int32_t finish(std::string_view name) {
  const journal& j = state();
  if (const auto f = j.failures.find(lower(name)); f != j.failures.end()) {
    throw platform::com_error(f->second, "steered failure of " + std::string(name));
  }
  const auto r = j.results.find(lower(name));
  return r != j.results.end() ? r->second : 0;
}

class service final : public platform::dispatch_object<service> {
 public:
  static std::span<const platform::dispatch_member<service>> dispatch_members();

  service() { ++state().live; }
  ~service() override {
    --state().live;
    if (state().current == this) state().current = nullptr;
  }

  // Calls the control's callback `name` by name, as the kit's service objects do.
  template <class... A>
  void callback(std::string_view name, A&&... args) {
    if (control_ == nullptr) throw platform::com_error(platform::kEFail, "no control is attached");
    const platform::call_result r = platform::call(control_, name, std::forward<A>(args)...);
    if (!r.ok()) throw platform::com_error(r.hr, "callback " + std::string(name) + " failed");
  }
  std::int32_t process_id() {
    if (control_ == nullptr) throw platform::com_error(platform::kEFail, "no control is attached");
    const platform::call_result r = platform::call(control_, "SOProcessID");
    if (!r.ok()) throw platform::com_error(r.hr, "callback SOProcessID failed");
    return r.value.long_or(0);
  }
  std::int32_t fire_error(std::int32_t code, std::int32_t extended, std::int32_t locus, std::int32_t response) {
    callback("SOError", code, extended, locus, Variant::ref(response));
    return response;
  }

  std::int32_t CheckHealth(std::int32_t level) { record("CheckHealth", level); return finish("CheckHealth"); }
  std::int32_t Claim(std::int32_t timeout) { record("Claim", timeout); return finish("Claim"); }
  std::int32_t ClearOutput() { record("ClearOutput"); return finish("ClearOutput"); }
  std::int32_t Close() {
    record("Close");
    const std::int32_t code = finish("Close");
    if (code == 0) detach();
    return code;
  }
  std::int32_t COFreezeEvents(bool freeze) { record("COFreezeEvents", freeze); return finish("COFreezeEvents"); }
  std::int32_t DirectIO(std::int32_t command, std::int32_t& data, std::string& text) {
    record("DirectIO", command, data, text);
    switch (command) {
      case controls_test::kFireStatusUpdate: callback("SOStatusUpdate", data); break;
      case controls_test::kFireError: data = fire_error(111, data, 1, 12); break;
      case controls_test::kFireOutputComplete: callback("SOOutputComplete", data); break;
      case controls_test::kFireDirectIO: {
        // The service object's own variables, as after an asynchronous read.
        std::int32_t own_data = data;
        std::string own_text = text;
        callback("SODirectIO", command, Variant::ref(own_data), Variant::ref(own_text));
        data = own_data;
        text = own_text;
        break;
      }
      case controls_test::kPostStatusUpdate: post_status(data); break;
      default:
        data += 1000;
        text += "+SO";
        break;
    }
    return finish("DirectIO");
  }
  std::int32_t OpenService(const std::string& device_class, const std::string& device_name,
                           platform::dispatch* control) {
    record("OpenService", device_class, device_name, control);
    const std::int32_t code = finish("OpenService");
    if (code == 0) {
      control_ = control;  // kept without a reference, as the control outlives its service object
      state().current = this;
    }
    return code;
  }
  std::int32_t Release() { record("Release"); return finish("Release"); }
  std::int32_t GetPropertyNumber(std::int32_t index) {
    record("GetPropertyNumber", index);
    (void)finish("GetPropertyNumber");
    const auto found = state().numbers.find(index);
    return found != state().numbers.end() ? found->second : 0;
  }
  std::string GetPropertyString(std::int32_t index) {
    record("GetPropertyString", index);
    (void)finish("GetPropertyString");
    const auto found = state().strings.find(index);
    return found != state().strings.end() ? found->second : std::string();
  }
  void SetPropertyNumber(std::int32_t index, std::int32_t number) {
    record("SetPropertyNumber", index, number);
    (void)finish("SetPropertyNumber");
    state().numbers[index] = number;
  }
  void SetPropertyString(std::int32_t index, const std::string& text) {
    record("SetPropertyString", index, text);
    (void)finish("SetPropertyString");
  }
  std::int32_t BeginInsertion(std::int32_t t) { record("BeginInsertion", t); return finish("BeginInsertion"); }
  std::int32_t BeginRemoval(std::int32_t t) { record("BeginRemoval", t); return finish("BeginRemoval"); }
  std::int32_t CutPaper(std::int32_t p) { record("CutPaper", p); return finish("CutPaper"); }
  std::int32_t EndInsertion() { record("EndInsertion"); return finish("EndInsertion"); }
  std::int32_t EndRemoval() { record("EndRemoval"); return finish("EndRemoval"); }
  std::int32_t PrintBarCode(std::int32_t station, const std::string& data, std::int32_t symbology, std::int32_t height,
                            std::int32_t width, std::int32_t alignment, std::int32_t text_position) {
    record("PrintBarCode", station, data, symbology, height, width, alignment, text_position);
    return finish("PrintBarCode");
  }
  std::int32_t PrintBitmap(std::int32_t station, const std::string& file, std::int32_t width, std::int32_t alignment) {
    record("PrintBitmap", station, file, width, alignment);
    return finish("PrintBitmap");
  }
  std::int32_t PrintImmediate(std::int32_t station, const std::string& data) {
    record("PrintImmediate", station, data);
    return finish("PrintImmediate");
  }
  std::int32_t PrintNormal(std::int32_t station, const std::string& data) {
    record("PrintNormal", station, data);
    return finish("PrintNormal");
  }
  std::int32_t PrintTwoNormal(std::int32_t stations, const std::string& data1, const std::string& data2) {
    record("PrintTwoNormal", stations, data1, data2);
    return finish("PrintTwoNormal");
  }
  std::int32_t RotatePrint(std::int32_t station, std::int32_t rotation) {
    record("RotatePrint", station, rotation);
    return finish("RotatePrint");
  }
  std::int32_t SetBitmap(std::int32_t number, std::int32_t station, const std::string& file, std::int32_t width,
                         std::int32_t alignment) {
    record("SetBitmap", number, station, file, width, alignment);
    return finish("SetBitmap");
  }
  std::int32_t SetLogo(std::int32_t location, const std::string& data) {
    record("SetLogo", location, data);
    return finish("SetLogo");
  }
  std::int32_t TransactionPrint(std::int32_t station, std::int32_t control) {
    record("TransactionPrint", station, control);
    return finish("TransactionPrint");
  }
  std::int32_t ValidateData(std::int32_t station, const std::string& data) {
    record("ValidateData", station, data);
    return finish("ValidateData");
  }

 private:
  void detach() {
    control_ = nullptr;
    if (state().current == this) state().current = nullptr;
  }
  // Queues a status update that the library's window delivers on the next pump.
  static void post_status(std::int32_t data) {
    static const platform::scoped_window_class window_class(
        "ControlsTestService", [](platform::window_handle, std::uint32_t id, std::int64_t wparam, std::int64_t) {
          if (id == kPostedStatus && state().current != nullptr) {
            state().current->callback("SOStatusUpdate", static_cast<std::int32_t>(wparam));
          }
        });
    journal& j = state();
    if (!platform::post_message(j.window, kPostedStatus, data)) {
      j.window = platform::create_window("ControlsTestService", "");
      (void)platform::post_message(j.window, kPostedStatus, data);
    }
  }

  platform::dispatch* control_ = nullptr;
};

// Dispatch ids 1 to 27 in the order of the POS printer service object.
constexpr platform::dispatch_member<service> kServiceMembers[] = {
    platform::dispatch_method<&service::CheckHealth>("CheckHealth", 1),
    platform::dispatch_method<&service::Claim>("Claim", 2),
    platform::dispatch_method<&service::ClearOutput>("ClearOutput", 3),
    platform::dispatch_method<&service::Close>("Close", 4),
    platform::dispatch_method<&service::COFreezeEvents>("COFreezeEvents", 5),
    platform::dispatch_method<&service::DirectIO>("DirectIO", 6),
    platform::dispatch_method<&service::OpenService>("OpenService", 7),
    platform::dispatch_method<&service::Release>("Release", 8),
    platform::dispatch_method<&service::GetPropertyNumber>("GetPropertyNumber", 9),
    platform::dispatch_method<&service::GetPropertyString>("GetPropertyString", 10),
    platform::dispatch_method<&service::SetPropertyNumber>("SetPropertyNumber", 11),
    platform::dispatch_method<&service::SetPropertyString>("SetPropertyString", 12),
    platform::dispatch_method<&service::BeginInsertion>("BeginInsertion", 13),
    platform::dispatch_method<&service::BeginRemoval>("BeginRemoval", 14),
    platform::dispatch_method<&service::CutPaper>("CutPaper", 15),
    platform::dispatch_method<&service::EndInsertion>("EndInsertion", 16),
    platform::dispatch_method<&service::EndRemoval>("EndRemoval", 17),
    platform::dispatch_method<&service::PrintBarCode>("PrintBarCode", 18),
    platform::dispatch_method<&service::PrintBitmap>("PrintBitmap", 19),
    platform::dispatch_method<&service::PrintImmediate>("PrintImmediate", 20),
    platform::dispatch_method<&service::PrintNormal>("PrintNormal", 21),
    platform::dispatch_method<&service::PrintTwoNormal>("PrintTwoNormal", 22),
    platform::dispatch_method<&service::RotatePrint>("RotatePrint", 23),
    platform::dispatch_method<&service::SetBitmap>("SetBitmap", 24),
    platform::dispatch_method<&service::SetLogo>("SetLogo", 25),
    platform::dispatch_method<&service::TransactionPrint>("TransactionPrint", 26),
    platform::dispatch_method<&service::ValidateData>("ValidateData", 27),
};
std::span<const platform::dispatch_member<service>> service::dispatch_members() { return kServiceMembers; }

// The tests' handle on the library: the record, the steering and callbacks outside any call.
class probe final : public platform::dispatch_object<probe> {
 public:
  static std::span<const platform::dispatch_member<probe>> dispatch_members();

  void Reset() {
    journal& j = state();
    j.calls.clear();
    j.results.clear();
    j.failures.clear();
    j.numbers.clear();
    j.strings.clear();
  }
  // The calls since the last TakeCalls, one per line.
  std::string TakeCalls() {
    std::string text;
    for (const std::string& call : state().calls) text += (text.empty() ? "" : "\n") + call;
    state().calls.clear();
    return text;
  }
  void SetResult(const std::string& member, std::int32_t value) { state().results[lower(member)] = value; }
  void SetFailure(const std::string& member, std::int32_t code) { state().failures[lower(member)] = code; }
  void SetNumber(std::int32_t index, std::int32_t value) { state().numbers[index] = value; }
  void SetString(std::int32_t index, const std::string& value) { state().strings[index] = value; }
  void FireStatusUpdate(std::int32_t data) { open_service().callback("SOStatusUpdate", data); }
  void FireOutputComplete(std::int32_t id) { open_service().callback("SOOutputComplete", id); }
  // Returns the response the control's handlers left in pErrorResponse.
  std::int32_t FireError(std::int32_t code, std::int32_t extended, std::int32_t locus, std::int32_t response) {
    return open_service().fire_error(code, extended, locus, response);
  }
  // Returns "data:text" as the control's handlers left the two cells.
  std::string FireDirectIO(std::int32_t number, std::int32_t data, std::string text) {
    open_service().callback("SODirectIO", number, Variant::ref(data), Variant::ref(text));
    return std::to_string(data) + ":" + text;
  }
  std::int32_t CallProcessID() { return open_service().process_id(); }
  std::int32_t LiveObjects() { return state().live; }
  bool Bound() { return state().current != nullptr; }

 private:
  static service& open_service() {
    if (state().current == nullptr) throw platform::com_error(platform::kEFail, "no service object is open");
    return *state().current;
  }
};

constexpr platform::dispatch_member<probe> kProbeMembers[] = {
    platform::dispatch_method<&probe::Reset>("Reset", 1),
    platform::dispatch_method<&probe::TakeCalls>("TakeCalls", 2),
    platform::dispatch_method<&probe::SetResult>("SetResult", 3),
    platform::dispatch_method<&probe::SetFailure>("SetFailure", 4),
    platform::dispatch_method<&probe::SetNumber>("SetNumber", 5),
    platform::dispatch_method<&probe::SetString>("SetString", 6),
    platform::dispatch_method<&probe::FireStatusUpdate>("FireStatusUpdate", 7),
    platform::dispatch_method<&probe::FireOutputComplete>("FireOutputComplete", 8),
    platform::dispatch_method<&probe::FireError>("FireError", 9),
    platform::dispatch_method<&probe::FireDirectIO>("FireDirectIO", 10),
    platform::dispatch_method<&probe::CallProcessID>("CallProcessID", 11),
    platform::dispatch_method<&probe::LiveObjects>("LiveObjects", 12),
    platform::dispatch_method<&probe::Bound>("Bound", 13),
};
std::span<const platform::dispatch_member<probe>> probe::dispatch_members() { return kProbeMembers; }

constexpr platform::server_class kClasses[] = {
    {.clsid = controls_test::kServiceClsid,
     .prog_id = controls_test::kServiceProgId,
     .description = "Test POS printer service object",
     .threading_model = "Apartment",
     .create = &platform::create_object<service>},
    {.clsid = controls_test::kProbeClsid,
     .prog_id = controls_test::kProbeProgId,
     .description = "Probe of the test service object",
     .threading_model = "Apartment",
     .create = &platform::create_object<probe>},
};

}  // namespace

PLATFORM_COM_SERVER_EXPORTS(kClasses)
