// The image window's rulers, the picture view and the guide band.
#include "image_view.h"

#include <QGridLayout>
#include <QGuiApplication>
#include <QPainter>
#include <QPaintEvent>
#include <QScreen>
#include <QScrollBar>

#include <algorithm>
#include <cstdlib>

namespace testbench_view {

// ---------------------------------------------------------------------------------------------
// Rulers

std::vector<ruler_label> ruler_labels(int length, const std::vector<ruler_marker>& markers) {
  std::vector<ruler_label> labels;
  for (int at = 0; at <= length; at += kLabelStep) {
    const bool crowded = std::any_of(markers.begin(), markers.end(),
                                     [at](const ruler_marker& m) { return std::abs(m.position - at) < kLabelClearance; });
    labels.push_back({at, QString::number(at), crowded ? QColor(Qt::white) : QColor(Qt::black)});
  }
  for (const ruler_marker& m : markers) labels.push_back({m.position, QString::number(m.position), m.colour});
  return labels;
}

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

void PixelRuler::set_length(int length) {
  length_ = std::max(0, length);
  update();
}

void PixelRuler::set_offset(int offset) {
  offset_ = offset;
  update();
}

void PixelRuler::set_markers(std::vector<ruler_marker> markers) {
  markers_ = std::move(markers);
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
  // A line across the ruler at `at` (image pixels), `depth` pixels from the far edge inward.
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
      // Vertical labels read bottom to top beside their line.
      painter.save();
      painter.translate(10, p - 2);
      painter.rotate(-90);
      painter.drawText(QPoint(0, 0), text);
      painter.restore();
    }
  };
  const int first = std::max(0, offset_ / 10 * 10);
  const int last = std::min(length_, offset_ + extent);
  painter.setPen(Qt::black);
  for (int at = first; at <= last; at += 10) tick(at, at % kLabelStep == 0 ? kThickness : (at % 50 == 0 ? 8 : 4));
  for (const ruler_label& l : labels()) {
    painter.setPen(l.colour);
    label(l.position, l.text);
  }
  for (const ruler_marker& m : markers_) {
    painter.setPen(m.colour);
    tick(m.position, kThickness);
  }
  painter.setPen(Qt::gray);
  if (across) {
    painter.drawLine(0, kThickness - 1, width(), kThickness - 1);
  } else {
    painter.drawLine(kThickness - 1, 0, kThickness - 1, height());
  }
}

// ---------------------------------------------------------------------------------------------
// The guide band

void draw_guide_band(QImage& canvas, int printable_width, int origin_x, int origin_y) {
  if (printable_width <= 0) return;
  if (canvas.format() != QImage::Format_RGB32) canvas = canvas.convertToFormat(QImage::Format_RGB32);
  const int left = printable_width - origin_x;
  if (left >= canvas.width()) return;
  // The band is white (AND keeps the picture), a grey backward-diagonal line every
  // kHatchStep pixels (AND darkens the picture) and a dotted black edge (AND blackens it).
  // Positions count in image pixels, so the pattern stays put while the view scrolls.
  constexpr QRgb kGrey = 0xff808080u;
  constexpr QRgb kEdge = 0xff000000u;
  constexpr int kHatchStep = 8;
  for (int y = 0; y < canvas.height(); ++y) {
    auto* line = reinterpret_cast<QRgb*>(canvas.scanLine(y));
    for (int x = std::max(left, 0); x < canvas.width(); ++x) {
      const int image_x = x + origin_x;
      if (x == left) {
        if ((y + origin_y) % 2 == 0) line[x] &= kEdge;
      } else if ((image_x + y + origin_y) % kHatchStep == 0) {
        line[x] &= kGrey;
      }
    }
  }
}

// ---------------------------------------------------------------------------------------------
// CIMGView

CIMGView::CIMGView(QWidget* parent) : QAbstractScrollArea(parent) {
  setObjectName(QStringLiteral("CIMGView"));
  viewport()->setAutoFillBackground(false);
  viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
}

void CIMGView::set_picture(QImage picture) {
  picture_ = std::move(picture);
  update_scroll_bars();
  viewport()->update();
}

void CIMGView::set_guides(bool on, int printable_width) {
  guides_ = on;
  printable_width_ = printable_width;
  viewport()->update();
}

QImage CIMGView::compose(const QRect& area) const {
  QImage canvas(area.size(), QImage::Format_RGB32);
  canvas.fill(Qt::white);
  if (!picture_.isNull()) {
    QPainter painter(&canvas);
    painter.drawImage(QPoint(-area.x(), -area.y()), picture_);
  }
  if (guides()) draw_guide_band(canvas, printable_width_, area.x(), area.y());
  return canvas;
}

QImage CIMGView::rendered() const {
  return compose(QRect(QPoint(horizontalScrollBar()->value(), verticalScrollBar()->value()), viewport()->size()));
}

void CIMGView::paintEvent(QPaintEvent* event) {
  const QRect dirty = event->rect();
  const QPoint scroll(horizontalScrollBar()->value(), verticalScrollBar()->value());
  const QImage part = compose(dirty.translated(scroll));
  QPainter painter(viewport());
  painter.drawImage(dirty.topLeft(), part);
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

CIMGFrame::CIMGFrame(QWidget* parent) : QWidget(parent) {
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
  set_rulers_visible(false);
}

void CIMGFrame::set_rulers_visible(bool shown) {
  rulers_visible_ = shown;
  for (QWidget* w : {static_cast<QWidget*>(top_), static_cast<QWidget*>(left_), corner_}) w->setVisible(shown);
  if (shown) update_rulers();
}

void CIMGFrame::update_rulers() {
  const QSize screen = QGuiApplication::primaryScreen() != nullptr ? QGuiApplication::primaryScreen()->size() : QSize();
  const QSize picture = view_->picture_size();
  top_->set_length(std::max(screen.width(), picture.width()));
  left_->set_length(std::max(screen.height(), picture.height()));
  std::vector<ruler_marker> across{{picture.width(), kSizeMarker}};
  if (view_->guides()) across.push_back({view_->printable_width(), kPrintableMarker});
  top_->set_markers(std::move(across));
  left_->set_markers({{picture.height(), kSizeMarker}});
}

}  // namespace testbench_view
