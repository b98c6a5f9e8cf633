// Offscreen tests of the image windows: the rulers' labels and markers, the guide band combined
// with the picture, and the view's scroll area.
#include <QApplication>
#include <QScreen>
#include <QScrollBar>

#include <gtest/gtest.h>

#include "image_view.h"

namespace {

using namespace testbench_view;

const QColor kWhite(Qt::white);
const QColor kBlack(Qt::black);

TEST(RulerLabels, HundredsMarkersAndClearance) {
  struct row {
    const char* what;
    int length;
    std::vector<ruler_marker> markers;
    std::vector<ruler_label> expected;
  };
  const std::vector<row> rows = {
      {"no markers", 250, {}, {{0, "0", kBlack}, {100, "100", kBlack}, {200, "200", kBlack}}},
      {"a far marker keeps every label", 200, {{150, kSizeMarker}},
       {{0, "0", kBlack}, {100, "100", kBlack}, {200, "200", kBlack}, {150, "150", kSizeMarker}}},
      {"14 pixels away erases, 15 does not", 300, {{214, kSizeMarker}, {85, kPrintableMarker}},
       {{0, "0", kBlack},
        {100, "100", kBlack},
        {200, "200", kWhite},
        {300, "300", kBlack},
        {214, "214", kSizeMarker},
        {85, "85", kPrintableMarker}}},
      {"a marker on the label itself", 100, {{100, kSizeMarker}},
       {{0, "0", kBlack}, {100, "100", kWhite}, {100, "100", kSizeMarker}}},
  };
  for (const row& r : rows) EXPECT_EQ(ruler_labels(r.length, r.markers), r.expected) << r.what;
}

// A canvas of one colour with the guide band drawn over it at `printable`.
QImage banded(QColor colour, int width, int printable, int origin_x = 0, int origin_y = 0, int height = 40) {
  QImage canvas(width, height, QImage::Format_RGB32);
  canvas.fill(colour);
  draw_guide_band(canvas, printable, origin_x, origin_y);
  return canvas;
}

TEST(GuideBand, PictureIsKeptBeforeTheWidthAndHatchedByAndAfterIt) {
  const QColor picture(200, 100, 50);
  const QImage canvas = banded(picture, 300, 80);
  int hatched = 0;
  int kept = 0;
  int edge = 0;
  for (int y = 0; y < canvas.height(); ++y) {
    for (int x = 0; x < canvas.width(); ++x) {
      const QColor c = canvas.pixelColor(x, y);
      if (x < 80) {
        ASSERT_EQ(c, picture) << x << "," << y << ": inside the printable width the picture stays";
      } else if (x == 80) {
        ASSERT_TRUE(c == kBlack || c == picture || c == QColor(128, 0, 0)) << y;
        edge += c == kBlack;
      } else if (c == picture) {
        ++kept;
      } else {
        // 200 & 128, 100 & 128, 50 & 128: the grey hatch is combined by AND, not painted over.
        ASSERT_EQ(c, QColor(128, 0, 0)) << x << "," << y;
        ++hatched;
      }
    }
  }
  EXPECT_GT(edge, 5) << "the dotted edge";
  EXPECT_LT(edge, canvas.height()) << "the edge is dotted, not solid";
  EXPECT_GT(hatched, 200);
  EXPECT_GT(kept, hatched) << "the hatch is lines, not a fill";
  // Up to the far right of a picture more than twice the printable width.
  bool far_hatched = false;
  for (int y = 0; y < canvas.height(); ++y) far_hatched |= canvas.pixelColor(299, y) != picture;
  EXPECT_TRUE(far_hatched);
}

TEST(GuideBand, ScrolledCanvasMatchesTheSameRegionOfTheWhole) {
  const QImage whole = banded(Qt::white, 400, 120);
  const QImage scrolled = banded(Qt::white, 250, 120, 150, 7, 33);
  EXPECT_EQ(scrolled, whole.copy(150, 7, 250, 33)) << "the hatch stays put while the view scrolls";
  const QImage before = banded(Qt::white, 100, 120);
  QImage white(100, 40, QImage::Format_RGB32);
  white.fill(Qt::white);
  EXPECT_EQ(before, white) << "a canvas left of the printable width is not touched";
  EXPECT_EQ(banded(Qt::white, 100, 0), white) << "no band without a printable width";
}

TEST(ImageView, ShowsThePictureAtTrueSizeWithWhiteBeyondAndScrolls) {
  QImage picture(500, 300, QImage::Format_RGB32);
  picture.fill(QColor(10, 20, 30));
  CIMGFrame frame;
  frame.resize(300, 200);
  frame.show();
  CIMGView* view = frame.view();
  view->set_picture(picture);
  QApplication::processEvents();
  EXPECT_EQ(view->horizontalScrollBar()->maximum(), 500 - view->viewport()->width());
  EXPECT_EQ(view->verticalScrollBar()->maximum(), 300 - view->viewport()->height());

  QImage small(50, 40, QImage::Format_RGB32);
  small.fill(QColor(10, 20, 30));
  view->set_picture(small);
  QApplication::processEvents();
  const QImage shown = view->rendered();
  EXPECT_EQ(shown.pixelColor(49, 39), QColor(10, 20, 30));
  EXPECT_EQ(shown.pixelColor(50, 39), kWhite);
  EXPECT_EQ(shown.pixelColor(49, 40), kWhite);
  EXPECT_EQ(view->horizontalScrollBar()->maximum(), 0);
}

TEST(ImageView, RulersStartHiddenAndFollowPictureAndGuides) {
  CIMGFrame frame;
  frame.resize(300, 200);
  frame.show();
  QImage picture(640, 120, QImage::Format_RGB32);
  picture.fill(Qt::gray);
  frame.view()->set_picture(picture);
  EXPECT_FALSE(frame.top_ruler()->isVisible());
  EXPECT_FALSE(frame.left_ruler()->isVisible());
  frame.set_rulers_visible(true);
  EXPECT_TRUE(frame.top_ruler()->isVisible());
  EXPECT_TRUE(frame.left_ruler()->isVisible());
  const QSize screen = QGuiApplication::primaryScreen()->size();
  EXPECT_EQ(frame.top_ruler()->length(), std::max(640, screen.width()));
  EXPECT_EQ(frame.left_ruler()->length(), std::max(120, screen.height()));
  ASSERT_EQ(frame.top_ruler()->markers().size(), 1u);
  EXPECT_EQ(frame.top_ruler()->markers()[0].position, 640);
  EXPECT_EQ(frame.left_ruler()->markers()[0].position, 120);

  frame.view()->set_guides(true, 576);
  frame.update_rulers();
  ASSERT_EQ(frame.top_ruler()->markers().size(), 2u);
  EXPECT_EQ(frame.top_ruler()->markers()[1].position, 576);
  EXPECT_EQ(frame.top_ruler()->markers()[1].colour, kPrintableMarker);
  frame.view()->set_guides(false, 576);
  frame.update_rulers();
  EXPECT_EQ(frame.top_ruler()->markers().size(), 1u);
  frame.set_rulers_visible(false);
  EXPECT_FALSE(frame.top_ruler()->isVisible());
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
