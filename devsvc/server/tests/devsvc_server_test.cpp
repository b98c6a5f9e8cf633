// The Devsvc library as an in-process server: registration of its four classes, creation by
// ProgID, the classes not driven yet, and unloading once its objects and machinery are gone.
#include <dlfcn.h>

#include <gtest/gtest.h>

#include <string>

#include "core/opos.h"
#include "platform/com.h"
#include "platform/messages.h"
#include "platform/registry.h"
#include "testing/harness.h"

namespace devsvc {
namespace {

using platform::registry_key;
using platform::registry_root;

struct class_row {
  const char* clsid;
  const char* prog_id;
};
constexpr class_row kClasses[] = {
    {"{EA5F1872-773C-4B23-A3A6-3485E22CEADC}", "Korvane.POSPrinter.VX40.1"},
    {"{56FE19BB-A9F5-41FA-BDF9-61D93B2FB290}", "Korvane.POSPrinter.VX40C.1"},
    {"{AEB16FE8-FF2A-4E8C-AC46-18319EC55E4C}", "Korvane.LineDisplay.VX40.1"},
    {"{33FD71E3-2C9C-4949-B9F1-D5358B093679}", "Korvane.CashDrawer.VX40.1"},
};

std::string string_value(const std::string& path, const std::string& name) {
  registry_key key;
  std::string value;
  if (registry_key::open(registry_root::classes_root, path, key) != platform::kErrorSuccess) return "<no key>";
  if (key.query_string(name, value) != platform::kErrorSuccess) return "<no value>";
  return value;
}

// OpenService on a printer object without a control.
std::int32_t open(const platform::com_ptr<platform::dispatch>& printer) {
  return platform::call(printer.get(), "OpenService", "POSPrinter", "VX40Device", platform::Variant())
      .value.long_or(-1);
}

class ServerTest : public ::testing::Test {
 protected:
  testing::environment env_;  // registers Devsvc
};

TEST_F(ServerTest, RegistersFourApartmentClassesUnderTheirProgIds) {
  for (const class_row& c : kClasses) {
    SCOPED_TRACE(c.prog_id);
    EXPECT_EQ(string_value(std::string(c.prog_id) + "\\CLSID", ""), c.clsid);
    const std::string server = "CLSID\\" + std::string(c.clsid) + "\\InProcServer32";
    EXPECT_EQ(string_value(server, "ThreadingModel"), "Apartment");
    EXPECT_NE(string_value(server, "").find("libDevsvc.so"), std::string::npos);
  }
}

TEST_F(ServerTest, UnregisterRemovesTheClasses) {
  void* library = ::dlopen(DEVSVC_TEST_LIBRARY, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(library, nullptr) << ::dlerror();
  auto* unregister = reinterpret_cast<platform::dll_register_server_fn>(::dlsym(library, "DllUnregisterServer"));
  ASSERT_NE(unregister, nullptr);
  EXPECT_EQ(unregister(), platform::kSOk);
  ::dlclose(library);
  for (const class_row& c : kClasses) {
    EXPECT_EQ(string_value(std::string(c.prog_id) + "\\CLSID", ""), "<no key>") << c.prog_id;
    platform::com_ptr<platform::dispatch> object;
    EXPECT_TRUE(platform::failed(platform::create_instance(c.prog_id, object))) << c.prog_id;
  }
}

TEST_F(ServerTest, ExportsOnlyTheServerEntryPoints) {
  void* library = ::dlopen(DEVSVC_TEST_LIBRARY, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(library, nullptr) << ::dlerror();
  for (const char* name : {"DllRegisterServer", "DllUnregisterServer", "DllGetClassObject", "DllCanUnloadNow"}) {
    EXPECT_NE(::dlsym(library, name), nullptr) << name;
  }
  // The library's own functions stay inside it.
  for (const char* name : {"_ZN6devsvc19ModuleObjectCreatedEv", "_ZN6devsvc12NextOutputIDEv",
                           "_ZN8platform18registry_directoryEv"}) {
    EXPECT_EQ(::dlsym(library, name), nullptr) << name;
  }
  ::dlclose(library);
}

TEST_F(ServerTest, EveryPrinterClassOpensOnlyADeviceKeyThatExists) {
  for (const char* prog_id : {"Korvane.POSPrinter.VX40.1", "Korvane.POSPrinter.VX40C.1"}) {
    platform::com_ptr<platform::dispatch> object;
    ASSERT_TRUE(platform::succeeded(platform::create_instance(prog_id, object))) << prog_id;
    const platform::call_result r =
        platform::call(object.get(), "OpenService", "POSPrinter", "NoSuchDevice", platform::Variant());
    ASSERT_TRUE(r.ok()) << prog_id;
    EXPECT_EQ(r.value.long_or(-1), OPOS_E_NOEXIST) << prog_id;
  }
}

TEST_F(ServerTest, LibraryUnloadsOnceItsObjectsAndMachineryAreGone) {
  testing::set_port("SRV1", "sim:" + testing::unique_sim_name());
  testing::printer_key key;
  key.comm_port = "SRV1";
  testing::write_printer_key(key);

  platform::com_ptr<platform::dispatch> printer;
  ASSERT_TRUE(platform::succeeded(platform::create_instance("Korvane.POSPrinter.VX40.1", printer)));
  void* library = ::dlopen(DEVSVC_TEST_LIBRARY, RTLD_NOW | RTLD_NOLOAD);
  ASSERT_NE(library, nullptr) << "created objects keep the library loaded";
  auto* can_unload = reinterpret_cast<platform::dll_can_unload_now_fn>(::dlsym(library, "DllCanUnloadNow"));
  ::dlclose(library);  // drops only the reference taken above
  ASSERT_NE(can_unload, nullptr);

  // Opened and claimed, the object runs the poll timer's thread and holds the printer channel.
  ASSERT_EQ(open(printer), OPOS_SUCCESS);
  ASSERT_EQ(platform::call(printer.get(), "Claim", 1000).value.long_or(-1), OPOS_SUCCESS);
  EXPECT_EQ(can_unload(), platform::kSFalse);
  EXPECT_EQ(platform::free_unused_libraries(), 0u);
  EXPECT_NE(platform::find_window("TIMERCHECKCLASS1.0", "TIMERWND"), platform::window_handle::none);

  // Dropped without Close: the library exits its machinery (timer thread joined, hidden window
  // gone) and lets the object model release it. (Whether the code is unmapped is up to the C
  // library: the harness keeps its own handle, and thread-local data pins a library too.)
  printer.reset();
  EXPECT_EQ(can_unload(), platform::kSOk);
  EXPECT_EQ(platform::find_window("TIMERCHECKCLASS1.0", "TIMERWND"), platform::window_handle::none);
  EXPECT_TRUE(platform::register_window_class("TIMERCHECKCLASS1.0", [](auto, auto, auto, auto) {}))
      << "the window class was unregistered";
  platform::unregister_window_class("TIMERCHECKCLASS1.0");
  EXPECT_GE(platform::free_unused_libraries(), 1u);

  // Created again on demand, it starts its machinery again and works as before.
  ASSERT_TRUE(platform::succeeded(platform::create_instance("Korvane.POSPrinter.VX40.1", printer)));
  EXPECT_EQ(open(printer), OPOS_SUCCESS);
  EXPECT_EQ(platform::call(printer.get(), "Claim", 1000).value.long_or(-1), OPOS_SUCCESS);
  EXPECT_EQ(platform::call(printer.get(), "Close").value.long_or(-1), OPOS_SUCCESS);
  EXPECT_EQ(can_unload(), platform::kSFalse) << "an object is alive";
  printer.reset();
}

}  // namespace
}  // namespace devsvc
