// Tests of the registry store: values and buffers, names, keys, enumeration, sharing between
// processes, damaged files, and import and export.
#include "platform/registry.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <thread>

#include "platform/testing/temp_dir.h"

namespace platform {
namespace {

using bytes = std::vector<std::uint8_t>;

std::string read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void write_file(const std::filesystem::path& path, std::string_view text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

// Runs `work` in a child process and returns its exit status (-1 when it did not end within
// the time limit, in which case it is killed).
std::vector<int> run_children(const std::vector<std::function<int()>>& work,
                              std::chrono::seconds limit = std::chrono::seconds(60)) {
  std::vector<pid_t> pids;
  for (const auto& job : work) {
    pid_t pid = fork();
    if (pid == 0) _exit(job());
    pids.push_back(pid);
  }
  std::vector<int> results(pids.size(), -1);
  auto deadline = std::chrono::steady_clock::now() + limit;
  std::size_t left = pids.size();
  while (left > 0 && std::chrono::steady_clock::now() < deadline) {
    for (std::size_t i = 0; i < pids.size(); ++i) {
      int status = 0;
      if (pids[i] > 0 && waitpid(pids[i], &status, WNOHANG) == pids[i]) {
        results[i] = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        pids[i] = 0;
        --left;
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  for (pid_t pid : pids) {
    if (pid > 0) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
  }
  return results;
}

// Every key and value below `key`, with types and raw bytes, one per line.
std::string describe_tree(const registry_key& key, const std::string& indent = "") {
  std::string out;
  std::string name;
  registry_type type{};
  bytes data;
  for (std::uint32_t i = 0; key.enum_value(i, name, &type, &data) == kErrorSuccess; ++i) {
    out += indent + "value \"" + name + "\" type " + std::to_string(static_cast<int>(type)) + ":";
    for (auto b : data) out += " " + std::to_string(b);
    out += "\n";
  }
  for (std::uint32_t i = 0; key.enum_subkey(i, name) == kErrorSuccess; ++i) {
    registry_key sub;
    EXPECT_EQ(key.open(name, sub), kErrorSuccess) << name;
    out += indent + "key " + name + "\n" + describe_tree(sub, indent + "  ");
  }
  return out;
}

class RegistryTest : public ::testing::Test {
 protected:
  std::filesystem::path file(registry_root root) const {
    return registry_.path() / (std::string(root_name(root)) + ".reg");
  }

  registry_key create(std::string_view path, registry_root root = registry_root::local_machine) {
    registry_key key;
    EXPECT_EQ(registry_key::create(root, path, key), kErrorSuccess) << path;
    return key;
  }

  testing::scoped_registry_dir registry_;
};

TEST_F(RegistryTest, QueryValueFollowsBufferRules) {
  registry_key key = create("SOFTWARE\\Buffers");
  ASSERT_EQ(key.set_string("Text", "abc"), kErrorSuccess);
  ASSERT_EQ(key.set_string("Empty", ""), kErrorSuccess);
  ASSERT_EQ(key.set_dword("Number", 0x11223344), kErrorSuccess);
  ASSERT_EQ(key.set_binary("Blob", bytes{1, 2, 3}), kErrorSuccess);
  ASSERT_EQ(key.set_binary("NoBytes", bytes{}), kErrorSuccess);

  struct query_case {
    const char* what;
    const char* name;
    std::uint32_t buffer_size;
    bool null_data;
    long expected_rc;
    std::uint32_t expected_size;
    bytes expected_data;
  };
  const query_case cases[] = {
      {"string fits exactly, NUL counted", "Text", 4, false, kErrorSuccess, 4, {'a', 'b', 'c', 0}},
      {"string in a larger buffer", "Text", 64, false, kErrorSuccess, 4, {'a', 'b', 'c', 0}},
      {"string one byte short", "Text", 3, false, kErrorMoreData, 4, {}},
      {"size query without data", "Text", 0, true, kErrorSuccess, 4, {}},
      {"empty string is its NUL", "Empty", 1, false, kErrorSuccess, 1, {0}},
      {"empty string in no room", "Empty", 0, false, kErrorMoreData, 1, {}},
      {"dword in 4 bytes", "Number", 4, false, kErrorSuccess, 4, {0x44, 0x33, 0x22, 0x11}},
      {"dword in 2 bytes", "Number", 2, false, kErrorMoreData, 4, {}},
      {"binary exact", "Blob", 3, false, kErrorSuccess, 3, {1, 2, 3}},
      {"empty binary", "NoBytes", 0, false, kErrorSuccess, 0, {}},
      {"missing value", "Nothing", 16, false, kErrorFileNotFound, 16, {}},
      {"names fold case", "TEXT", 4, false, kErrorSuccess, 4, {'a', 'b', 'c', 0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::uint8_t buffer[64];
    std::memset(buffer, 0xEE, sizeof buffer);
    std::uint32_t size = c.buffer_size;
    registry_type type = registry_type::none;
    EXPECT_EQ(key.query_value(c.name, &type, c.null_data ? nullptr : buffer, &size), c.expected_rc);
    EXPECT_EQ(size, c.expected_size);
    if (c.expected_rc == kErrorSuccess && !c.null_data) {
      EXPECT_EQ(bytes(buffer, buffer + size), c.expected_data);
      EXPECT_EQ(buffer[size], 0xEE) << "wrote past the value";
    }
  }

  registry_type type = registry_type::none;
  EXPECT_EQ(key.query_value("Number", &type, nullptr, nullptr), kErrorSuccess);
  EXPECT_EQ(type, registry_type::dword);
  std::uint8_t buffer[4];
  EXPECT_EQ(key.query_value("Text", nullptr, buffer, nullptr), kErrorInvalidParameter);
}

TEST_F(RegistryTest, TypedReadsAndWritesCheckTypesAndData) {
  registry_key key = create("SOFTWARE\\Typed");
  ASSERT_EQ(key.set_string("S", "text"), kErrorSuccess);
  ASSERT_EQ(key.set_dword("D", 7), kErrorSuccess);
  ASSERT_EQ(key.set_multi_string("M", {"one", "zwei", "три"}), kErrorSuccess);

  std::string text;
  std::uint32_t number = 0;
  bytes data;
  std::vector<std::string> items;
  EXPECT_EQ(key.query_dword("S", number), kErrorInvalidData);
  EXPECT_EQ(key.query_string("D", text), kErrorInvalidData);
  EXPECT_EQ(key.query_binary("S", data), kErrorInvalidData);
  EXPECT_EQ(key.query_string("Missing", text), kErrorFileNotFound);
  EXPECT_EQ(key.query_multi_string("M", items), kErrorSuccess);
  EXPECT_EQ(items, (std::vector<std::string>{"one", "zwei", "три"}));

  // Raw layout of a multi-string: each item ends with NUL, then one more NUL.
  static constexpr char kRaw[] = "one\0zwei\0три\0";  // the literal adds the final NUL
  char raw[64];
  std::uint32_t size = sizeof raw;
  EXPECT_EQ(key.query_value("M", nullptr, raw, &size), kErrorSuccess);
  EXPECT_EQ(std::string(raw, size), std::string(kRaw, sizeof kRaw));

  // A string ends at its first NUL whether or not the caller counted it.
  ASSERT_EQ(key.set_value("Counted", registry_type::string, "abc\0", 4), kErrorSuccess);
  ASSERT_EQ(key.set_value("Uncounted", registry_type::string, "abc", 3), kErrorSuccess);
  for (const char* name : {"Counted", "Uncounted"}) {
    EXPECT_EQ(key.query_string(name, text), kErrorSuccess);
    EXPECT_EQ(text, "abc") << name;
  }

  EXPECT_EQ(key.set_value("D2", registry_type::dword, "\1\2", 2), kErrorInvalidParameter);
  EXPECT_EQ(key.set_value("Bad", registry_type::string, "\xC3\x28", 2), kErrorInvalidParameter);
  EXPECT_EQ(key.set_value("Null", registry_type::binary, nullptr, 3), kErrorInvalidParameter);
  EXPECT_EQ(key.set_multi_string("EmptyItem", {"a", ""}), kErrorInvalidParameter);
  EXPECT_EQ(key.set_string("Line\nBreak", "x"), kErrorInvalidParameter);
  EXPECT_EQ(key.query_string("D2", text), kErrorFileNotFound) << "a refused write left a value";
}

TEST_F(RegistryTest, NamesAreCaseInsensitiveAndKeepTheirCase) {
  registry_key key = create("Software\\Quorel\\Ports");
  bool created = true;
  registry_key again;
  EXPECT_EQ(registry_key::create(registry_root::local_machine, "SOFTWARE\\QUOREL\\ports", again, &created),
            kErrorSuccess);
  EXPECT_FALSE(created);
  EXPECT_EQ(again.path(), "SOFTWARE\\QUOREL\\ports") << "a handle keeps the case it was opened with";

  ASSERT_EQ(key.set_string("MachineType", "VX40"), kErrorSuccess);
  ASSERT_EQ(again.set_string("MACHINETYPE", "VX41"), kErrorSuccess);
  std::string name, text;
  EXPECT_EQ(key.enum_value(0, name), kErrorSuccess);
  EXPECT_EQ(name, "MachineType");
  EXPECT_EQ(key.enum_value(1, name), kErrorNoMoreItems) << "the second write replaced the first";
  EXPECT_EQ(key.query_string("machinetype", text), kErrorSuccess);
  EXPECT_EQ(text, "VX41");

  registry_key root;
  ASSERT_EQ(registry_key::open(registry_root::local_machine, "", root), kErrorSuccess);
  EXPECT_EQ(root.enum_subkey(0, name), kErrorSuccess);
  EXPECT_EQ(name, "Software");
  std::string exported;
  ASSERT_EQ(export_reg_text(registry_root::local_machine, "software\\quorel", exported), kErrorSuccess);
  EXPECT_NE(exported.find("[HKEY_LOCAL_MACHINE\\Software\\Quorel\\Ports]"), std::string::npos) << exported;

  // Only ASCII letters fold.
  ASSERT_EQ(key.set_string("Größe", "1"), kErrorSuccess);
  EXPECT_EQ(key.query_string("GRÖSSE", text), kErrorFileNotFound);
  EXPECT_EQ(key.query_string("gröSSE", text), kErrorFileNotFound);
  EXPECT_EQ(key.query_string("GRöße", text), kErrorSuccess);
}

TEST_F(RegistryTest, KeyPathsAndDefaultValues) {
  registry_key key = create("\\SOFTWARE\\\\Quorel\\");
  EXPECT_EQ(key.path(), "SOFTWARE\\Quorel") << "empty parts of a path are skipped";
  ASSERT_EQ(key.set_string("", "default"), kErrorSuccess);
  std::string text;
  registry_key same;
  ASSERT_EQ(registry_key::open(registry_root::local_machine, "SOFTWARE\\Quorel\\", same), kErrorSuccess);
  EXPECT_EQ(same.query_string("", text), kErrorSuccess);
  EXPECT_EQ(text, "default");

  registry_key child;
  EXPECT_EQ(key.create("A\\B", child), kErrorSuccess);
  EXPECT_EQ(child.path(), "SOFTWARE\\Quorel\\A\\B");
  EXPECT_EQ(key.open("A\\C", child), kErrorFileNotFound);
  EXPECT_EQ(registry_key::create(registry_root::local_machine, std::string(256, 'k'), child),
            kErrorInvalidParameter);

  // A key may be 512 levels deep below its root, counted from the root also for a relative path.
  std::string levels;
  for (int i = 0; i < 510; ++i) levels += "k\\";
  registry_key deep;
  ASSERT_EQ(key.create(levels, deep), kErrorSuccess);  // 2 + 510
  EXPECT_EQ(deep.create("one", child), kErrorInvalidParameter);
  EXPECT_EQ(registry_key::create(registry_root::local_machine, levels + "a\\b\\c", child), kErrorInvalidParameter);
  EXPECT_EQ(registry_key::create(registry_root::local_machine, levels + "a\\b", child), kErrorSuccess);
  EXPECT_EQ(registry_key::open(registry_root::current_user, "SOFTWARE\\Quorel", child), kErrorFileNotFound)
      << "roots are separate";
}

TEST_F(RegistryTest, DeletingKeys) {
  registry_key key = create("SOFTWARE\\Del");
  registry_key sub;
  ASSERT_EQ(key.create("A\\B", sub), kErrorSuccess);
  ASSERT_EQ(sub.set_dword("x", 1), kErrorSuccess);

  EXPECT_EQ(key.delete_subkey("A"), kErrorAccessDenied) << "A still has a subkey";
  EXPECT_EQ(key.delete_subkey("Missing"), kErrorFileNotFound);
  EXPECT_EQ(key.delete_subkey("a\\b"), kErrorSuccess) << "a subkey with values but no subkeys goes";
  EXPECT_EQ(key.delete_subkey("A"), kErrorSuccess);
  EXPECT_EQ(key.delete_subkey("A"), kErrorFileNotFound);

  ASSERT_EQ(key.create("T\\U\\V", sub), kErrorSuccess);
  EXPECT_EQ(key.delete_tree("t"), kErrorSuccess);
  EXPECT_EQ(key.open("T", sub), kErrorFileNotFound);
  EXPECT_EQ(key.delete_tree("T"), kErrorFileNotFound);

  ASSERT_EQ(key.create("W", sub), kErrorSuccess);
  ASSERT_EQ(key.set_string("v", "x"), kErrorSuccess);
  EXPECT_EQ(key.delete_tree(""), kErrorSuccess) << "empties the key itself";
  std::uint32_t subkeys = 9, values = 9;
  EXPECT_EQ(key.query_info(&subkeys, &values), kErrorSuccess);
  EXPECT_EQ(subkeys, 0u);
  EXPECT_EQ(values, 0u);

  EXPECT_EQ(key.delete_value("v"), kErrorFileNotFound);
  registry_key root;
  ASSERT_EQ(registry_key::open(registry_root::local_machine, "", root), kErrorSuccess);
  EXPECT_EQ(root.delete_subkey(""), kErrorAccessDenied) << "the root cannot be deleted";
}

TEST_F(RegistryTest, EnumerationFollowsCreationOrderAcrossReloads) {
  registry_key key = create("SOFTWARE\\Order");
  registry_key sub;
  for (const char* name : {"zeta", "Alpha", "mid"}) ASSERT_EQ(key.create(name, sub), kErrorSuccess);
  for (const char* name : {"z", "", "A", "m"}) ASSERT_EQ(key.set_string(name, name), kErrorSuccess);
  ASSERT_EQ(key.delete_value("A"), kErrorSuccess);
  ASSERT_EQ(key.set_string("A", "again"), kErrorSuccess);

  auto check = [](const registry_key& k) {
    std::vector<std::string> subkeys, values;
    std::string name;
    std::uint32_t i = 0;
    for (; k.enum_subkey(i, name) == kErrorSuccess; ++i) subkeys.push_back(name);
    EXPECT_EQ(k.enum_subkey(i, name), kErrorNoMoreItems);
    for (i = 0; k.enum_value(i, name) == kErrorSuccess; ++i) values.push_back(name);
    EXPECT_EQ(k.enum_value(i, name), kErrorNoMoreItems);
    EXPECT_EQ(k.enum_value(1000, name), kErrorNoMoreItems);
    EXPECT_EQ(subkeys, (std::vector<std::string>{"zeta", "Alpha", "mid"}));
    EXPECT_EQ(values, (std::vector<std::string>{"z", "", "m", "A"}));
  };
  check(key);

  // The order lives in the file: a process that only has the file sees the same.
  std::string saved = read_file(file(registry_root::local_machine));
  testing::scoped_registry_dir other;
  write_file(other.path() / "HKEY_LOCAL_MACHINE.reg", saved);
  registry_key reread;
  ASSERT_EQ(registry_key::open(registry_root::local_machine, "software\\order", reread), kErrorSuccess);
  check(reread);
}

TEST_F(RegistryTest, StoreFileIsReadableRegText) {
  registry_key key = create("SOFTWARE\\X");
  ASSERT_EQ(key.set_string("", "default"), kErrorSuccess);
  ASSERT_EQ(key.set_string("Path", "C:\\dir\\\"q\""), kErrorSuccess);
  ASSERT_EQ(key.set_dword("N", 31), kErrorSuccess);
  ASSERT_EQ(key.set_binary("B", bytes{1, 0xAB}), kErrorSuccess);
  ASSERT_EQ(key.set_multi_string("M", {"a"}), kErrorSuccess);
  registry_key sub;
  ASSERT_EQ(key.create("Empty", sub), kErrorSuccess);

  EXPECT_EQ(read_file(file(registry_root::local_machine)),
            "Windows Registry Editor Version 5.00\n"
            "\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE]\n"
            "\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\X]\n"
            "@=\"default\"\n"
            "\"Path\"=\"C:\\\\dir\\\\\\\"q\\\"\"\n"
            "\"N\"=dword:0000001f\n"
            "\"B\"=hex:01,ab\n"
            "\"M\"=hex(7):61,00,00,00,00,00\n"
            "\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\X\\Empty]\n"
            "\n");
  EXPECT_FALSE(std::filesystem::exists(file(registry_root::current_user))) << "untouched roots get no file";
  for (const auto& entry : std::filesystem::directory_iterator(registry_.path())) {
    EXPECT_EQ(entry.path().filename().string().find(".reg."), std::string::npos)
        << "temporary file left behind: " << entry.path();
  }
}

TEST_F(RegistryTest, HandleOfKeyDeletedByAnotherProcess) {
  registry_key key = create("SOFTWARE\\Gone\\Deep");
  ASSERT_EQ(key.set_string("v", "x"), kErrorSuccess);

  auto results = run_children({[] {
    registry_key parent;
    if (registry_key::open(registry_root::local_machine, "SOFTWARE", parent) != kErrorSuccess) return 1;
    return parent.delete_tree("Gone") == kErrorSuccess ? 0 : 2;
  }});
  ASSERT_EQ(results[0], 0);

  std::string text;
  std::uint32_t size = 0;
  registry_key child;
  EXPECT_EQ(key.query_string("v", text), kErrorKeyDeleted);
  EXPECT_EQ(key.query_value("v", nullptr, nullptr, &size), kErrorKeyDeleted);
  EXPECT_EQ(key.enum_value(0, text), kErrorKeyDeleted);
  EXPECT_EQ(key.query_info(nullptr, nullptr), kErrorKeyDeleted);
  EXPECT_EQ(key.set_string("v", "y"), kErrorKeyDeleted);
  EXPECT_EQ(key.create("Sub", child), kErrorKeyDeleted);
  EXPECT_EQ(key.delete_tree(""), kErrorKeyDeleted);
  EXPECT_EQ(registry_key::open(registry_root::local_machine, "SOFTWARE\\Gone\\Deep", child), kErrorFileNotFound)
      << "the failed writes must not have recreated the key";
}

TEST_F(RegistryTest, ClosedKeyIsAnInvalidHandle) {
  registry_key never_opened;
  std::string text;
  EXPECT_EQ(never_opened.query_string("x", text), kErrorInvalidHandle);
  EXPECT_EQ(never_opened.set_string("x", "y"), kErrorInvalidHandle);
  registry_key key = create("SOFTWARE\\Closed");
  key.close();
  EXPECT_FALSE(key.is_open());
  EXPECT_EQ(key.set_dword("x", 1), kErrorInvalidHandle);
  EXPECT_EQ(key.enum_subkey(0, text), kErrorInvalidHandle);
}

TEST_F(RegistryTest, ReadsSeeWritesOfOtherProcesses) {
  registry_key key = create("SOFTWARE\\Seen");
  ASSERT_EQ(key.set_dword("n", 1), kErrorSuccess);
  std::uint32_t n = 0;
  ASSERT_EQ(key.query_dword("n", n), kErrorSuccess);  // cached now

  for (std::uint32_t round = 2; round <= 4; ++round) {
    auto results = run_children({[round] {
      registry_key k;
      if (registry_key::open(registry_root::local_machine, "SOFTWARE\\Seen", k) != kErrorSuccess) return 1;
      return k.set_dword("n", round) == kErrorSuccess ? 0 : 2;
    }});
    ASSERT_EQ(results[0], 0);
    EXPECT_EQ(key.query_dword("n", n), kErrorSuccess);
    EXPECT_EQ(n, round);
  }

  // An edit by hand that keeps the file's size is seen too.
  std::string text = read_file(file(registry_root::local_machine));
  std::size_t at = text.find("dword:00000004");
  ASSERT_NE(at, std::string::npos);
  text.replace(at, 14, "dword:00000009");
  write_file(file(registry_root::local_machine), text);
  EXPECT_EQ(key.query_dword("n", n), kErrorSuccess);
  EXPECT_EQ(n, 9u);
}

TEST_F(RegistryTest, TwoProcessesWritingLoseNothing) {
  constexpr int kPerProcess = 500;
  auto writer = [](int process) {
    return [process] {
      registry_key key;
      if (registry_key::create(registry_root::local_machine, "SOFTWARE\\Shared", key) != kErrorSuccess) return 1;
      for (int i = 0; i < kPerProcess; ++i) {
        std::string name = "p" + std::to_string(process) + "_" + std::to_string(i);
        if (key.set_dword(name, static_cast<std::uint32_t>(process * 10000 + i)) != kErrorSuccess) return 2;
      }
      return 0;
    };
  };
  auto results = run_children({writer(1), writer(2)}, std::chrono::seconds(100));
  ASSERT_EQ(results, (std::vector<int>{0, 0}));

  registry_key key;
  ASSERT_EQ(registry_key::open(registry_root::local_machine, "SOFTWARE\\Shared", key), kErrorSuccess);
  std::uint32_t values = 0;
  ASSERT_EQ(key.query_info(nullptr, &values), kErrorSuccess);
  EXPECT_EQ(values, 2u * kPerProcess);
  for (int process = 1; process <= 2; ++process) {
    for (int i = 0; i < kPerProcess; ++i) {
      std::uint32_t n = 0;
      std::string name = "p" + std::to_string(process) + "_" + std::to_string(i);
      ASSERT_EQ(key.query_dword(name, n), kErrorSuccess) << name;
      ASSERT_EQ(n, static_cast<std::uint32_t>(process * 10000 + i)) << name;
    }
  }
}

TEST_F(RegistryTest, ThreadsWritingLoseNothing) {
  constexpr int kThreads = 4;
  constexpr int kPerThread = 50;
  std::vector<std::thread> threads;
  std::atomic<int> failures{0};
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &failures] {
      registry_key key;
      if (registry_key::create(registry_root::current_user, "Software\\Threads\\" + std::to_string(t % 2), key)) {
        ++failures;
        return;
      }
      for (int i = 0; i < kPerThread; ++i) {
        std::string name = "t" + std::to_string(t) + "_" + std::to_string(i);
        auto expected = static_cast<std::uint32_t>(i);
        std::uint32_t n = 0;
        if (key.set_dword(name, expected) || key.query_dword(name, n) || n != expected) ++failures;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(failures.load(), 0);
  for (int half = 0; half < 2; ++half) {
    registry_key key;
    ASSERT_EQ(registry_key::open(registry_root::current_user, "Software\\Threads\\" + std::to_string(half), key),
              kErrorSuccess);
    std::uint32_t values = 0;
    ASSERT_EQ(key.query_info(nullptr, &values), kErrorSuccess);
    EXPECT_EQ(values, 2u * kPerThread);
  }
}

TEST_F(RegistryTest, DamagedFileIsReportedAndNeverOverwritten) {
  registry_key user = create("Software\\Fine", registry_root::current_user);
  const std::string damaged =
      "Windows Registry Editor Version 5.00\n"
      "\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\X]\n"
      "\"Broken\"=dword:xyz\n";
  const auto path = file(registry_root::local_machine);
  write_file(path, damaged);

  registry_key key;
  EXPECT_EQ(registry_key::open(registry_root::local_machine, "SOFTWARE\\X", key), kErrorBadRegistryFile);
  EXPECT_EQ(registry_last_error(), path.string() + ":4: bad dword value");
  EXPECT_EQ(registry_key::create(registry_root::local_machine, "SOFTWARE\\Y", key), kErrorBadRegistryFile);
  EXPECT_EQ(import_reg_text("Windows Registry Editor Version 5.00\n[HKLM\\A]\n\"a\"=\"b\"\n[HKCU\\B]\n"),
            kErrorBadRegistryFile);
  EXPECT_NE(registry_last_error().find(path.string() + ":4:"), std::string::npos);
  std::string exported;
  EXPECT_EQ(export_reg_text(registry_root::local_machine, "", exported), kErrorBadRegistryFile);
  EXPECT_EQ(read_file(path), damaged) << "a damaged file must stay as it was";

  registry_key b;
  EXPECT_EQ(registry_key::open(registry_root::current_user, "B", b), kErrorFileNotFound)
      << "the failed import wrote another root";
  EXPECT_EQ(user.set_string("still", "works"), kErrorSuccess) << "other roots keep working";

  // Once the file is mended, the root works again.
  write_file(path, "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\X]\n\"Fixed\"=dword:1\n");
  ASSERT_EQ(registry_key::open(registry_root::local_machine, "SOFTWARE\\X", key), kErrorSuccess);
  EXPECT_EQ(key.set_dword("More", 2), kErrorSuccess);

  // A key of another root in a root's file is damage too.
  write_file(file(registry_root::classes_root),
             "Windows Registry Editor Version 5.00\n\n[HKEY_CLASSES_ROOT\\A]\n\n[HKEY_CURRENT_USER\\B]\n");
  EXPECT_EQ(registry_key::open(registry_root::classes_root, "A", key), kErrorBadRegistryFile);
  EXPECT_EQ(registry_last_error(), file(registry_root::classes_root).string() +
                                       ":5: key of HKEY_CURRENT_USER in the file of HKEY_CLASSES_ROOT");
}

TEST_F(RegistryTest, UnwritableFolderIsAnError) {
  // A folder path below a plain file cannot be created, even by root.
  write_file(registry_.path() / "plain", "x");
  testing::scoped_registry_dir outer;
  setenv("OPOS_REGISTRY_DIR", (registry_.path() / "plain" / "registry").c_str(), 1);
  registry_key key;
  EXPECT_EQ(registry_key::open(registry_root::local_machine, "A", key), kErrorFileNotFound)
      << "reads of a missing store see an empty one";
  long rc = registry_key::create(registry_root::local_machine, "A", key);
  EXPECT_TRUE(rc == kErrorRegistryIo || rc == kErrorAccessDenied) << rc;
  EXPECT_NE(registry_last_error().find("plain"), std::string::npos) << registry_last_error();
}

TEST_F(RegistryTest, FolderIsCreatedOnFirstWriteOnly) {
  testing::scoped_registry_dir outer;
  auto folder = registry_.path() / "new" / "registry";
  setenv("OPOS_REGISTRY_DIR", folder.c_str(), 1);
  registry_key key;
  EXPECT_EQ(registry_key::open(registry_root::local_machine, "A", key), kErrorFileNotFound);
  std::string text;
  EXPECT_EQ(export_reg_text(registry_root::local_machine, "A", text), kErrorFileNotFound);
  EXPECT_FALSE(std::filesystem::exists(folder));
  EXPECT_EQ(registry_key::create(registry_root::local_machine, "A", key), kErrorSuccess);
  EXPECT_TRUE(std::filesystem::exists(folder / "HKEY_LOCAL_MACHINE.reg"));
}

TEST_F(RegistryTest, ImportExportRoundTripsExactly) {
  registry_key key = create("SOFTWARE\\Trip", registry_root::classes_root);
  ASSERT_EQ(key.set_string("", "default \"quoted\" \\ back"), kErrorSuccess);
  ASSERT_EQ(key.set_string("Empty", ""), kErrorSuccess);
  ASSERT_EQ(key.set_string("Multi\nline?", "x"), kErrorInvalidParameter);
  ASSERT_EQ(key.set_string("Lines", "one\r\ntwo\n"), kErrorSuccess);
  ASSERT_EQ(key.set_string("Ünïcödé \"name\"", "日本語"), kErrorSuccess);
  ASSERT_EQ(key.set_string("@", "not the default"), kErrorSuccess);
  ASSERT_EQ(key.set_dword("Max", 0xFFFFFFFF), kErrorSuccess);
  ASSERT_EQ(key.set_binary("NoBytes", bytes{}), kErrorSuccess);
  bytes long_blob(300);
  for (std::size_t i = 0; i < long_blob.size(); ++i) long_blob[i] = static_cast<std::uint8_t>(i * 7);
  ASSERT_EQ(key.set_binary("Long", long_blob), kErrorSuccess);
  ASSERT_EQ(key.set_multi_string("Multi", {"a", "𝄞 clef", "c"}), kErrorSuccess);
  ASSERT_EQ(key.set_value("Expand", registry_type::expand_string, "%PATH%\0", 7), kErrorSuccess);
  ASSERT_EQ(key.set_value("Quad", registry_type{11}, "\1\2\3\4\5\6\7\x08", 8), kErrorSuccess);
  ASSERT_EQ(key.set_value("None", registry_type::none, nullptr, 0), kErrorSuccess);
  registry_key sub;
  ASSERT_EQ(key.create("CaseKept\\Empty", sub), kErrorSuccess);
  ASSERT_EQ(key.create("Second", sub), kErrorSuccess);
  ASSERT_EQ(sub.set_dword("n", 5), kErrorSuccess);

  std::string exported;
  ASSERT_EQ(export_reg_text(registry_root::classes_root, "software\\trip", exported), kErrorSuccess);
  std::string before = describe_tree(key);
  ASSERT_NE(before.find("key CaseKept"), std::string::npos);

  testing::scoped_registry_dir fresh;
  ASSERT_EQ(import_reg_text(exported, "exported"), kErrorSuccess) << registry_last_error();
  registry_key imported;
  ASSERT_EQ(registry_key::open(registry_root::classes_root, "SOFTWARE\\Trip", imported), kErrorSuccess);
  EXPECT_EQ(describe_tree(imported), before);
  std::string again;
  ASSERT_EQ(export_reg_text(registry_root::classes_root, "SOFTWARE\\Trip", again), kErrorSuccess);
  EXPECT_EQ(again, exported);

  // Exports stay within the usual line width.
  std::istringstream lines(exported);
  for (std::string line; std::getline(lines, line);) EXPECT_LE(line.size(), 80u) << line;

  // An exported file imports the same way.
  auto path = fresh.path() / "trip.reg";
  write_file(path, exported);
  testing::scoped_registry_dir third;
  ASSERT_EQ(import_reg_file(path), kErrorSuccess);
  ASSERT_EQ(registry_key::open(registry_root::classes_root, "SOFTWARE\\Trip", imported), kErrorSuccess);
  EXPECT_EQ(describe_tree(imported), before);
}

TEST_F(RegistryTest, ImportMergesDeletesAndIsAllOrNothing) {
  registry_key key = create("SOFTWARE\\Merge");
  ASSERT_EQ(key.set_string("Keep", "1"), kErrorSuccess);
  ASSERT_EQ(key.set_string("Drop", "2"), kErrorSuccess);
  registry_key sub;
  ASSERT_EQ(key.create("Old\\Deeper", sub), kErrorSuccess);

  ASSERT_EQ(import_reg_text("Windows Registry Editor Version 5.00\r\n"
                            "\r\n"
                            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\MERGE]\r\n"
                            "\"drop\"=-\r\n"
                            "\"KEEP\"=\"changed\"\r\n"
                            "\"New\"=dword:00000002\r\n"
                            "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Merge\\Old]\r\n"
                            "[HKCU\\Software\\Other]\r\n"
                            "@=\"user\"\r\n"),
            kErrorSuccess)
      << registry_last_error();
  std::string name, text;
  EXPECT_EQ(key.enum_value(0, name), kErrorSuccess);
  EXPECT_EQ(name, "Keep");
  EXPECT_EQ(key.query_string("Keep", text), kErrorSuccess);
  EXPECT_EQ(text, "changed");
  EXPECT_EQ(key.query_string("Drop", text), kErrorFileNotFound);
  EXPECT_EQ(key.open("Old", sub), kErrorFileNotFound);
  EXPECT_EQ(sub.query_info(nullptr, nullptr), kErrorKeyDeleted);
  registry_key user;
  ASSERT_EQ(registry_key::open(registry_root::current_user, "Software\\Other", user), kErrorSuccess);
  EXPECT_EQ(user.query_string("", text), kErrorSuccess);
  EXPECT_EQ(text, "user");

  // A file that fails on its last line changes nothing.
  std::string before = read_file(file(registry_root::local_machine));
  EXPECT_EQ(import_reg_text("Windows Registry Editor Version 5.00\n"
                            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Merge]\n"
                            "\"Keep\"=\"again\"\n"
                            "[HKEY_CLASSES_ROOT\\New]\n"
                            "\"x\"=hex:1,2,zz\n",
                            "bad.reg"),
            kErrorBadRegistryFile);
  EXPECT_EQ(registry_last_error(), "bad.reg:5: bad hex byte \"zz\"");
  EXPECT_EQ(read_file(file(registry_root::local_machine)), before);
  EXPECT_FALSE(std::filesystem::exists(file(registry_root::classes_root)));

  EXPECT_EQ(import_reg_file(registry_.path() / "missing.reg"), kErrorFileNotFound);
  EXPECT_NE(registry_last_error().find("missing.reg"), std::string::npos);
}

TEST(RegistryPaths, ParseKeyPath) {
  struct path_case {
    const char* input;
    bool ok;
    registry_root root;
    const char* sub_path;
  };
  const path_case cases[] = {
      {"HKEY_LOCAL_MACHINE\\SOFTWARE\\X", true, registry_root::local_machine, "SOFTWARE\\X"},
      {"hklm\\SOFTWARE", true, registry_root::local_machine, "SOFTWARE"},
      {"HKCU", true, registry_root::current_user, ""},
      {"HKEY_CLASSES_ROOT\\", true, registry_root::classes_root, ""},
      {"HKCR/CLSID/{x}", true, registry_root::classes_root, "CLSID\\{x}"},
      {"HKCR\\MIME\\text/plain", true, registry_root::classes_root, "MIME\\text/plain"},
      {"HKEY_USERS\\x", false, registry_root::local_machine, ""},
      {"", false, registry_root::local_machine, ""},
      {"SOFTWARE\\X", false, registry_root::local_machine, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.input);
    registry_root root = registry_root::local_machine;
    std::string sub = "unchanged";
    ASSERT_EQ(parse_key_path(c.input, root, sub), c.ok);
    if (!c.ok) continue;
    EXPECT_EQ(root, c.root);
    EXPECT_EQ(sub, c.sub_path);
  }
}

// Sets an environment variable for the life of the object, restoring it afterwards.
class scoped_env {
 public:
  scoped_env(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) previous_ = old;
    if (value != nullptr) {
      setenv(name, value, 1);
    } else {
      unsetenv(name);
    }
  }
  ~scoped_env() {
    if (previous_) {
      setenv(name_, previous_->c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::optional<std::string> previous_;
};

TEST(RegistryPaths, DirectoryComesFromTheEnvironment) {
  struct dir_case {
    const char* registry_dir;
    const char* config_home;
    const char* home;
    const char* expected;
  };
  const dir_case cases[] = {
      {"/tmp/r", "/cfg", "/home/u", "/tmp/r"},
      {"", "/cfg", "/home/u", "/cfg/poskit/registry"},
      {nullptr, "/cfg", "/home/u", "/cfg/poskit/registry"},
      {nullptr, nullptr, "/home/u", "/home/u/.config/poskit/registry"},
      {nullptr, "relative", "/home/u", "/home/u/.config/poskit/registry"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.expected);
    scoped_env a("OPOS_REGISTRY_DIR", c.registry_dir);
    scoped_env b("XDG_CONFIG_HOME", c.config_home);
    scoped_env d("HOME", c.home);
    EXPECT_EQ(registry_directory(), std::filesystem::path(c.expected));
  }
}


// Without OPOS_REGISTRY_DIR the machine's roots live in the machine's folder and the user's root
// in the user's; with it, every root lives there.
TEST(RegistryPaths, MachineRootsAreSharedAndTheUserRootIsPerUser) {
  scoped_env config("XDG_CONFIG_HOME", nullptr);
  {
    scoped_env registry("OPOS_REGISTRY_DIR", nullptr);
    scoped_env machine("OPOS_SYSTEM_REGISTRY_DIR", "/srv/poskit");
    scoped_env home("HOME", "/home/u");
    EXPECT_EQ(registry_directory(registry_root::local_machine), std::filesystem::path("/srv/poskit"));
    EXPECT_EQ(registry_directory(registry_root::classes_root), std::filesystem::path("/srv/poskit"));
    EXPECT_EQ(registry_directory(registry_root::current_user), std::filesystem::path("/home/u/.config/poskit/registry"));
  }
  {
    scoped_env registry("OPOS_REGISTRY_DIR", "/tmp/r");
    scoped_env machine("OPOS_SYSTEM_REGISTRY_DIR", "/srv/poskit");
    for (const registry_root root : {registry_root::local_machine, registry_root::classes_root, registry_root::current_user}) {
      EXPECT_EQ(registry_directory(root), std::filesystem::path("/tmp/r"));
    }
  }

  // Two users of one machine: the same devices, their own settings.
  platform::testing::temp_dir machine_dir;
  platform::testing::temp_dir first_home;
  platform::testing::temp_dir second_home;
  scoped_env registry("OPOS_REGISTRY_DIR", nullptr);
  scoped_env machine("OPOS_SYSTEM_REGISTRY_DIR", machine_dir.path().c_str());
  const auto as_user = [](const std::filesystem::path& home, const std::function<void()>& work) {
    scoped_env user("HOME", home.c_str());
    work();
  };
  as_user(first_home.path(), [] {
    registry_key key;
    ASSERT_EQ(registry_key::create(registry_root::local_machine, "SOFTWARE\\Dev", key), kErrorSuccess);
    ASSERT_EQ(key.set_string("Port", "COM1"), kErrorSuccess);
    ASSERT_EQ(registry_key::create(registry_root::current_user, "Software\\Bench", key), kErrorSuccess);
    ASSERT_EQ(key.set_string("Last", "first"), kErrorSuccess);
  });
  as_user(second_home.path(), [] {
    registry_key key;
    std::string value;
    ASSERT_EQ(registry_key::open(registry_root::local_machine, "SOFTWARE\\Dev", key), kErrorSuccess);
    EXPECT_EQ(key.query_string("Port", value), kErrorSuccess);
    EXPECT_EQ(value, "COM1");
    EXPECT_EQ(registry_key::open(registry_root::current_user, "Software\\Bench", key), kErrorFileNotFound);
  });
  EXPECT_TRUE(std::filesystem::exists(machine_dir.path() / "HKEY_LOCAL_MACHINE.reg"));
  EXPECT_TRUE(std::filesystem::exists(first_home.path() / ".config/poskit/registry/HKEY_CURRENT_USER.reg"));
  EXPECT_FALSE(std::filesystem::exists(machine_dir.path() / "HKEY_CURRENT_USER.reg"));
}

// A user who may not write the machine's folder gets kErrorAccessDenied for every kind of write
// to its roots, an import touching them writes nothing at all, and reads still work. The writer
// runs as an unprivileged user in a child process (root may write anywhere).
TEST(RegistryPaths, WritingTheMachineRootsWithoutPermissionIsDenied) {
  platform::testing::temp_dir machine_dir;
  platform::testing::temp_dir home;
  scoped_env registry("OPOS_REGISTRY_DIR", nullptr);
  scoped_env config("XDG_CONFIG_HOME", nullptr);
  scoped_env machine("OPOS_SYSTEM_REGISTRY_DIR", machine_dir.path().c_str());
  scoped_env user("HOME", home.path().c_str());
  {
    registry_key key;
    ASSERT_EQ(registry_key::create(registry_root::local_machine, "SOFTWARE\\Dev", key), kErrorSuccess);
    ASSERT_EQ(key.set_string("Port", "COM1"), kErrorSuccess);
  }
  const std::string before = read_file(machine_dir.path() / "HKEY_LOCAL_MACHINE.reg");
  const bool root = ::geteuid() == 0;
  constexpr uid_t kNobody = 65534;
  if (root) {
    // The machine's folder as installed: everyone reads it, only root writes it. The
    // unprivileged writer keeps a home of its own.
    std::filesystem::permissions(machine_dir.path(), std::filesystem::perms::owner_all |
                                                         std::filesystem::perms::group_read |
                                                         std::filesystem::perms::group_exec |
                                                         std::filesystem::perms::others_read |
                                                         std::filesystem::perms::others_exec);
    ASSERT_EQ(::chown(home.path().c_str(), kNobody, kNobody), 0);
  } else {
    std::filesystem::permissions(machine_dir.path(), std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::remove);
  }
  const auto results = run_children({[&] {
    if (root && (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)) return 90;
    registry_key key;
    if (registry_key::open(registry_root::local_machine, "SOFTWARE\\Dev", key) != kErrorSuccess) return 91;
    std::string value;
    if (key.query_string("Port", value) != kErrorSuccess || value != "COM1") return 92;
    if (key.set_string("Port", "COM2") != kErrorAccessDenied) return 93;
    if (key.delete_value("Port") != kErrorAccessDenied) return 94;
    registry_key created;
    if (registry_key::create(registry_root::classes_root, "Some.Class", created) != kErrorAccessDenied) return 95;
    if (import_reg_text("REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\X]\n\"a\"=\"1\"\n"
                        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Dev]\n\"Port\"=\"COM3\"\n") != kErrorAccessDenied) {
      return 96;
    }
    // The user's own root is still theirs.
    if (registry_key::create(registry_root::current_user, "Software\\Y", created) != kErrorSuccess) return 97;
    if (registry_key::open(registry_root::current_user, "Software\\X", created) != kErrorFileNotFound) return 98;
    return 0;
  }});
  if (!root) {
    std::filesystem::permissions(machine_dir.path(), std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::add);
  }
  EXPECT_EQ(results, std::vector<int>{0});
  EXPECT_EQ(read_file(machine_dir.path() / "HKEY_LOCAL_MACHINE.reg"), before);
  EXPECT_FALSE(std::filesystem::exists(machine_dir.path() / "HKEY_CLASSES_ROOT.reg"));
}

}  // namespace
}  // namespace platform
