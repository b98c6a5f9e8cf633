// Tests of the POS printer control: the Ptrctl library registered in a private registry and
// created by ProgID, bound to the recording test service object.
#include "ptrctl.h"

#include <unistd.h>

#include <optional>
#include <set>
#include <vector>

#include <gtest/gtest.h>

#include "platform/testing/temp_dir.h"
#include "test_service.h"
#include "test_support.h"

namespace {

using platform::com_ptr;
using platform::dispatch;
using platform::Variant;

// Records the control's events; ErrorEvent answers with `error_answer` when set, DirectIOEvent
// doubles pData and appends "!" to pString.
class recording_sink final : public platform::dispatch_object<recording_sink> {
 public:
  static std::span<const platform::dispatch_member<recording_sink>> dispatch_members();

  void DirectIOEvent(std::int32_t number, std::int32_t& data, std::string& text) {
    events.push_back("DirectIOEvent(" + std::to_string(number) + ", " + std::to_string(data) + ", " + text + ")");
    data *= 2;
    text += "!";
  }
  void ErrorEvent(std::int32_t code, std::int32_t extended, std::int32_t locus, std::int32_t& response) {
    events.push_back("ErrorEvent(" + std::to_string(code) + ", " + std::to_string(extended) + ", " +
                     std::to_string(locus) + ", " + std::to_string(response) + ")");
    if (error_answer) response = *error_answer;
  }
  void OutputCompleteEvent(std::int32_t id) { events.push_back("OutputCompleteEvent(" + std::to_string(id) + ")"); }
  void StatusUpdateEvent(std::int32_t data) { events.push_back("StatusUpdateEvent(" + std::to_string(data) + ")"); }

  std::vector<std::string> events;
  std::optional<std::int32_t> error_answer;
};

constexpr platform::dispatch_member<recording_sink> kSinkMembers[] = {
    platform::dispatch_method<&recording_sink::DirectIOEvent>("DirectIOEvent", ptrctl::kDirectIOEvent),
    platform::dispatch_method<&recording_sink::ErrorEvent>("ErrorEvent", ptrctl::kErrorEvent),
    platform::dispatch_method<&recording_sink::OutputCompleteEvent>("OutputCompleteEvent",
                                                                    ptrctl::kOutputCompleteEvent),
    platform::dispatch_method<&recording_sink::StatusUpdateEvent>("StatusUpdateEvent", ptrctl::kStatusUpdateEvent),
};
std::span<const platform::dispatch_member<recording_sink>> recording_sink::dispatch_members() { return kSinkMembers; }

// Arguments that fit a method's parameter letters; by-reference cells point into `cells`.
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

TEST(PtrctlTableTest, DispatchIdsAndIndexesAreConsistent) {
  const controls::control_class& cls = ptrctl::pos_printer_class();
  ASSERT_EQ(cls.properties.size(), 127u);
  std::set<std::string> names;
  std::set<std::int32_t> indexes;
  for (std::size_t i = 0; i < cls.properties.size(); ++i) {
    const controls::property_row& row = cls.properties[i];
    SCOPED_TRACE(std::string(row.name));
    EXPECT_EQ(row.dispid, static_cast<long>(i + 1)) << "properties are dispatch ids 1 to 127 in order";
    EXPECT_TRUE(names.insert(std::string(row.name)).second);
    if (row.pidx == controls::kAnsweredLocally) continue;
    EXPECT_TRUE(indexes.insert(row.pidx).second) << "PIDX used twice";
    // String properties are read through GetPropertyString (indexes from 1000000), never written.
    EXPECT_EQ(row.type == controls::property_type::string, row.pidx >= 1000000);
    EXPECT_FALSE(row.type == controls::property_type::string && row.writable);
  }
  long next = 128;
  for (const controls::method_row& row : cls.methods) {
    SCOPED_TRACE(std::string(row.name));
    EXPECT_TRUE(names.insert(std::string(row.name)).second);
    EXPECT_EQ(row.dispid, row.name == "AboutBox" ? -552 : next++);
    for (const char p : row.params) EXPECT_NE(std::string_view("lsLS").find(p), std::string_view::npos);
  }
  EXPECT_EQ(next, 159);
}

// --- the control through the object model ----------------------------------------------------

class PtrctlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(controls_test::register_library(PTRCTL_PATH));
    ASSERT_TRUE(controls_test::register_library(CONTROLS_TEST_SERVICE_PATH));
    controls_test::install_device(controls_test::kPosPrinterKey, "TestDevice", controls_test::kServiceProgId);
    controls_test::install_alias(controls_test::kPosPrinterKey, "Receipt", "TestDevice");
    probe_.emplace();

    com_ptr<dispatch> object;
    ASSERT_EQ(platform::create_instance(ptrctl::kProgId, object), platform::kSOk) << platform::com_last_error();
    control_ = platform::dispatch_client(object);
    sink_ = platform::make_object<recording_sink>();
    point_ = object.as<platform::connection_point>();
    ASSERT_TRUE(point_);
    ASSERT_EQ(point_->advise(sink_.get(), cookie_), platform::kSOk);
  }
  void TearDown() override {
    if (point_) point_->unadvise(cookie_);
  }

  // Opens through the alias and forgets the OpenService record.
  void open() {
    ASSERT_EQ(control_.call("Open", "Receipt").value, Variant(0));
    ASSERT_EQ(probe_->take_calls(), "OpenService(\"POSPrinter\", \"TestDevice\", object)");
  }

  platform::testing::scoped_registry_dir registry_;
  std::optional<controls_test::service_probe> probe_;
  platform::dispatch_client control_;
  com_ptr<recording_sink> sink_;
  com_ptr<platform::connection_point> point_;
  std::uint32_t cookie_ = 0;
};

TEST_F(PtrctlTest, CreatedByProgIdIndependentProgIdAndClsid) {
  const std::vector<std::string> names = {"CONTROLObject.KorvanePOSPrinter", ptrctl::kClsid.to_string()};
  for (const std::string& name : names) {
    com_ptr<dispatch> object;
    EXPECT_EQ(platform::create_instance(name, object), platform::kSOk) << name << ": " << platform::com_last_error();
  }
  struct expected_id {
    const char* name;
    long dispid;
  };
  for (const auto& [name, dispid] : {expected_id{"BinaryConversion", 1}, expected_id{"CapRecPapercut", 47},
                                     expected_id{"capreccolor", 112}, expected_id{"CapRecRight90", 127},
                                     expected_id{"Open", 128}, expected_id{"SOError", 136},
                                     expected_id{"ReleaseDevice", 158}, expected_id{"AboutBox", -552}}) {
    long id = 0;
    EXPECT_EQ(control_.get()->get_ids_of_names(name, id), platform::kSOk) << name;
    EXPECT_EQ(id, dispid) << name;
  }
}

TEST_F(PtrctlTest, ClosedControlAnswersEverythingItself) {
  for (const controls::property_row& row : ptrctl::pos_printer_class().properties) {
    SCOPED_TRACE(std::string(row.name));
    Variant expected;
    if (row.name == "ControlObjectDescription") {
      expected = Variant("POSPrinter Driver - Korvane OLE for Retail");
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
  for (const controls::method_row& row : ptrctl::pos_printer_class().methods) {
    if (row.role != controls::method_role::forward && row.role != controls::method_role::close) continue;
    SCOPED_TRACE(std::string(row.name));
    argument_set args(row.params);
    const platform::call_result r = control_.invoke(row.name, platform::invoke_kind::method, args.values);
    EXPECT_EQ(r.hr, platform::kSOk);
    EXPECT_EQ(r.value, Variant(101));
  }
  // The writes above were dropped: opening reaches the service object with OpenService alone.
  open();
  EXPECT_EQ(control_.get("DeviceEnabled").value, Variant(false));
  EXPECT_EQ(probe_->take_calls(), "GetPropertyNumber(3)");
}

TEST_F(PtrctlTest, OpenResolvesAliasAndRefusesSecondOpen) {
  open();
  EXPECT_EQ(probe_->live_objects(), 1);
  EXPECT_EQ(control_.call("Open", "TestDevice").value, Variant(106));
  EXPECT_EQ(probe_->take_calls(), "");
  EXPECT_EQ(probe_->live_objects(), 1);
  // The first binding still serves.
  EXPECT_EQ(control_.call("PrintNormal", 2, "x").value, Variant(0));
  EXPECT_EQ(probe_->take_calls(), "PrintNormal(2, \"x\")");
}

struct open_failure {
  const char* behaviour;
  const char* device;
  std::int32_t open_service_result;  // what the service object answers, when it is reached
  std::int32_t result;
  const char* calls;
};

void PrintTo(const open_failure& c, std::ostream* os) { *os << c.behaviour; }

class PtrctlOpenFailureTest : public PtrctlTest, public ::testing::WithParamInterface<open_failure> {};

TEST_P(PtrctlOpenFailureTest, LeavesTheControlClosed) {
  const open_failure& c = GetParam();
  controls_test::install_device(controls_test::kPosPrinterKey, "Unregistered", "No.Such.Service.1");
  controls_test::install_device(controls_test::kPosPrinterKey, "Unloadable", "{11111111-2222-3333-4444-555555555555}");
  probe_->set_result("OpenService", c.open_service_result);
  EXPECT_EQ(control_.call("Open", c.device).value, Variant(c.result));
  EXPECT_EQ(probe_->take_calls(), c.calls);
  EXPECT_EQ(probe_->live_objects(), 0) << "no service object is held";
  EXPECT_EQ(control_.call("Claim", 100).value, Variant(101));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PtrctlOpenFailureTest,
    ::testing::Values(open_failure{"NoDeviceKey", "NoSuchDevice", 0, 109, ""},
                      open_failure{"ProgIdNotRegistered", "Unregistered", 0, 104, ""},
                      open_failure{"ClassNotRegistered", "Unloadable", 0, 104, ""},
                      open_failure{"OpenServiceFails", "TestDevice", 111, 111,
                                   "OpenService(\"POSPrinter\", \"TestDevice\", object)"}),
    [](const auto& info) { return std::string(info.param.behaviour); });

struct read_case {
  const char* property;
  std::int32_t number;  // what GetPropertyNumber gives
  const char* text;     // what GetPropertyString gives
  Variant expected;
  const char* calls;
};

TEST_F(PtrctlTest, PropertyReadsAskTheServiceObjectByIndex) {
  open();
  const read_case cases[] = {
      {"CapRecPapercut", 1, "", Variant(true), "GetPropertyNumber(8526)"},
      {"CapRecRight90", 5, "", Variant(true), "GetPropertyNumber(8528)"},
      {"CapJrnPresent", 0, "", Variant(false), "GetPropertyNumber(8513)"},
      {"ResultCode", 114, "", Variant(114), "GetPropertyNumber(6)"},
      {"OutputID", 4711, "", Variant(4711), "GetPropertyNumber(5)"},
      {"RecLineChars", 42, "", Variant(42), "GetPropertyNumber(8016)"},
      {"DeviceDescription", 0, "OPOS Printer", Variant("OPOS Printer"), "GetPropertyString(1000002)"},
      {"RecBarCodeRotationList", 0, "0,R90,L90,180", Variant("0,R90,L90,180"), "GetPropertyString(1008007)"},
      {"ControlObjectVersion", 0, "", Variant(1000000), ""},
      {"ControlObjectDescription", 0, "", Variant("POSPrinter Driver - Korvane OLE for Retail"), ""},
  };
  for (const read_case& c : cases) {
    SCOPED_TRACE(c.property);
    probe_->set_number(8526, c.number);
    probe_->set_number(8528, c.number);
    probe_->set_number(8513, c.number);
    probe_->set_number(6, c.number);
    probe_->set_number(5, c.number);
    probe_->set_number(8016, c.number);
    probe_->set_string(1000002, c.text);
    probe_->set_string(1008007, c.text);
    EXPECT_EQ(control_.get(c.property).value, c.expected);
    EXPECT_EQ(probe_->take_calls(), c.calls);
  }
}

struct write_case {
  const char* property;
  Variant value;
  platform::hresult hr;
  const char* calls;
};

TEST_F(PtrctlTest, PropertyWritesReachSetPropertyNumberOrAreRefused) {
  const write_case read_only[] = {
      {"RecCurrentCartridge", Variant(1), platform::kCtlESetNotSupported, ""},
      {"ResultCode", Variant(0), platform::kCtlESetNotSupported, ""},
      {"CheckHealthText", Variant("x"), platform::kCtlESetNotSupported, ""},
      {"ControlObjectVersion", Variant(1), platform::kCtlESetNotSupported, ""},
  };
  for (const write_case& c : read_only) EXPECT_EQ(control_.put(c.property, c.value), c.hr) << "closed: " << c.property;
  open();
  const write_case cases[] = {
      {"DeviceEnabled", Variant(true), platform::kSOk, "SetPropertyNumber(3, 1)"},
      {"DeviceEnabled", Variant(false), platform::kSOk, "SetPropertyNumber(3, 0)"},
      {"DeviceEnabled", Variant(-1), platform::kSOk, "SetPropertyNumber(3, 1)"},
      {"FreezeEvents", Variant(true), platform::kSOk, "SetPropertyNumber(4, 1)"},
      {"AsyncMode", Variant(1), platform::kSOk, "SetPropertyNumber(8001, 1)"},
      {"JrnLineChars", Variant(40), platform::kSOk, "SetPropertyNumber(8008, 40)"},
      {"JrnCurrentCartridge", Variant(2), platform::kSOk, "SetPropertyNumber(8039, 2)"},
      {"BinaryConversion", Variant("2"), platform::kSOk, "SetPropertyNumber(11, 2)"},
      {"MapMode", Variant("dots"), platform::kDispETypeMismatch, ""},
  };
  for (const write_case& c : cases) {
    SCOPED_TRACE(c.property);
    EXPECT_EQ(control_.put(c.property, c.value), c.hr);
    EXPECT_EQ(probe_->take_calls(), c.calls);
  }
  for (const write_case& c : read_only) EXPECT_EQ(control_.put(c.property, c.value), c.hr) << "opened: " << c.property;
  EXPECT_EQ(probe_->take_calls(), "");
}

struct forward_case {
  const char* method;
  std::vector<Variant> args;
  const char* calls;
};

TEST_F(PtrctlTest, MethodsForwardArgumentsInOrderAndResultsUnchanged) {
  open();
  const forward_case cases[] = {
      {"Claim", {1000}, "Claim(1000)"},
      {"PrintNormal", {2, "Total\n\x1b|bC"}, "PrintNormal(2, \"Total\\x0A\\x1B|bC\")"},
      {"PrintBarCode", {2, "4711", 104, 80, 2, -2, -13}, "PrintBarCode(2, \"4711\", 104, 80, 2, -2, -13)"},
      {"PrintBitmap", {2, "/tmp/logo.bmp", -11, -1}, "PrintBitmap(2, \"/tmp/logo.bmp\", -11, -1)"},
      {"PrintTwoNormal", {3, "a", "b"}, "PrintTwoNormal(3, \"a\", \"b\")"},
      {"SetBitmap", {1, 2, "f.bmp", 100, -2}, "SetBitmap(1, 2, \"f.bmp\", 100, -2)"},
      {"RotatePrint", {2, 258}, "RotatePrint(2, 258)"},
      {"TransactionPrint", {2, 11}, "TransactionPrint(2, 11)"},
      {"CutPaper", {"90"}, "CutPaper(90)"},
      {"ClearOutput", {}, "ClearOutput()"},
      {"Release", {}, "Release()"},
  };
  for (const forward_case& c : cases) {
    SCOPED_TRACE(c.method);
    probe_->set_result(c.method, 114);
    const platform::call_result r = control_.invoke(c.method, platform::invoke_kind::method, c.args);
    EXPECT_EQ(r.hr, platform::kSOk) << platform::take_error_info();
    EXPECT_EQ(r.value, Variant(114));
    EXPECT_EQ(probe_->take_calls(), c.calls);
  }
  EXPECT_EQ(control_.call("PrintNormal", 2).hr, platform::kDispEBadParamCount);
  EXPECT_EQ(probe_->take_calls(), "");
}

TEST_F(PtrctlTest, DirectIOPassesCellsThrough) {
  open();
  std::int32_t data = 5;
  std::string text = "ab";
  const platform::call_result r = control_.call("DirectIO", 1, Variant::ref(data), Variant::ref(text));
  EXPECT_EQ(r.value, Variant(0));
  EXPECT_EQ(data, 1005);
  EXPECT_EQ(text, "ab+SO");
  EXPECT_EQ(probe_->take_calls(), "DirectIO(1, 5, \"ab\")");
  // Values where cells belong would lose the service object's answer: refused.
  EXPECT_EQ(control_.call("DirectIO", 1, 5, "ab").hr, platform::kDispETypeMismatch);
  EXPECT_EQ(probe_->take_calls(), "");
}

TEST_F(PtrctlTest, CallbacksFireEventsAtOnceWithAnswersFlowingBack) {
  open();
  sink_->error_answer = 11;  // retry
  EXPECT_EQ(probe_->fire_error(111, 0, 1, 12), 11);
  sink_->error_answer.reset();
  EXPECT_EQ(probe_->fire_error(114, 203, 1, 12), 12) << "unanswered: the service object's value stays";
  EXPECT_EQ(probe_->fire_status_update(11), platform::kSOk);
  EXPECT_EQ(probe_->fire_output_complete(4711), platform::kSOk);
  EXPECT_EQ(probe_->fire_direct_io(9, 21, "read"), "42:read!");
  const std::vector<std::string> expected = {"ErrorEvent(111, 0, 1, 12)", "ErrorEvent(114, 203, 1, 12)",
                                             "StatusUpdateEvent(11)", "OutputCompleteEvent(4711)",
                                             "DirectIOEvent(9, 21, read)"};
  EXPECT_EQ(sink_->events, expected);
}

TEST_F(PtrctlTest, CallbacksDuringAControlCallFireBeforeItReturns) {
  open();
  sink_->error_answer = 11;
  std::int32_t data = 203;
  std::string text;
  EXPECT_EQ(control_.call("DirectIO", controls_test::kFireError, Variant::ref(data), Variant::ref(text)).value,
            Variant(0));
  EXPECT_EQ(data, 11) << "the service object saw the handler's answer";
  data = 25;
  EXPECT_EQ(control_.call("DirectIO", controls_test::kFireStatusUpdate, Variant::ref(data), Variant::ref(text)).value,
            Variant(0));
  const std::vector<std::string> expected = {"ErrorEvent(111, 203, 1, 12)", "StatusUpdateEvent(25)"};
  EXPECT_EQ(sink_->events, expected);
}

TEST_F(PtrctlTest, ProcessIdAndAboutBoxAreAnsweredLocally) {
  EXPECT_EQ(control_.call("SOProcessID").value, Variant(static_cast<std::int32_t>(::getpid())));
  open();
  EXPECT_EQ(probe_->call_process_id(), static_cast<std::int32_t>(::getpid()));
  const std::string about = control_.call("AboutBox").value.string_or();
  EXPECT_NE(about.find("OPOS Driver for POS Printer"), std::string::npos);
  EXPECT_NE(about.find("Release 1.01"), std::string::npos);
  EXPECT_EQ(probe_->take_calls(), "");
}

TEST_F(PtrctlTest, CloseReleasesTheServiceObjectEvenWhenItFails) {
  for (const std::int32_t close_result : {0, 111}) {
    SCOPED_TRACE(close_result);
    open();
    probe_->set_result("Close", close_result);
    EXPECT_EQ(control_.call("Close").value, Variant(close_result));
    EXPECT_EQ(probe_->take_calls(), "Close()");
    EXPECT_EQ(probe_->live_objects(), 0);
    EXPECT_EQ(control_.call("PrintNormal", 2, "x").value, Variant(101));
    EXPECT_EQ(control_.call("Close").value, Variant(101));
    EXPECT_EQ(probe_->take_calls(), "");
  }
}

TEST_F(PtrctlTest, DestroyingAnOpenedControlReleasesWithoutClose) {
  open();
  point_->unadvise(cookie_);
  point_.reset();
  control_.reset();
  EXPECT_EQ(probe_->live_objects(), 0);
  EXPECT_EQ(probe_->take_calls(), "");
}

// ClaimDevice and ReleaseDevice, the names of OPOS 1.5 and later, reach the service object as
// Claim and Release, with the service object's answer as the result.
TEST_F(PtrctlTest, ClaimDeviceAndReleaseDeviceAreClaimAndRelease) {
  struct Case {
    const char* member;
    std::vector<Variant> args;
    const char* service_call;
    std::int32_t answer;
  };
  const Case cases[] = {
      {"ClaimDevice", {Variant(750)}, "Claim(750)", 0},
      {"claimdevice", {Variant(-1)}, "Claim(-1)", 112},
      {"ReleaseDevice", {}, "Release()", 0},
      {"ReleaseDevice", {}, "Release()", 103},
  };
  open();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.service_call);
    probe_->set_result(std::string_view(c.service_call).starts_with("Claim") ? "Claim" : "Release", c.answer);
    const platform::call_result r = control_.invoke(c.member, platform::invoke_kind::method, c.args);
    EXPECT_EQ(r.hr, platform::kSOk) << platform::take_error_info();
    EXPECT_EQ(r.value, Variant(c.answer));
    EXPECT_EQ(probe_->take_calls(), c.service_call);
  }
  ASSERT_EQ(control_.call("Close").value, Variant(0));
  (void)probe_->take_calls();
  EXPECT_EQ(control_.call("ClaimDevice", 10).value, Variant(101)) << "closed: nothing is called";
  EXPECT_EQ(probe_->take_calls(), "");
}

TEST_F(PtrctlTest, ServiceObjectFailuresAreAutomationErrors) {
  open();
  // The kit's printer service object has neither of these members.
  for (const char* member : {"ChangePrintSide", "MarkFeed"}) {
    const platform::call_result r = control_.call(member, 1);
    EXPECT_EQ(r.hr, platform::kDispEException) << member;
    EXPECT_NE(platform::take_error_info().find(member), std::string::npos);
  }

  probe_->set_failure("PrintNormal", platform::kEFail);
  EXPECT_EQ(control_.call("PrintNormal", 2, "x").hr, platform::kDispEException);
  const std::string why = platform::take_error_info();
  EXPECT_NE(why.find("PrintNormal"), std::string::npos) << why;
  EXPECT_NE(why.find("steered failure"), std::string::npos) << why;

  probe_->set_failure("GetPropertyNumber", platform::kEFail);
  EXPECT_EQ(control_.get("ResultCode").hr, platform::kDispEException);
  probe_->set_failure("SetPropertyNumber", platform::kEFail);
  EXPECT_EQ(control_.put("DeviceEnabled", true), platform::kDispEException);
  (void)platform::take_error_info();
  // The control stays opened and usable.
  EXPECT_EQ(control_.call("Claim", 5).value, Variant(0));
}

}  // namespace
