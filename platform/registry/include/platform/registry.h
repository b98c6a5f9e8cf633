// The kit's registry: keys with typed values under three roots, persisted as text files in the
// .reg export format, one file per root: the machine's roots shared by every user, the user's
// own root per user (see registry_directory).
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// Result codes of registry operations: the platform's numeric error codes, which utilities show.
inline constexpr long kErrorSuccess = 0;
inline constexpr long kErrorFileNotFound = 2;        // key or value does not exist
inline constexpr long kErrorAccessDenied = 5;        // store not writable; key with subkeys deleted alone
inline constexpr long kErrorInvalidHandle = 6;       // operation on a key that is not open
inline constexpr long kErrorInvalidData = 13;        // value of another type than asked for
inline constexpr long kErrorInvalidParameter = 87;   // bad key path or value size
inline constexpr long kErrorMoreData = 234;          // caller's buffer too small; size holds what is needed
inline constexpr long kErrorNoMoreItems = 259;       // enumeration index past the end
inline constexpr long kErrorBadRegistryFile = 1009;  // a store file cannot be parsed (see registry_last_error)
inline constexpr long kErrorRegistryIo = 1016;       // reading, locking or writing a store file failed
inline constexpr long kErrorKeyDeleted = 1018;       // the open key was deleted meanwhile

enum class registry_root { local_machine, current_user, classes_root };

// Value types, numbered as the platform numbers them.
enum class registry_type : std::uint32_t {
  none = 0,
  string = 1,        // REG_SZ: UTF-8 text
  expand_string = 2, // REG_EXPAND_SZ: UTF-8 text with %VARIABLE% references, kept as given
  binary = 3,        // REG_BINARY
  dword = 4,         // REG_DWORD: 32-bit little-endian
  multi_string = 7,  // REG_MULTI_SZ: strings each ended by NUL, then one more NUL
};

// "HKEY_LOCAL_MACHINE", "HKEY_CURRENT_USER" or "HKEY_CLASSES_ROOT".
std::string_view root_name(registry_root root);

// Splits "HKEY_LOCAL_MACHINE\SOFTWARE\X" (or HKLM\..., HKCU\..., HKCR\...; case-insensitive;
// "/" accepted as a separator in a path without backslashes, since key names may contain "/")
// into its root and the path below it. False for an unknown root.
bool parse_key_path(std::string_view full_path, registry_root& root, std::string& sub_path);

// The user's folder (HKEY_CURRENT_USER): $OPOS_REGISTRY_DIR when set, else
// $XDG_CONFIG_HOME/poskit/registry, else ~/.config/poskit/registry.
std::filesystem::path registry_directory();
// The machine's folder (HKEY_LOCAL_MACHINE, HKEY_CLASSES_ROOT), shared by every user:
// $OPOS_SYSTEM_REGISTRY_DIR when set, else the folder chosen at build time (KIT_SYSTEM_REGISTRY_DIR,
// /etc/poskit/registry by default). Writing it takes the right to write there; without it a
// write gives kErrorAccessDenied and changes nothing.
std::filesystem::path system_registry_directory();
// Folder holding the file of `root`: $OPOS_REGISTRY_DIR for every root when set (a private
// store, as tests and demos use), else the machine's folder for HKEY_LOCAL_MACHINE and
// HKEY_CLASSES_ROOT and the user's for HKEY_CURRENT_USER.
std::filesystem::path registry_directory(registry_root root);

// Points the registry at the folder `dir` ($OPOS_REGISTRY_DIR) for the life of the object and
// puts the previous setting back afterwards; does nothing without a folder. For a program's
// "--registry DIR" option.
class registry_directory_override {
 public:
  explicit registry_directory_override(const std::optional<std::string>& dir);
  ~registry_directory_override();
  registry_directory_override(const registry_directory_override&) = delete;
  registry_directory_override& operator=(const registry_directory_override&) = delete;

 private:
  bool active_ = false;
  std::optional<std::string> previous_;
};

// Text of the last failure on this thread that has more to say than its code (a store file's
// path and line for kErrorBadRegistryFile, the system's reason for kErrorRegistryIo).
std::string registry_last_error();

// An open key. Names of keys and values are case-insensitive and keep the case they were created
// with; the empty value name is the key's default value. Every operation sees what other
// processes have written before it, and every write reaches the file before it returns.
class registry_key {
 public:
  registry_key() = default;

  // Opens an existing key; kErrorFileNotFound when it does not exist.
  static long open(registry_root root, std::string_view sub_path, registry_key& out);
  // Opens a key, creating it and any missing parents; `created` tells whether it was new.
  static long create(registry_root root, std::string_view sub_path, registry_key& out,
                     bool* created = nullptr);
  // The same, relative to this key.
  long open(std::string_view sub_path, registry_key& out) const;
  long create(std::string_view sub_path, registry_key& out, bool* created = nullptr) const;

  bool is_open() const { return open_; }
  registry_root root() const { return root_; }
  // Path below the root, with the case it was opened with ("" for the root itself).
  const std::string& path() const { return path_; }
  // Forgets the key; later operations give kErrorInvalidHandle.
  void close();

  // Reads a value as raw bytes, as the platform does. When `data` is null, `size` receives the
  // size needed; when *size is too small, returns kErrorMoreData with *size set to the size
  // needed. A string's size counts its terminating NUL. `type` and `data` may be null.
  long query_value(std::string_view name, registry_type* type, void* data,
                   std::uint32_t* size) const;
  // Typed reads; kErrorInvalidData when the value has another type.
  long query_string(std::string_view name, std::string& out) const;
  long query_dword(std::string_view name, std::uint32_t& out) const;
  long query_binary(std::string_view name, std::vector<std::uint8_t>& out) const;
  long query_multi_string(std::string_view name, std::vector<std::string>& out) const;

  // Writes a value from raw bytes in the platform's layout for `type`.
  long set_value(std::string_view name, registry_type type, const void* data, std::uint32_t size);
  long set_string(std::string_view name, std::string_view value);
  long set_dword(std::string_view name, std::uint32_t value);
  long set_binary(std::string_view name, std::span<const std::uint8_t> value);
  long set_multi_string(std::string_view name, const std::vector<std::string>& value);

  long delete_value(std::string_view name);
  // Deletes a subkey that has no subkeys of its own (kErrorAccessDenied otherwise).
  long delete_subkey(std::string_view sub_path);
  // Deletes a subkey with everything below it; an empty path empties this key.
  long delete_tree(std::string_view sub_path);

  // Enumerates by index in creation order; kErrorNoMoreItems past the end.
  long enum_subkey(std::uint32_t index, std::string& name) const;
  long enum_value(std::uint32_t index, std::string& name, registry_type* type = nullptr,
                  std::vector<std::uint8_t>* data = nullptr) const;
  // Counts of direct subkeys and values; either pointer may be null.
  long query_info(std::uint32_t* subkeys, std::uint32_t* values) const;

 private:
  registry_root root_ = registry_root::local_machine;
  std::string path_;
  bool open_ = false;
};

// Merges a .reg file ("Windows Registry Editor Version 5.00", or the older "REGEDIT4") into the
// store: [KEY] creates, [-KEY] deletes a tree, "name"=- deletes a value. Nothing is written when
// the file cannot be parsed (kErrorBadRegistryFile; registry_last_error gives path and line).
long import_reg_file(const std::filesystem::path& file);
long import_reg_text(std::string_view text, std::string_view source_name = "<text>");

// Writes a key and everything below it as .reg text, parents before children.
long export_reg_text(registry_root root, std::string_view sub_path, std::string& out);

}  // namespace platform
