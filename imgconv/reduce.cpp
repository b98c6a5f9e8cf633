// The colour reduction: each pixel takes the nearest of black, white and pure red.
#include "reduce.h"

#include <array>

namespace imgconv {
namespace {

constexpr std::array<pixel, 3> kInks = {{{0, 0, 0}, {255, 255, 255}, {255, 0, 0}}};

int distance(const pixel& a, const pixel& b) {
  const int dr = a.r - b.r, dg = a.g - b.g, db = a.b - b.b;
  return dr * dr + dg * dg + db * db;
}

}  // namespace

void reduce_to_black_white_red(std::vector<pixel>& pixels, int, int) {
  for (pixel& p : pixels) {
    const pixel* best = &kInks[0];
    for (const pixel& ink : kInks) {
      if (distance(p, ink) < distance(p, *best)) best = &ink;
    }
    p = *best;
  }
}

}  // namespace imgconv
