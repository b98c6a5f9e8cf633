// Testbench: the test environment of the POS printer control object.
#include <QApplication>
#include <QPainter>
#include <QSplashScreen>
#include <QTimer>

#include <cstdio>
#include <cstring>
#include <filesystem>

#include "main_frame.h"
#include "testbench/settings.h"

namespace {

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
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0) {
      std::printf(
          "usage: Testbench [FILE...]\n"
          "The test environment of the POS printer control object: connect to a configured printer,\n"
          "run escape scripts, send single commands and watch results and events.\n"
          "FILE  escape scripts (.txt, .oef) to open at start\n");
      return 0;
    }
    if (argv[i][0] == '-' && std::strncmp(argv[i], "-platform", 9) != 0) {
      std::fprintf(stderr, "Testbench: unknown option %s\n", argv[i]);
      return 2;
    }
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
  for (int i = 1; i < argc; ++i) frame.open_document(QString::fromLocal8Bit(argv[i]));
  QTimer::singleShot(kSplashMs, &splash, [&] {
    splash.finish(&frame);
    frame.show();
    if (config.get_int(testbench::kSectionSettings, "ShowTipAtStart") != 0) frame.show_tips();
  });
  return QApplication::exec();
}
