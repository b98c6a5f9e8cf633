// Dots, map-mode units and motion units.
#include "printer/units.h"

#include <cmath>
#include <limits>

namespace devsvc {
namespace {

// The conversion factors are single-precision constants widened to double, so that values that
// sit on a boundary (300 x 0.01 / 0.125) truncate the same way the printer's tools expect.
constexpr double kThousand = static_cast<double>(1000.0f);
constexpr double kHundred = static_cast<double>(100.0f);
constexpr double kThousandth = static_cast<double>(0.001f);
constexpr double kHundredth = static_cast<double>(0.01f);

bool is_positive(double divisor) { return std::isfinite(divisor) && divisor > 0; }

}  // namespace

std::int32_t truncate_to_int32(double value) {
  if (std::isnan(value)) return 0;
  constexpr double kMax = std::numeric_limits<std::int32_t>::max();
  constexpr double kMin = std::numeric_limits<std::int32_t>::min();
  if (value >= kMax) return std::numeric_limits<std::int32_t>::max();
  if (value <= kMin) return std::numeric_limits<std::int32_t>::min();
  return static_cast<std::int32_t>(value);
}

std::int32_t dots_to_map_units(std::int32_t dots, std::int32_t map_mode, const unit_metrics& m) {
  switch (map_mode) {
    case kMapModeDots:
      return dots;
    case kMapModeTwips:
      return truncate_to_int32(static_cast<double>(dots) * m.twips_per_dots);
    case kMapModeEnglish:
      return truncate_to_int32(m.dot_pl * kThousand * dots);
    case kMapModeMetric:
      return truncate_to_int32(m.dot_size * kHundred * dots);
    default:
      return 0;
  }
}

std::int32_t map_units_to_dots(std::int32_t units, std::int32_t map_mode, const unit_metrics& m) {
  switch (map_mode) {
    case kMapModeDots:
      return units;
    case kMapModeTwips:
      if (m.twips_per_dots <= 0) return 0;
      return units / m.twips_per_dots;
    case kMapModeEnglish:
      if (!is_positive(m.dot_pl)) return 0;
      return truncate_to_int32(truncate_to_int32(units * kThousandth / m.dot_pl) + 1.0);
    case kMapModeMetric:
      if (!is_positive(m.dot_size)) return 0;
      return truncate_to_int32(truncate_to_int32(units * kHundredth / m.dot_size) + 1.0);
    default:
      return 0;
  }
}

std::int32_t dots_to_motion_units(std::int32_t dots, double dot_size, double v_motion_unit) {
  if (!is_positive(v_motion_unit)) return 0;
  return truncate_to_int32(dots * dot_size / v_motion_unit);
}

}  // namespace devsvc
