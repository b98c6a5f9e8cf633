// The line display's INI configuration and the brightness table look-up.
#include "display/display_config.h"

#include <gtest/gtest.h>

#include <fstream>

#include "platform/testing/temp_dir.h"

namespace devsvc {
namespace {

class DisplayConfigTest : public ::testing::Test {
 protected:
  std::filesystem::path write(const std::string& text, const char* name = "display.ini") {
    const std::filesystem::path file = dir_.path() / name;
    std::ofstream(file) << text;
    return file;
  }
  platform::testing::temp_dir dir_;
};

TEST_F(DisplayConfigTest, MissingFileGivesTheDefaultsOfATwoLineDisplay) {
  const display_config c = load_display_config(dir_.path() / "none.ini");
  EXPECT_EQ(c.DeviceColumns, 20);
  EXPECT_EQ(c.DeviceRows, 2);
  EXPECT_FALSE(c.CapBrightness);
  EXPECT_EQ(c.brightness_table, "");
  EXPECT_EQ(c.CapBlink, 0);
  EXPECT_EQ(c.CapCharacterSet, 0) << "Type 1 is the default";
  EXPECT_EQ(c.CharacterSetList, "");
  EXPECT_EQ(c.international_set, 6);
}

TEST_F(DisplayConfigTest, ReadsEveryKeyCaseInsensitively) {
  const auto file = write(
      "[display]\nncoloums=40\nNROWS=4\nType=2\nCharacterList=998,999\nCharacterInternational=3\n"
      "[Capabilites]\nBrightness=1\nBrightnessPercentage=-1,0,1,2,3\nBlinkType=2\n",
      "Display.INI");
  const display_config c = load_display_config(dir_.path() / "DISPLAY.ini");  // found whatever its case
  EXPECT_EQ(c.DeviceColumns, 40);
  EXPECT_EQ(c.DeviceRows, 4);
  EXPECT_TRUE(c.CapBrightness);
  EXPECT_EQ(c.brightness_table, "-1,0,1,2,3");
  EXPECT_EQ(c.CapBlink, 2);
  EXPECT_EQ(c.CapCharacterSet, 1);
  EXPECT_EQ(c.CharacterSetList, "998,999");
  EXPECT_EQ(c.international_set, 3);
}

TEST_F(DisplayConfigTest, OddValuesAreTamed) {
  struct Case {
    const char* name;
    std::string ini;
    int columns, rows, blink, character_set;
    std::size_t list_length;
  };
  const std::string long_list(80, '9');
  const Case cases[] = {
      {"blink type out of range reads 0", "[CAPABILITES]\nBlinkType=3\n", 20, 2, 0, 0, 0},
      {"negative blink type reads 0", "[CAPABILITES]\nBlinkType=-1\n", 20, 2, 0, 0, 0},
      {"type other than 2 has no character set", "[DISPLAY]\nType=3\n", 20, 2, 0, 0, 0},
      {"negative sizes become 0", "[DISPLAY]\nNColoums=-5\nNRows=-1\n", 0, 0, 0, 0, 0},
      {"huge sizes are cut", "[DISPLAY]\nNColoums=100000\nNRows=70000\n", kMaxDisplayCells, kMaxDisplayCells, 0, 0,
       0},
      {"character list holds 63 characters", "[DISPLAY]\nCharacterList=" + long_list + "\n", 20, 2, 0, 0, 63},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const display_config got = load_display_config(write(c.ini));
    EXPECT_EQ(got.DeviceColumns, c.columns);
    EXPECT_EQ(got.DeviceRows, c.rows);
    EXPECT_EQ(got.CapBlink, c.blink);
    EXPECT_EQ(got.CapCharacterSet, c.character_set);
    EXPECT_EQ(got.CharacterSetList.size(), c.list_length);
  }
}

TEST(BrightnessStep, TakesTheItemAtThePositionOrTheLast) {
  struct Case {
    const char* table;
    std::int32_t position;
    std::optional<std::int32_t> step;
  };
  const Case cases[] = {
      {"-1,0,1,2,3", 0, -1},   {"-1,0,1,2,3", 1, 0},   {"-1,0,1,2,3", 4, 3},
      {"-1,0,1,2,3", 100, 3},  // past the end: the last item
      {"", 50, 0},             // an empty table converts as 0
      {"1,,3", 1, 0},          // an empty item converts as 0
      {" 2 ,x", 0, 2},         {"1,2", -1, std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(brightness_step(c.table, c.position), c.step) << "'" << c.table << "' at " << c.position;
  }
}

}  // namespace
}  // namespace devsvc
