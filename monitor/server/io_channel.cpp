// IoChannel: argument checks, the read buffer shared by exact and answer reads, status requests,
// and the routing of transport failures into the channel's last-error record.
#include "io_channel.h"

#include "monitor/monitor.h"
#include "platform/log.h"
#include "platform/registry.h"

#include <algorithm>
#include <chrono>

namespace monitor::server {
namespace {

using platform::Variant;

constexpr int kDefaultReadTimeoutMs = 1000;
constexpr int kDefaultWriteTimeoutMs = 1500;
// Connecting may take longer than a write on a busy network.
constexpr int kMinOpenTimeoutMs = 1000;
// An answer has ended when the printer stays quiet this long.
constexpr int kAnswerGapMs = 50;
constexpr std::size_t kMaxAnswerBytes = 65536;
// Stale input is discarded in reads of this size, up to the limit (a printer that talks without
// pause must not keep a status request from ever being sent).
constexpr std::size_t kDiscardPiece = 4096;
constexpr std::size_t kDiscardLimit = 65536;
constexpr std::int32_t kResultInvalidArg = static_cast<std::int32_t>(0x80070057u);

// Milliseconds left until a point in time, for the transport's time-out arguments.
class deadline {
 public:
  explicit deadline(int timeout_ms)
      : end_(std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(timeout_ms, 0))) {}
  int remaining_ms() const {
    const auto left = end_ - std::chrono::steady_clock::now();
    if (left <= std::chrono::steady_clock::duration::zero()) return 0;
    return static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(left).count());
  }

 private:
  std::chrono::steady_clock::time_point end_;
};

constexpr platform::dispatch_member<IoChannel> kMembers[] = {
    platform::dispatch_method<&IoChannel::OpenIO>("OpenIO", kDispOpenIO),
    platform::dispatch_method<&IoChannel::WriteIO>("WriteIO", kDispWriteIO),
    platform::dispatch_method<&IoChannel::ReadIO>("ReadIO", kDispReadIO),
    platform::dispatch_method<&IoChannel::ReadAnswer>("ReadAnswer", kDispReadAnswer),
    platform::dispatch_get<&IoChannel::get_ReadTimeOut>("ReadTimeOut", kDispReadTimeOut),
    platform::dispatch_put<&IoChannel::put_ReadTimeOut>("ReadTimeOut", kDispReadTimeOut),
    platform::dispatch_get<&IoChannel::get_WriteTimeOut>("WriteTimeOut", kDispWriteTimeOut),
    platform::dispatch_put<&IoChannel::put_WriteTimeOut>("WriteTimeOut", kDispWriteTimeOut),
    platform::dispatch_get<&IoChannel::get_Offline>("Offline", kDispOffline),
    platform::dispatch_method<&IoChannel::GetPrinterState>("GetPrinterState", kDispGetPrinterState),
    platform::dispatch_method<&IoChannel::CloseIO>("CloseIO", kDispCloseIO),
    platform::dispatch_method<&IoChannel::GetLastErr>("GetLastErr", kDispChannelGetLastErr),
    platform::dispatch_get<&IoChannel::get_PortName>("PortName", kDispPortName),
    platform::dispatch_get<&IoChannel::get_DeviceUri>("DeviceUri", kDispDeviceUri),
    platform::dispatch_get<&IoChannel::get_ProtocolKind>("ProtocolKind", kDispProtocolKind),
    platform::dispatch_get<&IoChannel::get_IsOpen>("IsOpen", kDispIsOpen),
};

// Refuses a negative time-out at the object's edge.
int checked_timeout(std::int32_t ms, const char* property) {
  if (ms < 0) {
    throw platform::com_error(platform::kEInvalidArg,
                              std::string(property) + " must be 0 or more milliseconds, not " +
                                  std::to_string(ms));
  }
  return ms;
}

}  // namespace

IoChannel::IoChannel(port_info port, std::unique_ptr<transport> link)
    : port_(std::move(port)),
      link_(std::move(link)),
      source_(port_.port + " (" + to_string(link_->uri()) + ")"),
      read_timeout_ms_(kDefaultReadTimeoutMs),
      write_timeout_ms_(kDefaultWriteTimeoutMs) {}

std::span<const platform::dispatch_member<IoChannel>> IoChannel::dispatch_members() { return kMembers; }

std::int32_t IoChannel::fail(std::int32_t code, std::string description) {
  error_number_ = code;
  error_description_ = std::move(description);
  return code;
}

std::int32_t IoChannel::link_failed(std::int32_t code) {
  return fail(code, link_->last_error().description);
}

bool IoChannel::require_open(std::string_view operation) {
  if (link_->is_open()) return true;
  fail(kResultFailed, std::string(operation) + " on " + port_.port + ": the channel is not open (call OpenIO)");
  return false;
}

// The log of a port: LogLevel under the port's key (HKLM\SOFTWARE\Quorel\Ports\<port>) sets
// its level; warnings only by default.
static platform::device_log port_log(const std::string& port) {
  std::uint32_t level = static_cast<std::uint32_t>(platform::log_level::warning);
  platform::registry_key key;
  if (platform::registry_key::open(platform::registry_root::local_machine, std::string(kPortsKey) + "\\" + port,
                                   key) == platform::kErrorSuccess) {
    (void)key.query_dword(platform::device_log::kLevelValue, level);
  }
  return platform::device_log("monitor port " + port, level, false);
}

std::int32_t IoChannel::OpenIO() {
  if (link_->is_open()) return kResultOk;
  pending_.clear();
  const std::int32_t rc = link_->open(std::max(write_timeout_ms_, kMinOpenTimeoutMs));
  const platform::device_log log = port_log(port_.port);
  if (rc != kResultOk) {
    log.write(platform::log_level::warning, "cannot open " + to_string(link_->uri()) + ": " +
                                                link_->last_error().description);
    return link_failed(rc);
  }
  log.write(platform::log_level::info, "opened " + to_string(link_->uri()));
  return rc;
}

std::int32_t IoChannel::WriteIO(const Variant& data, std::int32_t length, std::int32_t& written,
                                std::int32_t mode) {
  written = 0;
  std::string bytes;
  if (platform::failed(data.as_string(bytes))) {
    std::vector<std::uint8_t> array;
    if (platform::failed(data.as_bytes(array))) {
      return fail(kResultInvalidArg, "WriteIO: the data is " + std::string(platform::variant_type_name(data.type())) +
                                         ", not a string or a byte array");
    }
    bytes.assign(array.begin(), array.end());
  }
  if (length < 0 || static_cast<std::size_t>(length) > bytes.size()) {
    return fail(kResultInvalidArg, "WriteIO: length " + std::to_string(length) + " is outside the " +
                                       std::to_string(bytes.size()) + " bytes of data");
  }
  if (mode != 1 && mode != 2) {
    return fail(kResultInvalidArg, "WriteIO: mode " + std::to_string(mode) +
                                       " is neither 1 (print data) nor 2 (status request)");
  }
  if (!require_open("WriteIO")) return kResultFailed;
  if (mode == 2) {
    if (const std::int32_t rc = discard_input(); rc != kResultOk) return rc;
  }
  const write_result r = link_->write(std::string_view(bytes).substr(0, static_cast<std::size_t>(length)),
                                      write_timeout_ms_);
  written = static_cast<std::int32_t>(r.count);
  return r.result == kResultOk ? r.result : link_failed(r.result);
}

std::size_t IoChannel::write_at_once(std::string_view bytes) { return link_->write_at_once(bytes); }

std::int32_t IoChannel::ReadIO(std::string& buffer, std::int32_t length, std::int32_t& read) {
  read = 0;
  if (length < 0) return fail(kResultInvalidArg, "ReadIO: length " + std::to_string(length) + " is negative");
  if (!require_open("ReadIO")) return kResultFailed;
  const read_result r = read_exactly(static_cast<std::size_t>(length), read_timeout_ms_);
  if (buffer.size() < r.bytes.size()) buffer.resize(r.bytes.size());
  buffer.replace(0, r.bytes.size(), r.bytes);
  read = static_cast<std::int32_t>(r.bytes.size());
  if (r.result == kResultTimeout) {
    return fail(kResultTimeout, "ReadIO on " + port_.port + ": " + std::to_string(r.bytes.size()) + " of " +
                                    std::to_string(length) + " bytes within " +
                                    std::to_string(read_timeout_ms_) + " ms");
  }
  return r.result == kResultOk ? r.result : link_failed(r.result);
}

std::int32_t IoChannel::ReadAnswer(std::string& text, std::int32_t& count, std::int32_t reserved) {
  text.clear();
  count = 0;
  if (reserved != 0) {
    return fail(kResultInvalidArg, "ReadAnswer: the third argument must be 0, not " + std::to_string(reserved));
  }
  if (!require_open("ReadAnswer")) return kResultFailed;
  read_result answer = read_some(kMaxAnswerBytes, read_timeout_ms_);
  if (answer.result == kResultTimeout) {
    return fail(kResultTimeout, "ReadAnswer on " + port_.port + ": no answer within " +
                                    std::to_string(read_timeout_ms_) + " ms");
  }
  if (answer.result != kResultOk) return link_failed(answer.result);
  std::string& bytes = answer.bytes;
  while (bytes.find('\0') == std::string::npos && bytes.size() < kMaxAnswerBytes) {
    read_result more = read_some(kMaxAnswerBytes - bytes.size(), kAnswerGapMs);
    if (more.result == kResultTimeout) break;
    if (more.result != kResultOk) return link_failed(more.result);
    bytes += more.bytes;
  }
  // Whatever follows the NUL belongs to the next answer.
  if (const std::size_t nul = bytes.find('\0'); nul != std::string::npos && nul + 1 < bytes.size()) {
    pending_.insert(0, bytes, nul + 1);
    bytes.resize(nul + 1);
  }
  text = std::move(bytes);
  count = static_cast<std::int32_t>(text.size());
  return kResultOk;
}

void IoChannel::put_ReadTimeOut(std::int32_t ms) { read_timeout_ms_ = checked_timeout(ms, "ReadTimeOut"); }

void IoChannel::put_WriteTimeOut(std::int32_t ms) { write_timeout_ms_ = checked_timeout(ms, "WriteTimeOut"); }

std::int32_t IoChannel::get_Offline() {
  if (!require_open("Offline")) return 1;
  const status_answer answer = ask_status(1);
  if (answer.result != kResultOk) return 1;
  if (!is_status_answer(answer.byte)) {
    fail(kResultFailed, "Offline on " + port_.port + ": the answer to DLE EOT 1 is not a status byte");
    return 1;
  }
  return says_offline(answer.byte) ? 1 : 0;
}

std::int32_t IoChannel::GetPrinterState(std::int32_t& state, std::int32_t mode) {
  state = kStateUnknownOffline;
  if (mode != 0 && mode != 1) {
    return fail(kResultInvalidArg, "GetPrinterState: mode " + std::to_string(mode) + " is neither 0 nor 1");
  }
  if (!require_open("GetPrinterState")) return kResultFailed;
  const state_reading reading = read_printer_state([this](int n) { return ask_status(n); }, mode);
  state = reading.state;
  return reading.result;
}

std::int32_t IoChannel::CloseIO() {
  if (link_->is_open()) port_log(port_.port).write(platform::log_level::info, "closed " + to_string(link_->uri()));
  link_->close();
  pending_.clear();
  return kResultOk;
}

std::int32_t IoChannel::GetLastErr(std::int32_t& number, std::string& description, std::string& source) {
  number = error_number_;
  description = error_description_;
  source = error_number_ != 0 ? source_ : std::string();
  return kResultOk;
}

std::string IoChannel::get_DeviceUri() const { return to_string(link_->uri()); }

std::int32_t IoChannel::get_ProtocolKind() const { return port_.protocol_kind; }

std::int32_t IoChannel::get_IsOpen() const { return link_->is_open() ? 1 : 0; }

read_result IoChannel::read_some(std::size_t max, int timeout_ms) {
  if (!pending_.empty()) {
    const std::size_t n = std::min(max, pending_.size());
    read_result out{kResultOk, pending_.substr(0, n)};
    pending_.erase(0, n);
    return out;
  }
  return link_->read(max, timeout_ms);
}

read_result IoChannel::read_exactly(std::size_t count, int timeout_ms) {
  const deadline until(timeout_ms);
  read_result out;
  while (out.bytes.size() < count) {
    read_result part = read_some(count - out.bytes.size(), until.remaining_ms());
    out.bytes += part.bytes;
    if (part.result != kResultOk) {
      out.result = part.result;
      break;
    }
  }
  return out;
}

std::int32_t IoChannel::discard_input() {
  pending_.clear();
  for (std::size_t dropped = 0; dropped < kDiscardLimit;) {
    const read_result r = link_->read(kDiscardPiece, 0);
    if (r.result == kResultOk && !r.bytes.empty()) {
      dropped += r.bytes.size();
      continue;
    }
    // Nothing waiting (a time-out), or a device that cannot answer at all.
    if (r.result == kResultOk || r.result == kResultTimeout || link_->is_open()) return kResultOk;
    return link_failed(r.result);
  }
  return kResultOk;
}

status_answer IoChannel::ask_status(int n) {
  if (const std::int32_t rc = discard_input(); rc != kResultOk) return {rc};
  const char request[] = {0x10, 0x04, static_cast<char>(n)};
  const write_result w = link_->write(std::string_view(request, sizeof request), write_timeout_ms_);
  if (w.result != kResultOk) return {link_failed(w.result)};
  const read_result r = read_exactly(1, read_timeout_ms_);
  if (r.result == kResultTimeout) {
    return {fail(kResultTimeout, "no answer from " + port_.port + " to DLE EOT " + std::to_string(n) +
                                     " within " + std::to_string(read_timeout_ms_) + " ms")};
  }
  if (r.result != kResultOk) return {link_failed(r.result)};
  return {kResultOk, static_cast<std::uint8_t>(r.bytes[0])};
}

}  // namespace monitor::server
