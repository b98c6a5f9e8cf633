// Tests of the conversions between dots, map-mode units and motion units, including the guards
// against zero metrics values.
#include "printer/units.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace devsvc {
namespace {

constexpr unit_metrics kVx40{0.125, 0.004926, 7, 0.125};
constexpr unit_metrics kZero{};
constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();

struct conversion {
  const char* name;
  std::int32_t value;
  std::int32_t map_mode;
  unit_metrics metrics;
  std::int32_t expected;
};

TEST(DotsToMapUnits, TableOfCases) {
  const conversion cases[] = {
      {"dots unchanged", 24, kMapModeDots, kVx40, 24},
      {"twips", 24, kMapModeTwips, kVx40, 168},
      {"thousandths of an inch", 24, kMapModeEnglish, kVx40, 118},  // 118.224
      {"metric: 24 dots of 0.125 mm are 300", 24, kMapModeMetric, kVx40, 300},
      {"unknown map mode", 24, 5, kVx40, 0},
      {"twips held to 32 bits", kMax, kMapModeTwips, kVx40, kMax},
      {"missing metrics give 0", 24, kMapModeMetric, kZero, 0},
  };
  for (const conversion& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(dots_to_map_units(c.value, c.map_mode, c.metrics), c.expected);
  }
}

TEST(MapUnitsToDots, TableOfCases) {
  const conversion cases[] = {
      {"dots unchanged", 24, kMapModeDots, kVx40, 24},
      {"twips by integer division", 170, kMapModeTwips, kVx40, 24},
      // One inch: truncate(1 / dotPl) + 1.
      {"one inch at 0.0049 in per dot", 1000, kMapModeEnglish, {0.125, 0.0049, 7, 0.125}, 205},
      {"one inch at 0.004926 in per dot", 1000, kMapModeEnglish, kVx40, 204},
      // 300 x 0.01f is just below 3, so 300 hundredths of a millimetre are 23 + 1 dots.
      {"metric uses the single-precision factor", 300, kMapModeMetric, kVx40, 24},
      {"metric zero adds one dot", 0, kMapModeMetric, kVx40, 1},
      {"unknown map mode", 300, 0, kVx40, 0},
      {"zero TwipsPerDots gives 0", 170, kMapModeTwips, {0.125, 0.004926, 0, 0.125}, 0},
      {"negative TwipsPerDots gives 0", 170, kMapModeTwips, {0.125, 0.004926, -7, 0.125}, 0},
      {"zero dotPl gives 0", 1000, kMapModeEnglish, {0.125, 0.0, 7, 0.125}, 0},
      {"zero dotSize gives 0", 300, kMapModeMetric, {0.0, 0.004926, 7, 0.125}, 0},
      {"missing metrics give 0", 300, kMapModeMetric, kZero, 0},
      {"huge value held to 32 bits", kMax, kMapModeMetric, {1e-9, 0.004926, 7, 0.125}, kMax},
  };
  for (const conversion& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(map_units_to_dots(c.value, c.map_mode, c.metrics), c.expected);
  }
}

TEST(DotsToMotionUnits, ScalesAndGuardsTheMotionUnit) {
  EXPECT_EQ(dots_to_motion_units(30, 0.125, 0.125), 30);
  EXPECT_EQ(dots_to_motion_units(30, 0.125, 0.0625), 60);
  EXPECT_EQ(dots_to_motion_units(30, 0.125, 0.1411), 26);  // 26.57 truncated
  EXPECT_EQ(dots_to_motion_units(30, 0.125, 0.0), 0);
  EXPECT_EQ(dots_to_motion_units(30, 0.125, -0.125), 0);
  EXPECT_EQ(dots_to_motion_units(30, 0.125, std::nan("")), 0);
  EXPECT_EQ(dots_to_motion_units(30, 0.0, 0.125), 0);
}

TEST(TruncateToInt32, TruncatesTowardsZeroAndSaturates) {
  EXPECT_EQ(truncate_to_int32(2.9), 2);
  EXPECT_EQ(truncate_to_int32(-2.9), -2);
  EXPECT_EQ(truncate_to_int32(1e20), kMax);
  EXPECT_EQ(truncate_to_int32(-1e20), std::numeric_limits<std::int32_t>::min());
  EXPECT_EQ(truncate_to_int32(std::nan("")), 0);
}

}  // namespace
}  // namespace devsvc
