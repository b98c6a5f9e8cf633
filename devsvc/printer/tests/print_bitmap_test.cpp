// PrintBitmap, SetBitmap and SetLogo through the service object: the bytes the printer receives,
// the per-user record of stored bitmaps with its files, and the failure paths.
#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "core/opos.h"
#include "platform/registry.h"
#include "printer/tests/printer_fixture.h"
#include "testing/harness.h"
#include "tests/encoders.h"
#include "vprinter/bitmap.h"

namespace devsvc {
namespace {

using test::kStatusPoll;
using test::printer_object;
using test::run_tick;
using test::same_bytes;

const std::string kAlignLeft = "\x1B\x61\x30";
const std::string kAlignCentre = "\x1B\x61\x31";

void put(std::string& out, std::uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

// Writes a bottom-up BMP of `width` x `height` with `bits` per dot whose dot (x, y) (y from the
// top) is black where `black` says so. One-bit files have black as their first palette colour.
void write_bmp(const std::filesystem::path& file, int width, int height, const std::function<bool(int, int)>& black,
               int bits = 1) {
  const int stride = (width * bits + 31) / 32 * 4;
  const int palette = bits == 1 ? 2 : 0;
  const std::uint32_t offset = 14 + 40 + 4 * palette;
  std::string out = "BM";
  put(out, offset + stride * height, 4);
  put(out, 0, 4);
  put(out, offset, 4);
  for (const std::uint32_t v : {40u, static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height)}) put(out, v, 4);
  put(out, 1, 2);
  put(out, static_cast<std::uint32_t>(bits), 2);
  for (const std::uint32_t v : {0u, static_cast<std::uint32_t>(stride * height), 0u, 0u, 0u, 0u}) put(out, v, 4);
  if (palette != 0) out += std::string("\x00\x00\x00\x00\xFF\xFF\xFF\x00", 8);
  for (int y = height - 1; y >= 0; --y) {
    std::string row(static_cast<std::size_t>(stride), '\0');
    for (int x = 0; x < width; ++x) {
      if (bits == 1) {
        // Bit 0 is the first palette colour (black); white dots set their bit.
        if (!black(x, y)) row[static_cast<std::size_t>(x / 8)] |= static_cast<char>(0x80 >> (x % 8));
      } else if (!black(x, y)) {
        for (int b = 0; b < bits / 8; ++b) row[static_cast<std::size_t>(x * bits / 8 + b)] = '\xFF';
      }
    }
    out += row;
  }
  std::ofstream(file, std::ios::binary) << out;
}

// The per-user record of stored bitmaps.
struct stored_record {
  std::uint32_t count = 0;
  std::string path1, path2;
  std::vector<std::uint8_t> pre_print1;
};
stored_record read_record() {
  stored_record r;
  platform::registry_key key;
  if (platform::registry_key::open(platform::registry_root::current_user, "Software\\KorvaneOPOS\\VX40Device", key) !=
      platform::kErrorSuccess) {
    return r;
  }
  key.query_dword("BitmapStored", r.count);
  key.query_string("BMPStored1", r.path1);
  key.query_string("BMPStored2", r.path2);
  key.query_binary("PrePrintBitmap1", r.pre_print1);
  return r;
}

class BitmapTest : public test::printer_fixture {
 protected:
  void SetUp() override {
    printer_fixture::SetUp();
    // SetLogo rewrites the logo file: a copy, never the kit's example.
    std::filesystem::copy_file(testing::environment::example_logo(), dir_ / "logo.dat");
    key_.dat_file = (dir_ / "logo.dat").string();
    testing::write_printer_key(key_);
    images_ = dir_ / "images";
    testing::set_fixed_string("RootPath", images_.string() + "/");
    // The virtual printer needs no time to prepare its image memory.
    testing::set_fixed_dword("StoredImagePauseMs", 0);
    checker_ = dir_ / "checker.bmp";
    write_bmp(checker_, 100, 50, [](int x, int y) { return (x / 10 + y / 10) % 2 == 0; });
    black_ = dir_ / "black.bmp";
    write_bmp(black_, 100, 50, [](int, int) { return true; });
  }
  std::filesystem::path images_, checker_, black_;
};

TEST_F(BitmapTest, PrintBitmapSendsTheRasterImageInChunksOf24Rows) {
  printer_object p;
  p.open_claim_enable();
  ASSERT_EQ(p.call("PrintBitmap", PTR_S_RECEIPT, black_.string(), PTR_BM_ASIS, PTR_BM_CENTER), OPOS_SUCCESS);
  // 100 x 50 dots: 13 bytes a row, the last one keeping its top 4 bits.
  std::string rows;
  for (int y = 0; y < 50; ++y) rows += std::string(12, '\xFF') + "\xF0";
  const std::string image = std::string("\x1D\x76\x30\x00\x0D\x00\x32\x00", 8) + rows;
  EXPECT_TRUE(same_bytes(after_claim(), kAlignCentre + kStatusPoll + image + kStatusPoll + kAlignLeft + kStatusPoll));
  EXPECT_EQ(image.size() - 8, 650u);

  // Chunks of 13 x 24 = 312 bytes (the header travels in the first one). A write the link cuts
  // short is offered once more with its rest, so a link taking 156 bytes a write carries chunks of
  // up to 312 bytes, and one taking 155 fails on a chunk of more than 310.
  printer_->inject_fault(vprinter::fault::short_write, 156);
  EXPECT_EQ(p.call("PrintBitmap", PTR_S_RECEIPT, black_.string(), PTR_BM_ASIS, PTR_BM_LEFT), OPOS_SUCCESS);
  printer_->inject_fault(vprinter::fault::short_write, 155);
  EXPECT_NE(p.call("PrintBitmap", PTR_S_RECEIPT, black_.string(), PTR_BM_ASIS, PTR_BM_LEFT), OPOS_SUCCESS);
}

TEST_F(BitmapTest, PrintBitmapRefusals) {
  const std::filesystem::path colour = dir_ / "colour.bmp";
  write_bmp(colour, 16, 16, [](int x, int) { return x < 8; }, 24);
  const std::filesystem::path wide = dir_ / "wide.bmp";
  write_bmp(wide, 600, 8, [](int, int) { return true; });
  struct Case {
    const char* what;
    std::int32_t station;
    std::string file;
    std::int32_t width;
    std::int32_t result;
    std::int32_t extended;
  };
  const Case cases[] = {
      {"journal station", 1, black_.string(), PTR_BM_ASIS, OPOS_E_ILLEGAL, 0},
      {"scaled width", PTR_S_RECEIPT, black_.string(), 200, OPOS_E_ILLEGAL, 0},
      {"24 bits per dot", PTR_S_RECEIPT, colour.string(), PTR_BM_ASIS, OPOS_E_EXTENDED, OPOS_EPTR_BADFORMAT},
      {"missing file", PTR_S_RECEIPT, (dir_ / "none.bmp").string(), PTR_BM_ASIS, OPOS_E_EXTENDED, OPOS_EPTR_BADFORMAT},
      {"wider than the paper", PTR_S_RECEIPT, wide.string(), PTR_BM_ASIS, OPOS_E_EXTENDED, OPOS_EPTR_BADFORMAT},
  };
  printer_object p;
  p.open_claim_enable();
  for (const Case& c : cases) {
    EXPECT_EQ(p.call("PrintBitmap", c.station, c.file, c.width, PTR_BM_CENTER), c.result) << c.what;
    EXPECT_EQ(p.extended_code(), c.extended) << c.what;
  }
  EXPECT_TRUE(after_claim().empty()) << testing::hex(after_claim());
}

// A picture 800 dots wide: black on the left, white on the right, a grey ramp between them.
void ramp(int x, int, std::uint8_t* rgb) {
  const int v = x < 200 ? 0 : (x >= 600 ? 255 : (x - 200) * 255 / 400);
  rgb[0] = rgb[1] = rgb[2] = static_cast<std::uint8_t>(v);
}

TEST_F(BitmapTest, ConvertImagesPrintsJpegAndPngScaledAndHalftoned) {
  const std::filesystem::path jpeg = dir_ / "photo.jpg";
  const std::filesystem::path png = dir_ / "logo.png";
  ASSERT_TRUE(imaging::test::write_jpeg(jpeg.string(), 800, 200, ramp));
  ASSERT_TRUE(imaging::test::write_png(png.string(), 64, 16, [](int x, int, std::uint8_t* rgb) {
    rgb[0] = rgb[1] = rgb[2] = x < 32 ? 0 : 255;
  }));
  const std::filesystem::path colour = dir_ / "colour.bmp";
  write_bmp(colour, 16, 16, [](int x, int) { return x < 8; }, 24);

  printer_object p;
  p.open_claim_enable();
  p.set(PIDXPtr_MapMode, PTR_MM_DOTS);
  const std::int32_t width = p.number(PIDXPtr_RecLineWidth);
  ASSERT_GT(width, 0);
  ASSERT_LT(width, 800);

  // Off by default: such files are refused as before, and nothing is printed.
  for (const auto& file : {jpeg, png, colour}) {
    EXPECT_EQ(p.call("PrintBitmap", PTR_S_RECEIPT, file.string(), PTR_BM_ASIS, PTR_BM_CENTER), OPOS_E_EXTENDED);
    EXPECT_EQ(p.extended_code(), OPOS_EPTR_BADFORMAT);
    EXPECT_EQ(p.call("SetBitmap", 1, PTR_S_RECEIPT, file.string(), PTR_BM_ASIS, PTR_BM_CENTER), OPOS_E_EXTENDED);
  }
  EXPECT_TRUE(after_claim().empty()) << testing::hex(after_claim());

  testing::set_fixed_dword("ConvertImages", 1);
  ASSERT_EQ(p.call("PrintBitmap", PTR_S_RECEIPT, jpeg.string(), PTR_BM_ASIS, PTR_BM_CENTER), OPOS_SUCCESS);
  // Scaled to the station's width, the height in proportion.
  const int rows = (200 * width + 400) / 800;
  const int row_bytes = (width + 7) / 8;
  const std::string header = std::string("\x1D\x76\x30\x00", 4) + static_cast<char>(row_bytes & 0xFF) +
                             static_cast<char>(row_bytes >> 8) + static_cast<char>(rows & 0xFF) + static_cast<char>(rows >> 8);
  EXPECT_TRUE(after_claim().starts_with(kAlignCentre + kStatusPoll + header)) << testing::hex(after_claim().substr(0, 20));

  // On paper: the black quarter all dots, the white quarter none, the ramp about half of them.
  const vprinter::bitmap paper = printer_->paper();
  ASSERT_GE(paper.height(), rows);
  const int top = paper.height() - rows;
  const int q = width / 4;
  const double area = static_cast<double>(q - 4) * rows;
  EXPECT_GT(paper.count(2, top, q - 2, top + rows) / area, 0.98);
  EXPECT_LT(paper.count(3 * q + 2, top, 4 * q - 2, top + rows) / area, 0.02);
  const double middle = paper.count(q + q / 2, top, 2 * q + q / 2, top + rows) / static_cast<double>(q * rows);
  EXPECT_GT(middle, 0.35);
  EXPECT_LT(middle, 0.65);
  EXPECT_TRUE(printer_->write_png(dir_ / "converted.png"));
  // A person can look at the converted picture: CONVERTED_PICTURE_PNG names a file to keep it in.
  if (const char* keep = std::getenv("CONVERTED_PICTURE_PNG")) {
    EXPECT_TRUE(printer_->write_png(keep));
  }

  // A PNG narrower than the station keeps its size; a 24-bit BMP prints too; SetBitmap stores one.
  const std::size_t before = printer_->capture().size();
  ASSERT_EQ(p.call("PrintBitmap", PTR_S_RECEIPT, png.string(), PTR_BM_ASIS, PTR_BM_LEFT), OPOS_SUCCESS);
  EXPECT_NE(printer_->capture().find(std::string("\x1D\x76\x30\x00\x08\x00\x10\x00", 8), before), std::string::npos);
  EXPECT_EQ(p.call("PrintBitmap", PTR_S_RECEIPT, colour.string(), PTR_BM_ASIS, PTR_BM_LEFT), OPOS_SUCCESS);
  ASSERT_EQ(p.call("SetBitmap", 1, PTR_S_RECEIPT, jpeg.string(), PTR_BM_ASIS, PTR_BM_CENTER), OPOS_SUCCESS);
  EXPECT_EQ(read_record().count, 1u);
  // What is no picture at all is still refused.
  EXPECT_EQ(p.call("PrintBitmap", PTR_S_RECEIPT, (dir_ / "logo.dat").string(), PTR_BM_ASIS, PTR_BM_LEFT), OPOS_E_EXTENDED);
  EXPECT_EQ(p.extended_code(), OPOS_EPTR_BADFORMAT);
}

TEST_F(BitmapTest, ConvertImagesUsesTheHalftoneTypeOfTheFixedKey) {
  const std::filesystem::path jpeg = dir_ / "photo.jpg";
  ASSERT_TRUE(imaging::test::write_jpeg(jpeg.string(), 800, 48, ramp));
  testing::set_fixed_dword("ConvertImages", 1);
  printer_object p;
  p.open_claim_enable();
  // Each kernel gives its own pattern; an unknown type is Stucki's.
  std::vector<std::string> images;
  for (const std::uint32_t type : {1u, 2u, 3u, 4u, 9u}) {
    testing::set_fixed_dword("HalftoneType", type);
    const std::size_t before = printer_->capture().size();
    ASSERT_EQ(p.call("PrintBitmap", PTR_S_RECEIPT, jpeg.string(), PTR_BM_ASIS, PTR_BM_LEFT), OPOS_SUCCESS);
    images.push_back(printer_->capture().substr(before));
  }
  EXPECT_EQ(std::set<std::string>(images.begin(), images.begin() + 4).size(), 4u);
  EXPECT_EQ(images[4], images[3]);
}

TEST_F(BitmapTest, AsynchronousPrintBitmapCompletesWithTheImage) {
  printer_object p;
  p.open_claim_enable();
  p.set(PIDXPtr_AsyncMode, 1);
  ASSERT_EQ(p.call("PrintBitmap", PTR_S_RECEIPT, checker_.string(), PTR_BM_ASIS, PTR_BM_RIGHT), OPOS_SUCCESS);
  const std::int32_t job = p.number(PIDX_OutputID);
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(run_tick());
  EXPECT_TRUE(after_claim().starts_with("\x1B\x61\x32" + kStatusPoll + "\x1D\x76\x30"));
  EXPECT_TRUE(after_claim().ends_with(kAlignLeft + kStatusPoll));
  EXPECT_EQ(p.control->calls.back(), "SOOutputComplete " + std::to_string(job));
}

TEST_F(BitmapTest, SetBitmapRecordsStoresAndPrintsByEscapeSequence) {
  printer_object p;
  p.open_claim_enable();
  ASSERT_EQ(p.call("SetBitmap", 1, PTR_S_RECEIPT, checker_.string(), PTR_BM_ASIS, PTR_BM_CENTER), OPOS_SUCCESS);

  const stored_record r = read_record();
  EXPECT_EQ(r.count, 1u);
  EXPECT_EQ(r.pre_print1, (std::vector<std::uint8_t>{0x1B, 0x61, 0x01}));
  ASSERT_TRUE(r.path1.starts_with(images_.string() + "/IMG")) << r.path1;
  EXPECT_TRUE(r.path1.ends_with(".dat"));
  ASSERT_TRUE(std::filesystem::exists(r.path1));
  // "M", the 40-byte header, then 13 x 7 x 8 bytes of column data.
  EXPECT_EQ(std::filesystem::file_size(r.path1), 1u + 40 + 728);

  // FS q 1, the image's size (13 bytes, 7 rows of 8 dots), its data, then the status poll.
  const std::string sent = after_claim();
  EXPECT_TRUE(sent.starts_with(std::string("\x1C\x71\x01\x0D\x00\x07\x00", 7))) << testing::hex(sent.substr(0, 16));
  EXPECT_EQ(sent.size(), 7 + 728 + kStatusPoll.size());
  EXPECT_EQ(printer_->state().stored_images, 1);

  const std::size_t before = printer_->capture().size();
  ASSERT_EQ(p.call("PrintNormal", PTR_S_RECEIPT, "\x1B|1B"), OPOS_SUCCESS);
  EXPECT_TRUE(same_bytes(printer_->capture().substr(before), std::string("\x1B\x61\x01\x1C\x70\x01\x00", 7) + kStatusPoll));
}

TEST_F(BitmapTest, StoredPictureComesOutAsThePrintedOne) {
  printer_object p;
  p.open_claim_enable();
  ASSERT_EQ(p.call("PrintBitmap", PTR_S_RECEIPT, checker_.string(), PTR_BM_ASIS, PTR_BM_LEFT), OPOS_SUCCESS);
  const vprinter::bitmap printed = printer_->paper();
  ASSERT_EQ(p.call("SetBitmap", 1, PTR_S_RECEIPT, checker_.string(), PTR_BM_ASIS, PTR_BM_LEFT), OPOS_SUCCESS);
  ASSERT_EQ(p.call("PrintNormal", PTR_S_RECEIPT, "\x1B|1B"), OPOS_SUCCESS);
  const vprinter::bitmap paper = printer_->paper();
  // The stored image starts where the raster image ended.
  const int top = printed.height() - 50;
  ASSERT_GE(paper.height(), printed.height() + 50);
  int differences = 0;
  for (int y = 0; y < 50; ++y) {
    for (int x = 0; x < 100; ++x) differences += paper.get(x, top + y) != paper.get(x, printed.height() + y);
  }
  EXPECT_EQ(differences, 0);
  EXPECT_GT(paper.count(0, printed.height(), 100, printed.height() + 50), 2000);
}

TEST_F(BitmapTest, SlotsAreCheckedAndRemovalKeepsTheOtherImageNumbered) {
  printer_object p;
  p.open_claim_enable();
  EXPECT_EQ(p.call("SetBitmap", 2, PTR_S_RECEIPT, "", PTR_BM_ASIS, PTR_BM_CENTER), OPOS_E_ILLEGAL) << "empty slot";
  ASSERT_EQ(p.call("SetBitmap", 1, PTR_S_RECEIPT, checker_.string(), PTR_BM_ASIS, PTR_BM_LEFT), OPOS_SUCCESS);
  EXPECT_EQ(p.call("SetBitmap", 2, PTR_S_RECEIPT, "", PTR_BM_ASIS, PTR_BM_CENTER), OPOS_E_ILLEGAL)
      << "slot 2 is still empty with slot 1 held";
  EXPECT_EQ(read_record().count, 1u);
  EXPECT_EQ(p.call("SetBitmap", 1, PTR_S_RECEIPT, black_.string(), PTR_BM_ASIS, PTR_BM_LEFT), OPOS_E_ILLEGAL)
      << "occupied";
  ASSERT_EQ(p.call("SetBitmap", 2, PTR_S_RECEIPT, black_.string(), PTR_BM_ASIS, PTR_BM_RIGHT), OPOS_SUCCESS);
  EXPECT_EQ(printer_->state().stored_images, 2);
  EXPECT_EQ(read_record().count, 2u);

  const std::string first = read_record().path1;
  const std::size_t before = printer_->capture().size();
  ASSERT_EQ(p.call("SetBitmap", 1, PTR_S_RECEIPT, "", 0, 0), OPOS_SUCCESS);
  EXPECT_FALSE(std::filesystem::exists(first));
  EXPECT_EQ(read_record().count, 1u);
  EXPECT_TRUE(read_record().path1.empty());
  // Slot 2 alone is sent second, after a blank stand-in for slot 1, so that ESC|2B still finds it.
  const std::string sent = printer_->capture().substr(before);
  EXPECT_TRUE(sent.starts_with(std::string("\x1C\x71\x02\x01\x00\x01\x00", 7) + std::string(8, '\0') +
                               std::string("\x0D\x00\x07\x00", 4)))
      << testing::hex(sent.substr(0, 24));
}

TEST_F(BitmapTest, SetBitmapRefusalsRecordNothing) {
  const std::filesystem::path colour = dir_ / "colour.bmp";
  write_bmp(colour, 16, 16, [](int, int) { return true; }, 24);
  printer_object p;
  ASSERT_EQ(p.open(), OPOS_SUCCESS);
  EXPECT_EQ(p.call("SetBitmap", 1, PTR_S_RECEIPT, checker_.string(), PTR_BM_ASIS, PTR_BM_LEFT), OPOS_E_DISABLED);
  ASSERT_EQ(p.call("Claim", 1000), OPOS_SUCCESS);
  p.set(PIDX_DeviceEnabled, 1);
  struct Case {
    const char* what;
    std::int32_t number;
    std::int32_t station;
    std::string file;
    std::int32_t width;
    std::int32_t alignment;
    std::int32_t result;
  };
  const Case cases[] = {
      {"slot 3", 3, PTR_S_RECEIPT, checker_.string(), PTR_BM_ASIS, PTR_BM_LEFT, OPOS_E_ILLEGAL},
      {"journal", 1, 1, checker_.string(), PTR_BM_ASIS, PTR_BM_LEFT, OPOS_E_ILLEGAL},
      {"scaled", 1, PTR_S_RECEIPT, checker_.string(), 50, PTR_BM_LEFT, OPOS_E_ILLEGAL},
      {"alignment by distance", 1, PTR_S_RECEIPT, checker_.string(), PTR_BM_ASIS, 100, OPOS_E_ILLEGAL},
      {"24 bits per dot", 1, PTR_S_RECEIPT, colour.string(), PTR_BM_ASIS, PTR_BM_LEFT, OPOS_E_EXTENDED},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(p.call("SetBitmap", c.number, c.station, c.file, c.width, c.alignment), c.result) << c.what;
  }
  EXPECT_EQ(p.extended_code(), OPOS_EPTR_BADFORMAT);
  p.set(PIDXPtr_AsyncMode, 1);
  EXPECT_EQ(p.call("SetBitmap", 1, PTR_S_RECEIPT, checker_.string(), PTR_BM_ASIS, PTR_BM_LEFT), OPOS_E_ILLEGAL);
  EXPECT_EQ(read_record().count, 0u);
  EXPECT_FALSE(std::filesystem::exists(images_) && !std::filesystem::is_empty(images_));
  EXPECT_TRUE(after_claim().empty()) << testing::hex(after_claim());
}

TEST_F(BitmapTest, FailedTransferUndoesTheRecord) {
  printer_object p;
  p.open_claim_enable();
  printer_->inject_fault(vprinter::fault::disconnect);
  EXPECT_NE(p.call("SetBitmap", 1, PTR_S_RECEIPT, checker_.string(), PTR_BM_ASIS, PTR_BM_LEFT), OPOS_SUCCESS);
  printer_->clear_faults();
  const stored_record r = read_record();
  EXPECT_EQ(r.count, 0u);
  EXPECT_TRUE(r.path1.empty());
  EXPECT_TRUE(std::filesystem::is_empty(images_)) << "the stored image file is removed";
  EXPECT_EQ(p.number(PIDX_State), OPOS_S_IDLE);
}

TEST_F(BitmapTest, LostStoredImageFileFailsTheRedefinitionAndCanBeRemoved) {
  printer_object p;
  p.open_claim_enable();
  ASSERT_EQ(p.call("SetBitmap", 1, PTR_S_RECEIPT, checker_.string(), PTR_BM_ASIS, PTR_BM_LEFT), OPOS_SUCCESS);
  std::filesystem::remove(read_record().path1);
  // Every image is sent again: the lost one fails the call, and the new bitmap is not kept.
  EXPECT_EQ(p.call("SetBitmap", 2, PTR_S_RECEIPT, black_.string(), PTR_BM_ASIS, PTR_BM_LEFT), OPOS_E_FAILURE);
  EXPECT_TRUE(read_record().path2.empty());
  EXPECT_EQ(read_record().count, 1u);
  // Removing the lost one clears the record, and the next bitmap is stored.
  EXPECT_EQ(p.call("SetBitmap", 1, PTR_S_RECEIPT, "", 0, 0), OPOS_SUCCESS);
  EXPECT_EQ(p.call("SetBitmap", 2, PTR_S_RECEIPT, black_.string(), PTR_BM_ASIS, PTR_BM_LEFT), OPOS_SUCCESS);
  EXPECT_EQ(read_record().count, 1u);
  EXPECT_EQ(p.number(PIDX_State), OPOS_S_IDLE);
}

TEST_F(BitmapTest, PauseAfterTheFirstImageHeaderIsConfigurable) {
  testing::set_fixed_dword("StoredImagePauseMs", 300);
  printer_object p;
  p.open_claim_enable();
  const auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(p.call("SetBitmap", 1, PTR_S_RECEIPT, checker_.string(), PTR_BM_ASIS, PTR_BM_LEFT), OPOS_SUCCESS);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));
}

TEST_F(BitmapTest, SetLogoStoresTranslatedBytesThatEscTlPrints) {
  printer_object p;
  p.open_claim_enable();
  ASSERT_EQ(p.call("SetLogo", PTR_L_TOP, "\x1B|bCKORVANE<NID>"), OPOS_SUCCESS);
  ASSERT_EQ(p.call("SetLogo", PTR_L_BOTTOM, "Thank you"), OPOS_SUCCESS);
  EXPECT_EQ(p.call("SetLogo", 3, "x"), OPOS_E_ILLEGAL);
  EXPECT_EQ(p.call("SetLogo", PTR_L_TOP, ""), OPOS_E_ILLEGAL);
  EXPECT_EQ(p.call("SetLogo", PTR_L_TOP, "\x1B|xY"), OPOS_E_FAILURE);
  EXPECT_TRUE(after_claim().empty()) << "a logo is stored, not printed";

  ASSERT_EQ(p.call("PrintNormal", PTR_S_RECEIPT, "\x1B|tL|\x1B|bL"), OPOS_SUCCESS);
  EXPECT_TRUE(same_bytes(after_claim(), std::string("\x1B\x47\x01KORVANE\0|Thank you", 21) + kStatusPoll));

  // The logo file keeps them for the next session.
  p.reset();
  printer_object again;
  again.open_claim_enable();
  const std::size_t before = printer_->capture().size();
  ASSERT_EQ(again.call("PrintNormal", PTR_S_RECEIPT, "\x1B|bL"), OPOS_SUCCESS);
  EXPECT_TRUE(printer_->capture().substr(before).starts_with("Thank you"));
}

// ---------------------------------------------------------------------------------------------
// Paths of the logo file and the stored image folder

// A logo file and an image folder deep below the test folder, each path past 255 characters
// (past the 256-byte buffer of the registry reads as well): taken whole (never cut), written
// where they say and read back from there.
TEST_F(BitmapTest, LongPathsAreTakenWholeEndToEnd) {
  std::filesystem::path deep = dir_.path();
  for (const char c : {'a', 'b', 'c', 'd', 'e'}) deep /= std::string(50, c);
  std::filesystem::create_directories(deep);
  const std::filesystem::path logo = deep / "logo.dat";
  const std::string root = (deep / "images").string() + "/";
  ASSERT_GT(logo.string().size(), 255u);
  ASSERT_GT(root.size(), 255u);
  key_.dat_file = logo.string();
  testing::write_printer_key(key_);
  testing::set_fixed_string("RootPath", root);

  printer_object p;
  p.open_claim_enable();
  EXPECT_EQ(p.text(PIDXPtr_ErrorString), "");
  ASSERT_EQ(p.call("SetLogo", PTR_L_TOP, "LONG"), OPOS_SUCCESS);
  EXPECT_TRUE(std::filesystem::exists(logo)) << "written at the whole path";
  ASSERT_EQ(p.call("SetBitmap", 1, PTR_S_RECEIPT, checker_.string(), PTR_BM_ASIS, PTR_BM_CENTER), OPOS_SUCCESS);
  const stored_record r = read_record();
  EXPECT_TRUE(r.path1.starts_with(root + "IMG")) << r.path1;
  EXPECT_TRUE(std::filesystem::exists(r.path1));

  // The next session finds the logo at the same place.
  p.reset();
  printer_object again;
  again.open_claim_enable();
  const std::size_t before = printer_->capture().size();
  ASSERT_EQ(again.call("PrintNormal", PTR_S_RECEIPT, "\x1B|tL"), OPOS_SUCCESS);
  EXPECT_TRUE(same_bytes(printer_->capture().substr(before), "LONG" + kStatusPoll));
}

// A path that cannot serve fails the open with 111 and says why; the object stays closed and
// nothing is written anywhere.
TEST_F(BitmapTest, UnusablePathsFailTheOpenWithAnErrorText) {
  const std::string over_long = "/" + std::string(PATH_MAX, 'x');
  const std::string long_name(NAME_MAX + 1, 'n');
  const std::string good_logo = key_.dat_file;
  const std::string good_root = images_.string() + "/";
  struct Case {
    const char* what;
    std::string dat_file;
    std::string root;
    std::string error;  // the start of ErrorString
  };
  const Case cases[] = {
      {"logo path past the system's limit", over_long, good_root,
       "the logo file path (DATFile) is longer than the 4095 characters the system takes"},
      {"logo file in a missing folder", (dir_ / "missing" / "logo.dat").string(), good_root,
       "the logo file (DATFile) " + (dir_ / "missing" / "logo.dat").string() +
           " cannot be created: its folder does not exist"},
      {"logo path that is a folder", dir_.path().string(), good_root,
       "the logo file (DATFile) " + dir_.path().string() + " is not a file"},
      {"logo file name too long", (dir_ / long_name).string(), good_root,
       "the logo file (DATFile) " + (dir_ / long_name).string() + " cannot be used: "},
      {"image folder past the system's limit", good_logo, over_long + "/",
       "the stored image folder (RootPath) with a file name is longer than the 4095 characters the system takes"},
      {"image folder below a file", good_logo, good_logo + "/images/",
       "the stored image folder (RootPath) " + good_logo + "/images/ cannot be used: "},
      {"image folder name too long", good_logo, (dir_ / long_name).string() + "/",
       "the stored image folder (RootPath) " + (dir_ / long_name).string() + "/ cannot be used: "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    key_.dat_file = c.dat_file;
    testing::write_printer_key(key_);
    testing::set_fixed_string("RootPath", c.root);
    printer_object p;
    EXPECT_EQ(p.open(), OPOS_E_FAILURE);
    EXPECT_TRUE(p.text(PIDXPtr_ErrorString).starts_with(c.error)) << p.text(PIDXPtr_ErrorString);
    EXPECT_EQ(p.call("Claim", 1000), OPOS_E_CLOSED) << "still closed";
    EXPECT_FALSE(std::filesystem::exists(dir_ / "missing"));
  }
  // With usable paths again the same object opens, and the error text is gone.
  key_.dat_file = good_logo;
  testing::write_printer_key(key_);
  testing::set_fixed_string("RootPath", good_root);
  printer_object p;
  key_.dat_file = (dir_ / "missing" / "logo.dat").string();
  testing::write_printer_key(key_);
  EXPECT_EQ(p.open(), OPOS_E_FAILURE);
  key_.dat_file = good_logo;
  testing::write_printer_key(key_);
  EXPECT_EQ(p.open(), OPOS_SUCCESS);
  EXPECT_EQ(p.text(PIDXPtr_ErrorString), "");
}

}  // namespace
}  // namespace devsvc
