// File helpers of the image library.
#include "file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace imaging::detail {

bool write_all(int fd, const void* data, std::size_t size) {
  const auto* p = static_cast<const std::uint8_t*>(data);
  while (size > 0) {
    const ssize_t n = ::write(fd, p, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) return false;
    p += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

int create_fresh(const std::string& path) {
  ::unlink(path.c_str());
  return ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
}

bool copy_atomic(const std::string& from, const std::string& to) {
  const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return false;
  std::string temp = to + ".XXXXXX";
  const int out = ::mkstemp(temp.data());
  if (out < 0) {
    ::close(in);
    return false;
  }
  bool ok = true;
  std::vector<std::uint8_t> buffer(1 << 16);
  for (;;) {
    const ssize_t n = ::read(in, buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) ok = false;
    if (n <= 0) break;
    if (!write_all(out, buffer.data(), static_cast<std::size_t>(n))) {
      ok = false;
      break;
    }
  }
  // A file that replaces an existing one keeps its permission bits; a new one gets 0666 less umask.
  struct stat st {};
  if (::stat(to.c_str(), &st) == 0) {
    ::fchmod(out, st.st_mode & 07777);
  } else {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(out, 0666 & ~mask);
  }
  ::close(in);
  if (::close(out) != 0) ok = false;
  if (ok && ::rename(temp.c_str(), to.c_str()) != 0) ok = false;
  if (!ok) ::unlink(temp.c_str());
  return ok;
}

file_writer::~file_writer() { close(); }

void file_writer::write(const void* data, std::size_t size) {
  if (!ok()) return;
  if (buffer_.size() + size > kBufferSize && !flush()) return;
  if (size >= kBufferSize) {
    ok_ = write_all(fd_, data, size);
    return;
  }
  const auto* p = static_cast<const std::uint8_t*>(data);
  buffer_.insert(buffer_.end(), p, p + size);
}

bool file_writer::flush() {
  if (!buffer_.empty()) {
    ok_ = ok_ && write_all(fd_, buffer_.data(), buffer_.size());
    buffer_.clear();
  }
  return ok_;
}

bool file_writer::close() {
  if (fd_ < 0) return ok_;
  flush();
  if (::close(fd_) != 0) ok_ = false;
  fd_ = -1;
  return ok_;
}

}  // namespace imaging::detail
