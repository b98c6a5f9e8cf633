// The image-conversion library loaded by path as the printer's service object loads it: its
// three exports, pictures of every palette depth reduced to black, white and red, and refusals.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "imgconv/conversion.h"

namespace {

void put(std::string& out, std::uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

struct colour {
  std::uint8_t r, g, b;
  bool operator==(const colour&) const = default;
};

// An information header and palette for a bottom-up picture.
std::string info_of(int width, int height, int bits, const std::vector<colour>& palette) {
  std::string out;
  for (const std::uint32_t v : {40u, static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height)}) put(out, v, 4);
  put(out, 1, 2);
  put(out, static_cast<std::uint32_t>(bits), 2);
  for (const std::uint32_t v : {0u, 0u, 0u, 0u, static_cast<std::uint32_t>(palette.size()), 0u}) put(out, v, 4);
  for (const colour& c : palette) out += std::string{static_cast<char>(c.b), static_cast<char>(c.g), static_cast<char>(c.r), '\0'};
  return out;
}

class ColorConvertLibrary : public ::testing::Test {
 protected:
  void SetUp() override {
    library_ = ::dlopen(IMGCONV_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library_, nullptr) << ::dlerror();
    set_path_ = reinterpret_cast<SetCurrentPath_fn>(::dlsym(library_, "SetCurrentPath"));
    convert_ = reinterpret_cast<ConvertTo24Bpp_fn>(::dlsym(library_, "ConvertTo24Bpp"));
    process_ = reinterpret_cast<ProcessImg_fn>(::dlsym(library_, "ProcessImg"));
    ASSERT_NE(set_path_, nullptr);
    ASSERT_NE(convert_, nullptr);
    ASSERT_NE(process_, nullptr);
  }
  void TearDown() override {
    if (library_ != nullptr) ::dlclose(library_);
  }

  // Converts and processes a picture; the pixels of the result, rows top first.
  std::vector<colour> run(const std::string& info, const std::string& bits, int width, int height) {
    std::vector<colour> out;
    imgconv_image* image = convert_(info.data(), bits.data());
    EXPECT_NE(image, nullptr);
    if (image == nullptr) return out;
    const std::string packed = info + bits;
    imgconv_dc dc{reinterpret_cast<const unsigned char*>(packed.data()), packed.size()};
    unsigned char text[256] = {};
    unsigned char status = 9;
    imgconv_image* result = process_(&dc, image, 0, 1, text, &status);
    std::free(image);
    EXPECT_NE(result, nullptr) << text;
    if (result == nullptr) return out;
    EXPECT_EQ(status, 0);
    const int stride = (width * 24 + 31) / 32 * 4;
    EXPECT_EQ(result->size, static_cast<std::uint32_t>(40 + stride * height));
    EXPECT_EQ(imgconv_dib(result)[14], 24);
    for (int y = 0; y < height; ++y) {
      const unsigned char* row = imgconv_dib(result) + 40 + static_cast<std::size_t>((height - 1 - y) * stride);
      for (int x = 0; x < width; ++x) out.push_back({row[x * 3 + 2], row[x * 3 + 1], row[x * 3]});
    }
    std::free(result);
    return out;
  }

  void* library_ = nullptr;
  SetCurrentPath_fn set_path_ = nullptr;
  ConvertTo24Bpp_fn convert_ = nullptr;
  ProcessImg_fn process_ = nullptr;
};

constexpr colour kBlack{0, 0, 0}, kWhite{255, 255, 255}, kRed{255, 0, 0};

TEST_F(ColorConvertLibrary, EveryPixelBecomesBlackWhiteOrRed) {
  EXPECT_EQ(set_path_("/tmp/", 5), 1);
  // An 8-bit picture of 4 x 1: dark grey, light grey, dark red, orange-red.
  const std::vector<colour> palette = {{40, 40, 40}, {220, 220, 220}, {160, 10, 10}, {250, 60, 20}};
  const std::string bits("\x00\x01\x02\x03", 4);
  const std::vector<colour> got = run(info_of(4, 1, 8, palette), bits, 4, 1);
  EXPECT_EQ(got, (std::vector<colour>{kBlack, kWhite, kRed, kRed}));

  // 1, 4 and 24 bits per pixel, 3 x 2 (rows bottom first in the data).
  struct Case {
    const char* what;
    int bits;
    std::vector<colour> palette;
    std::string data;
    std::vector<colour> want;
  };
  const Case cases[] = {
      {"1 bit", 1, {kWhite, {10, 10, 10}}, std::string("\xA0\x00\x00\x00\x40\x00\x00\x00", 8),
       {kWhite, kBlack, kWhite, kBlack, kWhite, kBlack}},
      {"4 bits", 4, {kWhite, {200, 0, 0}, {30, 30, 30}}, std::string("\x12\x00\x00\x00\x21\x00\x00\x00", 8),
       {kBlack, kRed, kWhite, kRed, kBlack, kWhite}},
      {"24 bits", 24, {},
       std::string("\x00\x00\xFF\xFF\xFF\xFF\x10\x10\x10\x00\x00\x00", 12) +
           std::string("\xEE\xEE\xEE\x20\x20\xE0\x00\x00\x00\x00\x00\x00", 12),
       {kWhite, kRed, kBlack, kRed, kWhite, kBlack}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(run(info_of(3, 2, c.bits, c.palette), c.data, 3, 2), c.want) << c.what;
  }
}

TEST_F(ColorConvertLibrary, FlatShadesAreDitheredInProportion) {
  // 32 x 32 of one shade: mid grey gives black and white dots about half and half, a pale red
  // (red 255, green and blue 128) red and white dots about half and half, never black.
  struct Case {
    const char* what;
    colour shade;
    colour ink;
    colour other;
  };
  const Case cases[] = {
      {"mid grey", {128, 128, 128}, kBlack, kRed},
      {"pale red", {255, 128, 128}, kRed, kBlack},
  };
  for (const Case& c : cases) {
    std::string bits;
    for (int i = 0; i < 32 * 32; ++i) bits += std::string{static_cast<char>(c.shade.b), static_cast<char>(c.shade.g), static_cast<char>(c.shade.r)};
    const std::vector<colour> got = run(info_of(32, 32, 24, {}), bits, 32, 32);
    ASSERT_EQ(got.size(), 32u * 32u) << c.what;
    int ink = 0, other = 0;
    for (const colour& p : got) {
      ink += p == c.ink;
      other += p == c.other;
    }
    EXPECT_GT(ink, 32 * 32 * 35 / 100) << c.what;
    EXPECT_LT(ink, 32 * 32 * 65 / 100) << c.what;
    EXPECT_EQ(other, 0) << c.what;
  }
}

TEST_F(ColorConvertLibrary, RefusesWhatItCannotConvert) {
  const std::string bits(16, '\0');
  unsigned char text[256] = {};
  unsigned char status = 0;
  EXPECT_EQ(convert_(nullptr, bits.data()), nullptr);
  // Compressed, 16 bits per pixel, no width.
  std::string compressed = info_of(2, 2, 8, {kWhite});
  compressed[16] = 1;
  EXPECT_EQ(convert_(compressed.data(), bits.data()), nullptr);
  EXPECT_EQ(convert_(info_of(2, 2, 16, {}).data(), bits.data()), nullptr);
  EXPECT_EQ(convert_(info_of(0, 2, 24, {}).data(), bits.data()), nullptr);
  // ProcessImg takes a 24-bit picture only, and needs its context.
  imgconv_image* image = convert_(info_of(2, 2, 24, {}).data(), bits.data());
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(process_(nullptr, image, 0, 1, text, &status), nullptr);
  EXPECT_EQ(status, 1);
  imgconv_dc dc{nullptr, 0};
  imgconv_dib(image)[14] = 8;
  EXPECT_EQ(process_(&dc, image, 0, 1, text, &status), nullptr);
  EXPECT_STREQ(reinterpret_cast<char*>(text), "not a 24-bit picture");
  std::free(image);
}

}  // namespace
