// StartForm's widgets and the dialogs, forwarding every action to the model.
#include "start_form.h"

#include "dialogs.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QSocketNotifier>
#include <QStatusBar>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <map>
#include <tuple>

#include "platform/messages.h"

namespace utilities_view {
namespace {

using utilities::box_answer;
using utilities::box_buttons;
using utilities::box_icon;

std::map<utilities::window_kind, window_factory>& factories() {
  static std::map<utilities::window_kind, window_factory> table;
  return table;
}

// The 16 x 16 icons of NormalImgList, drawn: "DOMAIN", "SERVER", "PRINTER", "NETPRINTER".
QIcon drawIcon(const std::string& kind) {
  QPixmap pm(16, 16);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing, false);
  p.setPen(QColor(40, 40, 40));
  if (kind == "Domain") {
    p.setBrush(QColor(70, 130, 200));
    p.drawEllipse(1, 1, 13, 13);
    p.drawLine(1, 8, 14, 8);
    p.drawLine(8, 1, 8, 14);
  } else if (kind == "Server") {
    p.setBrush(QColor(190, 190, 200));
    p.drawRect(4, 1, 8, 14);
    p.setBrush(QColor(60, 180, 60));
    p.drawRect(6, 3, 2, 1);
    p.drawLine(6, 6, 10, 6);
    p.drawLine(6, 8, 10, 8);
  } else {
    p.setBrush(QColor(230, 230, 230));
    p.drawRect(4, 1, 8, 5);
    p.setBrush(QColor(120, 120, 130));
    p.drawRect(1, 6, 14, 6);
    p.setBrush(Qt::white);
    p.drawRect(4, 10, 8, 5);
    if (kind == "NetPrinter") {
      p.setPen(QColor(40, 110, 200));
      p.drawLine(0, 15, 15, 15);
      p.drawLine(2, 13, 2, 15);
      p.drawLine(13, 13, 13, 15);
    }
  }
  return QIcon(pm);
}

const QIcon& iconFor(const std::string& kind) {
  static std::map<std::string, QIcon> icons;
  auto it = icons.find(kind);
  if (it == icons.end()) it = icons.emplace(kind, drawIcon(kind)).first;
  return it->second;
}

}  // namespace

void register_utility_window(utilities::window_kind kind, window_factory factory) {
  factories()[kind] = std::move(factory);
}

void clear_utility_windows() { factories().clear(); }

StartForm::StartForm(utilities::remote_creator_factory creators, utilities::browser_environment env, QWidget* parent)
    : QMainWindow(parent) {
  setObjectName(QStringLiteral("StartForm"));
  // Remote creations report their end through this thread's message queue: let Qt drive it.
  platform::ensure_message_queue();
  if (const int fd = platform::queue_fd(); fd >= 0) {
    auto* notifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, [] { platform::dispatch_ready_messages(); });
  }
  model_ = std::make_unique<utilities::start_form_model>(*this, std::move(creators), std::move(env));
  setWindowTitle(QString::fromStdString(model_->caption()));

  tvwServerCollection_ = new QTreeWidget(this);
  tvwServerCollection_->setObjectName(QStringLiteral("tvwServerCollection"));
  tvwServerCollection_->setHeaderHidden(true);
  tvwServerCollection_->setIconSize(QSize(16, 16));
  tvwServerCollection_->viewport()->installEventFilter(this);
  tvwServerCollection_->installEventFilter(this);
  tvwServerCollection_->setExpandsOnDoubleClick(false);
  setCentralWidget(tvwServerCollection_);
  connect(tvwServerCollection_, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* item) {
    if (item != nullptr) model_->select(item->data(0, Qt::UserRole).toString().toStdString());
  });

  std::tie(workingMode_, programStatus_) = utilities_view::add_status_panels(this);

  buildMenus();
  resize(420, 360);
}

StartForm::~StartForm() {
  if (busyCursor_) QApplication::restoreOverrideCursor();
}

void StartForm::buildMenus() {
  std::map<std::string, QMenu*> menus;
  for (const utilities::menu_item& m : model_->menus()) {
    const QString caption = QString::fromStdString(m.caption);
    if (m.parent.empty()) {
      QMenu* menu = m.name == "mnuTV" ? new QMenu(caption, this) : menuBar()->addMenu(caption);
      menu->setObjectName(QString::fromStdString(m.name));
      menus[m.name] = menu;
      actions_[m.name] = menu->menuAction();
      if (m.name == "mnuTV") mnuTV_ = menu;
      continue;
    }
    QAction* action = menus[m.parent]->addAction(caption);
    action->setObjectName(QString::fromStdString(m.name));
    actions_[m.name] = action;
  }
  const auto on = [this](const char* name, auto handler) { connect(actions_.at(name), &QAction::triggered, this, handler); };
  // After an action the tree shows the model again; a close asked for meanwhile happens now.
  const auto then = [this](void (utilities::start_form_model::*action)()) {
    return [this, action] {
      ((*model_).*action)();
      fillTree();
      if (model_->end_req()) close();
    };
  };
  on("mnuExit", [this] { close(); });
  on("mnuRefresh", then(&utilities::start_form_model::refresh));
  on("mnuTVRefresh", then(&utilities::start_form_model::refresh));
  on("mnuAddServer", then(&utilities::start_form_model::add_server));
  on("mnuMainServer", then(&utilities::start_form_model::select_main_server));
  on("mnuDeleteServer", then(&utilities::start_form_model::delete_server));
  on("mnuTVDeleteServer", then(&utilities::start_form_model::delete_server));
  on("mnuTVConnect", [this] { afterConnect(model_->connect(model_->selected())); });
  on("mnuAbout", [this] { showAbout(); });
}

void StartForm::load() {
  try {
    model_->load();
  } catch (const std::exception&) {
    show_message("Raise error on loading the application Demo.\r\nPlease check the Application components.");
  }
  showMenus();
  fillTree();
  if (model_->end_req()) close();
}

void StartForm::showMenus() {
  for (const utilities::menu_item& m : model_->menus()) {
    QAction* a = actions_.at(m.name);
    if (m.name != "mnuTV") a->setVisible(m.visible);
    a->setEnabled(m.enabled);
  }
}

void StartForm::fillTree() {
  const std::string selected = model_->selected();
  tvwServerCollection_->clear();
  std::map<std::string, QTreeWidgetItem*> items;
  QTreeWidgetItem* current = nullptr;
  for (const utilities::tree_node& n : model_->nodes()) {
    const auto parent = items.find(n.parent_key);
    auto* item = parent != items.end() ? new QTreeWidgetItem(parent->second)
                                       : new QTreeWidgetItem(tvwServerCollection_);
    item->setText(0, QString::fromStdString(n.text));
    item->setIcon(0, iconFor(n.image_key));
    item->setData(0, Qt::UserRole, QString::fromStdString(n.key));
    item->setData(0, Qt::UserRole + 1, QString::fromStdString(n.image_key));
    items[n.key] = item;
    if (n.key == selected) current = item;
  }
  for (const utilities::tree_node& n : model_->nodes())
    if (n.expanded) items[n.key]->setExpanded(true);
  // Servers show their printers.
  for (auto& [key, item] : items)
    if (item->data(0, Qt::UserRole + 1).toString() == QStringLiteral("Server")) item->setExpanded(true);
  if (current != nullptr) tvwServerCollection_->setCurrentItem(current);
}

int StartForm::hitFlags(const QPoint& pos) const {
  QTreeWidgetItem* item = tvwServerCollection_->itemAt(pos);
  if (item == nullptr) return utilities::kHitNowhere;
  const QRect rect = tvwServerCollection_->visualItemRect(item);
  const int iconRight = rect.left() + tvwServerCollection_->iconSize().width() + 4;
  if (pos.x() < rect.left()) return 0;  // the indentation or the expander
  return pos.x() <= iconRight ? utilities::kHitOnItemIcon : utilities::kHitOnItemLabel;
}

bool StartForm::eventFilter(QObject* watched, QEvent* event) {
  if (watched == tvwServerCollection_->viewport()) {
    if (event->type() == QEvent::MouseButtonPress) {
      auto* e = static_cast<QMouseEvent*>(event);
      model_->mouse_down(e->button() == Qt::LeftButton, hitFlags(e->position().toPoint()));
    } else if (event->type() == QEvent::MouseButtonRelease) {
      auto* e = static_cast<QMouseEvent*>(event);
      QTreeWidgetItem* item = tvwServerCollection_->itemAt(e->position().toPoint());
      if (e->button() == Qt::RightButton && item != nullptr) {
        tvwServerCollection_->setCurrentItem(item);
        if (model_->popup_menu(item->data(0, Qt::UserRole).toString().toStdString(),
                               hitFlags(e->position().toPoint()))) {
          showMenus();
          mnuTV_->popup(e->globalPosition().toPoint());
        }
      }
    } else if (event->type() == QEvent::MouseButtonDblClick) {
      auto* e = static_cast<QMouseEvent*>(event);
      // A double click also starts with a press: the item-click flag follows this one.
      model_->mouse_down(e->button() == Qt::LeftButton, hitFlags(e->position().toPoint()));
      afterConnect(model_->double_click());
      return true;
    }
  } else if (watched == tvwServerCollection_ && event->type() == QEvent::KeyPress) {
    auto* e = static_cast<QKeyEvent*>(event);
    if (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) {
      afterConnect(model_->key_press(13));
      return true;
    }
  }
  return QMainWindow::eventFilter(watched, event);
}

void StartForm::afterConnect(const utilities::connect_result& result) {
  lastConnect_ = result;
  fillTree();
  if (result.unload) {
    close();
    return;
  }
  if (!result.connected || result.window == utilities::window_kind::none) return;
  const auto factory = factories().find(result.window);
  if (factory == factories().end()) {
    message_box("The window of this utility is not part of this program.", box_icon::information);
    model_->link().drop_channel();
    return;
  }
  QWidget* window = factory->second(*model_, this);
  if (window == nullptr) return;
  // StartForm hides while the utility window is open and comes back when it goes.
  window->setAttribute(Qt::WA_DeleteOnClose);
  connect(window, &QObject::destroyed, this, [this] {
    model_->link().drop_channel();
    show();
  });
  hide();
  window->show();
}

void StartForm::showAbout() {
  const std::vector<std::string> lines = utilities::about_lines(model_->environment());
  QDialog about(this);
  about.setObjectName(QStringLiteral("AboutForm"));
  about.setWindowTitle(QString::fromStdString(lines[0]));
  auto* layout = new QVBoxLayout(&about);
  for (std::size_t i = 1; i < lines.size(); ++i) layout->addWidget(new QLabel(QString::fromStdString(lines[i]), &about));
  auto* ok = new QPushButton(QStringLiteral("OK"), &about);
  connect(ok, &QPushButton::clicked, &about, &QDialog::accept);
  layout->addWidget(ok);
  about.exec();
}

void StartForm::closeEvent(QCloseEvent* event) {
  // During an operation the window only asks it to end (EndReq); the operation closes it after.
  if (!model_->query_unload()) {
    event->ignore();
    return;
  }
  event->accept();
}

// ---------------------------------------------------------------------------------------------
// browser_ui

void StartForm::set_status(int panel, const std::string& text) {
  (panel == utilities::kPanelWorkingMode ? workingMode_ : programStatus_)->setText(QString::fromStdString(text));
}

void StartForm::show_message(const std::string& text) { show_message_form(this, windowTitle(), text); }

void StartForm::message_box(const std::string& text, box_icon icon) {
  show_message_box(this, windowTitle(), text, icon);
}

box_answer StartForm::ask(const std::string& text, box_buttons buttons, box_icon icon) {
  return ask_question(this, windowTitle(), text, buttons, icon);
}

void StartForm::pump(int ms) { pump_events(ms); }

bool StartForm::end_requested() const { return model_ && model_->end_req(); }

void StartForm::set_busy_pointer(bool busy) {
  if (busy == busyCursor_) return;
  busyCursor_ = busy;
  if (busy) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
  } else {
    QApplication::restoreOverrideCursor();
  }
}

std::optional<std::string> StartForm::choose_server(bool add_mode, const std::vector<std::string>& choices,
                                                    int preselected) {
  QDialog form(isVisible() ? this : nullptr);
  form.setObjectName(QStringLiteral("MainServerForm"));
  form.setWindowTitle(QString::fromStdString(utilities::main_server_caption(add_mode)));
  auto* layout = new QHBoxLayout(&form);
  auto* cmbServer = new QComboBox(&form);
  cmbServer->setObjectName(QStringLiteral("cmbServer"));
  cmbServer->setEditable(true);
  for (const std::string& c : choices) cmbServer->addItem(QString::fromStdString(c));
  cmbServer->setCurrentIndex(preselected);
  auto* cmdApply = new QPushButton(QStringLiteral("Apply"), &form);
  cmdApply->setObjectName(QStringLiteral("cmdApply"));
  connect(cmdApply, &QPushButton::clicked, &form, &QDialog::accept);
  layout->addWidget(cmbServer, 1);
  layout->addWidget(cmdApply);
  if (form.exec() != QDialog::Accepted || cmbServer->currentText().trimmed().isEmpty()) return std::nullopt;
  return cmbServer->currentText().trimmed().toStdString();
}

}  // namespace utilities_view
