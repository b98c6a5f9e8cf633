// The image windows: CIMGFrame (the MDI child of an image document) with its two pixel rulers
// around CIMGView, which shows the picture one screen pixel per image pixel against the
// printer's printable width.
#pragma once

#include <QAbstractScrollArea>
#include <QColor>
#include <QImage>
#include <QString>
#include <QWidget>

#include <functional>
#include <vector>

namespace testbench_view {

// A line across a ruler at `position` (image pixels), labelled with its value.
struct ruler_marker {
  int position = 0;
  QColor colour;
};

// One label of a ruler as drawn: its position, text and colour.
struct ruler_label {
  int position = 0;
  QString text;
  QColor colour;
  friend bool operator==(const ruler_label&, const ruler_label&) = default;
};

// The marker colours: the picture's size in blue, the printable width in red.
inline const QColor kSizeMarker(0, 0, 255);
inline const QColor kPrintableMarker(255, 0, 0);
// A multiple-of-100 label nearer than this to a marker is drawn in the background colour.
inline constexpr int kLabelClearance = 15;
inline constexpr int kLabelStep = 100;

// The labels of a ruler `length` pixels long with `markers`: "%d" at every multiple of 100 up
// to the length (in white when nearer than 15 pixels to a marker, so that the marker's label
// reads), then each marker's value in its colour.
std::vector<ruler_label> ruler_labels(int length, const std::vector<ruler_marker>& markers);

// A pixel scale along the top (horizontal) or the left (vertical) of an image window. It
// follows the view's scroll position.
class PixelRuler : public QWidget {
 public:
  explicit PixelRuler(Qt::Orientation orientation, QWidget* parent = nullptr);

  // Thickness of a ruler in pixels.
  static constexpr int kThickness = 22;

  Qt::Orientation orientation() const { return orientation_; }
  void set_length(int length);
  int length() const { return length_; }
  void set_offset(int offset);
  void set_markers(std::vector<ruler_marker> markers);
  const std::vector<ruler_marker>& markers() const { return markers_; }
  std::vector<ruler_label> labels() const { return ruler_labels(length_, markers_); }
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  Qt::Orientation orientation_;
  int length_ = 0;
  int offset_ = 0;
  std::vector<ruler_marker> markers_;
};

// Combines the guide band with `canvas` by bitwise AND: from x = `printable_width` to the
// canvas's right edge, white with a grey (128, 128, 128) backward-diagonal hatch and a dotted
// black line along its left edge. The part of the picture past the printable width shows
// hatched and its border is marked. (`origin_x`, `origin_y`) is the canvas's top-left corner in
// image pixels.
void draw_guide_band(QImage& canvas, int printable_width, int origin_x = 0, int origin_y = 0);

// The view of an image document: the picture at (0, 0), white beyond it, scroll bars covering
// the picture's size, and the guide band when guide lines are on.
class CIMGView : public QAbstractScrollArea {
 public:
  explicit CIMGView(QWidget* parent = nullptr);

  // Takes a new rendering of the picture (its size is the picture's size in pixels).
  void set_picture(QImage picture);
  const QImage& picture() const { return picture_; }
  QSize picture_size() const { return picture_.size(); }
  // Guide lines at `printable_width` (ignored when off or the width is 0).
  void set_guides(bool on, int printable_width);
  bool guides() const { return guides_ && printable_width_ > 0; }
  int printable_width() const { return printable_width_; }
  // What the viewport shows now, as drawn.
  QImage rendered() const;

  // Called with the scroll offsets whenever they change.
  std::function<void(int x, int y)> on_scrolled;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void scrollContentsBy(int dx, int dy) override;

 private:
  void update_scroll_bars();
  QImage compose(const QRect& area) const;

  QImage picture_;
  bool guides_ = false;
  int printable_width_ = 0;
};

// CIMGFrame: the image window's body, the top and left rulers (hidden at first) around the view.
class CIMGFrame : public QWidget {
 public:
  explicit CIMGFrame(QWidget* parent = nullptr);

  CIMGView* view() const { return view_; }
  PixelRuler* top_ruler() const { return top_; }
  PixelRuler* left_ruler() const { return left_; }
  QWidget* corner() const { return corner_; }

  void set_rulers_visible(bool shown);
  bool rulers_visible() const { return rulers_visible_; }
  // Brings the rulers' lengths and markers up to the view's picture and guide lines: each
  // ruler is as long as the larger of the screen's extent and the picture's.
  void update_rulers();

 private:
  CIMGView* view_;
  PixelRuler* top_;
  PixelRuler* left_;
  QWidget* corner_;
  bool rulers_visible_ = false;
};

}  // namespace testbench_view
