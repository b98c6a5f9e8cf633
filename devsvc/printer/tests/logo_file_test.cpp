// Tests of the logo file: layout, corrupt headers, atomic saving and the save-before-switch rule.
#include "printer/logo_file.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "core/tests/hex.h"
#include "platform/testing/temp_dir.h"

namespace devsvc {
namespace {

using testing::hex;

std::string le32(std::uint32_t v) {
  return {static_cast<char>(v & 0xFF), static_cast<char>(v >> 8 & 0xFF), static_cast<char>(v >> 16 & 0xFF),
          static_cast<char>(v >> 24 & 0xFF)};
}

void write_file(const std::filesystem::path& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
}

std::string read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(LogoFile, LoadsTwoLogosOfDifferentLengths) {
  platform::testing::temp_dir dir;
  const std::string top("\x1B\x61\x31TOP<NID>", 11);
  const std::string bottom("\x1D\x76\x30\x00\x01\x00\x02\x00\xFF\x80", 10);
  write_file(dir / "logo.dat", le32(11) + le32(10) + top + bottom);
  CLogoFile logos;
  ASSERT_EQ(logos.load(dir / "logo.dat"), logo_load_result::loaded);
  EXPECT_EQ(hex(logos.top()), hex(top));
  EXPECT_EQ(hex(logos.bottom()), hex(bottom));
}

TEST(LogoFile, ExampleFileHoldsNoLogos) {
  CLogoFile logos;
  ASSERT_EQ(logos.load(std::filesystem::path(KIT_EXAMPLES_DIR) / "metrics" / "VX40LOGO.DAT"),
            logo_load_result::loaded);
  EXPECT_TRUE(logos.top().empty());
  EXPECT_TRUE(logos.bottom().empty());
}

TEST(LogoFile, MissingFileLeavesBothLogosEmpty) {
  platform::testing::temp_dir dir;
  CLogoFile logos;
  EXPECT_EQ(logos.load(dir / "none.dat"), logo_load_result::missing);
  EXPECT_TRUE(logos.top().empty());
  EXPECT_TRUE(logos.bottom().empty());
}

// Lengths are checked against the real file size before anything is allocated or read.
TEST(LogoFile, CorruptHeadersAreRefused) {
  struct row {
    const char* name;
    std::string content;
  };
  const row rows[] = {
      {"short header", std::string("\x01\x00\x00", 3)},
      {"top length of 4 GiB", le32(0xFFFFFFFF) + le32(0) + "abc"},
      {"bottom beyond the end", le32(1) + le32(3) + "ab"},
      {"lengths overflowing 32 bits together", le32(0xFFFFFFFF) + le32(2) + "abc"},
      {"both lengths 2 GiB", le32(0x80000000) + le32(0x80000000)},
  };
  platform::testing::temp_dir dir;
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    write_file(dir / "logo.dat", r.content);
    CLogoFile logos;
    EXPECT_EQ(logos.load(dir / "logo.dat"), logo_load_result::corrupt);
    EXPECT_TRUE(logos.top().empty());
    EXPECT_TRUE(logos.bottom().empty());
  }
}

TEST(LogoFile, BytesAfterTheLogosAreIgnored) {
  platform::testing::temp_dir dir;
  write_file(dir / "logo.dat", le32(1) + le32(2) + "ABCtrailing");
  CLogoFile logos;
  ASSERT_EQ(logos.load(dir / "logo.dat"), logo_load_result::loaded);
  EXPECT_EQ(logos.top(), "A");
  EXPECT_EQ(logos.bottom(), "BC");
}

TEST(LogoFile, SettingALogoRewritesTheFileInItsLayout) {
  platform::testing::temp_dir dir;
  CLogoFile logos;
  ASSERT_EQ(logos.load(dir / "logo.dat"), logo_load_result::missing);
  std::error_code error;
  ASSERT_TRUE(logos.set_top(std::string("T\0p", 3), error)) << error.message();
  ASSERT_TRUE(logos.set_bottom("Bottom", error)) << error.message();
  EXPECT_EQ(hex(read_file(dir / "logo.dat")), hex(le32(3) + le32(6) + std::string("T\0pBottom", 9)));
  // Nothing but the file itself is left in the folder.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), std::filesystem::directory_iterator()), 1);

  CLogoFile again;
  ASSERT_EQ(again.load(dir / "logo.dat"), logo_load_result::loaded);
  EXPECT_EQ(hex(again.top()), hex(std::string("T\0p", 3)));
  EXPECT_EQ(again.bottom(), "Bottom");
}

TEST(LogoFile, SaveFailureKeepsTheOldFileAndReportsIt) {
  platform::testing::temp_dir dir;
  CLogoFile logos;
  logos.load(dir / "no-such-folder" / "logo.dat");
  std::error_code error;
  EXPECT_FALSE(logos.set_top("T", error));
  EXPECT_TRUE(error);
  EXPECT_FALSE(std::filesystem::exists(dir / "no-such-folder"));

  CLogoFile unassigned;
  EXPECT_FALSE(unassigned.save(error));
}

TEST(LogoFile, LogosAreSavedToTheOldPathBeforeAnotherIsAssigned) {
  platform::testing::temp_dir dir;
  write_file(dir / "a.dat", le32(1) + le32(0) + "T");
  CLogoFile logos;
  ASSERT_EQ(logos.load(dir / "a.dat"), logo_load_result::loaded);
  std::filesystem::remove(dir / "a.dat");
  EXPECT_EQ(logos.load(dir / "b.dat"), logo_load_result::missing);
  EXPECT_EQ(hex(read_file(dir / "a.dat")), hex(le32(1) + le32(0) + "T"));
  EXPECT_FALSE(std::filesystem::exists(dir / "b.dat"));
}

TEST(LogoFile, EmptyLogosAreNotSavedOnSwitch) {
  platform::testing::temp_dir dir;
  CLogoFile logos;
  ASSERT_EQ(logos.load(dir / "a.dat"), logo_load_result::missing);
  EXPECT_EQ(logos.load(dir / "b.dat"), logo_load_result::missing);
  EXPECT_FALSE(std::filesystem::exists(dir / "a.dat"));
}

TEST(LogoFile, ReopeningTheSamePathReadsItsCurrentContent) {
  platform::testing::temp_dir dir;
  write_file(dir / "a.dat", le32(1) + le32(0) + "T");
  CLogoFile logos;
  ASSERT_EQ(logos.load(dir / "a.dat"), logo_load_result::loaded);
  write_file(dir / "a.dat", le32(0) + le32(1) + "B");
  ASSERT_EQ(logos.load(dir / "a.dat"), logo_load_result::loaded);
  EXPECT_TRUE(logos.top().empty());
  EXPECT_EQ(logos.bottom(), "B");
}

}  // namespace
}  // namespace devsvc
