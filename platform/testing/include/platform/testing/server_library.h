// Registers an in-process server library for a test or a test program, as regsvr would, and keeps
// it loaded: its process-wide state must stay reachable for the rest of the process.
#pragma once

#include <dlfcn.h>

#include <filesystem>
#include <string>

#include "platform/com.h"

namespace platform::testing {

// Loads `library` and calls its DllRegisterServer. On failure, `error` says why.
inline hresult register_server_library(const std::filesystem::path& library, std::string& error) {
  void* handle = ::dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* why = ::dlerror();
    error = "cannot load " + library.string() + (why != nullptr ? std::string(": ") + why : std::string());
    return kEFail;
  }
  const auto entry = reinterpret_cast<dll_register_server_fn>(::dlsym(handle, "DllRegisterServer"));
  if (entry == nullptr) {
    error = library.string() + " has no DllRegisterServer";
    return kEFail;
  }
  const hresult hr = entry();
  if (failed(hr)) error = "DllRegisterServer of " + library.string() + " failed";
  return hr;
}

}  // namespace platform::testing
