// CMonitorDriver: the automation client of the printer I/O monitor's objects (ServerMonitor and
// the per-printer IoChannel), with the chunked and retried writes and the filled reads.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "platform/com.h"
#include "platform/log.h"

namespace devsvc {

// Channel results; every other non-zero value is a failure.
inline constexpr std::int32_t kChannelOk = 0;
inline constexpr std::int32_t kChannelTimeout = static_cast<std::int32_t>(0x80040069u);
inline constexpr std::int32_t kChannelBusy = static_cast<std::int32_t>(0x80040070u);
inline constexpr std::int32_t kChannelPaperOut = static_cast<std::int32_t>(0x80040072u);
// The link went down (the printer was switched off or rebooted, the cable pulled); the monitor
// closed the channel.
inline constexpr std::int32_t kChannelOffline = static_cast<std::int32_t>(0x80040071u);

// Write modes of WriteIO: print data, chunks and set-up commands; status requests and direct writes.
inline constexpr std::int32_t kWriteModeData = 1;
inline constexpr std::int32_t kWriteModeStatus = 2;

// Default chunk of a chunked write, in bytes.
inline constexpr std::int32_t kDefaultChunkBytes = 512;

// Byte that fills a read buffer before the read, so unread bytes are recognisable.
inline constexpr char kReadFillByte = 0x1E;

// Dispatches the calling thread's window messages for `ms` milliseconds (blocks that long).
void PumpMessages(std::uint32_t ms);

// The dispatch-id table of every monitor object of this library: each member name is looked up
// once per process. Used from the objects' thread only.
platform::dispid_cache& MonitorDispidCache();

// A client of one ServerMonitor or IoChannel object. Every call goes by member name through the
// module-wide dispid cache. A failure raised by the outside object is caught here and reported as
// a result (see each operation); nothing propagates. One thread at a time (the objects' thread).
class CMonitorDriver {
 public:
  CMonitorDriver() = default;
  ~CMonitorDriver() { ReleaseDispatch(); }
  CMonitorDriver(const CMonitorDriver&) = delete;
  CMonitorDriver& operator=(const CMonitorDriver&) = delete;

  // Binds the client to `object`. With `auto_release` the client owns one reference (taken by the
  // caller beforehand) and drops it on release; without, it borrows the pointer.
  void AttachDispatch(platform::dispatch* object, bool auto_release);
  // Unbinds and hands back the pointer; the caller now owns whatever reference the client held.
  platform::dispatch* DetachDispatch();
  // Unbinds, dropping the reference when the client owns one.
  void ReleaseDispatch();
  platform::dispatch* dispatch() const { return object_; }
  explicit operator bool() const { return object_ != nullptr; }

  // The message-pump flag: when set, chunked writes dispatch window messages between chunks.
  // Logs the bytes written and read (when the log traces bytes) and failed transfers in `log`,
  // which the owner keeps alive; null logs nothing.
  void set_log(const platform::device_log* log) { log_ = log; }

  std::uint32_t pump_flag() const { return pump_flag_; }
  void set_pump_flag(std::uint32_t flag) { pump_flag_ = flag; }

  // --- ServerMonitor ---

  // GetConnectionStatus(machine, port): 0 connectable now, 1 not yet, 2 never. A raised failure
  // gives 2.
  std::int32_t GetConnectionStatus(const std::string& machine, const std::string& port);
  // GetConnection(machine, port): the IoChannel of that printer with a reference for the caller,
  // or null (also when the call raises a failure).
  platform::com_ptr<platform::dispatch> GetConnection(const std::string& machine,
                                                      const std::string& port);

  // --- IoChannel ---

  // OpenIO(): 0 when the channel opened; a raised failure gives its failure code.
  std::int32_t OpenIO();
  // CloseIO(); the result is only informative.
  std::int32_t CloseIO();
  // Switches between asynchronous and synchronous transfer: pump flag = `async`; the channel's
  // read time-out becomes 25 ms when asynchronous, else `open_read_timeout_ms` (1000 when 0).
  std::int32_t SetAsync(bool async, std::int32_t open_read_timeout_ms);
  // Sets the channel's ReadTimeOut / WriteTimeOut property, in milliseconds.
  std::int32_t SetReadTimeOut(std::int32_t ms);
  std::int32_t SetWriteTimeOut(std::int32_t ms);
  // The channel's read and write time-outs as it holds them now (set by whichever client of a
  // shared channel set them last), in milliseconds; false when either cannot be read.
  bool GetTimeOuts(std::int32_t& read_ms, std::int32_t& write_ms);
  // The read time-out this client last gave the channel (SetAsync or SetReadTimeOut), in
  // milliseconds; 0 before it set one. Lets a caller that raises it for one exchange put back
  // what was in force.
  std::int32_t read_timeout_ms() const { return read_timeout_ms_; }

  // True after an operation found the link down (or the channel closed under it): the next
  // Write or Read opens the channel again first, so that a printer that rebooted is used again
  // without the application claiming anew.
  bool link_lost() const { return link_lost_; }
  // Opens a lost link again now; kChannelOk when the channel is open.
  std::int32_t Reconnect();

  // Writes `bytes` (one character per byte) with WriteIO in `mode`. A failed first attempt is
  // retried once, 100 ms later, with the bytes not yet written. `written` receives the total
  // accepted. Returns the last result. A raised failure counts as result 0 with 0 bytes written.
  // Blocks for the transfer and the retry pause.
  std::int32_t Write(std::string_view bytes, std::int32_t& written, std::int32_t mode);
  // Writes `bytes` in chunks of `chunk_bytes` (512 when not positive) with Write in mode 1. A chunk
  // that fails or is written short stops the transfer with kChannelTimeout and the count so far.
  // When the pump flag is set, the window messages waiting after each chunk are dispatched (no
  // sleep), so that the thread stays responsive during a long transfer without slowing it.
  std::int32_t WriteChunked(std::string_view bytes, std::int32_t& written, std::int32_t chunk_bytes);
  // WriteChunked in 512-byte chunks for 512 bytes or more, else a single Write in mode 1.
  std::int32_t WriteLarge(std::string_view bytes, std::int32_t& written);
  // Reads up to buffer.size() bytes with ReadIO. The buffer is first filled with 0x1E; the bytes
  // received replace its start and `read` receives their count. Blocks up to the read time-out.
  // A raised failure gives its failure code and 0 bytes.
  std::int32_t Read(std::span<char> buffer, std::int32_t& read);
  // Write in mode 1, then, only when that succeeded, Read.
  std::int32_t WriteRead(std::string_view bytes, std::int32_t& written, std::span<char> buffer,
                         std::int32_t& read);
  // Reads one byte at a time until a 0x00 byte (kept and counted) has arrived; on a failed read
  // returns that failure and hands out nothing. Blocks up to one read time-out per byte.
  std::int32_t ReadUntilNul(std::string& out, std::int32_t& count);

 private:
  // Calls method `name` and returns its long result; a raised failure gives `on_failure`.
  template <class... A>
  std::int32_t CallLong(std::string_view name, std::int32_t on_failure, A&&... args);
  // One WriteIO call; a raised failure gives result 0 with 0 bytes written.
  std::int32_t WriteOnce(std::string_view bytes, std::int32_t& written, std::int32_t mode);

  platform::dispatch* object_ = nullptr;
  const platform::device_log* log_ = nullptr;  // the owner's log: bytes and channel failures
  bool auto_release_ = false;
  std::uint32_t pump_flag_ = 0;
  std::int32_t read_timeout_ms_ = 0;
  bool link_lost_ = false;

  // Notes whether `result` says the link is down.
  std::int32_t NoteLink(std::int32_t result);
};

}  // namespace devsvc
