// CVX40Printer: the POS printer service object: dispatch interface, life cycle, properties, the
// print data path with its output queue, status decoding, health check and direct I/O.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "core/service_device.h"
#include "platform/dispatch_table.h"
#include "platform/registry.h"
#include "printer/line_properties.h"
#include "printer/logo_file.h"
#include "printer/metrics_file.h"
#include "printer/print_data.h"
#include "printer/status_bytes.h"

namespace devsvc {

// Output kinds (low byte of a request's kind word).
inline constexpr std::int32_t kOutputPrint = 0;
inline constexpr std::int32_t kOutputBuffered = 1;
inline constexpr std::int32_t kOutputInternal = 2;
inline constexpr std::int32_t kOutputDirectWrite = 3;
inline constexpr std::int32_t kOutputDirectRead = 4;
// Flag bits of a request's kind word.
inline constexpr std::int32_t kOutputKindMask = 0xFF;
inline constexpr std::int32_t kOutputChunkSet = 0x100;  // the request carries its own chunk size
inline constexpr std::int32_t kOutputRaster = 0x200;    // the data is a raster image
inline constexpr std::int32_t kOutputMerge = 0x400;     // append to a last request of kind 1

// One queued piece of output (OutputRequest); the data is freed with the request.
struct OutputRequest {
  std::string data;             // bytes to write; for a direct read, the buffer to read into
  std::int32_t id = 0;          // output identifier
  std::int32_t kind = 0;        // OutputKind in the low byte, flag bits above
  std::int32_t chunk_bytes = 0;  // 0: 512
};

// Answer of the printer to GS I 1 that identifies the one-colour model.
inline constexpr std::uint8_t kPrinterIdentity = 0x20;

// What tells the printer models apart: the identity the printer answers, the registry keys the
// service object reads and writes, the strings it reports and its colours.
struct printer_model {
  std::uint8_t identity;            // GS I 1 answer the claim requires
  std::string_view fixed_key;       // HKEY_LOCAL_MACHINE: time-outs, RootPath, pauses
  std::string_view user_key;        // HKEY_CURRENT_USER: stored bitmaps
  std::int32_t description_id;      // string table entry of DeviceDescription
  std::int32_t device_name_id;      // string table entry of DeviceName
  bool two_colour;                  // black and red: colour commands, CapRec2Color
  std::uint32_t test_print_pause_ms;  // CheckHealth(2) waits this long after the test print
  std::int32_t stored_bitmaps;      // highest BitmapNumber of SetBitmap and ESC|nB
};

// The one-colour VX-40.
extern const printer_model kVX40Model;

class CVX40Printer : public platform::dispatch_object<CVX40Printer>, public CServiceDevice {
 public:
  static std::span<const platform::dispatch_member<CVX40Printer>> dispatch_members();
  // Every call through the dispatch interface, logged with its result (see LogCall).
  platform::hresult invoke(long dispid, platform::invoke_kind kind, std::span<const platform::Variant> args,
                           platform::Variant* result) override {
    const platform::hresult hr = dispatch_object::invoke(dispid, kind, args, result);
    LogCall(MemberName<CVX40Printer>(dispid), kind, args, hr);
    return hr;
  }

  CVX40Printer();
  ~CVX40Printer() override;

  // --- dispatch interface (DISPIDs 1 to 27 in this order) ---
  std::int32_t CheckHealth(std::int32_t level);
  std::int32_t Claim(std::int32_t timeout_ms);
  std::int32_t ClearOutput();
  std::int32_t Close();
  std::int32_t COFreezeEvents(bool freeze);
  std::int32_t DirectIO(std::int32_t command, std::int32_t& data, std::string& text);
  std::int32_t OpenService(const std::string& device_class, const std::string& device_name,
                           const platform::Variant& control);
  std::int32_t Release();
  std::int32_t GetPropertyNumber(std::int32_t index);
  std::string GetPropertyString(std::int32_t index);
  void SetPropertyNumber(std::int32_t index, std::int32_t number);
  void SetPropertyString(std::int32_t index, const std::string& text);
  std::int32_t BeginInsertion(std::int32_t timeout_ms);
  std::int32_t BeginRemoval(std::int32_t timeout_ms);
  std::int32_t CutPaper(std::int32_t percentage);
  std::int32_t EndInsertion();
  std::int32_t EndRemoval();
  std::int32_t PrintBarCode(std::int32_t station, const std::string& data, std::int32_t symbology,
                            std::int32_t height, std::int32_t width, std::int32_t alignment,
                            std::int32_t text_position);
  virtual std::int32_t PrintBitmap(std::int32_t station, const std::string& file_name, std::int32_t width,
                                   std::int32_t alignment);
  std::int32_t PrintImmediate(std::int32_t station, const std::string& data);
  std::int32_t PrintNormal(std::int32_t station, const std::string& data);
  std::int32_t PrintTwoNormal(std::int32_t stations, const std::string& data1, const std::string& data2);
  std::int32_t RotatePrint(std::int32_t station, std::int32_t rotation);
  virtual std::int32_t SetBitmap(std::int32_t number, std::int32_t station, const std::string& file_name,
                                 std::int32_t width, std::int32_t alignment);
  std::int32_t SetLogo(std::int32_t location, const std::string& data);
  std::int32_t TransactionPrint(std::int32_t station, std::int32_t control);
  std::int32_t ValidateData(std::int32_t station, const std::string& data);

  // --- status and state ---

  // The state check: the common one, then 113 while busy in synchronous mode.
  std::int32_t CheckState() override;
  // Records a state (1 to 4), a condition (11, 12, 24, 25, 26) or a power state (2001 to 2004)
  // and fires the matching status event. The return to idle fires 1001 once when FlagWhenIdle is
  // set, and clears the flag.
  void SetPrinterState(std::int32_t code);
  // Turns a channel result into ResultCode (time-out 112, busy 113, other failures 111), polls
  // the printer's status after a successful write when `poll` is set, and reports what it found.
  std::int32_t DecodeWriteResult(std::int32_t result, bool poll);

  // The single entry point for output, with the chunk size (0: 512) and the kind word. In
  // synchronous mode, outside transactions and rotation, sends `bytes` now (State 3 meanwhile)
  // and decodes the result; for a direct read (kind 4) `bytes` is the buffer that receives the
  // answer and is cut to what arrived. Otherwise queues an OutputRequest for the worker and
  // returns 0. Blocks for a synchronous transfer.
  std::int32_t Submit(std::string& bytes, std::int32_t chunk_bytes, std::int32_t kind);

  // The poll tick: the output worker. Sends the first queued request when the device is claimed
  // and idle, outside transactions and rotation, and reports it (output complete, direct I/O or
  // error event). One request per tick; while more wait, it asks for a prompt tick, so the queue
  // drains back to back with the thread's other messages in between. Pumps messages in
  // asynchronous mode.
  void PollTick() override;

 protected:
  // A printer service object of another model (the two-colour one).
  explicit CVX40Printer(const printer_model& model);

  // Called at the end of a successful OpenService, with the metrics file loaded.
  virtual void OpenedModel() {}

  // Decodes the binary conversion and translates the escape sequences of `data` (UTF-8 text
  // goes to the CharacterSet code page); the OPOS result and the printer text ("<NID>" for NUL).
  prepared_text PrepareText(std::string_view data) const;
  // The printer state the translator needs.
  translate_context TranslateContext() const;
  // Appends a request to the output queue (or merges it into the last one); false when no request
  // could be made.
  bool Queue(std::string bytes, std::int32_t chunk_bytes, std::int32_t kind);
  // Sends one request as the worker does; the OPOS result (ResultCode and ResultCodeExtended
  // are set). A direct read leaves what arrived in the request's data.
  std::int32_t SendRequest(OutputRequest& request, bool raster = false);
  // While the link is lost, opens it again now and then (every kReconnectEveryMs); once the
  // printer is back, its status poll reports it with the usual events.
  void WatchLostLink();
  static constexpr std::uint64_t kReconnectEveryMs = 2000;
  // Reports a failed request (its result and extended code) with the error event and acts on
  // the application's answer: 12 clears the output; 11 drops the request.
  void ReportFailedRequest(std::int32_t result, std::int32_t extended);
  // Stores a method's result in ResultCode (ResultCodeExtended is kept only with 114) and
  // returns it.
  std::int32_t StoreResult(std::int32_t result);
  // True while a transaction is open or the receipt is rotated: output is collected, not sent.
  bool Collecting() const;

  // Poll after write: DLE EOT 2, then GS r 1 until it answers (or the read time-out passes).
  std::uint8_t PollAfterWrite();
  // Extended status read (DLE EOT 1, then DLE EOT 2 and 4 when off line); leaves `status` alone
  // when the printer is on line or the extended-status flag is clear.
  void ReadExtendedStatus(std::uint8_t& status);
  // Writes `request` in `mode` and reads answer.size() bytes; the channel result, with the
  // count received in `received`.
  std::int32_t Query(std::string_view request, std::int32_t mode, std::span<char> answer,
                     std::int32_t& received);
  // The claim's printer initialisation; ResultCode and the return value tell the outcome, and
  // ErrorString says in words why it failed.
  std::int32_t InitialisePrinter();
  // The claim's identity request went unanswered: asks the real-time status, which an off-line
  // printer still answers. No answer: 107 (no printer); any answer: 108 (off line) as
  // ReportOffline tells it.
  std::int32_t NoIdentityAnswer();
  // The claim found the printer off line with cause `status` (an internal paper status): 108,
  // the extended code where OPOS has one (201 cover open, 203 paper out), the error text and the
  // status events of the cause.
  std::int32_t ReportOffline(std::uint8_t status);
  // Loads the current font of the device key and the logo file `dat_file` (DATFile); the open
  // has loaded the metrics file before.
  void LoadConfiguration(const platform::registry_key& device_key, const std::string& dat_file);

  // Setters that send printer commands.
  void SetCharacterSet(std::int32_t codepage);
  void SetRecLineSpacing(std::int32_t dots);
  void SetRecLineHeight(std::int32_t dots);
  void SetRecLineChars(std::int32_t chars);
  // The current line values, and storing new ones.
  line_values CurrentLineValues() const;
  void StoreLineValues(const line_values& values);
  // Dots to and from the current MapMode.
  std::int32_t ToMapUnits(std::int32_t dots) const;
  std::int32_t ToDots(std::int32_t units) const;

  // Submits the alignment of a bitmap or bar code as an internal request: ESC a 0, 1, 2 for
  // -1, -2, -3, otherwise ESC \ with a distance in MapMode units from the left margin. The
  // two-colour model then selects the colour: 0 black, 1 red, 2 none (the picture brings its own).
  std::int32_t SubmitAlignment(std::int32_t alignment, std::int32_t colour = 0);
  // After a bitmap or bar code: left alignment, and black again on the two-colour model.
  void SubmitAfterPicture();
  // An image transfer keeps the printer silent for a while: the extended status read is off and
  // the read time-out 15 s until EndSlowTransfer restores both.
  void BeginSlowTransfer();
  void EndSlowTransfer();
  // SetBitmap's record of a stored bitmap in the per-user key and its stored image file, the
  // removal of one, and the transfer of every recorded image to the printer; OPOS results.
  std::int32_t RecordStoredBitmap(std::int32_t number, std::int32_t alignment, const std::string& file_name);
  std::int32_t RemoveStoredBitmap(std::int32_t number);
  std::int32_t DefineStoredImages();
  // RotatePrint back to normal: releases the collected page and switches the turn off.
  std::int32_t EndRotation();
  // Asynchronously, hands the collected output to the worker as one job: its last request
  // becomes a print request with the job's OutputID.
  void ReleaseCollectedJob();
  // Sends one request of a synchronous flush (end of a turn with `large` writes, end of a
  // transaction with chunked ones) and decodes the result with a status poll. Direct I/O goes
  // as its kind says: a write without the poll, a read reads (its buffer is never written) and
  // reports the answer with the direct-I/O event. Blocks; pumps messages.
  std::int32_t SendCollected(OutputRequest& request, bool large);

  // Tables of the numeric properties (defined with the property accessors).
  struct NumberRow;
  static std::span<const NumberRow> NumberProperties();

  // The model this object drives.
  const printer_model& model_;
  // BMPMode: the image scale code (RasterMode of the metrics file), 0 to 3.
  std::int32_t bmp_mode_ = 0;

  // The escape-sequence translator and the output queue (oldest first).
  CEscParser parser_;
  std::deque<OutputRequest> queue_;
  // Set while the worker sends a request, so that a tick nested in its message pumping does
  // not start another.
  bool worker_busy_ = false;
  // When the poll tick last tried to open a lost link.
  std::uint64_t last_reconnect_ms_ = 0;

  // Configuration files and the font in use.
  CMetricsFile metrics_;
  CLogoFile logo_;
  std::int32_t current_font_ = 1;

  // Poll block.
  bool extended_status_ = true;
  std::int32_t current_read_timeout_ms_ = 3500;
  std::int32_t saved_read_timeout_ms_ = 0;
  std::int32_t transaction_state_ = 12;
  std::int32_t rotation_state_ = 1;
  // Set once the output collected in asynchronous mode has its output identifier (the first
  // collected request's); cleared when the turn or transaction ends.
  bool collected_job_named_ = false;
  // The normal receipt's line values, kept while the receipt is turned right.
  std::optional<line_values> saved_line_values_;

  // Printer properties.
  // Why the last OpenService or Claim failed, in words ("printer cover open"); empty after one
  // succeeds.
  std::string ErrorString;
  std::int32_t CharacterSet = 0;
  std::string CharacterSetList;
  bool CoverOpen = false;
  std::string FontTypefaceList;
  bool FlagWhenIdle = false;
  std::int32_t MapMode = 1;
  std::int32_t RecLineChars = 0;
  std::int32_t h_scale_ = 0;
  std::int32_t v_scale_ = 0;
  std::int32_t RecLineHeight = 0;
  std::int32_t RecLineSpacing = 0;
  std::int32_t spacing_above_ = 0;
  std::int32_t RecLineWidth = 0;
  bool RecEmpty = false;
  bool RecNearEnd = false;
  std::int32_t RecSidewaysMaxChars = 0;
  std::int32_t RecLinesToPaperCut = 0;
  std::int32_t RotateSpecial = 1;
  std::string RecLineCharsList;
  std::string RecBarCodeRotationList = "0,R90,L90,180";
};

}  // namespace devsvc
