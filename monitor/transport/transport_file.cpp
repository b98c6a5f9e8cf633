// The capture-file transport (file:/path): appends every byte written; a file never answers, so
// reads report the time-out at once. A FIFO works too (its reader gone is a lost link).
#include <fcntl.h>

#include <cerrno>
#include <memory>

#include "fd_transport.h"
#include "transport_private.h"

namespace monitor::detail {
namespace {

constexpr mode_t kCaptureMode = 0644;

class file_transport final : public fd_transport {
 public:
  using fd_transport::fd_transport;

 protected:
  std::int32_t open_device(int /*timeout_ms*/) override {
    // O_NONBLOCK keeps a FIFO without reader from blocking the open (it fails with ENXIO).
    unique_fd file(sys(), sys().open(uri().path.c_str(),
                                     O_WRONLY | O_CREAT | O_APPEND | O_NOCTTY | O_NONBLOCK |
                                         O_CLOEXEC,
                                     kCaptureMode));
    if (!file) return fail_errno(errno, "open");
    adopt(std::move(file));
    return kResultOk;
  }

  std::string_view no_reads_reason() const override { return "a capture file never answers"; }
};

}  // namespace

std::unique_ptr<transport> make_file_transport(const device_uri& uri, sys_api& sys) {
  return std::make_unique<file_transport>(uri, sys);
}

void register_file_transport(const scheme_adder& add) {
  add("file", [](const device_uri& uri) { return make_file_transport(uri, real_sys()); });
}

}  // namespace monitor::detail
