// The cash drawer service object as a control object drives it: created by ProgID from the
// registered Devsvc library, talking through the registered I/O monitor to an in-process virtual
// printer whose drawer hangs on the kick-out connector. Bytes are checked against what the
// printer received; events against what the recording control object was called with.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "core/opos.h"
#include "monitor/sim.h"
#include "platform/com.h"
#include "platform/messages.h"
#include "platform/registry.h"
#include "testing/harness.h"

namespace devsvc {
namespace {

using platform::Variant;
using std::chrono::milliseconds;
using std::chrono::steady_clock;
using testing::call_log;
using testing::hex;

constexpr const char* kProgId = "Korvane.CashDrawer.VX40.1";
constexpr const char* kClassKey = "SOFTWARE\\OLEforRetail\\ServiceOPOS\\CashDrawer";
constexpr const char* kDevice = "VX40DrawerControl";
constexpr const char* kPort = "DRAWER1";

// Drawer property indexes and the codes the service object reports.
constexpr std::int32_t kDrawerOpened = 1001;
constexpr std::int32_t kCapStatus = 1501;

// What the printer receives at claim: select the printer, then the probe that finds it on line
// (the printer-status request, since the power state is still unknown).
const std::string kClaimBytes("\x1B\x3D\x01\x10\x04\x01", 6);
// The drawer status request that follows every successful write.
const std::string kDrawerStatusRequest("\x1D\x72\x32", 3);

// Compares printer bytes and shows both in hex when they differ.
::testing::AssertionResult same_bytes(const std::string& got, const std::string& want) {
  if (got == want) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "\n  got  " << hex(got) << "\n  want " << hex(want);
}

// Values of a cash drawer device key.
struct drawer_key {
  std::string device_name = kDevice;
  std::string machine_type = "VX40";
  std::string comm_port = kPort;
  std::optional<std::uint32_t> pin_connector;
};

void write_drawer_key(const drawer_key& k) {
  platform::registry_key key;
  ASSERT_EQ(platform::registry_key::create(platform::registry_root::local_machine,
                                           std::string(kClassKey) + "\\" + k.device_name, key),
            platform::kErrorSuccess);
  key.set_string("", kProgId);
  key.set_string("MachineType", k.machine_type);
  key.set_string("COMMPort", k.comm_port);
  if (k.pin_connector) key.set_dword("PinConnector", *k.pin_connector);
}

// One cash drawer service object with its recording control.
class drawer_object {
 public:
  drawer_object() {
    const platform::hresult hr = platform::create_instance(kProgId, object_);
    EXPECT_TRUE(platform::succeeded(hr)) << platform::hresult_text(hr) << " " << platform::com_last_error();
  }

  // Calls a member whose result is a long; -999 when the call itself fails.
  template <class... A>
  std::int32_t call(std::string_view name, A&&... args) {
    const platform::call_result r = platform::call(object_.get(), name, std::forward<A>(args)...);
    EXPECT_TRUE(r.ok()) << name << ": " << platform::hresult_text(r.hr);
    return r.ok() ? r.value.long_or(-999) : -999;
  }
  std::int32_t open(const std::string& device = kDevice) {
    return call("OpenService", "CashDrawer", device, Variant(static_cast<platform::dispatch*>(control.get())));
  }
  std::int32_t number(std::int32_t index) { return call("GetPropertyNumber", index); }
  std::string text(std::int32_t index) {
    return platform::call(object_.get(), "GetPropertyString", index).value.string_or("<failed>");
  }
  void set(std::int32_t index, std::int32_t value) {
    EXPECT_TRUE(platform::call(object_.get(), "SetPropertyNumber", index, value).ok());
  }
  std::int32_t result_code() { return number(PIDX_ResultCode); }
  std::int32_t wait_for_close(std::int32_t beep_timeout, std::int32_t frequency, std::int32_t duration,
                              std::int32_t delay) {
    return call("WaitForDrawerClose", beep_timeout, frequency, duration, delay);
  }
  // Opens, claims and enables; the test fails when any step does.
  void open_claim_enable() {
    ASSERT_EQ(open(), OPOS_SUCCESS);
    ASSERT_EQ(call("Claim", 1000), OPOS_SUCCESS);
    set(PIDX_DeviceEnabled, 1);
    ASSERT_EQ(number(PIDX_DeviceEnabled), 1);
  }

  platform::com_ptr<testing::test_control> control = platform::make_object<testing::test_control>();

 private:
  platform::com_ptr<platform::dispatch> object_;
};

// Runs `action` on another thread after `delay` (a person at the drawer, a printer going quiet).
class later {
 public:
  later(milliseconds delay, std::function<void()> action)
      : thread_([delay, action = std::move(action)] {
          std::this_thread::sleep_for(delay);
          action();
        }) {}
  ~later() { thread_.join(); }
  later(const later&) = delete;
  later& operator=(const later&) = delete;

 private:
  std::thread thread_;
};

class DrawerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Quick poll ticks keep the tests short.
    testing::set_fixed_dword("TimeOutLoopMsg", 100);
    uri_ = "sim:" + testing::unique_sim_name();
    testing::set_port(kPort, uri_);
    key_.pin_connector = 0;
    write_drawer_key(key_);
    printer_ = monitor::sim_printer(uri_);
    ASSERT_NE(printer_, nullptr);
  }

  // What the printer received after the claim.
  std::string after_claim() const {
    const std::string all = printer_->capture();
    EXPECT_EQ(all.substr(0, kClaimBytes.size()), kClaimBytes);
    return all.size() >= kClaimBytes.size() ? all.substr(kClaimBytes.size()) : all;
  }

  // The POS printer service object of the same process on the drawer's port, opened and
  // claimed; null (with a failure recorded) when it cannot be.
  static platform::com_ptr<platform::dispatch> claimed_printer() {
    testing::printer_key printer;
    printer.comm_port = kPort;
    printer.ini_set = testing::environment::example_metrics().string();
    testing::write_printer_key(printer);
    platform::com_ptr<platform::dispatch> pos;
    if (!platform::succeeded(platform::create_instance("Korvane.POSPrinter.VX40.1", pos)) ||
        platform::call(pos.get(), "OpenService", "POSPrinter", "VX40Device", Variant()).value.long_or(-1) != 0 ||
        platform::call(pos.get(), "Claim", 1000).value.long_or(-1) != 0) {
      ADD_FAILURE() << "the printer could not be opened and claimed";
      return {};
    }
    return pos;
  }

  testing::environment env_;
  drawer_key key_;
  std::string uri_;
  vprinter::virtual_printer* printer_ = nullptr;
};

// ---------------------------------------------------------------------------------------------
// Open, claim, release, close

TEST_F(DrawerTest, OpenServiceRefusesMissingKeysAndNames) {
  struct Case {
    const char* what;
    std::string device;
    std::string machine;
    std::string port;
    std::int32_t result;
  };
  const Case cases[] = {{"no device key", "NoSuchDrawer", "VX40", kPort, OPOS_E_NOEXIST},
                        {"no machine type", "NoMachine", "", kPort, OPOS_E_FAILURE},
                        {"no port", "NoPort", "VX40", "", OPOS_E_FAILURE}};
  for (const Case& c : cases) {
    if (c.device != "NoSuchDrawer") write_drawer_key({c.device, c.machine, c.port, std::nullopt});
    drawer_object d;
    EXPECT_EQ(d.open(c.device), c.result) << c.what;
    EXPECT_EQ(d.number(PIDX_ResultCode), 0) << c.what << ": a closed object answers 0";
    EXPECT_EQ(d.call("Claim", 100), OPOS_E_CLOSED) << c.what;
    EXPECT_EQ(d.open(), OPOS_SUCCESS) << c.what << ": the object can still be opened";
  }
  EXPECT_TRUE(printer_->capture().empty()) << "open talks to no printer";
}

TEST_F(DrawerTest, OpenedObjectReportsItsProperties) {
  drawer_object d;
  EXPECT_EQ(d.number(PIDX_State), 0);
  EXPECT_EQ(d.text(PIDX_DeviceName), "");
  ASSERT_EQ(d.open(), OPOS_SUCCESS);
  EXPECT_EQ(d.open(), OPOS_E_ILLEGAL);
  EXPECT_EQ(d.result_code(), OPOS_E_ILLEGAL);

  struct Number {
    std::int32_t index;
    std::int32_t value;
  };
  const Number numbers[] = {{PIDX_Claimed, 0},         {PIDX_DeviceEnabled, 0},    {PIDX_FreezeEvents, 0},
                            {PIDX_ServiceObjectVersion, 1004024}, {PIDX_State, OPOS_S_IDLE},
                            {PIDX_BinaryConversion, 0}, {PIDX_PowerNotify, 0},     {PIDX_PowerState, OPOS_PS_UNKNOWN},
                            {PIDX_CapPowerReporting, 1}, {kDrawerOpened, 0},       {kCapStatus, 1}};
  for (const Number& n : numbers) EXPECT_EQ(d.number(n.index), n.value) << "PIDX " << n.index;
  // Reading never resets the result code; an index the drawer does not serve gives 106.
  EXPECT_EQ(d.result_code(), OPOS_E_ILLEGAL);
  d.set(PIDX_BinaryConversion, 0);
  EXPECT_EQ(d.result_code(), OPOS_SUCCESS);
  for (const std::int32_t unserved : {PIDX_OutputID, PIDX_DataEventEnabled, 8001, 1002}) {
    EXPECT_EQ(d.number(unserved), 0) << unserved;
    EXPECT_EQ(d.result_code(), OPOS_E_ILLEGAL) << unserved;
  }

  struct Text {
    std::int32_t index;
    const char* value;
  };
  const Text texts[] = {{PIDX_CheckHealthText, ""},
                        {PIDX_DeviceDescription, "OPOS Cash Drawer; Driver for VX - 40 POS Printer"},
                        {PIDX_DeviceName, "VX40DrawerControl"},
                        {PIDX_ServiceObjectDescription, "Korvane - POS Printer Service Driver"}};
  for (const Text& t : texts) {
    EXPECT_EQ(d.text(t.index), t.value) << t.index;
    EXPECT_EQ(d.result_code(), OPOS_SUCCESS) << t.index;
  }
  EXPECT_EQ(d.text(1008001), "");
  EXPECT_EQ(d.result_code(), OPOS_E_ILLEGAL);
}

TEST_F(DrawerTest, PropertyWritesFollowTheirRules) {
  drawer_object d;
  ASSERT_EQ(d.open(), OPOS_SUCCESS);
  struct Case {
    const char* what;
    std::int32_t index;
    std::int32_t value;
    std::int32_t result;
  };
  const Case before_claim[] = {
      {"enable while unclaimed", PIDX_DeviceEnabled, 1, OPOS_E_NOTCLAIMED},
      {"binary conversion 2", PIDX_BinaryConversion, 2, OPOS_SUCCESS},
      {"binary conversion 3", PIDX_BinaryConversion, 3, OPOS_E_ILLEGAL},
      {"binary conversion -1", PIDX_BinaryConversion, -1, OPOS_E_ILLEGAL},
      {"power notify 2", PIDX_PowerNotify, 2, OPOS_E_ILLEGAL},
      {"power notify 1", PIDX_PowerNotify, 1, OPOS_SUCCESS},
      {"a read-only index", PIDX_State, 1, OPOS_E_ILLEGAL},
      {"a drawer index", kDrawerOpened, 1, OPOS_E_ILLEGAL},
  };
  for (const Case& c : before_claim) {
    d.set(c.index, c.value);
    EXPECT_EQ(d.result_code(), c.result) << c.what;
  }
  EXPECT_EQ(d.number(PIDX_DeviceEnabled), 0);
  EXPECT_EQ(d.number(PIDX_BinaryConversion), 2);
  EXPECT_EQ(d.number(PIDX_State), OPOS_S_IDLE);

  ASSERT_EQ(d.call("Claim", 1000), OPOS_SUCCESS);
  d.set(PIDX_DeviceEnabled, 7);
  EXPECT_EQ(d.number(PIDX_DeviceEnabled), 1) << "non-zero enables";
  d.set(PIDX_PowerNotify, 0);
  EXPECT_EQ(d.result_code(), OPOS_E_ILLEGAL) << "power notify while enabled";
  EXPECT_EQ(d.number(PIDX_PowerNotify), 1);

  EXPECT_EQ(d.call("ClearInput"), OPOS_E_ILLEGAL);
  EXPECT_EQ(d.result_code(), OPOS_E_ILLEGAL);
}

TEST_F(DrawerTest, ClaimFindsThePrinterAndReleaseLetsItGo) {
  drawer_object d;
  EXPECT_EQ(d.call("Claim", 1000), OPOS_E_CLOSED);
  ASSERT_EQ(d.open(), OPOS_SUCCESS);
  d.set(PIDX_PowerNotify, OPOS_PN_ENABLED);
  EXPECT_EQ(d.call("Release"), OPOS_E_NOTCLAIMED);
  ASSERT_EQ(d.call("Claim", 1000), OPOS_SUCCESS);
  EXPECT_TRUE(same_bytes(printer_->capture(), kClaimBytes));
  EXPECT_EQ(d.number(PIDX_Claimed), 1);
  EXPECT_EQ(d.number(PIDX_PowerState), OPOS_PS_ONLINE);
  EXPECT_EQ(d.control->calls, (call_log{"SOStatusUpdate 2001"}));
  EXPECT_EQ(monitor::sim_open_channels(uri_), 1);
  EXPECT_EQ(d.call("Claim", 1000), OPOS_E_ILLEGAL);

  EXPECT_EQ(d.call("Release"), OPOS_SUCCESS);
  EXPECT_EQ(d.number(PIDX_Claimed), 0);
  EXPECT_EQ(monitor::sim_open_channels(uri_), 0);
  EXPECT_EQ(d.call("Close"), OPOS_SUCCESS);
  EXPECT_EQ(d.call("Close"), OPOS_E_ILLEGAL);
  EXPECT_EQ(d.number(PIDX_Claimed), 0) << "a closed object answers 0";
}

TEST_F(DrawerTest, ClaimOfAPrinterThatNeverAnswersFailsAndDisconnects) {
  printer_->inject_fault(vprinter::fault::mute);
  drawer_object d;
  ASSERT_EQ(d.open(), OPOS_SUCCESS);
  const auto started = steady_clock::now();
  EXPECT_EQ(d.call("Claim", 1000), OPOS_E_TIMEOUT);
  EXPECT_LT(steady_clock::now() - started, milliseconds(10000));
  EXPECT_EQ(d.number(PIDX_Claimed), 0);
  EXPECT_EQ(d.number(PIDX_PowerState), OPOS_PS_OFF);
  EXPECT_EQ(monitor::sim_open_channels(uri_), 0);
}

TEST_F(DrawerTest, ClaimOfAnOfflinePrinterGives108) {
  printer_->inject_fault(vprinter::fault::cover_open);
  drawer_object d;
  ASSERT_EQ(d.open(), OPOS_SUCCESS);
  EXPECT_EQ(d.call("Claim", 1000), OPOS_E_OFFLINE);
  EXPECT_EQ(d.number(PIDX_PowerState), OPOS_PS_OFFLINE);
  EXPECT_EQ(d.number(PIDX_Claimed), 0);
}

TEST_F(DrawerTest, OperationsCheckTheStateInOrder) {
  struct Case {
    const char* what;
    bool open;
    bool claim;
    bool enable;
    bool release;
    std::int32_t result;
  };
  const Case cases[] = {{"closed", false, false, false, false, OPOS_E_CLOSED},
                        {"opened", true, false, false, false, OPOS_E_DISABLED},
                        {"claimed", true, true, false, false, OPOS_E_DISABLED},
                        {"enabled, then released", true, true, true, true, OPOS_E_NOTCLAIMED}};
  for (const Case& c : cases) {
    drawer_object d;
    if (c.open) {
      ASSERT_EQ(d.open(), OPOS_SUCCESS);
    }
    if (c.claim) {
      ASSERT_EQ(d.call("Claim", 1000), OPOS_SUCCESS);
    }
    if (c.enable) d.set(PIDX_DeviceEnabled, 1);
    if (c.release) {
      ASSERT_EQ(d.call("Release"), OPOS_SUCCESS);
    }
    const std::size_t sent = printer_->capture().size();
    std::int32_t data = 1;
    std::string text = "x";
    EXPECT_EQ(d.call("OpenDrawer"), c.result) << c.what;
    EXPECT_EQ(d.wait_for_close(100, 880, 100, 100), c.result) << c.what;
    EXPECT_EQ(d.call("CheckHealth", 1), c.result) << c.what;
    EXPECT_EQ(d.call("DirectIO", 1, Variant::ref(data), Variant::ref(text)), c.result) << c.what;
    if (c.open) {
      EXPECT_EQ(d.result_code(), c.result) << c.what;
    }
    EXPECT_EQ(printer_->capture().size(), sent) << c.what << ": nothing is sent";
  }
}

// ---------------------------------------------------------------------------------------------
// Opening the drawer and watching it

TEST_F(DrawerTest, OpenDrawerSendsTheKickOutPulseOfThePinConnector) {
  struct Case {
    std::uint32_t pin_connector;
    std::string pulse;
    int pin;        // connector pin the printer drives
    bool opens;     // the virtual printer's drawer hangs on pin 2
  };
  const Case cases[] = {{0, std::string("\x1B\x70\x00\x64\x64", 5), 2, true},
                        {1, std::string("\x1B\x70\x01\x64\x64", 5), 5, false},
                        {0x131, std::string("\x1B\x70\x31\x64\x64", 5), 5, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE("PinConnector " + std::to_string(c.pin_connector));
    key_.pin_connector = c.pin_connector;
    write_drawer_key(key_);
    printer_->close_drawer();
    const std::size_t pulses = printer_->drawer_pulses().size();
    {
      drawer_object d;
      d.open_claim_enable();
      const std::size_t claimed = printer_->capture().size();
      EXPECT_EQ(d.call("OpenDrawer"), OPOS_SUCCESS);
      EXPECT_TRUE(same_bytes(printer_->capture().substr(claimed), c.pulse + kDrawerStatusRequest));
      EXPECT_EQ(d.number(kDrawerOpened), 1);
      EXPECT_EQ(d.number(PIDX_State), OPOS_S_IDLE);
      EXPECT_EQ(d.control->calls, (call_log{"SOStatusUpdate 1"}));
    }
    const std::vector<vprinter::drawer_pulse> seen = printer_->drawer_pulses();
    ASSERT_EQ(seen.size(), pulses + 1);
    EXPECT_EQ(seen.back().pin, c.pin);
    EXPECT_EQ(seen.back().on_ms, 200);
    EXPECT_EQ(seen.back().off_ms, 200);
    EXPECT_EQ(printer_->drawer_open(), c.opens);
  }
}

TEST_F(DrawerTest, StatusEventsReportOpenThenClosed) {
  drawer_object d;
  d.open_claim_enable();
  ASSERT_EQ(d.call("OpenDrawer"), OPOS_SUCCESS);
  ASSERT_TRUE(printer_->drawer_open());
  // The polls see the drawer stay open: nothing more is reported.
  testing::pump_until([] { return false; }, milliseconds(700));
  EXPECT_EQ(d.control->calls, (call_log{"SOStatusUpdate 1"}));

  printer_->close_drawer();
  EXPECT_TRUE(testing::pump_until([&] { return d.control->calls.size() >= 2; }, milliseconds(10000)));
  EXPECT_EQ(d.control->calls, (call_log{"SOStatusUpdate 1", "SOStatusUpdate 0"}));
  EXPECT_EQ(d.number(kDrawerOpened), 0);
  EXPECT_EQ(d.number(PIDX_State), OPOS_S_IDLE);
}

TEST_F(DrawerTest, PollsStopWhileDisabled) {
  drawer_object d;
  d.open_claim_enable();
  ASSERT_EQ(d.call("OpenDrawer"), OPOS_SUCCESS);
  d.set(PIDX_DeviceEnabled, 0);
  printer_->close_drawer();
  const std::size_t sent = printer_->capture().size();
  testing::pump_until([] { return false; }, milliseconds(800));
  EXPECT_EQ(printer_->capture().size(), sent) << "a disabled drawer is not polled";
  EXPECT_EQ(d.number(kDrawerOpened), 1);
  d.set(PIDX_DeviceEnabled, 1);
  EXPECT_TRUE(testing::pump_until([&] { return d.number(kDrawerOpened) == 0; }, milliseconds(10000)));
}

TEST_F(DrawerTest, FrozenEventsAreHeldAndDeliveredInOrder) {
  drawer_object d;
  d.open_claim_enable();
  d.set(PIDX_FreezeEvents, 1);
  EXPECT_EQ(d.number(PIDX_FreezeEvents), 1);
  ASSERT_EQ(d.call("OpenDrawer"), OPOS_SUCCESS);
  printer_->close_drawer();
  ASSERT_TRUE(testing::pump_until([&] { return d.number(kDrawerOpened) == 0; }, milliseconds(10000)));
  EXPECT_TRUE(d.control->calls.empty()) << "held while frozen";

  EXPECT_EQ(d.call("COFreezeEvents", false), OPOS_SUCCESS);
  EXPECT_EQ(d.control->calls, (call_log{"SOStatusUpdate 1", "SOStatusUpdate 0"}));
  EXPECT_EQ(d.number(PIDX_FreezeEvents), 0);
}

TEST_F(DrawerTest, ClearOuputDropsHeldEvents) {
  drawer_object d;
  d.open_claim_enable();
  EXPECT_EQ(d.call("ClearOuput"), OPOS_E_ILLEGAL) << "nothing held";
  EXPECT_EQ(d.call("COFreezeEvents", true), OPOS_SUCCESS);
  ASSERT_EQ(d.call("OpenDrawer"), OPOS_SUCCESS);
  EXPECT_EQ(d.call("ClearOuput"), OPOS_SUCCESS);
  EXPECT_EQ(d.result_code(), OPOS_SUCCESS);
  EXPECT_EQ(d.call("ClearOuput"), OPOS_E_ILLEGAL);
  d.set(PIDX_FreezeEvents, 0);
  EXPECT_TRUE(d.control->calls.empty());
}

// ---------------------------------------------------------------------------------------------
// Waiting for the drawer to close

TEST_F(DrawerTest, WaitForDrawerCloseRefusesBadBeepArguments) {
  drawer_object d;
  d.open_claim_enable();
  struct Case {
    std::int32_t timeout, frequency, duration, delay;
  };
  const Case cases[] = {{0, 880, 100, 100}, {100, 880, 0, 100}, {100, 880, 100, 0}, {-1, 880, 100, 100}};
  const std::size_t sent = printer_->capture().size();
  for (const Case& c : cases) {
    const auto started = steady_clock::now();
    EXPECT_EQ(d.wait_for_close(c.timeout, c.frequency, c.duration, c.delay), OPOS_E_ILLEGAL);
    EXPECT_LT(steady_clock::now() - started, milliseconds(1000)) << "refused at once";
  }
  EXPECT_EQ(d.result_code(), OPOS_E_ILLEGAL);
  EXPECT_EQ(printer_->capture().size(), sent);
}

TEST_F(DrawerTest, WaitForDrawerCloseReturnsWhenTheDrawerClosesAndBeepsMeanwhile) {
  drawer_object d;
  d.open_claim_enable();
  ASSERT_EQ(d.call("OpenDrawer"), OPOS_SUCCESS);

  ::testing::internal::CaptureStderr();
  const auto started = steady_clock::now();
  std::int32_t result = -1;
  {
    later closer(milliseconds(1500), [this] { printer_->close_drawer(); });
    result = d.wait_for_close(200, 10, 30, 40);
  }
  const auto waited = steady_clock::now() - started;
  const std::string beeps = ::testing::internal::GetCapturedStderr();

  EXPECT_EQ(result, OPOS_SUCCESS);
  EXPECT_GE(waited, milliseconds(1400)) << "returned before the drawer closed";
  EXPECT_LT(waited, milliseconds(10000));
  EXPECT_EQ(d.number(kDrawerOpened), 0);
  EXPECT_EQ(d.number(PIDX_State), OPOS_S_IDLE);
  EXPECT_EQ(d.control->calls, (call_log{"SOStatusUpdate 1", "SOStatusUpdate 0"}));
  // The beeper started after 200 ms, with the frequency raised to the speaker's lowest.
  EXPECT_NE(beeps.find("beep: 37 Hz for 30 ms\n"), std::string::npos) << beeps;
  // It stopped with the wait.
  ::testing::internal::CaptureStderr();
  std::this_thread::sleep_for(milliseconds(200));
  EXPECT_EQ(::testing::internal::GetCapturedStderr().find("beep"), std::string::npos);
}

TEST_F(DrawerTest, WaitForDrawerCloseOnAClosedDrawerReturnsAtOnceWithoutBeeping) {
  drawer_object d;
  d.open_claim_enable();
  ::testing::internal::CaptureStderr();
  const auto started = steady_clock::now();
  EXPECT_EQ(d.wait_for_close(1, 880, 100, 100), OPOS_SUCCESS);
  EXPECT_LT(steady_clock::now() - started, milliseconds(2000));
  EXPECT_EQ(::testing::internal::GetCapturedStderr().find("beep"), std::string::npos);
  EXPECT_TRUE(d.control->calls.empty());
}

// ---------------------------------------------------------------------------------------------
// A printer that stops answering

TEST_F(DrawerTest, APrinterThatFallsSilentIsReportedOff) {
  drawer_object d;
  ASSERT_EQ(d.open(), OPOS_SUCCESS);
  d.set(PIDX_PowerNotify, OPOS_PN_ENABLED);
  ASSERT_EQ(d.call("Claim", 1000), OPOS_SUCCESS);
  d.set(PIDX_DeviceEnabled, 1);
  printer_->inject_fault(vprinter::fault::mute);
  EXPECT_TRUE(testing::pump_until([&] { return d.number(PIDX_PowerState) == OPOS_PS_OFF; }, milliseconds(20000)));
  EXPECT_EQ(d.result_code(), OPOS_E_TIMEOUT);
  EXPECT_EQ(d.control->calls, (call_log{"SOStatusUpdate 2001", "SOStatusUpdate 2002"}));
  EXPECT_EQ(d.number(PIDX_State), OPOS_S_IDLE);

  // An off printer is not polled; the next write finds it again.
  printer_->clear_fault(vprinter::fault::mute);
  const std::size_t sent = printer_->capture().size();
  testing::pump_until([] { return false; }, milliseconds(700));
  EXPECT_EQ(printer_->capture().size(), sent);
  EXPECT_EQ(d.call("OpenDrawer"), OPOS_SUCCESS);
  EXPECT_EQ(d.number(PIDX_PowerState), OPOS_PS_ONLINE);
  EXPECT_EQ(d.control->calls,
            (call_log{"SOStatusUpdate 2001", "SOStatusUpdate 2002", "SOStatusUpdate 2001", "SOStatusUpdate 1"}));
}

TEST_F(DrawerTest, ADisconnectedPrinterFailsWithoutHanging) {
  drawer_object d;
  d.open_claim_enable();
  printer_->inject_fault(vprinter::fault::disconnect);
  // Polls run into the broken link for a while: no event, no crash.
  testing::pump_until([] { return false; }, milliseconds(1500));
  EXPECT_TRUE(d.control->calls.empty());
  EXPECT_EQ(d.number(PIDX_State), OPOS_S_IDLE);

  const auto started = steady_clock::now();
  EXPECT_EQ(d.call("OpenDrawer"), OPOS_E_FAILURE);
  EXPECT_EQ(d.call("CheckHealth", 2), OPOS_E_FAILURE);
  EXPECT_EQ(d.text(PIDX_CheckHealthText), "External Check: failed");
  EXPECT_LT(steady_clock::now() - started, milliseconds(10000));
  EXPECT_EQ(d.number(kDrawerOpened), 0);
  EXPECT_EQ(d.number(PIDX_PowerState), OPOS_PS_ONLINE) << "a broken channel says nothing about power";
  EXPECT_EQ(d.call("Release"), OPOS_SUCCESS);
  EXPECT_EQ(d.call("Close"), OPOS_SUCCESS);
}

TEST_F(DrawerTest, WaitForDrawerCloseEndsWhenThePrinterFallsSilent) {
  drawer_object d;
  d.open_claim_enable();
  ASSERT_EQ(d.call("OpenDrawer"), OPOS_SUCCESS);
  const auto started = steady_clock::now();
  std::int32_t result = -1;
  ::testing::internal::CaptureStderr();
  {
    later silence(milliseconds(800), [this] { printer_->inject_fault(vprinter::fault::mute); });
    result = d.wait_for_close(60000, 880, 100, 100);
  }
  ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(result, OPOS_E_TIMEOUT);
  EXPECT_LT(steady_clock::now() - started, milliseconds(15000));
  EXPECT_EQ(d.number(PIDX_PowerState), OPOS_PS_OFF);
  EXPECT_EQ(d.number(kDrawerOpened), 1) << "nobody saw it close";
  EXPECT_EQ(d.number(PIDX_State), OPOS_S_IDLE);
}

// ---------------------------------------------------------------------------------------------
// Health check and direct I/O

TEST_F(DrawerTest, CheckHealthLevels) {
  drawer_object d;
  d.open_claim_enable();
  EXPECT_EQ(d.call("CheckHealth", 1), OPOS_SUCCESS);
  EXPECT_EQ(d.text(PIDX_CheckHealthText), "Internal Check: successfull");
  EXPECT_FALSE(printer_->drawer_open());

  EXPECT_EQ(d.call("CheckHealth", 2), OPOS_SUCCESS);
  EXPECT_EQ(d.text(PIDX_CheckHealthText), "External Check: successfull");
  EXPECT_TRUE(printer_->drawer_open()) << "the external check opens the drawer";
  EXPECT_EQ(d.control->calls, (call_log{"SOStatusUpdate 1"}));

  EXPECT_EQ(d.call("CheckHealth", 3), OPOS_E_ILLEGAL);
  EXPECT_EQ(d.text(PIDX_CheckHealthText), "External Check: successfull");
}

TEST_F(DrawerTest, DirectIOWriteDecodesTheTextIntoPrinterBytes) {
  struct Case {
    const char* what;
    std::int32_t conversion;
    std::string text;
    std::int32_t result;
    std::string bytes;  // before the drawer status request; empty when nothing is sent
  };
  const Case cases[] = {
      {"characters with a NUL", 0, "AB<NID>C", OPOS_SUCCESS, std::string("AB\0C", 4)},
      {"UTF-8 in code page 1252", 0, "\xC3\xA9\xE2\x82\xAC", OPOS_SUCCESS, "\xE9\x80"},
      {"nibbles", 1, "1;40", OPOS_SUCCESS, "\x1B\x40"},
      {"decimal", 2, "065000066", OPOS_SUCCESS, std::string("A\0B", 3)},
      {"odd nibble count", 1, "1;7", OPOS_E_FAILURE, ""},
      {"decimal count not a multiple of 3", 2, "0271", OPOS_E_FAILURE, ""},
  };
  drawer_object d;
  d.open_claim_enable();
  for (const Case& c : cases) {
    d.set(PIDX_BinaryConversion, c.conversion);
    const std::size_t sent = printer_->capture().size();
    std::int32_t data = 0;
    std::string text = c.text;
    EXPECT_EQ(d.call("DirectIO", 1, Variant::ref(data), Variant::ref(text)), c.result) << c.what;
    const std::string expected = c.bytes.empty() ? std::string() : c.bytes + kDrawerStatusRequest;
    EXPECT_TRUE(same_bytes(printer_->capture().substr(sent), expected)) << c.what;
    EXPECT_EQ(d.number(PIDX_State), OPOS_S_IDLE) << c.what;
  }
  std::int32_t data = 0;
  std::string text;
  EXPECT_EQ(d.call("DirectIO", 3, Variant::ref(data), Variant::ref(text)), OPOS_E_ILLEGAL);
}

TEST_F(DrawerTest, DirectIOReadHandsBackTheAnswerEncoded) {
  struct Case {
    const char* what;
    std::int32_t conversion;
    std::int32_t count;
    std::int32_t result;
    std::string text;
  };
  // The printer answers GS I C with "_VX40" and a NUL; the probe after the write takes the "_".
  const Case cases[] = {
      {"characters", 0, 5, OPOS_SUCCESS, "VX40<NID>"},
      {"decimal", 2, 4, OPOS_SUCCESS, "086088052048"},
      {"nibbles", 1, 2, OPOS_SUCCESS, "5658"},
      {"more than the printer has: a time-out", 0, 16, OPOS_E_TIMEOUT, std::string("VX40<NID>") + "\x01"},
  };
  drawer_object d;
  d.open_claim_enable();
  for (const Case& c : cases) {
    d.set(PIDX_BinaryConversion, 0);
    std::int32_t data = 0;
    std::string text = "\x1D\x49\x43";
    ASSERT_EQ(d.call("DirectIO", 1, Variant::ref(data), Variant::ref(text)), OPOS_SUCCESS) << c.what;
    d.set(PIDX_BinaryConversion, c.conversion);
    data = c.count;
    text.clear();
    EXPECT_EQ(d.call("DirectIO", 2, Variant::ref(data), Variant::ref(text)), c.result) << c.what;
    EXPECT_EQ(text, c.text) << c.what;
    EXPECT_EQ(data, static_cast<std::int32_t>(c.text.size())) << c.what;
    EXPECT_EQ(d.result_code(), c.result) << c.what;
    // The next round starts without leftovers.
    data = 64;
    text.clear();
    d.call("DirectIO", 2, Variant::ref(data), Variant::ref(text));
  }
  std::int32_t data = 0;
  std::string text;
  EXPECT_EQ(d.call("DirectIO", 2, Variant::ref(data), Variant::ref(text)), OPOS_E_ILLEGAL) << "nothing to read";
}

// ---------------------------------------------------------------------------------------------
// Sharing the printer's connection

TEST_F(DrawerTest, DrawerAndPrinterShareOneConnection) {
  const platform::com_ptr<platform::dispatch> pos = claimed_printer();
  ASSERT_TRUE(pos);

  drawer_object d;
  d.open_claim_enable();
  EXPECT_EQ(monitor::sim_open_channels(uri_), 1);
  EXPECT_EQ(d.call("OpenDrawer"), OPOS_SUCCESS);
  EXPECT_TRUE(printer_->drawer_open());
  EXPECT_EQ(d.call("Release"), OPOS_SUCCESS);
  EXPECT_EQ(monitor::sim_open_channels(uri_), 1) << "the printer still uses it";
  EXPECT_EQ(platform::call(pos.get(), "Release").value.long_or(-1), 0);
  EXPECT_EQ(monitor::sim_open_channels(uri_), 0);
}

// The drawer's 500 ms time-outs apply to its own exchanges only: a printer claimed in the same
// process keeps its own on the shared channel. A slow printer that takes 1.2 s for a receipt
// shows which are in force: the printer's 3 s let it through, the drawer's 500 ms (even with
// the write's one retry) would end it as a time-out.
TEST_F(DrawerTest, ThePrinterKeepsItsTimeOutsOnTheSharedConnection) {
  testing::set_fixed_dword("TimeOutRead", 3000);
  testing::set_fixed_dword("TimeOutWrite", 3000);
  const platform::com_ptr<platform::dispatch> pos = claimed_printer();
  ASSERT_TRUE(pos);
  const auto pos_call = [&](std::string_view name, auto... args) {
    return platform::call(pos.get(), name, args...).value.long_or(-999);
  };
  ASSERT_TRUE(platform::call(pos.get(), "SetPropertyNumber", PIDX_DeviceEnabled, 1).ok());

  std::string receipt;
  while (receipt.size() < 300) receipt += "Slowly printed receipt line\n";
  receipt.resize(300);
  drawer_object d;
  struct Step {
    const char* name;
    std::function<void()> drawer;
  };
  const Step steps[] = {
      {"the printer alone", [] {}},
      {"after the drawer's claim", [&] { d.open_claim_enable(); }},
      {"after the drawer opened and was polled",
       [&] {
         EXPECT_EQ(d.call("OpenDrawer"), OPOS_SUCCESS);
         platform::pump_messages_for(300);  // poll ticks every 100 ms
         printer_->close_drawer();
         EXPECT_EQ(d.wait_for_close(1000, 880, 10, 10), OPOS_SUCCESS);
       }},
      {"after a direct read of the drawer that timed out",
       [&] {
         std::int32_t data = 4;
         std::string text;
         EXPECT_EQ(d.call("DirectIO", 2, Variant::ref(data), Variant::ref(text)), OPOS_E_TIMEOUT);
       }},
      {"after the drawer's release", [&] { EXPECT_EQ(d.call("Release"), OPOS_SUCCESS); }},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.name);
    step.drawer();
    printer_->inject_fault(vprinter::fault::slow, 4000);  // 4 ms a byte: 1.2 s for the receipt
    EXPECT_EQ(pos_call("PrintNormal", PTR_S_RECEIPT, receipt), OPOS_SUCCESS);
    printer_->clear_faults();
  }
  EXPECT_EQ(pos_call("Release"), OPOS_SUCCESS);
  EXPECT_EQ(pos_call("Close"), OPOS_SUCCESS);
}

}  // namespace
}  // namespace devsvc
