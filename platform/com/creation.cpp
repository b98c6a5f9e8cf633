// Creating objects: ProgID → CLSID → class object, from registrations in this process or from
// in-process server libraries that the registry names, loaded with dlopen and kept in a table.
#include <dlfcn.h>

#include <algorithm>

#include "platform/registry.h"
#include "process_state.h"

namespace platform {
namespace {

thread_local std::string t_last_error;

void fail_with(std::string text) { t_last_error = std::move(text); }

// Default value of HKEY_CLASSES_ROOT\<path>; false when the key or value is missing.
bool read_classes_default(const std::string& path, std::string& out) {
  registry_key key;
  if (registry_key::open(registry_root::classes_root, path, key) != kErrorSuccess) return false;
  return key.query_string("", out) == kErrorSuccess;
}

// The CLSID named under HKEY_CLASSES_ROOT\<prog_id>\CLSID.
hresult read_prog_id_clsid(const std::string& prog_id, guid& clsid, bool& found) {
  std::string text;
  found = read_classes_default(prog_id + "\\CLSID", text);
  if (!found) return kCoEClassString;
  if (!guid::parse(text, clsid)) {
    fail_with("ProgID " + prog_id + " names a malformed CLSID \"" + text + "\"");
    return kCoEClassString;
  }
  return kSOk;
}

// A factory that makes objects with a create_function.
class function_factory final : public ref_counted<class_factory>, private module_object {
 public:
  explicit function_factory(create_function create) : create_(create) {}

  hresult create_instance(unknown* outer, const guid& iid, void** out) override {
    if (out == nullptr) return kEPointer;
    *out = nullptr;
    if (outer != nullptr) return kClassENoAggregation;
    try {
      return create_(iid, out);
    } catch (const std::bad_alloc&) {
      return kEOutOfMemory;
    } catch (const std::exception& e) {
      set_error_info(e.what());
      return kEFail;
    } catch (...) {
      return kEFail;
    }
  }
  hresult lock_server(bool lock) override {
    module_lock(lock);
    return kSOk;
  }

 private:
  ~function_factory() override = default;

  create_function create_;
};

// The class object that a registration in this process offers, if any.
com_ptr<class_factory> registered_factory(const guid& clsid) {
  auto& s = com_detail::state();
  const std::lock_guard lock(s.mutex);
  for (const auto& entry : s.classes) {
    if (entry.clsid == clsid) return entry.factory;
  }
  return nullptr;
}

// The DllGetClassObject of the library at `path`, loading it on first use.
hresult library_entry(const std::string& path, dll_get_class_object_fn& get) {
  auto& s = com_detail::state();
  {
    const std::lock_guard lock(s.mutex);
    for (const auto& lib : s.libraries) {
      if (lib.path == path) {
        get = lib.get_class_object;
        return kSOk;
      }
    }
  }
  // Loaded without the lock: the library's initialisers may create or register objects.
  void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* reason = ::dlerror();
    fail_with("cannot load " + path + ": " + (reason != nullptr ? reason : "unknown reason"));
    return kRegdbEClassNotReg;
  }
  com_detail::loaded_library lib;
  lib.path = path;
  lib.handle = handle;
  lib.get_class_object = reinterpret_cast<dll_get_class_object_fn>(::dlsym(handle, "DllGetClassObject"));
  lib.can_unload_now = reinterpret_cast<dll_can_unload_now_fn>(::dlsym(handle, "DllCanUnloadNow"));
  if (lib.get_class_object == nullptr) {
    fail_with(path + " does not export DllGetClassObject");
    ::dlclose(handle);
    return kEFail;
  }
  bool duplicate = false;
  {
    const std::lock_guard lock(s.mutex);
    for (const auto& other : s.libraries) duplicate = duplicate || other.path == path;
    if (!duplicate) s.libraries.push_back(lib);
  }
  // Another thread got there first; the loader counts handles, so dropping ours is harmless.
  if (duplicate) ::dlclose(handle);
  get = lib.get_class_object;
  return kSOk;
}

}  // namespace

std::string com_last_error() { return t_last_error; }

com_ptr<class_factory> make_class_factory(create_function create) {
  return com_ptr<class_factory>::adopt(new function_factory(create));
}

hresult clsid_from_prog_id(std::string_view prog_id, guid& clsid) {
  t_last_error.clear();
  const std::string name(prog_id);
  if (!name.empty() && name.front() == '{') {
    if (guid::parse(name, clsid)) return kSOk;
    fail_with("malformed CLSID \"" + name + "\"");
    return kCoEClassString;
  }
  if (name.empty() || name.find('\\') != std::string::npos) {
    fail_with("\"" + name + "\" is not a ProgID");
    return kCoEClassString;
  }
  {
    auto& s = com_detail::state();
    const std::lock_guard lock(s.mutex);
    for (const auto& entry : s.classes) {
      if (!entry.prog_id.empty() && equal_ignoring_case(entry.prog_id, name)) {
        clsid = entry.clsid;
        return kSOk;
      }
    }
  }
  bool found = false;
  hresult hr = read_prog_id_clsid(name, clsid, found);
  if (found) return hr;
  // A version-independent ProgID may name its current version instead of a CLSID.
  std::string current;
  if (read_classes_default(name + "\\CurVer", current) && !current.empty() &&
      !equal_ignoring_case(current, name)) {
    hr = read_prog_id_clsid(current, clsid, found);
    if (found) return hr;
  }
  fail_with("ProgID " + name + " is not registered");
  return kCoEClassString;
}

hresult get_class_object(const guid& clsid, const guid& iid, void** out) {
  t_last_error.clear();
  if (out == nullptr) return kEPointer;
  *out = nullptr;
  if (com_ptr<class_factory> factory = registered_factory(clsid)) {
    return factory->query_interface(iid, out);
  }
  const std::string clsid_text = clsid.to_string();
  std::string path;
  if (!read_classes_default("CLSID\\" + clsid_text + "\\InProcServer32", path) || path.empty()) {
    fail_with("class " + clsid_text + " has no InProcServer32 entry");
    return kRegdbEClassNotReg;
  }
  dll_get_class_object_fn get = nullptr;
  hresult hr = library_entry(path, get);
  if (failed(hr)) return hr;
  hr = get(clsid, iid, out);
  if (failed(hr)) fail_with("DllGetClassObject of " + path + " failed with " + hresult_text(hr));
  return hr;
}

hresult create_instance(const guid& clsid, const guid& iid, void** out) {
  if (out == nullptr) return kEPointer;
  *out = nullptr;
  void* raw = nullptr;
  hresult hr = get_class_object(clsid, class_factory::kIid, &raw);
  if (failed(hr)) return hr;
  const auto factory = com_ptr<class_factory>::adopt(static_cast<class_factory*>(raw));
  hr = factory->create_instance(nullptr, iid, out);
  if (failed(hr) && t_last_error.empty()) {
    fail_with("the factory of " + clsid.to_string() + " failed with " + hresult_text(hr));
  }
  return hr;
}

hresult create_instance(std::string_view prog_id_or_clsid, const guid& iid, void** out) {
  if (out == nullptr) return kEPointer;
  *out = nullptr;
  guid clsid;
  const hresult hr = clsid_from_prog_id(prog_id_or_clsid, clsid);
  if (failed(hr)) return hr;
  return create_instance(clsid, iid, out);
}

std::size_t free_unused_libraries() {
  auto& s = com_detail::state();
  std::vector<com_detail::loaded_library> candidates;
  {
    const std::lock_guard lock(s.mutex);
    for (const auto& lib : s.libraries) {
      if (lib.can_unload_now != nullptr) candidates.push_back(lib);
    }
  }
  // Asked without the lock: a library may create or release objects while it answers.
  std::vector<void*> unload;
  for (const auto& lib : candidates) {
    if (lib.can_unload_now() != kSOk) continue;
    const std::lock_guard lock(s.mutex);
    const auto it = std::find_if(s.libraries.begin(), s.libraries.end(),
                                 [&](const auto& entry) { return entry.handle == lib.handle; });
    if (it == s.libraries.end()) continue;
    unload.push_back(it->handle);
    s.libraries.erase(it);
  }
  for (void* handle : unload) ::dlclose(handle);
  return unload.size();
}

hresult register_class_object(const guid& clsid, class_factory* factory, std::uint32_t& cookie,
                              std::string_view prog_id) {
  if (factory == nullptr) return kEPointer;
  auto& s = com_detail::state();
  const std::lock_guard lock(s.mutex);
  com_detail::class_registration entry;
  entry.cookie = s.next_cookie++;
  entry.clsid = clsid;
  entry.prog_id = std::string(prog_id);
  entry.factory = com_ptr<class_factory>(factory);
  cookie = entry.cookie;
  s.classes.push_back(std::move(entry));
  return kSOk;
}

hresult revoke_class_object(std::uint32_t cookie) {
  com_ptr<class_factory> released;  // dropped after the lock, as its destructor may call back
  auto& s = com_detail::state();
  const std::lock_guard lock(s.mutex);
  const auto it = std::find_if(s.classes.begin(), s.classes.end(),
                               [&](const auto& entry) { return entry.cookie == cookie; });
  if (it == s.classes.end()) return kEInvalidArg;
  released = std::move(it->factory);
  s.classes.erase(it);
  return kSOk;
}

}  // namespace platform
