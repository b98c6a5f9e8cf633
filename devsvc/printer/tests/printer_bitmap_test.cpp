// Tests of CPrinterBitmap: BMP checks and malformed headers, the printer image, column form and
// stored image files, on bitmaps built in memory.
#include "printer/printer_bitmap.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "core/tests/hex.h"
#include "platform/testing/temp_dir.h"

namespace devsvc {
namespace {

using bytes = std::vector<std::uint8_t>;
using testing::hex;

void put16(bytes& b, std::size_t at, std::uint16_t v) {
  b[at] = static_cast<std::uint8_t>(v);
  b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

void put32(bytes& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// Offsets of fields in a BMP file.
constexpr std::size_t kOffBits = 10;
constexpr std::size_t kInfoSize = 14;
constexpr std::size_t kWidth = 18;
constexpr std::size_t kHeight = 22;
constexpr std::size_t kBitCount = 28;
constexpr std::size_t kCompression = 30;
constexpr std::size_t kClrUsed = 46;

struct colour {
  std::uint8_t blue, green, red, reserved;
};
constexpr colour kBlack{0, 0, 0, 0};
constexpr colour kWhite{0xFF, 0xFF, 0xFF, 0};

// A 1-bit BMP as a painting program writes it: `rows` holds the rows top first, each at least
// (width + 7) / 8 bytes; the rest of the stride is filled with 0xA5 so that a reader taking
// padding as image shows. A positive height writes the rows bottom first.
struct bmp_layout {
  std::int32_t width = 8;
  std::int32_t height = 1;
  std::vector<bytes> rows;
  std::vector<colour> palette{kBlack, kWhite};
  std::uint32_t info_size = 40;
};

bytes make_bmp(const bmp_layout& layout) {
  const std::size_t stride = (static_cast<std::size_t>(layout.width) + 31) / 32 * 4;
  const std::size_t height = static_cast<std::size_t>(layout.height < 0 ? -layout.height : layout.height);
  const std::size_t offset = 14 + layout.info_size + 4 * layout.palette.size();
  bytes b(offset + stride * height, 0);
  b[0] = 'B';
  b[1] = 'M';
  put32(b, 2, static_cast<std::uint32_t>(b.size()));
  put32(b, kOffBits, static_cast<std::uint32_t>(offset));
  put32(b, kInfoSize, layout.info_size);
  put32(b, kWidth, static_cast<std::uint32_t>(layout.width));
  put32(b, kHeight, static_cast<std::uint32_t>(layout.height));
  put16(b, 26, 1);
  put16(b, kBitCount, 1);
  put32(b, 34, static_cast<std::uint32_t>(stride * height));
  put32(b, kClrUsed, static_cast<std::uint32_t>(layout.palette.size()));
  for (std::size_t i = 0; i < layout.palette.size(); ++i) {
    const colour& c = layout.palette[i];
    const std::size_t at = 14 + layout.info_size + 4 * i;
    b[at] = c.blue;
    b[at + 1] = c.green;
    b[at + 2] = c.red;
    b[at + 3] = c.reserved;
  }
  for (std::size_t r = 0; r < height; ++r) {
    const std::size_t file_row = layout.height > 0 ? height - 1 - r : r;
    std::uint8_t* const row = b.data() + offset + file_row * stride;
    std::memset(row, 0xA5, stride);
    if (r < layout.rows.size()) std::memcpy(row, layout.rows[r].data(), std::min(stride, layout.rows[r].size()));
  }
  return b;
}

std::string str(const bytes& b) { return {b.begin(), b.end()}; }

void write_file(const std::filesystem::path& path, const bytes& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(content.data()), static_cast<std::streamsize>(content.size()));
}

bytes read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void expect_empty(const CPrinterBitmap& bitmap) {
  EXPECT_EQ(bitmap.width(), 0);
  EXPECT_EQ(bitmap.height(), 0);
  EXPECT_EQ(bitmap.row_bytes(), 0);
  EXPECT_TRUE(bitmap.image().empty());
}

// 9 x 10 dots (white first, so bits are dots as written): the top row, the left column and the
// bottom-right dot, with junk in the bits beyond the width that must not reach the image.
bmp_layout nine_by_ten() {
  bmp_layout layout;
  layout.width = 9;
  layout.height = 10;
  layout.palette = {kWhite, kBlack};
  layout.rows.assign(10, bytes{0x80, 0x7F});
  layout.rows[0] = {0xFF, 0xFF};
  layout.rows[9] = {0x80, 0xFF};
  return layout;
}

TEST(PrinterBitmap, HundredByFiftyImageHasThirteenRowBytesAndMaskedLastByte) {
  bmp_layout layout;
  layout.width = 100;
  layout.height = 50;
  layout.rows.assign(50, bytes(16, 0x00));  // black first: all bits clear is all black
  CPrinterBitmap bitmap;
  ASSERT_EQ(bitmap.load(make_bmp(layout)), kBitmapOk);
  EXPECT_EQ(bitmap.width(), 100);
  EXPECT_EQ(bitmap.height(), 50);
  EXPECT_EQ(bitmap.row_bytes(), 13);
  EXPECT_EQ(bitmap.stored_rows(), 7);
  ASSERT_EQ(bitmap.image().size(), 650u);
  const std::string row = std::string(12, '\xFF') + '\xF0';
  for (int r = 0; r < 50; ++r) {
    SCOPED_TRACE(r);
    EXPECT_EQ(hex(bitmap.image().substr(static_cast<std::size_t>(r) * 13, 13)), hex(row));
  }
}

// The file's row order decides which row is the top; padding never reaches the image.
TEST(PrinterBitmap, RowsComeOutTopFirstForBothRowOrders) {
  for (const std::int32_t height : {3, -3}) {
    SCOPED_TRACE(height);
    bmp_layout layout;
    layout.width = 16;
    layout.height = height;
    layout.palette = {kWhite, kBlack};
    layout.rows = {{0x01, 0x02}, {0x03, 0x04}, {0x05, 0x06}};
    CPrinterBitmap bitmap;
    ASSERT_EQ(bitmap.load(make_bmp(layout)), kBitmapOk);
    EXPECT_EQ(bitmap.height(), 3);
    EXPECT_EQ(bitmap.header().height, height);
    EXPECT_EQ(hex(bitmap.image()), "01 02 03 04 05 06");
  }
}

TEST(PrinterBitmap, FirstPaletteColourDecidesInversion) {
  struct row {
    const char* name;
    colour first;
    const char* image;  // of the file bits 0F F0, width 12
  };
  const row rows[] = {
      {"black first: inverted", kBlack, "F0 00"},
      {"black first with a reserved byte: inverted", {0, 0, 0, 0xFF}, "F0 00"},
      {"white first: kept", kWhite, "0F F0"},
      {"dark red first: kept", {0, 0, 0x80, 0}, "0F F0"},
      {"blue first: kept", {0x01, 0, 0, 0}, "0F F0"},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    bmp_layout layout;
    layout.width = 12;
    layout.palette = {r.first, kWhite};
    layout.rows = {{0x0F, 0xFF}};  // the last 4 bits lie beyond the width
    CPrinterBitmap bitmap;
    ASSERT_EQ(bitmap.load(make_bmp(layout)), kBitmapOk);
    EXPECT_EQ(hex(bitmap.image()), r.image);
  }
}

// V4 and V5 headers start like the 40-byte one; the palette follows the whole header.
TEST(PrinterBitmap, AcceptsLargerInformationHeaders) {
  for (const std::uint32_t info_size : {108u, 124u}) {
    SCOPED_TRACE(info_size);
    bmp_layout layout;
    layout.info_size = info_size;
    layout.rows = {{0x0F}};
    CPrinterBitmap bitmap;
    ASSERT_EQ(bitmap.load(make_bmp(layout)), kBitmapOk);
    EXPECT_EQ(hex(bitmap.image()), "F0");
    EXPECT_EQ(bitmap.header().size, 40u);
  }
}

TEST(PrinterBitmap, UnsupportedFormatsAreRefused) {
  struct row {
    const char* name;
    std::size_t at;
    std::uint32_t value;
    int size;  // bytes written at `at`
  };
  const row rows[] = {
      {"24 bits per dot", kBitCount, 24, 2},
      {"4 bits per dot", kBitCount, 4, 2},
      {"0 bits per dot", kBitCount, 0, 2},
      {"run-length compressed", kCompression, 1, 4},
      {"bit fields", kCompression, 3, 4},
      {"not BM", 0, 'B' | 'A' << 8, 2},
      {"core header of 12 bytes", kInfoSize, 12, 4},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    bytes file = make_bmp({});
    if (r.size == 2) put16(file, r.at, static_cast<std::uint16_t>(r.value));
    else put32(file, r.at, r.value);
    CPrinterBitmap bitmap;
    EXPECT_EQ(bitmap.load(file), kBitmapBadFormat);
    expect_empty(bitmap);
  }
}

// A real 24-bit file: 2 x 2 dots, stride 8, no palette.
TEST(PrinterBitmap, TwentyFourBitFileIsBadFormat) {
  bytes file(54 + 16, 0);
  file[0] = 'B';
  file[1] = 'M';
  put32(file, 2, 70);
  put32(file, kOffBits, 54);
  put32(file, kInfoSize, 40);
  put32(file, kWidth, 2);
  put32(file, kHeight, 2);
  put16(file, 26, 1);
  put16(file, kBitCount, 24);
  CPrinterBitmap bitmap;
  EXPECT_EQ(bitmap.load(file), kBitmapBadFormat);
}

// 32 dots wide gives a 4-byte stride, so 212000 rows are exactly the largest pixel data.
TEST(PrinterBitmap, PixelDataLimit) {
  bmp_layout layout;
  layout.width = 32;
  layout.height = 212000;
  CPrinterBitmap bitmap;
  ASSERT_EQ(bitmap.load(make_bmp(layout)), kBitmapOk);
  EXPECT_EQ(bitmap.image().size(), 848000u);

  layout.height = 212001;
  EXPECT_EQ(bitmap.load(make_bmp(layout)), kBitmapTooLarge);
  expect_empty(bitmap);

  layout.height = -212001;
  EXPECT_EQ(bitmap.load(make_bmp(layout)), kBitmapTooLarge);
}

// Headers whose pixel data is far beyond the limit (some of it wrapping to a small number in 32
// bits) are refused from the header alone, without reading or allocating anything.
TEST(PrinterBitmap, HugeHeadersAreTooLarge) {
  struct row {
    const char* name;
    std::int32_t width;
    std::int32_t height;
  };
  const row rows[] = {
      {"stride x height wraps to 65536 in 32 bits", 524288, 65537},
      {"stride x height wraps to 0 in 32 bits", 524288, 65536},
      {"width x bit count + 31 overflows", 0x7FFFFFFF, 1},
      {"largest width and height", 0x7FFFFFFF, 0x7FFFFFFF},
      {"most negative height", 8, INT32_MIN},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    bytes file = make_bmp({});  // 8 x 1 dots of data only
    put32(file, kWidth, static_cast<std::uint32_t>(r.width));
    put32(file, kHeight, static_cast<std::uint32_t>(r.height));
    CPrinterBitmap bitmap;
    EXPECT_EQ(bitmap.load(file), kBitmapTooLarge);
    expect_empty(bitmap);
  }
}

// Every size and offset is checked against the file before use: no crash, no over-read (the
// sanitizer build catches one), the object left empty.
TEST(PrinterBitmap, MalformedHeadersAreBadFormat) {
  bmp_layout layout;
  layout.width = 16;
  layout.height = 2;
  const bytes good = make_bmp(layout);  // headers and palette 62 bytes, pixels 2 x 4
  struct row {
    const char* name;
    std::size_t at;         // where to write `value`; SIZE_MAX for none
    std::uint32_t value;
    std::size_t keep;       // bytes of the file kept
  };
  const std::size_t all = good.size();
  const row rows[] = {
      {"empty file", SIZE_MAX, 0, 0},
      {"file header only", SIZE_MAX, 0, 14},
      {"information header cut short", SIZE_MAX, 0, 53},
      {"palette cut short", SIZE_MAX, 0, 58},
      {"last row cut short", SIZE_MAX, 0, all - 1},
      {"pixel offset beyond the end", kOffBits, static_cast<std::uint32_t>(all + 1), all},
      {"pixel offset 4 GiB", kOffBits, 0xFFFFFFFF, all},
      {"pixel data one byte past the end", kOffBits, 63, all},
      {"pixel offset inside the headers", kOffBits, 20, all},
      {"palette count 4 G", kClrUsed, 0xFFFFFFFF, all},
      {"palette one entry past the end", kClrUsed, 5, all},
      {"width 0", kWidth, 0, all},
      {"width negative", kWidth, static_cast<std::uint32_t>(-16), all},
      {"width most negative", kWidth, 0x80000000, all},
      {"height 0", kHeight, 0, all},
      {"information header size beyond the end", kInfoSize, 124, all},
      {"information header size 4 GiB", kInfoSize, 0xFFFFFFFF, all},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    bytes file = good;
    if (r.at != SIZE_MAX) put32(file, r.at, r.value);
    file.resize(r.keep);
    file.shrink_to_fit();  // so that the sanitizer sees a read past the kept bytes
    CPrinterBitmap bitmap;
    EXPECT_EQ(bitmap.load(file), kBitmapBadFormat);
    expect_empty(bitmap);
  }
}

TEST(PrinterBitmap, FailedLoadEmptiesAnEarlierImage) {
  CPrinterBitmap bitmap;
  ASSERT_EQ(bitmap.load(make_bmp({})), kBitmapOk);
  bytes bad = make_bmp({});
  put16(bad, kBitCount, 8);
  EXPECT_EQ(bitmap.load(bad), kBitmapBadFormat);
  expect_empty(bitmap);
}

TEST(PrinterBitmap, LoadsFromFile) {
  platform::testing::temp_dir dir;
  write_file(dir / "Logo.BMP", make_bmp(nine_by_ten()));
  CPrinterBitmap bitmap;
  EXPECT_EQ(bitmap.load(dir / "nothing.bmp"), kBitmapOpenFailed);
  EXPECT_EQ(bitmap.load(dir.path()), kBitmapOpenFailed);  // a folder is not a bitmap file
  // Nor is a pipe nobody writes to, nor a device: refused at once, without waiting on them.
  ASSERT_EQ(::mkfifo((dir / "pipe.bmp").c_str(), 0600), 0);
  EXPECT_EQ(bitmap.load(dir / "pipe.bmp"), kBitmapOpenFailed);
  EXPECT_EQ(bitmap.load("/dev/zero"), kBitmapOpenFailed);
  ASSERT_EQ(bitmap.load(dir / "logo.bmp"), kBitmapOk);    // names are matched ignoring case
  EXPECT_EQ(bitmap.width(), 9);
  EXPECT_EQ(bitmap.height(), 10);

  bytes bad = make_bmp({});
  put32(bad, kCompression, 2);
  write_file(dir / "bad.bmp", bad);
  EXPECT_EQ(bitmap.load(dir / "bad.bmp"), kBitmapBadFormat);
  expect_empty(bitmap);

  // A file far beyond any printable bitmap is refused before it is read (a sparse file here).
  const bytes header = make_bmp(nine_by_ten());
  write_file(dir / "huge.bmp", header);
  std::filesystem::resize_file(dir / "huge.bmp", 64u << 20);
  EXPECT_EQ(bitmap.load(dir / "huge.bmp"), kBitmapTooLarge);
}

// Worked by hand: dot column 0 is full (10 dots: FF C0), columns 1 to 7 hold the top dot only
// (80 00), column 8 the top and bottom dots (80 40), columns 9 to 15 lie beyond the width.
TEST(PrinterBitmap, ColumnFormOfNineByTen) {
  CPrinterBitmap bitmap;
  ASSERT_EQ(bitmap.load(make_bmp(nine_by_ten())), kBitmapOk);
  EXPECT_EQ(hex(bitmap.image()),
            "FF 80 80 00 80 00 80 00 80 00 80 00 80 00 80 00 80 00 80 80");
  EXPECT_EQ(bitmap.stored_rows(), 2);
  EXPECT_EQ(hex(bitmap.column_form()),
            "FF C0 80 00 80 00 80 00 80 00 80 00 80 00 80 00 80 40 "
            "00 00 00 00 00 00 00 00 00 00 00 00 00 00");
}

// One dot per byte column in the first row, an exact 8-row group: no padding in either way.
TEST(PrinterBitmap, ColumnFormOfSixteenByEight) {
  bmp_layout layout;
  layout.width = 16;
  layout.height = -8;
  layout.palette = {kWhite, kBlack};
  layout.rows.assign(8, bytes{0x00, 0x00});
  layout.rows[0] = {0x40, 0x00};  // dot column 1, top row
  layout.rows[7] = {0x00, 0x01};  // dot column 15, bottom row
  CPrinterBitmap bitmap;
  ASSERT_EQ(bitmap.load(make_bmp(layout)), kBitmapOk);
  EXPECT_EQ(hex(bitmap.column_form()), "00 80 00 00 00 00 00 00 00 00 00 00 00 00 00 01");
}

TEST(PrinterBitmap, StoredImageRoundTrip) {
  platform::testing::temp_dir dir;
  const bytes source = make_bmp(nine_by_ten());
  CPrinterBitmap bitmap;
  ASSERT_EQ(bitmap.load(source), kBitmapOk);
  std::error_code error;
  ASSERT_TRUE(bitmap.save_stored(dir / "IMG7.dat", error)) << error.message();

  // "M", the file's information header with the image size set to the 32 column-form bytes.
  const bytes stored = read_file(dir / "IMG7.dat");
  ASSERT_EQ(stored.size(), 1u + 40 + 32);
  bytes expected_header(source.begin() + 14, source.begin() + 54);
  put32(expected_header, 20, 32);
  EXPECT_EQ(stored[0], 0x4D);
  EXPECT_EQ(hex(str(bytes(stored.begin() + 1, stored.begin() + 41))), hex(str(expected_header)));
  EXPECT_EQ(hex(str(bytes(stored.begin() + 41, stored.end()))), hex(bitmap.column_form()));

  stored_image image;
  ASSERT_EQ(load_stored_image(dir / "IMG7.dat", image), kBitmapOk);
  EXPECT_EQ(image.row_bytes, 2);
  EXPECT_EQ(image.stored_rows, 2);
  EXPECT_EQ(hex(image.data), hex(bitmap.column_form()));
  EXPECT_EQ(load_stored_image(dir / "IMG8.dat", image), kBitmapOpenFailed);
  EXPECT_TRUE(image.data.empty());
}

// A top-down bitmap keeps its negative height in the stored header; y comes from its size.
TEST(PrinterBitmap, StoredImageOfTopDownBitmap) {
  bmp_layout layout = nine_by_ten();
  layout.height = -10;
  CPrinterBitmap bitmap;
  ASSERT_EQ(bitmap.load(make_bmp(layout)), kBitmapOk);
  platform::testing::temp_dir dir;
  std::error_code error;
  ASSERT_TRUE(bitmap.save_stored(dir / "IMG1.dat", error)) << error.message();
  stored_image image;
  ASSERT_EQ(load_stored_image(dir / "IMG1.dat", image), kBitmapOk);
  EXPECT_EQ(image.stored_rows, 2);
  EXPECT_EQ(hex(image.data), hex(bitmap.column_form()));
}

TEST(PrinterBitmap, SaveStoredFailures) {
  platform::testing::temp_dir dir;
  std::error_code error;
  CPrinterBitmap empty;
  EXPECT_FALSE(empty.save_stored(dir / "IMG1.dat", error));
  EXPECT_TRUE(error);
  EXPECT_FALSE(std::filesystem::exists(dir / "IMG1.dat"));

  CPrinterBitmap bitmap;
  ASSERT_EQ(bitmap.load(make_bmp({})), kBitmapOk);
  error.clear();
  EXPECT_FALSE(bitmap.save_stored(dir / "no folder" / "IMG1.dat", error));
  EXPECT_TRUE(error);
}

TEST(PrinterBitmap, MalformedStoredFilesAreBadFormat) {
  // A valid stored image of 9 x 10 dots: 1 + 40 + 32 bytes.
  CPrinterBitmap bitmap;
  ASSERT_EQ(bitmap.load(make_bmp(nine_by_ten())), kBitmapOk);
  platform::testing::temp_dir dir;
  std::error_code error;
  ASSERT_TRUE(bitmap.save_stored(dir / "IMG.dat", error));
  const bytes good = read_file(dir / "IMG.dat");
  stored_image image;
  ASSERT_EQ(load_stored_image(good, image), kBitmapOk);

  constexpr std::size_t kStoredWidth = 1 + 4;
  constexpr std::size_t kStoredHeight = 1 + 8;
  constexpr std::size_t kStoredSizeImage = 1 + 20;
  struct row {
    const char* name;
    std::size_t at;  // SIZE_MAX for no change; 0 writes `value` as the first byte
    std::uint32_t value;
    std::size_t keep;
  };
  const std::size_t all = good.size();
  const row rows[] = {
      {"empty", SIZE_MAX, 0, 0},
      {"mark only", SIZE_MAX, 0, 1},
      {"header cut short", SIZE_MAX, 0, 40},
      {"wrong mark", 0, 'B', all},
      {"width 0", kStoredWidth, 0, all},
      {"width negative", kStoredWidth, static_cast<std::uint32_t>(-9), all},
      {"height 0", kStoredHeight, 0, all},
      {"height larger than the data", kStoredHeight, 17, all},
      {"image size one more than x * y * 8", kStoredSizeImage, 33, all},
      {"image size 4 GiB", kStoredSizeImage, 0xFFFFFFFF, all},
      {"data one byte short", SIZE_MAX, 0, all - 1},
      {"header only", SIZE_MAX, 0, 41},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    bytes file = good;
    if (r.at == 0) file[0] = static_cast<std::uint8_t>(r.value);
    else if (r.at != SIZE_MAX) put32(file, r.at, r.value);
    file.resize(r.keep);
    file.shrink_to_fit();
    image.data = "old";
    EXPECT_EQ(load_stored_image(file, image), kBitmapBadFormat);
    EXPECT_TRUE(image.data.empty());
  }

  bytes longer = good;
  longer.push_back(0);
  EXPECT_EQ(load_stored_image(longer, image), kBitmapBadFormat) << "a byte after the data";
}

}  // namespace
}  // namespace devsvc
