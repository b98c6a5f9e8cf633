// Oposetup: the printer browser of the utilities. What it opens after connecting follows the name
// it was started under: OPOSETUP writes the OPOS device keys of the chosen printer; SETUP, DEMO
// and VJ20G (installed as links to this program) open the setup window when one is registered.
// One instance per name runs per user.
#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QTimer>

#include "platform/instance_lock.h"
#include "start_form.h"

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  // The name as started (a link's own name), not the file it leads to.
  const QFileInfo started(QString::fromLocal8Bit(argv[0]));
  const std::string exeName = started.completeBaseName().toStdString();
  QCoreApplication::setApplicationName(QString::fromStdString(exeName));

  QCommandLineParser parser;
  parser.setApplicationDescription(QStringLiteral(
      "The printer browser: lists the printers of this computer (or of the print servers of the\n"
      "installation) and connects to one. Started as Oposetup it writes the printer's OPOS device keys."));
  parser.addHelpOption();
  if (!parser.parse(QCoreApplication::arguments())) {
    std::fprintf(stderr, "%s: %s\n", exeName.c_str(), qPrintable(parser.errorText()));
    return 2;
  }
  if (parser.isSet(QStringLiteral("help"))) parser.showHelp(0);
  if (!parser.positionalArguments().isEmpty()) {
    std::fprintf(stderr, "%s: takes no arguments (see --help)\n", exeName.c_str());
    return 2;
  }

  // Another instance of the same program is running: end at once.
  const platform::instance_lock lock =
      platform::instance_lock::try_acquire(platform::instance_lock::default_dir(), exeName);
  if (lock.busy()) return 0;

  utilities::browser_environment env;
  env.exe_name = exeName;
  env.title = exeName;
  // The program's INI file lies beside it (the folder of the file the name leads to).
  env.app_path = QFileInfo(QCoreApplication::applicationFilePath()).absolutePath().toStdString();
  utilities_view::StartForm form([] { return utilities::make_worker_creator(); }, env);
  form.show();
  QTimer::singleShot(0, &form, [&form] { form.load(); });
  return app.exec();
}
