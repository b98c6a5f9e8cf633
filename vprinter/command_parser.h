// A table-driven parser for byte-stream command sets: it finds each command by its prefix, works
// out its length from the bytes seen so far, and keeps partial commands across writes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace vprinter::detail {

class machine;

// Returns the whole length of the command that starts `bytes` (prefix included), or 0 while more
// bytes are needed to tell.
using length_fn = std::size_t (*)(std::string_view bytes);
// Executes a complete command (or a run of printable text).
using run_fn = void (*)(machine& m, std::string_view bytes);

// One command of a command set.
struct command_row {
  std::string_view prefix;  // bytes that identify the command
  std::string_view name;    // e.g. "ESC @"
  length_fn length;
  run_fn run;
};

// What to do with a byte that starts no command of the set.
enum class stray_policy { log_unknown, drop };

// A command set: its rows, what to do with printable bytes (0x20 and above), and with strays.
struct command_set {
  std::span<const command_row> rows;
  run_fn text;  // null: printable bytes are dropped
  stray_policy strays;
  std::string_view label;  // put before remarks in the log, e.g. "display: "
};

// Fixed-length commands: the whole length including the prefix.
template <std::size_t Total>
constexpr std::size_t fixed(std::string_view) {
  return Total;
}

class command_parser {
 public:
  // Commands longer than this are skipped rather than kept (their data is counted, not stored).
  static constexpr std::size_t kMaxCommandBytes = 8u << 20;

  explicit command_parser(const command_set& set) : set_(&set), index_(index_for(set)) {}

  // Parses `bytes`, running every command completed; `offset` is the stream position of bytes[0].
  // Stops early, right after a command that sets the machine's stop_feeding; returns the number
  // of bytes consumed.
  std::size_t feed(machine& m, std::string_view bytes, std::uint64_t offset);
  // Forgets a partial command.
  void reset();
  // True while a command has started but is not complete.
  bool mid_command() const { return !pending_.empty() || skip_ > 0; }
  // The command set in use; switching keeps nothing of a partial command.
  void use(const command_set& set) {
    if (set_ != &set) reset();
    set_ = &set;
    index_ = index_for(set);
  }

 private:
  // The rows of a command set by the first bytes of their prefix, so that matching a byte looks
  // only at the rows it can start (a receipt's stream is mostly short commands).
  struct prefix_index {
    const command_set* set = nullptr;
    std::vector<const command_row*> unprefixed;          // rows with an empty prefix match any bytes
    std::array<const command_row*, 256> single{};        // the first one-byte row of each byte
    std::array<bool, 256> longer{};                      // a longer prefix starts with the byte
    std::unordered_map<std::uint16_t, std::vector<const command_row*>> by_two;  // longer prefixes
  };
  const prefix_index* index_for(const command_set& set);

  const command_set* set_;
  std::vector<std::shared_ptr<const prefix_index>> indexes_;  // one per set this parser has used
  const prefix_index* index_;
  std::string pending_;              // bytes of the command being collected
  const command_row* row_ = nullptr;  // its row once known
  std::size_t need_ = 0;              // its whole length once known
  std::size_t skip_ = 0;              // bytes still to skip of an oversized command
  std::uint64_t start_ = 0;           // stream position of the command's first byte

  // Matches the pending prefix: the row, or null with `more` telling whether to wait.
  const command_row* match(bool& more) const;
};

}  // namespace vprinter::detail
