// Conversions between printer dots, the OPOS map modes and the printer's motion units, with the
// divisions by a zero metrics value guarded.
#pragma once

#include <cstdint>

namespace devsvc {

// Values of the MapMode property.
inline constexpr std::int32_t kMapModeDots = 1;     // printer dots
inline constexpr std::int32_t kMapModeTwips = 2;    // 1/1440 inch
inline constexpr std::int32_t kMapModeEnglish = 3;  // 0.001 inch
inline constexpr std::int32_t kMapModeMetric = 4;   // 0.01 mm

// The metrics values the conversions use (from the metrics file; 0 when it is missing).
struct unit_metrics {
  double dot_size = 0;              // one dot in millimetres
  double dot_pl = 0;                // one dot in inches
  std::int32_t twips_per_dots = 0;  // twips per dot
  double v_motion_unit = 0;         // vertical motion unit, in millimetres like dot_size
};

// `value` truncated towards zero and held to the 32-bit range; NaN gives 0.
std::int32_t truncate_to_int32(double value);

// Dots to MapMode units: dots; dots x TwipsPerDots; truncate(dotPl x 1000 x dots);
// truncate(dotSize x 100 x dots). Another MapMode gives 0. Results are held to the 32-bit range.
std::int32_t dots_to_map_units(std::int32_t dots, std::int32_t map_mode, const unit_metrics& m);

// MapMode units to dots: units; units / TwipsPerDots; truncate(units x 0.001 / dotPl) + 1;
// truncate(units x 0.01 / dotSize) + 1. A divisor that is not a positive number (a missing
// metrics file, a zero or negative entry) gives 0 instead, as does another MapMode.
std::int32_t map_units_to_dots(std::int32_t units, std::int32_t map_mode, const unit_metrics& m);

// Dots to vertical motion units: truncate(dots x dotSize / VMotionUnit); 0 when VMotionUnit is
// not a positive number.
std::int32_t dots_to_motion_units(std::int32_t dots, double dot_size, double v_motion_unit);

}  // namespace devsvc
