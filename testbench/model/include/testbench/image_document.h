// The test environment's image documents without any window: a BMP or JPEG picture held by the
// image library, the image commands and when each is available, the filters (on a worker thread
// with progress), resizing, the property window's rows, what an image window draws (true-size
// picture, rulers, guide lines against the printable width), and the printer commands that
// print, store and delete images through the POS printer control.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "imaging/image.h"
#include "testbench/property_table.h"
#include "testbench/texts.h"

namespace testbench {

class session;
class settings;

// Filter identifiers the image windows use with the image library.
inline constexpr int kFilterGreyScale = 160;
inline constexpr int kFilterBlackWhite = 161;
inline constexpr int kFilterHalftone = 162;
inline constexpr int kFilter8Bpp = 163;
inline constexpr int kFilterRed = 164;

// Halftone algorithms of the halftone button's drop-down.
inline constexpr int kHalftoneDefault = 1;  // Floyd–Steinberg
inline constexpr int kHalftoneStucki = 4;

// OPOS numbers of bitmap printing.
inline constexpr std::int32_t kBitmapAsIs = -11;    // PTR_BM_ASIS
inline constexpr std::int32_t kBitmapLeft = -1;     // PTR_BM_LEFT
inline constexpr std::int32_t kBitmapCenter = -2;   // PTR_BM_CENTER
inline constexpr std::int32_t kBitmapRight = -3;    // PTR_BM_RIGHT
inline constexpr std::int32_t kMapModeDots = 1;     // PTR_MM_DOTS
inline constexpr std::int32_t kCutPaperPercent = 100;
// The printer keeps at most this many stored images, numbered from 1.
inline constexpr int kMaxStoredImages = 2;

// ---------------------------------------------------------------------------------------------
// Commands and their availability.

enum class image_command {
  convert_to_bitmap,   // "Converti come bitmap"
  black_white,         // "Bianco e nero": filter 161
  halftone,            // "Bianco e nero (halftone)": filter 162 with the current algorithm
  grey_scale,          // "Scala di grigio": filter 160
  to_8bpp,             // "Converti a 8Bpp": filter 163
  red_second_colour,   // "Secondo colore (Rosso)": filter 164
  halftone_default,    // "Utilizza l'algoritmo predefinito": algorithm 1, then filter 162
  halftone_stucki,     // "Utilizza l'algoritmo di Stucki": algorithm 4, then filter 162
  resize,              // "Ridimensiona immagine..."
  rulers,              // "Visualizza righello" (check mark)
  guide_lines,         // "Visualizza linee guida" (check mark)
  properties,          // "Proprietà immagine"
  print,               // "Stampa immagine" ("Stampa bitmap" in the image window's menu bar)
  store,               // "Memorizza immagine"
  delete_stored,       // "Cancella immagine..."
  align_left,          // "Allinea a sinistra"
  align_center,        // "Allinea in centro"
  align_right,         // "Allinea a destra"
};
inline constexpr std::array<image_command, 18> kImageCommands{
    image_command::convert_to_bitmap, image_command::black_white,     image_command::halftone,
    image_command::grey_scale,        image_command::to_8bpp,         image_command::red_second_colour,
    image_command::halftone_default,  image_command::halftone_stucki, image_command::resize,
    image_command::rulers,            image_command::guide_lines,     image_command::properties,
    image_command::print,             image_command::store,           image_command::delete_stored,
    image_command::align_left,        image_command::align_center,    image_command::align_right};

// What availability depends on.
struct command_context {
  bool connected = false;      // a printer is connected
  bool image_active = false;   // the active child window is an image window
  bool holds_jpeg = false;     // ... and its document holds a JPEG
  int bit_count = 0;           // ... or a bitmap of this many bits per pixel (0: no bitmap)
  bool debugging = false;      // a script debugging run is in progress
};

// True when `command` may run in `context` (greyed otherwise).
bool command_available(image_command command, const command_context& context);
// The menu caption of `command` in the language.
std::string_view command_caption(image_command command, bool italian);
// The filter a command runs (0 for commands that run none).
int command_filter(image_command command);

// The bitmap alignment of the three radio buttons, tested in the order left, centre, right;
// PTR_BM_LEFT when none is pressed.
std::int32_t bitmap_alignment(bool left, bool center, bool right);

// ---------------------------------------------------------------------------------------------
// The document.

// convert_to_bitmap's result when its bitmap file exists and may not be replaced.
inline constexpr int kConversionTargetExists = -1;

// A message box of the image windows: its title and text.
struct message_box_text {
  std::string title;
  std::string text;
};
// The notice for load failure `code` (49, 50, 51, 53, 64, 65, 80), titled
// "Errore caricamento immagine".
message_box_text load_failure_message(int code, bool italian);

// Receives progress of a long operation: `done` of `total` steps. Called on the thread that runs
// the operation (the worker thread of a filter_job).
using progress_callback = std::function<void(int done, int total)>;

class CIMGDocument {
 public:
  CIMGDocument() = default;
  ~CIMGDocument();
  CIMGDocument(const CIMGDocument&) = delete;
  CIMGDocument& operator=(const CIMGDocument&) = delete;

  // Opens `path`: a bitmap when the upper-cased path contains "BMP", else a JPEG when it contains
  // "JPG", else 51. 0 on success, else the library's code (and the document stays empty). A
  // file another document holds open gives 49: both would work in the same working copy, and
  // the second opening would overwrite the first one's unsaved changes (activate that
  // document's window instead, found by find_open).
  int open(const std::string& path);
  // The open document whose image works on the file at `path` (the same file by its canonical
  // path), or nullptr.
  static CIMGDocument* find_open(const std::string& path);

  bool is_open() const { return image_ != nullptr; }
  bool is_bitmap() const;
  bool is_jpeg() const;
  imaging::CImage* image() const { return image_.get(); }
  // The bitmap, or nullptr for a JPEG (or nothing).
  imaging::CDib* dib() const;
  imaging::CJpeg* jpeg() const;
  // Bits per pixel of the bitmap; 0 for a JPEG or nothing.
  int bit_count() const;

  // Framework fields: the caption's title (the file name), the path name, the modified flag.
  const std::string& title() const { return title_; }
  const std::string& path_name() const { return path_name_; }
  bool modified() const { return modified_; }
  void set_modified(bool modified) { modified_ = modified; }
  // The image's own file on disk (what the printer is given).
  std::string file_name() const;

  // The picture's size in pixels (one screen pixel per image pixel).
  imaging::CSize dimensions() const;
  // Draws the picture at (0, 0) at its own size onto `surface` (white beyond it).
  void draw(imaging::pixel_surface& surface) const;
  // Draws the part of the picture from `scroll` on (the scroll position of the window), so that
  // a window shows a large picture with a drawing as small as its visible area.
  void draw(imaging::pixel_surface& surface, imaging::CPoint scroll) const;

  // The availability inputs of this document (connected and debugging are the caller's).
  command_context context(bool connected, bool debugging) const;

  // The bitmap file a conversion writes: the JPEG's path with its extension replaced by ".bmp".
  std::string conversion_target() const;
  // True when that file exists already (another picture the conversion would replace).
  bool conversion_replaces_file() const;
  // Converts a JPEG into a 24-bit bitmap at conversion_target() and continues as a bitmap
  // document on that file; not modified afterwards. An existing file there is replaced only with
  // `replace_existing` (ask with txt::image_replace_question first); otherwise the result is
  // kConversionTargetExists and nothing is written. 0, or the failure code (the document keeps
  // its JPEG).
  int convert_to_bitmap(bool replace_existing = false);
  // Runs filter `id` (kFilter*) on the bitmap, the halftone with `halftone_type`; progress goes
  // to `progress` for 161, 162 and 163 only. A filter that cannot handle the picture leaves it
  // as it was. Marks the document modified. Nothing happens for a JPEG.
  void apply_filter(int id, int halftone_type, const progress_callback& progress = {});
  // Resizes the bitmap when `size` differs from its size; true when it did.
  bool resize(imaging::CSize size);

  // "Salva documento" after "Si": a bitmap writes its working copy over its own file; a JPEG
  // writes nothing. Clears the modified flag; false when the write failed.
  bool save();
  // "Salva come...": nothing for a JPEG (false). A bitmap is written to `path`; the title
  // becomes that file's name; the path name and image stay with the first file.
  bool save_as(const std::string& path);

  // The property window's rows: `labels` (the label file's rows, numbered from 1) with values
  // from the bitmap's info header, or the JPEG's size and "True color".
  std::vector<property_row> properties(const std::vector<property_row>& labels) const;

  // The questions before saving ("Save file - %s", string 131) and before closing a modified
  // document ("OnClose - %s", string 130), titled with the image's file name.
  message_box_text save_question(bool italian) const;
  message_box_text close_question(bool italian) const;
  // The question before a conversion replaces an existing bitmap file.
  message_box_text replace_question(bool italian) const;

 private:
  std::unique_ptr<imaging::CImage> image_;
  std::string title_;
  std::string path_name_;
  bool modified_ = false;
};

// The folder the "Salva come..." dialog starts in: "CurrentPath", or the current folder followed
// by a separator when that is empty.
std::string save_as_folder(const settings& config);

// The label file of the image property window: AppPath/Language/IMGProperty_ITA.dat for the
// Italian interface, else IMGProperty_ENG.dat.
std::string image_property_file(const settings& config);
std::vector<property_row> load_image_property_labels(const settings& config);

// ---------------------------------------------------------------------------------------------
// Filters on a worker thread, so that the window keeps painting.

class filter_job {
 public:
  // Starts filter `id` on `document`'s bitmap on a worker thread. The document must not be
  // touched until done() is true (or the job is destroyed, which waits for it).
  filter_job(CIMGDocument& document, int id, int halftone_type, progress_callback progress = {});
  ~filter_job();
  filter_job(const filter_job&) = delete;
  filter_job& operator=(const filter_job&) = delete;

  bool done() const { return done_.load(std::memory_order_acquire); }
  // Waits for the filter to end.
  void wait();
  int filter() const { return id_; }

 private:
  int id_;
  std::atomic<bool> done_{false};
  std::thread worker_;
};

// ---------------------------------------------------------------------------------------------
// What an image window shows.

// One label of a ruler.
struct ruler_label {
  int position = 0;     // pixels from the ruler's start
  std::string text;     // "%d"
  bool erased = false;  // a multiple of 100 too close (< 15 pixels) to a marker: drawn in white
};
// One marker of a ruler: a line at its position with its value as label.
struct ruler_marker {
  int position = 0;
  std::string text;
  int red = 0, green = 0, blue = 0;
};
struct ruler_scale {
  int length = 0;
  std::vector<ruler_label> labels;  // every multiple of 100 up to the length
  std::vector<ruler_marker> markers;
};
// Distance below which a label of a multiple of 100 is erased next to a marker.
inline constexpr int kRulerLabelClearance = 15;

// The state of one image window beside its document.
class image_window_state {
 public:
  // After every change of the picture: measures it again.
  void measure(const CIMGDocument& document);
  imaging::CSize picture_size() const { return size_; }

  bool rulers_visible() const { return rulers_; }
  void toggle_rulers() { rulers_ = !rulers_; }

  bool guide_lines() const { return guide_lines_; }
  // The printable width in printer dots; 0 until first read.
  std::int32_t printable_width() const { return printable_width_; }
  // "Visualizza linee guida": turning on reads the printable width (once per window) through
  // MapMode and RecLineWidth when connected; not connected writes the warning and changes
  // nothing; a printable width of 0 leaves them off. Turning off always succeeds.
  void toggle_guide_lines(session& s, const CIMGDocument& document);
  // Sets the printable width without the printer (tests and screenshots).
  void set_printable_width(std::int32_t dots) { printable_width_ = dots; }

  // The rulers: the top along the width, the left along the height; `screen` is the screen's
  // size, each ruler as long as the larger of the screen's and the picture's.
  ruler_scale top_ruler(int screen_width) const;
  ruler_scale left_ruler(int screen_height) const;

  // Draws the picture and, with guide lines on, the hatched band beyond the printable width.
  // `surface` is the visible drawing (top-left at the picture's (0, 0)).
  void draw(const CIMGDocument& document, imaging::pixel_surface& surface) const;
  // The same for the visible area from `scroll` on.
  void draw(const CIMGDocument& document, imaging::pixel_surface& surface, imaging::CPoint scroll) const;

  // Resize dialog OK: resizes when the size differs, warns (string 601) when guide lines are on
  // and the new width is above the printable width, and measures again. True when resized.
  bool resize(session& s, CIMGDocument& document, imaging::CSize size);

 private:
  imaging::CSize size_;
  bool rulers_ = false;
  bool guide_lines_ = false;
  std::int32_t printable_width_ = 0;
};

// The resize dialog's fields ("Larghezza", "Altezza", "Mantieni le proporzioni").
class resize_form {
 public:
  explicit resize_form(imaging::CSize start);
  unsigned width() const { return width_; }
  unsigned height() const { return height_; }
  bool keep_proportions() const { return ratio_ != 0.0f; }
  // Typing a width (height) sets the other field through the ratio while it is not 0.
  void set_width(unsigned width);
  void set_height(unsigned height);
  void set_keep_proportions(bool keep);
  // Field range of the spin buttons.
  static constexpr unsigned kMax = 32767;

 private:
  float start_ratio_;
  float ratio_;
  unsigned width_;
  unsigned height_;
};

// ---------------------------------------------------------------------------------------------
// Printer commands of the image windows.

// "Stampa immagine": the name line (PrintInfoImage), PrintBitmap, the report and the cut
// (CutPaperForPrintImage). Nothing when not connected. PrintBitmap's result.
std::int32_t print_image(session& s, const CIMGDocument& document, std::int32_t alignment);
// "Memorizza immagine": SetBitmap as image "ImageStored" + 1 and the report; the limit message
// when that is above 2. The SetBitmap result, or std::nullopt when nothing was sent.
std::optional<std::int32_t> store_image(session& s, const CIMGDocument& document, std::int32_t alignment);

// The "Elimina immagini" dialog.
class delete_images_form {
 public:
  // The boxes' state from "ImageStored": 1 enables the first, 2 both, anything else neither.
  explicit delete_images_form(const settings& config);
  bool enabled(int image) const { return enabled_[index(image)]; }  // image 1 or 2
  bool checked(int image) const { return checked_[index(image)]; }
  void set_checked(int image, bool checked);
  // "Elimina": deletes every checked box from 1 up to "ImageStored" with SetBitmap; each success
  // unchecks and disables its box and decrements "ImageStored" at once. The first failure stops
  // and returns the message box (title "Errore di cancellazione", string 160); nothing is
  // written to the output window.
  std::optional<message_box_text> erase(session& s);

 private:
  static std::size_t index(int image) { return image == 2 ? 1 : 0; }
  std::array<bool, 2> enabled_{};
  std::array<bool, 2> checked_{};
};

}  // namespace testbench
