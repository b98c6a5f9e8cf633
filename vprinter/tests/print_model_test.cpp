// What lands on the paper: styles, sizes, alignment, feeds, cuts, images, page mode, rotation and
// bar codes that decode back from the printed dots, for the sequences the service object sends.
#include "print_model.h"

#include <gtest/gtest.h>
#include <png.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <utility>

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
box ink(const bitmap& b, int from_row = 0, int to_row = 1 << 30) {
  box r;
  for (int y = std::max(from_row, 0); y < std::min(to_row, b.height()); ++y)
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

// Sends `data` in writes of at most `chunk` bytes, as a host writing in pieces does.
void send_in_pieces(virtual_printer& p, std::string_view data, std::size_t chunk) {
  while (!data.empty()) {
    const auto piece = data.substr(0, chunk);
    ASSERT_EQ(p.accept(piece).accepted, piece.size());
    data.remove_prefix(piece.size());
  }
}

std::string le16(int v) { return {static_cast<char>(v & 0xFF), static_cast<char>((v >> 8) & 0xFF)}; }
std::string byte(int v) { return std::string(1, static_cast<char>(v)); }

// A picture with a frame, a diagonal and a pseudo-random fill, `width` x `height` dots.
bitmap test_picture(int width, int height, unsigned seed) {
  bitmap pic(width, height);
  unsigned r = seed;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      r = r * 1103515245u + 12345u;
      const bool frame = x == 0 || y == 0 || x == width - 1 || y == height - 1;
      if (frame || x == y || ((r >> 16) & 3) == 0) pic.set(x, y);
    }
  return pic;
}

// The picture as GS v 0 data: rows top first, the left dot of each byte in its high bit.
std::string raster_bytes(const bitmap& pic) {
  const int x = (pic.width() + 7) / 8;
  std::string out(static_cast<std::size_t>(x * pic.height()), '\0');
  for (int row = 0; row < pic.height(); ++row)
    for (int col = 0; col < pic.width(); ++col)
      if (pic.get(col, row)) out[static_cast<std::size_t>(row * x + col / 8)] |= static_cast<char>(0x80 >> (col % 8));
  return out;
}

// The picture in column form as FS q takes it: dot columns from the left, each from the top down,
// eight dots to a byte with the top dot in the high bit, the last byte padded with white.
std::string column_bytes(const bitmap& pic) {
  const int x = (pic.width() + 7) / 8, y = (pic.height() + 7) / 8;
  std::string out;
  for (int col = 0; col < x * 8; ++col)
    for (int k = 0; k < y; ++k) {
      int b = 0;
      for (int bit = 0; bit < 8; ++bit)
        if (pic.get(col, k * 8 + bit)) b |= 0x80 >> bit;
      out += static_cast<char>(b);
    }
  return out;
}

// Dots where the paper at (x0, y0) differs from `expected` over the whole of `expected`.
int differences(const bitmap& paper, int x0, int y0, const bitmap& expected) {
  int n = 0;
  for (int y = 0; y < expected.height(); ++y)
    for (int x = 0; x < expected.width(); ++x) n += paper.get(x0 + x, y0 + y) != expected.get(x, y);
  return n;
}

// The rows of the paper from `y0` on, as a bitmap of their own.
bitmap rows_from(const bitmap& paper, int y0) {
  bitmap out(paper.width(), std::max(paper.height() - y0, 0));
  for (int y = 0; y < out.height(); ++y)
    for (int x = 0; x < out.width(); ++x)
      if (paper.get(x, y0 + y)) out.set(x, y);
  return out;
}

// A GS k command as the service object sends it, with the data it must read back as.
struct kit_barcode {
  const char* name;
  detail::symbology sym;
  std::string command;
  std::string decoded;  // as the symbology's decoder reads it; value lists for Code 93 and 128
};

std::vector<kit_barcode> kit_barcodes() {
  using detail::symbology;
  return {
      {"UPC-A", symbology::upc_a, bytes("1D 6B 41 0C") + "036000291452", "0036000291452"},
      {"EAN-13 of twelve digits", symbology::ean13, bytes("1D 6B 43 0C") + "400638133393", "4006381333931"},
      {"EAN-13 of thirteen digits", symbology::ean13, bytes("1D 6B 43 0D") + "4006381333931", "4006381333931"},
      {"JAN-8", symbology::ean8, bytes("1D 6B 44 07") + "9638507", "96385074"},
      {"UPC-E", symbology::upc_e, bytes("1D 6B 42 0B") + "01200000345", "01234505"},
      {"ITF", symbology::itf, bytes("1D 6B 46 0A") + "1234567890", "1234567890"},
      {"CODABAR", symbology::codabar, bytes("1D 6B 47 07") + "A40156B", "A40156B"},
      {"Code 39", symbology::code39, bytes("1D 6B 45 05") + "AB-12", "*AB-12*"},
      {"Code 93", symbology::code93, bytes("1D 6B 48 03") + "Ab1", "10 46 11 1"},
      {"Code 128", symbology::code128, bytes("1D 6B 49 06 7B 42 41 42 31 32"), "104 33 34 17 18"},
  };
}

std::string joined(const std::vector<int>& values) {
  std::string out;
  for (int v : values) out += (out.empty() ? "" : " ") + std::to_string(v);
  return out;
}

// Decodes bar and space widths in dots (bar first) printed with module width `module`.
std::string read_symbol(detail::symbology sym, const std::vector<int>& dots, int module) {
  using detail::symbology;
  const auto modules = detail::to_modules(dots, module);
  const auto narrow_wide = detail::to_narrow_wide(dots, module);
  switch (sym) {
    case symbology::upc_a:
    case symbology::ean13: return detail::decode_ean13(modules);
    case symbology::ean8: return detail::decode_ean8(modules);
    case symbology::upc_e: return detail::decode_upce(modules);
    case symbology::itf: return detail::decode_itf(narrow_wide);
    case symbology::codabar: return detail::decode_codabar(narrow_wide);
    case symbology::code39: return detail::decode_code39(narrow_wide);
    case symbology::code93: return joined(detail::decode_code93(modules));
    case symbology::code128: return joined(detail::decode_code128(modules));
  }
  return {};
}

std::vector<int> reversed(std::vector<int> v) {
  std::reverse(v.begin(), v.end());
  return v;
}

// The rows [first, last] through the bars of the one symbol on the paper: rows with many runs,
// all alike (a row through text has as many runs, but not the same ones ten rows further on).
std::pair<int, int> bar_rows(const bitmap& b) {
  int first = test::first_row_with_runs(b, 0, 20);
  while (first >= 0 && test::runs_along_row(b, first) != test::runs_along_row(b, first + 10))
    first = test::first_row_with_runs(b, first + 1, 20);
  if (first < 0) return {-1, -1};
  const auto runs = test::runs_along_row(b, first);
  int last = first;
  while (last + 1 < b.height() && test::runs_along_row(b, last + 1) == runs) ++last;
  return {first, last};
}

// Where the logical dot (u along the line, v down from the first line) of a page-mode print area
// of dx x dy dots lands in the area for each ESC T direction: 0 reads left to right from the upper
// left, 1 bottom to top from the lower left, 2 right to left (upside down) from the lower right,
// 3 top to bottom from the upper right.
std::pair<int, int> on_page(int direction, int u, int v, int dx, int dy) {
  switch (direction) {
    case 1: return {v, dy - 1 - u};
    case 2: return {dx - 1 - u, dy - 1 - v};
    case 3: return {dx - 1 - v, u};
    default: return {u, v};
  }
}

// Dots where the page-mode paper differs from `line` (a standard-mode print of the same data),
// put with its top on logical row `top` of the area and turned for `direction`.
int turned_differences(const bitmap& paper, const bitmap& line, int top, int direction, int dx, int dy) {
  int n = 0;
  const box b = ink(line);
  for (int v = 0; v <= b.y1; ++v)
    for (int u = 0; u < std::min(line.width(), (direction & 1) ? dy : dx); ++u) {
      const auto [x, y] = on_page(direction, u, top + v, dx, dy);
      n += paper.get(x, y) != line.get(u, v);
    }
  return n;
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

TEST(VprinterPrintImages, RasterPictureLandsDotForDotAtItsAlignment) {
  // 100 x 50 dots: 13 bytes a row, the last byte of each row using its top four bits only.
  const bitmap pic = test_picture(100, 50, 7);
  const std::string data = raster_bytes(pic);
  ASSERT_EQ(data.size(), 650u);
  struct align_case {
    const char* name;
    const char* command;
    int x0;  // where the picture's left edge lands: alignment works on all 13 x 8 dots
  };
  const align_case cases[] = {
      {"left", "1B 61 30", 0},
      {"centre", "1B 61 31", (576 - 104) / 2},
      {"right", "1B 61 32", 576 - 104},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    virtual_printer p;
    talk(p, bytes(c.command) + bytes("1D 76 30 00 0D 00 32 00"));
    send_in_pieces(p, data, 13 * 24);  // 24 dot rows a write
    talk(p, bytes("1B 61 30") + "after\n");
    const bitmap paper = p.paper();
    EXPECT_EQ(differences(paper, c.x0, 0, pic), 0);
    EXPECT_EQ(paper.count(0, 0, 576, 50), pic.count());  // nothing else beside the picture
    EXPECT_LT(ink(paper, 50).x0, 12) << "left alignment is back for the next line";
  }
}

TEST(VprinterPrintImages, StoredPicturesPrintAsTheSameBitsSentAsRaster) {
  const bitmap logo = test_picture(100, 50, 7);   // 13 x 7 bytes: rows padded to 56
  const bitmap stamp = test_picture(64, 20, 11);  // 8 x 3 bytes
  virtual_printer p;
  // Defined as the service object writes it: the count, then for each image its header on its
  // own and the column data in pieces of x * 24 bytes.
  talk(p, bytes("1C 71 02"));
  for (const bitmap* pic : {&logo, &stamp}) {
    const int x = (pic->width() + 7) / 8, y = (pic->height() + 7) / 8;
    talk(p, le16(x) + le16(y));
    send_in_pieces(p, column_bytes(*pic), static_cast<std::size_t>(x) * 24);
  }
  EXPECT_EQ(p.state().stored_images, 2);
  EXPECT_EQ(p.paper().height(), 0) << "defining prints nothing";

  struct stored_case {
    const char* name;
    int image;
    int alignment;
  };
  const stored_case cases[] = {
      {"image 1 left", 1, 0}, {"image 1 centred", 1, 1}, {"image 2 right", 2, 2}, {"image 2 centred", 2, 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const bitmap& pic = c.image == 1 ? logo : stamp;
    const int y0 = p.paper().height();
    talk(p, bytes("1B 61") + byte('0' + c.alignment) + bytes("1C 70") + byte(c.image) + byte(0) + bytes("1B 61 30"));
    const bitmap stored = rows_from(p.paper(), y0);
    const bitmap raster = print(bytes("1B 61") + byte('0' + c.alignment) + bytes("1D 76 30 00") +
                                le16((pic.width() + 7) / 8) + le16(pic.height()) + raster_bytes(pic));
    ASSERT_GT(raster.count(), 0);
    EXPECT_EQ(stored.height(), (pic.height() + 7) / 8 * 8);  // the stored rows are whole bytes
    EXPECT_EQ(differences(stored, 0, 0, raster), 0);
    EXPECT_EQ(stored.count(), raster.count());
  }

  // FS q 0 forgets every image; FS p then prints nothing and says so.
  talk(p, bytes("1C 71 00"));
  EXPECT_EQ(p.state().stored_images, 0);
  const int before = p.paper().height();
  talk(p, bytes("1C 70 01 00"));
  EXPECT_EQ(p.paper().height(), before);
  EXPECT_NE(p.log().back().text.find("no such stored image"), std::string::npos);
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

TEST(VprinterPrintPageMode, BarcodeInATurnedPageRunsDownThePaper) {
  // The print area as the service object sets it: motion units 1/180 in across and 1/104 in
  // along the paper; 512 / 180 in is 577 dots, cut to the paper's 576; 208 / 104 in is 406 dots.
  // GS \ counts in the horizontal unit when the lines run along the paper: it sets the
  // symbol's bottom, 200 / 180 in = 226 dots (or 109 / 180 in = 123 dots) from the area's edge.
  const int dx = 576, dy = 406;
  struct turn_case {
    const char* name;
    int direction;
    int gs_backslash;
    int base;          // dots
    bool top_down;     // the symbol reads from the top of the paper down
  };
  const turn_case cases[] = {
      {"ESC T 3 reads top down", 3, 200, 226, true},
      {"ESC T 1 reads bottom up", 1, 200, 226, false},
      {"a baseline too near the edge cuts the bars short", 3, 109, 123, true},
  };
  for (const auto& c : cases)
    for (const auto& k : kit_barcodes()) {
      SCOPED_TRACE(std::string(c.name) + ", " + k.name);
      const std::string symbol = bytes("1D 48 32 1D 68 A2 1D 77 02") + k.command;
      const bitmap upright = print(symbol);  // left aligned in standard mode
      virtual_printer p;
      // ESC T with the direction as a digit character, as the service object sends it.
      talk(p, bytes("1B 4C 1D 50 B4 68 1B 57 00 00 00 00 00 02 D0 00 1B 54") + byte('0' + c.direction) +
                  bytes("1D 5C") + le16(c.gs_backslash) + symbol);
      EXPECT_EQ(p.paper().count(), 0) << "page data prints only at FF";
      talk(p, bytes("0C"));
      EXPECT_FALSE(p.state().page_mode);
      const bitmap paper = p.paper();
      const int top = c.base - upright.height();
      // Every dot of the symbol (bars and text) is the upright one turned, where it fits the area.
      int wrong = 0, fitting = 0;
      for (int v = 0; v < upright.height(); ++v)
        for (int u = 0; u < 576; ++u) {
          if (top + v < 0) continue;
          const auto [x, y] = on_page(c.direction, u, top + v, dx, dy);
          wrong += paper.get(x, y) != upright.get(u, v);
          fitting += upright.get(u, v);
        }
      EXPECT_EQ(wrong, 0);
      EXPECT_EQ(paper.count(), fitting);
      bool clipped = false;
      for (const auto& e : p.log()) clipped |= e.text.find("outside the print area") != std::string::npos;
      EXPECT_EQ(clipped, top < 0);
      // A column through the bars (many runs, the same ten columns on; not the turned text)
      // decodes, read the way the symbol runs.
      int column = -1;
      for (int x = 0; x + 10 < paper.width() && column < 0; ++x) {
        const auto runs = test::runs_along_column(paper, x);
        if (runs.size() >= 20 && runs == test::runs_along_column(paper, x + 10)) column = x;
      }
      ASSERT_GE(column, 0) << "no bars down the paper";
      const auto runs = test::runs_along_column(paper, column);
      EXPECT_EQ(read_symbol(k.sym, c.top_down ? runs : reversed(runs), 2), k.decoded);
    }
}

TEST(VprinterPrintPageMode, SidewaysBlockIsTheStandardLinesTurned) {
  // The print area of a turned receipt: 512 x 1662 in the default motion units (one dot each).
  const int dx = 512, dy = 1662;
  const std::string area = bytes("1B 4C 1B 57 00 00 00 00 00 02 7E 06");
  struct styled_line {
    std::string before, text, after;
    int top;  // logical row of the line's top on the page
  };
  // Baselines: 24; +30 = 54; +30 = 84, too near for a 48-dot line, which stands on 54 + 48 = 102;
  // +30 and ESC J 40 = 172.
  const styled_line lines[] = {
      {"", "Sideways receipt, first line", "", 0},
      {bytes("1B 47 01"), "Bold line", bytes("1B 47 00"), 30},
      {bytes("1D 21 11"), "Big", bytes("1D 21 00"), 102 - 48},
      {"", "last", "", 172 - 24},
  };
  std::string block;
  for (std::size_t i = 0; i < std::size(lines); ++i) {
    block += lines[i].before + lines[i].text + "\r\n" + lines[i].after;
    if (i == 2) block += bytes("1B 4A 28");
  }
  struct direction_case {
    const char* name;
    int direction;
    const char* finish;  // what the service object sends after FF
  };
  const direction_case cases[] = {
      {"left: bottom to top", 1, "1B 56 30"},
      {"right: top to bottom", 3, "1B 56 30"},
      {"upside down", 2, "1B 7B 00"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    virtual_printer p;
    talk(p, area + bytes("1B 54") + byte(c.direction) + block);
    EXPECT_EQ(p.paper().count(), 0) << "page data prints only at FF";
    talk(p, bytes("0C") + bytes(c.finish));
    const bitmap paper = p.paper();
    int expected_ink = 0;
    for (const auto& l : lines) {
      const bitmap upright = print(l.before + l.text + "\n");
      expected_ink += upright.count();
      EXPECT_EQ(turned_differences(paper, upright, l.top, c.direction, dx, dy), 0) << l.text;
    }
    EXPECT_EQ(paper.count(), expected_ink) << "ink beyond the four lines";
    const box b = ink(paper);
    if (c.direction != 2) {
      EXPECT_GT(b.height(), 2 * b.width()) << "not a tall, narrow block";
    }
    EXPECT_FALSE(p.state().page_mode);
    // Standard mode goes on upright after the block.
    const int y0 = paper.height();
    talk(p, "after\n");
    EXPECT_EQ(differences(rows_from(p.paper(), y0), 0, 0, print("after\n")), 0);
  }
  // ESC S instead of FF leaves page mode and drops the page.
  virtual_printer p;
  talk(p, area + bytes("1B 54 01") + block + bytes("1B 53 1B 56 30"));
  EXPECT_EQ(p.paper().count(), 0);
  EXPECT_FALSE(p.state().page_mode);
}

TEST(VprinterPrintRotation, UpsideDownLinesAreTurnedFromTheStartOfALine) {
  struct line_case {
    const char* text;
    bool turned;
  };
  const line_case lines[] = {{"first line", true}, {"second", true}, {"upright again", false}};
  virtual_printer p;
  talk(p, bytes("1B 7B 01") + "first line\r\nsecond\r\n" + bytes("1B 7B 00") + "upright again\n");
  const bitmap paper = p.paper();
  for (std::size_t i = 0; i < std::size(lines); ++i) {
    SCOPED_TRACE(lines[i].text);
    const bitmap upright = print(std::string(lines[i].text) + "\n");
    const int y0 = static_cast<int>(i) * 30;
    int wrong = 0;
    for (int y = 0; y < 24; ++y)
      for (int x = 0; x < 576; ++x)
        wrong += paper.get(x, y0 + y) != (lines[i].turned ? upright.get(575 - x, 23 - y) : upright.get(x, y));
    EXPECT_EQ(wrong, 0);
  }
  // In the middle of a line ESC { changes nothing, neither this line nor the next.
  virtual_printer mid;
  talk(mid, "ab" + bytes("1B 7B 01") + "cd\nef\n");
  EXPECT_EQ(mid.paper().dots(), print("abcd\nef\n").dots());
  EXPECT_FALSE(mid.state().upside_down);
  ASSERT_FALSE(mid.log().empty());
  EXPECT_EQ(mid.log().back().what, log_entry::kind::ignored);
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

TEST(VprinterPrintBarcodes, KitSequencesDecodeFromThePaperCentred) {
  for (const auto& c : kit_barcodes())
    for (int module : {2, 3}) {
      SCOPED_TRACE(std::string(c.name) + ", module " + std::to_string(module));
      // Centred, text below, 162 dots high, then left alignment again.
      const bitmap b = print(bytes("1B 61 31 1D 48 32 1D 68 A2 1D 77") + byte(module) + c.command + bytes("1B 61 30"));
      const auto [first, last] = bar_rows(b);
      ASSERT_GE(first, 0) << "no bars on the paper";
      EXPECT_EQ(first, 0);
      EXPECT_EQ(last - first + 1, 162);
      EXPECT_EQ(read_symbol(c.sym, test::runs_along_row(b, first), module), c.decoded);
      const box bars = ink(b, first, last + 1);
      EXPECT_NEAR(bars.cx(), 287.5, 1.5);
    }
}

TEST(VprinterPrintBarcodes, AlignmentPlacesTheSymbol) {
  struct align_case {
    const char* name;
    const char* command;
    double centre;
  };
  const int w = 95 * 3;  // UPC-A with module 3
  const align_case cases[] = {
      {"left", "1B 61 30", (w - 1) / 2.0},
      {"centre", "1B 61 31", 287.5},
      {"right", "1B 61 32", 575 - (w - 1) / 2.0},
  };
  for (const auto& c : cases) {
    const bitmap b = print(bytes(c.command) + bytes("1D 48 32 1D 77 03 1D 6B 41 0C") + "036000291452");
    const auto [first, last] = bar_rows(b);
    ASSERT_GE(first, 0) << c.name;
    const box bars = ink(b, first, last + 1);
    EXPECT_EQ(bars.width(), w) << c.name;
    EXPECT_NEAR(bars.cx(), c.centre, 1.0) << c.name;
  }
}

TEST(VprinterPrintBarcodes, HriTextGoesWhereAskedAndShowsTheDigits) {
  const std::string digits = "036000291452";
  const bitmap text = print(digits + "\n");  // the digits in font A, as a text line prints them
  const box tb = ink(text);
  bitmap glyphs(tb.width(), tb.height());
  for (int y = 0; y < tb.height(); ++y)
    for (int x = 0; x < tb.width(); ++x)
      if (text.get(tb.x0 + x, tb.y0 + y)) glyphs.set(x, y);

  struct hri_case {
    const char* name;
    const char* gs_h;
    bool above;
    bool below;
  };
  const hri_case cases[] = {
      {"none", "1D 48 30", false, false},
      {"above", "1D 48 31", true, false},
      {"below", "1D 48 32", false, true},
      {"above and below", "1D 48 33", true, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const bitmap b = print(bytes("1B 61 31") + bytes(c.gs_h) + bytes("1D 68 A2 1D 77 03 1D 6B 41 0C") + digits +
                           bytes("1B 61 30"));
    const auto [first, last] = bar_rows(b);
    ASSERT_GE(first, 0);
    EXPECT_EQ(last - first + 1, 162);
    const box bars = ink(b, first, last + 1);
    for (bool above : {true, false}) {
      const box t = above ? ink(b, 0, first) : ink(b, last + 1);
      const bool wanted = above ? c.above : c.below;
      EXPECT_EQ(t.x1 >= 0, wanted) << (above ? "above" : "below");
      if (!wanted || t.x1 < 0) continue;
      // The text is the digits in font A, centred on the bars.
      EXPECT_EQ(differences(b, t.x0, t.y0, glyphs), 0) << (above ? "above" : "below");
      EXPECT_NEAR(t.cx(), bars.cx(), 6.0);
    }
  }
}

TEST(VprinterPrintBarcodes, UpsideDownSymbolIsTurnedAndReadsRightToLeft) {
  const std::string setup = bytes("1B 61 31 1D 48 32 1D 68 A2 1D 77 03");
  for (const auto& c : kit_barcodes()) {
    SCOPED_TRACE(c.name);
    const bitmap upright = print(setup + c.command + bytes("1B 61 30"));
    const bitmap turned = print(bytes("1B 7B 01") + setup + c.command + bytes("1B 61 30 1B 7B 00"));
    ASSERT_EQ(turned.height(), upright.height());
    int wrong = 0;
    for (int y = 0; y < turned.height(); ++y)
      for (int x = 0; x < 576; ++x) wrong += turned.get(x, y) != upright.get(575 - x, turned.height() - 1 - y);
    EXPECT_EQ(wrong, 0) << "not the upright symbol turned half round";
    // The text now stands above the bars; the bars read backwards.
    const auto [first, last] = bar_rows(turned);
    ASSERT_GT(first, 0);
    EXPECT_EQ(last, turned.height() - 1);
    EXPECT_EQ(read_symbol(c.sym, reversed(test::runs_along_row(turned, first)), 3), c.decoded);
  }
  // The next line, after ESC { 0, is upright again.
  const bitmap after = print(bytes("1B 7B 01") + setup + kit_barcodes()[0].command + bytes("1B 61 30 1B 7B 00") + "after\n");
  const bitmap plain = print("after\n");
  EXPECT_EQ(differences(after, 0, after.height() - plain.height(), plain), 0);
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

// A logo-like picture: a ring, a bar and stripes, `width` x `height` dots.
bitmap logo_picture(int width, int height) {
  bitmap pic(width, height);
  const int r = height / 2 - 2, cx = r + 2, cy = height / 2;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const int d2 = (x - cx) * (x - cx) + (y - cy) * (y - cy);
      const bool ring = d2 <= r * r && d2 >= (r - 10) * (r - 10);
      const bool bar = x > 2 * r + 12 && y > cy - 8 && y < cy + 8;
      const bool stripes = x > 2 * r + 12 && (x + y) % 16 < 5 && (y < cy - 16 || y > cy + 16);
      if (ring || bar || stripes) pic.set(x, y);
    }
  return pic;
}

TEST(VprinterPrintReceipt, EverySortOfOutputOnOneReceipt) {
  virtual_printer p;
  const bitmap logo = logo_picture(240, 96);
  const bitmap stamp = test_picture(96, 40, 3);
  const int sx = stamp.width() / 8, sy = (stamp.height() + 7) / 8;
  // Stored image first (as SetBitmap does), then the receipt.
  talk(p, bytes("1B 40 1C 71 01") + le16(sx) + le16(sy));
  send_in_pieces(p, column_bytes(stamp), static_cast<std::size_t>(sx) * 24);
  talk(p, bytes("1B 61 31 1D 76 30 00") + le16(logo.width() / 8) + le16(logo.height()));
  send_in_pieces(p, raster_bytes(logo), static_cast<std::size_t>(logo.width() / 8) * 24);
  talk(p, bytes("1B 61 30 1B 61 31 1D 21 11") + "KORVANE STORE\n" + bytes("1D 21 00 1B 61 30") +
              "Coffee                      2.50\n"
              "Croissant                   1.80\n" +
              bytes("1B 45 01") + "TOTAL                       4.30\n" + bytes("1B 45 00"));
  talk(p, bytes("1B 61 32 1C 70 01 00 1B 61 30"));
  const int upc_y = p.paper().height();
  talk(p, bytes("1B 61 31 1D 48 32 1D 68 A2 1D 77 03 1D 6B 41 0C") + "036000291452" + bytes("1B 61 30"));
  const int c128_y = p.paper().height();
  talk(p, bytes("1B 61 31 1D 48 32 1D 68 50 1D 77 02 1D 6B 49 06 7B 42 41 42 31 32 1B 61 30"));
  talk(p, bytes("1B 4C 1B 57 00 00 00 00 00 02 7E 06 1B 54 03") + "Sideways: turned right\r\n" +
              bytes("1B 47 01") + "Page mode, ESC T 3\r\n" + bytes("1B 47 00 0C 1B 56 30"));
  talk(p, bytes("1B 7B 01") + "Upside-down line\n" + bytes("1B 7B 00"));
  // Bar codes upside down and in a page turned left, as the service object sends them.
  talk(p, bytes("1B 61 31 1B 7B 01 1D 48 32 1D 68 50 1D 77 02 1D 6B 49 06 7B 42 41 42 31 32 1B 61 30 1B 7B 00"));
  talk(p, bytes("1B 4C 1D 50 B4 68 1B 57 00 00 00 00 00 02 D0 00 1B 54 01 1D 5C C8 00 1D 48 32 1D 68 50 1D 77 02"
                "1D 6B 45 05") + "AB-12" + bytes("0C"));
  talk(p, "Thank you\n" + bytes("1D 56 42 00"));
  EXPECT_EQ(p.unknown_count(), 0u);
  for (const auto& e : p.log()) EXPECT_NE(e.what, log_entry::kind::ignored) << e.text;
  EXPECT_EQ(p.state().cuts, 1);

  const bitmap paper = p.paper();
  EXPECT_EQ(differences(paper, (576 - logo.width()) / 2, 0, logo), 0);
  EXPECT_EQ(paper.count(0, 0, 576, logo.height()), logo.count());
  const bitmap upc = rows_from(paper, upc_y), c128 = rows_from(paper, c128_y);
  EXPECT_EQ(read_symbol(detail::symbology::upc_a, test::runs_along_row(upc, bar_rows(upc).first), 3), "0036000291452");
  EXPECT_EQ(read_symbol(detail::symbology::code128, test::runs_along_row(c128, bar_rows(c128).first), 2),
            "104 33 34 17 18");

  platform::testing::temp_dir dir;
  std::string error;
  EXPECT_TRUE(p.write_png(dir / "receipt.png", &error)) << error;
  // A person can look at the receipt: VPRINTER_RECEIPT_PNG names a file to keep it in.
  if (const char* keep = std::getenv("VPRINTER_RECEIPT_PNG")) {
    EXPECT_TRUE(p.write_png(keep, &error)) << error;
  }
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
