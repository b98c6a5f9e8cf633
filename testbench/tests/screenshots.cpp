// Writes pictures of the test environment, rendered offscreen against a virtual printer:
//   testbench_screenshots OUTPUT_FOLDER
// testbench-connected.png, testbench-script.png, testbench-debugger.png, testbench-output.png,
// testbench-image-before.png and testbench-image-after.png (an image window with rulers and
// guide lines before and after the Stucki halftone).
#include <QAbstractButton>
#include <QApplication>
#include <QAction>
#include <QDockWidget>
#include <QLinearGradient>
#include <QRadialGradient>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPainter>
#include <QTimer>

#include <cstdio>
#include <fstream>

#include "dialogs.h"
#include "image_view.h"
#include "main_frame.h"
#include "monitor/sim.h"
#include "platform/messages.h"
#include "platform/registry.h"
#include "script_view.h"
#include "test_support.h"
#include "testing/harness.h"

namespace dt = devsvc::testing;

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTPUT_FOLDER\n", argv[0]);
    return 2;
  }
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const QString out = QString::fromLocal8Bit(argv[1]);

  // A private registry with the kit's stack and a virtual printer on a sim: port.
  dt::environment env;
  if (!controls_test::register_library(PTRCTL_PATH)) return 1;
  const std::string uri = "sim:" + dt::unique_sim_name();
  dt::set_port("VPRN1", uri);
  dt::printer_key key;
  key.comm_port = "VPRN1";
  key.ini_set = dt::environment::example_metrics().string();
  key.dat_file = dt::environment::example_logo().string();
  dt::write_printer_key(key);
  platform::registry_key device;
  platform::registry_key::open(platform::registry_root::local_machine,
                               "SOFTWARE\\OLEforRetail\\ServiceOPOS\\POSPrinter\\" + key.device_name, device);
  device.set_string("PTRKorvane", key.device_name);
  if (monitor::sim_printer(uri) == nullptr) return 1;

  testbench::settings config(TESTBENCH_DATA_DIR);
  config.apply_first_run();
  testbench_view::CMainFrame frame(config);
  frame.resize(1100, 720);
  frame.show();
  QApplication::processEvents();
  bool ok = frame.connect_to(key.device_name);

  const std::string script = env.registry_dir().string() + "/receipt.oef";
  std::ofstream(script, std::ios::binary)
      << "{{Scontrino}}{{Tecnico}}{{Prova di stampa}}\r\n"
         "' Scontrino di prova\r\n"
         "<ESC|cA><ESC|bC>KORVANE STORE\r\n"
         "<ESC|N>Via Roma 1, Milano\r\n"
         "\r\n"
         "Caffe'                 1.20\r\n"
         "Cornetto               1.50\r\n"
         "' totale in grassetto\r\n"
         "<ESC|bC>TOTALE                 2.70\r\n"
         "<ESC|3lF><ESC|100P>";
  ok = frame.open_document(QString::fromStdString(script)) && ok;
  testbench_view::CPRNView* view = frame.active_script();
  if (view == nullptr) return 1;
  view->document_model().toggle_breakpoint(5);
  frame.mdi()->activeSubWindow()->resize(560, 330);
  frame.mdi()->activeSubWindow()->move(0, 0);

  for (QMdiSubWindow* sub : frame.mdi()->subWindowList()) {
    if (sub->widget() == static_cast<QWidget*>(frame.output_view())) {
      sub->resize(700, 360);
      sub->move(0, 335);
    }
  }
  QApplication::processEvents();
  ok = frame.grab().save(out + QStringLiteral("/testbench-connected.png")) && ok;
  frame.mdi()->setActiveSubWindow(frame.mdi()->subWindowList().back());
  QApplication::processEvents();
  ok = frame.mdi()->activeSubWindow()->grab().save(out + QStringLiteral("/testbench-script.png")) && ok;

  // The debugger: the frame with the "Pos Debug" window over it, taken while the run waits.
  frame.on_debug_shown = [&] {
    QApplication::processEvents();
    QPixmap picture = frame.grab();
    QPainter painter(&picture);
    const QPixmap debug = frame.debug_window()->grab();
    painter.drawPixmap(picture.width() - debug.width() - 40, 120, debug);
    painter.setPen(Qt::darkGray);
    painter.drawRect(picture.width() - debug.width() - 40, 120, debug.width() - 1, debug.height() - 1);
    ok = picture.save(out + QStringLiteral("/testbench-debugger.png")) && ok;
    QTimer::singleShot(0, [&] {
      if (auto* b = frame.debug_window()->findChild<QAbstractButton*>(QStringLiteral("2"))) b->click();
    });
  };
  frame.action(QStringLiteral("Stampa documento"))->trigger();
  QApplication::processEvents();
  frame.on_debug_shown = nullptr;

  // Events in the output window: the cover opens during a print (status events and the
  // failure by its extended code), then an asynchronous print completes.
  vprinter::virtual_printer* printer = monitor::sim_printer(uri);
  printer->inject_fault(vprinter::fault::cover_open);
  testbench::script_document line;
  line.set_text("covered");
  frame.session().print_script(line, "receipt.oef");
  printer->clear_fault(vprinter::fault::cover_open);
  auto& rows = frame.session().properties();
  for (std::size_t i = 0; i < rows.size(); ++i) {
    if (rows[i].name == "AsyncMode") frame.session().write_property(i, "TRUE");
  }
  view->document_model().breakpoints.clear();
  frame.session().print_script(view->sync(), "receipt.oef");
  const std::uint64_t until = platform::tick_count_ms() + 10000;
  while (!QString::fromStdString(frame.session().log().text()).contains(QStringLiteral("<OutputCompleteEvent>")) &&
         platform::tick_count_ms() < until) {
    QApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  for (QMdiSubWindow* sub : frame.mdi()->subWindowList()) {
    if (sub->widget() == static_cast<QWidget*>(frame.output_view())) {
      frame.mdi()->setActiveSubWindow(sub);
      QApplication::processEvents();
      ok = sub->grab().save(out + QStringLiteral("/testbench-output.png")) && ok;
    }
  }
  // An image window: a colour picture wider than the printer's printable width, with rulers and
  // guide lines, before and after the Stucki halftone.
  {
    QImage picture(760, 300, QImage::Format_RGB32);
    QPainter painter(&picture);
    QLinearGradient sky(0, 0, 760, 300);
    sky.setColorAt(0, QColor(40, 110, 200));
    sky.setColorAt(1, QColor(250, 200, 120));
    painter.fillRect(picture.rect(), sky);
    QRadialGradient sun(590, 110, 80);
    sun.setColorAt(0, QColor(255, 250, 200));
    sun.setColorAt(1, QColor(240, 120, 40));
    painter.setBrush(sun);
    painter.setPen(Qt::NoPen);
    painter.drawEllipse(QPoint(590, 110), 80, 80);
    painter.setBrush(QColor(30, 90, 50));
    painter.drawPolygon(QPolygon({QPoint(0, 300), QPoint(180, 150), QPoint(330, 260), QPoint(470, 170),
                                  QPoint(760, 300)}));
    QFont title = painter.font();
    title.setPixelSize(54);
    title.setBold(true);
    painter.setFont(title);
    painter.setPen(Qt::white);
    painter.drawText(QRect(20, 20, 500, 80), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("KORVANE STORE"));
    painter.end();
    const QString image_path = QString::fromStdString(env.registry_dir().string() + "/store.bmp");
    ok = picture.save(image_path, "BMP") && ok;
    ok = frame.open_document(image_path) && ok;
    if (testbench_view::CIMGFrame* image = frame.active_image()) {
      // Room for the whole picture and the band beyond the printable width.
      frame.property_dock()->hide();
      frame.resize(1280, 760);
      QApplication::processEvents();
      frame.mdi()->activeSubWindow()->resize(frame.mdi()->width() - 10, 400);
      frame.mdi()->activeSubWindow()->move(0, 0);
      frame.image_action(testbench::image_command::rulers)->trigger();
      frame.image_action(testbench::image_command::guide_lines)->trigger();
      frame.image_action(testbench::image_command::properties)->trigger();
      QApplication::processEvents();
      ok = image->state().guide_lines() && ok;
      ok = frame.grab().save(out + QStringLiteral("/testbench-image-before.png")) && ok;
      frame.image_action(testbench::image_command::halftone_stucki)->trigger();
      QApplication::processEvents();
      ok = frame.grab().save(out + QStringLiteral("/testbench-image-after.png")) && ok;
      // The halftone stays unsaved; the picture file is left as it was.
      image->document().set_modified(false);
    } else {
      ok = false;
    }
  }

  frame.session().disconnect(false);
  if (!ok) {
    std::fprintf(stderr, "%s: a step failed or the pictures cannot be written to %s\n", argv[0], argv[1]);
    return 1;
  }
  return 0;
}
