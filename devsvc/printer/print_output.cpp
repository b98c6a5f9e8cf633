// CVX40Printer: the print data path (PrintNormal, PrintImmediate, CutPaper, ValidateData), the
// single output entry point Submit, the output queue and its worker on the poll tick.
#include <algorithm>
#include <new>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/device_keys.h"
#include "core/module.h"
#include "core/opos.h"
#include "core/printer_text.h"
#include "platform/messages.h"
#include "printer/esc_engineer.h"
#include "printer/vx40_printer.h"

namespace devsvc {
namespace {

// Bytes of the command sent before a stored bitmap is printed (PrePrintBitmap n).
constexpr std::uint32_t kPrePrintBytes = 3;

// The per-user value PrePrintBitmap n, read as raw bytes whatever its type (at most 3 bytes are
// used); std::nullopt when the key or the value is absent.
std::optional<std::string> ReadPrePrintBitmap(std::string_view user_key, std::int32_t n) {
  platform::registry_key key;
  if (platform::registry_key::open(platform::registry_root::current_user, user_key, key) !=
      platform::kErrorSuccess) {
    return std::nullopt;
  }
  const std::string name = "PrePrintBitmap" + std::to_string(n);
  std::uint32_t size = 0;
  if (key.query_value(name, nullptr, nullptr, &size) != platform::kErrorSuccess) return std::nullopt;
  std::vector<char> value(size);
  if (size > 0 && key.query_value(name, nullptr, value.data(), &size) != platform::kErrorSuccess) {
    return std::nullopt;
  }
  return std::string(value.data(), std::min(size, kPrePrintBytes));
}

// The two-colour printer's command before stored graphics n: ESC a with the per-user value
// Alignment n (1 left, 2 centre, 3 right) less one; left when the value is missing or out of range.
std::string ReadStoredAlignment(std::string_view user_key, std::int32_t n) {
  std::uint32_t alignment = 1;
  platform::registry_key key;
  if (platform::registry_key::open(platform::registry_root::current_user, user_key, key) == platform::kErrorSuccess) {
    alignment = ReadRegistryDword(key, "Alignment" + std::to_string(n), 1);
  }
  if (alignment < 1 || alignment > 3) alignment = 1;
  return std::string("\x1B\x61", 2) + static_cast<char>(alignment - 1);
}

}  // namespace

bool CVX40Printer::Collecting() const {
  return transaction_state_ == PTR_TP_TRANSACTION || rotation_state_ != PTR_RP_NORMAL;
}

std::int32_t CVX40Printer::StoreResult(std::int32_t result) {
  ResultCode = result;
  // The extended code belongs to 114; anything else leaves no stale one behind.
  if (result != OPOS_E_EXTENDED) ResultCodeExtended = 0;
  return result;
}

// ---------------------------------------------------------------------------------------------
// Application text

translate_context CVX40Printer::TranslateContext() const {
  translate_context c;
  c.h_scale = h_scale_;
  c.v_scale = v_scale_;
  c.font = current_font_;
  c.rec_lines_to_paper_cut = RecLinesToPaperCut;
  c.rec_line_spacing = RecLineSpacing;
  c.map_mode = MapMode;
  c.units = metrics_.units();
  c.top_logo = logo_.top();
  c.bottom_logo = logo_.bottom();
  const std::string_view user_key = model_.user_key;
  if (model_.two_colour) {
    c.pre_print_bitmap = [user_key](std::int32_t n) -> std::optional<std::string> {
      return ReadStoredAlignment(user_key, n);
    };
  } else {
    c.pre_print_bitmap = [user_key](std::int32_t n) { return ReadPrePrintBitmap(user_key, n); };
  }
  c.bmp_mode = bmp_mode_;
  return c;
}

prepared_text CVX40Printer::PrepareText(std::string_view data) const {
  // Plain text is UTF-8 and goes to the code page the printer was set to.
  return Prepare(data, BinaryConversion, CharacterSet, parser_, TranslateContext());
}

// ---------------------------------------------------------------------------------------------
// Print methods

std::int32_t CVX40Printer::PrintNormal(std::int32_t station, const std::string& data) {
  if (CheckState() != OPOS_SUCCESS) return ResultCode;
  if (station != PTR_S_RECEIPT) return Illegal();
  const prepared_text prepared = PrepareText(data);
  if (prepared.result != OPOS_SUCCESS) return StoreResult(prepared.result);
  // Empty text is still a request: synchronously it runs the status poll, asynchronously it
  // completes with its own event.
  std::string bytes = text_to_bytes(prepared.text);
  const std::int32_t kind = Collecting() ? (kOutputBuffered | kOutputMerge) : kOutputPrint;
  return StoreResult(Submit(bytes, 0, kind));
}

std::int32_t CVX40Printer::PrintImmediate(std::int32_t station, const std::string& data) {
  if (CheckState() != OPOS_SUCCESS) return ResultCode;
  if (station != PTR_S_RECEIPT || transaction_state_ == PTR_TP_TRANSACTION ||
      rotation_state_ == PTR_RP_RIGHT90 || rotation_state_ == PTR_RP_LEFT90) {
    return Illegal();
  }
  const prepared_text prepared = PrepareText(data);
  if (prepared.result != OPOS_SUCCESS) return StoreResult(prepared.result);
  if (prepared.text.empty()) return StoreResult(OPOS_SUCCESS);

  SetPrinterState(OPOS_S_BUSY);
  // DLE ENQ 2 first: the printer recovers and drops what it holds, so the data prints now.
  std::string bytes(ESCEngineer::command(ESCEngineer::kRecover));
  bytes += text_to_bytes(prepared.text);
  std::int32_t result = OPOS_SUCCESS;
  if (rotation_state_ == PTR_RP_ROTATE180) {
    // Upside down the page is still being collected: the data joins it.
    result = Submit(bytes, 0, kOutputBuffered | kOutputMerge);
  } else {
    // Past the queue, in one write.
    std::int32_t written = 0;
    result = DecodeWriteResult(channel_.Write(bytes, written, kWriteModeData), true);
  }
  SetPrinterState(OPOS_S_IDLE);
  return StoreResult(result);
}

std::int32_t CVX40Printer::CutPaper(std::int32_t percentage) {
  if (CheckState() != OPOS_SUCCESS) return ResultCode;
  if (percentage < 1) return Illegal();
  std::string bytes(ESCEngineer::command(ESCEngineer::kFeedAndCut));
  // A cut is never collected into a rotated page.
  const std::int32_t rotation = std::exchange(rotation_state_, PTR_RP_NORMAL);
  const std::int32_t result = Submit(bytes, 0, kOutputPrint);
  rotation_state_ = rotation;
  return StoreResult(result);
}

std::int32_t CVX40Printer::ValidateData(std::int32_t station, const std::string& data) {
  if (station != PTR_S_RECEIPT) return Illegal();
  const validation checked = validate_data(data, BinaryConversion, parser_, TranslateContext());
  if (!checked.store) return checked.result;
  return StoreResult(checked.result);
}

// ---------------------------------------------------------------------------------------------
// Output

std::int32_t CVX40Printer::Submit(std::string& bytes, std::int32_t chunk_bytes, std::int32_t kind) {
  if (bytes.starts_with(ESCEngineer::command(ESCEngineer::kRasterImage))) kind |= kOutputRaster;
  if (AsyncMode || Collecting()) {
    return Queue(std::move(bytes), chunk_bytes, kind) ? OPOS_SUCCESS : OPOS_E_FAILURE;
  }

  SetPrinterState(OPOS_S_BUSY);
  OutputRequest request{std::move(bytes), 0, kind, chunk_bytes};
  const std::int32_t result = SendRequest(request, (kind & kOutputRaster) != 0);
  // A direct read hands back what arrived; written data is not needed any more.
  if ((kind & kOutputKindMask) == kOutputDirectRead) bytes = std::move(request.data);
  SetPrinterState(OPOS_S_IDLE);
  return result;
}

bool CVX40Printer::Queue(std::string bytes, std::int32_t chunk_bytes, std::int32_t kind) {
  try {
    OutputRequest request{std::move(bytes), NewOutputID(), kind, 0};
    if (chunk_bytes > 0) {
      request.chunk_bytes = chunk_bytes;
      request.kind |= kOutputChunkSet;
    }
    if (AsyncMode) {
      if (Collecting()) {
        // The first collected part names the job; the parts report nothing of their own (the
        // end of the turn or transaction gives the last one the job's output-complete event).
        // Buffered text stays buffered so that the next part merges into it, and direct I/O
        // keeps its kind.
        if (!collected_job_named_) {
          OutputID = request.id;
          collected_job_named_ = true;
        }
        if ((request.kind & kOutputKindMask) == kOutputPrint) request.kind |= kOutputInternal;
      } else if ((request.kind & kOutputKindMask) != kOutputInternal) {
        OutputID = request.id;
      }
    }
    if ((request.kind & kOutputMerge) != 0) {
      request.kind &= ~kOutputMerge;
      if (!queue_.empty() && (queue_.back().kind & kOutputKindMask) == kOutputBuffered) {
        queue_.back().data += request.data;
        return true;
      }
    }
    queue_.push_back(std::move(request));
    // The worker sends it as soon as the thread dispatches messages, not at the next timer tick.
    if (AsyncMode && !Collecting()) RequestPromptTick(this);
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

std::int32_t CVX40Printer::SendRequest(OutputRequest& request, bool raster) {
  switch (request.kind & kOutputKindMask) {
    case kOutputDirectRead: {
      std::int32_t read = 0;
      const std::int32_t result = channel_.Read(request.data, read);
      request.data.resize(static_cast<std::size_t>(read));
      return StoreResult(result == kChannelOk ? OPOS_SUCCESS : OPOS_E_FAILURE);
    }
    case kOutputDirectWrite: {
      std::int32_t written = 0;
      const std::int32_t result = channel_.Write(request.data, written, kWriteModeStatus);
      // The two-colour model asks the printer's status after a direct write too.
      if (model_.two_colour) return DecodeWriteResult(result, true);
      return StoreResult(result == kChannelOk ? OPOS_SUCCESS : OPOS_E_FAILURE);
    }
    default: {
      std::int32_t written = 0;
      const std::int32_t sent = channel_.WriteChunked(request.data, written, request.chunk_bytes);
      if (model_.two_colour && raster) {
        // A band of a two-colour picture: the printer is busy with it and answers no status
        // poll; the result is decoded without one and without the extended status read.
        // (Sent by the worker, the extended status read stays as it is.)
        const bool extended = worker_busy_ ? extended_status_ : std::exchange(extended_status_, false);
        const std::int32_t result = DecodeWriteResult(sent, false);
        extended_status_ = extended;
        return result;
      }
      return DecodeWriteResult(sent, true);
    }
  }
}

void CVX40Printer::WatchLostLink() {
  if (!channel_.link_lost()) return;
  const std::uint64_t now = platform::tick_count_ms();
  if (now - last_reconnect_ms_ < kReconnectEveryMs) return;
  last_reconnect_ms_ = now;
  if (channel_.Reconnect() != kChannelOk) return;
  // The printer is back: its status poll reports it (power state, paper, cover) as after a write.
  const std::int32_t result = ResultCode;
  const std::int32_t extended = ResultCodeExtended;
  DecodeWriteResult(kChannelOk, true);
  ResultCode = result;
  ResultCodeExtended = extended;
}

void CVX40Printer::PollTick() {
  if (worker_busy_ || !Claimed || State != OPOS_S_IDLE || Collecting()) return;
  if (queue_.empty()) {
    WatchLostLink();
    return;
  }
  worker_busy_ = true;
  SetPrinterState(OPOS_S_BUSY);

  OutputRequest request = std::move(queue_.front());
  queue_.pop_front();
  // A raster image keeps the printer silent for a while: it is sent with the long read time-out
  // and without the extended status read, which the end of the tick restores. The two-colour
  // model's picture bands keep the extended status read (their decode has no status poll).
  const bool raster = (request.kind & kOutputRaster) != 0;
  if (raster && !model_.two_colour) BeginSlowTransfer();
  request.kind &= ~(kOutputChunkSet | kOutputRaster);

  const std::int32_t result = SendRequest(request, raster);
  const std::int32_t extended = ResultCodeExtended;
  if (result == OPOS_SUCCESS) {
    switch (request.kind & kOutputKindMask) {
      case kOutputPrint:
        FireOutputComplete(request.id);
        break;
      case kOutputDirectWrite:
        FireDirectIO(request.id, 0, {});
        break;
      case kOutputDirectRead: {
        const std::string text = text_for_application(request.data, BinaryConversion, CharacterSet);
        FireDirectIO(request.id, static_cast<std::int32_t>(text.size()), text);
        break;
      }
      default:
        break;
    }
  } else {
    ReportFailedRequest(result, extended);
  }

  if (queue_.empty()) SetPrinterState(OPOS_S_IDLE);
  State = OPOS_S_IDLE;
  extended_status_ = true;
  if (saved_read_timeout_ms_ != 0) EndSlowTransfer();
  ResultCode = result;
  ResultCodeExtended = extended;
  worker_busy_ = false;
  // The requests still waiting follow back to back, each after the messages queued meanwhile.
  if (!queue_.empty()) RequestPromptTick(this);
}

void CVX40Printer::ReportFailedRequest(std::int32_t result, std::int32_t extended) {
  SetPrinterState(OPOS_S_ERROR);
  const std::int32_t response = FireError(result, extended, OPOS_EL_OUTPUT, OPOS_ER_RETRY);
  if (response == OPOS_ER_CLEAR) {
    ClearOutput();
  } else if (response == OPOS_ER_RETRY && extended != OPOS_EPTR_COVER_OPEN) {
    // The failed request is not sent again: part of it may have printed already, and the
    // application knows of the failure. Unless the cover was open, the printer is taken to be
    // off line until a clean write says otherwise (which then reports 2001).
    PowerState = OPOS_PS_OFF_OFFLINE;
  }
}

}  // namespace devsvc
