// The bitmap filters: grey scale, black and white, halftone, red/white and 8-bit reduction,
// with the octree colour tree of the last.
#include "imaging/filters.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <unordered_map>

#include "file_io.h"
#include "pixels.h"

namespace imaging {

using detail::file_writer;

const CRuntimeClass CDibFilter::classCDibFilter = {"CDibFilter", nullptr};
const CRuntimeClass CDibFilterGrayScale::classCDibFilterGrayScale = {"CDibFilterGrayScale", &CDibFilter::classCDibFilter};
const CRuntimeClass CDibFilterBlackWhite::classCDibFilterBlackWhite = {"CDibFilterBlackWhite",
                                                                       &CDibFilter::classCDibFilter};
const CRuntimeClass CDibFilterHalftone::classCDibFilterHalftone = {"CDibFilterHalftone", &CDibFilter::classCDibFilter};
const CRuntimeClass CDibFilterRed::classCDibFilterRed = {"CDibFilterRed", &CDibFilter::classCDibFilter};
const CRuntimeClass CDibFilter8Bpp::classCDibFilter8Bpp = {"CDibFilter8Bpp", &CDibFilter::classCDibFilter};

// ---------------------------------------------------------------------------------------------
// Kernels

namespace {

// Each kernel ends with an all-zero entry.
constexpr DiffusionWeight kFloydSteinberg[] = {{7, 1, 0}, {3, -1, 1}, {5, 0, 1}, {1, 1, 1}, {0, 0, 0}};
constexpr DiffusionWeight kBurkes[] = {{8, 1, 0}, {4, 2, 0}, {2, -2, 1}, {4, -1, 1},
                                       {8, 0, 1}, {4, 1, 1}, {2, 2, 1},  {0, 0, 0}};
constexpr DiffusionWeight kSierra[] = {{5, 1, 0}, {3, 2, 0}, {2, -2, 1}, {4, -1, 1}, {5, 0, 1}, {4, 1, 1},
                                       {2, 2, 1}, {2, -1, 2}, {3, 0, 2}, {2, 1, 2},  {0, 0, 0}};
constexpr DiffusionWeight kStucki[] = {{8, 1, 0}, {4, 2, 0}, {2, -2, 1}, {4, -1, 1}, {8, 0, 1},  {4, 1, 1}, {2, 2, 1},
                                       {1, -2, 2}, {2, -1, 2}, {4, 0, 2}, {2, 1, 2}, {1, 2, 2}, {0, 0, 0}};

template <std::size_t N>
std::span<const DiffusionWeight> without_end(const DiffusionWeight (&k)[N]) {
  return {k, N - 1};
}

}  // namespace

std::span<const DiffusionWeight> halftone_kernel(int type) {
  switch (type) {
    case kHalftoneFloydSteinberg:
      return without_end(kFloydSteinberg);
    case kHalftoneBurkes:
      return without_end(kBurkes);
    case kHalftoneSierra:
      return without_end(kSierra);
    case kHalftoneStucki:
      return without_end(kStucki);
    default:
      return {};
  }
}

int halftone_divisor(int type) {
  switch (type) {
    case kHalftoneFloydSteinberg:
      return 16;
    case kHalftoneBurkes:
    case kHalftoneSierra:
      return 32;
    case kHalftoneStucki:
      return 42;
    default:
      return 1;
  }
}

void diffuse_error(std::span<std::uint8_t> grey, int width, int x, int y, int error, int type) {
  const int divisor = halftone_divisor(type);
  const std::int64_t total = static_cast<std::int64_t>(grey.size());
  const std::int64_t here = static_cast<std::int64_t>(y) * width + x;
  for (const DiffusionWeight& w : halftone_kernel(type)) {
    const std::int64_t target = here + static_cast<std::int64_t>(w.dy) * width + w.dx;
    if (target <= 0 || target >= total) continue;
    std::uint8_t& cell = grey[static_cast<std::size_t>(target)];
    const int v = cell + (w.weight * error) / divisor;
    cell = static_cast<std::uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
  }
}

void pack_bits(const std::uint8_t* values, int count, std::uint8_t* out) {
  const int bytes = (count + 7) / 8;
  for (int i = 0; i < bytes; ++i) {
    unsigned b = 0;
    const int base = 8 * i;
    const int n = std::min(8, count - base);
    for (int k = 0; k < n; ++k) b |= static_cast<unsigned>(values[base + k] & 1u) << (7 - k);
    out[i] = static_cast<std::uint8_t>(b);
  }
}

// ---------------------------------------------------------------------------------------------
// CDibFilter

CDibFilter::CDibFilter(CDib* dib) : dib_(dib) { RefreshData(); }

int CDibFilter::RefreshData() {
  header_ = dib_ != nullptr ? dib_->GetHeader() : nullptr;
  bits_ = dib_ != nullptr ? dib_->GetBits() : nullptr;
  stride_ = header_ != nullptr ? dib_stride(*header_) : 0;
  return 1;
}

int CDibFilter::Applay() {
  have_mirror_ = false;
  return 1;
}

int CDibFilter::rows() const { return header_ != nullptr ? dib_rows(*header_) : 0; }

std::string CDibFilter::GetMirrowFileName() const {
  return dib_ != nullptr ? CImage::GetMirrorFile(dib_->GetFileName()) : std::string();
}

std::vector<std::uint8_t> CDibFilter::CreateBMIH() {
  std::vector<std::uint8_t> block(40 + 8, 0);
  BITMAPINFOHEADER h = *header_;
  h.biBitCount = 1;
  h.biClrUsed = 2;
  h.biClrImportant = 2;
  h.biSizeImage = static_cast<std::uint32_t>(static_cast<std::uint64_t>(rows()) *
                                             (((static_cast<std::uint64_t>(h.biWidth) + 31) & ~std::uint64_t{31}) / 8));
  std::memcpy(block.data(), &h, sizeof h);
  // Entry 0 black, entry 1 white.
  const RGBQUAD table[2] = {{0, 0, 0, 0}, {255, 255, 255, 0}};
  std::memcpy(block.data() + 40, table, sizeof table);
  return block;
}

int CDibFilter::InitMirrowFile() {
  const std::string path = GetMirrowFileName();
  const int fd = detail::create_fresh(path);
  if (fd < 0) return -1;
  const std::vector<std::uint8_t> block = CreateBMIH();
  if (dib_->WriteHeader(fd, reinterpret_cast<const BITMAPINFOHEADER*>(block.data())) != 1) {
    ::close(fd);
    ::unlink(path.c_str());
    return -1;
  }
  have_mirror_ = true;
  return fd;
}

void CDibFilter::InitProgress() { dib_->SetProgressRange(rows()); }
void CDibFilter::StepProgress() { dib_->StepProgress(); }

CDibFilter::CColor CDibFilter::GetPixelColor(int x, int y) const {
  const std::uint8_t* r = row(y);
  const RGBQUAD* table = dib_->GetColorTable();
  const std::uint32_t colours = dib_->GetColorCount();
  switch (header_->biBitCount) {
    case 4:
    case 8: {
      const std::uint32_t i = raw_pixel(r, x, header_->biBitCount);
      if (i >= colours) return {};
      return {table[i].rgbRed, table[i].rgbGreen, table[i].rgbBlue};
    }
    case 16: {
      const rgb c = rgb555(static_cast<std::uint16_t>(raw_pixel(r, x, 16)));
      return {c.red, c.green, c.blue};
    }
    case 24: {
      const std::uint8_t* p = r + 3 * static_cast<std::size_t>(x);
      return {p[2], p[1], p[0]};
    }
    case 32: {
      const std::uint8_t* p = r + 4 * static_cast<std::size_t>(x);
      return {p[2], p[1], p[0]};
    }
    default:
      return {};
  }
}

namespace {

// Writes 1-bit rows (given as 0/1 values) into a mirror, each padded to a multiple of 4 bytes.
class one_bit_rows {
 public:
  one_bit_rows(int fd, int width)
      : out_(fd), width_(width), row_((((static_cast<std::size_t>(width) + 31) & ~std::size_t{31}) / 8), 0) {}
  bool ok() const { return out_.ok(); }
  void write(const std::uint8_t* values) {
    pack_bits(values, width_, row_.data());
    out_.write(row_.data(), row_.size());
  }
  bool close() { return out_.close(); }

 private:
  file_writer out_;
  int width_;
  std::vector<std::uint8_t> row_;
};

bool deep_enough(const BITMAPINFOHEADER* h) {
  return h != nullptr && (h->biBitCount == 4 || h->biBitCount == 8 || h->biBitCount == 16 || h->biBitCount == 24);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Grey scale

int CDibFilterGrayScale::Applay() {
  have_mirror_ = false;
  if (header_ == nullptr) return 0;
  switch (header_->biBitCount) {
    case 4:
    case 8: {
      std::uint32_t entries = header_->biClrUsed;
      if (entries == 0) entries = header_->biBitCount == 4 ? 16 : 256;
      entries = std::min(entries, dib_->GetColorCount());
      RGBQUAD* table = dib_->GetColorTable();
      for (std::uint32_t i = 0; i < entries; ++i) {
        const std::uint8_t g = luminance(table[i].rgbRed, table[i].rgbGreen, table[i].rgbBlue);
        table[i].rgbRed = table[i].rgbGreen = table[i].rgbBlue = g;
      }
      dib_->UpdatePalette();
      return 0;
    }
    case 16:
    case 24: {
      // Only the width's pixels of each row change; the padding stays as it is.
      InitProgress();
      const int w = width();
      for (int y = 0; y < rows(); ++y) {
        std::uint8_t* r = bits_ + static_cast<std::size_t>(y) * stride_;
        for (int x = 0; x < w; ++x) {
          const CColor c = GetPixelColor(x, y);
          const std::uint8_t g = luminance(c.red, c.green, c.blue);
          if (header_->biBitCount == 24) {
            std::uint8_t* p = r + 3 * static_cast<std::size_t>(x);
            p[0] = p[1] = p[2] = g;
          } else {
            const unsigned f = g >> 3u;
            set_raw_pixel(r, x, 16, (f << 10) | (f << 5) | f);
          }
        }
        StepProgress();
      }
      return 1;
    }
    default:
      return 0;
  }
}

// ---------------------------------------------------------------------------------------------
// Black and white

int CDibFilterBlackWhite::Applay() {
  have_mirror_ = false;
  if (!deep_enough(header_)) return 0;
  const int fd = InitMirrowFile();
  if (fd < 0) return 0;
  one_bit_rows out(fd, width());
  std::vector<std::uint8_t> values(static_cast<std::size_t>(width()));
  InitProgress();
  for (int y = 0; y < rows(); ++y) {
    for (int x = 0; x < width(); ++x) {
      const CColor c = GetPixelColor(x, y);
      values[static_cast<std::size_t>(x)] = static_cast<std::uint8_t>((2 * luminance(c.red, c.green, c.blue)) / 256);
    }
    out.write(values.data());
    StepProgress();
  }
  if (!out.close()) {
    ::unlink(GetMirrowFileName().c_str());
    have_mirror_ = false;
    return 0;
  }
  return 1;
}

// ---------------------------------------------------------------------------------------------
// Halftone

int CDibFilterHalftone::SetHalftoneType(int type) {
  if (type < kHalftoneFloydSteinberg || type > kHalftoneStucki) return 0;
  type_ = type;
  return 1;
}

int CDibFilterHalftone::Applay() {
  have_mirror_ = false;
  if (!deep_enough(header_)) return 0;
  const int fd = InitMirrowFile();
  if (fd < 0) return 0;
  one_bit_rows out(fd, width());
  const int w = width();
  const int h = rows();
  // One byte per pixel: the grey picture the errors diffuse through.
  std::vector<std::uint8_t> grey(static_cast<std::size_t>(w) * static_cast<std::size_t>(h), 0);
  for (int y = 0; y < h; ++y) {
    std::uint8_t* g = grey.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(w);
    if (header_->biBitCount == 24) {
      const std::uint8_t* p = row(y);
      for (int x = 0; x < w; ++x, p += 3) g[x] = luminance(p[2], p[1], p[0]);
    } else {
      for (int x = 0; x < w; ++x) {
        const CColor c = GetPixelColor(x, y);
        g[x] = luminance(c.red, c.green, c.blue);
      }
    }
  }
  InitProgress();
  halftone_grey(grey, w, h, type_, [&](int, const std::uint8_t* values) {
    out.write(values);
    StepProgress();
  });
  if (!out.close()) {
    ::unlink(GetMirrowFileName().c_str());
    have_mirror_ = false;
    return 0;
  }
  return 1;
}

// ---------------------------------------------------------------------------------------------
// Red

std::vector<std::uint8_t> CDibFilterRed::CreateBMIH() {
  std::vector<std::uint8_t> block = CDibFilter::CreateBMIH();
  // Entry 0 red (blue 0, green 0, red 255), entry 1 white.
  const RGBQUAD table[2] = {{0, 0, 255, 0}, {255, 255, 255, 0}};
  std::memcpy(block.data() + 40, table, sizeof table);
  return block;
}

int CDibFilterRed::Applay() {
  have_mirror_ = false;
  if (header_ == nullptr) return 0;
  if (header_->biBitCount == 1) {
    RGBQUAD* table = dib_->GetColorTable();
    if (dib_->GetColorCount() < 2) return 0;
    const std::uint32_t first = static_cast<std::uint32_t>(table[0].rgbBlue) * 65536u +
                                static_cast<std::uint32_t>(table[0].rgbGreen) * 256u + table[0].rgbRed;
    if (first == 255) return 1;
    RGBQUAD& target = first == 0 ? table[0] : table[1];
    target.rgbRed = 255;
    target.rgbGreen = 0;
    target.rgbBlue = 0;
    dib_->UpdatePalette();
    return 0;
  }
  if (!deep_enough(header_)) return 0;
  const int fd = InitMirrowFile();
  if (fd < 0) return 0;
  one_bit_rows out(fd, width());
  std::vector<std::uint8_t> values(static_cast<std::size_t>(width()));
  for (int y = 0; y < rows(); ++y) {
    for (int x = 0; x < width(); ++x) {
      const CColor c = GetPixelColor(x, y);
      values[static_cast<std::size_t>(x)] = static_cast<std::uint8_t>((2 * luminance(c.red, c.green, c.blue)) / 256);
    }
    out.write(values.data());
  }
  if (!out.close()) {
    ::unlink(GetMirrowFileName().c_str());
    have_mirror_ = false;
    return 0;
  }
  return 1;
}

// ---------------------------------------------------------------------------------------------
// Octree

struct OctreeQuantizer::Node {
  bool leaf = false;
  std::uint32_t pixels = 0;
  std::uint32_t red = 0;
  std::uint32_t green = 0;
  std::uint32_t blue = 0;
  Node* children[8] = {};
  Node* next = nullptr;
};

OctreeQuantizer::OctreeQuantizer(int max_colors, int color_bits)
    : max_colors_(max_colors), color_bits_(std::clamp(color_bits, 1, 8)) {}

OctreeQuantizer::~OctreeQuantizer() { DeleteNode(root_); }

void OctreeQuantizer::DeleteNode(Node* node) {
  if (node == nullptr) return;
  for (Node* c : node->children) DeleteNode(c);
  delete node;
}

OctreeQuantizer::Node* OctreeQuantizer::CreateNode(int level) {
  Node* node = new Node;
  if (level == color_bits_) {
    node->leaf = true;
    ++leaf_count_;
  } else {
    node->next = reducible_[static_cast<std::size_t>(level)];
    reducible_[static_cast<std::size_t>(level)] = node;
  }
  return node;
}

void OctreeQuantizer::AddColor(std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
  Node** slot = &root_;
  for (int level = 0;; ++level) {
    if (*slot == nullptr) *slot = CreateNode(level);
    Node* node = *slot;
    if (node->leaf) {
      ++node->pixels;
      node->red += red;
      node->green += green;
      node->blue += blue;
      break;
    }
    const int shift = 7 - level;
    const int index = (((red >> shift) & 1) << 2) | (((green >> shift) & 1) << 1) | ((blue >> shift) & 1);
    slot = &node->children[index];
  }
  while (leaf_count_ > max_colors_) ReduceTree();
}

void OctreeQuantizer::ReduceTree() {
  int level = color_bits_ - 1;
  while (level > 0 && reducible_[static_cast<std::size_t>(level)] == nullptr) --level;
  Node* node = reducible_[static_cast<std::size_t>(level)];
  if (node == nullptr) return;
  reducible_[static_cast<std::size_t>(level)] = node->next;
  int children = 0;
  for (Node*& c : node->children) {
    if (c == nullptr) continue;
    node->pixels += c->pixels;
    node->red += c->red;
    node->green += c->green;
    node->blue += c->blue;
    DeleteNode(c);
    c = nullptr;
    ++children;
  }
  node->leaf = true;
  leaf_count_ -= children - 1;
}

void OctreeQuantizer::WalkTree(const Node* node, std::vector<RGBQUAD>& out) {
  if (node == nullptr) return;
  if (node->leaf) {
    const std::uint32_t n = node->pixels != 0 ? node->pixels : 1;
    out.push_back({static_cast<std::uint8_t>(node->blue / n), static_cast<std::uint8_t>(node->green / n),
                   static_cast<std::uint8_t>(node->red / n), 0});
    return;
  }
  for (const Node* c : node->children) WalkTree(c, out);
}

std::vector<RGBQUAD> OctreeQuantizer::GetColorTable() const {
  std::vector<RGBQUAD> out;
  out.reserve(static_cast<std::size_t>(leaf_count_));
  WalkTree(root_, out);
  return out;
}

// ---------------------------------------------------------------------------------------------
// 8 bits per pixel

std::vector<std::uint8_t> CDibFilter8Bpp::CreateBMIH() {
  std::vector<std::uint8_t> block(40 + 4 * static_cast<std::size_t>(color_count_), 0);
  BITMAPINFOHEADER h = *header_;
  h.biBitCount = 8;
  h.biClrUsed = h.biClrImportant = static_cast<std::uint32_t>(color_count_);
  h.biSizeImage = static_cast<std::uint32_t>(static_cast<std::uint64_t>(rows()) * dib_stride(h));
  std::memcpy(block.data(), &h, sizeof h);
  std::memcpy(block.data() + 40, color_table_.data(), 4 * static_cast<std::size_t>(color_count_));
  return block;
}

int CDibFilter8Bpp::Applay() {
  have_mirror_ = false;
  if (header_ == nullptr || header_->biBitCount < 16) return 0;
  const int w = width();
  const int h = rows();
  const bool packed24 = header_->biBitCount == 24;

  // The colour tree takes every pixel as it is shown: blue, green, red of 24-bit rows read
  // three bytes at a time, 16- and 32-bit pixels through their own layout.
  OctreeQuantizer tree(256, 8);
  for (int y = 0; y < h; ++y) {
    const std::uint8_t* p = row(y);
    for (int x = 0; x < w; ++x) {
      if (packed24) {
        tree.AddColor(p[3 * x + 2], p[3 * x + 1], p[3 * x]);
      } else {
        const CColor c = GetPixelColor(x, y);
        tree.AddColor(c.red, c.green, c.blue);
      }
    }
  }
  const std::vector<RGBQUAD> table = tree.GetColorTable();
  if (table.empty() || table.size() > 256) return 0;
  color_count_ = static_cast<int>(table.size());
  std::copy(table.begin(), table.end(), color_table_.begin());

  const int fd = InitMirrowFile();
  if (fd < 0) return 0;
  file_writer out(fd);
  std::vector<std::uint8_t> line(dib_stride(BITMAPINFOHEADER{40, w, 1, 1, 8, 0, 0, 0, 0, 0, 0}), 0);
  // The nearest palette entry by squared distance, the lowest index on a tie; remembered per colour.
  std::unordered_map<std::uint32_t, std::uint8_t> nearest;
  nearest.reserve(1024);
  InitProgress();
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const CColor c = GetPixelColor(x, y);
      const std::uint32_t key = (static_cast<std::uint32_t>(c.red) << 16) | (static_cast<std::uint32_t>(c.green) << 8) | c.blue;
      auto it = nearest.find(key);
      if (it == nearest.end()) {
        int best = 0;
        int best_distance = INT32_MAX;
        for (int i = 0; i < color_count_; ++i) {
          const RGBQUAD& q = color_table_[static_cast<std::size_t>(i)];
          const int dr = c.red - q.rgbRed;
          const int dg = c.green - q.rgbGreen;
          const int db = c.blue - q.rgbBlue;
          const int d = dr * dr + dg * dg + db * db;
          if (d < best_distance) {
            best_distance = d;
            best = i;
          }
        }
        if (nearest.size() > (1u << 20)) nearest.clear();
        it = nearest.emplace(key, static_cast<std::uint8_t>(best)).first;
      }
      line[static_cast<std::size_t>(x)] = it->second;
    }
    out.write(line.data(), line.size());
    StepProgress();
  }
  if (!out.close()) {
    ::unlink(GetMirrowFileName().c_str());
    have_mirror_ = false;
    return 0;
  }
  return 1;
}

}  // namespace imaging
