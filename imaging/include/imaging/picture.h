// Pictures of any supported format (BMP, JPEG, PNG) turned into bitmaps, in a private scratch
// folder so that the user's file and its folder are never written.
#pragma once

#include <string>

#include "imaging/image.h"

namespace imaging {

enum class picture_format { unknown, bmp, jpeg, png };

// The format by the file's first bytes; unknown when it cannot be read.
picture_format sniff_picture(const std::string& path);

// The bitmap name of a JPEG conversion: the extension (any case: ".jpg", ".JPEG", ...) replaced
// by ".bmp", ".bmp" appended to a name without one; never the JPEG's own name.
std::string jpeg_bitmap_name(const std::string& jpeg_path);

// Writes `jpeg` at its size on `dc` as a 24-bit bottom-up bitmap to `target`, atomically (the
// target is complete or untouched): 0, 80 (cannot be decoded, or too large), 49 (cannot write).
int convert_jpeg(CJpeg& jpeg, const device_context& dc, const std::string& target);

// Decodes the PNG at `path` into a 24-bit bitmap at `target` (transparency over white): 0, 49
// (cannot be read or written) or 80 (not a PNG it can decode).
int convert_png(const std::string& path, const std::string& target);

// A fresh private folder under $TMPDIR (or /tmp), removed with its content on destruction.
class scratch_folder {
 public:
  scratch_folder();
  ~scratch_folder();
  scratch_folder(const scratch_folder&) = delete;
  scratch_folder& operator=(const scratch_folder&) = delete;
  bool ok() const { return !path_.empty(); }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// Opens the picture at `path` (read-only is enough) as a bitmap in `dib`, working in `folder`:
// a BMP is copied there, a JPEG converted at 96 dpi, a PNG decoded. 0 or an opening code
// (49, 50, 51, 53, 64, 65, 80); an unknown format gives 51.
int open_picture(const std::string& path, const scratch_folder& folder, CDib& dib);

// The size of a picture `size` scaled down proportionally to at most `max_width` pixels wide
// (height rounded to nearest, at least 1); unchanged when it is not wider.
CSize fit_width(CSize size, int max_width);

}  // namespace imaging
