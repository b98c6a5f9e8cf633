// CVX40CPrinter: the two-colour model, its pictures printed in raster bands of black and red,
// its stored graphics defined, recorded and deleted under key codes.
#include "colour/vx40c_printer.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <thread>

#include "colour/color_bitmap.h"
#include "colour/image_conversion.h"
#include "core/device_keys.h"
#include "core/opos.h"
#include "core/string_table.h"
#include "platform/messages.h"
#include "platform/registry.h"
#include "printer/config_paths.h"
#include "printer/esc_engineer.h"

namespace devsvc {

const printer_model kVX40CModel = {
    .identity = kColorPrinterIdentity,
    .fixed_key = kColorPrinterFixedKey,
    .user_key = kColorPrinterUserKey,
    .description_id = IDS_COLOR_PRINTER_DESCRIPTION,
    .device_name_id = IDS_COLOR_PRINTER_DEVICE_NAME,
    .two_colour = true,
    .test_print_pause_ms = 2000,
    .stored_bitmaps = 20,
};

namespace {

// The printer answers slowly while it takes a picture: read time-out meanwhile.
constexpr std::int32_t kPictureReadTimeoutMs = 15000;
// The printer prints a band from its graphics buffer before it takes the next one; the fixed
// key's BandPauseMs shortens or lengthens the wait.
constexpr std::string_view kBandPauseValue = "BandPauseMs";
constexpr std::uint32_t kBandPauseMs = 2000;
// The printer writes defined graphics into its memory before it answers again; the fixed key's
// StoredImagePauseMs shortens or lengthens the wait.
constexpr std::string_view kStoredPauseValue = "StoredImagePauseMs";
constexpr std::uint32_t kStoredPauseMs = 2000;
// The second key code of every stored picture.
constexpr std::uint8_t kSecondKeyCode = 0x20;
// The first key code of stored picture n is n + this.
constexpr std::uint8_t kKeyCodeBase = 0x1F;
// Identification byte of a key-code list block that more blocks follow.
constexpr char kMoreBlocks = 0x41;
// A printer that keeps answering "more blocks" is not followed for ever.
constexpr int kMaxKeyListBlocks = 256;
// Acknowledgement of one block of the key-code list.
constexpr std::string_view kAcknowledge = "\x06";
// Colour bytes of the raster planes.
constexpr std::uint8_t kBlackPlane = 0x31;
constexpr std::uint8_t kRedPlane = 0x32;

// The scale bytes x, y of BMPMode 0 to 3; normal size for any other value.
std::array<std::uint8_t, 2> scale_of(std::int32_t bmp_mode) {
  static constexpr std::array<std::array<std::uint8_t, 2>, 4> kScales = {{{1, 1}, {2, 1}, {1, 2}, {2, 2}}};
  return bmp_mode >= 0 && bmp_mode <= 3 ? kScales[static_cast<std::size_t>(bmp_mode)] : kScales[0];
}

void append_le16(std::string& out, std::int32_t v) {
  out += static_cast<char>(v & 0xFF);
  out += static_cast<char>((v >> 8) & 0xFF);
}

// GS 8 L with the four-byte length of what follows it.
std::string graphics_head(std::uint64_t parameter_bytes) {
  std::string out(ESCEngineer::command(ESCEngineer::kGraphicsLarge));
  for (int shift = 0; shift < 32; shift += 8) out += static_cast<char>((parameter_bytes >> shift) & 0xFF);
  return out;
}

bool is_bad_format(int loaded) {
  return loaded == kBitmapOpenFailed || loaded == kBitmapBadFormat || loaded == kBitmapTooLarge;
}

// Inks a picture prints with: black only for a two-entry palette of other colours, black and
// red otherwise (a black-and-red palette included: it has red to print).
std::vector<ink> passes_of(const CColorBitmap& bitmap) {
  if (bitmap.colour_mode() == kColourModeOther) return {ink::black};
  return {ink::black, ink::red};
}

// The per-user record of the stored pictures: BitmapStored, BMP n, Alignment n.
class stored_picture_record {
 public:
  stored_picture_record() {
    ok_ = platform::registry_key::create(platform::registry_root::current_user, kColorPrinterUserKey, key_) ==
          platform::kErrorSuccess;
  }
  bool ok() const { return ok_; }
  std::int32_t count() const { return ok_ ? static_cast<std::int32_t>(ReadRegistryDword(key_, "BitmapStored")) : 0; }
  std::string path(std::int32_t n) const { return ok_ ? ReadPathValue(key_, "BMP" + std::to_string(n)) : std::string(); }
  bool record(std::int32_t n, const std::string& file, std::int32_t alignment) {
    return ok_ && key_.set_string("BMP" + std::to_string(n), file) == platform::kErrorSuccess &&
           key_.set_dword("Alignment" + std::to_string(n), static_cast<std::uint32_t>(alignment)) ==
               platform::kErrorSuccess &&
           key_.set_dword("BitmapStored", static_cast<std::uint32_t>(count() + 1)) == platform::kErrorSuccess;
  }
  bool forget(std::int32_t n) {
    if (!ok_) return false;
    const bool held = !path(n).empty();
    if (key_.set_string("BMP" + std::to_string(n), "") != platform::kErrorSuccess) return false;
    // Only a recorded picture counts: the count never goes below what the record holds.
    return !held || key_.set_dword("BitmapStored", static_cast<std::uint32_t>(std::max(count() - 1, 0))) ==
                        platform::kErrorSuccess;
  }

 private:
  platform::registry_key key_;
  bool ok_ = false;
};

}  // namespace

CVX40CPrinter::CVX40CPrinter() : CVX40Printer(kVX40CModel) {}

void CVX40CPrinter::OpenedModel() {
  platform::registry_key key;
  if (platform::registry_key::create(platform::registry_root::current_user, kColorPrinterUserKey, key) ==
      platform::kErrorSuccess) {
    key.set_dword("BMPMode", static_cast<std::uint32_t>(bmp_mode_));
  }
}

std::uint32_t CVX40CPrinter::FixedDword(std::string_view name, std::uint32_t fallback) const {
  platform::registry_key key;
  if (platform::registry_key::open(platform::registry_root::local_machine, kColorPrinterFixedKey, key) !=
      platform::kErrorSuccess) {
    return fallback;
  }
  return ReadRegistryDword(key, name, fallback);
}

std::int32_t CVX40CPrinter::LoadPicture(const std::string& file_name, CColorBitmap& bitmap) {
  const int loaded = bitmap.load(file_name);
  if (loaded != kBitmapOk) {
    if (!is_bad_format(loaded)) return OPOS_E_FAILURE;
    ResultCodeExtended = OPOS_EPTR_BADFORMAT;
    return OPOS_E_EXTENDED;
  }
  // Doubled across, the picture may be half the line wide.
  const std::int32_t largest = bmp_mode_ == 1 || bmp_mode_ == 3 ? RecLineWidth / 2 : RecLineWidth;
  if (bitmap.width() > largest) {
    ResultCodeExtended = OPOS_EPTR_BADFORMAT;
    return OPOS_E_EXTENDED;
  }
  if (bitmap.colour_mode() == kColourModeMany && !bitmap.printable_as_is()) {
    const std::string library = ReadMachinePathValue(kColorPrinterFixedKey, "ConvertImageDLL");
    const std::string root = ReadMachinePathValue(kColorPrinterFixedKey, "RootPath");
    if (!ConvertPicture(library, root, bitmap)) {
      ResultCodeExtended = OPOS_EPTR_BADFORMAT;
      return OPOS_E_EXTENDED;
    }
  }
  return OPOS_SUCCESS;
}

// ---------------------------------------------------------------------------------------------
// PrintBitmap

std::int32_t CVX40CPrinter::PrintBitmap(std::int32_t station, const std::string& file_name, std::int32_t width,
                                        std::int32_t alignment) {
  if (CheckState() != OPOS_SUCCESS) return ResultCode;
  if (station != PTR_S_RECEIPT || rotation_state_ != PTR_RP_NORMAL || width != PTR_BM_ASIS) return Illegal();
  ResultCodeExtended = 0;

  CColorBitmap bitmap;
  const std::int32_t loaded = LoadPicture(file_name, bitmap);
  if (loaded != OPOS_SUCCESS) return StoreResult(loaded);

  // The picture brings its own colours: the alignment selects none.
  const std::int32_t aligned = SubmitAlignment(alignment, 2);
  if (aligned != OPOS_SUCCESS) return StoreResult(aligned);

  // Sent now, the bands go out under the long time-out without the extended status read, and
  // the printer gets time to print each band; queued, the worker sends them one after another.
  const bool now = !AsyncMode && !Collecting();
  if (now) BeginSlowTransfer();
  const std::uint32_t band_pause = FixedDword(kBandPauseValue, kBandPauseMs);
  const std::array<std::uint8_t, 2> scale = scale_of(bmp_mode_);
  const std::vector<ink> passes = passes_of(bitmap);
  std::int32_t result = OPOS_SUCCESS;
  for (std::int32_t first = 0; first < bitmap.height() && result == OPOS_SUCCESS; first += kBandRows) {
    const std::int32_t rows = std::min(kBandRows, bitmap.height() - first);
    for (const ink pass : passes) {
      // GS 8 L function 112: the band's plane into the graphics buffer.
      const std::string plane = bitmap.plane(pass, first, rows);
      std::string band = graphics_head(plane.size() + 10);
      band += std::string_view("\x30\x70\x30", 3);
      band += static_cast<char>(scale[0]);
      band += static_cast<char>(scale[1]);
      band += static_cast<char>(pass == ink::black ? kBlackPlane : kRedPlane);
      append_le16(band, bitmap.width());
      append_le16(band, rows);
      band += plane;
      result = Submit(band, 0, kOutputInternal | kOutputRaster);
      if (result != OPOS_SUCCESS) break;
    }
    if (result != OPOS_SUCCESS) break;
    std::string print(ESCEngineer::command(ESCEngineer::kPrintGraphicsBuffer));
    result = Submit(print, 0, kOutputPrint);
    if (result == OPOS_SUCCESS && now && band_pause > 0) PumpMessages(band_pause);
  }
  if (result == OPOS_SUCCESS) SubmitAfterPicture();
  if (now) EndSlowTransfer();
  return StoreResult(result);
}

// ---------------------------------------------------------------------------------------------
// SetBitmap

std::int32_t CVX40CPrinter::SetBitmap(std::int32_t number, std::int32_t station, const std::string& file_name,
                                      std::int32_t width, std::int32_t alignment) {
  if (CheckState() != OPOS_SUCCESS) return ResultCode;
  ResultCode = OPOS_SUCCESS;
  ResultCodeExtended = 0;
  if (transaction_state_ == PTR_TP_TRANSACTION || rotation_state_ != PTR_RP_NORMAL || AsyncMode) return Illegal();
  const bool aligned = alignment == PTR_BM_LEFT || alignment == PTR_BM_CENTER || alignment == PTR_BM_RIGHT;
  if (station != PTR_S_RECEIPT || number < 1 || number > model_.stored_bitmaps ||
      !(file_name.empty() || (width == PTR_BM_ASIS && aligned))) {
    return Illegal();
  }
  stored_picture_record record;
  if (!file_name.empty() && (record.count() >= model_.stored_bitmaps || !record.path(number).empty())) {
    return Illegal();
  }

  const auto k1 = static_cast<std::uint8_t>(number + kKeyCodeBase);
  SetPrinterState(OPOS_S_BUSY);
  std::int32_t result = OPOS_SUCCESS;
  if (!file_name.empty()) {
    CColorBitmap bitmap;
    result = LoadPicture(file_name, bitmap);
    if (result == OPOS_SUCCESS) {
      BeginSlowTransfer();
      result = DefineGraphics(k1, bitmap);
      EndSlowTransfer();
    }
    // The record says what the printer holds: recorded once the printer took the picture.
    if (result == OPOS_SUCCESS && !record.record(number, file_name, -alignment)) result = OPOS_E_FAILURE;
  } else {
    BeginSlowTransfer();
    result = DeleteGraphics(k1);
    EndSlowTransfer();
    if (result == OPOS_SUCCESS && !record.forget(number)) result = OPOS_E_FAILURE;
  }
  SetPrinterState(OPOS_S_IDLE);
  return StoreResult(result);
}

std::int32_t CVX40CPrinter::DefineGraphics(std::uint8_t k1, const CColorBitmap& bitmap) {
  // GS 8 L function 67: one command with every plane of the picture, each plane its colour
  // byte and rows; the length counts the ten parameter bytes and the planes.
  const std::vector<ink> passes = passes_of(bitmap);
  const auto plane_bytes = static_cast<std::uint64_t>(bitmap.row_bytes()) * static_cast<std::uint64_t>(bitmap.height());
  std::string head = graphics_head(passes.size() * (plane_bytes + 1) + 10);
  head += std::string_view("\x30\x43\x30", 3);
  head += static_cast<char>(k1);
  head += static_cast<char>(kSecondKeyCode);
  head += static_cast<char>(passes.size());
  append_le16(head, bitmap.width());
  append_le16(head, bitmap.height());

  std::int32_t written = 0;
  if (DecodeWriteResult(channel_.Write(head, written, kWriteModeStatus), false) != OPOS_SUCCESS) return ResultCode;
  for (const ink pass : passes) {
    std::string plane(1, static_cast<char>(pass == ink::black ? kBlackPlane : kRedPlane));
    plane += bitmap.plane(pass, 0, bitmap.height());
    const std::int32_t sent = channel_.WriteChunked(plane, written, 0);
    if (DecodeWriteResult(sent, false) != OPOS_SUCCESS) return ResultCode;
  }
  const std::uint32_t pause = FixedDword(kStoredPauseValue, kStoredPauseMs);
  if (pause > 0) PumpMessages(pause);
  return DecodeWriteResult(kChannelOk, true);
}

std::int32_t CVX40CPrinter::DeleteGraphics(std::uint8_t k1) {
  std::int32_t written = 0;
  const std::string list(ESCEngineer::command(ESCEngineer::kGraphicsKeyList));
  if (DecodeWriteResult(channel_.Write(list, written, kWriteModeData), false) != OPOS_SUCCESS) return ResultCode;

  // The key list comes in blocks: a three-byte head whose third byte says whether more follow,
  // the key-code pairs, and a closing NUL. Each block is acknowledged.
  std::string keys;
  for (int blocks = 0;; ++blocks) {
    std::string block;
    std::int32_t count = 0;
    const std::int32_t read = channel_.ReadUntilNul(block, count);
    if (read != kChannelOk) return DecodeWriteResult(read, false);
    block.resize(static_cast<std::size_t>(std::max(count, 0)));
    if (block.size() > 4) keys += block.substr(3, block.size() - 4);
    if (DecodeWriteResult(channel_.Write(kAcknowledge, written, kWriteModeData), false) != OPOS_SUCCESS) {
      return ResultCode;
    }
    if (block.size() < 3 || block[2] != kMoreBlocks) break;
    if (blocks + 1 >= kMaxKeyListBlocks) return ResultCode = OPOS_E_FAILURE;
  }
  bool held = false;
  for (std::size_t i = 0; i + 1 < keys.size(); i += 2) {
    held = held || (static_cast<std::uint8_t>(keys[i]) == k1 && static_cast<std::uint8_t>(keys[i + 1]) == kSecondKeyCode);
  }
  if (!held) return ResultCode = OPOS_E_ILLEGAL;

  // Delete, then GS I 1: the printer answers it once the deletion is done.
  std::string remove = ESCEngineer::command_with(ESCEngineer::kDeleteGraphics, std::string{static_cast<char>(k1), static_cast<char>(kSecondKeyCode)});
  remove += ESCEngineer::command(ESCEngineer::kProcessingEcho);
  if (DecodeWriteResult(channel_.Write(remove, written, kWriteModeData), false) != OPOS_SUCCESS) return ResultCode;
  const std::uint64_t end = platform::tick_count_ms() + kPictureReadTimeoutMs;
  for (;;) {
    char answer = 0;
    std::int32_t got = 0;
    const std::int32_t read = channel_.Read(std::span<char>(&answer, 1), got);
    if (read == kChannelOk && got == 1) break;
    if (read != kChannelOk && read != kChannelTimeout) return DecodeWriteResult(read, false);
    if (platform::tick_count_ms() >= end) return ResultCode = OPOS_E_TIMEOUT;
  }
  return DecodeWriteResult(kChannelOk, true);
}

}  // namespace devsvc
