// Conversion between UTF-8 and the printer code pages: tables, reverse maps built at compile
// time, and the two converters.
#include "platform/codepage.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

#include "codepage_tables.h"

namespace platform {
namespace {

using namespace codepage_detail;

// One character of a code page and its byte, for the reverse lookup.
struct reverse_entry {
  char16_t code;
  unsigned char byte;
};

using reverse_map = std::array<reverse_entry, 128>;

// Character -> byte map of a table, sorted by character for binary search.
constexpr reverse_map make_reverse_map(const char16_t (&table)[128]) {
  reverse_map map{};
  for (std::size_t i = 0; i < 128; ++i) {
    map[i] = {table[i], static_cast<unsigned char>(0x80 + i)};
  }
  std::sort(map.begin(), map.end(),
            [](const reverse_entry& a, const reverse_entry& b) { return a.code < b.code; });
  return map;
}

// A table whose characters repeat would make the reverse map ambiguous.
constexpr bool is_one_to_one(const reverse_map& map) {
  for (std::size_t i = 1; i < map.size(); ++i) {
    if (map[i - 1].code == map[i].code) return false;
  }
  return true;
}

struct codepage_info {
  int codepage;
  const char16_t* to_unicode;  // 128 characters for the bytes 0x80-0xFF
  reverse_map from_unicode;
};

constexpr codepage_info kCodepages[] = {
    {437, kCp437, make_reverse_map(kCp437)},    {850, kCp850, make_reverse_map(kCp850)},
    {852, kCp852, make_reverse_map(kCp852)},    {858, kCp858, make_reverse_map(kCp858)},
    {860, kCp860, make_reverse_map(kCp860)},    {863, kCp863, make_reverse_map(kCp863)},
    {865, kCp865, make_reverse_map(kCp865)},    {866, kCp866, make_reverse_map(kCp866)},
    {1252, kCp1252, make_reverse_map(kCp1252)},
};

constexpr bool all_one_to_one() {
  for (const codepage_info& info : kCodepages) {
    if (!is_one_to_one(info.from_unicode)) return false;
  }
  return true;
}
static_assert(all_one_to_one(), "every table maps its 128 bytes to 128 different characters");

const codepage_info* find_codepage(int codepage) {
  for (const codepage_info& info : kCodepages) {
    if (info.codepage == codepage) return &info;
  }
  return nullptr;
}

// Byte of `cp` in the code page, or '?' when it has none. `cp` is at least U+0080.
char lookup_byte(const reverse_map& map, char32_t cp) {
  if (cp > 0xFFFF) return '?';
  const auto code = static_cast<char16_t>(cp);
  const auto it = std::lower_bound(map.begin(), map.end(), code,
                                   [](const reverse_entry& e, char16_t c) { return e.code < c; });
  if (it == map.end() || it->code != code) return '?';
  return static_cast<char>(it->byte);
}

bool is_continuation(unsigned char b) { return (b & 0xC0) == 0x80; }

// Decodes a multi-byte sequence whose lead byte p[0] is at least 0x80; `avail` bytes are readable.
// Returns its length (2 to 4) and stores the character, or returns 0 when it is not well formed.
// The ranges are those of well-formed UTF-8: no overlong forms, no surrogates, nothing beyond
// U+10FFFF.
std::size_t decode_multibyte(const unsigned char* p, std::size_t avail, char32_t& cp) {
  const unsigned char lead = p[0];
  if (lead >= 0xC2 && lead <= 0xDF) {
    if (avail < 2 || !is_continuation(p[1])) return 0;
    cp = (char32_t{lead} & 0x1F) << 6 | (p[1] & 0x3F);
    return 2;
  }
  if (lead >= 0xE0 && lead <= 0xEF) {
    if (avail < 3 || !is_continuation(p[2])) return 0;
    // The second byte's range excludes overlong forms (after E0) and surrogates (after ED).
    const unsigned char lo = lead == 0xE0 ? 0xA0 : 0x80;
    const unsigned char hi = lead == 0xED ? 0x9F : 0xBF;
    if (p[1] < lo || p[1] > hi) return 0;
    cp = (char32_t{lead} & 0x0F) << 12 | char32_t{p[1] & 0x3Fu} << 6 | (p[2] & 0x3F);
    return 3;
  }
  if (lead >= 0xF0 && lead <= 0xF4) {
    if (avail < 4 || !is_continuation(p[2]) || !is_continuation(p[3])) return 0;
    // The second byte's range excludes overlong forms (after F0) and values past U+10FFFF (F4).
    const unsigned char lo = lead == 0xF0 ? 0x90 : 0x80;
    const unsigned char hi = lead == 0xF4 ? 0x8F : 0xBF;
    if (p[1] < lo || p[1] > hi) return 0;
    cp = (char32_t{lead} & 0x07) << 18 | char32_t{p[1] & 0x3Fu} << 12 |
         char32_t{p[2] & 0x3Fu} << 6 | (p[3] & 0x3F);
    return 4;
  }
  return 0;  // continuation byte, C0/C1, or F5-FF
}

constexpr std::uint64_t kHighBits = 0x8080808080808080ULL;

}  // namespace

bool is_supported_codepage(int codepage) { return find_codepage(codepage) != nullptr; }

bool decode_utf8_char(std::string_view text, std::size_t& pos, char32_t& cp) {
  if (pos >= text.size()) return false;
  const auto* p = reinterpret_cast<const unsigned char*>(text.data()) + pos;
  if (*p < 0x80) {
    cp = *p;
    ++pos;
    return true;
  }
  const std::size_t length = decode_multibyte(p, text.size() - pos, cp);
  pos += length == 0 ? 1 : length;
  return length != 0;
}

std::string utf8_to_codepage(std::string_view utf8, int codepage) {
  const codepage_info* info = find_codepage(codepage);
  if (info == nullptr) return std::string(utf8);

  // Every character or stray byte yields one byte, so the output is never longer than the input.
  std::string out(utf8.size(), '\0');
  const auto* src = reinterpret_cast<const unsigned char*>(utf8.data());
  const std::size_t size = utf8.size();
  char* dst = out.data();
  std::size_t i = 0;
  while (i < size) {
    // Receipt text is mostly ASCII: copy it eight bytes at a time.
    while (size - i >= 8) {
      std::uint64_t word;
      std::memcpy(&word, src + i, 8);
      if ((word & kHighBits) != 0) break;
      std::memcpy(dst, src + i, 8);
      dst += 8;
      i += 8;
    }
    if (i == size) break;
    const unsigned char b = src[i];
    if (b < 0x80) {
      *dst++ = static_cast<char>(b);
      ++i;
      continue;
    }
    char32_t cp = 0;
    const std::size_t length = decode_multibyte(src + i, size - i, cp);
    if (length == 0) {
      *dst++ = static_cast<char>(b);  // not UTF-8: the byte is kept as it is
      ++i;
    } else {
      *dst++ = lookup_byte(info->from_unicode, cp);
      i += length;
    }
  }
  out.resize(static_cast<std::size_t>(dst - out.data()));
  return out;
}

std::string codepage_to_utf8(std::string_view bytes, int codepage) {
  const codepage_info* info = find_codepage(codepage);
  if (info == nullptr) return std::string(bytes);

  // Each byte 0x80-0xFF becomes at most three bytes (every table character is in the BMP).
  const auto high = static_cast<std::size_t>(std::count_if(
      bytes.begin(), bytes.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; }));
  std::string out(bytes.size() + 2 * high, '\0');
  char* dst = out.data();
  for (const char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x80) {
      *dst++ = c;
      continue;
    }
    const char16_t u = info->to_unicode[b - 0x80];
    if (u < 0x800) {
      *dst++ = static_cast<char>(0xC0 | (u >> 6));
      *dst++ = static_cast<char>(0x80 | (u & 0x3F));
    } else {
      *dst++ = static_cast<char>(0xE0 | (u >> 12));
      *dst++ = static_cast<char>(0x80 | ((u >> 6) & 0x3F));
      *dst++ = static_cast<char>(0x80 | (u & 0x3F));
    }
  }
  out.resize(static_cast<std::size_t>(dst - out.data()));
  return out;
}

}  // namespace platform
