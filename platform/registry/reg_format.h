// The .reg text format: parsing a file into sections and writing a key tree back as text. The
// store keeps its own files in this format, and import and export use it too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry.h"

namespace platform::reg_format {

// A named value. A REG_SZ value holds its text without the terminating NUL; every other type
// holds the bytes that a raw read returns.
struct value {
  std::string name;
  registry_type type = registry_type::none;
  std::vector<std::uint8_t> data;
};

// A key with its values and subkeys, both in creation order.
struct key_node {
  std::string name;
  std::vector<value> values;
  std::vector<std::unique_ptr<key_node>> subkeys;
};

// One value line of a section: a value to set, or one to delete ("name"=-).
struct entry {
  value item;
  bool remove = false;
};

// One section: "[KEY]" with its value lines, or "[-KEY]", which deletes the key's tree.
struct section {
  registry_root root = registry_root::local_machine;
  std::vector<std::string> path;  // key names below the root
  bool remove = false;
  std::vector<entry> entries;
  std::size_t line = 0;  // line of the section header, 1-based
};

struct document {
  std::vector<section> sections;
};

// First line of every file written here; "REGEDIT4" is read too.
inline constexpr std::string_view kHeader = "Windows Registry Editor Version 5.00";

// Parses the bytes of a .reg file: UTF-8 with or without a byte-order mark, or UTF-16LE with
// one. An empty file is an empty document. On failure returns false and sets `error` to
// "SOURCE:LINE: reason".
bool parse(std::string_view bytes, std::string_view source, document& out, std::string& error);

// Appends the sections of `key`, named `path` below `root` ("" for the root itself), and of
// everything below it: parents first, subkeys in creation order, each section followed by a
// blank line. A root without values gets no section of its own.
void append_key(std::string& out, registry_root root, std::string_view path, const key_node& key);

// Root of a root key's name: the full name or HKLM / HKCU / HKCR, in any case.
bool parse_root_name(std::string_view name, registry_root& root);

// True when `text` is well-formed UTF-8 (no overlong forms, no surrogates, nothing past U+10FFFF).
bool is_valid_utf8(std::string_view text);
// Deepest key below a root: a path of more names is refused (by the file parser with its line,
// by the store with kErrorInvalidParameter), so that no file or tree can grow without bound.
inline constexpr std::size_t kMaxKeyDepth = 512;

// A key name: 1 to 255 bytes of UTF-8 without backslash, NUL or line break.
bool is_valid_key_name(std::string_view name);
// A value name: UTF-8 without NUL or line break ("" is the default value).
bool is_valid_value_name(std::string_view name);
// REG_SZ, REG_EXPAND_SZ and REG_MULTI_SZ hold UTF-8 text; the file spells the last two as UTF-16LE.
bool is_text_type(registry_type type);

}  // namespace platform::reg_format
