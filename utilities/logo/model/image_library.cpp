// The image library QuorelImg, opened with dlopen, and the conversion of one logo through it.
#include "logo/image_library.h"

#include <dlfcn.h>

#include <cstdlib>
#include <cstring>

#include "imgconv/quorel_img.h"

namespace logo {

struct image_library::calls {
  QuorelSetCurrentPath_fn set_current_path = nullptr;
  QuorelSetDiffusionMode_fn set_diffusion_mode = nullptr;
  QuorelConvertTo24Bpp_fn convert_to_24bpp = nullptr;
  QuorelProcessImg_fn process_img = nullptr;
};

void image_handle::deleter::operator()(imgconv_image* image) const { std::free(image); }

std::optional<dib> image_handle::to_dib() const {
  if (!image_) return std::nullopt;
  const unsigned char* packed = imgconv_dib(image_.get());
  return dib::from_packed(std::vector<std::uint8_t>(packed, packed + image_->size));
}

image_library::image_library(void* handle, std::unique_ptr<calls> fns) : handle_(handle), calls_(std::move(fns)) {}

image_library::~image_library() {
  if (handle_ != nullptr) dlclose(handle_);
}

std::unique_ptr<image_library> image_library::load_file(const std::filesystem::path& file, std::string& error) {
  void* handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* why = dlerror();
    error = why != nullptr ? why : "cannot open " + file.string();
    return nullptr;
  }
  auto fns = std::make_unique<calls>();
  // dlsym hands back object pointers; each is taken as the function it names.
  auto find = [&](const char* name, auto& slot) {
    void* symbol = dlsym(handle, name);
    if (symbol == nullptr) return false;
    slot = reinterpret_cast<std::remove_reference_t<decltype(slot)>>(symbol);
    return true;
  };
  if (!find("SetCurrentPath", fns->set_current_path) || !find("SetDiffusionMode", fns->set_diffusion_mode) ||
      !find("ConvertTo24Bpp", fns->convert_to_24bpp) || !find("ProcessImg", fns->process_img)) {
    error = file.string() + " lacks the image library's calls";
    dlclose(handle);
    return nullptr;
  }
  return std::unique_ptr<image_library>(new image_library(handle, std::move(fns)));
}

std::unique_ptr<image_library> image_library::load(const std::filesystem::path& program_folder, std::string& error) {
  const std::filesystem::path beside = program_folder / std::string(kImageLibraryName);
  std::error_code ec;
  if (!program_folder.empty() && std::filesystem::exists(beside, ec)) {
    if (auto library = load_file(beside, error)) return library;
  }
  return load_file(std::string(kImageLibraryName), error);
}

int image_library::SetCurrentPath(std::string_view path) {
  return calls_->set_current_path(std::string(path).c_str(), static_cast<int>(path.size()));
}

int image_library::SetDiffusionMode(int mode) { return calls_->set_diffusion_mode(mode); }

image_handle image_library::ConvertTo24Bpp(const dib& picture) {
  if (picture.empty()) return {};
  return image_handle(calls_->convert_to_24bpp(picture.info(), picture.bits()));
}

image_handle image_library::ProcessImg(const dib& dc, const image_handle& image, bool diffusion, int mode,
                                       std::string& table_name) {
  char name[256] = {};
  imgconv_dc context{dc.packed().data(), dc.packed().size()};
  image_handle result(calls_->process_img(&context, image.get(), static_cast<short>(diffusion ? 1 : 0), mode, name));
  name[sizeof name - 1] = '\0';
  table_name = name;
  return result;
}

std::string copy_failed_text() {
  return "Raise error on read/write bytes image of current Logo.\r\nThe image funtions are not avaible for the current "
         "logo.";
}

std::string preview_failed_text() {
  return "Raise error on get the preview image of current logo\r\nPlease check the application component(s) and "
         "verify the color table files.";
}

std::optional<dib> scaled_picture(const dib& source, const logo_settings& settings) {
  if (source.empty()) return std::nullopt;
  if (!settings.fit || settings.paper_width_dots <= 0) {
    auto copy = dib::from_packed(source.packed());
    return copy;
  }
  const int width = settings.paper_width_dots;
  const long long scaled = static_cast<long long>(source.height()) * width / source.width();
  const int height = static_cast<int>(std::max(1LL, std::min(scaled, 65535LL)));
  return stretch_halftone(source, width, height);
}

conversion_result convert_logo(image_library& library, const dib& source, const logo_settings& settings) {
  conversion_result result;
  const std::optional<dib> scaled = scaled_picture(source, settings);
  if (!scaled) {
    result.message = copy_failed_text();
    return result;
  }
  image_handle full_colour = library.ConvertTo24Bpp(*scaled);
  if (!full_colour) {
    result.message = preview_failed_text();
    return result;
  }
  library.SetDiffusionMode(1);
  std::string table;
  const image_handle preview = library.ProcessImg(*scaled, full_colour, settings.diffusion, settings.mode, table);
  std::optional<dib> picture = preview.to_dib();
  if (!picture) {
    result.message = preview_failed_text();
    return result;
  }
  result.preview = std::move(picture);
  result.colour_table = std::move(table);
  return result;
}

}  // namespace logo
