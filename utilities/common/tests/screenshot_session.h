// What the utilities' screenshot programs share: Qt offscreen, a temporary registry with the
// monitor library registered in it, printers of the virtual printer on sim ports, their channels
// as the browser gets them, and pictures of windows written into the output folder.
#pragma once

#include <QApplication>

#include <string>

#include "platform/com.h"
#include "platform/testing/temp_dir.h"

class QWidget;

namespace utilities_test {

class screenshot_session {
 public:
  // Qt on the offscreen platform and the temporary registry, for the program started as argv[0].
  screenshot_session(int& argc, char** argv);

  // Whether the command line holds the operands named in `operands` (words parted by spaces, as
  // in "IMAGES_FOLDER OUTPUT_FOLDER"); otherwise the usage goes to stderr.
  static bool arguments_given(int argc, char** argv, const char* operands);
  // Registers the monitor library in the registry; false (the reason on stderr) on failure.
  bool register_monitor();
  // Configures `port` with the device URI `uri`, the machine type VX40 and the printer name `name`.
  static void set_port(const std::string& port, const std::string& uri, const std::string& name);
  // A machine-wide registry value (the installation's settings).
  static void set_value(const std::string& key, const char* name, const std::string& value);
  // The monitor's I/O channel of `port` (null on failure).
  static platform::com_ptr<platform::dispatch> channel_of(const std::string& port);
  // Runs the pending events and writes a picture of `window` as `file` into `folder`; false on
  // failure.
  static bool shoot(QWidget& window, const std::string& folder, const char* file);

 private:
  // Set before QApplication reads the platform.
  [[maybe_unused]] bool offscreen_;
  std::string program_;
  platform::testing::scoped_registry_dir registry_;
  QApplication app_;
};

}  // namespace utilities_test
