// The process-wide state of the object model and the error info kept in it.
#include "process_state.h"

// Exported by name (and from executables through --export-dynamic-symbol) so that every copy of
// the object model in the process resolves to the first one. The version in the name changes
// whenever process_state's layout does. Never destroyed: server libraries may still run at exit.
extern "C" __attribute__((visibility("default"))) void* platform_com_process_state_v1() {
  static auto* const shared = new platform::com_detail::process_state();
  return shared;
}

namespace platform {

com_detail::process_state& com_detail::state() {
  return *static_cast<process_state*>(platform_com_process_state_v1());
}

void set_error_info(std::string text) {
  auto& s = com_detail::state();
  const std::lock_guard lock(s.mutex);
  s.error_info[std::this_thread::get_id()] = std::move(text);
}

std::string take_error_info() {
  auto& s = com_detail::state();
  const std::lock_guard lock(s.mutex);
  const auto found = s.error_info.find(std::this_thread::get_id());
  if (found == s.error_info.end()) return {};
  std::string text = std::move(found->second);
  s.error_info.erase(found);
  return text;
}

}  // namespace platform
