// Launcher: starts the kit's programs in the chosen language from a two-step wizard.
//
// The INI files sit beside the program, or in ../share/poskit/launcher when it is installed under
// bin/; --dir names another folder. One instance runs per user: a second one ends at once. The
// instance lock is an flock on $XDG_RUNTIME_DIR/poskit/<program>.lock (see platform/instance_lock.h).
#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>

#include "launcher/launcher_model.h"
#include "platform/case_path.h"
#include "platform/instance_lock.h"
#include "start_form.h"

namespace {

// The folder holding the INI files: --dir, else beside the program when its INI is there, else
// the installed data folder when it exists, else beside the program.
std::filesystem::path appDir(const QString& option, const QFileInfo& program, const std::string& title) {
  if (!option.isEmpty()) {
    return option.toStdString();
  }
  const std::filesystem::path beside = program.absolutePath().toStdString();
  const std::filesystem::path ini = beside / (title + ".INI");
  std::error_code ignored;
  if (std::filesystem::exists(platform::resolve_case_insensitive(ini), ignored)) {
    return beside;
  }
  const std::filesystem::path installed = beside / ".." / "share" / "poskit" / "launcher";
  if (std::filesystem::is_directory(installed, ignored)) {
    return installed.lexically_normal();
  }
  return beside;
}

}  // namespace

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);

  QCommandLineParser parser;
  parser.setApplicationDescription(QStringLiteral("Starts the kit's programs in the chosen language."));
  parser.addHelpOption();
  const QCommandLineOption dirOption(QStringLiteral("dir"), QStringLiteral("Folder of the launcher's INI files."),
                                     QStringLiteral("folder"));
  parser.addOption(dirOption);
  parser.process(app);

  const QFileInfo program(QCoreApplication::applicationFilePath());
  const std::string programName = program.fileName().toStdString();
  const std::string title = std::filesystem::path(programName).stem().string();

  // Another instance is running: close at once.
  const platform::instance_lock lock = platform::instance_lock::try_acquire(platform::instance_lock::default_dir(), title);
  if (lock.busy()) {
    return 0;
  }

  launcher::launcher_model model(appDir(parser.value(dirOption), program, title), programName);
  model.start();
  StartForm form(model);
  form.show();
  return app.exec();
}
