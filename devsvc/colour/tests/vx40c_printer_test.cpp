// CVX40CPrinter through Devsvc: identity at claim, its strings and capabilities, BMPMode, and
// the colour escape sequences.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#include "colour_fixture.h"
#include "core/opos.h"

namespace devsvc {
namespace {

using test::colour_fixture;
using test::kBlackInk;
using test::kColorProgId;
using test::kRed;
using test::kStatusPoll;
using test::printer_object;
using test::same_bytes;

class ColourPrinterTest : public colour_fixture {};

TEST_F(ColourPrinterTest, EachObjectClaimsOnlyItsOwnModel) {
  struct Case {
    const char* what;
    const char* prog_id;
    const char* device;
    const char* printer;
    std::int32_t result;
  };
  const Case cases[] = {
      {"colour object, colour printer", kColorProgId, "VX40CDevice", "?id=0x2E", OPOS_SUCCESS},
      {"colour object, one-colour printer", kColorProgId, "VX40CDevice", "?id=0x20", OPOS_E_NOHARDWARE},
      {"one-colour object, colour printer", test::kProgId, "VX40Device", "?id=0x2E", OPOS_E_NOHARDWARE},
  };
  testing::printer_key mono = key_;
  mono.device_name = "VX40Device";
  testing::write_printer_key(mono);
  for (const Case& c : cases) {
    use_printer(c.printer);
    printer_object p(c.prog_id);
    ASSERT_EQ(p.open(c.device), OPOS_SUCCESS) << c.what;
    EXPECT_EQ(p.call("Claim", 1000), c.result) << c.what;
    EXPECT_EQ(p.number(PIDX_Claimed), c.result == OPOS_SUCCESS ? 1 : 0) << c.what;
  }
}

TEST_F(ColourPrinterTest, ReportsItsStringsCapabilitiesAndScale) {
  // RasterMode of the metrics file becomes BMPMode, also in the per-user key.
  std::ifstream example(testing::environment::example_metrics());
  std::string metrics((std::istreambuf_iterator<char>(example)), std::istreambuf_iterator<char>());
  const std::size_t at = metrics.find("RasterMode=0");
  ASSERT_NE(at, std::string::npos);
  use_metrics(metrics.replace(at, 12, "RasterMode=3"));
  printer_object p(kColorProgId);
  ASSERT_EQ(p.open("VX40CDevice"), OPOS_SUCCESS);
  EXPECT_EQ(p.text(PIDX_DeviceDescription), "OPOS Printer; Driver for VX - 40 Color POS Printer");
  EXPECT_EQ(p.text(PIDX_DeviceName), "VX40CDevice");
  platform::registry_key user;
  ASSERT_EQ(platform::registry_key::open(platform::registry_root::current_user, test::kColorUserKey, user),
            platform::kErrorSuccess);
  std::uint32_t bmp_mode = 99;
  ASSERT_EQ(user.query_dword("BMPMode", bmp_mode), platform::kErrorSuccess);
  EXPECT_EQ(bmp_mode, 3u);

  // CapRec2Color: only while enabled; never on the one-colour object.
  EXPECT_EQ(p.number(PIDXPtr_CapRec2Color), 0);
  ASSERT_EQ(p.call("Claim", 1000), OPOS_SUCCESS);
  EXPECT_EQ(p.number(PIDXPtr_CapRec2Color), 0);
  p.set(PIDX_DeviceEnabled, 1);
  EXPECT_EQ(p.number(PIDXPtr_CapRec2Color), 1);
}

TEST_F(ColourPrinterTest, OneColourObjectHasNoRed) {
  use_printer("?id=0x20");
  testing::printer_key mono = key_;
  mono.device_name = "VX40Device";
  testing::write_printer_key(mono);
  printer_object p;
  p.open_claim_enable();
  EXPECT_EQ(p.number(PIDXPtr_CapRec2Color), 0);
  EXPECT_EQ(p.text(PIDX_DeviceName), "VX40Device");
  // ESC|rC is known but prints nothing on one colour.
  ASSERT_EQ(p.call("PrintNormal", PTR_S_RECEIPT, "\x1B|rCx"), OPOS_SUCCESS);
  EXPECT_TRUE(same_bytes(after_claim(), "x" + kStatusPoll));
}

TEST_F(ColourPrinterTest, EscapeSequencesOfColourAndStoredPictures) {
  platform::registry_key user;
  ASSERT_EQ(platform::registry_key::create(platform::registry_root::current_user, test::kColorUserKey, user),
            platform::kErrorSuccess);
  user.set_dword("Alignment3", 2);
  user.set_dword("Alignment20", 3);
  const std::string normal = std::string("\x1B\x61\x30\x1B\x47\x00", 6) + kBlackInk +
                             std::string("\x1D\x42\x00\x1D\x21\x00\x00\x1B\x2D\x30\x1B\x4D\x30", 13);
  struct Case {
    const char* what;
    const char* text;
    std::string bytes;
  };
  const Case cases[] = {
      {"red, then back to black", "\x1B|rCred\x1B|Nblack", kRed + "red" + normal + "black"},
      {"stored picture 3, centred, normal size", "\x1B|3B",
       std::string("\x1B\x61\x01\x1D\x28\x4C\x06\x00\x30\x45\x22\x20\x01\x01", 14)},
      {"stored picture 20, right", "\x1B|20B", std::string("\x1B\x61\x02\x1D\x28\x4C\x06\x00\x30\x45\x33\x20\x01\x01", 14)},
      {"stored picture without alignment: left", "\x1B|7B",
       std::string("\x1B\x61\x00\x1D\x28\x4C\x06\x00\x30\x45\x26\x20\x01\x01", 14)},
  };
  printer_object p(kColorProgId);
  open_claim_enable(p);
  for (const Case& c : cases) {
    const std::size_t before = printer_->capture().size();
    ASSERT_EQ(p.call("PrintNormal", PTR_S_RECEIPT, c.text), OPOS_SUCCESS) << c.what;
    EXPECT_TRUE(same_bytes(printer_->capture().substr(before), c.bytes + kStatusPoll)) << c.what;
  }
  // Pictures 1 to 20 only.
  const std::size_t before = printer_->capture().size();
  for (const char* text : {"\x1B|21B", "\x1B|0B"}) {
    EXPECT_EQ(p.call("PrintNormal", PTR_S_RECEIPT, text), OPOS_E_FAILURE) << text;
  }
  EXPECT_EQ(printer_->capture().size(), before);
}

TEST_F(ColourPrinterTest, BarCodeInBlackThenBlackAgain) {
  printer_object p(kColorProgId);
  open_claim_enable(p);
  ASSERT_EQ(p.call("PrintBarCode", PTR_S_RECEIPT, "123456", PTR_BCS_Code39, 50, 2, PTR_BM_CENTER, PTR_BC_TEXT_NONE),
            OPOS_SUCCESS);
  const std::string sent = after_claim();
  EXPECT_TRUE(sent.starts_with("\x1B\x61\x31" + kBlackInk + kStatusPoll)) << testing::hex(sent.substr(0, 20));
  EXPECT_TRUE(sent.ends_with("\x1B\x61\x30" + kBlackInk + kStatusPoll)) << testing::hex(sent);
}

TEST_F(ColourPrinterTest, ExternalHealthCheckPrintsTheTestPage) {
  printer_object p(kColorProgId);
  open_claim_enable(p);
  EXPECT_EQ(p.call("CheckHealth", OPOS_CH_EXTERNAL), OPOS_SUCCESS);
  EXPECT_EQ(p.text(PIDX_CheckHealthText), "External HCheck: Successful.");
  EXPECT_TRUE(after_claim().starts_with(std::string("\x1D\x28\x41\x02\x00\x31\x33", 7)));
}

}  // namespace
}  // namespace devsvc
