// The image library's images: bitmaps held in a memory-mapped working copy (CDib), JPEG
// pictures (CJpeg), their common base (CImage), and the plain types they share.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace imaging {

static_assert(std::endian::native == std::endian::little, "bitmap headers are read in place as little-endian");

// Results of opening an image (0 is success).
inline constexpr int kImageOk = 0;
inline constexpr int kImageCannotOpen = 49;     // missing, locked or read-only
inline constexpr int kImageEmptyFile = 50;      // the file is empty
inline constexpr int kImageNotBitmap = 51;      // does not start with "BM"
inline constexpr int kImageCompressed = 53;     // biCompression is not 0
inline constexpr int kImageCannotMap = 64;      // the working copy cannot be mapped, or is not "BM"
inline constexpr int kImageBadHeader = 65;      // info header size not 40, or a header the data cannot hold
inline constexpr int kImageBadPicture = 80;     // the JPEG (or PNG) cannot be decoded

// Image types returned by GetImageType.
inline constexpr int kImageTypeDib = 1;
inline constexpr int kImageTypeJpeg = 2;

// The 40-byte bitmap information header, read in place from the working copy. In a file it
// starts at byte 14, so it is aligned to 2 bytes only.
#pragma pack(push, 2)
struct BITMAPINFOHEADER {
  std::uint32_t biSize;
  std::int32_t biWidth;
  std::int32_t biHeight;  // positive: rows stored bottom first; negative: top first
  std::uint16_t biPlanes;
  std::uint16_t biBitCount;
  std::uint32_t biCompression;
  std::uint32_t biSizeImage;
  std::int32_t biXPelsPerMeter;
  std::int32_t biYPelsPerMeter;
  std::uint32_t biClrUsed;
  std::uint32_t biClrImportant;
};
#pragma pack(pop)
static_assert(sizeof(BITMAPINFOHEADER) == 40 && alignof(BITMAPINFOHEADER) == 2);

// One colour-table entry as stored in a bitmap: blue, green, red, reserved.
struct RGBQUAD {
  std::uint8_t rgbBlue;
  std::uint8_t rgbGreen;
  std::uint8_t rgbRed;
  std::uint8_t rgbReserved;
};
static_assert(sizeof(RGBQUAD) == 4);

struct CPoint {
  int x = 0;
  int y = 0;
};

struct CSize {
  int cx = 0;
  int cy = 0;
  friend bool operator==(const CSize&, const CSize&) = default;
};

// A logical palette: version 0x300, one entry per colour-table entry (flags 0).
struct logical_palette {
  struct entry {
    std::uint8_t red, green, blue, flags;
  };
  std::uint16_t version = 0x300;
  std::vector<entry> entries;
};

// Run-time class information: the class's own name and a link to its base class.
struct CRuntimeClass {
  const char* m_lpszClassName;
  const CRuntimeClass* m_pBaseClass;
  // True when this class is `base` or derives from it.
  bool IsDerivedFrom(const CRuntimeClass* base) const;
};

// The resolution that sizes a picture on a drawing target ("device context"): pixels per inch.
struct device_context {
  int dpi_x = 96;
  int dpi_y = 96;
};

// A drawing target of the library's own: 24-bit pixels (blue, green, red), top row first,
// `width() * 3` bytes a row, and the resolution that sizes JPEG pictures on it.
class pixel_surface {
 public:
  pixel_surface(int width, int height, device_context dc = {});
  int width() const { return width_; }
  int height() const { return height_; }
  const device_context& dc() const { return dc_; }
  std::uint8_t* row(int y) { return pixels_.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(width_) * 3; }
  const std::uint8_t* row(int y) const {
    return pixels_.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(width_) * 3;
  }

 private:
  int width_;
  int height_;
  device_context dc_;
  std::vector<std::uint8_t> pixels_;
};

// Where long operations report their progress (a progress bar): one step per image row.
class progress_control {
 public:
  virtual ~progress_control() = default;
  // Range lower..upper of the steps to come.
  virtual void SetRange(int lower, int upper) = 0;
  virtual void SetStep(int step) = 0;
  // Advances one step.
  virtual void StepIt() = 0;
};

class CDibFilter;

// A read-write memory mapping of a whole file; unmapped and closed on destruction.
class mapped_file {
 public:
  mapped_file() = default;
  ~mapped_file() { close(); }
  mapped_file(const mapped_file&) = delete;
  mapped_file& operator=(const mapped_file&) = delete;
  // Maps `path` read/write; false (and nothing mapped) when that fails or the file is empty.
  bool open(const std::string& path);
  void close();
  std::uint8_t* data() const { return view_; }
  std::size_t size() const { return size_; }

 private:
  int fd_ = -1;
  std::uint8_t* view_ = nullptr;
  std::size_t size_ = 0;
};

// An image and its filters. The image owns the filters added to it.
class CImage {
 public:
  static const CRuntimeClass classCImage;
  virtual const CRuntimeClass* GetRuntimeClass() const { return &classCImage; }
  bool IsKindOf(const CRuntimeClass* cls) const { return GetRuntimeClass()->IsDerivedFrom(cls); }

  virtual ~CImage();
  CImage(const CImage&) = delete;
  CImage& operator=(const CImage&) = delete;

  // Checks the opened file `fd` (positioned at its start) for this image type: 0 or a failure code.
  virtual int CheckFileImageType(int fd) = 0;
  // Opens the image at `path`: 0 or one of the codes above; on failure the image is empty.
  virtual int OpenImage(const std::string& path) = 0;
  // Saves the image over `path` (nullptr: its own file). 1 on success, 0 otherwise.
  virtual int SaveImage(const char* path) = 0;
  // Draws the image onto `surface` at `point`, `size` pixels large: 1, or 0 with nothing to draw.
  virtual int DrawImage(pixel_surface& surface, CPoint point, CSize size) = 0;
  // The image's size in pixels on `dc`.
  virtual CSize GetDimensions(const device_context& dc) = 0;
  // The image's palette, or nullptr.
  virtual const logical_palette* GetPalette();
  // Applies the filter with identifier `id`: its result, 0 when there is none or it cannot run.
  virtual int ApplayFilter(int id);

  // Appends `filter` (ignored when null); the image owns it from now on.
  void AddFilter(CDibFilter* filter);
  void AddFilter(std::unique_ptr<CDibFilter> filter);
  // Removes and deletes the first filter with identifier `id`; true if there was one.
  bool RemoveFilter(int id);
  // Where progress goes; nullptr for none. Not owned.
  void SetProgressCntrl(progress_control* progress) { progress_ = progress; }
  bool IsProgressSet() const { return progress_ != nullptr; }
  int GetImageType() const { return image_type_; }
  // The path the image was opened from.
  const std::string& GetFileName() const { return file_name_; }

  // Progress of the running operation: a range of `rows` steps of 1, then one step per row.
  void SetProgressRange(int rows);
  void StepProgress();
  // The first filter with identifier `id`, or nullptr.
  CDibFilter* GetFilter(int id) const;
  // Re-reads the image's header and bits into every filter.
  void UpdateAllFilters();
  // The working-copy name of `path`: its last character replaced by "x" (appended when it is
  // already "x", so that the working copy is never the file itself).
  static std::string GetTempFile(const std::string& path);
  // The mirror name of `path`: its last character replaced by "r" (appended when already "r").
  static std::string GetMirrorFile(const std::string& path);

 protected:
  explicit CImage(int image_type) : image_type_(image_type) {}
  // Opens `path` for reading and writing: 49 when that fails, 50 when it is empty, else the
  // result of CheckFileImageType.
  int CheckFileImage(const std::string& path);
  bool MapFile(const std::string& path) { return mapping_.open(path); }
  void UnMapFile() { mapping_.close(); }

  // Owned: deleted by RemoveFilter and the destructor.
  std::vector<CDibFilter*> filters_;
  progress_control* progress_ = nullptr;
  int image_type_;
  mapped_file mapping_;
  std::optional<logical_palette> palette_;
  std::string file_name_;
};

class CJpeg;

// A bitmap held in a memory-mapped working copy beside its file ("logo.bmp" works in
// "logo.bmx"); the user's file changes only through SaveImage.
class CDib : public CImage {
 public:
  static const CRuntimeClass classCDib;
  const CRuntimeClass* GetRuntimeClass() const override { return &classCDib; }

  CDib() : CImage(kImageTypeDib) {}
  // Converts `jpeg` into a 24-bit bitmap beside it (its extension replaced by ".bmp") at its
  // size on `dc`, and opens that; ConversionResult() says how it went.
  CDib(CJpeg& jpeg, const device_context& dc);
  // Empties the image and deletes its working copy.
  ~CDib() override;

  int CheckFileImageType(int fd) override;
  int OpenImage(const std::string& path) override;
  // Copies the working copy over `path` (nullptr: the own file), deletes the working copy and
  // opens the own file again. 1, or 0 (the image unchanged) when the copy fails.
  int SaveImage(const char* path) override;
  // Stretches the bitmap to the rectangle at `point` with `size` (rows and columns dropped or
  // repeated, no blending), clipped to the surface.
  int DrawImage(pixel_surface& surface, CPoint point, CSize size) override;
  // (biWidth, biHeight), or (0, 0) without a header.
  CSize GetDimensions(const device_context& dc) override;
  int ApplayFilter(int id) override;

  // Maps `path` and takes its header: 0, 64 (cannot map, not "BM") or 65.
  int AttachToFile(const std::string& path);
  // Takes `header` (a 40-byte info header, its colour table and the bits, `size` bytes in all):
  // 0, or 65 when the header is not one this library reads or describes more than `size` bytes.
  int AttachMemory(std::uint8_t* header, std::size_t size);
  int AttachMemory(std::unique_ptr<std::uint8_t[]> header, std::size_t size);

  // Rebuilds the palette from the colour table (1, 4 and 8 bits only): 1, else 0.
  int UpdatePalette();
  // Scales the image to `size` (rows and columns dropped or repeated) at its bit count and
  // colour table; the result becomes the working copy. 1, or 0 for an empty size or image.
  int ResizeImage(CSize size);

  std::size_t GetSizeImage() const { return image_size_; }
  std::size_t GetSizeHeader() const { return 40 + 4 * static_cast<std::size_t>(color_count_); }
  std::uint32_t GetColorCount() const { return color_count_; }
  BITMAPINFOHEADER* GetHeader() const { return header_; }
  RGBQUAD* GetColorTable() const { return color_table_; }
  std::uint8_t* GetBits() const { return bits_; }
  // Rows of pixel data (|biHeight|) and bytes per row (DWORD-aligned).
  int GetRows() const;
  std::size_t GetStride() const;
  // The working copy's path ("" before an open).
  std::string GetWorkingCopy() const { return file_name_.empty() ? std::string() : GetTempFile(file_name_); }
  // Result of the JPEG conversion constructor: 0, or the failure code.
  int ConversionResult() const { return conversion_result_; }

  // A zeroed header of 40 + 4 * colours bytes with biSize 40, the size, biPlanes 1 and the bit count.
  static std::vector<std::uint8_t> CreateBITMAPINFO(int width, int height, int bit_count, int colours);
  // Writes the 14-byte file header ("BM", the file's real size, bfOffBits) and `info` with its
  // colour table (nullptr: the own header) to `fd`. 1, or 0 when writing fails.
  int WriteHeader(int fd, const BITMAPINFOHEADER* info = nullptr);
  // Writes `size` bytes from `bits` (nullptr: the own bits and image size). 1, or 0.
  int WriteData(int fd, const std::uint8_t* bits = nullptr, std::size_t size = 0);
  int SaveImageAsFile(int fd);

  // Unmaps and forgets the header, bits and palette (the file name stays).
  void Empty();
  // Makes `path` the working copy (moved over it) and attaches it: 0 or the attach failure.
  int UpdateFile(const std::string& path);

 private:
  int ComputeMetrics(std::size_t size);
  std::uint32_t ComputePaletteSize(std::uint16_t bit_count);
  int MakePalette();
  int ConvertJpeg(CJpeg& jpeg, const device_context& dc);

  RGBQUAD* color_table_ = nullptr;
  std::uint8_t* bits_ = nullptr;
  // 0: the header lies in the mapped working copy; 1: it is owned_header_.
  int header_ownership_ = 0;
  std::unique_ptr<std::uint8_t[]> owned_header_;
  std::size_t image_size_ = 0;
  std::uint32_t color_count_ = 0;
  BITMAPINFOHEADER* header_ = nullptr;
  int conversion_result_ = 0;
  // True while a working copy made by this object exists on disk.
  bool working_copy_made_ = false;
};

// A JPEG picture: its file's bytes and its natural size in 0.01 mm (from the file's density,
// 96 dpi when it has none).
class CJpeg : public CImage {
 public:
  static const CRuntimeClass classCJpeg;
  const CRuntimeClass* GetRuntimeClass() const override { return &classCJpeg; }

  CJpeg() : CImage(kImageTypeJpeg) {}
  ~CJpeg() override;

  // Any non-empty file passes; the decoder decides.
  int CheckFileImageType(int fd) override;
  // 0, or 49, 50 and 80 (not a JPEG the decoder reads).
  int OpenImage(const std::string& path) override;
  // JPEG pictures are not saved: 0.
  int SaveImage(const char* path) override;
  // Renders the whole picture at (0, 0) of `surface` at its size on the surface's resolution.
  int DrawImage(pixel_surface& surface, CPoint point, CSize size) override;
  // The natural size on `dc`: 0.01 mm x dpi / 2540, rounded to nearest.
  CSize GetDimensions(const device_context& dc) override;

  // The picture's pixels and natural size in 0.01 mm.
  int pixel_width() const { return pixel_width_; }
  int pixel_height() const { return pixel_height_; }
  int himetric_width() const { return himetric_width_; }
  int himetric_height() const { return himetric_height_; }

  // Decodes the picture and scales it to `size`, handing each row (top first, `size.cx` pixels
  // of blue, green, red) to `row`. False when the data cannot be decoded.
  template <typename RowFn>
  bool Render(CSize size, RowFn&& row) {
    return RenderRows(size, &row, [](void* fn, int y, const std::uint8_t* bgr) { (*static_cast<RowFn*>(fn))(y, bgr); });
  }

 private:
  bool RenderRows(CSize size, void* context, void (*row)(void*, int, const std::uint8_t*));

  std::vector<std::uint8_t> data_;
  int pixel_width_ = 0;
  int pixel_height_ = 0;
  int himetric_width_ = 0;
  int himetric_height_ = 0;
};

}  // namespace imaging
