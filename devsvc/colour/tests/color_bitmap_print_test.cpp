// PrintBitmap and SetBitmap of the two-colour printer: raster bands in black and red, the
// image-conversion library, stored pictures defined, recorded and deleted under key codes.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <filesystem>
#include <string>
#include <vector>

#include "bmp_writer.h"
#include "colour_fixture.h"
#include "core/opos.h"

namespace devsvc {
namespace {

using test::colour_fixture;
using test::kBlackInk;
using test::kColorProgId;
using test::kStatusPoll;
using test::printer_object;
using test::same_bytes;

// One graphics command the printer received: GS 8 L with its function, colour byte and size,
// or the print-buffer command (function 50).
struct graphics_command {
  int function = 0;
  int colour = 0;  // plane byte of function 112 (0x31, 0x32); number of planes of function 67
  int width = 0;
  int rows = 0;
  std::string data;  // what follows the parameters
  bool operator==(const graphics_command&) const = default;
};

int u8(const std::string& s, std::size_t i) { return i < s.size() ? static_cast<unsigned char>(s[i]) : 0; }
int u16(const std::string& s, std::size_t i) { return u8(s, i) | u8(s, i + 1) << 8; }

// The graphics commands in `bytes`, in order; everything between them is skipped.
std::vector<graphics_command> graphics_in(const std::string& bytes) {
  std::vector<graphics_command> out;
  const std::string large("\x1D\x38\x4C", 3);
  const std::string print("\x1D\x28\x4C\x02\x00\x30\x32", 7);
  std::size_t at = 0;
  while (at < bytes.size()) {
    if (bytes.compare(at, large.size(), large) == 0 && at + 7 <= bytes.size()) {
      const std::size_t p = static_cast<std::size_t>(u16(bytes, at + 3)) | static_cast<std::size_t>(u16(bytes, at + 5)) << 16;
      const std::string params = bytes.substr(at + 7, p);
      // Function 112: m fn a bx by c xL xH yL yH; function 67: m fn a k1 k2 b xL xH yL yH.
      out.push_back({u8(params, 1), u8(params, 5), u16(params, 6), u16(params, 8), params.substr(10)});
      at += 7 + p;
    } else if (bytes.compare(at, print.size(), print) == 0) {
      out.push_back({50, 0, 0, 0, {}});
      at += print.size();
    } else {
      ++at;
    }
  }
  return out;
}

class ColourPictureTest : public colour_fixture {
 protected:
  void SetUp() override {
    colour_fixture::SetUp();
    // 16 x 300: black on the left half of every row, red on the right half of row 0 and row 299.
    tall_ = dir_ / "tall.bmp";
    test::write_rgb_bmp(tall_, 16, 300, [](int x, int y) {
      if (x < 8) return kBlack;
      return y == 0 || y == 299 ? kPureRed : kWhite;
    });
    // 16 x 8 in a black-and-red palette: black left, red right.
    black_red_ = dir_ / "black_red.bmp";
    test::write_file(black_red_, test::bmp_bytes(16, 8, 1, {kBlack, kPureRed}, [](int x, int) { return x < 8 ? 0u : 1u; }));
    // 8 x 8 in dark grey: only the image-conversion library can print it.
    grey_ = dir_ / "grey.bmp";
    test::write_rgb_bmp(grey_, 8, 8, [](int x, int) { return x < 4 ? rgb{60, 60, 60} : kWhite; });
  }
  std::filesystem::path tall_, black_red_, grey_;
};

TEST_F(ColourPictureTest, TallPictureGoesInBandsOf235RowsEachInBlackThenRed) {
  printer_object p(kColorProgId);
  open_claim_enable(p);
  ASSERT_EQ(p.call("PrintBitmap", PTR_S_RECEIPT, tall_.string(), PTR_BM_ASIS, PTR_BM_CENTER), OPOS_SUCCESS);
  const std::string sent = after_claim();
  // The alignment selects no colour; the picture ends with left alignment and black.
  EXPECT_TRUE(sent.starts_with("\x1B\x61\x31" + kStatusPoll + "\x1D\x38\x4C")) << testing::hex(sent.substr(0, 24));
  EXPECT_TRUE(sent.ends_with("\x1B\x61\x30" + kBlackInk + kStatusPoll));

  const std::vector<graphics_command> commands = graphics_in(sent);
  ASSERT_EQ(commands.size(), 6u);
  const int rows[] = {235, 235, 0, 65, 65, 0};
  const int colours[] = {0x31, 0x32, 0, 0x31, 0x32, 0};
  for (std::size_t i = 0; i < commands.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(commands[i].function, colours[i] == 0 ? 50 : 112);
    EXPECT_EQ(commands[i].colour, colours[i]);
    EXPECT_EQ(commands[i].rows, rows[i]);
    if (colours[i] != 0) {
      EXPECT_EQ(commands[i].width, 16);
      EXPECT_EQ(commands[i].data.size(), 2u * static_cast<std::size_t>(rows[i]));
    }
  }
  // Black: the left byte of every row. Red: the right byte of the first and the last row only.
  EXPECT_EQ(commands[0].data.substr(0, 4), std::string("\xFF\x00\xFF\x00", 4));
  EXPECT_EQ(commands[1].data.substr(0, 4), std::string("\x00\xFF\x00\x00", 4));
  EXPECT_EQ(commands[4].data.substr(128), std::string("\x00\xFF", 2));
  // The first band's header: 2 x 235 + 10 parameter bytes, normal scale, black, 16 x 235.
  const std::string header(sent.substr(3 + kStatusPoll.size(), 17));
  EXPECT_EQ(testing::hex(header), "1D 38 4C E0 01 00 00 30 70 30 01 01 31 10 00 EB 00");
}

// Occurrences of `part` in `bytes`.
std::size_t count_of(const std::string& bytes, const std::string& part) {
  std::size_t n = 0;
  for (std::size_t at = bytes.find(part); at != std::string::npos; at = bytes.find(part, at + part.size())) ++n;
  return n;
}

TEST_F(ColourPictureTest, QueuedPictureGoesOutBandByBandWithoutPollsAfterTheBands) {
  printer_object p(kColorProgId);
  open_claim_enable(p);
  p.set(PIDXPtr_AsyncMode, 1);
  ASSERT_EQ(p.call("PrintBitmap", PTR_S_RECEIPT, tall_.string(), PTR_BM_ASIS, PTR_BM_LEFT), OPOS_SUCCESS);
  // Each band's print-buffer command is a print request of its own, with its own completion;
  // the closing commands follow them.
  const std::string closing = "\x1B\x61\x30" + kBlackInk + kStatusPoll;
  ASSERT_TRUE(test::run_until([&] {
    std::size_t done = 0;
    for (const std::string& call : p.control->calls) done += call.starts_with("SOOutputComplete");
    return done == 2 && after_claim().ends_with(closing);
  }));
  const std::string sent = after_claim();
  const std::vector<graphics_command> commands = graphics_in(sent);
  ASSERT_EQ(commands.size(), 6u);
  EXPECT_EQ(commands[3].rows, 65);
  // Status polls after the alignment, the two print-buffer commands and the closing commands only.
  EXPECT_EQ(count_of(sent, kStatusPoll), 4u);
}

TEST_F(ColourPictureTest, DirectWriteIsFollowedByAStatusPoll) {
  printer_object p(kColorProgId);
  open_claim_enable(p);
  std::int32_t data = 0;
  std::string text = "ABC";
  ASSERT_EQ(p.direct_io(1, data, text), OPOS_SUCCESS);
  EXPECT_TRUE(same_bytes(after_claim(), "ABC" + kStatusPoll));
}

TEST_F(ColourPictureTest, BlackAndRedPalettePrintsBothPlanes) {
  printer_object p(kColorProgId);
  open_claim_enable(p);
  ASSERT_EQ(p.call("PrintBitmap", PTR_S_RECEIPT, black_red_.string(), PTR_BM_ASIS, PTR_BM_LEFT), OPOS_SUCCESS);
  const std::vector<graphics_command> commands = graphics_in(after_claim());
  ASSERT_EQ(commands.size(), 3u);
  std::string left, right;
  for (int row = 0; row < 8; ++row) {
    left += std::string("\xFF\x00", 2);
    right += std::string("\x00\xFF", 2);
  }
  EXPECT_EQ(commands[0].colour, 0x31);
  EXPECT_EQ(commands[0].data, left);
  EXPECT_EQ(commands[1].colour, 0x32);
  EXPECT_EQ(commands[1].data, right);
  EXPECT_EQ(commands[2].function, 50);
}

TEST_F(ColourPictureTest, ScaleComesFromBMPModeAndHalvesTheWidth) {
  std::ifstream example(testing::environment::example_metrics());
  std::string metrics((std::istreambuf_iterator<char>(example)), std::istreambuf_iterator<char>());
  use_metrics(metrics.replace(metrics.find("RasterMode=0"), 12, "RasterMode=1"));
  const std::filesystem::path half = dir_ / "half.bmp";
  test::write_rgb_bmp(half, 289, 2, [](int, int) { return kBlack; });
  printer_object p(kColorProgId);
  open_claim_enable(p);
  // Doubled across, 289 dots would need 578 of the 576.
  EXPECT_EQ(p.call("PrintBitmap", PTR_S_RECEIPT, half.string(), PTR_BM_ASIS, PTR_BM_LEFT), OPOS_E_EXTENDED);
  EXPECT_EQ(p.extended_code(), OPOS_EPTR_BADFORMAT);
  ASSERT_EQ(p.call("PrintBitmap", PTR_S_RECEIPT, black_red_.string(), PTR_BM_ASIS, PTR_BM_LEFT), OPOS_SUCCESS);
  const std::string sent = after_claim();
  const std::size_t at = sent.find("\x1D\x38\x4C");
  ASSERT_NE(at, std::string::npos);
  EXPECT_EQ(testing::hex(sent.substr(at + 7, 6)), "30 70 30 02 01 31");
}

TEST_F(ColourPictureTest, GreyIsConvertedThroughTheLibraryAndRefusedWithoutIt) {
  printer_object p(kColorProgId);
  open_claim_enable(p);
  struct Case {
    const char* what;
    std::string library;
    std::int32_t result;
  };
  const Case cases[] = {
      {"no ConvertImageDLL", "", OPOS_E_EXTENDED},
      {"library missing", (dir_ / "nolib.so").string(), OPOS_E_EXTENDED},
      {"library without the exports", DEVSVC_LIBRARY_FILE, OPOS_E_EXTENDED},
      {"the kit's library", IMGCONV_LIBRARY_PATH, OPOS_SUCCESS},
  };
  test::set_colour_fixed_string("RootPath", (dir_ / "").string());
  for (const Case& c : cases) {
    test::set_colour_fixed_string("ConvertImageDLL", c.library);
    const std::size_t before = printer_->capture().size();
    EXPECT_EQ(p.call("PrintBitmap", PTR_S_RECEIPT, grey_.string(), PTR_BM_ASIS, PTR_BM_LEFT), c.result) << c.what;
    if (c.result != OPOS_SUCCESS) {
      EXPECT_EQ(p.extended_code(), OPOS_EPTR_BADFORMAT) << c.what;
      EXPECT_EQ(printer_->capture().size(), before) << c.what;
      continue;
    }
    // The dark grey half comes out dithered, mostly black (about three dots in four for a grey
    // of 60), the white half white, nothing red.
    const std::vector<graphics_command> commands = graphics_in(printer_->capture().substr(before));
    ASSERT_EQ(commands.size(), 3u);
    ASSERT_EQ(commands[0].data.size(), 8u);
    int black = 0;
    for (const char row : commands[0].data) {
      EXPECT_EQ(row & 0x0F, 0) << testing::hex(commands[0].data);
      black += std::popcount(static_cast<unsigned char>(row));
    }
    EXPECT_GE(black, 20) << testing::hex(commands[0].data);
    EXPECT_LT(black, 32) << testing::hex(commands[0].data);
    EXPECT_EQ(commands[1].data, std::string(8, '\0'));
  }
}

// The per-user record of the stored pictures.
struct picture_record {
  std::uint32_t count = 0;
  std::string path;
  std::uint32_t alignment = 0;
};
picture_record read_record(int n) {
  picture_record r;
  platform::registry_key key;
  if (platform::registry_key::open(platform::registry_root::current_user, test::kColorUserKey, key) !=
      platform::kErrorSuccess) {
    return r;
  }
  key.query_dword("BitmapStored", r.count);
  key.query_string("BMP" + std::to_string(n), r.path);
  key.query_dword("Alignment" + std::to_string(n), r.alignment);
  return r;
}

TEST_F(ColourPictureTest, StorePrintAndRemoveAPicture) {
  printer_object p(kColorProgId);
  open_claim_enable(p);
  ASSERT_EQ(p.call("SetBitmap", 2, PTR_S_RECEIPT, black_red_.string(), PTR_BM_ASIS, PTR_BM_RIGHT), OPOS_SUCCESS);
  const picture_record stored = read_record(2);
  EXPECT_EQ(stored.count, 1u);
  EXPECT_EQ(stored.path, black_red_.string());
  EXPECT_EQ(stored.alignment, 3u);
  // One definition with both planes under key codes 21 20, then the status poll.
  const std::string sent = after_claim();
  EXPECT_EQ(testing::hex(sent.substr(0, 17)), "1D 38 4C 2C 00 00 00 30 43 30 21 20 02 10 00 08 00");
  EXPECT_EQ(sent.size(), 17u + 2 * 17 + kStatusPoll.size());
  EXPECT_TRUE(sent.ends_with(kStatusPoll));
  EXPECT_EQ(printer_->state().graphics_keys, std::vector<std::string>{"\x21\x20"});

  // Printed by its escape sequence: right-aligned, both colours on the paper.
  std::size_t before = printer_->capture().size();
  ASSERT_EQ(p.call("PrintNormal", PTR_S_RECEIPT, "\x1B|2B"), OPOS_SUCCESS);
  EXPECT_TRUE(same_bytes(printer_->capture().substr(before),
                         std::string("\x1B\x61\x02\x1D\x28\x4C\x06\x00\x30\x45\x21\x20\x01\x01", 14) + kStatusPoll));
  const vprinter::bitmap red = printer_->red_paper();
  EXPECT_EQ(red.count(), 8 * 8);
  EXPECT_EQ(printer_->paper().count(), 8 * 8);

  // Removed: the key list is asked and acknowledged, the picture deleted and waited for.
  before = printer_->capture().size();
  ASSERT_EQ(p.call("SetBitmap", 2, PTR_S_RECEIPT, "", PTR_BM_ASIS, PTR_BM_RIGHT), OPOS_SUCCESS);
  EXPECT_TRUE(same_bytes(printer_->capture().substr(before),
                         std::string("\x1D\x28\x4C\x04\x00\x30\x40\x4B\x43\x06"
                                     "\x1D\x28\x4C\x04\x00\x30\x42\x21\x20\x1D\x49\x01",
                                     22) +
                             kStatusPoll));
  const picture_record removed = read_record(2);
  EXPECT_EQ(removed.count, 0u);
  EXPECT_EQ(removed.path, "");
  EXPECT_TRUE(printer_->state().graphics_keys.empty());
  // Nothing left to remove.
  EXPECT_EQ(p.call("SetBitmap", 2, PTR_S_RECEIPT, "", PTR_BM_ASIS, PTR_BM_RIGHT), OPOS_E_ILLEGAL);
}

TEST_F(ColourPictureTest, KeyListInSeveralBlocksIsReadToTheEnd) {
  // 45 other pictures in the printer: their keys fill more than one block of the list.
  std::string others;
  for (int k = 0; k < 45; ++k) {
    others += std::string("\x1D\x38\x4C\x0C\x00\x00\x00\x30\x43\x30", 10) + static_cast<char>(0x41 + k) +
              std::string("\x41\x01\x08\x00\x01\x00\x31\xFF", 8);
  }
  printer_->accept(others);
  ASSERT_EQ(printer_->unknown_count(), 0u);
  printer_object p(kColorProgId);
  open_claim_enable(p);
  ASSERT_EQ(p.call("SetBitmap", 20, PTR_S_RECEIPT, black_red_.string(), PTR_BM_ASIS, PTR_BM_LEFT), OPOS_SUCCESS);
  EXPECT_EQ(printer_->state().graphics_keys.size(), 46u);
  const std::size_t before = printer_->capture().size();
  ASSERT_EQ(p.call("SetBitmap", 20, PTR_S_RECEIPT, "", PTR_BM_ASIS, PTR_BM_LEFT), OPOS_SUCCESS);
  // One acknowledgement per block.
  const std::string sent = printer_->capture().substr(before);
  EXPECT_GE(std::count(sent.begin(), sent.end(), '\x06'), 2);
  EXPECT_EQ(printer_->state().graphics_keys.size(), 45u);
}

TEST_F(ColourPictureTest, SetBitmapRefusals) {
  printer_object p(kColorProgId);
  open_claim_enable(p);
  platform::registry_key user;
  ASSERT_EQ(platform::registry_key::create(platform::registry_root::current_user, test::kColorUserKey, user),
            platform::kErrorSuccess);
  user.set_string("BMP4", "/somewhere/held.bmp");
  user.set_dword("BitmapStored", 1);
  struct Case {
    const char* what;
    std::int32_t number;
    std::string file;
    std::int32_t width;
    std::int32_t alignment;
    std::int32_t result;
  };
  const Case cases[] = {
      {"number 0", 0, black_red_.string(), PTR_BM_ASIS, PTR_BM_LEFT, OPOS_E_ILLEGAL},
      {"number 21", 21, black_red_.string(), PTR_BM_ASIS, PTR_BM_LEFT, OPOS_E_ILLEGAL},
      {"slot taken", 4, black_red_.string(), PTR_BM_ASIS, PTR_BM_LEFT, OPOS_E_ILLEGAL},
      {"alignment as a distance", 5, black_red_.string(), PTR_BM_ASIS, 100, OPOS_E_ILLEGAL},
      {"not in the printer", 6, "", PTR_BM_ASIS, PTR_BM_LEFT, OPOS_E_ILLEGAL},
      {"missing file", 7, (dir_ / "none.bmp").string(), PTR_BM_ASIS, PTR_BM_LEFT, OPOS_E_EXTENDED},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(p.call("SetBitmap", c.number, PTR_S_RECEIPT, c.file, c.width, c.alignment), c.result) << c.what;
  }
  // Twenty recorded: no more.
  user.set_dword("BitmapStored", 20);
  EXPECT_EQ(p.call("SetBitmap", 8, PTR_S_RECEIPT, black_red_.string(), PTR_BM_ASIS, PTR_BM_LEFT), OPOS_E_ILLEGAL);
  EXPECT_TRUE(printer_->state().graphics_keys.empty());
}

}  // namespace
}  // namespace devsvc
