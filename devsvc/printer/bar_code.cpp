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

constexpr std::array<bar_code_symbology, 11> kSymbologies = {{
    {PTR_BCS_UPCA, 0x41, 11, 12, 5, kDigits},
    {PTR_BCS_UPCE, 0x42, 11, 12, 6, kDigits},
    {PTR_BCS_JAN8, 0x44, 7, 8, 6, kDigits},
    {PTR_BCS_JAN13, 0x43, 12, 13, 5, kDigits},
    {PTR_BCS_ITF, 0x46, 2, 255, 4, kDigits},
    {PTR_BCS_Codabar, 0x47, 1, 255, 5, kCodabar},
    {PTR_BCS_Code39, 0x45, 1, 255, 4, kCode39},
    {PTR_BCS_Code93, 0x48, 1, 255, 6, {}},
    {PTR_BCS_Code128, 0x49, 2, 255, 4, {}},
    // GS ( k symbol types: 0x30 PDF417, 0x31 QR Code; data of any bytes, UTF-8 text as it is.
    {PTR_BCS_PDF417, 0x30, 1, 1850, 8, {}, true},
    {PTR_BCS_QRCODE, 0x31, 1, 2331, 16, {}, true},
}};

constexpr std::string_view kTwoD = "\x1d(k";
constexpr std::uint8_t kPdf417 = 0x30;
constexpr std::uint8_t kQrCode = 0x31;

// Bytes a QR Code of versions 1 to 40 holds at correction level M in byte mode.
constexpr std::array<std::uint16_t, 40> kQrBytesLevelM = {
    14,   26,   42,   62,   84,   106,  122,  152,  180,  213,  251,  287,  331,  362,
    412,  450,  504,  560,  624,  666,  711,  779,  857,  911,  997,  1059, 1125, 1190,
    1264, 1370, 1452, 1538, 1628, 1722, 1809, 1911, 1989, 2099, 2213, 2331};

// Modules across the smallest QR Code version holding `length` bytes at level M; 0 if none does.
std::int32_t qr_modules(std::size_t length) {
  for (std::size_t v = 0; v < kQrBytesLevelM.size(); ++v)
    if (length <= kQrBytesLevelM[v]) return 17 + 4 * static_cast<std::int32_t>(v + 1);
  return 0;
}

// PDF417 geometry: 17 modules per codeword column, 4 columns of start, stop and row indicators and
// a final stop bar; at most 90 rows and 928 codewords.
constexpr std::int32_t kPdfMaxRows = 90;
constexpr std::int32_t kPdfMaxCodewords = 928;
std::int32_t pdf417_columns(std::int32_t width, std::int32_t line_width_dots) {
  return std::clamp((line_width_dots / std::max(width, 1) - 69) / 17, 1, 30);
}
// Codewords of `length` bytes in byte compaction (six bytes to five, a latch and the length).
std::int32_t pdf417_data_codewords(std::size_t length) {
  return static_cast<std::int32_t>((length * 5 + 5) / 6) + 2;
}
// The correction level: about a tenth of the data, never below level 2 (eight codewords).
std::int32_t pdf417_level(std::size_t length) {
  const std::int32_t wanted = pdf417_data_codewords(length) / 10;
  std::int32_t level = 2;
  while (level < 8 && (1 << (level + 1)) < wanted) ++level;
  return level;
}

// PDF417 row height in dots: Height rounded to whole modules of 2 to 8.
std::int32_t pdf417_row_dots(const bar_code_job& job) {
  return std::clamp((job.height_dots + job.width / 2) / std::max(job.width, 1), 2, 8) * job.width;
}

// GS ( k pL pH cn fn parameters.
std::string two_d_command(std::uint8_t cn, std::uint8_t fn, std::string_view params) {
  std::string out(kTwoD);
  const std::size_t n = params.size() + 2;
  out += static_cast<char>(n & 0xFF);
  out += static_cast<char>((n >> 8) & 0xFF);
  out += static_cast<char>(cn);
  out += static_cast<char>(fn);
  out += params;
  return out;
}

std::string byte_of(std::int32_t n) { return std::string(1, static_cast<char>(n)); }

// Settings, stored data and print function of a QR Code or PDF417 symbol.
std::string two_d_sequence(const bar_code_job& job) {
  const std::uint8_t cn = job.symbology->type;
  std::string out;
  if (cn == kQrCode) {
    out += two_d_command(cn, 0x41, std::string("2\0", 2));  // model 2
    out += two_d_command(cn, 0x43, byte_of(job.width));      // module size
    out += two_d_command(cn, 0x45, "1");                      // level M
  } else {
    const std::int32_t row = pdf417_row_dots(job) / job.width;
    out += two_d_command(cn, 0x41, byte_of(pdf417_columns(job.width, job.line_width_dots)));
    out += two_d_command(cn, 0x42, byte_of(0));  // rows as the data need
    out += two_d_command(cn, 0x43, byte_of(job.width));
    out += two_d_command(cn, 0x44, byte_of(row));
    out += two_d_command(cn, 0x45, "0" + byte_of('0' + pdf417_level(job.data.size())));
    out += two_d_command(cn, 0x46, byte_of(0));  // standard, not truncated
  }
  out += two_d_command(cn, 0x50, "0" + job.data);
  out += two_d_command(cn, 0x51, "0");
  return out;
}

// The symbol's height in dots (across its reading direction): a QR Code is square; a PDF417 has
// as many rows as its codewords fill, at least three.
std::int32_t two_d_height_dots(const bar_code_job& job) {
  if (job.symbology->type == kQrCode) return qr_modules(job.data.size()) * job.width;
  const std::int32_t columns = pdf417_columns(job.width, job.line_width_dots);
  const std::int32_t codewords = pdf417_data_codewords(job.data.size()) + (1 << (pdf417_level(job.data.size()) + 1));
  return std::max(3, (codewords + columns - 1) / columns) * pdf417_row_dots(job);
}

// The symbol's extent along its reading direction in dots, for the page of a turned symbol.
std::int32_t two_d_length_dots(const bar_code_job& job) {
  if (job.symbology->type == kQrCode) return qr_modules(job.data.size()) * job.width;
  return (17 * (pdf417_columns(job.width, job.line_width_dots) + 4) + 1) * job.width;
}

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
  if (symbology.two_dimensional) return true;
  // The printer's length byte must hold what is sent, code set and doubled braces included.
  if (symbology.symbology == PTR_BCS_Code128 && code128_data(data).size() > 255) return false;
  return std::all_of(data.begin(), data.end(), [&](char c) {
    const auto byte = static_cast<unsigned char>(c);
    if (symbology.characters.empty()) return byte < 0x80;
    return symbology.characters.find(c) != std::string_view::npos;
  });
}

bool two_d_symbol_fits(const bar_code_symbology& symbology, std::string_view data, std::int32_t width,
                       std::int32_t line_width_dots) {
  if (symbology.type == kQrCode) {
    const std::int32_t modules = qr_modules(data.size());
    return modules > 0 && modules * width <= line_width_dots;
  }
  const std::int32_t columns = pdf417_columns(width, line_width_dots);
  if ((17 * (columns + 4) + 1) * width > line_width_dots) return false;
  const std::int32_t codewords = pdf417_data_codewords(data.size()) + (1 << (pdf417_level(data.size()) + 1));
  return codewords <= std::min(kPdfMaxCodewords, columns * kPdfMaxRows);
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
    const double inches =
        symbology.two_dimensional
            ? two_d_length_dots(job) * job.dot_pl
            : estimated_length_mm(symbology.symbology, job.data.size()) * kInchesPerMm *
                  std::max(1.0, job.width / kEstimateWidth);
    const auto length = static_cast<std::int32_t>(std::max(1.0, std::ceil(inches)));
    out += E::command(E::kPageArea);
    out += std::string(4, '\0');  // origin 0, 0
    append_le16(out, kAreaWidth);
    append_le16(out, length * kMotionY);
    // The symbol stands on the base line, so the base line lies its height below the top.
    const std::int32_t symbol_height = symbology.two_dimensional ? two_d_height_dots(job) : job.height_dots;
    out += E::command(E::kPageDirection);
    out += job.rotate_special == PTR_RP_RIGHT90 ? '3' : '1';
    // Down to the base line: a line, the bars and a margin, in the 1/180 inch unit that moves
    // across the paper in a turned page.
    out += E::command(E::kRelativeVertical);
    append_le16(out, static_cast<std::int32_t>(job.dot_pl *
                                               (job.rec_line_height + symbol_height + kTopMarginDots) * kMotionX));
  } else if (upside_down) {
    out += E::command(E::kUpsideDownOn);
  }

  if (symbology.two_dimensional) {
    out += two_d_sequence(job);
  } else {
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
  }

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
