// Pictures of any format turned into the printer's monochrome bitmaps through the image library.
#include "printer/printer_picture.h"

#include <fcntl.h>
#include <unistd.h>

#include <utility>

#include "core/device_keys.h"
#include "imaging/filters.h"
#include "imaging/image.h"
#include "imaging/picture.h"

namespace devsvc {
namespace {

// Writes `dib` as a BMP file at `path`: false when that fails.
bool save_dib(imaging::CDib& dib, const std::string& path) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  const bool ok = dib.SaveImageAsFile(fd) == 1;
  return ::close(fd) == 0 && ok;
}

// The picture at `file` as a monochrome BMP in `folder`: its path, or "" when it cannot be made.
std::string convert_picture(const std::string& file, std::int32_t max_width, const imaging::scratch_folder& folder) {
  imaging::CDib dib;
  if (imaging::open_picture(file, folder, dib) != imaging::kImageOk) return {};
  const imaging::CSize size{dib.GetHeader()->biWidth, dib.GetRows()};
  const imaging::CSize fitted = imaging::fit_width(size, max_width);
  if (!(fitted == size) && dib.ResizeImage(fitted) != 1) return {};
  if (dib.GetHeader()->biBitCount != 1) {
    std::uint32_t type = ReadMachineDword(kPrinterFixedKey, kHalftoneTypeValue);
    auto* halftone = new imaging::CDibFilterHalftone(&dib, 1);
    if (halftone->SetHalftoneType(static_cast<int>(type)) == 0) halftone->SetHalftoneType(static_cast<int>(kDefaultHalftoneType));
    dib.AddFilter(halftone);
    if (dib.ApplayFilter(1) != 1) {
      // Halftoning needs 4 bits or more: a 32-bit picture goes through 8 bits first.
      dib.AddFilter(new imaging::CDibFilter8Bpp(&dib, 2));
      if (dib.ApplayFilter(2) != 1 || dib.ApplayFilter(1) != 1) return {};
    }
  }
  const std::string out = folder.path() + "/printed.bmp";
  return save_dib(dib, out) ? out : std::string();
}

}  // namespace

int load_printer_picture(const std::string& file, std::int32_t max_width, CPrinterBitmap& bitmap) {
  const int loaded = bitmap.load(file);
  if (ReadMachineDword(kPrinterFixedKey, kConvertImagesValue) != 1) return loaded;
  const bool refused = loaded == kBitmapBadFormat || loaded == kBitmapTooLarge;
  const bool too_wide = loaded == kBitmapOk && max_width > 0 && bitmap.width() > max_width;
  if (!refused && !too_wide) return loaded;

  const imaging::scratch_folder folder;
  if (!folder.ok()) return loaded;
  const std::string converted = convert_picture(file, max_width, folder);
  if (converted.empty()) return loaded == kBitmapOk ? kBitmapBadFormat : loaded;
  CPrinterBitmap result;
  const int reloaded = result.load(converted);
  if (reloaded != kBitmapOk) return reloaded;
  bitmap = std::move(result);
  return kBitmapOk;
}

}  // namespace devsvc
