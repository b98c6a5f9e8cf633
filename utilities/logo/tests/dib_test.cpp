// Loading bitmap files: the formats taken, each header field against the file's real size with
// the texts of the refusals, and the halftone stretching of the conversion.
#include <gtest/gtest.h>

#include <fstream>

#include "bmp_bytes.h"
#include "logo/picture.h"
#include "platform/testing/temp_dir.h"

namespace {

using namespace logo;
using logo_test::bmp_fields;
using logo_test::bmp_file;
using logo_test::load;

constexpr rgb kBlack{0, 0, 0}, kWhite{255, 255, 255}, kRed{255, 0, 0}, kBlue{0, 0, 255};

std::vector<rgb> pixels_of(const dib& picture) {
  std::vector<rgb> out;
  for (int y = 0; y < picture.height(); ++y) {
    for (int x = 0; x < picture.width(); ++x) out.push_back(picture.pixel(x, y));
  }
  return out;
}

TEST(BitmapLoading, TakesPaletteAndTrueColourPicturesInBothRowOrders) {
  // 3 x 2 pictures: top row red, white, black; bottom row black, blue, white.
  const std::vector<rgb> want = {kRed, kWhite, kBlack, kBlack, kBlue, kWhite};
  const std::vector<rgb> palette = {kBlack, kWhite, kRed, kBlue};
  auto both = [](std::string top, std::string bottom) { return std::pair{bottom + top, top + bottom}; };
  struct Case {
    const char* what;
    int bits;
    std::vector<rgb> palette;
    std::pair<std::string, std::string> rows;  // bottom-up, top-down
  };
  const Case cases[] = {
      {"4 bits", 4, palette, both(std::string("\x21\x00\x00\x00", 4), std::string("\x03\x10\x00\x00", 4))},
      {"8 bits", 8, palette, both(std::string("\x02\x01\x00\x00", 4), std::string("\x00\x03\x01\x00", 4))},
      {"24 bits", 24, {},
       both(std::string("\x00\x00\xFF\xFF\xFF\xFF\x00\x00\x00\x00\x00\x00", 12),
            std::string("\x00\x00\x00\xFF\x00\x00\xFF\xFF\xFF\x00\x00\x00", 12))},
      {"32 bits", 32, {},
       both(std::string("\x00\x00\xFF\x00\xFF\xFF\xFF\x00\x00\x00\x00\x00", 12),
            std::string("\x00\x00\x00\x00\xFF\x00\x00\x00\xFF\xFF\xFF\x00", 12))},
  };
  for (const Case& c : cases) {
    for (const bool top_down : {false, true}) {
      const load_result got =
          load(bmp_file(logo_test::fields(3, top_down ? -2 : 2, top_down ? c.rows.second : c.rows.first, c.bits, c.palette)));
      ASSERT_TRUE(got.picture.has_value()) << c.what << " " << got.message;
      EXPECT_EQ(got.message, "");
      EXPECT_EQ(got.picture->bit_count(), c.bits);
      EXPECT_EQ(pixels_of(*got.picture), want) << c.what << (top_down ? " top down" : " bottom up");
    }
  }
  // 1 bit: white and black dots by its two-entry palette; an index past a short palette is black.
  const load_result one_bit =
      load(bmp_file(logo_test::fields(3, 1, std::string("\x40\x00\x00\x00", 4), 1, {kWhite, kRed})));
  ASSERT_TRUE(one_bit.picture.has_value()) << one_bit.message;
  EXPECT_EQ(pixels_of(*one_bit.picture), (std::vector<rgb>{kWhite, kRed, kWhite}));
  const load_result short_palette =
      load(bmp_file(logo_test::fields(2, 1, std::string("\x00\x05\x00\x00", 4), 8, {kWhite})));
  ASSERT_TRUE(short_palette.picture.has_value()) << short_palette.message;
  EXPECT_EQ(pixels_of(*short_palette.picture), (std::vector<rgb>{kWhite, kBlack}));
}

TEST(BitmapLoading, RefusesHeadersThatDoNotMatchTheFile) {
  const std::string structure =
      "Raise error while reading image structure information.\r\nBe sure the pic.bmp is a valid image file.";
  const std::string format = "Raise error on create compatible bitmap for image file <pic.bmp>.";
  const std::string row(4, '\0');  // one 1-pixel 24-bit row
  auto fields = [&] { return logo_test::fields(1, 1, row); };
  struct Case {
    const char* what;
    bmp_fields f;
    std::size_t cut = 0;  // bytes cut off the end of the file
    std::string want;
  };
  std::vector<Case> cases;
  auto add = [&](const char* what, auto change, std::string want, std::size_t cut = 0) {
    bmp_fields f = fields();
    change(f);
    cases.push_back({what, f, cut, want});
  };
  add("shorter than both headers", [](bmp_fields&) {}, structure, 6);
  add("no BM signature", [](bmp_fields& f) { f.signature[1] = 'A'; }, structure);
  add("information header of 12 bytes", [](bmp_fields& f) { f.info_size = 12; }, structure);
  add("information header of 108 bytes", [](bmp_fields& f) { f.info_size = 108; }, structure);
  add("no width", [](bmp_fields& f) { f.width = 0; }, structure);
  add("negative width", [](bmp_fields& f) { f.width = -3; }, structure);
  add("no height", [](bmp_fields& f) { f.height = 0; }, structure);
  add("two planes", [](bmp_fields& f) { f.planes = 2; }, structure);
  add("file size beyond the file", [](bmp_fields& f) { f.file_size = 59; }, structure);
  add("pixel offset beyond the file", [](bmp_fields& f) { f.bits_offset = 59; }, structure);
  add("pixel offset inside the headers", [](bmp_fields& f) { f.bits_offset = 50; }, structure);
  add("pixel data beyond the file", [](bmp_fields& f) { f.height = 2; }, structure);
  add("pixel data cut short", [](bmp_fields&) {}, structure, 1);
  add("image size beyond the file", [](bmp_fields& f) { f.size_image = 8; }, structure);
  add("image size below the rows", [](bmp_fields& f) { f.size_image = 3; }, structure);
  add("colour table beyond the file", [](bmp_fields& f) {
    f.bit_count = 8;
    f.colours_used = 200;
  }, structure);
  add("pixel offset inside the colour table", [](bmp_fields& f) {
    f.bit_count = 8;
    f.palette = {kWhite, kBlack};
    f.bits_offset = 58;
  }, structure);
  add("picture larger than memory takes", [](bmp_fields& f) {
    f.width = 1 << 20;
    f.height = 1 << 20;
  }, format);
  add("16 bits per pixel", [](bmp_fields& f) { f.bit_count = 16; }, format);
  add("run-length compressed", [](bmp_fields& f) {
    f.bit_count = 8;
    f.compression = 1;
  }, format);
  add("more than 256 colours", [](bmp_fields& f) {
    f.bit_count = 8;
    f.colours_used = 257;
  }, format);
  for (const Case& c : cases) {
    std::string file = bmp_file(c.f);
    file.resize(file.size() - c.cut);
    const load_result got = load(file);
    EXPECT_FALSE(got.picture.has_value()) << c.what;
    EXPECT_EQ(got.message, c.want) << c.what;
  }
  // The same fields, consistent, load.
  const load_result fine = load(bmp_file(fields()));
  EXPECT_TRUE(fine.picture.has_value()) << fine.message;
  // A larger image size field (padding at the end of the file) is taken.
  bmp_fields padded = fields();
  padded.rows += std::string(4, '\0');
  padded.size_image = 8;
  EXPECT_TRUE(load(bmp_file(padded)).picture.has_value());
}

TEST(BitmapLoading, ReadsFilesAndNamesTheOpeningError) {
  platform::testing::temp_dir folder;
  const std::filesystem::path file = folder / "Logo.BMP";
  {
    std::ofstream out(file, std::ios::binary);
    out << bmp_file(logo_test::fields(1, 1, std::string("\x00\x00\xFF\x00", 4)));
  }
  const load_result got = load_bitmap_file(file);
  ASSERT_TRUE(got.picture.has_value()) << got.message;
  EXPECT_EQ(got.picture->pixel(0, 0), kRed);

  const std::filesystem::path missing = folder / "missing.bmp";
  const load_result none = load_bitmap_file(missing);
  EXPECT_FALSE(none.picture.has_value());
  EXPECT_EQ(none.message, "Raise error for open the file " + missing.string() +
                              ".\r\nExtended error description: No such file or directory");
  const load_result folder_itself = load_bitmap_file(folder.path());
  EXPECT_FALSE(folder_itself.picture.has_value());
  EXPECT_EQ(folder_itself.message.rfind("Raise error for open the file ", 0), 0u) << folder_itself.message;
}

TEST(HalftoneStretching, AveragesTheAreaEachTargetPixelCovers) {
  // 4 x 2: black, black, white, white on both rows.
  const dib source = logo_test::picture_of({kBlack, kBlack, kWhite, kWhite, kBlack, kBlack, kWhite, kWhite}, 4, 2);
  const dib halved = stretch_halftone(source, 2, 1);
  EXPECT_EQ(halved.bit_count(), 24);
  EXPECT_EQ(pixels_of(halved), (std::vector<rgb>{kBlack, kWhite}));
  // Down to one pixel: the average of all of them.
  EXPECT_EQ(pixels_of(stretch_halftone(source, 1, 1)), (std::vector<rgb>{{128, 128, 128}}));
  // Three columns over four: the middle one covers half a black and half a white pixel.
  EXPECT_EQ(pixels_of(stretch_halftone(source, 3, 1)), (std::vector<rgb>{kBlack, {128, 128, 128}, kWhite}));
  // Enlarged, each source pixel is repeated.
  const dib doubled = stretch_halftone(logo_test::picture_of({kRed, kBlue}, 2, 1), 4, 2);
  EXPECT_EQ(pixels_of(doubled), (std::vector<rgb>{kRed, kRed, kBlue, kBlue, kRed, kRed, kBlue, kBlue}));
}

}  // namespace
