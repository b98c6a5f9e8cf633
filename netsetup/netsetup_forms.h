// The LAN setup program's windows: the main window FrmMain with the printer list, toolbar, menus
// and status bar, and the dialogs DlgInstall, DlgSetip, DlgConfig, DlgPing, frmNetwork and
// frmAbout. They show the model's state and forward the technician's actions to it.
#pragma once

#include <QDialog>
#include <QMainWindow>

#include <string>

#include "netsetup/netsetup_model.h"

class QAction;
class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTabWidget;
class QTreeWidget;

namespace netsetup {

// Message boxes, so that tests can answer them.
class prompts {
 public:
  virtual ~prompts() = default;
  virtual void warning(const std::string& text) = 0;
  virtual void information(const std::string& text) = 0;
  // A Yes/No question; true for Yes.
  virtual bool confirm(const std::string& text) = 0;
};

// Message boxes on the screen.
class screen_prompts : public prompts {
 public:
  explicit screen_prompts(QWidget* parent) : parent_(parent) {}
  void warning(const std::string& text) override;
  void information(const std::string& text) override;
  bool confirm(const std::string& text) override;

 private:
  QWidget* parent_;
};

// A twips width in pixels (15 twips a pixel at 96 dpi).
int twips_to_pixels(int twips);

class DlgInstall : public QDialog {
  Q_OBJECT
 public:
  DlgInstall(netsetup_model& model, prompts& boxes, QWidget* parent = nullptr);
  void apply();

 private:
  netsetup_model& model_;
  prompts& boxes_;
  QLineEdit* name_;
};

class DlgSetip : public QDialog {
  Q_OBJECT
 public:
  DlgSetip(netsetup_model& model, prompts& boxes, QWidget* parent = nullptr);
  void apply();

 private:
  netsetup_model& model_;
  prompts& boxes_;
  QLineEdit* address_;
  bool busy_ = false;
};

class DlgConfig : public QDialog {
  Q_OBJECT
 public:
  DlgConfig(netsetup_model& model, prompts& boxes, QWidget* parent = nullptr);
  // False when there was no printer to configure (the dialog closes at once).
  bool load();
  void apply();
  // Fills the Wi-Fi tab from the printer (on opening tab 1).
  void load_wifi();

 private:
  void update_wifi_controls();
  void fill_channels();

  netsetup_model& model_;
  prompts& boxes_;
  QTabWidget* tabs_;
  QLineEdit* port_;
  QComboBox* subnet_;
  QLineEdit* gateway_;
  QRadioButton* infrastructure_;
  QRadioButton* ad_hoc_;
  QLineEdit* ssid_;
  QLineEdit* ssid_ad_hoc_;
  QComboBox* country_;
  QComboBox* channel_;
  QCheckBox* wep_;
  QComboBox* authentication_;
  QComboBox* key_length_;
  QLineEdit* key_;
  QComboBox* tx_rate_;
  tcp_edit tcp_;
  bool wifi_loaded_ = false;
};

class DlgPing : public QDialog {
  Q_OBJECT
 public:
  DlgPing(netsetup_model& model, prompts& boxes, QWidget* parent = nullptr);
  void execute();

 private:
  netsetup_model& model_;
  prompts& boxes_;
  QLineEdit* address_;
  QLineEdit* reply_;
};

class frmNetwork : public QDialog {
  Q_OBJECT
 public:
  frmNetwork(netsetup_model& model, prompts& boxes, QWidget* parent = nullptr);
  void apply();

 private:
  netsetup_model& model_;
  prompts& boxes_;
  QTreeWidget* adapters_;
};

class frmAbout : public QDialog {
  Q_OBJECT
 public:
  explicit frmAbout(QWidget* parent = nullptr);
};

class FrmMain : public QMainWindow {
  Q_OBJECT
 public:
  FrmMain(netsetup_model& model, prompts& boxes, QWidget* parent = nullptr);

  // The commands, as the toolbar and the menus start them.
  void search();
  void initialize();
  void configure();
  void set_ip();
  void reset();
  void ping();
  void print_test_page();
  void network();
  void about();

  // Shows the model's rows, status bar and command states again.
  void refresh_view();
  // Shows the status bar and the command states again.
  void refresh_states();

 private:
  QAction* action(const char* menu_name, const QString& text);
  void run_dialog(QDialog& dialog);

  netsetup_model& model_;
  prompts& boxes_;
  QTreeWidget* list_;
  QLabel* panels_[4];
  bool busy_ = false;  // a long operation runs; commands return at once
};

}  // namespace netsetup
