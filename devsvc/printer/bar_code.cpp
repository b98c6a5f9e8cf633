// Bar code symbologies, data rules and the printer sequence of one bar code.
#include "printer/bar_code.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "core/opos.h"
#include "printer/esc_engineer.h"

namespace devsvc {
namespace {

constexpr std::string_view kDigits = "0123456789";
constexpr std::string_view kCodabar = "0123456789ABCD$+-./:";
constexpr std::string_view kCode39 = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ $%+-./";

constexpr std::array<bar_code_symbology, 9> kSymbologies = {{
    {PTR_BCS_UPCA, 0x41, 11, 12, 5, kDigits},
    {PTR_BCS_UPCE, 0x42, 11, 12, 6, kDigits},
    {PTR_BCS_JAN8, 0x44, 7, 8, 6, kDigits},
    {PTR_BCS_JAN13, 0x43, 12, 13, 5, kDigits},
    {PTR_BCS_ITF, 0x46, 2, 255, 4, kDigits},
    {PTR_BCS_Codabar, 0x47, 1, 255, 5, kCodabar},
    {PTR_BCS_Code39, 0x45, 1, 255, 4, kCode39},
    {PTR_BCS_Code93, 0x48, 1, 255, 6, {}},
    {PTR_BCS_Code128, 0x49, 2, 255, 4, {}},
}};

// Code 128 data is sent in code set B: "{B" before the data, and a "{" in the data doubled so
// that the printer does not take it for a code set change.
constexpr std::string_view kCode128SetB = "{B";

std::string code128_data(std::string_view data) {
  std::string out(kCode128SetB);
  for (const char c : data) {
    out += c;
    if (c == '{') out += c;
  }
  return out;
}

// Page-mode set-up of a turned bar code: motion units 1/180 inch across and 1/104 inch along the
// paper, an area 512 units (72 mm) wide, 104 units per inch of symbol length.
constexpr std::uint8_t kMotionX = 180;
constexpr std::uint8_t kMotionY = 104;
constexpr std::int32_t kAreaWidth = 512;
// Room between the line above and the symbol's top, in dots.
constexpr std::int32_t kTopMarginDots = 20;
constexpr double kInchesPerMm = 0.03937007874015748;
// The length estimate assumes modules about three dots wide.
constexpr double kEstimateWidth = 3.0;

// The symbol's estimated length in millimetres from its data length.
double estimated_length_mm(std::int32_t symbology, std::size_t length) {
  const double n = static_cast<double>(length);
  switch (symbology) {
    case PTR_BCS_JAN8:
    case PTR_BCS_Codabar:
    case PTR_BCS_Code128:
      return n * 9;
    case PTR_BCS_Code39:
      return n * 7 + 26;
    case PTR_BCS_Code93:
      return n * 9 + 32;
    default:
      return n * 4;
  }
}

void append_le16(std::string& out, std::int32_t value) {
  const auto v = static_cast<std::uint32_t>(std::clamp(value, 0, 0xFFFF));
  out += static_cast<char>(v & 0xFF);
  out += static_cast<char>(v >> 8);
}

}  // namespace

const bar_code_symbology* find_bar_code_symbology(std::int32_t symbology) {
  const auto found = std::find_if(kSymbologies.begin(), kSymbologies.end(),
                                  [&](const bar_code_symbology& s) { return s.symbology == symbology; });
  return found == kSymbologies.end() ? nullptr : &*found;
}

std::int32_t bar_code_text_position(std::int32_t text_position) {
  switch (text_position) {
    case PTR_BC_TEXT_NONE:
      return 0x30;
    case PTR_BC_TEXT_ABOVE:
      return 0x31;
    case PTR_BC_TEXT_BELOW:
      return 0x32;
    default:
      return -1;
  }
}

bool valid_bar_code_data(const bar_code_symbology& symbology, std::string_view data) {
  if (data.size() < symbology.min_length || data.size() > symbology.max_length) return false;
  // The printer's length byte must hold what is sent, code set and doubled braces included.
  if (symbology.symbology == PTR_BCS_Code128 && code128_data(data).size() > 255) return false;
  return std::all_of(data.begin(), data.end(), [&](char c) {
    const auto byte = static_cast<unsigned char>(c);
    if (symbology.characters.empty()) return byte < 0x80;
    return symbology.characters.find(c) != std::string_view::npos;
  });
}

std::string bar_code_sequence(const bar_code_job& job) {
  using E = ESCEngineer;
  const bar_code_symbology& symbology = *job.symbology;
  const bool turned = job.rotate_special == PTR_RP_RIGHT90 || job.rotate_special == PTR_RP_LEFT90;
  const bool upside_down = job.rotate_special == PTR_RP_ROTATE180;
  std::string out;

  if (turned) {
    out += E::command(E::kPageMode);
    out += E::command(E::kMotionUnits);
    out += static_cast<char>(kMotionX);
    out += static_cast<char>(kMotionY);
    // The area runs along the paper for the symbol's length, rounded up to whole inches and
    // scaled by the module width, so that wide modules are not cut off.
    const double inches = estimated_length_mm(symbology.symbology, job.data.size()) * kInchesPerMm *
                          std::max(1.0, job.width / kEstimateWidth);
    const auto length = static_cast<std::int32_t>(std::max(1.0, std::ceil(inches)));
    out += E::command(E::kPageArea);
    out += std::string(4, '\0');  // origin 0, 0
    append_le16(out, kAreaWidth);
    append_le16(out, length * kMotionY);
    out += E::command(E::kPageDirection);
    out += job.rotate_special == PTR_RP_RIGHT90 ? '3' : '1';
    // Down to the base line: a line, the bars and a margin, in the 1/180 inch unit that moves
    // across the paper in a turned page.
    out += E::command(E::kRelativeVertical);
    append_le16(out, static_cast<std::int32_t>(job.dot_pl *
                                               (job.rec_line_height + job.height_dots + kTopMarginDots) * kMotionX));
  } else if (upside_down) {
    out += E::command(E::kUpsideDownOn);
  }

  out += E::command(E::kBarCodeTextPosition);
  out += static_cast<char>(job.text_position);
  out += E::command(E::kBarCodeHeight);
  out += static_cast<char>(job.height_dots);
  out += E::command(E::kBarCodeWidth);
  out += static_cast<char>(job.width);
  out += E::command(E::kPrintBarCode);
  out += static_cast<char>(symbology.type);
  const std::string data = symbology.symbology == PTR_BCS_Code128 ? code128_data(job.data) : job.data;
  out += static_cast<char>(data.size());
  out += data;

  if (turned) {
    // Print the page, then give the motion units back to the printer's defaults, which the
    // feeds and line spacing of later text are counted in.
    out += '\x0C';
    out += E::command(E::kMotionUnits);
    out += std::string(2, '\0');
  }
  // Later text must not come out upside down too.
  if (upside_down) out += E::command(E::kUpsideDownOff);
  return out;
}

}  // namespace devsvc
