// Writes a picture of the port-selection dialog, rendered offscreen on a made-up machine (two
// serial ports, a USB adapter, a USB printer) after "Check sistema" and "Lista":
//   portpick_screenshots <output folder>
#include <QApplication>
#include <QComboBox>
#include <QListWidget>
#include <QPushButton>

#include <cstdio>

#include "platform/fake_system.h"
#include "platform/testing/temp_dir.h"
#include "select_ports_form.h"

namespace {

// Message boxes nobody sees: the screenshot answers nothing.
class silent_boxes : public portpick::message_boxes {
 public:
  void critical(const std::string&) override {}
  void warning(const std::string&) override {}
  void information(const std::string&) override {}
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTPUT_FOLDER\n", argv[0]);
    return 2;
  }
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);

  const platform::testing::temp_dir dir;
  platform::testing::fake_system machine(dir.path());
  machine.set_version("6.1.0-18-amd64", "PRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\n");
  machine.add_uart(0, 4);
  machine.add_uart(1, 4);
  machine.add_usb_serial("ttyUSB0", "1-2", "FT232R USB UART", "ftdi_sio");
  machine.add_usb_controller(1, "xHCI Host Controller", "Linux 6.1.0-18-amd64 xhci-hcd", "2.00");
  machine.add_usb_controller(2, "xHCI Host Controller", "Linux 6.1.0-18-amd64 xhci-hcd", "3.00");
  machine.add_usb_hub("1-1", "USB2.0 Hub", "2.10");
  machine.add_usb_printer(0, "1-3", portpick::kMakerVendorId, 101);

  const platform::system_ports ports(dir.path());
  silent_boxes boxes;
  portpick::portpick_model model(ports, boxes);
  if (!model.start("ABCD101")) return 1;
  SelectPortsForm form(model);
  form.show();
  form.findChild<QPushButton*>(QStringLiteral("Command1"))->click();
  form.findChild<QPushButton*>(QStringLiteral("Command2"))->click();
  // The top of the information list, as after scrolling back to the start.
  form.findChild<QListWidget*>(QStringLiteral("List1"))->scrollToTop();
  QApplication::processEvents();

  const QString out = QString::fromLocal8Bit(argv[1]) + QStringLiteral("/portpick.png");
  if (!form.grab().save(out)) {
    std::fprintf(stderr, "%s: cannot write %s\n", argv[0], out.toLocal8Bit().constData());
    return 1;
  }
  return 0;
}
