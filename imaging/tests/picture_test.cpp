// Pictures of any format opened as bitmaps in a scratch folder: format detection, PNG decoding
// with transparency, read-only sources, and fitting a width.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdint>
#include <filesystem>
#include <string>

#include "imaging/image.h"
#include "imaging/picture.h"
#include "platform/testing/temp_dir.h"
#include "tests/bmp_maker.h"
#include "tests/encoders.h"

namespace imaging {
namespace {

namespace fs = std::filesystem;

void grey_ramp(int x, int, std::uint8_t* rgb) { rgb[0] = rgb[1] = rgb[2] = static_cast<std::uint8_t>(x * 16); }

std::size_t entries(const fs::path& dir) {
  return static_cast<std::size_t>(std::distance(fs::directory_iterator(dir), fs::directory_iterator()));
}

TEST(OpenPicture, EachFormatFromAReadOnlyFolderLeavesTheFolderAlone) {
  platform::testing::temp_dir dir;
  test::bmp_spec s;
  s.width = 16;
  s.height = 2;
  s.pixel = [](int x, int) { return test::bgr(static_cast<std::uint8_t>(x * 16), 0, 0); };
  test::write_file(dir / "p.bmp", test::make_bmp(s));
  ASSERT_TRUE(test::write_jpeg((dir / "p.jpg").string(), 16, 2, grey_ramp));
  ASSERT_TRUE(test::write_png((dir / "p.png").string(), 16, 2, grey_ramp));
  test::write_file(dir / "p.txt", "plain text");
  test::write_file(dir / "empty.png", "");
  fs::permissions(dir.path(), fs::perms::owner_read | fs::perms::owner_exec);

  struct row {
    const char* name;
    picture_format format;
    int expected;
  };
  const row rows[] = {
      {"p.bmp", picture_format::bmp, kImageOk},       {"p.jpg", picture_format::jpeg, kImageOk},
      {"p.png", picture_format::png, kImageOk},       {"p.txt", picture_format::unknown, kImageNotBitmap},
      {"empty.png", picture_format::unknown, kImageEmptyFile}, {"missing", picture_format::unknown, kImageCannotOpen},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    EXPECT_EQ(sniff_picture((dir / r.name).string()), r.format);
    scratch_folder scratch;
    ASSERT_TRUE(scratch.ok());
    CDib dib;
    EXPECT_EQ(open_picture((dir / r.name).string(), scratch, dib), r.expected);
    if (r.expected == kImageOk) {
      EXPECT_EQ(dib.GetDimensions({}).cx, 16);
      EXPECT_EQ(dib.GetRows(), 2);
      EXPECT_EQ(fs::path(dib.GetWorkingCopy()).parent_path(), fs::path(scratch.path()));
    }
  }
  EXPECT_EQ(entries(dir.path()), 5u);
  fs::permissions(dir.path(), fs::perms::owner_all);
}

TEST(OpenPicture, PngTransparencyIsCompositedOverWhiteTopRowFirst) {
  platform::testing::temp_dir dir;
  const std::string path = (dir / "a.png").string();
  // Row 0 opaque red, row 1 fully transparent red.
  ASSERT_TRUE(test::write_png(path, 3, 2, [](int, int, std::uint8_t* rgb) { rgb[0] = 255, rgb[1] = rgb[2] = 0; },
                              [](int, int y) { return static_cast<std::uint8_t>(y == 0 ? 255 : 0); }));
  scratch_folder scratch;
  std::string scratch_path;
  {
    CDib dib;
    ASSERT_EQ(open_picture(path, scratch, dib), kImageOk);
    EXPECT_EQ(dib.GetHeader()->biBitCount, 24);
    ASSERT_EQ(std::int32_t{dib.GetHeader()->biHeight}, -2);  // stored top row first
    const std::uint8_t* top = dib.GetBits();
    EXPECT_EQ(top[0], 0);
    EXPECT_EQ(top[2], 255);
    const std::uint8_t* below = dib.GetBits() + dib.GetStride();
    EXPECT_EQ(below[0], 255);
    EXPECT_EQ(below[1], 255);
    EXPECT_EQ(below[2], 255);
    scratch_path = scratch.path();
  }
  // A PNG that ends early is refused, not read past its end.
  std::string bytes = test::read_file(path);
  bytes.resize(bytes.size() - 20);
  test::write_file(dir / "cut.png", bytes);
  CDib cut;
  EXPECT_EQ(open_picture((dir / "cut.png").string(), scratch, cut), kImageBadPicture);
}

TEST(ScratchFolder, IsRemovedWithItsContent) {
  std::string path;
  {
    scratch_folder scratch;
    ASSERT_TRUE(scratch.ok());
    path = scratch.path();
    test::write_file(fs::path(path) / "x", "y");
  }
  EXPECT_FALSE(fs::exists(path));
}

TEST(FitWidth, ScalesDownProportionallyOnly) {
  struct row {
    CSize in;
    int max;
    CSize out;
  };
  const row rows[] = {
      {{1600, 1200}, 576, {576, 432}}, {{500, 300}, 576, {500, 300}}, {{1000, 1}, 10, {10, 1}},
      {{577, 3}, 576, {576, 3}},       {{800, 600}, 0, {800, 600}},
  };
  for (const row& r : rows) EXPECT_EQ(fit_width(r.in, r.max), r.out) << r.in.cx << "x" << r.in.cy << " to " << r.max;
}

}  // namespace
}  // namespace imaging
