// The calls of an image-conversion library that the two-colour printer's service object loads
// by path (ConvertImageDLL) and unloads after use. Each export is looked up by name.
//
// Pictures travel as packed device-independent bitmaps: the 40-byte information header
// (little-endian), the palette (blue, green, red, reserved per entry; none above 8 bits per
// pixel), then the rows (bottom row first for a positive height, each padded to 4 bytes).
// A handle is a block of such a bitmap allocated with malloc: the caller frees every handle it
// receives with free().
#pragma once

#include <cstddef>
#include <cstdint>

extern "C" {

// A handle: the size in bytes of the packed bitmap that follows it in the same block.
struct imgconv_image {
  std::uint32_t size;
};

// The device context of a conversion: the picture as the caller loaded it (its packed bitmap).
struct imgconv_dc {
  const unsigned char* dib;
  std::size_t size;
};

// Sets the working folder (RootPath) of the library; `length` bytes of `path`. Called first;
// its result is not used.
using SetCurrentPath_fn = int (*)(const char* path, int length);
// Makes a 24-bit picture of `info` (information header and palette) and `bits`; null on failure.
using ConvertTo24Bpp_fn = imgconv_image* (*)(const void* info, const void* bits);
// Turns the 24-bit picture `image` into one of black, white and pure red only, for the context
// `dc`. `mode` and `flags` are 0 and 1; `text` (256 bytes) receives a NUL-terminated remark and
// `out` one status byte (0 done). Null on failure.
using ProcessImg_fn = imgconv_image* (*)(imgconv_dc* dc, imgconv_image* image, int mode, int flags,
                                         unsigned char* text, unsigned char* out);

}  // extern "C"

// The packed bitmap of a handle: the `size` bytes after its size field.
inline unsigned char* imgconv_dib(imgconv_image* image) { return reinterpret_cast<unsigned char*>(image + 1); }
inline const unsigned char* imgconv_dib(const imgconv_image* image) {
  return reinterpret_cast<const unsigned char*>(image + 1);
}
