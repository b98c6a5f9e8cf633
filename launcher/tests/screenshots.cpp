// Writes a picture of each launcher step, rendered offscreen from a copy of a kit folder:
//   launcher_screenshots <kit folder holding Launcher/ and Image/> <output folder>
#include <QApplication>
#include <QPushButton>

#include <cstdio>
#include <filesystem>

#include "platform/testing/temp_dir.h"
#include "start_form.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s KIT_FOLDER OUTPUT_FOLDER\n", argv[0]);
    return 2;
  }
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);

  // The launcher writes its last choices back; keep the shipped files as they are.
  const platform::testing::temp_dir copy;
  std::filesystem::copy(argv[1], copy.path(), std::filesystem::copy_options::recursive);
  launcher::launcher_model model(copy / "Launcher", "Launcher");
  model.start();
  StartForm form(model);
  form.show();
  QApplication::processEvents();

  const QString out = QString::fromLocal8Bit(argv[2]);
  bool ok = form.grab().save(out + QStringLiteral("/launcher-step1.png"));
  form.findChild<QPushButton*>(QStringLiteral("cmdNext"))->click();
  QApplication::processEvents();
  ok = form.grab().save(out + QStringLiteral("/launcher-step2.png")) && ok;
  if (!ok) {
    std::fprintf(stderr, "%s: cannot write the pictures to %s\n", argv[0], argv[2]);
    return 1;
  }
  return 0;
}
