// The printer's setup block: how the printer describes its settings to a setup editor (ESC } SP a
// for the full setup, ESC } SP m for the memory setup) and how it takes the editor's choices back
// (ESC } a / ESC } m).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vprinter::detail {

// One setting the setup block lists: a selection (an option group) or a value.
enum class setup_kind { selection, digit, number, text };

struct setup_slot {
  setup_kind kind;
  bool read_only;   // the printer reports it; a download may not change it
  int limit;        // options of a selection, largest number, longest text
  const char* initial;  // decimal for selections and numbers
};

// The printer's settings, one value per slot, decimal for selections and numbers.
enum setup_slot_id : int {
  kBaudRate,
  kParity,
  kDataBits,
  kHandshake,
  kInterfaceTest,  // hidden
  kDensity,
  kPaperWidth,
  kCodePage,
  kHeadEnergy,  // hidden
  kPrintSpeed,
  kBurnIn,    // hidden
  kTestMode,  // hidden
  kCutterErrors,
  kAutoCutter,
  kCutType,
  kBuzzer,
  kBeepTime,
  kFreeBytes,  // read-only, live
  kStartLogo,
  kGraphicsMemory,
  kReceiveBuffer,
  kSerialNumber,  // read-only, live
  kLinesPrinted,  // read-only, live
  kCuts,          // read-only, live
  kShopName,
  kSetupSlotCount
};

const setup_slot& setup_slot_of(int id);

// What the printer reports in the read-only values.
struct setup_live {
  std::string serial_number;
  long long free_bytes = 0;
  long long lines_printed = 0;
  long long cuts = 0;
};

// The setup identifier (printer and release) the block starts with and a download must carry.
inline constexpr std::string_view kSetupIdentifier = "VX40-R1";

// The body of the setup block (identifier to last separator) for `full` (ESC } SP a) or the
// memory setup (ESC } SP m). `order` receives the slots in the order the block lists them.
std::string setup_body(bool full, const std::vector<std::string>& values, const setup_live& live,
                       std::vector<int>* order = nullptr);

// The whole block as sent: the request echoed, the body, the checksum as four hex digits, NUL.
// `corrupt` sends a checksum that does not match the body.
std::string setup_block(char kind, const std::vector<std::string>& values, const setup_live& live,
                        bool corrupt);

// Sum of the byte values modulo 65536.
unsigned setup_checksum(std::string_view bytes);

// The outcome of a download (ESC } a|m <identifier>$<item>|...<checksum> NUL).
enum class download_result { checksum_error, identifier_mismatch, refused, stored };

// Checks a download against the block of `kind` and, when every item is acceptable, writes the
// editable ones into `values`. `why` says what was refused.
download_result take_setup_download(std::string_view command, std::vector<std::string>& values,
                                    std::string* why);

// The ESC t table of a code-page selection.
int setup_code_table(int selection);

}  // namespace vprinter::detail
