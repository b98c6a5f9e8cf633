// Text helpers for device URIs and their options: case, quoting, numbers and item lists.
#include "monitor/uri_text.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace monitor::uri_text {

std::string lower(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return out;
}

std::string in_quotes(std::string_view text) { return "'" + std::string(text) + "'"; }

std::optional<int> parse_number(std::string_view text, int low, int high, number_form form) {
  int base = 10;
  if (form == number_form::decimal_or_hex && text.size() > 2 && text[0] == '0' &&
      (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
    base = 16;
  }
  int value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) return {};
  if (value < low || value > high) return {};
  return value;
}

std::vector<std::string_view> split_items(std::string_view text, std::string_view separators) {
  std::vector<std::string_view> items;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find_first_of(separators, start);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view item = text.substr(start, end - start);
    start = end + 1;
    if (!item.empty()) items.push_back(item);
  }
  return items;
}

}  // namespace monitor::uri_text
