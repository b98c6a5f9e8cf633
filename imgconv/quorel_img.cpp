// The exports of the logo utility's image library QuorelImg: SetCurrentPath, SetDiffusionMode,
// ConvertTo24Bpp and ProcessImg. The conversion reduces a picture to the printer's colours for
// one colour mode and names the colour-table file that maps the result to the printer's planes.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "dib24.h"
#include "imaging/filters.h"
#include "imgconv/quorel_img.h"
#include "platform/case_path.h"
#include "reduce.h"

#define QUOREL_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

// The application folder given by SetCurrentPath, where the colour-table files lie.
std::string g_current_path;
// The halftone type of error diffusion (the image library's types 1 to 4).
int g_diffusion_kernel = imaging::kHalftoneFloydSteinberg;

// The colour-table file of each colour mode (shipped beside the programs).
const char* table_of(int mode) {
  switch (mode) {
    case kQuorelModeTwoColors:
      return "TwoColors.ctb";
    case kQuorelModeBlackWhite:
      return "BlackWhite.ctb";
    case kQuorelModeColor:
      return "Color.ctb";
    default:
      return nullptr;
  }
}

// True when no folder is set, or the folder holds `table` (found case-insensitively).
bool table_present(const char* table) {
  if (g_current_path.empty()) return true;
  std::error_code ec;
  return std::filesystem::is_regular_file(
      platform::resolve_case_insensitive(std::filesystem::path(g_current_path) / table), ec);
}

}  // namespace

QUOREL_EXPORT int SetCurrentPath(const char* path, int length) {
  if (path == nullptr || length < 0) return 0;
  g_current_path.assign(path, strnlen(path, static_cast<std::size_t>(length)));
  return 1;
}

QUOREL_EXPORT int SetDiffusionMode(int mode) {
  if (imaging::halftone_kernel(mode).empty()) return 0;
  g_diffusion_kernel = mode;
  return 1;
}

QUOREL_EXPORT imgconv_image* ConvertTo24Bpp(const void* info, const void* bits) {
  return imgconv::convert_to_24bpp(info, bits);
}

QUOREL_EXPORT imgconv_image* ProcessImg(imgconv_dc*, imgconv_image* image, short diffusion, int mode, char* name) {
  if (name != nullptr) name[0] = '\0';
  const char* table = table_of(mode);
  std::vector<imgconv::pixel> pixels;
  int width = 0;
  int height = 0;
  if (table == nullptr || !table_present(table) || !imgconv::read_24bpp(image, pixels, width, height)) return nullptr;
  const int kernel = diffusion == 1 ? g_diffusion_kernel : imgconv::kNoDiffusion;
  switch (mode) {
    case kQuorelModeTwoColors:
      imgconv::reduce_to_black_white_red(pixels, width, height, kernel);
      break;
    case kQuorelModeBlackWhite:
      imgconv::reduce_to_black_white(pixels, width, height, kernel);
      break;
    default:
      imgconv::reduce_to_cube_corners(pixels, width, height, kernel);
      break;
  }
  imgconv_image* result = imgconv::write_24bpp(pixels, width, height);
  if (result != nullptr && name != nullptr) std::snprintf(name, 256, "%s", table);
  return result;
}
