// Fixture of the POS printer service object's tests: the object driven by name as a control
// drives it, a virtual printer of its own behind the sim: port, and the poll tick on demand.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>

#include "core/module.h"
#include "core/opos.h"
#include "core/timer_thread.h"
#include "monitor/sim.h"
#include "platform/com.h"
#include "platform/messages.h"
#include "platform/testing/temp_dir.h"
#include "testing/harness.h"

namespace devsvc::test {

inline constexpr const char* kProgId = "Korvane.POSPrinter.VX40.1";
inline constexpr const char* kPort = "VPRN1";

// What a healthy printer receives at claim: select the printer, automatic status off, initialise
// twice, identity request, automatic status off, no paper-end signals, code page 1252, font A.
inline const std::string kClaimSequence(
    "\x1B\x3D\x01"
    "\x1D\x61\x00"
    "\x1B\x40"
    "\x1B\x40"
    "\x1D\x49\x31"
    "\x1D\x61\x00"
    "\x1B\x63\x33\x00"
    "\x1B\x74\x10"
    "\x1B\x4D\x00",
    26);
// The status poll after a write: DLE EOT 2, then GS r 1.
inline const std::string kStatusPoll("\x10\x04\x02\x1D\x72\x31", 6);

// Compares printer bytes and shows both in hex when they differ.
inline ::testing::AssertionResult same_bytes(const std::string& got, const std::string& want) {
  if (got == want) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "\n  got  " << testing::hex(got) << "\n  want " << testing::hex(want);
}

// One printer service object with its recording control.
class printer_object {
 public:
  explicit printer_object(const char* prog_id = kProgId) {
    const platform::hresult hr = platform::create_instance(prog_id, object_);
    EXPECT_TRUE(platform::succeeded(hr)) << platform::hresult_text(hr) << " " << platform::com_last_error();
  }

  // Calls a member whose result is a long; -999 when the call itself fails.
  template <class... A>
  std::int32_t call(std::string_view name, A&&... args) {
    const platform::call_result r = platform::call(object_.get(), name, std::forward<A>(args)...);
    EXPECT_TRUE(r.ok()) << name << ": " << platform::hresult_text(r.hr);
    return r.ok() ? r.value.long_or(-999) : -999;
  }
  std::int32_t open(const std::string& device = "VX40Device") {
    return call("OpenService", "POSPrinter", device, platform::Variant(static_cast<platform::dispatch*>(control.get())));
  }
  std::int32_t number(std::int32_t index) { return call("GetPropertyNumber", index); }
  std::string text(std::int32_t index) {
    return platform::call(object_.get(), "GetPropertyString", index).value.string_or("<failed>");
  }
  void set(std::int32_t index, std::int32_t value) {
    EXPECT_TRUE(platform::call(object_.get(), "SetPropertyNumber", index, value).ok());
  }
  void set_text(std::int32_t index, const std::string& value) {
    EXPECT_TRUE(platform::call(object_.get(), "SetPropertyString", index, value).ok());
  }
  std::int32_t result_code() { return number(PIDX_ResultCode); }
  std::int32_t extended_code() { return number(PIDX_ResultCodeExtended); }
  // DirectIO with its two by-reference cells.
  std::int32_t direct_io(std::int32_t command, std::int32_t& data, std::string& text) {
    return call("DirectIO", command, platform::Variant::ref(data), platform::Variant::ref(text));
  }
  // Opens, claims and enables; the test fails when any step does.
  void open_claim_enable() {
    ASSERT_EQ(open(), OPOS_SUCCESS);
    ASSERT_EQ(call("Claim", 1000), OPOS_SUCCESS);
    set(PIDX_DeviceEnabled, 1);
    ASSERT_EQ(number(PIDX_DeviceEnabled), 1);
  }
  void reset() { object_.reset(); }

  platform::com_ptr<testing::test_control> control = platform::make_object<testing::test_control>();

 private:
  platform::com_ptr<platform::dispatch> object_;
};

// Runs one poll tick of the library on this thread, as the timer would: posts the tick message
// to the hidden window and dispatches this thread's messages one at a time until one tick has
// run (this one, or one of the timer thread that came first). Ticks nested in the worker's own
// message pumping do not count; the worker does nothing in them. False when no tick ran within
// 10 s.
inline bool run_tick() {
  const platform::window_handle window = platform::find_window(kTimerWindowClass, kTimerWindowName);
  if (window == platform::window_handle::none) return false;
  platform::post_message(window, kPollTickMessage);
  const std::uint64_t end = platform::tick_count_ms() + 10000;
  platform::message msg;
  while (platform::tick_count_ms() < end) {
    if (!platform::peek_message(msg, true)) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
      continue;
    }
    const bool tick = msg.target == window && msg.id == kPollTickMessage;
    platform::dispatch_message(msg);
    if (tick) return true;
  }
  return false;
}

// Dispatches this thread's messages one at a time (prompt ticks of the output worker, timer ticks,
// anything else) until `done` holds after one of them, so that a test can act between two
// requests of a draining queue. False when it did not hold within 10 s.
inline bool run_until(const std::function<bool()>& done) {
  const std::uint64_t end = platform::tick_count_ms() + 10000;
  platform::message msg;
  while (!done()) {
    if (platform::tick_count_ms() >= end) return false;
    if (!platform::peek_message(msg, true)) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
      continue;
    }
    platform::dispatch_message(msg);
  }
  return true;
}

// A private registry with Devsvc and the monitor registered, a device key VX40Device on the port
// VPRN1, and a fresh virtual printer behind that port for every test.
class printer_fixture : public ::testing::Test {
 protected:
  void SetUp() override {
    uri_ = "sim:" + testing::unique_sim_name();
    testing::set_port(kPort, uri_);
    key_.comm_port = kPort;
    key_.ini_set = testing::environment::example_metrics().string();
    key_.dat_file = testing::environment::example_logo().string();
    testing::write_printer_key(key_);
    printer_ = monitor::sim_printer(uri_);
    ASSERT_NE(printer_, nullptr);
  }

  // The printer at another sim URI (a fresh printer with the given options).
  void use_printer(const std::string& options) {
    uri_ = "sim:" + testing::unique_sim_name() + options;
    testing::set_port(kPort, uri_);
    printer_ = monitor::sim_printer(uri_);
    ASSERT_NE(printer_, nullptr);
  }
  // What the printer received after the claim sequence.
  std::string after_claim() const {
    const std::string all = printer_->capture();
    return all.size() >= kClaimSequence.size() ? all.substr(kClaimSequence.size()) : all;
  }
  // Writes a metrics file and points the device key at it.
  void use_metrics(const std::string& text) {
    const std::filesystem::path file = dir_ / "metrics.ini";
    std::ofstream(file) << text;
    key_.ini_set = file.string();
    testing::write_printer_key(key_);
  }

  testing::environment env_;
  platform::testing::temp_dir dir_;
  testing::printer_key key_;
  std::string uri_;
  vprinter::virtual_printer* printer_ = nullptr;
};

}  // namespace devsvc::test
