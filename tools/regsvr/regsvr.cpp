// regsvr: registers (or with -u unregisters) an in-process server library by loading it and
// calling its DllRegisterServer (DllUnregisterServer).
#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

#include "platform/com.h"

namespace {

// Exit codes, numbered as the platform's registration tool numbers them.
constexpr int kExitOk = 0;
constexpr int kExitUsage = 1;
constexpr int kExitLoad = 3;
constexpr int kExitExport = 4;
constexpr int kExitCall = 5;

constexpr std::string_view kUsage =
    "usage: regsvr [-u] [--registry DIR] LIBRARY\n"
    "Registers an in-process server library under HKEY_CLASSES_ROOT by calling its\n"
    "DllRegisterServer, or with -u removes its classes by calling DllUnregisterServer.\n"
    "  -u              unregister\n"
    "  --registry DIR  use the registry store in DIR (instead of $OPOS_REGISTRY_DIR)\n"
    "  --help          show this text\n"
    "Exit status: 0 done, 1 bad usage, 3 library cannot be loaded, 4 export missing,\n"
    "5 the registration call failed.\n";

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

int fail(int code, const std::string& message) {
  std::fprintf(stderr, "regsvr: %s\n", message.c_str());
  return code;
}

}  // namespace

int main(int argc, char** argv) {
  bool unregister = false;
  std::string library;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage.data(), stdout);
      return kExitOk;
    }
    if (arg == "-u" || arg == "--unregister") {
      unregister = true;
    } else if (arg == "--registry") {
      if (i + 1 >= argc) return fail(kExitUsage, "--registry needs a folder; see regsvr --help");
      ::setenv("OPOS_REGISTRY_DIR", argv[++i], 1);
    } else if (!arg.empty() && arg.front() == '-') {
      return fail(kExitUsage, "unknown option " + std::string(arg) + "; see regsvr --help");
    } else if (library.empty()) {
      library = arg;
    } else {
      return fail(kExitUsage, "only one library at a time; see regsvr --help");
    }
  }
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

  platform::take_error_info();  // start clean, so only this call's reason is shown
  const platform::hresult hr = call();
  if (platform::failed(hr)) {
    const std::string info = platform::take_error_info();
    return fail(kExitCall, std::string(entry) + " in " + path + " failed with " +
                               platform::hresult_text(hr) + (info.empty() ? "" : ": " + info));
  }
  std::printf("regsvr: %s %s\n", unregister ? "unregistered" : "registered", path.c_str());
  return kExitOk;
}
