// Offscreen tests of the launcher window: the two steps, starting and waiting for a program,
// the failure message, tool tips and what the window writes back.
#include "start_form.h"

#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QHelpEvent>
#include <QImage>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QToolTip>
#include <QTreeWidget>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "platform/profile.h"
#include "platform/testing/temp_dir.h"

namespace {

namespace fs = std::filesystem;

// Bound of every wait in these tests, in milliseconds.
constexpr int kGenerousMs = 20000;

void write_file(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

// A script that records that it ran beside itself; a slow one then waits for "release" there.
void write_program(const fs::path& path, bool slow) {
  std::string script = "#!/bin/sh\nhere=$(dirname \"$0\")\ntouch \"$here/ran\"\n";
  if (slow) {
    script += "while [ ! -e \"$here/release\" ]; do sleep 0.02; done\n";
  }
  write_file(path, script);
  fs::permissions(path, fs::perms::owner_all);
}

void write_picture(const fs::path& path, Qt::GlobalColor colour) {
  fs::create_directories(path.parent_path());
  QImage image(24, 16, QImage::Format_RGB32);
  image.fill(colour);
  ASSERT_TRUE(image.save(QString::fromStdString(path.string()), "BMP"));
}

// Counts the times a widget is hidden.
class HideCounter : public QObject {
 public:
  int hides = 0;
  bool eventFilter(QObject*, QEvent* event) override {
    hides += event->type() == QEvent::Hide ? 1 : 0;
    return false;
  }
};

class StartFormTest : public ::testing::Test {
 protected:
  StartFormTest() {
    write_file(app_ / "Launcher.INI",
               "[PRINTER BRAND]\nVX40=Korvane\n"
               "[LANGUAGES]\nLASTSELECTED=English\nEnglish=English\nItaliano=Italiano\n");
    write_file(app_ / "English.INI",
               "[StartForm]\nStartForm=Resource kit\n"
               "[APP1]\nNAME=Slow\nINFOTIP=Waits for release\nFILENAME=slow.sh\nSUBDIR=Tools\n"
               "[APP2]\nNAME=Quick\nINFOTIP=Ends at once\nFILENAME=quick.sh\nSUBDIR=Tools\n"
               "[APP3]\nNAME=Missing\nFILENAME=missing.sh\nSUBDIR=Tools\n");
    write_file(app_ / "Italiano.INI",
               "[StartForm]\nStartForm=Kit di risorse\ncmdNext=Avanti >\ncmdPrevious=< Indietro\n"
               "[APP1]\nNAME=Lento\nFILENAME=slow.sh\nSUBDIR=Tools\n");
    write_program(app_ / "Tools" / "slow.sh", true);
    write_program(app_ / "Tools" / "quick.sh", false);
    write_picture(dir_ / "Image" / "VX40.BMP", Qt::darkGray);
    write_picture(dir_ / "Image" / "Korvane.BMP", Qt::blue);
  }

  ~StartFormTest() override {
    // Never leave a waiting program behind, even when a test fails half-way.
    write_file(app_ / "Tools" / "release", "");
    if (form_) {
      EXPECT_TRUE(QTest::qWaitFor([&] { return !model_->application_running(); }, kGenerousMs));
    }
  }

  void open() {
    form_.reset();  // the window goes before the model it shows
    model_ = std::make_unique<launcher::launcher_model>(app_, "Launcher");
    model_->start();
    form_ = std::make_unique<StartForm>(*model_);
    form_->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form_.get()));
  }

  template <typename T>
  T* child(const char* name) {
    T* found = form_->findChild<T*>(QLatin1String(name));
    EXPECT_NE(found, nullptr) << name;
    return found;
  }

  std::string main_value(const char* section, const char* key) {
    return platform::get_profile_string(section, key, "<missing>", app_ / "Launcher.INI", 256);
  }

  void select_application(int index) {
    auto* tree = child<QTreeWidget>("tvwApp");
    tree->setCurrentItem(tree->topLevelItem(index));
  }

  platform::testing::temp_dir dir_;
  fs::path app_ = dir_ / "Launcher";
  std::unique_ptr<launcher::launcher_model> model_;
  std::unique_ptr<StartForm> form_;
};

TEST_F(StartFormTest, NextAndPreviousMoveBetweenTheSteps) {
  open();
  auto* frmChooseLang = child<QGroupBox>("frmChooseLang");
  auto* frmChooseApp = child<QGroupBox>("frmChooseApp");
  auto* cmdPrevious = child<QPushButton>("cmdPrevious");
  auto* tvwLang = child<QTreeWidget>("tvwLang");
  auto* tvwApp = child<QTreeWidget>("tvwApp");

  EXPECT_EQ(form_->windowTitle(), QStringLiteral("Resource kit VX40"));
  EXPECT_FALSE(child<QLabel>("imgLogo")->pixmap().isNull());
  EXPECT_FALSE(child<QLabel>("imgPrinter")->pixmap().isNull());
  EXPECT_TRUE(frmChooseLang->isVisible());
  EXPECT_FALSE(frmChooseApp->isVisible());
  EXPECT_FALSE(cmdPrevious->isEnabled());
  EXPECT_EQ(frmChooseLang->title(), QStringLiteral("Choose language"));
  EXPECT_EQ(child<QPushButton>("cmdNext")->text(), QStringLiteral("Next >"));
  ASSERT_EQ(tvwLang->topLevelItemCount(), 2);
  EXPECT_EQ(tvwLang->currentItem()->text(0), QStringLiteral("English"));
  EXPECT_FALSE(tvwLang->topLevelItem(0)->icon(0).isNull());  // "English" is in the image lists

  QTest::mouseClick(child<QPushButton>("cmdNext"), Qt::LeftButton);
  EXPECT_FALSE(frmChooseLang->isVisible());
  EXPECT_TRUE(frmChooseApp->isVisible());
  EXPECT_TRUE(cmdPrevious->isEnabled());
  ASSERT_EQ(tvwApp->topLevelItemCount(), 3);
  EXPECT_EQ(tvwApp->topLevelItem(1)->text(0), QStringLiteral("Quick"));
  EXPECT_EQ(tvwApp->currentItem(), tvwApp->topLevelItem(0));
  EXPECT_EQ(main_value("LANGUAGES", "LASTSELECTED"), "English");

  QTest::mouseClick(cmdPrevious, Qt::LeftButton);
  EXPECT_TRUE(frmChooseLang->isVisible());
  EXPECT_FALSE(frmChooseApp->isVisible());
  EXPECT_FALSE(cmdPrevious->isEnabled());

  // Another language, made the default: its captions and applications follow.
  tvwLang->setCurrentItem(tvwLang->topLevelItem(1));
  child<QCheckBox>("cckSetAsDefault")->setChecked(true);
  QTest::mouseClick(child<QPushButton>("cmdNext"), Qt::LeftButton);
  EXPECT_EQ(form_->windowTitle(), QStringLiteral("Kit di risorse VX40"));
  EXPECT_EQ(child<QPushButton>("cmdNext")->text(), QStringLiteral("Avanti >"));
  EXPECT_EQ(cmdPrevious->text(), QStringLiteral("< Indietro"));
  ASSERT_EQ(tvwApp->topLevelItemCount(), 1);
  EXPECT_EQ(main_value("LANGUAGES", "DEFAULT"), "Italiano");
}

TEST_F(StartFormTest, DefaultLanguageOpensOnTheApplicationStep) {
  write_file(app_ / "Launcher.INI", "[LANGUAGES]\nDEFAULT=Italiano\nEnglish=English\nItaliano=Italiano\n");
  open();
  EXPECT_FALSE(child<QGroupBox>("frmChooseLang")->isVisible());
  EXPECT_TRUE(child<QGroupBox>("frmChooseApp")->isVisible());
  EXPECT_TRUE(child<QPushButton>("cmdPrevious")->isEnabled());
  EXPECT_EQ(child<QTreeWidget>("tvwApp")->topLevelItem(0)->text(0), QStringLiteral("Lento"));
  EXPECT_TRUE(child<QLabel>("imgLogo")->pixmap().isNull());  // no PRINTER BRAND: no pictures

  QTest::mouseClick(child<QPushButton>("cmdPrevious"), Qt::LeftButton);
  EXPECT_TRUE(child<QGroupBox>("frmChooseLang")->isVisible());
}

TEST_F(StartFormTest, WindowHidesWhileTheStartedProgramRunsAndComesBack) {
  for (const bool doubleClick : {false, true}) {
    SCOPED_TRACE(doubleClick ? "double click" : "Next >");
    fs::remove(app_ / "Tools" / "release");
    fs::remove(app_ / "Tools" / "ran");
    write_file(app_ / "Launcher.INI", "[LANGUAGES]\nDEFAULT=English\nEnglish=English\n");
    open();
    select_application(0);
    QSignalSpy ended(form_.get(), &StartForm::applicationEnded);

    if (doubleClick) {
      auto* tree = child<QTreeWidget>("tvwApp");
      const QPoint centre = tree->visualItemRect(tree->topLevelItem(0)).center();
      // A real double click: press and release, then the double-click event.
      QTest::mouseClick(tree->viewport(), Qt::LeftButton, Qt::NoModifier, centre);
      QTest::mouseDClick(tree->viewport(), Qt::LeftButton, Qt::NoModifier, centre);
    } else {
      QTest::mouseClick(child<QPushButton>("cmdNext"), Qt::LeftButton);
    }
    EXPECT_TRUE(QTest::qWaitFor([&] { return !form_->isVisible(); }, kGenerousMs));
    EXPECT_TRUE(form_->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_TRUE(fs::exists(app_ / "Tools" / "ran"));
    // It stays hidden while the program runs, the event loop turning meanwhile.
    QTest::qWait(3 * launcher::kPollStepMs);
    EXPECT_FALSE(form_->isVisible());
    EXPECT_TRUE(ended.isEmpty());

    write_file(app_ / "Tools" / "release", "");
    EXPECT_TRUE(ended.wait(kGenerousMs));
    EXPECT_TRUE(form_->isVisible());
    EXPECT_FALSE(form_->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_TRUE(child<QGroupBox>("frmChooseApp")->isVisible());  // ready for the next choice
  }
}

TEST_F(StartFormTest, ProgramEndingAtOnceNeverHidesTheWindow) {
  open();
  QTest::mouseClick(child<QPushButton>("cmdNext"), Qt::LeftButton);
  select_application(1);
  HideCounter counter;
  form_->installEventFilter(&counter);
  QTest::mouseClick(child<QPushButton>("cmdNext"), Qt::LeftButton);
  EXPECT_TRUE(fs::exists(app_ / "Tools" / "ran"));
  EXPECT_EQ(counter.hides, 0);
  EXPECT_TRUE(form_->isVisible());
  EXPECT_FALSE(model_->application_running());
}

TEST_F(StartFormTest, FailingStartShowsACriticalMessage) {
  open();
  QTest::mouseClick(child<QPushButton>("cmdNext"), Qt::LeftButton);
  select_application(2);

  // The message box is modal: read and close it from a timer inside its own loop.
  QString text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QTimer poll;
  int tries = 0;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      text = box->text();
      icon = box->icon();
      box->accept();
    } else if (++tries * 10 > kGenerousMs) {
      poll.stop();  // never showed: the checks below fail
    }
  });
  poll.start(10);
  QTest::mouseClick(child<QPushButton>("cmdNext"), Qt::LeftButton);
  poll.stop();
  const QString expected =
      QStringLiteral("Error 2 creating process ") + QString::fromStdString((app_ / "Tools" / "missing.sh").string());
  EXPECT_EQ(text, expected);
  EXPECT_EQ(icon, QMessageBox::Critical);
  EXPECT_TRUE(form_->isVisible());
}

TEST_F(StartFormTest, ToolTipsNameTheNodeOrTheFrame) {
  open();
  auto* tvwLang = child<QTreeWidget>("tvwLang");
  const QPoint onLanguage = tvwLang->visualItemRect(tvwLang->topLevelItem(0)).center();
  QHelpEvent overLanguage(QEvent::ToolTip, onLanguage, tvwLang->viewport()->mapToGlobal(onLanguage));
  QApplication::sendEvent(tvwLang->viewport(), &overLanguage);
  EXPECT_EQ(QToolTip::text(), QStringLiteral("Choose language"));

  QTest::mouseClick(child<QPushButton>("cmdNext"), Qt::LeftButton);
  auto* tvwApp = child<QTreeWidget>("tvwApp");
  struct row {
    const char* what;
    QPoint position;
    QString expected;
  };
  const std::vector<row> rows = {
      {"first node", tvwApp->visualItemRect(tvwApp->topLevelItem(0)).center(), QStringLiteral("Waits for release")},
      {"second node", tvwApp->visualItemRect(tvwApp->topLevelItem(1)).center(), QStringLiteral("Ends at once")},
      {"no node", QPoint(5, tvwApp->viewport()->height() - 3), QStringLiteral("Choose application")},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.what);
    QToolTip::hideText();
    QHelpEvent event(QEvent::ToolTip, r.position, tvwApp->viewport()->mapToGlobal(r.position));
    QApplication::sendEvent(tvwApp->viewport(), &event);
    EXPECT_EQ(QToolTip::text(), r.expected);
  }
  QToolTip::hideText();
}

TEST_F(StartFormTest, LeavingTheApplicationTreeRemembersTheSelection) {
  open();
  form_->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(form_.get()));
  QTest::mouseClick(child<QPushButton>("cmdNext"), Qt::LeftButton);
  auto* tvwApp = child<QTreeWidget>("tvwApp");
  ASSERT_TRUE(QTest::qWaitFor([&] { return tvwApp->hasFocus(); }, kGenerousMs));
  select_application(2);
  EXPECT_EQ(main_value("APPLICATIONS", "LASTSELECTED"), "<missing>");
  child<QPushButton>("cmdCancel")->setFocus();
  EXPECT_EQ(main_value("APPLICATIONS", "LASTSELECTED"), "APP3");
}

TEST_F(StartFormTest, CancelClosesTheWindow) {
  open();
  QTest::mouseClick(child<QPushButton>("cmdCancel"), Qt::LeftButton);
  EXPECT_FALSE(form_->isVisible());
}

}  // namespace

int main(int argc, char** argv) {
  // The tests never need a display.
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
