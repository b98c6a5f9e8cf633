// Band-wise PNG encoding of the paper. The image data of a PNG is one zlib stream; here it is
// built from raw deflate segments, one per band of rows, each started afresh and ended with a
// sync flush, so a band never refers to the rows of another and its bytes can be kept. The zlib
// header, an empty final block and the Adler-32 of all rows (combined from the bands') frame them.
#include "paper_png.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <system_error>

#include "png_file.h"

namespace vprinter::detail {
namespace {

// Rows per kept band: small enough that re-encoding a band cut by the paper limit is cheap,
// large enough that the per-chunk overhead stays small.
constexpr int kBandRows = 256;

void put_u32(std::string& out, std::uint32_t v) {
  out += static_cast<char>(v >> 24);
  out += static_cast<char>((v >> 16) & 0xFF);
  out += static_cast<char>((v >> 8) & 0xFF);
  out += static_cast<char>(v & 0xFF);
}

// A PNG chunk: length, type, data, CRC of type and data.
std::string chunk(const char* type, std::string_view data) {
  std::string out;
  out.reserve(data.size() + 12);
  put_u32(out, static_cast<std::uint32_t>(data.size()));
  out.append(type, 4);
  out += data;
  uLong crc = crc32(0, reinterpret_cast<const Bytef*>(type), 4);
  crc = crc32(crc, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size()));
  put_u32(out, static_cast<std::uint32_t>(crc));
  return out;
}

}  // namespace

paper_png::paper_png() {
  // Raw deflate (no zlib header of its own); the level of libpng's default.
  z_ready_ = deflateInit2(&z_, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) == Z_OK;
}

paper_png::~paper_png() {
  if (z_ready_) deflateEnd(&z_);
}

paper_png::band paper_png::encode(const bitmap& paper, int from, int to, long long first_row) {
  band out;
  out.first = first_row + from;
  out.rows = to - from;
  // Each row: filter type 0, then the dots with a set bit white (on the paper a set bit is black).
  const std::size_t row_bytes = static_cast<std::size_t>(paper.row_bytes());
  std::string raw;
  raw.reserve((row_bytes + 1) * static_cast<std::size_t>(out.rows));
  for (int y = from; y < to; ++y) {
    raw += '\0';
    if (y < paper.height()) {
      const std::uint8_t* line = paper.row(y);
      for (std::size_t i = 0; i < row_bytes; ++i) raw += static_cast<char>(~line[i]);
    } else {
      raw.append(row_bytes, static_cast<char>(0xFF));
    }
  }
  // Padding bits past the width are white, as libpng writes them from the inverted row.
  out.raw_bytes = raw.size();
  out.adler = adler32(1, reinterpret_cast<const Bytef*>(raw.data()), static_cast<uInt>(raw.size()));

  std::string deflated(deflateBound(&z_, static_cast<uLong>(raw.size())) + 16, '\0');
  deflateReset(&z_);
  z_.next_in = reinterpret_cast<Bytef*>(raw.data());
  z_.avail_in = static_cast<uInt>(raw.size());
  z_.next_out = reinterpret_cast<Bytef*>(deflated.data());
  z_.avail_out = static_cast<uInt>(deflated.size());
  deflate(&z_, Z_SYNC_FLUSH);
  deflated.resize(deflated.size() - z_.avail_out);
  out.chunk = chunk("IDAT", deflated);
  return out;
}

bool paper_png::write(const bitmap& paper, long long first_row, int final_rows, int height,
                      const std::filesystem::path& path, std::string* error) {
  if (!z_ready_) return fail(error, "cannot start the PNG encoder");
  if (paper.width() <= 0 || height <= 0) return fail(error, "the image is empty");
  if (paper.width() != width_) {
    bands_.clear();
    width_ = paper.width();
  }
  final_rows = std::clamp(final_rows, 0, height);

  // Bands above the paper's top were dropped with their rows; a band the top cuts through is
  // encoded again from the top. Kept bands past the final rows cannot be (nothing moves up
  // otherwise), but are dropped to be safe.
  while (!bands_.empty() && bands_.front().first + bands_.front().rows <= first_row) bands_.pop_front();
  while (!bands_.empty() && bands_.back().first + bands_.back().rows > first_row + final_rows) bands_.pop_back();
  if (!bands_.empty() && bands_.front().first < first_row) {
    const int end = static_cast<int>(bands_.front().first + bands_.front().rows - first_row);
    bands_.front() = encode(paper, 0, end, first_row);
  }
  // New final rows, in whole bands.
  int next = bands_.empty() ? 0 : static_cast<int>(bands_.back().first + bands_.back().rows - first_row);
  while (next + kBandRows <= final_rows) {
    bands_.push_back(encode(paper, next, next + kBandRows, first_row));
    next += kBandRows;
  }
  // The rest is encoded for this file only.
  const band tail = encode(paper, next, height, first_row);

  std::string png = "\x89PNG\r\n\x1a\n";
  std::string ihdr;
  put_u32(ihdr, static_cast<std::uint32_t>(paper.width()));
  put_u32(ihdr, static_cast<std::uint32_t>(height));
  ihdr += std::string("\x01\x00\x00\x00\x00", 5);  // 1 bit, greyscale, deflate, no filter, no interlace
  png += chunk("IHDR", ihdr);
  std::size_t size = png.size() + tail.chunk.size() + 64;
  for (const auto& b : bands_) size += b.chunk.size();
  png.reserve(size);
  png += chunk("IDAT", "\x78\x9c");  // zlib header: deflate, 32 KiB window
  uLong adler = 1;
  for (const auto& b : bands_) {
    png += b.chunk;
    adler = adler32_combine(adler, b.adler, static_cast<z_off_t>(b.raw_bytes));
  }
  png += tail.chunk;
  adler = adler32_combine(adler, tail.adler, static_cast<z_off_t>(tail.raw_bytes));
  std::string end("\x03\x00", 2);  // an empty final block
  put_u32(end, static_cast<std::uint32_t>(adler));
  png += chunk("IDAT", end);
  png += chunk("IEND", "");
  return write_atomically(path, png, error);
}

}  // namespace vprinter::detail
