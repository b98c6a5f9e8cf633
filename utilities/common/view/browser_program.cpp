#include "browser_program.h"

#include <QApplication>
#include <QFileInfo>
#include <QTimer>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/cli.h"
#include "platform/instance_lock.h"
#include "start_form.h"

namespace utilities_view {
namespace {

constexpr platform::cli::option kOptions[] = {
    {"help", 'h', platform::cli::kFlag, "", "show this text"},
    {"version", 0, platform::cli::kFlag, "", "show the kit's version"},
};

}  // namespace

int run_browser_program(int argc, char* argv[], const browser_program& program) {
  // The name as started (a link's own name), not the file it leads to.
  const std::string exeName = std::filesystem::path(argv[0]).stem().string();

  // The command line is read before the window system is, so that --help and --version work
  // without a display.
  platform::cli::parsed options;
  std::string problem;
  if (!platform::cli::parse(kOptions, std::vector<std::string>(argv + 1, argv + argc), options, problem) ||
      (problem = "unexpected argument " + (options.operands.empty() ? std::string() : options.operands.front()),
       !options.operands.empty())) {
    std::fprintf(stderr, "%s: %s (see %s --help)\n", exeName.c_str(), problem.c_str(), exeName.c_str());
    return 2;
  }
  if (options.has("help")) {
    std::printf("Usage: %s\n%s\nOptions:\n%s", exeName.c_str(), program.description,
                platform::cli::option_help(kOptions).c_str());
    return 0;
  }
  if (options.has("version")) {
    std::printf("%s\n", platform::cli::version_line(exeName).c_str());
    return 0;
  }

  QApplication app(argc, argv);
  QCoreApplication::setApplicationName(QString::fromStdString(exeName));

  // Another instance of the same program is running: end at once.
  const platform::instance_lock lock =
      platform::instance_lock::try_acquire(platform::instance_lock::default_dir(), exeName);
  if (lock.busy()) return 0;

  if (program.register_windows) program.register_windows();

  utilities::browser_environment env;
  env.exe_name = exeName;
  env.title = exeName;
  if (!program.file_description.empty()) env.file_description = program.file_description;
  // The program's INI file (and the Logo program's image library and colour tables) lie beside it,
  // in the folder of the file the name leads to.
  env.app_path = QFileInfo(QCoreApplication::applicationFilePath()).absolutePath().toStdString();
  StartForm form([] { return utilities::make_worker_creator(); }, env);
  form.show();
  QTimer::singleShot(0, &form, [&form] { form.load(); });
  return app.exec();
}

}  // namespace utilities_view
