// Pictures of any supported format opened as bitmaps: format detection, PNG decoding, the
// scratch folder.
#include "imaging/picture.h"

#include <fcntl.h>
#include <png.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

#include "file_io.h"
#include "pixels.h"

namespace imaging {
namespace {

// Largest PNG decoded (pixels): far beyond any receipt picture.
constexpr std::uint64_t kMaxPngPixels = std::uint64_t{1} << 26;

}  // namespace

picture_format sniff_picture(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return picture_format::unknown;
  std::uint8_t head[8] = {};
  const ssize_t n = ::read(fd, head, sizeof head);
  ::close(fd);
  if (n >= 2 && head[0] == 'B' && head[1] == 'M') return picture_format::bmp;
  if (n >= 3 && head[0] == 0xFF && head[1] == 0xD8 && head[2] == 0xFF) return picture_format::jpeg;
  if (n == 8 && std::memcmp(head, "\x89PNG\r\n\x1a\n", 8) == 0) return picture_format::png;
  return picture_format::unknown;
}

scratch_folder::scratch_folder() {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp != nullptr && *tmp == '/' ? tmp : "/tmp") + "/poskit-image.XXXXXX";
  if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
}

scratch_folder::~scratch_folder() {
  if (path_.empty()) return;
  std::error_code error;
  std::filesystem::remove_all(path_, error);
}

int convert_png(const std::string& path, const std::string& target) {
  std::FILE* in = std::fopen(path.c_str(), "rb");
  if (in == nullptr) return kImageCannotOpen;
  // Errors end the decoding through its jump; neither errors nor warnings are printed.
  png_structp png = png_create_read_struct(
      PNG_LIBPNG_VER_STRING, nullptr, [](png_structp p, png_const_charp) { png_longjmp(p, 1); },
      [](png_structp, png_const_charp) {});
  png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
  if (info == nullptr) {
    png_destroy_read_struct(&png, nullptr, nullptr);
    std::fclose(in);
    return kImageBadPicture;
  }
  // Everything that must be released after a decoding error lives outside this frame's locals.
  struct state {
    int fd = -1;
    std::string temp;
    std::vector<std::uint8_t> header;
    std::vector<std::uint8_t> row;
    std::vector<std::uint8_t> out;
    std::vector<png_bytep> rows;
  };
  auto* s = new state;
  volatile int result = kImageBadPicture;
  if (setjmp(png_jmpbuf(png)) == 0) {
    png_init_io(png, in);
    png_set_user_limits(png, 65535, 65535);
    png_read_info(png, info);
    const png_uint_32 width = png_get_image_width(png, info);
    const png_uint_32 height = png_get_image_height(png, info);
    if (static_cast<std::uint64_t>(width) * height <= kMaxPngPixels) {
      // Every PNG becomes 8-bit RGB: palettes expanded, grey widened, 16 bits stripped,
      // transparency composited over white.
      png_set_expand(png);
      png_set_strip_16(png);
      png_set_gray_to_rgb(png);
      png_color_16 white{};
      white.red = white.green = white.blue = white.gray = 0xFFFF;
      png_set_background(png, &white, PNG_BACKGROUND_GAMMA_SCREEN, 0, 1.0);
      png_set_bgr(png);
      const int passes = png_set_interlace_handling(png);
      png_read_update_info(png, info);
      const std::size_t row_bytes = png_get_rowbytes(png, info);
      if (png_get_channels(png, info) == 3 && row_bytes == 3 * static_cast<std::size_t>(width)) {
        s->header = CDib::CreateBITMAPINFO(static_cast<int>(width), -static_cast<int>(height), 24, 0);
        auto* h = reinterpret_cast<BITMAPINFOHEADER*>(s->header.data());
        const std::size_t stride = dib_stride(*h);
        h->biSizeImage = static_cast<std::uint32_t>(stride * height);
        // Interlaced pictures need the whole image; others go out row by row.
        s->out.assign(passes > 1 ? stride * height : 0, 0);
        s->row.assign(stride, 0);
        s->temp = target + ".XXXXXX";
        s->fd = ::mkstemp(s->temp.data());
        if (s->fd >= 0 && write_bitmap_header(s->fd, *h)) {
          bool ok = true;
          if (passes > 1) {
            s->rows.resize(height);
            for (png_uint_32 y = 0; y < height; ++y) s->rows[y] = s->out.data() + y * stride;
            png_read_image(png, s->rows.data());
            ok = detail::write_all(s->fd, s->out.data(), s->out.size());
          } else {
            for (png_uint_32 y = 0; y < height && ok; ++y) {
              png_read_row(png, s->row.data(), nullptr);
              ok = detail::write_all(s->fd, s->row.data(), stride);
            }
          }
          const mode_t mask = ::umask(0);
          ::umask(mask);
          ::fchmod(s->fd, 0666 & ~mask);
          if (::close(s->fd) != 0) ok = false;
          s->fd = -1;
          if (ok && ::rename(s->temp.c_str(), target.c_str()) == 0) {
            s->temp.clear();
            result = kImageOk;
          } else {
            result = kImageCannotOpen;
          }
        }
      }
    }
  }
  if (s->fd >= 0) ::close(s->fd);
  if (!s->temp.empty()) ::unlink(s->temp.c_str());
  delete s;
  png_destroy_read_struct(&png, &info, nullptr);
  std::fclose(in);
  return result;
}

int open_picture(const std::string& path, const scratch_folder& folder, CDib& dib) {
  if (!folder.ok()) return kImageCannotOpen;
  const std::string bitmap = folder.path() + "/picture.bmp";
  switch (sniff_picture(path)) {
    case picture_format::bmp: {
      if (!detail::copy_atomic(path, bitmap)) return kImageCannotOpen;
      return dib.OpenImage(bitmap);
    }
    case picture_format::jpeg: {
      // The JPEG is opened from a copy, so that a read-only picture opens too.
      const std::string copy = folder.path() + "/picture.jpg";
      if (!detail::copy_atomic(path, copy)) return kImageCannotOpen;
      CJpeg jpeg;
      const int opened = jpeg.OpenImage(copy);
      if (opened != kImageOk) return opened;
      const int converted = convert_jpeg(jpeg, device_context{}, bitmap);
      if (converted != kImageOk) return converted;
      return dib.OpenImage(bitmap);
    }
    case picture_format::png: {
      const int converted = convert_png(path, bitmap);
      if (converted != kImageOk) return converted;
      return dib.OpenImage(bitmap);
    }
    default: {
      // Missing, unreadable and empty files say so; anything else is not a picture.
      const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
      if (fd < 0) return kImageCannotOpen;
      char c;
      const ssize_t n = ::read(fd, &c, 1);
      ::close(fd);
      return n == 0 ? kImageEmptyFile : kImageNotBitmap;
    }
  }
}

CSize fit_width(CSize size, int max_width) {
  if (max_width <= 0 || size.cx <= max_width) return size;
  const std::int64_t h = (static_cast<std::int64_t>(size.cy) * max_width + size.cx / 2) / size.cx;
  return {max_width, static_cast<int>(h < 1 ? 1 : h)};
}

}  // namespace imaging
