// Fuzz target of the image library's bitmap opener: arbitrary bytes as a BMP file, opened into
// a working copy, then filtered, resized and drawn. Besides crashes and sanitizer reports it
// stops on a broken promise of the opener or the filters.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "imaging/filters.h"
#include "imaging/image.h"
#include "imaging/picture.h"
#include "require.h"

namespace {

using namespace imaging;

bool is_open_code(int code) {
  return code == kImageEmptyFile || code == kImageNotBitmap || code == kImageCompressed || code == kImageCannotMap ||
         code == kImageBadHeader;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const scratch_folder folder;
  const std::string path = folder.path() + "/f.bmp";
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  const std::string working = CImage::GetTempFile(path);
  const std::string mirror = CImage::GetMirrorFile(path);
  {
    CDib dib;
    const int opened = dib.OpenImage(path);
    if (opened != kImageOk) {
      require(is_open_code(opened));
      require(dib.GetHeader() == nullptr && !std::filesystem::exists(working));
      return 0;
    }
    const BITMAPINFOHEADER& h = *dib.GetHeader();
    require(h.biSize == 40 && h.biWidth > 0 && h.biHeight != 0);
    require(dib.GetSizeHeader() + dib.GetSizeImage() + 14 <= size);
    require(static_cast<std::uint64_t>(dib.GetRows()) * dib.GetStride() <= dib.GetSizeImage());

    // Every filter on the picture as it stands, each result within its promise.
    const int bits = h.biBitCount;
    const bool deep = bits == 4 || bits == 8 || bits == 16 || bits == 24;
    const int width = h.biWidth;
    const int rows = dib.GetRows();
    pixel_surface surface(8, 8);
    require(dib.DrawImage(surface, {-2, -2}, {12, 12}) == 1);
    if (static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(rows) <= (1u << 20)) {
      auto* halftone = new CDibFilterHalftone(&dib, 1);
      halftone->SetHalftoneType(4);
      dib.AddFilter(halftone);
      dib.AddFilter(new CDibFilterGrayScale(&dib, 2));
      dib.AddFilter(new CDibFilter8Bpp(&dib, 3));
      dib.AddFilter(new CDibFilterRed(&dib, 4));
      const int grey = dib.ApplayFilter(2);
      require(grey == ((bits == 16 || bits == 24) ? 1 : 0));
      const int eight = dib.ApplayFilter(3);
      require(eight == (bits >= 16 ? 1 : 0));
      if (eight == 1) require(dib.GetHeader()->biBitCount == 8 && dib.GetColorCount() <= 256);
      const int now_bits = dib.GetHeader()->biBitCount;
      const int halftoned = dib.ApplayFilter(1);
      require(halftoned == ((deep || eight == 1) ? 1 : 0));
      if (halftoned == 1) {
        require(now_bits != 1 && dib.GetHeader()->biBitCount == 1 && dib.GetHeader()->biWidth == width);
        require(dib.GetRows() == rows);
      }
      require(!std::filesystem::exists(mirror));
      dib.ApplayFilter(4);
    }
    require(dib.ResizeImage({3, 2}) == 1);
    require(dib.GetDimensions({}) == (CSize{3, 2}));
  }
  require(!std::filesystem::exists(working) && !std::filesystem::exists(mirror));
  return 0;
}
