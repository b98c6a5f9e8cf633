// The outside image library QuorelImg, loaded by name at run time, and the conversion of one
// logo through it.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include "logo/picture.h"

struct imgconv_image;

namespace logo {

// The file name of the image library.
inline constexpr std::string_view kImageLibraryName = "libQuorelImg.so";

// A picture handle returned by the image library; freed with free() when dropped.
class image_handle {
 public:
  image_handle() = default;
  explicit image_handle(imgconv_image* image) : image_(image) {}
  explicit operator bool() const { return static_cast<bool>(image_); }
  imgconv_image* get() const { return image_.get(); }
  // The picture the handle holds; nullopt when its header is not a picture.
  std::optional<dib> to_dib() const;

 private:
  struct deleter {
    void operator()(imgconv_image* image) const;
  };
  std::unique_ptr<imgconv_image, deleter> image_;
};

// The image library, open while the object lives.
class image_library {
 public:
  // Opens "libQuorelImg.so" from `program_folder`, else by its plain name through the library
  // search path, and looks up its four calls. nullptr with the reason in `error` on failure.
  static std::unique_ptr<image_library> load(const std::filesystem::path& program_folder, std::string& error);
  // Opens the library at `file` (tests).
  static std::unique_ptr<image_library> load_file(const std::filesystem::path& file, std::string& error);
  ~image_library();
  image_library(const image_library&) = delete;
  image_library& operator=(const image_library&) = delete;

  // SetCurrentPath(path, length): the application folder.
  int SetCurrentPath(std::string_view path);
  // SetDiffusionMode(mode).
  int SetDiffusionMode(int mode);
  // ConvertTo24Bpp(info, bits): a 24-bit copy of `picture`; empty on failure.
  image_handle ConvertTo24Bpp(const dib& picture);
  // ProcessImg(dc, image, diffusion, mode, name): the converted preview (empty on failure) and
  // the colour-table file's name in `table_name`. `dc` is the picture being converted.
  image_handle ProcessImg(const dib& dc, const image_handle& image, bool diffusion, int mode, std::string& table_name);

 private:
  struct calls;
  image_library(void* handle, std::unique_ptr<calls> fns);
  void* handle_ = nullptr;
  std::unique_ptr<calls> calls_;
};

// The settings of one logo entry.
struct logo_settings {
  int paper_width_dots = 0;
  int mode = kModeBlackWhite;
  bool diffusion = false;
  bool fit = false;
};

// The outcome of converting one entry: the preview and its colour-table file name, or the text
// to show.
struct conversion_result {
  std::optional<dib> preview;
  std::string colour_table;
  std::string message;
};

// "Raise error on read/write bytes image of current Logo." CR LF "The image funtions are not
// avaible for the current logo."
std::string copy_failed_text();
// "Raise error on get the preview image of current logo" CR LF "Please check the application
// component(s) and verify the color table files."
std::string preview_failed_text();

// The picture as the conversion hands it to the library: a copy at its size, or with `fit`
// stretched in halftone mode to `paper_width_dots`, the height in proportion (at least 1).
std::optional<dib> scaled_picture(const dib& source, const logo_settings& settings);

// Converts one entry: copy, optional fit, ConvertTo24Bpp, SetDiffusionMode(1), ProcessImg.
conversion_result convert_logo(image_library& library, const dib& source, const logo_settings& settings);

}  // namespace logo
