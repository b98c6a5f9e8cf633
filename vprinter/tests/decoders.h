// Small bar code decoders for tests, written from the symbologies' published structure: they read
// widths (bars first) back into data and verify check characters.
#pragma once

#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "barcode.h"

namespace vprinter::detail {

// EAN / UPC digit widths (space, bar, space, bar for the left odd set), as published.
inline const std::vector<std::string> kEanWidths = {"3211", "2221", "2122", "1411", "1132",
                                             "1231", "1114", "1312", "1213", "3112"};
inline const std::map<std::string, int> kEanFirstDigit = {
    {"LLLLLL", 0}, {"LLGLGG", 1}, {"LLGGLG", 2}, {"LLGGGL", 3}, {"LGLLGG", 4},
    {"LGGLLG", 5}, {"LGGGLL", 6}, {"LGLGLG", 7}, {"LGLGGL", 8}, {"LGGLGL", 9}};

inline int ean_check_of(const std::string& d12) {
  int sum = 0;
  for (std::size_t i = 0; i < 12; ++i) sum += (d12[i] - '0') * (i % 2 ? 3 : 1);
  return (10 - sum % 10) % 10;
}

// Decodes EAN-13 from module widths (bar first); empty when it does not decode.
inline std::string decode_ean13(const std::vector<int>& w) {
  if (w.size() != 59) return {};
  auto digit = [&](std::size_t at, bool& even) -> int {
    std::string s;
    for (std::size_t k = 0; k < 4; ++k) s += static_cast<char>('0' + w[at + k]);
    for (int d = 0; d < 10; ++d) {
      if (s == kEanWidths[static_cast<std::size_t>(d)]) {
        even = false;
        return d;
      }
      std::string rev(kEanWidths[static_cast<std::size_t>(d)].rbegin(), kEanWidths[static_cast<std::size_t>(d)].rend());
      if (s == rev) {
        even = true;
        return d;
      }
    }
    return -1;
  };
  if (w[0] != 1 || w[1] != 1 || w[2] != 1) return {};
  std::string left, parity;
  for (int i = 0; i < 6; ++i) {
    bool even = false;
    const int d = digit(3 + static_cast<std::size_t>(i) * 4, even);
    if (d < 0) return {};
    left += static_cast<char>('0' + d);
    parity += even ? 'G' : 'L';
  }
  for (std::size_t k = 27; k < 32; ++k)
    if (w[k] != 1) return {};
  std::string right;
  for (int i = 0; i < 6; ++i) {
    bool even = false;
    const int d = digit(32 + static_cast<std::size_t>(i) * 4, even);
    if (d < 0 || even) return {};
    right += static_cast<char>('0' + d);
  }
  auto first = kEanFirstDigit.find(parity);
  if (first == kEanFirstDigit.end()) return {};
  std::string all = std::to_string(first->second) + left + right;
  if (ean_check_of(all.substr(0, 12)) != all[12] - '0') return {};
  return all;
}

// Decodes Code 39 from narrow/wide widths (1/2, bar first, narrow gaps between characters).
inline std::string decode_code39(const std::vector<int>& w) {
  std::string out;
  std::size_t at = 0;
  while (at + 9 <= w.size()) {
    std::string p;
    for (std::size_t k = 0; k < 9; ++k) p += w[at + k] == 2 ? '1' : '0';
    char found = 0;
    for (char c : std::string("0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ-. *$/+%"))
      if (code39_pattern(c) == p) found = c;
    if (!found) return "?";
    out += found;
    at += 10;  // nine elements and the gap
  }
  return at == w.size() + 1 ? out : "?";
}

// Decodes Code 128 from module widths: values between start and stop, check character verified.
inline std::vector<int> decode_code128(const std::vector<int>& w) {
  std::vector<int> values;
  std::size_t at = 0;
  while (at + 6 <= w.size()) {
    std::string p;
    const std::size_t len = at + 7 == w.size() ? 7 : 6;
    for (std::size_t k = 0; k < len; ++k) p += static_cast<char>('0' + w[at + k]);
    int v = -1;
    for (int i = 0; i <= 106; ++i)
      if (code128_pattern(i) == p) v = i;
    if (v < 0) return {};
    values.push_back(v);
    at += len;
  }
  if (values.size() < 3 || values.back() != 106) return {};
  int sum = values[0];
  for (std::size_t i = 1; i + 2 < values.size(); ++i) sum += static_cast<int>(i) * values[i];
  if (sum % 103 != values[values.size() - 2]) return {};
  return std::vector<int>(values.begin(), values.end() - 2);
}

// Turns dot widths into module widths for a module of `module` dots; empty when a width is not
// close to a whole number of modules.
inline std::vector<int> to_modules(const std::vector<int>& dots, int module) {
  std::vector<int> out;
  for (int d : dots) {
    const int m = (d + module / 2) / module;
    if (m < 1 || m > 4 || std::abs(d - m * module) > module / 2) return {};
    out.push_back(m);
  }
  return out;
}

// Turns dot widths into narrow (1) / wide (2) for two-width symbologies.
inline std::vector<int> to_narrow_wide(const std::vector<int>& dots, int narrow) {
  std::vector<int> out;
  for (int d : dots) out.push_back(d * 2 > narrow * 3 ? 2 : 1);
  return out;
}

}  // namespace vprinter::detail
