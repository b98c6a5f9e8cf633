// MessageForm, message boxes and questions over QMessageBox, and the event pump.
#include "dialogs.h"

#include <QDialog>
#include <QEventLoop>
#include <QLabel>
#include <QMainWindow>
#include <QMessageBox>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

namespace utilities_view {
namespace {

using utilities::box_answer;
using utilities::box_buttons;
using utilities::box_icon;

QMessageBox::Icon qtIcon(box_icon icon) {
  switch (icon) {
    case box_icon::question: return QMessageBox::Question;
    case box_icon::warning: return QMessageBox::Warning;
    case box_icon::error: return QMessageBox::Critical;
    case box_icon::information: break;
  }
  return QMessageBox::Information;
}

// A hidden owner would keep the box from showing: such boxes stand alone.
QWidget* visibleOwner(QWidget* owner) { return owner != nullptr && owner->isVisible() ? owner : nullptr; }

}  // namespace

QString ui_text(const std::string& text) {
  QString s = QString::fromStdString(text);
  s.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  s.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  return s;
}

void show_message_form(QWidget* owner, const QString& title, const std::string& text) {
  QDialog form(visibleOwner(owner));
  form.setObjectName(QStringLiteral("MessageForm"));
  form.setWindowTitle(title);
  auto* layout = new QVBoxLayout(&form);
  auto* messageTxt = new QLabel(ui_text(text), &form);
  messageTxt->setObjectName(QStringLiteral("messageTxt"));
  messageTxt->setWordWrap(true);
  layout->addWidget(messageTxt);
  auto* ok = new QPushButton(QStringLiteral("OK"), &form);
  ok->setObjectName(QStringLiteral("OKButton"));
  QObject::connect(ok, &QPushButton::clicked, &form, &QDialog::accept);
  layout->addWidget(ok, 0, Qt::AlignHCenter);
  form.exec();
}

void show_message_box(QWidget* owner, const QString& title, const std::string& text, box_icon icon) {
  QMessageBox box(qtIcon(icon), title, ui_text(text), QMessageBox::Ok, visibleOwner(owner));
  box.exec();
}

box_answer ask_question(QWidget* owner, const QString& title, const std::string& text, box_buttons buttons,
                        box_icon icon) {
  QMessageBox::StandardButtons shown = QMessageBox::Yes | QMessageBox::No;
  QMessageBox::StandardButton negative = QMessageBox::No;
  if (buttons == box_buttons::retry_cancel) shown = QMessageBox::Retry | QMessageBox::Cancel;
  if (buttons == box_buttons::ok_cancel) shown = QMessageBox::Ok | QMessageBox::Cancel;
  if (buttons != box_buttons::yes_no) negative = QMessageBox::Cancel;
  QMessageBox box(qtIcon(icon), title, ui_text(text), shown, visibleOwner(owner));
  box.setEscapeButton(negative);
  switch (box.exec()) {
    case QMessageBox::Retry: return box_answer::retry;
    case QMessageBox::Yes: return box_answer::yes;
    case QMessageBox::Ok: return box_answer::ok;
    case QMessageBox::No: return box_answer::no;
    default: break;
  }
  return buttons == box_buttons::yes_no ? box_answer::no : box_answer::cancel;
}

std::pair<QLabel*, QLabel*> add_status_panels(QMainWindow* window) {
  auto* working_mode = new QLabel(window);
  working_mode->setObjectName(QStringLiteral("WorkingMode"));
  working_mode->setToolTip(QStringLiteral("Working mode"));
  working_mode->setMinimumWidth(120);
  auto* program_status = new QLabel(window);
  program_status->setObjectName(QStringLiteral("ProgramStatus"));
  program_status->setToolTip(QStringLiteral("Program status"));
  QStatusBar* bar = window->statusBar();
  bar->setObjectName(QStringLiteral("StatusBar"));
  bar->addWidget(working_mode);
  bar->addWidget(program_status, 1);
  return {working_mode, program_status};
}

void pump_events(int ms) {
  QEventLoop loop;
  QTimer::singleShot(std::max(ms, 0), &loop, &QEventLoop::quit);
  loop.exec();
}

}  // namespace utilities_view
