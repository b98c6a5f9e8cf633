// Helpers for in-process server libraries: self-registration under HKEY_CLASSES_ROOT, the class
// objects of DllGetClassObject and the object count behind DllCanUnloadNow.
#include <dlfcn.h>

#include <atomic>
#include <filesystem>

#include "platform/registry.h"
#include "process_state.h"

namespace platform {
namespace {

// Each library that links the object model has its own copies of these (internal linkage), so
// each answers DllCanUnloadNow for its own objects.
std::atomic<long> g_live_objects{0};
std::atomic<long> g_server_locks{0};

// An address inside this library, for dladdr.
const char kInsideThisLibrary = 0;

// The absolute path of the library (or program) this code is linked into.
std::string this_library_path() {
  Dl_info info{};
  if (::dladdr(&kInsideThisLibrary, &info) == 0 || info.dli_fname == nullptr) return {};
  std::error_code ec;
  const std::filesystem::path path = std::filesystem::absolute(info.dli_fname, ec);
  return ec ? std::string(info.dli_fname) : path.lexically_normal().string();
}

// Writes the default value and the named string values of HKEY_CLASSES_ROOT\<path>.
long write_key(const std::string& path, std::string_view default_value,
               std::initializer_list<std::pair<std::string_view, std::string_view>> values = {}) {
  registry_key key;
  long rc = registry_key::create(registry_root::classes_root, path, key);
  if (rc == kErrorSuccess) rc = key.set_string("", default_value);
  for (const auto& [name, value] : values) {
    if (rc == kErrorSuccess) rc = key.set_string(name, value);
  }
  return rc;
}

// Turns a registry failure into a result and keeps its reason as error info.
hresult registry_failure(long rc, const std::string& what) {
  const std::string detail = registry_last_error();
  set_error_info(what + ": registry error " + std::to_string(rc) +
                 (detail.empty() ? std::string() : " (" + detail + ")"));
  return hresult_from_win32(rc);
}

// Deletes HKEY_CLASSES_ROOT\<prog_id> when it names `clsid_text` or no class at all.
long delete_prog_id(const std::string& prog_id, const std::string& clsid_text) {
  registry_key root;
  long rc = registry_key::open(registry_root::classes_root, "", root);
  if (rc != kErrorSuccess) return rc == kErrorFileNotFound ? kErrorSuccess : rc;
  registry_key clsid_key;
  std::string named;
  if (registry_key::open(registry_root::classes_root, prog_id + "\\CLSID", clsid_key) ==
          kErrorSuccess &&
      clsid_key.query_string("", named) == kErrorSuccess && !equal_ignoring_case(named, clsid_text)) {
    return kErrorSuccess;  // another class owns this name now
  }
  rc = root.delete_tree(prog_id);
  return rc == kErrorFileNotFound ? kErrorSuccess : rc;
}

}  // namespace

void module_add_object() { g_live_objects.fetch_add(1, std::memory_order_relaxed); }
void module_remove_object() { g_live_objects.fetch_sub(1, std::memory_order_relaxed); }
void module_lock(bool lock) { g_server_locks.fetch_add(lock ? 1 : -1, std::memory_order_relaxed); }

hresult server_can_unload_now() {
  return g_live_objects.load() == 0 && g_server_locks.load() <= 0 ? kSOk : kSFalse;
}

std::string_view version_independent_prog_id(std::string_view prog_id) {
  const std::size_t dot = prog_id.rfind('.');
  if (dot == std::string_view::npos || dot == 0 || dot + 1 == prog_id.size()) return prog_id;
  for (std::size_t i = dot + 1; i < prog_id.size(); ++i) {
    if (prog_id[i] < '0' || prog_id[i] > '9') return prog_id;
  }
  return prog_id.substr(0, dot);
}

// Writes the keys of every class; stops at the first registry failure.
static hresult register_classes(std::span<const server_class> classes) {
  const std::string library = this_library_path();
  if (library.empty()) {
    set_error_info("cannot find the path of the server library");
    return kEFail;
  }
  for (const server_class& c : classes) {
    const std::string clsid_text = c.clsid.to_string();
    const std::string prog_id(c.prog_id);
    const std::string independent(version_independent_prog_id(c.prog_id));
    const std::string class_key = "CLSID\\" + clsid_text;
    long rc = write_key(class_key, c.description);
    if (rc == kErrorSuccess) {
      // No ThreadingModel value at all means a single-threaded class.
      rc = c.threading_model.empty()
               ? write_key(class_key + "\\InProcServer32", library)
               : write_key(class_key + "\\InProcServer32", library, {{"ThreadingModel", c.threading_model}});
    }
    if (rc == kErrorSuccess && !prog_id.empty()) {
      rc = write_key(class_key + "\\ProgID", prog_id);
      if (rc == kErrorSuccess) rc = write_key(class_key + "\\VersionIndependentProgID", independent);
      if (rc == kErrorSuccess) rc = write_key(prog_id, c.description);
      if (rc == kErrorSuccess) rc = write_key(prog_id + "\\CLSID", clsid_text);
      if (rc == kErrorSuccess && independent != prog_id) {
        rc = write_key(independent, c.description);
        if (rc == kErrorSuccess) rc = write_key(independent + "\\CLSID", clsid_text);
        if (rc == kErrorSuccess) rc = write_key(independent + "\\CurVer", prog_id);
      }
    }
    if (rc != kErrorSuccess) return registry_failure(rc, "registering " + clsid_text);
  }
  return kSOk;
}

// Removes the keys of every class; reports the first registry failure.
static hresult unregister_classes(std::span<const server_class> classes) {
  hresult result = kSOk;
  for (const server_class& c : classes) {
    const std::string clsid_text = c.clsid.to_string();
    // Names first, while the class key still tells which class they belong to.
    long rc = kErrorSuccess;
    if (!c.prog_id.empty()) {
      const std::string independent(version_independent_prog_id(c.prog_id));
      rc = delete_prog_id(std::string(c.prog_id), clsid_text);
      if (rc == kErrorSuccess && independent != c.prog_id) rc = delete_prog_id(independent, clsid_text);
    }
    if (rc == kErrorSuccess) {
      registry_key classes_key;
      rc = registry_key::open(registry_root::classes_root, "CLSID", classes_key);
      if (rc == kErrorSuccess) rc = classes_key.delete_tree(clsid_text);
      if (rc == kErrorFileNotFound) rc = kErrorSuccess;
    }
    // Every class is tried; the first failure is reported.
    if (rc != kErrorSuccess && succeeded(result)) result = registry_failure(rc, "unregistering " + clsid_text);
  }
  return result;
}

hresult server_get_class_object(std::span<const server_class> classes, const guid& clsid,
                                const guid& iid, void** out) {
  if (out == nullptr) return kEPointer;
  *out = nullptr;
  for (const server_class& c : classes) {
    if (c.clsid != clsid || c.create == nullptr) continue;
    try {
      const com_ptr<class_factory> factory = make_class_factory(c.create);
      return factory->query_interface(iid, out);
    } catch (...) {
      return kEOutOfMemory;
    }
  }
  return kClassEClassNotAvailable;
}

// Runs a step of an exported entry point; nothing may escape through a C export.
static hresult at_export(hresult (*step)(std::span<const server_class>), std::span<const server_class> classes) {
  try {
    return step(classes);
  } catch (const std::bad_alloc&) {
    return kEOutOfMemory;
  } catch (const std::exception& e) {
    set_error_info(e.what());
    return kEFail;
  }
}

hresult register_server(std::span<const server_class> classes) { return at_export(register_classes, classes); }

hresult unregister_server(std::span<const server_class> classes) { return at_export(unregister_classes, classes); }

}  // namespace platform
