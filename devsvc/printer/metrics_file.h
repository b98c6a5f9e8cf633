// CMetricsFile: the printer metrics INI file (dot geometry, motion units, fonts and the
// characters per line at each magnification), with the list and number rules of its entries.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "printer/units.h"

namespace devsvc {

// Item `index` of a comma-separated list of decimal integers: the text between the index-th and
// the next comma (counting from 0) converted like the C library's atoi; when the list has fewer
// items, the last item. A negative index gives item 0.
std::int32_t list_item(std::string_view list, int index);

// A decimal number as the C library's atof reads it, but independent of the process locale:
// leading blanks, an optional sign, the longest number that follows; 0 when there is none or the
// value is not finite.
double parse_decimal(std::string_view text);

// A font's cell size in dots.
struct font_cell {
  std::int32_t width = 0;
  std::int32_t height = 0;
};

// The entries of one [FONT n] section.
struct font_settings {
  std::int32_t width = 0;               // FontW: cell width in dots
  std::int32_t height = 0;              // FontH: cell height in dots
  std::int32_t max_chars = 0;           // MAXchars: most characters per line
  std::int32_t max_sideways_chars = 0;  // MAXSidewaysChars: the same printed sideways
  std::string size_list;                // sizeList as written (RecLineCharsList)
  std::string sideways_list;            // Sidewayslist as written
  // Characters per line at magnification 8, 7, ..., 1 (index 0 is the largest characters).
  std::array<std::int32_t, 8> sizes{};
  std::array<std::int32_t, 8> sideways{};
};

// The metrics file of one printer object. load() reads the geometry and the font cell table once;
// the other entries are read when first asked for and kept until the file's modification time
// (or size) changes, so that edits take effect without the file being parsed at every print.
// Without a loaded file every value is 0 and every text empty.
class CMetricsFile {
 public:
  // Most fonts the table holds; a larger nFonts is cut to it so that a corrupt file cannot make
  // the loader read millions of sections.
  static constexpr std::int32_t kMaxFonts = 255;

  // Reads the file (found case-insensitively when the exact name is missing): it must open for
  // reading, else nothing is loaded, every value is 0 and false is returned. Then [Metric]
  // dotSize, dotPl, DEFLineSpacing (16-character texts read as decimals), widthDot, widthMM,
  // widthPl, RasterMode, [FONTS] nFonts and FontW and FontH of [FONT 1] to [FONT nFonts]; then
  // the loaded flag is set. Reads from disk only.
  bool load(const std::filesystem::path& path);

  bool loaded() const { return loaded_; }
  // What makes the loaded file unusable for a receipt printer, in words ("" when nothing): a
  // value outside what such a printer can have (a negative font height, a dot pitch of 1e-300).
  // A value of 0 counts as absent, as before. Reads the entries of every font.
  std::string problem() const;
  // The file as found by load() (empty before).
  const std::filesystem::path& path() const { return path_; }

  double dot_size() const { return dot_size_; }                // mm per dot
  double dot_pl() const { return dot_pl_; }                    // inches per dot
  double def_line_spacing() const { return def_line_spacing_; }  // dots
  std::int32_t width_dot() const { return width_dot_; }        // printable width in dots
  std::int32_t width_mm() const { return width_mm_; }          // printable width in mm
  double width_pl() const { return width_pl_; }                // printable width in inches
  std::int32_t raster_mode() const { return raster_mode_; }    // m of GS v 0
  std::int32_t font_count() const { return static_cast<std::int32_t>(fonts_.size()); }

  // Cell size of font `number` (1-based) from the loaded table; 0 x 0 outside 1 to nFonts.
  font_cell font(std::int32_t number) const;

  // Entries read from the file at each call.
  double v_motion_unit() const;        // [Metric] VMotionUnit, mm
  double h_motion_unit() const;        // [Metric] HMotionUnit, mm
  std::int32_t twips_per_dots() const;  // [Metric] TwipsPerDots
  std::string pagecode_list() const;   // [FONTS] PagecodeList (CharacterSetList)
  std::string font_list() const;       // [FONTS] FontList (FontTypefaceList)
  // The [FONT n] section ("FONT %d"); every entry 0 or empty when it is missing.
  font_settings read_font(std::int32_t number) const;

  // The values the unit conversions need, with VMotionUnit and TwipsPerDots read now.
  unit_metrics units() const;

 private:
  std::string text(std::string_view section, std::string_view key, std::size_t max_chars) const;
  std::int32_t integer(std::string_view section, std::string_view key) const;
  // Forgets the entries read so far when the file changed since they were read.
  void ForgetEntriesIfChanged() const;

  // What the file looked like when the kept entries were read.
  struct file_stamp {
    std::filesystem::file_time_type modified{};
    std::uintmax_t size = 0;
    bool exists = false;
    bool operator==(const file_stamp&) const = default;
  };

  std::filesystem::path path_;
  bool loaded_ = false;
  double dot_size_ = 0;
  double dot_pl_ = 0;
  double def_line_spacing_ = 0;
  std::int32_t width_dot_ = 0;
  std::int32_t width_mm_ = 0;
  double width_pl_ = 0;
  std::int32_t raster_mode_ = 0;
  std::vector<font_cell> fonts_;
  // Entries read so far, by section, key (and buffer size for texts).
  mutable file_stamp stamp_;
  mutable std::map<std::string, std::string, std::less<>> texts_;
  mutable std::map<std::string, std::int32_t, std::less<>> integers_;
};

}  // namespace devsvc
