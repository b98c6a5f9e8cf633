// Bar code data rules and the printer sequence of one bar code.
#include "printer/bar_code.h"

#include <gtest/gtest.h>

#include <string>

#include "core/opos.h"

namespace devsvc {
namespace {

TEST(BarCodeData, EachSymbologyChecksLengthThenEveryCharacter) {
  struct Case {
    std::int32_t symbology;
    std::string data;
    bool valid;
  };
  const Case cases[] = {
      {PTR_BCS_UPCA, "01234567890", true},
      {PTR_BCS_UPCA, "012345678905", true},
      {PTR_BCS_UPCA, "0123456789", false},     // ten digits
      {PTR_BCS_UPCA, "01234567890A", false},   // a letter
      {PTR_BCS_UPCE, "0123456789012", false},  // thirteen digits
      {PTR_BCS_JAN8, "1234567", true},
      {PTR_BCS_JAN8, "123456", false},
      {PTR_BCS_JAN13, "4901234567894", true},
      {PTR_BCS_ITF, "1", false},
      {PTR_BCS_ITF, std::string(255, '7'), true},
      {PTR_BCS_ITF, std::string(256, '7'), false},
      {PTR_BCS_Codabar, "A40156B", true},
      {PTR_BCS_Codabar, "A40156E", false},
      {PTR_BCS_Code39, "CODE 39-$%+./", true},
      {PTR_BCS_Code39, "code39", false},  // lower case
      {PTR_BCS_Code39, "*A*", false},     // the start and stop character is the printer's
      {PTR_BCS_Code93, std::string("\x00\x7F", 2), true},
      {PTR_BCS_Code93, "\x80", false},
      {PTR_BCS_Code128, "A", false},  // at least two bytes
      {PTR_BCS_Code128, "AB12", true},
      {PTR_BCS_Code128, std::string(253, 'x'), true},
      // The length byte also counts "{B" and a doubled "{": 254 bytes no longer fit.
      {PTR_BCS_Code128, std::string(254, 'x'), false},
      {PTR_BCS_Code128, "{" + std::string(252, 'x'), false},
  };
  for (const Case& c : cases) {
    const bar_code_symbology* s = find_bar_code_symbology(c.symbology);
    ASSERT_NE(s, nullptr) << c.symbology;
    EXPECT_EQ(valid_bar_code_data(*s, c.data), c.valid) << c.symbology << " " << c.data.size() << " bytes";
  }
  EXPECT_EQ(find_bar_code_symbology(PTR_BCS_TF), nullptr);
  EXPECT_EQ(find_bar_code_symbology(111), nullptr);
}

TEST(BarCodeSequence, StandardUpsideDownAndTurned) {
  bar_code_job job;
  job.symbology = find_bar_code_symbology(PTR_BCS_Code128);
  job.data = "A{1";
  job.height_dots = 100;
  job.width = 2;
  job.text_position = 0x30;
  EXPECT_EQ(bar_code_sequence(job), std::string("\x1D\x48\x30\x1D\x68\x64\x1D\x77\x02\x1D\x6B\x49\x06{BA{{1"));

  job.rotate_special = PTR_RP_ROTATE180;
  const std::string upside_down = bar_code_sequence(job);
  EXPECT_TRUE(upside_down.starts_with("\x1B\x7B\x01\x1D\x48\x30")) << upside_down;
  EXPECT_TRUE(upside_down.ends_with(std::string("1\x1B\x7B\x00", 4)));

  // Turned right: page mode, motion units 180 and 104, an area 512 wide and, for 3 bytes of
  // Code 128 (27 mm estimated, 1.06 inch) at module width 2, two inches long; direction 3; the
  // base line 24 + 100 + 20 dots (0.709 inch) down in 1/180 inch; the symbol; FF.
  job.rotate_special = PTR_RP_RIGHT90;
  job.rec_line_height = 24;
  job.dot_pl = 0.004926;
  const std::string setup("\x1B\x4C\x1D\x50\xB4\x68\x1B\x57\x00\x00\x00\x00\x00\x02\xD0\x00\x1B\x54\x33\x1D\x5C\x7F\x00",
                          23);
  const std::string turned = bar_code_sequence(job);
  EXPECT_TRUE(turned.starts_with(setup)) << turned.size();
  EXPECT_TRUE(turned.ends_with(std::string("{BA{{1\x0C\x1D\x50\x00\x00", 11)));
  job.rotate_special = PTR_RP_LEFT90;
  EXPECT_EQ(bar_code_sequence(job)[18], '1');
}

}  // namespace
}  // namespace devsvc
