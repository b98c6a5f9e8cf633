// An in-process server library for the object model's tests: one class with by-value and
// by-reference members, properties (one read-only), an event source and creation from inside a
// library.
#include <stdexcept>

#include "platform/dispatch_table.h"
#include "testserver.h"

namespace {

using platform::Variant;

class echo final : public platform::dispatch_object<echo, platform::connection_point_impl> {
 public:
  static std::span<const platform::dispatch_member<echo>> dispatch_members();

  std::int32_t Add(std::int32_t a, std::int32_t b) { return a + b; }
  // Changes both by-reference arguments, as an OPOS DirectIO does.
  std::int32_t DirectIO(std::int32_t command, std::int32_t& data, std::string& text) {
    data += command;
    text = "<" + text + ">";
    return command * 2;
  }
  // Fills the caller's byte array in place (a setup record read).
  std::int32_t FillRecord(std::int32_t first, std::vector<std::uint8_t>& record) {
    for (std::size_t i = 0; i < record.size(); ++i) record[i] = static_cast<std::uint8_t>(first + i);
    return static_cast<std::int32_t>(record.size());
  }
  std::int32_t get_Value() const { return value_; }
  void put_Value(std::int32_t value) { value_ = value; }
  std::int32_t get_Version() const { return 1004024; }
  // Fires ErrorEvent by id and returns the response a sink wrote (12 when none did).
  std::int32_t FireError(std::int32_t code) {
    std::int32_t response = 12;
    events().fire(com_test::kErrorEvent, code, 0, 1, Variant::ref(response));
    return response;
  }
  // Fires DirectIOEvent by name and returns what the sinks left in the two cells.
  std::string FireDirectIO(std::int32_t number, std::int32_t data, std::string text) {
    events().fire("DirectIOEvent", number, Variant::ref(data), Variant::ref(text));
    return std::to_string(data) + ":" + text;
  }
  void Fail() { throw std::runtime_error("the printer caught fire"); }
  // Creates an object by ProgID from inside this library.
  Variant CreateByName(const std::string& name) {
    platform::com_ptr<platform::dispatch> object;
    const platform::hresult hr = platform::create_instance(name, object);
    if (platform::failed(hr)) throw platform::com_error(hr, platform::com_last_error());
    return Variant(object);
  }

 private:
  std::int32_t value_ = 0;
};

constexpr platform::dispatch_member<echo> kEchoMembers[] = {
    platform::dispatch_method<&echo::Add>("Add", 1),
    platform::dispatch_method<&echo::DirectIO>("DirectIO", 2),
    platform::dispatch_method<&echo::FillRecord>("FillRecord", 3),
    platform::dispatch_get<&echo::get_Value>("Value", 4),
    platform::dispatch_put<&echo::put_Value>("Value", 4),
    platform::dispatch_get<&echo::get_Version>("Version", 5),
    platform::dispatch_method<&echo::FireError>("FireError", 6),
    platform::dispatch_method<&echo::FireDirectIO>("FireDirectIO", 7),
    platform::dispatch_method<&echo::Fail>("Fail", 8),
    platform::dispatch_method<&echo::CreateByName>("CreateByName", 9),
};

std::span<const platform::dispatch_member<echo>> echo::dispatch_members() { return kEchoMembers; }

constexpr platform::server_class kClasses[] = {
    {.clsid = com_test::kEchoClsid,
     .prog_id = com_test::kEchoProgId,
     .description = com_test::kEchoDescription,
     .threading_model = "Apartment",
     .create = &platform::create_object<echo>},
};

}  // namespace

PLATFORM_COM_SERVER_EXPORTS(kClasses)
