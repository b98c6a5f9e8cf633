// Two-dimensional symbols of GS ( k: QR Code and PDF417, their settings and stored data, and the
// command that sets, stores, prints and sizes them. The symbols come from libzint.
#pragma once

#include <string>
#include <string_view>

#include "vprinter/bitmap.h"

namespace vprinter::detail {

class machine;

// Settings and stored data of GS ( k, as set by the host; ESC @ puts them back.
struct two_d_settings {
  // QR Code (cn 49).
  int qr_model = 2;         // 1, 2, or 3 for Micro QR
  int qr_module = 3;        // dots per module, 1 to 16
  int qr_ecc = 0;           // error correction 0 L, 1 M, 2 Q, 3 H
  std::string qr_data;      // symbol storage area
  // PDF417 (cn 48).
  int pdf_columns = 0;      // data columns, 0 automatic or 1 to 30
  int pdf_rows = 0;         // rows, 0 automatic or 3 to 90
  int pdf_module = 3;       // module width in dots, 2 to 8
  int pdf_row_height = 3;   // row height in module widths, 2 to 8
  bool pdf_ecc_by_ratio = true;  // level from a ratio of the data (fn 69 m 49) or a fixed level
  int pdf_ecc = 1;          // level 0 to 8, or the ratio in tenths 1 to 40
  bool pdf_truncated = false;
  std::string pdf_data;
};

// A symbol drawn at its print size, or why it cannot be drawn.
struct two_d_symbol {
  bool ok = false;
  std::string error;
  bitmap image;
};

// Draws `data` as a QR Code with the given settings (module size in dots, no quiet zone).
two_d_symbol draw_qr(std::string_view data, int model, int ecc, int module_dots);
// Draws `data` as a PDF417 symbol with the given settings (no quiet zone); automatic columns are
// as many as fit `width_dots`.
two_d_symbol draw_pdf417(std::string_view data, const two_d_settings& settings, int width_dots);

// GS ( k pL pH cn fn ...: `b` is the whole command.
void run_two_d_command(machine& m, std::string_view b);

}  // namespace vprinter::detail
