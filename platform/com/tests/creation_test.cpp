// Tests of creation through the registry and a real server library, and of class objects
// registered in the process.
#include <dlfcn.h>

#include <filesystem>

#include <gtest/gtest.h>

#include "platform/dispatch_table.h"
#include "platform/registry.h"
#include "platform/testing/temp_dir.h"
#include "testserver.h"

namespace {

using platform::com_ptr;
using platform::dispatch;
using platform::hresult;
using platform::Variant;

// Registers the test server library (through its own DllRegisterServer) in a private registry.
class CreationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    void* handle = ::dlopen(COM_TESTSERVER_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle, nullptr) << ::dlerror();
    const auto reg = reinterpret_cast<platform::dll_register_server_fn>(::dlsym(handle, "DllRegisterServer"));
    ASSERT_NE(reg, nullptr);
    ASSERT_EQ(reg(), platform::kSOk) << platform::take_error_info();
    ::dlclose(handle);
  }

  // Points the class's InProcServer32 at another library path.
  static void set_server_path(const platform::guid& clsid, const std::string& path) {
    platform::registry_key key;
    ASSERT_EQ(platform::registry_key::create(platform::registry_root::classes_root,
                                             "CLSID\\" + clsid.to_string() + "\\InProcServer32", key),
              platform::kErrorSuccess);
    ASSERT_EQ(key.set_string("", path), platform::kErrorSuccess);
  }

  platform::testing::scoped_registry_dir registry_;
};

// A sink for the echo object's events: ErrorEvent answers 5, DirectIOEvent rewrites both cells.
class echo_sink final : public platform::dispatch_object<echo_sink> {
 public:
  static std::span<const platform::dispatch_member<echo_sink>> dispatch_members();
  void DirectIOEvent(std::int32_t number, std::int32_t& data, std::string& text) {
    data = data * 10 + number;
    text += " seen";
  }
  void ErrorEvent(std::int32_t code, std::int32_t, std::int32_t, std::int32_t& response) {
    last_code = code;
    response = 5;
  }
  std::int32_t last_code = 0;
};

constexpr platform::dispatch_member<echo_sink> kSinkMembers[] = {
    platform::dispatch_method<&echo_sink::DirectIOEvent>("DirectIOEvent", com_test::kDirectIOEvent),
    platform::dispatch_method<&echo_sink::ErrorEvent>("ErrorEvent", com_test::kErrorEvent),
};
std::span<const platform::dispatch_member<echo_sink>> echo_sink::dispatch_members() { return kSinkMembers; }

// An object hosted by the test program itself.
class hosted final : public platform::dispatch_object<hosted> {
 public:
  static std::span<const platform::dispatch_member<hosted>> dispatch_members();
  std::string Where() { return "host"; }
};
constexpr platform::dispatch_member<hosted> kHostedMembers[] = {
    platform::dispatch_method<&hosted::Where>("Where", 1),
};
std::span<const platform::dispatch_member<hosted>> hosted::dispatch_members() { return kHostedMembers; }
constexpr platform::guid kHostedClsid = platform::guid::literal("{0D8E3B7A-51C4-4E2F-A6B9-7C1D2E3F4A5B}");

TEST_F(CreationTest, CreatesByProgIdIndependentProgIdAndClsid) {
  const std::string names[] = {com_test::kEchoProgId, com_test::kEchoIndependentProgId,
                               "platformtest.echo.1", com_test::kEchoClsid.to_string()};
  for (const std::string& name : names) {
    com_ptr<dispatch> object;
    ASSERT_EQ(platform::create_instance(name, object), platform::kSOk) << name << ": " << platform::com_last_error();
    ASSERT_TRUE(object) << name;
    EXPECT_EQ(platform::call(object.get(), "Add", 2, 40).value, Variant(42)) << name;
  }
  com_ptr<dispatch> by_guid;
  EXPECT_EQ(platform::create_instance(com_test::kEchoClsid, by_guid), platform::kSOk);
  EXPECT_TRUE(by_guid);
  platform::guid clsid;
  EXPECT_EQ(platform::clsid_from_prog_id(com_test::kEchoIndependentProgId, clsid), platform::kSOk);
  EXPECT_EQ(clsid, com_test::kEchoClsid);
}

TEST_F(CreationTest, ByReferenceArgumentsComeBackChangedAcrossTheLibrary) {
  com_ptr<dispatch> object;
  ASSERT_EQ(platform::create_instance(com_test::kEchoProgId, object), platform::kSOk);
  platform::dispid_cache cache;
  platform::dispatch_client client(object, &cache);
  std::int32_t data = 4;
  std::string text("a\0b", 3);
  const auto r = client.call("DirectIO", 3, Variant::ref(data), Variant::ref(text));
  ASSERT_EQ(r.hr, platform::kSOk);
  EXPECT_EQ(r.value, Variant(6));
  EXPECT_EQ(data, 7);
  EXPECT_EQ(text, std::string("<a\0b>", 5));

  std::vector<std::uint8_t> record(4, 0);
  EXPECT_EQ(client.call("FillRecord", 0xE0, Variant::ref(record)).value, Variant(4));
  EXPECT_EQ(record, (std::vector<std::uint8_t>{0xE0, 0xE1, 0xE2, 0xE3}));
}

TEST_F(CreationTest, PropertiesUnknownNamesAndArgumentChecks) {
  com_ptr<dispatch> object;
  ASSERT_EQ(platform::create_instance(com_test::kEchoProgId, object), platform::kSOk);
  platform::dispatch_client client(object);
  EXPECT_EQ(client.put("Value", 77), platform::kSOk);
  EXPECT_EQ(client.get("value").value, Variant(77));
  EXPECT_EQ(client.get("Version").value, Variant(1004024));
  EXPECT_EQ(client.put("Version", 1), platform::kCtlESetNotSupported);
  EXPECT_EQ(client.call("NoSuchMember").hr, platform::kDispEUnknownName);
  EXPECT_EQ(client.call("Add", 1).hr, platform::kDispEBadParamCount);
  EXPECT_EQ(client.call("Add", "one", 2).hr, platform::kDispETypeMismatch);
  EXPECT_EQ(client.call("DirectIO", 1, 2, "by value").hr, platform::kDispETypeMismatch);
  platform::take_error_info();
  // The failure text set inside the library reaches this program.
  EXPECT_EQ(client.call("Fail").hr, platform::kDispEException);
  EXPECT_EQ(platform::take_error_info(), "the printer caught fire");
}

TEST_F(CreationTest, EventsCarryTheSinksAnswersBack) {
  com_ptr<dispatch> object;
  ASSERT_EQ(platform::create_instance(com_test::kEchoProgId, object), platform::kSOk);
  const auto point = object.as<platform::connection_point>();
  ASSERT_TRUE(point);
  EXPECT_EQ(platform::call(object.get(), "FireError", 111).value, Variant(12)) << "no sink: untouched";

  auto events = platform::make_object<echo_sink>();
  std::uint32_t cookie = 0;
  ASSERT_EQ(point->advise(events.get(), cookie), platform::kSOk);
  EXPECT_EQ(platform::call(object.get(), "FireError", 111).value, Variant(5));
  EXPECT_EQ(events->last_code, 111);
  EXPECT_EQ(platform::call(object.get(), "FireDirectIO", 3, 4, "data").value, Variant("43:data seen"));
  ASSERT_EQ(point->unadvise(cookie), platform::kSOk);
  EXPECT_EQ(platform::call(object.get(), "FireError", 111).value, Variant(12));
}

TEST_F(CreationTest, FailuresGiveTheirCodesAndReasons) {
  platform::testing::temp_dir dir;
  const platform::guid missing_file = platform::guid::literal("{A0000000-0000-0000-0000-000000000001}");
  const platform::guid no_export = platform::guid::literal("{A0000000-0000-0000-0000-000000000002}");
  const platform::guid not_served = platform::guid::literal("{A0000000-0000-0000-0000-000000000003}");
  const std::string gone = (dir / "libgone.so").string();
  set_server_path(missing_file, gone);
  set_server_path(no_export, COM_TESTBROKEN_PATH);
  set_server_path(not_served, COM_TESTSERVER_PATH);

  struct row {
    const char* what;
    std::string name;
    hresult hr;
    std::string reason;  // part of com_last_error()
  };
  const row rows[] = {
      {"unregistered ProgID", "PlatformTest.Nothing.1", platform::kCoEClassString, "not registered"},
      {"malformed CLSID text", "{not-a-guid}", platform::kCoEClassString, "malformed"},
      {"empty name", "", platform::kCoEClassString, "not a ProgID"},
      {"unregistered CLSID", "{A0000000-0000-0000-0000-0000000000FF}", platform::kRegdbEClassNotReg,
       "InProcServer32"},
      {"library file gone", missing_file.to_string(), platform::kRegdbEClassNotReg, gone},
      {"library without DllGetClassObject", no_export.to_string(), platform::kEFail, "DllGetClassObject"},
      {"library that does not serve the class", not_served.to_string(), platform::kClassEClassNotAvailable,
       "DllGetClassObject of"},
  };
  for (const row& r : rows) {
    com_ptr<dispatch> object;
    EXPECT_EQ(platform::create_instance(r.name, object), r.hr) << r.what << ": " << platform::hresult_text(r.hr);
    EXPECT_FALSE(object) << r.what;
    EXPECT_NE(platform::com_last_error().find(r.reason), std::string::npos)
        << r.what << ": " << platform::com_last_error();
  }
  com_ptr<dispatch> object;
  ASSERT_EQ(platform::create_instance(com_test::kEchoProgId, object), platform::kSOk);
  EXPECT_EQ(platform::com_last_error(), "") << "a success clears it";
}

TEST_F(CreationTest, ClassesRegisteredInTheProcessServeEveryLibrary) {
  const auto factory = platform::make_class_factory(&platform::create_object<hosted>);
  std::uint32_t cookie = 0;
  ASSERT_EQ(platform::register_class_object(kHostedClsid, factory.get(), cookie, "PlatformTest.Hosted"),
            platform::kSOk);
  com_ptr<dispatch> direct;
  ASSERT_EQ(platform::create_instance("platformtest.hosted", direct), platform::kSOk);
  EXPECT_EQ(platform::call(direct.get(), "Where").value, Variant("host"));

  // The server library has its own copy of the object model; it still finds this registration.
  com_ptr<dispatch> echo;
  ASSERT_EQ(platform::create_instance(com_test::kEchoProgId, echo), platform::kSOk);
  const auto made = platform::call(echo.get(), "CreateByName", "PlatformTest.Hosted");
  ASSERT_EQ(made.hr, platform::kSOk) << platform::take_error_info();
  com_ptr<dispatch> inner;
  ASSERT_EQ(made.value.as_object(inner), platform::kSOk);
  EXPECT_EQ(platform::call(inner.get(), "Where").value, Variant("host"));

  EXPECT_EQ(platform::revoke_class_object(cookie), platform::kSOk);
  EXPECT_EQ(platform::revoke_class_object(cookie), platform::kEInvalidArg);
  EXPECT_EQ(platform::create_instance("PlatformTest.Hosted", direct), platform::kCoEClassString);
  EXPECT_EQ(platform::call(echo.get(), "CreateByName", "PlatformTest.Hosted").hr, platform::kCoEClassString);
  platform::take_error_info();
}

TEST_F(CreationTest, LibrariesUnloadOnlyWhenTheyHaveNoObjectsLeft) {
  platform::free_unused_libraries();  // whatever earlier tests left
  com_ptr<dispatch> object;
  ASSERT_EQ(platform::create_instance(com_test::kEchoProgId, object), platform::kSOk);
  EXPECT_EQ(platform::free_unused_libraries(), 0u) << "an object of the library is alive";
  EXPECT_EQ(platform::call(object.get(), "Add", 1, 1).value, Variant(2));
  object.reset();
  EXPECT_EQ(platform::free_unused_libraries(), 1u);
  EXPECT_EQ(platform::free_unused_libraries(), 0u);
  // The next creation loads it again.
  ASSERT_EQ(platform::create_instance(com_test::kEchoProgId, object), platform::kSOk);
  EXPECT_EQ(platform::call(object.get(), "Add", 2, 2).value, Variant(4));
}

}  // namespace
