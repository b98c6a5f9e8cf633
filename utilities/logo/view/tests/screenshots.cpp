// Writes pictures of LogoForm on the two-colour virtual printer (identification 46) with three
// logos: two stored in the printer (one of them in black and red) and one new, converted into
// black and red with error diffusion, rendered offscreen in a temporary registry:
// logo-window.png (the new logo's tab) and logo-window-all.png
// (the tab "All logos"):
//   logo_screenshots IMAGES_FOLDER OUTPUT_FOLDER
// IMAGES_FOLDER holds cafe-logo.bmp, cafe-logo-2c.bmp and coffee-bean.bmp (examples/images).
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QMessageBox>
#include <QMouseEvent>
#include <QScrollArea>
#include <QTabBar>
#include <QPushButton>
#include <QTimer>

#include <cstdio>
#include <filesystem>

#include "logo/image_library.h"
#include "logo_window.h"
#include "screenshot_session.h"

int main(int argc, char** argv) {
  if (!utilities_test::screenshot_session::arguments_given(argc, argv, "IMAGES_FOLDER OUTPUT_FOLDER")) return 2;
  utilities_test::screenshot_session session(argc, argv);
  if (!session.register_monitor()) return 1;
  session.set_port("COM1", "sim:counter?id=46", "Counter");

  std::string error;
  const auto images = logo::image_library::load(LOGO_PROGRAM_DIR, error);
  if (!images) {
    std::fprintf(stderr, "%s: %s\n", argv[0], error.c_str());
    return 1;
  }
  images->SetCurrentPath(std::string(LOGO_PROGRAM_DIR) + "/");

  // A message would mean the picture does not show what it should: it is told and closed.
  bool message = false;
  QTimer dismiss;
  QObject::connect(&dismiss, &QTimer::timeout, [&message] {
    auto* modal = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    if (modal == nullptr) return;
    auto* box = qobject_cast<QMessageBox*>(modal);
    auto* text = modal->findChild<QLabel*>(QStringLiteral("messageTxt"));
    std::fprintf(stderr, "message: %s\n",
                 (box ? box->text() : text ? text->text() : modal->windowTitle()).toLocal8Bit().constData());
    message = true;
    modal->reject();
  });
  dismiss.start(20);

  logo::logo_form_environment env;
  env.id = 46;
  env.model = "VX40";
  env.title = "Logo";
  env.app_path = LOGO_PROGRAM_DIR;
  env.library = images.get();
  logo_view::LogoForm form(session.channel_of("COM1"), std::move(env), "LOCAL");
  form.show();
  form.startInquiry();

  const std::filesystem::path folder = argv[1];
  form.addPictures({folder / "cafe-logo.bmp", folder / "cafe-logo-2c.bmp", folder / "coffee-bean.bmp"});
  // The second logo in black and red.
  form.showEntry(1);
  auto* colours = form.findChild<QComboBox*>(QStringLiteral("cmbColor"));
  colours->setCurrentIndex(colours->findText(QStringLiteral("Two colors")));
  // The first two are stored in the printer; the third stays new and selected. Thumbnails are
  // clicked as the user does.
  const auto click_thumb = [&form](int i) {
    auto* strip = form.findChild<QScrollArea*>(QStringLiteral("picSlide"));
    const QList<QFrame*> frames =
        strip->widget()->findChildren<QFrame*>(QStringLiteral("picThumbFrame"), Qt::FindDirectChildrenOnly);
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(5, 5), frames[i]->mapToGlobal(QPointF(5, 5)),
                      Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(frames[i], &press);
  };
  form.findChild<QPushButton*>(QStringLiteral("cmdSelectNone"))->click();
  click_thumb(0);
  click_thumb(1);
  form.findChild<QPushButton*>(QStringLiteral("cmdDwldLogo"))->click();
  form.findChild<QPushButton*>(QStringLiteral("cmdSelectNone"))->click();
  click_thumb(2);
  // The new one shown: a brown picture turned into black and red dots with error diffusion.
  form.showEntry(2);
  colours->setCurrentIndex(colours->findText(QStringLiteral("Two colors")));
  form.findChild<QCheckBox*>(QStringLiteral("chkErrorDiffusion"))->setChecked(true);

  bool saved = session.shoot(form, argv[2], "logo-window.png");
  form.findChild<QTabBar*>(QStringLiteral("TabStrip"))->setCurrentIndex(0);
  saved = session.shoot(form, argv[2], "logo-window-all.png") && saved;
  if (!saved) {
    std::fprintf(stderr, "%s: cannot write the pictures to %s\n", argv[0], argv[2]);
    return 1;
  }
  return message ? 1 : 0;
}
