// The colour reduction, on the image library's error diffusion: first the red plane, halftoned
// from how red each pixel is; then the black plane, halftoned from the lightness the pixels that
// did not become red have left.
#include "reduce.h"

#include <algorithm>
#include <span>

#include "imaging/filters.h"

namespace imgconv {
namespace {

constexpr pixel kBlack{0, 0, 0};
constexpr pixel kWhite{255, 255, 255};
constexpr pixel kRed{255, 0, 0};

// How red a pixel is: its red above the stronger of green and blue (0 for any grey).
std::uint8_t redness(const pixel& p) { return static_cast<std::uint8_t>(std::max(0, p.r - std::max(p.g, p.b))); }

// The lightness a pixel leaves for the black plane. A pixel is taken as a share of red (its
// redness) over what remains when that red is taken out; the red dots cover that share, so the
// other dots carry the remainder's luminance scaled up to them: pale red (red over white) gets no
// black dots, dark red (red over black) many, a grey its luminance.
std::uint8_t lightness_without_red(const pixel& p) {
  const int red = redness(p);
  if (red >= 255) return 255;
  const double rest = imaging::luminance(static_cast<std::uint8_t>(p.r - red), p.g, p.b);
  return static_cast<std::uint8_t>(std::min(255.0, rest * 255.0 / (255 - red)));
}

}  // namespace

void reduce_to_black_white_red(std::vector<pixel>& pixels, int width, int height, int kernel) {
  const std::size_t count = pixels.size();
  const auto w = static_cast<std::size_t>(width);
  // Red plane: a pixel as dark as it is red; halftoning marks the red dots (0 values).
  std::vector<std::uint8_t> plane(count);
  for (std::size_t i = 0; i < count; ++i) plane[i] = static_cast<std::uint8_t>(255 - redness(pixels[i]));
  std::vector<bool> red(count, false);
  imaging::halftone_grey(std::span<std::uint8_t>(plane), width, height, kernel, [&](int y, const std::uint8_t* white) {
    for (std::size_t x = 0; x < w; ++x) red[static_cast<std::size_t>(y) * w + x] = white[x] == 0;
  });

  // Black plane: the luminance of the rest; a red dot counts as white there.
  for (std::size_t i = 0; i < count; ++i) {
    plane[i] = red[i] ? 255 : lightness_without_red(pixels[i]);
  }
  imaging::halftone_grey(std::span<std::uint8_t>(plane), width, height, kernel, [&](int y, const std::uint8_t* white) {
    for (std::size_t x = 0; x < w; ++x) {
      const std::size_t i = static_cast<std::size_t>(y) * w + x;
      pixels[i] = red[i] ? kRed : white[x] != 0 ? kWhite : kBlack;
    }
  });
}

void reduce_to_black_white(std::vector<pixel>& pixels, int width, int height, int kernel) {
  const auto w = static_cast<std::size_t>(width);
  std::vector<std::uint8_t> plane(pixels.size());
  for (std::size_t i = 0; i < pixels.size(); ++i) plane[i] = imaging::luminance(pixels[i].r, pixels[i].g, pixels[i].b);
  imaging::halftone_grey(std::span<std::uint8_t>(plane), width, height, kernel, [&](int y, const std::uint8_t* white) {
    for (std::size_t x = 0; x < w; ++x) pixels[static_cast<std::size_t>(y) * w + x] = white[x] != 0 ? kWhite : kBlack;
  });
}

void reduce_to_cube_corners(std::vector<pixel>& pixels, int width, int height, int kernel) {
  const auto w = static_cast<std::size_t>(width);
  std::vector<std::uint8_t> plane(pixels.size());
  // One pass per channel: the channel's values halftoned, then written back as 0 or 255.
  for (std::uint8_t pixel::*channel : {&pixel::r, &pixel::g, &pixel::b}) {
    for (std::size_t i = 0; i < pixels.size(); ++i) plane[i] = pixels[i].*channel;
    imaging::halftone_grey(std::span<std::uint8_t>(plane), width, height, kernel, [&](int y, const std::uint8_t* on) {
      for (std::size_t x = 0; x < w; ++x) pixels[static_cast<std::size_t>(y) * w + x].*channel = on[x] != 0 ? 255 : 0;
    });
  }
}

}  // namespace imgconv
