// Tests of the line property computations: the command each sends and the values it stores.
#include "printer/line_properties.h"

#include <gtest/gtest.h>

#include "core/tests/hex.h"

namespace devsvc {
namespace {

using testing::hex;

// A font 12 x 24 dots whose list reaches 42 characters per line.
font_settings test_font() {
  font_settings font;
  font.width = 12;
  font.height = 24;
  font.max_chars = 42;
  font.max_sideways_chars = 56;
  font.size_list = "6,8,10,12,16,21,32,42";
  font.sideways_list = "10,12,14,16,21,28,42,56";
  font.sizes = {6, 8, 10, 12, 16, 21, 32, 42};
  font.sideways = {10, 12, 14, 16, 21, 28, 42, 56};
  return font;
}

// Line values after open: one line of 24 dots in a spacing of 30.
line_values opened() {
  line_values v;
  v.rec_line_chars = 42;
  v.rec_line_height = 24;
  v.rec_line_spacing = 30;
  v.spacing_above = 6;
  v.rec_sideways_max_chars = 56;
  return v;
}

TEST(RecLineChars, PicksTheFirstListItemLargeEnough) {
  struct row {
    const char* name;
    std::int32_t chars;
    std::int32_t rotation;
    const char* command;
    std::int32_t line_chars;
    std::int32_t sideways_chars;
    std::int32_t height;
    std::int32_t scale;
  };
  const row rows[] = {
      {"20 takes 21 at magnification 3", 20, 1, "1D 21 22", 21, 21, 72, 2},
      {"exactly the largest", 42, 1, "1D 21 00", 42, 42, 24, 0},
      {"above MAXchars gives MAXchars", 100, 1, "1D 21 00", 42, 42, 24, 0},
      {"fewest characters", 1, 1, "1D 21 77", 6, 10, 192, 7},
      {"turned right uses the sideways list and the width", 20, kRotationRight90, "1D 21 33", 21, 21, 48, 3},
      {"turned right, above MAXSidewaysChars", 100, kRotationRight90, "1D 21 11", 42, 42, 24, 1},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    const std::optional<line_change> change = compute_rec_line_chars(r.chars, opened(), test_font(), r.rotation);
    ASSERT_TRUE(change.has_value());
    EXPECT_EQ(hex(change->command), r.command);
    EXPECT_EQ(change->values.rec_line_chars, r.line_chars);
    EXPECT_EQ(change->values.rec_sideways_max_chars, r.sideways_chars);
    EXPECT_EQ(change->values.rec_line_height, r.height);
    EXPECT_EQ(change->values.h_scale, r.scale);
    EXPECT_EQ(change->values.v_scale, r.scale);
    // The spacing keeps its part above the characters, without an ESC 3 of its own.
    EXPECT_EQ(change->values.rec_line_spacing, 6 + r.height);
    EXPECT_EQ(change->values.spacing_above, 6);
    EXPECT_FALSE(change->then_set_spacing.has_value());
  }
}

TEST(RecLineChars, ZeroChangesNothing) {
  EXPECT_FALSE(compute_rec_line_chars(0, opened(), test_font(), 1).has_value());
}

TEST(RecLineChars, MaxCharsBeyondTheListStaysAValidMagnification) {
  font_settings font = test_font();
  font.max_chars = 50;
  const std::optional<line_change> change = compute_rec_line_chars(45, opened(), font, 1);
  ASSERT_TRUE(change.has_value());
  EXPECT_EQ(hex(change->command), "1D 21 00");
  EXPECT_EQ(change->values.rec_line_chars, 42);
  EXPECT_EQ(change->values.rec_line_height, 24);
}

TEST(RecLineHeight, ScalesToTheSmallestMagnificationReachingTheHeight) {
  struct row {
    const char* name;
    std::int32_t dots;
    std::int32_t rotation;
    const char* command;
    std::int32_t height;
    std::int32_t line_chars;
    std::int32_t v_scale;
  };
  const row rows[] = {
      {"one cell", 24, 1, "1D 21 20", 24, 42, 0},
      {"just above one cell", 25, 1, "1D 21 21", 48, 32, 1},
      {"between three and four cells", 90, 1, "1D 21 23", 96, 16, 3},
      {"beyond eight cells", 1000, 1, "1D 21 27", 192, 6, 7},
      {"zero", 0, 1, "1D 21 20", 24, 42, 0},
      {"turned right counts cell widths", 24, kRotationRight90, "1D 21 21", 24, 42, 1},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    line_values current = opened();
    current.h_scale = 2;  // the horizontal code is kept
    const line_change change = compute_rec_line_height(r.dots, current, test_font(), r.rotation);
    EXPECT_EQ(hex(change.command), r.command);
    EXPECT_EQ(change.values.rec_line_height, r.height);
    EXPECT_EQ(change.values.rec_line_chars, r.line_chars);
    EXPECT_EQ(change.values.v_scale, r.v_scale);
    EXPECT_EQ(change.values.h_scale, 2);
    EXPECT_EQ(change.values.rec_sideways_max_chars, test_font().sideways[static_cast<std::size_t>(7 - r.v_scale)]);
    ASSERT_TRUE(change.then_set_spacing.has_value());
    EXPECT_EQ(*change.then_set_spacing, 6 + r.height);
  }
}

TEST(RecLineSpacing, SendsEsc3InMotionUnits) {
  struct row {
    const char* name;
    std::int32_t dots;
    double v_motion_unit;
    const char* command;
  };
  const row rows[] = {
      {"one dot per unit", 30, 0.125, "1B 33 1E"},
      {"half-dot units", 30, 0.0625, "1B 33 3C"},
      {"held to 255", 300, 0.125, "1B 33 FF"},
      {"held to 0", -5, 0.125, "1B 33 00"},
      {"zero motion unit gives 0", 30, 0.0, "1B 33 00"},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    const line_change change = compute_rec_line_spacing(r.dots, opened(), 0.125, r.v_motion_unit);
    EXPECT_EQ(hex(change.command), r.command);
    EXPECT_EQ(change.values.rec_line_spacing, r.dots);
    EXPECT_EQ(change.values.spacing_above, r.dots - 24);
    EXPECT_EQ(change.values.rec_line_height, 24);
  }
}

TEST(CharacterSet, SelectsTheCodePageByEscT) {
  const char* list = "437,850,852,858,860,863,865,866,1252";
  struct row {
    std::int32_t codepage;
    const char* command;
  };
  const row rows[] = {{437, "1B 74 00"}, {850, "1B 74 02"}, {852, "1B 74 12"}, {858, "1B 74 13"},
                      {860, "1B 74 03"}, {863, "1B 74 04"}, {865, "1B 74 05"}, {866, "1B 74 11"},
                      {1252, "1B 74 10"}};
  for (const row& r : rows) {
    SCOPED_TRACE(r.codepage);
    const character_set_change change = compute_character_set(r.codepage, list);
    EXPECT_EQ(change.result, 0);
    EXPECT_EQ(hex(change.command), r.command);
  }
}

TEST(CharacterSet, RefusesCodePagesOutsideTheListOrTheTable) {
  struct row {
    const char* name;
    std::int32_t codepage;
    const char* list;
  };
  const row rows[] = {
      {"not in the list", 1252, "437,850"},
      {"in the list, unknown to the printer", 737, "437,737"},
      {"a piece of a listed code page", 85, "437,850"},
      {"empty list", 437, ""},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    const character_set_change change = compute_character_set(r.codepage, r.list);
    EXPECT_EQ(change.result, 106);
    EXPECT_TRUE(change.command.empty());
  }
}

}  // namespace
}  // namespace devsvc
