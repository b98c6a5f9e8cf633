// Helpers for the virtual printer's tests: byte strings from hex, hex dumps, a manual clock and
// reading bar widths off the paper.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "vprinter/bitmap.h"
#include "vprinter/virtual_printer.h"

namespace vprinter::test {

// Bytes from hex pairs separated by blanks, e.g. "1B 40".
inline std::string bytes(std::string_view hex) {
  std::string out;
  unsigned v = 0;
  int digits = 0;
  for (char c : hex) {
    int d = c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
    if (d < 0) continue;
    v = v * 16 + static_cast<unsigned>(d);
    if (++digits == 2) {
      out += static_cast<char>(v);
      v = 0;
      digits = 0;
    }
  }
  return out;
}

inline std::string hex(std::string_view b) {
  std::string out;
  char buf[4];
  for (std::size_t i = 0; i < b.size(); ++i) {
    std::snprintf(buf, sizeof buf, "%s%02X", i ? " " : "", static_cast<unsigned char>(b[i]));
    out += buf;
  }
  return out;
}

// Compares byte strings and shows both in hex when they differ.
inline ::testing::AssertionResult same_bytes(std::string_view actual, std::string_view expected) {
  if (actual == expected) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "\n  got      [" << hex(actual) << "]\n  expected [" << hex(expected) << "]";
}

// A clock the test moves by hand.
struct manual_clock {
  std::shared_ptr<std::uint64_t> now = std::make_shared<std::uint64_t>(1000);
  std::function<std::uint64_t()> fn() const {
    auto p = now;
    return [p] { return *p; };
  }
  void advance(std::uint64_t ms) const { *now += ms; }
};

// A printer configured for tests: fonts from the system folder when present, a manual clock.
inline config test_config(const manual_clock& clock) {
  config c;
  c.clock_ms = clock.fn();
  return c;
}

// Sends bytes and returns every answer byte queued by them.
inline std::string talk(virtual_printer& p, std::string_view data) {
  auto r = p.accept(data);
  EXPECT_EQ(r.accepted, data.size());
  return p.read(1u << 20).bytes;
}

// Widths of the black and white runs along row `y`, starting at the first black dot.
inline std::vector<int> runs_along_row(const bitmap& b, int y) {
  std::vector<int> out;
  int x = 0;
  while (x < b.width() && !b.get(x, y)) ++x;
  int last_black = b.width() - 1;
  while (last_black > x && !b.get(last_black, y)) --last_black;
  while (x <= last_black) {
    const bool black = b.get(x, y);
    int n = 0;
    while (x <= last_black && b.get(x, y) == black) {
      ++n;
      ++x;
    }
    out.push_back(n);
  }
  return out;
}

// Widths of the black and white runs down column `x`, starting at the first black dot.
inline std::vector<int> runs_along_column(const bitmap& b, int x) {
  bitmap column(b.height(), 1);
  for (int y = 0; y < b.height(); ++y) column.set(y, 0, b.get(x, y));
  return runs_along_row(column, 0);
}

// The first row from `from` down whose dots are mostly in bar-like runs (a row through bars).
inline int first_row_with_runs(const bitmap& b, int from, int min_runs) {
  for (int y = from; y < b.height(); ++y)
    if (static_cast<int>(runs_along_row(b, y).size()) >= min_runs) return y;
  return -1;
}

}  // namespace vprinter::test
