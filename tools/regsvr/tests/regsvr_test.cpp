// Tests of the regsvr tool: it is run as a program against real server libraries.
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "platform/com.h"
#include "platform/registry.h"
#include "platform/testing/temp_dir.h"
#include "testserver.h"

namespace {

struct run_result {
  int exit_code = -1;
  std::string out;
  std::string err;
};

std::string read_file(const std::filesystem::path& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

class RegsvrTest : public ::testing::Test {
 protected:
  // Runs regsvr with `args` (already shell-safe), bounded by a time limit.
  run_result run(const std::string& args) { return run_with_prefix("", args); }
  // The same with `environment` ("NAME='value' ...") set for regsvr only.
  run_result run_with_prefix(const std::string& environment, const std::string& args) {
    const std::string command = environment + "timeout 30 " + std::string(REGSVR_PATH) + " " + args + " >" +
                                (output_ / "out").string() + " 2>" + (output_ / "err").string();
    const int status = std::system(command.c_str());
    run_result r;
    r.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.out = read_file(output_ / "out");
    r.err = read_file(output_ / "err");
    return r;
  }
  static bool class_key_exists() {
    platform::registry_key key;
    return platform::registry_key::open(platform::registry_root::classes_root,
                                        "CLSID\\" + com_test::kEchoClsid.to_string(), key) == platform::kErrorSuccess;
  }
  static std::string absolute(const char* path) {
    return std::filesystem::absolute(path).lexically_normal().string();
  }

  platform::testing::scoped_registry_dir registry_;
  platform::testing::temp_dir output_;
};

TEST_F(RegsvrTest, RegistersAndUnregisters) {
  const run_result reg = run(COM_TESTSERVER_PATH);
  EXPECT_EQ(reg.exit_code, 0) << reg.err;
  EXPECT_EQ(reg.out, "regsvr: registered " + absolute(COM_TESTSERVER_PATH) + "\n");
  EXPECT_EQ(reg.err, "");
  EXPECT_TRUE(class_key_exists());
  platform::com_ptr<platform::dispatch> object;
  EXPECT_EQ(platform::create_instance(com_test::kEchoProgId, object), platform::kSOk) << platform::com_last_error();

  const run_result unreg = run(std::string("-u ") + COM_TESTSERVER_PATH);
  EXPECT_EQ(unreg.exit_code, 0) << unreg.err;
  EXPECT_EQ(unreg.out, "regsvr: unregistered " + absolute(COM_TESTSERVER_PATH) + "\n");
  EXPECT_FALSE(class_key_exists());
  platform::guid clsid;
  EXPECT_EQ(platform::clsid_from_prog_id(com_test::kEchoProgId, clsid), platform::kCoEClassString);
}

// --by-name records the file name when the kit's search path leads to the same library, and
// refuses (writing nothing) when it does not.
TEST_F(RegsvrTest, ByNameRecordsTheFileNameOnlyWhenItLeadsBack) {
  const std::filesystem::path library = absolute(COM_TESTSERVER_PATH);
  const std::string name = library.filename().string();
  const run_result refused = run("--by-name " + library.string());
  EXPECT_EQ(refused.exit_code, 3) << refused.err;
  EXPECT_NE(refused.err.find(name + " does not lead to " + library.string()), std::string::npos) << refused.err;
  EXPECT_FALSE(class_key_exists());

  const std::string command = "LD_LIBRARY_PATH='" + library.parent_path().string() + "' ";
  const run_result named = run_with_prefix(command, "--by-name " + library.string());
  ASSERT_EQ(named.exit_code, 0) << named.err;
  EXPECT_EQ(named.out, "regsvr: registered " + library.string() + " (as " + name + ")\n");
  platform::registry_key key;
  ASSERT_EQ(platform::registry_key::open(platform::registry_root::classes_root,
                                         "CLSID\\" + com_test::kEchoClsid.to_string() + "\\InProcServer32", key),
            platform::kErrorSuccess);
  std::string recorded;
  EXPECT_EQ(key.query_string("", recorded), platform::kErrorSuccess);
  EXPECT_EQ(recorded, name);
}

TEST_F(RegsvrTest, RegistryOptionOverridesTheEnvironment) {
  platform::testing::temp_dir other;
  const run_result reg = run("--registry " + other.path().string() + " " + COM_TESTSERVER_PATH);
  ASSERT_EQ(reg.exit_code, 0) << reg.err;
  EXPECT_FALSE(class_key_exists()) << "the environment's registry stays untouched";
  ::setenv("OPOS_REGISTRY_DIR", other.path().c_str(), 1);
  EXPECT_TRUE(class_key_exists());
}

TEST_F(RegsvrTest, FailuresExitWithTheirCodeAndOneLineReason) {
  platform::testing::temp_dir dir;
  std::ofstream(dir / "notalib.so") << "not a library";
  const std::string missing = (dir / "missing.so").string();
  const std::string not_a_library = (dir / "notalib.so").string();
  struct row {
    const char* what;
    std::string args;
    int exit_code;
    std::string reason;
  };
  const row rows[] = {
      {"no arguments", "", 2, "no library given"},
      {"unknown option", "-x " + missing, 2, "unknown option -x"},
      {"registry without a folder", missing + " --registry", 2, "--registry needs a value"},
      {"two libraries", missing + " " + missing, 2, "one library"},
      {"missing file", missing, 3, "cannot find " + missing},
      {"not a library", not_a_library, 3, "cannot load " + not_a_library},
      {"missing export", std::string("-u ") + COM_TESTBROKEN_PATH, 4, "does not export DllUnregisterServer"},
      {"failing call", COM_TESTBROKEN_PATH, 5, "failed with 0x80070005: refused on purpose"},
  };
  for (const row& r : rows) {
    const run_result result = run(r.args);
    EXPECT_EQ(result.exit_code, r.exit_code) << r.what << ": " << result.err;
    EXPECT_EQ(result.out, "") << r.what;
    EXPECT_EQ(result.err.rfind("regsvr: ", 0), 0u) << r.what << ": " << result.err;
    EXPECT_NE(result.err.find(r.reason), std::string::npos) << r.what << ": " << result.err;
    EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << r.what << ": " << result.err;
  }
}

TEST_F(RegsvrTest, HelpAndVersionGoToStandardOutput) {
  const run_result help = run("--help");
  EXPECT_EQ(help.exit_code, 0);
  EXPECT_EQ(help.out.rfind("usage: regsvr", 0), 0u) << help.out;
  EXPECT_EQ(help.err, "");
  const run_result version = run("--version");
  EXPECT_EQ(version.exit_code, 0);
  EXPECT_EQ(version.out.rfind("regsvr (poskit) ", 0), 0u) << version.out;
}

TEST_F(RegsvrTest, ClassWhoseLibraryWasRemovedCannotBeCreated) {
  platform::testing::temp_dir dir;
  const std::filesystem::path copy = dir / "libcopied.so";
  std::filesystem::copy_file(COM_TESTSERVER_PATH, copy);
  ASSERT_EQ(run(copy.string()).exit_code, 0);
  std::filesystem::remove(copy);
  platform::com_ptr<platform::dispatch> object;
  EXPECT_EQ(platform::create_instance(com_test::kEchoProgId, object), platform::kRegdbEClassNotReg);
  EXPECT_NE(platform::com_last_error().find(copy.string()), std::string::npos) << platform::com_last_error();
}

}  // namespace
