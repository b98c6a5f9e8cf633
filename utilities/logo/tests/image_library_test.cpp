// The image library reached by name and the conversion of one logo through it: the library
// loaded from the program's folder, each colour mode with its colour table, fitting to the paper
// width, and the failure texts.
#include <gtest/gtest.h>

#include <fstream>

#include "bmp_bytes.h"
#include "logo/image_library.h"
#include "platform/testing/temp_dir.h"

namespace {

using namespace logo;

logo_settings settings(int width, int mode = kModeBlackWhite, bool fit = false) {
  logo_settings out;
  out.paper_width_dots = width;
  out.mode = mode;
  out.fit = fit;
  return out;
}

constexpr rgb kBlack{0, 0, 0}, kWhite{255, 255, 255}, kRed{255, 0, 0};

class ImageLibrary : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    library_ = image_library::load(std::filesystem::path(QUOREL_IMG_LIBRARY_PATH).parent_path(), error);
    ASSERT_NE(library_, nullptr) << error;
    // The colour tables as the kit ships them, in the application folder.
    for (const char* name : {"BlackWhite.ctb", "TwoColors.ctb", "Color.ctb"}) {
      std::filesystem::copy_file(std::filesystem::path(QUOREL_IMG_TABLES_DIR) / name, app_ / name);
    }
    ASSERT_EQ(library_->SetCurrentPath(app_.path().string()), 1);
  }

  platform::testing::temp_dir app_;
  std::unique_ptr<image_library> library_;
};

TEST_F(ImageLibrary, LoadsFromTheProgramFolderOrByName) {
  std::string error;
  platform::testing::temp_dir empty;
  // Neither beside the program nor on the library path: the loader's reason.
  EXPECT_EQ(image_library::load(empty.path(), error), nullptr);
  EXPECT_NE(error.find("libQuorelImg.so"), std::string::npos) << error;
  // A library without the four calls is refused.
  std::ofstream(empty / "libQuorelImg.so") << "not a library";
  error.clear();
  EXPECT_EQ(image_library::load(empty.path(), error), nullptr);
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(image_library::load_file(COLOR_CONVERT_LIBRARY_PATH, error), nullptr);
  EXPECT_NE(error.find("lacks"), std::string::npos) << error;
}

TEST_F(ImageLibrary, ConvertsEachModeAndNamesItsColourTable) {
  // 4 x 2: black, dark red, white, light grey over four pure reds.
  const dib source = logo_test::picture_of(
      {kBlack, {170, 10, 10}, kWhite, {200, 200, 200}, kRed, kRed, kRed, kRed}, 4, 2);
  struct Case {
    const char* what;
    int mode;
    const char* table;
    std::vector<rgb> want;
  };
  const Case cases[] = {
      {"black and white", kModeBlackWhite, "BlackWhite.ctb",
       {kBlack, kBlack, kWhite, kWhite, kBlack, kBlack, kBlack, kBlack}},
      {"two colours", kModeTwoColors, "TwoColors.ctb", {kBlack, kRed, kWhite, kWhite, kRed, kRed, kRed, kRed}},
      {"colour", kModeColor, "Color.ctb", {kBlack, kRed, kWhite, kWhite, kRed, kRed, kRed, kRed}},
  };
  for (const Case& c : cases) {
    const conversion_result got = convert_logo(*library_, source, settings(400, c.mode));
    ASSERT_TRUE(got.preview.has_value()) << c.what << " " << got.message;
    EXPECT_EQ(got.colour_table, c.table) << c.what;
    EXPECT_EQ(got.message, "");
    std::vector<rgb> pixels;
    for (int y = 0; y < got.preview->height(); ++y) {
      for (int x = 0; x < got.preview->width(); ++x) pixels.push_back(got.preview->pixel(x, y));
    }
    EXPECT_EQ(pixels, c.want) << c.what;

    // The preview's planes by the colour table the conversion named.
    std::string error;
    const auto table = colour_table::read(colour_table_path(app_.path(), got.colour_table), error);
    ASSERT_TRUE(table.has_value()) << error;
    const std::vector<raster> planes = logo_planes(*got.preview, *table, c.mode);
    ASSERT_FALSE(planes.empty()) << c.what;
    EXPECT_TRUE(planes[0].dot(0, 0)) << c.what;
    EXPECT_FALSE(planes[0].dot(2, 0)) << c.what;
  }
}

TEST_F(ImageLibrary, FitStretchesToThePaperWidthKeepingTheProportion) {
  const dib source = logo_test::picture_of(std::vector<rgb>(8 * 3, kBlack), 8, 3);
  struct Case {
    logo_settings settings;
    int width;
    int height;
  };
  const Case cases[] = {
      {settings(560), 8, 3},
      {settings(560, kModeBlackWhite, true), 560, 210},
      {settings(390, kModeBlackWhite, true), 390, 146},
      {settings(4, kModeBlackWhite, true), 4, 1},
  };
  for (const Case& c : cases) {
    const conversion_result got = convert_logo(*library_, source, c.settings);
    ASSERT_TRUE(got.preview.has_value()) << got.message;
    EXPECT_EQ(got.preview->width(), c.width);
    EXPECT_EQ(got.preview->height(), c.height);
    EXPECT_EQ(got.preview->pixel(c.width - 1, c.height - 1), kBlack);
  }
  // A one-dot-high picture made narrower keeps one row.
  const dib line = logo_test::picture_of(std::vector<rgb>(100, kBlack), 100, 1);
  EXPECT_EQ(convert_logo(*library_, line, settings(50, kModeBlackWhite, true)).preview->height(), 1);
}

TEST_F(ImageLibrary, FailuresGiveTheTextsOfTheConversion) {
  const dib source = logo_test::picture_of({kBlack}, 1, 1);
  // Without its colour table in the application folder the library gives no preview.
  std::filesystem::remove(app_ / "Color.ctb");
  const conversion_result no_table = convert_logo(*library_, source, settings(400, kModeColor));
  EXPECT_FALSE(no_table.preview.has_value());
  EXPECT_EQ(no_table.message,
            "Raise error on get the preview image of current logo\r\nPlease check the application component(s) and "
            "verify the color table files.");
  EXPECT_EQ(no_table.colour_table, "");
  // No picture to copy.
  const conversion_result empty = convert_logo(*library_, dib(), {});
  EXPECT_EQ(empty.message,
            "Raise error on read/write bytes image of current Logo.\r\nThe image funtions are not avaible for the "
            "current logo.");
}

}  // namespace
