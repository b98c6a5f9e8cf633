// IoChannel: the I/O object of one printer connection, handed out by ServerMonitor.GetConnection.
// Open, write, exact and answer reads with time-outs, real-time status queries and a last-error
// record, over one transport. Results are codes (0, time-out, busy, paper out, failure); a lost
// link is reported by the next operation and OpenIO connects again.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "monitor/immediate_writer.h"
#include "monitor/transport.h"
#include "platform/dispatch_table.h"
#include "ports.h"
#include "printer_state.h"

namespace monitor::server {

// Dispatch ids of IoChannel, in the order of its interface.
enum io_channel_dispid : long {
  kDispOpenIO = 1,
  kDispWriteIO = 2,
  kDispReadIO = 3,
  kDispReadAnswer = 4,
  kDispReadTimeOut = 5,
  kDispWriteTimeOut = 6,
  kDispOffline = 7,
  kDispGetPrinterState = 8,
  kDispCloseIO = 9,
  kDispChannelGetLastErr = 10,
  kDispPortName = 11,
  kDispDeviceUri = 12,
  kDispProtocolKind = 13,
  kDispIsOpen = 14,
};

class IoChannel final : public platform::dispatch_object<IoChannel, immediate_writer> {
 public:
  // A channel on `port` over `link` (closed until OpenIO).
  IoChannel(port_info port, std::unique_ptr<transport> link);
  static std::span<const platform::dispatch_member<IoChannel>> dispatch_members();

  // Opens the device, or connects again after CloseIO or a lost link; waits up to WriteTimeOut
  // (at least 1 s) to connect. An open channel stays as it is.
  std::int32_t OpenIO();
  // Writes the first `length` bytes of `data` (a string, one character per byte, by value or by
  // reference; or a byte array) within WriteTimeOut. `written` receives the count accepted, also
  // when the write fails part way. Mode 1: print data. Mode 2: a status request or direct write,
  // whose answer must be the next thing read: answer bytes still waiting from before are
  // discarded first.
  std::int32_t WriteIO(const platform::Variant& data, std::int32_t length, std::int32_t& written,
                       std::int32_t mode);
  // Print data as far as the open device takes it now (see immediate_writer).
  std::size_t write_at_once(std::string_view bytes) override;
  // Reads exactly `length` bytes within ReadTimeOut into the first characters of `buffer`
  // (which grows when shorter); `read` receives the count, also on a time-out.
  std::int32_t ReadIO(std::string& buffer, std::int32_t length, std::int32_t& read);
  // Reads one answer of unknown length: waits up to ReadTimeOut for its first byte, then takes
  // bytes until a NUL (which ends block answers and stays in `text`) or a pause of 50 ms.
  // `reserved` must be 0.
  std::int32_t ReadAnswer(std::string& text, std::int32_t& count, std::int32_t reserved);

  // Time-outs in milliseconds (0: no waiting); negative values are refused.
  std::int32_t get_ReadTimeOut() const { return read_timeout_ms_; }
  void put_ReadTimeOut(std::int32_t ms);
  std::int32_t get_WriteTimeOut() const { return write_timeout_ms_; }
  void put_WriteTimeOut(std::int32_t ms);

  // 1 while the printer is off line or cannot be asked (no answer to DLE EOT 1, busy, closed),
  // else 0. Blocks up to the write and read time-outs.
  std::int32_t get_Offline();
  // Asks the printer's state (see printer_state.h; mode 0 or 1) into `state`.
  std::int32_t GetPrinterState(std::int32_t& state, std::int32_t mode);
  // Closes the device; never fails.
  std::int32_t CloseIO();
  // The last failure: its result code, text and source (port and device URI); all empty
  // (0, "", "") before the first failure.
  std::int32_t GetLastErr(std::int32_t& number, std::string& description, std::string& source);

  std::string get_PortName() const { return port_.port; }
  std::string get_DeviceUri() const;
  // How the printer is identified: 1 (kProtocolIdByte) it answers GS I 1 with one byte; 2
  // (kProtocolModelText) it answers ESC ? 0 with its model name.
  std::int32_t get_ProtocolKind() const;
  // 1 while the device is open.
  std::int32_t get_IsOpen() const;

 private:
  // Records a failure of this channel and returns its code.
  std::int32_t fail(std::int32_t code, std::string description);
  // Records the transport's last failure under `code` and returns the code.
  std::int32_t link_failed(std::int32_t code);
  // Fails with a "not open" record unless the device is open.
  bool require_open(std::string_view operation);
  // Bytes waiting from earlier reads first, else what the transport has within `timeout_ms`.
  read_result read_some(std::size_t max, int timeout_ms);
  // Exactly `count` bytes within `timeout_ms`, or the bytes so far and the failure.
  read_result read_exactly(std::size_t count, int timeout_ms);
  // Drops answer bytes that are waiting now; fails only when the link is lost.
  std::int32_t discard_input();
  // DLE EOT n and its one-byte answer.
  status_answer ask_status(int n);

  port_info port_;
  std::unique_ptr<transport> link_;
  std::string source_;
  std::string pending_;  // received beyond the last answer, handed out first
  int read_timeout_ms_;
  int write_timeout_ms_;
  std::int32_t error_number_ = 0;
  std::string error_description_;
};

}  // namespace monitor::server
