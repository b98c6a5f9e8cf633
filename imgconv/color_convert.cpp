// The exports of the image-conversion library: SetCurrentPath, ConvertTo24Bpp and ProcessImg.
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "imgconv/conversion.h"
#include "dib24.h"
#include "reduce.h"

#define IMGCONV_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

// The working folder given by SetCurrentPath.
std::string g_current_path;

}  // namespace

IMGCONV_EXPORT int SetCurrentPath(const char* path, int length) {
  if (path == nullptr || length < 0) return 0;
  g_current_path.assign(path, static_cast<std::size_t>(length));
  return 1;
}

IMGCONV_EXPORT imgconv_image* ConvertTo24Bpp(const void* info_bytes, const void* bits_bytes) {
  return imgconv::convert_to_24bpp(info_bytes, bits_bytes);
}

IMGCONV_EXPORT imgconv_image* ProcessImg(imgconv_dc* dc, imgconv_image* image, int, int, unsigned char* text,
                                         unsigned char* out) {
  auto remark = [text](const char* what) {
    if (text != nullptr) std::snprintf(reinterpret_cast<char*>(text), 256, "%s", what);
  };
  if (out != nullptr) *out = 1;
  std::vector<imgconv::pixel> pixels;
  int width = 0;
  int height = 0;
  if (dc == nullptr || image == nullptr) {
    remark("no picture to process");
    return nullptr;
  }
  if (!imgconv::read_24bpp(image, pixels, width, height)) {
    remark("not a 24-bit picture");
    return nullptr;
  }
  imgconv::reduce_to_black_white_red(pixels, width, height);
  imgconv_image* result = imgconv::write_24bpp(pixels, width, height);
  if (result == nullptr) {
    remark("out of memory");
    return nullptr;
  }
  remark("converted to black, white and red");
  if (out != nullptr) *out = 0;
  return result;
}
