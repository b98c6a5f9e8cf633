// regsvr: registers (or with -u unregisters) an in-process server library by loading it and
// calling its DllRegisterServer (DllUnregisterServer).
#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "platform/cli.h"
#include "platform/com.h"
#include "platform/registry.h"

namespace {

// Exit codes, numbered as the platform's registration tool numbers them.
constexpr int kExitOk = 0;
constexpr int kExitUsage = 2;
constexpr int kExitLoad = 3;
constexpr int kExitExport = 4;
constexpr int kExitCall = 5;

constexpr std::string_view kUsage =
    "usage: regsvr [-u] [--by-name] [--registry DIR] LIBRARY\n"
    "Registers an in-process server library under HKEY_CLASSES_ROOT by calling its\n"
    "DllRegisterServer, or with -u removes its classes by calling DllUnregisterServer.\n"
    "  -u, --unregister  unregister\n"
    "  --by-name         record the library's file name instead of its full path, for a library\n"
    "                    that the kit's programs and libraries find by name (the kit's own, in\n"
    "                    its lib/poskit/ folder): the registration then survives moving the\n"
    "                    installation. Refused when the name does not lead back to LIBRARY.\n"
    "  --registry=DIR    use the registry store in DIR (instead of $OPOS_REGISTRY_DIR)\n"
    "  -h, --help        show this text\n"
    "  --version         show the kit's version\n"
    "Exit status: 0 done, 2 bad usage, 3 library cannot be loaded, 4 export missing,\n"
    "5 the registration call failed.\n";

constexpr platform::cli::option kOptions[] = {
    {"unregister", 'u', platform::cli::kFlag, "", ""},
    {"by-name", 0, platform::cli::kFlag, "", ""},
    {"registry", 0, platform::cli::kValue, "DIR", ""},
    {"help", 'h', platform::cli::kFlag, "", ""},
    {"version", 0, platform::cli::kFlag, "", ""},
};

// A loaded library, closed when it goes away.
class library_handle {
 public:
  explicit library_handle(const std::string& path) : handle_(::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL)) {}
  ~library_handle() {
    if (handle_ != nullptr) ::dlclose(handle_);
  }
  library_handle(const library_handle&) = delete;
  library_handle& operator=(const library_handle&) = delete;

  void* get() const { return handle_; }

 private:
  void* handle_;
};

// True when loading `name` the way the kit's programs do (through their library search path)
// gives the library at `path`.
bool found_by_name(const std::string& name, const std::string& path) {
  const library_handle by_name(name);
  if (by_name.get() == nullptr) return false;
  void* entry = ::dlsym(by_name.get(), "DllGetClassObject");
  Dl_info info{};
  if (entry == nullptr || ::dladdr(entry, &info) == 0 || info.dli_fname == nullptr) return false;
  std::error_code ec;
  return std::filesystem::equivalent(info.dli_fname, path, ec);
}

// Replaces `path` by `name` in every InProcServer32 entry that names it; false on a registry failure.
bool record_by_name(const std::string& path, const std::string& name) {
  platform::registry_key classes;
  if (platform::registry_key::open(platform::registry_root::classes_root, "CLSID", classes) != platform::kErrorSuccess) {
    return false;
  }
  std::string clsid;
  for (std::uint32_t i = 0; classes.enum_subkey(i, clsid) == platform::kErrorSuccess; ++i) {
    platform::registry_key server;
    std::string value;
    if (classes.open(clsid + "\\InProcServer32", server) != platform::kErrorSuccess) continue;
    if (server.query_string("", value) != platform::kErrorSuccess || value != path) continue;
    if (server.set_string("", name) != platform::kErrorSuccess) return false;
  }
  return true;
}

int fail(int code, const std::string& message) {
  std::fprintf(stderr, "regsvr: %s\n", message.c_str());
  return code;
}

}  // namespace

int main(int argc, char** argv) {
  platform::cli::parsed options;
  std::string problem;
  if (!platform::cli::parse(kOptions, std::vector<std::string>(argv + 1, argv + argc), options, problem)) {
    return fail(kExitUsage, problem + "; see regsvr --help");
  }
  if (options.has("help")) {
    std::fputs(kUsage.data(), stdout);
    return kExitOk;
  }
  if (options.has("version")) {
    std::printf("%s\n", platform::cli::version_line("regsvr").c_str());
    return kExitOk;
  }
  const bool unregister = options.has("unregister");
  if (options.has("registry")) ::setenv("OPOS_REGISTRY_DIR", options.value("registry").c_str(), 1);
  if (options.operands.size() > 1) return fail(kExitUsage, "only one library at a time; see regsvr --help");
  const std::string library = options.operands.empty() ? std::string() : options.operands.front();
  if (library.empty()) return fail(kExitUsage, "no library given; see regsvr --help");

  // The registry records the absolute path, so the library is loaded by that path too.
  std::error_code ec;
  const std::string path = std::filesystem::absolute(library, ec).lexically_normal().string();
  if (ec || !std::filesystem::is_regular_file(path, ec)) return fail(kExitLoad, "cannot find " + path);
  const library_handle handle(path);
  if (handle.get() == nullptr) {
    const char* reason = ::dlerror();
    return fail(kExitLoad, "cannot load " + path + ": " + (reason != nullptr ? reason : "unknown reason"));
  }
  const char* entry = unregister ? "DllUnregisterServer" : "DllRegisterServer";
  const auto call = reinterpret_cast<platform::dll_register_server_fn>(::dlsym(handle.get(), entry));
  if (call == nullptr) return fail(kExitExport, path + " does not export " + entry);

  // A registration by name is refused before anything is written when the name leads elsewhere.
  const bool by_name = options.has("by-name") && !unregister;
  const std::string name = std::filesystem::path(path).filename().string();
  if (by_name && !found_by_name(name, path)) {
    return fail(kExitLoad, name + " does not lead to " + path + " by name; register it by its path");
  }
  platform::take_error_info();  // start clean, so only this call's reason is shown
  const platform::hresult hr = call();
  if (platform::failed(hr)) {
    const std::string info = platform::take_error_info();
    return fail(kExitCall, std::string(entry) + " in " + path + " failed with " +
                               platform::hresult_text(hr) + (info.empty() ? "" : ": " + info));
  }
  if (by_name) {
    if (!record_by_name(path, name)) {
      return fail(kExitCall, "cannot record " + name + " in HKEY_CLASSES_ROOT: " + platform::registry_last_error());
    }
    std::printf("regsvr: registered %s (as %s)\n", path.c_str(), name.c_str());
    return kExitOk;
  }
  std::printf("regsvr: %s %s\n", unregister ? "unregistered" : "registered", path.c_str());
  return kExitOk;
}
