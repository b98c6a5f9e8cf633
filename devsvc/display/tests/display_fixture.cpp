// Fixture of the line display's object tests.
#include "display_fixture.h"

#include <fstream>

#include "monitor/sim.h"
#include "platform/registry.h"

namespace devsvc::display_test {

::testing::AssertionResult same_bytes(const std::string& got, const std::string& want) {
  if (got == want) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "\n  got  " << testing::hex(got) << "\n  want " << testing::hex(want);
}

void write_display_key(std::string_view device, std::string_view machine_type, std::string_view comm_port,
                       const std::filesystem::path& ini_set) {
  platform::registry_key key;
  ASSERT_EQ(platform::registry_key::create(platform::registry_root::local_machine,
                                           "SOFTWARE\\OLEforRetail\\ServiceOPOS\\LineDisplay\\" + std::string(device),
                                           key),
            platform::kErrorSuccess);
  key.set_string("", kDisplayProgId);
  key.set_string("MachineType", machine_type);
  key.set_string("COMMPort", comm_port);
  if (!ini_set.empty()) key.set_string("IniSet", ini_set.string());
}

service_client::service_client(const char* prog_id) {
  const platform::hresult hr = platform::create_instance(prog_id, object_);
  EXPECT_TRUE(platform::succeeded(hr)) << platform::hresult_text(hr) << " " << platform::com_last_error();
}

std::int32_t service_client::open(const std::string& device_class, const std::string& device) {
  return call("OpenService", device_class, device, platform::Variant());
}

std::string service_client::text(std::int32_t index) {
  return platform::call(object_.get(), "GetPropertyString", index).value.string_or("<failed>");
}

std::int32_t service_client::set(std::int32_t index, std::int32_t value) {
  EXPECT_TRUE(platform::call(object_.get(), "SetPropertyNumber", index, value).ok());
  return result_code();
}

void service_client::open_claim_enable() {
  ASSERT_EQ(open(), 0);
  ASSERT_EQ(call("Claim", 1000), 0);
  ASSERT_EQ(set(3, 1), 0);
}

void DisplayTest::SetUp() {
  uri_ = "sim:" + testing::unique_sim_name();
  testing::set_port("VDSP1", uri_);
  ini_ = dir_.path() / "display.ini";
  write_ini("[DISPLAY]\nNColoums=20\nNRows=2\n");
  write_display_key(kDisplayDevice, "VX40", "VDSP1", ini_);
  printer_ = monitor::sim_printer(uri_);
  ASSERT_NE(printer_, nullptr);
}

void DisplayTest::write_ini(const std::string& text) { std::ofstream(ini_, std::ios::trunc) << text; }

std::string DisplayTest::since_mark() const { return printer_->capture().substr(mark_); }

void DisplayTest::mark() { mark_ = printer_->capture().size(); }

}  // namespace devsvc::display_test
