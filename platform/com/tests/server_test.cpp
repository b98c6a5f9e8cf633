// Tests of self-registration, unregistration and the server-side helpers.
#include <dlfcn.h>

#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "platform/dispatch_table.h"
#include "platform/registry.h"
#include "platform/testing/temp_dir.h"
#include "testserver.h"

namespace {

using platform::registry_key;
using platform::registry_root;

// The test server library, loaded for the life of a test.
class ServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    handle_ = ::dlopen(COM_TESTSERVER_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle_, nullptr) << ::dlerror();
  }
  void TearDown() override {
    if (handle_ != nullptr) ::dlclose(handle_);
  }
  platform::hresult call_export(const char* name) {
    const auto fn = reinterpret_cast<platform::dll_register_server_fn>(::dlsym(handle_, name));
    return fn != nullptr ? fn() : platform::kEFail;
  }
  static std::string classes_value(const std::string& path, const std::string& name = "") {
    registry_key key;
    std::string value;
    if (registry_key::open(registry_root::classes_root, path, key) != platform::kErrorSuccess) return "<no key>";
    if (key.query_string(name, value) != platform::kErrorSuccess) return "<no value>";
    return value;
  }

  platform::testing::scoped_registry_dir registry_;
  void* handle_ = nullptr;
};

TEST_F(ServerTest, RegistrationWritesTheClassKeys) {
  ASSERT_EQ(call_export("DllRegisterServer"), platform::kSOk) << platform::take_error_info();
  const std::string clsid = com_test::kEchoClsid.to_string();
  const std::string library = std::filesystem::absolute(COM_TESTSERVER_PATH).lexically_normal().string();
  struct row {
    std::string path;
    std::string name;
    std::string value;
  };
  const row rows[] = {
      {com_test::kEchoProgId, "", com_test::kEchoDescription},
      {std::string(com_test::kEchoProgId) + "\\CLSID", "", clsid},
      {"CLSID\\" + clsid, "", com_test::kEchoDescription},
      {"CLSID\\" + clsid + "\\ProgID", "", com_test::kEchoProgId},
      {"CLSID\\" + clsid + "\\VersionIndependentProgID", "", com_test::kEchoIndependentProgId},
      {"CLSID\\" + clsid + "\\InProcServer32", "", library},
      {"CLSID\\" + clsid + "\\InProcServer32", "ThreadingModel", "Apartment"},
      {com_test::kEchoIndependentProgId, "", com_test::kEchoDescription},
      {std::string(com_test::kEchoIndependentProgId) + "\\CLSID", "", clsid},
      {std::string(com_test::kEchoIndependentProgId) + "\\CurVer", "", com_test::kEchoProgId},
  };
  for (const row& r : rows) {
    EXPECT_EQ(classes_value(r.path, r.name), r.value) << r.path << " " << r.name;
  }
  EXPECT_TRUE(std::filesystem::path(library).is_absolute());
}

TEST_F(ServerTest, UnregistrationRemovesTheKeysAndIsRepeatable) {
  ASSERT_EQ(call_export("DllRegisterServer"), platform::kSOk);
  ASSERT_EQ(call_export("DllUnregisterServer"), platform::kSOk);
  const std::string clsid = com_test::kEchoClsid.to_string();
  for (const std::string& path : {std::string(com_test::kEchoProgId), std::string(com_test::kEchoIndependentProgId),
                                 "CLSID\\" + clsid}) {
    registry_key key;
    EXPECT_EQ(registry_key::open(registry_root::classes_root, path, key), platform::kErrorFileNotFound) << path;
  }
  EXPECT_EQ(call_export("DllUnregisterServer"), platform::kSOk) << "nothing left to remove is fine";
}

TEST_F(ServerTest, UnregistrationLeavesANameThatAnotherClassOwns) {
  ASSERT_EQ(call_export("DllRegisterServer"), platform::kSOk);
  registry_key key;
  ASSERT_EQ(registry_key::open(registry_root::classes_root,
                               std::string(com_test::kEchoIndependentProgId) + "\\CLSID", key),
            platform::kErrorSuccess);
  ASSERT_EQ(key.set_string("", "{B0000000-0000-0000-0000-000000000001}"), platform::kErrorSuccess);
  ASSERT_EQ(call_export("DllUnregisterServer"), platform::kSOk);
  EXPECT_EQ(classes_value(std::string(com_test::kEchoIndependentProgId) + "\\CLSID"),
            "{B0000000-0000-0000-0000-000000000001}");
  EXPECT_EQ(classes_value(com_test::kEchoProgId), "<no key>");
}

TEST_F(ServerTest, RegistrationFailureCarriesTheRegistryError) {
  // A registry folder below a plain file cannot be created, whoever runs the test.
  platform::testing::temp_dir dir;
  std::ofstream(dir / "file") << "x";
  ::setenv("OPOS_REGISTRY_DIR", (dir / "file" / "registry").c_str(), 1);
  const platform::hresult hr = call_export("DllRegisterServer");
  EXPECT_TRUE(platform::failed(hr)) << platform::hresult_text(hr);
  EXPECT_EQ(static_cast<std::uint32_t>(hr) & 0xFFFF0000u, 0x80070000u) << platform::hresult_text(hr);
  EXPECT_NE(platform::take_error_info().find("registering"), std::string::npos);
}

TEST(ServerHelpersTest, VersionIndependentProgId) {
  const std::pair<const char*, const char*> rows[] = {
      {"Korvane.POSPrinter.VX40.1", "Korvane.POSPrinter.VX40"},
      {"Netcfg.Configurator.1", "Netcfg.Configurator"},
      {"A.B.12", "A.B"},
      {"A.B", "A.B"},
      {"A.B.1x", "A.B.1x"},
      {"A.", "A."},
      {".1", ".1"},
      {"Plain", "Plain"},
  };
  for (const auto& [input, expected] : rows) {
    EXPECT_EQ(platform::version_independent_prog_id(input), expected) << input;
  }
}

// A class served by this test program, to drive the server helpers directly.
class tiny final : public platform::dispatch_object<tiny> {
 public:
  static std::span<const platform::dispatch_member<tiny>> dispatch_members() { return {}; }
};

TEST(ServerHelpersTest, ClassObjectsFactoriesAndUnloadCount) {
  const platform::guid clsid = platform::guid::literal("{C0000000-0000-0000-0000-000000000001}");
  const platform::server_class classes[] = {
      {.clsid = clsid, .prog_id = "Tiny.Thing.1", .description = "tiny", .create = &platform::create_object<tiny>}};
  void* raw = nullptr;
  EXPECT_EQ(platform::server_get_class_object(classes, platform::guid::literal("{C0000000-0000-0000-0000-000000000002}"),
                                              platform::class_factory::kIid, &raw),
            platform::kClassEClassNotAvailable);
  EXPECT_EQ(raw, nullptr);
  ASSERT_EQ(platform::server_can_unload_now(), platform::kSOk);
  ASSERT_EQ(platform::server_get_class_object(classes, clsid, platform::class_factory::kIid, &raw), platform::kSOk);
  auto factory = platform::com_ptr<platform::class_factory>::adopt(static_cast<platform::class_factory*>(raw));
  EXPECT_EQ(platform::server_can_unload_now(), platform::kSFalse) << "a factory is alive";

  void* object = nullptr;
  {
    const auto outer = platform::make_object<tiny>();
    EXPECT_EQ(factory->create_instance(outer.get(), platform::dispatch::kIid, &object),
              platform::kClassENoAggregation);
  }
  ASSERT_EQ(factory->create_instance(nullptr, platform::dispatch::kIid, &object), platform::kSOk);
  auto made = platform::com_ptr<platform::dispatch>::adopt(static_cast<platform::dispatch*>(object));
  EXPECT_EQ(factory->create_instance(nullptr, platform::class_factory::kIid, &object), platform::kENoInterface);

  factory->lock_server(true);
  factory.reset();
  made.reset();
  EXPECT_EQ(platform::server_can_unload_now(), platform::kSFalse) << "the lock holds";
  // The lock belongs to the module, not to the factory that took it.
  platform::module_lock(false);
  EXPECT_EQ(platform::server_can_unload_now(), platform::kSOk);
}

TEST(ServerHelpersTest, ResultCodeTexts) {
  EXPECT_EQ(platform::hresult_text(platform::kDispEUnknownName), "0x80020006 (DISP_E_UNKNOWNNAME)");
  EXPECT_EQ(platform::hresult_text(platform::kCtlESetNotSupported), "0x800A017F (CTL_E_SETNOTSUPPORTED)");
  EXPECT_EQ(platform::hresult_text(static_cast<platform::hresult>(0x80040069u)), "0x80040069");
  EXPECT_EQ(platform::hresult_from_win32(2), static_cast<platform::hresult>(0x80070002u));
  EXPECT_EQ(platform::hresult_from_win32(0), platform::kSOk);
}

}  // namespace
