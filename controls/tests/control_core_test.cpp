// Tests of the control core: device-name binding through the registry, the close policies, and
// the member rows generated from a control's tables, on a small control hosted by the test.
#include "controls/control_core.h"

#include <cctype>
#include <optional>

#include <gtest/gtest.h>

#include "platform/registry.h"
#include "platform/testing/temp_dir.h"
#include "test_service.h"
#include "test_support.h"

namespace {

using controls::method_role;
using controls::property_type;
using platform::Variant;

// --- resolve_device --------------------------------------------------------------------------

constexpr std::string_view kClassKey = controls_test::kPosPrinterKey;

struct binding_case {
  const char* behaviour;
  void (*setup)();
  const char* name;
  std::int32_t result;
  const char* device_name;  // the name the service object would get
  const char* prog_id;
};

void no_keys() {}
void device_with_prog_id() { controls_test::install_device(kClassKey, "VX40Device", "Korvane.POSPrinter.VX40.1"); }
void alias_to_device() {
  device_with_prog_id();
  controls_test::install_alias(kClassKey, "Receipt", "VX40Device");
}
void class_key_only() { controls_test::install_alias(kClassKey, "Other", "Elsewhere"); }
void device_without_default() {
  platform::registry_key key;
  ASSERT_EQ(platform::registry_key::create(platform::registry_root::local_machine,
                                           std::string(kClassKey) + "\\Bare", key),
            platform::kErrorSuccess);
  ASSERT_EQ(key.set_string("MachineType", "VX40"), platform::kErrorSuccess);
}
void prog_id_of_63() { controls_test::install_device(kClassKey, "Long", std::string(63, 'p')); }
void prog_id_of_64() { controls_test::install_device(kClassKey, "Long", std::string(64, 'p')); }
void alias_too_long() {
  controls_test::install_device(kClassKey, "Receipt", "Given.Name.1");
  controls_test::install_alias(kClassKey, "Receipt", std::string(64, 'd'));
}
void alias_of_63() {
  controls_test::install_device(kClassKey, std::string(63, 'd'), "Aliased.Name.1");
  controls_test::install_alias(kClassKey, "Receipt", std::string(63, 'd'));
}
void alias_not_a_string() {
  controls_test::install_device(kClassKey, "Receipt", "Given.Name.1");
  platform::registry_key key;
  ASSERT_EQ(platform::registry_key::open(platform::registry_root::local_machine, kClassKey, key),
            platform::kErrorSuccess);
  ASSERT_EQ(key.set_dword("Receipt", 7), platform::kErrorSuccess);
}
void alias_to_missing_device() { controls_test::install_alias(kClassKey, "Receipt", "Gone"); }

void PrintTo(const binding_case& c, std::ostream* os) { *os << c.behaviour; }

class ResolveDeviceTest : public ::testing::TestWithParam<binding_case> {
 protected:
  platform::testing::scoped_registry_dir registry_;
};

TEST_P(ResolveDeviceTest, FollowsAliasAndDeviceKey) {
  const binding_case& c = GetParam();
  c.setup();
  const controls::binding found = controls::resolve_device(kClassKey, c.name);
  EXPECT_EQ(found.result, c.result);
  if (c.result == 0) {
    EXPECT_EQ(found.device_name, c.device_name);
    EXPECT_EQ(found.prog_id, c.prog_id);
  }
}

const std::string k63(63, 'd');
const std::string kProg63(63, 'p');

INSTANTIATE_TEST_SUITE_P(
    Cases, ResolveDeviceTest,
    ::testing::Values(
        binding_case{"class key missing", no_keys, "VX40Device", 109, "", ""},
        binding_case{"device key missing", class_key_only, "VX40Device", 109, "", ""},
        binding_case{"device key without default value", device_without_default, "Bare", 109, "", ""},
        binding_case{"device key names the ProgID", device_with_prog_id, "VX40Device", 0, "VX40Device",
                     "Korvane.POSPrinter.VX40.1"},
        binding_case{"device names ignore case", device_with_prog_id, "vx40device", 0, "vx40device",
                     "Korvane.POSPrinter.VX40.1"},
        binding_case{"alias value gives the device name", alias_to_device, "Receipt", 0, "VX40Device",
                     "Korvane.POSPrinter.VX40.1"},
        binding_case{"alias to a missing device key", alias_to_missing_device, "Receipt", 109, "", ""},
        binding_case{"alias of 63 characters fits", alias_of_63, "Receipt", 0, k63.c_str(), "Aliased.Name.1"},
        binding_case{"alias of 64 characters is ignored", alias_too_long, "Receipt", 0, "Receipt", "Given.Name.1"},
        binding_case{"alias that is no string is ignored", alias_not_a_string, "Receipt", 0, "Receipt",
                     "Given.Name.1"},
        binding_case{"ProgID of 63 characters fits", prog_id_of_63, "Long", 0, "Long", kProg63.c_str()},
        binding_case{"ProgID of 64 characters", prog_id_of_64, "Long", 109, "", ""}),
    [](const ::testing::TestParamInfo<binding_case>& info) {
      std::string name;
      for (const char* p = info.param.behaviour; *p != '\0'; ++p) {
        name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
      }
      return name;
    });

// --- a small control on the core -------------------------------------------------------------

constexpr controls::property_row kLineProperties[] = {
    {1, "DeviceEnabled", property_type::boolean, true, 3},
    {2, "ResultCode", property_type::number, false, 6},
    {3, "CheckHealthText", property_type::string, false, 1000001},
    {4, "ControlObjectVersion", property_type::number, false, controls::kAnsweredLocally},
};
constexpr controls::method_row kLineMethods[] = {
    {10, "Open", "s", method_role::open},
    {11, "Close", "", method_role::close},
    {12, "CheckHealth", "l"},
};

template <controls::close_policy Policy>
class test_line_ctrl final : public controls::control_object<test_line_ctrl<Policy>> {
 public:
  static const controls::control_class& control_class_info() {
    static constexpr controls::control_class kClass = {
        .device_class = "LineDisplay",
        .registry_class_key = controls_test::kLineDisplayKey,
        .description = "Test line display",
        .version = 1002003,
        .about_text = "Test\nRelease 0",
        .close = Policy,
        .properties = kLineProperties,
        .methods = kLineMethods,
    };
    return kClass;
  }
  static std::span<const platform::dispatch_member<test_line_ctrl>> dispatch_members() {
    static constexpr auto kMembers =
        controls::member_table<test_line_ctrl, controls::member_count(kLineProperties, kLineMethods)>(kLineProperties,
                                                                                                     kLineMethods);
    return kMembers;
  }
};

class HostedControlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(controls_test::register_library(CONTROLS_TEST_SERVICE_PATH));
    controls_test::install_device(controls_test::kLineDisplayKey, "Display", controls_test::kServiceProgId);
    probe_.emplace();
  }

  template <class Control>
  platform::dispatch_client make() {
    return platform::dispatch_client(platform::com_ptr<platform::dispatch>(platform::make_object<Control>()));
  }

  platform::testing::scoped_registry_dir registry_;
  std::optional<controls_test::service_probe> probe_;
};

TEST_F(HostedControlTest, MemberTableHasPutRowsOnlyForWritableProperties) {
  using ctrl = test_line_ctrl<controls::close_policy::always_release>;
  const auto rows = ctrl::dispatch_members();
  ASSERT_EQ(rows.size(), 8u);  // four gets, one put, three methods
  int puts = 0;
  for (const auto& row : rows) {
    if (row.kind == platform::invoke_kind::property_put) {
      ++puts;
      EXPECT_EQ(row.name, "DeviceEnabled");
    }
  }
  EXPECT_EQ(puts, 1);

  platform::dispatch_client control = make<ctrl>();
  EXPECT_EQ(control.put("ResultCode", 5), platform::kCtlESetNotSupported);
  EXPECT_EQ(control.put("CheckHealthText", "x"), platform::kCtlESetNotSupported);
  EXPECT_EQ(control.get("ControlObjectVersion").value, Variant(1002003));
  EXPECT_EQ(control.call("AboutBox").hr, platform::kDispEUnknownName);  // not in this table
  // A value that does not convert is refused even while closed.
  EXPECT_EQ(control.put("DeviceEnabled", "maybe"), platform::kDispETypeMismatch);
  EXPECT_EQ(control.call("CheckHealth").hr, platform::kDispEBadParamCount);
}

TEST_F(HostedControlTest, OpenPassesDeviceClassAndResolvedName) {
  platform::dispatch_client control = make<test_line_ctrl<controls::close_policy::release_on_success>>();
  EXPECT_EQ(control.call("Open", "Display").value, Variant(0));
  EXPECT_EQ(probe_->take_calls(), "OpenService(\"LineDisplay\", \"Display\", object)");
  EXPECT_EQ(control.put("DeviceEnabled", true), platform::kSOk);
  EXPECT_EQ(control.get("DeviceEnabled").value, Variant(true));
  EXPECT_EQ(probe_->take_calls(), "SetPropertyNumber(3, 1)\nGetPropertyNumber(3)");
}

struct close_case {
  const char* behaviour;
  controls::close_policy policy;
  bool opened_after_failure;
};

void PrintTo(const close_case& c, std::ostream* os) { *os << c.behaviour; }

class ClosePolicyTest : public HostedControlTest, public ::testing::WithParamInterface<close_case> {};

TEST_P(ClosePolicyTest, FailingServiceCloseFollowsThePolicy) {
  const close_case& c = GetParam();
  platform::dispatch_client control =
      c.policy == controls::close_policy::always_release
          ? make<test_line_ctrl<controls::close_policy::always_release>>()
          : make<test_line_ctrl<controls::close_policy::release_on_success>>();
  ASSERT_EQ(control.call("Open", "Display").value, Variant(0));
  probe_->set_result("Close", 113);
  EXPECT_EQ(control.call("Close").value, Variant(113));
  EXPECT_EQ(probe_->live_objects(), c.opened_after_failure ? 1 : 0);
  // An opened control forwards; a closed one answers 101 itself.
  EXPECT_EQ(control.call("CheckHealth", 1).value, Variant(c.opened_after_failure ? 0 : 101));

  // Once the service object closes, both policies end closed.
  probe_->set_result("Close", 0);
  EXPECT_EQ(control.call("Close").value, Variant(c.opened_after_failure ? 0 : 101));
  EXPECT_EQ(probe_->live_objects(), 0);
  EXPECT_EQ(control.call("CheckHealth", 1).value, Variant(101));
  const std::string opened = "OpenService(\"LineDisplay\", \"Display\", object)\n";
  const std::string expected =
      c.opened_after_failure ? opened + "Close()\nCheckHealth(1)\nClose()" : opened + "Close()";
  EXPECT_EQ(probe_->take_calls(), expected);
}

TEST_P(ClosePolicyTest, AutomationFailureOfCloseFollowsThePolicy) {
  const close_case& c = GetParam();
  platform::dispatch_client control =
      c.policy == controls::close_policy::always_release
          ? make<test_line_ctrl<controls::close_policy::always_release>>()
          : make<test_line_ctrl<controls::close_policy::release_on_success>>();
  ASSERT_EQ(control.call("Open", "Display").value, Variant(0));
  probe_->set_failure("Close", platform::kEFail);
  EXPECT_EQ(control.call("Close").hr, platform::kDispEException);
  EXPECT_NE(platform::take_error_info().find("Close"), std::string::npos);
  EXPECT_EQ(probe_->live_objects(), c.opened_after_failure ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(Policies, ClosePolicyTest,
                         ::testing::Values(
                             close_case{"printer", controls::close_policy::always_release, false},
                             close_case{"line_display", controls::close_policy::release_on_success, true}),
                         [](const auto& info) { return std::string(info.param.behaviour); });

}  // namespace
