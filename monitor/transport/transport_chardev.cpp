// The printer-class character device transport: usblp:/dev/usb/lpN (USB printer class) and
// parallel:/dev/lpN (parallel port). Opened read-write where the driver allows, else write-only.
#include <fcntl.h>
#include <sys/file.h>

#include <cerrno>
#include <memory>

#include "fd_transport.h"
#include "transport_private.h"

namespace monitor::detail {
namespace {

// errno values of a read-write open that a write-only open may get past.
bool write_only_may_work(int error) {
  return error == EACCES || error == EPERM || error == EROFS || error == EINVAL;
}

class chardev_transport final : public fd_transport {
 public:
  using fd_transport::fd_transport;

 protected:
  std::int32_t open_device(int /*timeout_ms*/) override {
    const char* path = uri().path.c_str();
    constexpr int kFlags = O_NOCTTY | O_NONBLOCK | O_CLOEXEC;
    write_only_ = false;
    unique_fd device(sys(), sys().open(path, O_RDWR | kFlags, 0));
    if (!device && write_only_may_work(errno)) {
      device = unique_fd(sys(), sys().open(path, O_WRONLY | kFlags, 0));
      write_only_ = static_cast<bool>(device);
    }
    if (!device) return fail_errno(errno, "open");
    if (sys().flock(device.get(), LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
      return fail(kResultBusy, EBUSY,
                  "open " + name() + ": the device is in use by another process");
    }
    adopt(std::move(device));
    return kResultOk;
  }

  // Printer-class drivers return 0 when the printer has nothing to say.
  bool end_of_input_is_hangup() const override { return false; }

  std::string_view no_reads_reason() const override {
    return write_only_ ? "the device could only be opened for writing" : std::string_view{};
  }

 private:
  bool write_only_ = false;
};

}  // namespace

std::unique_ptr<transport> make_chardev_transport(const device_uri& uri, sys_api& sys) {
  return std::make_unique<chardev_transport>(uri, sys);
}

void register_chardev_transport(const scheme_adder& add) {
  const auto make = [](const device_uri& uri) { return make_chardev_transport(uri, real_sys()); };
  add("usblp", make);
  add("parallel", make);
}

}  // namespace monitor::detail
