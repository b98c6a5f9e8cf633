// StartForm, the printer browser's window: a thin Qt view over utilities::start_form_model with
// the tree, menus, pop-up menu and status bar, and the dialogs MessageForm, MainServerForm and
// AboutForm. The utility windows plug in through register_utility_window.
#pragma once

#include <QMainWindow>

#include <functional>
#include <memory>

#include "utilities/browser.h"

class QLabel;
class QMenu;
class QTreeWidget;
class QTreeWidgetItem;

namespace utilities_view {

// Makes the utility window of one kind, owned by StartForm, with the connection in the model.
using window_factory = std::function<QWidget*(utilities::start_form_model& model, QWidget* owner)>;

// Registers the window opened after a connection for `kind` (LogoForm, PrnForm, PrnBraForm).
void register_utility_window(utilities::window_kind kind, window_factory factory);
// Forgets every registered window (for tests).
void clear_utility_windows();

class StartForm : public QMainWindow, public utilities::browser_ui {
  Q_OBJECT

 public:
  // A browser window for `env`, creating objects through `creators`.
  StartForm(utilities::remote_creator_factory creators, utilities::browser_environment env, QWidget* parent = nullptr);
  ~StartForm() override;

  // Form_Load: mode, menus, tree; a failure shows the loading error.
  void load();
  utilities::start_form_model& model() { return *model_; }
  // The last connection's outcome (for tests).
  const utilities::connect_result& lastConnect() const { return lastConnect_; }

  // browser_ui
  void set_status(int panel, const std::string& text) override;
  void show_message(const std::string& text) override;
  void message_box(const std::string& text, utilities::box_icon icon) override;
  utilities::box_answer ask(const std::string& text, utilities::box_buttons buttons, utilities::box_icon icon) override;
  void pump(int ms) override;
  bool end_requested() const override;
  void set_busy_pointer(bool busy) override;
  std::optional<std::string> choose_server(bool add_mode, const std::vector<std::string>& choices,
                                           int preselected) override;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void buildMenus();
  // Rebuilds tvwServerCollection from the model, keeping the selection.
  void fillTree();
  // Applies the model's menu visibility and enabling.
  void showMenus();
  // Connect on the selected node, then opens the chosen window.
  void afterConnect(const utilities::connect_result& result);
  void showAbout();
  int hitFlags(const QPoint& viewportPos) const;

  std::unique_ptr<utilities::start_form_model> model_;
  QTreeWidget* tvwServerCollection_ = nullptr;
  QLabel* workingMode_ = nullptr;
  QLabel* programStatus_ = nullptr;
  QMenu* mnuTV_ = nullptr;
  std::map<std::string, QAction*> actions_;
  utilities::connect_result lastConnect_;
  bool busyCursor_ = false;
};

}  // namespace utilities_view
