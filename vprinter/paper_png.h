// The paper as a PNG file, encoded a band at a time: rows that can no longer change are deflated
// once and kept, so writing the file again after more printing costs the new rows only.
#pragma once

#include <cstdint>
#include <deque>
#include <filesystem>
#include <string>

#include <zlib.h>

#include "vprinter/bitmap.h"

namespace vprinter::detail {

class paper_png {
 public:
  paper_png();
  ~paper_png();
  paper_png(const paper_png&) = delete;
  paper_png& operator=(const paper_png&) = delete;

  // Writes `height` rows of `paper` (rows past its end are white) as a 1-bit PNG at `path`,
  // atomically. Row 0 of `paper` is row `first_row` of all the paper ever printed (older rows
  // were dropped); rows above `final_rows` will not change any more, so their encoding is kept
  // for the next call. False with the reason in `error` on failure.
  bool write(const bitmap& paper, long long first_row, int final_rows, int height,
             const std::filesystem::path& path, std::string* error);

 private:
  // Rows [first, first + rows) deflated on their own (a raw deflate segment ending in a sync
  // flush, so that segments can be joined), with the PNG chunk around them ready to write.
  struct band {
    long long first = 0;
    int rows = 0;
    std::string chunk;             // length, "IDAT", data, CRC
    uLong adler = 1;          // Adler-32 of the filtered rows
    std::size_t raw_bytes = 0;
  };
  std::deque<band> bands_;
  int width_ = -1;
  z_stream z_{};
  bool z_ready_ = false;

  band encode(const bitmap& paper, int from, int to, long long first_row);
};

}  // namespace vprinter::detail
