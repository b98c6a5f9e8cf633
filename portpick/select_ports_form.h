// SelectPortsForm: the port-selection dialog, a thin Qt view over portpick_model; and the message
// boxes it shows.
#pragma once

#include <QWidget>

#include "portpick/portpick_model.h"

class QComboBox;
class QGroupBox;
class QLabel;
class QListWidget;
class QPushButton;

// The model's messages as Qt message boxes over `parent` (none while there is no window yet).
// Critical messages also go to stderr, and where no screen can show a box (the offscreen
// platform) they are only printed, so that the program never waits for an answer nobody can give.
class QtMessageBoxes : public portpick::message_boxes {
 public:
  void setParent(QWidget* parent) { parent_ = parent; }
  void critical(const std::string& text) override;
  void warning(const std::string& text) override;
  void information(const std::string& text) override;

 private:
  bool interactive() const;
  QWidget* parent_ = nullptr;
};

class SelectPortsForm : public QWidget {
  Q_OBJECT

 public:
  // Shows `model`, which must have been started and must outlive the window.
  explicit SelectPortsForm(portpick::portpick_model& model, QWidget* parent = nullptr);

  // Whether the user's answer ("Next" or "Exit installation") has been written in full.
  bool answered() const { return answered_; }

 signals:
  // "Next" or "Exit installation" has finished the dialog; the window closes.
  void closing();

 private:
  // "Next": the model writes the answer; the window closes unless the model keeps it open.
  void nextClicked();
  // "Exit installation": the model writes "Direction" C; the window closes.
  void exitClicked();
  // Rebuild the port list and the information list from the model.
  void fillPorts();
  void fillInformation();
  void finish(bool answered);

  portpick::portpick_model& model_;
  QGroupBox* frame_ = nullptr;
  QLabel* label_ = nullptr;
  QComboBox* cmbPorteA_ = nullptr;
  QListWidget* list1_ = nullptr;
  QPushButton* command1_ = nullptr;  // "Check sistema"
  QPushButton* command2_ = nullptr;  // "Lista"
  QPushButton* command3_ = nullptr;  // "Aggiorna"
  QPushButton* command4_ = nullptr;  // "Next"
  QPushButton* command5_ = nullptr;  // "Exit installation"
  bool answered_ = false;
};
