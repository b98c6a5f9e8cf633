// Writing the paper's PNG files: libpng's row encoding into memory and the atomic replacement of
// the file, shared by the one-colour, the two-colour and the band-wise writers.
#pragma once

#include <png.h>

#include <filesystem>
#include <functional>
#include <span>
#include <string>

namespace vprinter::detail {

// Sets `error` (when given) to `text`; returns false, for `return fail(...)`.
bool fail(std::string* error, std::string text);

// Writes `content` to a temporary file beside `path` and renames it over `path`; on failure the
// old file stays and no temporary file is left.
bool write_atomically(const std::filesystem::path& path, const std::string& content, std::string* error);

// The layout of an encoded PNG: bits per dot, libpng's colour type and, for a palette image, its
// colours.
struct png_layout {
  int bit_depth = 1;
  int colour_type = PNG_COLOR_TYPE_GRAY;
  std::span<const png_color> palette;
};

// Encodes a width x height image into `out`; `fill_row(y, row)` writes row y's packed dots into
// a zeroed buffer of the row's size. False when libpng fails.
bool encode_png(int width, int height, const png_layout& layout,
                const std::function<void(int, png_byte*)>& fill_row, std::string& out);

}  // namespace vprinter::detail
