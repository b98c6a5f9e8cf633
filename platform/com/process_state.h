// Process-wide state of the object model (class registrations, loaded server libraries, error
// info), shared by every library in the process that links the object model.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/com.h"

namespace platform::com_detail {

// A server library loaded for creation.
struct loaded_library {
  std::string path;
  void* handle = nullptr;
  dll_get_class_object_fn get_class_object = nullptr;
  dll_can_unload_now_fn can_unload_now = nullptr;  // null: never unloaded
};

// A class object registered in this process with register_class_object.
struct class_registration {
  std::uint32_t cookie = 0;
  guid clsid;
  std::string prog_id;
  com_ptr<class_factory> factory;
};

// Every library links its own copy of this code, but they must agree on one state: the
// executable exports the accessor (see the link options of platform_com), so a library loaded
// later binds to the executable's copy and all of them share it.
struct process_state {
  std::mutex mutex;
  std::vector<class_registration> classes;
  std::uint32_t next_cookie = 1;
  std::vector<loaded_library> libraries;
  std::map<std::thread::id, std::string> error_info;
};

process_state& state();

}  // namespace platform::com_detail
