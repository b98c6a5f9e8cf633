// End-to-end sessions of the POS printer: the application's C++ API (or the object model by name)
// → the registered Ptrctl control → the Devsvc printer service object → QuorelMonitor → a
// virtual printer on a sim: port, with faults injected into that printer and its bytes checked.
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "monitor/sim.h"
#include "opos/pos_printer.h"
#include "platform/com.h"
#include "platform/messages.h"
#include "test_support.h"
#include "testing/harness.h"

namespace {

namespace dt = devsvc::testing;

constexpr const char* kPort = "VPRN1";
constexpr std::int32_t kSueCoverOpen = 11;
constexpr std::int32_t kSuePowerOffline = 2003;
constexpr std::int32_t kPnEnabled = 1;
constexpr std::int32_t kEptrCoverOpen = 201;
// The status poll that follows every synchronous write: DLE EOT 2, then GS r 1.
const std::string kStatusPoll("\x10\x04\x02\x1D\x72\x31", 6);

// Compares printer bytes and shows both in hex when they differ.
::testing::AssertionResult same_bytes(const std::string& got, const std::string& want) {
  if (got == want) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "\n  got  " << dt::hex(got) << "\n  want " << dt::hex(want);
}

// Records every event; ErrorEvent answers `error_response`.
class recording_events final : public opos::pos_printer_events {
 public:
  void on_error(std::int32_t code, std::int32_t extended, std::int32_t locus, std::int32_t& response) override {
    errors.push_back(std::to_string(code) + " " + std::to_string(extended) + " " + std::to_string(locus) + " " +
                     std::to_string(response));
    response = error_response;
  }
  void on_output_complete(std::int32_t id) override { completed.push_back(id); }
  void on_status_update(std::int32_t data) override { statuses.push_back(data); }

  std::int32_t error_response = opos::kErrorResponseClear;
  std::vector<std::string> errors;  // "code extended locus preset-response"
  std::vector<std::int32_t> completed;
  std::vector<std::int32_t> statuses;
};

// Pumps the application's messages until `done` holds; false after `limit_ms`.
template <class F>
bool pump_until(F done, std::uint64_t limit_ms) {
  const std::uint64_t end = platform::tick_count_ms() + limit_ms;
  while (!done()) {
    if (platform::tick_count_ms() >= end) return false;
    opos::pump_messages(10);
  }
  return true;
}

// A private registry with Devsvc, QuorelMonitor and Ptrctl registered, the device VX40Device on
// port VPRN1 and a fresh virtual printer behind it.
class PosPrinterSessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(controls_test::register_library(PTRCTL_PATH));
    uri_ = "sim:" + dt::unique_sim_name();
    dt::set_port(kPort, uri_);
    dt::printer_key key;
    key.comm_port = kPort;
    key.ini_set = dt::environment::example_metrics().string();
    key.dat_file = dt::environment::example_logo().string();
    dt::write_printer_key(key);
    printer_ = monitor::sim_printer(uri_);
    ASSERT_NE(printer_, nullptr);
  }

  // What the printer received since byte `from`.
  std::string received_since(std::size_t from) const {
    const std::string all = printer_->capture();
    return all.size() > from ? all.substr(from) : std::string();
  }

  dt::environment env_;
  std::string uri_;
  vprinter::virtual_printer* printer_ = nullptr;
};

TEST_F(PosPrinterSessionTest, FullSessionThroughTheCppApi) {
  opos::pos_printer printer;
  recording_events events;
  printer.set_event_handler(&events);

  ASSERT_EQ(printer.Open("VX40Device"), opos::kSuccess);
  ASSERT_EQ(printer.Claim(1000), opos::kSuccess);
  EXPECT_TRUE(printer.GetClaimed());
  printer.SetPowerNotify(kPnEnabled);  // only while disabled
  EXPECT_EQ(printer.GetPowerNotify(), kPnEnabled);
  printer.SetDeviceEnabled(true);
  ASSERT_TRUE(printer.GetDeviceEnabled());

  // Synchronous: the text, then the status poll, before the call returns.
  std::size_t mark = printer_->capture().size();
  EXPECT_EQ(printer.PrintNormal(opos::kPtrStationReceipt, "Hello\n"), opos::kSuccess);
  EXPECT_TRUE(same_bytes(received_since(mark), "Hello\n" + kStatusPoll));
  EXPECT_EQ(printer.GetResultCode(), opos::kSuccess);
  EXPECT_EQ(printer.GetState(), opos::kStateIdle);

  // Asynchronous: both calls return at once, print on later ticks and complete with the ids that
  // OutputID showed after each call.
  printer.SetAsyncMode(true);
  ASSERT_TRUE(printer.GetAsyncMode());
  mark = printer_->capture().size();
  ASSERT_EQ(printer.PrintNormal(opos::kPtrStationReceipt, "first\n"), opos::kSuccess);
  const std::int32_t first_id = printer.GetOutputID();
  ASSERT_EQ(printer.PrintNormal(opos::kPtrStationReceipt, "second\n"), opos::kSuccess);
  const std::int32_t second_id = printer.GetOutputID();
  EXPECT_NE(first_id, second_id);
  EXPECT_TRUE(events.completed.empty()) << "completed before the application pumped";
  ASSERT_TRUE(pump_until([&] { return events.completed.size() >= 2; }, 10000))
      << "output-complete events seen: " << events.completed.size();
  EXPECT_EQ(events.completed, (std::vector<std::int32_t>{first_id, second_id}));
  EXPECT_TRUE(same_bytes(received_since(mark), "first\n" + kStatusPoll + "second\n" + kStatusPoll));
  EXPECT_TRUE(events.errors.empty());

  // Cover open during a synchronous print: 114/201, CoverOpen, and status events 11 then 2003.
  printer.SetAsyncMode(false);
  printer_->inject_fault(vprinter::fault::cover_open);
  events.statuses.clear();
  EXPECT_EQ(printer.PrintNormal(opos::kPtrStationReceipt, "covered\n"), opos::kEExtended);
  EXPECT_EQ(printer.GetResultCodeExtended(), kEptrCoverOpen);
  EXPECT_TRUE(printer.GetCoverOpen());
  EXPECT_EQ(events.statuses, (std::vector<std::int32_t>{kSueCoverOpen, kSuePowerOffline}));

  // Cover still open, asynchronous: the first request fails, the ErrorEvent handler answers
  // clear, and the service object drops the second request instead of trying it (a retry
  // answer would make the second request fail and raise a second ErrorEvent).
  printer.SetAsyncMode(true);
  events.completed.clear();
  events.error_response = opos::kErrorResponseClear;
  ASSERT_EQ(printer.PrintNormal(opos::kPtrStationReceipt, "lost 1\n"), opos::kSuccess);
  ASSERT_EQ(printer.PrintNormal(opos::kPtrStationReceipt, "lost 2\n"), opos::kSuccess);
  ASSERT_TRUE(pump_until([&] { return !events.errors.empty(); }, 10000));
  EXPECT_EQ(events.errors.front(), "114 201 1 11") << "code, extended, locus output, preset retry";
  // Several poll ticks (500 ms apart by default) pass without another error or completion.
  opos::pump_messages(2000);
  EXPECT_EQ(events.errors.size(), 1U);
  EXPECT_TRUE(events.completed.empty());
  EXPECT_EQ(printer.GetState(), opos::kStateIdle);

  // The cover closes: printing works again.
  printer_->clear_fault(vprinter::fault::cover_open);
  printer.SetAsyncMode(false);
  mark = printer_->capture().size();
  EXPECT_EQ(printer.PrintNormal(opos::kPtrStationReceipt, "back\n"), opos::kSuccess);
  EXPECT_TRUE(same_bytes(received_since(mark), "back\n" + kStatusPoll));
  EXPECT_FALSE(printer.GetCoverOpen());

  printer.SetDeviceEnabled(false);
  EXPECT_EQ(printer.Release(), opos::kSuccess);
  EXPECT_FALSE(printer.GetClaimed());
  EXPECT_EQ(printer.Close(), opos::kSuccess);
  EXPECT_EQ(printer.PrintNormal(opos::kPtrStationReceipt, "late"), opos::kEClosed);
}

// Calls a member of `object` by name and gives its long result; -999 when the call fails.
template <class... A>
std::int32_t call_long(platform::dispatch* object, std::string_view name, A&&... args) {
  const platform::call_result r = platform::call(object, name, std::forward<A>(args)...);
  EXPECT_TRUE(r.ok()) << name << ": " << platform::hresult_text(r.hr);
  return r.ok() ? r.value.long_or(-999) : -999;
}

TEST_F(PosPrinterSessionTest, SessionByNameThroughTheObjectModel) {
  platform::com_ptr<platform::dispatch> control;
  const platform::hresult hr = platform::create_instance("CONTROLObject.KorvanePOSPrinter.1", control);
  ASSERT_TRUE(platform::succeeded(hr)) << platform::hresult_text(hr);

  ASSERT_EQ(call_long(control.get(), "Open", "VX40Device"), opos::kSuccess);
  ASSERT_EQ(call_long(control.get(), "Claim", 1000), opos::kSuccess);
  const std::size_t mark = printer_->capture().size();
  // Not enabled yet: refused without sending anything.
  EXPECT_EQ(call_long(control.get(), "PrintNormal", opos::kPtrStationReceipt, "Hi\n"), opos::kEDisabled);
  EXPECT_TRUE(same_bytes(received_since(mark), ""));
  const platform::Variant enable[] = {platform::Variant(true)};
  ASSERT_TRUE(
      platform::invoke_by_name(control.get(), "DeviceEnabled", platform::invoke_kind::property_put, enable).ok());
  EXPECT_EQ(call_long(control.get(), "PrintNormal", opos::kPtrStationReceipt, "Hi\n"), opos::kSuccess);
  EXPECT_TRUE(same_bytes(received_since(mark), "Hi\n" + kStatusPoll));
  EXPECT_EQ(call_long(control.get(), "Close"), opos::kSuccess);
  EXPECT_EQ(call_long(control.get(), "PrintNormal", opos::kPtrStationReceipt, "Hi\n"), opos::kEClosed);
}

}  // namespace
