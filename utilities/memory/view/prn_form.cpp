// PrnForm's widgets, following the model: every tree change, label edit, key and click goes
// through memory::prn_form_model, which decides.
#include "prn_form.h"

#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QStatusBar>
#include <QStyledItemDelegate>
#include <QTimer>
#include <QTreeWidget>

#include "start_form.h"
#include "utilities/browser.h"

namespace memory_view {
namespace {

constexpr int kKeyRole = Qt::UserRole;        // the node's key
constexpr int kImageRole = Qt::UserRole + 1;  // the image key shown
constexpr int kStateRole = Qt::UserRole + 2;  // the state image index of a node without expanded image

// A small pencil in the lower right corner: the value may be edited.
void drawPencil(QPainter& p) {
  p.setPen(QPen(QColor(200, 120, 20), 2));
  p.drawLine(10, 14, 15, 9);
  p.setPen(QColor(60, 60, 60));
  p.drawPoint(9, 15);
}

// A value's plate: "#" for numbers, "A" for texts, blue when editable.
void drawValue(QPainter& p, bool text, bool editable) {
  p.setPen(QColor(70, 70, 80));
  p.setBrush(editable ? QColor(205, 225, 250) : QColor(225, 225, 225));
  p.drawRect(1, 2, 12, 11);
  p.setPen(QPen(editable ? QColor(20, 70, 170) : QColor(80, 80, 80), 1));
  if (text) {
    p.drawLine(4, 11, 7, 4);
    p.drawLine(7, 4, 10, 11);
    p.drawLine(5, 9, 9, 9);
  } else {
    p.drawLine(5, 4, 4, 11);
    p.drawLine(9, 4, 8, 11);
    p.drawLine(3, 6, 11, 6);
    p.drawLine(3, 9, 10, 9);
  }
  if (editable) drawPencil(p);
}

void drawFolder(QPainter& p, bool open) {
  p.setPen(QColor(150, 110, 20));
  p.setBrush(QColor(240, 200, 80));
  p.drawRect(1, 3, 6, 2);
  p.drawRect(1, 4, 13, 10);
  if (open) {
    p.setBrush(QColor(252, 228, 140));
    QPainterPath front;
    front.moveTo(3, 7);
    front.lineTo(15, 7);
    front.lineTo(13, 14);
    front.lineTo(1, 14);
    front.closeSubpath();
    p.drawPath(front);
  }
}

void drawPrinter(QPainter& p) {
  p.setPen(QColor(40, 40, 40));
  p.setBrush(QColor(230, 230, 230));
  p.drawRect(4, 1, 8, 5);
  p.setBrush(QColor(120, 120, 130));
  p.drawRect(1, 6, 14, 6);
  p.setBrush(Qt::white);
  p.drawRect(4, 10, 8, 5);
}

QIcon drawIcon(const std::string& key) {
  QPixmap pm(16, 16);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing, key == "UOption" || key == "COption");
  if (key == "Domain") {
    p.setPen(QColor(40, 40, 40));
    p.setBrush(QColor(70, 130, 200));
    p.drawEllipse(1, 1, 13, 13);
    p.drawLine(1, 8, 14, 8);
    p.drawLine(8, 1, 8, 14);
  } else if (key == "Server") {
    p.setPen(QColor(40, 40, 40));
    p.setBrush(QColor(190, 190, 200));
    p.drawRect(4, 1, 8, 14);
    p.drawLine(6, 6, 10, 6);
    p.drawLine(6, 8, 10, 8);
  } else if (key == "Printer") {
    drawPrinter(p);
  } else if (key == "Setup") {
    // The printer with a sheet of settings in front.
    drawPrinter(p);
    p.setPen(QColor(20, 70, 170));
    p.drawLine(5, 12, 10, 12);
    p.drawLine(5, 14, 9, 14);
  } else if (key == "UOption" || key == "COption") {
    p.setPen(QPen(QColor(70, 70, 80), 1.2));
    p.setBrush(Qt::white);
    p.drawEllipse(QRectF(2.5, 2.5, 11, 11));
    if (key == "COption") {
      p.setPen(Qt::NoPen);
      p.setBrush(QColor(30, 140, 50));
      p.drawEllipse(QRectF(5.5, 5.5, 5, 5));
    }
  } else if (key == "CFolder" || key == "OFolder") {
    drawFolder(p, key == "OFolder");
  } else if (key == "NValue" || key == "MNValue" || key == "AValue" || key == "MAValue") {
    drawValue(p, key == "AValue" || key == "MAValue", key[0] == 'M');
  }
  // "Blank" and unknown keys stay empty.
  return QIcon(pm);
}

// One edit field of a value's label: every typed character and paste is checked by the model
// before the field sees it; refused characters beep there.
class filtered_edit : public QLineEdit {
 public:
  filtered_edit(memory::prn_form_model& model, memory::edit_field field, QWidget* parent)
      : QLineEdit(parent), model_(model), field_(std::move(field)) {
    setObjectName(QStringLiteral("txtLabelEdit"));
    setMaxLength(static_cast<int>(field_.max_chars));
    setText(QString::fromStdString(field_.initial));
    // Pasting only through the keyboard, where it is checked; no drops or selection pastes.
    setContextMenuPolicy(Qt::NoContextMenu);
    setDragEnabled(false);
    setAcceptDrops(false);
  }

 protected:
  void keyPressEvent(QKeyEvent* e) override {
    if (e->matches(QKeySequence::Paste)) {
      const QString text = QApplication::clipboard()->text();
      if (model_.paste_in_edit(text.toStdString())) paste();
      return;
    }
    const QString typed = e->text();
    if (!typed.isEmpty() && typed.at(0).unicode() >= 0x20 && !accepts(typed)) return;
    QLineEdit::keyPressEvent(e);
  }
  void inputMethodEvent(QInputMethodEvent* e) override {
    if (!e->commitString().isEmpty() && !accepts(e->commitString())) return;
    QLineEdit::inputMethodEvent(e);
  }
  void mousePressEvent(QMouseEvent* e) override {
    if (e->button() == Qt::MiddleButton) return;  // the selection paste is not checked
    QLineEdit::mousePressEvent(e);
  }
  void mouseReleaseEvent(QMouseEvent* e) override {
    if (e->button() == Qt::MiddleButton) return;
    QLineEdit::mouseReleaseEvent(e);
  }

 private:
  bool accepts(const QString& typed) {
    std::size_t length = static_cast<std::size_t>(text().size() - selectedText().size());
    for (const char32_t c : typed.toUcs4()) {
      if (!model_.type_in_edit(field_, c, length)) return false;
      ++length;
    }
    return true;
  }

  memory::prn_form_model& model_;
  memory::edit_field field_;
};

}  // namespace

QIcon node_icon(const std::string& image_key) {
  static std::map<std::string, QIcon> icons;
  auto it = icons.find(image_key);
  if (it == icons.end()) it = icons.emplace(image_key, drawIcon(image_key)).first;
  return it->second;
}

// The tree's label editing: the model decides which node may be edited, the field's limits and
// its first text, and what the label becomes.
class PrnForm::label_delegate : public QStyledItemDelegate {
 public:
  explicit label_delegate(PrnForm* form) : QStyledItemDelegate(form), form_(form) {}

  QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem&, const QModelIndex& index) const override {
    const memory::edit_field field = form_->model().before_label_edit(keyOf(index));
    if (!field.allowed) return nullptr;
    return new filtered_edit(form_->model(), field, parent);
  }
  void setEditorData(QWidget*, const QModelIndex&) const override {}  // the field starts with the value
  void setModelData(QWidget* editor, QAbstractItemModel*, const QModelIndex& index) const override {
    const auto* edit = static_cast<const QLineEdit*>(editor);
    form_->model().after_label_edit(keyOf(index), edit->text().toStdString());
  }

 private:
  static std::string keyOf(const QModelIndex& index) { return index.data(kKeyRole).toString().toStdString(); }
  PrnForm* form_;
};

PrnForm::PrnForm(utilities::printer_link& link, memory::prn_form_environment env, utilities::user_interface& dialogs,
                 QWidget* parent)
    : QMainWindow(parent), dialogs_(dialogs) {
  setObjectName(QStringLiteral("PrnForm"));
  resize(420, 480);

  tvwSetup_ = new QTreeWidget(this);
  tvwSetup_->setObjectName(QStringLiteral("tvwSetup"));
  tvwSetup_->setHeaderHidden(true);
  tvwSetup_->setIconSize(QSize(16, 16));
  tvwSetup_->setExpandsOnDoubleClick(true);
  tvwSetup_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  tvwSetup_->setItemDelegate(new label_delegate(this));
  tvwSetup_->installEventFilter(this);
  tvwSetup_->viewport()->installEventFilter(this);
  setCentralWidget(tvwSetup_);
  connect(tvwSetup_, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* item) {
    if (item != nullptr) model_->select(keyOf(item));
  });
  connect(tvwSetup_, &QTreeWidget::itemExpanded, this, [this](QTreeWidgetItem* item) {
    if (!syncing_) item->setData(0, kStateRole, model_->expand(keyOf(item)));
  });
  connect(tvwSetup_, &QTreeWidget::itemCollapsed, this, [this](QTreeWidgetItem* item) {
    if (!syncing_) item->setData(0, kStateRole, model_->collapse(keyOf(item)));
  });

  auto* bar = new QStatusBar(this);
  bar->setObjectName(QStringLiteral("StatusBar"));
  bar->setSizeGripEnabled(false);
  const char* names[4] = {"pnlIdentifier", "pnlBoot", "pnlFirmware", "pnlStatus"};
  for (int i = 0; i < 4; ++i) {
    panels_[i] = new QLabel(this);
    panels_[i]->setObjectName(QString::fromLatin1(names[i]));
    panels_[i]->setMinimumWidth(i == 3 ? 120 : 70);
    panels_[i]->setFrameShape(QFrame::StyledPanel);
    panels_[i]->setFrameShadow(QFrame::Sunken);
    bar->addWidget(panels_[i], i == 3 ? 1 : 0);
  }
  setStatusBar(bar);
  buildMenus();

  model_ = std::make_unique<memory::prn_form_model>(*this, link, std::move(env));
  model_->set_listener([this](memory::prn_form_change change, const std::string& key) { onChange(change, key); });
  model_->load();
  setWindowTitle(QString::fromStdString(model_->caption()));
}

PrnForm::~PrnForm() {
  set_busy_pointer(false);
  if (model_) {
    model_->set_listener({});
    model_->unload();
  }
}

void PrnForm::buildMenus() {
  QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
  file->setObjectName(QStringLiteral("mnuFile"));
  mnuDwldSetup_ = file->addAction(QStringLiteral("Download"));
  mnuDwldSetup_->setObjectName(QStringLiteral("mnuDwldSetup"));
  mnuDwldSetup_->setEnabled(false);
  mnuExit_ = file->addAction(QStringLiteral("Exit"));
  mnuExit_->setObjectName(QStringLiteral("mnuExit"));
  QMenu* view = menuBar()->addMenu(QStringLiteral("&View"));
  view->setObjectName(QStringLiteral("mnuView"));
  mnuRefresh_ = view->addAction(QStringLiteral("Refresh"));
  mnuRefresh_->setObjectName(QStringLiteral("mnuRefresh"));
  // Each handler does nothing while an operation runs (the model checks its busy flag).
  connect(mnuDwldSetup_, &QAction::triggered, this, [this] { model_->download(); });
  connect(mnuRefresh_, &QAction::triggered, this, [this] { model_->refresh(); });
  connect(mnuExit_, &QAction::triggered, this, [this] { model_->exit(); });
}

std::string PrnForm::keyOf(const QTreeWidgetItem* item) const {
  return item == nullptr ? std::string() : item->data(0, kKeyRole).toString().toStdString();
}

QTreeWidgetItem* PrnForm::item(const std::string& key) const {
  const auto it = items_.find(key);
  return it == items_.end() ? nullptr : it->second;
}

void PrnForm::onChange(memory::prn_form_change change, const std::string& key) {
  switch (change) {
    case memory::prn_form_change::tree_cleared:
      syncing_ = true;
      tvwSetup_->clear();
      items_.clear();
      syncing_ = false;
      break;
    case memory::prn_form_change::node_added:
      addItem(key);
      break;
    case memory::prn_form_change::node_changed:
      updateItem(key);
      break;
    case memory::prn_form_change::menus:
      mnuDwldSetup_->setEnabled(model_->download_enabled());
      applyEditing();
      break;
    case memory::prn_form_change::state:
      break;
    case memory::prn_form_change::closed:
      set_busy_pointer(false);
      // The browser comes back centred on this window, unless this one is minimized or maximized.
      if (QWidget* browser = parentWidget(); browser != nullptr && windowState() == Qt::WindowNoState) {
        browser->move(x() + (width() - browser->width()) / 2, y() + (height() - browser->height()) / 2);
      }
      emit unloaded();
      QTimer::singleShot(0, this, [this] { close(); });
      break;
  }
}

void PrnForm::addItem(const std::string& key) {
  const memory::setup_node* node = model_->tree().find(key);
  if (node == nullptr || items_.count(key) != 0) return;
  QTreeWidgetItem* parent = item(node->parent_key);
  auto* it = parent != nullptr ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(tvwSetup_);
  it->setData(0, kKeyRole, QString::fromStdString(node->key));
  items_[key] = it;
  updateItem(key);
}

void PrnForm::updateItem(const std::string& key) {
  const memory::setup_node* node = model_->tree().find(key);
  QTreeWidgetItem* it = item(key);
  if (node == nullptr || it == nullptr) return;
  syncing_ = true;
  const std::string& shown = node->expanded && !node->expanded_image.empty() ? node->expanded_image : node->image;
  it->setText(0, QString::fromStdString(node->text));
  it->setIcon(0, node_icon(shown));
  it->setData(0, kImageRole, QString::fromStdString(shown));
  it->setFlags(it->flags() | Qt::ItemIsEditable);  // the delegate asks the model before each edit
  if (it->isExpanded() != node->expanded) it->setExpanded(node->expanded);
  syncing_ = false;
}

void PrnForm::applyEditing() {
  tvwSetup_->setEditTriggers(model_->tree().label_editing_automatic()
                                 ? QAbstractItemView::EditKeyPressed | QAbstractItemView::SelectedClicked
                                 : QAbstractItemView::NoEditTriggers);
}

void PrnForm::set_status(int panel, const std::string& text) {
  if (panel >= 1 && panel <= 4) panels_[panel - 1]->setText(QString::fromStdString(text));
}

void PrnForm::set_busy_pointer(bool busy) {
  if (busy == busyCursor_) return;
  busyCursor_ = busy;
  if (busy) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
  } else {
    QApplication::restoreOverrideCursor();
  }
}

void PrnForm::beep() {
  ++beeps_;
  QApplication::beep();
}

bool PrnForm::eventFilter(QObject* watched, QEvent* event) {
  if (watched == tvwSetup_ && event->type() == QEvent::KeyPress) {
    auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_Space) {  // while a label is edited, keys go to its field
      model_->select(keyOf(tvwSetup_->currentItem()));
      if (model_->key_press(memory::kKeySpace)) return true;
    }
  } else if (watched == tvwSetup_->viewport() && event->type() == QEvent::MouseButtonRelease) {
    auto* mouse = static_cast<QMouseEvent*>(event);
    const QPoint pos = mouse->position().toPoint();
    if (QTreeWidgetItem* it = tvwSetup_->itemAt(pos)) {
      // The icon sits at the start of the item's rectangle.
      const QRect rect = tvwSetup_->visualItemRect(it);
      const bool onIcon = pos.x() >= rect.left() && pos.x() < rect.left() + tvwSetup_->iconSize().width() + 4;
      model_->select(keyOf(tvwSetup_->currentItem()));
      model_->mouse_up(mouse->button() == Qt::LeftButton, onIcon ? memory::kHitOnItemIcon : 0);
    }
  }
  return QMainWindow::eventFilter(watched, event);
}

void PrnForm::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  // The first activation uploads, once the window is on the screen.
  if (!model_->activated()) QTimer::singleShot(0, this, [this] { model_->activate(); });
}

void PrnForm::closeEvent(QCloseEvent* event) {
  // During an operation the window only asks it to end (EndReq).
  if (!model_->query_unload()) {
    event->ignore();
    return;
  }
  model_->unload();
  event->accept();
}

void register_prn_form() {
  utilities_view::register_utility_window(
      utilities::window_kind::prn, [](utilities::start_form_model& browser, QWidget* owner) -> QWidget* {
        auto* dialogs = dynamic_cast<utilities::user_interface*>(owner);
        if (dialogs == nullptr) return nullptr;
        memory::prn_form_environment env;
        env.exe_name = browser.environment().exe_name;
        env.model = browser.printer_model();
        if (const utilities::tree_node* node = browser.find(browser.connected_node())) env.printer_tag = node->tag;
        return new PrnForm(browser.link(), std::move(env), *dialogs, owner);
      });
}

}  // namespace memory_view
