// Image documents, their commands, filters, the image windows' drawing state and the printer
// commands of images.
#include "testbench/image_document.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>

#include "imaging/filters.h"
#include "imaging/picture.h"
#include "testbench/session.h"
#include "testbench/settings.h"

namespace testbench {
namespace {

std::string upper(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

// `pattern` with its first "%s" replaced by `value`.
std::string with_string(std::string_view pattern, std::string_view value) {
  std::string out(pattern);
  const std::size_t at = out.find("%s");
  if (at != std::string::npos) out.replace(at, 2, value);
  return out;
}

// `pattern` with its first "%d" replaced by `value`.
std::string with_number(std::string_view pattern, long long value) {
  std::string out(pattern);
  const std::size_t at = out.find("%d");
  if (at != std::string::npos) out.replace(at, 2, std::to_string(value));
  return out;
}

std::string file_part(const std::string& path) { return std::filesystem::path(path).filename().string(); }

struct caption_row {
  image_command command;
  std::string_view italian;
  std::string_view english;
};
constexpr caption_row kCaptions[] = {
    {image_command::convert_to_bitmap, "Converti come bitmap", "Convert to bitmap"},
    {image_command::black_white, "Bianco e nero", "Black and white"},
    {image_command::halftone, "Bianco e nero (halftone)", "Black and white (halftone)"},
    {image_command::grey_scale, "Scala di grigio", "Grey scale"},
    {image_command::to_8bpp, "Converti a 8Bpp", "Convert to 8Bpp"},
    {image_command::red_second_colour, "Secondo colore (Rosso)", "Second colour (Red)"},
    {image_command::halftone_default, "Utilizza l'algoritmo predefinito", "Use the default algorithm"},
    {image_command::halftone_stucki, "Utilizza l'algoritmo di Stucki", "Use the Stucki algorithm"},
    {image_command::resize, "Ridimensiona immagine...", "Resize image..."},
    {image_command::rulers, "Visualizza righello", "Show rulers"},
    {image_command::guide_lines, "Visualizza linee guida", "Show guide lines"},
    {image_command::properties, "Proprietà immagine", "Image properties"},
    {image_command::print, "Stampa immagine", "Print image"},
    {image_command::store, "Memorizza immagine", "Store image"},
    {image_command::delete_stored, "Cancella immagine...", "Delete image..."},
    {image_command::align_left, "Allinea a sinistra", "Align left"},
    {image_command::align_center, "Allinea in centro", "Align centre"},
    {image_command::align_right, "Allinea a destra", "Align right"},
};

// Progress of the image library handed on to a callback.
class callback_progress final : public imaging::progress_control {
 public:
  explicit callback_progress(const progress_callback& callback) : callback_(callback) {}
  void SetRange(int lower, int upper) override {
    total_ = std::max(upper - lower, 0);
    done_ = 0;
    callback_(done_, total_);
  }
  void SetStep(int step) override { step_ = step; }
  void StepIt() override {
    done_ = std::min(done_ + step_, total_);
    callback_(done_, total_);
  }

 private:
  const progress_callback& callback_;
  int total_ = 0;
  int done_ = 0;
  int step_ = 1;
};

// Every document with an image, so that one file is never opened by two documents at once.
struct open_documents {
  std::mutex lock;
  std::vector<CIMGDocument*> documents;
};
open_documents& registry() {
  static open_documents all;
  return all;
}

std::string canonical(const std::string& path) {
  std::error_code error;
  const std::filesystem::path p = std::filesystem::weakly_canonical(path, error);
  return error ? path : p.string();
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Commands.

bool command_available(image_command command, const command_context& c) {
  const bool bitmap = c.image_active && !c.holds_jpeg && c.bit_count > 0;
  switch (command) {
    case image_command::convert_to_bitmap: return c.image_active && c.holds_jpeg;
    case image_command::black_white:
    case image_command::halftone:
    case image_command::grey_scale:
    case image_command::halftone_default:
    case image_command::halftone_stucki: return bitmap && c.bit_count > 1;
    case image_command::to_8bpp: return bitmap && c.bit_count >= 16;
    case image_command::red_second_colour:
    case image_command::resize:
    case image_command::guide_lines: return bitmap;
    case image_command::rulers:
    case image_command::properties: return c.image_active;
    case image_command::print:
    case image_command::store:
    case image_command::align_left:
    case image_command::align_center:
    case image_command::align_right: return c.connected && c.image_active;
    case image_command::delete_stored: return c.connected && !c.debugging;
  }
  return false;
}

std::string_view command_caption(image_command command, bool italian) {
  for (const caption_row& row : kCaptions) {
    if (row.command == command) return italian ? row.italian : row.english;
  }
  return {};
}

int command_filter(image_command command) {
  switch (command) {
    case image_command::black_white: return kFilterBlackWhite;
    case image_command::halftone:
    case image_command::halftone_default:
    case image_command::halftone_stucki: return kFilterHalftone;
    case image_command::grey_scale: return kFilterGreyScale;
    case image_command::to_8bpp: return kFilter8Bpp;
    case image_command::red_second_colour: return kFilterRed;
    default: return 0;
  }
}

std::int32_t bitmap_alignment(bool left, bool center, bool right) {
  if (left) return kBitmapLeft;
  if (center) return kBitmapCenter;
  if (right) return kBitmapRight;
  return kBitmapLeft;
}

message_box_text load_failure_message(int code, bool italian) {
  message_box_text box;
  box.title = std::string(text(txt::image_load_error_title, italian));
  txt id = txt::s148_image_load_error;
  switch (code) {
    case imaging::kImageCannotOpen: id = txt::s140_image_io_error; break;
    case imaging::kImageEmptyFile:
    case imaging::kImageNotBitmap: id = txt::s141_not_a_bitmap; break;
    case imaging::kImageCompressed: id = txt::s151_compressed_bitmap; break;
    // A working copy that cannot be mapped is a memory problem; a header the library does not
    // read or a JPEG that does not decode is a file in the wrong format.
    case imaging::kImageCannotMap: id = txt::s148_image_load_error; break;
    case imaging::kImageBadHeader:
    case imaging::kImageBadPicture: id = txt::s143_image_format_error; break;
    default: break;
  }
  box.text = std::string(text(id, italian));
  return box;
}

// ---------------------------------------------------------------------------------------------
// The document.

CIMGDocument::~CIMGDocument() {
  open_documents& all = registry();
  const std::lock_guard<std::mutex> guard(all.lock);
  std::erase(all.documents, this);
}

CIMGDocument* CIMGDocument::find_open(const std::string& path) {
  const std::string wanted = canonical(path);
  open_documents& all = registry();
  const std::lock_guard<std::mutex> guard(all.lock);
  for (CIMGDocument* doc : all.documents) {
    if (doc->image_ && canonical(doc->image_->GetFileName()) == wanted) return doc;
  }
  return nullptr;
}

int CIMGDocument::open(const std::string& path) {
  if (CIMGDocument* other = find_open(path); other != nullptr && other != this) return imaging::kImageCannotOpen;
  const std::string test = upper(path);
  std::unique_ptr<imaging::CImage> image;
  if (test.find("BMP") != std::string::npos) {
    image = std::make_unique<imaging::CDib>();
  } else if (test.find("JPG") != std::string::npos) {
    image = std::make_unique<imaging::CJpeg>();
  } else {
    return imaging::kImageNotBitmap;
  }
  const int result = image->OpenImage(path);
  if (result != imaging::kImageOk) return result;
  image_ = std::move(image);
  path_name_ = path;
  title_ = file_part(path);
  modified_ = false;
  open_documents& all = registry();
  const std::lock_guard<std::mutex> guard(all.lock);
  if (std::find(all.documents.begin(), all.documents.end(), this) == all.documents.end()) all.documents.push_back(this);
  return imaging::kImageOk;
}

bool CIMGDocument::is_bitmap() const { return dib() != nullptr; }
bool CIMGDocument::is_jpeg() const { return jpeg() != nullptr; }

imaging::CDib* CIMGDocument::dib() const {
  if (!image_ || !image_->IsKindOf(&imaging::CDib::classCDib)) return nullptr;
  return static_cast<imaging::CDib*>(image_.get());
}

imaging::CJpeg* CIMGDocument::jpeg() const {
  if (!image_ || !image_->IsKindOf(&imaging::CJpeg::classCJpeg)) return nullptr;
  return static_cast<imaging::CJpeg*>(image_.get());
}

int CIMGDocument::bit_count() const {
  const imaging::CDib* d = dib();
  return d != nullptr && d->GetHeader() != nullptr ? d->GetHeader()->biBitCount : 0;
}

std::string CIMGDocument::file_name() const { return image_ ? image_->GetFileName() : std::string(); }

imaging::CSize CIMGDocument::dimensions() const {
  if (!image_) return {};
  imaging::CSize size = image_->GetDimensions(imaging::device_context{});
  size.cy = std::abs(size.cy);  // a top-down bitmap has a negative height
  return size;
}

void CIMGDocument::draw(imaging::pixel_surface& surface) const { draw(surface, imaging::CPoint{0, 0}); }

void CIMGDocument::draw(imaging::pixel_surface& surface, imaging::CPoint scroll) const {
  for (int y = 0; y < surface.height(); ++y) std::fill_n(surface.row(y), 3 * surface.width(), std::uint8_t{255});
  if (imaging::CDib* d = dib()) {
    (void)d->DrawImage(surface, imaging::CPoint{-scroll.x, -scroll.y}, dimensions());
  } else if (imaging::CJpeg* j = jpeg()) {
    // The picture is decoded row by row; only the visible part of each row is kept.
    const imaging::CSize size = dimensions();
    const int first = std::max(scroll.x, 0);
    const int last = std::min(size.cx, scroll.x + surface.width());
    (void)j->Render(size, [&](int y, const std::uint8_t* bgr) {
      const int sy = y - scroll.y;
      if (sy < 0 || sy >= surface.height() || first >= last) return;
      std::copy_n(bgr + 3 * static_cast<std::size_t>(first), 3 * static_cast<std::size_t>(last - first),
                  surface.row(sy) + 3 * static_cast<std::size_t>(first - scroll.x));
    });
  }
}

command_context CIMGDocument::context(bool connected, bool debugging) const {
  command_context c;
  c.connected = connected;
  c.debugging = debugging;
  c.image_active = is_open();
  c.holds_jpeg = is_jpeg();
  c.bit_count = bit_count();
  return c;
}

std::string CIMGDocument::conversion_target() const {
  const imaging::CJpeg* source = jpeg();
  return source != nullptr ? imaging::jpeg_bitmap_name(source->GetFileName()) : std::string();
}

bool CIMGDocument::conversion_replaces_file() const {
  const std::string target = conversion_target();
  std::error_code error;
  return !target.empty() && std::filesystem::exists(target, error);
}

int CIMGDocument::convert_to_bitmap(bool replace_existing) {
  imaging::CJpeg* source = jpeg();
  if (source == nullptr) return imaging::kImageNotBitmap;
  // The bitmap goes beside the JPEG; a picture already there is not overwritten unasked.
  if (!replace_existing && conversion_replaces_file()) return kConversionTargetExists;
  // A bitmap another document holds open is never replaced: both would share its working copy.
  if (find_open(conversion_target()) != nullptr) return imaging::kImageCannotOpen;
  auto converted = std::make_unique<imaging::CDib>(*source, imaging::device_context{});
  if (converted->ConversionResult() != imaging::kImageOk) return converted->ConversionResult();
  image_ = std::move(converted);
  path_name_ = image_->GetFileName();
  for (std::size_t at = title_.find(".jpg"); at != std::string::npos; at = title_.find(".jpg", at + 4)) {
    title_.replace(at, 4, ".bmp");
  }
  (void)image_->SaveImage(nullptr);
  modified_ = false;
  return imaging::kImageOk;
}

void CIMGDocument::apply_filter(int id, int halftone_type, const progress_callback& progress) {
  imaging::CDib* d = dib();
  if (d == nullptr) return;
  std::unique_ptr<imaging::CDibFilter> filter;
  switch (id) {
    case kFilterGreyScale: filter = std::make_unique<imaging::CDibFilterGrayScale>(d, id); break;
    case kFilterBlackWhite: filter = std::make_unique<imaging::CDibFilterBlackWhite>(d, id); break;
    case kFilterHalftone: {
      auto halftone = std::make_unique<imaging::CDibFilterHalftone>(d, id);
      (void)halftone->SetHalftoneType(halftone_type);
      filter = std::move(halftone);
      break;
    }
    case kFilter8Bpp: filter = std::make_unique<imaging::CDibFilter8Bpp>(d, id); break;
    case kFilterRed: filter = std::make_unique<imaging::CDibFilterRed>(d, id); break;
    default: return;
  }
  // Grey scale and the red filter run without a progress control.
  const bool reports = progress && (id == kFilterBlackWhite || id == kFilterHalftone || id == kFilter8Bpp);
  std::optional<callback_progress> bar;
  if (reports) {
    bar.emplace(progress);
    d->SetProgressCntrl(&*bar);
  }
  d->AddFilter(std::move(filter));
  // A filter that cannot handle this depth leaves the picture as it was; its result is not used.
  (void)d->ApplayFilter(id);
  (void)d->RemoveFilter(id);
  d->SetProgressCntrl(nullptr);
  modified_ = true;
}

bool CIMGDocument::resize(imaging::CSize size) {
  imaging::CDib* d = dib();
  if (d == nullptr || size == dimensions()) return false;
  if (d->ResizeImage(size) != 1) return false;
  modified_ = true;
  return true;
}

bool CIMGDocument::save() {
  if (imaging::CDib* d = dib()) {
    if (d->SaveImage(nullptr) != 1) return false;
  }
  modified_ = false;
  return true;
}

bool CIMGDocument::save_as(const std::string& path) {
  imaging::CDib* d = dib();
  if (d == nullptr) return false;
  if (d->SaveImage(path.c_str()) != 1) return false;
  title_ = file_part(path);
  modified_ = false;
  return true;
}

std::vector<property_row> CIMGDocument::properties(const std::vector<property_row>& labels) const {
  std::vector<property_row> rows = labels;
  const auto set = [&rows](std::size_t number, std::string value) {
    if (number >= 1 && number <= rows.size()) rows[number - 1].value = std::move(value);
  };
  const std::string_view pixels = text(txt::image_pixels, false);
  if (const imaging::CDib* d = dib(); d != nullptr && d->GetHeader() != nullptr) {
    const imaging::BITMAPINFOHEADER h = *d->GetHeader();
    set(2, with_number(pixels, h.biWidth));
    set(3, with_number(pixels, h.biHeight));
    set(5, std::to_string(h.biPlanes));
    set(6, std::to_string(h.biBitCount));
    set(7, std::to_string(h.biCompression));
    set(8, std::to_string(h.biSizeImage));
    set(9, std::to_string(h.biXPelsPerMeter));
    set(10, std::to_string(h.biYPelsPerMeter));
    set(11, std::to_string(h.biClrUsed));
  } else if (const imaging::CJpeg* j = jpeg()) {
    set(2, with_number(pixels, j->pixel_width()));
    set(3, with_number(pixels, j->pixel_height()));
    set(11, std::string(text(txt::image_true_colour, false)));
  }
  return rows;
}

message_box_text CIMGDocument::save_question(bool italian) const {
  return {with_string(text(txt::image_save_title, italian), file_name()),
          std::string(text(txt::s131_confirm_save, italian))};
}

message_box_text CIMGDocument::close_question(bool italian) const {
  return {with_string(text(txt::image_close_title, italian), file_name()),
          std::string(text(txt::s130_save_before_close, italian))};
}

message_box_text CIMGDocument::replace_question(bool italian) const {
  return {std::string(text(txt::msgbox_caption, italian)),
          with_string(text(txt::image_replace_question, italian), conversion_target())};
}

std::string save_as_folder(const settings& config) {
  std::string folder = config.get_string(kSectionSettings, "CurrentPath");
  if (folder.empty()) {
    std::error_code error;
    folder = std::filesystem::current_path(error).string() + "/";
  }
  return folder;
}

std::string image_property_file(const settings& config) {
  // "ITA" gives the Italian labels and any other language the English ones, as for every other
  // text (file names are case-sensitive here, so the setting's own spelling is not used).
  return config.app_path() + "/Language/IMGProperty_" + (config.italian() ? "ITA" : "ENG") + ".dat";
}

std::vector<property_row> load_image_property_labels(const settings& config) {
  return load_property_table(image_property_file(config));
}

// ---------------------------------------------------------------------------------------------
// Filters on a worker thread.

filter_job::filter_job(CIMGDocument& document, int id, int halftone_type, progress_callback progress) : id_(id) {
  worker_ = std::thread([this, &document, id, halftone_type, progress = std::move(progress)] {
    document.apply_filter(id, halftone_type, progress);
    done_.store(true, std::memory_order_release);
  });
}

filter_job::~filter_job() { wait(); }

void filter_job::wait() {
  if (worker_.joinable()) worker_.join();
}

// ---------------------------------------------------------------------------------------------
// Image windows.

void image_window_state::measure(const CIMGDocument& document) { size_ = document.dimensions(); }

void image_window_state::toggle_guide_lines(session& s, const CIMGDocument& document) {
  if (guide_lines_) {
    guide_lines_ = false;
    return;
  }
  if (!document.is_bitmap()) return;
  if (printable_width_ == 0) {
    if (!s.connected()) {
      s.output(std::string(s.text(txt::s600_guide_lines_unavailable)), std::string(s.text(txt::s814_needs_connection)));
      return;
    }
    PrinterControlDriver& d = s.driver();
    const std::int32_t old_mode = d.get_long("MapMode");
    if (old_mode != kMapModeDots) (void)d.put("MapMode", platform::Variant(kMapModeDots));
    printable_width_ = d.get_long("RecLineWidth");
    if (old_mode != kMapModeDots) (void)d.put("MapMode", platform::Variant(old_mode));
  }
  if (printable_width_ <= 0) {
    printable_width_ = 0;
    return;
  }
  guide_lines_ = true;
}

namespace {

ruler_scale make_ruler(int screen, int picture, std::vector<ruler_marker> markers) {
  ruler_scale r;
  r.length = std::max(screen, picture);
  r.markers = std::move(markers);
  for (int at = 0; at <= r.length; at += 100) {
    ruler_label label{at, std::to_string(at), false};
    for (const ruler_marker& m : r.markers) {
      if (std::abs(m.position - at) < kRulerLabelClearance) label.erased = true;
    }
    r.labels.push_back(std::move(label));
  }
  return r;
}

}  // namespace

ruler_scale image_window_state::top_ruler(int screen_width) const {
  std::vector<ruler_marker> markers{{size_.cx, std::to_string(size_.cx), 0, 0, 255}};
  if (guide_lines_) markers.push_back({printable_width_, std::to_string(printable_width_), 255, 0, 0});
  return make_ruler(screen_width, size_.cx, std::move(markers));
}

ruler_scale image_window_state::left_ruler(int screen_height) const {
  return make_ruler(screen_height, size_.cy, {{size_.cy, std::to_string(size_.cy), 0, 0, 255}});
}

void image_window_state::draw(const CIMGDocument& document, imaging::pixel_surface& surface) const {
  draw(document, surface, imaging::CPoint{0, 0});
}

void image_window_state::draw(const CIMGDocument& document, imaging::pixel_surface& surface,
                              imaging::CPoint scroll) const {
  document.draw(surface, scroll);
  if (!guide_lines_ || printable_width_ <= 0) return;
  // A band as wide as the printable width beyond it, ANDed with the picture: white with a grey
  // backward-diagonal hatch every 8 pixels and a dotted black line along its left edge. The
  // pattern is laid in picture coordinates, so it does not move while scrolling.
  const int start = printable_width_;
  const int first = std::max(start - scroll.x, 0);
  const int end = std::min(surface.width(), start + printable_width_ - scroll.x);
  for (int sy = 0; sy < surface.height(); ++sy) {
    std::uint8_t* row = surface.row(sy);
    const int y = sy + scroll.y;
    for (int sx = first; sx < end; ++sx) {
      const int x = sx + scroll.x;
      std::uint8_t band = 255;
      if ((x + y) % 8 == 0) band = 128;
      if (x == start && ((y % 4) + 4) % 4 < 2) band = 0;
      for (int c = 0; c < 3; ++c) row[3 * sx + c] &= band;
    }
  }
}

bool image_window_state::resize(session& s, CIMGDocument& document, imaging::CSize size) {
  const bool resized = document.resize(size);
  if (guide_lines_ && size.cx > printable_width_) s.output(std::string(s.text(txt::s601_image_too_wide)));
  measure(document);
  return resized;
}

resize_form::resize_form(imaging::CSize start)
    : start_ratio_(start.cy != 0 ? static_cast<float>(start.cx) / static_cast<float>(start.cy) : 0.0f),
      ratio_(start_ratio_),
      width_(static_cast<unsigned>(std::clamp(start.cx, 0, static_cast<int>(kMax)))),
      height_(static_cast<unsigned>(std::clamp(start.cy, 0, static_cast<int>(kMax)))) {}

void resize_form::set_width(unsigned width) {
  width_ = std::min(width, kMax);
  if (ratio_ != 0.0f) height_ = std::min(static_cast<unsigned>(static_cast<float>(width_) / ratio_), kMax);
}

void resize_form::set_height(unsigned height) {
  height_ = std::min(height, kMax);
  if (ratio_ != 0.0f) width_ = std::min(static_cast<unsigned>(static_cast<float>(height_) * ratio_), kMax);
}

void resize_form::set_keep_proportions(bool keep) { ratio_ = keep ? start_ratio_ : 0.0f; }

// ---------------------------------------------------------------------------------------------
// Printer commands.

std::int32_t print_image(session& s, const CIMGDocument& document, std::int32_t alignment) {
  if (!s.connected()) return kResultClosed;
  PrinterControlDriver& d = s.driver();
  settings& config = s.config();
  const std::int32_t station = s.station();
  if (config.get_int(kSectionSettings, "PrintInfoImage") == 1) {
    (void)d.method("PrintNormal", station, with_string(s.text(txt::image_print_line), document.title()) + "\n");
  }
  const std::int32_t r = d.method("PrintBitmap", station, document.file_name(), kBitmapAsIs, alignment);

  const bool transaction = config.get_int(kSectionPrinter, "TransactionMode") == 1;
  const bool rotation = config.get_int(kSectionPrinter, "RotationMode") == 1;
  if (!(transaction && rotation) && d.get("AsyncMode").bool_or(false)) {
    s.output(std::string(s.text(txt::image_async_job)),
             with_number(s.text(txt::image_async_job_detail), d.get_long("OutputID")));
  } else if (transaction || rotation) {
    s.output(std::string(s.text(txt::image_print_collected)));
  } else if (r == 0) {
    s.output(std::string(s.text(txt::print_ok)), with_string(s.text(txt::image_print_ok_detail), document.title()));
  } else {
    s.output(std::string(s.text(txt::print_ok)),
             with_string(s.text(txt::image_print_error_detail), document.title()) + ": " + s.error_text(r));
  }

  if (config.get_int(kSectionSettings, "CutPaperForPrintImage") == 1) (void)d.method("CutPaper", kCutPaperPercent);
  return r;
}

std::optional<std::int32_t> store_image(session& s, const CIMGDocument& document, std::int32_t alignment) {
  settings& config = s.config();
  const std::int32_t number = config.get_int(kSectionPrinter, "ImageStored") + 1;
  if (number > kMaxStoredImages) {
    s.output(std::string(s.text(txt::image_store_limit)), std::string(s.text(txt::image_store_limit_detail)));
    return std::nullopt;
  }
  if (!s.connected()) return std::nullopt;
  const std::int32_t r =
      s.driver().method("SetBitmap", number, s.station(), document.file_name(), kBitmapAsIs, alignment);
  if (r == 0) {
    config.set_int(kSectionPrinter, "ImageStored", number);
    s.output(std::string(s.text(txt::image_download)), std::string(s.text(txt::command_ok)));
  } else {
    s.output(std::string(s.text(txt::image_download)),
             std::string(s.text(txt::s701_command_failed)) + ": " + s.error_text(r));
  }
  return r;
}

delete_images_form::delete_images_form(const settings& config) {
  const std::int32_t stored = config.get_int(kSectionPrinter, "ImageStored");
  enabled_[0] = stored == 1 || stored == 2;
  enabled_[1] = stored == 2;
}

void delete_images_form::set_checked(int image, bool checked) {
  if (enabled(image)) checked_[index(image)] = checked;
}

std::optional<message_box_text> delete_images_form::erase(session& s) {
  settings& config = s.config();
  const std::int32_t count = std::min(config.get_int(kSectionPrinter, "ImageStored"), kMaxStoredImages);
  for (int image = 1; image <= count; ++image) {
    if (!checked(image)) continue;
    const std::int32_t r = s.driver().method("SetBitmap", image, kStationReceipt, std::string(), 0, 0);
    if (r != 0) {
      return message_box_text{std::string(s.text(txt::image_delete_error_title)),
                              std::string(s.text(txt::s160_delete_image_error))};
    }
    checked_[index(image)] = false;
    enabled_[index(image)] = false;
    config.set_int(kSectionPrinter, "ImageStored", config.get_int(kSectionPrinter, "ImageStored") - 1);
  }
  return std::nullopt;
}

}  // namespace testbench
