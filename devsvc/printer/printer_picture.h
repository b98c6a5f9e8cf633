// Bitmap files for PrintBitmap and SetBitmap: monochrome BMP files as they are, and, when the
// fixed key's ConvertImages is 1, pictures of any depth and format (BMP, JPEG, PNG) scaled down
// to the station's width and halftoned into a monochrome image first.
#pragma once

#include <cstdint>
#include <string>

#include "printer/printer_bitmap.h"

namespace devsvc {

// Fixed-key values of the picture conversion: ConvertImages (DWORD, 1 = on; off by default) and
// HalftoneType (DWORD, 1 Floyd–Steinberg, 2 Burkes, 3 Sierra, 4 Stucki; other values Stucki).
inline constexpr std::string_view kConvertImagesValue = "ConvertImages";
inline constexpr std::string_view kHalftoneTypeValue = "HalftoneType";
inline constexpr std::uint32_t kDefaultHalftoneType = 4;

// Loads `file` into `bitmap` as CPrinterBitmap::load does. With ConvertImages = 1, a file that
// load refuses, or one wider than `max_width` dots, is converted: opened by the image library,
// scaled proportionally down to at most `max_width` dots, halftoned unless it has 1 bit per
// pixel, and loaded as that monochrome image. The results are load's (a picture that cannot be
// converted gives its original refusal, or kBitmapBadFormat).
int load_printer_picture(const std::string& file, std::int32_t max_width, CPrinterBitmap& bitmap);

}  // namespace devsvc
