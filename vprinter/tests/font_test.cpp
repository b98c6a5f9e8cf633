// Console fonts for the character cells, and the built-in font when none can be read.
#include "font.h"

#include <gtest/gtest.h>

#include <fstream>

#include "platform/testing/temp_dir.h"
#include "test_util.h"

namespace vprinter::detail {
namespace {

const std::filesystem::path kFontDir = VPRINTER_FONT_DIR;

int ink(const glyph& g) {
  int n = 0;
  for (auto d : g.dots) n += d;
  return n;
}

TEST(VprinterFont, SystemConsoleFontsFillThePrinterCells) {
  if (!std::filesystem::exists(kFontDir / "Uni2-Terminus24x12.psf.gz")) GTEST_SKIP() << "console-setup-linux fonts missing";
  struct cell_case {
    int w, h;
  };
  for (auto c : {cell_case{12, 24}, cell_case{9, 17}}) {
    auto f = cell_font::for_cell(kFontDir, c.w, c.h);
    EXPECT_FALSE(f->is_built_in()) << f->source();
    EXPECT_EQ(f->cell_width(), c.w);
    EXPECT_EQ(f->cell_height(), c.h);
    const glyph& a = f->find(U'A');
    EXPECT_EQ(a.width, c.w);
    EXPECT_GT(ink(a), 10);
    EXPECT_EQ(ink(f->find(U' ')), 0);
    // Latin and Cyrillic letters of the code pages are in the font; a missing one shows '?'.
    EXPECT_NE(f->find(U'\u00e9').dots, f->find(U'?').dots);
    EXPECT_NE(f->find(U'\u0416').dots, f->find(U'?').dots);
    EXPECT_EQ(f->find(U'\U0001F600').dots, f->find(U'?').dots);
  }
}

TEST(VprinterFont, Psf1AndPsf2FilesAreRead) {
  if (!std::filesystem::exists(kFontDir / "Uni2-Terminus16.psf.gz")) GTEST_SKIP() << "console-setup-linux fonts missing";
  auto psf1 = cell_font::load_psf(kFontDir / "Uni2-Terminus16.psf.gz");
  ASSERT_TRUE(psf1);
  EXPECT_EQ(psf1->cell_width(), 8);
  EXPECT_EQ(psf1->cell_height(), 16);
  auto psf2 = cell_font::load_psf(kFontDir / "Uni2-Terminus24x12.psf.gz");
  ASSERT_TRUE(psf2);
  EXPECT_EQ(psf2->cell_width(), 12);
  EXPECT_EQ(psf2->cell_height(), 24);
}

TEST(VprinterFont, UnusableFilesAreRefused) {
  platform::testing::temp_dir dir;
  {
    std::ofstream(dir / "junk.psf") << "this is not a font";
    std::string truncated = test::bytes("72 B5 4A 86 00 00 00 00 20 00 00 00 00 00 00 00 00 01 00 00 30 00 00 00 18 00 00 00 0C 00 00 00");
    std::ofstream(dir / "short.psf", std::ios::binary) << truncated;
  }
  EXPECT_FALSE(cell_font::load_psf(dir / "junk.psf"));
  EXPECT_FALSE(cell_font::load_psf(dir / "short.psf"));
  EXPECT_FALSE(cell_font::load_psf(dir / "missing.psf"));
}

TEST(VprinterFont, BuiltInFontStandsInWhenNoFontCanBeRead) {
  platform::testing::temp_dir dir;
  auto f = cell_font::for_cell(dir.path() / "nothing-here", 12, 24);
  EXPECT_TRUE(f->is_built_in());
  EXPECT_EQ(f->cell_width(), 12);
  EXPECT_EQ(f->cell_height(), 24);
  EXPECT_GT(ink(f->find(U'A')), 10);
  EXPECT_NE(f->find(U'A').dots, f->find(U'B').dots);
  EXPECT_EQ(f->find(U'\u00e9').dots, f->find(U'?').dots);

  // The printer still prints with it.
  config c;
  c.font_dir = dir.path() / "nothing-here";
  virtual_printer p(c);
  test::talk(p, "Fallback\n");
  EXPECT_GT(p.paper().count(), 50);
}

}  // namespace
}  // namespace vprinter::detail
