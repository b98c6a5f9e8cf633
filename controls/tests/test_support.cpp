// Registry set-up for control-object tests and the client of the test service object's probe.
#include "test_support.h"

#include <vector>

#include "platform/registry.h"
#include "platform/testing/server_library.h"
#include "test_service.h"

namespace controls_test {

::testing::AssertionResult register_library(const std::string& path) {
  std::string error;
  const platform::hresult hr = platform::testing::register_server_library(path, error);
  if (platform::failed(hr)) {
    return ::testing::AssertionFailure() << error << " (" << platform::hresult_text(hr) << ") "
                                         << platform::take_error_info();
  }
  return ::testing::AssertionSuccess();
}

void install_device(std::string_view class_key, std::string_view device, std::string_view prog_id) {
  platform::registry_key key;
  ASSERT_EQ(platform::registry_key::create(platform::registry_root::local_machine,
                                           std::string(class_key) + "\\" + std::string(device), key),
            platform::kErrorSuccess);
  ASSERT_EQ(key.set_string("", prog_id), platform::kErrorSuccess);
}

void install_alias(std::string_view class_key, std::string_view alias, std::string_view device) {
  platform::registry_key key;
  ASSERT_EQ(platform::registry_key::create(platform::registry_root::local_machine, class_key, key),
            platform::kErrorSuccess);
  ASSERT_EQ(key.set_string(alias, device), platform::kErrorSuccess);
}

service_probe::service_probe() {
  const platform::hresult hr = platform::create_instance(kProbeProgId, probe_);
  EXPECT_EQ(hr, platform::kSOk) << platform::com_last_error();
  if (probe_) {
    EXPECT_TRUE(call("Reset", {}).ok());
  }
}

platform::call_result service_probe::call(std::string_view name, std::initializer_list<platform::Variant> args) {
  const std::vector<platform::Variant> list(args);
  return platform::invoke_by_name(probe_.get(), name, platform::invoke_kind::method, list);
}

std::string service_probe::take_calls() { return call("TakeCalls", {}).value.string_or(); }

void service_probe::set_result(std::string_view member, std::int32_t value) {
  EXPECT_TRUE(call("SetResult", {member, value}).ok());
}

void service_probe::set_failure(std::string_view member, platform::hresult code) {
  EXPECT_TRUE(call("SetFailure", {member, code}).ok());
}

void service_probe::set_number(std::int32_t index, std::int32_t value) {
  EXPECT_TRUE(call("SetNumber", {index, value}).ok());
}

void service_probe::set_string(std::int32_t index, std::string_view value) {
  EXPECT_TRUE(call("SetString", {index, value}).ok());
}

platform::hresult service_probe::fire_status_update(std::int32_t data) { return call("FireStatusUpdate", {data}).hr; }

platform::hresult service_probe::fire_output_complete(std::int32_t id) { return call("FireOutputComplete", {id}).hr; }

std::int32_t service_probe::fire_error(std::int32_t code, std::int32_t extended, std::int32_t locus,
                                       std::int32_t response) {
  const platform::call_result r = call("FireError", {code, extended, locus, response});
  EXPECT_TRUE(r.ok()) << platform::hresult_text(r.hr);
  return r.value.long_or(-1);
}

std::string service_probe::fire_direct_io(std::int32_t number, std::int32_t data, std::string_view text) {
  const platform::call_result r = call("FireDirectIO", {number, data, text});
  EXPECT_TRUE(r.ok()) << platform::hresult_text(r.hr);
  return r.value.string_or();
}

std::int32_t service_probe::call_process_id() {
  const platform::call_result r = call("CallProcessID", {});
  EXPECT_TRUE(r.ok()) << platform::hresult_text(r.hr);
  return r.value.long_or(-1);
}

std::int32_t service_probe::live_objects() { return call("LiveObjects", {}).value.long_or(-1); }

bool service_probe::bound() { return call("Bound", {}).value.bool_or(false); }

}  // namespace controls_test
