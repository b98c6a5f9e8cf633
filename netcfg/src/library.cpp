// The Netcfg server library: its one creatable class (Configurator, ProgID
// Netcfg.Configurator.1), the type library and interface keys that describe IConfigurator, and
// the four library exports.
#include "netcfg/configurator.h"
#include "platform/registry.h"

namespace {

constexpr platform::server_class kClasses[] = {
    {.clsid = netcfg::kConfiguratorClsid,
     .prog_id = netcfg::kConfiguratorProgId,
     .description = netcfg::kConfiguratorDescription,
     .threading_model = "Apartment",
     .create = &platform::create_object<netcfg::Configurator>},
};

// Writes HKEY_CLASSES_ROOT\TypeLib\{LIBID}\1.0 (the help string) and
// HKEY_CLASSES_ROOT\Interface\{IID} (the interface's name and its type library).
long register_type_library() {
  using platform::registry_key;
  using platform::registry_root;
  const std::string libid = netcfg::kNetcfgLibId.to_string();
  const std::string iid = netcfg::kIConfiguratorIid.to_string();
  registry_key key;
  long rc = registry_key::create(registry_root::classes_root, "TypeLib\\" + libid + "\\1.0", key);
  if (rc == platform::kErrorSuccess) rc = key.set_string("", netcfg::kTypeLibraryHelp);
  if (rc == platform::kErrorSuccess) rc = registry_key::create(registry_root::classes_root, "Interface\\" + iid, key);
  if (rc == platform::kErrorSuccess) rc = key.set_string("", "IConfigurator");
  registry_key typelib;
  if (rc == platform::kErrorSuccess) rc = key.create("TypeLib", typelib);
  if (rc == platform::kErrorSuccess) rc = typelib.set_string("", libid);
  if (rc == platform::kErrorSuccess) rc = typelib.set_string("Version", "1.0");
  return rc;
}

long unregister_type_library() {
  using platform::registry_key;
  using platform::registry_root;
  for (const std::string& path : {"TypeLib\\" + netcfg::kNetcfgLibId.to_string(),
                                  "Interface\\" + netcfg::kIConfiguratorIid.to_string()}) {
    registry_key root;
    long rc = registry_key::open(registry_root::classes_root, "", root);
    if (rc == platform::kErrorSuccess) rc = root.delete_tree(path);
    if (rc != platform::kErrorSuccess && rc != platform::kErrorFileNotFound) return rc;
  }
  return platform::kErrorSuccess;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) platform::hresult DllRegisterServer() {
  const platform::hresult hr = platform::register_server(kClasses);
  if (platform::failed(hr)) return hr;
  try {
    return platform::hresult_from_win32(register_type_library());
  } catch (...) {
    return platform::kEFail;
  }
}

extern "C" __attribute__((visibility("default"))) platform::hresult DllUnregisterServer() {
  const platform::hresult hr = platform::unregister_server(kClasses);
  try {
    const long rc = unregister_type_library();
    return platform::failed(hr) ? hr : platform::hresult_from_win32(rc);
  } catch (...) {
    return platform::kEFail;
  }
}

extern "C" __attribute__((visibility("default"))) platform::hresult DllGetClassObject(
    const platform::guid& clsid, const platform::guid& iid, void** out) {
  return platform::server_get_class_object(kClasses, clsid, iid, out);
}

extern "C" __attribute__((visibility("default"))) platform::hresult DllCanUnloadNow() {
  return platform::server_can_unload_now();
}
