// Tests of the cash drawer control: the Drwctl library registered in a private registry and
// created by ProgID, bound to the kit's cash drawer service object (Devsvc) on an in-process
// virtual printer, as an application drives it.
#include "drwctl.h"

#include <chrono>
#include <functional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "monitor/sim.h"
#include "platform/registry.h"
#include "testing/harness.h"

namespace {

using platform::com_ptr;
using platform::dispatch;
using platform::Variant;

constexpr std::string_view kClassKey = "SOFTWARE\\OLEforRetail\\ServiceOPOS\\CashDrawer";
constexpr const char* kDevice = "VX40DrawerControl";
constexpr const char* kPort = "DRWCTL1";

// Records the control's events. DirectIOEvent doubles pData and appends "!" to pString;
// `on_status` runs inside StatusUpdateEvent when set.
class recording_sink final : public platform::dispatch_object<recording_sink> {
 public:
  static std::span<const platform::dispatch_member<recording_sink>> dispatch_members();

  void DirectIOEvent(std::int32_t number, std::int32_t& data, std::string& text) {
    events.push_back("DirectIOEvent(" + std::to_string(number) + ", " + std::to_string(data) + ", " + text + ")");
    data *= 2;
    text += "!";
  }
  void StatusUpdateEvent(std::int32_t data) {
    events.push_back("StatusUpdateEvent(" + std::to_string(data) + ")");
    if (on_status) on_status();
  }

  std::vector<std::string> events;
  std::function<void()> on_status;
};

constexpr platform::dispatch_member<recording_sink> kSinkMembers[] = {
    platform::dispatch_method<&recording_sink::DirectIOEvent>("DirectIOEvent", drwctl::kDirectIOEvent),
    platform::dispatch_method<&recording_sink::StatusUpdateEvent>("StatusUpdateEvent", drwctl::kStatusUpdateEvent),
};
std::span<const platform::dispatch_member<recording_sink>> recording_sink::dispatch_members() { return kSinkMembers; }

// Arguments that fit a method's parameter letters; by-reference cells point into the members.
struct argument_set {
  std::int32_t number = 7;
  std::string text = "x";
  std::vector<Variant> values;
  explicit argument_set(std::string_view params) {
    for (const char p : params) {
      if (p == 'l') values.emplace_back(1);
      if (p == 's') values.emplace_back("data");
      if (p == 'L') values.push_back(Variant::ref(number));
      if (p == 'S') values.push_back(Variant::ref(text));
    }
  }
};

// --- the member table ------------------------------------------------------------------------

TEST(DrwctlTableTest, DispatchIdsAndIndexesAreConsistent) {
  const controls::control_class& cls = drwctl::cash_drawer_class();
  EXPECT_EQ(cls.device_class, "CashDrawer");
  EXPECT_EQ(cls.registry_class_key, kClassKey);
  ASSERT_EQ(cls.properties.size(), 19u);
  std::set<std::string> names;
  std::set<std::int32_t> indexes;
  for (std::size_t i = 0; i < cls.properties.size(); ++i) {
    const controls::property_row& row = cls.properties[i];
    SCOPED_TRACE(std::string(row.name));
    EXPECT_EQ(row.dispid, static_cast<long>(i + 1)) << "properties are dispatch ids 1 to 19 in order";
    EXPECT_TRUE(names.insert(std::string(row.name)).second);
    if (row.pidx == controls::kAnsweredLocally) continue;
    EXPECT_TRUE(indexes.insert(row.pidx).second) << "PIDX used twice";
    EXPECT_EQ(row.type == controls::property_type::string, row.pidx >= 1000000);
    EXPECT_FALSE(row.type == controls::property_type::string && row.writable);
  }
  long next = 20;
  for (const controls::method_row& row : cls.methods) {
    SCOPED_TRACE(std::string(row.name));
    EXPECT_TRUE(names.insert(std::string(row.name)).second);
    EXPECT_EQ(row.dispid, row.name == "AboutBox" ? -552 : next++);
    for (const char p : row.params) EXPECT_NE(std::string_view("lsLS").find(p), std::string_view::npos);
  }
  EXPECT_EQ(next, 31);
}

// --- the control through the object model ----------------------------------------------------

class DrwctlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(platform::succeeded(devsvc::testing::register_library(DRWCTL_PATH)));
    devsvc::testing::set_fixed_dword("TimeOutLoopMsg", 100);
    uri_ = "sim:" + devsvc::testing::unique_sim_name();
    devsvc::testing::set_port(kPort, uri_);
    platform::registry_key key;
    ASSERT_EQ(platform::registry_key::create(platform::registry_root::local_machine,
                                             std::string(kClassKey) + "\\" + kDevice, key),
              platform::kErrorSuccess);
    key.set_string("", "Korvane.CashDrawer.VX40.1");
    key.set_string("MachineType", "VX40");
    key.set_string("COMMPort", kPort);
    // An alias under the class key that names the device.
    platform::registry_key class_key;
    ASSERT_EQ(platform::registry_key::open(platform::registry_root::local_machine, kClassKey, class_key),
              platform::kErrorSuccess);
    class_key.set_string("Till", kDevice);
    printer_ = monitor::sim_printer(uri_);
    ASSERT_NE(printer_, nullptr);

    com_ptr<dispatch> object;
    ASSERT_EQ(platform::create_instance(drwctl::kProgId, object), platform::kSOk) << platform::com_last_error();
    control_ = platform::dispatch_client(object);
    sink_ = platform::make_object<recording_sink>();
    point_ = object.as<platform::connection_point>();
    ASSERT_TRUE(point_);
    ASSERT_EQ(point_->advise(sink_.get(), cookie_), platform::kSOk);
  }
  void TearDown() override {
    if (point_) point_->unadvise(cookie_);
  }

  // A method's long result; -999 when the call itself failed.
  std::int32_t call(std::string_view name, std::initializer_list<Variant> args = {}) {
    const platform::call_result r =
        control_.invoke(name, platform::invoke_kind::method, std::vector<Variant>(args));
    EXPECT_EQ(r.hr, platform::kSOk) << name << ": " << platform::take_error_info();
    return r.ok() ? r.value.long_or(-999) : -999;
  }
  Variant get(std::string_view name) { return control_.get(name).value; }

  // Opens through the alias, claims and enables.
  void open_claim_enable() {
    ASSERT_EQ(call("Open", {Variant("Till")}), 0);
    ASSERT_EQ(call("Claim", {Variant(1000)}), 0);
    ASSERT_EQ(control_.put("DeviceEnabled", true), platform::kSOk);
    ASSERT_EQ(get("DeviceEnabled"), Variant(true));
  }

  devsvc::testing::environment env_;
  std::string uri_;
  vprinter::virtual_printer* printer_ = nullptr;
  platform::dispatch_client control_;
  com_ptr<recording_sink> sink_;
  com_ptr<platform::connection_point> point_;
  std::uint32_t cookie_ = 0;
};

TEST_F(DrwctlTest, CreatedByProgIdIndependentProgIdAndClsid) {
  const std::vector<std::string> names = {"CONTROLObject.KorvaneCashDrawer", drwctl::kClsid.to_string()};
  for (const std::string& name : names) {
    com_ptr<dispatch> object;
    EXPECT_EQ(platform::create_instance(name, object), platform::kSOk) << name << ": " << platform::com_last_error();
  }
  struct expected_id {
    const char* name;
    long dispid;
  };
  for (const auto& [name, dispid] : {expected_id{"BinaryConversion", 1}, expected_id{"DrawerOpened", 19},
                                     expected_id{"capstatus", 18}, expected_id{"Open", 20},
                                     expected_id{"WaitForDrawerClose", 27}, expected_id{"SOStatusUpdate", 30},
                                     expected_id{"AboutBox", -552}}) {
    long id = 0;
    EXPECT_EQ(control_.get()->get_ids_of_names(name, id), platform::kSOk) << name;
    EXPECT_EQ(id, dispid) << name;
  }
  // The printer's members are not the drawer's.
  long id = 0;
  EXPECT_NE(control_.get()->get_ids_of_names("PrintNormal", id), platform::kSOk);
}

TEST_F(DrwctlTest, ClosedControlAnswersEverythingItself) {
  for (const controls::property_row& row : drwctl::cash_drawer_class().properties) {
    SCOPED_TRACE(std::string(row.name));
    Variant expected;
    if (row.name == "ControlObjectDescription") {
      expected = Variant("Cash Drawer driver - Korvane OLE for Retail");
    } else if (row.name == "ControlObjectVersion") {
      expected = Variant(1000000);
    } else if (row.type == controls::property_type::string) {
      expected = Variant("");
    } else if (row.type == controls::property_type::boolean) {
      expected = Variant(false);
    } else {
      expected = Variant(0);
    }
    const platform::call_result read = control_.get(row.name);
    EXPECT_EQ(read.hr, platform::kSOk);
    EXPECT_EQ(read.value, expected);
    EXPECT_EQ(control_.put(row.name, 1), row.writable ? platform::kSOk : platform::kCtlESetNotSupported);
  }
  for (const controls::method_row& row : drwctl::cash_drawer_class().methods) {
    if (row.role != controls::method_role::forward && row.role != controls::method_role::close) continue;
    SCOPED_TRACE(std::string(row.name));
    argument_set args(row.params);
    const platform::call_result r = control_.invoke(row.name, platform::invoke_kind::method, args.values);
    EXPECT_EQ(r.hr, platform::kSOk);
    EXPECT_EQ(r.value, Variant(101));
  }
  EXPECT_NE(control_.call("AboutBox").value.string_or("").find("Release 1.01"), std::string::npos);
  EXPECT_TRUE(printer_->capture().empty());
}

TEST_F(DrwctlTest, OpenBindsTheDrawerServiceObjectAndForwardsItsProperties) {
  EXPECT_EQ(call("Open", {Variant("NoSuchDrawer")}), 109);
  ASSERT_EQ(call("Open", {Variant("Till")}), 0);
  EXPECT_EQ(call("Open", {Variant(kDevice)}), 106);
  EXPECT_EQ(get("DeviceName"), Variant("VX40DrawerControl"));
  EXPECT_EQ(get("DeviceDescription"), Variant("OPOS Cash Drawer; Driver for VX - 40 POS Printer"));
  EXPECT_EQ(get("ServiceObjectDescription"), Variant("Korvane - POS Printer Service Driver"));
  EXPECT_EQ(get("ServiceObjectVersion"), Variant(1004024));
  EXPECT_EQ(get("CapStatus"), Variant(true));
  EXPECT_EQ(get("CapPowerReporting"), Variant(1));
  EXPECT_EQ(get("State"), Variant(2));
  EXPECT_EQ(get("PowerState"), Variant(2000));
  EXPECT_EQ(get("ControlObjectVersion"), Variant(1000000));

  // Writes reach the service object, which keeps the rules.
  EXPECT_EQ(control_.put("DeviceEnabled", true), platform::kSOk);
  EXPECT_EQ(get("ResultCode"), Variant(103));
  EXPECT_EQ(get("DeviceEnabled"), Variant(false));
  EXPECT_EQ(control_.put("BinaryConversion", 2), platform::kSOk);
  EXPECT_EQ(get("BinaryConversion"), Variant(2));
  EXPECT_EQ(control_.put("PowerNotify", 1), platform::kSOk);
  EXPECT_EQ(get("PowerNotify"), Variant(1));

  EXPECT_EQ(call("Close"), 0);
  EXPECT_EQ(get("DeviceName"), Variant(""));
  EXPECT_EQ(call("Claim", {Variant(1000)}), 101);
}

TEST_F(DrwctlTest, OpenDrawerAndWaitForItToClose) {
  open_claim_enable();
  EXPECT_EQ(get("DrawerOpened"), Variant(false));
  const std::size_t claimed = printer_->capture().size();
  ASSERT_EQ(call("OpenDrawer"), 0);
  EXPECT_EQ(printer_->capture().substr(claimed, 5), std::string("\x1B\x70\x00\x64\x64", 5));
  EXPECT_TRUE(printer_->drawer_open());
  EXPECT_EQ(get("DrawerOpened"), Variant(true));
  EXPECT_EQ(sink_->events, (std::vector<std::string>{"StatusUpdateEvent(1)"}));

  std::thread person([this] {
    std::this_thread::sleep_for(std::chrono::milliseconds(800));
    printer_->close_drawer();
  });
  ::testing::internal::CaptureStderr();
  const auto started = std::chrono::steady_clock::now();
  const std::int32_t waited = call("WaitForDrawerClose", {Variant(60000), Variant(880), Variant(100), Variant(100)});
  const auto elapsed = std::chrono::steady_clock::now() - started;
  person.join();
  ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(waited, 0);
  EXPECT_GE(elapsed, std::chrono::milliseconds(700));
  EXPECT_LT(elapsed, std::chrono::milliseconds(10000));
  EXPECT_EQ(get("DrawerOpened"), Variant(false));
  EXPECT_EQ(sink_->events, (std::vector<std::string>{"StatusUpdateEvent(1)", "StatusUpdateEvent(0)"}));

  EXPECT_EQ(call("CheckHealth", {Variant(1)}), 0);
  EXPECT_EQ(get("CheckHealthText"), Variant("Internal Check: successfull"));
  EXPECT_EQ(call("Release"), 0);
  EXPECT_EQ(get("Claimed"), Variant(false));
  EXPECT_EQ(call("Close"), 0);
}

TEST_F(DrwctlTest, DirectIOCellsCarryTheServiceObjectsAnswer) {
  open_claim_enable();
  // The printer answers GS I C with "_VX40" and a NUL; the status request after the write takes
  // the first byte.
  std::int32_t data = 0;
  std::string text = "\x1D\x49\x43";
  std::vector<Variant> args = {Variant(1), Variant::ref(data), Variant::ref(text)};
  ASSERT_EQ(control_.invoke("DirectIO", platform::invoke_kind::method, args).value, Variant(0));
  data = 4;
  text.clear();
  args = {Variant(2), Variant::ref(data), Variant::ref(text)};
  EXPECT_EQ(control_.invoke("DirectIO", platform::invoke_kind::method, args).value, Variant(0));
  EXPECT_EQ(data, 4);
  EXPECT_EQ(text, "VX40");
  // By-reference parameters need cells.
  args = {Variant(2), Variant(4), Variant("")};
  EXPECT_EQ(control_.invoke("DirectIO", platform::invoke_kind::method, args).hr, platform::kDispETypeMismatch);
}

TEST_F(DrwctlTest, CallbacksFireTheirEvents) {
  ASSERT_EQ(call("Open", {Variant("Till")}), 0);
  // As a service object calls back: the sink's answers reach the caller's cells.
  std::int32_t data = 21;
  std::string text = "ab";
  std::vector<Variant> args = {Variant(5), Variant::ref(data), Variant::ref(text)};
  EXPECT_EQ(control_.invoke("SODirectIO", platform::invoke_kind::method, args).hr, platform::kSOk);
  EXPECT_EQ(data, 42);
  EXPECT_EQ(text, "ab!");
  EXPECT_EQ(call("SOStatusUpdate", {Variant(2002)}), 0);
  EXPECT_EQ(sink_->events, (std::vector<std::string>{"DirectIOEvent(5, 21, ab)", "StatusUpdateEvent(2002)"}));
  EXPECT_EQ(control_.call("SOProcessID").value, Variant(static_cast<std::int32_t>(::getpid())));
}

TEST_F(DrwctlTest, FrozenEventsArriveWhenThawed) {
  open_claim_enable();
  ASSERT_EQ(control_.put("FreezeEvents", true), platform::kSOk);
  EXPECT_EQ(get("FreezeEvents"), Variant(true));
  ASSERT_EQ(call("OpenDrawer"), 0);
  EXPECT_TRUE(sink_->events.empty());
  ASSERT_EQ(control_.put("FreezeEvents", false), platform::kSOk);
  EXPECT_EQ(sink_->events, (std::vector<std::string>{"StatusUpdateEvent(1)"}));
}

TEST_F(DrwctlTest, CloseRefusedWhileBusyLeavesTheControlOpened) {
  open_claim_enable();
  // An event handler that closes the control while the drawer is being opened: the service
  // object is busy and refuses, so the control keeps its binding.
  std::int32_t nested_close = -1;
  sink_->on_status = [&] {
    sink_->on_status = nullptr;
    nested_close = call("Close");
  };
  ASSERT_EQ(call("OpenDrawer"), 0);
  EXPECT_EQ(nested_close, 113);
  EXPECT_EQ(get("Claimed"), Variant(true)) << "still opened and bound";
  EXPECT_EQ(call("Close"), 0);
  EXPECT_EQ(get("Claimed"), Variant(false));
  EXPECT_EQ(call("Close"), 101);
}

}  // namespace
