// Offscreen tests of LogoForm on a virtual printer through the real monitor: the captions, the
// start inquiry's memory labels, pictures added through the file dialog (thumbnails, tabs,
// pictures), the buttons following the model as the selection changes, the model's messages and
// questions answered in their dialogs, closing during an operation, and the settings controls.
#include "logo_window.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QStatusBar>
#include <QTabBar>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <chrono>
#include <deque>
#include <functional>

#include <gtest/gtest.h>

#include "fake_servers.h"
#include "link_fixture.h"
#include "logo/image_library.h"
#include "monitor/sim.h"
#include "start_form.h"

namespace logo_view_test {
namespace {

using logo_view::LogoForm;

// Answers the modal dialogs that open while a test runs, in order: each step gets the dialog and
// its text; a dialog without a step left is closed with its negative button.
class ModalAnswerer {
 public:
  using step = std::function<void(QDialog&)>;
  ModalAnswerer() {
    QObject::connect(&timer_, &QTimer::timeout, [this] { poll(); });
    timer_.start(5);
  }
  void then(step s) { steps_.push_back(std::move(s)); }
  // The texts of the dialogs seen (a file dialog counts with its title).
  const std::vector<QString>& seen() const { return seen_; }

  // Steps for the common answers.
  static step press(QMessageBox::StandardButton button) {
    return [button](QDialog& d) {
      // A wrong dialog fails the test and is closed, so that the test goes on.
      auto* box = qobject_cast<QMessageBox*>(&d);
      if (box == nullptr || box->button(button) == nullptr) {
        ADD_FAILURE() << "no such button in " << d.objectName().toStdString();
        d.reject();
        return;
      }
      box->button(button)->click();
    };
  }
  static step choose(const QString& folder, const QString& files) {
    return [folder, files](QDialog& d) {
      auto* dialog = qobject_cast<QFileDialog*>(&d);
      if (dialog == nullptr) {
        ADD_FAILURE() << "not a file dialog: " << d.objectName().toStdString();
        d.reject();
        return;
      }
      dialog->setDirectory(folder);
      dialog->selectFile(files);
      d.accept();  // QFileDialog::accept through the public QDialog member
    };
  }

 private:
  void poll() {
    auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    // A dialog is answered once (the next one may well live at the same address).
    if (dialog == nullptr || dialog->property("answered").toBool()) return;
    dialog->setProperty("answered", true);
    if (auto* box = qobject_cast<QMessageBox*>(dialog)) {
      seen_.push_back(box->text());
    } else if (auto* text = dialog->findChild<QLabel*>(QStringLiteral("messageTxt"))) {
      seen_.push_back(text->text());
    } else {
      seen_.push_back(dialog->windowTitle());
    }
    if (steps_.empty()) {
      dialog->reject();
      return;
    }
    step s = std::move(steps_.front());
    steps_.pop_front();
    s(*dialog);
  }

  QTimer timer_;
  std::deque<step> steps_;
  std::vector<QString> seen_;
};

class LogoWindowTest : public utilities_test::LinkTest {
 protected:
  void SetUp() override {
    LinkTest::SetUp();
    std::string error;
    library_ = logo::image_library::load(LOGO_PROGRAM_DIR, error);
    ASSERT_NE(library_, nullptr) << error;
    library_->SetCurrentPath(std::string(LOGO_PROGRAM_DIR) + "/");
  }

  // A window on a fresh virtual printer answering `id`, shown, its start inquiry done.
  // `clock` (when given) is the model's time.
  std::unique_ptr<LogoForm> open(int id, bool start = true, const std::string& faults = "",
                                 std::function<std::chrono::steady_clock::time_point()> clock = {}) {
    uri_ = fresh_sim("logo", "?id=" + std::to_string(id) + faults);
    set_port("COM1", uri_, "VX40", "Counter");
    logo::logo_form_environment env;
    env.clock = std::move(clock);
    env.id = id;
    env.model = "VX40";
    env.title = "Logo";
    env.app_path = LOGO_PROGRAM_DIR;
    env.library = library_.get();
    auto form = std::make_unique<LogoForm>(channel_of("COM1"), std::move(env), "LOCAL");
    if (start) {
      form->show();
      QApplication::processEvents();  // StartTimer's tick: the inquiry
      settle();
    }
    return form;
  }

  // Lets pending events and dialogs run (bounded).
  static void settle() {
    for (int i = 0; i < 5; ++i) QTest::qWait(10);
  }

  // A 24-bit BMP of `w` x `h` in the test's folder: white, a black block on the left, a red one on
  // the right.
  QString picture(const QString& name, int w = 64, int h = 32) {
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter p(&image);
    p.fillRect(2, 2, w / 2 - 4, h - 4, Qt::black);
    p.fillRect(w / 2 + 2, 2, w / 2 - 4, h - 4, Qt::red);
    p.end();
    const QString file = folder() + QLatin1Char('/') + name;
    EXPECT_TRUE(image.save(file, "BMP"));
    return file;
  }
  QString folder() const { return QString::fromStdString(dir_.path().string()); }

  // Adds `files` (names in the test's folder, quoted when several) through cmdAddLogo's dialog.
  void add(LogoForm& form, ModalAnswerer& answers, const QString& files) {
    answers.then(ModalAnswerer::choose(folder(), files));
    button(form, "cmdAddLogo")->click();
    settle();
  }

  static QPushButton* button(LogoForm& form, const char* name) {
    auto* b = form.findChild<QPushButton*>(QString::fromLatin1(name));
    EXPECT_NE(b, nullptr) << name;
    return b;
  }
  static QString label(LogoForm& form, const char* name) {
    auto* l = form.findChild<QLabel*>(QString::fromLatin1(name));
    return l != nullptr ? l->text() : QStringLiteral("<none>");
  }
  // The thumbnail frames of a strip ("picSlide" or "picSlideAll").
  static QList<QFrame*> thumbs(LogoForm& form, const char* strip) {
    auto* area = form.findChild<QScrollArea*>(QString::fromLatin1(strip));
    if (area == nullptr) return {};
    return area->widget()->findChildren<QFrame*>(QStringLiteral("picThumbFrame"), Qt::FindDirectChildrenOnly);
  }

  std::unique_ptr<logo::image_library> library_;
  std::string uri_;  // the virtual printer of the last window opened
};

TEST_F(LogoWindowTest, ShowsEveryCaption) {
  auto form = open(46, /*start=*/false);
  EXPECT_EQ(form->windowTitle(), QStringLiteral("Logo VX40"));
  const std::pair<const char*, const char*> buttons[] = {
      {"cmdAddLogo", "Add logo"},         {"cmdDelLogo", "Delete logo"},
      {"cmdDwldLogo", "Download logo"},   {"cmdPrintLogo", "Print logo"},
      {"cmdClearMem", "Delete all logos"}, {"cmdPrintMemLogos", "Print all logos"},
      {"cmdExit", "Close"},               {"cmdSelectAll", "Select all"},
      {"cmdSelectNone", "Select none"}};
  for (const auto& [name, caption] : buttons) {
    auto* b = form->findChild<QAbstractButton*>(QString::fromLatin1(name));
    ASSERT_NE(b, nullptr) << name;
    EXPECT_EQ(b->text(), QString::fromLatin1(caption)) << name;
  }
  const std::pair<const char*, const char*> frames[] = {
      {"frmColor", "Color"}, {"frmPaperWidth", "Paper width"}, {"frmMemUsed", "Used memory"}, {"frmMemFree", "Free memory"}};
  for (const auto& [name, caption] : frames) {
    auto* g = form->findChild<QGroupBox*>(QString::fromLatin1(name));
    ASSERT_NE(g, nullptr) << name;
    EXPECT_EQ(g->title(), QString::fromLatin1(caption)) << name;
  }
  EXPECT_EQ(form->findChild<QCheckBox*>(QStringLiteral("chkErrorDiffusion"))->text(), QStringLiteral("Error diffusion"));
  EXPECT_EQ(form->findChild<QCheckBox*>(QStringLiteral("chkFit"))->text(), QStringLiteral("Fit to paper width"));
  EXPECT_EQ(label(*form, "lblView"), QStringLiteral("Original image"));
  EXPECT_EQ(label(*form, "lblPreview"), QStringLiteral("Preview"));
  // Before the inquiry the memory is not known.
  EXPECT_EQ(label(*form, "lblMemUsed"), QStringLiteral("- - - -"));
  EXPECT_EQ(label(*form, "lblMemFree"), QStringLiteral("- - - -"));
  auto* tabs = form->findChild<QTabBar*>(QStringLiteral("TabStrip"));
  ASSERT_NE(tabs, nullptr);
  EXPECT_EQ(tabs->count(), 1);
  EXPECT_EQ(tabs->tabText(0), QStringLiteral("All logos"));
  EXPECT_NE(form->findChild<QProgressBar*>(QStringLiteral("ProgressBar")), nullptr);
  EXPECT_EQ(label(*form, "WorkingMode"), QStringLiteral("LOCAL"));
  // The widths and colours of a two-colour printer.
  auto* widths = form->findChild<QComboBox*>(QStringLiteral("cmbPaperWidth"));
  auto* colours = form->findChild<QComboBox*>(QStringLiteral("cmbColor"));
  QStringList w, c;
  for (int i = 0; i < widths->count(); ++i) w << widths->itemText(i);
  for (int i = 0; i < colours->count(); ++i) c << colours->itemText(i);
  EXPECT_EQ(w, (QStringList{"80 mm", "60 mm", "58 mm"}));
  EXPECT_EQ(c, (QStringList{"Black & white", "Two colors"}));
}

TEST_F(LogoWindowTest, StartInquiryShowsTheMemoryAndTheButtonsOfThePrinter) {
  // The virtual printer answers GS I 2 with bit 2 clear: printers that ask it lose "Print logo".
  const struct {
    int id;
    bool memory;       // the memory labels show numbers
    bool print_shown;  // cmdPrintLogo
    bool print_all;    // cmdPrintMemLogos enabled
    const char* status;
  } cases[] = {
      {46, true, true, true, "Ready..."},
      {161, true, false, false, "Ready..."},
      {32, false, true, true, "Printer ready..."},  // nothing to ask a printer without logo memory
      {10, false, false, false, "Ready..."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.id);
    ModalAnswerer answers;
    auto form = open(c.id);
    EXPECT_TRUE(answers.seen().empty()) << answers.seen().front().toStdString();
    if (c.memory) {
      bool number = false;
      const int free = label(*form, "lblMemFree").toInt(&number);
      EXPECT_TRUE(number) << label(*form, "lblMemFree").toStdString();
      EXPECT_GT(free, 0);
      EXPECT_EQ(label(*form, "lblMemUsed"), QStringLiteral("0"));
    } else {
      EXPECT_EQ(label(*form, "lblMemFree"), QStringLiteral("- - - -"));
    }
    EXPECT_EQ(label(*form, "ProgramStatus"), QString::fromLatin1(c.status));
    EXPECT_EQ(button(*form, "cmdPrintLogo")->isVisible(), c.print_shown);
    EXPECT_EQ(button(*form, "cmdPrintMemLogos")->isEnabled(), c.print_all);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);  // the hourglass is gone
  }
}

TEST_F(LogoWindowTest, WindowUnloadsWhenTheInquiryCannotOpenTheChannel) {
  ModalAnswerer answers;
  auto form = open(46, /*start=*/true, "&fault=disconnect");
  ASSERT_EQ(answers.seen().size(), 1u);
  EXPECT_TRUE(answers.seen()[0].startsWith(QStringLiteral("Raised error "))) << answers.seen()[0].toStdString();
  EXPECT_FALSE(form->isVisible());
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(LogoWindowTest, AddedPictureShowsThumbnailTabAndPictures) {
  ModalAnswerer answers;
  auto form = open(46);
  picture(QStringLiteral("one.bmp"));
  // The file dialog offers BMP files, several at a time.
  answers.then([this](QDialog& d) {
    if (auto* dialog = qobject_cast<QFileDialog*>(&d)) {
      EXPECT_EQ(dialog->nameFilters(), QStringList{QStringLiteral("BMP Files (*.bmp)")});
      EXPECT_EQ(dialog->fileMode(), QFileDialog::ExistingFiles);
      EXPECT_EQ(dialog->defaultSuffix(), QStringLiteral("bmp"));
    }
    ModalAnswerer::choose(folder(), QStringLiteral("one.bmp"))(d);
  });
  button(*form, "cmdAddLogo")->click();
  settle();
  ASSERT_EQ(answers.seen().size(), 1u);
  EXPECT_EQ(answers.seen()[0], QStringLiteral("Select one or more files"));

  ASSERT_EQ(form->model().entries().size(), 1u);
  for (const char* strip : {"picSlide", "picSlideAll"}) {
    const QList<QFrame*> frames = thumbs(*form, strip);
    ASSERT_EQ(frames.size(), 1) << strip;
    auto* thumb = frames[0]->findChild<QLabel*>(QStringLiteral("picThumb"));
    ASSERT_NE(thumb, nullptr);
    EXPECT_FALSE(thumb->pixmap().isNull()) << strip;
    EXPECT_EQ(frames[0]->findChild<QLabel*>(QStringLiteral("lblThumbState"))->text(), QStringLiteral("New(00)"));
  }
  auto* tabs = form->findChild<QTabBar*>(QStringLiteral("TabStrip"));
  ASSERT_EQ(tabs->count(), 2);
  EXPECT_EQ(tabs->tabText(1), QStringLiteral("New(00)"));
  EXPECT_EQ(tabs->currentIndex(), 1);
  EXPECT_EQ(form->currentEntry(), std::optional<std::size_t>(0));
  EXPECT_FALSE(form->findChild<QLabel*>(QStringLiteral("picView"))->pixmap().isNull());
  EXPECT_FALSE(form->findChild<QLabel*>(QStringLiteral("picPreview"))->pixmap().isNull());
  // The settings show the entry's: the first width and black and white.
  EXPECT_EQ(form->findChild<QComboBox*>(QStringLiteral("cmbPaperWidth"))->currentText(), QStringLiteral("80 mm"));
  EXPECT_EQ(form->findChild<QComboBox*>(QStringLiteral("cmbColor"))->currentText(), QStringLiteral("Black & white"));

  // The tab "All logos" shows every thumbnail; the entry's tab its pictures again.
  tabs->setCurrentIndex(0);
  EXPECT_TRUE(form->findChild<QScrollArea*>(QStringLiteral("picSlideAll"))->isVisible());
  tabs->setCurrentIndex(1);
  EXPECT_TRUE(form->findChild<QLabel*>(QStringLiteral("picPreview"))->isVisible());
}

TEST_F(LogoWindowTest, StripScrollsToTheEntryShown) {
  ModalAnswerer answers;
  auto form = open(46);
  QString names;
  for (int i = 0; i < 12; ++i) {
    const QString name = QStringLiteral("p%1.bmp").arg(i);
    picture(name, 24, 16);
    names += QLatin1Char('"') + name + QStringLiteral("\" ");
  }
  add(*form, answers, names.trimmed());
  ASSERT_EQ(form->model().entries().size(), 12u);
  auto* strip = form->findChild<QScrollArea*>(QStringLiteral("picSlide"));
  const auto in_view = [&](int i) {
    QFrame* frame = thumbs(*form, "picSlide")[i];
    const QRect r(frame->mapTo(strip->viewport(), QPoint(0, 0)), frame->size());
    return strip->viewport()->rect().contains(r);
  };
  // The first added is shown; the last is off to the right.
  EXPECT_TRUE(in_view(0));
  EXPECT_FALSE(in_view(11));
  form->showEntry(11);
  settle();
  EXPECT_TRUE(in_view(11));
  EXPECT_GT(strip->horizontalScrollBar()->value(), 0);
}

TEST_F(LogoWindowTest, ButtonsFollowTheSelection) {
  ModalAnswerer answers;
  auto form = open(46);
  picture(QStringLiteral("a.bmp"));
  picture(QStringLiteral("b.bmp"));
  add(*form, answers, QStringLiteral("\"a.bmp\" \"b.bmp\""));
  ASSERT_EQ(form->model().entries().size(), 2u);
  const auto expect_buttons = [&](const char* when) {
    const logo::button_states& b = form->model().buttons();
    EXPECT_EQ(button(*form, "cmdDelLogo")->isEnabled(), b.del) << when;
    EXPECT_EQ(button(*form, "cmdDwldLogo")->isEnabled(), b.download) << when;
    EXPECT_EQ(button(*form, "cmdPrintLogo")->isEnabled(), b.print) << when;
    const QList<QFrame*> frames = thumbs(*form, "picSlide");
    for (std::size_t i = 0; i < form->model().entries().size(); ++i) {
      const bool highlighted =
          frames[static_cast<int>(i)]->palette().color(QPalette::Window) == QApplication::palette().color(QPalette::Highlight);
      EXPECT_EQ(highlighted, form->model().entries()[i].selected) << when << " entry " << i;
    }
  };

  button(*form, "cmdSelectNone")->click();
  expect_buttons("none selected");
  EXPECT_FALSE(button(*form, "cmdDelLogo")->isEnabled());
  EXPECT_FALSE(button(*form, "cmdDwldLogo")->isEnabled());

  // A click on the second thumbnail selects it and shows it.
  QTest::mouseClick(thumbs(*form, "picSlide")[1], Qt::LeftButton);
  expect_buttons("second clicked");
  EXPECT_TRUE(form->model().entries()[1].selected);
  EXPECT_FALSE(form->model().entries()[0].selected);
  EXPECT_TRUE(button(*form, "cmdDelLogo")->isEnabled());
  EXPECT_TRUE(button(*form, "cmdDwldLogo")->isEnabled());
  EXPECT_EQ(form->currentEntry(), std::optional<std::size_t>(1));

  // A second click takes the mark away again.
  QTest::mouseClick(thumbs(*form, "picSlide")[1], Qt::LeftButton);
  expect_buttons("second clicked again");
  EXPECT_FALSE(form->model().entries()[1].selected);

  button(*form, "cmdSelectAll")->click();
  expect_buttons("all selected");
  EXPECT_TRUE(button(*form, "cmdPrintLogo")->isEnabled());
}

TEST_F(LogoWindowTest, ModelMessagesAndQuestionsAreAnsweredInDialogs) {
  ModalAnswerer answers;
  auto form = open(46);
  picture(QStringLiteral("keep.bmp"));
  // A file that is not a BMP: the model's message comes up and is closed.
  {
    QFile text(folder() + QStringLiteral("/notes.txt"));
    ASSERT_TRUE(text.open(QIODevice::WriteOnly));
    text.write("not a picture");
  }
  answers.then(ModalAnswerer::choose(folder(), QStringLiteral("notes.txt")));
  button(*form, "cmdAddLogo")->click();
  settle();
  ASSERT_EQ(answers.seen().size(), 2u);
  EXPECT_TRUE(answers.seen()[1].startsWith(QStringLiteral("The selected file "))) << answers.seen()[1].toStdString();
  EXPECT_TRUE(answers.seen()[1].contains(QStringLiteral("Please select a valid BMP file.")));
  EXPECT_TRUE(form->model().entries().empty());

  add(*form, answers, QStringLiteral("keep.bmp"));
  ASSERT_EQ(form->model().entries().size(), 1u);
  button(*form, "cmdSelectAll")->click();

  // Delete asks Yes/No: No keeps the entry, Yes removes it with its thumbnail and tab.
  answers.then(ModalAnswerer::press(QMessageBox::No));
  button(*form, "cmdDelLogo")->click();
  settle();
  EXPECT_TRUE(answers.seen().back().startsWith(QStringLiteral("Are you sure you want to delete ")))
      << answers.seen().back().toStdString();
  EXPECT_EQ(form->model().entries().size(), 1u);

  answers.then(ModalAnswerer::press(QMessageBox::Yes));
  button(*form, "cmdDelLogo")->click();
  settle();
  EXPECT_TRUE(form->model().entries().empty());
  EXPECT_TRUE(thumbs(*form, "picSlide").isEmpty());
  EXPECT_EQ(form->findChild<QTabBar*>(QStringLiteral("TabStrip"))->count(), 1);
  EXPECT_EQ(form->currentEntry(), std::nullopt);
}

TEST_F(LogoWindowTest, DeletingAnotherEntryKeepsTheOneShown) {
  ModalAnswerer answers;
  auto form = open(46);
  picture(QStringLiteral("a.bmp"));
  picture(QStringLiteral("b.bmp"), 40, 40);
  add(*form, answers, QStringLiteral("\"a.bmp\" \"b.bmp\""));
  ASSERT_EQ(form->model().entries().size(), 2u);
  button(*form, "cmdSelectNone")->click();
  QTest::mouseClick(thumbs(*form, "picSlide")[0], Qt::LeftButton);  // marks the first
  auto* tabs = form->findChild<QTabBar*>(QStringLiteral("TabStrip"));
  tabs->setCurrentIndex(2);  // shows the second
  ASSERT_EQ(form->currentEntry(), std::optional<std::size_t>(1));

  answers.then(ModalAnswerer::press(QMessageBox::Yes));
  button(*form, "cmdDelLogo")->click();
  settle();
  ASSERT_EQ(form->model().entries().size(), 1u);
  EXPECT_EQ(form->model().entries()[0].key, "01");
  // The second is still the one shown, now first in the list.
  EXPECT_EQ(form->currentEntry(), std::optional<std::size_t>(0));
  ASSERT_EQ(tabs->count(), 2);
  EXPECT_EQ(tabs->currentIndex(), 1);
  EXPECT_EQ(tabs->tabText(1), QStringLiteral("New(01)"));
  const QPixmap shown = form->findChild<QLabel*>(QStringLiteral("picView"))->pixmap();
  ASSERT_FALSE(shown.isNull());
  EXPECT_EQ(shown.width(), shown.height());  // the square picture b.bmp
}

TEST_F(LogoWindowTest, ProgressBarFollowsTheDeletionWait) {
  ModalAnswerer answers;
  // A second passes at every look at the clock.
  auto t = std::chrono::steady_clock::time_point{};
  auto form = open(46, true, "", [&t] { return t += std::chrono::seconds(1); });
  picture(QStringLiteral("stored.bmp"));
  add(*form, answers, QStringLiteral("stored.bmp"));
  button(*form, "cmdSelectAll")->click();
  button(*form, "cmdDwldLogo")->click();
  settle();
  ASSERT_EQ(form->model().entries().size(), 1u);
  ASSERT_TRUE(form->model().entries()[0].stored);

  // The cover is open: the printer takes the deletion but does not answer.
  monitor::sim_printer(uri_)->inject_fault(vprinter::fault::cover_open);
  auto* bar = form->findChild<QProgressBar*>(QStringLiteral("ProgressBar"));
  int shown = -1;
  answers.then(ModalAnswerer::press(QMessageBox::Yes));
  answers.then([&](QDialog& d) {
    shown = bar->value();
    ModalAnswerer::press(QMessageBox::Cancel)(d);
  });
  button(*form, "cmdDelLogo")->click();
  settle();
  ASSERT_GE(answers.seen().size(), 2u);
  EXPECT_EQ(answers.seen().back(), QStringLiteral("Timeout waiting for logo deletion: printer offline?"));
  // The bar showed how far the wait had got when it asked, and is empty once it ended.
  EXPECT_EQ(shown, 87);
  EXPECT_EQ(bar->value(), 0);
  EXPECT_EQ(form->model().entries().size(), 1u);
}

TEST_F(LogoWindowTest, QuestionsOfferTheButtonsAskedForAndReturnTheOneChosen) {
  auto form = open(46, /*start=*/false);
  form->show();
  using utilities::box_answer;
  using utilities::box_buttons;
  const struct {
    box_buttons buttons;
    QMessageBox::StandardButtons shown;
    QMessageBox::StandardButton press;  // NoButton: the box is closed (Escape)
    box_answer answer;
  } cases[] = {
      {box_buttons::retry_cancel, QMessageBox::Retry | QMessageBox::Cancel, QMessageBox::Retry, box_answer::retry},
      {box_buttons::retry_cancel, QMessageBox::Retry | QMessageBox::Cancel, QMessageBox::Cancel, box_answer::cancel},
      {box_buttons::retry_cancel, QMessageBox::Retry | QMessageBox::Cancel, QMessageBox::NoButton, box_answer::cancel},
      {box_buttons::yes_no, QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes, box_answer::yes},
      {box_buttons::yes_no, QMessageBox::Yes | QMessageBox::No, QMessageBox::NoButton, box_answer::no},
      {box_buttons::ok_cancel, QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Ok, box_answer::ok},
      {box_buttons::ok_cancel, QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::NoButton, box_answer::cancel},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.buttons) * 100 + static_cast<int>(c.press));
    ModalAnswerer answers;
    QMessageBox::StandardButtons shown;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    answers.then([&](QDialog& d) {
      auto* box = qobject_cast<QMessageBox*>(&d);
      if (box == nullptr) {
        ADD_FAILURE() << "not a message box: " << d.objectName().toStdString();
        d.reject();
        return;
      }
      shown = box->standardButtons();
      icon = box->icon();
      if (c.press == QMessageBox::NoButton) {
        QTest::keyClick(box, Qt::Key_Escape);
      } else {
        box->button(c.press)->click();
      }
    });
    EXPECT_EQ(form->ask("Retry?\rAgain", c.buttons, utilities::box_icon::question), c.answer);
    EXPECT_EQ(shown, c.shown);
    EXPECT_EQ(icon, QMessageBox::Question);
    ASSERT_EQ(answers.seen().size(), 1u);
    EXPECT_EQ(answers.seen()[0], QStringLiteral("Retry?\nAgain"));  // CR ends a line
  }
}

TEST_F(LogoWindowTest, ClosingDuringAnOperationWaitsForItsEnd) {
  ModalAnswerer answers;
  auto form = open(46);
  bool closed = false;
  QObject::connect(form.get(), &QWidget::destroyed, [&closed] { closed = true; });
  form->setAttribute(Qt::WA_DeleteOnClose, false);
  // While "delete all" asks its question the window is closed: it stays until the answer.
  answers.then([&form](QDialog& d) {
    EXPECT_FALSE(form->close());
    EXPECT_TRUE(form->end_requested());
    EXPECT_TRUE(form->isVisible());
    EXPECT_NE(QApplication::overrideCursor(), nullptr);  // the hourglass while it runs
    ModalAnswerer::press(QMessageBox::No)(d);
  });
  button(*form, "cmdClearMem")->click();
  settle();
  ASSERT_EQ(answers.seen().size(), 1u);
  EXPECT_EQ(answers.seen()[0], QStringLiteral("Are you sure you want to delete all stored logos?"));
  EXPECT_FALSE(form->isVisible());  // closed once the operation ended
  EXPECT_FALSE(closed);
}

TEST_F(LogoWindowTest, SettingsControlsConvertTheCurrentEntryAgain) {
  ModalAnswerer answers;
  auto form = open(46);
  picture(QStringLiteral("colours.bmp"));
  add(*form, answers, QStringLiteral("colours.bmp"));
  ASSERT_EQ(form->model().entries().size(), 1u);
  auto* colours = form->findChild<QComboBox*>(QStringLiteral("cmbColor"));
  auto* widths = form->findChild<QComboBox*>(QStringLiteral("cmbPaperWidth"));
  auto* fit = form->findChild<QCheckBox*>(QStringLiteral("chkFit"));
  auto* diffusion = form->findChild<QCheckBox*>(QStringLiteral("chkErrorDiffusion"));
  ASSERT_TRUE(colours->isEnabled());

  colours->setCurrentIndex(colours->findText(QStringLiteral("Two colors")));
  widths->setCurrentIndex(widths->findText(QStringLiteral("58 mm")));
  diffusion->setChecked(true);
  fit->setChecked(true);
  settle();
  const logo::entry_settings& s = form->model().entries()[0].settings;
  EXPECT_EQ(s.colour_mode, logo::kModeTwoColors);
  EXPECT_EQ(s.paper_width_dots, 390);
  EXPECT_TRUE(s.diffusion);
  EXPECT_TRUE(s.fit);
  // Two colours: the preview holds red, and the printer gets two planes.
  const logo::dib* preview = form->model().preview_picture(0);
  ASSERT_NE(preview, nullptr);
  bool red = false;
  for (int y = 0; y < preview->height() && !red; ++y)
    for (int x = 0; x < preview->width() && !red; ++x) red = preview->pixel(x, y) == logo::rgb{255, 0, 0};
  EXPECT_TRUE(red);
  EXPECT_EQ(form->model().planes_of(0).planes.size(), 2u);
  EXPECT_TRUE(answers.seen().size() == 1u) << answers.seen().back().toStdString();  // only the file dialog

  // Once stored, the logo is in the printer as it was converted: its settings are not offered.
  button(*form, "cmdSelectAll")->click();
  button(*form, "cmdDwldLogo")->click();
  settle();
  ASSERT_TRUE(form->model().entries()[0].stored);
  EXPECT_EQ(thumbs(*form, "picSlide")[0]->findChild<QLabel*>(QStringLiteral("lblThumbState"))->text(),
            QStringLiteral("Logo(00)"));
  for (QWidget* control : std::initializer_list<QWidget*>{colours, widths, fit, diffusion})
    EXPECT_FALSE(control->isEnabled()) << control->objectName().toStdString();
}

TEST_F(LogoWindowTest, BrowserOfTheLogoProgramOpensTheWindow) {
  ModalAnswerer answers;
  set_port("COM1", fresh_sim("browser", "?id=46"), "VX40", "Counter");
  utilities_view::register_utility_window(utilities::window_kind::logo, &LogoForm::open);
  utilities_test::fake_network net;
  net.servers["till1"] = utilities_test::server_kind::reachable;
  utilities::browser_environment env;
  env.exe_name = "Logo";
  env.title = "Logo";
  env.app_path = LOGO_PROGRAM_DIR;
  env.computer_name = "till1";
  env.domain = "STORE";
  utilities_view::StartForm browser([&net] { return std::make_unique<utilities_test::fake_creator>(net); }, env);
  browser.show();
  browser.load();
  auto* tree = browser.findChild<QTreeWidget*>(QStringLiteral("tvwServerCollection"));
  ASSERT_NE(tree, nullptr);
  ASSERT_EQ(tree->topLevelItemCount(), 1);
  tree->setCurrentItem(tree->topLevelItem(0)->child(0));
  tree->setFocus();
  QTest::keyClick(tree, Qt::Key_Return);
  settle();

  auto* form = browser.findChild<LogoForm*>(QStringLiteral("LogoForm"));
  ASSERT_NE(form, nullptr);
  EXPECT_TRUE(form->isVisible());
  EXPECT_FALSE(browser.isVisible());
  EXPECT_EQ(form->windowTitle(), QStringLiteral("Logo VX40"));
  // The window's own inquiry ran on the browser's channel: the memory is known.
  bool number = false;
  label(*form, "lblMemFree").toInt(&number);
  EXPECT_TRUE(number) << label(*form, "lblMemFree").toStdString();
  EXPECT_EQ(label(*form, "ProgramStatus"), QStringLiteral("Ready..."));
  // The image library beside the program converts the pictures.
  form->addPictures({picture(QStringLiteral("browser.bmp")).toStdString()});
  ASSERT_EQ(form->model().entries().size(), 1u);
  EXPECT_NE(form->model().preview_picture(0), nullptr);
  EXPECT_TRUE(answers.seen().empty()) << answers.seen().front().toStdString();

  // Close gives the browser back.
  button(*form, "cmdExit")->click();
  settle();
  EXPECT_EQ(browser.findChild<LogoForm*>(QStringLiteral("LogoForm")), nullptr);
  EXPECT_TRUE(browser.isVisible());
  utilities_view::clear_utility_windows();
}

}  // namespace
}  // namespace logo_view_test

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
