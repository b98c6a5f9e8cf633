// Fuzz target of the image library's JPEG opener: arbitrary bytes as a JPEG file, opened, then
// converted into a 24-bit bitmap and drawn. Besides crashes and sanitizer reports it stops on a
// broken promise of the opener or the conversion.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "imaging/image.h"
#include "imaging/picture.h"
#include "require.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace imaging;
  static const scratch_folder folder;
  const std::string path = folder.path() + "/f.jpg";
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  CJpeg jpeg;
  const int opened = jpeg.OpenImage(path);
  if (opened != kImageOk) {
    require(opened == kImageEmptyFile || opened == kImageBadPicture);
    return 0;
  }
  require(jpeg.pixel_width() > 0 && jpeg.pixel_height() > 0);
  // Pictures that would take long to decode are drawn small only; the rest are converted.
  const CSize natural = jpeg.GetDimensions({});
  const bool small = static_cast<std::uint64_t>(jpeg.pixel_width()) * static_cast<std::uint64_t>(jpeg.pixel_height()) <=
                         (1u << 20) &&
                     static_cast<std::uint64_t>(natural.cx) * static_cast<std::uint64_t>(natural.cy) <= (1u << 20);
  if (small) {
    const std::string target = folder.path() + "/f.bmp";
    const int converted = convert_jpeg(jpeg, {}, target);
    require(converted == kImageOk || converted == kImageBadPicture);
    if (converted == kImageOk) {
      CDib dib;
      require(dib.OpenImage(target) == kImageOk);
      require(dib.GetHeader()->biBitCount == 24 && dib.GetDimensions({}) == natural);
    } else {
      require(!std::filesystem::exists(target));
    }
    std::filesystem::remove(target);
  }
  pixel_surface surface(16, 16, {24, 24});
  require(jpeg.DrawImage(surface, {0, 0}, {16, 16}) == 1);
  return 0;
}
