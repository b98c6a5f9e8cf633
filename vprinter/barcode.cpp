// Bar code encoders for EAN / UPC, Code 39, ITF, CODABAR, Code 93 and Code 128, following the
// printer's data rules.
#include "barcode.h"

#include <algorithm>
#include <array>

namespace vprinter::detail {
namespace {

constexpr std::array<std::string_view, 10> kEanL = {
    "0001101", "0011001", "0010011", "0111101", "0100011",
    "0110001", "0101111", "0111011", "0110111", "0001011"};

// Which of the six left digits of EAN-13 use the even (G) set, by the leading digit.
constexpr std::array<std::string_view, 10> kEan13Parity = {
    "LLLLLL", "LLGLGG", "LLGGLG", "LLGGGL", "LGLLGG", "LGGLLG", "LGGGLL", "LGLGLG", "LGLGGL", "LGGLGL"};

// UPC-E parity of the six digits by check digit, for number system 0 (E even, O odd).
constexpr std::array<std::string_view, 10> kUpcEParity = {
    "EEEOOO", "EEOEOO", "EEOOEO", "EEOOOE", "EOEEOO", "EOOEEO", "EOOOEE", "EOEOEO", "EOEOOE", "EOOEOE"};

struct code39_row {
  char c;
  std::string_view pattern;  // bar, space, ... ; 1 = wide
};
constexpr code39_row kCode39[] = {
    {'0', "000110100"}, {'1', "100100001"}, {'2', "001100001"}, {'3', "101100000"},
    {'4', "000110001"}, {'5', "100110000"}, {'6', "001110000"}, {'7', "000100101"},
    {'8', "100100100"}, {'9', "001100100"}, {'A', "100001001"}, {'B', "001001001"},
    {'C', "101001000"}, {'D', "000011001"}, {'E', "100011000"}, {'F', "001011000"},
    {'G', "000001101"}, {'H', "100001100"}, {'I', "001001100"}, {'J', "000011100"},
    {'K', "100000011"}, {'L', "001000011"}, {'M', "101000010"}, {'N', "000010011"},
    {'O', "100010010"}, {'P', "001010010"}, {'Q', "000000111"}, {'R', "100000110"},
    {'S', "001000110"}, {'T', "000010110"}, {'U', "110000001"}, {'V', "011000001"},
    {'W', "111000000"}, {'X', "010010001"}, {'Y', "110010000"}, {'Z', "011010000"},
    {'-', "010000101"}, {'.', "110000100"}, {' ', "011000100"}, {'*', "010010100"},
    {'$', "010101000"}, {'/', "010100010"}, {'+', "010001010"}, {'%', "000101010"},
};

constexpr std::array<std::string_view, 10> kItf = {
    "00110", "10001", "01001", "11000", "00101", "10100", "01100", "00011", "10010", "01010"};

// Code 128 patterns: six element widths per value, 0 to 105; 106 is the stop pattern.
constexpr std::array<std::string_view, 107> kCode128 = {
    "212222", "222122", "222221", "121223", "121322", "131222", "122213", "122312", "132212",
    "221213", "221312", "231212", "112232", "122132", "122231", "113222", "123122", "123221",
    "223211", "221132", "221231", "213212", "223112", "312131", "311222", "321122", "321221",
    "312212", "322112", "322211", "212123", "212321", "232121", "111323", "131123", "131321",
    "112313", "132113", "132311", "211313", "231113", "231311", "112133", "112331", "132131",
    "113123", "113321", "133121", "313121", "211331", "231131", "213113", "213311", "213131",
    "311123", "311321", "331121", "312113", "312311", "332111", "314111", "221411", "431111",
    "111224", "111422", "121124", "121421", "141122", "141221", "112214", "112412", "122114",
    "122411", "142112", "142211", "241211", "221114", "413111", "241112", "134111", "111242",
    "121142", "121241", "114212", "124112", "124211", "411212", "421112", "421211", "212141",
    "214121", "412121", "111143", "111341", "131141", "114113", "114311", "411113", "411311",
    "113141", "114131", "311141", "411131", "211412", "211214", "211232", "2331112"};

// CODABAR patterns: four bars and three spaces, bar first; 1 = wide.
struct codabar_row {
  char c;
  std::string_view pattern;
};
constexpr codabar_row kCodabar[] = {
    {'0', "0000011"}, {'1', "0000110"}, {'2', "0001001"}, {'3', "1100000"}, {'4', "0010010"},
    {'5', "1000010"}, {'6', "0100001"}, {'7', "0100100"}, {'8', "0110000"}, {'9', "1001000"},
    {'-', "0001100"}, {'$', "0011000"}, {':', "1000101"}, {'/', "1010001"}, {'.', "1010100"},
    {'+', "0010101"}, {'A', "0011010"}, {'B', "0101001"}, {'C', "0001011"}, {'D', "0001110"},
};

// Code 93 patterns: six element widths (bar first, nine modules) per value 0 to 46, then the
// start / stop character.
constexpr std::array<std::string_view, 48> kCode93 = {
    "131112", "111213", "111312", "111411", "121113", "121212", "121311", "111114", "131211", "141111",
    "211113", "211212", "211311", "221112", "221211", "231111", "112113", "112212", "112311", "122112",
    "132111", "111123", "111222", "111321", "121122", "131121", "212112", "212211", "211122", "211221",
    "221121", "222111", "112122", "112221", "122121", "123111", "121131", "311112", "311211", "321111",
    "112131", "113121", "211131", "121221", "312111", "311121", "122211", "111141"};

// Narrow and wide bar widths in dots for each module width 1 to 6 (two-width symbologies).
constexpr int kNarrowWide[7][2] = {{1, 3}, {1, 3}, {2, 5}, {3, 8}, {4, 10}, {5, 13}, {6, 15}};

struct symbology_row {
  int m_old;  // GS k m, data ended by NUL
  int m_new;  // GS k m n, data counted
  symbology s;
  std::string_view name;
};
constexpr symbology_row kSymbologies[] = {
    {0, 65, symbology::upc_a, "UPC-A"},   {1, 66, symbology::upc_e, "UPC-E"},
    {2, 67, symbology::ean13, "EAN-13"},  {3, 68, symbology::ean8, "EAN-8"},
    {4, 69, symbology::code39, "CODE39"}, {5, 70, symbology::itf, "ITF"},
    {6, 71, symbology::codabar, "CODABAR"}, {-1, 72, symbology::code93, "CODE93"},
    {-1, 73, symbology::code128, "CODE128"},
};

bool all_digits(std::string_view s) {
  return std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The EAN / UPC check digit of `digits` (all but the check digit).
int ean_check(std::string_view digits) {
  int sum = 0;
  const auto n = digits.size();
  for (std::size_t i = 0; i < n; ++i) sum += (digits[n - 1 - i] - '0') * (i % 2 == 0 ? 3 : 1);
  return (10 - sum % 10) % 10;
}

// Turns a string of modules ('1' bar, '0' space, starting with a bar) into run widths.
std::vector<std::uint8_t> runs(std::string_view modules) {
  std::vector<std::uint8_t> out;
  char current = '1';
  std::uint8_t n = 0;
  for (char c : modules) {
    if (c == current) {
      ++n;
    } else {
      out.push_back(n);
      current = c;
      n = 1;
    }
  }
  out.push_back(n);
  return out;
}

std::string ean_r(int d) {
  std::string r(kEanL[static_cast<std::size_t>(d)]);
  for (char& c : r) c = c == '1' ? '0' : '1';
  return r;
}
std::string ean_g(int d) {
  std::string g = ean_r(d);
  std::reverse(g.begin(), g.end());
  return g;
}

barcode_symbol refuse(std::string error) {
  barcode_symbol s;
  s.error = std::move(error);
  return s;
}

// Full 13 digits (check included) to the EAN-13 module string.
barcode_symbol ean13_symbol(const std::string& d13, std::string text) {
  std::string m = "101";
  auto parity = kEan13Parity[static_cast<std::size_t>(d13[0] - '0')];
  for (int i = 1; i <= 6; ++i) {
    int d = d13[static_cast<std::size_t>(i)] - '0';
    m += parity[static_cast<std::size_t>(i - 1)] == 'L' ? std::string(kEanL[static_cast<std::size_t>(d)]) : ean_g(d);
  }
  m += "01010";
  for (int i = 7; i <= 12; ++i) m += ean_r(d13[static_cast<std::size_t>(i)] - '0');
  m += "101";
  barcode_symbol s;
  s.ok = true;
  s.widths = runs(m);
  s.text = std::move(text);
  return s;
}

// Expands UPC-E's six digits (number system `ns`) to the ten UPC-A digits after the system.
std::string upce_to_upca_body(std::string_view e) {
  const char last = e[5];
  std::string m, p;
  if (last <= '2') {
    m = {e[0], e[1], last, '0', '0'};
    p = {'0', '0', e[2], e[3], e[4]};
  } else if (last == '3') {
    m = {e[0], e[1], e[2], '0', '0'};
    p = {'0', '0', '0', e[3], e[4]};
  } else if (last == '4') {
    m = {e[0], e[1], e[2], e[3], '0'};
    p = {'0', '0', '0', '0', e[4]};
  } else {
    m = {e[0], e[1], e[2], e[3], e[4]};
    p = {'0', '0', '0', '0', last};
  }
  return m + p;
}

// Zero suppression of a UPC-A body (ten digits after the system); empty when impossible.
std::string upca_body_to_upce(std::string_view b) {
  std::string_view m = b.substr(0, 5), p = b.substr(5, 5);
  if ((m.substr(2, 3) == "000" || m.substr(2, 3) == "100" || m.substr(2, 3) == "200") && p.substr(0, 2) == "00")
    return {m[0], m[1], p[2], p[3], p[4], m[2]};
  if (m.substr(3, 2) == "00" && p.substr(0, 3) == "000") return {m[0], m[1], m[2], p[3], p[4], '3'};
  if (m[4] == '0' && p.substr(0, 4) == "0000") return {m[0], m[1], m[2], m[3], p[4], '4'};
  if (p.substr(0, 4) == "0000" && p[4] >= '5') return {m[0], m[1], m[2], m[3], m[4], p[4]};
  return {};
}

barcode_symbol encode_upce(std::string_view data) {
  if (!all_digits(data)) return refuse("UPC-E takes digits only");
  std::string e6;
  char ns = '0';
  std::string body;
  switch (data.size()) {
    case 6:
      e6 = data;
      break;
    case 7:
    case 8:
      ns = data[0];
      e6 = data.substr(1, 6);
      break;
    case 11:
    case 12:
      ns = data[0];
      body = data.substr(1, 10);
      e6 = upca_body_to_upce(body);
      if (e6.empty()) return refuse("UPC-A data cannot be zero-suppressed to UPC-E");
      break;
    default:
      return refuse("UPC-E takes 6, 7, 8, 11 or 12 digits");
  }
  if (ns != '0' && ns != '1') return refuse("UPC-E number system must be 0 or 1");
  if (body.empty()) body = upce_to_upca_body(e6);
  const int check = ean_check(std::string(1, ns) + body);
  std::string m = "101";
  auto parity = kUpcEParity[static_cast<std::size_t>(check)];
  for (int i = 0; i < 6; ++i) {
    bool even = (parity[static_cast<std::size_t>(i)] == 'E') == (ns == '0');
    int d = e6[static_cast<std::size_t>(i)] - '0';
    m += even ? ean_g(d) : std::string(kEanL[static_cast<std::size_t>(d)]);
  }
  m += "010101";
  barcode_symbol s;
  s.ok = true;
  s.widths = runs(m);
  s.text = std::string(1, ns) + e6 + static_cast<char>('0' + check);
  return s;
}

barcode_symbol encode_ean(std::string_view data, std::size_t digits, bool upc) {
  if (!all_digits(data)) return refuse("data must be digits");
  if (data.size() != digits - 1 && data.size() != digits) return refuse("wrong number of digits");
  std::string d(data.substr(0, digits - 1));
  const char check = static_cast<char>('0' + ean_check(d));
  std::string note;
  if (data.size() == digits && data.back() != check)
    note = std::string("check digit ") + data.back() + " given, " + check + " expected";
  d += data.size() == digits ? data.back() : check;  // a given check digit is printed as given
  if (digits == 8) {
    std::string m = "101";
    for (int i = 0; i < 4; ++i) m += kEanL[static_cast<std::size_t>(d[static_cast<std::size_t>(i)] - '0')];
    m += "01010";
    for (int i = 4; i < 8; ++i) m += ean_r(d[static_cast<std::size_t>(i)] - '0');
    m += "101";
    barcode_symbol s;
    s.ok = true;
    s.widths = runs(m);
    s.text = d;
    s.note = note;
    return s;
  }
  auto s = ean13_symbol(upc ? "0" + d : d, d);
  s.note = note;
  return s;
}

barcode_symbol encode_code39(std::string_view data) {
  std::string body(data);
  if (body.size() >= 2 && body.front() == '*' && body.back() == '*') body = body.substr(1, body.size() - 2);
  if (body.empty()) return refuse("no data");
  barcode_symbol s;
  s.two_width = true;
  std::string full = "*" + body + "*";
  for (std::size_t i = 0; i < full.size(); ++i) {
    char c = full[i];
    if (c == '*' && i != 0 && i + 1 != full.size()) return refuse("'*' inside Code 39 data");
    auto p = code39_pattern(c);
    if (p.empty()) return refuse(std::string("character not in Code 39: ") + c);
    if (i != 0) s.widths.push_back(1);  // narrow gap between characters
    for (char w : p) s.widths.push_back(w == '1' ? 2 : 1);
  }
  s.ok = true;
  s.text = full;
  return s;
}

barcode_symbol encode_itf(std::string_view data) {
  if (!all_digits(data) || data.size() < 2) return refuse("ITF takes two or more digits");
  std::string d(data.substr(0, data.size() & ~std::size_t{1}));  // an odd last digit is dropped
  barcode_symbol s;
  s.two_width = true;
  s.widths = {1, 1, 1, 1};
  for (std::size_t i = 0; i < d.size(); i += 2) {
    auto bars = kItf[static_cast<std::size_t>(d[i] - '0')];
    auto spaces = kItf[static_cast<std::size_t>(d[i + 1] - '0')];
    for (int k = 0; k < 5; ++k) {
      s.widths.push_back(bars[static_cast<std::size_t>(k)] == '1' ? 2 : 1);
      s.widths.push_back(spaces[static_cast<std::size_t>(k)] == '1' ? 2 : 1);
    }
  }
  s.widths.insert(s.widths.end(), {2, 1, 1});
  s.ok = true;
  s.text = d;
  if (d.size() != data.size()) s.note = "odd number of digits: the last one is not printed";
  return s;
}

// Code 128 data as the printer takes it: "{A", "{B" or "{C" first, "{" escapes for code changes,
// shift and FNC1-4, "{{" for the brace itself; in code set C each byte is one value 0-99.
barcode_symbol encode_code128(std::string_view data) {
  if (data.size() < 2 || data[0] != '{' || (data[1] != 'A' && data[1] != 'B' && data[1] != 'C'))
    return refuse("Code 128 data must start with {A, {B or {C");
  char set = data[1];
  std::vector<int> values{set == 'A' ? 103 : set == 'B' ? 104 : 105};
  std::string text;
  bool shifted = false;
  for (std::size_t i = 2; i < data.size(); ++i) {
    auto c = static_cast<unsigned char>(data[i]);
    if (c == '{' && i + 1 < data.size() && data[i + 1] != '{') {
      char f = data[++i];
      switch (f) {
        case 'A': values.push_back(set == 'C' ? 101 : set == 'B' ? 101 : -1); set = 'A'; break;
        case 'B': values.push_back(set == 'A' ? 100 : set == 'C' ? 100 : -1); set = 'B'; break;
        case 'C': values.push_back(set == 'C' ? -1 : 99); set = 'C'; break;
        case 'S': values.push_back(set == 'C' ? -1 : 98); shifted = true; continue;
        case '1': values.push_back(102); break;
        case '2': values.push_back(set == 'C' ? -1 : 97); break;
        case '3': values.push_back(set == 'C' ? -1 : 96); break;
        case '4': values.push_back(set == 'A' ? 101 : set == 'B' ? 100 : -1); break;
        default: values.push_back(-1);
      }
      if (values.back() < 0) return refuse(std::string("bad Code 128 function {") + f);
      continue;
    }
    if (c == '{') ++i;  // "{{" is one brace
    char active = set;
    if (shifted && set != 'C') active = set == 'A' ? 'B' : 'A';
    shifted = false;
    int v = -1;
    if (active == 'C') {
      if (c <= 99) {
        v = c;
        text += static_cast<char>('0' + c / 10);
        text += static_cast<char>('0' + c % 10);
      }
    } else if (active == 'A') {
      if (c < 0x20) v = c + 64;
      else if (c < 0x60) v = c - 32;
      if (v >= 0) text += c < 0x20 ? ' ' : static_cast<char>(c);
    } else if (c >= 0x20 && c < 0x80) {
      v = c - 32;
      text += static_cast<char>(c);
    }
    if (v < 0) return refuse("byte not in the Code 128 code set");
    values.push_back(v);
  }
  if (values.size() < 2) return refuse("no Code 128 data");
  int sum = values[0];
  for (std::size_t i = 1; i < values.size(); ++i) sum += static_cast<int>(i) * values[i];
  values.push_back(sum % 103);
  values.push_back(106);
  barcode_symbol s;
  for (int v : values)
    for (char w : kCode128[static_cast<std::size_t>(v)]) s.widths.push_back(static_cast<std::uint8_t>(w - '0'));
  s.ok = true;
  s.text = text;
  return s;
}

// CODABAR: start and stop characters A-D (either case) around digits and $+-./: symbols.
barcode_symbol encode_codabar(std::string_view data) {
  auto start_stop = [](char c) { return (c >= 'A' && c <= 'D') || (c >= 'a' && c <= 'd'); };
  if (data.size() < 2 || !start_stop(data.front()) || !start_stop(data.back()))
    return refuse("CODABAR needs start and stop characters A-D");
  barcode_symbol s;
  s.two_width = true;
  for (std::size_t i = 0; i < data.size(); ++i) {
    char c = data[i];
    if (c >= 'a' && c <= 'd') c = static_cast<char>(c - 'a' + 'A');
    if ((i != 0 && i + 1 != data.size()) && start_stop(c)) return refuse("start or stop character inside CODABAR data");
    const auto p = codabar_pattern(c);
    if (p.empty()) return refuse(std::string("character not in CODABAR: ") + c);
    if (i != 0) s.widths.push_back(1);  // narrow gap between characters
    for (char w : p) s.widths.push_back(w == '1' ? 2 : 1);
    s.text += c;
  }
  s.ok = true;
  return s;
}

// Code 93 values of the printable characters; 43-46 are the shift characters ($) (%) (/) (+).
constexpr std::string_view kCode93Chars = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ-. $/+%";
constexpr int kCode93ShiftDollar = 43, kCode93ShiftPercent = 44, kCode93ShiftSlash = 45, kCode93ShiftPlus = 46;

// Full ASCII: the values that stand for byte `c` (one, or a shift and a letter).
std::vector<int> code93_values(unsigned char c) {
  const auto direct = kCode93Chars.find(static_cast<char>(c));
  if (direct != std::string_view::npos && c != 0) return {static_cast<int>(direct)};
  auto letter = [](char l) { return static_cast<int>(kCode93Chars.find(l)); };
  if (c == 0) return {kCode93ShiftPercent, letter('U')};
  if (c <= 26) return {kCode93ShiftDollar, letter(static_cast<char>('A' + c - 1))};
  if (c <= 31) return {kCode93ShiftPercent, letter(static_cast<char>('A' + c - 27))};
  if (c >= 'a' && c <= 'z') return {kCode93ShiftPlus, letter(static_cast<char>(c - 'a' + 'A'))};
  if (c >= '!' && c <= ',') return {kCode93ShiftSlash, letter(static_cast<char>('A' + c - '!'))};
  if (c == ':') return {kCode93ShiftSlash, letter('Z')};
  if (c >= ';' && c <= '?') return {kCode93ShiftPercent, letter(static_cast<char>('F' + c - ';'))};
  if (c >= '[' && c <= '_') return {kCode93ShiftPercent, letter(static_cast<char>('K' + c - '['))};
  if (c == '@') return {kCode93ShiftPercent, letter('V')};
  if (c == '`') return {kCode93ShiftPercent, letter('W')};
  if (c >= '{' && c <= 127) return {kCode93ShiftPercent, letter(static_cast<char>('P' + c - '{'))};
  return {};
}

// Code 93 (full ASCII, bytes 0-127) with its two check characters C and K.
barcode_symbol encode_code93(std::string_view data) {
  if (data.empty()) return refuse("no data");
  std::vector<int> values;
  std::string text;
  for (char ch : data) {
    const auto c = static_cast<unsigned char>(ch);
    const auto v = c < 128 ? code93_values(c) : std::vector<int>{};
    if (v.empty()) return refuse("byte not in CODE93");
    values.insert(values.end(), v.begin(), v.end());
    text += c >= 0x20 && c < 0x7F ? static_cast<char>(c) : ' ';  // control characters show as blanks
  }
  // C weighs the values 1 to 20 from the right, K 1 to 15 with C included.
  for (int limit : {20, 15}) {
    int sum = 0;
    const auto n = values.size();
    for (std::size_t i = 0; i < n; ++i) sum += values[n - 1 - i] * static_cast<int>(i % static_cast<std::size_t>(limit) + 1);
    values.push_back(sum % 47);
  }
  barcode_symbol s;
  auto add = [&](std::string_view p) {
    for (char w : p) s.widths.push_back(static_cast<std::uint8_t>(w - '0'));
  };
  add(code93_pattern(-1));
  for (int v : values) add(code93_pattern(v));
  add(code93_pattern(-1));
  s.widths.push_back(1);  // the terminating bar
  s.ok = true;
  s.text = std::move(text);
  return s;
}

}  // namespace

bool symbology_from_gs_k(int m, symbology& out) {
  for (const auto& row : kSymbologies)
    if (row.m_old == m || row.m_new == m) {
      out = row.s;
      return true;
    }
  return false;
}

std::string_view symbology_name(symbology s) {
  for (const auto& row : kSymbologies)
    if (row.s == s) return row.name;
  return "?";
}

barcode_symbol encode_barcode(symbology s, std::string_view data) {
  switch (s) {
    case symbology::upc_a: return encode_ean(data, 12, true);
    case symbology::ean13: return encode_ean(data, 13, false);
    case symbology::ean8: return encode_ean(data, 8, false);
    case symbology::upc_e: return encode_upce(data);
    case symbology::code39: return encode_code39(data);
    case symbology::itf: return encode_itf(data);
    case symbology::code128: return encode_code128(data);
    case symbology::codabar: return encode_codabar(data);
    case symbology::code93: return encode_code93(data);
  }
  return refuse("unknown symbology");
}

std::vector<int> barcode_widths_in_dots(const barcode_symbol& symbol, int module_dots) {
  module_dots = std::clamp(module_dots, 1, 6);
  std::vector<int> out;
  out.reserve(symbol.widths.size());
  for (auto w : symbol.widths)
    out.push_back(symbol.two_width ? kNarrowWide[module_dots][w == 2 ? 1 : 0] : w * module_dots);
  return out;
}

std::string_view code128_pattern(int value) {
  return value >= 0 && value <= 106 ? kCode128[static_cast<std::size_t>(value)] : std::string_view{};
}

std::string_view code39_pattern(char c) {
  for (const auto& row : kCode39)
    if (row.c == c) return row.pattern;
  return {};
}

std::string_view codabar_pattern(char c) {
  for (const auto& row : kCodabar)
    if (row.c == c) return row.pattern;
  return {};
}

std::string_view code93_pattern(int value) {
  if (value == -1) return kCode93[47];
  return value >= 0 && value <= 46 ? kCode93[static_cast<std::size_t>(value)] : std::string_view{};
}

std::string_view ean_l_pattern(int d) { return d >= 0 && d <= 9 ? kEanL[static_cast<std::size_t>(d)] : std::string_view{}; }

}  // namespace vprinter::detail
