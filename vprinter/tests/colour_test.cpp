// The two-colour model (identity 0x2E): red characters, red graphics planes in the buffer and in
// stored graphics, the key-code list in acknowledged blocks, and the red in its PNG; the
// one-colour model prints the same commands in black.
#include <png.h>

#include <string>
#include <vector>

#include "platform/testing/temp_dir.h"
#include "test_util.h"

namespace vprinter {
namespace {

using test::bytes;
using test::same_bytes;
using test::talk;

config two_colour() {
  config c;
  c.model_id = config::kTwoColourModelId;
  return c;
}

// GS 8 L function 67, key "K1", 8 x 2 dots: a black plane with the top row, a red plane with the
// bottom row.
const std::string kTwoPlanes = bytes("1D 38 4C 10 00 00 00 30 43 30 4B 31 02 08 00 02 00 31 FF 00 32 00 FF");
const std::string kPrintK1 = bytes("1D 28 4C 06 00 30 45 4B 31 01 01");

TEST(VprinterColour, RedCharactersOnTheRedPlaneOnly) {
  virtual_printer p(two_colour());
  talk(p, "A" + bytes("1D 28 4E 02 00 30 32") + "B" + bytes("1D 28 4E 02 00 30 31") + "C\n");
  const bitmap black = p.paper();
  const bitmap red = p.red_paper();
  // Each character's ink lands on one plane: B's cell (12 dots from x = 12) on the red one.
  EXPECT_GT(red.count(12, 0, 24, 24), 0);
  EXPECT_EQ(red.count(), red.count(12, 0, 24, 24));
  EXPECT_EQ(black.count(12, 0, 24, 24), 0);
  EXPECT_GT(black.count(0, 0, 12, 24), 0);
  EXPECT_GT(black.count(24, 0, 36, 24), 0);
  // ESC @ returns to black.
  talk(p, bytes("1D 28 4E 02 00 30 32 1B 40") + "D\n");
  EXPECT_EQ(p.red_paper().count(), red.count());
  EXPECT_EQ(p.unknown_count(), 0u);
}

TEST(VprinterColour, GraphicsPlanesPrintInTheirColours) {
  struct Case {
    const char* what;
    std::string commands;
  };
  const Case cases[] = {
      {"buffer, black then red, printed by function 50",
       bytes("1D 38 4C 0C 00 00 00 30 70 30 01 01 31 08 00 02 00 FF 00") +
           bytes("1D 38 4C 0C 00 00 00 30 70 30 01 01 32 08 00 02 00 00 FF") + bytes("1D 28 4C 02 00 30 32")},
      {"stored graphics of two planes, printed by function 69", kTwoPlanes + kPrintK1},
      {"stored graphics of the colour variant (three planes, the third empty)",
       bytes("1D 38 4C 14 00 00 00 30 FF 30 4B 33 06 08 00 02 00 00 31 FF 00 32 00 FF 33 00 00") +
           bytes("1D 28 4C 06 00 30 45 4B 33 01 01")},
  };
  for (const Case& c : cases) {
    virtual_printer p(two_colour());
    talk(p, c.commands);
    const bitmap black = p.paper();
    const bitmap red = p.red_paper();
    EXPECT_EQ(black.count(), 8) << c.what;
    EXPECT_EQ(black.count(0, 0, 8, 1), 8) << c.what;
    EXPECT_EQ(red.count(), 8) << c.what;
    EXPECT_EQ(red.count(0, 1, 8, 2), 8) << c.what;
    EXPECT_EQ(p.unknown_count(), 0u) << c.what;

    // The one-colour model prints both planes black.
    virtual_printer mono;
    talk(mono, c.commands);
    EXPECT_EQ(mono.paper().count(), 16) << c.what;
    EXPECT_EQ(mono.red_paper().count(), 0) << c.what;
  }
}

TEST(VprinterColour, KeyListComesInBlocksEachAcknowledged) {
  config c = two_colour();
  c.key_list_block_keys = 2;
  virtual_printer p(c);
  for (const char* key : {"K1", "K2", "K3"}) {
    std::string define = kTwoPlanes;
    define.replace(10, 2, key);
    talk(p, define);
  }
  const std::string list = bytes("1D 28 4C 04 00 30 40 4B 43");
  EXPECT_TRUE(same_bytes(talk(p, list), bytes("37 72 41") + "K1K2" + '\0'));
  // Nothing more until the block is acknowledged.
  EXPECT_EQ(p.read(100).bytes, "");
  EXPECT_TRUE(same_bytes(talk(p, bytes("06")), bytes("37 72 40") + "K3" + '\0'));
  // The acknowledgement of the last block ends the exchange: a further ACK is a stray.
  EXPECT_EQ(talk(p, bytes("06")), "");
  EXPECT_TRUE(p.log().empty());
  EXPECT_EQ(talk(p, bytes("06")), "");
  const std::vector<log_entry> log = p.log();
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.back().text, "ACK outside a setup exchange");

  // Deleting one takes both its planes from the memory.
  const std::string free_before = talk(p, bytes("1D 28 4C 02 00 30 03"));
  talk(p, bytes("1D 28 4C 04 00 30 42 4B 32"));
  EXPECT_EQ(p.state().graphics_keys, (std::vector<std::string>{"K1", "K3"}));
  const std::string free_after = talk(p, bytes("1D 28 4C 02 00 30 03"));
  EXPECT_EQ(std::stol(free_after.substr(2)) - std::stol(free_before.substr(2)), 4);
  // An empty memory answers one empty block.
  talk(p, bytes("1D 28 4C 05 00 30 41 43 4C 52"));
  EXPECT_TRUE(same_bytes(talk(p, list), bytes("37 72 40 00")));
}

TEST(VprinterColour, PaperPngShowsRedDotsInRed) {
  platform::testing::temp_dir dir;
  virtual_printer p(two_colour());
  talk(p, kTwoPlanes + kPrintK1);
  std::string error;
  ASSERT_TRUE(p.write_png(dir.path() / "paper.png", &error)) << error;
  png_image img{};
  img.version = PNG_IMAGE_VERSION;
  ASSERT_TRUE(png_image_begin_read_from_file(&img, (dir.path() / "paper.png").c_str()));
  img.format = PNG_FORMAT_RGB;
  std::vector<unsigned char> rgb(PNG_IMAGE_SIZE(img));
  ASSERT_TRUE(png_image_finish_read(&img, nullptr, rgb.data(), 0, nullptr));
  ASSERT_GE(img.height, 2u);
  const auto at = [&](int x, int y) { return &rgb[(static_cast<std::size_t>(y) * img.width + static_cast<std::size_t>(x)) * 3]; };
  EXPECT_EQ(at(0, 0)[0], 0);    // black
  EXPECT_GT(at(0, 1)[0], 200);  // red
  EXPECT_EQ(at(0, 1)[1], 0);
  EXPECT_EQ(at(20, 0)[1], 255);  // white
}

}  // namespace
}  // namespace vprinter
