// Filters of a bitmap: grey scale, black and white by threshold, black and white by error
// diffusion (halftone, four kernels), reduction to 8 bits per pixel with an octree palette, and
// a red/white second-colour image. Mirror-writing filters stream their rows into "<name>.bmr",
// which then becomes the image's working copy.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "imaging/image.h"

namespace imaging {

// Filter types of the halftone filter.
inline constexpr int kHalftoneFloydSteinberg = 1;
inline constexpr int kHalftoneBurkes = 2;
inline constexpr int kHalftoneSierra = 3;
inline constexpr int kHalftoneStucki = 4;

// One entry of an error-diffusion kernel: the error times weight / divisor goes to the pixel
// dx columns right and dy rows further in storage order. A kernel ends with an all-zero entry.
struct DiffusionWeight {
  std::int32_t weight;
  std::int32_t dx;
  std::int32_t dy;
};

// The kernel and divisor of halftone type 1..4; an empty kernel for any other type.
std::span<const DiffusionWeight> halftone_kernel(int type);
int halftone_divisor(int type);

// Luminance of a colour: 0.299 red + 0.587 green + 0.114 blue in double precision, truncated.
inline std::uint8_t luminance(std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
  return static_cast<std::uint8_t>(0.299 * red + 0.587 * green + 0.114 * blue);
}

// Halftones a grey picture in place: `grey` holds `width` x `rows` luminances in storage order;
// each row in turn is decided (a pixel > 128 is white, its error g - 255; else black, its error
// g when g > 16, else none), its errors diffused with the kernel of `type` (across row ends, into
// any later buffer index above 0), and `row_done(y, bits)` gets the row as 0/1 values (1 white),
// `width` of them. The shared error-diffusion arithmetic of the kit's printers.
template <typename RowDone>
void halftone_grey(std::span<std::uint8_t> grey, int width, int rows, int type, RowDone&& row_done);

// Spreads `error` of pixel (x, y) over the grey picture `grey` (`width` pixels a row) with the
// kernel of `type`: each target index (y + dy) x width + x + dx strictly between 0 and the
// buffer's size gets (weight x error) / divisor (truncated toward zero), clamped to 0..255.
// Columns are not clipped: error near a row's ends flows into the neighbouring row.
void diffuse_error(std::span<std::uint8_t> grey, int width, int x, int y, int error, int type);

// The 1-bit row of `values` (0 or 1 each) packed most significant bit first into `out`,
// which holds at least (count + 7) / 8 bytes; bytes past those are not touched.
void pack_bits(const std::uint8_t* values, int count, std::uint8_t* out);

// A filter bound to one bitmap, found by its identifier.
class CDibFilter {
 public:
  static const CRuntimeClass classCDibFilter;
  virtual const CRuntimeClass* GetRuntimeClass() const { return &classCDibFilter; }
  bool IsKindOf(const CRuntimeClass* cls) const { return GetRuntimeClass()->IsDerivedFrom(cls); }

  // A pixel's colour.
  struct CColor {
    std::uint8_t red = 0;
    std::uint8_t green = 0;
    std::uint8_t blue = 0;
    friend bool operator==(const CColor&, const CColor&) = default;
  };

  explicit CDibFilter(CDib* dib);
  virtual ~CDibFilter() = default;
  CDibFilter(const CDibFilter&) = delete;
  CDibFilter& operator=(const CDibFilter&) = delete;

  // The header of the mirror file: the source header with 1 bit per pixel and a black/white
  // colour table.
  virtual std::vector<std::uint8_t> CreateBMIH();
  // Runs the filter: 1 when it produced something, 0 when it did nothing or worked in place
  // (each filter says which).
  virtual int Applay();
  // Re-reads the bitmap's header, bits and stride: 1.
  virtual int RefreshData();

  void SetFilterId(int id) { id_ = id; }
  int GetFilterId() const { return id_; }
  bool HaveMirrowFile() const { return have_mirror_; }
  // The mirror file's path ("<image path>" with its last character "r").
  std::string GetMirrowFileName() const;

 protected:
  CDibFilter(CDib* dib, int id) : CDibFilter(dib) { id_ = id; }
  // The pixel in column x of row y (storage order) as red, green, blue.
  CColor GetPixelColor(int x, int y) const;
  // Creates (or replaces) the mirror file and writes its header: the open descriptor, or -1.
  int InitMirrowFile();
  void InitProgress();
  void StepProgress();
  int rows() const;
  int width() const { return header_ != nullptr ? header_->biWidth : 0; }
  const std::uint8_t* row(int y) const { return bits_ + static_cast<std::size_t>(y) * stride_; }

  CDib* dib_;
  BITMAPINFOHEADER* header_ = nullptr;
  std::uint8_t* bits_ = nullptr;
  bool have_mirror_ = false;
  std::size_t stride_ = 0;
  int id_ = 0;
};

// Grey scale in place: the colour table of 4- and 8-bit images (result 0), every pixel of 16-
// and 24-bit images (result 1). 1- and 32-bit images: nothing, 0.
class CDibFilterGrayScale : public CDibFilter {
 public:
  static const CRuntimeClass classCDibFilterGrayScale;
  const CRuntimeClass* GetRuntimeClass() const override { return &classCDibFilterGrayScale; }
  CDibFilterGrayScale(CDib* dib, int id) : CDibFilter(dib, id) {}
  int Applay() override;
};

// Black and white by threshold (grey >= 128 is white) into a 1-bit mirror; 4 to 24 bits.
class CDibFilterBlackWhite : public CDibFilter {
 public:
  static const CRuntimeClass classCDibFilterBlackWhite;
  const CRuntimeClass* GetRuntimeClass() const override { return &classCDibFilterBlackWhite; }
  CDibFilterBlackWhite(CDib* dib, int id) : CDibFilter(dib, id) {}
  int Applay() override;
};

// Black and white by error diffusion into a 1-bit mirror; 4 to 24 bits.
class CDibFilterHalftone : public CDibFilter {
 public:
  static const CRuntimeClass classCDibFilterHalftone;
  const CRuntimeClass* GetRuntimeClass() const override { return &classCDibFilterHalftone; }
  CDibFilterHalftone(CDib* dib, int id) : CDibFilter(dib, id) {}
  int Applay() override;
  // Selects the kernel: 1 to 4 return 1; anything else returns 0 and keeps the type.
  int SetHalftoneType(int type);
  int GetHalftoneType() const { return type_; }

 private:
  int type_ = kHalftoneFloydSteinberg;
};

// A red/white 1-bit image: a 1-bit image's colour table recoloured in place, deeper images by
// threshold into a mirror whose colour 0 is red.
class CDibFilterRed : public CDibFilter {
 public:
  static const CRuntimeClass classCDibFilterRed;
  const CRuntimeClass* GetRuntimeClass() const override { return &classCDibFilterRed; }
  CDibFilterRed(CDib* dib, int id) : CDibFilter(dib, id) {}
  std::vector<std::uint8_t> CreateBMIH() override;
  int Applay() override;
};

// The colour tree of an octree colour reduction: at most `max_colors` leaves, `color_bits`
// levels below the root.
class OctreeQuantizer {
 public:
  OctreeQuantizer(int max_colors = 256, int color_bits = 8);
  ~OctreeQuantizer();
  OctreeQuantizer(const OctreeQuantizer&) = delete;
  OctreeQuantizer& operator=(const OctreeQuantizer&) = delete;

  // Adds one pixel, then reduces the tree while it has more leaves than allowed.
  void AddColor(std::uint8_t red, std::uint8_t green, std::uint8_t blue);
  int GetLeafCount() const { return leaf_count_; }
  // The palette: one entry per leaf, depth first with children in index order, each component
  // the leaf's sum / pixel count (reserved byte 0).
  std::vector<RGBQUAD> GetColorTable() const;

 private:
  struct Node;
  Node* CreateNode(int level);
  void ReduceTree();
  static void DeleteNode(Node* node);
  static void WalkTree(const Node* node, std::vector<RGBQUAD>& out);

  Node* root_ = nullptr;
  int leaf_count_ = 0;
  std::array<Node*, 9> reducible_{};
  int max_colors_;
  int color_bits_;
};

// Reduction to 8 bits per pixel with an octree palette into a mirror; 16 bits and up.
class CDibFilter8Bpp : public CDibFilter {
 public:
  static const CRuntimeClass classCDibFilter8Bpp;
  const CRuntimeClass* GetRuntimeClass() const override { return &classCDibFilter8Bpp; }
  CDibFilter8Bpp(CDib* dib, int id) : CDibFilter(dib, id) {}
  std::vector<std::uint8_t> CreateBMIH() override;
  int Applay() override;
  int GetColorCount() const { return color_count_; }

 private:
  int color_count_ = 0;
  std::array<RGBQUAD, 256> color_table_{};
};

// ---------------------------------------------------------------------------------------------

template <typename RowDone>
void halftone_grey(std::span<std::uint8_t> grey, int width, int rows, int type, RowDone&& row_done) {
  std::vector<std::uint8_t> values(static_cast<std::size_t>(width));
  for (int y = 0; y < rows; ++y) {
    const std::uint8_t* line = grey.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(width);
    for (int x = 0; x < width; ++x) {
      const int g = line[x];
      int error;
      if (g > 128) {
        values[static_cast<std::size_t>(x)] = 1;
        error = g - 255;
      } else {
        values[static_cast<std::size_t>(x)] = 0;
        error = g > 16 ? g : 0;
      }
      if (error != 0) diffuse_error(grey, width, x, y, error, type);
    }
    row_done(y, static_cast<const std::uint8_t*>(values.data()));
  }
}

}  // namespace imaging
