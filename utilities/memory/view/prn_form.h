// PrnForm, the setup editor's window: a thin Qt view over memory::prn_form_model with the setup
// tree tvwSetup (node images drawn as 16 x 16 icons), label editing by the model's rules, options
// chosen radio-style, the File and View menus and the four-panel status bar. Message boxes and
// the message window go through the browser's user interface.
#pragma once

#include <QMainWindow>

#include <map>
#include <memory>
#include <string>

#include "memory/prn_form.h"

class QAction;
class QLabel;
class QTreeWidget;
class QTreeWidgetItem;

namespace utilities {
class start_form_model;
}

namespace memory_view {

// The 16 x 16 icon of a node image key ("Setup", "CFolder", "COption", "MAValue", ...).
QIcon node_icon(const std::string& image_key);

class PrnForm : public QMainWindow, public memory::prn_form_ui {
  Q_OBJECT

 public:
  // The window over `link` (the browser's channel); `dialogs` shows the message window, message
  // boxes and questions and yields to the message loop.
  PrnForm(utilities::printer_link& link, memory::prn_form_environment env, utilities::user_interface& dialogs,
          QWidget* parent = nullptr);
  ~PrnForm() override;

  memory::prn_form_model& model() { return *model_; }
  // The tree item of node `key` (null when there is none).
  QTreeWidgetItem* item(const std::string& key) const;
  // Beeps sounded by the label editor (for tests).
  int beeps() const { return beeps_; }

  // memory::prn_form_ui
  void set_status(int panel, const std::string& text) override;
  void show_message(const std::string& text) override { dialogs_.show_message(text); }
  void message_box(const std::string& text, utilities::box_icon icon) override { dialogs_.message_box(text, icon); }
  utilities::box_answer ask(const std::string& text, utilities::box_buttons buttons, utilities::box_icon icon) override {
    return dialogs_.ask(text, buttons, icon);
  }
  void pump(int ms) override { dialogs_.pump(ms); }
  bool end_requested() const override { return model_ && model_->end_req(); }
  void set_busy_pointer(bool busy) override;
  void beep() override;

 signals:
  // The window unloaded (after an upload failure, a download, Exit or a close).
  void unloaded();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  class label_delegate;
  void buildMenus();
  void onChange(memory::prn_form_change change, const std::string& key);
  void addItem(const std::string& key);
  void updateItem(const std::string& key);
  void applyEditing();
  std::string keyOf(const QTreeWidgetItem* item) const;

  utilities::user_interface& dialogs_;
  std::unique_ptr<memory::prn_form_model> model_;
  QTreeWidget* tvwSetup_ = nullptr;
  QLabel* panels_[4] = {};
  QAction* mnuDwldSetup_ = nullptr;
  QAction* mnuRefresh_ = nullptr;
  QAction* mnuExit_ = nullptr;
  std::map<std::string, QTreeWidgetItem*> items_;
  bool syncing_ = false;  // the view is following the model: tree signals are not forwarded
  bool busyCursor_ = false;
  int beeps_ = 0;
};

// Registers PrnForm as the browser's window for the setup editor (window_kind::prn).
void register_prn_form();

}  // namespace memory_view
