// Helpers for tests that drive control objects: registering server libraries and OPOS devices
// in the test's private registry, and a client of the test service object's probe.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include <gtest/gtest.h>

#include "platform/com.h"

namespace controls_test {

// Registry class keys of the OPOS device classes.
inline constexpr std::string_view kPosPrinterKey = "SOFTWARE\\OLEforRetail\\ServiceOPOS\\POSPrinter";
inline constexpr std::string_view kLineDisplayKey = "SOFTWARE\\OLEforRetail\\ServiceOPOS\\LineDisplay";

// Registers the server library at `path` in the current registry through its DllRegisterServer.
::testing::AssertionResult register_library(const std::string& path);
// Writes the device key HKEY_LOCAL_MACHINE\<class_key>\<device> whose default value names the
// service object. A session against another service object (the kit's own) installs its
// device the same way with that object's ProgID.
void install_device(std::string_view class_key, std::string_view device, std::string_view prog_id);
// Writes the alias value <alias> = <device> under the class key.
void install_alias(std::string_view class_key, std::string_view alias, std::string_view device);

// A client of the test service object's probe (one per test; the library's record is shared).
class service_probe {
 public:
  // Creates the probe; the test service library must be registered. Clears the record and
  // every steered value.
  service_probe();

  // The service-object calls since the last take_calls, one per line.
  std::string take_calls();
  // Makes member `name` return `value`, or fail with automation error `code`.
  void set_result(std::string_view member, std::int32_t value);
  void set_failure(std::string_view member, platform::hresult code);
  // Values GetPropertyNumber and GetPropertyString give for an index.
  void set_number(std::int32_t index, std::int32_t value);
  void set_string(std::int32_t index, std::string_view value);
  // Callbacks into the control of the bound service object, outside any control call.
  platform::hresult fire_status_update(std::int32_t data);
  platform::hresult fire_output_complete(std::int32_t id);
  // The response that the control's handlers left (or `response` when none answered).
  std::int32_t fire_error(std::int32_t code, std::int32_t extended, std::int32_t locus, std::int32_t response);
  // "data:text" as the control's handlers left the two cells.
  std::string fire_direct_io(std::int32_t number, std::int32_t data, std::string_view text);
  std::int32_t call_process_id();
  // Number of live service objects, and whether one is bound to a control.
  std::int32_t live_objects();
  bool bound();

 private:
  platform::call_result call(std::string_view name, std::initializer_list<platform::Variant> args);

  platform::com_ptr<platform::dispatch> probe_;
};

}  // namespace controls_test
