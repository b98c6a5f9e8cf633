// Small file helpers of the image library: whole writes to a descriptor, buffered row output,
// fresh files that never write through a stale one, and atomic copies.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace imaging::detail {

// Writes all `size` bytes (retrying short writes and EINTR): false on any failure.
bool write_all(int fd, const void* data, std::size_t size);

// Removes whatever is at `path` (a stale file or link is never written through) and creates a
// new empty file there for writing: the descriptor, or -1.
int create_fresh(const std::string& path);

// Copies `from` over `to` through a new file beside `to` renamed into place: false (and `to` as
// it was) when anything fails.
bool copy_atomic(const std::string& from, const std::string& to);

// Descriptor owner with buffered writes; the buffer goes out on flush() and on close().
class file_writer {
 public:
  explicit file_writer(int fd) : fd_(fd) { buffer_.reserve(kBufferSize); }
  ~file_writer();
  file_writer(const file_writer&) = delete;
  file_writer& operator=(const file_writer&) = delete;

  int fd() const { return fd_; }
  bool ok() const { return fd_ >= 0 && ok_; }
  void write(const void* data, std::size_t size);
  // Writes the buffer out and closes the file: true when every byte was written.
  bool close();

 private:
  static constexpr std::size_t kBufferSize = 1 << 16;
  bool flush();
  int fd_;
  bool ok_ = true;
  std::vector<std::uint8_t> buffer_;
};

}  // namespace imaging::detail
