// Portpick: the installation's port-selection dialog.
//
//   Portpick [--root FOLDER] COMPONENTS
// COMPONENTS is the letters of the components being installed followed by the printer's USB
// product identifier in three digits (ABCD101). The answer goes to the per-user settings of
// RiveRed, section InstallOption. Exit status: 0 when an answer was written, 1 when the window
// was closed without one, 2 when the command line is refused.
#include <QApplication>

#include <cstdio>

#include "platform/cli.h"
#include "portpick/portpick_model.h"
#include "select_ports_form.h"

namespace {

constexpr platform::cli::option kOptions[] = {
    {"root", 0, platform::cli::kValue, "FOLDER", "folder holding the system files to read (sys/, proc/, etc/); default /"},
    {"help", 'h', platform::cli::kFlag, "", "show this text"},
    {"version", 0, platform::cli::kFlag, "", "show the kit's version"},
};

constexpr const char* kUsage =
    "Usage: Portpick [--root FOLDER] COMPONENTS\n"
    "Asks which port the printer is attached to and records the answer for the installation.\n"
    "COMPONENTS: the letters of the components being installed (D: the printer driver), then the\n"
    "printer's USB product id in three digits, e.g. ABCD101.\n"
    "Exit status: 0 an answer was written, 1 the window was closed without one, 2 the command line\n"
    "is refused.\n\nOptions:\n";

}  // namespace

int main(int argc, char* argv[]) {
  // The command line is read before the window system is, so that --help and --version work
  // without a display.
  platform::cli::parsed options;
  std::string problem;
  if (!platform::cli::parse(kOptions, std::vector<std::string>(argv + 1, argv + argc), options, problem)) {
    std::fprintf(stderr, "Portpick: %s (see Portpick --help)\n", problem.c_str());
    return 2;
  }
  if (options.has("help")) {
    std::printf("%s%s", kUsage, platform::cli::option_help(kOptions).c_str());
    return 0;
  }
  if (options.has("version")) {
    std::printf("%s\n", platform::cli::version_line("Portpick").c_str());
    return 0;
  }
  QApplication app(argc, argv);

  // The installation passes one argument; anything else is checked as the one text it makes.
  std::string commandLine;
  for (const std::string& word : options.operands) commandLine += (commandLine.empty() ? "" : " ") + word;

  const platform::system_ports ports(options.value("root", "/"));
  QtMessageBoxes boxes;
  portpick::portpick_model model(ports, boxes);
  if (!model.start(commandLine)) {
    return 2;
  }
  SelectPortsForm form(model);
  boxes.setParent(&form);
  form.show();
  const int status = app.exec();
  if (status != 0) return status;
  if (!form.answered()) {
    std::fprintf(stderr, "Portpick: closed without an answer\n");
    return 1;
  }
  return 0;
}
