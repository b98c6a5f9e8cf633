// Shared by the transport sources and their tests: the baud-rate table, each kind's factory with
// its system-call seam, and the registration of the built-in kinds.
#pragma once

#include <termios.h>

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "monitor/transport.h"
#include "sys.h"

namespace monitor::detail {

// A termios speed and its rate in bits per second.
struct baud_rate {
  int rate;
  speed_t code;
};

// The table row of `rate`, or null when termios has no such speed.
const baud_rate* find_baud_rate(int rate);

// Each kind's transport over the given system calls.
std::unique_ptr<transport> make_socket_transport(const device_uri& uri, sys_api& sys);
std::unique_ptr<transport> make_serial_transport(const device_uri& uri, sys_api& sys);
std::unique_ptr<transport> make_chardev_transport(const device_uri& uri, sys_api& sys);
std::unique_ptr<transport> make_file_transport(const device_uri& uri, sys_api& sys);

// Each kind registers its scheme(s), over the real system calls, through `add`.
using scheme_adder = std::function<void(std::string scheme, transport_factory factory)>;
void register_socket_transport(const scheme_adder& add);
void register_serial_transport(const scheme_adder& add);
void register_chardev_transport(const scheme_adder& add);
void register_file_transport(const scheme_adder& add);

// True when a transport is registered for `scheme` (lower case).
bool is_registered_scheme(std::string_view scheme);

}  // namespace monitor::detail
