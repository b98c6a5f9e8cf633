// Tests of the metrics file: loading order and buffers, fonts, lists, numbers, the example file.
#include "printer/metrics_file.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <limits>

#include "platform/testing/temp_dir.h"

namespace devsvc {
namespace {

const std::filesystem::path kExample = std::filesystem::path(KIT_EXAMPLES_DIR) / "metrics" / "VX40.INI";

void write_file(const std::filesystem::path& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
}

TEST(MetricsFile, LoadsTheExampleFile) {
  CMetricsFile metrics;
  ASSERT_TRUE(metrics.load(kExample));
  EXPECT_TRUE(metrics.loaded());
  EXPECT_DOUBLE_EQ(metrics.dot_size(), 0.125);
  EXPECT_DOUBLE_EQ(metrics.dot_pl(), 0.004926);
  EXPECT_DOUBLE_EQ(metrics.def_line_spacing(), 30);
  EXPECT_EQ(metrics.width_dot(), 576);
  EXPECT_EQ(metrics.width_mm(), 72);
  EXPECT_DOUBLE_EQ(metrics.width_pl(), 2.835);
  EXPECT_EQ(metrics.raster_mode(), 0);
  EXPECT_DOUBLE_EQ(metrics.v_motion_unit(), 0.125);
  EXPECT_DOUBLE_EQ(metrics.h_motion_unit(), 0.125);
  EXPECT_EQ(metrics.twips_per_dots(), 7);
  EXPECT_EQ(metrics.pagecode_list(), "437,850,852,858,860,863,865,866,1252");
  EXPECT_EQ(metrics.font_list(), "Font A,Font B");
  ASSERT_EQ(metrics.font_count(), 2);
  EXPECT_EQ(metrics.font(1).width, 12);
  EXPECT_EQ(metrics.font(1).height, 24);
  EXPECT_EQ(metrics.font(2).width, 9);
  EXPECT_EQ(metrics.font(2).height, 17);
  EXPECT_EQ(metrics.font(0).width, 0);
  EXPECT_EQ(metrics.font(3).height, 0);
  EXPECT_EQ(metrics.read_font(1).size_list, "6,6,8,9,12,16,24,48");
}

// The example's lists must agree with its geometry, or RecLineChars picks wrong magnifications.
TEST(MetricsFile, ExampleListsMatchThePrintableWidth) {
  CMetricsFile metrics;
  ASSERT_TRUE(metrics.load(kExample));
  for (std::int32_t n = 1; n <= metrics.font_count(); ++n) {
    SCOPED_TRACE(n);
    const font_settings font = metrics.read_font(n);
    ASSERT_GT(font.width, 0);
    for (int magnification = 1; magnification <= 8; ++magnification) {
      const auto index = static_cast<std::size_t>(8 - magnification);
      EXPECT_EQ(font.sizes[index], metrics.width_dot() / (font.width * magnification));
    }
    EXPECT_EQ(font.max_chars, font.sizes[7]);
    EXPECT_EQ(font.max_sideways_chars, font.sideways[7]);
    EXPECT_EQ(font.width, metrics.font(n).width);
    EXPECT_EQ(font.height, metrics.font(n).height);
  }
}

TEST(MetricsFile, MissingFileLoadsNothing) {
  platform::testing::temp_dir dir;
  CMetricsFile metrics;
  EXPECT_FALSE(metrics.load(dir / "absent.ini"));
  EXPECT_FALSE(metrics.loaded());
  EXPECT_EQ(metrics.dot_size(), 0);
  EXPECT_EQ(metrics.width_dot(), 0);
  EXPECT_EQ(metrics.font_count(), 0);
  EXPECT_EQ(metrics.v_motion_unit(), 0);
  EXPECT_EQ(metrics.twips_per_dots(), 0);
  EXPECT_EQ(metrics.units().v_motion_unit, 0);
  EXPECT_EQ(metrics.read_font(1).max_chars, 0);
  EXPECT_EQ(metrics.read_font(1).sizes[7], 0);
}

TEST(MetricsFile, ReloadOfAMissingFileClearsEarlierValues) {
  platform::testing::temp_dir dir;
  CMetricsFile metrics;
  ASSERT_TRUE(metrics.load(kExample));
  EXPECT_FALSE(metrics.load(dir / "absent.ini"));
  EXPECT_EQ(metrics.dot_size(), 0);
  EXPECT_EQ(metrics.font_count(), 0);
}

TEST(MetricsFile, FindsTheFileCaseInsensitively) {
  platform::testing::temp_dir dir;
  write_file(dir / "vx40.ini", "[Metric]\nwidthDot=512\n");
  CMetricsFile metrics;
  ASSERT_TRUE(metrics.load(dir / "VX40.INI"));
  EXPECT_EQ(metrics.width_dot(), 512);
}

TEST(MetricsFile, DecimalsAreReadThroughSixteenCharacters) {
  platform::testing::temp_dir dir;
  // 15 characters fit: the spacing reads as the first fifteen zeros, the dot size keeps its digits.
  write_file(dir / "m.ini", "[metric]\nDEFLINESPACING=00000000000000030\ndotsize=0.1250000000000009\n");
  CMetricsFile metrics;
  ASSERT_TRUE(metrics.load(dir / "m.ini"));
  EXPECT_EQ(metrics.def_line_spacing(), 0);
  EXPECT_DOUBLE_EQ(metrics.dot_size(), 0.125);
}

TEST(MetricsFile, KeysReadWhenNeededFollowEditsOfTheFile) {
  platform::testing::temp_dir dir;
  write_file(dir / "m.ini", "[Metric]\ndotSize=0.125\nVMotionUnit=0.125\n");
  CMetricsFile metrics;
  ASSERT_TRUE(metrics.load(dir / "m.ini"));
  EXPECT_DOUBLE_EQ(metrics.v_motion_unit(), 0.125);
  // An edit made later: the file's modification time moves on.
  const auto loaded_at = std::filesystem::last_write_time(dir / "m.ini");
  write_file(dir / "m.ini", "[Metric]\ndotSize=0.25\nVMotionUnit=0.0625\n");
  std::filesystem::last_write_time(dir / "m.ini", loaded_at + std::chrono::seconds(2));
  EXPECT_DOUBLE_EQ(metrics.dot_size(), 0.125);        // loaded once
  EXPECT_DOUBLE_EQ(metrics.v_motion_unit(), 0.0625);  // read again after the edit
  // A file that grows is read again even within the same modification time.
  write_file(dir / "m.ini", "[Metric]\ndotSize=0.25\nVMotionUnit=0.03125\n");
  std::filesystem::last_write_time(dir / "m.ini", loaded_at + std::chrono::seconds(2));
  EXPECT_DOUBLE_EQ(metrics.v_motion_unit(), 0.03125);
  // A removed file gives nothing, as an entry that is missing.
  std::filesystem::remove(dir / "m.ini");
  EXPECT_DOUBLE_EQ(metrics.v_motion_unit(), 0);
}

TEST(MetricsFile, FontCountIsBounded) {
  platform::testing::temp_dir dir;
  write_file(dir / "m.ini", "[FONTS]\nnFonts=2000000000\n[FONT 255]\nFontW=9\n");
  CMetricsFile metrics;
  ASSERT_TRUE(metrics.load(dir / "m.ini"));
  EXPECT_EQ(metrics.font_count(), CMetricsFile::kMaxFonts);
  EXPECT_EQ(metrics.font(255).width, 9);
  write_file(dir / "n.ini", "[FONTS]\nnFonts=-4\n");
  ASSERT_TRUE(metrics.load(dir / "n.ini"));
  EXPECT_EQ(metrics.font_count(), 0);
}

TEST(ListItem, TableOfCases) {
  struct row {
    const char* list;
    int index;
    std::int32_t expected;
  };
  const row rows[] = {
      {"6,8,10,12,16,21,32,42", 0, 6},
      {"6,8,10,12,16,21,32,42", 5, 21},
      {"6,8,10,12,16,21,32,42", 7, 42},
      {"6,8,10", 7, 10},       // fewer items: the last one
      {"6,8,10", -1, 6},
      {"6,,8", 1, 0},          // empty item
      {" 12abc, -3", 0, 12},   // atoi stops at the first other character
      {" 12abc, -3", 1, -3},
      {"", 3, 0},
      {"99999999999", 0, std::numeric_limits<std::int32_t>::max()},
      {"-99999999999", 0, std::numeric_limits<std::int32_t>::min()},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(std::string(r.list) + " #" + std::to_string(r.index));
    EXPECT_EQ(list_item(r.list, r.index), r.expected);
  }
}

TEST(ParseDecimal, ReadsLikeAtofInEveryLocale) {
  struct row {
    const char* text;
    double expected;
  };
  const row rows[] = {
      {"0.125", 0.125}, {"  +1.5mm", 1.5}, {"-2", -2}, {".5", 0.5}, {"1e3", 1000},
      {"abc", 0},       {"", 0},           {"inf", 0}, {"nan", 0},  {"0,125", 0},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.text);
    EXPECT_DOUBLE_EQ(parse_decimal(r.text), r.expected);
  }
}

}  // namespace
}  // namespace devsvc
