// CVX40Printer: PrintBarCode, parameters and data checked before anything is sent.
#include <optional>
#include <string>

#include "core/binary_conversion.h"
#include "core/opos.h"
#include "core/printer_text.h"
#include "printer/bar_code.h"
#include "printer/esc_engineer.h"
#include "printer/vx40_printer.h"

namespace devsvc {
namespace {

// Bar height when the application leaves it to the printer (Height 0), in dots.
constexpr std::int32_t kDefaultBarHeightDots = 162;
// GS h takes 1 to 255 dots.
constexpr std::int32_t kMaxBarHeightDots = 255;

}  // namespace

std::int32_t CVX40Printer::PrintBarCode(std::int32_t station, const std::string& data, std::int32_t symbology,
                                        std::int32_t height, std::int32_t width, std::int32_t alignment,
                                        std::int32_t text_position) {
  if (CheckState() != OPOS_SUCCESS) return ResultCode;
  const bar_code_symbology* served = find_bar_code_symbology(symbology);
  const std::int32_t text_byte = bar_code_text_position(text_position);
  if (station != PTR_S_RECEIPT || rotation_state_ != PTR_RP_NORMAL || height < 0 || served == nullptr ||
      width < 2 || width > served->max_width || text_byte < 0) {
    return Illegal();
  }
  // A PDF417 row is three modules tall unless Height says otherwise; a QR Code has square modules.
  const std::int32_t default_height = served->symbology == PTR_BCS_PDF417 ? 3 * width : kDefaultBarHeightDots;
  const std::int32_t height_dots = height == 0 ? default_height : ToDots(height);
  if (height_dots < 1 || height_dots > kMaxBarHeightDots) return Illegal();

  // The data are checked before anything is sent, the alignment included.
  const std::optional<std::string> decoded = binary_decode(data, BinaryConversion);
  if (!decoded) return OPOS_E_FAILURE;
  bar_code_job job;
  job.symbology = served;
  job.data = text_to_bytes(*decoded);
  if (!valid_bar_code_data(*served, job.data)) return Illegal();
  if (served->two_dimensional && !two_d_symbol_fits(*served, job.data, width, RecLineWidth)) return Illegal();
  job.height_dots = height_dots;
  job.width = width;
  job.text_position = static_cast<std::uint8_t>(text_byte);
  job.rotate_special = RotateSpecial;
  job.rec_line_height = RecLineHeight;
  job.dot_pl = metrics_.dot_pl();
  job.line_width_dots = RecLineWidth;

  const std::int32_t aligned = SubmitAlignment(alignment);
  if (aligned != OPOS_SUCCESS) return StoreResult(aligned);
  std::string sequence = bar_code_sequence(job);
  const std::int32_t result = Submit(sequence, 0, kOutputPrint);
  if (result == OPOS_SUCCESS) SubmitAfterPicture();
  return StoreResult(result);
}

}  // namespace devsvc
