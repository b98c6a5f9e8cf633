// Profile (INI) files: values, whole sections and section names read with the platform's matching,
// trimming, default and buffer rules, and keys and sections written or deleted atomically.
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace platform {

// Section and key names match case-insensitively (ASCII); the first matching section is the one
// used, and the first matching key in it. Lines starting with ";" are comments. Files are UTF-8,
// with or without a byte-order mark, with LF or CRLF line ends. A file that does not exist under
// its exact name is looked for case-insensitively (see case_path.h).

// The value of `key`: blanks around it trimmed and one pair of matching surrounding quotes
// (" or ') removed. When the file, section or key is missing, `default_value` without its trailing
// blanks. Cut to max_chars - 1 characters, as a buffer of max_chars including its NUL holds
// (0 gives ""). Characters are UTF-8 code points.
std::string get_profile_string(std::string_view section, std::string_view key,
                               std::string_view default_value, const std::filesystem::path& file,
                               std::size_t max_chars);

// The value of `key` as an integer: leading blanks, an optional sign, then decimal digits or
// "0x" and hex digits, up to the first other character ("12abc" is 12, "abc" is 0). A missing key
// or an empty value gives `default_value`. Wraps modulo 2^32 like the platform's unsigned result.
int get_profile_int(std::string_view section, std::string_view key, int default_value,
                    const std::filesystem::path& file);

// The lines of a section in file order, each trimmed, blank lines and comments skipped
// ("key=value" as written). With max_chars > 0, only what a buffer of that many characters holds
// as NUL-ended entries followed by one more NUL: the entry that does not fit is cut.
std::vector<std::string> get_profile_section(std::string_view section,
                                             const std::filesystem::path& file,
                                             std::size_t max_chars = 0);

// The names of the sections in file order; a name repeated later in the file is listed once.
std::vector<std::string> get_profile_section_names(const std::filesystem::path& file);

// Sets `key` in `section` to `value`, creating the file and the section when missing. The first
// matching key keeps its place and spelling and gets the new value; a new key is added after the
// last entry of the section. Other lines, comments, blank lines, line ends and the byte-order mark
// stay as they are. std::nullopt deletes the key instead. The file is replaced atomically and keeps
// its permission bits. False on failure, with the reason in *error (and errno): a name holding a
// line break, "]" in a section or "=" in a key is std::errc::invalid_argument.
bool write_profile_string(std::string_view section, std::string_view key,
                          std::optional<std::string_view> value, const std::filesystem::path& file,
                          std::error_code* error = nullptr);

// Deletes every entry of `key` in the first matching section; true when there was nothing to delete.
bool delete_profile_key(std::string_view section, std::string_view key,
                        const std::filesystem::path& file, std::error_code* error = nullptr);

// Deletes every section named `section` with all its lines; true when there was none.
bool delete_profile_section(std::string_view section, const std::filesystem::path& file,
                            std::error_code* error = nullptr);

}  // namespace platform
