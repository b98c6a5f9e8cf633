// The image windows: CIMGFrame (the MDI child of an image document) with its two pixel rulers
// around CIMGView, which shows the picture one screen pixel per image pixel against the
// printer's printable width; the resize and delete dialogs and the image property window.
#pragma once

#include <QAbstractScrollArea>
#include <QColor>
#include <QDialog>
#include <QImage>
#include <QString>
#include <QWidget>

#include <functional>
#include <memory>
#include <vector>

#include "testbench/image_document.h"

class QCheckBox;
class QSpinBox;
class QTreeWidget;

namespace testbench_view {

// A pixel scale along the top (horizontal) or the left (vertical) of an image window: ticks
// every 10 pixels, the labels and markers of the model's scale. It follows the view's scroll
// position.
class PixelRuler : public QWidget {
 public:
  explicit PixelRuler(Qt::Orientation orientation, QWidget* parent = nullptr);

  // Thickness of a ruler in pixels.
  static constexpr int kThickness = 22;

  Qt::Orientation orientation() const { return orientation_; }
  void set_scale(testbench::ruler_scale scale);
  const testbench::ruler_scale& scale() const { return scale_; }
  void set_offset(int offset);
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  Qt::Orientation orientation_;
  testbench::ruler_scale scale_;
  int offset_ = 0;
};

// A rendering of the library's drawing surface (blue, green, red rows) as an image.
QImage to_image(const imaging::pixel_surface& surface);

// The view of an image document: the visible part of the drawing (the picture at (0, 0), white
// beyond it, the guide band when guide lines are on) and scroll bars covering the picture's size.
// Only the visible area is drawn, from the scroll position, so a large picture needs no drawing
// of its whole size.
class CIMGView : public QAbstractScrollArea {
 public:
  explicit CIMGView(QWidget* parent = nullptr);

  // Draws the area of `size` whose top-left corner is `origin` in picture pixels; a null image
  // when the picture cannot be drawn now (the last drawing then stays).
  std::function<QImage(QPoint origin, QSize size)> draw_area;

  // The picture's size, which the scroll bars cover.
  void set_picture_size(QSize picture);
  QSize picture_size() const { return picture_; }
  // The picture changed: the next paint draws it again.
  void invalidate();
  // What the viewport shows now.
  QImage rendered();

  // Called with the scroll offsets whenever they change.
  std::function<void(int x, int y)> on_scrolled;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void scrollContentsBy(int dx, int dy) override;

 private:
  QPoint scroll() const;
  void update_scroll_bars();
  // Draws the visible area again when it moved, grew or the picture changed.
  void ensure_drawing();

  QImage drawing_;
  QPoint origin_;
  bool stale_ = true;
  QSize picture_;
};

// CIMGFrame: an image window. It owns its document and the window's state (rulers, guide
// lines, printable width), shows the view with the rulers (hidden at first) around it, and
// asks before closing a modified document.
class CIMGFrame : public QWidget {
 public:
  CIMGFrame(std::unique_ptr<testbench::CIMGDocument> document, bool italian, QWidget* parent = nullptr);
  ~CIMGFrame() override;

  testbench::CIMGDocument& document() { return *document_; }
  testbench::image_window_state& state() { return state_; }
  CIMGView* view() const { return view_; }
  PixelRuler* top_ruler() const { return top_; }
  PixelRuler* left_ruler() const { return left_; }

  // After a change of the picture, the rulers or the guide lines: measures the picture,
  // draws it again and brings the rulers and the caption up to date.
  void refresh();
  // Shows or hides the rulers as the state says.
  void show_rulers();
  // While a filter runs on the document the window does not close.
  void set_busy(bool busy) { busy_ = busy; }
  bool busy() const { return busy_; }

  // Asks the closing question of a modified document; true when it may close.
  std::function<bool(const testbench::message_box_text&)> ask_close;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  QImage draw(QPoint origin, QSize size) const;
  void update_rulers();

  std::unique_ptr<testbench::CIMGDocument> document_;
  testbench::image_window_state state_;
  bool italian_;
  CIMGView* view_;
  PixelRuler* top_;
  PixelRuler* left_;
  QWidget* corner_;
  bool busy_ = false;
};

// "Ridimensione immagine": "Larghezza" and "Altezza" with spin buttons, "Mantieni le
// proporzioni"; the fields follow the resize form's rules.
class ResizeDialog : public QDialog {
 public:
  ResizeDialog(QWidget* parent, bool italian, imaging::CSize start);
  imaging::CSize size() const;
  QSpinBox* width_box() const { return width_; }
  QSpinBox* height_box() const { return height_; }
  QCheckBox* keep_box() const { return keep_; }

 private:
  void show_form();

  testbench::resize_form form_;
  QSpinBox* width_;
  QSpinBox* height_;
  QCheckBox* keep_;
};

// "Elimina immagini": the two boxes of the stored images, "Elimina" and "Chiudi".
class DeleteImagesDialog : public QDialog {
 public:
  DeleteImagesDialog(QWidget* parent, testbench::session& session);
  QCheckBox* box(int image) const { return image == 2 ? second_ : first_; }

 private:
  void show_form();
  void erase();

  testbench::session& session_;
  testbench::delete_images_form form_;
  QCheckBox* first_;
  QCheckBox* second_;
};

// The image property window's list: the label file's rows beside the active picture's values.
class ImageProperties : public QWidget {
 public:
  ImageProperties(std::vector<testbench::property_row> labels, bool italian, QWidget* parent = nullptr);
  // Shows the values of `document` (nullptr: the labels alone).
  void show_document(const testbench::CIMGDocument* document);
  QTreeWidget* list() const { return list_; }
  // Wide enough for the longest label beside its value.
  QSize sizeHint() const override { return {340, 260}; }

 private:
  std::vector<testbench::property_row> labels_;
  QTreeWidget* list_;
};

}  // namespace testbench_view
