// Atomic replacement: content, kept permission bits, and nothing left behind on failure.
#include "platform/replace_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "platform/testing/temp_dir.h"

namespace {

std::string read_all(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(ReplaceFile, WritesNewFileAndReplacesOldKeepingItsMode) {
  platform::testing::temp_dir dir;
  const auto target = dir / "a.ini";
  std::error_code ec;
  ASSERT_TRUE(platform::replace_file(target, "first", ec)) << ec.message();
  EXPECT_EQ(read_all(target), "first");

  ASSERT_EQ(::chmod(target.c_str(), 0600), 0);
  ASSERT_TRUE(platform::replace_file(target, std::string("se\0cond", 7), ec)) << ec.message();
  EXPECT_EQ(read_all(target), std::string("se\0cond", 7));
  struct stat st {};
  ASSERT_EQ(::stat(target.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  // Only the target is in the folder: no temporary file is left behind.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()),
                          std::filesystem::directory_iterator()), 1);
}

TEST(ReplaceFile, MissingFolderFailsWithReason) {
  platform::testing::temp_dir dir;
  std::error_code ec;
  EXPECT_FALSE(platform::replace_file(dir / "no/such/folder/x.reg", "x", ec));
  EXPECT_EQ(ec, std::errc::no_such_file_or_directory);
  EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

TEST(ReplaceFile, TemporariesOfKilledWritersAreRemovedAtTheNextSave) {
  platform::testing::temp_dir dir;
  // A process id that is certainly free: a child that has ended and been reaped.
  const pid_t child = ::fork();
  if (child == 0) ::_exit(0);
  ASSERT_GT(child, 0);
  ASSERT_EQ(::waitpid(child, nullptr, 0), child);
  const std::string dead = std::to_string(child);
  const std::string live = std::to_string(::getpid());
  struct Case {
    std::string name;
    bool removed;
  };
  const Case cases[] = {
      {".a.ini." + dead + ".0.123.tmp", true},      // a killed writer's temporary
      {".a.ini." + live + ".7.5.tmp", false},       // a live writer's, not finished yet
      {".b.ini." + dead + ".0.1.tmp", false},       // another file's
      {".a.ini." + dead + ".notes.tmp", false},     // not the writer's pattern
      {"a.ini." + dead + ".0.1.tmp", false},
  };
  for (const Case& c : cases) std::ofstream(dir / c.name) << "partial";
  std::error_code ec;
  ASSERT_TRUE(platform::replace_file(dir / "a.ini", "saved", ec)) << ec.message();
  EXPECT_EQ(read_all(dir / "a.ini"), "saved");
  for (const Case& c : cases) EXPECT_EQ(std::filesystem::exists(dir / c.name), !c.removed) << c.name;
}

}  // namespace
