// The line language of posrun scripts: one control-object call, property read or write, wait or
// event answer per line.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace posrun {

// An argument or a property value: a 32-bit integer or a byte string.
struct value {
  bool is_text = false;
  std::int32_t number = 0;
  std::string text;  // bytes as written, escapes resolved

  friend bool operator==(const value&, const value&) = default;
};

enum class statement_kind {
  blank,         // empty or comment only
  read_or_call,  // a name alone: reads the property, or calls the method without arguments
  call,          // a name and arguments: calls the method
  write,         // Name = value
  wait,          // wait MS: dispatches messages (and so events) for MS milliseconds
  respond,       // respond ErrorEvent N: the error handler answers N from now on
};

// One parsed line.
struct statement {
  statement_kind kind = statement_kind::blank;
  std::string member;        // the member, or for respond the event name
  std::vector<value> args;   // call arguments, or the one value of a write
  std::uint32_t wait_ms = 0;
  std::int32_t response = 0;
  // "after MS <call or write>": the call or write is posted to run once MS milliseconds have
  // passed, whenever the thread dispatches messages (during a wait, or a call that pumps them
  // such as a running marquee); the line itself returns at once.
  std::optional<std::uint32_t> after_ms;
};

// Parses one line without its line end. Integers are decimal or 0x hexadecimal, optionally
// negative; strings are double-quoted with the escapes \e \n \r \t \\ \" \xHH; arguments are
// separated by blanks or commas; '#' outside a string starts a comment. "after MS" may precede a
// call, a property read or a property write. False with a reason in `error` when the line cannot
// be parsed.
bool parse_line(std::string_view line, statement& out, std::string& error);

}  // namespace posrun
