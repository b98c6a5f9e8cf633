// The printer metrics INI file, read through the platform's profile functions.
#include "printer/metrics_file.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <fstream>
#include <limits>
#include <sstream>
#include <utility>

#include "platform/case_path.h"
#include "platform/profile.h"

namespace devsvc {
namespace {

constexpr std::string_view kMetric = "Metric";
constexpr std::string_view kFonts = "FONTS";

// Decimal entries are read through a text buffer of this many characters (15 and the NUL).
constexpr std::size_t kDecimalBuffer = 16;
// Buffer for list and name entries.
constexpr std::size_t kTextBuffer = 256;

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

// atoi: blanks, a sign, digits up to the first other character; held to the 32-bit range.
std::int32_t parse_int(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && is_blank(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  std::int64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > std::int64_t{1} << 32) value = std::int64_t{1} << 32;  // saturated below
  }
  if (negative) value = -value;
  if (value > std::numeric_limits<std::int32_t>::max()) return std::numeric_limits<std::int32_t>::max();
  if (value < std::numeric_limits<std::int32_t>::min()) return std::numeric_limits<std::int32_t>::min();
  return static_cast<std::int32_t>(value);
}

std::string section_of_font(std::int32_t number) { return "FONT " + std::to_string(number); }

// The name under which an entry read from the file is kept (sections and keys are compared
// without regard to case, as the profile functions do).
std::string entry_name(std::string_view section, std::string_view key) {
  std::string name;
  name.reserve(section.size() + key.size() + 2);
  for (const char c : section) name += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  name += '\0';
  for (const char c : key) name += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  name += '\0';
  return name;
}

}  // namespace

std::int32_t list_item(std::string_view list, int index) {
  if (index < 0) index = 0;
  std::size_t start = 0;
  for (int i = 0; i < index; ++i) {
    const std::size_t comma = list.find(',', start);
    if (comma == std::string_view::npos) break;  // fewer items: the last one
    start = comma + 1;
  }
  const std::size_t end = list.find(',', start);
  return parse_int(list.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
}

double parse_decimal(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && is_blank(text[i])) ++i;
  // from_chars takes a minus sign but not a plus sign.
  if (i + 1 < text.size() && text[i] == '+' && text[i + 1] != '-') ++i;
  double value = 0;
  const auto [end, error] = std::from_chars(text.data() + i, text.data() + text.size(), value,
                                            std::chars_format::general);
  (void)end;
  if (error != std::errc{} || !std::isfinite(value)) return 0;
  return value;
}

void CMetricsFile::ForgetEntriesIfChanged() const {
  file_stamp now;
  std::error_code error;
  now.modified = std::filesystem::last_write_time(path_, error);
  if (!error) now.size = std::filesystem::file_size(path_, error);
  now.exists = !error;
  if (!now.exists) now = file_stamp{};
  if (now == stamp_) return;
  stamp_ = now;
  texts_.clear();
  integers_.clear();
}

std::string CMetricsFile::text(std::string_view section, std::string_view key,
                               std::size_t max_chars) const {
  if (path_.empty()) return {};
  ForgetEntriesIfChanged();
  std::string name = entry_name(section, key);
  name += std::to_string(max_chars);
  const auto kept = texts_.find(name);
  if (kept != texts_.end()) return kept->second;
  std::string value = platform::get_profile_string(section, key, "", path_, max_chars);
  texts_.emplace(std::move(name), value);
  return value;
}

std::int32_t CMetricsFile::integer(std::string_view section, std::string_view key) const {
  if (path_.empty()) return 0;
  ForgetEntriesIfChanged();
  std::string name = entry_name(section, key);
  const auto kept = integers_.find(name);
  if (kept != integers_.end()) return kept->second;
  const std::int32_t value = platform::get_profile_int(section, key, 0, path_);
  integers_.emplace(std::move(name), value);
  return value;
}

bool CMetricsFile::load(const std::filesystem::path& path) {
  *this = CMetricsFile{};
  const std::filesystem::path found = platform::resolve_case_insensitive(path);
  {
    std::ifstream probe(found, std::ios::binary);
    if (!probe.is_open()) return false;
  }
  path_ = found;

  dot_size_ = parse_decimal(text(kMetric, "dotSize", kDecimalBuffer));
  dot_pl_ = parse_decimal(text(kMetric, "dotPl", kDecimalBuffer));
  def_line_spacing_ = parse_decimal(text(kMetric, "DEFLineSpacing", kDecimalBuffer));
  width_dot_ = integer(kMetric, "widthDot");
  width_mm_ = integer(kMetric, "widthMM");
  width_pl_ = parse_decimal(text(kMetric, "widthPl", kDecimalBuffer));
  raster_mode_ = integer(kMetric, "RasterMode");

  std::int32_t count = integer(kFonts, "nFonts");
  if (count < 0) count = 0;
  if (count > kMaxFonts) count = kMaxFonts;
  fonts_.reserve(static_cast<std::size_t>(count));
  for (std::int32_t n = 1; n <= count; ++n) {
    const std::string section = section_of_font(n);
    fonts_.push_back({integer(section, "FontW"), integer(section, "FontH")});
  }
  loaded_ = true;
  return true;
}

std::string CMetricsFile::problem() const {
  struct limit {
    const char* name;
    double value;
    double low;
    double high;
  };
  const limit limits[] = {
      {"[Metric] dotSize (mm per dot)", dot_size_, 0.01, 1.0},
      {"[Metric] dotPl (inches per dot)", dot_pl_, 0.0004, 0.04},
      {"[Metric] DEFLineSpacing (dots)", def_line_spacing_, 1, 255},
      {"[Metric] widthDot", static_cast<double>(width_dot_), 1, 8192},
      {"[Metric] widthMM", static_cast<double>(width_mm_), 1, 1000},
      {"[Metric] widthPl (inches)", width_pl_, 0.01, 40},
      {"[Metric] VMotionUnit (mm)", v_motion_unit(), 0.001, 10},
      {"[Metric] HMotionUnit (mm)", h_motion_unit(), 0.001, 10},
      {"[Metric] TwipsPerDots", static_cast<double>(twips_per_dots()), 1, 1440},
  };
  const auto describe = [](const std::string& name, double value, double low, double high) {
    std::ostringstream text;
    text << name << " is " << value << "; a receipt printer has 0 (none) or " << low << " to " << high;
    return text.str();
  };
  for (const limit& l : limits) {
    if (l.value != 0 && !(l.value >= l.low && l.value <= l.high)) return describe(l.name, l.value, l.low, l.high);
  }
  if (raster_mode_ < 0 || (raster_mode_ > 3 && (raster_mode_ < 48 || raster_mode_ > 51))) {
    return "[Metric] RasterMode is " + std::to_string(raster_mode_) + "; GS v 0 takes 0 to 3 or 48 to 51";
  }
  for (std::int32_t n = 1; n <= font_count(); ++n) {
    const font_settings f = read_font(n);
    const std::string section = "[" + section_of_font(n) + "] ";
    const std::pair<const char*, std::int32_t> cells[] = {{"FontW", f.width}, {"FontH", f.height}};
    for (const auto& [name, value] : cells) {
      if (value < 0 || value > 255) return describe(section + name, value, 1, 255);
    }
    const std::pair<const char*, std::int32_t> counts[] = {{"MAXchars", f.max_chars},
                                                           {"MAXSidewaysChars", f.max_sideways_chars}};
    for (const auto& [name, value] : counts) {
      if (value < 0 || value > 1000) return describe(section + name, value, 1, 1000);
    }
  }
  return {};
}

font_cell CMetricsFile::font(std::int32_t number) const {
  if (number < 1 || number > font_count()) return {};
  return fonts_[static_cast<std::size_t>(number - 1)];
}

double CMetricsFile::v_motion_unit() const {
  return parse_decimal(text(kMetric, "VMotionUnit", kDecimalBuffer));
}

double CMetricsFile::h_motion_unit() const {
  return parse_decimal(text(kMetric, "HMotionUnit", kDecimalBuffer));
}

std::int32_t CMetricsFile::twips_per_dots() const { return integer(kMetric, "TwipsPerDots"); }

std::string CMetricsFile::pagecode_list() const { return text(kFonts, "PagecodeList", kTextBuffer); }

std::string CMetricsFile::font_list() const { return text(kFonts, "FontList", kTextBuffer); }

font_settings CMetricsFile::read_font(std::int32_t number) const {
  font_settings font;
  const std::string section = section_of_font(number);
  font.width = integer(section, "FontW");
  font.height = integer(section, "FontH");
  font.max_chars = integer(section, "MAXchars");
  font.max_sideways_chars = integer(section, "MAXSidewaysChars");
  font.size_list = text(section, "sizeList", kTextBuffer);
  font.sideways_list = text(section, "Sidewayslist", kTextBuffer);
  for (int i = 0; i < 8; ++i) {
    font.sizes[static_cast<std::size_t>(i)] = list_item(font.size_list, i);
    font.sideways[static_cast<std::size_t>(i)] = list_item(font.sideways_list, i);
  }
  return font;
}

unit_metrics CMetricsFile::units() const {
  return {dot_size_, dot_pl_, twips_per_dots(), v_motion_unit()};
}

}  // namespace devsvc
