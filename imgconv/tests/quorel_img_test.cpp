// The logo utility's image library loaded by path: its four exports, the colours of each mode
// with and without error diffusion, the colour-table names and folder, and refusals.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "imgconv/quorel_img.h"
#include "platform/testing/temp_dir.h"

namespace {

struct colour {
  std::uint8_t r, g, b;
  bool operator==(const colour&) const = default;
};

constexpr colour kBlack{0, 0, 0}, kWhite{255, 255, 255}, kRed{255, 0, 0};

void put(std::string& out, std::uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

// The information header of a bottom-up 24-bit picture.
std::string info_24(int width, int height) {
  std::string out;
  for (const std::uint32_t v : {40u, static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height)}) put(out, v, 4);
  put(out, 1, 2);
  put(out, 24, 2);
  for (int i = 0; i < 6; ++i) put(out, 0, 4);
  return out;
}

// The rows (bottom first, padded) of a picture given top row first.
std::string bits_24(const std::vector<colour>& pixels, int width, int height) {
  const int stride = (width * 24 + 31) / 32 * 4;
  std::string out(static_cast<std::size_t>(stride * height), '\0');
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const colour& c = pixels[static_cast<std::size_t>(y * width + x)];
      const std::size_t at = static_cast<std::size_t>((height - 1 - y) * stride + x * 3);
      out[at] = static_cast<char>(c.b);
      out[at + 1] = static_cast<char>(c.g);
      out[at + 2] = static_cast<char>(c.r);
    }
  }
  return out;
}

class QuorelImgLibrary : public ::testing::Test {
 protected:
  void SetUp() override {
    library_ = ::dlopen(QUOREL_IMG_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library_, nullptr) << ::dlerror();
    set_path_ = reinterpret_cast<QuorelSetCurrentPath_fn>(::dlsym(library_, "SetCurrentPath"));
    set_diffusion_ = reinterpret_cast<QuorelSetDiffusionMode_fn>(::dlsym(library_, "SetDiffusionMode"));
    convert_ = reinterpret_cast<QuorelConvertTo24Bpp_fn>(::dlsym(library_, "ConvertTo24Bpp"));
    process_ = reinterpret_cast<QuorelProcessImg_fn>(::dlsym(library_, "ProcessImg"));
    ASSERT_NE(set_path_, nullptr);
    ASSERT_NE(set_diffusion_, nullptr);
    ASSERT_NE(convert_, nullptr);
    ASSERT_NE(process_, nullptr);
    // The library keeps its folder between calls: each test starts without one.
    set_path_("", 0);
    ASSERT_EQ(set_diffusion_(1), 1);
  }
  void TearDown() override {
    if (library_ != nullptr) ::dlclose(library_);
  }

  // Converts and processes a picture (rows top first); the result's pixels, top first, and the
  // colour-table name. Empty when ProcessImg fails.
  std::vector<colour> run(const std::vector<colour>& pixels, int width, int height, short diffusion, int mode,
                          std::string& table) {
    std::vector<colour> out;
    const std::string info = info_24(width, height);
    const std::string bits = bits_24(pixels, width, height);
    imgconv_image* image = convert_(info.data(), bits.data());
    EXPECT_NE(image, nullptr);
    if (image == nullptr) return out;
    char name[256];
    std::fill(std::begin(name), std::end(name), 'x');
    imgconv_image* result = process_(nullptr, image, diffusion, mode, name);
    std::free(image);
    table = name;
    if (result == nullptr) return out;
    const int stride = (width * 24 + 31) / 32 * 4;
    EXPECT_EQ(result->size, static_cast<std::uint32_t>(40 + stride * height));
    for (int y = 0; y < height; ++y) {
      const unsigned char* row = imgconv_dib(result) + 40 + static_cast<std::size_t>((height - 1 - y) * stride);
      for (int x = 0; x < width; ++x) out.push_back({row[x * 3 + 2], row[x * 3 + 1], row[x * 3]});
    }
    std::free(result);
    return out;
  }

  void* library_ = nullptr;
  QuorelSetCurrentPath_fn set_path_ = nullptr;
  QuorelSetDiffusionMode_fn set_diffusion_ = nullptr;
  QuorelConvertTo24Bpp_fn convert_ = nullptr;
  QuorelProcessImg_fn process_ = nullptr;
};

TEST_F(QuorelImgLibrary, WithoutDiffusionEachPixelTakesTheNearestColourOfItsMode) {
  // Dark grey, light grey, dark red, pale cyan, yellowish, dark blue.
  const std::vector<colour> picture = {{40, 40, 40},  {220, 220, 220}, {200, 20, 20},
                                       {30, 210, 230}, {240, 230, 40},  {20, 20, 150}};
  struct Case {
    const char* what;
    int mode;
    const char* table;
    std::vector<colour> want;
  };
  const Case cases[] = {
      {"black and white", kQuorelModeBlackWhite, "BlackWhite.ctb", {kBlack, kWhite, kBlack, kWhite, kWhite, kBlack}},
      {"two colours", kQuorelModeTwoColors, "TwoColors.ctb", {kBlack, kWhite, kRed, kWhite, kWhite, kBlack}},
      {"colour", kQuorelModeColor, "Color.ctb",
       {kBlack, kWhite, kRed, {0, 255, 255}, {255, 255, 0}, {0, 0, 255}}},
  };
  for (const Case& c : cases) {
    std::string table;
    EXPECT_EQ(run(picture, 6, 1, 0, c.mode, table), c.want) << c.what;
    EXPECT_EQ(table, c.table) << c.what;
  }
}

TEST_F(QuorelImgLibrary, DiffusionDithersFlatShadesThatTheThresholdMakesOneColour) {
  // 32 x 32 of mid grey: the threshold gives one colour; diffusion about half black dots.
  constexpr int kSide = 32;
  const std::vector<colour> grey(kSide * kSide, colour{100, 100, 100});
  for (const int mode : {kQuorelModeBlackWhite, kQuorelModeTwoColors, kQuorelModeColor}) {
    std::string table;
    const std::vector<colour> plain = run(grey, kSide, kSide, 0, mode, table);
    ASSERT_EQ(plain.size(), grey.size()) << mode;
    EXPECT_EQ(std::count(plain.begin(), plain.end(), kBlack), kSide * kSide) << mode;

    const std::vector<colour> dithered = run(grey, kSide, kSide, 1, mode, table);
    ASSERT_EQ(dithered.size(), grey.size()) << mode;
    const auto black = std::count(dithered.begin(), dithered.end(), kBlack);
    const auto white = std::count(dithered.begin(), dithered.end(), kWhite);
    EXPECT_GT(black, kSide * kSide * 45 / 100) << mode;
    EXPECT_LT(black, kSide * kSide * 75 / 100) << mode;
    EXPECT_EQ(black + white, kSide * kSide) << mode;
  }
}

TEST_F(QuorelImgLibrary, ColourTablesAreLookedForInTheCurrentFolder) {
  const std::vector<colour> one = {kWhite};
  std::string table;
  platform::testing::temp_dir folder;
  // A folder without the tables: no picture, no name.
  ASSERT_EQ(set_path_(folder.path().c_str(), static_cast<int>(folder.path().string().size())), 1);
  EXPECT_TRUE(run(one, 1, 1, 0, kQuorelModeBlackWhite, table).empty());
  EXPECT_EQ(table, "");
  // The tables under other letter cases are found.
  std::filesystem::copy_file(std::filesystem::path(QUOREL_IMG_TABLES_DIR) / "BlackWhite.ctb", folder / "blackwhite.CTB");
  EXPECT_EQ(run(one, 1, 1, 0, kQuorelModeBlackWhite, table), one);
  EXPECT_EQ(table, "BlackWhite.ctb");
  EXPECT_TRUE(run(one, 1, 1, 0, kQuorelModeTwoColors, table).empty());
}

TEST_F(QuorelImgLibrary, RefusesUnknownModesKernelsAndPictures) {
  std::string table;
  EXPECT_TRUE(run({kWhite}, 1, 1, 0, 4, table).empty());
  EXPECT_EQ(table, "");
  EXPECT_EQ(set_diffusion_(0), 0);
  EXPECT_EQ(set_diffusion_(5), 0);
  EXPECT_EQ(set_diffusion_(4), 1);

  // ConvertTo24Bpp takes 32-bit pictures too; ProcessImg only 24-bit ones.
  std::string info = info_24(1, 1);
  info[14] = 32;
  const std::string bits("\x10\x20\x30\x00", 4);
  imgconv_image* image = convert_(info.data(), bits.data());
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(imgconv_dib(image)[14], 24);
  EXPECT_EQ(imgconv_dib(image)[40], 0x10);
  EXPECT_EQ(imgconv_dib(image)[42], 0x30);
  imgconv_dib(image)[14] = 8;
  char name[256] = "x";
  EXPECT_EQ(process_(nullptr, image, 0, kQuorelModeBlackWhite, name), nullptr);
  EXPECT_STREQ(name, "");
  EXPECT_EQ(process_(nullptr, nullptr, 0, kQuorelModeBlackWhite, name), nullptr);
  std::free(image);
}

}  // namespace
