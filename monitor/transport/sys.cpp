// The real system calls behind the transports' seam.
#include "sys.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace monitor::detail {

int sys_api::open(const char* path, int flags, mode_t mode) { return ::open(path, flags, mode); }
int sys_api::close(int fd) { return ::close(fd); }
ssize_t sys_api::read(int fd, void* buffer, size_t size) { return ::read(fd, buffer, size); }
ssize_t sys_api::write(int fd, const void* data, size_t size) { return ::write(fd, data, size); }
ssize_t sys_api::send(int fd, const void* data, size_t size, int flags) {
  return ::send(fd, data, size, flags);
}
ssize_t sys_api::recv(int fd, void* buffer, size_t size, int flags) {
  return ::recv(fd, buffer, size, flags);
}
int sys_api::poll(pollfd* fds, nfds_t count, int timeout_ms) {
  return ::poll(fds, count, timeout_ms);
}
int sys_api::fstat(int fd, struct stat* info) { return ::fstat(fd, info); }
int sys_api::flock(int fd, int operation) { return ::flock(fd, operation); }
int sys_api::socket(int domain, int type, int protocol) {
  return ::socket(domain, type, protocol);
}
int sys_api::connect(int fd, const sockaddr* address, socklen_t length) {
  return ::connect(fd, address, length);
}
int sys_api::getsockopt(int fd, int level, int name, void* value, socklen_t* length) {
  return ::getsockopt(fd, level, name, value, length);
}
int sys_api::setsockopt(int fd, int level, int name, const void* value, socklen_t length) {
  return ::setsockopt(fd, level, name, value, length);
}
int sys_api::tcgetattr(int fd, termios* settings) { return ::tcgetattr(fd, settings); }
int sys_api::tcsetattr(int fd, int when, const termios* settings) {
  return ::tcsetattr(fd, when, settings);
}
int sys_api::tcflush(int fd, int queue) { return ::tcflush(fd, queue); }
int sys_api::output_queue(int fd, int* pending) { return ::ioctl(fd, TIOCOUTQ, pending); }

sys_api& real_sys() {
  static sys_api instance;
  return instance;
}

}  // namespace monitor::detail
