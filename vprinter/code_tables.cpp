// Character code tables: the Katakana table with its block and line graphics, the code pages the
// platform layer converts, and further single-byte code pages converted through iconv.
#include "code_tables.h"

#include <iconv.h>

#include <algorithm>
#include <string_view>

#include "platform/codepage.h"

namespace vprinter::detail {
namespace {

// ESC t numbers of the code pages the platform layer converts.
struct platform_row {
  int table;
  int codepage;
};
constexpr platform_row kPlatformTables[] = {
    {0, 437}, {2, 850}, {3, 860}, {4, 863}, {5, 865}, {16, 1252}, {17, 866}, {18, 852}, {19, 858},
};

// ESC t numbers of further code pages, by their iconv names.
struct iconv_row {
  int table;
  const char* name;
};
constexpr iconv_row kIconvTables[] = {
    {11, "IBM851"},  {13, "IBM857"},     {14, "CP737"},       {15, "ISO-8859-7"}, {33, "CP775"},
    {34, "IBM855"},  {35, "IBM861"},     {36, "IBM862"},      {37, "IBM864"},     {38, "IBM869"},
    {39, "ISO-8859-2"}, {40, "ISO-8859-15"}, {45, "CP1250"},  {46, "CP1251"},     {47, "CP1253"},
    {48, "CP1254"},  {49, "CP1255"},     {50, "CP1256"},      {51, "CP1257"},     {52, "CP1258"},
};

constexpr int kKatakana = 1;
// Table 1 above ASCII: block elements and box drawing (0x80-0x9F), half-width Katakana
// (0xA1-0xDF, as in JIS X 0201), then line graphics, card suits and the kanji of dates and
// amounts (0xE0-0xFF). Receipt generators draw their rules with 0x95.
constexpr char32_t kKatakanaHigh[128] = {
    // 0x80
    U'\u2581', U'\u2582', U'\u2583', U'\u2584', U'\u2585', U'\u2586', U'\u2587', U'\u2588',
    U'\u258F', U'\u258E', U'\u258D', U'\u258C', U'\u258B', U'\u258A', U'\u2589', U'\u253C',
    // 0x90
    U'\u2534', U'\u252C', U'\u2524', U'\u251C', U'\u2594', U'\u2500', U'\u2502', U'\u2595',
    U'\u250C', U'\u2510', U'\u2514', U'\u2518', U'\u256D', U'\u256E', U'\u2570', U'\u256F',
    // 0xA0: a space, then U+FF61 to U+FF9F
    U' ', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    // 0xE0
    U'\u2550', U'\u255E', U'\u256A', U'\u2561', U'\u25E2', U'\u25E3', U'\u25E5', U'\u25E4',
    U'\u2660', U'\u2665', U'\u2666', U'\u2663', U'\u25CF', U'\u25CB', U'\u2571', U'\u2572',
    // 0xF0
    U'\u2573', U'\u5186', U'\u5E74', U'\u6708', U'\u65E5', U'\u6642', U'\u5206', U'\u79D2',
    U'\u3012', U'\u5E02', U'\u533A', U'\u753A', U'\u6751', U'\u4EBA', U'\u2593', U' ',
};

code_table ascii_table() {
  code_table t{};
  for (int b = 0; b < 256; ++b) t[static_cast<std::size_t>(b)] = static_cast<char32_t>(b);
  return t;
}

code_table katakana_table() {
  code_table t = ascii_table();
  for (int b = 0x80; b < 0x100; ++b) {
    char32_t c = kKatakanaHigh[b - 0x80];
    if (b >= 0xA1 && b <= 0xDF) c = static_cast<char32_t>(0xFF61 + (b - 0xA1));
    t[static_cast<std::size_t>(b)] = c;
  }
  return t;
}

code_table platform_table(int codepage) {
  code_table t = ascii_table();
  for (int b = 0x80; b < 0x100; ++b) {
    const std::string utf8 = platform::codepage_to_utf8(std::string(1, static_cast<char>(b)), codepage);
    std::size_t pos = 0;
    char32_t cp = U'?';
    if (platform::decode_utf8_char(utf8, pos, cp)) t[static_cast<std::size_t>(b)] = cp;
  }
  return t;
}

// The table of an iconv code page; false when iconv lacks it. Bytes it does not map print '?'.
bool iconv_table(const char* name, code_table& t) {
  iconv_t cd = iconv_open("UTF-32LE", name);
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  t = ascii_table();
  for (int b = 0x80; b < 0x100; ++b) {
    char in = static_cast<char>(b);
    unsigned char out[8] = {};
    char* in_p = &in;
    char* out_p = reinterpret_cast<char*>(out);
    std::size_t in_left = 1, out_left = sizeof out;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    const bool ok = iconv(cd, &in_p, &in_left, &out_p, &out_left) != static_cast<std::size_t>(-1) && out_left == 4;
    t[static_cast<std::size_t>(b)] =
        ok ? static_cast<char32_t>(out[0] | out[1] << 8 | out[2] << 16 | out[3] << 24) : U'?';
  }
  iconv_close(cd);
  return true;
}

const iconv_row* find_iconv(int table) {
  const auto it = std::find_if(std::begin(kIconvTables), std::end(kIconvTables), [&](const iconv_row& r) { return r.table == table; });
  return it == std::end(kIconvTables) ? nullptr : it;
}

}  // namespace

bool code_table_fitted(int table) {
  if (table == kKatakana) return true;
  for (const auto& row : kPlatformTables)
    if (row.table == table) return true;
  const iconv_row* row = find_iconv(table);
  if (row == nullptr) return false;
  code_table ignored;
  return iconv_table(row->name, ignored);
}

code_table code_table_points(int table) {
  if (table == kKatakana) return katakana_table();
  for (const auto& row : kPlatformTables)
    if (row.table == table) return platform_table(row.codepage);
  code_table t;
  if (const iconv_row* row = find_iconv(table); row != nullptr && iconv_table(row->name, t)) return t;
  return platform_table(437);
}

}  // namespace vprinter::detail
