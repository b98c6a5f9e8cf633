// Tests of the command table and of the line feed built from ESC J commands.
#include "printer/esc_engineer.h"

#include <gtest/gtest.h>

#include "core/tests/hex.h"

namespace devsvc {
namespace {

using testing::hex;

TEST(ESCEngineer, CommandsKeepTheirZeroBytes) {
  struct row {
    int number;
    const char* bytes;
  };
  const row rows[] = {
      {ESCEngineer::kFontA, "1B 4D 30"},
      {ESCEngineer::kBoldOff, "1B 47 00"},
      {ESCEngineer::kInitialize, "1B 40"},
      {ESCEngineer::kFeedAndCut, "1D 56 42 0F"},
      {ESCEngineer::kUpsideDownOff, "1B 7B 00"},
      {ESCEngineer::kLineSpacing, "1B 33 00"},
      {ESCEngineer::kTestPrint, "1D 28 41 02 00 31 33"},
      {ESCEngineer::kReverseOff, "1D 42 00"},
      {ESCEngineer::kFeedCutPrefix, "13 1D 56"},
      {ESCEngineer::kPaperEndSignalsNone, "1B 63 33 00"},
      {ESCEngineer::kColourRed, "1D 28 4E 02 00 30 32"},
      {ESCEngineer::kColourBlack, "1D 28 4E 02 00 30 31"},
      {ESCEngineer::kGraphicsKeyList, "1D 28 4C 04 00 30 40 4B 43"},
      {52, ""},
      {-1, ""},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.number);
    EXPECT_EQ(hex(ESCEngineer::command(r.number)), r.bytes);
  }
  for (const esc_command_row& row : ESCEngineer::kCommands) EXPECT_FALSE(row.bytes.empty()) << row.meaning;
}

TEST(ESCEngineer, CommandsWithParameters) {
  EXPECT_EQ(hex(ESCEngineer::command_with(ESCEngineer::kCodePage, std::uint8_t{16})), "1B 74 10");
  EXPECT_EQ(hex(ESCEngineer::command_with(ESCEngineer::kPrintStoredImage, std::string("\x01\x00", 2))),
            "1C 70 01 00");
  EXPECT_EQ(hex(ESCEngineer::line_spacing(0x1E)), "1B 33 1E");
  EXPECT_EQ(hex(ESCEngineer::command_with(99, std::uint8_t{1})), "01");
}

TEST(ESCEngineer, LineFeedOfDots) {
  struct row {
    const char* name;
    std::int32_t dots;
    std::int32_t spacing;
    double v_motion_unit;
    const char* bytes;
  };
  const row rows[] = {
      {"300 units left after two spacings", 360, 30, 0.125, "1B 4A FF 1B 4A 2D"},
      {"one command, one spacing less", 100, 30, 0.125, "1B 4A 46"},
      {"exactly one spacing: print the line, no feed", 30, 30, 0.125, "1B 4A 00"},
      {"less than one spacing feeds nothing", 10, 30, 0.125, ""},
      {"zero: print the line, no feed", 0, 30, 0.125, "1B 4A 00"},
      {"negative", -50, 30, 0.125, ""},
      {"exactly 255", 255, 0, 0.125, "1B 4A FF"},
      {"exactly 510", 510, 0, 0.125, "1B 4A FF 1B 4A FF"},
      {"three commands", 540, 0, 0.125, "1B 4A FF 1B 4A FF 1B 4A 1E"},
      {"half-dot motion units", 150, 0, 0.0625, "1B 4A FF 1B 4A 2D"},
      {"zero motion unit: print the line, no feed", 360, 30, 0.0, "1B 4A 00"},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    EXPECT_EQ(hex(ESCEngineer::line_feed(r.dots, r.spacing, 0.125, r.v_motion_unit)), r.bytes);
  }
}

}  // namespace
}  // namespace devsvc
