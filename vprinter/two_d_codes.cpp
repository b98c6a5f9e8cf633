// GS ( k: QR Code and PDF417 settings, symbol storage, printing and size answers. The symbols
// are encoded by libzint; this file draws its modules at the printer's dot sizes.
#include "two_d_codes.h"

#include <zint.h>

#include <algorithm>
#include <cmath>
#include <memory>

#include "machine.h"

namespace vprinter::detail {
namespace {

using kind = log_entry::kind;

int u8(std::string_view b, std::size_t i) { return i < b.size() ? static_cast<unsigned char>(b[i]) : 0; }

// A zint symbol freed on destruction.
struct zint_deleter {
  void operator()(zint_symbol* s) const { ZBarcode_Delete(s); }
};
using zint_handle = std::unique_ptr<zint_symbol, zint_deleter>;

bool module_set(const zint_symbol& s, int row, int column) {
  return (s.encoded_data[row][column >> 3] >> (column & 7)) & 1;
}

// Encodes `data` as raw bytes with the symbology and options already set on `s`.
bool encode(zint_symbol& s, std::string_view data, std::string& error) {
  if (data.empty()) {
    error = "no data stored";
    return false;
  }
  s.input_mode = DATA_MODE;
  const int rc = ZBarcode_Encode(&s, reinterpret_cast<const unsigned char*>(data.data()), static_cast<int>(data.size()));
  if (rc >= ZINT_ERROR) {
    error = s.errtxt;
    return false;
  }
  return true;
}

// Draws the symbol's modules `mw` dots wide and `mh` dots tall.
bitmap draw_modules(const zint_symbol& s, int mw, int mh) {
  bitmap img(s.width * mw, s.rows * mh);
  for (int r = 0; r < s.rows; ++r)
    for (int c = 0; c < s.width; ++c) {
      if (!module_set(s, r, c)) continue;
      for (int y = r * mh; y < (r + 1) * mh; ++y)
        for (int x = c * mw; x < (c + 1) * mw; ++x) img.set(x, y);
    }
  return img;
}

// The fixed error correction level that gives at least `tenths` x 10 % of the data's codewords
// as correction codewords (levels give 2^(level+1) of them). Byte compaction packs six bytes into
// five codewords.
int pdf_level_for_ratio(std::size_t data_bytes, int tenths) {
  const double data_codewords = std::ceil(static_cast<double>(data_bytes) * 5 / 6);
  const double wanted = data_codewords * tenths / 10;
  int level = 1;
  while (level < 8 && std::pow(2.0, level + 1) < wanted) ++level;
  return level;
}

// Answer of the size request: header "76", width and height in dots, then whether it can be printed.
std::string size_answer(const two_d_symbol& symbol, int paper_width_dots) {
  const bool printable = symbol.ok && symbol.image.width() <= paper_width_dots;
  const int w = symbol.ok ? symbol.image.width() : 0;
  const int h = symbol.ok ? symbol.image.height() : 0;
  return std::string("\x37\x36") + std::to_string(w) + '\x1f' + std::to_string(h) + '\x1f' + (printable ? '0' : '1') +
         std::string(1, '\0');
}

// Dots a line may take: the print area in standard mode, the page's width along its lines.
int line_room(const machine& m) {
  const auto& md = m.print.modes;
  if (!m.print.page_mode()) return md.area_width;
  return (md.direction & 1) ? md.area_h : md.area_w;
}

void print_symbol(machine& m, const char* name, const two_d_symbol& symbol) {
  if (!symbol.ok) {
    m.note(kind::note, std::string(name) + " not printed: " + symbol.error);
    return;
  }
  if (symbol.image.width() > m.cfg().paper_width_dots) {
    m.note(kind::note, std::string(name) + " not printed: " + std::to_string(symbol.image.width()) +
                           " dots wide, wider than the paper");
    return;
  }
  m.print.image(symbol.image, 1, 1);
  for (auto& n : m.print.take_notes()) m.note(kind::note, std::move(n));
}

void run_qr(machine& m, int fn, std::string_view p) {
  auto& s = m.print.modes.two_d;
  switch (fn) {
    case 65: {  // model: 49 model 1, 50 model 2, 51 Micro QR
      const int n = u8(p, 0);
      if (n >= 49 && n <= 51) s.qr_model = n - 48;
      else m.note(kind::ignored, "GS ( k QR model " + std::to_string(n) + " out of range");
      return;
    }
    case 67: {
      const int n = u8(p, 0);
      if (n >= 1 && n <= 16) s.qr_module = n;
      else m.note(kind::ignored, "GS ( k QR module size " + std::to_string(n) + " out of range");
      return;
    }
    case 69: {
      const int n = u8(p, 0);
      if (n >= 48 && n <= 51) s.qr_ecc = n - 48;
      else m.note(kind::ignored, "GS ( k QR error correction " + std::to_string(n) + " out of range");
      return;
    }
    case 80:
      s.qr_data = std::string(p.substr(std::min<std::size_t>(1, p.size())));
      return;
    case 81:
      print_symbol(m, "QR Code", draw_qr(s.qr_data, s.qr_model, s.qr_ecc, s.qr_module));
      return;
    case 82:
      m.answer(size_answer(draw_qr(s.qr_data, s.qr_model, s.qr_ecc, s.qr_module), m.cfg().paper_width_dots));
      return;
    default:
      m.note(kind::ignored, "GS ( k QR function " + std::to_string(fn) + " not supported");
  }
}

void run_pdf417(machine& m, int fn, std::string_view p) {
  auto& s = m.print.modes.two_d;
  auto in_range = [&](const char* what, int n, int lo, int hi, int& out, int zero_ok) {
    if ((n >= lo && n <= hi) || (zero_ok && n == 0)) out = n;
    else m.note(kind::ignored, std::string("GS ( k PDF417 ") + what + " " + std::to_string(n) + " out of range");
  };
  switch (fn) {
    case 65: in_range("columns", u8(p, 0), 1, 30, s.pdf_columns, 1); return;
    case 66: in_range("rows", u8(p, 0), 3, 90, s.pdf_rows, 1); return;
    case 67: in_range("module width", u8(p, 0), 2, 8, s.pdf_module, 0); return;
    case 68: in_range("row height", u8(p, 0), 2, 8, s.pdf_row_height, 0); return;
    case 69: {  // m 48: level '0' to '8'; m 49: ratio n x 10 %
      const int mode = u8(p, 0), n = u8(p, 1);
      if (mode == 48 && n >= 48 && n <= 56) {
        s.pdf_ecc_by_ratio = false;
        s.pdf_ecc = n - 48;
      } else if (mode == 49 && n >= 1 && n <= 40) {
        s.pdf_ecc_by_ratio = true;
        s.pdf_ecc = n;
      } else {
        m.note(kind::ignored, "GS ( k PDF417 error correction out of range");
      }
      return;
    }
    case 70: {
      const int n = u8(p, 0);
      if (n <= 1) s.pdf_truncated = n == 1;
      else m.note(kind::ignored, "GS ( k PDF417 option " + std::to_string(n) + " out of range");
      return;
    }
    case 80:
      s.pdf_data = std::string(p.substr(std::min<std::size_t>(1, p.size())));
      return;
    case 81:
      print_symbol(m, "PDF417", draw_pdf417(s.pdf_data, s, line_room(m)));
      return;
    case 82:
      m.answer(size_answer(draw_pdf417(s.pdf_data, s, line_room(m)), m.cfg().paper_width_dots));
      return;
    default:
      m.note(kind::ignored, "GS ( k PDF417 function " + std::to_string(fn) + " not supported");
  }
}

}  // namespace

two_d_symbol draw_qr(std::string_view data, int model, int ecc, int module_dots) {
  two_d_symbol out;
  zint_handle s(ZBarcode_Create());
  if (!s) {
    out.error = "out of memory";
    return out;
  }
  // Model 1 is obsolete and no encoder makes it; model 2 reads the same way.
  s->symbology = model == 3 ? BARCODE_MICROQR : BARCODE_QRCODE;
  s->option_1 = std::clamp(ecc, 0, 3) + 1;
  if (!encode(*s, data, out.error)) return out;
  out.image = draw_modules(*s, module_dots, module_dots);
  out.ok = true;
  return out;
}

two_d_symbol draw_pdf417(std::string_view data, const two_d_settings& settings, int width_dots) {
  two_d_symbol out;
  zint_handle s(ZBarcode_Create());
  if (!s) {
    out.error = "out of memory";
    return out;
  }
  s->symbology = settings.pdf_truncated ? BARCODE_PDF417COMP : BARCODE_PDF417;
  s->option_1 = settings.pdf_ecc_by_ratio ? pdf_level_for_ratio(data.size(), settings.pdf_ecc) : settings.pdf_ecc;
  // A row is 17 modules per column plus 69 for the start, stop and row indicators.
  s->option_2 = settings.pdf_columns > 0 ? settings.pdf_columns
                                         : std::clamp((width_dots / settings.pdf_module - 69) / 17, 1, 30);
  s->option_3 = settings.pdf_rows;
  if (!encode(*s, data, out.error)) return out;
  out.image = draw_modules(*s, settings.pdf_module, settings.pdf_module * settings.pdf_row_height);
  out.ok = true;
  return out;
}

void run_two_d_command(machine& m, std::string_view b) {
  // GS ( k pL pH cn fn [parameters]
  if (b.size() < 7) {
    m.note(kind::ignored, "GS ( k too short");
    return;
  }
  const int cn = u8(b, 5), fn = u8(b, 6);
  const std::string_view p = b.substr(7);
  if (cn == 49) run_qr(m, fn, p);
  else if (cn == 48) run_pdf417(m, fn, p);
  else m.note(kind::ignored, "GS ( k symbol type " + std::to_string(cn) + " not supported");
}

}  // namespace vprinter::detail
