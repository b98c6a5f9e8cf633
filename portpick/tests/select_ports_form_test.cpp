// Offscreen tests of the port-selection dialog: its controls and captions, the buttons, and the
// window staying open or closing as the model's answer says.
#include "select_ports_form.h"

#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/fake_system.h"
#include "platform/registry.h"
#include "platform/testing/temp_dir.h"

namespace {

using platform::registry_key;
using platform::registry_root;

constexpr std::uint16_t kVendor = 0x4B52;

class recorded_boxes : public portpick::message_boxes {
 public:
  void critical(const std::string& text) override { shown.push_back("critical: " + text); }
  void warning(const std::string& text) override { shown.push_back("warning: " + text); }
  void information(const std::string& text) override { shown.push_back("information: " + text); }
  std::vector<std::string> shown;
};

std::string answer(const char* name) {
  registry_key key;
  std::string value = "<missing>";
  if (registry_key::open(registry_root::current_user, portpick::kSettingsKey, key) == platform::kErrorSuccess) {
    key.query_string(name, value);
  }
  return value;
}

class SelectPortsFormTest : public ::testing::Test {
 protected:
  SelectPortsFormTest() {
    fake_.set_version("6.1.0-18-amd64", "PRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\n");
    fake_.add_uart(0, 4);
    fake_.add_usb_controller(1, "xHCI Host Controller", "Linux xhci-hcd", "2.00");
  }

  void open(const char* command) {
    form_.reset();  // the window goes before the model it shows
    model_ = std::make_unique<portpick::portpick_model>(system_, boxes_, kVendor);
    ASSERT_TRUE(model_->start(command));
    form_ = std::make_unique<SelectPortsForm>(*model_);
    form_->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form_.get()));
  }

  template <typename T>
  T* child(const char* name) {
    T* found = form_->findChild<T*>(QLatin1String(name));
    EXPECT_NE(found, nullptr) << name;
    return found;
  }

  QStringList comboItems() {
    QStringList items;
    auto* combo = child<QComboBox>("cmbPorteA");
    for (int i = 0; i < combo->count(); ++i) items << combo->itemText(i);
    return items;
  }

  void click(const char* button) { QTest::mouseClick(child<QPushButton>(button), Qt::LeftButton); }

  platform::testing::scoped_registry_dir registry_;
  platform::testing::temp_dir dir_;
  platform::testing::fake_system fake_{dir_.path()};
  platform::system_ports system_{dir_.path()};
  recorded_boxes boxes_;
  std::unique_ptr<portpick::portpick_model> model_;
  std::unique_ptr<SelectPortsForm> form_;
};

TEST_F(SelectPortsFormTest, ShowsTheControlsAndThePortList) {
  open("ABCD101");
  EXPECT_EQ(form_->windowTitle(), QStringLiteral("Select Ports "));
  EXPECT_TRUE(child<QGroupBox>("Frame1")->isVisible());
  EXPECT_EQ(child<QGroupBox>("Frame1")->title(), QStringLiteral("Enabled port for RiveRed"));
  EXPECT_EQ(child<QLabel>("Label1")->text(), QStringLiteral("Select the port used by the RiveRed programs."));
  const struct {
    const char* name;
    const char* caption;
  } buttons[] = {{"Command4", "Next"},
                 {"Command5", "Exit installation"},
                 {"Command3", "Aggiorna"},
                 {"Command2", "Lista"},
                 {"Command1", "Check sistema"}};
  for (const auto& button : buttons) {
    EXPECT_EQ(child<QPushButton>(button.name)->text(), QString::fromUtf8(button.caption)) << button.name;
  }
  EXPECT_EQ(comboItems(), (QStringList{"COM1:", "USB", "LPT1:", "LPT2:", "LPT3:"}));
  EXPECT_EQ(child<QComboBox>("cmbPorteA")->currentText(), QStringLiteral("USB"));
  EXPECT_EQ(child<QListWidget>("List1")->count(), 0);

  // "Aggiorna" shows a port that appeared meanwhile.
  fake_.add_usb_serial("ttyUSB0", "1-2", "FT232R USB UART", "ftdi_sio");
  click("Command3");
  EXPECT_EQ(comboItems(), (QStringList{"COM1:", "COM2:", "USB", "LPT1:", "LPT2:", "LPT3:"}));
  EXPECT_EQ(child<QComboBox>("cmbPorteA")->currentText(), QStringLiteral("COM2:"));
}

TEST_F(SelectPortsFormTest, ChoosingAPortAndNextWritesItAndCloses) {
  open("AB101");
  QSignalSpy closing(form_.get(), &SelectPortsForm::closing);
  child<QComboBox>("cmbPorteA")->setCurrentText(QStringLiteral("LPT2:"));
  click("Command4");
  EXPECT_EQ(closing.count(), 1);
  EXPECT_FALSE(form_->isVisible());
  EXPECT_TRUE(form_->answered());
  EXPECT_EQ(answer("Direction"), "N");
  EXPECT_EQ(answer("ApplicationPort"), "LPT2");
  EXPECT_EQ(answer("WinDriverPort"), "LPT2:");
}

TEST_F(SelectPortsFormTest, MissingUsbPrinterKeepsTheDialogUntilItIsConnected) {
  open("ABCD101");
  QSignalSpy closing(form_.get(), &SelectPortsForm::closing);
  click("Command4");  // the shown entry is "USB"
  EXPECT_EQ(boxes_.shown, std::vector<std::string>{"information: " + std::string(portpick::kConnectPrinter)});
  EXPECT_TRUE(form_->isVisible());
  EXPECT_EQ(closing.count(), 0);
  EXPECT_EQ(answer("WinDriverPort"), "USB");

  fake_.add_usb_printer(1, "1-3", kVendor, 101);
  click("Command4");
  EXPECT_EQ(closing.count(), 1);
  EXPECT_EQ(comboItems(), (QStringList{"COM1:", "USB002", "LPT1:", "LPT2:", "LPT3:"}));
  EXPECT_EQ(child<QComboBox>("cmbPorteA")->currentText(), QStringLiteral("USB002"));
  EXPECT_EQ(answer("ApplicationPort"), "USB002");
}

TEST_F(SelectPortsFormTest, ExitInstallationAnswersCAndCloses) {
  open("A101");
  click("Command5");
  EXPECT_FALSE(form_->isVisible());
  EXPECT_TRUE(form_->answered());
  EXPECT_EQ(answer("Direction"), "C");
  EXPECT_EQ(answer("ApplicationPort"), "<missing>");
}

TEST_F(SelectPortsFormTest, CheckSistemaAndListaAddSelectedLines) {
  open("A101");
  auto* list = child<QListWidget>("List1");
  click("Command1");
  ASSERT_EQ(list->count(), 1);
  EXPECT_EQ(list->item(0)->text(), QStringLiteral("6.1.Debian GNU/Linux 12 (bookworm)  6.1.0-18-amd64    6"));
  EXPECT_EQ(list->currentRow(), 0);
  click("Command2");
  ASSERT_EQ(list->count(), static_cast<int>(model_->information().size()));
  EXPECT_EQ(list->item(1)->text(), QStringLiteral("Descrizione del PC : LOCALE"));
  EXPECT_EQ(list->item(3)->text(), QStringLiteral("  DeviceID    :COM1"));
  EXPECT_EQ(list->currentRow(), list->count() - 1);
  EXPECT_EQ(list->currentItem()->text(), QStringLiteral("  USBVersion  :2.00"));
}

}  // namespace

int main(int argc, char** argv) {
  // The tests never need a display.
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
