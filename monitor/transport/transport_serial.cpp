// The serial transport (serial:/dev/ttyS0?baud=...): an exclusive, raw-mode port with the URI's
// line settings, handing the port back with the settings it had when it closes.
#include <fcntl.h>
#include <sys/file.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <memory>
#include <optional>
#include <thread>

#include "fd_transport.h"
#include "transport_private.h"

namespace monitor::detail {
namespace {

// The termios speeds a port can be set to.
constexpr std::array kBaudRates = {
    baud_rate{50, B50},           baud_rate{75, B75},           baud_rate{110, B110},
    baud_rate{134, B134},         baud_rate{150, B150},         baud_rate{200, B200},
    baud_rate{300, B300},         baud_rate{600, B600},         baud_rate{1200, B1200},
    baud_rate{1800, B1800},       baud_rate{2400, B2400},       baud_rate{4800, B4800},
    baud_rate{9600, B9600},       baud_rate{19200, B19200},     baud_rate{38400, B38400},
    baud_rate{57600, B57600},     baud_rate{115200, B115200},   baud_rate{230400, B230400},
    baud_rate{460800, B460800},   baud_rate{500000, B500000},   baud_rate{576000, B576000},
    baud_rate{921600, B921600},   baud_rate{1000000, B1000000}, baud_rate{1152000, B1152000},
    baud_rate{1500000, B1500000}, baud_rate{2000000, B2000000}, baud_rate{2500000, B2500000},
    baud_rate{3000000, B3000000}, baud_rate{3500000, B3500000}, baud_rate{4000000, B4000000},
};

// How long closing waits for queued output to leave before discarding it.
constexpr int kDrainLimitMs = 500;

// Terminal settings as found, put back when the guard goes (or on reset()).
class termios_guard {
 public:
  termios_guard(sys_api& sys, int fd, const termios& found) : sys_(&sys), fd_(fd), found_(found) {}
  ~termios_guard() { reset(); }
  termios_guard(const termios_guard&) = delete;
  termios_guard& operator=(const termios_guard&) = delete;

  // Lets queued output drain for a bounded time, drops the rest, and restores the settings.
  void reset() {
    if (fd_ < 0) return;
    const deadline until(kDrainLimitMs);
    int pending = 0;
    while (sys_->output_queue(fd_, &pending) == 0 && pending > 0 && !until.expired()) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    sys_->tcflush(fd_, TCOFLUSH);
    sys_->tcsetattr(fd_, TCSANOW, &found_);
    fd_ = -1;
  }

 private:
  sys_api* sys_;
  int fd_;
  termios found_;
};

// Raw mode with the URI's line settings; reads wait for at least one byte (with O_NONBLOCK that
// makes "no data" EAGAIN and a hang-up 0).
termios raw_settings(const termios& found, const serial_settings& line, speed_t speed) {
  termios t = found;
  cfmakeraw(&t);
  cfsetispeed(&t, speed);
  cfsetospeed(&t, speed);
  t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
  t.c_cflag |= CLOCAL | CREAD | (line.data_bits == 7 ? CS7 : CS8);
  if (line.parity != serial_parity::none) t.c_cflag |= PARENB;
  if (line.parity == serial_parity::odd) t.c_cflag |= PARODD;
  if (line.stop_bits == 2) t.c_cflag |= CSTOPB;
  // Parity is generated on output; input bytes are passed on as received.
  t.c_iflag &= ~static_cast<tcflag_t>(INPCK | IGNPAR | IXON | IXOFF | IXANY);
  if (line.flow == serial_flow::hardware) t.c_cflag |= CRTSCTS;
  if (line.flow == serial_flow::software) t.c_iflag |= IXON | IXOFF;
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  return t;
}

class serial_transport final : public fd_transport {
 public:
  using fd_transport::fd_transport;
  ~serial_transport() override { restore_.reset(); }

 protected:
  std::int32_t open_device(int /*timeout_ms*/) override {
    const device_uri& where = uri();
    const baud_rate* speed = find_baud_rate(where.serial.baud);
    if (speed == nullptr) {
      return fail(kResultFailed, EINVAL, name() + ": unsupported baud rate");
    }
    unique_fd port(sys(), sys().open(where.path.c_str(),
                                     O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC, 0));
    if (!port) return fail_errno(errno, "open");

    // Another process holding the port is a busy printer, not a failure.
    if (sys().flock(port.get(), LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
      return fail(kResultBusy, EBUSY, "open " + name() + ": the port is in use by another process");
    }
    termios found{};
    if (sys().tcgetattr(port.get(), &found) != 0) {
      const int error = errno;
      if (error == ENOTTY || error == EINVAL) {
        return fail(kResultFailed, error, "open " + name() + ": not a serial port");
      }
      return fail_errno(error, "open");
    }
    const termios wanted = raw_settings(found, where.serial, speed->code);
    if (sys().tcsetattr(port.get(), TCSANOW, &wanted) != 0) {
      const int error = errno;
      sys().tcsetattr(port.get(), TCSANOW, &found);
      return fail_errno(error, "set line settings of");
    }
    // Stale bytes from an earlier session would be taken for answers.
    sys().tcflush(port.get(), TCIFLUSH);
    restore_.emplace(sys(), port.get(), found);
    adopt(std::move(port));
    return kResultOk;
  }

  void close_device() override { restore_.reset(); }

 private:
  std::optional<termios_guard> restore_;
};

}  // namespace

const baud_rate* find_baud_rate(int rate) {
  for (const baud_rate& row : kBaudRates) {
    if (row.rate == rate) return &row;
  }
  return nullptr;
}

std::unique_ptr<transport> make_serial_transport(const device_uri& uri, sys_api& sys) {
  return std::make_unique<serial_transport>(uri, sys);
}

void register_serial_transport(const scheme_adder& add) {
  add("serial", [](const device_uri& uri) { return make_serial_transport(uri, real_sys()); });
}

}  // namespace monitor::detail
