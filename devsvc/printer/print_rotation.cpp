// CVX40Printer: RotatePrint (the receipt turned left, right or upside down in a page-mode area,
// its output collected and released at once) and TransactionPrint (output collected until the
// transaction ends).
#include <string>
#include <utility>

#include "core/module.h"
#include "core/opos.h"
#include "core/printer_text.h"
#include "printer/esc_engineer.h"
#include "printer/vx40_printer.h"

namespace devsvc {
namespace {

// The page set-up of a turn: page mode, a print area at 0, 0 of 512 x 1662 motion units, and
// the print direction of `rotation`.
std::string page_setup_step(int step, std::int32_t rotation) {
  using E = ESCEngineer;
  switch (step) {
    case 0:
      return std::string(E::command(E::kPageMode));
    case 1:
      return E::command_with(E::kPageArea, std::string_view("\x00\x00\x00\x00\x00\x02\x7E\x06", 8));
    default: {
      const std::uint8_t direction = rotation == PTR_RP_LEFT90 ? 1 : rotation == PTR_RP_RIGHT90 ? 3 : 2;
      return E::command_with(E::kPageDirection, direction);
    }
  }
}

}  // namespace

std::int32_t CVX40Printer::RotatePrint(std::int32_t station, std::int32_t rotation) {
  if (CheckState() != OPOS_SUCCESS) return ResultCode;
  if (station != PTR_S_RECEIPT) return Illegal();
  ResultCode = OPOS_SUCCESS;
  ResultCodeExtended = 0;

  switch (rotation) {
    case PTR_RP_LEFT90:
    case PTR_RP_RIGHT90:
    case PTR_RP_ROTATE180: {
      if (rotation_state_ != PTR_RP_NORMAL) return Illegal();
      for (int step = 0; step < 3; ++step) {
        std::string command = page_setup_step(step, rotation);
        const std::int32_t result = Submit(command, 0, kOutputInternal);
        if (result != OPOS_SUCCESS) return StoreResult(result);
      }
      if (rotation == PTR_RP_RIGHT90) {
        // Lines now run along the paper: the line values come from the sideways list, and the
        // ones of the normal receipt are kept for the return.
        saved_line_values_ = CurrentLineValues();
        RecLineCharsList = metrics_.read_font(current_font_).sideways_list;
        rotation_state_ = rotation;
        SetRecLineChars(RecLineChars);
      } else {
        rotation_state_ = rotation;
      }
      return StoreResult(OPOS_SUCCESS);
    }
    case PTR_RP_NORMAL:
      return EndRotation();
    default:
      return StoreResult(OPOS_SUCCESS);
  }
}

std::int32_t CVX40Printer::EndRotation() {
  // Not turned: there is no page to finish.
  if (rotation_state_ == PTR_RP_NORMAL) return StoreResult(OPOS_SUCCESS);
  const std::int32_t turned = std::exchange(rotation_state_, PTR_RP_NORMAL);
  const bool transaction = transaction_state_ == PTR_TP_TRANSACTION;
  std::int32_t kept = OPOS_SUCCESS;

  if (!transaction && !AsyncMode) {
    // Write what was collected, oldest first; the first failure empties the queue.
    SetPrinterState(OPOS_S_BUSY);
    for (std::size_t n = queue_.size(); n > 0 && !queue_.empty(); --n) {
      OutputRequest request = std::move(queue_.front());
      queue_.pop_front();
      const std::int32_t result = SendCollected(request, true);
      if (result != OPOS_SUCCESS) {
        const std::int32_t extended = ResultCodeExtended;
        ClearOutput();
        kept = result;
        ResultCodeExtended = extended;
        break;
      }
    }
    SetPrinterState(OPOS_S_IDLE);
    collected_job_named_ = false;
  } else if (!transaction) {
    ReleaseCollectedJob();
  }
  const std::int32_t extended = ResultCodeExtended;

  // FF prints the page and leaves page mode in every case, so that collected output is never
  // dropped; then the turn itself is switched off.
  std::string print_page(1, '\x0C');
  Submit(print_page, 0, kOutputInternal);
  std::string off(ESCEngineer::command(turned == PTR_RP_ROTATE180 ? ESCEngineer::kUpsideDownOff
                                                                   : ESCEngineer::kRotate90Off));
  Submit(off, 0, kOutputInternal);

  RecLineCharsList = metrics_.read_font(current_font_).size_list;
  if (turned == PTR_RP_RIGHT90 && saved_line_values_) {
    line_values restored = CurrentLineValues();
    restored.rec_line_chars = saved_line_values_->rec_line_chars;
    restored.rec_line_height = saved_line_values_->rec_line_height;
    restored.rec_line_spacing = saved_line_values_->rec_line_spacing;
    restored.spacing_above = saved_line_values_->spacing_above;
    StoreLineValues(restored);
    saved_line_values_.reset();
  }
  SetRecLineChars(RecLineChars);
  ResultCodeExtended = extended;
  return StoreResult(kept);
}

std::int32_t CVX40Printer::SendCollected(OutputRequest& request, bool large) {
  switch (request.kind & kOutputKindMask) {
    case kOutputDirectRead: {
      // A read takes the printer's answer in place of its buffer, which is never written. The
      // DirectIO call returned before the read took place: its answer comes with the event.
      const std::int32_t result = SendRequest(request);
      if (result == OPOS_SUCCESS) {
        const std::string text = text_for_application(request.data, BinaryConversion, CharacterSet);
        FireDirectIO(request.id, static_cast<std::int32_t>(text.size()), text);
      }
      return result;
    }
    case kOutputDirectWrite:
      // Written as it is, without a status poll, whose answers would take the place of the
      // answer a following read is waiting for.
      return SendRequest(request);
    default:
      break;
  }
  std::int32_t written = 0;
  const std::int32_t sent = large ? channel_.WriteLarge(request.data, written)
                                  : channel_.WriteChunked(request.data, written, request.chunk_bytes);
  return DecodeWriteResult(sent, true);
}

void CVX40Printer::ReleaseCollectedJob() {
  // One output-complete event, with the job's identifier, reports the whole collected output.
  if (!queue_.empty()) {
    OutputRequest& last = queue_.back();
    last.kind = (last.kind & ~kOutputKindMask) | kOutputPrint;
    last.id = OutputID;
  }
  collected_job_named_ = false;
  RequestPromptTick(this);
}

std::int32_t CVX40Printer::TransactionPrint(std::int32_t station, std::int32_t control) {
  if (station != PTR_S_RECEIPT || rotation_state_ != PTR_RP_NORMAL) return Illegal();
  switch (control) {
    case PTR_TP_TRANSACTION:
      transaction_state_ = PTR_TP_TRANSACTION;
      return StoreResult(OPOS_SUCCESS);
    case PTR_TP_NORMAL:
      break;
    default:
      return Illegal();
  }

  if (AsyncMode) {
    ReleaseCollectedJob();
    transaction_state_ = PTR_TP_NORMAL;
    return StoreResult(OPOS_SUCCESS);
  }

  if (CheckState() != OPOS_SUCCESS) return ResultCode;
  SetPrinterState(OPOS_S_BUSY);
  std::int32_t result = OPOS_SUCCESS;
  for (std::size_t n = queue_.size(); n > 0 && !queue_.empty(); --n) {
    OutputRequest request = std::move(queue_.front());
    queue_.pop_front();
    // A raster image keeps the printer silent for a while.
    const bool raster = (request.kind & kOutputRaster) != 0;
    if (raster) BeginSlowTransfer();
    request.kind &= ~(kOutputChunkSet | kOutputRaster);
    result = SendCollected(request, false);
    if (raster) EndSlowTransfer();
    if (result != OPOS_SUCCESS) {
      const std::int32_t extended = ResultCodeExtended;
      ClearOutput();
      State = OPOS_S_IDLE;
      ResultCodeExtended = extended;
      return StoreResult(result);
    }
  }
  SetPrinterState(OPOS_S_IDLE);
  transaction_state_ = PTR_TP_NORMAL;
  collected_job_named_ = false;
  return StoreResult(result);
}

}  // namespace devsvc
