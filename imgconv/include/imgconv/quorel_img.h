// The calls of the logo utility's image library QuorelImg (libQuorelImg.so), loaded by name.
// Pictures and handles travel as in conversion.h: packed device-independent bitmaps in malloc'd
// blocks that the caller frees with free().
#pragma once

#include "imgconv/conversion.h"

extern "C" {

// Colour-mode codes of ProcessImg.
inline constexpr int kQuorelModeTwoColors = 1;   // black and red on white
inline constexpr int kQuorelModeBlackWhite = 2;  // black on white
inline constexpr int kQuorelModeColor = 3;       // the combinations of the printer's colour planes

// Sets the application folder, `length` bytes of `path`, where the colour-table files lie. 1 done.
using QuorelSetCurrentPath_fn = int (*)(const char* path, int length);
// Sets how ProcessImg diffuses the error when asked to (1: the library's kernel). 1 done.
using QuorelSetDiffusionMode_fn = int (*)(int mode);
// Makes a 24-bit picture of `info` (information header and colour table) and `bits`; null on
// failure.
using QuorelConvertTo24Bpp_fn = imgconv_image* (*)(const void* info, const void* bits);
// Reduces the 24-bit picture `image` to the colours of mode `mode`, with error diffusion when
// `diffusion` is 1 (else thresholds or the nearest colour), as a new 24-bit picture; `name`
// (256 bytes) receives the NUL-terminated name of the colour-table file that maps the result's
// colours to the printer's planes. `dc` may be null. Null on failure.
using QuorelProcessImg_fn = imgconv_image* (*)(imgconv_dc* dc, imgconv_image* image, short diffusion, int mode,
                                               char* name);

}  // extern "C"
