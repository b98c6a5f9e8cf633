// CJpeg: JPEG pictures decoded with libjpeg-turbo, their natural size from the file's density,
// and their conversion into a 24-bit bitmap.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <string>

// jpeglib.h needs size_t and FILE declared first.
#include <jpeglib.h>

#include "file_io.h"
#include "imaging/image.h"
#include "imaging/picture.h"
#include "pixels.h"

namespace imaging {
namespace {

// Largest picture decoded (pixels), and the decoder's memory ceiling: far beyond any receipt
// picture, well below what would exhaust the machine.
constexpr std::uint64_t kMaxPixels = std::uint64_t{1} << 26;
constexpr long kMaxDecoderMemory = 1L << 30;

struct error_state {
  jpeg_error_mgr manager;
  std::jmp_buf jump;
};

[[noreturn]] void on_error(j_common_ptr info) { std::longjmp(reinterpret_cast<error_state*>(info->err)->jump, 1); }
// Warnings (a truncated file, a bad marker) are not printed; the decoder goes on.
void on_message(j_common_ptr) {}

// 0.01 mm of `pixels` at a density of `density` per `unit` (0 none, 1 inch, 2 centimetre).
int himetric(int pixels, int unit, int density) {
  const std::int64_t p = pixels;
  if (density > 0 && unit == 1) return static_cast<int>((p * 2540 + density / 2) / density);
  if (density > 0 && unit == 2) return static_cast<int>((p * 1000 + density / 2) / density);
  return static_cast<int>((p * 2540 + 48) / 96);
}

// a * b / c rounded to nearest (c > 0).
int mul_div(int a, int b, int c) { return static_cast<int>((static_cast<std::int64_t>(a) * b + c / 2) / c); }

int stretch_source(int d, int dst, int src) {
  return static_cast<int>((static_cast<std::int64_t>(2 * d + 1) * src) / (2 * static_cast<std::int64_t>(dst)));
}

struct header_info {
  int width = 0;
  int height = 0;
  int unit = 0;
  int x_density = 0;
  int y_density = 0;
};

bool read_header(const std::vector<std::uint8_t>& data, header_info& out) {
  jpeg_decompress_struct info;
  error_state errors;
  info.err = jpeg_std_error(&errors.manager);
  errors.manager.error_exit = on_error;
  errors.manager.output_message = on_message;
  if (setjmp(errors.jump)) {
    jpeg_destroy_decompress(&info);
    return false;
  }
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, data.data(), static_cast<unsigned long>(data.size()));
  jpeg_read_header(&info, TRUE);
  out.width = static_cast<int>(info.image_width);
  out.height = static_cast<int>(info.image_height);
  if (info.saw_JFIF_marker) {
    out.unit = info.density_unit;
    out.x_density = info.X_density;
    out.y_density = info.Y_density;
  }
  jpeg_destroy_decompress(&info);
  return true;
}

}  // namespace

CJpeg::~CJpeg() { UnMapFile(); }

int CJpeg::CheckFileImageType(int) { return kImageOk; }

int CJpeg::SaveImage(const char*) { return 0; }

int CJpeg::OpenImage(const std::string& path) {
  data_.clear();
  pixel_width_ = pixel_height_ = himetric_width_ = himetric_height_ = 0;
  const int checked = CheckFileImage(path);
  if (checked != kImageOk) return checked;
  file_name_ = path;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return kImageCannotOpen;
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    ::close(fd);
    return kImageCannotOpen;
  }
  std::vector<std::uint8_t> data(static_cast<std::size_t>(st.st_size));
  std::size_t got = 0;
  while (got < data.size()) {
    const ssize_t n = ::read(fd, data.data() + got, data.size() - got);
    if (n <= 0) break;
    got += static_cast<std::size_t>(n);
  }
  ::close(fd);
  data.resize(got);
  header_info h;
  if (data.empty() || !read_header(data, h) || h.width <= 0 || h.height <= 0 ||
      static_cast<std::uint64_t>(h.width) * static_cast<std::uint64_t>(h.height) > kMaxPixels) {
    return kImageBadPicture;
  }
  data_ = std::move(data);
  pixel_width_ = h.width;
  pixel_height_ = h.height;
  himetric_width_ = himetric(h.width, h.unit, h.x_density);
  himetric_height_ = himetric(h.height, h.unit, h.y_density);
  return kImageOk;
}

CSize CJpeg::GetDimensions(const device_context& dc) {
  return {mul_div(himetric_width_, dc.dpi_x, 2540), mul_div(himetric_height_, dc.dpi_y, 2540)};
}

bool CJpeg::RenderRows(CSize size, void* context, void (*row)(void*, int, const std::uint8_t*)) {
  if (data_.empty() || size.cx <= 0 || size.cy <= 0) return false;
  // Scaled rows are built here; the decoder's own row buffer comes from its memory pool.
  std::vector<std::uint8_t> scaled(static_cast<std::size_t>(size.cx) * 3);
  std::vector<int> columns(static_cast<std::size_t>(size.cx));
  const volatile bool same = size.cx == pixel_width_ && size.cy == pixel_height_;
  for (int x = 0; x < size.cx; ++x) columns[static_cast<std::size_t>(x)] = stretch_source(x, size.cx, pixel_width_);

  jpeg_decompress_struct info;
  error_state errors;
  info.err = jpeg_std_error(&errors.manager);
  errors.manager.error_exit = on_error;
  errors.manager.output_message = on_message;
  if (setjmp(errors.jump)) {
    jpeg_destroy_decompress(&info);
    return false;
  }
  jpeg_create_decompress(&info);
  info.mem->max_memory_to_use = kMaxDecoderMemory;
  jpeg_mem_src(&info, data_.data(), static_cast<unsigned long>(data_.size()));
  jpeg_read_header(&info, TRUE);
  info.out_color_space = JCS_EXT_BGR;
  jpeg_start_decompress(&info);
  if (static_cast<int>(info.output_width) != pixel_width_ || static_cast<int>(info.output_height) != pixel_height_ ||
      info.output_components != 3) {
    jpeg_destroy_decompress(&info);
    return false;
  }
  JSAMPARRAY line = (*info.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&info), JPOOL_IMAGE,
                                             info.output_width * 3, 1);
  int decoded = -1;  // index of the source row in `line`
  for (int y = 0; y < size.cy; ++y) {
    const int wanted = same ? y : stretch_source(y, size.cy, pixel_height_);
    while (decoded < wanted) {
      jpeg_read_scanlines(&info, line, 1);
      ++decoded;
    }
    if (same) {
      row(context, y, line[0]);
      continue;
    }
    const std::uint8_t* src = line[0];
    for (int x = 0; x < size.cx; ++x) {
      std::memcpy(&scaled[3 * static_cast<std::size_t>(x)], src + 3 * static_cast<std::size_t>(columns[static_cast<std::size_t>(x)]), 3);
    }
    row(context, y, scaled.data());
  }
  // Rows below the last one needed are not decoded.
  jpeg_abort_decompress(&info);
  jpeg_destroy_decompress(&info);
  return true;
}

int CJpeg::DrawImage(pixel_surface& surface, CPoint, CSize) {
  const CSize size = GetDimensions(surface.dc());
  if (size.cx <= 0 || size.cy <= 0) return 1;
  Render(size, [&](int y, const std::uint8_t* bgr) {
    if (y >= surface.height()) return;
    const int n = std::min(size.cx, surface.width());
    std::memcpy(surface.row(y), bgr, 3 * static_cast<std::size_t>(n));
  });
  return 1;
}

// ---------------------------------------------------------------------------------------------
// JPEG to bitmap

std::string jpeg_bitmap_name(const std::string& jpeg_path) {
  const std::size_t slash = jpeg_path.rfind('/');
  const std::size_t dot = jpeg_path.rfind('.');
  std::string target;
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash + 1)) {
    target = jpeg_path.substr(0, dot) + ".bmp";
  } else {
    target = jpeg_path + ".bmp";
  }
  // A picture already called "*.bmp" keeps its name: the bitmap goes beside it.
  if (target == jpeg_path) target += ".bmp";
  return target;
}

int convert_jpeg(CJpeg& jpeg, const device_context& dc, const std::string& target) {
  const CSize size = jpeg.GetDimensions(dc);
  if (size.cx <= 0 || size.cy <= 0 || size.cx > 65535 || size.cy > 65535 ||
      static_cast<std::uint64_t>(size.cx) * static_cast<std::uint64_t>(size.cy) > kMaxPixels) {
    return kImageBadPicture;
  }
  if (target == jpeg.GetFileName()) return kImageCannotOpen;
  std::vector<std::uint8_t> info = CDib::CreateBITMAPINFO(size.cx, size.cy, 24, 0);
  auto* h = reinterpret_cast<BITMAPINFOHEADER*>(info.data());
  const std::size_t stride = dib_stride(*h);
  h->biSizeImage = static_cast<std::uint32_t>(static_cast<std::uint64_t>(size.cy) * stride);

  // The bitmap is written beside the target and renamed over it when complete.
  std::string temp = target + ".XXXXXX";
  const int fd = ::mkstemp(temp.data());
  if (fd < 0) return kImageCannotOpen;
  const mode_t mask = ::umask(0);
  ::umask(mask);
  ::fchmod(fd, 0666 & ~mask);
  bool ok = write_bitmap_header(fd, *h);
  const off_t data_offset = 54;
  ok = ok && ::ftruncate(fd, data_offset + static_cast<off_t>(h->biSizeImage)) == 0;
  std::vector<std::uint8_t> padded(stride, 0);
  // Rows arrive top first and are stored bottom first.
  ok = ok && jpeg.Render(size, [&](int y, const std::uint8_t* bgr) {
    if (!ok) return;
    std::memcpy(padded.data(), bgr, 3 * static_cast<std::size_t>(size.cx));
    const off_t at = data_offset + static_cast<off_t>(size.cy - 1 - y) * static_cast<off_t>(stride);
    std::size_t done = 0;
    while (done < stride) {
      const ssize_t n = ::pwrite(fd, padded.data() + done, stride - done, at + static_cast<off_t>(done));
      if (n <= 0) {
        ok = false;
        return;
      }
      done += static_cast<std::size_t>(n);
    }
  });
  if (::close(fd) != 0) ok = false;
  if (ok && ::rename(temp.c_str(), target.c_str()) != 0) ok = false;
  if (!ok) {
    ::unlink(temp.c_str());
    return kImageBadPicture;
  }
  return kImageOk;
}

CDib::CDib(CJpeg& jpeg, const device_context& dc) : CImage(kImageTypeDib) { conversion_result_ = ConvertJpeg(jpeg, dc); }

int CDib::ConvertJpeg(CJpeg& jpeg, const device_context& dc) {
  const std::string target = jpeg_bitmap_name(jpeg.GetFileName());
  const int converted = convert_jpeg(jpeg, dc, target);
  if (converted != kImageOk) return converted;
  return OpenImage(target);
}

}  // namespace imaging
