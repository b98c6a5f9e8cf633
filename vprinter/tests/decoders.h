// Small bar code decoders for tests, written from the symbologies' published structure: they read
// widths (bars first) back into data and verify check characters.
#pragma once

#include <cstdlib>
#include <map>
#include <string>
#include <utility>
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

// Reads one EAN / UPC digit of four widths at `at`: the digit, and whether it is of the even (G)
// set (the odd set's widths reversed); -1 when the widths are no digit.
inline int ean_digit(const std::vector<int>& w, std::size_t at, bool& even) {
  std::string s;
  for (std::size_t k = 0; k < 4; ++k) s += static_cast<char>('0' + w[at + k]);
  for (int d = 0; d < 10; ++d) {
    const std::string& odd = kEanWidths[static_cast<std::size_t>(d)];
    even = s != odd;
    if (s == odd || s == std::string(odd.rbegin(), odd.rend())) return d;
  }
  return -1;
}

// Decodes EAN-8 (JAN-8) from module widths; empty when it does not decode.
inline std::string decode_ean8(const std::vector<int>& w) {
  if (w.size() != 43 || w[0] != 1 || w[1] != 1 || w[2] != 1) return {};
  std::string d;
  for (std::size_t i = 0; i < 8; ++i) {
    bool even = false;
    const int digit = ean_digit(w, (i < 4 ? 3 : 8) + i * 4, even);
    if (digit < 0 || even) return {};
    d += static_cast<char>('0' + digit);
  }
  int sum = 0;
  for (std::size_t i = 0; i < 7; ++i) sum += (d[i] - '0') * (i % 2 ? 1 : 3);
  return (10 - sum % 10) % 10 == d[7] - '0' ? d : std::string{};
}

// Decodes UPC-E from module widths to its eight digits (number system, six digits, check), the
// check verified on the UPC-A number it stands for; empty when it does not decode.
inline std::string decode_upce(const std::vector<int>& w) {
  if (w.size() != 33 || w[0] != 1 || w[1] != 1 || w[2] != 1) return {};
  // Parity of the six digits (E even, O odd) for check digits 0-9, number system 0; system 1 is
  // the mirror image.
  static const char* const kParity[10] = {"EEEOOO", "EEOEOO", "EEOOEO", "EEOOOE", "EOEEOO",
                                          "EOOEEO", "EOOOEE", "EOEOEO", "EOEOOE", "EOOEOE"};
  std::string six, parity;
  for (std::size_t i = 0; i < 6; ++i) {
    bool even = false;
    const int d = ean_digit(w, 3 + i * 4, even);
    if (d < 0) return {};
    six += static_cast<char>('0' + d);
    parity += even ? 'E' : 'O';
  }
  for (int ns = 0; ns <= 1; ++ns)
    for (int check = 0; check <= 9; ++check) {
      std::string p = kParity[check];
      if (ns == 1)
        for (char& c : p) c = c == 'E' ? 'O' : 'E';
      if (p != parity) continue;
      // Expand to UPC-A (manufacturer and product numbers) and verify the check digit.
      const char l = six[5];
      std::string body;
      if (l <= '2') body = six.substr(0, 2) + l + "0000" + six.substr(2, 3);
      else if (l == '3') body = six.substr(0, 3) + "00000" + six.substr(3, 2);
      else if (l == '4') body = six.substr(0, 4) + "00000" + six[4];
      else body = six.substr(0, 5) + "0000" + l;
      const std::string a11 = std::to_string(ns) + body;
      if (ean_check_of("0" + a11) != check) return {};
      return std::to_string(ns) + six + std::to_string(check);
    }
  return {};
}

// Decodes ITF from narrow/wide widths (1/2, bar first): pairs of digits, bars then spaces.
inline std::string decode_itf(const std::vector<int>& w) {
  static const char* const kDigits[10] = {"00110", "10001", "01001", "11000", "00101",
                                          "10100", "01100", "00011", "10010", "01010"};
  if (w.size() < 7 || (w.size() - 7) % 10 != 0) return {};
  if (w[0] != 1 || w[1] != 1 || w[2] != 1 || w[3] != 1) return {};
  const std::size_t end = w.size() - 3;
  if (w[end] != 2 || w[end + 1] != 1 || w[end + 2] != 1) return {};
  auto digit = [&](std::size_t at) {
    std::string p;
    for (std::size_t k = 0; k < 5; ++k) p += w[at + 2 * k] == 2 ? '1' : '0';
    for (int d = 0; d < 10; ++d)
      if (p == kDigits[d]) return static_cast<char>('0' + d);
    return '?';
  };
  std::string out;
  for (std::size_t at = 4; at < end; at += 10) {
    out += digit(at);
    out += digit(at + 1);
  }
  return out.find('?') == std::string::npos ? out : std::string{};
}

// Decodes CODABAR from narrow/wide widths (1/2, bar first, narrow gaps between characters),
// start and stop characters included; "?" when it does not decode.
inline std::string decode_codabar(const std::vector<int>& w) {
  // Characters and their bars and spaces as modules (wide = two modules), as published.
  static const std::pair<char, const char*> kModules[] = {
      {'0', "101010011"}, {'1', "101011001"}, {'2', "101001011"}, {'3', "110010101"},
      {'4', "101101001"}, {'5', "110101001"}, {'6', "100101011"}, {'7', "100101101"},
      {'8', "100110101"}, {'9', "110100101"}, {'-', "101001101"}, {'$', "101100101"},
      {':', "1101011011"}, {'/', "1101101011"}, {'.', "1101101101"}, {'+', "1011011011"},
      {'A', "1011001001"}, {'B', "1001001011"}, {'C', "1010010011"}, {'D', "1010011001"}};
  std::string out;
  std::size_t at = 0;
  while (at + 7 <= w.size()) {
    std::string m;
    for (std::size_t k = 0; k < 7; ++k) m += std::string(static_cast<std::size_t>(w[at + k]), k % 2 ? '0' : '1');
    char found = 0;
    for (const auto& [c, modules] : kModules)
      if (m == modules) found = c;
    if (!found) return "?";
    out += found;
    at += 8;
  }
  return at == w.size() + 1 ? out : "?";
}

// Decodes Code 93 from module widths: the values between start and stop, both check characters
// verified; empty when it does not decode.
inline std::vector<int> decode_code93(const std::vector<int>& w) {
  // Values 0-46 and the start / stop character as nine modules, as published.
  static const char* const kModules[48] = {
      "100010100", "101001000", "101000100", "101000010", "100101000", "100100100", "100100010",
      "101010000", "100010010", "100001010", "110101000", "110100100", "110100010", "110010100",
      "110010010", "110001010", "101101000", "101100100", "101100010", "100110100", "100011010",
      "101011000", "101001100", "101000110", "100101100", "100010110", "110110100", "110110010",
      "110101100", "110100110", "110010110", "110011010", "101101100", "101100110", "100110110",
      "100111010", "100101110", "111010100", "111010010", "111001010", "101101110", "101110110",
      "110101110", "100100110", "111011010", "111010110", "100110010", "101011110"};
  if (w.size() < 6 * 4 + 1 || (w.size() - 1) % 6 != 0 || w.back() != 1) return {};
  std::vector<int> values;
  for (std::size_t at = 0; at + 6 <= w.size(); at += 6) {
    std::string m;
    for (std::size_t k = 0; k < 6; ++k) m += std::string(static_cast<std::size_t>(w[at + k]), k % 2 ? '0' : '1');
    int v = -1;
    for (int i = 0; i < 48; ++i)
      if (m == kModules[i]) v = i;
    if (v < 0) return {};
    values.push_back(v);
  }
  if (values.front() != 47 || values.back() != 47) return {};
  values = std::vector<int>(values.begin() + 1, values.end() - 1);
  for (std::size_t checks = 2; checks >= 1; --checks) {
    const std::size_t n = values.size() - checks;  // values weighed for this check character
    const int limit = checks == 2 ? 20 : 15;
    int sum = 0;
    for (std::size_t i = 0; i < n; ++i) sum += values[n - 1 - i] * static_cast<int>(i % static_cast<std::size_t>(limit) + 1);
    if (sum % 47 != values[n]) return {};
  }
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
