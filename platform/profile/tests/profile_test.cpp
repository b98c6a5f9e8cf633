// Tests of the profile functions: reading as one table of cases over real files, then writes,
// deletes, line ends, byte-order marks, permissions and failed writes.
#include "platform/profile.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/testing/temp_dir.h"

namespace platform {
namespace {

namespace fs = std::filesystem;

void write_text(const fs::path& file, const std::string& text) {
  std::ofstream out(file, std::ios::binary);
  out << text;
}

std::string read_text(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

std::string join(const std::vector<std::string>& items) {
  std::string out;
  for (const auto& item : items) {
    out += (out.empty() ? "" : "|") + item;
  }
  return out;
}

std::size_t entries_in(const fs::path& dir) {
  return static_cast<std::size_t>(std::distance(fs::directory_iterator(dir), fs::directory_iterator()));
}

enum class call { string, integer, section, names };

struct read_case {
  const char* behaviour;
  const char* file_text;  // null: the file does not exist
  call what;
  const char* section;
  const char* key;
  const char* default_value;  // integer calls: the default in decimal
  std::size_t max_chars;      // string and section calls
  const char* expected;       // integers in decimal; lists joined with "|"
};

// clang-format off
const read_case kReadCases[] = {
  {"key found", "[Metric]\ndotSize=0.125\n", call::string, "Metric", "dotSize", "", 16, "0.125"},
  {"section and key ignore case", "[Metric]\nDEFLineSpacing=30\n", call::string, "METRIC", "deflinespacing", "", 16, "30"},
  {"first key wins", "[A]\nk=1\nK=2\n", call::string, "A", "k", "", 256, "1"},
  {"first section wins", "[A]\nk=1\n[a]\nk=2\nj=3\n", call::string, "a", "k", "", 256, "1"},
  {"later repeat of a section is not searched", "[A]\nk=1\n[a]\nj=3\n", call::string, "A", "j", "none", 256, "none"},
  {"blanks around = and value trimmed", "[A]\n  k \t=  v w \t\n", call::string, "A", "k", "", 256, "v w"},
  {"double quotes stripped, inner blanks kept", "[A]\nk=\"  v \"\n", call::string, "A", "k", "", 256, "  v "},
  {"single quotes stripped", "[A]\nk='v'\n", call::string, "A", "k", "", 256, "v"},
  {"mismatched quotes kept", "[A]\nk=\"v'\n", call::string, "A", "k", "", 256, "\"v'"},
  {"only one pair of quotes stripped", "[A]\nk=\"\"v\"\"\n", call::string, "A", "k", "", 256, "\"v\""},
  {"a lone quote is kept", "[A]\nk=\"\n", call::string, "A", "k", "", 256, "\""},
  {"value may hold =", "[A]\nk=a=b\n", call::string, "A", "k", "", 256, "a=b"},
  {"empty value is not the default", "[A]\nk=\n", call::string, "A", "k", "dflt", 256, ""},
  {"missing key: default without trailing blanks", "[A]\nj=1\n", call::string, "A", "k", "  dflt \t ", 256, "  dflt"},
  {"missing section: default", "[B]\nk=1\n", call::string, "A", "k", "dflt", 256, "dflt"},
  {"missing file: default", nullptr, call::string, "A", "k", "dflt", 256, "dflt"},
  {"key of the next section is not found", "[A]\n[B]\nk=1\n", call::string, "A", "k", "dflt", 256, "dflt"},
  {"keys before any section belong to none", "k=1\n[A]\n", call::string, "A", "k", "dflt", 256, "dflt"},
  {"comment line is not a key", "[A]\n;k=1\nk=2\n", call::string, "A", "k", "", 256, "2"},
  {"commented key only: default", "[A]\n  ; k=1\n", call::string, "A", "k", "dflt", 256, "dflt"},
  {"line without = is skipped", "[A]\nk\nk=5\n", call::string, "A", "k", "", 256, "5"},
  {"header with blanks inside and around", "  [ FONT 1 ]  \nFontW=12\n", call::string, "FONT 1", "FontW", "", 16, "12"},
  {"cut to the buffer less its NUL", "[A]\nk=0123456789ABCDEFGH\n", call::string, "A", "k", "", 16, "0123456789ABCDE"},
  {"value that just fits", "[A]\nk=0123456789ABCDE\n", call::string, "A", "k", "", 16, "0123456789ABCDE"},
  {"buffer of 0 gives nothing", "[A]\nk=v\n", call::string, "A", "k", "", 0, ""},
  {"buffer of 1 gives nothing", "[A]\nk=v\n", call::string, "A", "k", "", 1, ""},
  {"default is cut too", nullptr, call::string, "A", "k", "abcdef", 4, "abc"},
  {"cut counts characters, not bytes", "[A]\nk=\xC3\x80\xC3\x89\xC3\x8E\xC3\x95\n", call::string, "A", "k", "", 4, "\xC3\x80\xC3\x89\xC3\x8E"},
  {"CRLF lines", "[A]\r\nk=v\r\nj = w \r\n", call::string, "A", "j", "", 256, "w"},
  {"byte-order mark before the first section", "\xEF\xBB\xBF[A]\nk=v\n", call::string, "A", "k", "", 256, "v"},
  {"last line without line end", "[A]\nk=v", call::string, "A", "k", "", 256, "v"},

  {"integer", "[A]\nk=42\n", call::integer, "A", "k", "7", 0, "42"},
  {"integer with blanks and sign", "[A]\nk=  -17\n", call::integer, "A", "k", "7", 0, "-17"},
  {"integer with a plus sign", "[A]\nk=+8\n", call::integer, "A", "k", "7", 0, "8"},
  {"integer stops at the first other character", "[A]\nk=12abc\n", call::integer, "A", "k", "7", 0, "12"},
  {"integer of text is 0", "[A]\nk=abc\n", call::integer, "A", "k", "7", 0, "0"},
  {"integer of a missing key is the default", "[A]\n", call::integer, "A", "k", "7", 0, "7"},
  {"integer of an empty value is the default", "[A]\nk=\n", call::integer, "A", "k", "-3", 0, "-3"},
  {"integer of a missing file is the default", nullptr, call::integer, "A", "k", "9", 0, "9"},
  {"integer in hex", "[A]\nk=0x1F\n", call::integer, "A", "k", "7", 0, "31"},
  {"integer in hex, capital X and digits", "[A]\nk=-0X1fz\n", call::integer, "A", "k", "7", 0, "-31"},
  {"0x without hex digits is 0", "[A]\nk=0xg\n", call::integer, "A", "k", "7", 0, "0"},
  {"integer in quotes", "[A]\nk=\"15\"\n", call::integer, "A", "k", "7", 0, "15"},
  {"integer wraps at 32 bits", "[A]\nk=4294967297\n", call::integer, "A", "k", "7", 0, "1"},

  {"section lines in order, comments and blanks skipped", "[PRINTER ID]\nVX40=32\n; note\n\n  VJ12 = 10 \n[X]\ny=1\n", call::section, "printer id", "", "", 0, "VX40=32|VJ12 = 10"},
  {"section keeps lines without =", "[A]\nplain\nk=v\n", call::section, "A", "", "", 0, "plain|k=v"},
  {"missing section is empty", "[A]\nk=v\n", call::section, "B", "", "", 0, ""},
  {"section that fits its buffer", "[A]\naaaa=1\nbb=2\n", call::section, "A", "", "", 13, "aaaa=1|bb=2"},
  {"section cut at its buffer", "[A]\naaaa=1\nbb=2\n", call::section, "A", "", "", 10, "aaaa=1|b"},
  {"section buffer with room for one entry only", "[A]\naaaa=1\nbb=2\n", call::section, "A", "", "", 9, "aaaa=1"},
  {"section of a CRLF file with a byte-order mark", "\xEF\xBB\xBF[A]\r\nk=v\r\n", call::section, "A", "", "", 0, "k=v"},

  {"section names in file order, a repeat listed once", "[B]\nx=1\n[a]\n[A]\n[C]\n", call::names, "", "", "", 0, "B|a|C"},
  {"section names of a CRLF file with a byte-order mark", "\xEF\xBB\xBF[First]\r\n[Second]\r\n", call::names, "", "", "", 0, "First|Second"},
  {"a bracket line that is not closed is no section", "[Open\n[Closed]\n", call::names, "", "", "", 0, "Closed"},
  {"no section names in a missing file", nullptr, call::names, "", "", "", 0, ""},
};
// clang-format on

TEST(ProfileRead, TableOfCases) {
  for (const auto& c : kReadCases) {
    SCOPED_TRACE(c.behaviour);
    platform::testing::temp_dir dir;
    const fs::path file = dir / "Metrics.ini";
    if (c.file_text != nullptr) {
      write_text(file, c.file_text);
    }
    std::string got;
    switch (c.what) {
      case call::string:
        got = get_profile_string(c.section, c.key, c.default_value, file, c.max_chars);
        break;
      case call::integer:
        got = std::to_string(get_profile_int(c.section, c.key, std::stoi(c.default_value), file));
        break;
      case call::section:
        got = join(get_profile_section(c.section, file, c.max_chars));
        break;
      case call::names:
        got = join(get_profile_section_names(file));
        break;
    }
    EXPECT_EQ(got, c.expected);
  }
}

TEST(ProfileRead, FindsTheFileIgnoringCase) {
  platform::testing::temp_dir dir;
  fs::create_directories(dir / "Lang");
  write_text(dir / "Lang" / "Launcher.INI", "[LANGUAGES]\nDEFAULT=English\n");
  const fs::path asked = dir / "lang" / "launcher.ini";
  EXPECT_EQ(get_profile_string("LANGUAGES", "DEFAULT", "", asked, 256), "English");
  EXPECT_EQ(get_profile_section_names(asked), std::vector<std::string>{"LANGUAGES"});
}

class ProfileWrite : public ::testing::Test {
 protected:
  platform::testing::temp_dir dir_;
  fs::path file_ = dir_ / "Launcher.INI";
};

TEST_F(ProfileWrite, CreatesTheFileAndItsSections) {
  ASSERT_TRUE(write_profile_string("LANGUAGES", "LASTSELECTED", "English", file_));
  EXPECT_EQ(read_text(file_), "[LANGUAGES]\nLASTSELECTED=English\n");
  ASSERT_TRUE(write_profile_string("APPLICATIONS", "LASTSELECTED", "APP2", file_));
  ASSERT_TRUE(write_profile_string("LANGUAGES", "DEFAULT", "Italiano", file_));
  EXPECT_EQ(read_text(file_),
            "[LANGUAGES]\nLASTSELECTED=English\nDEFAULT=Italiano\n\n[APPLICATIONS]\nLASTSELECTED=APP2\n");
  EXPECT_EQ(get_profile_string("languages", "default", "", file_, 256), "Italiano");

  // A new file gets the bits the umask leaves of 0666, as any new file.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  EXPECT_EQ(fs::status(file_).permissions(), static_cast<fs::perms>(0666 & ~mask));
}

TEST_F(ProfileWrite, ReplacingAValueKeepsEverythingElse) {
  write_text(file_,
             "; launcher settings\n"
             "[PRINTER BRAND]\n"
             "VX40=KORVANE\n"
             "\n"
             "[languages]\n"
             "; the one to use without asking\n"
             "  Default = \"Old\"  \n"
             "English=ENG\n"
             "default=Shadowed\n"
             "; trailing note\n"
             "\n"
             "[APPLICATIONS]\n"
             "LASTSELECTED=APP1");
  ASSERT_TRUE(write_profile_string("LANGUAGES", "DEFAULT", "Italiano", file_));
  // A key new to a section goes after its last entry, before its trailing comment and blank line.
  ASSERT_TRUE(write_profile_string("LANGUAGES", "Italiano", "ITA", file_));
  // A file without a final line end gets one where a line is added after it.
  ASSERT_TRUE(write_profile_string("APPLICATIONS", "Extra", "1", file_));
  EXPECT_EQ(read_text(file_),
            "; launcher settings\n"
            "[PRINTER BRAND]\n"
            "VX40=KORVANE\n"
            "\n"
            "[languages]\n"
            "; the one to use without asking\n"
            "Default=Italiano\n"
            "English=ENG\n"
            "default=Shadowed\n"
            "Italiano=ITA\n"
            "; trailing note\n"
            "\n"
            "[APPLICATIONS]\n"
            "LASTSELECTED=APP1\n"
            "Extra=1\n");
}

TEST_F(ProfileWrite, KeepsEachStyleOfLineEndAndTheByteOrderMark) {
  // Reading and writing agree whatever the file's line ends: what is written reads back, and
  // the lines added take the file's own style.
  for (const std::string end : {"\n", "\r\n", "\r"}) {
    SCOPED_TRACE(end == "\r" ? "CR" : end == "\n" ? "LF" : "CR LF");
    write_text(file_, "\xEF\xBB\xBF[A]" + end + "k=1" + end + "m=5" + end);
    EXPECT_EQ(get_profile_string("A", "m", "", file_, 256), "5");
    ASSERT_TRUE(write_profile_string("A", "k", "2", file_));
    ASSERT_TRUE(write_profile_string("A", "j", "3", file_));
    ASSERT_TRUE(write_profile_string("B", "x", "4", file_));
    EXPECT_EQ(read_text(file_), "\xEF\xBB\xBF[A]" + end + "k=2" + end + "m=5" + end + "j=3" + end + end + "[B]" +
                                    end + "x=4" + end);
    EXPECT_EQ(get_profile_string("A", "k", "", file_, 256), "2");
    EXPECT_EQ(get_profile_string("A", "j", "", file_, 256), "3");
    EXPECT_EQ(get_profile_int("B", "x", 0, file_), 4);
  }
}

TEST_F(ProfileWrite, DeletesKeysAndSections) {
  const std::string original =
      "[A]\nk=1\n; about j\nj=2\nK=3\n\n[B]\nk=4\n\n[a]\nk=5\n[C]\nz=6\n";
  write_text(file_, original);

  // Every entry of the key in the first matching section goes; the other sections keep theirs.
  ASSERT_TRUE(write_profile_string("a", "K", std::nullopt, file_));
  EXPECT_EQ(read_text(file_), "[A]\n; about j\nj=2\n\n[B]\nk=4\n\n[a]\nk=5\n[C]\nz=6\n");
  ASSERT_TRUE(delete_profile_key("B", "k", file_));
  EXPECT_EQ(get_profile_string("B", "k", "gone", file_, 256), "gone");

  // Every section of that name goes with all its lines.
  ASSERT_TRUE(delete_profile_section("a", file_));
  EXPECT_EQ(read_text(file_), "[B]\n\n[C]\nz=6\n");
  EXPECT_EQ(get_profile_section_names(file_), (std::vector<std::string>{"B", "C"}));

  // Nothing to delete is no error, changes nothing, and creates no file.
  ASSERT_TRUE(delete_profile_key("B", "missing", file_));
  ASSERT_TRUE(delete_profile_key("Missing", "k", file_));
  ASSERT_TRUE(delete_profile_section("Missing", file_));
  EXPECT_EQ(read_text(file_), "[B]\n\n[C]\nz=6\n");
  const fs::path absent = dir_ / "absent.ini";
  EXPECT_TRUE(delete_profile_key("A", "k", absent));
  EXPECT_TRUE(delete_profile_section("A", absent));
  EXPECT_FALSE(fs::exists(absent));
}

TEST_F(ProfileWrite, RefusesNamesAndValuesThatWouldBreakTheFile) {
  const std::string original = "[A]\nk=1\n";
  write_text(file_, original);
  struct row {
    const char* behaviour;
    const char* section;
    const char* key;
    const char* value;
  };
  const row rows[] = {
      {"line break in value", "A", "k", "1\n[B]"},
      {"carriage return in value", "A", "k", "1\r"},
      {"= in key", "A", "k=x", "1"},
      {"empty key", "A", "  ", "1"},
      {"key that reads as a comment", "A", ";k", "1"},
      {"key that reads as a section", "A", "[k", "1"},
      {"] in section", "A]", "k", "1"},
      {"line break in section", "A\nB", "k", "1"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.behaviour);
    std::error_code error;
    EXPECT_FALSE(write_profile_string(r.section, r.key, r.value, file_, &error));
    EXPECT_EQ(error, std::errc::invalid_argument);
  }
  EXPECT_EQ(read_text(file_), original);
}

TEST_F(ProfileWrite, WritesTheExistingFileWhateverTheCaseAsked) {
  write_text(file_, "[A]\nk=1\n");
  ASSERT_TRUE(write_profile_string("A", "k", "2", dir_ / "launcher.ini"));
  EXPECT_EQ(read_text(file_), "[A]\nk=2\n");
  EXPECT_EQ(entries_in(dir_.path()), 1u);
}

TEST_F(ProfileWrite, KeepsPermissionBitsAndSymbolicLinks) {
  write_text(file_, "[A]\nk=1\n");
  fs::permissions(file_, static_cast<fs::perms>(0640));
  const fs::path link = dir_ / "link.ini";
  fs::create_symlink(file_.filename(), link);

  ASSERT_TRUE(write_profile_string("A", "k", "2", link));
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(read_text(file_), "[A]\nk=2\n");
  EXPECT_EQ(fs::status(file_).permissions(), static_cast<fs::perms>(0640));
}

TEST_F(ProfileWrite, MissingFolderIsAnError) {
  std::error_code error;
  errno = 0;
  EXPECT_FALSE(write_profile_string("A", "k", "1", dir_ / "no-such-folder" / "x.ini", &error));
  EXPECT_EQ(error, std::errc::no_such_file_or_directory);
  EXPECT_EQ(errno, ENOENT);
}

// Waits up to ten seconds for a child process; kills it when it takes longer.
int wait_for_child(pid_t child) {
  int status = 0;
  for (int i = 0; i < 1000; ++i) {
    if (::waitpid(child, &status, WNOHANG) == child) {
      return status;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ::kill(child, SIGKILL);
  ::waitpid(child, &status, 0);
  return status;
}

TEST_F(ProfileWrite, FailedWriteLeavesTheOriginalIntact) {
  // A file-size limit makes the write fail half-way for any user, root included. The child
  // process carries the limit so that the test process keeps its own.
  const std::string original = "[A]\nk=old\n; keep me\n";
  write_text(file_, original);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{8, 8};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    std::error_code error;
    const bool written = write_profile_string("A", "k", std::string(4096, 'x'), file_, &error);
    ::_exit(written ? 1 : error == std::errc::file_too_large ? 0 : 2);
  }
  const int status = wait_for_child(child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "1: the write succeeded; 2: it failed for another reason";
  EXPECT_EQ(read_text(file_), original);
  EXPECT_EQ(entries_in(dir_.path()), 1u) << "a temporary file was left behind";
}

TEST_F(ProfileWrite, ReadOnlyFolderIsAnErrorAndLeavesTheFile) {
  if (::geteuid() == 0) {
    GTEST_SKIP() << "root writes into read-only folders";
  }
  const std::string original = "[A]\nk=1\n";
  write_text(file_, original);
  fs::permissions(dir_.path(), static_cast<fs::perms>(0555));
  std::error_code error;
  const bool written = write_profile_string("A", "k", "2", file_, &error);
  fs::permissions(dir_.path(), static_cast<fs::perms>(0755));
  EXPECT_FALSE(written);
  EXPECT_EQ(error, std::errc::permission_denied);
  EXPECT_EQ(read_text(file_), original);
}

}  // namespace
}  // namespace platform
