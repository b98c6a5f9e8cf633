// The filters: hand-worked error diffusion for every kernel, thresholds, what each filter does
// with each bit count, row padding, the octree's reduction, and the halftone type.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <set>
#include <vector>

#include "imaging/filters.h"
#include "imaging/image.h"
#include "platform/testing/temp_dir.h"
#include "tests/bmp_maker.h"

namespace imaging {
namespace {

namespace fs = std::filesystem;
using test::bmp_spec;
using test::make_bmp;
using test::read_file;
using test::write_file;

TEST(Luminance, TruncatesTheWeightedSum) {
  EXPECT_EQ(luminance(255, 0, 0), 76);   // 76.245
  EXPECT_EQ(luminance(0, 255, 0), 149);  // 149.685
  EXPECT_EQ(luminance(0, 0, 255), 29);   // 29.07
  EXPECT_EQ(luminance(0, 0, 0), 0);
  EXPECT_EQ(luminance(128, 128, 127), 127);  // 127.886
  EXPECT_EQ(luminance(128, 128, 128), 127);  // the double sum is 127.99999999999999
  EXPECT_EQ(luminance(128, 128, 131), 128);  // 128.342
}

// One error spread from one pixel of a zeroed 5 x 3 picture, worked by hand from the kernels.
TEST(DiffuseError, EachKernelSpreadsAsWorkedByHand) {
  struct row {
    int type;
    std::vector<std::uint8_t> expected;
  };
  const row rows[] = {
      // Floyd-Steinberg /16 from (2, 0), error 100: 43 right, 18 / 31 / 6 below.
      {kHalftoneFloydSteinberg, {0, 0, 0, 43, 0, 0, 18, 31, 6, 0, 0, 0, 0, 0, 0}},
      // Burkes /32: 25 12 right; 6 12 25 12 6 below.
      {kHalftoneBurkes, {0, 0, 0, 25, 12, 6, 12, 25, 12, 6, 0, 0, 0, 0, 0}},
      // Sierra /32: 15 9 right; 6 12 15 12 6 below; 6 9 6 two rows down.
      {kHalftoneSierra, {0, 0, 0, 15, 9, 6, 12, 15, 12, 6, 0, 6, 9, 6, 0}},
      // Stucki /42: 19 9 right; 4 9 19 9 4 below; 2 4 9 4 2 two rows down.
      {kHalftoneStucki, {0, 0, 0, 19, 9, 4, 9, 19, 9, 4, 2, 4, 9, 4, 2}},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.type);
    std::vector<std::uint8_t> grey(15, 0);
    diffuse_error(grey, 5, 2, 0, 100, r.type);
    EXPECT_EQ(grey, r.expected);
  }
}

TEST(DiffuseError, FlowsAcrossRowEndsNeverIntoIndexZeroOrPastTheEnd) {
  // Stucki from (0, 0) of a 3 x 3 picture: the entries left of column 0 land at the ends of
  // the rows above, so indexes 1, 2, 4 and 5 get two shares each.
  std::vector<std::uint8_t> grey(9, 0);
  diffuse_error(grey, 3, 0, 0, 100, kHalftoneStucki);
  EXPECT_EQ(grey, (std::vector<std::uint8_t>{0, 23, 18, 19, 11, 8, 9, 4, 2}));
  // From the last pixel every target is past the end: nothing changes.
  std::vector<std::uint8_t> last(9, 50);
  diffuse_error(last, 3, 2, 2, 100, kHalftoneStucki);
  EXPECT_EQ(last, std::vector<std::uint8_t>(9, 50));
  // Negative errors truncate toward zero and clamp at 0; positive ones clamp at 255.
  std::vector<std::uint8_t> clamp = {0, 3, 250, 2, 10, 0};
  diffuse_error(clamp, 3, 0, 0, -100, kHalftoneFloydSteinberg);  // -43, -18 (index 2), -31, -6
  EXPECT_EQ(clamp, (std::vector<std::uint8_t>{0, 0, 232, 0, 4, 0}));
  diffuse_error(clamp, 3, 0, 0, 128, kHalftoneFloydSteinberg);  // +56, +24 (index 2), +40, +8
  EXPECT_EQ(clamp, (std::vector<std::uint8_t>{0, 56, 255, 40, 12, 0}));
}

std::vector<std::vector<std::uint8_t>> halftone(std::vector<std::uint8_t>& grey, int width, int rows, int type) {
  std::vector<std::vector<std::uint8_t>> out;
  halftone_grey(grey, width, rows, type, [&](int y, const std::uint8_t* values) {
    EXPECT_EQ(y, static_cast<int>(out.size()));
    out.emplace_back(values, values + width);
  });
  return out;
}

TEST(HalftoneGrey, FloydSteinbergWorkedByHand) {
  // 3 x 2: 100 200 50 / 10 130 255. The error of (0, 0) reaches index 2 through the (-1, +1)
  // entry, and 255 + 19 clamps.
  std::vector<std::uint8_t> grey = {100, 200, 50, 10, 130, 255};
  const auto bits = halftone(grey, 3, 2, kHalftoneFloydSteinberg);
  EXPECT_EQ(bits, (std::vector<std::vector<std::uint8_t>>{{0, 1, 0}, {0, 1, 1}}));
  EXPECT_EQ(grey, (std::vector<std::uint8_t>{100, 243, 63, 66, 172, 219}));

  // 2 x 2 of 100: the first pixel's error wraps into the end of its own row (161, not 143).
  std::vector<std::uint8_t> flat(4, 100);
  EXPECT_EQ(halftone(flat, 2, 2, kHalftoneFloydSteinberg), (std::vector<std::vector<std::uint8_t>>{{0, 1}, {0, 0}}));
  EXPECT_EQ(flat, (std::vector<std::uint8_t>{100, 161, 73, 121}));
}

TEST(HalftoneGrey, ThresholdAndDarkPixelRule) {
  struct row {
    const char* what;
    std::vector<std::uint8_t> grey;
    std::vector<std::uint8_t> bits;
    std::vector<std::uint8_t> after;
  };
  const row rows[] = {
      {"16 is dark: no error", {16, 100}, {0, 0}, {16, 100}},
      // In a single row the (-1, +1) share lands on index 1 as well: 7/16 and 3/16 of the error.
      {"17 diffuses", {17, 100}, {0, 0}, {17, 110}},
      {"128 is black, its error 128", {128, 100}, {0, 1}, {128, 180}},
      {"129 is white, its error -126", {129, 100}, {1, 0}, {129, 22}},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.what);
    std::vector<std::uint8_t> grey = r.grey;
    const auto bits = halftone(grey, 2, 1, kHalftoneFloydSteinberg);
    EXPECT_EQ(bits[0], r.bits);
    EXPECT_EQ(grey, r.after);
  }
}

TEST(PackBits, MostSignificantBitFirstPartialByteAtTheTop) {
  const std::uint8_t values[] = {1, 0, 1, 1, 0, 0, 0, 1, 1, 1, 0};
  std::uint8_t out[3] = {0xEE, 0xEE, 0xEE};
  pack_bits(values, 11, out);
  EXPECT_EQ(out[0], 0xB1);
  EXPECT_EQ(out[1], 0xC0);
  EXPECT_EQ(out[2], 0xEE);
}

TEST(HalftoneType, OneToFourAcceptedOthersRejected) {
  CDib dib;
  CDibFilterHalftone filter(&dib, 1);
  EXPECT_EQ(filter.GetHalftoneType(), kHalftoneFloydSteinberg);
  EXPECT_EQ(filter.SetHalftoneType(3), 1);
  for (const int bad : {5, 0, -1}) {
    EXPECT_EQ(filter.SetHalftoneType(bad), 0);
    EXPECT_EQ(filter.GetHalftoneType(), 3);
  }
}

// A picture opened in a temporary folder with one filter of each kind added.
class FilterTest : public ::testing::Test {
 protected:
  enum { kGrey = 1, kBlackWhite, kHalftone, kRed, k8Bpp };
  int open(const bmp_spec& s) {
    path_ = dir_ / "pic.bmp";
    write_file(path_, make_bmp(s));
    const int opened = dib_.OpenImage(path_.string());
    dib_.AddFilter(new CDibFilterGrayScale(&dib_, kGrey));
    dib_.AddFilter(new CDibFilterBlackWhite(&dib_, kBlackWhite));
    dib_.AddFilter(new CDibFilterHalftone(&dib_, kHalftone));
    dib_.AddFilter(new CDibFilterRed(&dib_, kRed));
    dib_.AddFilter(new CDibFilter8Bpp(&dib_, k8Bpp));
    return opened;
  }
  std::string working() const { return read_file(dib_.GetWorkingCopy()); }
  // Bit x of stored row y of a 1-bit result.
  int bit(int x, int y) const {
    const std::uint8_t* r = dib_.GetBits() + static_cast<std::size_t>(y) * dib_.GetStride();
    return (r[x / 8] >> (7 - x % 8)) & 1;
  }

  platform::testing::temp_dir dir_;
  fs::path path_;
  CDib dib_;
};

TEST_F(FilterTest, OneBitImageIsLeftAloneButTheRedFilterRecoloursItsTable) {
  bmp_spec s;
  s.width = 9;
  s.height = 2;
  s.bits = 1;
  s.table = test::kBlackWhite;
  s.pixel = [](int x, int y) { return static_cast<std::uint32_t>((x + y) % 2); };
  ASSERT_EQ(open(s), kImageOk);
  const std::string before = working();
  for (const int id : {kGrey, kBlackWhite, kHalftone, k8Bpp}) {
    SCOPED_TRACE(id);
    EXPECT_EQ(dib_.ApplayFilter(id), 0);
    EXPECT_EQ(working(), before);
    EXPECT_FALSE(fs::exists(dir_ / "pic.bmr"));
  }
  // Entry 0 black becomes red; once red, the filter says so and changes nothing.
  EXPECT_EQ(dib_.ApplayFilter(kRed), 0);
  EXPECT_EQ(dib_.GetColorTable()[0].rgbRed, 255);
  EXPECT_EQ(dib_.GetColorTable()[0].rgbBlue, 0);
  EXPECT_EQ(dib_.GetPalette()->entries[0].red, 255);
  const std::string red = working();
  EXPECT_NE(red, before);
  EXPECT_EQ(dib_.ApplayFilter(kRed), 1);
  EXPECT_EQ(working(), red);
}

TEST_F(FilterTest, RedFilterRecoloursEntryOneWhenEntryZeroIsNotBlack) {
  bmp_spec s;
  s.width = 4;
  s.height = 1;
  s.bits = 1;
  s.table = {{255, 255, 255, 0}, {0, 0, 0, 0}};
  ASSERT_EQ(open(s), kImageOk);
  EXPECT_EQ(dib_.ApplayFilter(kRed), 0);
  EXPECT_EQ(dib_.GetColorTable()[0].rgbBlue, 255);
  EXPECT_EQ(dib_.GetColorTable()[1].rgbRed, 255);
  EXPECT_EQ(dib_.GetColorTable()[1].rgbGreen, 0);
}

// 24-bit, 5 pixels wide (15 bytes of a 16-byte row) with its padding byte set to 0xAB.
bmp_spec padded_picture() {
  bmp_spec s;
  s.width = 5;
  s.height = 3;
  s.bits = 24;
  s.padding = 0xAB;
  // Luminances 128 and 127 side by side test the >= 128 threshold; row 2 is all 200.
  s.pixel = [](int x, int y) {
    if (y == 2) return test::bgr(200, 200, 200);
    return x % 2 == 0 ? test::bgr(128, 128, 131) : test::bgr(128, 128, 120);
  };
  return s;
}

TEST_F(FilterTest, GreyScaleChangesOnlyTheWidthsPixels) {
  bmp_spec s = padded_picture();
  s.pixel = [](int x, int) { return test::bgr(255, 0, static_cast<std::uint8_t>(x)); };
  ASSERT_EQ(open(s), kImageOk);
  EXPECT_EQ(dib_.ApplayFilter(kGrey), 1);
  EXPECT_FALSE(fs::exists(dir_ / "pic.bmr"));
  for (int y = 0; y < 3; ++y) {
    const std::uint8_t* r = dib_.GetBits() + 16 * y;
    EXPECT_EQ(r[15], 0xAB) << "padding of row " << y;
    for (int x = 0; x < 5; ++x) {
      const std::uint8_t g = luminance(255, 0, static_cast<std::uint8_t>(x));
      EXPECT_EQ(r[3 * x], g);
      EXPECT_EQ(r[3 * x + 1], g);
      EXPECT_EQ(r[3 * x + 2], g);
    }
  }
}

TEST_F(FilterTest, BlackAndWhiteThresholdIs128AndPaddingIsZero) {
  ASSERT_EQ(open(padded_picture()), kImageOk);
  EXPECT_EQ(dib_.ApplayFilter(kBlackWhite), 1);
  const BITMAPINFOHEADER& h = *dib_.GetHeader();
  EXPECT_EQ(h.biBitCount, 1);
  EXPECT_EQ(std::uint32_t{h.biClrUsed}, 2u);
  EXPECT_EQ(std::uint32_t{h.biClrImportant}, 2u);
  EXPECT_EQ(std::uint32_t{h.biSizeImage}, 3u * 4u);
  EXPECT_EQ(std::int32_t{h.biWidth}, 5);
  EXPECT_EQ(dib_.GetColorTable()[0].rgbRed, 0);
  EXPECT_EQ(dib_.GetColorTable()[1].rgbRed, 255);
  // Row bytes: 10101 -> 0xA8, then zero padding.
  const std::uint8_t* bits = dib_.GetBits();
  EXPECT_EQ(bits[0], 0xA8);
  EXPECT_EQ(bits[1] | bits[2] | bits[3], 0);
  EXPECT_EQ(bits[8], 0xF8);
}

TEST_F(FilterTest, RedFilterOnDeepImagesWritesARedWhiteMirror) {
  ASSERT_EQ(open(padded_picture()), kImageOk);
  EXPECT_EQ(dib_.ApplayFilter(kRed), 1);
  EXPECT_EQ(dib_.GetHeader()->biBitCount, 1);
  const RGBQUAD* t = dib_.GetColorTable();
  EXPECT_EQ(t[0].rgbRed, 255);
  EXPECT_EQ(t[0].rgbGreen, 0);
  EXPECT_EQ(t[0].rgbBlue, 0);
  EXPECT_EQ(t[1].rgbBlue, 255);
  EXPECT_EQ(dib_.GetBits()[0], 0xA8);
}

TEST_F(FilterTest, HalftoneOfAPictureMatchesTheGreyBufferDiffusion) {
  bmp_spec s;
  s.width = 7;  // 21 bytes of a 24-byte row
  s.height = 5;
  s.bits = 24;
  s.padding = 0xFF;
  s.pixel = [](int x, int y) { return test::bgr(static_cast<std::uint8_t>(30 * x), static_cast<std::uint8_t>(50 * y), 90); };
  ASSERT_EQ(open(s), kImageOk);
  std::vector<std::uint8_t> grey;
  for (int y = 0; y < 5; ++y) {
    for (int x = 0; x < 7; ++x) grey.push_back(luminance(static_cast<std::uint8_t>(30 * x), static_cast<std::uint8_t>(50 * y), 90));
  }
  auto* filter = static_cast<CDibFilterHalftone*>(nullptr);
  filter = new CDibFilterHalftone(&dib_, 42);
  filter->SetHalftoneType(kHalftoneStucki);
  dib_.AddFilter(filter);
  const auto expected = halftone(grey, 7, 5, kHalftoneStucki);
  EXPECT_EQ(dib_.ApplayFilter(42), 1);
  ASSERT_EQ(dib_.GetHeader()->biBitCount, 1);
  for (int y = 0; y < 5; ++y) {
    for (int x = 0; x < 7; ++x) EXPECT_EQ(bit(x, y), expected[static_cast<std::size_t>(y)][static_cast<std::size_t>(x)]);
    EXPECT_EQ(bit(7, y), 0);  // nothing beyond the width
  }
}

TEST_F(FilterTest, FourAndSixteenBitPicturesGoThroughTheirColours) {
  // 4 bits: palette entries read per nibble; 16 bits: 5-bit fields scaled to 0..255, so that
  // full-scale white (31, 31, 31) is white and not a dark grey of 31.
  bmp_spec four;
  four.width = 3;
  four.height = 1;
  four.bits = 4;
  four.table.assign(16, RGBQUAD{0, 0, 0, 0});
  four.table[5] = {255, 255, 255, 0};
  four.pixel = [](int x, int) { return x == 1 ? 5u : 0u; };
  ASSERT_EQ(open(four), kImageOk);
  EXPECT_EQ(dib_.ApplayFilter(kBlackWhite), 1);
  EXPECT_EQ(dib_.GetBits()[0], 0x40);

  CDib sixteen;
  bmp_spec s16;
  s16.width = 3;
  s16.height = 1;
  s16.bits = 16;
  s16.pixel = [](int x, int) { return x == 0 ? 0x7FFFu : (x == 1 ? 0x4210u : 0u); };  // white, (16,16,16), black
  write_file(dir_ / "s16.bmp", make_bmp(s16));
  ASSERT_EQ(sixteen.OpenImage((dir_ / "s16.bmp").string()), kImageOk);
  sixteen.AddFilter(new CDibFilterBlackWhite(&sixteen, 1));
  EXPECT_EQ(sixteen.ApplayFilter(1), 1);
  EXPECT_EQ(sixteen.GetBits()[0], 0xC0);  // 16 -> 132 >= 128 is white
}

TEST_F(FilterTest, EightBitsKeepUpTo256ColoursExactly) {
  bmp_spec s;
  s.width = 23;
  s.height = 11;  // 253 pixels, all different
  s.bits = 24;
  auto colour = [](int x, int y) {
    const int i = y * 23 + x;
    return test::bgr(static_cast<std::uint8_t>(i * 37), static_cast<std::uint8_t>(i * 11 + 3), static_cast<std::uint8_t>(255 - i));
  };
  s.pixel = colour;
  ASSERT_EQ(open(s), kImageOk);
  EXPECT_EQ(dib_.ApplayFilter(k8Bpp), 1);
  const BITMAPINFOHEADER& h = *dib_.GetHeader();
  EXPECT_EQ(h.biBitCount, 8);
  EXPECT_EQ(std::uint32_t{h.biClrUsed}, 253u);
  EXPECT_EQ(dib_.GetColorCount(), 253u);
  const RGBQUAD* table = dib_.GetColorTable();
  for (int y = 0; y < 11; ++y) {
    for (int x = 0; x < 23; ++x) {
      const std::uint8_t index = dib_.GetBits()[static_cast<std::size_t>(y) * dib_.GetStride() + static_cast<std::size_t>(x)];
      const RGBQUAD& q = table[index];
      EXPECT_EQ(test::bgr(q.rgbRed, q.rgbGreen, q.rgbBlue), colour(x, y)) << x << "," << y;
    }
  }
}

TEST_F(FilterTest, EightBitsReduceManyColoursTo256AndBelowSixteenBitsDoNothing) {
  bmp_spec s;
  s.width = 64;
  s.height = 64;
  s.bits = 24;
  s.pixel = [](int x, int y) { return test::bgr(static_cast<std::uint8_t>(4 * x), static_cast<std::uint8_t>(4 * y), static_cast<std::uint8_t>(x * y)); };
  ASSERT_EQ(open(s), kImageOk);
  EXPECT_EQ(dib_.ApplayFilter(k8Bpp), 1);
  EXPECT_LE(dib_.GetColorCount(), 256u);
  EXPECT_GT(dib_.GetColorCount(), 64u);
  EXPECT_EQ(dib_.GetHeader()->biBitCount, 8);
  // Now 8 bits: a second reduction does nothing.
  dib_.AddFilter(new CDibFilter8Bpp(&dib_, 77));
  EXPECT_EQ(dib_.ApplayFilter(77), 0);
}

TEST(Octree, ReducesTheDeepestMostRecentNodesFirstAndFallsBackToTheRoot) {
  // Red, green and blue part at the root: with room for 2 colours, the single-child chains are
  // folded level by level until only the root is left to merge: one colour, their average.
  OctreeQuantizer three(2, 8);
  three.AddColor(255, 0, 0);
  three.AddColor(0, 255, 0);
  EXPECT_EQ(three.GetLeafCount(), 2);
  three.AddColor(0, 0, 255);
  EXPECT_EQ(three.GetLeafCount(), 1);
  const auto one = three.GetColorTable();
  ASSERT_EQ(one.size(), 1u);
  EXPECT_EQ(one[0].rgbRed, 85);
  EXPECT_EQ(one[0].rgbGreen, 85);
  EXPECT_EQ(one[0].rgbBlue, 85);

  // (0,0,0) and (1,0,0) part only at the last level: they merge, averaging down (1/2 -> 0),
  // and white keeps its own leaf, walked after them (child 7 after child 0).
  OctreeQuantizer near(2, 8);
  near.AddColor(0, 0, 0);
  near.AddColor(1, 0, 0);
  near.AddColor(255, 255, 255);
  const auto two = near.GetColorTable();
  ASSERT_EQ(two.size(), 2u);
  EXPECT_EQ(two[0].rgbRed, 0);
  EXPECT_EQ(two[1].rgbRed, 255);
  EXPECT_EQ(two[1].rgbBlue, 255);
}

}  // namespace
}  // namespace imaging
