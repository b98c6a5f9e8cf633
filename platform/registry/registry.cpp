// The registry store: one cached key tree per root, kept in step with the root's .reg file, which
// every process of the user shares. Writes go through a file lock and an atomic rename.
#include "platform/registry.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <system_error>
#include <utility>

#include "platform/replace_file.h"
#include "reg_format.h"

namespace platform {
namespace {

using reg_format::key_node;
using reg_format::value;

constexpr std::string_view kLockFileName = "registry.lock";

thread_local std::string t_last_error;

long fail(long code, std::string text) {
  t_last_error = std::move(text);
  return code;
}

// Result of a failed system call on `path`: permission problems are "access denied", the rest
// is an I/O failure; the system's reason goes to registry_last_error.
long system_failure(const std::filesystem::path& path, int error_number) {
  bool denied = error_number == EACCES || error_number == EPERM || error_number == EROFS;
  return fail(denied ? kErrorAccessDenied : kErrorRegistryIo,
              path.string() + ": " + std::generic_category().message(error_number));
}

char fold(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool iequals(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return fold(x) == fold(y); });
}

// Move-only owner of a file descriptor.
class unique_fd {
 public:
  unique_fd() = default;
  explicit unique_fd(int fd) : fd_(fd) {}
  unique_fd(unique_fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  unique_fd& operator=(unique_fd&& other) noexcept {
    if (this != &other) {
      reset();
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }
  unique_fd(const unique_fd&) = delete;
  unique_fd& operator=(const unique_fd&) = delete;
  ~unique_fd() { reset(); }

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  void reset() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_ = -1;
};

// What tells one version of a file from another without reading it.
struct file_signature {
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  std::int64_t mtime_ns = 0;
  bool operator==(const file_signature&) const = default;
};

file_signature signature_of(const struct stat& st) {
  return {st.st_dev, st.st_ino, st.st_size,
          static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

// The parsed file of one root, as this process last read or wrote it.
struct root_cache {
  bool loaded = false;
  bool exists = false;  // the file existed at the last look
  file_signature signature;
  // Keeps the inode that was read open, so that its number cannot be reused by a later
  // version of the file while the signature still refers to it.
  unique_fd pin;
  key_node tree;
  std::string parse_error;  // "PATH:LINE: reason" while the file cannot be parsed
};

struct store_state {
  std::mutex mutex;
  std::array<std::filesystem::path, 3> directories;  // where each root's cached tree came from
  std::array<root_cache, 3> roots;
};

store_state& state() {
  static store_state* instance = new store_state;  // never destroyed: usable until exit
  return *instance;
}

std::size_t root_index(registry_root root) { return static_cast<std::size_t>(root); }

key_node* find_subkey(key_node& key, std::string_view name) {
  for (auto& subkey : key.subkeys) {
    if (iequals(subkey->name, name)) return subkey.get();
  }
  return nullptr;
}

key_node* find_key(key_node& root, const std::vector<std::string>& path) {
  key_node* key = &root;
  for (const auto& name : path) {
    key = find_subkey(*key, name);
    if (key == nullptr) return nullptr;
  }
  return key;
}

value* find_value(key_node& key, std::string_view name) {
  for (auto& item : key.values) {
    if (iequals(item.name, name)) return &item;
  }
  return nullptr;
}

// Finds or creates the key at `path`; `created` tells whether the last one was new.
key_node& create_key(key_node& root, const std::vector<std::string>& path, bool& created) {
  key_node* key = &root;
  created = false;
  for (const auto& name : path) {
    key_node* next = find_subkey(*key, name);
    created = next == nullptr;
    if (created) {
      key->subkeys.push_back(std::make_unique<key_node>());
      next = key->subkeys.back().get();
      next->name = name;
    }
    key = next;
  }
  return *key;
}

// Removes the subkey `name` of `parent` with everything below it; false when there is none.
bool remove_subkey(key_node& parent, std::string_view name) {
  auto it = std::find_if(parent.subkeys.begin(), parent.subkeys.end(),
                         [&](const auto& subkey) { return iequals(subkey->name, name); });
  if (it == parent.subkeys.end()) return false;
  parent.subkeys.erase(it);
  return true;
}

// Sets a value, keeping the name and place of an existing one; false when nothing changed.
bool put_value(key_node& key, const value& item) {
  if (value* existing = find_value(key, item.name)) {
    if (existing->type == item.type && existing->data == item.data) return false;
    existing->type = item.type;
    existing->data = item.data;
    return true;
  }
  key.values.push_back(item);
  return true;
}

// Applies one parsed section; true when the tree changed.
bool apply_section(key_node& root, const reg_format::section& section) {
  if (section.remove) {
    std::vector<std::string> parent_path(section.path.begin(), section.path.end() - 1);
    key_node* parent = find_key(root, parent_path);
    return parent != nullptr && remove_subkey(*parent, section.path.back());
  }
  bool changed = false;
  key_node& key = create_key(root, section.path, changed);
  for (const auto& entry : section.entries) {
    if (!entry.remove) {
      changed |= put_value(key, entry.item);
    } else if (value* existing = find_value(key, entry.item.name)) {
      key.values.erase(key.values.begin() + (existing - key.values.data()));
      changed = true;
    }
  }
  return changed;
}

// Splits a path at backslashes, skipping empty parts (leading, doubled or trailing separators);
// a bad name or a path deeper than the registry allows is an invalid parameter.
long split_key_path(std::string_view path, std::vector<std::string>& out) {
  out.clear();
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find('\\', start);
    if (end == std::string_view::npos) end = path.size();
    std::string_view name = path.substr(start, end - start);
    if (!name.empty()) {
      if (!reg_format::is_valid_key_name(name) || out.size() == reg_format::kMaxKeyDepth) {
        return kErrorInvalidParameter;
      }
      out.emplace_back(name);
    }
    start = end + 1;
  }
  return kErrorSuccess;
}

std::string join_key_path(const std::vector<std::string>& path) {
  std::string joined;
  for (const auto& name : path) {
    if (!joined.empty()) joined += '\\';
    joined += name;
  }
  return joined;
}

// Raw bytes of a value as a read returns them: a string gains its terminating NUL.
std::vector<std::uint8_t> raw_bytes(const value& item) {
  std::vector<std::uint8_t> bytes = item.data;
  if (item.type == registry_type::string) bytes.push_back(0);
  return bytes;
}

long read_file(const std::filesystem::path& path, int fd, std::string& out) {
  out.clear();
  char buffer[65536];
  for (;;) {
    ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return system_failure(path, errno);
    if (got == 0) return kErrorSuccess;
    out.append(buffer, static_cast<std::size_t>(got));
  }
}

// One operation on the store: holds the process's mutex and, for writes, the lock file of each
// folder written, and brings the cached trees up to date with the files. The roots may live in
// different folders (the machine's and the user's).
class store_session {
 public:
  store_session() : guard_(state().mutex) {}

  // Creates the folder of `root` when missing and takes the lock that serialises its writers in
  // all processes; blocks while another process writes. Roots sharing a folder share its lock.
  // Callers locking several roots lock them in root order, so that processes never wait on each
  // other in a circle.
  long lock_for_write(registry_root root) {
    const std::filesystem::path directory = directory_of(root);
    for (const auto& held : locks_) {
      if (held.first == directory) return kErrorSuccess;
    }
    std::error_code error;
    std::filesystem::create_directories(directory, error);
    if (error) return system_failure(directory, error.value());
    std::filesystem::path lock_path = directory / kLockFileName;
    unique_fd fd(::open(lock_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666));
    if (!fd.valid()) return system_failure(lock_path, errno);
    while (::flock(fd.get(), LOCK_EX) != 0) {
      if (errno != EINTR) return system_failure(lock_path, errno);
    }
    locks_.emplace_back(directory, std::move(fd));
    return kErrorSuccess;
  }

  // Gives the tree of `root`, re-reading its file when it changed since this process saw it.
  long load(registry_root root, key_node*& tree) {
    root_cache& cache = state().roots[root_index(root)];
    std::filesystem::path path = file_of(root);
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
      if (errno != ENOENT && errno != ENOTDIR) return system_failure(path, errno);
      if (!cache.loaded || cache.exists) {
        cache = root_cache{};
        cache.loaded = true;
      }
      tree = &cache.tree;
      return kErrorSuccess;
    }
    if (!cache.loaded || !cache.exists || cache.signature != signature_of(st)) {
      if (long rc = reload(root, path, cache)) return rc;
    }
    if (!cache.parse_error.empty()) return fail(kErrorBadRegistryFile, cache.parse_error);
    tree = &cache.tree;
    return kErrorSuccess;
  }

  // Writes the tree of `root` to its file atomically, so that readers see either version whole,
  // then pins the new file (the directory lock keeps other writers out meanwhile).
  long save(registry_root root) {
    root_cache& cache = state().roots[root_index(root)];
    std::string text(reg_format::kHeader);
    text += "\n\n";
    reg_format::append_key(text, root, "", cache.tree);

    std::filesystem::path path = file_of(root);
    std::error_code ec;
    if (!replace_file(path, text, ec)) return forget(cache, system_failure(path, ec.value()));
    unique_fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat st {};
    if (!fd.valid() || ::fstat(fd.get(), &st) != 0) return forget(cache, system_failure(path, errno));
    cache.exists = true;
    cache.signature = signature_of(st);
    cache.pin = std::move(fd);
    return kErrorSuccess;
  }

  // Forgets the cached tree of `root`, so that the next operation reads its file again.
  void discard(registry_root root) { forget(state().roots[root_index(root)], kErrorSuccess); }

 private:
  // The folder of `root` now; a cached tree read from another folder is dropped.
  static std::filesystem::path directory_of(registry_root root) {
    std::filesystem::path directory = registry_directory(root);
    store_state& store = state();
    if (store.directories[root_index(root)] != directory) {
      store.directories[root_index(root)] = directory;
      store.roots[root_index(root)] = root_cache{};
    }
    return directory;
  }

  static std::filesystem::path file_of(registry_root root) {
    return directory_of(root) / (std::string(root_name(root)) + ".reg");
  }

  // Drops a tree that no longer matches its file, so that the next operation reads the file.
  static long forget(root_cache& cache, long rc) {
    cache = root_cache{};
    return rc;
  }

  long reload(registry_root root, const std::filesystem::path& path, root_cache& cache) {
    cache = root_cache{};
    unique_fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.valid()) return system_failure(path, errno);
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) return system_failure(path, errno);
    std::string bytes;
    if (long rc = read_file(path, fd.get(), bytes)) return rc;

    cache.loaded = true;
    cache.exists = true;
    cache.signature = signature_of(st);
    cache.pin = std::move(fd);
    reg_format::document document;
    if (!reg_format::parse(bytes, path.string(), document, cache.parse_error)) return kErrorSuccess;
    for (const auto& section : document.sections) {
      if (section.root != root) {
        cache.parse_error = path.string() + ":" + std::to_string(section.line) + ": key of " +
                            std::string(root_name(section.root)) + " in the file of " +
                            std::string(root_name(root));
        return kErrorSuccess;
      }
      apply_section(cache.tree, section);
    }
    return kErrorSuccess;
  }

  std::unique_lock<std::mutex> guard_;
  // The folders locked for writing; closing a descriptor releases its lock, before the mutex.
  std::vector<std::pair<std::filesystem::path, unique_fd>> locks_;
};

// Runs `op(tree)` on the current tree of `root`.
template <typename Op>
long read_store(registry_root root, Op&& op) {
  store_session session;
  key_node* tree = nullptr;
  if (long rc = session.load(root, tree)) return rc;
  return op(*tree);
}

// Runs `op(tree, changed)` under the write lock and saves the tree when it changed.
template <typename Op>
long write_store(registry_root root, Op&& op) {
  store_session session;
  if (long rc = session.lock_for_write(root)) return rc;
  key_node* tree = nullptr;
  if (long rc = session.load(root, tree)) return rc;
  bool changed = false;
  long rc = op(*tree, changed);
  if (rc != kErrorSuccess || !changed) return rc;
  return session.save(root);
}

}  // namespace

std::string_view root_name(registry_root root) {
  switch (root) {
    case registry_root::local_machine:
      return "HKEY_LOCAL_MACHINE";
    case registry_root::current_user:
      return "HKEY_CURRENT_USER";
    case registry_root::classes_root:
      return "HKEY_CLASSES_ROOT";
  }
  return "";
}

bool parse_key_path(std::string_view full_path, registry_root& root, std::string& sub_path) {
  // "/" separates only in a path without backslashes: key names may contain "/" ("text/plain").
  std::string path(full_path);
  if (path.find('\\') == std::string::npos) std::replace(path.begin(), path.end(), '/', '\\');
  std::size_t separator = path.find('\\');
  if (!reg_format::parse_root_name(std::string_view(path).substr(0, separator), root)) return false;
  sub_path = separator == std::string::npos ? std::string() : path.substr(separator + 1);
  return true;
}

std::filesystem::path system_registry_directory() {
  if (const char* dir = std::getenv("OPOS_SYSTEM_REGISTRY_DIR"); dir != nullptr && *dir != '\0') return dir;
  return KIT_SYSTEM_REGISTRY_DIR;
}

std::filesystem::path registry_directory(registry_root root) {
  if (const char* dir = std::getenv("OPOS_REGISTRY_DIR"); dir != nullptr && *dir != '\0') return dir;
  return root == registry_root::current_user ? registry_directory() : system_registry_directory();
}

registry_directory_override::registry_directory_override(const std::optional<std::string>& dir) {
  if (!dir) return;
  active_ = true;
  if (const char* previous = std::getenv("OPOS_REGISTRY_DIR")) previous_ = previous;
  ::setenv("OPOS_REGISTRY_DIR", dir->c_str(), 1);
}

registry_directory_override::~registry_directory_override() {
  if (!active_) return;
  if (previous_) {
    ::setenv("OPOS_REGISTRY_DIR", previous_->c_str(), 1);
  } else {
    ::unsetenv("OPOS_REGISTRY_DIR");
  }
}

std::filesystem::path registry_directory() {
  if (const char* dir = std::getenv("OPOS_REGISTRY_DIR"); dir != nullptr && *dir != '\0') return dir;
  if (const char* config = std::getenv("XDG_CONFIG_HOME"); config != nullptr && *config == '/') {
    return std::filesystem::path(config) / "poskit" / "registry";
  }
  std::filesystem::path home;
  if (const char* env = std::getenv("HOME"); env != nullptr && *env != '\0') {
    home = env;
  } else {
    struct passwd entry {};
    struct passwd* found = nullptr;
    char buffer[4096];
    if (::getpwuid_r(::getuid(), &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr) {
      home = found->pw_dir;
    }
  }
  return home / ".config" / "poskit" / "registry";
}

std::string registry_last_error() { return t_last_error; }

long registry_key::open(registry_root root, std::string_view sub_path, registry_key& out) {
  std::vector<std::string> path;
  if (split_key_path(sub_path, path) != kErrorSuccess) return kErrorInvalidParameter;
  long rc = read_store(root, [&](key_node& tree) {
    return find_key(tree, path) != nullptr ? kErrorSuccess : kErrorFileNotFound;
  });
  if (rc != kErrorSuccess) return rc;
  out.root_ = root;
  out.path_ = join_key_path(path);
  out.open_ = true;
  return kErrorSuccess;
}

long registry_key::create(registry_root root, std::string_view sub_path, registry_key& out, bool* created) {
  std::vector<std::string> path;
  if (split_key_path(sub_path, path) != kErrorSuccess) return kErrorInvalidParameter;
  bool is_new = false;
  long rc = write_store(root, [&](key_node& tree, bool& changed) {
    create_key(tree, path, is_new);
    changed = is_new;
    return kErrorSuccess;
  });
  if (rc != kErrorSuccess) return rc;
  if (created != nullptr) *created = is_new;
  out.root_ = root;
  out.path_ = join_key_path(path);
  out.open_ = true;
  return kErrorSuccess;
}

long registry_key::open(std::string_view sub_path, registry_key& out) const {
  if (!open_) return kErrorInvalidHandle;
  std::vector<std::string> base, below;
  split_key_path(path_, base);
  if (split_key_path(sub_path, below) != kErrorSuccess) return kErrorInvalidParameter;
  long rc = read_store(root_, [&](key_node& tree) {
    key_node* key = find_key(tree, base);
    if (key == nullptr) return kErrorKeyDeleted;
    return find_key(*key, below) != nullptr ? kErrorSuccess : kErrorFileNotFound;
  });
  if (rc != kErrorSuccess) return rc;
  base.insert(base.end(), below.begin(), below.end());
  out.root_ = root_;
  out.path_ = join_key_path(base);
  out.open_ = true;
  return kErrorSuccess;
}

long registry_key::create(std::string_view sub_path, registry_key& out, bool* created) const {
  if (!open_) return kErrorInvalidHandle;
  std::vector<std::string> base, below;
  split_key_path(path_, base);
  if (split_key_path(sub_path, below) != kErrorSuccess || base.size() + below.size() > reg_format::kMaxKeyDepth) {
    return kErrorInvalidParameter;
  }
  bool is_new = false;
  long rc = write_store(root_, [&](key_node& tree, bool& changed) {
    key_node* key = find_key(tree, base);
    if (key == nullptr) return kErrorKeyDeleted;
    create_key(*key, below, is_new);
    changed = is_new;
    return kErrorSuccess;
  });
  if (rc != kErrorSuccess) return rc;
  if (created != nullptr) *created = is_new;
  base.insert(base.end(), below.begin(), below.end());
  out.root_ = root_;
  out.path_ = join_key_path(base);
  out.open_ = true;
  return kErrorSuccess;
}

void registry_key::close() {
  open_ = false;
  path_.clear();
}

namespace {

// Runs `op(key)` on the key that `handle` names, or says why it cannot.
template <typename Op>
long read_key(const registry_key& handle, Op&& op) {
  if (!handle.is_open()) return kErrorInvalidHandle;
  std::vector<std::string> path;
  split_key_path(handle.path(), path);
  return read_store(handle.root(), [&](key_node& tree) {
    key_node* key = find_key(tree, path);
    return key != nullptr ? op(*key) : kErrorKeyDeleted;
  });
}

// Runs `op(tree, key, changed)` under the write lock and saves what changed.
template <typename Op>
long write_key(const registry_key& handle, Op&& op) {
  if (!handle.is_open()) return kErrorInvalidHandle;
  std::vector<std::string> path;
  split_key_path(handle.path(), path);
  return write_store(handle.root(), [&](key_node& tree, bool& changed) {
    key_node* key = find_key(tree, path);
    return key != nullptr ? op(tree, *key, changed) : kErrorKeyDeleted;
  });
}

// Reads a value of `type` into `out`.
long query_typed(const registry_key& handle, std::string_view name, registry_type type,
                 std::vector<std::uint8_t>& out) {
  return read_key(handle, [&](key_node& key) {
    const value* item = find_value(key, name);
    if (item == nullptr) return kErrorFileNotFound;
    if (item->type != type) return kErrorInvalidData;
    out = item->data;
    return kErrorSuccess;
  });
}

}  // namespace

long registry_key::query_value(std::string_view name, registry_type* type, void* data,
                               std::uint32_t* size) const {
  if (data != nullptr && size == nullptr) return kErrorInvalidParameter;
  return read_key(*this, [&](key_node& key) {
    const value* item = find_value(key, name);
    if (item == nullptr) return kErrorFileNotFound;
    if (type != nullptr) *type = item->type;
    if (size == nullptr) return kErrorSuccess;
    std::vector<std::uint8_t> bytes = raw_bytes(*item);
    auto needed = static_cast<std::uint32_t>(bytes.size());
    if (data != nullptr && *size < needed) {
      *size = needed;
      return kErrorMoreData;
    }
    if (data != nullptr && !bytes.empty()) std::memcpy(data, bytes.data(), bytes.size());
    *size = needed;
    return kErrorSuccess;
  });
}

long registry_key::query_string(std::string_view name, std::string& out) const {
  std::vector<std::uint8_t> bytes;
  long rc = query_typed(*this, name, registry_type::string, bytes);
  if (rc == kErrorSuccess) out.assign(bytes.begin(), bytes.end());
  return rc;
}

long registry_key::query_dword(std::string_view name, std::uint32_t& out) const {
  std::vector<std::uint8_t> bytes;
  long rc = query_typed(*this, name, registry_type::dword, bytes);
  if (rc == kErrorSuccess) {
    out = bytes[0] | (bytes[1] << 8) | (bytes[2] << 16) | (static_cast<std::uint32_t>(bytes[3]) << 24);
  }
  return rc;
}

long registry_key::query_binary(std::string_view name, std::vector<std::uint8_t>& out) const {
  return query_typed(*this, name, registry_type::binary, out);
}

long registry_key::query_multi_string(std::string_view name, std::vector<std::string>& out) const {
  std::vector<std::uint8_t> bytes;
  long rc = query_typed(*this, name, registry_type::multi_string, bytes);
  if (rc != kErrorSuccess) return rc;
  // Items end with NUL; an empty item is the list's terminator.
  out.clear();
  std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  while (!text.empty()) {
    std::size_t end = text.find('\0');
    if (end == 0) break;
    out.emplace_back(text.substr(0, end));
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return kErrorSuccess;
}

long registry_key::set_value(std::string_view name, registry_type type, const void* data, std::uint32_t size) {
  if (!open_) return kErrorInvalidHandle;
  if (!reg_format::is_valid_value_name(name) || (data == nullptr && size != 0)) return kErrorInvalidParameter;
  if (type == registry_type::dword && size != 4) return kErrorInvalidParameter;
  value item;
  item.name = std::string(name);
  item.type = type;
  const auto* first = static_cast<const std::uint8_t*>(data);
  if (size != 0) item.data.assign(first, first + size);
  if (reg_format::is_text_type(type)) {
    std::string_view text(reinterpret_cast<const char*>(item.data.data()), item.data.size());
    if (!reg_format::is_valid_utf8(text)) return kErrorInvalidParameter;
    // A string ends at its first NUL, whether or not the caller counted it.
    if (type == registry_type::string) item.data.resize(std::min(item.data.size(), text.find('\0')));
  }
  return write_key(*this, [&](key_node&, key_node& key, bool& changed) {
    changed = put_value(key, item);
    return kErrorSuccess;
  });
}

long registry_key::set_string(std::string_view name, std::string_view value) {
  return set_value(name, registry_type::string, value.data(), static_cast<std::uint32_t>(value.size()));
}

long registry_key::set_dword(std::string_view name, std::uint32_t value) {
  std::uint8_t bytes[4] = {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
                           static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
  return set_value(name, registry_type::dword, bytes, 4);
}

long registry_key::set_binary(std::string_view name, std::span<const std::uint8_t> value) {
  return set_value(name, registry_type::binary, value.data(), static_cast<std::uint32_t>(value.size()));
}

long registry_key::set_multi_string(std::string_view name, const std::vector<std::string>& value) {
  std::string bytes;
  for (const auto& item : value) {
    // An empty item or an embedded NUL would end the list early.
    if (item.empty() || item.find('\0') != std::string::npos) return kErrorInvalidParameter;
    bytes += item;
    bytes += '\0';
  }
  bytes += '\0';
  return set_value(name, registry_type::multi_string, bytes.data(), static_cast<std::uint32_t>(bytes.size()));
}

long registry_key::delete_value(std::string_view name) {
  return write_key(*this, [&](key_node&, key_node& key, bool& changed) {
    value* item = find_value(key, name);
    if (item == nullptr) return kErrorFileNotFound;
    key.values.erase(key.values.begin() + (item - key.values.data()));
    changed = true;
    return kErrorSuccess;
  });
}

long registry_key::delete_subkey(std::string_view sub_path) {
  std::vector<std::string> base, below;
  split_key_path(path_, base);
  if (split_key_path(sub_path, below) != kErrorSuccess) return kErrorInvalidParameter;
  return write_key(*this, [&](key_node& tree, key_node& key, bool& changed) {
    // An empty path names this key itself; the root cannot go.
    std::vector<std::string> full = base;
    full.insert(full.end(), below.begin(), below.end());
    if (full.empty()) return kErrorAccessDenied;
    key_node* target = below.empty() ? &key : find_key(key, below);
    if (target == nullptr) return kErrorFileNotFound;
    if (!target->subkeys.empty()) return kErrorAccessDenied;
    std::string last = full.back();
    full.pop_back();
    remove_subkey(*find_key(tree, full), last);
    changed = true;
    return kErrorSuccess;
  });
}

long registry_key::delete_tree(std::string_view sub_path) {
  std::vector<std::string> below;
  if (split_key_path(sub_path, below) != kErrorSuccess) return kErrorInvalidParameter;
  return write_key(*this, [&](key_node&, key_node& key, bool& changed) {
    if (below.empty()) {
      changed = !key.values.empty() || !key.subkeys.empty();
      key.values.clear();
      key.subkeys.clear();
      return kErrorSuccess;
    }
    std::string last = below.back();
    below.pop_back();
    key_node* parent = find_key(key, below);
    if (parent == nullptr || !remove_subkey(*parent, last)) return kErrorFileNotFound;
    changed = true;
    return kErrorSuccess;
  });
}

long registry_key::enum_subkey(std::uint32_t index, std::string& name) const {
  return read_key(*this, [&](key_node& key) {
    if (index >= key.subkeys.size()) return kErrorNoMoreItems;
    name = key.subkeys[index]->name;
    return kErrorSuccess;
  });
}

long registry_key::enum_value(std::uint32_t index, std::string& name, registry_type* type,
                              std::vector<std::uint8_t>* data) const {
  return read_key(*this, [&](key_node& key) {
    if (index >= key.values.size()) return kErrorNoMoreItems;
    const value& item = key.values[index];
    name = item.name;
    if (type != nullptr) *type = item.type;
    if (data != nullptr) *data = raw_bytes(item);
    return kErrorSuccess;
  });
}

long registry_key::query_info(std::uint32_t* subkeys, std::uint32_t* values) const {
  return read_key(*this, [&](key_node& key) {
    if (subkeys != nullptr) *subkeys = static_cast<std::uint32_t>(key.subkeys.size());
    if (values != nullptr) *values = static_cast<std::uint32_t>(key.values.size());
    return kErrorSuccess;
  });
}

long import_reg_file(const std::filesystem::path& file) {
  unique_fd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.valid()) {
    int error_number = errno;
    long rc = system_failure(file, error_number);
    return error_number == ENOENT ? kErrorFileNotFound : rc;
  }
  std::string bytes;
  if (long rc = read_file(file, fd.get(), bytes)) return rc;
  return import_reg_text(bytes, file.string());
}

long import_reg_text(std::string_view text, std::string_view source_name) {
  reg_format::document document;
  std::string error;
  if (!reg_format::parse(text, source_name, document, error)) return fail(kErrorBadRegistryFile, error);

  // Every root the file touches must be writable and readable before anything is written.
  store_session session;
  std::array<bool, 3> touched{};
  for (const auto& section : document.sections) touched[root_index(section.root)] = true;
  for (std::size_t i = 0; i < touched.size(); ++i) {
    if (!touched[i]) continue;
    if (long rc = session.lock_for_write(static_cast<registry_root>(i))) return rc;
  }
  std::array<key_node*, 3> trees{};
  for (const auto& section : document.sections) {
    key_node*& tree = trees[root_index(section.root)];
    if (tree == nullptr) {
      if (long rc = session.load(section.root, tree)) return rc;
    }
  }
  std::array<bool, 3> changed{};
  for (const auto& section : document.sections) {
    changed[root_index(section.root)] |= apply_section(*trees[root_index(section.root)], section);
  }
  long result = kErrorSuccess;
  for (std::size_t i = 0; i < changed.size(); ++i) {
    if (!changed[i]) continue;
    // After a failed save, the other changed trees no longer match their files either.
    if (result != kErrorSuccess) {
      session.discard(static_cast<registry_root>(i));
    } else {
      result = session.save(static_cast<registry_root>(i));
    }
  }
  return result;
}

long export_reg_text(registry_root root, std::string_view sub_path, std::string& out) {
  std::vector<std::string> path;
  if (split_key_path(sub_path, path) != kErrorSuccess) return kErrorInvalidParameter;
  return read_store(root, [&](key_node& tree) {
    // Sections carry the names as stored, whatever case the caller used.
    std::string stored_path;
    key_node* key = &tree;
    for (const auto& name : path) {
      key = find_subkey(*key, name);
      if (key == nullptr) return kErrorFileNotFound;
      if (!stored_path.empty()) stored_path += '\\';
      stored_path += key->name;
    }
    out = std::string(reg_format::kHeader) + "\n\n";
    reg_format::append_key(out, root, stored_path, *key);
    return kErrorSuccess;
  });
}

}  // namespace platform
