// CDib: opening and its failure codes, the working copy and mirror files, saving, drawing,
// resizing and the run-time class links.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <memory>

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

bmp_spec grey_picture(int width, int height) {
  bmp_spec s;
  s.width = width;
  s.height = height;
  s.bits = 24;
  s.pixel = [](int x, int y) { return test::bgr(static_cast<std::uint8_t>(40 * x), static_cast<std::uint8_t>(50 * y), 7); };
  return s;
}

TEST(CDibOpen, FailureCodes) {
  platform::testing::temp_dir dir;
  struct row {
    const char* what;
    std::string bytes;
    int expected;
  };
  bmp_spec compressed = grey_picture(4, 2);
  compressed.compression = 1;
  bmp_spec v4 = grey_picture(4, 2);
  v4.info_size = 108;
  std::string truncated = make_bmp(grey_picture(40, 40));
  truncated.resize(truncated.size() - 100);
  bmp_spec too_many_colours = grey_picture(4, 2);
  too_many_colours.bits = 1;
  too_many_colours.table = test::kBlackWhite;
  too_many_colours.clr_used = 3;
  bmp_spec odd_depth = grey_picture(4, 2);
  odd_depth.bits = 7;
  const row rows[] = {
      {"zero-length file", "", kImageEmptyFile},
      {"text file named .bmp", "hello, this is text\n", kImageNotBitmap},
      {"BM and nothing else: no file header", "BM", kImageNotBitmap},
      {"a file header without an info header", make_bmp(grey_picture(4, 2)).substr(0, 30), kImageBadHeader},
      {"compressed bitmap", make_bmp(compressed), kImageCompressed},
      {"108-byte info header", make_bmp(v4), kImageBadHeader},
      {"pixel data shorter than the header says", truncated, kImageBadHeader},
      {"1-bit colour table of 3 entries", make_bmp(too_many_colours), kImageBadHeader},
      {"7 bits per pixel", make_bmp(odd_depth), kImageBadHeader},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.what);
    const fs::path file = dir / "pic.bmp";
    write_file(file, r.bytes);
    CDib dib;
    EXPECT_EQ(dib.OpenImage(file.string()), r.expected);
    EXPECT_EQ(dib.GetHeader(), nullptr);
    // A failed open leaves no working copy behind.
    EXPECT_FALSE(fs::exists(dir / "pic.bmx"));
  }
  CDib dib;
  EXPECT_EQ(dib.OpenImage((dir / "missing.bmp").string()), kImageCannotOpen);
  EXPECT_EQ(dib.OpenImage(dir.path().string()), kImageCannotOpen);  // a folder
}

TEST(CDibOpen, ReadOnlyFileGives49) {
  platform::testing::temp_dir dir;
  const fs::path file = dir / "ro.bmp";
  write_file(file, make_bmp(grey_picture(4, 2)));
  fs::permissions(file, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  const int probe = ::open(file.c_str(), O_RDWR);
  if (probe >= 0) {
    ::close(probe);
    GTEST_SKIP() << "this user may write read-only files (root)";
  }
  CDib dib;
  EXPECT_EQ(dib.OpenImage(file.string()), kImageCannotOpen);
}

TEST(CDibOpen, ReadsHeaderColourTableAndBits) {
  platform::testing::temp_dir dir;
  bmp_spec s;
  s.width = 3;
  s.height = 2;
  s.bits = 8;
  s.table = {{1, 2, 3, 0}, {4, 5, 6, 0}};
  s.clr_used = 0;  // 8 bits with no count: 256 entries are read (the file must hold them)
  s.table.resize(256);
  s.pixel = [](int x, int y) { return static_cast<std::uint32_t>(x + y); };
  write_file(dir / "p.bmp", make_bmp(s));
  CDib dib;
  ASSERT_EQ(dib.OpenImage((dir / "p.bmp").string()), kImageOk);
  EXPECT_EQ(dib.GetColorCount(), 256u);
  EXPECT_EQ(std::uint32_t{dib.GetHeader()->biClrUsed}, 256u);
  EXPECT_EQ(dib.GetSizeHeader(), 40u + 1024u);
  EXPECT_EQ(dib.GetSizeImage(), 8u);
  EXPECT_EQ(dib.GetDimensions({}), (CSize{3, 2}));
  EXPECT_EQ(dib.GetColorTable()[1].rgbGreen, 5);
  EXPECT_EQ(dib.GetBits()[4 + 2], 3);  // row 1, column 2
  ASSERT_NE(dib.GetPalette(), nullptr);
  EXPECT_EQ(dib.GetPalette()->version, 0x300);
  EXPECT_EQ(dib.GetPalette()->entries[0].red, 3);
  EXPECT_EQ(dib.GetImageType(), kImageTypeDib);
}

// Records, at every progress step, whether the mirror file exists.
struct mirror_watch : progress_control {
  explicit mirror_watch(fs::path mirror) : mirror_(std::move(mirror)) {}
  void SetRange(int lower, int upper) override { range = {lower, upper}; }
  void SetStep(int s) override { step = s; }
  void StepIt() override {
    ++steps;
    if (fs::exists(mirror_)) ++steps_with_mirror;
  }
  fs::path mirror_;
  std::pair<int, int> range{-1, -1};
  int step = 0;
  int steps = 0;
  int steps_with_mirror = 0;
};

TEST(CDibFiles, WorkingCopyAndMirrorComeAndGo) {
  platform::testing::temp_dir dir;
  const fs::path logo = dir / "logo.bmp";
  const std::string original = make_bmp(grey_picture(5, 3));
  write_file(logo, original);
  mirror_watch watch(dir / "logo.bmr");
  {
    CDib dib;
    ASSERT_EQ(dib.OpenImage(logo.string()), kImageOk);
    EXPECT_TRUE(fs::exists(dir / "logo.bmx"));
    EXPECT_EQ(dib.GetWorkingCopy(), (dir / "logo.bmx").string());
    dib.SetProgressCntrl(&watch);
    dib.AddFilter(new CDibFilterBlackWhite(&dib, 7));
    EXPECT_EQ(dib.ApplayFilter(7), 1);
    // The mirror existed while the rows went into it, and is gone now that it is the working copy.
    EXPECT_EQ(watch.range, (std::pair<int, int>{0, 3}));
    EXPECT_EQ(watch.step, 1);
    EXPECT_EQ(watch.steps, 3);
    EXPECT_EQ(watch.steps_with_mirror, 3);
    EXPECT_FALSE(fs::exists(dir / "logo.bmr"));
    EXPECT_EQ(dib.GetHeader()->biBitCount, 1);
    EXPECT_EQ(read_file(logo), original);  // the user's file is untouched until saved
    EXPECT_EQ(dib.ApplayFilter(99), 0);     // no such filter
  }
  EXPECT_FALSE(fs::exists(dir / "logo.bmx"));
  EXPECT_EQ(read_file(logo), original);
}

TEST(CDibFiles, SaveWritesTheWorkingCopyWithItsRealSize) {
  platform::testing::temp_dir dir;
  const fs::path logo = dir / "logo.bmp";
  write_file(logo, make_bmp(grey_picture(5, 3)));
  CDib dib;
  ASSERT_EQ(dib.OpenImage(logo.string()), kImageOk);
  dib.AddFilter(new CDibFilterBlackWhite(&dib, 1));
  ASSERT_EQ(dib.ApplayFilter(1), 1);
  const fs::path copy = dir / "copy.bmp";
  EXPECT_EQ(dib.SaveImage(copy.string().c_str()), 1);
  const std::string saved = read_file(copy);
  ASSERT_GE(saved.size(), 62u);
  std::uint32_t bf_size;
  std::memcpy(&bf_size, saved.data() + 2, 4);
  EXPECT_EQ(bf_size, saved.size());
  EXPECT_EQ(saved[28], 1);  // biBitCount
  // Saving elsewhere reopens the image from its own, unchanged file.
  EXPECT_EQ(dib.GetHeader()->biBitCount, 24);
  EXPECT_TRUE(fs::exists(dir / "logo.bmx"));
  // Saving over the own file changes it.
  dib.AddFilter(new CDibFilterBlackWhite(&dib, 2));
  ASSERT_EQ(dib.ApplayFilter(2), 1);
  EXPECT_EQ(dib.SaveImage(nullptr), 1);
  EXPECT_EQ(read_file(logo), saved);
  EXPECT_EQ(dib.GetHeader()->biBitCount, 1);
}

TEST(CDibFiles, WorkingCopyLeftByACrashIsReplacedNotFollowed) {
  platform::testing::temp_dir dir;
  const fs::path logo = dir / "logo.bmp";
  write_file(logo, make_bmp(grey_picture(4, 4)));
  // A stale working copy that is a link to someone else's file.
  const fs::path victim = dir / "victim.txt";
  write_file(victim, "keep me");
  fs::create_symlink(victim, dir / "logo.bmx");
  CDib dib;
  ASSERT_EQ(dib.OpenImage(logo.string()), kImageOk);
  EXPECT_FALSE(fs::is_symlink(dir / "logo.bmx"));
  EXPECT_EQ(read_file(victim), "keep me");
  EXPECT_EQ(dib.GetDimensions({}), (CSize{4, 4}));
}

TEST(CDibFiles, NamesEndingInTheWorkingLetterNeverNameTheFileItself) {
  EXPECT_EQ(CImage::GetTempFile("/a/logo.bmp"), "/a/logo.bmx");
  EXPECT_EQ(CImage::GetMirrorFile("/a/logo.bmp"), "/a/logo.bmr");
  EXPECT_EQ(CImage::GetTempFile("/a/pic.x"), "/a/pic.xx");
  EXPECT_EQ(CImage::GetMirrorFile("/a/pic.bmr"), "/a/pic.bmrr");

  platform::testing::temp_dir dir;
  const fs::path odd = dir / "pic.bmr";
  const std::string original = make_bmp(grey_picture(3, 3));
  write_file(odd, original);
  CDib dib;
  ASSERT_EQ(dib.OpenImage(odd.string()), kImageOk);
  dib.AddFilter(new CDibFilterHalftone(&dib, 1));
  ASSERT_EQ(dib.ApplayFilter(1), 1);
  EXPECT_EQ(read_file(odd), original);
}

TEST(CDibDraw, StretchesThroughTheColourTableClippedToTheSurface) {
  platform::testing::temp_dir dir;
  bmp_spec s;
  s.width = 2;
  s.height = 2;  // bottom-up: stored row 0 is the bottom row
  s.bits = 1;
  s.table = {{0, 0, 255, 0}, {255, 0, 0, 0}};  // red, blue
  s.pixel = [](int x, int y) { return static_cast<std::uint32_t>(x == y); };
  write_file(dir / "p.bmp", make_bmp(s));
  CDib dib;
  ASSERT_EQ(dib.OpenImage((dir / "p.bmp").string()), kImageOk);
  pixel_surface surface(5, 5);
  EXPECT_EQ(dib.DrawImage(surface, {1, 1}, {4, 4}), 1);
  // Visual top-left: stored row 1, column 0 -> index 0 (red); top-right: index 1 (blue).
  const std::uint8_t* top = surface.row(1);
  EXPECT_EQ(top[3 * 1 + 2], 255);
  EXPECT_EQ(top[3 * 1 + 0], 0);
  EXPECT_EQ(top[3 * 4 + 0], 255);
  EXPECT_EQ(top[3 * 4 + 2], 0);
  EXPECT_EQ(surface.row(0)[3], 0);  // outside the rectangle stays black
  CDib empty;
  EXPECT_EQ(empty.DrawImage(surface, {0, 0}, {1, 1}), 0);
  EXPECT_EQ(empty.GetDimensions({}), (CSize{0, 0}));
}

TEST(CDibResize, RepeatsAndDropsPixelsAtEveryDepth) {
  platform::testing::temp_dir dir;
  for (const int bits : {1, 4, 8, 24}) {
    SCOPED_TRACE(bits);
    bmp_spec s;
    s.width = 3;
    s.height = 2;
    s.bits = bits;
    if (bits <= 8) s.table.assign(bits == 1 ? 2 : (bits == 4 ? 16 : 256), RGBQUAD{9, 9, 9, 0});
    // Stored row 0 (bottom): values 0 1 0; stored row 1 (top): 1 1 0.
    s.pixel = [bits](int x, int y) {
      const std::uint32_t v = (y == 0 ? x == 1 : x < 2) ? 1u : 0u;
      return bits == 24 ? v * 0x123456u : v;
    };
    write_file(dir / "p.bmp", make_bmp(s));
    CDib dib;
    ASSERT_EQ(dib.OpenImage((dir / "p.bmp").string()), kImageOk);
    ASSERT_EQ(dib.ResizeImage({6, 4}), 1);
    EXPECT_FALSE(fs::exists(dir / "p.bmr"));
    ASSERT_EQ(dib.GetDimensions({}), (CSize{6, 4}));
    EXPECT_EQ(dib.GetHeader()->biBitCount, bits);
    EXPECT_EQ(dib.GetColorCount(), s.table.size());
    const std::size_t stride = static_cast<std::size_t>(test::stride_of(6, bits));
    EXPECT_EQ(dib.GetSizeImage(), 4 * stride);
    // Each source pixel became a 2 x 2 block.
    auto value = [&](int x, int y) {
      const std::uint8_t* r = dib.GetBits() + static_cast<std::size_t>(y) * stride;
      switch (bits) {
        case 1: return (r[x / 8] >> (7 - x % 8)) & 1;
        case 4: return x % 2 == 0 ? r[x / 2] >> 4 : r[x / 2] & 15;
        case 8: return static_cast<int>(r[x]);
        default: return r[3 * x] == 0x56 ? 1 : 0;
      }
    };
    const int expected[4][6] = {{0, 0, 1, 1, 0, 0}, {0, 0, 1, 1, 0, 0}, {1, 1, 1, 1, 0, 0}, {1, 1, 1, 1, 0, 0}};
    for (int y = 0; y < 4; ++y) {
      for (int x = 0; x < 6; ++x) EXPECT_EQ(value(x, y), expected[y][x]) << "x " << x << " y " << y;
    }
    EXPECT_EQ(dib.ResizeImage({0, 4}), 0);
  }
}

TEST(CDibClass, RunTimeClassNamesAndBaseLinks) {
  CDib dib;
  CJpeg jpeg;
  CDibFilterHalftone halftone(&dib, 1);
  EXPECT_STREQ(dib.GetRuntimeClass()->m_lpszClassName, "CDib");
  EXPECT_STREQ(jpeg.GetRuntimeClass()->m_lpszClassName, "CJpeg");
  EXPECT_TRUE(dib.IsKindOf(&CImage::classCImage));
  EXPECT_FALSE(dib.IsKindOf(&CJpeg::classCJpeg));
  EXPECT_EQ(jpeg.GetImageType(), kImageTypeJpeg);
  EXPECT_STREQ(halftone.GetRuntimeClass()->m_lpszClassName, "CDibFilterHalftone");
  EXPECT_TRUE(halftone.IsKindOf(&CDibFilter::classCDibFilter));
  EXPECT_FALSE(halftone.IsKindOf(&CDibFilterRed::classCDibFilterRed));
}

TEST(CImageFilters, AddFindAndRemoveById) {
  CDib dib;
  dib.AddFilter(nullptr);
  dib.AddFilter(new CDibFilterRed(&dib, 3));
  dib.AddFilter(std::make_unique<CDibFilterGrayScale>(&dib, 3));
  EXPECT_TRUE(dib.RemoveFilter(3));
  EXPECT_TRUE(dib.RemoveFilter(3));
  EXPECT_FALSE(dib.RemoveFilter(3));
  EXPECT_EQ(dib.ApplayFilter(3), 0);
}

}  // namespace
}  // namespace imaging
