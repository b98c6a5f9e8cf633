// StartForm: the launcher's two-step wizard window, a thin Qt view over launcher_model.
#pragma once

#include <QTimer>
#include <QWidget>

#include "launcher/launcher_model.h"

class QCheckBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

class StartForm : public QWidget {
  Q_OBJECT

 public:
  // Shows `model`, which must have been started and must outlive the window.
  explicit StartForm(launcher::launcher_model& model, QWidget* parent = nullptr);

 signals:
  // A program started by the launcher has ended and the window is back.
  void applicationEnded();

 protected:
  // Tool tips over both trees, and the application tree losing the focus.
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // "Next >" or a double click on an application: the model's next step, then what it asks for
  // (the application step, a message, or hiding while the started program runs).
  void nextClicked();
  // "< Previous": back to the languages.
  void previousClicked();
  // Every kPollStepMs while a started program runs; shows the window again when it has ended.
  void pollApplication();
  // Rebuild the trees from the model, selecting the model's choice.
  void fillLanguages();
  void fillApplications();
  // Window and control captions from the model.
  void showCaptions();
  // Shows the step's frame and enables "< Previous" as the model says.
  void showStep();

  launcher::launcher_model& model_;
  QLabel* imgLogo_ = nullptr;
  QLabel* imgPrinter_ = nullptr;
  QGroupBox* frmChooseLang_ = nullptr;
  QTreeWidget* tvwLang_ = nullptr;
  QCheckBox* cckSetAsDefault_ = nullptr;
  QGroupBox* frmChooseApp_ = nullptr;
  QTreeWidget* tvwApp_ = nullptr;
  QPushButton* cmdHelp_ = nullptr;
  QPushButton* cmdPrevious_ = nullptr;
  QPushButton* cmdNext_ = nullptr;
  QPushButton* cmdCancel_ = nullptr;
  QTimer pollTimer_;
};
