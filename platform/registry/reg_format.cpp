// The .reg text format: a line parser that turns a file into sections, and the writer that
// turns a key tree back into text that the parser (and the platform's own editor) reads.
#include "reg_format.h"

#include <array>
#include <cstdio>

namespace platform::reg_format {
namespace {

constexpr std::size_t kMaxKeyName = 255;
constexpr std::size_t kMaxValueName = 16383;
constexpr std::size_t kHexLineLimit = 76;  // exports break hex lists near this column

struct root_spelling {
  registry_root root;
  std::string_view full;
  std::string_view brief;
};

constexpr std::array<root_spelling, 3> kRootSpellings{{
    {registry_root::local_machine, "HKEY_LOCAL_MACHINE", "HKLM"},
    {registry_root::current_user, "HKEY_CURRENT_USER", "HKCU"},
    {registry_root::classes_root, "HKEY_CLASSES_ROOT", "HKCR"},
}};

char fold(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool iequals(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (fold(a[i]) != fold(b[i])) return false;
  }
  return true;
}

bool istarts_with(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && iequals(text.substr(0, prefix.size()), prefix);
}

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

std::string_view trim(std::string_view s) {
  while (!s.empty() && is_blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && is_blank(s.back())) s.remove_suffix(1);
  return s;
}

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads 1 to `max_digits` hex digits making up all of `text`.
bool parse_hex_number(std::string_view text, std::size_t max_digits, std::uint32_t& out) {
  if (text.empty() || text.size() > max_digits) return false;
  out = 0;
  for (char c : text) {
    int d = hex_digit(c);
    if (d < 0) return false;
    out = out * 16 + static_cast<std::uint32_t>(d);
  }
  return true;
}

void append_utf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// Decodes one UTF-8 sequence at `pos`; false for a malformed one.
bool next_code_point(std::string_view s, std::size_t& pos, char32_t& cp) {
  auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
  unsigned char lead = byte(pos);
  std::size_t length = 0;
  char32_t minimum = 0;
  if (lead < 0x80) {
    cp = lead;
    ++pos;
    return true;
  } else if ((lead & 0xE0) == 0xC0) {
    length = 2, cp = lead & 0x1F, minimum = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3, cp = lead & 0x0F, minimum = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4, cp = lead & 0x07, minimum = 0x10000;
  } else {
    return false;
  }
  if (pos + length > s.size()) return false;
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(pos + i) & 0xC0) != 0x80) return false;
    cp = (cp << 6) | (byte(pos + i) & 0x3F);
  }
  if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
  pos += length;
  return true;
}

// UTF-16LE to UTF-8; an unpaired surrogate becomes U+FFFD. `size` is even.
std::string utf16le_to_utf8(const std::uint8_t* p, std::size_t size) {
  std::string out;
  out.reserve(size / 2);
  for (std::size_t i = 0; i + 1 < size; i += 2) {
    char32_t unit = static_cast<char32_t>(p[i] | (p[i + 1] << 8));
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 3 < size) {
      char32_t low = static_cast<char32_t>(p[i + 2] | (p[i + 3] << 8));
      if (low >= 0xDC00 && low <= 0xDFFF) {
        append_utf8(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
        i += 2;
        continue;
      }
    }
    append_utf8(out, (unit >= 0xD800 && unit <= 0xDFFF) ? char32_t{0xFFFD} : unit);
  }
  return out;
}

// UTF-8 (already validated) to UTF-16LE bytes.
std::vector<std::uint8_t> utf8_to_utf16le(std::string_view text) {
  std::vector<std::uint8_t> out;
  out.reserve(text.size() * 2);
  auto put = [&](char32_t unit) {
    out.push_back(static_cast<std::uint8_t>(unit & 0xFF));
    out.push_back(static_cast<std::uint8_t>(unit >> 8));
  };
  std::size_t pos = 0;
  char32_t cp = 0;
  while (pos < text.size() && next_code_point(text, pos, cp)) {
    if (cp >= 0x10000) {
      put(0xD800 + ((cp - 0x10000) >> 10));
      put(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
      put(cp);
    }
  }
  return out;
}

// Reads a quoted string starting at s[pos] == '"'; only \\ and \" are escapes, any other
// backslash stands for itself. Leaves `pos` after the closing quote.
bool read_quoted(std::string_view s, std::size_t& pos, std::string& out) {
  out.clear();
  ++pos;
  while (pos < s.size()) {
    char c = s[pos++];
    if (c == '"') return true;
    if (c == '\\' && pos < s.size() && (s[pos] == '\\' || s[pos] == '"')) c = s[pos++];
    out += c;
  }
  return false;
}

// Parses "01,ab,ff" (a trailing comma allowed, blanks ignored).
bool parse_hex_list(std::string_view text, std::vector<std::uint8_t>& out, std::string& reason) {
  out.clear();
  text = trim(text);
  if (text.empty()) return true;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t comma = text.find(',', start);
    bool last = comma == std::string_view::npos;
    std::string_view item = trim(text.substr(start, last ? std::string_view::npos : comma - start));
    if (item.empty() && last && start > 0) break;  // trailing comma
    std::uint32_t byte = 0;
    if (!parse_hex_number(item, 2, byte)) {
      reason = "bad hex byte \"" + std::string(item) + "\"";
      return false;
    }
    out.push_back(static_cast<std::uint8_t>(byte));
    if (last) break;
    start = comma + 1;
  }
  return true;
}

// Turns the bytes of hex(N) data into a value of type N.
bool typed_hex_value(std::uint32_t type, std::vector<std::uint8_t> bytes, bool utf16, value& out,
                     std::string& reason) {
  out.type = static_cast<registry_type>(type);
  if (is_text_type(out.type)) {
    std::string text;
    if (utf16) {
      if (bytes.size() % 2 != 0) {
        reason = "UTF-16 text of hex(" + std::to_string(type) + ") has an odd number of bytes";
        return false;
      }
      text = utf16le_to_utf8(bytes.data(), bytes.size());
    } else {
      text.assign(bytes.begin(), bytes.end());
      if (!is_valid_utf8(text)) {
        reason = "text is not valid UTF-8";
        return false;
      }
    }
    // The string's own terminator is dropped; a NUL inside the text is data, as in a quoted
    // string, so that what the writer spells as hex(1) reads back whole.
    if (out.type == registry_type::string && text.ends_with('\0')) text.pop_back();
    out.data.assign(text.begin(), text.end());
    return true;
  }
  if (out.type == registry_type::dword && bytes.size() != 4) {
    reason = "hex(4) data needs exactly 4 bytes";
    return false;
  }
  out.data = std::move(bytes);
  return true;
}

// Line-by-line reader of a decoded (UTF-8) file.
class parser {
 public:
  parser(std::string_view text, std::string_view source) : source_(source) {
    std::size_t start = 0;
    while (start < text.size()) {
      std::size_t end = text.find('\n', start);
      if (end == std::string_view::npos) end = text.size();
      lines_.push_back(text.substr(start, end - start));
      start = end + 1;
    }
  }

  bool run(document& out, std::string& error) {
    bool have_header = false;
    section* current = nullptr;
    for (index_ = 0; index_ < lines_.size(); ++index_) {
      if (!is_valid_utf8(lines_[index_])) return fail("text is not valid UTF-8", error);
      std::string_view line = trim(lines_[index_]);
      if (line.empty()) continue;
      if (!have_header) {
        if (line == kHeader) {
          utf16_text_ = true;
        } else if (line != "REGEDIT4") {
          return fail("missing header \"" + std::string(kHeader) + "\"", error);
        }
        have_header = true;
        continue;
      }
      if (line.front() == ';') continue;
      if (line.front() == '[') {
        out.sections.emplace_back();
        current = &out.sections.back();
        if (!parse_section(line, *current)) return fail(reason_, error);
        continue;
      }
      if (line.front() == '"' || line.front() == '@') {
        if (current == nullptr) return fail("value outside a key section", error);
        entry item;
        if (!parse_value_line(line, item)) return fail(reason_, error);
        current->entries.push_back(std::move(item));
        continue;
      }
      return fail("unexpected text \"" + std::string(line.substr(0, 40)) + "\"", error);
    }
    return true;
  }

 private:
  bool fail(std::string reason, std::string& error) const {
    error = std::string(source_) + ":" + std::to_string(index_ + 1) + ": " + reason;
    return false;
  }

  bool reject(std::string reason) {
    reason_ = std::move(reason);
    return false;
  }

  bool parse_section(std::string_view line, section& out) {
    if (line.back() != ']') return reject("section header without closing ']'");
    std::string_view path = line.substr(1, line.size() - 2);
    out.line = index_ + 1;
    if (!path.empty() && path.front() == '-') {
      out.remove = true;
      path.remove_prefix(1);
    }
    std::size_t slash = path.find('\\');
    std::string_view root = path.substr(0, slash);
    if (!parse_root_name(root, out.root)) {
      return reject("unknown root key \"" + std::string(root) + "\"");
    }
    while (slash != std::string_view::npos) {
      std::size_t start = slash + 1;
      slash = path.find('\\', start);
      std::string_view name = path.substr(start, slash == std::string_view::npos ? slash : slash - start);
      if (!is_valid_key_name(name)) return reject("bad key name \"" + std::string(name) + "\"");
      if (out.path.size() == kMaxKeyDepth) {
        return reject("key nested deeper than " + std::to_string(kMaxKeyDepth) + " levels");
      }
      out.path.emplace_back(name);
    }
    if (out.remove && out.path.empty()) return reject("a root key cannot be deleted");
    return true;
  }

  bool parse_value_line(std::string_view line, entry& out) {
    std::size_t pos = 0;
    if (line.front() == '@') {
      pos = 1;
    } else if (!read_quoted(line, pos, out.item.name)) {
      return reject("unterminated value name");
    }
    if (!is_valid_value_name(out.item.name)) return reject("bad value name");
    while (pos < line.size() && is_blank(line[pos])) ++pos;
    if (pos >= line.size() || line[pos] != '=') return reject("expected '=' after the value name");
    std::string_view data = trim(line.substr(pos + 1));

    if (data == "-") {
      out.remove = true;
      return true;
    }
    if (!data.empty() && data.front() == '"') {
      std::size_t end = 0;
      std::string text;
      if (!read_quoted(data, end, text)) return reject("unterminated string");
      if (!trim(data.substr(end)).empty()) return reject("unexpected text after the string");
      out.item.type = registry_type::string;
      out.item.data.assign(text.begin(), text.end());
      return true;
    }
    if (istarts_with(data, "dword:")) {
      std::uint32_t number = 0;
      if (!parse_hex_number(data.substr(6), 8, number)) return reject("bad dword value");
      out.item.type = registry_type::dword;
      out.item.data = {static_cast<std::uint8_t>(number), static_cast<std::uint8_t>(number >> 8),
                       static_cast<std::uint8_t>(number >> 16), static_cast<std::uint8_t>(number >> 24)};
      return true;
    }
    if (istarts_with(data, "hex")) return parse_hex_value(data.substr(3), out.item);
    return reject("unknown value data \"" + std::string(data.substr(0, 40)) + "\"");
  }

  // `rest` follows "hex": ":01,02" or "(7):61,00".
  bool parse_hex_value(std::string_view rest, value& out) {
    std::uint32_t type = static_cast<std::uint32_t>(registry_type::binary);
    if (!rest.empty() && rest.front() == '(') {
      std::size_t close = rest.find(')');
      if (close == std::string_view::npos || !parse_hex_number(rest.substr(1, close - 1), 8, type)) {
        return reject("bad hex(type) prefix");
      }
      rest.remove_prefix(close + 1);
    }
    if (rest.empty() || rest.front() != ':') return reject("expected ':' after hex");
    std::string list(trim(rest.substr(1)));

    // A trailing backslash continues the list on the next line.
    while (!list.empty() && list.back() == '\\') {
      list.pop_back();
      if (++index_ >= lines_.size()) {
        --index_;
        return reject("file ends inside a continued hex list");
      }
      list += trim(lines_[index_]);
    }
    std::vector<std::uint8_t> bytes;
    if (!parse_hex_list(list, bytes, reason_)) return false;
    return typed_hex_value(type, std::move(bytes), utf16_text_, out, reason_);
  }

  std::string_view source_;
  std::vector<std::string_view> lines_;
  std::size_t index_ = 0;
  bool utf16_text_ = false;  // version 5 files spell hex(1), hex(2) and hex(7) text as UTF-16LE
  std::string reason_;
};

void append_escaped(std::string& out, std::string_view text) {
  for (char c : text) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
}

void append_hex_list(std::string& out, std::size_t line_start, const std::vector<std::uint8_t>& bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    out += kDigits[bytes[i] >> 4];
    out += kDigits[bytes[i] & 0x0F];
    if (i + 1 == bytes.size()) break;
    out += ',';
    if (out.size() - line_start >= kHexLineLimit) {
      out += "\\\n  ";
      line_start = out.size() - 2;
    }
  }
}

void append_value(std::string& out, const value& item) {
  std::size_t line_start = out.size();
  if (item.name.empty()) {
    out += '@';
  } else {
    out += '"';
    append_escaped(out, item.name);
    out += '"';
  }
  out += '=';

  std::string_view text(reinterpret_cast<const char*>(item.data.data()), item.data.size());
  bool one_line_text = text.find_first_of("\r\n") == std::string_view::npos;
  if (item.type == registry_type::string && one_line_text) {
    out += '"';
    append_escaped(out, text);
    out += '"';
  } else if (item.type == registry_type::dword && item.data.size() == 4) {
    char digits[9];
    std::uint32_t number = item.data[0] | (item.data[1] << 8) | (item.data[2] << 16) |
                           (static_cast<std::uint32_t>(item.data[3]) << 24);
    std::snprintf(digits, sizeof digits, "%08x", number);
    out += "dword:";
    out += digits;
  } else if (item.type == registry_type::binary) {
    out += "hex:";
    append_hex_list(out, line_start, item.data);
  } else {
    char prefix[24];
    std::snprintf(prefix, sizeof prefix, "hex(%x):", static_cast<unsigned>(item.type));
    out += prefix;
    if (is_text_type(item.type)) {
      // Text types travel as UTF-16LE; a REG_SZ written this way carries its terminator.
      std::vector<std::uint8_t> units = utf8_to_utf16le(text);
      if (item.type == registry_type::string) units.insert(units.end(), {0, 0});
      append_hex_list(out, line_start, units);
    } else {
      append_hex_list(out, line_start, item.data);
    }
  }
  out += '\n';
}

}  // namespace

bool parse_root_name(std::string_view name, registry_root& root) {
  for (const auto& spelling : kRootSpellings) {
    if (iequals(name, spelling.full) || iequals(name, spelling.brief)) {
      root = spelling.root;
      return true;
    }
  }
  return false;
}

bool is_valid_utf8(std::string_view text) {
  std::size_t pos = 0;
  char32_t cp = 0;
  while (pos < text.size()) {
    if (!next_code_point(text, pos, cp)) return false;
  }
  return true;
}

bool is_valid_key_name(std::string_view name) {
  return !name.empty() && name.size() <= kMaxKeyName &&
         name.find_first_of(std::string_view("\\\r\n\0", 4)) == std::string_view::npos && is_valid_utf8(name);
}

bool is_valid_value_name(std::string_view name) {
  return name.size() <= kMaxValueName &&
         name.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos && is_valid_utf8(name);
}

bool is_text_type(registry_type type) {
  return type == registry_type::string || type == registry_type::expand_string || type == registry_type::multi_string;
}

bool parse(std::string_view bytes, std::string_view source, document& out, std::string& error) {
  out.sections.clear();
  std::string decoded;
  if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
      static_cast<unsigned char>(bytes[1]) == 0xFE) {
    if (bytes.size() % 2 != 0) {
      error = std::string(source) + ":1: UTF-16 file has an odd number of bytes";
      return false;
    }
    decoded = utf16le_to_utf8(reinterpret_cast<const std::uint8_t*>(bytes.data()) + 2, bytes.size() - 2);
    bytes = decoded;
  } else if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFE &&
             static_cast<unsigned char>(bytes[1]) == 0xFF) {
    error = std::string(source) + ":1: UTF-16 big-endian files are not supported";
    return false;
  } else if (bytes.substr(0, 3) == "\xEF\xBB\xBF") {
    bytes.remove_prefix(3);
  }
  return parser(bytes, source).run(out, error);
}

void append_key(std::string& out, registry_root root, std::string_view path, const key_node& key) {
  std::string name(root_name(root));
  if (!path.empty()) {
    name += '\\';
    name += path;
  }
  if (!path.empty() || !key.values.empty()) {
    out += '[';
    out += name;
    out += "]\n";
    for (const value& item : key.values) append_value(out, item);
    out += '\n';
  }
  for (const auto& subkey : key.subkeys) {
    std::string sub_path(path);
    if (!sub_path.empty()) sub_path += '\\';
    sub_path += subkey->name;
    append_key(out, root, sub_path, *subkey);
  }
}

}  // namespace platform::reg_format
