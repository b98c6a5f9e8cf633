// Tests of case-insensitive path lookup over a real folder tree.
#include "platform/case_path.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>

#include "platform/testing/temp_dir.h"

namespace platform {
namespace {

namespace fs = std::filesystem;

class CasePath : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(dir_ / "image");
    fs::create_directories(dir_ / "app");
    for (const char* name : {"Launcher.INI", "image/x.bmp", "twin.ini", "TWIN.INI"}) {
      std::ofstream(dir_ / name) << "x";
    }
  }
  platform::testing::temp_dir dir_;
};

TEST_F(CasePath, FindsEachComponentIgnoringCase) {
  struct row {
    const char* behaviour;
    const char* asked;
    const char* expected;
  };
  const row rows[] = {
      {"exact name is kept", "Launcher.INI", "Launcher.INI"},
      {"file name in other case", "launcher.ini", "Launcher.INI"},
      {"folder and file in other case, through ..", "app/../Image/X.BMP", "app/../image/x.bmp"},
      {"missing file keeps its name in the found folder", "IMAGE/New File.BMP", "image/New File.BMP"},
      {"nothing found keeps the rest as asked", "Missing/Image/X.BMP", "Missing/Image/X.BMP"},
      {"several matches: first in name order", "Twin.Ini", "TWIN.INI"},
      {"trailing separator", "IMAGE/", "image/"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.behaviour);
    EXPECT_EQ(resolve_case_insensitive(dir_.path() / r.asked), dir_.path() / r.expected);
  }
  EXPECT_EQ(resolve_case_insensitive(""), fs::path());
}

TEST_F(CasePath, ResolvesRelativePathsFromTheCurrentFolder) {
  const fs::path previous = fs::current_path();
  fs::current_path(dir_ / "app");
  const fs::path found = resolve_case_insensitive("../Image/X.BMP");
  const fs::path here = resolve_case_insensitive("LAUNCHER.INI");
  fs::current_path(previous);
  EXPECT_EQ(found, fs::path("../image/x.bmp"));
  EXPECT_EQ(here, fs::path("LAUNCHER.INI"));
}

}  // namespace
}  // namespace platform
