// Tests of the line display control: the Dspctl library registered in a private registry, created
// by ProgID and bound through the OPOS registry to the kit's line display service object, which
// drives the display of an in-process virtual printer.
#include "dspctl.h"

#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>

#include "monitor/sim.h"
#include "platform/messages.h"
#include "posrun.h"
#include "platform/registry.h"
#include "platform/testing/temp_dir.h"
#include "testing/harness.h"

namespace {

using platform::com_ptr;
using platform::dispatch;
using platform::Variant;

constexpr const char* kClassKey = "SOFTWARE\\OLEforRetail\\ServiceOPOS\\LineDisplay";

// Records the control's events; DirectIOEvent doubles pData and appends "!" to pString.
class recording_sink final : public platform::dispatch_object<recording_sink> {
 public:
  static std::span<const platform::dispatch_member<recording_sink>> dispatch_members();

  void DirectIOEvent(std::int32_t number, std::int32_t& data, std::string& text) {
    events.push_back("DirectIOEvent(" + std::to_string(number) + ", " + std::to_string(data) + ", " + text + ")");
    data *= 2;
    text += "!";
  }
  void StatusUpdateEvent(std::int32_t data) { events.push_back("StatusUpdateEvent(" + std::to_string(data) + ")"); }

  std::vector<std::string> events;
};

constexpr platform::dispatch_member<recording_sink> kSinkMembers[] = {
    platform::dispatch_method<&recording_sink::DirectIOEvent>("DirectIOEvent", dspctl::kDirectIOEvent),
    platform::dispatch_method<&recording_sink::StatusUpdateEvent>("StatusUpdateEvent", dspctl::kStatusUpdateEvent),
};
std::span<const platform::dispatch_member<recording_sink>> recording_sink::dispatch_members() { return kSinkMembers; }

// --- the member table ------------------------------------------------------------------------

TEST(DspctlTableTest, DispatchIdsAndIndexesAreConsistent) {
  const controls::control_class& cls = dspctl::line_display_class();
  ASSERT_EQ(cls.properties.size(), 42u);
  std::set<std::string> names;
  std::set<std::int32_t> indexes;
  for (std::size_t i = 0; i < cls.properties.size(); ++i) {
    const controls::property_row& row = cls.properties[i];
    SCOPED_TRACE(std::string(row.name));
    EXPECT_EQ(row.dispid, static_cast<long>(i + 1)) << "properties are dispatch ids 1 to 42 in order";
    EXPECT_TRUE(names.insert(std::string(row.name)).second);
    if (row.pidx == controls::kAnsweredLocally) continue;
    EXPECT_TRUE(indexes.insert(row.pidx).second) << "PIDX used twice";
    EXPECT_EQ(row.type == controls::property_type::string, row.pidx >= 1000000);
    EXPECT_FALSE(row.type == controls::property_type::string && row.writable);
  }
  long next = 43;
  for (const controls::method_row& row : cls.methods) {
    SCOPED_TRACE(std::string(row.name));
    EXPECT_TRUE(names.insert(std::string(row.name)).second);
    EXPECT_EQ(row.dispid, row.name == "AboutBox" ? -552 : next++);
  }
  EXPECT_EQ(next, 63) << "43 to 60, and ClaimDevice and ReleaseDevice as 61 and 62";
  EXPECT_EQ(cls.close, controls::close_policy::release_on_success);
}

// --- the control bound to the kit's service object -------------------------------------------

// Runs `step` every 10 ms while the thread pumps messages until it returns true, for at most
// five seconds.
class ticker {
 public:
  explicit ticker(std::function<bool()> step) : step_(std::move(step)), end_(platform::tick_count_ms() + 5000) {
    static const platform::scoped_window_class window_class(
        "DspctlTestTicker", [](platform::window_handle, std::uint32_t id, std::int64_t, std::int64_t) {
          if (id == platform::kTimerMessage && active_ != nullptr) active_->tick();
        });
    active_ = this;
    window_.reset(platform::create_window("DspctlTestTicker", ""));
    timer_.reset(platform::set_timer(window_.get(), 10));
  }
  ~ticker() { active_ = nullptr; }
  bool done() const { return done_; }

 private:
  void tick() {
    if (!done_ && (platform::tick_count_ms() > end_ || step_())) done_ = true;
  }
  static inline ticker* active_ = nullptr;
  std::function<bool()> step_;
  std::uint64_t end_;
  bool done_ = false;
  platform::scoped_window window_;
  platform::scoped_timer timer_;
};

class DspctlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(platform::succeeded(devsvc::testing::register_library(DSPCTL_PATH)));
    uri_ = "sim:" + devsvc::testing::unique_sim_name();
    devsvc::testing::set_port("VDSP1", uri_);
    printer_ = monitor::sim_printer(uri_);
    ASSERT_NE(printer_, nullptr);
    const std::filesystem::path ini = dir_.path() / "display.ini";
    std::ofstream(ini) << "[DISPLAY]\nNColoums=20\nNRows=2\n";
    platform::registry_key key;
    ASSERT_EQ(platform::registry_key::create(platform::registry_root::local_machine,
                                             std::string(kClassKey) + "\\VX40LineControl", key),
              platform::kErrorSuccess);
    key.set_string("", "Korvane.LineDisplay.VX40.1");
    key.set_string("MachineType", "VX40");
    key.set_string("COMMPort", "VDSP1");
    key.set_string("IniSet", ini.string());
    platform::registry_key class_key;
    ASSERT_EQ(platform::registry_key::open(platform::registry_root::local_machine, kClassKey, class_key),
              platform::kErrorSuccess);
    class_key.set_string("CustomerDisplay", "VX40LineControl");  // an alias

    com_ptr<dispatch> object;
    ASSERT_EQ(platform::create_instance(dspctl::kProgId, object), platform::kSOk) << platform::com_last_error();
    control_ = platform::dispatch_client(object);
    sink_ = platform::make_object<recording_sink>();
    point_ = object.as<platform::connection_point>();
    ASSERT_TRUE(point_);
    ASSERT_EQ(point_->advise(sink_.get(), cookie_), platform::kSOk);
  }
  void TearDown() override {
    if (point_) point_->unadvise(cookie_);
  }

  // A method or property read whose result is a long; -999 when the call fails.
  std::int32_t call_long(std::string_view name, std::initializer_list<Variant> args = {}) {
    const std::vector<Variant> list(args);
    const platform::call_result r = platform::invoke_by_name(
        control_.get(), name, platform::invoke_kind::method | platform::invoke_kind::property_get, list);
    EXPECT_TRUE(r.ok()) << name << ": " << platform::hresult_text(r.hr);
    return r.ok() ? r.value.long_or(-999) : -999;
  }
  std::string get_string(std::string_view name) { return control_.get(name).value.string_or("<failed>"); }
  platform::hresult put(std::string_view name, Variant value) {
    return platform::invoke_by_name(control_.get(), name, platform::invoke_kind::property_put, {&value, 1}).hr;
  }
  void open_claim_enable() {
    ASSERT_EQ(call_long("Open", {"CustomerDisplay"}), 0);
    ASSERT_EQ(call_long("Claim", {1000}), 0);
    ASSERT_EQ(put("DeviceEnabled", true), platform::kSOk);
    ASSERT_EQ(call_long("ResultCode"), 0);
  }

  devsvc::testing::environment env_;
  platform::testing::temp_dir dir_;
  std::string uri_;
  vprinter::virtual_printer* printer_ = nullptr;
  platform::dispatch_client control_;
  com_ptr<recording_sink> sink_;
  com_ptr<platform::connection_point> point_;
  std::uint32_t cookie_ = 0;
};

TEST_F(DspctlTest, RegisteredUnderItsProgIdAndClsid) {
  platform::registry_key key;
  std::string value;
  ASSERT_EQ(platform::registry_key::open(platform::registry_root::classes_root,
                                         std::string(dspctl::kProgId) + "\\CLSID", key),
            platform::kErrorSuccess);
  EXPECT_EQ(key.query_string("", value), platform::kErrorSuccess);
  EXPECT_EQ(value, "{C71DF566-F005-11D6-B79E-0002B3286B4A}");
  ASSERT_EQ(platform::registry_key::open(platform::registry_root::classes_root,
                                         "CLSID\\" + dspctl::kClsid.to_string() + "\\InProcServer32", key),
            platform::kErrorSuccess);
  EXPECT_EQ(key.query_string("ThreadingModel", value), platform::kErrorSuccess);
  EXPECT_EQ(value, "Apartment");
  EXPECT_EQ(key.query_string("", value), platform::kErrorSuccess);
  EXPECT_NE(value.find("libDspctl.so"), std::string::npos) << value;
  for (const std::string& name : {std::string("CONTROLObject.KorvaneLineControl"), dspctl::kClsid.to_string()}) {
    com_ptr<dispatch> object;
    EXPECT_EQ(platform::create_instance(name, object), platform::kSOk) << name;
  }
}

TEST_F(DspctlTest, ClosedControlAnswersItself) {
  EXPECT_EQ(get_string("ControlObjectDescription"), "Line Display driver - Korvane OLE for Retail");
  EXPECT_EQ(call_long("ControlObjectVersion"), 1000000);
  for (const char* name : {"DeviceRows", "Columns", "CharacterSet", "ResultCode"}) EXPECT_EQ(call_long(name), 0) << name;
  EXPECT_EQ(get_string("DeviceName"), "");
  EXPECT_EQ(call_long("DisplayText", {"x", 0}), 101);
  EXPECT_EQ(call_long("CreateWindow", {0, 0, 1, 1, 1, 1}), 101);
  EXPECT_EQ(call_long("Close"), 101);
  EXPECT_EQ(put("DeviceBrightness", 50), platform::kSOk) << "dropped while closed";
  EXPECT_EQ(put("Rows", 1), platform::kCtlESetNotSupported);
  EXPECT_NE(control_.call("AboutBox").value.string_or().find("Release 1.01"), std::string::npos);
}

TEST_F(DspctlTest, OpenResolvesTheAliasAndDrivesTheDisplay) {
  open_claim_enable();
  EXPECT_EQ(call_long("Open", {"VX40LineControl"}), 106);
  EXPECT_EQ(get_string("DeviceName"), "VX40LineControl");
  EXPECT_EQ(get_string("DeviceDescription"), "OPOS Line Display, Driver for VX - 40 POS Printer");
  EXPECT_EQ(call_long("DeviceWindows"), 3);
  EXPECT_TRUE(control_.get("CapVMarquee").value.bool_or(false));
  EXPECT_EQ(call_long("DisplayText", {"Hello from Dspctl", 0}), 0);
  EXPECT_EQ(printer_->display().lines[0], "Hello from Dspctl   ");

  // CreateWindow's arguments arrive in order: viewport row 0, column 5, height 1, width 10, and a
  // window one row high and 30 wide.
  EXPECT_EQ(call_long("CreateWindow", {0, 5, 1, 10, 1, 30}), 0);
  EXPECT_EQ(call_long("Rows"), 1);
  EXPECT_EQ(call_long("Columns"), 30);
  EXPECT_EQ(call_long("CurrentWindow"), 1);
  EXPECT_EQ(call_long("DisplayText", {"ABCDEFGHIJKLMNOP", 0}), 0);
  EXPECT_EQ(printer_->display().lines[0], "HelloABCDEFGHIJtl   ");

  std::int32_t data = 3;
  std::string text = "<NID>";
  EXPECT_EQ(call_long("DirectIO", {1, Variant::ref(data), Variant::ref(text)}), 0);
  EXPECT_EQ(text, "<NID>");
  EXPECT_EQ(put("CharacterSet", 998), platform::kSOk);
  EXPECT_EQ(call_long("CharacterSet"), 998);
  EXPECT_EQ(put("FreezeEvents", true), platform::kSOk);
  EXPECT_EQ(call_long("ResultCode"), 106) << "the display has no events to freeze";
  EXPECT_EQ(call_long("SetDescriptor", {0, 1}), 106);
  EXPECT_EQ(call_long("Close"), 0);
  EXPECT_EQ(call_long("DeviceRows"), 0) << "closed";
  EXPECT_EQ(monitor::sim_open_channels(uri_), 0);
}

TEST_F(DspctlTest, ClaimDeviceAndReleaseDeviceClaimAndReleaseTheDisplay) {
  ASSERT_EQ(call_long("Open", {"CustomerDisplay"}), 0);
  struct Step {
    const char* member;
    std::vector<Variant> args;
    std::int32_t result;
    bool claimed;
  };
  const Step steps[] = {
      {"ClaimDevice", {Variant(1000)}, 0, true},
      {"ClaimDevice", {Variant(1000)}, 106, true},  // already claimed
      {"ReleaseDevice", {}, 0, false},
      {"ReleaseDevice", {}, 103, false},  // not claimed
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.member);
    const platform::call_result r = control_.invoke(s.member, platform::invoke_kind::method, s.args);
    ASSERT_EQ(r.hr, platform::kSOk) << platform::take_error_info();
    EXPECT_EQ(r.value.long_or(-1), s.result);
    EXPECT_EQ(control_.get("Claimed").value.bool_or(!s.claimed), s.claimed);
    EXPECT_EQ(monitor::sim_open_channels(uri_), s.claimed ? 1 : 0);
  }
  EXPECT_EQ(call_long("Close"), 0);
  EXPECT_EQ(call_long("ClaimDevice", {1000}), 101);
}

TEST_F(DspctlTest, CallbacksFireTheTwoEvents) {
  open_claim_enable();
  EXPECT_TRUE(control_.call("SOStatusUpdate", 2001).ok());
  std::int32_t data = 4;
  std::string text = "in";
  EXPECT_TRUE(control_.call("SODirectIO", 7, Variant::ref(data), Variant::ref(text)).ok());
  EXPECT_EQ(sink_->events, (std::vector<std::string>{"StatusUpdateEvent(2001)", "DirectIOEvent(7, 4, in)"}));
  EXPECT_EQ(data, 8);
  EXPECT_EQ(text, "in!");
  EXPECT_EQ(call_long("SOProcessID"), static_cast<std::int32_t>(::getpid()));
}

TEST_F(DspctlTest, FailingCloseLeavesTheControlOpened) {
  open_claim_enable();
  ASSERT_EQ(call_long("DisplayText", {"marquee text", 0}), 0);
  ASSERT_EQ(put("MarqueeUnitWait", 10000), platform::kSOk);
  std::int32_t close_while_running = -1;
  bool claimed_after_close = false;
  const std::size_t before = printer_->capture().size();
  ticker t([&] {
    if (printer_->capture().size() == before) return false;  // the first frame is out
    close_while_running = call_long("Close");
    claimed_after_close = control_.get("Claimed").value.bool_or(false);
    return true;
  });
  const std::uint64_t start = platform::tick_count_ms();
  EXPECT_EQ(put("MarqueeType", 3), platform::kSOk);
  EXPECT_LT(platform::tick_count_ms() - start, 5000u) << "the refused Close ended the marquee";
  EXPECT_TRUE(t.done());
  EXPECT_EQ(close_while_running, 113);
  EXPECT_TRUE(claimed_after_close) << "the control stayed opened and still reaches the service object";
  EXPECT_EQ(call_long("State"), 2);
  EXPECT_EQ(call_long("Close"), 0) << "Close can be retried";
  EXPECT_EQ(call_long("Close"), 101) << "now the control is closed";
  EXPECT_EQ(monitor::sim_open_channels(uri_), 0);
}

TEST_F(DspctlTest, PosrunRunsTheExampleScript) {
  // The example display INI file of the kit, with its brightness table.
  platform::registry_key key;
  ASSERT_EQ(platform::registry_key::open(platform::registry_root::local_machine,
                                         std::string(kClassKey) + "\\VX40LineControl", key),
            platform::kErrorSuccess);
  key.set_string("IniSet", (std::filesystem::path(KIT_EXAMPLES_DIR) / "metrics" / "VX40DSP.INI").string());

  std::istringstream in;
  std::ostringstream out;
  std::ostringstream err;
  const std::string script = (std::filesystem::path(KIT_EXAMPLES_DIR) / "scripts" / "display.posrun").string();
  ASSERT_EQ(posrun::run({"--json", "--class", "LineDisplay", script}, in, out, err), posrun::kExitOk) << err.str();
  // Every call succeeded, and the two reads give the display's size.
  std::istringstream lines(out.str());
  int records = 0;
  for (std::string line; std::getline(lines, line); ++records) {
    EXPECT_TRUE(line.find("\"result\":0") != std::string::npos || line.find("\"set\"") != std::string::npos ||
                line.find("\"value\"") != std::string::npos)
        << line;
  }
  EXPECT_EQ(records, 16);
  EXPECT_NE(out.str().find("{\"line\":8,\"member\":\"DeviceRows\",\"value\":2}"), std::string::npos) << out.str();
  EXPECT_EQ(printer_->display_text(), (std::vector<std::string>{"Coffee          2.50", "2 items   TOTAL 4.30"}));
  EXPECT_EQ(printer_->display().brightness, 3);
  EXPECT_EQ(monitor::sim_open_channels(uri_), 0);
}

std::string read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// The example marquee script run by the posrun program from another working folder, against the
// example registry file with the display's INI file set by its full path (as ./kit.sh demo sets
// it): the posted write stops the marquee after 2 s and the script runs to its end.
TEST_F(DspctlTest, PosrunStopsTheExampleMarqueeAfterTwoSeconds) {
  const std::filesystem::path examples(KIT_EXAMPLES_DIR);
  ASSERT_EQ(platform::import_reg_file(examples / "registry" / "poskit.reg"), platform::kErrorSuccess);
  platform::registry_key key;
  ASSERT_EQ(platform::registry_key::open(platform::registry_root::local_machine,
                                         std::string(kClassKey) + "\\VX40LineControl", key),
            platform::kErrorSuccess);
  key.set_string("IniSet", (examples / "metrics" / "VX40DSP.INI").string());
  devsvc::testing::set_port("VPRINTER", "sim:?capture=" + (dir_.path() / "display.bin").string());

  const std::string command = "cd '" + dir_.path().string() + "' && env -u OPOS_REGISTRY_DIR timeout 30 " +
                              POSRUN_PATH + " --json --registry '" + env_.registry_dir().string() +
                              "' --class LineDisplay '" + (examples / "scripts" / "marquee.posrun").string() +
                              "' >out.txt 2>err.txt";
  const std::uint64_t started = platform::tick_count_ms();
  const int status = std::system(command.c_str());
  const std::uint64_t elapsed = platform::tick_count_ms() - started;
  ASSERT_TRUE(WIFEXITED(status));
  const std::string out = read_file(dir_.path() / "out.txt");
  ASSERT_EQ(WEXITSTATUS(status), posrun::kExitOk) << read_file(dir_.path() / "err.txt") << out;
  EXPECT_GE(elapsed, 2000u) << "the marquee ran until the posted write";

  // Every call succeeded; the posted write ran (with its own line) inside the marquee's call,
  // so its record comes first.
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) {
    EXPECT_EQ(line.find("\"error\""), std::string::npos) << line;
    if (line.find("\"result\"") != std::string::npos) {
      EXPECT_NE(line.find("\"result\":0}"), std::string::npos) << line;
    }
  }
  const std::size_t posted = out.find("{\"line\":18,\"after\":2000,\"member\":\"MarqueeType\"}");
  const std::size_t stop = out.find("{\"line\":18,\"member\":\"MarqueeType\",\"set\":0}");
  const std::size_t run = out.find("{\"line\":19,\"member\":\"MarqueeType\",\"set\":3}");
  ASSERT_NE(posted, std::string::npos) << out;
  ASSERT_NE(stop, std::string::npos) << out;
  ASSERT_NE(run, std::string::npos) << out;
  EXPECT_LT(posted, stop);
  EXPECT_LT(stop, run);
  EXPECT_NE(out.find("{\"line\":21,\"member\":\"MarqueeType\",\"value\":0}"), std::string::npos) << out;
  EXPECT_NE(out.find("{\"line\":27,\"member\":\"Close\",\"result\":0}"), std::string::npos) << out;

  // The frames reached the printer, each a burst of its own: ESC = 2, cursor home, the row.
  const std::string capture = read_file(dir_.path() / "display.bin");
  std::size_t frames = 0;
  for (std::size_t at = capture.find("\x1B\x3D\x02\x0B"); at != std::string::npos;
       at = capture.find("\x1B\x3D\x02\x0B", at + 1)) {
    ++frames;
  }
  EXPECT_GE(frames, 5u) << devsvc::testing::hex(capture);
}

}  // namespace
