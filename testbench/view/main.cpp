// Testbench: the test environment of the POS printer control object.
#include <QApplication>
#include <QPainter>
#include <QSplashScreen>
#include <QTimer>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "main_frame.h"
#include "platform/cli.h"
#include "testbench/settings.h"

namespace {

constexpr platform::cli::option kOptions[] = {
    {"help", 'h', platform::cli::kFlag, "", "show this text"},
    {"version", 0, platform::cli::kFlag, "", "show the kit's version"},
};

constexpr int kSplashMs = 2500;

// The folder of the data files: beside the program in a build tree, else share/poskit/testbench
// of the installation.
std::string data_folder(const char* argv0) {
  std::error_code error;
  const std::filesystem::path exe = std::filesystem::canonical("/proc/self/exe", error);
  const std::filesystem::path dir = error ? std::filesystem::path(argv0).parent_path() : exe.parent_path();
  if (std::filesystem::exists(dir / "CLiteral.ini")) return dir.string();
  return (dir.parent_path() / "share" / "poskit" / "testbench").string();
}

}  // namespace

int main(int argc, char** argv) {
  // The command line is read before the window system is, so that --help and --version work
  // without a display. Qt's own "-platform NAME" is left to Qt.
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "-platform") {
      ++i;
    } else if (!arg.starts_with("-platform")) {
      args.push_back(arg);
    }
  }
  platform::cli::parsed options;
  std::string problem;
  if (!platform::cli::parse(kOptions, args, options, problem)) {
    std::fprintf(stderr, "Testbench: %s (see Testbench --help)\n", problem.c_str());
    return 2;
  }
  if (options.has("help")) {
    std::printf(
        "usage: Testbench [FILE...]\n"
        "The test environment of the POS printer control object: connect to a configured printer,\n"
        "run escape scripts, send single commands and watch results and events.\n"
        "FILE  escape scripts (.txt, .oef) to open at start\n\nOptions:\n%s",
        platform::cli::option_help(kOptions).c_str());
    return 0;
  }
  if (options.has("version")) {
    std::printf("%s\n", platform::cli::version_line("Testbench").c_str());
    return 0;
  }
  QApplication app(argc, argv);
  testbench::settings config(data_folder(argv[0]));
  config.apply_first_run();

  QPixmap picture(420, 180);
  picture.fill(QColor(0, 0, 128));
  {
    QPainter painter(&picture);
    painter.setPen(Qt::white);
    painter.setFont(QFont(QStringLiteral("Sans"), 16, QFont::Bold));
    painter.drawText(picture.rect(), Qt::AlignCenter, QStringLiteral("POS Application environment"));
  }
  QSplashScreen splash(picture);
  splash.show();
  QApplication::processEvents();

  testbench_view::CMainFrame frame(config);
  for (const std::string& file : options.operands) frame.open_document(QString::fromLocal8Bit(file.c_str()));
  QTimer::singleShot(kSplashMs, &splash, [&] {
    splash.finish(&frame);
    frame.show();
    if (config.get_int(testbench::kSectionSettings, "ShowTipAtStart") != 0) frame.show_tips();
  });
  return QApplication::exec();
}
