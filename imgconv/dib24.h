// What both image-conversion libraries share: reading pictures as they travel (packed bitmaps
// behind a handle), the 24-bit copy of ConvertTo24Bpp, and turning pixels back into a handle.
#pragma once

#include <cstdint>
#include <vector>

#include "imgconv/conversion.h"
#include "reduce.h"

namespace imgconv {

// ConvertTo24Bpp: a 24-bit copy (bottom row first) of the picture of `info` (information header
// and colour table) and `bits`, 1, 4, 8, 24 or 32 bits per pixel, uncompressed; null otherwise.
imgconv_image* convert_to_24bpp(const void* info, const void* bits);

// The pixels of a 24-bit handle, rows top first, with its size; false when the handle does not
// hold a whole 24-bit picture.
bool read_24bpp(const imgconv_image* image, std::vector<pixel>& pixels, int& width, int& height);

// A new 24-bit handle (bottom row first) of `width` x `height` pixels given top row first; null
// when memory runs out.
imgconv_image* write_24bpp(const std::vector<pixel>& pixels, int width, int height);

}  // namespace imgconv
