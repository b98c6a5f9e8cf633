// Profile (INI) files: a line classifier shared by the readers and the editor, the readers, and
// the edits that rewrite a file line by line while keeping everything they do not change.
#include "platform/profile.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <tuple>

#include "platform/replace_file.h"
#include "platform/case_path.h"

namespace platform {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kBom = "\xEF\xBB\xBF";
constexpr std::string_view kBlanks = " \t";

std::string_view trim(std::string_view text) {
  const auto first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) {
    return {};
  }
  const auto last = text.find_last_not_of(kBlanks);
  return text.substr(first, last - first + 1);
}

std::string_view trim_right(std::string_view text) {
  const auto last = text.find_last_not_of(kBlanks);
  return last == std::string_view::npos ? std::string_view() : text.substr(0, last + 1);
}

bool names_equal(std::string_view a, std::string_view b) {
  a = trim(a);
  b = trim(b);
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    auto lower = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c; };
    return lower(static_cast<unsigned char>(x)) == lower(static_cast<unsigned char>(y));
  });
}

// The first `count` characters (UTF-8 code points) of `text`.
std::string_view first_chars(std::string_view text, std::size_t count) {
  std::size_t chars = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const bool starts_char = (static_cast<unsigned char>(text[i]) & 0xC0) != 0x80;
    if (starts_char && chars++ == count) {
      return text.substr(0, i);
    }
  }
  return text;
}

std::size_t char_count(std::string_view text) {
  return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
    return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  }));
}

enum class line_kind { blank, comment, section, entry, other };

struct line_info {
  line_kind kind = line_kind::blank;
  std::string_view text;   // the line without surrounding blanks
  std::string_view name;   // section name or key, trimmed
  std::string_view value;  // entry value, trimmed, quotes kept
};

line_info classify(std::string_view raw) {
  line_info info;
  info.text = trim(raw);
  if (info.text.empty()) {
    return info;
  }
  if (info.text.front() == ';') {
    info.kind = line_kind::comment;
    return info;
  }
  if (info.text.front() == '[') {
    const auto close = info.text.find(']');
    if (close != std::string_view::npos) {
      info.kind = line_kind::section;
      info.name = trim(info.text.substr(1, close - 1));
      return info;
    }
  }
  const auto equals = info.text.find('=');
  if (equals == std::string_view::npos) {
    info.kind = line_kind::other;
    return info;
  }
  info.kind = line_kind::entry;
  info.name = trim(info.text.substr(0, equals));
  info.value = trim(info.text.substr(equals + 1));
  return info;
}

std::string_view unquote(std::string_view value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front()) {
    return value.substr(1, value.size() - 2);
  }
  return value;
}

// A file split into lines, each with its own line end, so that it can be written back unchanged
// apart from the lines an edit touches.
struct ini_document {
  std::string bom;
  std::vector<std::string> lines;
  std::vector<std::string> ends;  // "\n", "\r\n", "\r" (old Mac files), or "" for a last line without one

  static ini_document parse(std::string_view content) {
    ini_document doc;
    if (content.starts_with(kBom)) {
      doc.bom = kBom;
      content.remove_prefix(kBom.size());
    }
    while (!content.empty()) {
      // A line ends at LF, CR LF or a lone CR, so that files of every platform read as they look.
      const auto brk = content.find_first_of("\r\n");
      const std::string_view line = content.substr(0, brk);
      std::string end;
      if (brk == std::string_view::npos) {
        content = {};
      } else {
        const bool crlf = content[brk] == '\r' && brk + 1 < content.size() && content[brk + 1] == '\n';
        end = crlf ? "\r\n" : std::string(1, content[brk]);
        content.remove_prefix(brk + end.size());
      }
      doc.lines.emplace_back(line);
      doc.ends.push_back(std::move(end));
    }
    return doc;
  }

  std::string text() const {
    std::string out = bom;
    for (std::size_t i = 0; i < lines.size(); ++i) {
      out += lines[i];
      out += ends[i];
    }
    return out;
  }

  // The line end new lines get: the file's own, else the system's.
  std::string line_end() const {
    const auto it = std::find_if(ends.begin(), ends.end(), [](const std::string& e) { return !e.empty(); });
    return it == ends.end() ? "\n" : *it;
  }

  void insert(std::size_t index, std::string line) {
    const std::string end = line_end();
    if (index > 0 && ends[index - 1].empty()) {
      ends[index - 1] = end;
    }
    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(index), std::move(line));
    ends.insert(ends.begin() + static_cast<std::ptrdiff_t>(index), end);
  }

  void erase(std::size_t first, std::size_t last) {
    lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(first), lines.begin() + static_cast<std::ptrdiff_t>(last));
    ends.erase(ends.begin() + static_cast<std::ptrdiff_t>(first), ends.begin() + static_cast<std::ptrdiff_t>(last));
  }

  // [header, end) of the first section named `section` at or after line `from`; npos when none.
  std::pair<std::size_t, std::size_t> find_section(std::string_view section, std::size_t from = 0) const {
    std::size_t header = std::string::npos;
    for (std::size_t i = from; i < lines.size(); ++i) {
      const line_info info = classify(lines[i]);
      if (info.kind != line_kind::section) {
        continue;
      }
      if (header != std::string::npos) {
        return {header, i};
      }
      if (names_equal(info.name, section)) {
        header = i;
      }
    }
    return {header, lines.size()};
  }
};

// The whole file, or nothing when it cannot be read.
std::optional<std::string> read_file(const fs::path& file) {
  std::ifstream in(resolve_case_insensitive(file), std::ios::binary);
  if (!in) {
    return std::nullopt;
  }
  std::ostringstream content;
  content << in.rdbuf();
  return std::move(content).str();
}

// The raw value of the first matching key of the first matching section, if any.
std::optional<std::string> find_value(std::string_view section, std::string_view key, const fs::path& file) {
  const auto content = read_file(file);
  if (!content) {
    return std::nullopt;
  }
  const ini_document doc = ini_document::parse(*content);
  const auto [header, end] = doc.find_section(section);
  if (header == std::string::npos) {
    return std::nullopt;
  }
  for (std::size_t i = header + 1; i < end; ++i) {
    const line_info info = classify(doc.lines[i]);
    if (info.kind == line_kind::entry && names_equal(info.name, key)) {
      return std::string(unquote(info.value));
    }
  }
  return std::nullopt;
}

bool fail(std::error_code* error, std::error_code reason) {
  if (error != nullptr) {
    *error = reason;
  }
  errno = reason.value();
  return false;
}

bool has_line_break(std::string_view text) { return text.find_first_of("\r\n") != std::string_view::npos; }

bool valid_section(std::string_view section) {
  return !has_line_break(section) && section.find(']') == std::string_view::npos;
}

bool valid_key(std::string_view key) {
  key = trim(key);
  return !key.empty() && !has_line_break(key) && key.find('=') == std::string_view::npos &&
         key.front() != ';' && key.front() != '[';
}

// Reads the file (an existing case variant of it, or a new file), lets `change` edit it, and writes
// it back atomically when `change` reports a change. `change` gets whether the file existed.
bool edit_file(const fs::path& file, std::error_code* error,
               const std::function<bool(ini_document&, bool existed)>& change) {
  fs::path target = resolve_case_insensitive(file);
  std::error_code ec;
  // Edit the file a link points to rather than replacing the link.
  if (fs::is_symlink(target, ec)) {
    const fs::path resolved = fs::canonical(target, ec);
    if (!ec) {
      target = resolved;
    }
  }
  ini_document doc;
  bool existed = false;
  {
    std::ifstream in(target, std::ios::binary);
    if (in) {
      std::ostringstream content;
      content << in.rdbuf();
      doc = ini_document::parse(content.str());
      existed = true;
    } else if (fs::exists(fs::symlink_status(target, ec))) {
      return fail(error, std::make_error_code(std::errc::permission_denied));
    }
  }
  if (!change(doc, existed)) {
    if (error != nullptr) {
      error->clear();
    }
    return true;
  }
  if (!replace_file(target, doc.text(), ec)) {
    return fail(error, ec);
  }
  if (error != nullptr) {
    error->clear();
  }
  return true;
}

}  // namespace

std::string get_profile_string(std::string_view section, std::string_view key, std::string_view default_value,
                               const fs::path& file, std::size_t max_chars) {
  if (max_chars == 0) {
    return {};
  }
  const auto value = find_value(section, key, file);
  const std::string_view text = value ? std::string_view(*value) : trim_right(default_value);
  return std::string(first_chars(text, max_chars - 1));
}

int get_profile_int(std::string_view section, std::string_view key, int default_value, const fs::path& file) {
  const auto value = find_value(section, key, file);
  if (!value || value->empty()) {
    return default_value;
  }
  std::string_view text = *value;
  text.remove_prefix(std::min(text.find_first_not_of(kBlanks), text.size()));
  bool negative = false;
  if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  // Unsigned arithmetic wraps like the platform's result instead of overflowing.
  std::uint32_t result = 0;
  const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X') &&
                   std::isxdigit(static_cast<unsigned char>(text[2]));
  if (hex) {
    for (const char c : text.substr(2)) {
      const int digit = c >= '0' && c <= '9'   ? c - '0'
                        : c >= 'a' && c <= 'f' ? c - 'a' + 10
                        : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                               : -1;
      if (digit < 0) {
        break;
      }
      result = result * 16U + static_cast<std::uint32_t>(digit);
    }
  } else {
    for (const char c : text) {
      if (c < '0' || c > '9') {
        break;
      }
      result = result * 10U + static_cast<std::uint32_t>(c - '0');
    }
  }
  if (negative) {
    result = 0U - result;
  }
  return static_cast<int>(result);
}

std::vector<std::string> get_profile_section(std::string_view section, const fs::path& file, std::size_t max_chars) {
  std::vector<std::string> entries;
  const auto content = read_file(file);
  if (!content) {
    return entries;
  }
  const ini_document doc = ini_document::parse(*content);
  const auto [header, end] = doc.find_section(section);
  if (header == std::string::npos) {
    return entries;
  }
  // Room for the entries, each ended by a NUL, before the list's final NUL.
  std::size_t room = max_chars > 0 ? max_chars - 1 : 0;
  for (std::size_t i = header + 1; i < end; ++i) {
    const line_info info = classify(doc.lines[i]);
    if (info.kind != line_kind::entry && info.kind != line_kind::other) {
      continue;
    }
    if (max_chars == 0) {
      entries.emplace_back(info.text);
      continue;
    }
    const std::size_t needed = char_count(info.text) + 1;
    if (needed <= room) {
      entries.emplace_back(info.text);
      room -= needed;
      continue;
    }
    if (room > 1) {
      entries.emplace_back(first_chars(info.text, room - 1));
    }
    break;
  }
  return entries;
}

std::vector<std::string> get_profile_section_names(const fs::path& file) {
  std::vector<std::string> names;
  const auto content = read_file(file);
  if (!content) {
    return names;
  }
  const ini_document doc = ini_document::parse(*content);
  for (const auto& line : doc.lines) {
    const line_info info = classify(line);
    if (info.kind == line_kind::section &&
        std::none_of(names.begin(), names.end(), [&info](const std::string& n) { return names_equal(n, info.name); })) {
      names.emplace_back(info.name);
    }
  }
  return names;
}

bool write_profile_string(std::string_view section, std::string_view key, std::optional<std::string_view> value,
                          const fs::path& file, std::error_code* error) {
  if (!value) {
    return delete_profile_key(section, key, file, error);
  }
  if (!valid_section(section) || !valid_key(key) || has_line_break(*value)) {
    return fail(error, std::make_error_code(std::errc::invalid_argument));
  }
  return edit_file(file, error, [&](ini_document& doc, bool) {
    const auto [header, end] = doc.find_section(section);
    if (header == std::string::npos) {
      // A new section goes at the end, after a blank line when the file does not end with one.
      if (!doc.lines.empty() && !trim(doc.lines.back()).empty()) {
        doc.insert(doc.lines.size(), "");
      }
      doc.insert(doc.lines.size(), "[" + std::string(trim(section)) + "]");
      doc.insert(doc.lines.size(), std::string(trim(key)) + "=" + std::string(*value));
      return true;
    }
    std::size_t last_entry = header;
    for (std::size_t i = header + 1; i < end; ++i) {
      const line_info info = classify(doc.lines[i]);
      if (info.kind == line_kind::entry && names_equal(info.name, key)) {
        doc.lines[i] = std::string(info.name) + "=" + std::string(*value);
        return true;
      }
      if (info.kind == line_kind::entry || info.kind == line_kind::other) {
        last_entry = i;
      }
    }
    doc.insert(last_entry + 1, std::string(trim(key)) + "=" + std::string(*value));
    return true;
  });
}

bool delete_profile_key(std::string_view section, std::string_view key, const fs::path& file, std::error_code* error) {
  if (!valid_section(section) || !valid_key(key)) {
    return fail(error, std::make_error_code(std::errc::invalid_argument));
  }
  return edit_file(file, error, [&](ini_document& doc, bool existed) {
    if (!existed) {
      return false;
    }
    const auto [header, end] = doc.find_section(section);
    if (header == std::string::npos) {
      return false;
    }
    bool changed = false;
    for (std::size_t i = end; i-- > header + 1;) {
      const line_info info = classify(doc.lines[i]);
      if (info.kind == line_kind::entry && names_equal(info.name, key)) {
        doc.erase(i, i + 1);
        changed = true;
      }
    }
    return changed;
  });
}

bool delete_profile_section(std::string_view section, const fs::path& file, std::error_code* error) {
  if (!valid_section(section)) {
    return fail(error, std::make_error_code(std::errc::invalid_argument));
  }
  return edit_file(file, error, [&](ini_document& doc, bool existed) {
    if (!existed) {
      return false;
    }
    bool changed = false;
    for (auto [header, end] = doc.find_section(section); header != std::string::npos;
         std::tie(header, end) = doc.find_section(section, header)) {
      doc.erase(header, end);
      changed = true;
    }
    return changed;
  });
}

}  // namespace platform
