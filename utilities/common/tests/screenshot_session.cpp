#include "screenshot_session.h"


#include <QWidget>

#include <cstdio>

#include "monitor/monitor.h"
#include "platform/registry.h"
#include "platform/testing/server_library.h"

namespace utilities_test {
namespace {

bool use_offscreen_platform() { return qputenv("QT_QPA_PLATFORM", "offscreen"); }

}  // namespace

screenshot_session::screenshot_session(int& argc, char** argv)
    : offscreen_(use_offscreen_platform()), program_(argv[0]), app_(argc, argv) {}

bool screenshot_session::arguments_given(int argc, char** argv, const char* operands) {
  int wanted = 1;
  for (const char* c = operands; *c != '\0'; ++c) {
    if (*c == ' ') ++wanted;
  }
  if (argc == wanted + 1) return true;
  std::fprintf(stderr, "usage: %s %s\n", argv[0], operands);
  return false;
}

bool screenshot_session::register_monitor() {
  std::string error;
  if (platform::testing::register_server_library(QUOREL_MONITOR_PATH, error) != platform::kSOk) {
    std::fprintf(stderr, "%s: cannot register the monitor library: %s\n", program_.c_str(), error.c_str());
    return false;
  }
  return true;
}

void screenshot_session::set_value(const std::string& key, const char* name, const std::string& value) {
  platform::registry_key k;
  platform::registry_key::create(platform::registry_root::local_machine, key, k);
  k.set_string(name, value);
}

void screenshot_session::set_port(const std::string& port, const std::string& uri, const std::string& name) {
  const std::string key = std::string(monitor::kPortsKey) + "\\" + port;
  set_value(key, "Transport", uri);
  set_value(key, "MachineType", "VX40");
  set_value(key, "Name", name);
}

platform::com_ptr<platform::dispatch> screenshot_session::channel_of(const std::string& port) {
  platform::com_ptr<platform::dispatch> monitor;
  if (platform::failed(platform::create_instance(monitor::kMonitorProgId, monitor)) || !monitor) return {};
  std::string machine = "VX40";
  std::string where = port;
  const platform::call_result r =
      platform::call(monitor.get(), "GetConnection", platform::Variant::ref(machine), platform::Variant::ref(where));
  platform::com_ptr<platform::dispatch> io;
  if (!r.ok() || platform::failed(r.value.as_object(io))) return {};
  return io;
}

bool screenshot_session::shoot(QWidget& window, const std::string& folder, const char* file) {
  QApplication::processEvents();
  return window.grab().save(QString::fromLocal8Bit(folder) + QLatin1Char('/') + QString::fromLatin1(file));
}

}  // namespace utilities_test
