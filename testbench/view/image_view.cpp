// The image windows over the image document model: rulers, the picture view, the frame, the
// resize and delete dialogs and the image property list.
#include "image_view.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPainter>
#include <QPaintEvent>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSpinBox>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <cstring>

#include "dialogs.h"
#include "testbench/session.h"

namespace testbench_view {

using testbench::txt;

namespace {

QString T(txt id, bool italian) { return Q(testbench::text(id, italian)); }

}  // namespace

// ---------------------------------------------------------------------------------------------
// Rulers

PixelRuler::PixelRuler(Qt::Orientation orientation, QWidget* parent) : QWidget(parent), orientation_(orientation) {
  setObjectName(orientation == Qt::Horizontal ? QStringLiteral("topRuler") : QStringLiteral("leftRuler"));
  QFont small = font();
  small.setPixelSize(9);
  setFont(small);
  if (orientation_ == Qt::Horizontal) {
    setFixedHeight(kThickness);
  } else {
    setFixedWidth(kThickness);
  }
}

void PixelRuler::set_scale(testbench::ruler_scale scale) {
  scale_ = std::move(scale);
  update();
}

void PixelRuler::set_offset(int offset) {
  offset_ = offset;
  update();
}

QSize PixelRuler::sizeHint() const {
  return orientation_ == Qt::Horizontal ? QSize(200, kThickness) : QSize(kThickness, 200);
}

void PixelRuler::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), Qt::white);
  const bool across = orientation_ == Qt::Horizontal;
  const int extent = across ? width() : height();
  // A line across the ruler at `at` (image pixels), `depth` pixels from its inner edge.
  const auto tick = [&](int at, int depth) {
    const int p = at - offset_;
    if (across) {
      painter.drawLine(p, kThickness - depth, p, kThickness - 1);
    } else {
      painter.drawLine(kThickness - depth, p, kThickness - 1, p);
    }
  };
  const auto label = [&](int at, const QString& text) {
    const int p = at - offset_;
    if (across) {
      painter.drawText(QPoint(p + 2, 10), text);
    } else {
      // The left ruler's labels read bottom to top beside their line.
      painter.save();
      painter.translate(10, p - 2);
      painter.rotate(-90);
      painter.drawText(QPoint(0, 0), text);
      painter.restore();
    }
  };
  const int first = std::max(0, offset_ / 10 * 10);
  const int last = std::min(scale_.length, offset_ + extent);
  painter.setPen(Qt::black);
  for (int at = first; at <= last; at += 10) tick(at, at % 100 == 0 ? kThickness : (at % 50 == 0 ? 8 : 4));
  for (const testbench::ruler_label& l : scale_.labels) {
    // A label too near a marker is drawn in white, so that the marker's own label reads.
    painter.setPen(l.erased ? QColor(Qt::white) : QColor(Qt::black));
    label(l.position, Q(l.text));
  }
  for (const testbench::ruler_marker& m : scale_.markers) {
    painter.setPen(QColor(m.red, m.green, m.blue));
    tick(m.position, kThickness);
    label(m.position, Q(m.text));
  }
  painter.setPen(Qt::gray);
  if (across) {
    painter.drawLine(0, kThickness - 1, width(), kThickness - 1);
  } else {
    painter.drawLine(kThickness - 1, 0, kThickness - 1, height());
  }
}

// ---------------------------------------------------------------------------------------------
// CIMGView

QImage to_image(const imaging::pixel_surface& surface) {
  QImage image(surface.width(), surface.height(), QImage::Format_BGR888);
  const std::size_t bytes = static_cast<std::size_t>(surface.width()) * 3;
  for (int y = 0; y < surface.height(); ++y) std::memcpy(image.scanLine(y), surface.row(y), bytes);
  return image;
}

CIMGView::CIMGView(QWidget* parent) : QAbstractScrollArea(parent) {
  setObjectName(QStringLiteral("CIMGView"));
  viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
}

void CIMGView::set_picture_size(QSize picture) {
  picture_ = picture;
  update_scroll_bars();
}

void CIMGView::invalidate() {
  stale_ = true;
  viewport()->update();
}

QPoint CIMGView::scroll() const { return {horizontalScrollBar()->value(), verticalScrollBar()->value()}; }

void CIMGView::ensure_drawing() {
  const QPoint at = scroll();
  const QSize area = viewport()->size();
  if (!stale_ && at == origin_ && drawing_.size() == area) return;
  if (!draw_area || area.isEmpty()) return;
  QImage drawn = draw_area(at, area);
  if (drawn.isNull()) return;
  drawing_ = std::move(drawn);
  origin_ = at;
  stale_ = false;
}

QImage CIMGView::rendered() {
  ensure_drawing();
  QImage shown(viewport()->size(), QImage::Format_RGB32);
  shown.fill(Qt::white);
  QPainter painter(&shown);
  painter.drawImage(origin_ - scroll(), drawing_);
  return shown;
}

void CIMGView::paintEvent(QPaintEvent* event) {
  ensure_drawing();
  QPainter painter(viewport());
  painter.fillRect(event->rect(), Qt::white);
  // A drawing that could not be renewed (a filter is working) stays where it was drawn.
  painter.drawImage(origin_ - scroll(), drawing_);
}

void CIMGView::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  update_scroll_bars();
}

void CIMGView::scrollContentsBy(int, int) {
  viewport()->update();
  if (on_scrolled) on_scrolled(horizontalScrollBar()->value(), verticalScrollBar()->value());
}

void CIMGView::update_scroll_bars() {
  const QSize area = viewport()->size();
  horizontalScrollBar()->setRange(0, std::max(0, picture_.width() - area.width()));
  horizontalScrollBar()->setPageStep(area.width());
  horizontalScrollBar()->setSingleStep(16);
  verticalScrollBar()->setRange(0, std::max(0, picture_.height() - area.height()));
  verticalScrollBar()->setPageStep(area.height());
  verticalScrollBar()->setSingleStep(16);
}

// ---------------------------------------------------------------------------------------------
// CIMGFrame

CIMGFrame::CIMGFrame(std::unique_ptr<testbench::CIMGDocument> document, bool italian, QWidget* parent)
    : QWidget(parent), document_(std::move(document)), italian_(italian) {
  setObjectName(QStringLiteral("CIMGFrame"));
  view_ = new CIMGView;
  top_ = new PixelRuler(Qt::Horizontal);
  left_ = new PixelRuler(Qt::Vertical);
  corner_ = new QWidget;
  corner_->setFixedSize(PixelRuler::kThickness, PixelRuler::kThickness);
  corner_->setAutoFillBackground(true);
  QPalette white = corner_->palette();
  white.setColor(QPalette::Window, Qt::white);
  corner_->setPalette(white);
  auto* grid = new QGridLayout(this);
  grid->setContentsMargins(0, 0, 0, 0);
  grid->setSpacing(0);
  grid->addWidget(corner_, 0, 0);
  grid->addWidget(top_, 0, 1);
  grid->addWidget(left_, 1, 0);
  grid->addWidget(view_, 1, 1);
  view_->on_scrolled = [this](int x, int y) {
    top_->set_offset(x);
    left_->set_offset(y);
  };
  view_->draw_area = [this](QPoint origin, QSize size) { return draw(origin, size); };
  show_rulers();
  refresh();
}

CIMGFrame::~CIMGFrame() = default;

void CIMGFrame::refresh() {
  state_.measure(*document_);
  const imaging::CSize picture = state_.picture_size();
  view_->set_picture_size(QSize(picture.cx, picture.cy));
  view_->invalidate();
  update_rulers();
  setWindowTitle(Q(document_->title()) + QStringLiteral("[*]"));
  setWindowModified(document_->modified());
}

QImage CIMGFrame::draw(QPoint origin, QSize size) const {
  // While a filter works on the document the last drawing stays.
  if (busy_) return {};
  imaging::pixel_surface surface(std::max(size.width(), 1), std::max(size.height(), 1));
  state_.draw(*document_, surface, imaging::CPoint{origin.x(), origin.y()});
  return to_image(surface);
}

void CIMGFrame::update_rulers() {
  const QScreen* screen = QGuiApplication::primaryScreen();
  const QSize extent = screen != nullptr ? screen->size() : QSize();
  top_->set_scale(state_.top_ruler(extent.width()));
  left_->set_scale(state_.left_ruler(extent.height()));
}

void CIMGFrame::show_rulers() {
  const bool shown = state_.rulers_visible();
  for (QWidget* w : {static_cast<QWidget*>(top_), static_cast<QWidget*>(left_), corner_}) w->setVisible(shown);
}

void CIMGFrame::closeEvent(QCloseEvent* event) {
  if (busy_) {
    event->ignore();
    return;
  }
  // "Si" saves over the document's own file; "NO" drops the changes. It closes either way.
  if (document_->modified() && ask_close && ask_close(document_->close_question(italian_))) document_->save();
  event->accept();
}

// ---------------------------------------------------------------------------------------------
// Dialogs

ResizeDialog::ResizeDialog(QWidget* parent, bool italian, imaging::CSize start)
    : QDialog(parent), form_(start) {
  setObjectName(QStringLiteral("ResizeDialog"));
  setWindowTitle(T(txt::resize_title, italian));
  const auto spin = [] {
    auto* box = new QSpinBox;
    box->setRange(0, static_cast<int>(testbench::resize_form::kMax));
    return box;
  };
  width_ = spin();
  width_->setObjectName(QStringLiteral("width"));
  height_ = spin();
  height_->setObjectName(QStringLiteral("height"));
  keep_ = new QCheckBox(T(txt::resize_keep, italian));
  show_form();
  connect(width_, &QSpinBox::valueChanged, this, [this](int value) {
    form_.set_width(static_cast<unsigned>(value));
    show_form();
  });
  connect(height_, &QSpinBox::valueChanged, this, [this](int value) {
    form_.set_height(static_cast<unsigned>(value));
    show_form();
  });
  connect(keep_, &QCheckBox::toggled, this, [this](bool keep) {
    form_.set_keep_proportions(keep);
    show_form();
  });
  auto* grid = new QGridLayout;
  grid->addWidget(new QLabel(T(txt::resize_width, italian)), 0, 0);
  grid->addWidget(width_, 0, 1);
  grid->addWidget(new QLabel(T(txt::resize_height, italian)), 1, 0);
  grid->addWidget(height_, 1, 1);
  grid->addWidget(keep_, 2, 0, 1, 2);
  auto* buttons = new QDialogButtonBox;
  buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
  buttons->addButton(T(txt::button_cancel, italian), QDialogButtonBox::RejectRole);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(grid);
  layout->addWidget(buttons);
}

void ResizeDialog::show_form() {
  // The field written from the other one does not in turn write the first.
  const QSignalBlocker w(width_);
  const QSignalBlocker h(height_);
  const QSignalBlocker k(keep_);
  if (width_->value() != static_cast<int>(form_.width())) width_->setValue(static_cast<int>(form_.width()));
  if (height_->value() != static_cast<int>(form_.height())) height_->setValue(static_cast<int>(form_.height()));
  keep_->setChecked(form_.keep_proportions());
}

imaging::CSize ResizeDialog::size() const {
  return {static_cast<int>(form_.width()), static_cast<int>(form_.height())};
}

DeleteImagesDialog::DeleteImagesDialog(QWidget* parent, testbench::session& session)
    : QDialog(parent), session_(session), form_(session.config()) {
  const bool it = session.italian();
  setObjectName(QStringLiteral("DeleteImagesDialog"));
  setWindowTitle(T(txt::delete_images_title, it));
  first_ = new QCheckBox(T(txt::delete_images_box1, it));
  second_ = new QCheckBox(T(txt::delete_images_box2, it));
  auto* erase_button = new QPushButton(T(txt::delete_images_button, it));
  auto* close_button = new QPushButton(T(txt::delete_images_close, it));
  connect(erase_button, &QPushButton::clicked, this, [this] { erase(); });
  connect(close_button, &QPushButton::clicked, this, &QDialog::reject);
  auto* text = new QLabel(T(txt::delete_images_text, it));
  text->setWordWrap(true);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(erase_button);
  buttons->addWidget(close_button);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(text);
  layout->addWidget(first_);
  layout->addWidget(second_);
  layout->addLayout(buttons);
  show_form();
}

void DeleteImagesDialog::show_form() {
  for (int image : {1, 2}) {
    box(image)->setChecked(form_.checked(image));
    box(image)->setEnabled(form_.enabled(image));
  }
}

void DeleteImagesDialog::erase() {
  for (int image : {1, 2}) form_.set_checked(image, box(image)->isChecked());
  QApplication::setOverrideCursor(Qt::WaitCursor);
  const std::optional<testbench::message_box_text> failure = form_.erase(session_);
  QApplication::restoreOverrideCursor();
  show_form();
  if (failure) message_box(this, session_.italian(), Q(failure->text), box_kind::notice, false, Q(failure->title));
}

ImageProperties::ImageProperties(std::vector<testbench::property_row> labels, bool italian, QWidget* parent)
    : QWidget(parent), labels_(std::move(labels)) {
  setObjectName(QStringLiteral("ImageProperties"));
  list_ = new QTreeWidget;
  list_->setColumnCount(2);
  list_->setHeaderLabels({L(italian, "Proprietà", "Property"), L(italian, "Valore", "Value")});
  list_->setRootIsDecorated(false);
  list_->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(list_);
  show_document(nullptr);
}

void ImageProperties::show_document(const testbench::CIMGDocument* document) {
  const std::vector<testbench::property_row> rows = document != nullptr ? document->properties(labels_) : labels_;
  list_->clear();
  QFont heading = list_->font();
  heading.setBold(true);
  for (const testbench::property_row& row : rows) {
    auto* item = new QTreeWidgetItem(list_, {Q(row.name), document != nullptr ? Q(row.value) : QString()});
    if (row.kind == testbench::row_kind::heading) {
      item->setFont(0, heading);
      item->setFirstColumnSpanned(true);
    }
  }
}

}  // namespace testbench_view
