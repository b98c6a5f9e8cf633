// The choices by identification byte, the file-name rule and the keys of new logos.
#include <gtest/gtest.h>

#include "logo/picture.h"

namespace {

using namespace logo;

std::vector<std::pair<std::string, int>> widths_of(int id) {
  std::vector<std::pair<std::string, int>> out;
  for (const paper_width& w : paper_widths(id)) out.emplace_back(std::string(w.text), w.dots);
  return out;
}

std::vector<std::pair<std::string, int>> modes_of(int id) {
  std::vector<std::pair<std::string, int>> out;
  for (const colour_mode& m : colour_modes(id)) out.emplace_back(std::string(m.text), m.code);
  return out;
}

TEST(LogoChoices, PaperWidthsAndColourModesFollowTheIdentificationByte) {
  using list = std::vector<std::pair<std::string, int>>;
  const list wide = {{"80 mm", 560}, {"60 mm", 417}, {"58 mm", 390}};
  struct Case {
    int id;
    list widths;
    list modes;
  };
  const Case cases[] = {
      {10, {{"76 mm", 400}}, {{"Black & white", 2}}},
      {161, {{"76 mm", 400}}, {{"Black & white", 2}}},
      {36, {{"82.5 mm", 426}, {"76 mm", 400}, {"70 mm", 360}}, {{"Black & white", 2}, {"Color", 3}}},
      {32, wide, {{"Black & white", 2}}},
      {46, wide, {{"Black & white", 2}, {"Two colors", 1}}},
      {33, {}, {{"Black & white", 2}}},
      {0, {}, {{"Black & white", 2}}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(widths_of(c.id), c.widths) << c.id;
    EXPECT_EQ(modes_of(c.id), c.modes) << c.id;
  }
}

TEST(LogoChoices, StorageFamilies) {
  for (const int id : {46, 36, 161}) EXPECT_TRUE(is_nv_graphics_family(id) && !is_bit_image_family(id)) << id;
  for (const int id : {32, 10}) EXPECT_TRUE(is_bit_image_family(id) && !is_nv_graphics_family(id)) << id;
  EXPECT_FALSE(is_nv_graphics_family(33) || is_bit_image_family(33));
}

TEST(LogoFileNames, TheExtensionFromTheLastDotDecidesInLowerCase) {
  struct Case {
    const char* name;
    bool valid;
  };
  const Case cases[] = {
      {"logo.bmp", true},         {"/pics/LOGO.BMP", true}, {"a.Bmp", true},   {"x.bmp.txt", false},
      {"bmp", false},             {"a.bm", false},          {".bmp", true},    {"dir.bmp/file", false},
      {"name.bmpx", false},       {"", false},
  };
  for (const Case& c : cases) EXPECT_EQ(is_bmp_file_name(c.name), c.valid) << c.name;
  EXPECT_EQ(invalid_file_text("x.bmp.txt"), "The selected file x.bmp.txt is not valid.\r\nPlease select a valid BMP file.");
  EXPECT_EQ(not_loaded_text("a.bmp"), "Raise error on load the current picture.\r\nThe new logo <a.bmp> is not loaded.");
}

TEST(LogoKeys, TheFirstKeyNoVisibleEntryUses) {
  auto hex = [](int from, int to) {
    std::vector<std::string> keys;
    for (int i = from; i <= to; ++i) {
      char text[8];
      std::snprintf(text, sizeof text, "%02X", i);
      keys.emplace_back(text);
    }
    return keys;
  };
  struct Case {
    const char* what;
    std::vector<std::string> keys;
    const char* want;
  };
  const Case cases[] = {
      {"empty list", {}, "00"},
      {"00 and 01 in use", {"00", "01"}, "02"},
      {"a later entry forces a new scan from the first", {"01", "00"}, "02"},
      {"00 free again after its deletion", {"01", "02"}, "00"},
      {"out of order", {"02", "00", "03", "01"}, "04"},
      {"hexadecimal in upper case", hex(0, 9), "0A"},
      {"past 0F", hex(0, 15), "10"},
      {"stored keys of other forms do not collide", {"AB", "0a"}, "00"},
  };
  for (const Case& c : cases) EXPECT_EQ(next_key(c.keys), c.want) << c.what;
  EXPECT_EQ(new_state("02"), "New(02)");
  EXPECT_EQ(stored_state("A1"), "Logo(A1)");
}

}  // namespace
