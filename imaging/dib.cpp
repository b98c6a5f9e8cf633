// CImage and CDib: the filter list, progress, the working copy and its mapping, bitmap headers,
// drawing, resizing and saving.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "file_io.h"
#include "imaging/filters.h"
#include "imaging/image.h"
#include "pixels.h"

namespace imaging {

using detail::file_writer;

const CRuntimeClass CImage::classCImage = {"CImage", nullptr};
const CRuntimeClass CDib::classCDib = {"CDib", &CImage::classCImage};
const CRuntimeClass CJpeg::classCJpeg = {"CJpeg", &CImage::classCImage};

bool CRuntimeClass::IsDerivedFrom(const CRuntimeClass* base) const {
  for (const CRuntimeClass* c = this; c != nullptr; c = c->m_pBaseClass) {
    if (c == base) return true;
  }
  return false;
}

pixel_surface::pixel_surface(int width, int height, device_context dc)
    : width_(std::max(width, 0)), height_(std::max(height, 0)), dc_(dc),
      pixels_(static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_) * 3, 0) {}

// ---------------------------------------------------------------------------------------------
// mapped_file

bool mapped_file::open(const std::string& path) {
  close();
  const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || st.st_size <= 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return false;
  }
  void* view = ::mmap(nullptr, static_cast<std::size_t>(st.st_size), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (view == MAP_FAILED) {
    ::close(fd);
    return false;
  }
  fd_ = fd;
  view_ = static_cast<std::uint8_t*>(view);
  size_ = static_cast<std::size_t>(st.st_size);
  return true;
}

void mapped_file::close() {
  if (view_ != nullptr) ::munmap(view_, size_);
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  view_ = nullptr;
  size_ = 0;
}

// ---------------------------------------------------------------------------------------------
// CImage

CImage::~CImage() {
  for (CDibFilter* f : filters_) delete f;
}

const logical_palette* CImage::GetPalette() { return palette_ ? &*palette_ : nullptr; }

int CImage::ApplayFilter(int) { return 0; }

void CImage::AddFilter(CDibFilter* filter) {
  if (filter != nullptr) filters_.push_back(filter);
}

void CImage::AddFilter(std::unique_ptr<CDibFilter> filter) { AddFilter(filter.release()); }

CDibFilter* CImage::GetFilter(int id) const {
  for (CDibFilter* f : filters_) {
    if (f->GetFilterId() == id) return f;
  }
  return nullptr;
}

bool CImage::RemoveFilter(int id) {
  const auto it = std::find_if(filters_.begin(), filters_.end(), [id](const CDibFilter* f) { return f->GetFilterId() == id; });
  if (it == filters_.end()) return false;
  delete *it;
  filters_.erase(it);
  return true;
}

void CImage::UpdateAllFilters() {
  for (CDibFilter* f : filters_) f->RefreshData();
}

void CImage::SetProgressRange(int rows) {
  if (progress_ == nullptr) return;
  progress_->SetRange(0, rows);
  progress_->SetStep(1);
}

void CImage::StepProgress() {
  if (progress_ != nullptr) progress_->StepIt();
}

namespace {
std::string with_last(const std::string& path, char last) {
  if (path.empty()) return std::string(1, last);
  // A name that already ends in the letter would name the file itself: append instead.
  if (path.back() == last) return path + last;
  std::string out = path;
  out.back() = last;
  return out;
}
}  // namespace

std::string CImage::GetTempFile(const std::string& path) { return with_last(path, 'x'); }
std::string CImage::GetMirrorFile(const std::string& path) { return with_last(path, 'r'); }

int CImage::CheckFileImage(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) return kImageCannotOpen;
  struct stat st {};
  int result;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    result = kImageCannotOpen;
  } else if (st.st_size == 0) {
    result = kImageEmptyFile;
  } else {
    result = CheckFileImageType(fd);
  }
  ::close(fd);
  return result;
}

// ---------------------------------------------------------------------------------------------
// CDib: opening and attaching

namespace {

bool read_exact(int fd, void* out, std::size_t size) {
  auto* p = static_cast<std::uint8_t*>(out);
  while (size > 0) {
    const ssize_t n = ::read(fd, p, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

CDib::~CDib() {
  Empty();
  if (working_copy_made_) ::unlink(GetTempFile(file_name_).c_str());
}

int CDib::CheckFileImageType(int fd) {
  std::uint8_t file_header[14];
  if (!read_exact(fd, file_header, sizeof file_header) || file_header[0] != 'B' || file_header[1] != 'M') {
    return kImageNotBitmap;
  }
  BITMAPINFOHEADER info{};
  // A file too short for the info header cannot be one this library reads.
  if (!read_exact(fd, &info, sizeof info)) return kImageBadHeader;
  if (info.biCompression != 0) return kImageCompressed;
  return kImageOk;
}

int CDib::OpenImage(const std::string& path) {
  Empty();
  if (working_copy_made_) {
    ::unlink(GetTempFile(file_name_).c_str());
    working_copy_made_ = false;
  }
  const int checked = CheckFileImage(path);
  if (checked != kImageOk) return checked;
  file_name_ = path;
  // The working copy is made afresh: a copy left behind by an earlier run is never trusted.
  const std::string working = GetTempFile(path);
  ::unlink(working.c_str());
  if (!detail::copy_atomic(path, working)) return kImageCannotOpen;
  working_copy_made_ = true;
  const int attached = AttachToFile(working);
  if (attached != kImageOk) {
    ::unlink(working.c_str());
    working_copy_made_ = false;
  }
  return attached;
}

int CDib::AttachToFile(const std::string& path) {
  Empty();
  if (!MapFile(path)) return kImageCannotMap;
  if (mapping_.size() < 14 || mapping_.data()[0] != 'B' || mapping_.data()[1] != 'M') {
    UnMapFile();
    return kImageCannotMap;
  }
  const int result = AttachMemory(mapping_.data() + 14, mapping_.size() - 14);
  if (result != kImageOk) UnMapFile();
  return result;
}

int CDib::AttachMemory(std::uint8_t* header, std::size_t size) {
  header_ownership_ = 0;
  header_ = reinterpret_cast<BITMAPINFOHEADER*>(header);
  const int result = ComputeMetrics(size);
  if (result != kImageOk) {
    header_ = nullptr;
    color_table_ = nullptr;
    bits_ = nullptr;
    return result;
  }
  MakePalette();
  return kImageOk;
}

int CDib::AttachMemory(std::unique_ptr<std::uint8_t[]> header, std::size_t size) {
  Empty();
  owned_header_ = std::move(header);
  const int result = AttachMemory(owned_header_.get(), size);
  if (result != kImageOk) {
    owned_header_.reset();
    return result;
  }
  header_ownership_ = 1;
  return kImageOk;
}

int CDib::ComputeMetrics(std::size_t size) {
  if (size < sizeof(BITMAPINFOHEADER) || header_->biSize != 40) return kImageBadHeader;
  const std::uint16_t bits = header_->biBitCount;
  if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) return kImageBadHeader;
  if (header_->biWidth <= 0 || header_->biHeight == 0 || header_->biHeight == INT32_MIN) return kImageBadHeader;
  // A colour table never holds more entries than 8 bits can index.
  if (header_->biClrUsed > 256 || (bits <= 8 && header_->biClrUsed > (1u << bits))) return kImageBadHeader;
  color_table_ = reinterpret_cast<RGBQUAD*>(reinterpret_cast<std::uint8_t*>(header_) + 40);
  std::uint32_t colours = header_->biClrUsed;
  if (colours == 0 && bits <= 8) colours = 1u << bits;
  const std::uint64_t table_end = 40 + 4 * static_cast<std::uint64_t>(colours);
  const std::uint64_t computed = static_cast<std::uint64_t>(dib_rows(*header_)) * dib_stride(*header_);
  // The header must describe no more data than the file holds.
  if (table_end > size || computed > size - table_end) return kImageBadHeader;
  const std::uint64_t stated = header_->biSizeImage;
  image_size_ = static_cast<std::size_t>(stated >= computed && stated <= size - table_end ? stated : computed);
  color_count_ = ComputePaletteSize(bits);
  bits_ = reinterpret_cast<std::uint8_t*>(color_table_) + 4 * static_cast<std::size_t>(color_count_);
  return kImageOk;
}

std::uint32_t CDib::ComputePaletteSize(std::uint16_t bit_count) {
  if (header_->biClrUsed != 0) return header_->biClrUsed;
  switch (bit_count) {
    case 1:
      return 2;
    case 4:
      return 16;
    case 8:
      header_->biClrUsed = 256;
      return 256;
    default:
      return 0;
  }
}

int CDib::MakePalette() {
  if (color_count_ == 0) return 0;
  palette_.emplace();
  palette_->entries.reserve(color_count_);
  for (std::uint32_t i = 0; i < color_count_; ++i) {
    const RGBQUAD& q = color_table_[i];
    palette_->entries.push_back({q.rgbRed, q.rgbGreen, q.rgbBlue, 0});
  }
  return 1;
}

int CDib::UpdatePalette() {
  if (header_ == nullptr) return 0;
  const int bits = header_->biBitCount;
  if (bits != 1 && bits != 4 && bits != 8) return 0;
  MakePalette();
  return 1;
}

void CDib::Empty() {
  UnMapFile();
  owned_header_.reset();
  header_ownership_ = 0;
  header_ = nullptr;
  color_table_ = nullptr;
  bits_ = nullptr;
  image_size_ = 0;
  color_count_ = 0;
  palette_.reset();
}

int CDib::UpdateFile(const std::string& path) {
  Empty();
  const std::string working = GetTempFile(file_name_);
  if (::rename(path.c_str(), working.c_str()) != 0) {
    // Moving failed (another file system): copy, then delete.
    if (!detail::copy_atomic(path, working)) return kImageCannotMap;
    ::unlink(path.c_str());
  }
  working_copy_made_ = true;
  return AttachToFile(working);
}

int CDib::GetRows() const { return header_ != nullptr ? dib_rows(*header_) : 0; }
std::size_t CDib::GetStride() const { return header_ != nullptr ? dib_stride(*header_) : 0; }

// ---------------------------------------------------------------------------------------------
// CDib: writing

std::vector<std::uint8_t> CDib::CreateBITMAPINFO(int width, int height, int bit_count, int colours) {
  std::vector<std::uint8_t> block(40 + 4 * static_cast<std::size_t>(std::max(colours, 0)), 0);
  BITMAPINFOHEADER h{};
  h.biSize = 40;
  h.biWidth = width;
  h.biHeight = height;
  h.biPlanes = 1;
  h.biBitCount = static_cast<std::uint16_t>(bit_count);
  std::memcpy(block.data(), &h, sizeof h);
  return block;
}

bool write_bitmap_header(int fd, const BITMAPINFOHEADER& info) {
  const std::uint64_t table = 4 * static_cast<std::uint64_t>(info.biClrUsed);
  const std::uint64_t image = info.biSizeImage != 0 ? info.biSizeImage
                                                    : static_cast<std::uint64_t>(dib_rows(info)) * dib_stride(info);
  const std::uint64_t offset = 54 + table;
  // The file's real size, where the old format wrote 0.
  const std::uint64_t total = offset + image;
  std::uint8_t file_header[14] = {'B', 'M'};
  put_u32(file_header + 2, static_cast<std::uint32_t>(std::min<std::uint64_t>(total, UINT32_MAX)));
  put_u32(file_header + 10, static_cast<std::uint32_t>(offset));
  return detail::write_all(fd, file_header, sizeof file_header) &&
         detail::write_all(fd, &info, static_cast<std::size_t>(40 + table));
}

int CDib::WriteHeader(int fd, const BITMAPINFOHEADER* info) {
  if (info == nullptr) info = header_;
  if (info == nullptr || fd < 0) return 0;
  return write_bitmap_header(fd, *info) ? 1 : 0;
}

int CDib::WriteData(int fd, const std::uint8_t* bits, std::size_t size) {
  if (bits == nullptr) {
    bits = bits_;
    size = image_size_;
  }
  if (bits == nullptr || fd < 0) return 0;
  return detail::write_all(fd, bits, size) ? 1 : 0;
}

int CDib::SaveImageAsFile(int fd) { return WriteHeader(fd) == 1 && WriteData(fd) == 1 ? 1 : 0; }

int CDib::SaveImage(const char* path) {
  if (header_ == nullptr || file_name_.empty()) return 0;
  const std::string target = path != nullptr ? std::string(path) : file_name_;
  const std::string working = GetTempFile(file_name_);
  // The mapping is written back before the copy so that the copy sees every change.
  if (::msync(mapping_.data(), mapping_.size(), MS_SYNC) != 0) return 0;
  if (!detail::copy_atomic(working, target)) return 0;
  Empty();
  ::unlink(working.c_str());
  working_copy_made_ = false;
  const std::string own = file_name_;
  OpenImage(own);
  UpdateAllFilters();
  return 1;
}

// ---------------------------------------------------------------------------------------------
// CDib: drawing and resizing

namespace {

// Source index of destination index `d` of `dst` when `src` items are stretched over `dst`:
// rows and columns are dropped or repeated, each destination taking its centre's source.
int stretch_source(int d, int dst, int src) {
  return static_cast<int>((static_cast<std::int64_t>(2 * d + 1) * src) / (2 * static_cast<std::int64_t>(dst)));
}

}  // namespace

int CDib::DrawImage(pixel_surface& surface, CPoint point, CSize size) {
  if (header_ == nullptr) return 0;
  if (size.cx <= 0 || size.cy <= 0) return 1;
  const int src_w = header_->biWidth;
  const int src_h = dib_rows(*header_);
  const bool bottom_up = header_->biHeight > 0;
  const std::size_t stride = dib_stride(*header_);
  for (int vy = 0; vy < size.cy; ++vy) {
    const int sy = point.y + vy;
    if (sy < 0 || sy >= surface.height()) continue;
    const int src_visual = stretch_source(vy, size.cy, src_h);
    const int src_row = bottom_up ? src_h - 1 - src_visual : src_visual;
    const std::uint8_t* row = bits_ + static_cast<std::size_t>(src_row) * stride;
    std::uint8_t* out = surface.row(sy);
    for (int vx = 0; vx < size.cx; ++vx) {
      const int sx = point.x + vx;
      if (sx < 0 || sx >= surface.width()) continue;
      const rgb c = pixel_rgb(*header_, color_table_, color_count_, row, stretch_source(vx, size.cx, src_w));
      out[3 * sx] = c.blue;
      out[3 * sx + 1] = c.green;
      out[3 * sx + 2] = c.red;
    }
  }
  return 1;
}

CSize CDib::GetDimensions(const device_context&) {
  if (header_ == nullptr) return {0, 0};
  return {header_->biWidth, header_->biHeight};
}

int CDib::ResizeImage(CSize size) {
  if (header_ == nullptr || size.cx <= 0 || size.cy <= 0) return 0;
  const int bits = header_->biBitCount;
  const int colours = static_cast<int>(color_count_);
  std::vector<std::uint8_t> info = CreateBITMAPINFO(size.cx, size.cy, bits, colours);
  if (colours > 0) std::memcpy(info.data() + 40, color_table_, 4 * static_cast<std::size_t>(colours));
  auto* h = reinterpret_cast<BITMAPINFOHEADER*>(info.data());
  h->biClrUsed = h->biClrImportant = static_cast<std::uint32_t>(colours);
  h->biSizeImage = static_cast<std::uint32_t>(static_cast<std::uint64_t>(size.cy) * dib_stride(*h));

  // The scaled rows go out bottom first, as the new header's positive height says.
  const std::string mirror = GetMirrorFile(file_name_);
  file_writer out(detail::create_fresh(mirror));
  if (!out.ok()) return 0;
  if (WriteHeader(out.fd(), h) != 1) {
    out.close();
    ::unlink(mirror.c_str());
    return 0;
  }
  const int src_w = header_->biWidth;
  const int src_h = dib_rows(*header_);
  const bool bottom_up = header_->biHeight > 0;
  const std::size_t src_stride = dib_stride(*header_);
  std::vector<std::uint8_t> row(dib_stride(*h), 0);
  std::vector<int> columns(static_cast<std::size_t>(size.cx));
  for (int x = 0; x < size.cx; ++x) columns[static_cast<std::size_t>(x)] = stretch_source(x, size.cx, src_w);
  for (int stored = 0; stored < size.cy; ++stored) {
    const int visual = size.cy - 1 - stored;
    const int src_visual = stretch_source(visual, size.cy, src_h);
    const int src_row = bottom_up ? src_h - 1 - src_visual : src_visual;
    const std::uint8_t* src = bits_ + static_cast<std::size_t>(src_row) * src_stride;
    std::fill(row.begin(), row.end(), 0);
    for (int x = 0; x < size.cx; ++x) {
      set_raw_pixel(row.data(), x, bits, raw_pixel(src, columns[static_cast<std::size_t>(x)], bits));
    }
    out.write(row.data(), row.size());
  }
  if (!out.close()) {
    ::unlink(mirror.c_str());
    return 0;
  }
  const int updated = UpdateFile(mirror);
  UpdateAllFilters();
  return updated == kImageOk ? 1 : 0;
}

// ---------------------------------------------------------------------------------------------
// CDib: filters

int CDib::ApplayFilter(int id) {
  CDibFilter* filter = GetFilter(id);
  if (filter == nullptr || header_ == nullptr) return 0;
  const int result = filter->Applay();
  if (result == 1 && filter->HaveMirrowFile()) {
    UpdateFile(filter->GetMirrowFileName());
    // Every filter reads the new working copy from now on, not the unmapped old one.
    UpdateAllFilters();
  }
  return result;
}

}  // namespace imaging
