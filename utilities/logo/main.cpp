// Logo: the logo utility. It opens on the printer browser (StartForm); once a printer is
// connected and identified, LogoForm converts pictures and stores, prints and deletes the
// printer's logos. The browser opens LogoForm because the program's upper-cased name is LOGO.
// One instance runs per user.
#include <QApplication>
#include <QFileInfo>
#include <QTimer>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "logo_window.h"
#include "platform/cli.h"
#include "platform/instance_lock.h"
#include "start_form.h"

namespace {

constexpr platform::cli::option kOptions[] = {
    {"help", 'h', platform::cli::kFlag, "", "show this text"},
    {"version", 0, platform::cli::kFlag, "", "show the kit's version"},
};

}  // namespace

int main(int argc, char* argv[]) {
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
    std::printf("Usage: %s\n"
                "The logo utility: choose a printer in the browser, then add BMP pictures, convert them for\n"
                "the printer (paper width, colours, error diffusion) and store, print or delete its logos.\n"
                "\nOptions:\n%s",
                exeName.c_str(), platform::cli::option_help(kOptions).c_str());
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

  utilities_view::register_utility_window(utilities::window_kind::logo, &logo_view::LogoForm::open);

  utilities::browser_environment env;
  env.exe_name = exeName;
  env.title = exeName;
  env.file_description = "Logo utility";
  // The program's INI file, the image library and its colour tables lie beside it.
  env.app_path = QFileInfo(QCoreApplication::applicationFilePath()).absolutePath().toStdString();
  utilities_view::StartForm form([] { return utilities::make_worker_creator(); }, env);
  form.show();
  QTimer::singleShot(0, &form, [&form] { form.load(); });
  return app.exec();
}
