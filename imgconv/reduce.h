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

// Turns every pixel of the `width` x `height` picture (rows top first) into black, white or
// pure red, dithered: red where the picture is red, black and white by its luminance elsewhere,
// with the image library's error diffusion.
void reduce_to_black_white_red(std::vector<pixel>& pixels, int width, int height);

}  // namespace imgconv
