// The printer commands of logos, byte for byte: the fixed commands, the parameter counts and
// headers of the NV graphics definitions, the print buffer, FS q column data and GS v 0.
#include <gtest/gtest.h>

#include <cstdio>

#include "logo/picture.h"

namespace {

using namespace logo;

std::string hex(const std::string& bytes) {
  std::string out;
  char text[4];
  for (const char c : bytes) {
    std::snprintf(text, sizeof text, "%02X ", static_cast<unsigned char>(c));
    out += text;
  }
  if (!out.empty()) out.pop_back();
  return out;
}

// A plane of `width` x `height` with dots at `dots` (x, y).
raster plane_with(int width, int height, std::initializer_list<std::pair<int, int>> dots) {
  raster out = make_raster(width, height);
  for (const auto& [x, y] : dots) out.set_dot(x, y);
  return out;
}

TEST(LogoCommands, FixedCommands) {
  struct Case {
    const char* what;
    std::string bytes;
    const char* want;
  };
  const Case cases[] = {
      {"key list", commands::key_list(), "1D 28 4C 04 00 30 40 4B 43"},
      {"total memory", commands::total_memory(), "1D 28 4C 02 00 30 00"},
      {"free memory", commands::free_memory(), "1D 28 4C 02 00 30 03"},
      {"delete one", commands::delete_logo("A5"), "1D 28 4C 04 00 30 42 41 35"},
      {"delete all", commands::delete_all(), "1D 28 4C 05 00 30 41 43 4C 52"},
      {"print stored", commands::print_stored("0F"), "1D 28 4C 06 00 30 45 30 46 01 01"},
      {"print buffer", commands::print_buffer(), "1D 28 4C 02 00 30 32"},
      {"processing echo", commands::processing_echo(), "1D 49 01"},
      {"printer type", commands::printer_type(), "1D 49 02"},
      {"default print mode", commands::default_print_mode(), "1B 21 00"},
      {"feed and cut", commands::feed_and_cut(), "1D 56 42 0F"},
      {"clear bit images", commands::clear_bit_images(), "1C 71 01 00 00 00 00"},
      {"print bit image 1", commands::print_bit_image(1), "1C 70 01 00"},
      {"print bit image 255", commands::print_bit_image(255), "1C 70 FF 00"},
      {"start of 3 bit images", commands::bit_images_start(3), "1C 71 03"},
  };
  for (const Case& c : cases) EXPECT_EQ(hex(c.bytes), c.want) << c.what;
}

TEST(LogoCommands, TwoColourLogoOfNineByTwoDots) {
  // w 9, h 2: r = 2, k = 4, p = 2 x (4 + 1) + 10 = 20.
  const raster black = plane_with(9, 2, {{0, 0}, {8, 1}});
  const raster red = plane_with(9, 2, {{1, 0}, {7, 1}});
  EXPECT_EQ(black.row_bytes(), 2u);
  EXPECT_EQ(commands::define_parameter_count(2, 4), 20u);
  EXPECT_EQ(hex(commands::define_header("01", 2, 9, 2)), "1D 38 4C 14 00 00 00 30 43 30 30 31 02 09 00 02 00");
  const std::vector<raster> planes{black, red};
  const std::string whole = commands::define_logo("01", planes, false);
  EXPECT_EQ(hex(whole),
            "1D 38 4C 14 00 00 00 30 43 30 30 31 02 09 00 02 00 "
            "31 80 00 00 80 "
            "32 40 00 01 00");
  // p counts every byte after p4.
  EXPECT_EQ(whole.size() - 7, 20u);
}

TEST(LogoCommands, ParameterCountsCoverEverythingAfterTheirFourBytes) {
  // Pictures with 4-byte p values, beyond 16 bits of size.
  struct Case {
    const char* what;
    int width;
    int height;
    int planes;  // 1, 2, or 3 for the colour variant
  };
  const Case cases[] = {
      {"black and white, 8 x 1", 8, 1, 1},
      {"black and white, 17 x 3", 17, 3, 1},
      {"two colours, 576 x 300", 576, 300, 2},
      {"colour, 9 x 2", 9, 2, 3},
      {"colour, 600 x 1000", 600, 1000, 3},
  };
  for (const Case& c : cases) {
    const std::vector<raster> planes(static_cast<std::size_t>(c.planes), make_raster(c.width, c.height));
    const std::string bytes = commands::define_logo("AB", planes, c.planes == 3);
    const std::uint32_t p = static_cast<std::uint8_t>(bytes[3]) | static_cast<std::uint8_t>(bytes[4]) << 8 |
                            static_cast<std::uint8_t>(bytes[5]) << 16 |
                            static_cast<std::uint32_t>(static_cast<std::uint8_t>(bytes[6])) << 24;
    EXPECT_EQ(p, bytes.size() - 7) << c.what;
    const std::size_t k = (static_cast<std::size_t>(c.width) + 7) / 8 * static_cast<std::size_t>(c.height);
    EXPECT_EQ(p, c.planes == 3 ? 3 * (k + 1) + 11 : c.planes * (k + 1) + 10) << c.what;
  }
  EXPECT_EQ(hex(commands::define_colour_header("AB", 9, 2)), "1D 38 4C 1A 00 00 00 30 FF 30 41 42 06 09 00 02 00 00");
  EXPECT_EQ(hex(commands::define_header("AB", 1, 300, 2).substr(13)), "2C 01 02 00");

  // Function 112: p = k + 10, then the colour byte, sizes and rows.
  const std::string buffer = commands::print_buffer_picture('2', plane_with(9, 2, {{8, 0}}));
  EXPECT_EQ(hex(buffer), "1D 38 4C 0E 00 00 00 30 70 30 01 01 32 09 00 02 00 00 80 00 00");
  EXPECT_EQ(buffer.size() - 7, 14u);
}

TEST(LogoCommands, BitImageColumnsPadThePictureToWholeUnitsOfEightDots) {
  // 10 x 3 dots: 2 x 1 units, so 16 columns of 1 byte; the top dot is the most significant bit.
  const raster small = plane_with(10, 3, {{0, 0}, {1, 1}, {9, 2}, {0, 2}});
  EXPECT_EQ(hex(commands::bit_image_size(small)), "02 00 01 00");
  EXPECT_EQ(hex(commands::bit_image_columns(small)), "A0 40 00 00 00 00 00 00 00 20 00 00 00 00 00 00");
  // 3 x 9 dots: 1 x 2 units, each column two bytes top to bottom.
  const raster tall = plane_with(3, 9, {{0, 8}, {2, 0}, {2, 7}});
  EXPECT_EQ(hex(commands::bit_image_size(tall)), "01 00 02 00");
  EXPECT_EQ(hex(commands::bit_image_columns(tall)), "00 80 00 00 81 00 00 00 00 00 00 00 00 00 00 00");
  // Both images in one definition, in order.
  const std::vector<raster> both{small, tall};
  EXPECT_EQ(commands::define_bit_images(both), commands::bit_images_start(2) + commands::bit_image_size(small) +
                                                   commands::bit_image_columns(small) + commands::bit_image_size(tall) +
                                                   commands::bit_image_columns(tall));
}

TEST(LogoCommands, RasterPrintGivesRowBytesAndRows) {
  const raster plane = plane_with(9, 2, {{0, 0}, {8, 1}});
  EXPECT_EQ(hex(commands::print_raster(plane)), "1D 76 30 00 02 00 02 00 80 00 00 80");
}

}  // namespace
