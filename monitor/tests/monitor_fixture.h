// Shared by the monitor's tests: the server library registered in a private registry, ports
// configured there, calls on its objects by name, a raw TCP peer on loopback, and a
// pseudo-terminal of its own (the socat pair, serial ends and child programs come from
// platform/testing).
#pragma once

#include <dlfcn.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "monitor/monitor.h"
#include "monitor/transport.h"
#include "platform/com.h"
#include "platform/registry.h"
#include "platform/testing/pty_pair.h"
#include "platform/testing/scoped_process.h"
#include "platform/testing/temp_dir.h"

namespace monitor_test {

using platform::Variant;
using platform::testing::scoped_process;
using platform::testing::serial_end;
using platform::testing::socat_pty_pair;
using std::chrono::milliseconds;
using std::chrono::steady_clock;

// Bytes from a list of values 0..255.
inline std::string bytes(std::initializer_list<int> values) {
  std::string out;
  for (const int v : values) out += static_cast<char>(v);
  return out;
}

// "1B 40" for messages.
inline std::string hex(std::string_view data) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (const char c : data) {
    const auto b = static_cast<unsigned char>(c);
    if (!out.empty()) out += ' ';
    out += kDigits[b >> 4];
    out += kDigits[b & 0x0F];
  }
  return out;
}

// Milliseconds since `start`.
inline long elapsed_ms(steady_clock::time_point start) {
  return static_cast<long>(std::chrono::duration_cast<milliseconds>(steady_clock::now() - start).count());
}

// The outcome of WriteIO or ReadIO: result, count and (for reads) the bytes counted.
struct io_outcome {
  std::int32_t rc = 0;
  std::int32_t count = 0;
  std::string data;
};

// A last-error record.
struct error_record {
  std::int32_t number = 0;
  std::string description;
  std::string source;
};

// Calls on an IoChannel (or ServerMonitor) by name, as the service objects and utilities do.
class channel {
 public:
  channel() = default;
  explicit channel(platform::com_ptr<platform::dispatch> object) : client_(std::move(object)) {}
  explicit operator bool() const { return static_cast<bool>(client_); }
  platform::dispatch* get() const { return client_.get(); }

  std::int32_t call_long(std::string_view name) { return client_.call(name).value.long_or(-1); }
  std::int32_t get_long(std::string_view name) { return client_.get(name).value.long_or(-1); }
  std::string get_text(std::string_view name) { return client_.get(name).value.string_or("<failed>"); }
  platform::hresult put(std::string_view name, std::int32_t value) { return client_.put(name, value); }

  std::int32_t open() { return call_long("OpenIO"); }
  std::int32_t close() { return call_long("CloseIO"); }
  io_outcome write(std::string data, std::int32_t mode = 1) {
    io_outcome out;
    out.count = -1;
    const auto length = static_cast<std::int32_t>(data.size());
    const platform::call_result r =
        client_.call("WriteIO", Variant::ref(data), length, Variant::ref(out.count), mode);
    out.rc = r.ok() ? r.value.long_or(-1) : r.hr;
    return out;
  }
  // ReadIO with a buffer pre-filled with 0x1E, as the service objects pass it.
  io_outcome read(std::int32_t length, std::string* whole_buffer = nullptr) {
    io_outcome out;
    out.count = -1;
    std::string buffer(static_cast<std::size_t>(std::max(length, 0)), '\x1E');
    const platform::call_result r = client_.call("ReadIO", Variant::ref(buffer), length, Variant::ref(out.count));
    out.rc = r.ok() ? r.value.long_or(-1) : r.hr;
    if (out.count > 0) out.data = buffer.substr(0, static_cast<std::size_t>(out.count));
    if (whole_buffer != nullptr) *whole_buffer = buffer;
    return out;
  }
  io_outcome read_answer() {
    io_outcome out;
    const platform::call_result r = client_.call("ReadAnswer", Variant::ref(out.data), Variant::ref(out.count), 0);
    out.rc = r.ok() ? r.value.long_or(-1) : r.hr;
    return out;
  }
  // GetPrinterState: result and state.
  std::pair<std::int32_t, std::int32_t> state(std::int32_t mode) {
    std::int32_t code = -1;
    const platform::call_result r = client_.call("GetPrinterState", Variant::ref(code), mode);
    return {r.ok() ? r.value.long_or(-1) : r.hr, code};
  }
  error_record last_error() {
    error_record e;
    e.number = -1;
    client_.call("GetLastErr", Variant::ref(e.number), Variant::ref(e.description), Variant::ref(e.source));
    return e;
  }

 private:
  platform::dispatch_client client_;
};

// The server library registered in a private registry for each test, and ports configured there.
class MonitorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Loaded once for the process, as creation by ProgID keeps it loaded too.
    static void* const library = ::dlopen(QUOREL_MONITOR_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << ::dlerror();
    const auto register_server =
        reinterpret_cast<platform::dll_register_server_fn>(::dlsym(library, "DllRegisterServer"));
    ASSERT_NE(register_server, nullptr);
    ASSERT_EQ(register_server(), platform::kSOk) << platform::take_error_info();
  }

  // A new ServerMonitor, created by ProgID.
  channel make_monitor() {
    platform::com_ptr<platform::dispatch> object;
    const platform::hresult hr = platform::create_instance(monitor::kMonitorProgId, object);
    EXPECT_EQ(hr, platform::kSOk) << platform::com_last_error();
    return channel(object);
  }

  // Configures port `name` with a device URI and optional model and printer name.
  void set_port(const std::string& name, const std::string& uri, const std::string& machine_type = "",
                const std::string& printer_name = "") {
    platform::registry_key key;
    ASSERT_EQ(platform::registry_key::create(platform::registry_root::local_machine,
                                             std::string(monitor::kPortsKey) + "\\" + name, key),
              platform::kErrorSuccess);
    if (!uri.empty()) {
      ASSERT_EQ(key.set_string("Transport", uri), platform::kErrorSuccess);
    }
    if (!machine_type.empty()) {
      ASSERT_EQ(key.set_string("MachineType", machine_type), platform::kErrorSuccess);
    }
    if (!printer_name.empty()) {
      ASSERT_EQ(key.set_string("Name", printer_name), platform::kErrorSuccess);
    }
  }

  // GetConnectionStatus with both strings by reference, as the service objects pass them.
  std::int32_t connection_status(channel& server, std::string machine, std::string port) {
    const platform::call_result r =
        platform::call(server.get(), "GetConnectionStatus", Variant::ref(machine), Variant::ref(port));
    return r.ok() ? r.value.long_or(-1) : r.hr;
  }

  // The IoChannel of a configured port (null channel on failure).
  channel connect(const std::string& port, const std::string& machine = "VX40") {
    channel server = make_monitor();
    std::string m = machine;
    std::string p = port;
    const platform::call_result r = platform::call(server.get(), "GetConnection", Variant::ref(m), Variant::ref(p));
    platform::com_ptr<platform::dispatch> object;
    if (!r.ok() || platform::failed(r.value.as_object(object)) || !object) return channel();
    return channel(object);
  }

  platform::testing::scoped_registry_dir registry_;
  platform::testing::temp_dir dir_;
};

// A raw TCP peer on 127.0.0.1: the test plays the printer's side byte by byte.
class tcp_peer {
 public:
  tcp_peer() {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener_, 4) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      return;
    }
    port_ = ntohs(address.sin_port);
  }
  ~tcp_peer() {
    close_client();
    if (listener_ >= 0) ::close(listener_);
  }
  tcp_peer(const tcp_peer&) = delete;
  tcp_peer& operator=(const tcp_peer&) = delete;

  int port() const { return port_; }
  std::string uri() const { return "socket://127.0.0.1:" + std::to_string(port_); }

  // Takes the next waiting connection (1 s at most); false when none came.
  bool accept_client() {
    close_client();
    pollfd entry{listener_, POLLIN, 0};
    if (::poll(&entry, 1, 1000) != 1) return false;
    client_ = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    return client_ >= 0;
  }
  void close_client() {
    if (client_ >= 0) ::close(client_);
    client_ = -1;
  }
  bool send(std::string_view data) {
    return client_ >= 0 && ::send(client_, data.data(), data.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(data.size());
  }
  // Receives exactly `count` bytes within 1 s (fewer when they do not come).
  std::string receive(std::size_t count) {
    std::string out;
    const auto end = steady_clock::now() + milliseconds(1000);
    while (client_ >= 0 && out.size() < count && steady_clock::now() < end) {
      pollfd entry{client_, POLLIN, 0};
      if (::poll(&entry, 1, 20) != 1) continue;
      char buffer[256];
      const ssize_t n = ::recv(client_, buffer, std::min(sizeof buffer, count - out.size()), 0);
      if (n <= 0) break;
      out.append(buffer, static_cast<std::size_t>(n));
    }
    return out;
  }
  // True when the connection was closed by the other side within 1 s.
  bool sees_end_of_stream() {
    pollfd entry{client_, POLLIN, 0};
    if (::poll(&entry, 1, 1000) != 1) return false;
    char byte = 0;
    return ::recv(client_, &byte, 1, 0) == 0;
  }

 private:
  int listener_ = -1;
  int client_ = -1;
  int port_ = 0;
};

// One pseudo-terminal made by this process: its slave side stands for a serial port.
class pseudo_terminal {
 public:
  pseudo_terminal() : master_(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC)) {
    if (master_ >= 0 && ::grantpt(master_) == 0 && ::unlockpt(master_) == 0) {
      if (const char* name = ::ptsname(master_)) path_ = name;
    }
  }
  ~pseudo_terminal() {
    if (master_ >= 0) ::close(master_);
  }
  pseudo_terminal(const pseudo_terminal&) = delete;
  pseudo_terminal& operator=(const pseudo_terminal&) = delete;

  // The slave's device node ("" when none could be made).
  const std::string& path() const { return path_; }

 private:
  int master_;
  std::string path_;
};

}  // namespace monitor_test
