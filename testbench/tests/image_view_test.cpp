// Offscreen tests of the image windows over the recording test service object: pictures shown
// at true size, which image commands are offered, the rulers and the guide band, a filter with
// its progress, resizing, and the printer commands with the alignment buttons.
#include <QApplication>
#include <QCheckBox>
#include <QDockWidget>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSpinBox>
#include <QStatusBar>
#include <QTimer>
#include <QTreeWidget>

#include <fstream>
#include <iterator>

#include <gtest/gtest.h>

#include "dialogs.h"
#include "image_view.h"
#include "main_frame.h"
#include "platform/registry.h"
#include "platform/testing/temp_dir.h"
#include "script_view.h"
#include "test_service.h"
#include "test_support.h"
#include "tests/encoders.h"

// Failures show texts as text.
void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }

namespace {

using namespace testbench_view;
using testbench::image_command;
namespace it = imaging::test;

constexpr std::int32_t kRecLineWidthIndex = 8020;  // PIDXPtr_RecLineWidth

std::string read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

const QColor kPaint(200, 100, 50);  // the test pictures' colour
const QColor kTop(255, 0, 0);       // the top row of a picture, to see rows the right way up

// Acts on the modal box or dialog that opens next: records its text, then presses `button`.
struct next_box {
  QString text;
  QString title;
  bool seen = false;

  void answer(const QString& button, std::function<void(QDialog&)> before = {}) {
    QTimer::singleShot(0, [this, button, before] {
      auto* box = qobject_cast<QDialog*>(QApplication::activeModalWidget());
      ASSERT_NE(box, nullptr);
      seen = true;
      title = box->windowTitle();
      if (auto* label = box->findChild<QLabel*>(QStringLiteral("text"))) text = label->text();
      if (before) before(*box);
      for (QPushButton* b : box->findChildren<QPushButton*>()) {
        if (b->text() == button) {
          b->click();
          return;
        }
      }
      ADD_FAILURE() << "no button " << button.toStdString();
      box->reject();
    });
  }
};

class ImageWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(controls_test::register_library(PTRCTL_PATH));
    ASSERT_TRUE(controls_test::register_library(CONTROLS_TEST_SERVICE_PATH));
    controls_test::install_device(controls_test::kPosPrinterKey, "TestDevice", controls_test::kServiceProgId);
    platform::registry_key key;
    platform::registry_key::open(platform::registry_root::local_machine,
                                 std::string(controls_test::kPosPrinterKey) + "\\TestDevice", key);
    key.set_string("PTRKorvane", "TestDevice");
    probe_.emplace();
    config_.apply_first_run();
  }

  CMainFrame& frame() {
    if (!frame_) {
      frame_ = std::make_unique<CMainFrame>(config_);
      frame_->resize(1000, 700);
      frame_->show();
      QApplication::processEvents();
    }
    return *frame_;
  }

  // A bitmap of `bits` per pixel, `width` x `height`, written by Qt's own BMP writer: its top
  // row red and the rest kPaint (24 bits), a grey ramp (8 bits) or black and white stripes (1 bit).
  std::string write_bmp(const std::string& name, int bits, int width, int height) {
    QImage picture;
    if (bits == 24) {
      picture = QImage(width, height, QImage::Format_RGB32);
      picture.fill(kPaint);
      for (int x = 0; x < width; ++x) picture.setPixelColor(x, 0, kTop);
    } else {
      picture = QImage(width, height, bits == 1 ? QImage::Format_Mono : QImage::Format_Indexed8);
      const int colours = bits == 1 ? 2 : 256;
      QList<QRgb> table;
      for (int i = 0; i < colours; ++i) table.push_back(qRgb(i * 255 / (colours - 1), i * 255 / (colours - 1), i * 255 / (colours - 1)));
      picture.setColorTable(table);
      for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) picture.setPixel(x, y, bits == 1 ? static_cast<uint>((x / 4) % 2) : static_cast<uint>(x % 256));
      }
    }
    const std::filesystem::path path = dir_ / name;
    EXPECT_TRUE(picture.save(QString::fromStdString(path.string()), "BMP"));
    return path.string();
  }

  std::string write_jpeg(const std::string& name, int width, int height) {
    const std::filesystem::path path = dir_ / name;
    std::filesystem::create_directories(path.parent_path());
    EXPECT_TRUE(it::write_jpeg(path.string(), width, height, [](int x, int, std::uint8_t* rgb) {
      rgb[0] = static_cast<std::uint8_t>(x);
      rgb[1] = 128;
      rgb[2] = 64;
    }));
    return path.string();
  }

  CIMGFrame* open(const std::string& path) {
    if (!frame().open_document(QString::fromStdString(path))) return nullptr;
    return frame().active_image();
  }

  bool enabled(image_command command) { return frame().image_action(command)->isEnabled(); }

  QString output() { return frame().output_view()->toPlainText(); }

  platform::testing::scoped_registry_dir registry_;
  platform::testing::temp_dir dir_;
  std::optional<controls_test::service_probe> probe_;
  testbench::settings config_{TESTBENCH_DATA_DIR};
  std::unique_ptr<CMainFrame> frame_;
};

TEST_F(ImageWindowTest, PictureShowsAtTrueSizeRightWayUpWithWhiteBeyondAndScrolls) {
  CIMGFrame* image = open(write_bmp("wide.bmp", 24, 900, 700));
  ASSERT_NE(image, nullptr);
  QApplication::processEvents();
  CIMGView* view = image->view();
  // Every drawing covers the visible area only, never the whole picture.
  std::vector<QSize> drawn;
  view->draw_area = [&drawn, original = view->draw_area](QPoint origin, QSize size) {
    drawn.push_back(size);
    return original(origin, size);
  };
  view->invalidate();
  EXPECT_EQ(view->picture_size(), QSize(900, 700));
  EXPECT_EQ(view->horizontalScrollBar()->maximum(), 900 - view->viewport()->width());
  EXPECT_EQ(view->verticalScrollBar()->maximum(), 700 - view->viewport()->height());
  QImage shown = view->rendered();
  EXPECT_EQ(shown.pixelColor(0, 0), kTop);
  EXPECT_EQ(shown.pixelColor(5, 1), kPaint);
  view->verticalScrollBar()->setValue(view->verticalScrollBar()->maximum());
  view->horizontalScrollBar()->setValue(view->horizontalScrollBar()->maximum());
  shown = view->rendered();
  EXPECT_EQ(shown.pixelColor(shown.width() - 1, shown.height() - 1), kPaint);
  ASSERT_GE(drawn.size(), 2u) << "drawn again after scrolling";
  for (const QSize& size : drawn) EXPECT_EQ(size, view->viewport()->size());
  EXPECT_EQ(frame().mdi()->activeSubWindow()->windowTitle(), QStringLiteral("wide.bmp[*]"));
  EXPECT_FALSE(frame().mdi()->activeSubWindow()->isWindowModified());
  EXPECT_EQ(config_.get_string(testbench::kSectionSettings, "CurrentExt"), "3");

  // Opening the same file again brings its window to the front instead of a second document on
  // the same working copy.
  const auto windows = frame().mdi()->subWindowList().size();
  CIMGFrame* small = open(write_bmp("small.bmp", 24, 40, 30));
  ASSERT_NE(small, nullptr);
  EXPECT_EQ(open((dir_ / "wide.bmp").string()), image);
  EXPECT_EQ(frame().mdi()->subWindowList().size(), windows + 1);
  frame().mdi()->setActiveSubWindow(frame().mdi()->subWindowList().back());

  ASSERT_NE(small, nullptr);
  QApplication::processEvents();
  shown = small->view()->rendered();
  EXPECT_EQ(shown.pixelColor(39, 29), kPaint);
  EXPECT_EQ(shown.pixelColor(40, 29), QColor(Qt::white)) << "white beyond the picture";
  EXPECT_EQ(shown.pixelColor(39, 30), QColor(Qt::white));
  EXPECT_EQ(small->view()->horizontalScrollBar()->maximum(), 0);
}

TEST_F(ImageWindowTest, CommandsFollowThePictureAndTheConnection) {
  struct row {
    const char* what;
    std::string path;
    std::vector<image_command> offered;  // among the conversions, resize and guide lines
  };
  const std::vector<image_command> picture_commands = {
      image_command::convert_to_bitmap, image_command::black_white, image_command::halftone,
      image_command::halftone_stucki,   image_command::grey_scale,  image_command::to_8bpp,
      image_command::red_second_colour, image_command::resize,      image_command::guide_lines};
  const std::vector<image_command> all_but_convert(picture_commands.begin() + 1, picture_commands.end());
  std::vector<image_command> all_but_8bpp = all_but_convert;
  std::erase(all_but_8bpp, image_command::to_8bpp);
  const std::vector<row> rows = {
      {"24 bits", write_bmp("deep.bmp", 24, 30, 20), all_but_convert},
      {"8 bits", write_bmp("grey.bmp", 8, 30, 20), all_but_8bpp},
      {"1 bit", write_bmp("mono.bmp", 1, 30, 20),
       {image_command::red_second_colour, image_command::resize, image_command::guide_lines}},
      {"JPEG", write_jpeg("photo.jpg", 30, 20), {image_command::convert_to_bitmap}},
  };
  EXPECT_FALSE(enabled(image_command::rulers)) << "no image window";
  for (const row& r : rows) {
    ASSERT_NE(open(r.path), nullptr) << r.what;
    for (image_command command : picture_commands) {
      const bool offered = std::find(r.offered.begin(), r.offered.end(), command) != r.offered.end();
      EXPECT_EQ(enabled(command), offered) << r.what << ": " << frame().image_action(command)->text().toStdString();
    }
    for (image_command command : {image_command::rulers, image_command::properties}) EXPECT_TRUE(enabled(command));
    for (image_command command : {image_command::print, image_command::store, image_command::delete_stored,
                                  image_command::align_center}) {
      EXPECT_FALSE(enabled(command)) << r.what << ": printer commands need a connection";
    }
  }
  EXPECT_EQ(config_.get_string(testbench::kSectionSettings, "CurrentExt"), "4");
  ASSERT_TRUE(frame().connect_to(std::string("TestDevice")));
  for (image_command command : {image_command::print, image_command::store, image_command::delete_stored,
                                image_command::align_left, image_command::align_center, image_command::align_right}) {
    EXPECT_TRUE(enabled(command)) << frame().image_action(command)->text().toStdString();
  }
  // The output window active: the image commands that need an image window grey out.
  for (QMdiSubWindow* sub : frame().mdi()->subWindowList()) {
    if (sub->widget() == static_cast<QWidget*>(frame().output_view())) frame().mdi()->setActiveSubWindow(sub);
  }
  EXPECT_FALSE(enabled(image_command::print));
  EXPECT_FALSE(enabled(image_command::rulers));
  EXPECT_TRUE(enabled(image_command::delete_stored));
}

TEST_F(ImageWindowTest, PicturesThatCannotLoadShowTheirMessageAndOpenNothing) {
  struct row {
    const char* what;
    std::string path;
    const char* text;
  };
  std::filesystem::create_directories(dir_ / "Bmp folder");
  std::ofstream(dir_ / "empty.bmp").flush();
  const std::vector<row> rows = {
      {"a JPEG in a folder named bmp is taken for a bitmap", write_jpeg("Bmp folder/photo.jpg", 10, 10),
       "Il file selezionato non è un tipo di bitmap valida."},
      {"a missing file", (dir_ / "missing.bmp").string(), "Errore di I/O, impossibile aprire il file selezionato. "},
      {"an empty file", (dir_ / "empty.bmp").string(), "Il file selezionato non è un tipo di bitmap valida."},
  };
  frame();
  for (const row& r : rows) {
    const auto windows = frame().mdi()->subWindowList().size();
    next_box box;
    box.answer(QStringLiteral("OK"));
    EXPECT_FALSE(frame().open_document(QString::fromStdString(r.path))) << r.what;
    EXPECT_TRUE(box.seen) << r.what;
    EXPECT_EQ(box.title, QStringLiteral("Errore caricamento immagine")) << r.what;
    EXPECT_EQ(box.text, QString::fromUtf8(r.text).trimmed()) << r.what;
    EXPECT_EQ(frame().mdi()->subWindowList().size(), windows) << r.what;
  }
}

TEST_F(ImageWindowTest, RulersAndGuideLinesToggleWithTheirMarkersAndBand) {
  CIMGFrame* image = open(write_bmp("band.bmp", 24, 300, 200));
  ASSERT_NE(image, nullptr);
  QApplication::processEvents();
  EXPECT_FALSE(image->top_ruler()->isVisible()) << "rulers start hidden";
  frame().image_action(image_command::rulers)->trigger();
  EXPECT_TRUE(image->top_ruler()->isVisible());
  EXPECT_TRUE(image->left_ruler()->isVisible());
  EXPECT_TRUE(frame().image_action(image_command::rulers)->isChecked());
  const QSize screen = QGuiApplication::primaryScreen()->size();
  EXPECT_EQ(image->top_ruler()->scale().length, std::max(300, screen.width()));
  ASSERT_EQ(image->top_ruler()->scale().markers.size(), 1u);
  EXPECT_EQ(image->top_ruler()->scale().markers[0].position, 300);
  EXPECT_EQ(image->left_ruler()->scale().markers[0].position, 200);

  // Not connected: the warning, and they stay off.
  frame().image_action(image_command::guide_lines)->trigger();
  EXPECT_FALSE(frame().image_action(image_command::guide_lines)->isChecked());
  EXPECT_TRUE(output().contains(QStringLiteral("(W) : Impossibile attivare le linee guida"))) << output().toStdString();
  EXPECT_TRUE(output().contains(QStringLiteral("L'operazione richiede una connessione attiva con la stampante.")));
  const QImage plain = image->view()->rendered();

  ASSERT_TRUE(frame().connect_to(std::string("TestDevice")));
  probe_->set_number(kRecLineWidthIndex, 110);
  frame().mdi()->setActiveSubWindow(frame().mdi()->subWindowList().back());
  frame().image_action(image_command::guide_lines)->trigger();
  ASSERT_TRUE(frame().image_action(image_command::guide_lines)->isChecked());
  const testbench::ruler_scale top = image->top_ruler()->scale();
  ASSERT_EQ(top.markers.size(), 2u);
  EXPECT_EQ(top.markers[1].position, 110);
  EXPECT_EQ(QColor(top.markers[1].red, top.markers[1].green, top.markers[1].blue), QColor(255, 0, 0));
  for (const testbench::ruler_label& label : top.labels) {
    if (label.position == 100) {
      EXPECT_TRUE(label.erased) << "10 pixels from the printable width";
    } else if (label.position == 200) {
      EXPECT_FALSE(label.erased);
    }
  }

  const QImage banded = image->view()->rendered();
  int hatched = 0;
  int edge = 0;
  for (int y = 1; y < 200; ++y) {
    for (int x = 0; x < 300; ++x) {
      const QColor c = banded.pixelColor(x, y);
      if (x < 110) {
        ASSERT_EQ(c, kPaint) << x << "," << y << ": the printable part is untouched";
      } else if (x == 110) {
        edge += c == QColor(Qt::black);
      } else if (x < 220 && c != kPaint) {
        // The grey hatch ANDed with (200, 100, 50).
        ASSERT_EQ(c, QColor(128, 0, 0)) << x << "," << y;
        ++hatched;
      }
    }
  }
  EXPECT_GT(edge, 20) << "the dotted edge";
  EXPECT_LT(edge, 199) << "dotted, not solid";
  EXPECT_GT(hatched, 1000);

  frame().image_action(image_command::guide_lines)->trigger();
  EXPECT_FALSE(frame().image_action(image_command::guide_lines)->isChecked());
  EXPECT_EQ(image->top_ruler()->scale().markers.size(), 1u);
  EXPECT_EQ(image->view()->rendered(), plain);
  frame().image_action(image_command::rulers)->trigger();
  EXPECT_FALSE(image->top_ruler()->isVisible());
}

TEST_F(ImageWindowTest, StuckiHalftoneShowsProgressAndCompletes) {
  CIMGFrame* image = open(write_bmp("photo.bmp", 24, 64, 240));
  ASSERT_NE(image, nullptr);
  frame().image_action(image_command::properties)->trigger();
  ASSERT_TRUE(frame().image_property_dock()->isVisible());
  int calls = 0;
  bool bar_shown = true;
  int last_value = -1;
  int last_maximum = -1;
  QString status_text;
  bool commands_greyed = true;
  frame().on_filter_progress = [&] {
    ++calls;
    QProgressBar* bar = frame().progress_bar();
    bar_shown = bar_shown && bar->isVisible();
    last_value = bar->value();
    last_maximum = bar->maximum();
    status_text = frame().statusBar()->findChild<QLabel*>()->text();
    commands_greyed = commands_greyed && !enabled(image_command::halftone) && !enabled(image_command::resize);
  };
  frame().image_action(image_command::halftone_stucki)->trigger();
  frame().on_filter_progress = nullptr;

  EXPECT_EQ(frame().halftone_type(), testbench::kHalftoneStucki);
  EXPECT_GE(calls, 1);
  EXPECT_TRUE(bar_shown) << "the bar shows in the status bar while the filter runs";
  EXPECT_EQ(last_maximum, 240) << "one step a row";
  EXPECT_EQ(last_value, 240);
  EXPECT_EQ(status_text, QStringLiteral("Elaborazione immagine in corso..."));
  EXPECT_TRUE(commands_greyed) << "no second command on the picture while the first runs";
  EXPECT_FALSE(frame().progress_bar()->isVisible());
  EXPECT_EQ(frame().statusBar()->findChild<QLabel*>()->text(), QStringLiteral("Pronto"));

  EXPECT_EQ(image->document().bit_count(), 1);
  EXPECT_TRUE(image->document().modified());
  EXPECT_TRUE(frame().mdi()->activeSubWindow()->isWindowModified());
  // A 1-bit picture offers only the red second colour among the conversions.
  EXPECT_FALSE(enabled(image_command::halftone));
  EXPECT_TRUE(enabled(image_command::red_second_colour));
  const QImage shown = image->view()->rendered();
  for (int y = 0; y < 240; y += 7) {
    for (int x = 0; x < 64; x += 3) {
      const QColor c = shown.pixelColor(x, y);
      ASSERT_TRUE(c == QColor(Qt::black) || c == QColor(Qt::white)) << x << "," << y;
    }
  }
  // The property window follows: row 6 holds the bits per pixel.
  QTreeWidget* list = frame().image_properties()->list();
  ASSERT_GE(list->topLevelItemCount(), 6);
  EXPECT_EQ(list->topLevelItem(5)->text(1), QStringLiteral("1"));
  EXPECT_EQ(list->topLevelItem(1)->text(1), QStringLiteral("64 pixel"));

  // Closing the changed window asks; "NO" drops the changes and leaves the file as it was.
  const std::string before = read_file(dir_ / "photo.bmp");
  next_box box;
  box.answer(QStringLiteral("NO"));
  frame().mdi()->activeSubWindow()->close();
  QApplication::processEvents();
  EXPECT_TRUE(box.seen);
  EXPECT_EQ(box.title, QString::fromStdString("OnClose - " + (dir_ / "photo.bmp").string()));
  EXPECT_EQ(read_file(dir_ / "photo.bmp"), before);
  EXPECT_EQ(frame().active_image(), nullptr);
}

TEST_F(ImageWindowTest, ConvertedJpegContinuesAsABitmapThatSaves) {
  CIMGFrame* image = open(write_jpeg("photo.jpg", 40, 30));
  ASSERT_NE(image, nullptr);
  next_box refuse;
  refuse.answer(QStringLiteral("NO"));
  frame().image_action(image_command::convert_to_bitmap)->trigger();
  ASSERT_TRUE(refuse.seen);
  EXPECT_TRUE(refuse.text.startsWith(QStringLiteral("Attenzione, convertendo l'immagine"))) << refuse.text.toStdString();
  EXPECT_TRUE(image->document().is_jpeg()) << "NO keeps the JPEG";
  EXPECT_FALSE(std::filesystem::exists(dir_ / "photo.bmp"));

  next_box confirm;
  confirm.answer(QStringLiteral("Si"));
  frame().image_action(image_command::convert_to_bitmap)->trigger();
  ASSERT_TRUE(image->document().is_bitmap());
  EXPECT_TRUE(std::filesystem::exists(dir_ / "photo.bmp"));
  EXPECT_EQ(frame().mdi()->activeSubWindow()->windowTitle(), QStringLiteral("photo.bmp[*]"));
  EXPECT_FALSE(frame().mdi()->activeSubWindow()->isWindowModified());
  EXPECT_FALSE(enabled(image_command::convert_to_bitmap));
  EXPECT_TRUE(enabled(image_command::grey_scale));
  EXPECT_EQ(image->view()->picture_size(), QSize(40, 30));

  frame().image_action(image_command::grey_scale)->trigger();
  EXPECT_TRUE(frame().mdi()->activeSubWindow()->isWindowModified());
  const QColor grey = image->view()->rendered().pixelColor(20, 15);
  EXPECT_TRUE(grey.red() == grey.green() && grey.green() == grey.blue()) << grey.name().toStdString();
  const std::string converted = read_file(dir_ / "photo.bmp");
  next_box save;
  save.answer(QStringLiteral("Si"));
  frame().action(QStringLiteral("Salva"))->trigger();
  ASSERT_TRUE(save.seen);
  EXPECT_EQ(save.title, QString::fromStdString("Save file - " + (dir_ / "photo.bmp").string()));
  EXPECT_NE(read_file(dir_ / "photo.bmp"), converted) << "the grey picture is written over the file";
  EXPECT_FALSE(frame().mdi()->activeSubWindow()->isWindowModified());
}

TEST(ResizeDialog, KeepsProportionsUntilUnchecked) {
  ResizeDialog dialog(nullptr, true, {200, 100});
  EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Ridimensione immagine"));
  EXPECT_EQ(dialog.width_box()->value(), 200);
  EXPECT_EQ(dialog.height_box()->value(), 100);
  EXPECT_TRUE(dialog.keep_box()->isChecked());
  EXPECT_EQ(dialog.width_box()->maximum(), 32767);
  dialog.width_box()->setValue(150);
  EXPECT_EQ(dialog.height_box()->value(), 75);
  dialog.height_box()->setValue(33);
  EXPECT_EQ(dialog.width_box()->value(), 66);
  dialog.keep_box()->setChecked(false);
  dialog.width_box()->setValue(10);
  EXPECT_EQ(dialog.height_box()->value(), 33) << "unchecked: the fields are independent";
  EXPECT_EQ(dialog.size(), (imaging::CSize{10, 33}));
}

TEST_F(ImageWindowTest, ResizeWarnsPastThePrintableWidthWithGuideLinesOn) {
  CIMGFrame* image = open(write_bmp("grow.bmp", 24, 100, 50));
  ASSERT_NE(image, nullptr);
  ASSERT_TRUE(frame().connect_to(std::string("TestDevice")));
  probe_->set_number(kRecLineWidthIndex, 150);
  frame().mdi()->setActiveSubWindow(frame().mdi()->subWindowList().back());
  frame().image_action(image_command::rulers)->trigger();
  frame().image_action(image_command::guide_lines)->trigger();
  ASSERT_TRUE(frame().image_action(image_command::guide_lines)->isChecked());

  next_box box;
  box.answer(QStringLiteral("OK"), [](QDialog& dialog) {
    auto* resize = dynamic_cast<ResizeDialog*>(&dialog);
    ASSERT_NE(resize, nullptr);
    resize->width_box()->setValue(400);
  });
  frame().image_action(image_command::resize)->trigger();
  ASSERT_TRUE(box.seen);
  EXPECT_EQ(image->view()->picture_size(), QSize(400, 200));
  EXPECT_EQ(image->top_ruler()->scale().markers[0].position, 400);
  EXPECT_EQ(image->left_ruler()->scale().markers[0].position, 200);
  EXPECT_TRUE(image->document().modified());
  EXPECT_TRUE(output().contains(QStringLiteral("(W) : Attenzione, l'ampiezza dell'immagine supera l'area di definizione di stampa.")))
      << output().toStdString();
}

TEST_F(ImageWindowTest, PrintStoreAndDeleteFollowTheAlignmentButtons) {
  const std::string path = write_bmp("logo.bmp", 1, 64, 32);
  CIMGFrame* image = open(path);
  ASSERT_NE(image, nullptr);
  ASSERT_TRUE(frame().connect_to(std::string("TestDevice")));
  frame().mdi()->setActiveSubWindow(frame().mdi()->subWindowList().back());
  config_.set_int(testbench::kSectionSettings, "CutPaperForPrintImage", 0);
  probe_->take_calls();

  frame().image_action(image_command::align_center)->trigger();
  EXPECT_EQ(frame().bitmap_alignment(), testbench::kBitmapCenter);
  frame().image_action(image_command::print)->trigger();
  std::string calls = probe_->take_calls();
  EXPECT_NE(calls.find("Print image: 'logo.bmp'"), std::string::npos) << calls;
  EXPECT_NE(calls.find("PrintBitmap(2, \"" + path + "\", -11, -2)"), std::string::npos) << calls;
  EXPECT_EQ(calls.find("CutPaper"), std::string::npos) << calls;

  frame().image_action(image_command::align_right)->trigger();
  EXPECT_FALSE(frame().image_action(image_command::align_center)->isChecked()) << "a radio group";
  frame().image_action(image_command::store)->trigger();
  calls = probe_->take_calls();
  EXPECT_NE(calls.find("SetBitmap(1, 2, \"" + path + "\", -11, -3)"), std::string::npos) << calls;
  EXPECT_EQ(config_.get_int(testbench::kSectionPrinter, "ImageStored"), 1);

  next_box box;
  box.answer(QStringLiteral("Chiudi"), [](QDialog& dialog) {
    auto* erase = dynamic_cast<DeleteImagesDialog*>(&dialog);
    ASSERT_NE(erase, nullptr);
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Elimina immagini"));
    EXPECT_TRUE(erase->box(1)->isEnabled());
    EXPECT_FALSE(erase->box(2)->isEnabled());
    erase->box(1)->setChecked(true);
    for (QPushButton* b : dialog.findChildren<QPushButton*>()) {
      if (b->text() == QStringLiteral("Elimina")) b->click();
    }
    EXPECT_FALSE(erase->box(1)->isChecked());
    EXPECT_FALSE(erase->box(1)->isEnabled()) << "a deleted image's box is disabled";
  });
  frame().image_action(image_command::delete_stored)->trigger();
  EXPECT_TRUE(box.seen);
  calls = probe_->take_calls();
  EXPECT_NE(calls.find("SetBitmap(1, 2, \"\", 0, 0)"), std::string::npos) << calls;
  EXPECT_EQ(config_.get_int(testbench::kSectionPrinter, "ImageStored"), 0);
}

TEST_F(ImageWindowTest, EnglishLabels) {
  config_.set_string(testbench::kSectionSettings, "Language", "ENG");
  EXPECT_NE(frame().action(QStringLiteral("Black and white (halftone)")), nullptr);
  EXPECT_NE(frame().action(QStringLiteral("Use the Stucki algorithm")), nullptr);
  EXPECT_EQ(frame().action(QStringLiteral("Bianco e nero")), nullptr);
  ResizeDialog dialog(&frame(), false, {10, 10});
  EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Resize image"));
  QTreeWidget* list = frame().image_properties()->list();
  ASSERT_GE(list->topLevelItemCount(), 2);
  EXPECT_EQ(list->topLevelItem(1)->text(0), QStringLiteral("Width"));
}

}  // namespace

int main(int argc, char** argv) {
  // The tests never need a display.
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
