// The oposreg command: argument handling, the five commands, and the text forms of values
// (reg.exe-like lines for reading, the REG_* type names and data syntax for writing).
#include "oposreg.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <ostream>
#include <sstream>
#include <string_view>
#include <system_error>

#include "platform/cli.h"
#include "platform/registry.h"
#include "platform/replace_file.h"

namespace tools {
namespace {

using platform::registry_key;
using platform::registry_root;
using platform::registry_type;

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

constexpr std::string_view kUsage =
    "usage: oposreg [--registry DIR] COMMAND ARGUMENTS...\n"
    "\n"
    "Commands:\n"
    "  import FILE.reg           merge a .reg file into the registry\n"
    "  export KEY [FILE]         write KEY and everything below it as .reg text\n"
    "                            (to standard output without FILE)\n"
    "  query KEY [VALUE]         list the values and subkeys of KEY, or show one value\n"
    "  set KEY VALUE TYPE DATA   set a value; TYPE is one of\n"
    "                              REG_SZ        text\n"
    "                              REG_DWORD     decimal, or hex with 0x\n"
    "                              REG_BINARY    hex bytes: \"01 02\", \"0102\" or \"01,02\"\n"
    "                              REG_MULTI_SZ  items separated by \\0\n"
    "  delete KEY [VALUE]        delete a value, or KEY with everything below it\n"
    "\n"
    "KEY begins with HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER or HKEY_CLASSES_ROOT\n"
    "(or HKLM, HKCU, HKCR). A VALUE of \"\" or \"@\" is the key's default value.\n"
    "\n"
    "Options:\n"
    "  --registry=DIR   use the registry stored in DIR instead of $OPOS_REGISTRY_DIR or the\n"
    "                   default (see \"Where the registry lives\" in the kit's README)\n"
    "  --help           show this text\n"
    "  --version        show the kit's version\n"
    "\n"
    "Exit status: 0 success, 1 the operation failed, 2 usage error.\n";

constexpr platform::cli::option kOptions[] = {
    {"registry", 0, platform::cli::kValue, "DIR", ""},
    {"help", 'h', platform::cli::kFlag, "", ""},
    {"version", 0, platform::cli::kFlag, "", ""},
};

struct type_spelling {
  registry_type type;
  std::string_view name;
};

constexpr std::array<type_spelling, 7> kTypeNames{{
    {registry_type::none, "REG_NONE"},
    {registry_type::string, "REG_SZ"},
    {registry_type::expand_string, "REG_EXPAND_SZ"},
    {registry_type::binary, "REG_BINARY"},
    {registry_type::dword, "REG_DWORD"},
    {registry_type::multi_string, "REG_MULTI_SZ"},
    {registry_type{11}, "REG_QWORD"},
}};

// The types that `set` writes.
constexpr std::array<registry_type, 4> kSettableTypes{registry_type::string, registry_type::dword,
                                                      registry_type::binary, registry_type::multi_string};

std::string type_name(registry_type type) {
  for (const auto& spelling : kTypeNames) {
    if (spelling.type == type) return std::string(spelling.name);
  }
  return "REG_TYPE_" + std::to_string(static_cast<std::uint32_t>(type));
}

char upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

std::optional<registry_type> settable_type(std::string_view name) {
  std::string folded;
  for (char c : name) folded += upper(c);
  for (registry_type type : kSettableTypes) {
    if (type_name(type) == folded) return type;
  }
  return std::nullopt;
}

std::string_view describe(long code) {
  switch (code) {
    case platform::kErrorFileNotFound:
      return "not found";
    case platform::kErrorAccessDenied:
      return "access denied";
    case platform::kErrorInvalidHandle:
      return "invalid handle";
    case platform::kErrorInvalidData:
      return "value has another type";
    case platform::kErrorInvalidParameter:
      return "invalid name or data";
    case platform::kErrorMoreData:
      return "value too large";
    case platform::kErrorBadRegistryFile:
      return "registry file cannot be parsed";
    case platform::kErrorRegistryIo:
      return "registry file cannot be read or written";
    case platform::kErrorKeyDeleted:
      return "key was deleted meanwhile";
    default:
      return "failed";
  }
}

std::string hex_bytes(const std::vector<std::uint8_t>& data) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (auto b : data) {
    text += kDigits[b >> 4];
    text += kDigits[b & 0x0F];
  }
  return text;
}

// Data of a value as one readable field: text, 0x-number, \0-separated items or hex bytes.
std::string format_data(registry_type type, const std::vector<std::uint8_t>& data) {
  std::string text(data.begin(), data.end());
  switch (type) {
    case registry_type::string:
    case registry_type::expand_string:
      return text.substr(0, text.find('\0'));
    case registry_type::dword: {
      if (data.size() != 4) break;
      std::uint32_t n = data[0] | (data[1] << 8) | (data[2] << 16) | (static_cast<std::uint32_t>(data[3]) << 24);
      char number[16];
      std::snprintf(number, sizeof number, "0x%x", n);
      return number;
    }
    case registry_type::multi_string: {
      std::string joined;
      std::string_view rest = text;
      while (!rest.empty() && rest.front() != '\0') {
        std::size_t end = rest.find('\0');
        if (!joined.empty()) joined += "\\0";
        joined += rest.substr(0, end);
        if (end == std::string_view::npos) break;
        rest.remove_prefix(end + 1);
      }
      return joined;
    }
    default:
      break;
  }
  return hex_bytes(data);
}

void print_value(std::ostream& out, const std::string& name, registry_type type,
                 const std::vector<std::uint8_t>& data) {
  out << "    " << (name.empty() ? "(Default)" : name) << "    " << type_name(type) << "    "
      << format_data(type, data) << "\n";
}

bool parse_dword(std::string_view text, std::uint32_t& out) {
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
    base = 16;
  }
  std::uint64_t n = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), n, base);
  if (text.empty() || error != std::errc() || end != text.data() + text.size() || n > 0xFFFFFFFFu) return false;
  out = static_cast<std::uint32_t>(n);
  return true;
}

// Hex bytes separated by blanks or commas, or run together in pairs.
bool parse_binary(std::string_view text, std::vector<std::uint8_t>& out) {
  auto digit = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    c = upper(c);
    return (c >= 'A' && c <= 'F') ? c - 'A' + 10 : -1;
  };
  std::size_t pos = 0;
  while (pos < text.size()) {
    if (text[pos] == ' ' || text[pos] == ',' || text[pos] == '\t') {
      ++pos;
      continue;
    }
    std::size_t end = text.find_first_of(" ,\t", pos);
    std::string_view token = text.substr(pos, end == std::string_view::npos ? end : end - pos);
    pos += token.size();
    if (token.size() > 1 && token.size() % 2 != 0) return false;
    for (std::size_t i = 0; i < token.size(); i += 2) {
      int high = token.size() == 1 ? 0 : digit(token[i]);
      int low = digit(token[token.size() == 1 ? i : i + 1]);
      if (high < 0 || low < 0) return false;
      out.push_back(static_cast<std::uint8_t>(high * 16 + low));
    }
  }
  return true;
}

// Sets an environment variable for the life of the object, restoring the old state afterwards.
class scoped_env {
 public:
  scoped_env(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) previous_ = old;
    setenv(name, value.c_str(), 1);
  }
  ~scoped_env() {
    if (previous_) {
      setenv(name_, previous_->c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }
  scoped_env(const scoped_env&) = delete;
  scoped_env& operator=(const scoped_env&) = delete;

 private:
  const char* name_;
  std::optional<std::string> previous_;
};

class command_runner {
 public:
  command_runner(std::ostream& out, std::ostream& err) : out_(out), err_(err) {}

  int run(const std::vector<std::string>& args) {
    // Options come before the command; the command's own arguments may start with "-".
    platform::cli::parsed options;
    std::string problem;
    if (!platform::cli::parse(kOptions, args, options, problem, platform::cli::operand_order::options_first)) {
      return usage(problem);
    }
    if (options.has("help")) {
      out_ << kUsage;
      return kExitOk;
    }
    if (options.has("version")) {
      out_ << platform::cli::version_line("oposreg") << "\n";
      return kExitOk;
    }
    std::optional<scoped_env> registry_dir;
    if (options.has("registry")) {
      const std::string dir = options.value("registry");
      if (dir.empty()) return usage("--registry needs a folder");
      registry_dir.emplace("OPOS_REGISTRY_DIR", dir);
    }
    const std::vector<std::string>& words = options.operands;
    if (words.empty()) return usage("no command given");
    std::string_view command = words.front();
    std::vector<std::string> rest(words.begin() + 1, words.end());
    if (command == "import") {
      if (rest.size() != 1) return usage("usage: oposreg import FILE.reg");
      return import(rest[0]);
    }
    if (command == "export") {
      if (rest.empty() || rest.size() > 2) return usage("usage: oposreg export KEY [FILE]");
      return export_key(rest[0], rest.size() == 2 ? &rest[1] : nullptr);
    }
    if (command == "query") {
      if (rest.empty() || rest.size() > 2) return usage("usage: oposreg query KEY [VALUE]");
      return query(rest[0], rest.size() == 2 ? &rest[1] : nullptr);
    }
    if (command == "set") {
      if (rest.size() != 4) return usage("usage: oposreg set KEY VALUE TYPE DATA");
      return set(rest[0], rest[1], rest[2], rest[3]);
    }
    if (command == "delete") {
      if (rest.empty() || rest.size() > 2) return usage("usage: oposreg delete KEY [VALUE]");
      return remove(rest[0], rest.size() == 2 ? &rest[1] : nullptr);
    }
    return usage("unknown command \"" + std::string(command) + "\"");
  }

 private:
  int usage(const std::string& reason) {
    report(reason + " (see oposreg --help)");
    return kExitUsage;
  }

  // Writes "oposreg: TEXT" as one line, whatever names the text quotes.
  void report(const std::string& text) {
    std::string line;
    for (char c : text) {
      if (c == '\n') {
        line += "\\n";
      } else if (c == '\r') {
        line += "\\r";
      } else {
        line += c;
      }
    }
    err_ << "oposreg: " << line << "\n";
  }

  int failure(const std::string& subject, long code) {
    std::string text = subject + ": " + std::string(describe(code));
    // These codes always leave the reason (a path and line, or the system's text) behind.
    if (code == platform::kErrorBadRegistryFile || code == platform::kErrorRegistryIo ||
        code == platform::kErrorAccessDenied) {
      std::string detail = platform::registry_last_error();
      if (!detail.empty()) text += ": " + detail;
    }
    report(text + " (error " + std::to_string(code) + ")");
    return kExitFailed;
  }

  int system_failure(const std::string& subject, int error_number) {
    report(subject + ": " + std::generic_category().message(error_number));
    return kExitFailed;
  }

  // Splits a KEY argument; false (after a usage message) for an unknown root.
  bool parse_key(const std::string& arg, registry_root& root, std::string& sub_path) {
    if (platform::parse_key_path(arg, root, sub_path)) return true;
    usage("unknown root key in \"" + arg + "\" (use HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER or HKEY_CLASSES_ROOT)");
    return false;
  }

  static std::string full_name(const registry_key& key) {
    std::string name(platform::root_name(key.root()));
    if (!key.path().empty()) name += "\\" + key.path();
    return name;
  }

  // Names compare as the registry compares them: ASCII letters without case.
  static bool same_name(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
      if (upper(a[i]) != upper(b[i])) return false;
    }
    return true;
  }

  static std::string value_name(const std::string& arg) { return arg == "@" ? std::string() : arg; }

  static std::string value_subject(const std::string& key, const std::string& name) {
    return key + " value \"" + (name.empty() ? "(Default)" : name) + "\"";
  }

  int import(const std::string& file) {
    long rc = platform::import_reg_file(file);
    return rc == platform::kErrorSuccess ? kExitOk : failure(file, rc);
  }

  int export_key(const std::string& key_arg, const std::string* file) {
    registry_root root{};
    std::string sub_path;
    if (!parse_key(key_arg, root, sub_path)) return kExitUsage;
    std::string text;
    if (long rc = platform::export_reg_text(root, sub_path, text)) return failure(key_arg, rc);
    if (file == nullptr || *file == "-") {
      out_ << text;
      return kExitOk;
    }
    std::error_code ec;
    if (!platform::replace_file(*file, text, ec)) return system_failure(*file, ec.value());
    return kExitOk;
  }

  int query(const std::string& key_arg, const std::string* value_arg) {
    registry_root root{};
    std::string sub_path;
    if (!parse_key(key_arg, root, sub_path)) return kExitUsage;
    registry_key key;
    if (long rc = registry_key::open(root, sub_path, key)) return failure(key_arg, rc);
    std::string key_name = full_name(key);

    // Values are listed by enumeration, which also gives a value's name as stored.
    std::string text = key_name + "\n";
    std::string name;
    registry_type type{};
    std::vector<std::uint8_t> data;
    long rc = platform::kErrorSuccess;
    std::uint32_t index = 0;
    bool found = false;
    for (; (rc = key.enum_value(index, name, &type, &data)) == platform::kErrorSuccess; ++index) {
      if (value_arg != nullptr && !same_name(name, value_name(*value_arg))) continue;
      std::ostringstream line;
      print_value(line, name, type, data);
      text += line.str();
      found = true;
    }
    if (rc != platform::kErrorNoMoreItems) return failure(key_name, rc);
    if (value_arg != nullptr) {
      if (!found) return failure(value_subject(key_name, value_name(*value_arg)), platform::kErrorFileNotFound);
      out_ << text;
      return kExitOk;
    }
    for (index = 0; (rc = key.enum_subkey(index, name)) == platform::kErrorSuccess; ++index) {
      if (index == 0) text += "\n";
      text += key_name + "\\" + name + "\n";
    }
    if (rc != platform::kErrorNoMoreItems) return failure(key_name, rc);
    out_ << text;
    return kExitOk;
  }

  int set(const std::string& key_arg, const std::string& value_arg, const std::string& type_arg,
          const std::string& data_arg) {
    registry_root root{};
    std::string sub_path;
    if (!parse_key(key_arg, root, sub_path)) return kExitUsage;
    std::optional<registry_type> type = settable_type(type_arg);
    if (!type) return usage("unknown type \"" + type_arg + "\" (use REG_SZ, REG_DWORD, REG_BINARY or REG_MULTI_SZ)");

    // Turn DATA into the value's raw layout before touching the registry.
    std::vector<std::uint8_t> raw;
    if (*type == registry_type::string) {
      raw.assign(data_arg.begin(), data_arg.end());
    } else if (*type == registry_type::dword) {
      std::uint32_t n = 0;
      if (!parse_dword(data_arg, n)) {
        return usage("bad REG_DWORD data \"" + data_arg + "\" (decimal or 0x hex, 32 bits)");
      }
      raw = {static_cast<std::uint8_t>(n), static_cast<std::uint8_t>(n >> 8), static_cast<std::uint8_t>(n >> 16),
             static_cast<std::uint8_t>(n >> 24)};
    } else if (*type == registry_type::binary) {
      if (!parse_binary(data_arg, raw)) return usage("bad REG_BINARY data \"" + data_arg + "\" (hex bytes)");
    } else {
      std::string_view rest = data_arg;
      while (!rest.empty()) {
        std::size_t end = rest.find("\\0");
        std::string_view item = rest.substr(0, end);
        if (item.empty()) return usage("REG_MULTI_SZ items cannot be empty");
        raw.insert(raw.end(), item.begin(), item.end());
        raw.push_back(0);
        if (end == std::string_view::npos) break;
        rest.remove_prefix(end + 2);
        if (rest.empty()) return usage("REG_MULTI_SZ items cannot be empty");
      }
      raw.push_back(0);
    }

    registry_key key;
    if (long rc = registry_key::create(root, sub_path, key)) return failure(key_arg, rc);
    std::string name = value_name(value_arg);
    if (long rc = key.set_value(name, *type, raw.data(), static_cast<std::uint32_t>(raw.size()))) {
      return failure(value_subject(full_name(key), name), rc);
    }
    return kExitOk;
  }

  int remove(const std::string& key_arg, const std::string* value_arg) {
    registry_root root{};
    std::string sub_path;
    if (!parse_key(key_arg, root, sub_path)) return kExitUsage;
    registry_key key;
    if (long rc = registry_key::open(root, sub_path, key)) return failure(key_arg, rc);
    if (value_arg != nullptr) {
      std::string name = value_name(*value_arg);
      long rc = key.delete_value(name);
      return rc == platform::kErrorSuccess ? kExitOk : failure(value_subject(full_name(key), name), rc);
    }
    if (key.path().empty()) return usage("a root key cannot be deleted");
    registry_key root_key;
    long rc = registry_key::open(root, "", root_key);
    if (rc == platform::kErrorSuccess) rc = root_key.delete_tree(key.path());
    return rc == platform::kErrorSuccess ? kExitOk : failure(key_arg, rc);
  }

  std::ostream& out_;
  std::ostream& err_;
};

}  // namespace

int run_oposreg(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  return command_runner(out, err).run(args);
}

}  // namespace tools
