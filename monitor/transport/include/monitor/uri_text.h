// Small text helpers for reading device URIs and their options, shared by the URI parser and the
// transports that read options of their own (sim:).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace monitor::uri_text {

// `text` in lower case, byte by byte (std::tolower).
std::string lower(std::string_view text);

// `text` in single quotes for error messages: 'COM1' (not "quoted": lookup would meet std::quoted).
std::string in_quotes(std::string_view text);

// Which number forms parse_number takes.
enum class number_form { decimal, decimal_or_hex };  // hex as 0x.. or 0X..

// A whole number within [low, high] written in `form`, or nothing.
std::optional<int> parse_number(std::string_view text, int low, int high,
                                number_form form = number_form::decimal);

// The non-empty items of `text` between any of the `separators` ("a+b&&c" by "+&": a, b, c).
std::vector<std::string_view> split_items(std::string_view text, std::string_view separators);

}  // namespace monitor::uri_text
