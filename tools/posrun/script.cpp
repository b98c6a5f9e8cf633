// Parsing of posrun script lines: a small tokenizer for names, integers, strings, '=' and ','.
#include "script.h"

#include <cstdint>

#include "platform/com.h"

namespace posrun {
namespace {

using platform::equal_ignoring_case;

bool is_blank(char c) { return c == ' ' || c == '\t'; }
bool is_name_start(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; }
bool is_name_char(char c) { return is_name_start(c) || (c >= '0' && c <= '9'); }
// Characters that may follow a token.
bool ends_token(std::string_view s, std::size_t i) {
  return i >= s.size() || is_blank(s[i]) || s[i] == ',' || s[i] == '#' || s[i] == '=';
}

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

enum class token_kind { end, name, number, text, equals, comma };

struct token {
  token_kind kind = token_kind::end;
  std::string text;  // name or string bytes
  std::int32_t number = 0;
};

class tokenizer {
 public:
  explicit tokenizer(std::string_view line) : s_(line) {}

  // Reads the next token; false with `error` set for malformed input.
  bool next(token& out, std::string& error) {
    while (pos_ < s_.size() && is_blank(s_[pos_])) ++pos_;
    out = token{};
    if (pos_ >= s_.size() || s_[pos_] == '#') return true;
    const char c = s_[pos_];
    if (c == '=') return single(out, token_kind::equals);
    if (c == ',') return single(out, token_kind::comma);
    if (c == '"') return read_text(out, error);
    if (c == '-' || (c >= '0' && c <= '9')) return read_number(out, error);
    if (is_name_start(c)) {
      const std::size_t start = pos_;
      while (pos_ < s_.size() && is_name_char(s_[pos_])) ++pos_;
      out.kind = token_kind::name;
      out.text = std::string(s_.substr(start, pos_ - start));
      if (!ends_token(s_, pos_)) return fail(error, "unexpected character after " + out.text);
      return true;
    }
    return fail(error, std::string("unexpected character '") + c + "'");
  }

 private:
  bool single(token& out, token_kind kind) {
    out.kind = kind;
    ++pos_;
    return true;
  }
  static bool fail(std::string& error, std::string text) {
    error = std::move(text);
    return false;
  }

  // Decimal or 0x hexadecimal, with an optional minus; hexadecimal up to 0xFFFFFFFF keeps its
  // bits (0xFFFFFFFF is -1), decimal must fit a 32-bit signed integer.
  bool read_number(token& out, std::string& error) {
    const std::size_t start = pos_;
    const bool negative = s_[pos_] == '-';
    if (negative) ++pos_;
    const bool hex = pos_ + 1 < s_.size() && s_[pos_] == '0' && (s_[pos_ + 1] == 'x' || s_[pos_ + 1] == 'X');
    if (hex) pos_ += 2;
    const int base = hex ? 16 : 10;
    std::uint64_t magnitude = 0;
    std::size_t digits = 0;
    while (pos_ < s_.size()) {
      const int d = hex_digit(s_[pos_]);
      if (d < 0 || d >= base) break;
      magnitude = magnitude * static_cast<std::uint64_t>(base) + static_cast<std::uint64_t>(d);
      if (magnitude > 0xFFFFFFFFull) magnitude = 0x100000000ull;  // saturates: out of range below
      ++pos_;
      ++digits;
    }
    while (!ends_token(s_, pos_)) ++pos_;
    const std::string written(s_.substr(start, pos_ - start));
    if (digits == 0 || pos_ != start + (negative ? 1 : 0) + (hex ? 2 : 0) + digits) {
      return fail(error, "malformed number " + written);
    }
    std::int64_t number = 0;
    if (hex && !negative && magnitude <= 0xFFFFFFFFull) {
      number = static_cast<std::int32_t>(static_cast<std::uint32_t>(magnitude));
    } else {
      number = negative ? -static_cast<std::int64_t>(magnitude) : static_cast<std::int64_t>(magnitude);
      if (number < INT32_MIN || number > INT32_MAX) return fail(error, "number out of range " + written);
    }
    out.kind = token_kind::number;
    out.number = static_cast<std::int32_t>(number);
    return true;
  }

  bool read_text(token& out, std::string& error) {
    ++pos_;  // the opening quote
    std::string bytes;
    while (true) {
      if (pos_ >= s_.size()) return fail(error, "unterminated string");
      const char c = s_[pos_++];
      if (c == '"') break;
      if (c != '\\') {
        bytes += c;
        continue;
      }
      if (pos_ >= s_.size()) return fail(error, "unterminated string");
      const char e = s_[pos_++];
      switch (e) {
        case 'e': bytes += '\x1b'; break;
        case 'n': bytes += '\n'; break;
        case 'r': bytes += '\r'; break;
        case 't': bytes += '\t'; break;
        case '\\': bytes += '\\'; break;
        case '"': bytes += '"'; break;
        case 'x': {
          // One or two hexadecimal digits.
          int byte = 0;
          int count = 0;
          while (count < 2 && pos_ < s_.size() && hex_digit(s_[pos_]) >= 0) {
            byte = byte * 16 + hex_digit(s_[pos_++]);
            ++count;
          }
          if (count == 0) return fail(error, "\\x without hexadecimal digits");
          bytes += static_cast<char>(byte);
          break;
        }
        default: return fail(error, std::string("unknown escape \\") + e);
      }
    }
    if (!ends_token(s_, pos_)) return fail(error, "unexpected character after a string");
    out.kind = token_kind::text;
    out.text = std::move(bytes);
    return true;
  }

  std::string_view s_;
  std::size_t pos_ = 0;
};

value to_value(const token& t) {
  value v;
  v.is_text = t.kind == token_kind::text;
  v.number = t.number;
  v.text = t.text;
  return v;
}

bool is_value(const token& t) { return t.kind == token_kind::number || t.kind == token_kind::text; }

}  // namespace

bool parse_line(std::string_view line, statement& out, std::string& error) {
  out = statement{};
  tokenizer input(line);
  std::vector<token> tokens;
  while (true) {
    token t;
    if (!input.next(t, error)) return false;
    if (t.kind == token_kind::end) break;
    tokens.push_back(std::move(t));
  }
  if (tokens.empty()) return true;
  if (tokens[0].kind != token_kind::name) {
    error = "expected a member name";
    return false;
  }
  if (equal_ignoring_case(tokens[0].text, "after")) {
    if (tokens.size() < 3 || tokens[1].kind != token_kind::number || tokens[1].number < 0 ||
        tokens[2].kind != token_kind::name || equal_ignoring_case(tokens[2].text, "wait") ||
        equal_ignoring_case(tokens[2].text, "respond") || equal_ignoring_case(tokens[2].text, "after")) {
      error = "after takes a time in milliseconds and a call or a property write";
      return false;
    }
    out.after_ms = static_cast<std::uint32_t>(tokens[1].number);
    tokens.erase(tokens.begin(), tokens.begin() + 2);
  }
  const std::string& head = tokens[0].text;

  if (equal_ignoring_case(head, "wait")) {
    if (tokens.size() != 2 || tokens[1].kind != token_kind::number || tokens[1].number < 0) {
      error = "wait takes one time in milliseconds";
      return false;
    }
    out.kind = statement_kind::wait;
    out.wait_ms = static_cast<std::uint32_t>(tokens[1].number);
    return true;
  }
  if (equal_ignoring_case(head, "respond")) {
    if (tokens.size() != 3 || tokens[1].kind != token_kind::name ||
        !equal_ignoring_case(tokens[1].text, "ErrorEvent") || tokens[2].kind != token_kind::number) {
      error = "respond takes ErrorEvent and a number";
      return false;
    }
    out.kind = statement_kind::respond;
    out.member = "ErrorEvent";
    out.response = tokens[2].number;
    return true;
  }
  out.member = head;
  if (tokens.size() > 1 && tokens[1].kind == token_kind::equals) {
    if (tokens.size() != 3 || !is_value(tokens[2])) {
      error = "expected one value after =";
      return false;
    }
    out.kind = statement_kind::write;
    out.args.push_back(to_value(tokens[2]));
    return true;
  }
  // Arguments, separated by blanks or by single commas.
  bool after_comma = false;
  for (std::size_t i = 1; i < tokens.size(); ++i) {
    const token& t = tokens[i];
    if (t.kind == token_kind::comma) {
      if (out.args.empty() || after_comma) {
        error = "misplaced comma";
        return false;
      }
      after_comma = true;
      continue;
    }
    if (!is_value(t)) {
      error = t.kind == token_kind::equals ? "misplaced =" : "expected a number or a string, not " + t.text;
      return false;
    }
    out.args.push_back(to_value(t));
    after_comma = false;
  }
  if (after_comma) {
    error = "misplaced comma";
    return false;
  }
  out.kind = out.args.empty() ? statement_kind::read_or_call : statement_kind::call;
  return true;
}

}  // namespace posrun
