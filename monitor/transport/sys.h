// The thin seam between the transports and the operating system: every system call a transport
// makes goes through sys_api, so tests can inject EINTR, short writes, busy and vanished devices.
#pragma once

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <termios.h>

namespace monitor::detail {

// The system calls of the transports. Each member behaves like the call of the same name
// (returns -1 and sets errno on failure); the base class makes the real calls, a test overrides
// the ones it wants to fail.
class sys_api {
 public:
  virtual ~sys_api() = default;

  virtual int open(const char* path, int flags, mode_t mode);
  virtual int close(int fd);
  virtual ssize_t read(int fd, void* buffer, size_t size);
  virtual ssize_t write(int fd, const void* data, size_t size);
  virtual ssize_t send(int fd, const void* data, size_t size, int flags);
  virtual ssize_t recv(int fd, void* buffer, size_t size, int flags);
  // Blocks up to `timeout_ms` (negative: without limit).
  virtual int poll(pollfd* fds, nfds_t count, int timeout_ms);
  virtual int fstat(int fd, struct stat* info);
  virtual int flock(int fd, int operation);
  virtual int socket(int domain, int type, int protocol);
  virtual int connect(int fd, const sockaddr* address, socklen_t length);
  virtual int getsockopt(int fd, int level, int name, void* value, socklen_t* length);
  virtual int setsockopt(int fd, int level, int name, const void* value, socklen_t length);
  virtual int tcgetattr(int fd, termios* settings);
  virtual int tcsetattr(int fd, int when, const termios* settings);
  virtual int tcflush(int fd, int queue);
  // Bytes still waiting in the output queue of a terminal (ioctl TIOCOUTQ).
  virtual int output_queue(int fd, int* pending);
};

// The process's real system calls.
sys_api& real_sys();

}  // namespace monitor::detail
