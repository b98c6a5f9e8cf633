// CJpeg: opening and its codes, the natural size from the file's density, drawing, and the
// conversion into a 24-bit bitmap beside the picture.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "imaging/image.h"
#include "imaging/picture.h"
#include "platform/testing/temp_dir.h"
#include "tests/bmp_maker.h"
#include "tests/encoders.h"

namespace imaging {
namespace {

namespace fs = std::filesystem;

// Left half red, right half blue.
void halves(int x, int, std::uint8_t* rgb) {
  rgb[0] = x < 8 ? 255 : 0;
  rgb[1] = 0;
  rgb[2] = x < 8 ? 0 : 255;
}

bool near(int a, int b) { return std::abs(a - b) <= 24; }

TEST(CJpegOpen, CodesAndNaturalSizeFromTheDensity) {
  platform::testing::temp_dir dir;
  struct row {
    const char* what;
    int unit, x_density, y_density;
    CSize at96;
  };
  const row rows[] = {
      {"no density: 96 dpi", 0, 1, 1, {160, 120}},
      {"300 dpi: 1355 x 1016 in 0.01 mm", 1, 300, 300, {51, 38}},
      {"40 dots per cm across, 20 down", 2, 40, 20, {151, 227}},
      {"a density of 0 counts as none", 1, 0, 0, {160, 120}},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.what);
    const std::string path = (dir / "p.jpg").string();
    ASSERT_TRUE(test::write_jpeg(path, 160, 120, halves, r.unit, r.x_density, r.y_density));
    CJpeg jpeg;
    ASSERT_EQ(jpeg.OpenImage(path), kImageOk);
    EXPECT_EQ(jpeg.pixel_width(), 160);
    EXPECT_EQ(jpeg.GetDimensions({}), r.at96);
  }
  CJpeg jpeg;
  ASSERT_EQ(jpeg.OpenImage((dir / "p.jpg").string()), kImageOk);
  EXPECT_EQ(jpeg.GetDimensions({192, 48}), (CSize{320, 60}));
  EXPECT_EQ(jpeg.SaveImage(nullptr), 0);
  EXPECT_EQ(jpeg.ApplayFilter(1), 0);

  test::write_file(dir / "empty.jpg", "");
  test::write_file(dir / "text.jpg", "not a picture at all");
  EXPECT_EQ(jpeg.OpenImage((dir / "empty.jpg").string()), kImageEmptyFile);
  EXPECT_EQ(jpeg.OpenImage((dir / "text.jpg").string()), kImageBadPicture);
  EXPECT_EQ(jpeg.OpenImage((dir / "missing.jpg").string()), kImageCannotOpen);
}

TEST(CJpegConvert, TargetNameReplacesTheExtensionInAnyCase) {
  struct row {
    const char* in;
    const char* out;
  };
  const row rows[] = {
      {"/p/photo.jpg", "/p/photo.bmp"},      {"/p/Photo.JPG", "/p/Photo.bmp"},
      {"/p/photo.jpeg", "/p/photo.bmp"},     {"/p.d/photo", "/p.d/photo.bmp"},
      {"/p/photo.bmp", "/p/photo.bmp.bmp"},  {"/p/.jpg", "/p/.jpg.bmp"},
      {"photo.Jpg", "photo.bmp"},
  };
  for (const row& r : rows) EXPECT_EQ(jpeg_bitmap_name(r.in), r.out) << r.in;
}

TEST(CJpegConvert, MakesABottomUp24BitBitmapBesideThePicture) {
  platform::testing::temp_dir dir;
  const std::string path = (dir / "Photo.JPG").string();
  // Top 4 rows green, the rest by halves.
  ASSERT_TRUE(test::write_jpeg(path, 16, 16, [](int x, int y, std::uint8_t* rgb) {
    if (y < 4) {
      rgb[0] = 0;
      rgb[1] = 255;
      rgb[2] = 0;
    } else {
      halves(x, y, rgb);
    }
  }));
  const std::string original = test::read_file(path);
  CJpeg jpeg;
  ASSERT_EQ(jpeg.OpenImage(path), kImageOk);
  CDib dib(jpeg, device_context{});
  ASSERT_EQ(dib.ConversionResult(), kImageOk);
  EXPECT_TRUE(fs::exists(dir / "Photo.bmp"));
  EXPECT_EQ(test::read_file(path), original);
  const BITMAPINFOHEADER& h = *dib.GetHeader();
  EXPECT_EQ(h.biBitCount, 24);
  EXPECT_EQ(std::int32_t{h.biWidth}, 16);
  EXPECT_EQ(std::int32_t{h.biHeight}, 16);
  EXPECT_EQ(std::uint32_t{h.biSizeImage}, 16u * 48u);
  EXPECT_EQ(std::uint32_t{h.biClrUsed}, 0u);
  // Stored row 15 is the top (green); stored row 0 the bottom (red | blue).
  const std::uint8_t* top = dib.GetBits() + 15 * 48;
  EXPECT_TRUE(near(top[1], 255) && near(top[0], 0) && near(top[2], 0));
  const std::uint8_t* bottom = dib.GetBits();
  EXPECT_TRUE(near(bottom[2], 255) && near(bottom[0], 0));
  EXPECT_TRUE(near(bottom[3 * 15], 255) && near(bottom[3 * 15 + 2], 0));
  // The bitmap file itself says its real size.
  const std::string bmp = test::read_file(dir / "Photo.bmp");
  std::uint32_t bf_size;
  std::memcpy(&bf_size, bmp.data() + 2, 4);
  EXPECT_EQ(bf_size, bmp.size());
}

TEST(CJpegConvert, ScalesToTheNaturalSizeAndDrawsOntoASurface) {
  platform::testing::temp_dir dir;
  const std::string path = (dir / "p.jpeg").string();
  ASSERT_TRUE(test::write_jpeg(path, 16, 8, halves, 1, 192, 192));  // twice 96 dpi: half size
  CJpeg jpeg;
  ASSERT_EQ(jpeg.OpenImage(path), kImageOk);
  EXPECT_EQ(jpeg.GetDimensions({}), (CSize{8, 4}));
  CDib dib(jpeg, device_context{});
  ASSERT_EQ(dib.ConversionResult(), kImageOk);
  EXPECT_EQ(dib.GetDimensions({}), (CSize{8, 4}));
  EXPECT_TRUE(near(dib.GetBits()[2], 255));       // left: red
  EXPECT_TRUE(near(dib.GetBits()[3 * 7], 255));   // right: blue

  pixel_surface surface(20, 10, {192, 192});
  EXPECT_EQ(jpeg.DrawImage(surface, {0, 0}, {0, 0}), 1);
  EXPECT_TRUE(near(surface.row(0)[2], 255));
  EXPECT_TRUE(near(surface.row(7)[3 * 14 + 2], 0));  // right: no red
  EXPECT_TRUE(near(surface.row(7)[3 * 14], 255));
}

TEST(CJpegConvert, ATruncatedPictureStillConvertsWholeSized) {
  platform::testing::temp_dir dir;
  const std::string path = (dir / "p.jpg").string();
  ASSERT_TRUE(test::write_jpeg(path, 64, 64, [](int x, int y, std::uint8_t* rgb) {
    rgb[0] = static_cast<std::uint8_t>(x * y * 7);
    rgb[1] = static_cast<std::uint8_t>(x * 13 + y);
    rgb[2] = static_cast<std::uint8_t>(y * 29);
  }));
  // Cut in the middle of the coded data, after every table.
  std::string bytes = test::read_file(path);
  const std::size_t sos = bytes.find("\xFF\xDA");
  ASSERT_NE(sos, std::string::npos);
  bytes.resize(sos + (bytes.size() - sos) / 2);
  test::write_file(path, bytes);
  CJpeg jpeg;
  ASSERT_EQ(jpeg.OpenImage(path), kImageOk);
  CDib dib(jpeg, device_context{});
  ASSERT_EQ(dib.ConversionResult(), kImageOk);
  EXPECT_EQ(dib.GetDimensions({}), (CSize{64, 64}));
  EXPECT_EQ(dib.GetSizeImage(), 64u * 192u);
}

}  // namespace
}  // namespace imaging
