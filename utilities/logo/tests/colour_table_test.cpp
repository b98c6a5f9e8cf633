// Colour-table files (reading, the 125-entry limit, case-insensitive lookup), the nearest palette
// entry, and the dot rules of each colour mode and of the bit-image family.
#include <gtest/gtest.h>

#include <fstream>

#include "bmp_bytes.h"
#include "logo/picture.h"
#include "platform/testing/temp_dir.h"

namespace {

using namespace logo;

constexpr rgb kBlack{0, 0, 0}, kWhite{255, 255, 255}, kRed{255, 0, 0};

// The dots of a plane, row by row, as '#' and '.'.
std::string dots_of(const raster& plane) {
  std::string out;
  for (int y = 0; y < plane.height; ++y) {
    if (y > 0) out += '/';
    for (int x = 0; x < plane.width; ++x) out += plane.dot(x, y) ? '#' : '.';
  }
  return out;
}

TEST(ColourTableFile, ReadsLabelsColoursAndPlaneValues) {
  std::string error;
  const auto table = colour_table::parse(
      "\"Black\", 0, 0, 0, \"Plane 1\", 1, 0, 0\r\n"
      "Dark red,128,0,0,\"Planes 2, 3\",0,1,1\n"
      "\n"
      "\"White\",255,255,255,\"None\",0,0,0",
      error);
  ASSERT_TRUE(table.has_value()) << error;
  ASSERT_EQ(table->entries().size(), 3u);
  const colour_entry& red = table->entries()[1];
  EXPECT_EQ(red.label, "Dark red");
  EXPECT_EQ(red.colour, (rgb{128, 0, 0}));
  EXPECT_EQ(red.plane_label, "Planes 2, 3");
  EXPECT_EQ(red.planes, (std::array<std::uint8_t, 3>{0, 1, 1}));
  EXPECT_EQ(table->entries()[0].label, "Black");
  EXPECT_EQ(table->entries()[2].colour, kWhite);

  const char* bad[] = {
      "Black,0,0,0,P,1,0\n",           // seven fields
      "Black,0,0,256,P,1,0,0\n",       // a colour beyond 255
      "Black,0,x,0,P,1,0,0\n",         // not a number
      "Black,0,0,0,P,1,0,-1\n",        // a negative plane value
      "",                              // no entry
  };
  for (const char* text : bad) {
    error.clear();
    EXPECT_FALSE(colour_table::parse(text, error).has_value()) << text;
    EXPECT_FALSE(error.empty()) << text;
  }
}

TEST(ColourTableFile, TakesAtMost125EntriesAndIsFoundCaseInsensitively) {
  platform::testing::temp_dir folder;
  {
    std::ofstream out(folder / "TWOCOLORS.CTB");
    for (int i = 0; i < 130; ++i) out << "E" << i << "," << i << ",0,0,P,0,0,0\n";
  }
  const std::filesystem::path path = colour_table_path(folder.path(), "TwoColors.ctb");
  EXPECT_EQ(path, folder / "TWOCOLORS.CTB");
  std::string error;
  const auto table = colour_table::read(path, error);
  ASSERT_TRUE(table.has_value()) << error;
  ASSERT_EQ(table->entries().size(), 125u);
  EXPECT_EQ(table->entries().back().label, "E124");
  EXPECT_FALSE(colour_table::read(folder / "missing.ctb", error).has_value());
  EXPECT_FALSE(error.empty());
}

TEST(ColourTableFile, NearestEntryIsTheClosestColourAndTheFirstOfEquals) {
  const colour_table table({{"Grey", {100, 100, 100}, "", {}},
                            {"Black", kBlack, "", {}},
                            {"Grey again", {100, 100, 100}, "", {}},
                            {"Red", kRed, "", {}}});
  EXPECT_EQ(table.nearest_index(kBlack), 1);
  EXPECT_EQ(table.nearest_index({40, 40, 40}), 1);
  EXPECT_EQ(table.nearest_index({60, 60, 60}), 0);
  EXPECT_EQ(table.nearest_index({101, 99, 100}), 0);
  EXPECT_EQ(table.nearest_index({250, 10, 10}), 3);
  EXPECT_EQ(colour_table().nearest_index(kBlack), -1);
}

TEST(DotRules, EachModeSetsTheDotsOfItsPlanes) {
  // One row: black, dark red, white, dark grey, pink, blue. In the two-colour table pink is
  // nearest white and blue nearest black.
  const dib picture =
      logo_test::picture_of({kBlack, {180, 0, 0}, kWhite, {60, 60, 60}, {255, 160, 160}, {0, 0, 200}}, 6, 1);
  const colour_table two({{"Black", kBlack, "1", {1, 0, 0}}, {"Red", kRed, "2", {0, 1, 0}}, {"White", kWhite, "", {}}});
  // Cyan, magenta and yellow planes; blue is planes 1 and 2.
  const colour_table colour({{"White", kWhite, "", {0, 0, 0}},
                             {"Black", kBlack, "123", {1, 1, 1}},
                             {"Red", kRed, "23", {0, 1, 1}},
                             {"Blue", {0, 0, 255}, "12", {1, 1, 0}}});
  struct Case {
    const char* what;
    const colour_table& table;
    int mode;
    std::vector<std::string> want;
  };
  const Case cases[] = {
      {"black and white", two, kModeBlackWhite, {"#..#.#"}},
      {"two colours", two, kModeTwoColors, {"#..#.#", ".#...."}},
      {"colour", colour, kModeColor, {"#..#.#", "##.#.#", "##.#.."}},
  };
  for (const Case& c : cases) {
    std::vector<std::string> got;
    for (const raster& plane : logo_planes(picture, c.table, c.mode)) got.push_back(dots_of(plane));
    EXPECT_EQ(got, c.want) << c.what;
  }
  // An unknown mode or an empty table gives no planes.
  EXPECT_TRUE(logo_planes(picture, two, 4).empty());
  EXPECT_TRUE(logo_planes(picture, colour_table(), kModeBlackWhite).empty());
  // The bit-image family takes exactly black only.
  EXPECT_EQ(dots_of(black_dots(picture)), "#.....");
}

TEST(DotRules, PlanesKeepTheDotsOfWidthsThatAreNotWholeBytes) {
  std::vector<rgb> pixels(11 * 2, kWhite);
  pixels[10] = kBlack;       // last dot of the top row
  pixels[11 + 8] = kBlack;   // ninth dot of the bottom row
  const dib picture = logo_test::picture_of(pixels, 11, 2);
  const raster plane = black_dots(picture);
  EXPECT_EQ(plane.bytes, (std::vector<std::uint8_t>{0x00, 0x20, 0x00, 0x80}));
}

}  // namespace
