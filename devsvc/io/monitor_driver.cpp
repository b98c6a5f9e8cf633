// CMonitorDriver: calls on the I/O monitor's objects by name, chunked and retried writes, reads.
#include "io/monitor_driver.h"

#include <algorithm>
#include <chrono>
#include <thread>
#include <utility>

#include "platform/messages.h"

namespace devsvc {
namespace {

using platform::Variant;

// Pause before the one retry of a failed write.
constexpr auto kWriteRetryPause = std::chrono::milliseconds(100);
// Channel read time-outs of SetAsync.
constexpr std::int32_t kAsyncReadTimeoutMs = 25;
constexpr std::int32_t kDefaultReadTimeoutMs = 1000;

// Invokes `name` on `object` through the module-wide cache; never throws.
platform::call_result Invoke(platform::dispatch* object, std::string_view name,
                             platform::invoke_kind kind, std::span<const Variant> args) {
  platform::call_result out;
  if (object == nullptr) {
    out.hr = platform::kEPointer;
    return out;
  }
  try {
    long dispid = 0;
    out.hr = MonitorDispidCache().lookup(object, name, dispid);
    if (platform::succeeded(out.hr)) out.hr = object->invoke(dispid, kind, args, &out.value);
  } catch (...) {
    out.hr = platform::kDispEException;
  }
  return out;
}

}  // namespace

void PumpMessages(std::uint32_t ms) { platform::pump_messages_for(ms); }

platform::dispid_cache& MonitorDispidCache() {
  static platform::dispid_cache cache;
  return cache;
}

void CMonitorDriver::AttachDispatch(platform::dispatch* object, bool auto_release) {
  ReleaseDispatch();
  object_ = object;
  auto_release_ = auto_release;
  link_lost_ = false;
}

platform::dispatch* CMonitorDriver::DetachDispatch() {
  auto_release_ = false;
  return std::exchange(object_, nullptr);
}

void CMonitorDriver::ReleaseDispatch() {
  platform::dispatch* object = std::exchange(object_, nullptr);
  if (object != nullptr && auto_release_) object->release();
  auto_release_ = false;
}

template <class... A>
std::int32_t CMonitorDriver::CallLong(std::string_view name, std::int32_t on_failure, A&&... args) {
  const Variant list[] = {Variant(std::forward<A>(args))..., Variant()};
  const platform::call_result r = Invoke(object_, name, platform::invoke_kind::method,
                                         std::span<const Variant>(list, sizeof...(A)));
  if (!r.ok()) return on_failure;
  return r.value.long_or(on_failure);
}

std::int32_t CMonitorDriver::GetConnectionStatus(const std::string& machine, const std::string& port) {
  // The monitor takes both names by reference.
  std::string machine_cell = machine;
  std::string port_cell = port;
  return CallLong("GetConnectionStatus", 2, Variant::ref(machine_cell), Variant::ref(port_cell));
}

platform::com_ptr<platform::dispatch> CMonitorDriver::GetConnection(const std::string& machine,
                                                                    const std::string& port) {
  std::string machine_cell = machine;
  std::string port_cell = port;
  const Variant args[] = {Variant::ref(machine_cell), Variant::ref(port_cell)};
  const platform::call_result r = Invoke(object_, "GetConnection", platform::invoke_kind::method, args);
  platform::com_ptr<platform::dispatch> io;
  if (r.ok() && platform::failed(r.value.as_object(io))) io.reset();
  return io;
}

std::int32_t CMonitorDriver::OpenIO() {
  const platform::call_result r = Invoke(object_, "OpenIO", platform::invoke_kind::method, {});
  if (!r.ok()) return r.hr;
  return r.value.long_or(platform::kEFail);
}

std::int32_t CMonitorDriver::CloseIO() {
  const platform::call_result r = Invoke(object_, "CloseIO", platform::invoke_kind::method, {});
  return r.ok() ? r.value.long_or(0) : r.hr;
}

std::int32_t CMonitorDriver::SetAsync(bool async, std::int32_t open_read_timeout_ms) {
  pump_flag_ = async ? 1 : 0;
  std::int32_t timeout = open_read_timeout_ms != 0 ? open_read_timeout_ms : kDefaultReadTimeoutMs;
  if (async) timeout = kAsyncReadTimeoutMs;
  return SetReadTimeOut(timeout);
}

std::int32_t CMonitorDriver::SetReadTimeOut(std::int32_t ms) {
  read_timeout_ms_ = ms;
  const Variant value(ms);
  return Invoke(object_, "ReadTimeOut", platform::invoke_kind::property_put,
                std::span<const Variant>(&value, 1)).hr;
}

bool CMonitorDriver::GetTimeOuts(std::int32_t& read_ms, std::int32_t& write_ms) {
  const platform::call_result read = Invoke(object_, "ReadTimeOut", platform::invoke_kind::property_get, {});
  const platform::call_result write = Invoke(object_, "WriteTimeOut", platform::invoke_kind::property_get, {});
  return read.ok() && write.ok() && platform::succeeded(read.value.as_long(read_ms)) &&
         platform::succeeded(write.value.as_long(write_ms));
}

std::int32_t CMonitorDriver::SetWriteTimeOut(std::int32_t ms) {
  const Variant value(ms);
  return Invoke(object_, "WriteTimeOut", platform::invoke_kind::property_put,
                std::span<const Variant>(&value, 1)).hr;
}

std::int32_t CMonitorDriver::WriteOnce(std::string_view bytes, std::int32_t& written,
                                       std::int32_t mode) {
  // Printer data travels as a string of one character per byte; the monitor may write back
  // into the cell, so it is a copy.
  std::string data(bytes);
  std::int32_t accepted = 0;
  const Variant args[] = {Variant::ref(data), Variant(static_cast<std::int32_t>(bytes.size())),
                          Variant::ref(accepted), Variant(mode)};
  const platform::call_result r = Invoke(object_, "WriteIO", platform::invoke_kind::method, args);
  if (!r.ok()) {
    written = 0;
    if (log_ != nullptr) log_->write(platform::log_level::error, "WriteIO failed as a call: " + platform::hresult_text(r.hr));
    return kChannelOk;
  }
  // A count outside the request would make the retry and the chunk loop go wrong.
  written = std::clamp<std::int32_t>(accepted, 0, static_cast<std::int32_t>(bytes.size()));
  const std::int32_t result = r.value.long_or(platform::kEFail);
  if (log_ != nullptr) {
    log_->write_bytes("wrote", bytes.substr(0, static_cast<std::size_t>(written)));
    if (result != kChannelOk) {
      log_->write(platform::log_level::info, "WriteIO of " + std::to_string(bytes.size()) + " bytes: " +
                                                 platform::hresult_text(result) + ", " + std::to_string(written) +
                                                 " written");
    }
  }
  return result;
}

std::int32_t CMonitorDriver::NoteLink(std::int32_t result) {
  // kEFail is also what a channel that another client found down answers: "not open".
  if (result == kChannelOffline || result == platform::kEFail) link_lost_ = true;
  return result;
}

std::int32_t CMonitorDriver::Reconnect() {
  if (!link_lost_) return kChannelOk;
  const std::int32_t result = OpenIO();
  if (result == kChannelOk) link_lost_ = false;
  return result;
}

std::int32_t CMonitorDriver::Write(std::string_view bytes, std::int32_t& written, std::int32_t mode) {
  if (Reconnect() != kChannelOk) {
    written = 0;
    return kChannelOffline;
  }
  std::int32_t total = 0;
  std::int32_t once = 0;
  std::int32_t result = WriteOnce(bytes, once, mode);
  total += once;
  if (result != kChannelOk) {
    std::this_thread::sleep_for(kWriteRetryPause);
    result = WriteOnce(bytes.substr(static_cast<std::size_t>(total)), once, mode);
    total += once;
  }
  written = total;
  return NoteLink(result);
}

std::int32_t CMonitorDriver::WriteChunked(std::string_view bytes, std::int32_t& written,
                                          std::int32_t chunk_bytes) {
  const std::size_t chunk = chunk_bytes > 0 ? static_cast<std::size_t>(chunk_bytes) : kDefaultChunkBytes;
  std::int32_t total = 0;
  for (std::size_t offset = 0; offset < bytes.size(); offset += chunk) {
    const std::string_view piece = bytes.substr(offset, chunk);
    std::int32_t once = 0;
    const std::int32_t result = Write(piece, once, kWriteModeData);
    total += once;
    // Every chunk failure is reported as a time-out, with what went out so far.
    if (result != kChannelOk || static_cast<std::size_t>(once) < piece.size()) {
      written = total;
      return kChannelTimeout;
    }
    if (pump_flag_ != 0) platform::pump_ready_messages();
  }
  written = total;
  return kChannelOk;
}

std::int32_t CMonitorDriver::WriteLarge(std::string_view bytes, std::int32_t& written) {
  if (bytes.size() >= static_cast<std::size_t>(kDefaultChunkBytes)) {
    return WriteChunked(bytes, written, kDefaultChunkBytes);
  }
  return Write(bytes, written, kWriteModeData);
}

std::int32_t CMonitorDriver::Read(std::span<char> buffer, std::int32_t& read) {
  std::fill(buffer.begin(), buffer.end(), kReadFillByte);
  if (Reconnect() != kChannelOk) {
    read = 0;
    return kChannelOffline;
  }
  std::string data(buffer.begin(), buffer.end());
  std::int32_t received = 0;
  const Variant args[] = {Variant::ref(data), Variant(static_cast<std::int32_t>(buffer.size())),
                          Variant::ref(received)};
  const platform::call_result r = Invoke(object_, "ReadIO", platform::invoke_kind::method, args);
  if (!r.ok()) {
    read = 0;
    return r.hr;
  }
  // Only the characters the monitor says it received are taken, and never more than asked for.
  const std::size_t count = std::min({static_cast<std::size_t>(std::max<std::int32_t>(received, 0)),
                                      buffer.size(), data.size()});
  std::copy_n(data.begin(), count, buffer.begin());
  read = static_cast<std::int32_t>(count);
  const std::int32_t result = r.value.long_or(platform::kEFail);
  if (log_ != nullptr) {
    if (count > 0) log_->write_bytes("read", std::string_view(data.data(), count));
    if (result != kChannelOk) log_->write(platform::log_level::debug, "ReadIO: " + platform::hresult_text(result));
  }
  return NoteLink(result);
}

std::int32_t CMonitorDriver::WriteRead(std::string_view bytes, std::int32_t& written,
                                       std::span<char> buffer, std::int32_t& read) {
  read = 0;
  const std::int32_t result = Write(bytes, written, kWriteModeData);
  if (result != kChannelOk) return result;
  return Read(buffer, read);
}

std::int32_t CMonitorDriver::ReadUntilNul(std::string& out, std::int32_t& count) {
  constexpr std::size_t kGrowBytes = 512;
  std::string buffer;
  buffer.reserve(kGrowBytes);
  for (;;) {
    char byte = 0;
    std::int32_t read = 0;
    const std::int32_t result = Read(std::span<char>(&byte, 1), read);
    if (result != kChannelOk) return result;
    if (read < 1) return kChannelTimeout;  // a success without a byte would loop for ever
    if (buffer.size() == buffer.capacity()) buffer.reserve(buffer.capacity() + kGrowBytes);
    buffer.push_back(byte);
    if (byte == '\0') break;
  }
  out = std::move(buffer);
  count = static_cast<std::int32_t>(out.size());
  return kChannelOk;
}

}  // namespace devsvc
