// CVX40Printer: bitmaps printed as raster images (PrintBitmap), bitmaps stored in the printer's
// image memory with their per-user record (SetBitmap), and the top and bottom logos (SetLogo).
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "core/device_keys.h"
#include "core/opos.h"
#include "platform/registry.h"
#include "printer/config_paths.h"
#include "printer/esc_engineer.h"
#include "printer/printer_bitmap.h"
#include "printer/printer_picture.h"
#include "printer/vx40_printer.h"

namespace devsvc {
namespace {

// The printer answers slowly while it takes an image: read time-out meanwhile.
constexpr std::int32_t kImageReadTimeoutMs = 15000;
// The printer prepares its image memory after the first image header; the fixed key's
// StoredImagePauseMs shortens or lengthens the wait (a printer that needs none takes 0).
constexpr std::string_view kStoredImagePauseValue = "StoredImagePauseMs";
constexpr std::uint32_t kStoredImagePauseMs = 7000;
// Slots of the printer's image memory.
constexpr std::int32_t kStoredSlots = 2;

// xL xH yL yH: the size of an image in bytes across and rows (or row groups) down.
std::string image_size(std::int32_t row_bytes, std::int32_t rows) {
  std::string out;
  for (const std::int32_t v : {row_bytes, rows}) {
    out += static_cast<char>(v & 0xFF);
    out += static_cast<char>((v >> 8) & 0xFF);
  }
  return out;
}

// GS v 0 m xL xH yL yH: the raster image header.
std::string raster_header(std::int32_t mode, std::int32_t row_bytes, std::int32_t rows) {
  return ESCEngineer::command_with(ESCEngineer::kRasterImage, static_cast<std::uint8_t>(mode)) +
         image_size(row_bytes, rows);
}

// The folder for stored image files when RootPath is not set: the user's data folder.
std::string default_root_path() {
  std::filesystem::path base;
  if (const char* data = std::getenv("XDG_DATA_HOME"); data != nullptr && *data == '/') {
    base = data;
  } else if (const char* home = std::getenv("HOME"); home != nullptr && *home == '/') {
    base = std::filesystem::path(home) / ".local" / "share";
  } else {
    base = std::filesystem::temp_directory_path();
  }
  return (base / "poskit" / "images").string() + "/";
}

// The per-user record of the stored bitmaps: BitmapStored, BMPStored n and PrePrintBitmap n.
class stored_bitmap_record {
 public:
  explicit stored_bitmap_record(std::string_view user_key) {
    ok_ = platform::registry_key::create(platform::registry_root::current_user, user_key, key_) ==
          platform::kErrorSuccess;
  }
  bool ok() const { return ok_; }
  std::int32_t count() const {
    return ok_ ? static_cast<std::int32_t>(ReadRegistryDword(key_, "BitmapStored")) : 0;
  }
  std::string path(std::int32_t n) const {
    // Whole, as RootPath is: a stored image file's path may be as long as the system allows.
    return ok_ ? ReadPathValue(key_, "BMPStored" + std::to_string(n)) : std::string();
  }
  bool set_count(std::int32_t count) {
    return ok_ && key_.set_dword("BitmapStored", static_cast<std::uint32_t>(count)) == platform::kErrorSuccess;
  }
  bool set_path(std::int32_t n, const std::string& path) {
    return ok_ && key_.set_string("BMPStored" + std::to_string(n), path) == platform::kErrorSuccess;
  }
  bool set_pre_print(std::int32_t n, std::int32_t alignment) {
    // ESC a with the complement of the alignment: -1, -2, -3 give 0, 1, 2.
    const std::vector<std::uint8_t> command = {0x1B, 0x61, static_cast<std::uint8_t>(~alignment & 0xFF)};
    return ok_ && key_.set_binary("PrePrintBitmap" + std::to_string(n), command) == platform::kErrorSuccess;
  }

 private:
  platform::registry_key key_;
  bool ok_ = false;
};

// OPOS result of a bitmap that could not be loaded for printing or storing.
bool is_bad_format(int loaded) {
  return loaded == kBitmapOpenFailed || loaded == kBitmapBadFormat || loaded == kBitmapTooLarge;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Common parts

std::int32_t CVX40Printer::SubmitAlignment(std::int32_t alignment, std::int32_t colour) {
  std::string command;
  switch (alignment) {
    case PTR_BM_LEFT:
      command = ESCEngineer::command(ESCEngineer::kAlignLeft);
      break;
    case PTR_BM_CENTER:
      command = ESCEngineer::command(ESCEngineer::kAlignCentre);
      break;
    case PTR_BM_RIGHT:
      command = ESCEngineer::command(ESCEngineer::kAlignRight);
      break;
    default: {
      // A distance from the left margin, in horizontal motion units counted from whole
      // millimetres; both bytes are sent so that distances past 255 units are kept.
      const double h_motion_unit = metrics_.h_motion_unit();
      const std::int32_t mm = truncate_to_int32(ToDots(alignment) * metrics_.dot_size());
      const std::int32_t n = h_motion_unit > 0 ? truncate_to_int32(mm / h_motion_unit) & 0xFFFF : 0;
      command = ESCEngineer::command(ESCEngineer::kRelativePosition);
      command += static_cast<char>(n & 0xFF);
      command += static_cast<char>(n >> 8);
      break;
    }
  }
  if (model_.two_colour && colour == 0) command += ESCEngineer::command(ESCEngineer::kColourBlack);
  if (model_.two_colour && colour == 1) command += ESCEngineer::command(ESCEngineer::kColourRed);
  return Submit(command, 0, kOutputInternal);
}

void CVX40Printer::SubmitAfterPicture() {
  std::string after(ESCEngineer::command(ESCEngineer::kAlignLeft));
  if (model_.two_colour) after += ESCEngineer::command(ESCEngineer::kColourBlack);
  Submit(after, 0, kOutputInternal);
}

void CVX40Printer::BeginSlowTransfer() {
  extended_status_ = false;
  // A time-out saved before and not yet restored is the one to go back to.
  if (saved_read_timeout_ms_ == 0) saved_read_timeout_ms_ = current_read_timeout_ms_;
  current_read_timeout_ms_ = kImageReadTimeoutMs;
  channel_.SetReadTimeOut(kImageReadTimeoutMs);
}

void CVX40Printer::EndSlowTransfer() {
  extended_status_ = true;
  if (saved_read_timeout_ms_ != 0) current_read_timeout_ms_ = saved_read_timeout_ms_;
  saved_read_timeout_ms_ = 0;
  channel_.SetReadTimeOut(current_read_timeout_ms_);
}

// ---------------------------------------------------------------------------------------------
// PrintBitmap

std::int32_t CVX40Printer::PrintBitmap(std::int32_t station, const std::string& file_name, std::int32_t width,
                                       std::int32_t alignment) {
  if (CheckState() != OPOS_SUCCESS) return ResultCode;
  if (station != PTR_S_RECEIPT || rotation_state_ != PTR_RP_NORMAL || width != PTR_BM_ASIS) return Illegal();

  CPrinterBitmap bitmap;
  const int loaded = load_printer_picture(file_name, RecLineWidth, bitmap);
  if (loaded != kBitmapOk) {
    if (!is_bad_format(loaded)) return StoreResult(OPOS_E_FAILURE);
    ResultCodeExtended = OPOS_EPTR_BADFORMAT;
    return StoreResult(OPOS_E_EXTENDED);
  }
  if (bitmap.width() > RecLineWidth) {
    ResultCodeExtended = OPOS_EPTR_BADFORMAT;
    return StoreResult(OPOS_E_EXTENDED);
  }

  const std::int32_t aligned = SubmitAlignment(alignment);
  if (aligned != OPOS_SUCCESS) return StoreResult(aligned);

  std::string data = raster_header(metrics_.raster_mode(), bitmap.row_bytes(), bitmap.height()) + bitmap.image();
  // Sent now, the image goes out under the long time-out; queued, it carries the raster flag and
  // whoever sends it later does the same.
  const bool now = !AsyncMode && !Collecting();
  if (now) BeginSlowTransfer();
  // 24 dot rows per chunk.
  const std::int32_t result = Submit(data, bitmap.row_bytes() * 24, kOutputPrint);
  if (now) EndSlowTransfer();
  if (result == OPOS_SUCCESS) SubmitAfterPicture();
  return StoreResult(result);
}

// ---------------------------------------------------------------------------------------------
// SetBitmap

std::int32_t CVX40Printer::SetBitmap(std::int32_t number, std::int32_t station, const std::string& file_name,
                                     std::int32_t width, std::int32_t alignment) {
  // The image memory is rewritten through the printer: the device must be claimed and enabled.
  if (CheckState() != OPOS_SUCCESS) return ResultCode;
  ResultCode = OPOS_SUCCESS;
  ResultCodeExtended = 0;
  if (transaction_state_ == PTR_TP_TRANSACTION || rotation_state_ != PTR_RP_NORMAL || AsyncMode) return Illegal();
  const bool aligned = alignment == PTR_BM_LEFT || alignment == PTR_BM_CENTER || alignment == PTR_BM_RIGHT;
  if (station != PTR_S_RECEIPT || number < 1 || number > kStoredSlots ||
      !(file_name.empty() || (width == PTR_BM_ASIS && aligned))) {
    return Illegal();
  }
  {
    const stored_bitmap_record record(model_.user_key);
    if (!file_name.empty() && (record.count() >= kStoredSlots || !record.path(number).empty())) return Illegal();
  }

  SetPrinterState(OPOS_S_BUSY);
  std::int32_t result = file_name.empty() ? RemoveStoredBitmap(number) : RecordStoredBitmap(number, alignment, file_name);
  if (result == OPOS_SUCCESS) {
    BeginSlowTransfer();
    result = DefineStoredImages();
    EndSlowTransfer();
    // The record says what the printer holds: a bitmap the printer did not take is not kept.
    if (result != OPOS_SUCCESS && !file_name.empty()) RemoveStoredBitmap(number);
  }
  SetPrinterState(OPOS_S_IDLE);
  return StoreResult(result);
}

std::int32_t CVX40Printer::RecordStoredBitmap(std::int32_t number, std::int32_t alignment,
                                              const std::string& file_name) {
  CPrinterBitmap bitmap;
  const int loaded = load_printer_picture(file_name, RecLineWidth, bitmap);
  if (loaded != kBitmapOk) {
    if (!is_bad_format(loaded)) return OPOS_E_ILLEGAL;
    ResultCodeExtended = OPOS_EPTR_BADFORMAT;
    return OPOS_E_EXTENDED;
  }
  stored_bitmap_record record(model_.user_key);
  const std::int32_t count = record.count() + 1;
  if (count > kStoredSlots || !record.ok()) return OPOS_E_FAILURE;

  // Stored image files go into RootPath of the fixed key (appended to as it stands, whole).
  std::string root = ReadMachinePathValue(model_.fixed_key, "RootPath");
  if (!ImageRootProblem(root).empty()) return OPOS_E_FAILURE;
  if (root.empty()) root = default_root_path();
  std::error_code error;
  std::filesystem::create_directories(std::filesystem::path(root).parent_path(), error);
  // A fresh file name: a number nobody holds yet.
  std::string path;
  do {
    path = root + "IMG" + std::to_string(NewOutputID()) + ".dat";
  } while (std::filesystem::exists(path, error));
  if (!bitmap.save_stored(path, error)) return OPOS_E_FAILURE;
  if (!record.set_path(number, path) || !record.set_pre_print(number, alignment) || !record.set_count(count)) {
    record.set_path(number, {});
    std::filesystem::remove(path, error);
    return OPOS_E_FAILURE;
  }
  return OPOS_SUCCESS;
}

std::int32_t CVX40Printer::RemoveStoredBitmap(std::int32_t number) {
  stored_bitmap_record record(model_.user_key);
  const std::string path = record.path(number);
  const std::int32_t count = record.count() - 1;
  // An empty slot has nothing to remove, whatever the count says.
  if (path.empty() || count < 0) return OPOS_E_ILLEGAL;
  if (!record.set_path(number, {}) || !record.set_count(count)) return OPOS_E_FAILURE;
  std::error_code error;
  std::filesystem::remove(path, error);
  return OPOS_SUCCESS;
}

std::int32_t CVX40Printer::DefineStoredImages() {
  const stored_bitmap_record record(model_.user_key);
  // The printer numbers its images from 1 in the order sent. With only slot 2 held, slot 1 is
  // sent as a blank image so that image 2 stays image 2.
  std::vector<stored_image> images;
  const bool slot_two_only = record.path(1).empty() && !record.path(2).empty();
  for (std::int32_t n = 1; n <= kStoredSlots; ++n) {
    const std::string path = record.path(n);
    stored_image image;
    if (path.empty()) {
      if (!(n == 1 && slot_two_only)) continue;
      image = {1, 1, std::string(8, '\0')};
    } else if (load_stored_image(path, image) != kBitmapOk) {
      return OPOS_E_FAILURE;
    }
    images.push_back(std::move(image));
  }

  std::int32_t written = 0;
  std::string define = ESCEngineer::command_with(ESCEngineer::kDefineStoredImages,
                                                 static_cast<std::uint8_t>(images.size()));
  if (DecodeWriteResult(channel_.Write(define, written, kWriteModeData), false) != OPOS_SUCCESS) return ResultCode;

  const std::uint32_t pause = [this] {
    platform::registry_key key;
    if (platform::registry_key::open(platform::registry_root::local_machine, model_.fixed_key, key) !=
        platform::kErrorSuccess) {
      return kStoredImagePauseMs;
    }
    return ReadRegistryDword(key, kStoredImagePauseValue, kStoredImagePauseMs);
  }();
  bool first = true;
  for (const stored_image& image : images) {
    const std::string size = image_size(image.row_bytes, image.stored_rows);
    if (DecodeWriteResult(channel_.Write(size, written, kWriteModeData), false) != OPOS_SUCCESS) return ResultCode;
    if (std::exchange(first, false) && pause > 0) std::this_thread::sleep_for(std::chrono::milliseconds(pause));
    const std::int32_t sent = channel_.WriteChunked(image.data, written, image.row_bytes * 24);
    if (DecodeWriteResult(sent, false) != OPOS_SUCCESS) return ResultCode;
  }
  return DecodeWriteResult(kChannelOk, true);
}

// ---------------------------------------------------------------------------------------------
// SetLogo

std::int32_t CVX40Printer::SetLogo(std::int32_t location, const std::string& data) {
  // The logo file is known from the open on.
  if (!Opened) return ResultCode = OPOS_E_CLOSED;
  ResultCode = OPOS_SUCCESS;
  ResultCodeExtended = 0;
  if (transaction_state_ == PTR_TP_TRANSACTION || rotation_state_ != PTR_RP_NORMAL || AsyncMode) return Illegal();
  if (State == OPOS_S_BUSY) return StoreResult(OPOS_E_BUSY);
  if (data.empty() || (location != PTR_L_TOP && location != PTR_L_BOTTOM)) return Illegal();

  SetPrinterState(OPOS_S_BUSY);
  const prepared_text prepared = PrepareText(data);
  std::int32_t result = prepared.result;
  if (result == OPOS_SUCCESS && !prepared.text.empty()) {
    std::error_code error;
    const bool saved = location == PTR_L_TOP ? logo_.set_top(prepared.text, error)
                                             : logo_.set_bottom(prepared.text, error);
    // The logo is kept for this session either way; a file that was not written is a failure.
    if (!saved) result = OPOS_E_FAILURE;
  }
  SetPrinterState(OPOS_S_IDLE);
  return StoreResult(result);
}

}  // namespace devsvc
