// The Devsvc in-process server: its four classes and the library exports DllRegisterServer,
// DllUnregisterServer, DllGetClassObject and DllCanUnloadNow.
#include "colour/vx40c_printer.h"
#include "core/module.h"
#include "display/line_display.h"
#include "drawer/cash_drawer.h"
#include "platform/dispatch_table.h"
#include "platform/registry.h"
#include "printer/vx40_printer.h"

namespace {

constexpr platform::server_class kClasses[] = {
    {.clsid = platform::guid::literal("{EA5F1872-773C-4B23-A3A6-3485E22CEADC}"),
     .prog_id = "Korvane.POSPrinter.VX40.1",
     .description = "Korvane - POS Printer Service Driver",
     .threading_model = "Apartment",
     .create = &platform::create_object<devsvc::CVX40Printer>},
    {.clsid = platform::guid::literal("{56FE19BB-A9F5-41FA-BDF9-61D93B2FB290}"),
     .prog_id = "Korvane.POSPrinter.VX40C.1",
     .description = "Korvane - POS Printer Service Driver (colour)",
     .threading_model = "Apartment",
     .create = &platform::create_object<devsvc::CVX40CPrinter>},
    {.clsid = platform::guid::literal("{AEB16FE8-FF2A-4E8C-AC46-18319EC55E4C}"),
     .prog_id = "Korvane.LineDisplay.VX40.1",
     .description = "Korvane - Line Display Service Driver",
     .threading_model = "Apartment",
     .create = &platform::create_object<devsvc::CLineDisplay>},
    {.clsid = platform::guid::literal("{33FD71E3-2C9C-4949-B9F1-D5358B093679}"),
     .prog_id = "Korvane.CashDrawer.VX40.1",
     .description = "Korvane - Cash Drawer Service Driver",
     .threading_model = "Apartment",
     .create = &platform::create_object<devsvc::CCashDrawer>},
};

}  // namespace

// The library's only exported functions (with the object model's state accessor).
#define DEVSVC_EXPORT extern "C" __attribute__((visibility("default")))

// Registers the four classes, then marks each one apartment-threaded; a class key that cannot
// be opened for that does not fail the registration.
DEVSVC_EXPORT platform::hresult DllRegisterServer() {
  const platform::hresult registered = platform::register_server(kClasses);
  if (platform::failed(registered)) return registered;
  try {
    for (const platform::server_class& c : kClasses) {
      platform::registry_key key;
      if (platform::registry_key::open(platform::registry_root::classes_root,
                                       "CLSID\\" + c.clsid.to_string() + "\\InProcServer32",
                                       key) == platform::kErrorSuccess) {
        key.set_string("ThreadingModel", "Apartment");
      }
    }
  } catch (...) {
    // Out of memory while marking: the classes are registered, which is what matters.
  }
  return platform::kSOk;
}

DEVSVC_EXPORT platform::hresult DllUnregisterServer() { return platform::unregister_server(kClasses); }

DEVSVC_EXPORT platform::hresult DllGetClassObject(const platform::guid& clsid, const platform::guid& iid,
                                                  void** out) {
  return platform::server_get_class_object(kClasses, clsid, iid, out);
}

// Unloadable only once no object is alive and the library's machinery (timer thread, hidden
// window) has exited.
DEVSVC_EXPORT platform::hresult DllCanUnloadNow() { return devsvc::ModuleCanUnloadNow(); }
