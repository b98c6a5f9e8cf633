// Portpick: the installation's port-selection dialog.
//
//   Portpick [--root FOLDER] COMPONENTS
// COMPONENTS is the letters of the components being installed followed by the printer's USB
// product identifier in three digits (ABCD101). The answer goes to the per-user settings of
// RiveRed, section InstallOption. Exit status: 0 when an answer was written, 1 when the window
// was closed without one, 2 when the command line is refused.
#include <QApplication>
#include <QCommandLineParser>

#include <cstdio>

#include "portpick/portpick_model.h"
#include "select_ports_form.h"

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);

  QCommandLineParser parser;
  parser.setApplicationDescription(
      QStringLiteral("Asks which port the printer is attached to and records the answer for the installation."));
  parser.addHelpOption();
  parser.addPositionalArgument(QStringLiteral("components"),
                               QStringLiteral("Letters of the components being installed (D: the printer driver), "
                                              "then the printer's USB product id in three digits, e.g. ABCD101."));
  const QCommandLineOption rootOption(QStringLiteral("root"),
                                      QStringLiteral("Folder holding the system files to read (sys/, proc/, etc/); "
                                                     "default /."),
                                      QStringLiteral("folder"), QStringLiteral("/"));
  parser.addOption(rootOption);
  parser.process(app);

  // The installation passes one argument; anything else is checked as the one text it makes.
  const std::string commandLine = parser.positionalArguments().join(QLatin1Char(' ')).toStdString();

  const platform::system_ports ports(parser.value(rootOption).toStdString());
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
