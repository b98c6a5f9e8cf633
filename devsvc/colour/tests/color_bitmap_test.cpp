// CColorBitmap: pictures of every depth read pixel for pixel, their colour modes, their raster
// planes, and the files it refuses.
#include "colour/color_bitmap.h"

#include <gtest/gtest.h>

#include <span>
#include <string>

#include "bmp_writer.h"

namespace devsvc {
namespace {

using test::bmp_bytes;

int load(CColorBitmap& b, const std::string& bytes) {
  return b.load(std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
}

constexpr rgb kGrey{128, 128, 128};
constexpr rgb kBlue{0, 0, 255};

TEST(ColorBitmap, ColourModeFollowsThePalette) {
  struct Case {
    const char* what;
    int bits;
    std::vector<rgb> palette;
    int mode;
  };
  const Case cases[] = {
      {"black and white", 1, {kBlack, kWhite}, kColourModeOther},
      {"black and red", 1, {kBlack, kPureRed}, kColourModeBlackRed},
      {"red and black", 1, {kPureRed, kBlack}, kColourModeBlackRed},
      {"black and a darker red", 1, {kBlack, rgb{254, 0, 0}}, kColourModeOther},
      {"three entries", 4, {kBlack, kWhite, kPureRed}, kColourModeMany},
      {"sixteen entries", 4, std::vector<rgb>(16, kWhite), kColourModeMany},
      {"no palette (24 bits)", 24, {}, kColourModeMany},
  };
  for (const Case& c : cases) {
    CColorBitmap b;
    ASSERT_EQ(load(b, bmp_bytes(4, 2, c.bits, c.palette, [](int, int) { return 0u; }, [](int, int) { return kWhite; })),
              kBitmapOk)
        << c.what;
    EXPECT_EQ(b.colour_mode(), c.mode) << c.what;
  }
}

TEST(ColorBitmap, PixelsOfEveryDepthComeFromPaletteOrData) {
  const std::vector<rgb> palette = {kWhite, kBlack, kPureRed, kGrey};
  // Pixel (x, y) takes entry (x + y) % 4, or its colour at 24 bits.
  const auto index = [](int x, int y) { return static_cast<std::uint32_t>((x + y) % 4); };
  const auto colour = [&palette](int x, int y) { return palette[static_cast<std::size_t>((x + y) % 4)]; };
  for (const int bits : {4, 8, 24}) {
    CColorBitmap b;
    ASSERT_EQ(load(b, bmp_bytes(9, 3, bits, bits == 24 ? std::vector<rgb>{} : palette, index, colour)), kBitmapOk) << bits;
    for (int y = 0; y < 3; ++y) {
      for (int x = 0; x < 9; ++x) EXPECT_EQ(b.pixel(x, y), colour(x, y)) << bits << " bits, " << x << "," << y;
    }
    EXPECT_FALSE(b.printable_as_is()) << bits;  // the grey pixels
  }
  // One bit per pixel: black where the index is 1.
  CColorBitmap one;
  ASSERT_EQ(load(one, bmp_bytes(10, 2, 1, {kWhite, kBlack}, [](int x, int) { return x % 3 == 0 ? 1u : 0u; })), kBitmapOk);
  for (int x = 0; x < 10; ++x) EXPECT_EQ(one.pixel(x, 1), x % 3 == 0 ? kBlack : kWhite) << x;
  EXPECT_TRUE(one.printable_as_is());
  // An index past the palette, and depths without a pixel rule, read black.
  CColorBitmap short_palette;
  ASSERT_EQ(load(short_palette, bmp_bytes(2, 1, 8, {kWhite}, [](int x, int) { return static_cast<std::uint32_t>(x * 7); })),
            kBitmapOk);
  EXPECT_EQ(short_palette.pixel(0, 0), kWhite);
  EXPECT_EQ(short_palette.pixel(1, 0), kBlack);
  CColorBitmap sixteen;
  std::string deep = bmp_bytes(2, 1, 16, {}, [](int, int) { return 0u; });
  deep.replace(deep.size() - 4, 4, "\xFF\xFF\xFF\xFF");
  ASSERT_EQ(load(sixteen, deep), kBitmapOk);
  EXPECT_EQ(sixteen.pixel(0, 0), kBlack);
}

TEST(ColorBitmap, PlanesSetTheBitsOfTheirInkOnly) {
  // 10 dots wide: black on the left half, red at x = 9, white between; rows top first.
  const auto colour = [](int x, int y) { return x < 5 ? (y == 0 ? kBlack : kWhite) : x == 9 ? kPureRed : kWhite; };
  CColorBitmap b;
  ASSERT_EQ(load(b, bmp_bytes(10, 3, 24, {}, {}, colour)), kBitmapOk);
  EXPECT_EQ(b.row_bytes(), 2);
  EXPECT_EQ(b.plane(ink::black, 0, 3), std::string("\xF8\x00\x00\x00\x00\x00", 6));
  EXPECT_EQ(b.plane(ink::red, 1, 2), std::string("\x00\x40\x00\x40", 4));
  // Rows past the picture are not there to give.
  EXPECT_EQ(b.plane(ink::red, 2, 5).size(), 2u);
}

TEST(ColorBitmap, RefusesWhatItCannotRead) {
  const std::string good = bmp_bytes(8, 8, 8, {kWhite, kBlack}, [](int, int) { return 1u; });
  struct Case {
    const char* what;
    std::string bytes;
    int result;
  };
  std::string not_bm = good;
  not_bm[0] = 'X';
  const Case cases[] = {
      {"not BM", not_bm, kBitmapBadFormat},
      {"run-length compressed", bmp_bytes(8, 8, 8, {kWhite}, [](int, int) { return 0u; }, {}, 1), kBitmapBadFormat},
      {"cut short", good.substr(0, good.size() - 1), kBitmapBadFormat},
      {"header only", good.substr(0, 30), kBitmapBadFormat},
      {"pixel data past the limit", bmp_bytes(576, 491, 24, {}, {}, [](int, int) { return kWhite; }), kBitmapTooLarge},
  };
  for (const Case& c : cases) {
    CColorBitmap b;
    EXPECT_EQ(load(b, c.bytes), c.result) << c.what;
    EXPECT_EQ(b.width(), 0) << c.what;
  }
  CColorBitmap missing;
  EXPECT_EQ(missing.load(std::filesystem::path("/nonexistent/picture.bmp")), kBitmapOpenFailed);
}

TEST(ColorBitmap, PackedPictureReadsBackItsOwnInfoAndBits) {
  CColorBitmap b;
  ASSERT_EQ(load(b, bmp_bytes(5, 4, 4, {kWhite, kPureRed, kBlack}, [](int x, int y) { return static_cast<std::uint32_t>((x * y) % 3); })),
            kBitmapOk);
  const std::string packed = b.packed_info() + b.bits();
  CColorBitmap again;
  ASSERT_EQ(again.load_packed(std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(packed.data()), packed.size())),
            kBitmapOk);
  for (int y = 0; y < 4; ++y) {
    for (int x = 0; x < 5; ++x) EXPECT_EQ(again.pixel(x, y), b.pixel(x, y)) << x << "," << y;
  }
}

}  // namespace
}  // namespace devsvc
