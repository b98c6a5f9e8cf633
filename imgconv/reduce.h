// The colour reduction of the conversion library: a picture to black, white and pure red.
#pragma once

#include <cstdint>
#include <vector>

namespace imgconv {

// One pixel, red, green and blue.
struct pixel {
  std::uint8_t r = 0;
  std::uint8_t g = 0;
  std::uint8_t b = 0;
};

// The halftone type that diffuses no error: every pixel is decided by the threshold alone.
inline constexpr int kNoDiffusion = 0;

// Turns every pixel of the `width` x `height` picture (rows top first) into black, white or
// pure red, dithered: red where the picture is red, black and white by its luminance elsewhere,
// with the image library's error diffusion of halftone type `kernel` (Stucki unless given).
void reduce_to_black_white_red(std::vector<pixel>& pixels, int width, int height, int kernel = 4);

// Turns every pixel into black or white by its luminance, with error diffusion of halftone type
// `kernel` (kNoDiffusion: the threshold alone).
void reduce_to_black_white(std::vector<pixel>& pixels, int width, int height, int kernel);

// Turns every pixel into one of the eight corners of the colour cube (white, cyan, magenta,
// yellow, red, green, blue, black): each of red, green and blue halftoned on its own with
// `kernel` (kNoDiffusion: each channel by the threshold alone).
void reduce_to_cube_corners(std::vector<pixel>& pixels, int width, int height, int kernel);

}  // namespace imgconv
