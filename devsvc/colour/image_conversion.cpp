// Loading the image-conversion library by path for one conversion, and its three calls.
#include "colour/image_conversion.h"

#include <dlfcn.h>

#include <cstdlib>
#include <memory>
#include <span>
#include <vector>

#include "colour/color_bitmap.h"
#include "imgconv/conversion.h"

namespace devsvc {
namespace {

// The library, unloaded when the conversion ends.
struct library_closer {
  void operator()(void* handle) const {
    if (handle != nullptr) ::dlclose(handle);
  }
};
using library_handle = std::unique_ptr<void, library_closer>;

// A handle the library gave us, freed as its contract says.
struct image_freer {
  void operator()(imgconv_image* image) const { std::free(image); }
};
using image_handle = std::unique_ptr<imgconv_image, image_freer>;

template <class F>
F find_export(void* library, const char* name) {
  return reinterpret_cast<F>(::dlsym(library, name));
}

}  // namespace

bool ConvertPicture(const std::string& library, const std::string& root, CColorBitmap& bitmap) {
  if (library.empty()) return false;
  const library_handle loaded(::dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL));
  if (!loaded) return false;
  const auto set_current_path = find_export<SetCurrentPath_fn>(loaded.get(), "SetCurrentPath");
  const auto convert_to_24bpp = find_export<ConvertTo24Bpp_fn>(loaded.get(), "ConvertTo24Bpp");
  const auto process_img = find_export<ProcessImg_fn>(loaded.get(), "ProcessImg");
  if (set_current_path == nullptr || convert_to_24bpp == nullptr || process_img == nullptr) return false;

  set_current_path(root.c_str(), static_cast<int>(root.size()));

  // The picture as loaded, in the context of the conversion.
  const std::string info = bitmap.packed_info();
  std::string packed = info + bitmap.bits();
  imgconv_dc dc{reinterpret_cast<const unsigned char*>(packed.data()), packed.size()};

  const image_handle image(convert_to_24bpp(info.data(), bitmap.bits().data()));
  if (!image) return false;
  std::vector<unsigned char> text(256, 0);
  unsigned char status = 0;
  const image_handle result(process_img(&dc, image.get(), 0, 1, text.data(), &status));
  if (!result) return false;

  CColorBitmap converted;
  if (converted.load_packed(std::span<const std::uint8_t>(imgconv_dib(result.get()), result->size)) != kBitmapOk) return false;
  bitmap = std::move(converted);
  return true;
}

}  // namespace devsvc
