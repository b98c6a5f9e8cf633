// What the driver benchmarks share to set up the kit in their own process: stopping with a
// reason, registering the server libraries, and writing registry values.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/com.h"
#include "platform/registry.h"
#include "platform/testing/server_library.h"

namespace bench {

// Stops the benchmark program with a one-line reason.
[[noreturn]] inline void fail(const char* program, const std::string& why) {
  std::fprintf(stderr, "%s: %s\n", program, why.c_str());
  std::exit(1);
}

// Loads a server library and calls its DllRegisterServer, as regsvr does; it stays loaded.
inline void register_library(const char* program, const char* path) {
  std::string error;
  if (platform::failed(platform::testing::register_server_library(path, error))) fail(program, error);
}

// Sets a string value under HKEY_LOCAL_MACHINE, creating the key.
inline void set_string(const char* program, const std::string& key_path, const char* name, const std::string& value) {
  platform::registry_key key;
  if (platform::registry_key::create(platform::registry_root::local_machine, key_path, key) !=
          platform::kErrorSuccess ||
      key.set_string(name, value) != platform::kErrorSuccess) {
    fail(program, "cannot write registry key " + key_path);
  }
}

}  // namespace bench
