// CVX40Printer: status after writes (the polls, their decoding into result codes and status
// events, the state routine), ClearOutput, CheckHealth and DirectIO.
#include <array>
#include <chrono>
#include <string>
#include <thread>

#include "core/device_keys.h"
#include "core/opos.h"
#include "core/printer_text.h"
#include "platform/messages.h"
#include "printer/esc_engineer.h"
#include "printer/vx40_printer.h"

namespace devsvc {
namespace {

// The status poll pumps messages this long between two attempts in asynchronous mode.
constexpr std::uint32_t kStatusPumpMs = 15;
// The external health check prints a test page: answers may take this long meanwhile.
constexpr std::int32_t kHealthReadTimeoutMs = 15000;
// The fixed key's value that shortens or lengthens the pause after the test print, before its
// result is decoded (the model says how long it is otherwise).
constexpr std::string_view kTestPrintPauseValue = "TestPrintPauseMs";
// The largest direct read accepted, in bytes: no printer answer comes near it.
constexpr std::int32_t kMaxDirectReadBytes = 1 << 20;

// Real-time status requests.
constexpr std::string_view kOfflineStatusRequest = "\x10\x04\x02";       // DLE EOT 2
constexpr std::string_view kPaperStatusRequest = "\x1D\x72\x31";         // GS r 1
constexpr std::string_view kPrinterStatusRequest = "\x10\x04\x01";       // DLE EOT 1
constexpr std::string_view kCauseStatusRequest = "\x10\x04\x02\x10\x04\x04";  // DLE EOT 2, DLE EOT 4

// DirectIO commands.
constexpr std::int32_t kDirectWrite = 1;
constexpr std::int32_t kDirectRead = 2;

}  // namespace

// ---------------------------------------------------------------------------------------------
// State routine and status polls

void CVX40Printer::SetPrinterState(std::int32_t code) {
  switch (code) {
    case OPOS_S_CLOSED:
    case OPOS_S_BUSY:
    case OPOS_S_ERROR:
      State = code;
      break;
    case OPOS_S_IDLE:
      State = code;
      // FlagWhenIdle asks for one idle event: it is cleared as the event goes out (first, so
      // that a handler that prints does not get a second one).
      if (FlagWhenIdle) {
        FlagWhenIdle = false;
        FireStatusUpdate(PTR_SUE_IDLE);
      }
      break;
    case PTR_SUE_COVER_OPEN:
    case PTR_SUE_COVER_OK:
      CoverOpen = code == PTR_SUE_COVER_OPEN;
      FireStatusUpdate(code);
      break;
    case PTR_SUE_REC_EMPTY:
      if (!RecEmpty) {
        RecEmpty = true;
        FireStatusUpdate(code);
      }
      break;
    case PTR_SUE_REC_NEAREMPTY:
      RecNearEnd = true;
      FireStatusUpdate(code);
      break;
    case PTR_SUE_REC_PAPEROK:
      RecEmpty = false;
      RecNearEnd = false;
      FireStatusUpdate(code);
      break;
    case OPOS_SUE_POWER_ONLINE:
    case OPOS_SUE_POWER_OFF:
    case OPOS_SUE_POWER_OFFLINE:
    case OPOS_SUE_POWER_OFF_OFFLINE:
      PowerState = code;
      if (PowerNotify == OPOS_PN_ENABLED) FireStatusUpdate(code);
      break;
    default:
      break;
  }
}

std::int32_t CVX40Printer::Query(std::string_view request, std::int32_t mode, std::span<char> answer,
                                 std::int32_t& received) {
  received = 0;
  std::int32_t written = 0;
  const std::int32_t result = channel_.Write(request, written, mode);
  if (result != kChannelOk) return result;
  return channel_.Read(answer, received);
}

void CVX40Printer::ReadExtendedStatus(std::uint8_t& status) {
  if (!extended_status_) return;
  char answer = 0;
  std::int32_t received = 0;
  // No answer at all to the printer-status request: the printer is off or gone.
  if (Query(kPrinterStatusRequest, kWriteModeStatus, std::span<char>(&answer, 1), received) != kChannelOk ||
      received != 1) {
    status = kPaperNoStatusAnswer;
    return;
  }
  if (!offline_in(static_cast<std::uint8_t>(answer))) return;
  status = kPaperOffline;

  std::int32_t written = 0;
  const std::int32_t sent = channel_.Write(kCauseStatusRequest, written, kWriteModeStatus);
  if (sent == kChannelTimeout) {
    status = kPaperNoAnswer;
    return;
  }
  if (sent != kChannelOk) {
    status = kPaperRequestFailed;
    return;
  }
  std::array<char, 2> causes{};
  std::int32_t read = 0;
  const std::int32_t answered = channel_.Read(causes, read);
  // Unread bytes keep the fill byte, which would read as conditions: a short answer is no answer.
  if (answered != kChannelOk || read != 2) {
    status = answered == kChannelTimeout || answered == kChannelOk ? kPaperNoAnswer : kPaperRequestFailed;
    return;
  }
  status = offline_cause_of(static_cast<std::uint8_t>(causes[0]), static_cast<std::uint8_t>(causes[1]));
}

std::uint8_t CVX40Printer::PollAfterWrite() {
  std::uint8_t status = kPaperOk;
  char answer = 0;
  std::int32_t received = 0;
  if (Query(kOfflineStatusRequest, kWriteModeStatus, std::span<char>(&answer, 1), received) == kChannelOk &&
      received == 1) {
    if (cover_open_in(static_cast<std::uint8_t>(answer))) return kPaperCoverOpen;
    if (CoverOpen) SetPrinterState(PTR_SUE_COVER_OK);
  }

  const std::uint64_t started = platform::tick_count_ms();
  std::int32_t result = kChannelOk;
  for (;;) {
    std::int32_t written = 0;
    result = channel_.WriteRead(kPaperStatusRequest, written, std::span<char>(&answer, 1), received);
    if (result == kChannelOk && received != 1) result = kChannelTimeout;
    if (result != kChannelTimeout) break;
    status = kPaperNoAnswer;
    ReadExtendedStatus(status);
    if (status != kPaperNoAnswer) return status;
    if (static_cast<std::int64_t>(platform::tick_count_ms() - started) > current_read_timeout_ms_) {
      return kPaperNoAnswer;
    }
    if (AsyncMode) PumpMessages(kStatusPumpMs);
  }
  if (result == kChannelOk) status = paper_status_of(static_cast<std::uint8_t>(answer));
  return status;
}

std::int32_t CVX40Printer::DecodeWriteResult(std::int32_t result, bool poll) {
  ResultCode = OPOS_SUCCESS;
  ResultCodeExtended = 0;
  std::uint8_t status = kPaperOk;
  if (result == kChannelTimeout) {
    ResultCode = OPOS_E_TIMEOUT;
    ReadExtendedStatus(status);
  } else if (result == kChannelBusy) {
    return ResultCode = OPOS_E_BUSY;
  } else if (result != kChannelOk) {
    return ResultCode = OPOS_E_FAILURE;
  } else if (poll) {
    status = PollAfterWrite();
  }

  switch (status) {
    case kPaperCoverOpen:
      ResultCode = OPOS_E_EXTENDED;
      ResultCodeExtended = OPOS_EPTR_COVER_OPEN;
      SetPrinterState(PTR_SUE_COVER_OPEN);
      SetPrinterState(OPOS_PS_OFFLINE);
      break;
    case kPaperNearEnd:
      SetPrinterState(PTR_SUE_REC_NEAREMPTY);
      if (PowerState != OPOS_PS_ONLINE) SetPrinterState(OPOS_PS_ONLINE);
      break;
    case kPaperPrinterError:
      ResultCode = OPOS_E_FAILURE;
      break;
    case kPaperEnd:
      ResultCode = OPOS_E_EXTENDED;
      ResultCodeExtended = OPOS_EPTR_REC_EMPTY;
      SetPrinterState(PTR_SUE_REC_EMPTY);
      SetPrinterState(OPOS_PS_OFFLINE);
      break;
    case kPaperRequestFailed:
      ResultCode = OPOS_E_FAILURE;
      break;
    case kPaperNoStatusAnswer:
      // After a write the link took whole, only the confirmation is missing: the printer may
      // print it all once it answers again, so this is a time-out, not a failure to print (an
      // application that reprints on failure would print the job twice). PowerState says why.
      ResultCode = result == kChannelOk ? OPOS_E_TIMEOUT : OPOS_E_FAILURE;
      SetPrinterState(OPOS_PS_OFF_OFFLINE);
      break;
    case kPaperNoAnswer:
      ResultCode = OPOS_E_TIMEOUT;
      break;
    default:
      if (CoverOpen) SetPrinterState(PTR_SUE_COVER_OK);
      if (RecEmpty || RecNearEnd) SetPrinterState(PTR_SUE_REC_PAPEROK);
      if (PowerState != OPOS_PS_ONLINE) SetPrinterState(OPOS_PS_ONLINE);
      break;
  }
  return ResultCode;
}

// ---------------------------------------------------------------------------------------------
// ClearOutput, CheckHealth, DirectIO

std::int32_t CVX40Printer::ClearOutput() {
  // These two refusals leave ResultCode as it was.
  if (!DeviceEnabled) return OPOS_E_DISABLED;
  if (!Claimed) return OPOS_E_NOTCLAIMED;
  SetPrinterState(OPOS_S_BUSY);
  queue_.clear();
  ClearPendingEvents();
  State = OPOS_S_IDLE;  // without the idle event: nothing was printed
  return StoreResult(OPOS_SUCCESS);
}

std::int32_t CVX40Printer::CheckHealth(std::int32_t level) {
  if (CheckState() != OPOS_SUCCESS) return ResultCode;
  SetPrinterState(OPOS_S_BUSY);
  CheckHealthText.clear();
  switch (level) {
    case OPOS_CH_INTERNAL:
      CheckHealthText = "Internal HCheck: Successful.";
      StoreResult(OPOS_SUCCESS);
      break;
    case OPOS_CH_EXTERNAL: {
      // The test print takes a while: status answers may come late meanwhile. The channel gets
      // back the read time-out that was in force (the claim's, or the asynchronous one), which
      // is not the poll's limit.
      saved_read_timeout_ms_ = current_read_timeout_ms_;
      const std::int32_t channel_read_timeout = channel_.read_timeout_ms();
      current_read_timeout_ms_ = kHealthReadTimeoutMs;
      channel_.SetReadTimeOut(kHealthReadTimeoutMs);

      std::int32_t written = 0;
      const std::int32_t sent =
          channel_.Write(ESCEngineer::command(ESCEngineer::kTestPrint), written, kWriteModeData);
      const std::uint32_t pause = [this] {
        platform::registry_key key;
        if (platform::registry_key::open(platform::registry_root::local_machine, model_.fixed_key, key) !=
            platform::kErrorSuccess) {
          return model_.test_print_pause_ms;
        }
        return ReadRegistryDword(key, kTestPrintPauseValue, model_.test_print_pause_ms);
      }();
      std::this_thread::sleep_for(std::chrono::milliseconds(pause));
      const std::int32_t result = DecodeWriteResult(sent, false);
      CheckHealthText = result != OPOS_SUCCESS ? "External HCheck Failure for error, " + std::to_string(result)
                                               : "External HCheck: Successful.";

      current_read_timeout_ms_ = saved_read_timeout_ms_;
      channel_.SetReadTimeOut(channel_read_timeout != 0 ? channel_read_timeout : saved_read_timeout_ms_);
      saved_read_timeout_ms_ = 0;
      ResultCode = result;
      break;
    }
    default:
      Illegal();
      break;
  }
  SetPrinterState(OPOS_S_IDLE);
  return ResultCode;
}

std::int32_t CVX40Printer::DirectIO(std::int32_t command, std::int32_t& data, std::string& text) {
  if (CheckState() != OPOS_SUCCESS) return ResultCode;
  switch (command) {
    case kDirectWrite: {
      const prepared_text prepared = PrepareText(text);
      if (prepared.result != OPOS_SUCCESS) return StoreResult(prepared.result);
      std::string bytes = text_to_bytes(prepared.text);
      return StoreResult(Submit(bytes, 0, kOutputDirectWrite));
    }
    case kDirectRead: {
      if (data < 0 || data > kMaxDirectReadBytes) return Illegal();
      // Synchronously the answer comes back here; queued, it comes with the direct-I/O event.
      const bool now = !AsyncMode && !Collecting();
      std::string buffer(static_cast<std::size_t>(data), '\0');
      const std::int32_t result = Submit(buffer, 0, kOutputDirectRead);
      if (now && result == OPOS_SUCCESS) text = text_for_application(buffer, BinaryConversion, CharacterSet);
      return StoreResult(result);
    }
    default:
      return StoreResult(OPOS_SUCCESS);
  }
}

}  // namespace devsvc
