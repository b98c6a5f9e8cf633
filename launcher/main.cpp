// Launcher: starts the kit's programs in the chosen language from a two-step wizard.
//
// The INI files sit beside the program, or in ../share/poskit/launcher when it is installed under
// bin/; --dir names another folder. One instance runs per user: a second one ends at once. The
// instance lock is an flock on $XDG_RUNTIME_DIR/poskit/<program>.lock (see platform/instance_lock.h).
#include <QApplication>
#include <QDir>
#include <QFileInfo>

#include <cstdio>

#include "launcher/launcher_model.h"
#include "platform/case_path.h"
#include "platform/cli.h"
#include "platform/instance_lock.h"
#include "start_form.h"

namespace {

constexpr platform::cli::option kOptions[] = {
    {"dir", 0, platform::cli::kValue, "FOLDER", "folder of the launcher's INI files"},
    {"help", 'h', platform::cli::kFlag, "", "show this text"},
    {"version", 0, platform::cli::kFlag, "", "show the kit's version"},
};

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
  // The command line is read before the window system is, so that --help and --version work
  // without a display.
  platform::cli::parsed options;
  std::string problem;
  if (!platform::cli::parse(kOptions, std::vector<std::string>(argv + 1, argv + argc), options, problem) ||
      (problem = "unexpected argument", !options.operands.empty())) {
    std::fprintf(stderr, "Launcher: %s (see Launcher --help)\n", problem.c_str());
    return 2;
  }
  if (options.has("help")) {
    std::printf("Usage: Launcher [--dir FOLDER]\nStarts the kit's programs in the chosen language.\n\nOptions:\n%s",
                platform::cli::option_help(kOptions).c_str());
    return 0;
  }
  if (options.has("version")) {
    std::printf("%s\n", platform::cli::version_line("Launcher").c_str());
    return 0;
  }
  QApplication app(argc, argv);

  const QFileInfo program(QCoreApplication::applicationFilePath());
  const std::string programName = program.fileName().toStdString();
  const std::string title = std::filesystem::path(programName).stem().string();

  // Another instance is running: close at once.
  const platform::instance_lock lock = platform::instance_lock::try_acquire(platform::instance_lock::default_dir(), title);
  if (lock.busy()) {
    return 0;
  }

  launcher::launcher_model model(appDir(QString::fromStdString(options.value("dir")), program, title), programName);
  model.start();
  StartForm form(model);
  form.show();
  return app.exec();
}
