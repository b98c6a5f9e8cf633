// bitmap::draw, which lays characters, lines and pictures onto the paper a byte at a time,
// against the same drawing done dot by dot.
#include <gtest/gtest.h>

#include "vprinter/bitmap.h"

namespace vprinter {
namespace {

// A pattern with no two rows alike and dots in every bit position, 13 x 5.
bitmap pattern() {
  bitmap b(13, 5);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 13; ++x)
      if ((x * 7 + y * 3) % 5 < 2 || x == 12 || x == 0) b.set(x, y);
  return b;
}

TEST(VprinterBitmap, DrawMatchesDotByDotAtEveryOffsetAndClipsAtTheEdges) {
  const bitmap src = pattern();
  // Positions within the image at each bit offset, and cut off on each side.
  for (int x = -14; x <= 31; ++x)
    for (int y : {-6, -2, 0, 3, 8, 11}) {
      bitmap got(30, 12);
      got.set(29, 11);  // dots already there stay
      bitmap want = got;
      got.draw(src, x, y);
      for (int sy = 0; sy < src.height(); ++sy)
        for (int sx = 0; sx < src.width(); ++sx)
          if (src.get(sx, sy)) want.set(x + sx, y + sy);
      // The whole row bytes compare, so a dot set past the width would show too.
      ASSERT_EQ(got.dots(), want.dots()) << "at " << x << ", " << y;
    }
}

}  // namespace
}  // namespace vprinter
