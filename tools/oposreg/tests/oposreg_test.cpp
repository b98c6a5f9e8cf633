// Tests of the oposreg command: each command's output and exit status, and bad input.
#include "oposreg.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "platform/registry.h"
#include "platform/testing/temp_dir.h"

namespace tools {
namespace {

struct outcome {
  int status = -1;
  std::string out;
  std::string err;
};

outcome run(const std::vector<std::string>& args) {
  std::ostringstream out, err;
  outcome result;
  result.status = run_oposreg(args, out, err);
  result.out = out.str();
  result.err = err.str();
  return result;
}

std::string read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void write_file(const std::filesystem::path& path, std::string_view text) {
  std::ofstream(path, std::ios::binary) << text;
}

class OposregTest : public ::testing::Test {
 protected:
  platform::testing::scoped_registry_dir registry_;
};

// One command and what it must print. Rows run in order, each on the state the earlier rows left.
struct step {
  std::vector<std::string> args;
  int status;
  std::string out;  // exact standard output
  std::string err;  // text that standard error must contain ("" means it must be empty)
};

TEST_F(OposregTest, CommandsInSequence) {
  const std::string key = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Quorel";
  const step steps[] = {
      {{"set", key, "", "REG_SZ", "default text"}, 0, "", ""},
      {{"set", key, "Name", "REG_SZ", "a \"quoted\" \\ text"}, 0, "", ""},
      {{"set", key, "Count", "REG_DWORD", "31"}, 0, "", ""},
      {{"set", key, "Mask", "reg_dword", "0xFFFFFFFF"}, 0, "", ""},
      {{"set", key, "Blob", "REG_BINARY", "01 0a,FF"}, 0, "", ""},
      {{"set", key, "Packed", "REG_BINARY", "0102abcd"}, 0, "", ""},
      {{"set", key, "List", "REG_MULTI_SZ", "one\\0two"}, 0, "", ""},
      {{"set", "HKLM\\SOFTWARE\\Quorel\\Ports\\COM1", "Transport", "REG_SZ", "serial:"}, 0, "", ""},
      {{"query", "hklm\\software\\quorel"},
       0,
       "HKEY_LOCAL_MACHINE\\software\\quorel\n"
       "    (Default)    REG_SZ    default text\n"
       "    Name    REG_SZ    a \"quoted\" \\ text\n"
       "    Count    REG_DWORD    0x1f\n"
       "    Mask    REG_DWORD    0xffffffff\n"
       "    Blob    REG_BINARY    010AFF\n"
       "    Packed    REG_BINARY    0102ABCD\n"
       "    List    REG_MULTI_SZ    one\\0two\n"
       "\n"
       "HKEY_LOCAL_MACHINE\\software\\quorel\\Ports\n",
       ""},
      {{"query", key, "count"}, 0, key + "\n    Count    REG_DWORD    0x1f\n", ""},
      {{"query", key, "@"}, 0, key + "\n    (Default)    REG_SZ    default text\n", ""},
      {{"query", key, ""}, 0, key + "\n    (Default)    REG_SZ    default text\n", ""},
      {{"query", key, "Missing"}, 1, "", "oposreg: " + key + " value \"Missing\": not found (error 2)"},
      {{"query", "HKCU\\Nothing"}, 1, "", "oposreg: HKCU\\Nothing: not found (error 2)"},
      {{"delete", key, "Count"}, 0, "", ""},
      {{"delete", key, "Count"}, 1, "", "value \"Count\": not found (error 2)"},
      {{"delete", key + "\\Ports"}, 0, "", ""},
      {{"query", key + "\\Ports\\COM1"}, 1, "", "not found (error 2)"},
      {{"delete", "HKLM\\"}, 2, "", "oposreg: a root key cannot be deleted"},
      {{"delete", "HKLM\\No\\Such"}, 1, "", "oposreg: HKLM\\No\\Such: not found (error 2)"},
      // Bad input is a usage error and writes nothing.
      {{"set", key, "Bad", "REG_DWORD", "4294967296"}, 2, "", "oposreg: bad REG_DWORD data \"4294967296\""},
      {{"set", key, "Bad", "REG_DWORD", "-1"}, 2, "", "bad REG_DWORD data"},
      {{"set", key, "Bad", "REG_DWORD", "0x"}, 2, "", "bad REG_DWORD data"},
      {{"set", key, "Bad", "REG_BINARY", "0g"}, 2, "", "bad REG_BINARY data \"0g\""},
      {{"set", key, "Bad", "REG_BINARY", "012"}, 2, "", "bad REG_BINARY data"},
      {{"set", key, "Bad", "REG_MULTI_SZ", "a\\0\\0b"}, 2, "", "REG_MULTI_SZ items cannot be empty"},
      {{"set", key, "Bad", "REG_QWORD", "1"}, 2, "", "unknown type \"REG_QWORD\""},
      {{"set", "HKEY_USERS\\x", "v", "REG_SZ", "1"}, 2, "", "unknown root key in \"HKEY_USERS\\x\""},
      {{"set", key, "Bad\nName", "REG_SZ", "1"}, 1, "", "invalid name or data (error 87)"},
      {{"query", key, "Bad"}, 1, "", "not found (error 2)"},
      {{"query"}, 2, "", "usage: oposreg query KEY [VALUE]"},
      {{"set", key, "v", "REG_SZ"}, 2, "", "usage: oposreg set KEY VALUE TYPE DATA"},
      {{"frobnicate"}, 2, "", "oposreg: unknown command \"frobnicate\""},
      {{"--verbose", "query", key}, 2, "", "oposreg: unknown option --verbose"},
      {{}, 2, "", "oposreg: no command given"},
      {{"--registry"}, 2, "", "oposreg: --registry needs a value"},
      {{"--registry="}, 2, "", "oposreg: --registry needs a folder"},
      {{"--help=1"}, 2, "", "oposreg: --help takes no value"},
  };
  for (const auto& s : steps) {
    std::string line;
    for (const auto& a : s.args) line += "[" + a + "] ";
    SCOPED_TRACE(line);
    outcome r = run(s.args);
    EXPECT_EQ(r.status, s.status);
    EXPECT_EQ(r.out, s.out);
    if (s.err.empty()) {
      EXPECT_EQ(r.err, "");
    } else {
      EXPECT_NE(r.err.find(s.err), std::string::npos) << r.err;
      EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << "errors are one line: " << r.err;
    }
  }
}

TEST_F(OposregTest, ExportImportRoundTrip) {
  ASSERT_EQ(run({"set", "HKCU\\Software\\KORVANE\\Testbench", "AppPath", "REG_SZ", "C:\\bench"}).status, 0);
  ASSERT_EQ(run({"set", "HKCU\\Software\\KORVANE\\Testbench\\Recent", "File1", "REG_BINARY", ""}).status, 0);

  outcome to_stdout = run({"export", "HKCU\\Software\\KORVANE"});
  ASSERT_EQ(to_stdout.status, 0) << to_stdout.err;
  EXPECT_EQ(to_stdout.out,
            "Windows Registry Editor Version 5.00\n"
            "\n"
            "[HKEY_CURRENT_USER\\Software\\KORVANE]\n"
            "\n"
            "[HKEY_CURRENT_USER\\Software\\KORVANE\\Testbench]\n"
            "\"AppPath\"=\"C:\\\\bench\"\n"
            "\n"
            "[HKEY_CURRENT_USER\\Software\\KORVANE\\Testbench\\Recent]\n"
            "\"File1\"=hex:\n"
            "\n");

  auto file = registry_.path() / "out.reg";
  outcome to_file = run({"export", "HKCU\\Software\\KORVANE", file.string()});
  ASSERT_EQ(to_file.status, 0) << to_file.err;
  EXPECT_EQ(to_file.out, "");
  EXPECT_EQ(read_file(file), to_stdout.out);

  // The same file imported into another store gives the same export.
  platform::testing::scoped_registry_dir other;
  outcome imported = run({"import", file.string()});
  ASSERT_EQ(imported.status, 0) << imported.err;
  EXPECT_EQ(run({"export", "HKCU\\Software\\KORVANE"}).out, to_stdout.out);

  EXPECT_EQ(run({"export", "HKCU\\Software\\Nothing"}).status, 1);
  outcome bad_target = run({"export", "HKCU\\Software\\KORVANE", (registry_.path() / "no" / "x.reg").string()});
  EXPECT_EQ(bad_target.status, 1);
  EXPECT_NE(bad_target.err.find("x.reg: No such file or directory"), std::string::npos) << bad_target.err;
  EXPECT_EQ(run({"import", (registry_.path() / "missing.reg").string()}).status, 1);
}

TEST_F(OposregTest, DamagedFilesNameTheirLine) {
  auto bad = registry_.path() / "bad.reg";
  write_file(bad, "Windows Registry Editor Version 5.00\n\n[HKLM\\A]\n\"x\"=dword:1\n\"y\"=hex:zz\n");
  outcome r = run({"import", bad.string()});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "oposreg: " + bad.string() + ": registry file cannot be parsed: " + bad.string() +
                       ":5: bad hex byte \"zz\" (error 1009)\n");
  EXPECT_EQ(run({"query", "HKLM\\A"}).status, 1) << "nothing of the bad file was imported";

  // A key far deeper than the registry allows is refused at its line, without exhausting the
  // stack or writing anything; a store file like it is refused the same way.
  std::string deep = "[HKLM";
  for (int i = 0; i < 50000; ++i) deep += "\\k";
  write_file(bad, "Windows Registry Editor Version 5.00\n\n" + deep + "]\n\"x\"=dword:1\n");
  r = run({"import", bad.string()});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find(bad.string() + ":3: key nested deeper than 512 levels (error 1009)"), std::string::npos) << r.err;
  EXPECT_EQ(run({"query", "HKLM\\k"}).status, 1) << "nothing of the deep file was imported";

  auto store_file = registry_.path() / "HKEY_LOCAL_MACHINE.reg";
  write_file(store_file, "Windows Registry Editor Version 5.00\n\n[HKLM\\A\n");
  r = run({"set", "HKLM\\A", "v", "REG_SZ", "x"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find(store_file.string() + ":3: section header without closing ']' (error 1009)"),
            std::string::npos)
      << r.err;
}

TEST_F(OposregTest, RegistryOptionAndHelp) {
  platform::testing::temp_dir elsewhere;
  std::string previous = std::getenv("OPOS_REGISTRY_DIR");
  ASSERT_EQ(run({"--registry", elsewhere.path().string(), "set", "HKLM\\X", "v", "REG_DWORD", "1"}).status, 0);
  EXPECT_TRUE(std::filesystem::exists(elsewhere / "HKEY_LOCAL_MACHINE.reg"));
  EXPECT_EQ(std::getenv("OPOS_REGISTRY_DIR"), previous) << "the option applies to one call";
  EXPECT_EQ(run({"query", "HKLM\\X"}).status, 1) << "the default store is another one";
  EXPECT_EQ(run({"--registry=" + elsewhere.path().string(), "query", "HKLM\\X", "v"}).out,
            "HKEY_LOCAL_MACHINE\\X\n    v    REG_DWORD    0x1\n");

  outcome help = run({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.err, "");
  for (const char* word : {"import", "export", "query", "set", "delete", "--registry", "REG_MULTI_SZ"}) {
    EXPECT_NE(help.out.find(word), std::string::npos) << word;
  }
}

}  // namespace
}  // namespace tools
