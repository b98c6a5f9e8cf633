// The paper's PNG written again and again as printing goes on: each file holds exactly the paper
// at that moment, including after the oldest paper was dropped at the paper limit.
#include <gtest/gtest.h>
#include <png.h>

#include <string>
#include <vector>

#include "platform/testing/temp_dir.h"
#include "test_util.h"
#include "vprinter/virtual_printer.h"

namespace vprinter {
namespace {

// Dots of the PNG at `path` that differ from `paper` (black in the file where the paper is
// white or the reverse); -1 when the file cannot be read or has another size.
long differences_from_file(const std::filesystem::path& path, const bitmap& paper) {
  png_image img{};
  img.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&img, path.c_str())) return -1;
  img.format = PNG_FORMAT_GRAY;
  std::vector<unsigned char> grey(PNG_IMAGE_SIZE(img));
  if (!png_image_finish_read(&img, nullptr, grey.data(), 0, nullptr)) return -1;
  if (static_cast<int>(img.width) != paper.width() || static_cast<int>(img.height) != paper.height()) return -1;
  long n = 0;
  for (int y = 0; y < paper.height(); ++y)
    for (int x = 0; x < paper.width(); ++x)
      n += (grey[static_cast<std::size_t>(y) * img.width + static_cast<std::size_t>(x)] == 0) != paper.get(x, y);
  return n;
}

TEST(VprinterPaperPng, EveryWriteMatchesThePaperAsItGrowsAndIsCutBack) {
  struct limit_case {
    const char* name;
    int paper_limit_dots;
  };
  const limit_case cases[] = {{"all paper kept", 0}, {"oldest paper dropped", 1500}};
  for (const auto& c : cases) {
    platform::testing::temp_dir dir;
    test::manual_clock clock;
    config cfg = test::test_config(clock);
    cfg.paper_limit_dots = c.paper_limit_dots;
    virtual_printer printer(cfg);
    const auto path = dir / "paper.png";
    for (int receipt = 0; receipt < 12; ++receipt) {
      std::string bytes;
      for (int line = 0; line < 10 + receipt * 3; ++line)
        bytes += "Receipt " + std::to_string(receipt) + " line " + std::to_string(line) + "\n";
      // A long feed makes blank rows below the print, then a cut mark.
      bytes += test::bytes("1B 4A FF 1D 56 41 10");
      test::talk(printer, bytes);
      std::string error;
      ASSERT_TRUE(printer.write_png(path, &error)) << c.name << ": " << error;
      EXPECT_EQ(differences_from_file(path, printer.paper()), 0) << c.name << ", after receipt " << receipt;
    }
    // Written twice without printing in between, the file is the same.
    ASSERT_TRUE(printer.write_png(path));
    EXPECT_EQ(differences_from_file(path, printer.paper()), 0) << c.name;
  }
}

}  // namespace
}  // namespace vprinter
