// A library that is no proper server: its registration fails and it lacks the class-object
// export, for the error paths of creation and of the registration tool.
#include "platform/com.h"

extern "C" __attribute__((visibility("default"))) platform::hresult DllRegisterServer() {
  platform::set_error_info("refused on purpose");
  return platform::hresult_from_win32(5);
}
