// What lands on the paper: styles, sizes, alignment, feeds, cuts, images, page mode, rotation and
// bar codes that decode back from the printed dots.
#include "print_model.h"

#include <gtest/gtest.h>
#include <png.h>

#include <algorithm>
#include <cstdio>

#include "decoders.h"
#include "platform/testing/temp_dir.h"
#include "test_util.h"

namespace vprinter {
namespace {

using test::bytes;
using test::talk;

// Ink bounding box of the paper.
struct box {
  int x0 = 1 << 30, y0 = 1 << 30, x1 = -1, y1 = -1;
  int width() const { return x1 - x0 + 1; }
  int height() const { return y1 - y0 + 1; }
  double cx() const { return (x0 + x1) / 2.0; }
};
box ink(const bitmap& b) {
  box r;
  for (int y = 0; y < b.height(); ++y)
    for (int x = 0; x < b.width(); ++x)
      if (b.get(x, y)) {
        r.x0 = std::min(r.x0, x);
        r.x1 = std::max(r.x1, x);
        r.y0 = std::min(r.y0, y);
        r.y1 = std::max(r.y1, y);
      }
  return r;
}

bitmap print(std::string_view data, config c = {}) {
  virtual_printer p(c);
  talk(p, data);
  return p.paper();
}

TEST(VprinterPrintStyles, EachStyleChangesTheInkAsItShould) {
  const bitmap plain = print("Hamburg 42\n");
  const box pb = ink(plain);
  ASSERT_GT(plain.count(), 100);

  const bitmap bold = print(bytes("1B 45 01") + "Hamburg 42\n");
  EXPECT_GT(bold.count(), plain.count() * 5 / 4);
  const bitmap strike = print(bytes("1B 47 01") + "Hamburg 42\n");
  EXPECT_EQ(strike.count(), bold.count());

  const box big = ink(print(bytes("1D 21 11") + "Hamburg 42\n"));
  EXPECT_NEAR(big.width(), 2 * pb.width(), 2);
  EXPECT_NEAR(big.height(), 2 * pb.height(), 2);
  const box wide = ink(print(bytes("1D 21 20") + "Hamburg 42\n"));
  EXPECT_NEAR(wide.width(), 3 * pb.width(), 3);
  EXPECT_EQ(wide.height(), pb.height());

  // Underline: a solid row across the whole text under the characters.
  const bitmap under = print(bytes("1B 2D 02") + "Hamburg 42\n");
  const box ub = ink(under);
  EXPECT_EQ(under.count(0, ub.y1, 576, ub.y1 + 1), 10 * 12);
  EXPECT_EQ(under.count(0, ub.y1 - 1, 576, ub.y1), 10 * 12);

  // Reverse: the cells are black with white letters.
  const bitmap rev = print(bytes("1D 42 01") + "Hamburg 42\n");
  EXPECT_EQ(rev.count(), 10 * 12 * 24 - plain.count());

  // Font B is smaller than font A.
  const box fb = ink(print(bytes("1B 4D 01") + "Hamburg 42\n"));
  EXPECT_LT(fb.width(), pb.width());
  EXPECT_LT(fb.height(), pb.height());
  // ESC ! sets font, emphasis and sizes in one byte.
  const box bang = ink(print(bytes("1B 21 30") + "Hamburg 42\n"));
  EXPECT_NEAR(bang.width(), 2 * pb.width(), 2);
}

TEST(VprinterPrintLayout, AlignmentPlacesTheLine) {
  struct align_case {
    const char* name;
    const char* command;
    double centre;
  };
  const int w = 6 * 12;  // six characters of font A
  const align_case cases[] = {
      {"left", "1B 61 00", w / 2.0},
      {"centre", "1B 61 01", 288.0},
      {"right", "1B 61 32", 576 - w / 2.0},
  };
  for (const auto& c : cases) {
    const box b = ink(print(bytes(c.command) + "MMMMMM\n"));
    EXPECT_NEAR(b.cx(), c.centre, 4.0) << c.name;
  }
  // A left margin moves left-aligned text.
  const box m = ink(print(bytes("1D 4C 64 00") + "MMMMMM\n"));
  EXPECT_GE(m.x0, 100);
}

TEST(VprinterPrintLayout, FeedsMoveThePaperByTheirAmount) {
  struct feed_case {
    const char* name;
    std::string data;
    int height;  // paper length after the data
  };
  const feed_case cases[] = {
      {"LF feeds the default line spacing", "\n", 30},
      {"ESC 3 sets the spacing", bytes("1B 33 50 0A 0A"), 160},
      {"ESC 2 restores it", bytes("1B 33 50 1B 32 0A"), 30},
      {"ESC J feeds dots", bytes("1B 4A 64"), 100},
      {"ESC d feeds lines", bytes("1B 64 03"), 90},
      {"a text line is never shorter than its characters", bytes("1B 33 05") + "x\n", 24},
      {"motion units scale feeds", bytes("1D 50 00 66 1B 4A 33"), 102},
  };
  for (const auto& c : cases) EXPECT_EQ(print(c.data).height(), c.height) << c.name;
}

TEST(VprinterPrintLayout, LongLinesWrapAndTabsJump) {
  const bitmap wrapped = print(std::string(60, 'M') + "\n");
  EXPECT_EQ(wrapped.height(), 60);  // 48 characters fit on a line of font A
  const box tabbed = ink(print(bytes("09") + "M\n"));
  EXPECT_GE(tabbed.x0, 96);
  EXPECT_LT(tabbed.x0, 108);
}

TEST(VprinterPrintCuts, CutsLeaveADashedLine) {
  virtual_printer p;
  talk(p, "before\n" + bytes("1D 56 42 0A") + "after\n" + bytes("1D 56 00"));
  EXPECT_EQ(p.state().cuts, 2);
  const bitmap b = p.paper();
  // The partial cut is 10 dots below the first line and leaves the middle uncut.
  const int y = 30 + 10;
  EXPECT_GT(b.count(0, y, 200, y + 1), 100);
  EXPECT_EQ(b.count(270, y, 306, y + 1), 0);
  const int y2 = b.height() - 4;
  EXPECT_GT(b.count(270, y2, 306, y2 + 2), 0);  // the full cut goes across
}

TEST(VprinterPrintImages, RasterAndStoredImagesKeepEveryDot) {
  // 16 x 3 raster: a checker of bytes.
  const std::string data = bytes("F0 0F 0F F0 AA 55");
  const bitmap r = print(bytes("1D 76 30 00 02 00 03 00") + data);
  ASSERT_EQ(r.height(), 3);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 16; ++x) {
      const int byte = static_cast<unsigned char>(data[static_cast<std::size_t>(y * 2 + x / 8)]);
      EXPECT_EQ(r.get(x, y), ((byte >> (7 - x % 8)) & 1) != 0) << x << "," << y;
    }
  EXPECT_EQ(r.count(16, 0, 576, 3), 0);

  const bitmap quad = print(bytes("1D 76 30 03 02 00 03 00") + data);
  EXPECT_EQ(quad.height(), 6);
  EXPECT_EQ(quad.count(), 4 * r.count());

  // Column form: the first byte of an image is the top 8 dots of its leftmost column.
  const bitmap nv = print(bytes("1C 71 01 01 00 01 00 80 00 00 00 00 00 00 01 1C 70 01 00"));
  EXPECT_EQ(nv.count(), 2);
  EXPECT_TRUE(nv.get(0, 0));
  EXPECT_TRUE(nv.get(7, 7));

  // ESC * 24-dot double density sits in the line: three bytes per column.
  const bitmap bits = print(bytes("1B 2A 21 02 00 FF 00 00 00 00 01 0A"));
  EXPECT_EQ(bits.count(), 9);
  // Alignment applies to images.
  const box centred = ink(print(bytes("1B 61 01 1D 76 30 00 02 00 01 00 FF FF")));
  EXPECT_NEAR(centred.cx(), 288.0, 1.0);
}

TEST(VprinterPrintPageMode, DirectionTurnsThePage) {
  const std::string text = "PAGE MODE TEXT";
  const box d0 = ink(print(bytes("1B 4C") + text + bytes("0C")));
  EXPECT_GT(d0.width(), d0.height());
  // Bottom to top from the lower left: a tall strip at the left.
  const box d1 = ink(print(bytes("1B 4C 1B 54 01") + text + bytes("0C")));
  EXPECT_GT(d1.height(), d1.width());
  EXPECT_LT(d1.x0, 30);
  // Top to bottom from the upper right: a tall strip at the right, from the top.
  const box d3 = ink(print(bytes("1B 4C 1B 54 03") + text + bytes("0C")));
  EXPECT_GT(d3.height(), d3.width());
  EXPECT_GT(d3.x1, 546);
  EXPECT_LT(d3.y0, 5);
  // The print area moves the page's contents.
  const box area = ink(print(bytes("1B 4C 1B 57 64 00 32 00 C8 00 C8 00") + "X" + bytes("0C")));
  EXPECT_GE(area.x0, 100);
  EXPECT_GE(area.y0, 50);
}

TEST(VprinterPrintPageMode, EscSDiscardsThePageAndFfLeavesPageMode) {
  virtual_printer p;
  talk(p, bytes("1B 4C") + "never printed\n" + bytes("1B 53"));
  EXPECT_EQ(p.paper().count(), 0);
  EXPECT_FALSE(p.state().page_mode);
  bool noted = false;
  for (const auto& e : p.log()) noted |= e.text.find("discarded") != std::string::npos;
  EXPECT_TRUE(noted);
  talk(p, bytes("1B 4C") + "printed" + bytes("0C"));
  EXPECT_GT(p.paper().count(), 0);
  EXPECT_FALSE(p.state().page_mode);
  // Zero-sized print areas are refused and leave the area as it was.
  const box b = ink(print(bytes("1B 4C 1B 57 00 00 00 00 00 00 68 00") + "X" + bytes("0C")));
  EXPECT_LT(b.x0, 12);
}

TEST(VprinterPrintRotation, UpsideDownTurnsTheLineAndRotationTurnsCharacters) {
  const bitmap normal = print("Lp\n");
  const bitmap turned = print(bytes("1B 7B 01") + "Lp\n");
  ASSERT_EQ(normal.height(), turned.height());
  for (int y = 0; y < 24; ++y)
    for (int x = 0; x < 576; ++x) ASSERT_EQ(turned.get(x, y), normal.get(575 - x, 23 - y)) << x << "," << y;

  // ESC V turns each character a quarter clockwise: its left edge becomes its top.
  const bitmap upright_l = print("L\n");
  const bitmap turned_l = print(bytes("1B 56 01") + "L\n");
  for (int y = 0; y < 24; ++y)
    for (int x = 0; x < 12; ++x) ASSERT_EQ(turned_l.get(23 - y, x), upright_l.get(x, y)) << x << "," << y;

  const box upright = ink(print("I\n"));
  const box sideways = ink(print(bytes("1B 56 01") + "I\n"));
  EXPECT_GT(upright.height(), upright.width());
  EXPECT_GT(sideways.width(), sideways.height());
}

// Prints a bar code and reads its widths along a row through the bars.
std::vector<int> printed_bars(const std::string& command, int module) {
  const bitmap b = print(bytes("1D 48 02 1D 77") + std::string(1, static_cast<char>(module)) + command);
  const int y = test::first_row_with_runs(b, 0, 20);
  EXPECT_GE(y, 0);
  return y < 0 ? std::vector<int>{} : test::runs_along_row(b, y);
}

TEST(VprinterPrintBarcodes, PrintedBarsDecodeBack) {
  for (int module : {2, 3}) {
    SCOPED_TRACE(module);
    auto ean = detail::to_modules(printed_bars(bytes("1D 6B 43 0C") + "400638133393", module), module);
    EXPECT_EQ(detail::decode_ean13(ean), "4006381333931");
    auto upc = detail::to_modules(printed_bars(bytes("1D 6B 00") + "03600029145" + '\0', module), module);
    EXPECT_EQ(detail::decode_ean13(upc), "0036000291452");
    auto c128 = detail::to_modules(printed_bars(bytes("1D 6B 49 06 7B 42 41 42 31 32"), module), module);
    EXPECT_EQ(detail::decode_code128(c128), (std::vector<int>{104, 33, 34, 17, 18}));
    auto c39 = detail::to_narrow_wide(printed_bars(bytes("1D 6B 45 05") + "AB-12", module), module);
    EXPECT_EQ(detail::decode_code39(c39), "*AB-12*");
  }
}

TEST(VprinterPrintBarcodes, HeightTextPositionAndRefusals) {
  const box plain = ink(print(bytes("1D 68 50 1D 6B 43 0C") + "400638133393"));
  EXPECT_EQ(plain.height(), 80);
  const box below = ink(print(bytes("1D 68 50 1D 48 02 1D 6B 43 0C") + "400638133393"));
  EXPECT_GT(below.height(), 80 + 15);
  EXPECT_EQ(below.y0, plain.y0);
  const box both = ink(print(bytes("1D 68 50 1D 48 03 1D 6B 43 0C") + "400638133393"));
  EXPECT_GT(both.height(), below.height() + 15);

  virtual_printer p;
  talk(p, bytes("1D 6B 41 0A") + "0123456789");  // UPC-A with ten digits
  talk(p, bytes("1D 77 06 1D 6B 49 40 7B 42") + std::string(62, 'W'));  // too wide for the paper
  EXPECT_EQ(p.paper().count(), 0);
  ASSERT_EQ(p.log().size(), 2u);
  EXPECT_NE(p.log()[0].text.find("UPC-A refused"), std::string::npos);
  EXPECT_NE(p.log()[1].text.find("wider"), std::string::npos);
}

TEST(VprinterPrintCodePages, TheCodeTableChoosesTheGlyph) {
  if (!std::filesystem::exists(std::filesystem::path(VPRINTER_FONT_DIR) / "Uni2-Terminus24x12.psf.gz"))
    GTEST_SKIP() << "console-setup-linux fonts missing; the built-in font has ASCII only";
  const bitmap pc437 = print(bytes("80 0A"));   // C cedilla
  const bitmap wpc1252 = print(bytes("1B 74 10 80 0A"));  // euro sign
  const bitmap euro_437 = print(bytes("1B 74 00 45 0A"));  // plain E
  EXPECT_GT(pc437.count(), 0);
  EXPECT_GT(wpc1252.count(), 0);
  EXPECT_NE(pc437.dots(), wpc1252.dots());
  EXPECT_NE(wpc1252.dots(), euro_437.dots());
}

TEST(VprinterPrintTestPage, TestPrintPrintsSeveralLines) {
  virtual_printer p;
  talk(p, bytes("1D 28 41 02 00 31 33"));
  EXPECT_GE(p.state().lines_printed, 8);
  talk(p, bytes("1D 28 41 02 00 31 39"));  // no such pattern
  EXPECT_EQ(p.log().back().what, log_entry::kind::ignored);
}

TEST(VprinterPrintPng, PaperIsWrittenAsPng) {
  platform::testing::temp_dir dir;
  virtual_printer p;
  talk(p, "Receipt\n");
  std::string error;
  ASSERT_TRUE(p.write_png(dir / "paper.png", &error)) << error;
  std::FILE* f = std::fopen((dir / "paper.png").c_str(), "rb");
  ASSERT_NE(f, nullptr);
  unsigned char sig[8] = {};
  EXPECT_EQ(std::fread(sig, 1, 8, f), 8u);
  std::fclose(f);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(sig), 8), "\x89PNG\r\n\x1a\n");
  // Read back, every dot matches the paper: black where the paper has ink.
  png_image img{};
  img.version = PNG_IMAGE_VERSION;
  ASSERT_TRUE(png_image_begin_read_from_file(&img, (dir / "paper.png").c_str()));
  img.format = PNG_FORMAT_GRAY;
  std::vector<unsigned char> grey(PNG_IMAGE_SIZE(img));
  ASSERT_TRUE(png_image_finish_read(&img, nullptr, grey.data(), 0, nullptr));
  const bitmap paper = p.paper();
  ASSERT_EQ(static_cast<int>(img.width), paper.width());
  ASSERT_EQ(static_cast<int>(img.height), paper.height());
  int mismatches = 0;
  for (int y = 0; y < paper.height(); ++y)
    for (int x = 0; x < paper.width(); ++x)
      mismatches += (grey[static_cast<std::size_t>(y) * img.width + static_cast<std::size_t>(x)] == 0) != paper.get(x, y);
  EXPECT_EQ(mismatches, 0);
  EXPECT_FALSE(p.write_png(dir / "no" / "such" / "folder.png", &error));
  EXPECT_FALSE(error.empty());
  // Nothing printed yet is still a valid (blank) image.
  virtual_printer blank;
  EXPECT_TRUE(blank.write_png(dir / "blank.png"));
}

}  // namespace
}  // namespace vprinter
