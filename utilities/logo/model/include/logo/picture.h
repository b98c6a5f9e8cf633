// The logo utility's pictures: per-printer choices (paper widths, colour modes, storage family),
// file names and keys, bitmap file loading, the conversion of one logo through the image library,
// the colour-table files and the dot rules that turn a converted picture into printer planes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace logo {

// The largest number of entries of the logo list.
inline constexpr std::size_t kMaxLogos = 200;
inline constexpr std::string_view kTooManyLogos = "Too many logos.";

// Colour-mode codes (item data of cmbColor).
inline constexpr int kModeTwoColors = 1;
inline constexpr int kModeBlackWhite = 2;
inline constexpr int kModeColor = 3;

// One item of cmbPaperWidth: its text and the width in dots.
struct paper_width {
  std::string_view text;
  int dots = 0;
};

// One item of cmbColor: its text and the mode code.
struct colour_mode {
  std::string_view text;
  int code = 0;
};

// The paper widths offered for a printer of identification byte `id`, in list order (may be empty).
std::vector<paper_width> paper_widths(int id);
// The colour modes offered for identification byte `id`: always "Black & white", then "Two colors"
// (46) or "Color" (36).
std::vector<colour_mode> colour_modes(int id);

// The storage families: logos by two-character key (GS ( L / GS 8 L; 46, 36, 161) or numbered
// bit images defined all together (FS q; 32, 10).
bool is_nv_graphics_family(int id);
bool is_bit_image_family(int id);

// True when the text from the last "." of `file`, in lower case, is ".bmp".
bool is_bmp_file_name(std::string_view file);
// "The selected file <file> is not valid." CR LF "Please select a valid BMP file."
std::string invalid_file_text(std::string_view file);
// "Raise error on load the current picture." CR LF "The new logo <file> is not loaded."
std::string not_loaded_text(std::string_view file);

// The key of a new entry given the keys of the visible entries in list order: "00", then the
// next hexadecimal value (upper case, two characters at least) while a visible entry uses it.
std::string next_key(std::span<const std::string> visible_keys);
// "New(" key ")" and "Logo(" key ")".
std::string new_state(std::string_view key);
std::string stored_state(std::string_view key);

// A colour as red, green, blue.
struct rgb {
  std::uint8_t r = 0;
  std::uint8_t g = 0;
  std::uint8_t b = 0;
  friend bool operator==(const rgb&, const rgb&) = default;
};

// A device-independent bitmap in memory: the 40-byte information header, the colour table
// (blue, green, red, reserved per entry) and the rows (each padded to 4 bytes) in one block, as
// the image library takes and returns pictures. 1, 4, 8, 24 or 32 bits per pixel, uncompressed.
class dib {
 public:
  dib() = default;
  // Takes a packed bitmap; nullopt when its header is not one of the formats above or it
  // describes more bytes than `packed` holds.
  static std::optional<dib> from_packed(std::vector<std::uint8_t> packed);
  // A white 24-bit picture of `width` x `height` (both > 0), rows stored bottom first.
  static dib make_24bpp(int width, int height);

  bool empty() const { return packed_.empty(); }
  int width() const { return width_; }
  int height() const { return height_; }  // rows, always positive
  int bit_count() const { return bit_count_; }
  bool bottom_up() const { return bottom_up_; }
  std::size_t stride() const { return stride_; }
  std::size_t palette_entries() const { return palette_entries_; }
  // The information header followed by the colour table (what ConvertTo24Bpp takes as `info`).
  const std::uint8_t* info() const { return packed_.data(); }
  std::size_t info_size() const { return bits_offset_; }
  // The rows in storage order.
  const std::uint8_t* bits() const { return packed_.data() + bits_offset_; }
  std::uint8_t* bits() { return packed_.data() + bits_offset_; }
  const std::vector<std::uint8_t>& packed() const { return packed_; }

  // The colour of the pixel in column x of row y counted from the top (an index past the colour
  // table reads black).
  rgb pixel(int x, int y) const;
  // Sets the pixel in column x of row y from the top; 24- and 32-bit pictures only.
  void set_pixel(int x, int y, rgb colour);

 private:
  std::vector<std::uint8_t> packed_;
  int width_ = 0;
  int height_ = 0;
  int bit_count_ = 0;
  bool bottom_up_ = true;
  std::size_t stride_ = 0;
  std::size_t palette_entries_ = 0;
  std::size_t bits_offset_ = 0;
};

// The outcome of loading a bitmap file: the picture, or the text to show.
struct load_result {
  std::optional<dib> picture;
  std::string message;
};

// Loads a bitmap file: the 14-byte file header ("BM"), the 40-byte information header, a colour
// table of at most 256 entries (1, 4, 8 bits per pixel) or none (24, 32 bits), and the rows,
// every size and offset checked against the file's real size. The messages:
//   "Raise error for open the file <file>." CR LF "Extended error description: <reason>"
//   "Raise error while reading image structure information." CR LF "Be sure the <file> is a
//    valid image file." (headers, sizes, offsets, colour table or rows not as the file holds)
//   "Raise error on create compatible bitmap for image file <<file>>." (a format that cannot be
//    held: compression, bit count, more than 256 colours)
load_result load_bitmap_file(const std::filesystem::path& file);
// The same on the bytes of a file named `file` (used by the loader and its fuzzer).
load_result load_bitmap_bytes(std::span<const std::uint8_t> bytes, std::string_view file);

// Stretches `source` to `width` x `height` (both > 0) in halftone mode: each target pixel is the
// area-weighted average of the source pixels it covers. The result has 24 bits per pixel.
dib stretch_halftone(const dib& source, int width, int height);

// One entry of a colour-table file.
struct colour_entry {
  std::string label;
  rgb colour;
  std::string plane_label;
  std::array<std::uint8_t, 3> planes{};  // the values for the colour planes 1 to 3
};

// The largest number of entries a colour-table file gives.
inline constexpr std::size_t kMaxColourEntries = 125;

// A colour-table file turned into a palette.
class colour_table {
 public:
  colour_table() = default;
  explicit colour_table(std::vector<colour_entry> entries) : entries_(std::move(entries)) {}
  // Reads `file`: one entry a line (label, R, G, B, label, plane1, plane2, plane3, separated by
  // commas; text fields may be quoted), at most 125 entries. nullopt with the reason in `error`
  // when it cannot be read or a line is not an entry.
  static std::optional<colour_table> read(const std::filesystem::path& file, std::string& error);
  // Parses the text of such a file.
  static std::optional<colour_table> parse(std::string_view text, std::string& error);

  const std::vector<colour_entry>& entries() const { return entries_; }
  // The index of the entry nearest to `colour` (least squared distance; the first of equals);
  // -1 for an empty table.
  int nearest_index(rgb colour) const;

 private:
  std::vector<colour_entry> entries_;
};

// The colour-table file `name` in the application folder, found case-insensitively.
std::filesystem::path colour_table_path(const std::filesystem::path& app_path, std::string_view name);

// One printer plane: `height` rows of ⌈width/8⌉ bytes, top row first, leftmost dot in the most
// significant bit.
struct raster {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> bytes;
  std::size_t row_bytes() const { return (static_cast<std::size_t>(width) + 7) / 8; }
  bool dot(int x, int y) const;
  void set_dot(int x, int y);
};

// An empty (white) plane of `width` x `height`.
raster make_raster(int width, int height);

// The planes of a converted picture for the NV graphics family by colour mode: black and white,
// one plane (pixels whose nearest entry is the entry nearest to black); two colours, planes "1"
// (nearest to black) and "2" (nearest to red); colour, planes 1 to 3 (pixels whose nearest
// entry has a non-zero value for that plane). Empty for an unknown mode or empty table.
std::vector<raster> logo_planes(const dib& picture, const colour_table& table, int mode);
// The plane of the bit-image family: a dot for pixels that are exactly black.
raster black_dots(const dib& picture);

// Printer commands, as raw bytes. Keys are two characters.
namespace commands {

std::string key_list();                 // GS ( L function 64 "KC"
std::string total_memory();             // GS ( L function 48
std::string free_memory();              // GS ( L function 51
std::string delete_logo(std::string_view key);     // function 66
std::string delete_all();               // function 65 "CLR"
std::string print_stored(std::string_view key);    // function 69, normal size
std::string print_buffer();             // function 50
std::string processing_echo();          // GS I 1
std::string printer_type();             // GS I 2
std::string default_print_mode();       // ESC ! 0
std::string feed_and_cut();             // GS V 66 15

// The parameter count p of function 67 with `b` planes of `k` bytes: b x (k + 1) + 10.
std::uint32_t define_parameter_count(int planes, std::size_t k);
// The parameter count of the colour variant: 3 x (k + 1) + 11.
std::uint32_t define_colour_parameter_count(std::size_t k);
// The header of function 67 (GS 8 L ... 30 43 30 kc1 kc2 b xL xH yL yH) for `planes` (1 or 2)
// planes of a `width` x `height` picture.
std::string define_header(std::string_view key, int planes, int width, int height);
// The header of the colour variant (... 30 FF 30 kc1 kc2 06 xL xH yL yH 00).
std::string define_colour_header(std::string_view key, int width, int height);
// One colour block: its c byte ("1" + index) and the plane's rows.
std::string colour_block(int index, const raster& plane);
// The whole definition: header and the blocks of `planes` (1, 2, or 3 with `colour_variant`).
std::string define_logo(std::string_view key, std::span<const raster> planes, bool colour_variant);

// Function 112 with colour byte c ('1' or '2'): the plane into the print buffer.
std::string print_buffer_picture(char c, const raster& plane);

// FS q n: the start of the definition of `count` bit images (1..255).
std::string bit_images_start(int count);
// The size of one bit image: xL xH yL yH in units of 8 dots (⌈w/8⌉, ⌈h/8⌉).
std::string bit_image_size(const raster& plane);
// Its column data: ⌈w/8⌉ x 8 columns, each ⌈h/8⌉ bytes top to bottom (most significant bit =
// top dot); dots outside the picture white.
std::string bit_image_columns(const raster& plane);
// FS q with every image of `planes`: n, then per image its size and columns.
std::string define_bit_images(std::span<const raster> planes);
std::string clear_bit_images();         // FS q 1 with an empty image
std::string print_bit_image(int n);     // FS p n 0
// GS v 0 normal: xL xH = row bytes, yL yH = rows, then the rows.
std::string print_raster(const raster& plane);

}  // namespace commands

}  // namespace logo
